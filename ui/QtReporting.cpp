#include "QtReporting.h"

#include <algorithm>

void TStatusPanelView::SetText(const std::string& text) {
    if (!panel_) return;
    panel_->setText(QString::fromStdString(text));
    panel_->repaint();
}

std::string TStatusPanelView::Text() const { return panel_ ? panel_->text().toStdString() : std::string(); }

void TProgressBarView::SetPosition(int position) {
    if (!bar_) return;
    bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum()));
    bar_->repaint();
}

int TProgressBarView::Position() const { return bar_ ? bar_->value() : 0; }

void TProgressBarView::SetVisible(bool visible) {
    if (bar_) bar_->setVisible(visible);
}

bool TProgressBarView::Visible() const { return bar_ && !bar_->isHidden(); }
