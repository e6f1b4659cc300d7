// The about box: picture, product name, version, web-site and mail links.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "KeyPreview.h"
#include "LabelEx.h"

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QLabel* Image2;
    TLabelEx* LabelEx1;
    TLabelEx* LabelEx2;
    QPushButton* Button1;

    void Button1Click();
    void LabelEx1Click();
    void LabelEx2Click();
    // Esc and Enter close the box, wherever the focus is.
    bool FormKeyDown(QKeyEvent* key);
};
