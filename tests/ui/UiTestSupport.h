// Helpers of the window tests: modal windows driven by timers, always
// closed in the end.
#pragma once

#include <QApplication>
#include <QWidget>
#include <functional>
#include <vector>

namespace vt::uitest {

// Runs the steps one after the other, each on the modal window then on top
// (the step's argument), a few milliseconds apart, once the modal loop is
// running; a window still open after the last step, or after the guard
// time, is closed (rejected).
class ModalDriver : public QObject {
public:
    using Step = std::function<void(QWidget* modal)>;
    explicit ModalDriver(std::vector<Step> steps, int guardMs = 10000);
    ~ModalDriver() override;
    int StepsRun() const { return run_; }

private:
    void Next();
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    int run_ = 0;
};

// Closes every modal window that is open (test clean-up).
void CloseModalWindows();

// Gives the client area of a widget the size asked for, whatever its frame.
void SetViewportSize(QWidget* outer, QWidget* viewport, int w, int h);

}  // namespace vt::uitest
