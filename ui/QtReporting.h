// The window controls the engines report into: a status-bar panel and a
// progress bar. The engines run on the window thread and the pump lets the
// toolkit run only now and then, so a change is painted at once; but not
// more often than the pump runs: a change within that time is painted by
// the next pass of the event loop, so that a scan that reports thousands of
// times does not spend its time painting.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>

#include "Reporting.h"

class TStatusPanelView : public platform::IStatusPanel {
public:
    explicit TStatusPanelView(QLabel* panel) : panel_(panel) {}
    void SetText(const std::string& text) override;
    std::string Text() const override;

private:
    QPointer<QLabel> panel_;
    QElapsedTimer painted_;
};

class TProgressBarView : public platform::IProgressBar {
public:
    explicit TProgressBarView(QProgressBar* bar) : bar_(bar) {}
    void SetPosition(int position) override;
    int Position() const override;
    void SetVisible(bool visible) override;
    bool Visible() const override;

private:
    QPointer<QProgressBar> bar_;
    QElapsedTimer painted_;
};
