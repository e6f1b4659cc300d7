// The help: a compiled HTML help file (.chm) read with chmlib and shown in
// a small viewer of our own, at the topic asked for.
#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QTextBrowser>
#include <memory>
#include <string>

struct chmFile;

namespace ui {

// One open help file.
class TChmFile {
public:
    // A file that cannot be opened gives an object that is not Valid.
    explicit TChmFile(const std::string& path);
    ~TChmFile();
    TChmFile(const TChmFile&) = delete;
    TChmFile& operator=(const TChmFile&) = delete;
    bool Valid() const { return file_ != nullptr; }
    // The bytes of an object of the file ("/Smart.htm"); false when absent.
    bool Read(const QString& objectPath, QByteArray& out) const;
    // The page shown when the whole file is opened.
    QString DefaultTopic() const;

private:
    chmFile* file_ = nullptr;
};

class TChmBrowser : public QTextBrowser {
    Q_OBJECT
public:
    TChmBrowser(std::shared_ptr<TChmFile> file, QWidget* parent);
    QVariant loadResource(int type, const QUrl& name) override;

private:
    std::shared_ptr<TChmFile> file_;
};

class THelpViewer : public QMainWindow {
    Q_OBJECT
public:
    THelpViewer(std::shared_ptr<TChmFile> file, const QString& path, QWidget* owner);
    void ShowTopic(const QString& topic);
    const QString& FilePath() const { return path_; }
    TChmBrowser* Browser() const { return browser_; }

private:
    std::shared_ptr<TChmFile> file_;
    QString path_;
    TChmBrowser* browser_;
};

// Shows a topic of a help file ("Smart.htm"), or with an empty topic the
// whole file at its first page, in a viewer owned by the window given (none:
// a window of its own). A file that cannot be opened shows nothing, as the
// help call of Windows does; the viewer shown is returned (null then).
THelpViewer* HtmlHelp(QWidget* owner, const std::string& chmPath, const std::string& topic);

}  // namespace ui
