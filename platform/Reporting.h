// What the engines report into: the window's progress bar, a status-bar
// panel, the event-log list, and the pump of pending window messages. The
// windows implement these with their controls; tests and benchmarks use the
// recorders of Recorders.h.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace platform {

class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual void SetPosition(int position) = 0;  // 0 to 100
    virtual int Position() const = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
};

class IStatusPanel {
public:
    virtual ~IStatusPanel() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual std::string Text() const = 0;
};

// One row of an event-log list view: caption, image index, one sub-item.
class IEventLog {
public:
    virtual ~IEventLog() = default;
    virtual void AddRow(const std::string& caption, int imageIndex, const std::string& subItem) = 0;
};

// Passes rows on to another log and counts them: a caller can tell whether
// a routine said anything about what it did.
class TCountingEventLog : public IEventLog {
public:
    explicit TCountingEventLog(IEventLog* log) : log_(log) {}
    void AddRow(const std::string& caption, int imageIndex, const std::string& subItem) override {
        ++rows_;
        if (log_) log_->AddRow(caption, imageIndex, subItem);
    }
    int Rows() const { return rows_; }

private:
    IEventLog* log_;
    int rows_ = 0;
};

// "Process pending messages". The engines call it in every pass of their
// loops, some once per sector; it hands control to the installed pump only
// when the interval has passed since the pump last ran, so the calls cost
// next to nothing while the window stays responsive.
void ProcessMessages();
// Called by the device layer after every read of a drive, so that the
// pump's stride between clock reads never spans a device read.
void NoteDeviceRead();
// For a loop that waits (for a writer, a device) between its calls: the
// clock is looked at now, whatever stride a fast loop before it left, so
// the pump runs as soon as its interval has passed.
void ProcessMessagesAfterWait();
// Installs the pump (the window toolkit's event processing) and the least
// time between two runs of it. An empty function removes it.
void SetMessagePump(std::function<void()> pump,
                    std::chrono::milliseconds interval = std::chrono::milliseconds(15));
// The clock the pump reads; tests put a clock of their own in its place
// (nullptr: the steady clock again).
void SetMessagePumpClock(std::chrono::steady_clock::time_point (*now)());

}  // namespace platform
