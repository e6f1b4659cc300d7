#include "QtReporting.h"

#include <algorithm>

namespace {

// A repaint goes through to the screen at once, which costs far more than
// the engines' step between two calls: only a change is painted, and a
// change sooner than the pump's interval after the last paint waits for the
// next pass of the event loop.
constexpr qint64 kPaintIntervalMs = 15;

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

void TProgressBarView::SetPosition(int position) {
    if (!bar_) return;
    const int value = std::clamp(position, bar_->minimum(), bar_->maximum());
    if (bar_->value() == value) return;
    bar_->setValue(value);
    Paint(bar_, painted_);
}

int TProgressBarView::Position() const { return bar_ ? bar_->value() : 0; }

void TProgressBarView::SetVisible(bool visible) {
    if (bar_) bar_->setVisible(visible);
}

bool TProgressBarView::Visible() const { return bar_ && !bar_->isHidden(); }
