// Helpers of the window tests: modal windows driven by timers, always
// closed in the end.
#pragma once

#include <QAction>
#include <QApplication>
#include <QTreeView>
#include <QTreeWidget>
#include <QMenu>
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

// A user's clicks as the window system delivers them. RightClick goes
// through the top-level window, so the press is followed by the
// context-menu event as on a desktop.
void RightClick(QWidget* widget, QPoint pos);
void ClickNode(QTreeWidget* tree, QTreeWidgetItem* node, Qt::MouseButton button = Qt::LeftButton);
// Clicks a row of a list (the first column), with modifiers (Ctrl adds it
// to the selection).
void ClickRow(QTreeView* list, int row, Qt::KeyboardModifiers modifiers = {});
// A double click on a row of a list, as a user opens a folder row.
void DoubleClickRow(QTreeView* list, int row);
void ClickHeader(QTreeView* list, int column);
// Clicks the item of the popup menu that is open; false when none is open
// or the item is not in it.
bool ChoosePopupItem(QAction* item);
// Presses a key in the popup menu that is open.
bool PressInPopup(int key);
// Clicks the toolbar button of a QAction (the button made for it).
bool ClickToolButton(QWidget* window, QAction* button);

// Opens the menu over the window and moves the mouse over each of its items
// in turn, as a user reading them; the menu stays open. False when it does
// not come up.
bool HoverMenuItems(QMenu* menu, QWidget* window);

}  // namespace vt::uitest
