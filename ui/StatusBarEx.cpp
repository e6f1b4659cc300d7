#include "StatusBarEx.h"

#include <QEvent>

TStatusBarEx::TStatusBarEx(QWidget* parent) : QStatusBar(parent) {}

int TStatusBarEx::AddPanel(int width, const QString& text) {
    // The last panel reaches the bar's right edge, as a status bar's last
    // part does; the ones before it keep their widths.
    if (!panels_.empty()) {
        QLabel* last = panels_.back();
        last->setFixedWidth(last->minimumWidth());
        removeWidget(last);
        addWidget(last);
        last->show();
    }
    auto* label = new QLabel(text, this);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(width);
    label->installEventFilter(this);
    addWidget(label, 1);
    panels_.push_back(label);
    return static_cast<int>(panels_.size()) - 1;
}

void TStatusBarEx::PlaceOverPanel(QWidget* child, int panel, int width) {
    child->setParent(this);
    overlays_.push_back({child, panel, width});
    PlaceOverlays();
}

void TStatusBarEx::PlaceOverlays() {
    for (const Overlay& o : overlays_) {
        if (o.panel < 0 || o.panel >= PanelCount()) continue;
        QRect r = Panel(o.panel)->geometry();
        if (o.width >= 0) r.setWidth(o.width);
        o.child->setGeometry(r);
        o.child->raise();
    }
}

void TStatusBarEx::resizeEvent(QResizeEvent* e) {
    QStatusBar::resizeEvent(e);
    PlaceOverlays();
}

void TStatusBarEx::showEvent(QShowEvent* e) {
    QStatusBar::showEvent(e);
    PlaceOverlays();
}

bool TStatusBarEx::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Move || e->type() == QEvent::Resize) PlaceOverlays();
    return QStatusBar::eventFilter(watched, e);
}
