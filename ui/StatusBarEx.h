// A status bar that holds child controls: panels of fixed widths, and
// controls laid over a panel (the recovery windows' progress bar).
#pragma once

#include <QLabel>
#include <QStatusBar>
#include <vector>

class TStatusBarEx : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBarEx(QWidget* parent = nullptr);

    // Adds a panel of the width given (pixels) and returns its index. The
    // last panel is at least that wide and reaches the bar's right edge.
    int AddPanel(int width, const QString& text = QString());
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QLabel* Panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
    // Lays a child control over a panel, at the panel's place and height;
    // width -1 takes the panel's width.
    void PlaceOverPanel(QWidget* child, int panel, int width = -1);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct Overlay {
        QWidget* child;
        int panel;
        int width;
    };
    void PlaceOverlays();
    std::vector<QLabel*> panels_;
    std::vector<Overlay> overlays_;
};
