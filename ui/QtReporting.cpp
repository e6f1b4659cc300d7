#include "QtReporting.h"

#include <algorithm>

// A repaint goes through to the screen at once, which costs far more than
// the engines' step between two calls: only a change is painted.
void TStatusPanelView::SetText(const std::string& text) {
    if (!panel_) return;
    const QString t = QString::fromStdString(text);
    if (panel_->text() == t) return;
    panel_->setText(t);
    panel_->repaint();
}

std::string TStatusPanelView::Text() const { return panel_ ? panel_->text().toStdString() : std::string(); }

void TProgressBarView::SetPosition(int position) {
    if (!bar_) return;
    const int value = std::clamp(position, bar_->minimum(), bar_->maximum());
    if (bar_->value() == value) return;
    bar_->setValue(value);
    bar_->repaint();
}

int TProgressBarView::Position() const { return bar_ ? bar_->value() : 0; }

void TProgressBarView::SetVisible(bool visible) {
    if (bar_) bar_->setVisible(visible);
}

bool TProgressBarView::Visible() const { return bar_ && !bar_->isHidden(); }
