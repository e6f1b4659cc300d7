#include "Recorders.h"

#include <cstdio>

namespace platform {

namespace {

int StderrMessageBox(const char* text, const char* caption, win::UINT type) {
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    return (type & win::MB_TYPEMASK) == win::MB_YESNO ? win::IDNO : win::IDOK;
}

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler = StderrMessageBox;
    return handler;
}

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = Handler();
    Handler() = handler ? std::move(handler) : MessageBoxHandler(StderrMessageBox);
    return previous;
}

void RecordingProgressBar::SetPosition(int position) {
    position_ = position;
    positions.push_back(position);
}

void RecordingProgressBar::SetVisible(bool visible) {
    visible_ = visible;
    visibility.push_back(visible);
}

void RecordingStatusPanel::SetText(const std::string& text) {
    text_ = text;
    texts.push_back(text);
}

void RecordingEventLog::AddRow(const std::string& caption, int imageIndex, const std::string& subItem) {
    rows.push_back({caption, imageIndex, subItem});
}

MessageBoxRecorder::MessageBoxRecorder() {
    previous_ = SetMessageBoxHandler([this](const char* text, const char* caption, win::UINT type) {
        MessageBoxCall call{text ? text : "", caption ? caption : "", type};
        calls.push_back(call);
        if (onShow) onShow(call);
        if (!answers.empty()) {
            int a = answers.front();
            answers.pop_front();
            return a;
        }
        return defaultAnswer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() { SetMessageBoxHandler(previous_); }

}  // namespace platform

namespace win {

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
    // Copy first: a handler may replace itself while it runs.
    platform::MessageBoxHandler handler = platform::SetMessageBoxHandler(nullptr);
    platform::SetMessageBoxHandler(handler);
    return handler(text, caption, type);
}

}  // namespace win
