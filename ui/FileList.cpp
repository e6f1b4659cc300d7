#include "FileList.h"

#include <QDate>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "Colors.h"
#include "DataStruc.h"
#include "DiskParam.h"
#include "QtPlatform.h"
#include "StatusBarEx.h"
#include "filetime.h"

namespace ui {

namespace {

constexpr std::uint32_t kSelectedColor = 0xD0FFFF;  // light yellow
constexpr std::uint32_t kOddRowColor = 0xFFF4F4;    // pale blue
constexpr std::uint32_t kNormalFileAttr = 0x80;
constexpr int kIconSize = 16;

// The sort keys of a list's compare routine, by the window.
struct TSortKeys {
    int textKeys;  // keys 0 .. textKeys-1 compare the column texts
    int size;
    int created;
    int accessed;  // -1: no such key
};
constexpr TSortKeys kStandardKeys{3, 3, 4, -1};
constexpr TSortKeys kAdvancedKeys{2, 2, 3, 4};
constexpr int kImageKey = 10;

// Row pictures by image index: folder or file, and how it is marked.
enum class TMark { None, Deleted, Lost };
struct TRowPicture {
    bool folder;
    TMark mark;
};
constexpr std::array<TRowPicture, 5> kStandardPictures{
    {{true, TMark::None}, {true, TMark::Deleted}, {true, TMark::Lost}, {false, TMark::None}, {false, TMark::Deleted}}};
constexpr std::array<TRowPicture, 2> kAdvancedPictures{{{true, TMark::None}, {false, TMark::None}}};

// The decimal text of V / 100 in its shortest form with the system's
// decimal separator.
QString Hundredths(std::int64_t v) {
    const std::int64_t whole = v / 100;
    const int frac = static_cast<int>(std::llabs(v % 100));
    QString text = (v < 0 && whole == 0) ? QStringLiteral("-0") : QString::number(whole);
    if (frac == 0) return text;
    text += QLocale::system().decimalPoint();
    if (frac % 10 == 0) return text + QString::number(frac / 10);
    return text + QString::number(frac).rightJustified(2, QLatin1Char('0'));
}

// S / D rounded to the nearest whole number, halves to the even one; S >= 0.
std::int64_t RoundHalfEven(std::int64_t s, std::int64_t d) {
    std::int64_t q = s / d;
    const std::int64_t r = s % d;
    if (2 * r > d || (2 * r == d && (q & 1))) ++q;
    return q;
}

QString SizeText(std::int64_t s, const char* mega, const char* kilo) {
    if (s >= 1000000) return Hundredths(RoundHalfEven(s, 10000)) + QLatin1String(mega);
    if (s >= 1000) return Hundredths(RoundHalfEven(s, 10)) + QLatin1String(kilo);
    return QString::number(s);  // whole bytes (a damaged record may hold a negative size)
}

QString FixedTwo(double v) {
    QString text = QString::number(v, 'f', 2);
    return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

// Lower-cases A to Z only and compares code unit by code unit; a prefix
// goes first.
int CompareTexts(const QString& a, const QString& b) {
    const qsizetype n = std::min(a.size(), b.size());
    const QChar* pa = a.constData();
    const QChar* pb = b.constData();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t ca = pa[i].unicode(), cb = pb[i].unicode();
        if (ca >= u'A' && ca <= u'Z') ca = static_cast<char16_t>(ca + 32);
        if (cb >= u'A' && cb <= u'Z') cb = static_cast<char16_t>(cb + 32);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

template <typename T>
int Sign(T a, T b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// The FAT directory entry of a row, when the record kind says FAT and the
// row holds a FAT record.
const TFatDirEntry* FatEntryOf(const TFileRow& row, int recordKind) {
    if (recordKind < 0 || recordKind > 2) return nullptr;
    if (row.Kind == TRowRecord::Fat) return &static_cast<const TMidEntry*>(row.Record)->DirEntry;
    if (row.Kind == TRowRecord::PhysFat) return &static_cast<const TPhysMidEntry*>(row.Record)->DirEntry;
    return nullptr;
}

const tntfsfilerecord* NtfsOf(const TFileRow& row, int recordKind) {
    if (recordKind != 3 || row.Kind != TRowRecord::Ntfs) return nullptr;
    return static_cast<const tntfsfilerecord*>(row.Record);
}

std::int64_t SizeOf(const TFileRow& row, int recordKind) {
    if (const TFatDirEntry* e = FatEntryOf(row, recordKind)) return e->FileSize.get();  // unsigned 32 bits
    if (const tntfsfilerecord* r = NtfsOf(row, recordKind)) return r->DataSize;
    return 0;
}

double FatDate(std::uint16_t date, std::uint16_t time) {
    double v = 0;
    return FatDateTimeToDateTime(date, time, v) ? v : 0;
}

double CreatedOf(const TFileRow& row, int recordKind) {
    if (const TFatDirEntry* e = FatEntryOf(row, recordKind)) return FatDate(e->CrtDate.get(), e->CrtTime.get());
    if (const tntfsfilerecord* r = NtfsOf(row, recordKind)) return FileTimeToDateTime(r->FileName.CreationTime.get());
    return 0;
}

double AccessedOf(const TFileRow& row, int recordKind) {
    if (const TFatDirEntry* e = FatEntryOf(row, recordKind)) return FatDate(e->LstAccDate.get(), 0);
    if (const tntfsfilerecord* r = NtfsOf(row, recordKind)) return FileTimeToDateTime(r->FileName.AccessTime.get());
    return 0;
}

int CompareBy(const TSortKeys& keys, const TFileRow& a, const TFileRow& b, int key, int d, int recordKind) {
    if (key == kImageKey) return a.ImageIndex - b.ImageIndex;  // never reversed: folders first
    if (key >= 0 && key < keys.textKeys)
        return d * CompareTexts(a.Texts[static_cast<std::size_t>(key)], b.Texts[static_cast<std::size_t>(key)]);
    if (key == keys.size) return d * Sign(SizeOf(a, recordKind), SizeOf(b, recordKind));
    if (key == keys.created) return d * Sign(CreatedOf(a, recordKind), CreatedOf(b, recordKind));
    if (key == keys.accessed) return d * Sign(AccessedOf(a, recordKind), AccessedOf(b, recordKind));
    return 0;
}

// A theme picture with a small round mark in its lower right corner.
QIcon Badged(const QIcon& base, QChar mark, const QColor& color) {
    QIcon out;
    for (int size : {16, 24, 32}) {
        QPixmap pm = base.pixmap(size, size);
        if (pm.isNull()) {
            pm = QPixmap(size, size);
            pm.fill(Qt::transparent);
        }
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const int r = size / 2;
        const QRectF badge(size - r, size - r, r, r);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(badge);
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(std::max(6, r - 1));
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(badge, Qt::AlignCenter, QString(mark));
        p.end();
        out.addPixmap(pm);
    }
    return out;
}

QIcon MarkedIcon(const QIcon& base, TMark mark) {
    switch (mark) {
    case TMark::Deleted: return DeletedPicture(base);
    case TMark::Lost: return LostPicture(base);
    default: return base;
    }
}

QIcon Arrow(bool up) {
    QPixmap pm(7, 7);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x80, 0x80, 0x80));
    const QPolygonF tri = up ? QPolygonF({QPointF(0, 6), QPointF(7, 6), QPointF(3.5, 0.5)})
                             : QPolygonF({QPointF(0, 1), QPointF(7, 1), QPointF(3.5, 6.5)});
    p.drawPolygon(tri);
    p.end();
    return QIcon(pm);
}

}  // namespace

// ---------------------------------------------------------------- texts

QString FormatListDate(double dateTime) {
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 3.0e6) dateTime = 0;  // beyond any calendar: no date
    // As the date-time type decodes itself: whole days from 30 December
    // 1899, the time of day from the fraction's absolute value.
    const double days = std::trunc(dateTime);
    std::int64_t ms = std::llround(std::fabs(dateTime - days) * 86400000.0);
    ms = std::min<std::int64_t>(ms, 86400000 - 1);
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(days));
    int year = 0, month = 0, day = 0;
    date.getDate(&year, &month, &day);
    const int minutes = static_cast<int>(ms / 60000);
    const int hour = minutes / 60;
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    // Every field has two digits (each is below 100); written straight into
    // the text, as a list of thousands of rows formats thousands of dates.
    const int fields[5] = {month, day, ((year % 100) + 100) % 100, hour12, minutes % 60};
    const char separators[5] = {'/', '/', ' ', ':', ' '};
    QString text(17, Qt::Uninitialized);
    QChar* out = text.data();
    for (int i = 0; i < 5; ++i) {
        *out++ = QLatin1Char(static_cast<char>('0' + fields[i] / 10));
        *out++ = QLatin1Char(static_cast<char>('0' + fields[i] % 10));
        *out++ = QLatin1Char(separators[i]);
    }
    *out++ = QLatin1Char(hour < 12 ? 'A' : 'P');
    *out = QLatin1Char('M');
    return text;
}

QIcon DeletedPicture(const QIcon& base) { return Badged(base, QChar(0x00D7), QColor(0xD0, 0x20, 0x20)); }

QIcon LostPicture(const QIcon& base) { return Badged(base, QLatin1Char('!'), QColor(0xE0, 0x90, 0x00)); }

QString ShellTypeName(const std::string& fileName, int* iconIndex) {
    std::string type;
    const int icon = GetShellTypeInfo(fileName, kNormalFileAttr, type);
    if (iconIndex) *iconIndex = icon;
    return QString::fromStdString(type);
}

QColor ListRowBackground(bool selected, int row) {
    if (selected) return FromColorRef(kSelectedColor);
    if (row % 2 == 1) return FromColorRef(kOddRowColor);
    return Qt::white;
}

const QList<QIcon>& SortArrowImages() {
    static const QList<QIcon> images{Arrow(true), Arrow(false)};
    return images;
}

namespace QuickMain {

QString FormatSizeText(std::int64_t S) { return SizeText(S, "M", "K"); }

int CompareListItems(const TFileRow& A, const TFileRow& B, std::int32_t ParamSort) {
    const int key = ParamSort & 0xFFFF;
    const int d = (ParamSort & 0x10000) ? -1 : 1;
    // The record kind is the current drive's at the moment of comparing.
    const int kind = CurrentFsType ? CurrentFsType() : 255;
    return CompareBy(kStandardKeys, A, B, key, d, kind);
}

bool SetHeaderImages(TFileListView* ListView, const QList<QIcon>* Images) {
    if (ListView) ListView->Model()->SetHeaderImages(Images);
    return true;
}

void SetColumnSortArrow(TFileListView* ListView, int Column, int ImageIndex, bool Right) {
    // The toolkit's header puts its picture left of the caption, where both
    // windows want it; a request for the right side draws it there too.
    (void)Right;
    if (ListView && Column >= 0 && Column < kFileColumns) ListView->Model()->SetHeaderImage(Column, ImageIndex);
}

QString AttrFlagText(bool set) { return set ? QStringLiteral("Y") : QString(); }

}  // namespace QuickMain

namespace AdvMain {

QString FormatSizeText(std::int64_t S) { return SizeText(S, " MB", " KB"); }

QString FormatCapacity(std::int64_t Sectors) {
    const double mb = static_cast<double>(Sectors) / 2048.0;
    if (mb > 1000) return FixedTwo(mb / 1024) + QStringLiteral(" GB");
    return FixedTwo(mb) + QStringLiteral(" MB");
}

int CompareListItems(const TFileRow& A, const TFileRow& B, std::int32_t ParamSort) {
    const auto param = static_cast<std::uint32_t>(ParamSort);
    const int key = static_cast<int>(param & 0xFFFF);
    const int d = (param & 0x80000000u) ? 1 : -1;
    const int kind = static_cast<int>((param >> 16) & 0x7FFF);
    return CompareBy(kAdvancedKeys, A, B, key, d, kind);
}

bool SetHeaderImages(TFileListView* ListView, const QList<QIcon>* Images) {
    return QuickMain::SetHeaderImages(ListView, Images);
}

void SetColumnSortArrow(TFileListView* ListView, int Column, int ImageIndex, bool Right) {
    QuickMain::SetColumnSortArrow(ListView, Column, ImageIndex, Right);
}

QString ItemCountsText(const TFileListView* ListView) {
    int folders = 0, files = 0;
    for (int i = 0; i < ListView->Count(); ++i) (ListView->ImageIndex(i) == 0 ? folders : files)++;
    return QStringLiteral(" %1 个文件, %2 个文件夹").arg(files).arg(folders);
}

void UpdateItemCounts(TFileListView* ListView, TStatusBarEx* StatusBar) {
    if (!ListView || !StatusBar || StatusBar->PanelCount() < 3) return;
    StatusBar->Panel(2)->setText(ItemCountsText(ListView));
}

QString AttrFlagText(bool set) { return set ? QStringLiteral("Y") : QStringLiteral("N"); }

}  // namespace AdvMain

// ---------------------------------------------------------------- model

TFileListModel::TFileListModel(TListKind kind, const std::vector<const char*>& columns, QObject* parent)
    : QAbstractTableModel(parent), kind_(kind) {
    for (std::size_t i = 0; i < captions_.size() && i < columns.size(); ++i)
        captions_[i] = QString::fromUtf8(columns[i]);
}

int TFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kFileColumns; }

QIcon TFileListModel::RowIcon(const TFileRow& row) const {
    // One picture per kind of row and shell icon, made once.
    static QHash<qint64, QIcon> cache;
    TRowPicture picture{false, TMark::None};
    if (kind_ == TListKind::Standard) {
        if (row.ImageIndex >= 0 && row.ImageIndex < static_cast<int>(kStandardPictures.size()))
            picture = kStandardPictures[static_cast<std::size_t>(row.ImageIndex)];
    } else if (row.ImageIndex >= 0 && row.ImageIndex < static_cast<int>(kAdvancedPictures.size())) {
        picture = kAdvancedPictures[static_cast<std::size_t>(row.ImageIndex)];
    }
    const qint64 shell = picture.folder ? -2 : row.ShellIcon;
    const qint64 key = (shell + 2) * 4 + static_cast<int>(picture.mark);
    auto it = cache.constFind(key);
    if (it != cache.constEnd()) return *it;
    QIcon base;
    if (picture.folder) base = QIcon::fromTheme(QStringLiteral("folder"));
    else if (row.ShellIcon >= 0) base = ShellIcon(row.ShellIcon);
    if (base.isNull()) base = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    const QIcon icon = MarkedIcon(base, picture.mark);
    cache.insert(key, icon);
    return icon;
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count()) return {};
    const TFileRow& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return row.Texts[static_cast<std::size_t>(index.column())];
    case Qt::CheckStateRole:
        if (index.column() == 0) return row.Checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::DecorationRole:
        if (index.column() == 0) return RowIcon(row);
        return {};
    default: return {};
    }
}

bool TFileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
    if (ChecksLocked && ChecksLocked()) return false;
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kFileColumns) return {};
    if (role == Qt::DisplayRole) return captions_[static_cast<std::size_t>(section)];
    if (role == Qt::DecorationRole && haveHeaderImages_) {
        const int image = headerImages_[static_cast<std::size_t>(section)];
        if (image >= 0 && image < headerIconList_.size()) return headerIconList_[image];
    }
    return {};
}

void TFileListModel::BeginUpdate() {
    if (updating_++ == 0) beginResetModel();
}

void TFileListModel::EndUpdate() {
    if (updating_ > 0 && --updating_ == 0) endResetModel();
}

void TFileListModel::Clear() {
    if (updating_ > 0) {
        rows_.clear();
        return;
    }
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int TFileListModel::Add(TFileRow row) {
    const int at = Count();
    if (updating_ > 0) {
        rows_.push_back(std::move(row));
        return at;
    }
    beginInsertRows(QModelIndex(), at, at);
    rows_.push_back(std::move(row));
    endInsertRows();
    return at;
}

void TFileListModel::SetText(int i, int column, const QString& text) {
    if (i < 0 || i >= Count() || column < 0 || column >= kFileColumns) return;
    rows_[static_cast<std::size_t>(i)].Texts[static_cast<std::size_t>(column)] = text;
    if (updating_ == 0) emit dataChanged(index(i, column), index(i, column), {Qt::DisplayRole});
}

void TFileListModel::SetChecked(int i, bool on) {
    if (i < 0 || i >= Count()) return;
    TFileRow& row = rows_[static_cast<std::size_t>(i)];
    if (row.Checked == on) return;
    row.Checked = on;
    if (updating_ == 0) emit dataChanged(index(i, 0), index(i, 0), {Qt::CheckStateRole});
}

void TFileListModel::SetAllChecked(bool on) {
    for (TFileRow& row : rows_) row.Checked = on;
    if (updating_ == 0 && !rows_.empty()) emit dataChanged(index(0, 0), index(Count() - 1, 0), {Qt::CheckStateRole});
}

void TFileListModel::SetColumnCaption(int column, const QString& caption) {
    if (column < 0 || column >= kFileColumns) return;
    captions_[static_cast<std::size_t>(column)] = caption;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

QString TFileListModel::ColumnCaption(int column) const {
    if (column < 0 || column >= kFileColumns) return {};
    return captions_[static_cast<std::size_t>(column)];
}

void TFileListModel::SetHeaderImages(const QList<QIcon>* images) {
    haveHeaderImages_ = images != nullptr;
    headerIconList_ = images ? *images : QList<QIcon>();
    emit headerDataChanged(Qt::Horizontal, 0, kFileColumns - 1);
}

void TFileListModel::SetHeaderImage(int column, int image) {
    headerImages_[static_cast<std::size_t>(column)] = image < 0 ? -1 : image;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

int TFileListModel::HeaderImage(int column) const {
    if (column < 0 || column >= kFileColumns) return -1;
    return headerImages_[static_cast<std::size_t>(column)];
}

void TFileListModel::Sort(TCompareFn compare, std::int32_t param) {
    if (!compare) return;
    const auto n = rows_.size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return compare(rows_[a], rows_[b], param) < 0;
    });
    const bool tell = updating_ == 0;
    if (tell) emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<TFileRow> sorted;
    sorted.reserve(n);
    std::vector<int> newPlace(n);
    for (std::size_t i = 0; i < n; ++i) {
        newPlace[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[order[i]]));
    }
    rows_ = std::move(sorted);
    if (!tell) return;
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& idx : from)
        to << index(newPlace[static_cast<std::size_t>(idx.row())], idx.column());
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// ---------------------------------------------------------------- view

TFileListView::TFileListView(TListKind kind, const std::vector<const char*>& columns, QWidget* parent)
    : QTreeView(parent), model_(new TFileListModel(kind, columns, this)) {
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    // No focus frame across the whole row: the style draws it as a tinted
    // gradient with an outline over the selected row's flat colour. The
    // focused cell of a row that is not selected keeps its frame.
    setAllColumnsShowFocus(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAlternatingRowColors(true);
    setIconSize(QSize(kIconSize, kIconSize));
    setItemDelegate(new TGridLineDelegate(this, true));
    // Selected rows on light yellow, odd rows pale blue; the text keeps its
    // colour, also while the list has no focus.
    QPalette pal = palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(g, QPalette::Base, ListRowBackground(false, 0));
        pal.setColor(g, QPalette::AlternateBase, ListRowBackground(false, 1));
        pal.setColor(g, QPalette::Highlight, ListRowBackground(true, 0));
        pal.setColor(g, QPalette::HighlightedText, pal.color(g, QPalette::Text));
    }
    setPalette(pal);
    // No hover shading: a row's colour says only whether it is selected.
    viewport()->setAttribute(Qt::WA_Hover, false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    header()->setSectionsMovable(false);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (OnColumnClick) OnColumnClick(column);
        else ColumnClick(column);
    });
}

int TFileListView::Add(TRowRecord kind, const void* record, int image, std::array<QString, kFileColumns>&& texts,
                       int shellIcon) {
    TFileRow row;
    row.Kind = record ? kind : TRowRecord::None;
    row.Record = record;
    row.ImageIndex = image;
    row.ShellIcon = shellIcon;
    row.Texts = std::move(texts);
    return model_->Add(std::move(row));
}

int TFileListView::AddRow(const TMidEntry* entry, int image, std::array<QString, kFileColumns> texts, int shellIcon) {
    return Add(TRowRecord::Fat, entry, image, std::move(texts), shellIcon);
}

int TFileListView::AddRow(const TPhysMidEntry* entry, int image, std::array<QString, kFileColumns> texts,
                          int shellIcon) {
    return Add(TRowRecord::PhysFat, entry, image, std::move(texts), shellIcon);
}

int TFileListView::AddRow(const tntfsfilerecord* record, int image, std::array<QString, kFileColumns> texts,
                          int shellIcon) {
    return Add(TRowRecord::Ntfs, record, image, std::move(texts), shellIcon);
}

const TMidEntry* TFileListView::MidEntry(int i) const {
    const TFileRow& row = Row(i);
    return row.Kind == TRowRecord::Fat ? static_cast<const TMidEntry*>(row.Record) : nullptr;
}

const TPhysMidEntry* TFileListView::PhysMidEntry(int i) const {
    const TFileRow& row = Row(i);
    return row.Kind == TRowRecord::PhysFat ? static_cast<const TPhysMidEntry*>(row.Record) : nullptr;
}

const tntfsfilerecord* TFileListView::NtfsRecord(int i) const {
    const TFileRow& row = Row(i);
    return row.Kind == TRowRecord::Ntfs ? static_cast<const tntfsfilerecord*>(row.Record) : nullptr;
}

std::vector<int> TFileListView::CheckedRows() const {
    std::vector<int> rows;
    for (int i = 0; i < Count(); ++i)
        if (Row(i).Checked) rows.push_back(i);
    return rows;
}

void TFileListView::CheckSelected(bool on) {
    if (RowsLocked()) return;
    for (int i : SelectedRows()) model_->SetChecked(i, on);
}

void TFileListView::CheckAll(bool on) {
    if (!RowsLocked()) model_->SetAllChecked(on);
}

std::vector<int> TFileListView::SelectedRows() const {
    std::vector<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& idx : selectionModel()->selectedRows()) rows.push_back(idx.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TFileListView::SelCount() const {
    return selectionModel() ? static_cast<int>(selectionModel()->selectedRows().size()) : 0;
}

int TFileListView::Selected() const {
    const std::vector<int> rows = SelectedRows();
    return rows.empty() ? -1 : rows.front();
}

bool TFileListView::IsSelected(int i) const {
    return selectionModel() && selectionModel()->isRowSelected(i, QModelIndex());
}

void TFileListView::SetSelected(int i, bool on) {
    if (i < 0 || i >= Count() || !selectionModel()) return;
    selectionModel()->select(model_->index(i, 0), (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                                      QItemSelectionModel::Rows);
}

void TFileListView::CustomSort(TCompareFn compare, std::int32_t paramSort) { model_->Sort(compare, paramSort); }

void TFileListView::ColumnClick(int column) {
    const bool standard = Kind() == TListKind::Standard;
    std::int32_t& sortColumn = standard ? QuickMain::SortColumn : AdvMain::SortColumn;
    for (int c = 0; c < kFileColumns; ++c) QuickMain::SetColumnSortArrow(this, c, -1);
    if (column + 1 == std::abs(sortColumn)) sortColumn = -sortColumn;
    else sortColumn = column + 1;
    const bool descending = sortColumn > 0;
    QuickMain::SetColumnSortArrow(this, column, descending ? 1 : 0);
    if (standard) {
        CustomSort(QuickMain::CompareListItems, column | (descending ? 0x10000 : 0));
    } else {
        const int kind = SortRecordKind ? SortRecordKind() : 0;
        const std::uint32_t param = static_cast<std::uint32_t>(column & 0xFFFF) |
                                    (static_cast<std::uint32_t>(kind & 0x7FFF) << 16) |
                                    (descending ? 0u : 0x80000000u);
        CustomSort(AdvMain::CompareListItems, static_cast<std::int32_t>(param));
    }
}

// ---------------------------------------------------------------- drawing

void TGridLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (flatSelection_ && (option.state & QStyle::State_Selected)) {
        QStyleOptionViewItem opt(option);
        painter->fillRect(opt.rect, opt.palette.color(QPalette::Active, QPalette::Highlight));
        opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        opt.backgroundBrush = Qt::NoBrush;
        QStyledItemDelegate::paint(painter, opt, index);
    } else {
        QStyledItemDelegate::paint(painter, option, index);
    }
    // The report view's grid lines: a light rule below and right of each cell.
    painter->save();
    painter->setPen(QColor(0xD8, 0xD8, 0xD8));
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->restore();
}

TTreeNodeDelegate::TTreeNodeDelegate(bool plainFirstNode, QObject* parent)
    : QStyledItemDelegate(parent), plainFirstNode_(plainFirstNode) {}

void TTreeNodeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    if (opt.state & QStyle::State_Selected) {
        // Flat: the style's focus frame would tint the node's colour.
        opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        const bool first = !index.parent().isValid() && index.row() == 0;
        if (!(plainFirstNode_ && first)) {
            painter->fillRect(opt.rect, ListRowBackground(true, 0));
            opt.font.setBold(true);
            opt.palette.setColor(QPalette::Text, QColor(0, 0, 255));
            opt.palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        } else {
            painter->fillRect(opt.rect, Qt::white);
            opt.palette.setColor(QPalette::Text, Qt::black);
        }
    }
    QStyledItemDelegate::paint(painter, opt, index);
}

QSize TTreeNodeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    opt.font.setBold(true);
    return QStyledItemDelegate::sizeHint(opt, index);
}

}  // namespace ui
