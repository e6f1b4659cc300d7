#include "WindowFactory.h"

#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <map>

namespace ui {

namespace {

std::map<TTool, TWindowMaker>& Makers() {
    static std::map<TTool, TWindowMaker> makers;
    return makers;
}

// Ends the local loop when the window is hidden by a close; a spontaneous
// hide (the window manager minimising it) does not count.
class TCloseWatcher : public QObject {
public:
    TCloseWatcher(QWidget* w, QEventLoop* loop) : loop_(loop) { w->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if ((e->type() == QEvent::Hide && !e->spontaneous()) || e->type() == QEvent::Destroy) loop_->quit();
        return QObject::eventFilter(watched, e);
    }

private:
    QEventLoop* loop_;
};

}  // namespace

void RegisterToolWindow(TTool tool, TWindowMaker maker) {
    if (maker) Makers()[tool] = std::move(maker);
    else Makers().erase(tool);
}

bool HasToolWindow(TTool tool) { return Makers().count(tool) != 0; }

std::unique_ptr<QWidget> CreateToolWindow(TTool tool) {
    auto it = Makers().find(tool);
    return it == Makers().end() ? nullptr : it->second();
}

int ShowModal(QWidget& window) {
    if (auto* dialog = qobject_cast<QDialog*>(&window)) return dialog->exec();
    window.setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    TCloseWatcher watcher(&window, &loop);
    QPointer<QWidget> guard(&window);
    window.show();
    if (guard && guard->isVisible()) loop.exec(QEventLoop::DialogExec);
    return 0;
}

void RunModal(std::unique_ptr<QWidget> window) {
    if (!window) return;
    ShowModal(*window);
}

}  // namespace ui
