#include "HtmlHelp.h"

#include <QAction>
#include <algorithm>
#include <QPointer>
#include <QToolBar>
#include <QUrl>
#include <vector>

#include <chm_lib.h>

#include "System.h"

namespace ui {

namespace {

constexpr const char* kFirstPage = "/Vantrel.htm";
// A help page is a few KiB; anything far larger is not one of ours.
constexpr LONGUINT64 kMaxObjectBytes = 16u << 20;

QString ObjectPath(const QUrl& url) {
    QString path = url.path();
    if (!path.startsWith(QLatin1Char('/'))) path.prepend(QLatin1Char('/'));
    return path;
}

}  // namespace

TChmFile::TChmFile(const std::string& path) : file_(chm_open(path.c_str())) {}

TChmFile::~TChmFile() {
    if (file_) chm_close(file_);
}

bool TChmFile::Read(const QString& objectPath, QByteArray& out) const {
    if (!file_) return false;
    chmUnitInfo unit{};
    const QByteArray name = objectPath.toUtf8();
    if (chm_resolve_object(file_, name.constData(), &unit) != CHM_RESOLVE_SUCCESS) return false;
    if (unit.length > kMaxObjectBytes) return false;
    out.resize(static_cast<qsizetype>(unit.length));
    if (unit.length == 0) return true;
    const LONGINT64 got = chm_retrieve_object(file_, &unit, reinterpret_cast<unsigned char*>(out.data()), 0,
                                              static_cast<LONGINT64>(unit.length));
    if (got <= 0) return false;
    out.resize(static_cast<qsizetype>(got));
    return true;
}

QString TChmFile::DefaultTopic() const {
    QByteArray probe;
    if (Read(QString::fromLatin1(kFirstPage), probe)) return QString::fromLatin1(kFirstPage);
    // Another help file: its first page by name.
    std::vector<std::string> pages;
    if (file_)
        chm_enumerate(
            file_, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
            [](chmFile*, chmUnitInfo* unit, void* context) -> int {
                std::string p(unit->path);
                if (p.size() > 4 && (p.ends_with(".htm") || p.ends_with(".html")))
                    static_cast<std::vector<std::string>*>(context)->push_back(p);
                return CHM_ENUMERATOR_CONTINUE;
            },
            &pages);
    if (pages.empty()) return QString();
    std::sort(pages.begin(), pages.end());
    return QString::fromStdString(pages.front());
}

TChmBrowser::TChmBrowser(std::shared_ptr<TChmFile> file, QWidget* parent)
    : QTextBrowser(parent), file_(std::move(file)) {
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.isRelative() || url.scheme().isEmpty()) {
            setSource(url);
        } else {
            // Web and mail links leave the help for the desktop's opener.
            platform::ShellOpen(url.toString().toStdString());
        }
    });
}

QVariant TChmBrowser::loadResource(int type, const QUrl& name) {
    if (!name.scheme().isEmpty()) return QTextBrowser::loadResource(type, name);
    QByteArray bytes;
    if (!file_->Read(ObjectPath(name), bytes)) return QVariant();
    if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource)
        return QString::fromUtf8(bytes);
    return bytes;
}

THelpViewer::THelpViewer(std::shared_ptr<TChmFile> file, const QString& path, QWidget* owner)
    : QMainWindow(owner, Qt::Window), file_(std::move(file)), path_(path) {
    setAttribute(Qt::WA_DeleteOnClose);
    // The help stays open on its own, like the system's help viewer, but it
    // does not keep the program running once the launcher has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Vantrel Help"));
    browser_ = new TChmBrowser(file_, this);
    setCentralWidget(browser_);
    QToolBar* bar = addToolBar(QStringLiteral("Help"));
    bar->setMovable(false);
    QAction* contents = bar->addAction(QIcon::fromTheme(QStringLiteral("go-home")), QStringLiteral("Contents"));
    QAction* back = bar->addAction(QIcon::fromTheme(QStringLiteral("go-previous")), QStringLiteral("Back"));
    QAction* forward = bar->addAction(QIcon::fromTheme(QStringLiteral("go-next")), QStringLiteral("Forward"));
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(contents, &QAction::triggered, this, [this] { ShowTopic(QString()); });
    connect(back, &QAction::triggered, browser_, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this,
            [this] { setWindowTitle(QStringLiteral("Vantrel Help - ") + browser_->documentTitle()); });
    resize(720, 560);
}

void THelpViewer::ShowTopic(const QString& topic) {
    QString page = topic.isEmpty() ? file_->DefaultTopic() : topic;
    if (!page.startsWith(QLatin1Char('/'))) page.prepend(QLatin1Char('/'));
    browser_->setSource(QUrl(page.mid(1)));
}

THelpViewer* HtmlHelp(QWidget* owner, const std::string& chmPath, const std::string& topic) {
    static QPointer<THelpViewer> current;
    const QString path = QString::fromStdString(chmPath);
    if (!current || current->FilePath() != path || current->parentWidget() != owner) {
        auto file = std::make_shared<TChmFile>(chmPath);
        if (!file->Valid()) return nullptr;
        if (current) current->close();
        current = new THelpViewer(std::move(file), path, owner);
    }
    current->ShowTopic(QString::fromStdString(topic));
    current->show();
    current->raise();
    current->activateWindow();
    return current;
}

}  // namespace ui
