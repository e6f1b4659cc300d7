#include "LabelEx.h"

#include <QMouseEvent>

TLabelEx::TLabelEx(QWidget* parent) : QLabel(parent), FActiveColor(Qt::blue) {
    FNormalColor = FontColor();
}

QColor TLabelEx::FontColor() const { return palette().color(QPalette::WindowText); }

void TLabelEx::SetFontColor(const QColor& c) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, c);
    setPalette(pal);
}

void TLabelEx::Loaded() { FNormalColor = FontColor(); }

void TLabelEx::CMMouseEnter() {
    SetFontColor(FActiveColor);
    if (OnMouseEnter) OnMouseEnter(this);
}

void TLabelEx::CMMouseLeave() {
    SetFontColor(FNormalColor);
    if (OnMouseLeave) OnMouseLeave(this);
}

void TLabelEx::enterEvent(QEnterEvent* e) {
    QLabel::enterEvent(e);
    CMMouseEnter();
}

void TLabelEx::leaveEvent(QEvent* e) {
    QLabel::leaveEvent(e);
    CMMouseLeave();
}

void TLabelEx::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit Click();
}
