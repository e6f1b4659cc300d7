// The launcher: the main window. Its buttons open the three tools as modal
// windows, the help file, the web site and the about box.
#pragma once

#include <QLabel>
#include <QToolButton>
#include <QWidget>

class TfrmVtMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmVtMain(QWidget* parent = nullptr);

    QLabel* Image1;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    QToolButton* SpeedButton6;
    QToolButton* SpeedButton7;

    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton6Click();
    void SpeedButton7Click();

private:
    QToolButton* AddTool(int left, int top, const QStringList& icons, const QString& title,
                         const QStringList& description);
};

// The application's main form.
extern TfrmVtMain* frmVtMain;
