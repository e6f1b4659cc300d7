#include "QtPlatform.h"

#include <QApplication>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "Recorders.h"
#include "Reporting.h"
#include "System.h"

namespace ui {

namespace {

constexpr std::uint32_t kAttrDirectory = 0x10;

struct IconEntry {
    QString name;
    QString fallback;
};

// The image list behind the indexes: icon names in the order first asked.
std::vector<IconEntry>& IconList() {
    static std::vector<IconEntry> list;
    return list;
}
std::mutex g_iconMutex;

// Type name and icon index by lower-case extension ("" for none).
std::unordered_map<std::string, std::pair<std::string, int>>& TypeCache() {
    static std::unordered_map<std::string, std::pair<std::string, int>> cache;
    return cache;
}
std::mutex g_typeMutex;

int IconIndex(const QString& name, const QString& fallback) {
    std::lock_guard<std::mutex> lock(g_iconMutex);
    auto& list = IconList();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].name == name) return static_cast<int>(i);
    list.push_back({name, fallback});
    return static_cast<int>(list.size()) - 1;
}

struct ButtonRow {
    win::UINT type;
    std::vector<std::pair<QMessageBox::StandardButton, int>> buttons;
};

// MB_ button sets and the answer each button gives.
const std::vector<ButtonRow>& ButtonTable() {
    static const std::vector<ButtonRow> table = {
        {0, {{QMessageBox::Ok, win::IDOK}}},
        {1, {{QMessageBox::Ok, win::IDOK}, {QMessageBox::Cancel, win::IDCANCEL}}},
        {2, {{QMessageBox::Abort, 3}, {QMessageBox::Retry, 4}, {QMessageBox::Ignore, 5}}},
        {3, {{QMessageBox::Yes, win::IDYES}, {QMessageBox::No, win::IDNO}, {QMessageBox::Cancel, win::IDCANCEL}}},
        {4, {{QMessageBox::Yes, win::IDYES}, {QMessageBox::No, win::IDNO}}},
        {5, {{QMessageBox::Retry, 4}, {QMessageBox::Cancel, win::IDCANCEL}}},
    };
    return table;
}

QMessageBox::Icon IconFor(win::UINT type) {
    switch (type & win::MB_ICONMASK) {
    case win::MB_ICONERROR: return QMessageBox::Critical;
    case win::MB_ICONQUESTION: return QMessageBox::Question;
    case win::MB_ICONWARNING: return QMessageBox::Warning;
    case win::MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

int ShowMessageBox(const QString& text, const QString& caption, win::UINT type) {
    const auto& table = ButtonTable();
    const win::UINT buttons = type & win::MB_TYPEMASK;
    const ButtonRow* row = &table.front();
    for (const ButtonRow& r : table)
        if (r.type == buttons) row = &r;
    if (!qApp) return row->buttons.front().second;
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    // Windows breaks lines at a carriage return alone too.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(IconFor(type), caption, shown, QMessageBox::NoButton, owner);
    for (const auto& [button, answer] : row->buttons) box.addButton(button);
    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (const auto& [button, answer] : row->buttons)
        if (button == pressed) return answer;
    // Closed without a button (Esc or the close box): Cancel where there is
    // one, else the box's only or last answer, as Windows does.
    for (const auto& [button, answer] : row->buttons)
        if (answer == win::IDCANCEL) return answer;
    return row->buttons.back().second;
}

int ShellTypeFromMime(const std::string& fileName, std::uint32_t attributes, std::string& typeName) {
    static const QMimeDatabase db;
    if (attributes & kAttrDirectory) {
        const QMimeType mime = db.mimeTypeForName(QStringLiteral("inode/directory"));
        typeName = mime.comment().toStdString();
        return IconIndex(mime.iconName(), mime.genericIconName());
    }
    // A file's type goes by its last extension alone, as the shell's does:
    // a list of many thousand found names then asks the database once per
    // extension. The name is usually not there (a found entry), so nothing
    // but the name is looked at.
    const std::size_t dot = fileName.rfind('.');
    const std::size_t slash = fileName.find_last_of("/\\");
    std::string ext;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ext = fileName.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    {
        std::lock_guard<std::mutex> lock(g_typeMutex);
        auto it = TypeCache().find(ext);
        if (it != TypeCache().end()) {
            typeName = it->second.first;
            return it->second.second;
        }
    }
    QMimeType mime = db.mimeTypeForFile(QStringLiteral("file.") + QString::fromStdString(ext), QMimeDatabase::MatchExtension);
    if (ext.empty() || !mime.isValid()) mime = db.mimeTypeForName(QStringLiteral("application/octet-stream"));
    typeName = mime.comment().toStdString();
    const int icon = IconIndex(mime.iconName(), mime.genericIconName());
    std::lock_guard<std::mutex> lock(g_typeMutex);
    TypeCache().emplace(ext, std::make_pair(typeName, icon));
    return icon;
}

QIcon ShellIcon(int index) {
    IconEntry entry;
    {
        std::lock_guard<std::mutex> lock(g_iconMutex);
        const auto& list = IconList();
        if (index < 0 || index >= static_cast<int>(list.size())) return QIcon();
        entry = list[static_cast<std::size_t>(index)];
    }
    QIcon icon = QIcon::fromTheme(entry.name);
    if (icon.isNull()) icon = QIcon::fromTheme(entry.fallback);
    if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    return icon;
}

void InstallPlatformHooks() {
    platform::SetShellTypeProvider(ShellTypeFromMime);
    platform::SetMessageBoxHandler([](const char* text, const char* caption, win::UINT type) {
        // Without a caption Windows titles the box "Error".
        return ShowMessageBox(QString::fromUtf8(text ? text : ""), QString::fromUtf8(caption ? caption : "Error"), type);
    });
    platform::SetMessagePump([] {
        if (qApp) QCoreApplication::processEvents();
    });
}

void RemovePlatformHooks() {
    platform::SetMessagePump({});
    platform::SetMessageBoxHandler(nullptr);
    platform::SetShellTypeProvider({});
}

}  // namespace ui

namespace ui {

void UseIconTheme() {
    // Platforms without a desktop theme (offscreen) search only the
    // resources: add the freedesktop folders of XDG_DATA_DIRS.
    QStringList paths = QIcon::themeSearchPaths();
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty()) dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString icons = dir + QStringLiteral("/icons");
        if (!paths.contains(icons)) paths << icons;
    }
    QIcon::setThemeSearchPaths(paths);
    const QString current = QIcon::themeName();
    if (current.isEmpty() || current == QLatin1String("hicolor")) QIcon::setThemeName(QStringLiteral("Adwaita"));
}

}  // namespace ui
