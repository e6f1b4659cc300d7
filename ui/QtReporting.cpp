#include "QtReporting.h"

#include <algorithm>

namespace {

// The pump's interval: a change sooner than this after the last paint waits
// for the event loop.
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
    panel_->setText(QString::fromStdString(text));
    Paint(panel_, painted_);
}

std::string TStatusPanelView::Text() const { return panel_ ? panel_->text().toStdString() : std::string(); }

void TProgressBarView::SetPosition(int position) {
    if (!bar_) return;
    bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum()));
    Paint(bar_, painted_);
}

int TProgressBarView::Position() const { return bar_ ? bar_->value() : 0; }

void TProgressBarView::SetVisible(bool visible) {
    if (bar_) bar_->setVisible(visible);
}

bool TProgressBarView::Visible() const { return bar_ && !bar_->isHidden(); }
