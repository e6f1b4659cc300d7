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

// Each paint of the bar costs about a millisecond (the style's striped
// chunk is filled by the toolkit's drawing threads, which the window thread
// waits for), while the engines move it up to every 0.1 ms when the sectors
// come from the cache: hundreds of paints per scan, the scan's own time
// again. The bar takes a new value at most once per pump interval, its
// bounds at once; the value held back meanwhile is what Position() tells and
// goes to the bar with the next call after the interval. The bar repaints
// itself when the value changes what it draws.
void TProgressBarView::SetPosition(int position) {
    if (!bar_) return;
    position_ = std::clamp(position, bar_->minimum(), bar_->maximum());
    if (bar_->value() == position_) return;
    const auto now = now_();
    if (shown_ && now - lastShown_ < kShowEvery && position_ != bar_->minimum() &&
        position_ != bar_->maximum())
        return;
    shown_ = true;
    lastShown_ = now;
    bar_->setValue(position_);
}

int TProgressBarView::Position() const { return bar_ ? position_ : 0; }

void TProgressBarView::SetVisible(bool visible) {
    if (bar_) bar_->setVisible(visible);
}

bool TProgressBarView::Visible() const { return bar_ && !bar_->isHidden(); }
