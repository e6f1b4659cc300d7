#include "KeyPreview.h"

#include <QApplication>
#include <QChildEvent>
#include <QKeyEvent>

namespace ui {

TKeyPreview::TKeyPreview(QWidget* form, Handler handler) : QObject(form), form_(form), handler_(std::move(handler)) {
    Watch(form);
}

void TKeyPreview::Watch(QObject* o) {
    o->installEventFilter(this);
    for (QObject* child : o->children())
        if (child->isWidgetType()) Watch(child);
}

bool TKeyPreview::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(e)->child();
        if (child->isWidgetType()) Watch(child);
    } else if (e->type() == QEvent::KeyPress) {
        // A key goes to the focused control first, then up through its
        // parents while they ignore it; the form looks at it once, first.
        QWidget* first = QApplication::focusWidget();
        if (!first || (first != form_ && !form_->isAncestorOf(first))) first = form_;
        if (watched == first && handler_ && handler_(static_cast<QKeyEvent*>(e))) return true;
    }
    return QObject::eventFilter(watched, e);
}

}  // namespace ui
