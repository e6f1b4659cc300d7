// A label that takes another colour while the mouse is over it: the links
// of the about box.
#pragma once

#include <QColor>
#include <QLabel>
#include <functional>

class TLabelEx : public QLabel {
    Q_OBJECT
public:
    explicit TLabelEx(QWidget* parent = nullptr);
    // The window calls it once its layout has set the label's font colour:
    // that colour is the one the label returns to when the mouse leaves.
    void Loaded();

    QColor ActiveColor() const { return FActiveColor; }
    void SetActiveColor(const QColor& c) { FActiveColor = c; }
    QColor FontColor() const;
    void SetFontColor(const QColor& c);

    std::function<void(TLabelEx* sender)> OnMouseEnter;
    std::function<void(TLabelEx* sender)> OnMouseLeave;

    QColor FActiveColor;
    QColor FNormalColor;

signals:
    void Click();

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void CMMouseEnter();
    void CMMouseLeave();
};
