// vantrel-shot NAME: shows the window state NAME and prints "ready" when it
// stands still; vantrel-shot --list prints the names.
#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "QtPlatform.h"
#include "Shots.h"
#include "int13ext.h"

namespace vt::shots {

std::vector<TShot>& Registry() {
    static std::vector<TShot> shots;
    return shots;
}

void WhenModal(std::function<void(QWidget* modal)> fn) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            fn(modal);
        }
    });
    timer->start();
}

void RestOn(QWidget* widget) {
    if (!widget) return;
    // Once the event loop runs: the window made active (tooltips come up
    // over the active window only), then the pointer moved onto the widget.
    QTimer::singleShot(0, widget, [widget] {
        widget->window()->activateWindow();
        QTimer::singleShot(300, widget, [widget] {
            QCursor::setPos(widget->mapToGlobal(widget->rect().center()));
            QTest::mouseMove(widget, widget->rect().center());
        });
    });
}

}  // namespace vt::shots

int main(int argc, char** argv) {
    const std::string arg = argc > 1 ? argv[1] : "";
    if (arg == "--list" || arg.empty()) {
        for (const auto& s : vt::shots::Registry()) std::printf("%s\t%s\n", s.name.c_str(), s.description.c_str());
        return arg.empty() ? 2 : 0;
    }
    QApplication app(argc, argv);
    const QString name = QString::fromStdString(arg);
    ui::UseIconTheme();
    ui::InstallPlatformHooks();
    DiskUtils::Initialize();
    DiskParam::Initialize();
    int13ext::Initialize();
    std::unique_ptr<QWidget> window;
    for (const auto& s : vt::shots::Registry())
        if (QString::fromStdString(s.name) == name) window = s.make();
    if (!window) {
        std::fprintf(stderr, "vantrel-shot: no state named %s\n", argv[1]);
        return 2;
    }
    // No window manager maximises under a bare X server: fill the screen.
    if (window->windowState() & Qt::WindowMaximized)
        if (QScreen* screen = window->screen()) window->setGeometry(screen->availableGeometry());
    // Let layouts and repaints settle (and a tooltip come up over a pointer
    // at rest: RestOn), then say so.
    QTimer::singleShot(2500, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}
