// The target-folder dialog of both recovery windows.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <string>

class TfrmSelDir : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelDir(QWidget* parent = nullptr);

    QLineEdit* Edit1;
    QToolButton* SpeedButton1;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QString TargetDir;

    void Button1Click();
    void SpeedButton1Click();
    bool Edit1KeyDown(QKeyEvent* key);
    bool FormKeyDown(QKeyEvent* key);
    // The checks of a close with the result OK; false keeps the dialog open.
    bool FormClose();

    void done(int r) override;

signals:
    void TargetChosen(const QString& dir);
};

// Shows the dialog modally; true and the folder when the user confirms. The
// dialog frees itself when it closes.
bool SelectTargetDir(std::string& dir);

namespace ui {

// The parent-folder button's rule: the text before its last "/", without
// trailing "/"; the root when nothing is left of an absolute path.
QString ParentFolderText(const QString& text);
// Whether the file system that holds (or would hold) the path can be
// reached: its nearest existing folder answers a file-system query.
bool FolderReachable(const QString& path);

// Both windows' log text for a chosen folder that its path no longer names
// when the batch ends (moved, or swapped for a link or another folder):
// it is not opened.
inline constexpr const char* kFolderNotOpenedText = "目标文件夹已被移动或替换，未打开";

}  // namespace ui
