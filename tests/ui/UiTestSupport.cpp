#include "UiTestSupport.h"

#include <QDialog>
#include <QTimer>

namespace vt::uitest {

ModalDriver::ModalDriver(std::vector<Step> steps, int guardMs) : steps_(std::move(steps)) {
    QTimer::singleShot(20, this, [this] { Next(); });
    QTimer::singleShot(guardMs, this, [] { CloseModalWindows(); });
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::Next() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
        // The modal loop has not started yet (or has ended): look again soon,
        // unless every step has run.
        if (next_ < steps_.size()) QTimer::singleShot(10, this, [this] { Next(); });
        return;
    }
    if (next_ >= steps_.size()) {
        CloseModalWindows();
        return;
    }
    Step step = steps_[next_++];
    ++run_;
    step(modal);
    QTimer::singleShot(10, this, [this] { Next(); });
}

void CloseModalWindows() {
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        else modal->close();
        if (QApplication::activeModalWidget() == modal) modal->hide();
    }
}

void SetViewportSize(QWidget* outer, QWidget* viewport, int w, int h) {
    for (int i = 0; i < 3; ++i) {
        const int dw = outer->width() - viewport->width();
        const int dh = outer->height() - viewport->height();
        outer->resize(w + dw, h + dh);
        QApplication::processEvents();
        if (viewport->width() == w && viewport->height() == h) return;
    }
}

}  // namespace vt::uitest
