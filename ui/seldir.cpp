#include "seldir.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <cerrno>
#include <sys/statvfs.h>

#include "Colors.h"
#include "KeyPreview.h"
#include "TargetFolder.h"
#include "WinApi.h"

namespace {

void Box(const QString& text, const char* caption, win::UINT type) {
    win::MessageBoxA(nullptr, text.toUtf8().constData(), caption, win::MB_OK | type);
}

}  // namespace

namespace ui {

QString ParentFolderText(const QString& text) {
    if (text.isEmpty()) return text;
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    QString result = slash < 0 ? QString() : text.left(slash);
    while (result.endsWith(QLatin1Char('/'))) result.chop(1);
    // "/data" and "/" keep the root, as a bare drive name keeps its root.
    if (result.isEmpty() && text.startsWith(QLatin1Char('/'))) result = QStringLiteral("/");
    return result;
}

bool FolderReachable(const QString& path) {
    if (!path.startsWith(QLatin1Char('/'))) return false;
    // The nearest folder that exists on the way up: its file system is the
    // one the target lies on. A mount that no longer answers (a lost network
    // share, a removed medium) fails the query with an error other than
    // "no such file".
    QString probe = QDir::cleanPath(path);
    for (;;) {
        struct statvfs st {};
        const QByteArray native = QFile::encodeName(probe);
        if (statvfs(native.constData(), &st) == 0) return true;
        if (errno != ENOENT && errno != ENOTDIR) return false;
        if (probe == QLatin1String("/")) return false;
        probe = ParentFolderText(probe);
    }
}

}  // namespace ui

TfrmSelDir::TfrmSelDir(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmSelDir"));
    setWindowTitle(QStringLiteral("Select Directory"));
    setFixedSize(395, 153);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ui::FromColorRef(0xD8E9EC));
    setPalette(pal);
    setAutoFillBackground(true);

    auto* prompt = new QLabel(QStringLiteral("Recovered files will be saved in this directory:"), this);
    prompt->move(12, 10);
    prompt->adjustSize();

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(12, 32, 24, 23);
    SpeedButton1->setAutoRaise(true);
    QIcon up = QIcon::fromTheme(QStringLiteral("go-up"));
    SpeedButton1->setIcon(up.isNull() ? style()->standardIcon(QStyle::SP_FileDialogToParent) : up);
    SpeedButton1->setToolTip(QStringLiteral("Up"));

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(40, 32, 262, 23);

    Button1 = new QPushButton(QStringLiteral("Browse"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(308, 31, 75, 25);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(12, 64, 371, 2);

    const char* warnings[] = {"Warning: The deleted data in current ", "drive might be overwritten if you save",
                              "files into this drive."};
    int y = 72;
    for (const char* w : warnings) {
        auto* label = new QLabel(QString::fromLatin1(w), this);
        label->move(12, y);
        label->adjustSize();
        y += 16;
    }

    Button2 = new QPushButton(QStringLiteral("OK"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(232, 120, 72, 25);
    Button3 = new QPushButton(QStringLiteral("Cancel"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(311, 120, 72, 25);

    connect(Button1, &QPushButton::clicked, this, &TfrmSelDir::Button1Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TfrmSelDir::SpeedButton1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
    new ui::TKeyPreview(this, [this](QKeyEvent* key) {
        if (FormKeyDown(key)) return true;
        return QApplication::focusWidget() == Edit1 && Edit1KeyDown(key);
    });
    Edit1->setFocus();

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool TfrmSelDir::FormKeyDown(QKeyEvent* key) {
    if (key->key() != Qt::Key_Escape) return false;
    reject();
    return true;
}

bool TfrmSelDir::Edit1KeyDown(QKeyEvent* key) {
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if (!Edit1->text().trimmed().isEmpty()) accept();
    return true;
}

void TfrmSelDir::Button1Click() {
    const QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("选择目录"), start);
    if (!dir.isEmpty()) Edit1->setText(dir);
}

void TfrmSelDir::SpeedButton1Click() { Edit1->setText(ui::ParentFolderText(Edit1->text())); }

bool TfrmSelDir::FormClose() {
    TargetDir = Edit1->text();
    if (TargetDir.trimmed().isEmpty()) return false;
    if (!ui::FolderReachable(TargetDir)) {
        Box(QStringLiteral("无法打开目录，获取驱动器未就绪。"), "Warning", win::MB_ICONWARNING);
        return false;
    }
    // A link that the user picks is followed now, while it is the user's
    // choice: the recovery opens the folder it leads to and never takes
    // the target folder itself through a link, which someone else could
    // have put there meanwhile.
    const QFileInfo chosen(QDir::cleanPath(TargetDir));
    if (chosen.isSymLink() && chosen.isDir()) TargetDir = chosen.canonicalFilePath();
    const QFileInfo info(TargetDir);
    if (info.exists() && !info.isDir()) {
        Box(QStringLiteral("文件 '") + TargetDir + QStringLiteral("' 已存在, 请选择其它目录。"), "Error",
            win::MB_ICONERROR);
        return false;
    }
    if (!info.exists()) {
        // One level only: the parent folder must be there already.
        if (vt::TargetFolder::CreateChosen(QFile::encodeName(TargetDir).toStdString()) != 0) {
            Box(QStringLiteral("无效目录名."), "Error", win::MB_ICONERROR);
            return false;
        }
    }
    return true;
}

void TfrmSelDir::done(int r) {
    if (r == QDialog::Accepted) {
        if (!FormClose()) return;
        emit TargetChosen(TargetDir);
    }
    QDialog::done(r);
}

bool SelectTargetDir(std::string& dir) {
    auto* dialog = new TfrmSelDir(nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QString chosen;
    QObject::connect(dialog, &TfrmSelDir::TargetChosen, [&chosen](const QString& d) { chosen = d; });
    const int result = dialog->exec();
    if (result != QDialog::Accepted) return false;
    dir = chosen.toStdString();
    return true;
}
