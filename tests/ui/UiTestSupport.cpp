#include "UiTestSupport.h"

#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <QToolBar>
#include <QWindow>
#include <QTimer>

namespace vt::uitest {

ModalDriver::ModalDriver(std::vector<Step> steps, int guardMs) : steps_(std::move(steps)) {
    QTimer::singleShot(20, this, [this] { Next(); });
    QTimer::singleShot(guardMs, this, [] { CloseModalWindows(); });
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::Next() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
        // The modal loop has not started yet (or has ended): look again soon,
        // unless every step has run.
        if (next_ < steps_.size()) QTimer::singleShot(10, this, [this] { Next(); });
        return;
    }
    if (next_ >= steps_.size()) {
        CloseModalWindows();
        return;
    }
    Step step = steps_[next_++];
    ++run_;
    step(modal);
    QTimer::singleShot(10, this, [this] { Next(); });
}

void CloseModalWindows() {
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        else modal->close();
        if (QApplication::activeModalWidget() == modal) modal->hide();
    }
}

void SetViewportSize(QWidget* outer, QWidget* viewport, int w, int h) {
    for (int i = 0; i < 3; ++i) {
        const int dw = outer->width() - viewport->width();
        const int dh = outer->height() - viewport->height();
        outer->resize(w + dw, h + dh);
        QApplication::processEvents();
        if (viewport->width() == w && viewport->height() == h) return;
    }
}

void RightClick(QWidget* widget, QPoint pos) {
    QWidget* top = widget->window();
    QTest::mouseClick(top->windowHandle(), Qt::RightButton, {}, widget->mapTo(top, pos));
    QApplication::processEvents();
}

void ClickNode(QTreeWidget* tree, QTreeWidgetItem* node, Qt::MouseButton button) {
    tree->scrollToItem(node);
    const QPoint at = tree->visualItemRect(node).center();
    if (button == Qt::RightButton) RightClick(tree->viewport(), at);
    else QTest::mouseClick(tree->viewport(), button, {}, at);
}

void ClickRow(QTreeView* list, int row, Qt::KeyboardModifiers modifiers) {
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualRect(index).center());
}

void DoubleClickRow(QTreeView* list, int row) {
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    const QPoint at = list->visualRect(index).center();
    // The press and release of the first click come first, as from a mouse.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void ClickHeader(QTreeView* list, int column) {
    QHeaderView* header = list->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

bool ChoosePopupItem(QAction* item) {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || !item || !menu->actions().contains(item)) return false;
    const QRect r = menu->actionGeometry(item);
    QTest::mouseMove(menu, r.center());
    QTest::mouseClick(menu, Qt::LeftButton, {}, r.center());
    return true;
}

bool PressInPopup(int key) {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return false;
    QTest::keyClick(menu, static_cast<Qt::Key>(key));
    return true;
}

bool ClickToolButton(QWidget* window, QAction* button) {
    for (QToolBar* bar : window->findChildren<QToolBar*>()) {
        if (QWidget* w = bar->widgetForAction(button)) {
            QTest::mouseClick(w, Qt::LeftButton);
            return true;
        }
    }
    return false;
}

bool HoverMenuItems(QMenu* menu, QWidget* window) {
    menu->popup(window->mapToGlobal(QPoint(10, 10)));
    if (!QTest::qWaitForWindowExposed(menu)) return false;
    for (QAction* item : menu->actions())
        if (!item->isSeparator()) QTest::mouseMove(menu, menu->actionGeometry(item).center());
    QCoreApplication::processEvents();
    return true;
}

}  // namespace vt::uitest
