// The recovery windows' file list: size, capacity and date texts, sorting by
// the header with its arrows and its kept state, the folders-first order,
// the row colours, check marks and selection over a sort, item counts.
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <QTimeZone>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <deque>
#include <memory>

#include "DataStruc.h"
#include "DiskParam.h"
#include "FileList.h"
#include "StatusBarEx.h"

using namespace ui;

namespace {

// Decimal texts as the system writes them.
QString Local(const char* text) {
    return QString::fromUtf8(text).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

std::uint16_t DosDate(int y, int m, int d) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
std::uint16_t DosTime(int h, int n) { return static_cast<std::uint16_t>((h << 11) | (n << 5)); }

// A FILETIME of a day at noon UTC (noon keeps the local day in any zone).
std::uint64_t FileTimeOf(int y, int m, int d) {
    const qint64 secs = QDateTime(QDate(y, m, d), QTime(12, 0), QTimeZone(0)).toSecsSinceEpoch();
    return static_cast<std::uint64_t>(secs + 11644473600LL) * 10000000ULL;
}

struct Fat {
    const char* name;
    bool folder;
    std::uint32_t size;
    std::uint16_t crtDate, crtTime, accDate;
};

// Records that live as long as the test, as the engine's would.
struct Records {
    std::deque<TMidEntry> mid;
    std::deque<TPhysMidEntry> phys;
    std::deque<tntfsfilerecord> ntfs;

    template <typename T>
    T& FatRecord(std::deque<T>& list, const Fat& f) {
        T& e = list.emplace_back();
        e.LongName = f.name;
        e.DirEntry.Attr = f.folder ? 0x10 : 0x20;
        e.DirEntry.FileSize.set(f.size);
        e.DirEntry.CrtDate.set(f.crtDate);
        e.DirEntry.CrtTime.set(f.crtTime);
        e.DirEntry.LstAccDate.set(f.accDate);
        return e;
    }
    tntfsfilerecord& Ntfs(const char* name, bool folder, std::int64_t size, std::uint64_t created) {
        tntfsfilerecord& r = ntfs.emplace_back();
        r.Name = name;
        r.DataSize = size;
        r.RecordFlags = 1;
        r.FileName.FileAttributes.set(folder ? 0x10000000u : 0x20u);
        r.FileName.CreationTime.set(created);
        r.FileName.AccessTime.set(created);
        return r;
    }
};

QStringList Captions(const TFileListView& v) {
    QStringList out;
    for (int i = 0; i < v.Count(); ++i) out << v.Text(i, 0);
    return out;
}

// The standard list of a FAT folder: a folder, a deleted file, files of 2
// GiB and more (unsigned sizes), a date that does not convert, and two names
// that differ only in case.
const std::vector<Fat> kStandardRows{
    {"Docs", true, 0, DosDate(2001, 1, 1), 0, DosDate(2001, 1, 1)},
    {"big.iso", false, 3000000000u, DosDate(2010, 5, 5), DosTime(10, 0), DosDate(2012, 1, 1)},
    {"Readme.txt", false, 100, DosDate(2020, 2, 2), DosTime(9, 30), DosDate(2020, 2, 3)},
    {"README.TXT", false, 4294967295u, 0xFFFF, 0xFFFF, 0},  // a date of month 15: does not convert
    {"photo.jpg", false, 1536, DosDate(2015, 8, 8), DosTime(23, 59), DosDate(2016, 1, 1)},
};

void FillStandard(TFileListView& v, Records& r) {
    v.BeginUpdate();
    v.Clear();
    for (const Fat& f : kStandardRows) {
        TMidEntry& e = r.FatRecord(r.mid, f);
        const bool deleted = std::string(f.name) == "photo.jpg";
        v.AddRow(&e, f.folder ? 0 : deleted ? 4 : 3,
                 {QString::fromUtf8(f.name), f.folder ? QStringLiteral("Folder") : QStringLiteral("File"),
                  deleted ? QStringLiteral("已删除") : QString(), QuickMain::FormatSizeText(f.size), QString()});
    }
    v.CustomSort(QuickMain::CompareListItems, 10);
    v.EndUpdate();
}

}  // namespace

class FileList : public QObject {
    Q_OBJECT
private slots:
    void init() {
        QuickMain::SortColumn = 0;
        AdvMain::SortColumn = 0;
        QuickMain::CurrentFsType = [] { return 0; };
    }

    void SizeTexts_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("standard");
        QTest::addColumn<QString>("advanced");
        QTest::newRow("0") << qint64(0) << "0" << "0";
        QTest::newRow("999") << qint64(999) << "999" << "999";
        QTest::newRow("1000") << qint64(1000) << "1K" << "1 KB";
        QTest::newRow("1005: half to even") << qint64(1005) << "1K" << "1 KB";
        QTest::newRow("1015: half to even") << qint64(1015) << "1.02K" << "1.02 KB";
        QTest::newRow("1125") << qint64(1125) << "1.12K" << "1.12 KB";
        QTest::newRow("1536") << qint64(1536) << "1.54K" << "1.54 KB";
        QTest::newRow("1100: no trailing zero") << qint64(1100) << "1.1K" << "1.1 KB";
        QTest::newRow("999,999") << qint64(999999) << "1000K" << "1000 KB";
        QTest::newRow("1,000,000") << qint64(1000000) << "1M" << "1 MB";
        QTest::newRow("1,234,567") << qint64(1234567) << "1.23M" << "1.23 MB";
        QTest::newRow("2 GiB") << qint64(2147483648LL) << "2147.48M" << "2147.48 MB";
        QTest::newRow("4 GiB - 1") << qint64(4294967295LL) << "4294.97M" << "4294.97 MB";
        QTest::newRow("5 GB") << qint64(5000000000LL) << "5000M" << "5000 MB";
        QTest::newRow("damaged negative size") << qint64(-5) << "-5" << "-5";
    }
    void SizeTexts() {
        QFETCH(qint64, bytes);
        QFETCH(QString, standard);
        QFETCH(QString, advanced);
        QCOMPARE(QuickMain::FormatSizeText(bytes), Local(standard.toUtf8().constData()));
        QCOMPARE(AdvMain::FormatSizeText(bytes), Local(advanced.toUtf8().constData()));
    }

    void CapacityTexts_data() {
        QTest::addColumn<qint64>("sectors");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << qint64(0) << "0.00 MB";
        QTest::newRow("1 MB") << qint64(2048) << "1.00 MB";
        QTest::newRow("1000 MB") << qint64(1000 * 2048) << "1000.00 MB";
        QTest::newRow("1001 MB") << qint64(1001 * 2048) << "0.98 GB";
        QTest::newRow("1024 MB") << qint64(1024 * 2048) << "1.00 GB";
        QTest::newRow("largest 32-bit count") << qint64(0xFFFFFFFFLL) << "2048.00 GB";
    }
    void CapacityTexts() {
        QFETCH(qint64, sectors);
        QFETCH(QString, text);
        QCOMPARE(AdvMain::FormatCapacity(sectors), Local(text.toUtf8().constData()));
    }

    void DateTexts_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("no date") << 0.0 << "12/30/99 12:00 AM";
        double v = 0;
        FatDateTimeToDateTime(DosDate(2023, 7, 4), DosTime(13, 5), v);
        QTest::newRow("afternoon") << v << "07/04/23 01:05 PM";
        FatDateTimeToDateTime(DosDate(2000, 1, 31), DosTime(12, 0), v);
        QTest::newRow("noon") << v << "01/31/00 12:00 PM";
        FatDateTimeToDateTime(DosDate(1999, 12, 31), DosTime(0, 1), v);
        QTest::newRow("just after midnight") << v << "12/31/99 12:01 AM";
        QTest::newRow("before 1900: the time counts forward") << -1.25 << "12/29/99 06:00 AM";
        // A damaged value beyond any calendar shows as no date.
        QTest::newRow("beyond any calendar") << 1e300 << "12/30/99 12:00 AM";
        QTest::newRow("not a number") << std::nan("") << "12/30/99 12:00 AM";
    }
    void DateTexts() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(FormatListDate(value), text);
    }

    void StandardHeaderSortsEveryColumnBothWays_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("descending");
        // Names equal but for case keep their order both ways.
        QTest::newRow("File") << 0
                              << QStringList{"Readme.txt", "README.TXT", "photo.jpg", "Docs", "big.iso"};
        QTest::newRow("Type") << 1
                              << QStringList{"Docs", "big.iso", "Readme.txt", "README.TXT", "photo.jpg"};
        QTest::newRow("Status") << 2
                                << QStringList{"photo.jpg", "Docs", "big.iso", "Readme.txt", "README.TXT"};
        QTest::newRow("Size, unsigned") << 3
                                        << QStringList{"README.TXT", "big.iso", "photo.jpg", "Readme.txt", "Docs"};
        QTest::newRow("Created, unconverted oldest")
            << 4 << QStringList{"Readme.txt", "photo.jpg", "big.iso", "Docs", "README.TXT"};
    }
    void StandardHeaderSortsEveryColumnBothWays() {
        QFETCH(int, column);
        QFETCH(QStringList, descending);
        Records r;
        TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        FillStandard(v, r);
        QCOMPARE(Captions(v).first(), QStringLiteral("Docs"));  // filled: folders first
        v.ColumnClick(column);
        QCOMPARE(QuickMain::SortColumn, column + 1);
        QCOMPARE(Captions(v), descending);
        v.ColumnClick(column);
        QCOMPARE(QuickMain::SortColumn, -(column + 1));
        // Ascending: the reverse, except that equal rows keep their order.
        QStringList ascending = descending;
        std::reverse(ascending.begin(), ascending.end());
        if (column == 0) ascending = {"big.iso", "Docs", "photo.jpg", "Readme.txt", "README.TXT"};
        if (column == 1) ascending = {"big.iso", "Readme.txt", "README.TXT", "photo.jpg", "Docs"};
        if (column == 2) ascending = {"Docs", "big.iso", "Readme.txt", "README.TXT", "photo.jpg"};
        QCOMPARE(Captions(v), ascending);
    }

    void AdvancedHeaderSortsEveryColumnBothWays_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("descending");
        // Chinese names compare by their character values, after Latin ones.
        QTest::newRow("Name") << 0 << QStringList{"系统", "Music", "b.dat", "a.dat"};
        QTest::newRow("Type") << 1 << QStringList{"Music", "a.dat", "b.dat", "系统"};
        QTest::newRow("Size: 5 GB over 1 GB") << 2 << QStringList{"a.dat", "b.dat", "系统", "Music"};
        QTest::newRow("Created") << 3 << QStringList{"系统", "b.dat", "a.dat", "Music"};
        QTest::newRow("Accessed") << 4 << QStringList{"系统", "b.dat", "a.dat", "Music"};
    }
    void AdvancedHeaderSortsEveryColumnBothWays() {
        QFETCH(int, column);
        QFETCH(QStringList, descending);
        Records r;
        TFileListView v(TListKind::Advanced, {"Name", "Type", "Size", "Created", "Accessed"});
        v.SortRecordKind = [] { return 3; };  // the NTFS view
        struct Row {
            const char* name;
            bool folder;
            std::int64_t size;
            int year;
            const char* type;
        };
        for (const Row& row : {Row{"Music", true, 0, 2001, "Folder"}, Row{"a.dat", false, 5000000000LL, 2005, "Data"},
                               Row{"b.dat", false, 1000000000LL, 2010, "Data"}, Row{"系统", false, 7, 2020, "Ascii"}}) {
            tntfsfilerecord& rec = r.Ntfs(row.name, row.folder, row.size, FileTimeOf(row.year, 6, 1));
            v.AddRow(&rec, row.folder ? 0 : 1,
                     {QString::fromUtf8(row.name), QString::fromLatin1(row.type), AdvMain::FormatSizeText(row.size),
                      QString(), QString()});
        }
        v.ColumnClick(column);
        QCOMPARE(AdvMain::SortColumn, column + 1);
        QCOMPARE(Captions(v), descending);
        v.ColumnClick(column);
        QStringList ascending = descending;
        std::reverse(ascending.begin(), ascending.end());
        if (column == 1) ascending = {"系统", "a.dat", "b.dat", "Music"};  // the two "Data" rows keep their order
        QCOMPARE(Captions(v), ascending);
    }

    void FoldersFirstInBothDirectionsOfTheLastHeaderSort_data() {
        QTest::addColumn<int>("clicks");
        QTest::newRow("after a descending sort") << 1;
        QTest::newRow("after an ascending sort") << 2;
    }
    void FoldersFirstInBothDirectionsOfTheLastHeaderSort() {
        QFETCH(int, clicks);
        Records r;
        TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        FillStandard(v, r);
        TMidEntry& second = r.FatRecord(r.mid, {"Zeta", true, 0, 0, 0, 0});
        v.AddRow(&second, 1, {QStringLiteral("Zeta"), {}, {}, {}, {}});
        for (int i = 0; i < clicks; ++i) v.ColumnClick(0);
        v.CustomSort(QuickMain::CompareListItems, 10);
        QVERIFY(v.ImageIndex(0) <= 2 && v.ImageIndex(1) <= 2);
        for (int i = 2; i < v.Count(); ++i) QVERIFY(v.ImageIndex(i) >= 3);
    }

    void SortStateSurvivesRefillAndReopening() {
        Records r;
        {
            TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
            FillStandard(v, r);
            v.ColumnClick(3);  // Size, descending
            FillStandard(v, r);
            QCOMPARE(QuickMain::SortColumn, 4);
            QCOMPARE(v.Model()->HeaderImage(3), 1);  // the arrow stays with the header
            v.ColumnClick(3);
            QCOMPARE(QuickMain::SortColumn, -4);
            QCOMPARE(Captions(v).first(), QStringLiteral("Docs"));  // smallest first
        }
        // A window opened again in the same run goes on from there.
        TFileListView again(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        FillStandard(again, r);
        again.ColumnClick(3);
        QCOMPARE(QuickMain::SortColumn, 4);
        QCOMPARE(Captions(again).first(), QStringLiteral("README.TXT"));
        // The advanced window keeps its own state.
        QCOMPARE(AdvMain::SortColumn, 0);
    }

    void ArrowsShowTheDirectionOnTheClickedColumnOnly() {
        Records r;
        TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        QuickMain::SetHeaderImages(&v, &SortArrowImages());
        FillStandard(v, r);
        v.header()->sectionClicked(3);  // as a click on the header does
        auto arrows = [&] {
            QList<int> out;
            for (int c = 0; c < kFileColumns; ++c) out << v.Model()->HeaderImage(c);
            return out;
        };
        QCOMPARE(arrows(), (QList<int>{-1, -1, -1, 1, -1}));  // down
        QVERIFY(!v.model()->headerData(3, Qt::Horizontal, Qt::DecorationRole).isNull());
        QVERIFY(v.model()->headerData(0, Qt::Horizontal, Qt::DecorationRole).isNull());
        v.header()->sectionClicked(3);
        QCOMPARE(arrows(), (QList<int>{-1, -1, -1, 0, -1}));  // up
        v.header()->sectionClicked(1);
        QCOMPARE(arrows(), (QList<int>{-1, 1, -1, -1, -1}));  // another column starts descending
        QCOMPARE(SortArrowImages().size(), 2);
        QCOMPARE(SortArrowImages()[0].availableSizes().value(0), QSize(7, 7));
    }

    void StandardSortsByTheCurrentDrivesRecordKind() {
        Records r;
        TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        tntfsfilerecord& big = r.Ntfs("big", false, 5000000000LL, 0);
        tntfsfilerecord& small = r.Ntfs("small", false, 1000000000LL, 0);
        v.AddRow(&small, 3, {QStringLiteral("small"), {}, {}, {}, {}});
        v.AddRow(&big, 3, {QStringLiteral("big"), {}, {}, {}, {}});
        QuickMain::CurrentFsType = [] { return 3; };
        v.ColumnClick(3);
        QCOMPARE(Captions(v), (QStringList{"big", "small"}));
        // A drive of unknown format (or records of another kind) compares
        // every size equal: the order stays.
        QuickMain::CurrentFsType = [] { return 255; };
        v.ColumnClick(3);
        QCOMPARE(Captions(v), (QStringList{"big", "small"}));
        QuickMain::CurrentFsType = [] { return 0; };
        v.ColumnClick(3);
        QCOMPARE(Captions(v), (QStringList{"big", "small"}));
    }

    void ChecksAndSelectionFollowTheirRowsThroughASort() {
        Records r;
        TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        FillStandard(v, r);
        const int readme = static_cast<int>(Captions(v).indexOf(QStringLiteral("README.TXT")));
        const void* record = v.Data(readme);
        v.SetChecked(readme, true);
        v.SetSelected(readme, true);
        v.ColumnClick(3);
        QCOMPARE(v.SelCount(), 1);
        QCOMPARE(v.Data(v.Selected()), record);
        QCOMPARE(v.CheckedRows(), std::vector<int>{v.Selected()});
    }

    void CheckCommandsActOnSelectedOrAllRows() {
        Records r;
        TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        FillStandard(v, r);
        v.CheckAll(true);
        QCOMPARE(v.CheckedRows().size(), std::size_t(5));
        for (int i : {0, 2, 4}) v.SetSelected(i, true);
        v.CheckSelected(false);
        QCOMPARE(v.CheckedRows(), (std::vector<int>{1, 3}));
        v.CheckSelected(true);
        QCOMPARE(v.CheckedRows().size(), std::size_t(5));
        v.CheckAll(false);
        QVERIFY(v.CheckedRows().empty());
        // The check box of a row, as a click sets it.
        QVERIFY(v.model()->setData(v.model()->index(2, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(v.CheckedRows(), std::vector<int>{2});
    }

    void RowsGiveTheirRecordOnlyAsTheirOwnKind() {
        Records r;
        TFileListView v(TListKind::Advanced, {"Name", "Type", "Size", "Created", "Accessed"});
        TPhysMidEntry& e = r.FatRecord(r.phys, {"A.TXT", false, 1, 0, 0, 0});
        v.AddRow(&e, 1, {QStringLiteral("A.TXT"), {}, {}, {}, {}});
        QCOMPARE(v.PhysMidEntry(0), &e);
        QVERIFY(!v.MidEntry(0));
        QVERIFY(!v.NtfsRecord(0));
    }

    void RowColoursOfListsAndTrees() {
        Records r;
        TFileListView v(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
        v.resize(500, 200);
        FillStandard(v, r);
        v.SetSelected(2, true);
        v.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v));
        // The focused row (drawn with the style's focus frame) is not looked at.
        v.selectionModel()->setCurrentIndex(v.model()->index(4, 0), QItemSelectionModel::NoUpdate);
        const QImage shot = v.viewport()->grab().toImage();
        // A point of each row inside the last column, right of any text.
        auto at = [&](int row) {
            const QRect rect = v.visualRect(v.model()->index(row, 4));
            return QColor(shot.pixel(rect.right() - 4, rect.center().y()));
        };
        QCOMPARE(at(0), QColor(Qt::white));
        QCOMPARE(at(1), QColor(244, 244, 255));
        QCOMPARE(at(2), QColor(255, 255, 208));  // selected
        QCOMPARE(at(3), QColor(244, 244, 255));
        QCOMPARE(v.palette().color(QPalette::HighlightedText), v.palette().color(QPalette::Text));

        QTreeWidget tree;
        tree.setHeaderHidden(true);
        tree.setItemDelegate(new TTreeNodeDelegate(true, &tree));
        auto* first = new QTreeWidgetItem(&tree, QStringList{QStringLiteral("My Computer")});
        auto* child = new QTreeWidgetItem(first, QStringList{QStringLiteral("C:")});
        first->setExpanded(true);
        tree.resize(300, 200);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        auto nodeColour = [&](QTreeWidgetItem* node) {
            tree.setCurrentItem(node);
            const QImage img = tree.viewport()->grab().toImage();
            const QRect rect = tree.visualItemRect(node);
            return QColor(img.pixel(rect.right() - 4, rect.center().y()));
        };
        QCOMPARE(nodeColour(child), QColor(255, 255, 208));
        QCOMPARE(nodeColour(first), QColor(Qt::white));  // the first node stays plain
    }

    void SelectedRowsAreFlatLightYellowFocusedOrNot() {
        Records r;
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* v = new TFileListView(TListKind::Standard, {"File", "Type", "Status", "Size", "Created"}, &window);
        auto* other = new QLineEdit(&window);
        layout->addWidget(v);
        layout->addWidget(other);
        window.resize(560, 260);
        FillStandard(*v, r);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // Every pixel of the selected row away from its texts, pictures and
        // grid lines: the right end of each cell over the row's height, and
        // the row's top and bottom lines across the last cell.
        auto offColours = [&](int row) {
            const QImage shot = v->viewport()->grab().toImage();
            QStringList off;
            auto check = [&](int x, int y) {
                const QColor c = shot.pixelColor(x, y);
                if (c != QColor(255, 255, 208)) off << QStringLiteral("(%1,%2)=%3").arg(x).arg(y).arg(c.name());
            };
            for (int col = 0; col < 5; ++col) {
                const QRect cell = v->visualRect(v->model()->index(row, col));
                for (int y = cell.top(); y < cell.bottom(); ++y)
                    for (int x = cell.right() - 6; x < cell.right() - 1; ++x) check(x, y);
            }
            const QRect last = v->visualRect(v->model()->index(row, 4));
            for (int x = last.left(); x < last.right(); ++x) {
                check(x, last.top());
                check(x, last.bottom() - 1);
            }
            return off.mid(0, 5).join(QLatin1Char(' '));
        };
        const QRect rowRect = v->visualRect(v->model()->index(2, 4));
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, rowRect.center());
        QVERIFY(v->hasFocus());
        QVERIFY(v->IsSelected(2));
        QCOMPARE(offColours(2), QString());  // focused and current
        // Chosen with the keys, the row has the keyboard's focus as well.
        QTest::keyClick(v, Qt::Key_Down);
        QTest::keyClick(v, Qt::Key_Up);
        QVERIFY(v->IsSelected(2));
        QCOMPARE(offColours(2), QString());
        other->setFocus();
        QVERIFY(!v->hasFocus());
        QCOMPARE(offColours(2), QString());  // the list without the focus
    }

    void AdvancedCountsFilesAndFolders() {
        Records r;
        TFileListView v(TListKind::Advanced, {"Name", "Type", "Size", "Created", "Accessed"});
        TStatusBarEx bar;
        for (int i = 0; i < 3; ++i) bar.AddPanel(100);
        for (auto [name, folder] : {std::pair{"a", false}, std::pair{"b", true}, std::pair{"c", false}}) {
            TPhysMidEntry& e = r.FatRecord(r.phys, {name, folder, 0, 0, 0, 0});
            v.AddRow(&e, folder ? 0 : 1, {QString::fromLatin1(name), {}, {}, {}, {}});
        }
        AdvMain::UpdateItemCounts(&v, &bar);
        QCOMPARE(bar.Panel(2)->text(), QStringLiteral(" 2 个文件, 1 个文件夹"));
        v.Clear();
        AdvMain::UpdateItemCounts(&v, &bar);
        QCOMPARE(bar.Panel(2)->text(), QStringLiteral(" 0 个文件, 0 个文件夹"));
    }

    void AttributeFlagTexts() {
        QCOMPARE(QuickMain::AttrFlagText(false), QString());
        QCOMPARE(QuickMain::AttrFlagText(true), QStringLiteral("Y"));
        QCOMPARE(AdvMain::AttrFlagText(false), QStringLiteral("N"));
        QCOMPARE(AdvMain::AttrFlagText(true), QStringLiteral("Y"));
    }
};

QTEST_MAIN(FileList)
#include "FileList_test.moc"
