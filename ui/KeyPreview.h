// A form that sees key presses before its controls: the handler runs for
// every key pressed anywhere in the form; returning true consumes the key.
#pragma once

#include <QObject>
#include <QWidget>
#include <functional>

class QKeyEvent;

namespace ui {

class TKeyPreview : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(QKeyEvent*)>;
    // Watches the form and every control in it, also those added later.
    TKeyPreview(QWidget* form, Handler handler);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Watch(QObject* o);
    QWidget* form_;
    Handler handler_;
};

}  // namespace ui
