// The window controls the engines report into: a status-bar panel and a
// progress bar. The engines run on the window thread and the pump lets the
// toolkit run only now and then, so a change is painted at once; but not
// more often than the pump runs, so that a scan that reports thousands of
// times does not spend its time painting: a text within that time is
// painted by the next pass of the event loop, a position waits for the next
// one after it.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>

#include <chrono>

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
    using Clock = std::chrono::steady_clock;
    // As often as the message pump lets the toolkit paint.
    static constexpr std::chrono::milliseconds kShowEvery{15};

    explicit TProgressBarView(QProgressBar* bar, Clock::time_point (*now)() = &Clock::now)
        : bar_(bar), now_(now), position_(bar ? bar->value() : 0) {}
    void SetPosition(int position) override;
    int Position() const override;
    void SetVisible(bool visible) override;
    bool Visible() const override;

private:
    QPointer<QProgressBar> bar_;
    Clock::time_point (*now_)();
    int position_;
    // Whether a value went to the bar yet: "never" is not a time, since the
    // clock counts from boot.
    bool shown_ = false;
    Clock::time_point lastShown_{};
};
