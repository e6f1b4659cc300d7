// Recording implementations of the reporting interfaces and of the message
// box, for tests and for headless runs (benchmarks).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Reporting.h"
#include "WinApi.h"

namespace platform {

class RecordingProgressBar : public IProgressBar {
public:
    void SetPosition(int position) override;
    int Position() const override { return position_; }
    void SetVisible(bool visible) override;
    bool Visible() const override { return visible_; }
    std::vector<int> positions;      // every position set, in order
    std::vector<bool> visibility;    // every visibility change, in order

private:
    int position_ = 0;
    bool visible_ = false;
};

class RecordingStatusPanel : public IStatusPanel {
public:
    void SetText(const std::string& text) override;
    std::string Text() const override { return text_; }
    std::vector<std::string> texts;

private:
    std::string text_;
};

struct LogRow {
    std::string caption;
    int imageIndex = 0;
    std::string time;
};

class RecordingEventLog : public IEventLog {
public:
    void AddRow(const std::string& caption, int imageIndex, const std::string& subItem) override;
    std::vector<LogRow> rows;
};

struct MessageBoxCall {
    std::string text;
    std::string caption;
    win::UINT type = 0;
};

// Installs itself as the message-box handler for its lifetime and records
// every box. Answers come from `answers` in order, then `defaultAnswer`.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    std::vector<MessageBoxCall> calls;
    std::deque<int> answers;
    int defaultAnswer = win::IDOK;
    // Called for every box before it is answered (a test may press Stop).
    std::function<void(const MessageBoxCall&)> onShow;

private:
    std::function<int(const char*, const char*, win::UINT)> previous_;
};

// Message-box handler in force (MessageBoxA calls it).
using MessageBoxHandler = std::function<int(const char* text, const char* caption, win::UINT type)>;
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace platform
