// The Standard Recovery window on volumes that real tools made: drives,
// scans and their log lines, the folder tree, the file list, recovery
// compared byte for byte with the originals, stops, and the clicks the
// window refuses while it is busy.
#include <QAbstractButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "LowerPages.h"
#include "NtfsManifest.h"
#include "QtPlatform.h"
#include "QuickMain.h"
#include "Recorders.h"
#include "Reporting.h"
#include "System.h"
#include "TargetFolder.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "WriteBehind.h"
#include "Program.h"
#include "main.h"
#include "seldir.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A search as the Find page runs it: the conditions, then "Find".
struct TSearch {
    QString names;           // By Name when not empty
    bool caseSensitive = false;
    int dateKind = -1;       // By Date when 0..2
    QDate from, to;
    int sizeFrom = -1, sizeTo = -1;  // By Size when both >= 0
    bool deletedOnly = false;
};

TSearch ByName(const QString& names) {
    TSearch q;
    q.names = names;
    return q;
}

// A shown window with its settings in a folder of its own and the opener
// of the target folder recorded.
struct TWindow {
    vt::test::TempDir appDir;
    std::unique_ptr<TfrmQuickMain> w;
    std::vector<std::string> opened;

    // The settings folder: a fresh one, or the one given.
    explicit TWindow(const std::string& settingsDir = {}) {
        w = std::make_unique<TfrmQuickMain>();
        w->AppDirectory = (settingsDir.empty() ? appDir.Path() : settingsDir) + "/";
        w->Wait = [](int) {};
        w->IniFile = std::make_unique<platform::TIniFile>(w->AppDirectory + "Vantrel.ini");
        w->OpenFolder = [this](const std::string& dir) { opened.push_back(dir); };
        w->ScreenWidthOverride = 1280;
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get())) qWarning("window not exposed");
    }
    ~TWindow() {
        if (w && w->isVisible()) w->close();
    }
    QTreeWidgetItem* Drive(const QString& name) const {
        for (int i = 0; i < w->MyComputerNode->childCount(); ++i)
            if (w->MyComputerNode->child(i)->text(0).startsWith(name)) return w->MyComputerNode->child(i);
        return nullptr;
    }
    // A click on the drive node: the scan runs inside it.
    void Select(const QString& name) {
        QTreeWidgetItem* node = Drive(name);
        QVERIFY2(node, qPrintable(name));
        w->DriveTree->setCurrentItem(node);
    }
    QStringList Log() const {
        QStringList out;
        for (int i = 0; i < w->ListView3->topLevelItemCount(); ++i) out << w->ListView3->topLevelItem(i)->text(0);
        return out;
    }
    ui::TEventLogView::TPicture LogPicture(int row) const { return w->ListView3->RowPicture(row); }
    QString Panel(int i) const { return w->StatusBar->Panel(i)->text(); }
    // The folder node at a path below the scan root ("Docs/Sub"), opening
    // each folder on the way as a user would.
    QTreeWidgetItem* Node(const QString& path) const {
        QTreeWidgetItem* n = w->ScanRootNode;
        if (!path.isEmpty()) {
            for (const QString& part : path.split(QLatin1Char('/'))) {
                n->setExpanded(true);
                QTreeWidgetItem* next = nullptr;
                for (int i = 0; i < n->childCount() && !next; ++i)
                    if (n->child(i)->text(0) == part) next = n->child(i);
                if (!next) return nullptr;
                n = next;
            }
        }
        return n;
    }
    QStringList Children(QTreeWidgetItem* n) const {
        QStringList out;
        for (int i = 0; n && i < n->childCount(); ++i) out << n->child(i)->text(0);
        return out;
    }
    int Row(const QString& caption) const {
        for (int i = 0; i < w->RowCount(); ++i)
            if (w->RowText(i, 0) == caption) return i;
        return -1;
    }
    QStringList Rows() const {
        QStringList out;
        for (int i = 0; i < w->RowCount(); ++i) out << w->RowText(i, 0);
        return out;
    }
    void Check(const QString& caption) {
        const int r = Row(caption);
        QVERIFY2(r >= 0, qPrintable(caption));
        w->ListView1->SetChecked(r, true);
    }
    void SelectRow(const QString& caption) {
        const int r = Row(caption);
        QVERIFY2(r >= 0, qPrintable(caption));
        w->ListView1->clearSelection();
        w->ListView1->SetSelected(r, true);
    }
    // Runs a search from the folder node given (the scan root when null)
    // and returns the result rows' captions in list order.
    QStringList Find(const TSearch& q, QTreeWidgetItem* from = nullptr) {
        w->TreeView1->setCurrentItem(from ? from : w->ScanRootNode);
        ui::TSearchPage& p = *w->SearchPage;
        w->TabSet1->setCurrentIndex(2);
        p.CheckBox2->setChecked(!q.names.isEmpty());
        p.Edit1->setText(q.names);
        p.CheckBox1->setChecked(q.caseSensitive);
        p.CheckBox3->setChecked(q.dateKind >= 0);
        if (q.dateKind >= 0) {
            p.ComboBox1->setCurrentIndex(q.dateKind);
            p.ComboBox3->setCurrentIndex(4);  // "Specify"
            p.DateTimePicker1->setDate(q.from);
            p.DateTimePicker2->setDate(q.to);
        }
        p.CheckBox4->setChecked(q.sizeFrom >= 0);
        if (q.sizeFrom >= 0) {
            p.SpinEdit1->setValue(q.sizeFrom);
            p.SpinEdit2->setValue(q.sizeTo);
        }
        p.SetRadioGroupIndex(q.deletedOnly ? 0 : 1);
        QTest::mouseClick(p.Button1, Qt::LeftButton);
        return Rows();
    }
    // Recover through the target-folder dialog, confirmed with dir.
    // The target-folder dialog's part: the folder typed in, OK clicked.
    static vt::uitest::ModalDriver::Step ChooseTarget(const std::string& dir) {
        return [dir](QWidget* modal) {
            auto* d = qobject_cast<TfrmSelDir*>(modal);
            QVERIFY(d);
            d->Edit1->setText(QString::fromStdString(dir));
            QTest::mouseClick(d->Button2, Qt::LeftButton);
        };
    }
    void Recover(const std::string& dir) {
        vt::uitest::ModalDriver driver({ChooseTarget(dir)});
        w->RecoverExecute();
    }
    // Recover as a user does it: the toolbar button, then the dialog.
    void RecoverFromTheToolbar(const std::string& dir) {
        vt::uitest::ModalDriver driver({ChooseTarget(dir)});
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
    }
};

Bytes FileBytes(const fs::path& p) { return vt::test::ReadWholeFile(p.string()); }

// Every file below dir, as paths relative to it.
std::set<std::string> FilesBelow(const std::string& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        out.insert(fs::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
    return out;
}

int ManifestLines(const std::string& name) {
    const std::string text = vt::test::ReadTextFile(vt::test::ImagePath(name));
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// A message pump that runs the toolkit at every call, so that clicks
// queued before a scan arrive inside it; hook runs before each pump.
void PumpEveryCall(std::function<void()> hook = {}) {
    platform::SetMessagePump(
        [hook] {
            if (hook) hook();
            QCoreApplication::processEvents();
        },
        std::chrono::milliseconds(0));
}


}  // namespace

Q_DECLARE_METATYPE(TSearch)

class QuickMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        ui::InstallPlatformHooks();
        DiskUtils::Initialize();
        DiskParam::Initialize();
    }
    void init() { ui::InstallPlatformHooks(); }
    void cleanup() {
        vt::uitest::CloseModalWindows();
        ui::InstallPlatformHooks();
        vt::test::InstallProfile("");
        DiskUtils::Initialize();
    }

    void ShowsDrivesGreetingAndStartLine() {
        vt::test::InstallProfile("[logical.A]\ntype=removable\n[logical.E]\nimage=fat16.img\n");
        TWindow t;
        QCOMPARE(t.w->MyComputerNode->childCount(), 2);
        QCOMPARE(t.Drive("A:")->text(0), QStringLiteral("A:  (0.00 MB)  无卷标"));
        QCOMPARE(t.Drive("E:")->text(0), QStringLiteral("E:  (16.00 MB)  FAT16VOL"));
        QVERIFY(t.w->MyComputerNode->isExpanded());
        QCOMPARE(t.Log(), QStringList{"快速恢复已启动"});
        QCOMPARE(t.Panel(0), QStringLiteral(" Directory"));
        // The greeting: 16 asterisks, the text, 14 asterisks, zeros to 64.
        const std::string greeting = std::string(16, '*') + "感谢你使用 Vantrel." + std::string(14, '*');
        QCOMPARE(std::string(reinterpret_cast<const char*>(t.w->HexBuffer.data()), greeting.size()), greeting);
        for (std::size_t i = greeting.size(); i < t.w->HexBuffer.size(); ++i) QCOMPARE(t.w->HexBuffer[i], 0);
        // "My Computer" can never be selected; nothing is scanned.
        t.w->DriveTree->setCurrentItem(t.w->MyComputerNode);
        QVERIFY(t.w->DriveTree->currentItem() != t.w->MyComputerNode);
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("Scan Results"));
        QCOMPARE(t.w->RowCount(), 0);
    }

    // A scan, the tree with its pictures, the list, and the recovery of a
    // deleted folder and some files, compared with the files the fixture
    // script put on the volumes.
    void FatScanBrowseAndRecover_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QStringList>("rootFolders");    // the root's folders, in the tree's order
        QTest::addColumn<QString>("deletedFolder");       // picture 4
        QTest::addColumn<QString>("lostFolder");          // picture 6, or empty
        QTest::addColumn<QString>("grandChild");          // a folder below a root folder: one level ahead
        QTest::addColumn<QStringList>("checkedFiles");    // files of the root to check
        // Files expected in the target: recovered path, original name, size.
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("FAT12") << "fat12.img" << QStringList{"Docs", "OldDir"} << "OldDir" << ""
                               << "Docs/Sub" << QStringList{"Readme.txt", "Deleted long name.txt", "?one.txt"}
                               << QStringList{"Readme.txt|README.TXT|100",
                                              "Deleted long name.txt|Deleted long name.txt|2000",
                                              "@one.txt|GONE.TXT|300", "OldDir/@.txt|A.TXT|10",
                                              "OldDir/Longer name.txt|Longer name.txt|600"};
        QTest::newRow("FAT16") << "fat16.img" << QStringList{"Baddir", "Photos", "Trash"} << "Trash" << "Baddir"
                               << "Photos/2023" << QStringList{"Readme.txt", "?one.txt"}
                               << QStringList{"Readme.txt|README.TXT|5000", "@one.txt|GONE.TXT|1000",
                                              "Trash/Junk.bin|JUNK.BIN|2500",
                                              "Trash/Deeper/旧文件.txt|旧文件.txt|800"};
    }
    void FatScanBrowseAndRecover() {
        QFETCH(QString, image);
        QFETCH(QStringList, rootFolders);
        QFETCH(QString, deletedFolder);
        QFETCH(QString, lostFolder);
        QFETCH(QString, grandChild);
        QFETCH(QStringList, checkedFiles);
        QFETCH(QStringList, expected);
        vt::test::InstallProfile("[logical.E]\nimage=" + image.toStdString() + "\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));

        const QString count = QStringLiteral("发现 %1 个项目").arg(ManifestLines(image.section('.', 0, 0).toStdString() + ".manifest"));
        QCOMPARE(t.Log(), (QStringList{"快速恢复已启动", "驱动器扫描已经启动  -  E:", "正在扫描驱动器 E:  . . .",
                                       "驱动器扫描完成", count}));
        QCOMPARE(t.Panel(0), QStringLiteral(" 目录"));
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("E:\\"));
        QCOMPARE(t.w->TreeView1->currentItem(), t.w->ScanRootNode);
        QVERIFY(t.w->ScanRootNode->isExpanded());
        QCOMPARE(t.Children(t.w->ScanRootNode), rootFolders);
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\"));

        // Pictures: present 2, deleted 4, lost contents 6 (never filled,
        // never selected).
        QCOMPARE(TfrmQuickMain::NodeImage(t.Node(grandChild.section('/', 0, 0))), 2);
        QCOMPARE(TfrmQuickMain::NodeImage(t.Node(deletedFolder)), 4);
        if (!lostFolder.isEmpty()) {
            QTreeWidgetItem* lost = t.Node(lostFolder);
            QCOMPARE(TfrmQuickMain::NodeImage(lost), 6);
            QCOMPARE(lost->childCount(), 0);
            t.w->TreeView1->setCurrentItem(lost);
            QCOMPARE(t.w->TreeView1->currentItem(), t.w->ScanRootNode);
        }
        // One level ahead: a root folder's sub-folder exists before it is opened.
        const int parentRow = t.Children(t.w->ScanRootNode).indexOf(grandChild.section('/', 0, 0));
        QVERIFY(!t.w->ScanRootNode->child(parentRow)->isExpanded());
        QVERIFY(t.w->ScanRootNode->child(parentRow)->childCount() > 0);
        QVERIFY(t.Node(grandChild));

        // The root's list: folders first, the deleted count in panel 2.
        int deleted = 0;
        for (int i = 0; i < t.w->RowCount(); ++i) deleted += t.w->RowText(i, 2).isEmpty() ? 0 : 1;
        QCOMPARE(t.Panel(2), QStringLiteral(" %1 项目 < 已删除: %2 项目 >").arg(t.w->RowCount()).arg(deleted));
        for (int i = 1; i < t.w->RowCount(); ++i) QVERIFY(t.w->RowImage(i - 1) <= t.w->RowImage(i));
        QCOMPARE(t.w->RowText(t.Row(deletedFolder), 2), QStringLiteral("已删除"));
        if (!lostFolder.isEmpty()) QCOMPARE(t.w->RowText(t.Row(lostFolder), 2), QStringLiteral("已损坏"));

        // Open a sub-folder: its path and list.
        t.w->TreeView1->setCurrentItem(t.Node(grandChild));
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\") + QString(grandChild).replace('/', '\\'));
        t.w->Action(QStringLiteral("Up"))->trigger();
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(grandChild.section('/', 0, 0)));
        t.w->Action(QStringLiteral("Up"))->trigger();
        QCOMPARE(t.w->TreeView1->currentItem(), t.w->ScanRootNode);
        t.w->Action(QStringLiteral("Up"))->trigger();  // the root has no parent
        QCOMPARE(t.w->TreeView1->currentItem(), t.w->ScanRootNode);

        t.Check(deletedFolder);
        for (const QString& f : checkedFiles) t.Check(f);
        vt::test::TempDir target;
        t.Recover(target.Path());
        QCOMPARE(t.Log().last(), QStringLiteral("恢复完成。"));
        QCOMPARE(t.w->TabSet1->currentIndex(), 3);
        QCOMPARE(t.opened, std::vector<std::string>{target.Path()});
        QCOMPARE(t.Panel(0), QStringLiteral(" 目录"));
        QVERIFY(!t.w->Undelete->Busy);
        for (const QString& e : expected) {
            const QStringList f = e.split('|');
            const Bytes want = vt::test::YesContent(f[1].toStdString(), f[2].toULongLong());
            QVERIFY2(FileBytes(fs::path(target.Path()) / f[0].toStdString()) == want, qPrintable(f[0]));
        }
    }

    // Records the scan could not list are counted in the log: a torn one,
    // and (a sector of the table that no longer reads) one that is lost.
    void NtfsScanCountsTheRecordsItCouldNotList() {
        std::int64_t sector = -1;
        {
            vt::test::InstallProfile("[logical.E]\nimage=ntfs-damaged.img\n");
            DiskUtils::Initialize();
            TUndelete u;
            QVERIFY(u.OpenDrive(u.Drives.at(0).get(), false, nullptr, nullptr));
            for (const auto& e : vt::test::ReadNtfsManifest("ntfs-damaged.manifest"))
                if (e.path == "/taker.txt") sector = u.MftPosToSector(e.record);
        }
        QVERIFY(sector > 0);
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-damaged.img\nunreadable=" + std::to_string(sector) + "\n");
        platform::MessageBoxRecorder boxes;
        TWindow t;
        t.Select(QStringLiteral("E:"));
        QCOMPARE(t.Log().at(3), QStringLiteral("驱动器扫描完成"));
        QCOMPARE(t.Log().mid(5), (QStringList{QStringLiteral("1 个文件记录已损坏，未列出"),
                                              QStringLiteral("1 个文件记录无法读取，未列出")}));
    }

    void NtfsScanBrowseAndRecover() {
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-4096.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        QCOMPARE(t.Log().at(3), QStringLiteral("驱动器扫描完成"));
        QVERIFY(t.Log().at(4).startsWith(QStringLiteral("发现 ")));
        // The drive node (E:) with the root folder "\" below it, selected.
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("E:"));
        QCOMPARE(t.w->ScanRootNode->child(0)->text(0), QStringLiteral("\\"));
        QCOMPARE(t.w->TreeView1->currentItem(), t.w->ScanRootNode->child(0));
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\"));
        QTreeWidgetItem* deep = t.Node(QStringLiteral("\\/Documents/Projects/Deep"));
        QVERIFY(deep);
        QCOMPARE(TfrmQuickMain::NodeImage(t.Node(QStringLiteral("\\/OldTree"))), 4);
        QCOMPARE(TfrmQuickMain::NodeImage(t.Node(QStringLiteral("\\/Documents"))), 2);
        t.w->TreeView1->setCurrentItem(deep);
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\Documents\\Projects\\Deep"));
        t.w->TreeView1->setCurrentItem(t.Node(QStringLiteral("\\")));

        for (const char* c : {"OldTree", "Documents", "deleted.txt", "one.bin", "sparse.bin"}) t.Check(QString::fromUtf8(c));
        vt::test::TempDir target;
        t.Recover(target.Path());
        QCOMPARE(t.Log().last(), QStringLiteral("恢复完成。"));
        // Every recovered file is its original, and the checked ones are all there.
        std::map<std::string, vt::test::NtfsManifestEntry> byPath;
        for (const auto& e : vt::test::ReadNtfsManifest("ntfs-4096.manifest"))
            if (e.deleted != "reused") byPath[e.path.substr(1)] = e;
        const std::set<std::string> files = FilesBelow(target.Path());
        for (const char* must : {"OldTree/a.txt", "OldTree/Sub/b.bin", "OldTree/Sub/c.txt", "Documents/report.doc",
                                 "Documents/Projects/Deep/leaf.dat", "deleted.txt", "one.bin", "sparse.bin"})
            QVERIFY2(files.count(must), must);
        for (const std::string& f : files) {
            if (f.back() == '/') continue;
            auto it = byPath.find(f);
            QVERIFY2(it != byPath.end(), f.c_str());
            QVERIFY2(FileBytes(fs::path(target.Path()) / f) == vt::test::NtfsContent(it->second.content), f.c_str());
        }
    }

    // "Stop" pressed while the scan runs: the warning line and what was
    // found so far.
    void StopDuringScanShowsThePartialListing() {
        vt::test::InstallProfile("[logical.E]\nimage=fat32.img\n");
        TWindow t;
        PumpEveryCall();
        QTimer::singleShot(0, t.w.get(), [&] { t.w->Action(QStringLiteral("Stop"))->trigger(); });
        t.Select(QStringLiteral("E:"));
        const QStringList log = t.Log();
        QCOMPARE(log.at(3), QStringLiteral("驱动器扫描被用户中止"));
        QCOMPARE(t.LogPicture(3), ui::TEventLogView::TPicture::Warning);
        const int found = log.at(4).section(' ', 1, 1).toInt();
        QVERIFY2(found > 0 && found < ManifestLines("fat32.manifest"), qPrintable(log.at(4)));
        QVERIFY(t.w->RowCount() > 0);
        // A re-scan reads the drive again and completes.
        platform::SetMessagePump([] { QCoreApplication::processEvents(); });
        t.w->Action(QStringLiteral("Scan"))->trigger();
        QCOMPARE(t.Log().mid(5), (QStringList{"驱动器扫描已经启动  -  E:", "正在扫描驱动器 E:  . . .", "驱动器扫描完成",
                                              QStringLiteral("发现 %1 个项目").arg(ManifestLines("fat32.manifest"))}));
    }

    // "Stop" in the middle of a batch: the current file ends with the stop
    // line and is not left, the rows after it are not recovered, and the
    // batch ends with that line, not as complete.
    void StopDuringRecoveryEndsTheBatch() {
        vt::test::InstallProfile("[logical.E]\nimage=recover16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        for (const char* c : {"One.bin", "Several.bin", "Exact.bin"}) t.Check(QString::fromUtf8(c));
        bool pressed = false;
        PumpEveryCall([&] {
            if (!pressed && t.w->Undelete->Busy && !QApplication::activeModalWidget()) {
                pressed = true;
                t.w->Action(QStringLiteral("Stop"))->trigger();
            }
        });
        vt::test::TempDir target;
        t.Recover(target.Path());
        QVERIFY(pressed);
        const QStringList log = t.Log();
        // The first checked row in list order is the one that was running.
        QCOMPARE(log.last(), QStringLiteral("Exact.bin:  恢复被用户中止"));
        QCOMPARE(t.LogPicture(log.size() - 1), ui::TEventLogView::TPicture::Warning);
        QVERIFY(!log.contains(QStringLiteral("恢复完成。")));
        QCOMPARE(FilesBelow(target.Path()), std::set<std::string>{});
        QCOMPARE(t.w->TabSet1->currentIndex(), 3);
        QCOMPARE(t.opened.size(), std::size_t(1));
    }

    // "Stop" pressed while the batch waits for the files it handed to the
    // writer (the last one held there until the Stop comes): every file was
    // whole and is written, and the batch ends with a stop line of the
    // window's own, not as complete.
    void StopWhileTheWriterFinishesEndsTheBatchWithItsLine() {
        vt::test::InstallProfile("[logical.E]\nimage=recover16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.Check(QStringLiteral("Gone"));
        // Gone holds three files; the writer takes the third once the
        // batch waits for it.
        std::atomic<int> taken{0};
        std::atomic<bool> held{false}, pressed{false};
        vt::SetWriterHookForTests([&] {
            if (++taken != 3) return;
            held = true;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!pressed && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        PumpEveryCall([&] {
            if (!held || pressed) return;
            t.w->Action(QStringLiteral("Stop"))->trigger();
            pressed = true;
        });
        vt::test::TempDir target;
        t.Recover(target.Path());
        vt::SetWriterHookForTests(nullptr);
        QVERIFY(pressed);
        const QStringList log = t.Log();
        QCOMPARE(log.last(), QStringLiteral("恢复被用户中止"));
        QCOMPARE(t.LogPicture(log.size() - 1), ui::TEventLogView::TPicture::Warning);
        QVERIFY(!log.contains(QStringLiteral("恢复完成。")));
        const auto files = FilesBelow(target.Path());
        QCOMPARE(std::count_if(files.begin(), files.end(), [](const std::string& f) { return f.back() != '/'; }), 3);
    }

    // The target's file system reports a failed write only when it writes
    // back (a full or failing stick): the batch ends with the target's line
    // and is not called complete.
    void AFailedWriteBackEndsTheBatchWithTheTargetsLine() {
        vt::test::InstallProfile("[logical.E]\nimage=recover16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.Check(QStringLiteral("One.bin"));
        int synced = 0;
        vt::SetSyncHookForTests([&](int) {
            ++synced;
            return EIO;
        });
        vt::test::TempDir target;
        t.Recover(target.Path());
        vt::SetSyncHookForTests(nullptr);
        QCOMPARE(synced, 1);
        const QStringList log = t.Log();
        QCOMPARE(log.last(), QString::fromStdString(target.Path() + ":  无法写入目标驱动器，" + std::strerror(EIO)));
        QCOMPARE(t.LogPicture(log.size() - 1), ui::TEventLogView::TPicture::Error);
        QVERIFY(!log.contains(QStringLiteral("恢复完成。")));
    }

    // A target that takes no more than a byte of any file (a file-size
    // limit): Gone's two files with bytes get no names, each is named in
    // the log as not written, its empty one comes back, and the batch,
    // written back, ends complete.
    void ATargetThatTakesNoFileWholeLeavesNoNames() {
        vt::test::InstallProfile("[logical.E]\nimage=recover16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.Check(QStringLiteral("Gone"));
        vt::test::TempDir target;
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tight = before;
        tight.rlim_cur = 1;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tight), 0);
        t.Recover(target.Path());
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, xfsz);
        // Only the empty file is whole.
        std::set<std::string> files;
        for (const std::string& f : FilesBelow(target.Path()))
            if (f.back() != '/') files.insert(f);
        QCOMPARE(files, std::set<std::string>{"Gone/Sub/@mpty.txt"});
        QVERIFY(fs::is_empty(target.Path() + "/Gone/Sub/@mpty.txt"));
        const QStringList log = t.Log();
        QCOMPARE(log.mid(log.size() - 3),
                 (QStringList{QStringLiteral("Gone/Deleted file.txt:  无法写入目标驱动器"),
                              QStringLiteral("Gone/Sub/@nner.txt:  无法写入目标驱动器"), QStringLiteral("恢复完成。")}));
    }

    // A Stop in the middle of a file, then a write-back that fails: the
    // engine's stop line, the target's line, and the stop line again last.
    void AStopThenAFailedWriteBackEndsWithTheStopLine() {
        vt::test::InstallProfile("[logical.E]\nimage=recover16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.Check(QStringLiteral("One.bin"));
        vt::SetSyncHookForTests([](int) { return EIO; });
        bool pressed = false;
        PumpEveryCall([&] {
            if (pressed || !t.w->Undelete->Busy) return;
            pressed = true;
            t.w->Action(QStringLiteral("Stop"))->trigger();
        });
        vt::test::TempDir target;
        t.Recover(target.Path());
        vt::SetSyncHookForTests(nullptr);
        platform::SetMessagePump(nullptr);
        QVERIFY(pressed);
        const QStringList log = t.Log();
        QVERIFY(log.size() >= 3);
        QCOMPARE(log.at(log.size() - 3), QStringLiteral("One.bin:  恢复被用户中止"));
        QCOMPARE(log.at(log.size() - 2),
                 QString::fromStdString(target.Path() + ":  无法写入目标驱动器，" + std::strerror(EIO)));
        QCOMPARE(log.last(), QStringLiteral("恢复被用户中止"));
        QCOMPARE(t.LogPicture(log.size() - 1), ui::TEventLogView::TPicture::Warning);
        QVERIFY(FilesBelow(target.Path()).empty());
    }

    // The chosen folder is moved away during the batch and a link to
    // another folder put in its place: the batch still writes into the
    // folder it chose and writes that back; the link is not opened, and the
    // log says so before the batch's end.
    void AFolderSwappedForALinkDuringTheBatchIsNotOpened() {
        vt::test::InstallProfile("[logical.E]\nimage=recover16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.Check(QStringLiteral("One.bin"));
        vt::test::TempDir base, elsewhere;
        const std::string target = base.Path() + "/chosen", moved = base.Path() + "/moved";
        QVERIFY(fs::create_directory(target));
        struct stat chosen {};
        QCOMPARE(::stat(target.c_str(), &chosen), 0);
        bool swapped = false;
        PumpEveryCall([&] {
            if (swapped || !t.w->Undelete->Busy) return;
            swapped = true;
            fs::rename(target, moved);
            fs::create_directory_symlink(elsewhere.Path(), target);
        });
        bool syncedChosen = false;
        vt::SetSyncHookForTests([&](int fd) {
            struct stat st {};
            syncedChosen = ::fstat(fd, &st) == 0 && st.st_dev == chosen.st_dev && st.st_ino == chosen.st_ino;
            return -1;
        });
        t.Recover(target);
        vt::SetSyncHookForTests(nullptr);
        platform::SetMessagePump(nullptr);
        QVERIFY(swapped);
        QVERIFY(syncedChosen);
        QVERIFY(t.opened.empty());
        QCOMPARE(FilesBelow(moved), std::set<std::string>{"One.bin"});
        QVERIFY(FilesBelow(elsewhere.Path()).empty());
        const QStringList log = t.Log();
        QCOMPARE(log.at(log.size() - 2), QString::fromStdString(target + ":  目标文件夹已被移动或替换，未打开"));
        QCOMPARE(t.LogPicture(log.size() - 2), ui::TEventLogView::TPicture::Warning);
        QCOMPARE(log.last(), QStringLiteral("恢复完成。"));
    }

    // While the scan runs the window refuses drive changes, re-scans,
    // expansions, double clicks, Find, Recover, Scan32 and closing; after
    // it they work.
    void ClicksWhileBusyDoNothing() {
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-512.img\n[logical.F]\nimage=fat32.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        // Documents is shown, its sub-folder Projects too (one level ahead),
        // but Projects' own sub-folder comes only when Documents is opened.
        QTreeWidgetItem* documents = t.Node(QStringLiteral("\\")) ->child(0);
        for (int i = 0; i < t.Node(QStringLiteral("\\"))->childCount(); ++i)
            if (t.Node(QStringLiteral("\\"))->child(i)->text(0) == QStringLiteral("Documents"))
                documents = t.Node(QStringLiteral("\\"))->child(i);
        QCOMPARE(documents->text(0), QStringLiteral("Documents"));
        QVERIFY(!documents->isExpanded());
        QTreeWidgetItem* projects = documents->child(0);
        QCOMPARE(projects->childCount(), 0);
        platform::MessageBoxRecorder boxes;
        int tried = 0;
        int grandChildrenWhileBusy = -1;
        QString listedWhileBusy;
        PumpEveryCall([&] {
            if (tried || !t.w->Undelete->Busy) return;
            ++tried;
            t.w->DriveTree->setCurrentItem(t.Drive("E:"));
            t.w->Action(QStringLiteral("Scan"))->trigger();
            documents->setExpanded(true);
            grandChildrenWhileBusy = projects->childCount();
            t.w->TreeView1->setCurrentItem(documents);
            listedWhileBusy = t.Panel(1);
            t.w->RecoverExecute();
            t.w->acScan32Execute();
            t.w->Button1Click();
            t.w->ListView1DblClick();
            t.w->Action(QStringLiteral("acClose"))->trigger();
        });
        t.Select(QStringLiteral("F:"));
        QCOMPARE(tried, 1);
        QCOMPARE(grandChildrenWhileBusy, 0);
        QVERIFY(!listedWhileBusy.contains(QStringLiteral("Documents")));
        QVERIFY(t.w->isVisible());
        QVERIFY(boxes.calls.empty());
        QCOMPARE(t.Log().count(QStringLiteral("驱动器扫描完成")), 2);  // the E: scan and this one
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("F:\\"));
        QVERIFY(t.w->DriveTree->currentItem() == t.Drive("F:"));
        // Afterwards the same clicks work.
        platform::SetMessagePump([] { QCoreApplication::processEvents(); });
        t.w->RecoverExecute();
        QCOMPARE(boxes.calls.size(), std::size_t(1));
        QCOMPARE(boxes.calls[0].text, std::string("没有选择恢复的文件，请选择要恢复的文件。"));
        t.w->DriveTree->setCurrentItem(t.Drive("E:"));
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("E:"));
        t.Node(QStringLiteral("\\/Documents"))->setExpanded(true);
        QCOMPARE(t.Node(QStringLiteral("\\/Documents/Projects"))->childCount(), 1);
        t.w->Action(QStringLiteral("acClose"))->trigger();
        QVERIFY(!t.w->isVisible());
    }

    // The launcher's "Standard Recovery" opens the window modally, a new one
    // each time, and frees it when it closes.
    void LauncherOpensAFreshWindowEachTime() {
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n");
        vt::test::TempDir appDir;
        const std::string savedAppDir = AppDir;
        AppDir = appDir.Path() + "/";
        ui::RegisterToolWindows();
        TfrmVtMain launcher;
        launcher.show();
        for (int round = 0; round < 2; ++round) {
            QPointer<TfrmQuickMain> seen;
            bool modal = false, fresh = false;
            vt::uitest::ModalDriver driver({[&](QWidget* top) {
                seen = qobject_cast<TfrmQuickMain*>(top);
                QVERIFY(seen);
                modal = seen->windowModality() == Qt::ApplicationModal;
                fresh = seen->ScanRootNode->text(0) == QStringLiteral("Scan Results") && seen->RowCount() == 0;
                seen->DriveTree->setCurrentItem(seen->MyComputerNode->child(0));
                QCOMPARE(seen->ScanRootNode->text(0), QStringLiteral("E:\\"));
                seen->Action(QStringLiteral("acClose"))->trigger();
            }});
            launcher.SpeedButton1Click();
            QVERIFY(modal);
            QVERIFY(fresh);
            QVERIFY(seen.isNull());  // freed when it closed
        }
        QVERIFY(fs::exists(appDir.Path() + "/Vantrel.ini"));
        AppDir = savedAppDir;
    }

    // Find by names, by each date kind (both days whole), by size (1 KB =
    // 1000 bytes, either order), deleted only, from the root and from a
    // folder; the results' location column.
    void FindOnAFatVolume_data() {
        QTest::addColumn<TSearch>("search");
        QTest::addColumn<QString>("from");  // folder to search from, empty for the drive
        QTest::addColumn<QStringList>("found");
        const QDate made(2024, 3, 15), copied(2023, 7, 1);
        auto names = [](const char* n) {
            TSearch q;
            q.names = QString::fromUtf8(n);
            return q;
        };
        QTest::newRow("masks") << names("*.txt,*.jpg") << ""
                               << QStringList{"Readme.txt", "lower.txt", "Été à Paris.jpg", "照片.jpg", "旧文件.txt",
                                              "?one.txt"};
        QTest::newRow("a blank after the comma belongs to the mask")
            << names("*.txt, *.jpg") << "" << QStringList{"Readme.txt", "lower.txt", "旧文件.txt", "?one.txt"};
        // The scan applied the case rule of short names: Readme.txt.
        QTest::newRow("any case") << names("r*") << "" << QStringList{"Readme.txt"};
        TSearch cs = names("r*");
        cs.caseSensitive = true;
        QTest::newRow("case sensitive") << cs << "" << QStringList{};
        TSearch del = names("*");
        del.deletedOnly = true;
        QTest::newRow("deleted only, lost contents too")
            << del << "" << QStringList{"Baddir", "Trash", "Deeper", "旧文件.txt", "Junk.bin", "?one.txt"};
        TSearch size;
        size.sizeFrom = 5;
        size.sizeTo = 1;  // either order; 1000 and 5000 bytes themselves included
        QTest::newRow("size") << size << "" << QStringList{"Readme.txt", "照片.jpg", "Junk.bin", "?one.txt"};
        QTest::newRow("from a folder") << names("*") << "Photos" << QStringList{"2023", "Été à Paris.jpg", "照片.jpg"};
        // The files were written with the last write (and creation) time
        // 08:30 of that day, the folders on the day the volume was made.
        TSearch modified;
        modified.dateKind = 1;
        modified.from = modified.to = copied;
        modified.names = QStringLiteral("*.jpg");
        QTest::newRow("modified on one day") << modified << "" << QStringList{"Été à Paris.jpg", "照片.jpg"};
        TSearch created = modified;
        created.dateKind = 0;
        created.from = copied.addDays(2);
        created.to = copied;  // either order
        QTest::newRow("created within the days") << created << "" << QStringList{"Été à Paris.jpg", "照片.jpg"};
        created.from = copied.addDays(-3);
        created.to = copied.addDays(-1);
        QTest::newRow("created: not those days") << created << "" << QStringList{};
        TSearch folders;
        folders.dateKind = 0;
        folders.from = folders.to = made;
        QTest::newRow("created on the day of the folders")
            << folders << "Photos" << QStringList{"2023"};
        TSearch accessed = modified;
        accessed.dateKind = 2;
        accessed.from = accessed.to = made.addDays(1);
        QTest::newRow("accessed: the day after") << accessed << "" << QStringList{};
    }
    void FindOnAFatVolume() {
        QFETCH(TSearch, search);
        QFETCH(QString, from);
        QFETCH(QStringList, found);
        vt::test::InstallProfile("[logical.E]\nimage=fat16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        const QStringList rows = t.Find(search, from.isEmpty() ? nullptr : t.Node(from));
        QCOMPARE(t.w->TreeView1->currentItem(), t.w->FindRootNode);
        QCOMPARE(t.w->ListView1->ColumnCaption(1), QStringLiteral("位置"));
        QCOMPARE(QSet<QString>(rows.begin(), rows.end()), QSet<QString>(found.begin(), found.end()));
        QCOMPARE(rows.size(), found.size());
        QCOMPARE(t.Panel(1), QStringLiteral(" Find Results"));
    }

    // The location column, double click and "Open parent directory" go to
    // the entry's folder; the results end when another drive is opened.
    void FindResultsLeadToTheirFolders() {
        vt::test::InstallProfile("[logical.E]\nimage=fat16.img\n[logical.F]\nimage=ntfs-2048.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        TSearch q;
        q.names = QStringLiteral("*.jpg,Readme.txt,2023");
        t.Find(q);
        QCOMPARE(t.w->RowText(t.Row(QStringLiteral("照片.jpg")), 1), QStringLiteral("E:\\Photos\\2023"));
        QCOMPARE(t.w->RowText(t.Row(QStringLiteral("Readme.txt")), 1), QStringLiteral("E:\\"));
        QCOMPARE(t.w->RowText(t.Row(QStringLiteral("2023")), 1), QStringLiteral("E:\\Photos"));
        // The popup's "Open parent directory" only while results are shown
        // and a row is selected.
        t.w->ListView1->clearSelection();
        t.w->PopupMenu1Popup();
        QAction* open = t.w->PopupItem(QStringLiteral("Openparentdirectory1"));
        QVERIFY(!open->isEnabled());
        t.SelectRow(QStringLiteral("照片.jpg"));
        t.w->PopupMenu1Popup();
        QVERIFY(open->isEnabled());
        open->trigger();
        QCOMPARE(t.w->TreeView1->currentItem()->text(0), QStringLiteral("2023"));
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\Photos\\2023"));
        QCOMPARE(t.Rows(), QStringList{"照片.jpg"});
        t.w->PopupMenu1Popup();
        QVERIFY(!open->isEnabled());
        // A folder of the results opens on double click.
        t.w->TreeView1->setCurrentItem(t.w->FindRootNode);
        t.SelectRow(QStringLiteral("2023"));
        t.w->ListView1DblClick();
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("Photos/2023")));
        // Find while "Find Results" is selected does nothing; without a
        // condition, or with blanks for names, the warning; a negative size
        // the error, even with "By Size" off.
        platform::MessageBoxRecorder boxes;
        t.w->TreeView1->setCurrentItem(t.w->FindRootNode);
        t.w->Button1Click();
        QVERIFY(boxes.calls.empty());
        t.Find(ByName(QStringLiteral("   ")));
        t.w->SearchPage->SpinEdit1->setValue(-1);
        t.w->SearchPage->CheckBox2->setChecked(true);
        t.w->SearchPage->Edit1->setText(QStringLiteral("*"));
        t.w->Button1Click();
        QCOMPARE(boxes.calls.size(), std::size_t(2));
        QCOMPARE(boxes.calls[0].text, std::string("你必须指定一种搜索条件。"));
        QCOMPARE(boxes.calls[0].type & 0xF0, win::MB_ICONWARNING);
        QCOMPARE(boxes.calls[1].text, std::string("文件大小至少不能为  0."));
        QCOMPARE(boxes.calls[1].type & 0xF0, win::MB_ICONERROR);
        t.w->SearchPage->SpinEdit1->setValue(0);

        // NTFS: the root folder's files show the drive and "\".
        t.Find(ByName(QStringLiteral("*.jpg")));
        QCOMPARE(t.w->RowCount(), 2);
        t.Select(QStringLiteral("F:"));
        QVERIFY(t.w->Undelete->Found.empty());  // results of E: end with its opening
        t.w->TreeView1->setCurrentItem(t.w->FindRootNode);
        QCOMPARE(t.w->RowCount(), 0);
        t.Find(ByName(QStringLiteral("one.bin,leaf.dat")));
        QCOMPARE(t.w->RowText(t.Row(QStringLiteral("one.bin")), 1), QStringLiteral("F:\\"));
        QCOMPARE(t.w->RowText(t.Row(QStringLiteral("leaf.dat")), 1), QStringLiteral("F:\\Documents\\Projects\\Deep"));
        // A re-scan ends them too.
        t.w->Action(QStringLiteral("Scan"))->trigger();
        QVERIFY(t.w->Undelete->Found.empty());
    }

    // Property rows of a FAT and of an NTFS file.
    void PropertyRows() {
        using P = ui::TPropertyList;
        vt::test::InstallProfile("[logical.E]\nimage=fat16.img\n[logical.F]\nimage=ntfs-2048.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.w->TabSet1->setCurrentIndex(0);
        t.SelectRow(QStringLiteral("Readme.txt"));
        t.w->ListView1Click();
        P& props = *t.w->ListView2;
        QCOMPARE(props.Value(P::rowFileName), QStringLiteral("Readme.txt"));
        QCOMPARE(props.Caption(P::rowType), QStringLiteral("类型"));
        QCOMPARE(props.Value(P::rowSize), QStringLiteral("5000"));
        QCOMPARE(props.Value(P::rowAllocated), QStringLiteral("6144"));  // clusters of 2048 bytes
        QCOMPARE(props.Value(P::rowCreated), QStringLiteral("07/01/23 08:30 AM"));
        QCOMPARE(props.Value(P::rowModified), QStringLiteral("07/01/23 08:30 AM"));
        QVERIFY(props.Value(P::rowAccessed).endsWith(QStringLiteral(" 12:00 AM")));  // FAT keeps the day only
        QCOMPARE(props.Value(P::rowArchive), QStringLiteral("Y"));
        QCOMPARE(props.Value(P::rowReadOnly), QString());
        QCOMPARE(props.Value(P::rowCompressed), QString());
        // While a drive is busy nothing changes.
        t.SelectRow(QStringLiteral("lower.txt"));
        t.w->Undelete->Busy = true;
        t.w->ListView1Click();
        t.w->Undelete->Busy = false;
        QCOMPARE(props.Value(P::rowFileName), QStringLiteral("Readme.txt"));

        t.Select(QStringLiteral("F:"));
        t.w->TreeView1->setCurrentItem(t.Node(QStringLiteral("\\/Compressed")));
        t.SelectRow(QStringLiteral("text.txt"));
        t.w->ListView1Click();
        QCOMPARE(props.Value(P::rowSize), QStringLiteral("100000"));
        QCOMPARE(props.Value(P::rowCompressed), QStringLiteral("Y"));
        QCOMPARE(props.Value(P::rowAllocated).toLongLong() % 2048, 0);
        QVERIFY(!props.Value(P::rowModified).isEmpty());
        // Search results: row 2 is the location.
        t.Find(ByName(QStringLiteral("text.txt")));
        t.SelectRow(QStringLiteral("text.txt"));
        t.w->TabSet1->setCurrentIndex(0);
        t.w->ListView1Click();
        QCOMPARE(props.Caption(P::rowType), QStringLiteral("位置"));
        QCOMPARE(props.Value(P::rowType), QStringLiteral("F:\\Compressed"));
    }

    // The property and hex pages show the row clicked on a drive; opening
    // another drive, whose list has a file of the same name and another
    // size, leaves neither page telling of the drive before.
    void OpeningAnotherDriveLeavesNoPreviewOfTheDriveBefore() {
        using P = ui::TPropertyList;
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n[logical.F]\nimage=fat16.img\n");
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        const auto greeting = t.w->HexBuffer;
        t.w->TabSet1->setCurrentIndex(1);
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("Readme.txt")));
        QVERIFY(t.w->HexBuffer != greeting);
        t.w->TabSet1->setCurrentIndex(0);
        QCOMPARE(t.w->ListView2->Value(P::rowSize), QStringLiteral("100"));
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("F:"));
        QVERIFY(t.Row(QStringLiteral("Readme.txt")) >= 0);  // 5000 bytes there
        for (int row = 0; row < P::kRows; ++row) QCOMPARE(t.w->ListView2->Value(row), QString());
        QVERIFY(t.w->HexBuffer == greeting);
        // A click on a row of this drive shows it.
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("Readme.txt")));
        QCOMPARE(t.w->ListView2->Value(P::rowSize), QStringLiteral("5000"));
    }

    // Scan32 on the FAT32 folder whose contents are lost: its node turns
    // into a deleted folder, lists what the rescan found, and that
    // recovers like any deleted folder.
    void Scan32FindsTheLostFolderAndItsFilesRecover() {
        vt::test::InstallProfile("[logical.E]\nimage=fat32.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        QCOMPARE(TfrmQuickMain::NodeImage(t.Node(QStringLiteral("Lost"))), 6);
        platform::MessageBoxRecorder boxes;
        // A row other than a lost folder: nothing, silently.
        t.SelectRow(QStringLiteral("Many"));
        t.w->acScan32Execute();
        QCOMPARE(t.w->TreeView1->currentItem(), t.w->ScanRootNode);
        t.SelectRow(QStringLiteral("Lost"));
        t.w->acScan32Execute();
        QVERIFY(boxes.calls.empty());
        QTreeWidgetItem* lost = t.w->TreeView1->currentItem();
        QCOMPARE(lost->text(0), QStringLiteral("Lost"));
        QCOMPARE(TfrmQuickMain::NodeImage(lost), 4);
        QCOMPARE(t.Children(lost), QStringList{"Inner"});
        QCOMPARE(t.Rows(), (QStringList{"Inner", "?EEP.DOC"}));
        QCOMPARE(t.Panel(0), QStringLiteral(" 目录"));
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\Lost"));
        t.Check(QStringLiteral("Inner"));
        t.Check(QStringLiteral("?EEP.DOC"));
        vt::test::TempDir target;
        t.Recover(target.Path());
        QVERIFY(FileBytes(fs::path(target.Path()) / "@EEP.DOC") == vt::test::YesContent("KEEP.DOC", 1500));
        QVERIFY(FileBytes(fs::path(target.Path()) / "Inner" / "深层文件.txt") ==
                vt::test::YesContent("深层文件.txt", 900));
        // Its file's hex view: the extension as written, the usual bytes of .doc.
        t.SelectRow(QStringLiteral("?EEP.DOC"));
        t.w->TabSet1->setCurrentIndex(1);
        t.w->ListView1Click();
        QCOMPARE(t.w->MessageStrip->text(), QStringLiteral(" 文件 '.DOC' 的正常标题(第一二字节)是 'D0 CF'"));
    }

    // "Check all" in the root of a healthy NTFS volume (mkntfs, filled by
    // libntfs-3g), recovered with the toolbar's Recover: every folder is
    // recreated with what it holds, each file byte for byte, and the log
    // names nothing as failed.
    void CheckAllOnAHealthyNtfsVolumeLogsNoFailure() {
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-1024.img\n");
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QVERIFY(t.Row(QStringLiteral("readme.txt")) >= 0);
        vt::uitest::RightClick(t.w->ListView1->viewport(),
                               t.w->ListView1->visualRect(t.w->ListView1->Model()->index(0, 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Checkall1"))));
        vt::test::TempDir target;
        t.RecoverFromTheToolbar(target.Path());
        const QStringList log = t.Log();
        QCOMPARE(log.last(), QStringLiteral("恢复完成。"));
        for (const QString& line : log) QVERIFY2(!line.contains(QStringLiteral("恢复失败")), qPrintable(line));
        for (const auto& m : vt::test::ReadNtfsManifest("ntfs-1024.manifest")) {
            if (m.folder || m.deleted != "0") continue;
            const fs::path p = fs::path(target.Path()) / m.path.substr(1);
            QVERIFY2(fs::exists(p), m.path.c_str());
            QCOMPARE(FileBytes(p), vt::test::NtfsContent(m.content));
        }
    }

    // A checked folder whose contents are lost ("已损坏") has nothing to
    // write: it is recreated empty and named as failed, beside the files
    // checked with it.
    void AFolderWithLostContentsIsNamedAsFailed() {
        vt::test::InstallProfile("[logical.E]\nimage=fat32.img\n");
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QCOMPARE(t.w->RowText(t.Row(QStringLiteral("Lost")), 2), QStringLiteral("已损坏"));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("Lost")));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("LOWER.TXT")), Qt::ControlModifier);
        vt::uitest::RightClick(t.w->ListView1->viewport(),
                               t.w->ListView1->visualRect(t.w->ListView1->Model()->index(t.Row(QStringLiteral("LOWER.TXT")), 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Check1"))));
        vt::test::TempDir target;
        t.Recover(target.Path());
        QCOMPARE(FileBytes(fs::path(target.Path()) / "LOWER.TXT"), vt::test::YesContent("lower.txt", 40));
        // The folder comes back empty.
        QVERIFY(fs::is_directory(fs::path(target.Path()) / "Lost"));
        QVERIFY(fs::is_empty(fs::path(target.Path()) / "Lost"));
        const QStringList log = t.Log();
        QCOMPARE(log.mid(log.size() - 3), (QStringList{"正在恢复 ...", "Lost:  恢复失败", "恢复完成。"}));
        QCOMPARE(t.LogPicture(log.size() - 2), ui::TEventLogView::TPicture::Error);
    }

    // A folder whose directory has an unreadable sector lists what the
    // other sectors hold, shows as damaged, and its recovery writes those
    // files and then names the folder as failed.
    void AFolderReadInPartShowsDamagedAndIsNamedAsFailed() {
        std::uint32_t sector = 0;
        {
            vt::test::InstallProfile("[logical.E]\nimage=chains16.img\n");
            DiskUtils::Initialize();
            platform::MessageBoxRecorder quiet;
            TUndelete u;
            QVERIFY(u.OpenDrive(u.Drives.at(0).get(), false, nullptr, nullptr));
            for (const auto& e : u.Current->Entries)
                if (GetEntryDisplayName(*e) == "Big") {
                    std::array<std::uint32_t, vt::fat::kMaxChain> chain{};
                    int count = 0;
                    u.GetClusterChain(e->DirEntry.FstClusLO.get(), chain, count);
                    QVERIFY(count >= 3);
                    sector = *u.FatClusterSector(chain[1]);
                }
        }
        QVERIFY(sector > 0);
        vt::test::InstallProfile("[logical.E]\nimage=chains16.img\nunreadable=" + std::to_string(sector) + "\n");
        platform::MessageBoxRecorder boxes;
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QCOMPARE(boxes.calls.size(), std::size_t{1});
        const int big = t.Row(QStringLiteral("Big"));
        QVERIFY(big >= 0);
        QCOMPARE(t.w->RowText(big, 2), QStringLiteral("已损坏"));
        // It still opens, with the files its readable sectors hold.
        vt::uitest::DoubleClickRow(t.w->ListView1, big);
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("Big")));
        QCOMPARE(t.Rows().size(), 24);
        vt::uitest::ClickNode(t.w->TreeView1, t.w->ScanRootNode);
        QCOMPARE(t.Row(QStringLiteral("Big")), big);
        vt::uitest::ClickRow(t.w->ListView1, big);
        vt::uitest::RightClick(t.w->ListView1->viewport(),
                               t.w->ListView1->visualRect(t.w->ListView1->Model()->index(big, 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Check1"))));
        vt::test::TempDir target;
        t.Recover(target.Path());
        // The first cluster holds 14 files, the unreadable one 16, the rest 10.
        const std::set<std::string> written = FilesBelow(target.Path() + "/Big");
        QCOMPARE(written.size(), std::size_t{24});
        for (const std::string& f : written) {
            std::string original = f;
            for (char& c : original) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            QCOMPARE(FileBytes(fs::path(target.Path()) / "Big" / f), vt::test::YesContent(original, 60));
        }
        const QStringList log = t.Log();
        QCOMPARE(log.mid(log.size() - 3), (QStringList{"正在恢复 ...", "Big:  恢复失败", "恢复完成。"}));
        QCOMPARE(t.LogPicture(log.size() - 2), ui::TEventLogView::TPicture::Error);
    }

    // The root has no row of its own: a root directory read in part is
    // said in the log, and the entries of its other sectors are listed.
    void ARootReadInPartIsSaidInTheLog() {
        const auto boot = vt::test::ReadWholeFile(vt::test::ImagePath("chains16.img"));
        const std::uint32_t root = vt::LoadLe16(boot.data() + 0x0E) + 2u * vt::LoadLe16(boot.data() + 0x16);
        vt::test::InstallProfile("[logical.E]\nimage=chains16.img\nunreadable=" + std::to_string(root + 1) + "\n");
        platform::MessageBoxRecorder boxes;
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QVERIFY2(t.Row(QStringLiteral("One1.tmp")) >= 0, "the first sector is read");
        const QStringList log = t.Log();
        QCOMPARE(log.last(), QStringLiteral("根目录未能完整读出，只列出了一部分"));
        QCOMPARE(t.LogPicture(log.size() - 1), ui::TEventLogView::TPicture::Warning);
    }

    // A FAT32 drive whose sector 0 misplaces its folders while its backup
    // places them is read by the backup: clicking it lists the folder's
    // file, and the log says which sector the layout came from.
    void AFat32DriveReadByItsBackupBootSectorIsSaidInTheLog() {
        vt::test::InstallProfile("[logical.E]\nimage=std32.img\n");
        platform::MessageBoxRecorder boxes;
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QVERIFY2(t.Row(QStringLiteral("FRAG.BIN")) >= 0, "the root is listed");
        const QStringList log = t.Log();
        QCOMPARE(log.last(), QStringLiteral("引导扇区与卷不符，已按第 6 扇区的备份引导扇区读取"));
        QCOMPARE(t.LogPicture(log.size() - 1), ui::TEventLogView::TPicture::Warning);
    }

    // Names that mcopy writes, and names other systems leave, as a user
    // sees and recovers them: every long name as the volume holds it, each
    // file under its own name, byte for byte.
    void NamesOfAVolumeShowAndRecoverAsItHoldsThem() {
        vt::test::InstallProfile("[logical.E]\nimage=names16.img\n");
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        struct Named {
            QString shown;
            std::string target, original;
            std::size_t size;
        };
        const Named named[] = {
            {QStringLiteral("._Quarterly Report.docx"), "._Quarterly Report.docx", "._Quarterly Report.docx", 1300},
            {QStringLiteral(".gitignore_global_backup"), ".gitignore_global_backup", ".gitignore_global_backup", 700},
            {QStringLiteral(".Spotlight-V100"), ".Spotlight-V100", ".Spotlight-V100", 90},
            {QStringLiteral("._Report A final.docx"), "._Report A final.docx", "._Report A final.docx", 2100},
            {QStringLiteral("._Report B final.docx"), "._Report B final.docx", "._Report B final.docx", 2200},
            {QStringLiteral("仿宋字体.ttf"), "仿宋字体.ttf", "仿宋字体.ttf", 1500},
            {QStringLiteral("会议记录-忿.txt"), "会议记录-忿.txt", "会议记录-忿.txt", 800},
            {QStringLiteral("ÿabcdefgh.txt"), "ÿabcdefgh.txt", "ÿabcdefgh.txt", 600},
            {QStringLiteral("Renamed.txt"), "Renamed.txt", "stale name.txt", 1100},
            {QStringLiteral("逍遥.txt"), "逍遥.txt", "XYZW.TXT", 1400},
            {QStringLiteral("esc\x1bred.txt"), "esc_red.txt", "escXred.txt", 300},
        };
        // Selected with clicks (Ctrl for the rest), checked from the popup.
        int last = -1;
        for (const Named& n : named) {
            last = t.Row(n.shown);
            QVERIFY2(last >= 0, qPrintable(n.shown));
            vt::uitest::ClickRow(t.w->ListView1, last, &n == named ? Qt::NoModifier : Qt::ControlModifier);
        }
        vt::uitest::RightClick(t.w->ListView1->viewport(),
                               t.w->ListView1->visualRect(t.w->ListView1->Model()->index(last, 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Check1"))));
        vt::test::TempDir target;
        t.Recover(target.Path());
        for (const Named& n : named)
            QCOMPARE(FileBytes(fs::path(target.Path()) / n.target), vt::test::YesContent(n.original, n.size));
        QCOMPARE(FilesBelow(target.Path()).size(), std::size(named));
        const QStringList log = t.Log();
        QCOMPARE(log.mid(log.size() - 2), (QStringList{"正在恢复 ...", "恢复完成。"}));
    }

    // Scan32 lets queued clicks in before it starts: a click on another
    // drive meanwhile is refused, so the rescan reads the drive whose row
    // it was given, and its files come back byte for byte.
    void Scan32KeepsItsDriveWhileClicksComeIn() {
        vt::test::InstallProfile("[logical.E]\nimage=fat32.img\n[logical.F]\nimage=fat16.img\n");
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("Lost")));
        bool clicked = false;
        QTimer::singleShot(0, t.w.get(), [&] {
            clicked = true;
            vt::uitest::ClickNode(t.w->DriveTree, t.Drive("F:"));
        });
        QVERIFY(vt::uitest::ClickToolButton(t.w.get(), t.w->ToolButton(QStringLiteral("acScan32"))));
        QVERIFY(clicked);
        QCOMPARE(t.w->DriveTree->currentItem(), t.Drive("E:"));
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("E:\\"));
        QCOMPARE(t.Rows(), (QStringList{"Inner", "?EEP.DOC"}));
        t.Check(QStringLiteral("?EEP.DOC"));
        vt::test::TempDir target;
        t.Recover(target.Path());
        QVERIFY(FileBytes(fs::path(target.Path()) / "@EEP.DOC") == vt::test::YesContent("KEEP.DOC", 1500));
    }

    void Scan32RefusesOtherVolumesAndTheWindows9xFamily_data() {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("box");
        QTest::newRow("FAT16") << "[logical.E]\nimage=fat16.img\n" << "'Scan32' is for FAT32 file system only.";
        QTest::newRow("NTFS") << "[logical.E]\nimage=ntfs-1024.img\n" << "'Scan32' is for FAT32 file system only.";
        QTest::newRow("9x") << "[machine]\nfamily=9x\nhide_real_devices=1\n[logical.E]\nimage=fat32.img\n"
                            << "'Scan32' is for NT based OS (WinNT, 2K, XP, 2003) only.";
    }
    void Scan32RefusesOtherVolumesAndTheWindows9xFamily() {
        QFETCH(QString, profile);
        QFETCH(QString, box);
        vt::test::InstallProfile(profile.toStdString());
        DiskUtils::Initialize();  // the reader's start-up state of this system
        TWindow t;
        platform::MessageBoxRecorder boxes;
        t.w->acScan32Execute();  // no drive opened yet: nothing
        QVERIFY(boxes.calls.empty());
        t.Select(QStringLiteral("E:"));
        t.w->acScan32Execute();
        QCOMPARE(boxes.calls.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(boxes.calls[0].text), box);
        QCOMPARE(boxes.calls[0].type & 0xF0, win::MB_ICONERROR);
    }

    // The hex view: a file's first 2048 bytes with the usual first bytes of
    // its extension; no hint without an extension; a folder leaves the view
    // alone; an unreadable file gives the red line.
    void HexViewShowsTheFirstBytesAndTheHint() {
        vt::test::InstallProfile("[logical.E]\nimage=fat16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.w->TabSet1->setCurrentIndex(1);
        t.SelectRow(QStringLiteral("Readme.txt"));
        t.w->ListView1Click();
        const Bytes readme = vt::test::YesContent("README.TXT", 5000);
        QVERIFY(std::equal(t.w->HexBuffer.begin(), t.w->HexBuffer.end(), readme.begin()));
        QCOMPARE(t.w->MessageStrip->text(), QString());  // .txt has no usual header
        const auto before = t.w->HexBuffer;
        t.SelectRow(QStringLiteral("Photos"));
        t.w->ListView1Click();
        QVERIFY(t.w->HexBuffer == before);
        t.w->TreeView1->setCurrentItem(t.Node(QStringLiteral("Photos")));
        t.SelectRow(QStringLiteral("Été à Paris.jpg"));
        t.w->ListView1Click();
        QCOMPARE(t.w->MessageStrip->text(), QStringLiteral(" 文件 '.jpg' 的正常标题(第一二字节)是 'FF D8'"));
        QCOMPARE(t.w->MessageStrip->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(t.w->HexView->TopLine, 0);
        // Two rows selected: nothing happens.
        t.w->ListView1->SetSelected(0, true);
        t.w->MessageStrip->setText(QStringLiteral("kept"));
        t.w->ListView1Click();
        QCOMPARE(t.w->MessageStrip->text(), QStringLiteral("kept"));
    }

    void HexViewOfAFileWithoutExtensionAndOfAnUnreadableFile() {
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-1024.img\n");
        std::uint64_t firstSector = 0;
        {
            TWindow t;
            t.Select(QStringLiteral("E:"));
            t.w->TabSet1->setCurrentIndex(1);
            t.SelectRow(QStringLiteral("exactly12chr"));
            t.w->ListView1Click();
            QCOMPARE(t.w->MessageStrip->text(), QString());
            std::string content;
            for (const auto& e : vt::test::ReadNtfsManifest("ntfs-1024.manifest"))
                if (e.path == "/exactly12chr") content = e.content;
            const Bytes want = vt::test::NtfsContent(content);
            QVERIFY(std::equal(want.begin(), want.end(), t.w->HexBuffer.begin()));
            const auto* record = static_cast<const tntfsfilerecord*>(t.w->RowEntry(t.Row(QStringLiteral("one.bin"))));
            QVERIFY(record && record->DataLcn == 0);
            TAttribute data;
            trunlist runs;
            QVERIFY(t.w->Undelete->ReadMftAttribute(static_cast<std::uint32_t>(record->RecordNo), 0x80,
                                                     record->RecordSector, data));
            QVERIFY(DecodeRunList(data.Data, runs) && !runs.empty());
            firstSector = static_cast<std::uint64_t>(runs.front().Lcn) * t.w->Undelete->Current->BootSector[0x0D];
        }
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-1024.img\nunreadable=" + std::to_string(firstSector) + "\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.w->TabSet1->setCurrentIndex(1);
        platform::MessageBoxRecorder boxes;  // the read-error box of the device layer
        t.SelectRow(QStringLiteral("one.bin"));
        t.w->ListView1Click();
        QCOMPARE(t.w->MessageStrip->text(), QStringLiteral(" 无法从该文件找回数据。"));
        QCOMPARE(t.w->MessageStrip->palette().color(QPalette::WindowText), QColor(Qt::red));
    }

    // "Vantrel.ini" written on close and read on the next opening; with the
    // option off the target folder is not opened after a recovery.
    void SettingsSurviveAndTheOptionDecidesTheOpening() {
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n");
        vt::test::TempDir dir;
        auto open = [&] { return std::make_unique<TWindow>(dir.Path()); };
        {
            auto t = open();
            QVERIFY(t->w->OpenDestDir());
            QCOMPARE(t->w->ListView1->columnWidth(0), 250);
            t->w->ListView1->setColumnWidth(0, 321);
            t->w->OptionItem(QStringLiteral("N4"))->trigger();
            t->w->close();
        }
        const std::string ini = vt::test::ReadTextFile(dir.Path() + "/Vantrel.ini");
        QVERIFY(ini.find("wp0=321") != std::string::npos);
        QVERIFY(ini.find("OpenDestDir=0") != std::string::npos);
        auto t = open();
        QCOMPARE(t->w->ListView1->columnWidth(0), 321);
        QVERIFY(!t->w->OpenDestDir());
        t->Select(QStringLiteral("E:"));
        t->Check(QStringLiteral("Readme.txt"));
        vt::test::TempDir target;
        t->Recover(target.Path());
        QVERIFY(t->opened.empty());
        QVERIFY(fs::exists(fs::path(target.Path()) / "Readme.txt"));
    }

    // Back and Forward over the folders visited since the scan; they list
    // the folder again without a new history entry. A new scan starts the
    // history again.
    void BackAndForwardRevisitFolders() {
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.w->TreeView1->setCurrentItem(t.Node(QStringLiteral("Docs")));
        t.w->TreeView1->setCurrentItem(t.Node(QStringLiteral("Docs/Sub")));
        QCOMPARE(t.w->History->Items.size(), std::size_t(3));
        t.w->Action(QStringLiteral("Back"))->trigger();
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("Docs")));
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\Docs"));
        QVERIFY(t.Rows().contains(QStringLiteral("Sub")));
        // The scan root is the tree's first node, position 0, which the
        // history's rule never selects again.
        t.w->Action(QStringLiteral("Back"))->trigger();
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("Docs")));
        QVERIFY(!t.w->History->CanBack);
        t.w->Action(QStringLiteral("Forward"))->trigger();
        t.w->TreeView1->setCurrentItem(t.w->ScanRootNode);
        t.w->Action(QStringLiteral("Back"))->trigger();
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("Docs/Sub")));
        t.w->Action(QStringLiteral("Back"))->trigger();
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("Docs")));
        QCOMPARE(t.w->History->Items.size(), std::size_t(4));
        t.w->Action(QStringLiteral("Forward"))->trigger();
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("Docs/Sub")));
        QVERIFY(t.w->History->CanForward);
        t.w->Action(QStringLiteral("Scan"))->trigger();
        QCOMPARE(t.w->History->Items.size(), std::size_t(1));
        QVERIFY(!t.w->History->CanBack && !t.w->History->CanForward);
    }

    // Opening a folder makes the level below its sub-folders, nodes that
    // stand before the folders visited after it: Back and Forward still go
    // to the folders that were visited, not to the nodes now at their places.
    void BackAndForwardKeepTheirFoldersWhenFoldersOpen() {
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-512.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        vt::uitest::ClickNode(t.w->TreeView1, t.Node(QStringLiteral("\\/Many")));
        // Documents opened with a click on its expander: Projects gets its
        // sub-folder Deep, which comes before Many in the tree.
        QTreeWidgetItem* documents = t.Node(QStringLiteral("\\/Documents"));
        QCOMPARE(t.Children(documents), QStringList{QStringLiteral("Projects")});
        QCOMPARE(documents->child(0)->childCount(), 0);
        const QRect row = t.w->TreeView1->visualItemRect(documents);
        QTest::mouseClick(t.w->TreeView1->viewport(), Qt::LeftButton, {},
                          QPoint(row.left() - t.w->TreeView1->indentation() / 2, row.center().y()));
        QVERIFY(documents->isExpanded());
        QCOMPARE(t.Children(documents->child(0)), QStringList{QStringLiteral("Deep")});
        vt::uitest::ClickNode(t.w->TreeView1, t.Node(QStringLiteral("\\/Compressed")));
        QVERIFY(vt::uitest::ClickToolButton(t.w.get(), t.w->ToolButton(QStringLiteral("Back"))));
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("\\/Many")));
        QCOMPARE(t.Panel(1), QStringLiteral(" E:\\Many"));
        QVERIFY(vt::uitest::ClickToolButton(t.w.get(), t.w->ToolButton(QStringLiteral("Forward"))));
        QCOMPARE(t.w->TreeView1->currentItem(), t.Node(QStringLiteral("\\/Compressed")));
        QCOMPARE(t.Rows(), (QStringList{"mixed.bin", "text.txt", "tiny.txt"}));
    }

    // Selecting a drive scanned before reads nothing and keeps the count.
    void ReselectingADriveReusesItsScan() {
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n[logical.F]\nimage=fat16.img\n");
        TWindow t;
        t.Select(QStringLiteral("E:"));
        t.Select(QStringLiteral("F:"));
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        t.Select(QStringLiteral("E:"));
        platform::DeviceTrace::Enable(false);
        QVERIFY(platform::DeviceTrace::Requests().empty());
        QCOMPARE(t.Log().mid(t.Log().size() - 4),
                 (QStringList{"驱动器扫描已经启动  -  E:", "正在扫描驱动器 E:  . . .", "驱动器扫描完成",
                              QStringLiteral("发现 %1 个项目").arg(ManifestLines("fat12.manifest"))}));
        QCOMPARE(t.Children(t.w->ScanRootNode), (QStringList{"Docs", "OldDir"}));
    }

    // "Re-scan" without a chosen drive blinks the prompt three times.
    void RescanWithoutDriveBlinks() {
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n");
        TWindow t;
        int waits = 0;
        t.w->Wait = [&](int ms) {
            QCOMPARE(ms, 300);
            ++waits;
        };
        t.w->Action(QStringLiteral("Scan"))->trigger();
        QCOMPARE(waits, 6);
        QCOMPARE(t.Log().size(), 1);
    }

    // A drive of a format the engine does not know: its box and the start
    // lines only. The rows and folders of the drive opened before are not
    // left to be recovered or previewed as this drive's: the view empties.
    // Recover then has nothing checked and says so; back on the old drive
    // (its scan is kept) its checked files come back byte for byte.
    void UnrecognizedDriveLeavesNoRowsOfTheDriveBefore() {
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n[logical.F]\nimage=disk1.img\n");
        const std::uint64_t before = vt::test::FileChecksum(vt::test::ImagePath("fat12.img"));
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("E:\\"));
        QVERIFY(t.w->RowCount() > 2);
        // Every row checked through the list's popup.
        vt::uitest::RightClick(t.w->ListView1->viewport(), t.w->ListView1->visualRect(t.w->ListView1->Model()->index(0, 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Checkall1"))));
        QCOMPARE(static_cast<int>(t.w->ListView1->CheckedRows().size()), t.w->RowCount());

        platform::MessageBoxRecorder boxes;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("F:"));
        QCOMPARE(boxes.calls.size(), std::size_t(1));
        QCOMPARE(boxes.calls[0].text, std::string("F: - Unrecognized drive format."));
        QCOMPARE(t.Log().mid(5), (QStringList{"驱动器扫描已经启动  -  F:", "正在扫描驱动器 F:  . . ."}));
        QCOMPARE(t.w->RowCount(), 0);
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("Scan Results"));
        QCOMPARE(t.w->ScanRootNode->childCount(), 0);
        QCOMPARE(t.Panel(0), QStringLiteral(" 目录"));
        QCOMPARE(t.Panel(1), QString());
        QCOMPARE(t.Panel(2), QStringLiteral(" 0 项目 < 已删除: 0 项目 >"));

        boxes.calls.clear();
        QVERIFY(vt::uitest::ClickToolButton(t.w.get(), t.w->ToolButton(QStringLiteral("Recover"))));
        QCOMPARE(boxes.calls.size(), std::size_t(1));
        QCOMPARE(boxes.calls[0].text, std::string("没有选择恢复的文件，请选择要恢复的文件。"));
        QVERIFY(!t.Log().contains(QStringLiteral("恢复完成。")));

        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("E:\\"));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("Readme.txt")));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("lower.txt")), Qt::ControlModifier);
        vt::uitest::RightClick(t.w->ListView1->viewport(),
                               t.w->ListView1->visualRect(t.w->ListView1->Model()->index(t.Row(QStringLiteral("lower.txt")), 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Check1"))));
        QCOMPARE(t.w->ListView1->CheckedRows().size(), std::size_t(2));
        vt::test::TempDir target;
        const std::string dir = target.Path();
        t.RecoverFromTheToolbar(dir);
        QCOMPARE(FilesBelow(dir), (std::set<std::string>{"Readme.txt", "lower.txt"}));
        QVERIFY(FileBytes(fs::path(dir) / "Readme.txt") == vt::test::YesContent("README.TXT", 100));
        QVERIFY(FileBytes(fs::path(dir) / "lower.txt") == vt::test::YesContent("lower.txt", 50));
        const QStringList log = t.Log();
        QCOMPARE(log.mid(log.size() - 2), (QStringList{"正在恢复 ...", "恢复完成。"}));
        QCOMPARE(vt::test::FileChecksum(vt::test::ImagePath("fat12.img")), before);
    }

    // A click on the "File" header while a batch runs: the rows keep their
    // order, the batch its records. Each checked file is written once, byte
    // for byte; afterwards the same click sorts.
    void HeaderClickDuringABatchSortsNothing() {
        vt::test::InstallProfile("[logical.E]\nimage=recover16.img\n");
        const std::uint64_t before = vt::test::FileChecksum(vt::test::ImagePath("recover16.img"));
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        QVERIFY(t.Row(QStringLiteral("After.bin")) < t.Row(QStringLiteral("Several.bin")));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("After.bin")));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("Several.bin")), Qt::ControlModifier);
        vt::uitest::RightClick(t.w->ListView1->viewport(),
                               t.w->ListView1->visualRect(t.w->ListView1->Model()->index(t.Row(QStringLiteral("After.bin")), 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Check1"))));
        const QStringList rows = t.Rows();
        int clicks = 0;
        PumpEveryCall([&] {
            if (clicks || !t.w->Undelete->Busy || QApplication::activeModalWidget()) return;
            ++clicks;
            vt::uitest::ClickHeader(t.w->ListView1, 0);
            // Nor may the check commands change what the batch holds.
            vt::uitest::RightClick(t.w->ListView1->viewport(), t.w->ListView1->visualRect(t.w->ListView1->Model()->index(0, 0)).center());
            vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Uncheckall1")));
        });
        vt::test::TempDir target;
        t.Recover(target.Path());
        platform::SetMessagePump([] { QCoreApplication::processEvents(); });
        QCOMPARE(clicks, 1);
        QCOMPARE(FilesBelow(target.Path()), (std::set<std::string>{"After.bin", "Several.bin"}));
        QVERIFY(FileBytes(fs::path(target.Path()) / "After.bin") == vt::test::YesContent("AFTER.BIN", 2048));
        QVERIFY(FileBytes(fs::path(target.Path()) / "Several.bin") == vt::test::YesContent("SEVERAL.BIN", 3 * 2048 + 17));
        QCOMPARE(t.Rows(), rows);
        QCOMPARE(t.w->ListView1->CheckedRows().size(), std::size_t(2));
        const QStringList log = t.Log();
        QCOMPARE(log.mid(log.size() - 2), (QStringList{"正在恢复 ...", "恢复完成。"}));
        // Not busy any more: the header sorts.
        vt::uitest::ClickHeader(t.w->ListView1, 0);
        QVERIFY(t.Rows() != rows);
        QCOMPARE(vt::test::FileChecksum(vt::test::ImagePath("recover16.img")), before);
    }

    // A right-click on a drive opens the popup over it and reads nothing,
    // also when the popup is left with Esc; the popup's Re-scan works on
    // the drive that is selected, whose rows still recover as its own.
    void RightClickOnADriveReadsNothing() {
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n[logical.F]\nimage=fat16.img\n");
        TWindow t;
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("E:"));
        const QStringList log = t.Log(), rows = t.Rows();
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("F:"), Qt::RightButton);
        QCOMPARE(QApplication::activePopupWidget(), t.w->DriveTreePopup);
        QVERIFY(vt::uitest::PressInPopup(Qt::Key_Escape));
        QVERIFY(!QApplication::activePopupWidget());
        vt::uitest::ClickNode(t.w->DriveTree, t.Drive("F:"), Qt::RightButton);
        QCOMPARE(QApplication::activePopupWidget(), t.w->DriveTreePopup);
        platform::DeviceTrace::Enable(false);
        QVERIFY(platform::DeviceTrace::Requests().empty());
        QCOMPARE(t.Log(), log);
        QCOMPARE(t.Rows(), rows);
        QCOMPARE(t.w->DriveTree->currentItem(), t.Drive("E:"));
        QCOMPARE(t.w->ScanRootNode->text(0), QStringLiteral("E:\\"));

        QVERIFY(vt::uitest::ChoosePopupItem(t.w->Action(QStringLiteral("Scan"))));
        QCOMPARE(t.Log().mid(log.size(), 2), (QStringList{"驱动器扫描已经启动  -  E:", "正在扫描驱动器 E:  . . ."}));
        QCOMPARE(t.Children(t.w->ScanRootNode), (QStringList{"Docs", "OldDir"}));
        vt::uitest::ClickRow(t.w->ListView1, t.Row(QStringLiteral("Readme.txt")));
        vt::uitest::RightClick(t.w->ListView1->viewport(),
                               t.w->ListView1->visualRect(t.w->ListView1->Model()->index(t.Row(QStringLiteral("Readme.txt")), 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(t.w->PopupItem(QStringLiteral("Check1"))));
        vt::test::TempDir target;
        t.Recover(target.Path());
        QCOMPARE(FilesBelow(target.Path()), std::set<std::string>{"Readme.txt"});
        QVERIFY(FileBytes(fs::path(target.Path()) / "Readme.txt") == vt::test::YesContent("README.TXT", 100));
        QCOMPARE(t.Log().last(), QStringLiteral("恢复完成。"));
    }
};

QTEST_MAIN(QuickMainWindow)
#include "QuickMain_test.moc"
