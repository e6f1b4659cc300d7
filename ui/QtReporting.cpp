#include "QtReporting.h"

#include <algorithm>

namespace {

// A repaint goes through to the screen at once, which costs far more than
// the engines' step between two calls: only a change is painted, and a
// change sooner than the pump's interval after the last paint waits for the
// next pass of the event loop.
constexpr qint64 kPaintIntervalMs = TProgressBarView::kShowEvery.count();

void Paint(QWidget* w, QElapsedTimer& painted) {
    if (!painted.isValid() || painted.elapsed() >= kPaintIntervalMs) {
        w->repaint();
        painted.start();
    } else {
        w->update();
    }
}

}  // namespace

void TStatusPanelView::SetText(const std::string& text) {
    if (!panel_) return;
    const QString t = QString::fromStdString(text);
    if (panel_->text() == t) return;
    panel_->setText(t);
    Paint(panel_, painted_);
}

std::string TStatusPanelView::Text() const { return panel_ ? panel_->text().toStdString() : std::string(); }

// The bar repaints itself at once whenever a new value changes what it
// draws, and each paint costs about a millisecond (the style's striped chunk
// is filled by the toolkit's drawing threads, which the window thread waits
// for), while the engines move it up to every 0.1 ms when the sectors come
// from the cache: hundreds of paints per scan, the scan's own time again.
// So the bar takes a new value at most once per pump interval, its bounds
// at once; the value held back meanwhile is what Position() tells and goes
// to the bar with the next call after the interval.
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
