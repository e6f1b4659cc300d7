// The "Advanced Recovery" window end to end on disk images made by real
// tools: the drive tree, partition scans and their views, found folders,
// properties and first bytes, search, recovery with its marks, the deep
// scan for a lost partition, Stop and the refusals while a drive is busy.
#include <QMessageBox>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <QTest>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

#include "AdvMain.h"
#include "DiskParam.h"
#include "FatNamesManifest.h"
#include "FileList.h"
#include "LowerPages.h"
#include "QtPlatform.h"
#include "Recorders.h"
#include "System.h"
#include "TargetFolder.h"
#include "LinkTraps.h"
#include "NtfsManifest.h"
#include "TestSupport.h"
#include "Program.h"
#include "UiTestSupport.h"
#include "main.h"
#include "seldir.h"

using ui::TfrmAdvMain;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Repeat(std::size_t n, char c) { return Bytes(n, static_cast<std::uint8_t>(c)); }
// PHOTO.JPG of advwin.img: a JPEG start, then 'j' up to 3000 bytes.
Bytes PhotoJpg() {
    Bytes b{0xFF, 0xD8, 0xFF, 0xE0};
    b.resize(3000, 'j');
    return b;
}

// Every file under a folder with its bytes, by path relative to it ("a/b").
std::map<std::string, Bytes> Tree(const std::string& root) {
    std::map<std::string, Bytes> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).generic_string();
        if (e.is_directory()) out[rel + "/"] = {};
        else out[rel] = vt::test::ReadWholeFile(e.path().string());
    }
    return out;
}

QStringList Children(const QTreeWidgetItem* node) {
    QStringList out;
    for (int i = 0; i < node->childCount(); ++i) out << node->child(i)->text(0);
    return out;
}

// The tree below a node, one line per node: indent, text, image.
void Dump(const QTreeWidgetItem* node, int depth, QStringList& out) {
    out << QString(depth * 2, QLatin1Char(' ')) + node->text(0) + QStringLiteral(" [%1]").arg(ui::NodeImage(node));
    for (int i = 0; i < node->childCount(); ++i) Dump(node->child(i), depth + 1, out);
}

QTreeWidgetItem* Find(QTreeWidgetItem* node, const QString& prefix) {
    if (node->text(0).startsWith(prefix)) return node;
    for (int i = 0; i < node->childCount(); ++i)
        if (QTreeWidgetItem* n = Find(node->child(i), prefix)) return n;
    return nullptr;
}

void Click(QTreeWidget* tree, QTreeWidgetItem* node) {
    QVERIFY(node);
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
}

QStringList Captions(const ui::TFileListView* list) {
    QStringList out;
    for (int i = 0; i < list->Count(); ++i) out << list->Text(i, 0);
    return out;
}

int RowOf(const ui::TFileListView* list, const QString& caption) {
    for (int i = 0; i < list->Count(); ++i)
        if (list->Text(i, 0) == caption) return i;
    return -1;
}

// Selects exactly one row, as a click does.
void SelectRow(ui::TFileListView* list, int row) {
    for (int i = 0; i < list->Count(); ++i) list->SetSelected(i, i == row);
}

std::vector<std::string> LogLines(const ui::TEventLogView* log) {
    std::vector<std::string> out;
    for (int i = 0; i < log->topLevelItemCount(); ++i) out.push_back(log->topLevelItem(i)->text(0).toStdString());
    return out;
}
int CountLine(const ui::TEventLogView* log, const std::string& line) {
    const auto lines = LogLines(log);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Runs fn from the event loop at the first message pump of what runs next.
void Soon(std::function<void()> fn) { QTimer::singleShot(0, qApp, std::move(fn)); }

std::size_t DeviceReads() {
    std::size_t n = 0;
    for (const auto& r : platform::DeviceTrace::Requests())
        if (r.code == 0) ++n;
    return n;
}

const char* const kDisk1 = "[physical.0]\nimage=disk1.img\n";
const char* const kSmall = "[physical.0]\nimage=advwin.img\n";

}  // namespace

class AdvMain : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmAdvMain> w;
    std::unique_ptr<QTemporaryDir> appDir, target;
    std::unique_ptr<platform::MessageBoxRecorder> boxes;
    std::vector<std::string> opened;

    void Open(const char* profile) {
        vt::test::InstallProfile(profile);
        appDir = std::make_unique<QTemporaryDir>();
        target = std::make_unique<QTemporaryDir>();
        boxes.reset();  // the old recorder gives back the handler it took
        boxes = std::make_unique<platform::MessageBoxRecorder>();
        opened.clear();
        w = std::make_unique<TfrmAdvMain>();
        w->AppDirectory = appDir->path().toStdString() + "/";
        w->Wait = [](int) {};
        w->SelectTarget = [this](std::string& dir) {
            dir = target->path().toStdString();
            return true;
        };
        w->OpenFolder = [this](const std::string& dir) { opened.push_back(dir); };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->OptionItem(QStringLiteral("OpenDir"))->setChecked(false);
    }
    QTreeWidgetItem* DriveNode(const char* prefix) { return Find(w->MyComputerNode, QString::fromUtf8(prefix)); }
    std::string TargetPath(const std::string& rel = "") { return target->path().toStdString() + "/" + rel; }
    void SelectFolder(int k) {
        Click(w->TreeView1, w->ScanRootNode->child(k));
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(k));
    }
    // The found folder whose rows hold a caption.
    int FolderWith(const QString& caption) {
        for (int k = 0; k < w->ScanRootNode->childCount(); ++k) {
            SelectFolder(k);
            if (RowOf(w->ListView1, caption) >= 0) return k;
        }
        return -1;
    }
    void Check(const QStringList& captions) {
        for (const QString& c : captions) {
            const int row = RowOf(w->ListView1, c);
            QVERIFY2(row >= 0, qPrintable(c));
            w->ListView1->SetChecked(row, true);
        }
    }
    // The batch's last line says it is done, and no line names a failure.
    void ExpectCompletedWithoutFailures() {
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(lines.back(), std::string("恢复完成。"));
        QCOMPARE(std::count_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.find("恢复失败") != std::string::npos; }),
                 0);
    }
    // Finds the files of 0 to 100 KB on the node shown and checks each of
    // them; how many there are.
    int CheckFoundFiles() {
        w->SearchPage->CheckBox4->setChecked(true);
        w->SearchPage->SpinEdit1->setValue(0);
        w->SearchPage->SpinEdit2->setValue(100);
        w->SearchPage->SetRadioGroupIndex(1);
        w->SearchPage->Button1->click();
        int files = 0;
        for (int i = 0; i < w->ListView1->Count(); ++i)
            if (w->ListView1->ImageIndex(i) == 1) w->ListView1->SetChecked(i, true), ++files;
        return files;
    }
    // The log ends with a stop line that names a file.
    bool EndsWithStopLine() const {
        const auto lines = LogLines(w->ListView3);
        const std::string stop = " - 恢复进程被用户中止";
        return !lines.empty() && lines.back().size() > stop.size() &&
               lines.back().compare(lines.back().size() - stop.size(), stop.size(), stop) == 0;
    }
    // The target dialog chooses the target folder, and `during` runs at the
    // first message pump of the batch.
    void DuringTheBatch(std::function<void()> during) {
        w->SelectTarget = [this, during](std::string& dir) {
            dir = target->path().toStdString();
            Soon(during);
            return true;
        };
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> out;
        for (const auto& c : boxes->calls) out.push_back(c.text);
        return out;
    }

private slots:
    void initTestCase() {
        ui::UseIconTheme();
        ui::InstallPlatformHooks();
        DiskParam::Initialize();
        // Every pump call runs the event loop, so a timer set before a scan
        // fires at its first sector on any machine.
        platform::SetMessagePump([] { QCoreApplication::processEvents(); }, std::chrono::milliseconds(0));
    }
    void cleanupTestCase() { ui::RemovePlatformHooks(); }
    void cleanup() {
        vt::uitest::CloseModalWindows();
        w.reset();
        boxes.reset();
        platform::DeviceTrace::Enable(false);
        platform::DeviceTrace::Clear();
    }

    // A disk of 2^32 + 264192 sectors (tests/fixtures/make-bigdisk.sh):
    // the drive's node is its whole length, its partition and gaps stand
    // where they are, past 2^32 too.
    void DriveTreeShowsADiskPast2TiBWhole() {
        Open("[physical.0]\nimage=beyond2t.img\n");
        QStringList dump;
        Dump(w->MyComputerNode, 0, dump);
        QCOMPARE(dump.join(QLatin1Char('\n')), QString::fromUtf8(R"(My Computer [0]
  物理驱动器 00H (2048.13 GB) [1]
    未使用 (2048.00 GB) [8]
    BEYOND2TIB (128.00 MB) [7]
    未使用 (2.00 MB) [8])"));
    }

    void DriveTreeShowsEveryNodeKind() {
        Open("[logical.E]\nimage=fat16.img\n[physical.0]\nimage=disk1.img\n[physical.1]\nimage=disk2.img\n");
        QCOMPARE(w->windowTitle(), QStringLiteral("Vantrel - Advanced Recovery"));
        QVERIFY(w->windowState() & Qt::WindowMaximized);
        QStringList dump;
        Dump(w->MyComputerNode, 0, dump);
        // The whole drives and their last gaps end where the drive's size
        // ends, whatever the geometry makes of it.
        auto cap = [](int drive, int node) {
            const auto& parts = ui::AdvMain::DriveList->Drives[static_cast<std::size_t>(drive)]->Partitions;
            const TPartiEntry* e = node < 0 ? parts.back().get() : parts[static_cast<std::size_t>(node)].get();
            return ui::AdvMain::FormatCapacity(e->RawEntry.SectorCount.get());
        };
        QCOMPARE(dump.join(QLatin1Char('\n')), QString::fromUtf8(R"(My Computer [0]
  (E:) FAT16VOL [2]
  物理驱动器 00H (%1) [1]
    未使用 (0.97 MB) [8]
    PRIMARY16 (4.00 MB) [7]
    未使用 (1.00 MB) [8]
    扩展分区 (45.00 MB) [3]
      未使用 (0.97 MB) [8]
      LOGICAL12 (2.00 MB) [7]
      扩展分区 (35.00 MB) [3]
        未使用 (0.97 MB) [8]
        LOGICAL32 (34.00 MB) [7]
        扩展分区 (5.00 MB) [3]
          未使用 (0.97 MB) [8]
          NTFSVOL (4.00 MB) [7]
      未使用 (2.00 MB) [8]
    未使用 (%2) [8]
  物理驱动器 01H (%3) [1]
    未使用 (%4) [8])")
                                                       .arg(cap(1, 0), cap(1, -1), cap(2, 0), cap(2, -1)));
        QCOMPARE(cap(1, 0), QStringLiteral("120.00 MB"));  // the whole image, to its last sector
        // Shown whole, and nothing collapses.
        for (QTreeWidgetItem* n : {DriveNode("物理驱动器 00H"), DriveNode("扩展分区 (45")}) QVERIFY(n->isExpanded());
        w->TreeView2->collapseAll();
        QTest::keyClick(w->TreeView2, Qt::Key_Left);
        QVERIFY(!w->TreeView2->itemsExpandable());
        // The window starts with the last drive, nothing shown yet.
        QCOMPARE(ui::AdvMain::CurrentDrive, ui::AdvMain::DriveList->Drives[2].get());
        QCOMPARE(w->RadioButton1->text(), QStringLiteral("0 FAT Entry(ies) Found"));
        QVERIFY(!w->RadioButton1->isChecked() && !w->RadioButton2->isChecked());
        QCOMPARE(LogLines(w->ListView3).front(), std::string("高级恢复已启动"));
        // "My Computer" cannot be selected.
        Click(w->TreeView2, w->MyComputerNode);
        QVERIFY(w->TreeView2->currentItem() != w->MyComputerNode);
        // The greeting waits in the hex view, in UTF-8 as in the standard
        // window: 16 + 24 + 14 bytes, zeros to 64.
        const std::string banner(reinterpret_cast<const char*>(w->HexBuffer.data()), 64);
        QCOMPARE(banner, std::string(16, '*') + "感谢你使用 Vantrel." + std::string(14, '*') + std::string(10, '\0'));
    }

    // Every kind of node with an entry can be scanned; a drive without a
    // medium says so and is then shown as scanned, without reading.
    void EveryNodeKindScans() {
        Open("[logical.A]\ntype=removable\n[logical.E]\nimage=fat16.img\n[physical.0]\nimage=disk1.img\n");
        struct Case {
            const char* node;
            bool fat;  // FAT entries found
        };
        int scans = 0;
        for (const Case& c : {Case{"(E:)", true}, Case{"扩展分区 (5.00", false}, Case{"未使用 (1.00", false},
                              Case{"LOGICAL12", true}}) {
            Click(w->TreeView2, DriveNode(c.node));
            QVERIFY2(ui::AdvMain::CurrentDrive->CurPartition->Scanned, c.node);
            QCOMPARE(CountLine(w->ListView3, "驱动器扫描完成"), ++scans);
            QCOMPARE(ui::AdvMain::CurrentDrive->CurPartition->FatEntries.empty(), !c.fat);
            QCOMPARE(w->RadioButton1->text(),
                     QStringLiteral("发现 %1 个FAT 项目").arg(ui::AdvMain::CurrentDrive->CurPartition->FatEntries.size()));
        }
        QVERIFY(BoxTexts().empty());
        Click(w->TreeView2, DriveNode("(A:)"));
        QCOMPARE(BoxTexts(), std::vector<std::string>({"驱动器未就绪。"}));
        QCOMPARE(w->ScanRootNode->childCount(), 0);
        QCOMPARE(w->ListView1->Count(), 0);
        Click(w->TreeView2, DriveNode("LOGICAL12"));
        Click(w->TreeView2, DriveNode("(A:)"));
        QCOMPARE(boxes->calls.size(), std::size_t(1));  // shown as scanned, not read again
        QCOMPARE(w->RadioButton1->text(), QStringLiteral("发现 0 个FAT 项目"));
    }

    void RescanWithoutNodeBlinksThePrompt() {
        Open(kSmall);
        QStringList shown;
        w->Wait = [&](int) { shown << w->PromptStrip->text(); };
        w->Action(QStringLiteral("Scan"))->trigger();
        QCOMPARE(shown.count(QStringLiteral(" 请选择一个驱动器扫描。")), 3);
        QCOMPARE(CountLine(w->ListView3, "驱动器扫描已启动"), 0);
    }

    // A partition scan, its FAT view, found folders, rows and a recovery
    // compared byte for byte.
    void PartitionScanListsAndRecovers() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        QCOMPARE(CountLine(w->ListView3, "驱动器扫描已启动"), 1);
        QVERIFY(w->RadioButton1->isChecked());
        const TPartiEntry* part = ui::AdvMain::CurrentDrive->CurPartition;
        const auto fat = static_cast<int>(part->FatEntries.size());
        QCOMPARE(w->RadioButton1->text(), QStringLiteral("发现 %1 个FAT 项目").arg(fat));
        QCOMPARE(w->RadioButton2->text(), QStringLiteral("发现 0 个NTFS 项目"));
        QVERIFY(boxes->calls.empty());  // only FAT found: no question which view
        QCOMPARE(CountLine(w->ListView3, QStringLiteral("已发现 %1 个FAT 项目, 0 个NTFS 项目.").arg(fat).toStdString()), 1);
        // One numbered node per found directory, the first one shown.
        QStringList numbered;
        for (std::size_t k = 0; k < part->DirSectors.size(); ++k)
            numbered << QString::asprintf("文件夹 %06d", static_cast<int>(k));
        QCOMPARE(Children(w->ScanRootNode), numbered);
        QCOMPARE(ui::NodeImage(w->ScanRootNode->child(0)), 4);
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(0));
        QCOMPARE(w->History->Items, std::vector<std::int32_t>({1}));

        const int album = FolderWith(QStringLiteral("a.txt"));
        const int inner = FolderWith(QStringLiteral("b.txt"));
        QVERIFY(album >= 0 && inner >= 0);
        SelectFolder(album);
        QCOMPARE(Captions(w->ListView1), QStringList({"inner", "a.txt"}));  // folders first
        QCOMPARE(w->ListView1->ImageIndex(0), 0);
        QCOMPARE(w->ListView1->Text(0, 1), QString::fromStdString(FolderTypeName));
        QCOMPARE(w->ListView1->Text(1, 2), ui::AdvMain::FormatSizeText(600));
        QCOMPARE(w->ListView1->Text(1, 3), QStringLiteral("01/02/10 03:04 AM"));
        QCOMPARE(w->StatusBar->Panel(2)->text(), ui::AdvMain::ItemCountsText(w->ListView1));

        SelectFolder(inner);
        QCOMPARE(Captions(w->ListView1), QStringList({"b.txt"}));
        QCOMPARE(w->StatusBar->Panel(0)->text(), QString());
        w->ListView1->SetChecked(0, true);
        w->Action(QStringLiteral("Recover"))->trigger();
        QCOMPARE(Tree(TargetPath()), (std::map<std::string, Bytes>{{"b.txt", Repeat(1500, 'b')}}));
        QCOMPARE(w->ScanRootNode->child(inner)->text(0), numbered[inner] + QStringLiteral(" - P"));
        QCOMPARE(w->TabSet1->currentIndex(), 3);
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(lines[lines.size() - 2], std::string("正在恢复 ..."));
        QCOMPARE(lines.back(), std::string("恢复完成。"));
        QVERIFY(opened.empty());  // the option is off (see Open)

        // The folder row "inner" of album: its found folder is recovered
        // whole and marked so.
        SelectFolder(album);
        fs::remove_all(TargetPath("b.txt"));
        Check({"inner"});
        w->OptionItem(QStringLiteral("OpenDir"))->setChecked(true);
        w->Action(QStringLiteral("Recover"))->trigger();
        QCOMPARE(Tree(TargetPath()), (std::map<std::string, Bytes>{{"inner/", {}}, {"inner/b.txt", Repeat(1500, 'b')}}));
        QCOMPARE(w->ScanRootNode->child(album)->text(0), numbered[album] + QStringLiteral(" - P"));
        QCOMPARE(w->ScanRootNode->child(inner)->text(0), numbered[inner] + QStringLiteral(" - T"));
        QCOMPARE(opened, std::vector<std::string>({target->path().toStdString()}));
        SelectFolder(inner);
        QCOMPARE(w->StatusBar->Panel(0)->text(), QStringLiteral(" Totally Recovered"));
        SelectFolder(album);
        QCOMPARE(w->StatusBar->Panel(0)->text(), QStringLiteral(" Partly Recovered"));
        // A later partial recovery keeps " - T".
        SelectFolder(inner);
        w->ListView1->SetChecked(0, true);
        w->Action(QStringLiteral("Recover"))->trigger();
        QCOMPARE(w->ScanRootNode->child(inner)->text(0), numbered[inner] + QStringLiteral(" - T"));
        // A new view of the entry starts without marks.
        QTest::mouseClick(w->RadioButton1, Qt::LeftButton);
        QCOMPARE(Children(w->ScanRootNode), numbered);
    }

    void RecoverRefusalsAndCancel() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        SelectFolder(FolderWith(QStringLiteral("a.txt")));
        const std::size_t logRows = LogLines(w->ListView3).size();
        bool asked = false;
        w->SelectTarget = [&](std::string&) {
            asked = true;
            return false;
        };
        w->Action(QStringLiteral("Recover"))->trigger();
        QCOMPARE(BoxTexts(), std::vector<std::string>({"没有选择恢复的文件，请选择要恢复的文件。"}));
        QVERIFY(!asked);
        w->ListView1->SetChecked(0, true);
        w->Action(QStringLiteral("Recover"))->trigger();
        QVERIFY(asked);
        QCOMPARE(LogLines(w->ListView3).size(), logRows);
        for (int k = 0; k < w->ScanRootNode->childCount(); ++k) QVERIFY(!w->ScanRootNode->child(k)->text(0).endsWith('P'));
        QVERIFY(!ui::AdvMain::CurrentDrive->Busy);
        QVERIFY(fs::is_empty(TargetPath()));
    }

    // The target folder through the real dialog, typed and confirmed.
    void RecoverThroughTheTargetDialog() {
        Open(kSmall);
        w->SelectTarget = [](std::string& dir) { return SelectTargetDir(dir); };
        Click(w->TreeView2, DriveNode("PHOTOS"));
        SelectFolder(FolderWith(QStringLiteral("a.txt")));
        Check({"a.txt"});
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            auto* d = qobject_cast<TfrmSelDir*>(modal);
            QVERIFY(d);
            d->Edit1->setText(target->path());
            QTest::mouseClick(d->Button2, Qt::LeftButton);
        }});
        w->Action(QStringLiteral("Recover"))->trigger();
        QCOMPARE(driver.StepsRun(), 1);
        QCOMPARE(Tree(TargetPath()), (std::map<std::string, Bytes>{{"a.txt", Repeat(600, 'a')}}));
    }

    void PropertiesHexViewAndHints() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        // The root's rows come through a search of all found entries.
        w->SearchPage->CheckBox2->setChecked(true);
        w->SearchPage->Edit1->setText(QStringLiteral("*"));
        w->SearchPage->SetRadioGroupIndex(1);
        w->SearchPage->Button1->click();
        QCOMPARE(w->TreeView1->currentItem(), w->FindRootNode);
        const QStringList found = Captions(w->ListView1);
        for (const char* name : {"a.txt", "b.txt", "inner"}) QVERIFY2(found.contains(QLatin1String(name)), name);

        w->TabSet1->setCurrentIndex(0);
        SelectRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("a.txt")));
        w->TabSet1Click();
        const auto* props = w->ListView2;
        QCOMPARE(props->Value(ui::TPropertyList::rowFileName), QStringLiteral("a.txt"));
        QCOMPARE(props->Value(ui::TPropertyList::rowSize), QStringLiteral("600"));
        QCOMPARE(props->Value(ui::TPropertyList::rowAllocated), QStringLiteral("1024"));  // two 512-byte clusters
        QCOMPARE(props->Value(ui::TPropertyList::rowModified), QStringLiteral("01/02/10 03:04 AM"));
        QCOMPARE(props->Value(ui::TPropertyList::rowArchive), QStringLiteral("Y"));
        QCOMPARE(props->Value(ui::TPropertyList::rowReadOnly), QStringLiteral("N"));
        QCOMPARE(props->Value(ui::TPropertyList::rowHidden), QStringLiteral("N"));
        QCOMPARE(props->Value(ui::TPropertyList::rowCompressed), QString());

        w->TabSet1->setCurrentIndex(1);
        SelectRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("a.txt")));
        w->TabSet1Click();
        QCOMPARE(Bytes(w->HexBuffer.begin(), w->HexBuffer.begin() + 600), Repeat(600, 'a'));
        QCOMPARE(w->MessageStrip->text(), QString());  // no usual header for .txt
        // A folder row changes nothing.
        SelectRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("inner")));
        w->TabSet1Click();
        QCOMPARE(w->HexBuffer[0], std::uint8_t('a'));
    }

    // The root directory's files: the usual first bytes of a known
    // extension in the hint, none for a one-letter extension or none; the
    // deleted entry shown with "?" and recovered.
    void RootFilesHintsAndDeletedEntry() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        const int root = FolderWith(QStringLiteral("Photo.jpg"));
        QVERIFY(root >= 0);
        // Folders first.
        QCOMPARE(Captions(w->ListView1), QStringList({"album", "Photo.jpg", "Note.c", "Readme", "?one.txt"}));
        w->TabSet1->setCurrentIndex(1);
        struct Case {
            const char* name;
            const char* hint;
            char first;
        };
        for (const Case& c : {Case{"Photo.jpg", " 文件 '.jpg' 的正常标题(第一二字节)是 'FF D8'", '\xFF'},
                              Case{"Note.c", "", 'i'}, Case{"Readme", "", 'r'}}) {
            w->MessageStrip->setText(QStringLiteral("old"));
            SelectRow(w->ListView1, RowOf(w->ListView1, QString::fromLatin1(c.name)));
            w->TabSet1Click();
            QCOMPARE(w->MessageStrip->text(), QString::fromUtf8(c.hint));
            QCOMPARE(w->HexBuffer[0], static_cast<std::uint8_t>(c.first));
        }
        Check({"Photo.jpg", "?one.txt"});
        w->Action(QStringLiteral("Recover"))->trigger();
        QCOMPARE(Tree(TargetPath()),
                 (std::map<std::string, Bytes>{{"Photo.jpg", PhotoJpg()}, {"@one.txt", Text("gone but not lost\n")}}));
    }

    void SearchConditionsAndGoingToTheFolder() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        const int album = FolderWith(QStringLiteral("a.txt"));
        const int inner = FolderWith(QStringLiteral("b.txt"));
        auto* page = w->SearchPage;
        // No condition: a warning, nothing searched.
        page->CheckBox2->setChecked(true);
        page->Edit1->setText(QStringLiteral("   "));
        page->SetRadioGroupIndex(1);
        page->Button1->click();
        QCOMPARE(BoxTexts(), std::vector<std::string>({"你必须指定一种搜索条件。"}));
        QVERIFY(w->TreeView1->currentItem() != w->FindRootNode);

        // Sizes in KB of 1024 bytes: 1 to 2 KB holds B.TXT (1500) only,
        // and the fields may be given in either order.
        page->CheckBox2->setChecked(false);
        page->CheckBox4->setChecked(true);
        page->SpinEdit1->setValue(2);
        page->SpinEdit2->setValue(1);
        page->Button1->click();
        QCOMPARE(Captions(w->ListView1), QStringList({"b.txt"}));
        QCOMPARE(w->History->Items.back(), ui::TRecoveryFrame::AbsoluteIndex(w->FindRootNode));

        // "Current Folder" while "Find Results" is selected does nothing.
        page->SetRadioGroupIndex(0);
        page->SpinEdit2->setValue(0);
        page->Button1->click();
        QCOMPARE(Captions(w->ListView1), QStringList({"b.txt"}));

        // From a result to the found folder that holds it.
        SelectRow(w->ListView1, 0);
        w->PopupMenu2Popup();
        QVERIFY(w->Action(QStringLiteral("acToParent"))->isEnabled());
        w->Action(QStringLiteral("acToParent"))->trigger();
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(inner));
        QCOMPARE(Captions(w->ListView1), QStringList({"b.txt"}));
        w->PopupMenu2Popup();
        QVERIFY(!w->Action(QStringLiteral("acToParent"))->isEnabled());

        // "Current Folder" in album by the modified date (the sources'
        // 2010-01-02 03:04): days as the pickers hold them, in either order;
        // both days count whole.
        SelectFolder(album);
        page->CheckBox4->setChecked(false);
        page->CheckBox3->setChecked(true);
        page->ComboBox3->setCurrentIndex(page->ComboBox3->count() - 1);  // "Specify"
        page->ComboBox1->setCurrentIndex(1);
        struct Range {
            QDate from, to;
            QStringList found;
        };
        for (const Range& r : {Range{QDate(2010, 1, 2), QDate(2010, 1, 2), {"a.txt"}},
                               Range{QDate(2010, 1, 5), QDate(2009, 12, 1), {"a.txt"}},
                               Range{QDate(2010, 1, 1), QDate(2010, 1, 1), {}},
                               Range{QDate(2010, 1, 3), QDate(2010, 1, 4), {}}}) {
            SelectFolder(album);
            page->DateTimePicker1->setDateTime(QDateTime(r.from, QTime(0, 0)));
            page->DateTimePicker2->setDateTime(QDateTime(r.to, QTime(0, 0)));
            page->Button1->click();
            QCOMPARE(Captions(w->ListView1), r.found);
        }
    }

    void DoubleClickOpensTheFoundFolder() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        const int inner = FolderWith(QStringLiteral("b.txt"));
        SelectFolder(FolderWith(QStringLiteral("a.txt")));
        const int row = RowOf(w->ListView1, QStringLiteral("inner"));
        SelectRow(w->ListView1, row);
        w->ListView1DblClick();
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(inner));
        QCOMPARE(Captions(w->ListView1), QStringList({"b.txt"}));
        QVERIFY(w->History->CanBack);
        // A file row does nothing.
        SelectRow(w->ListView1, 0);
        w->ListView1DblClick();
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(inner));
        QVERIFY(boxes->calls.empty());
    }

    // A whole drive that holds three FAT volumes with different cluster
    // sizes (FAT16 with 4 and 2 sectors, FAT32): each folder row opens its
    // own volume's folder, and what it holds comes back byte for byte.
    void SeveralVolumesOpenAndRecoverEachFolder() {
        Open("[physical.0]\nimage=multi.img\n");
        Click(w->TreeView2, DriveNode("物理驱动器 00H"));
        QVERIFY(w->RadioButton1->isChecked());
        const struct {
            const char *root, *folder, *file;
        } volumes[] = {{"roota.txt", "fa", "filea.bin"}, {"rootb.txt", "fb", "fileb.bin"}, {"ROOTC.TXT", "fc", "FILEC.BIN"}};
        for (const auto& v : volumes) {
            const QString file = QString::fromLatin1(v.file);
            const int root = FolderWith(QString::fromLatin1(v.root));
            QVERIFY2(root >= 0, v.root);
            SelectRow(w->ListView1, RowOf(w->ListView1, QString::fromLatin1(v.folder)));
            w->ListView1DblClick();
            QCOMPARE(Captions(w->ListView1), QStringList({file}));
            fs::remove_all(TargetPath(v.file));
            w->ListView1->SetChecked(0, true);
            w->Action(QStringLiteral("Recover"))->trigger();
            std::string lower = v.file;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            QCOMPARE(vt::test::ReadWholeFile(TargetPath(v.file)), vt::test::YesContent(lower, 30000));
            QCOMPARE(LogLines(w->ListView3).back(), std::string("恢复完成。"));
        }
    }

    // The whole disk: FAT and NTFS entries both, the question which view,
    // the switch, and an NTFS recovery.
    void WholeDiskHasBothViews() {
        Open(kDisk1);
        Click(w->TreeView2, DriveNode("物理驱动器 00H"));
        QCOMPARE(boxes->calls.size(), std::size_t(1));
        const std::string text = boxes->calls[0].text;
        QVERIFY2(text.find("\r\rPlease select a kind of file system to show by \r使用 '文件系统选择器'。") != std::string::npos,
                 text.c_str());
        QCOMPARE(boxes->calls[0].type & win::MB_ICONMASK, win::MB_ICONINFORMATION);
        const TPartiEntry* part = ui::AdvMain::CurrentDrive->CurPartition;
        QVERIFY(!part->FatEntries.empty() && !part->NtfsEntries.empty());
        // More NTFS than FAT entries: the NTFS view.
        QVERIFY(part->NtfsEntries.size() > part->FatEntries.size());
        QVERIFY(w->RadioButton2->isChecked());
        QCOMPARE(w->ScanRootNode->childCount(), static_cast<int>(part->NtfsFolders.size()));
        QTest::mouseClick(w->RadioButton1, Qt::LeftButton);
        QVERIFY(w->RadioButton1->isChecked());
        QCOMPARE(w->ScanRootNode->childCount(), static_cast<int>(part->DirSectors.size()));
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(0));
        QTest::mouseClick(w->RadioButton2, Qt::LeftButton);
        QCOMPARE(w->ScanRootNode->childCount(), static_cast<int>(part->NtfsFolders.size()));
        int k = -1;
        for (int i = 0; i < w->ScanRootNode->childCount() && k < 0; ++i) {
            SelectFolder(i);
            if (RowOf(w->ListView1, QStringLiteral("big.bin")) >= 0) k = i;
        }
        QVERIFY(k >= 0);
        QVERIFY(RowOf(w->ListView1, QStringLiteral("small.txt")) >= 0);

        // NTFS folder rows cannot be opened here.
        w->OptionItem(QStringLiteral("Showntfolder"))->setChecked(true);
        for (int i = 0; i < w->ScanRootNode->childCount(); ++i) {
            SelectFolder(i);
            for (int r = 0; r < w->ListView1->Count(); ++r) {
                if (w->ListView1->ImageIndex(r) != 0) continue;
                SelectRow(w->ListView1, r);
                boxes->calls.clear();
                w->ListView1DblClick();
                QCOMPARE(BoxTexts(), std::vector<std::string>({"在\"高级恢复\"模式下无法打开 NTFS 目录。"}));
                // Without folder rows the same folder lists files only.
                w->OptionItem(QStringLiteral("Showntfolder"))->trigger();
                for (int j = 0; j < w->ListView1->Count(); ++j) QCOMPARE(w->ListView1->ImageIndex(j), 1);
                return;
            }
        }
        QFAIL("no NTFS folder row found");
    }

    // A checked FAT folder whose directory the scan did not find (FAT32
    // "Lost": the high word of its cluster was cleared) has nothing to write:
    // it is named as failed; the folder checked with it comes back whole.
    void AFolderWhoseDirectoryWasNotFoundIsNamedAsFailed() {
        Open("[logical.E]\nimage=fat32.img\n");
        Click(w->TreeView2, DriveNode("(E:)"));
        SelectFolder(FolderWith(QStringLiteral("Lost")));
        Check({"Lost", "Many"});
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        const auto tree = Tree(TargetPath());
        QCOMPARE(tree.at("Many/entry with a long name 1.txt").size(), std::size_t(600));
        for (const auto& [path, bytes] : tree) QVERIFY2(path.rfind("Lost", 0) != 0 || path == "Lost/", path.c_str());
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(std::vector<std::string>(lines.end() - 3, lines.end()),
                 (std::vector<std::string>{"正在恢复 ...", "Lost - 恢复失败", "恢复完成。"}));
    }

    // A sub-folder of a checked folder that cannot be made (a link took its
    // place the moment it was made): it is named by its path with what it
    // held, and the rest of the checked folder's tree is still written.
    void ASubFolderThatCannotBeMadeLeavesTheRestOfTheTree() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        SelectFolder(FolderWith(QStringLiteral("album")));
        Check({"album"});
        bool clicked = false;
        {
            vt::test::LinkTrap trap;
            trap.SwapFolderForLink(TargetPath("album"), "inner");
            clicked = vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover")));
            QVERIFY(trap.AllPlanted());
        }
        QVERIFY(clicked);
        QCOMPARE(vt::test::ReadWholeFile(TargetPath("album/a.txt")), Repeat(600, 'a'));
        QVERIFY(fs::is_symlink(TargetPath("album/inner")));
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(std::vector<std::string>(lines.end() - 3, lines.end()),
                 (std::vector<std::string>{"正在恢复 ...", "album/inner - 无法创建目标文件，其中 1 个文件、0 个文件夹未写入",
                                           "恢复完成。"}));
        QVERIFY(BoxTexts().empty());
    }

    // The target's file system reports a failed write only when it writes
    // back (a full or failing stick): the batch ends with the target's line
    // and is not called complete.
    void AFailedWriteBackEndsTheBatchWithTheTargetsLine() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        SelectFolder(FolderWith(QStringLiteral("a.txt")));
        Check({"a.txt"});
        int synced = 0;
        vt::SetSyncHookForTests([&](int) {
            ++synced;
            return EIO;
        });
        const bool clicked = vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover")));
        vt::SetSyncHookForTests(nullptr);
        QVERIFY(clicked);
        QCOMPARE(synced, 1);
        QCOMPARE(vt::test::ReadWholeFile(TargetPath("a.txt")), Repeat(600, 'a'));
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(lines.back(), target->path().toStdString() + " - 无法写入目录驱动器，恢复失败。" + std::strerror(EIO));
        QCOMPARE(CountLine(w->ListView3, "恢复完成。"), 0);
    }

    // A Stop in the middle of the batch, then a write-back that fails: the
    // engine's stop line, the target's line, and the stop line again last.
    void AStopThenAFailedWriteBackEndsWithTheStopLine() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        QVERIFY(CheckFoundFiles() >= 2);
        DuringTheBatch([this] { w->Action(QStringLiteral("Stop"))->trigger(); });
        vt::SetSyncHookForTests([](int) { return EIO; });
        w->Action(QStringLiteral("Recover"))->trigger();
        vt::SetSyncHookForTests(nullptr);
        const auto lines = LogLines(w->ListView3);
        QVERIFY(lines.size() >= 3);
        const std::string stop = " - 恢复进程被用户中止";
        const std::string& engines = lines[lines.size() - 3];
        QVERIFY2(engines.size() > stop.size() && engines.compare(engines.size() - stop.size(), stop.size(), stop) == 0,
                 engines.c_str());
        QCOMPARE(lines[lines.size() - 2],
                 target->path().toStdString() + " - 无法写入目录驱动器，恢复失败。" + std::strerror(EIO));
        QCOMPARE(lines.back(), std::string("恢复进程被用户中止"));
        QCOMPARE(CountLine(w->ListView3, "恢复完成。"), 0);
        QCOMPARE(static_cast<int>(Tree(TargetPath()).size()), 0);
    }

    // The chosen folder is moved away during the batch and a link to
    // another folder put in its place: the batch still writes into the
    // folder it chose and writes that back; the link is not opened, and the
    // log says so before the batch's end.
    void AFolderSwappedForALinkDuringTheBatchIsNotOpened() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        SelectFolder(FolderWith(QStringLiteral("a.txt")));
        Check({"a.txt"});
        w->OptionItem(QStringLiteral("OpenDir"))->setChecked(true);
        const std::string chosen = TargetPath("chosen"), moved = TargetPath("moved"), elsewhere = TargetPath("elsewhere");
        QVERIFY(fs::create_directory(chosen) && fs::create_directory(elsewhere));
        struct stat before {};
        QCOMPARE(::stat(chosen.c_str(), &before), 0);
        bool swapped = false;
        w->SelectTarget = [&](std::string& dir) {
            dir = chosen;
            Soon([&] {
                swapped = true;
                fs::rename(chosen, moved);
                fs::create_directory_symlink(elsewhere, chosen);
            });
            return true;
        };
        bool syncedChosen = false;
        vt::SetSyncHookForTests([&](int fd) {
            struct stat st {};
            syncedChosen = ::fstat(fd, &st) == 0 && st.st_dev == before.st_dev && st.st_ino == before.st_ino;
            return -1;
        });
        const bool clicked = vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover")));
        vt::SetSyncHookForTests(nullptr);
        QVERIFY(clicked);
        QVERIFY(swapped);
        QVERIFY(syncedChosen);
        QVERIFY(opened.empty());
        QCOMPARE(vt::test::ReadWholeFile(moved + "/a.txt"), Repeat(600, 'a'));
        QVERIFY(fs::is_empty(elsewhere));
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(std::vector<std::string>(lines.end() - 2, lines.end()),
                 (std::vector<std::string>{chosen + " - 目标文件夹已被移动或替换，未打开", "恢复完成。"}));
    }

    // A folder that cannot be made in the target (a link took its place the
    // moment it was made) fails alone: it is named with what it held, and
    // the row checked after it still comes back.
    void AFolderThatCannotBeMadeIsNamedAndTheRowsAfterItComeBack() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        SelectFolder(FolderWith(QStringLiteral("a.txt")));
        Check({"inner", "a.txt"});
        bool clicked = false;
        {
            vt::test::LinkTrap trap;
            trap.SwapFolderForLink(TargetPath(), "inner");
            clicked = vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover")));
            QVERIFY(trap.AllPlanted());
        }
        QVERIFY(clicked);
        QCOMPARE(vt::test::ReadWholeFile(TargetPath("a.txt")), Repeat(600, 'a'));
        QVERIFY(fs::is_symlink(TargetPath("inner")));
        QCOMPARE(std::distance(fs::directory_iterator(TargetPath()), fs::directory_iterator()), 2);
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(std::vector<std::string>(lines.end() - 3, lines.end()),
                 (std::vector<std::string>{"正在恢复 ...", "inner - 无法创建目标文件，其中 1 个文件、0 个文件夹未写入", "恢复完成。"}));
        QVERIFY(BoxTexts().empty());
    }

    // The file-system selector shows the other view's found folders, other
    // folders at the same places of the tree: Back and Forward start anew
    // from its first folder and never lead to a folder of it not visited.
    void SwitchingTheViewStartsTheHistoryAnew() {
        Open(kDisk1);
        Click(w->TreeView2, DriveNode("物理驱动器 00H"));
        QTest::mouseClick(w->RadioButton1, Qt::LeftButton);
        QVERIFY(w->RadioButton1->isChecked());
        QVERIFY(w->ScanRootNode->childCount() >= 3);
        SelectFolder(1);
        SelectFolder(2);
        QVERIFY(w->ToolButton(QStringLiteral("Backward"))->isEnabled());
        // The NTFS view has two found folders, the second one at the place
        // of the FAT view's second.
        QTest::mouseClick(w->RadioButton2, Qt::LeftButton);
        QVERIFY(w->RadioButton2->isChecked());
        QCOMPARE(w->ScanRootNode->childCount(), 2);
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(0));
        const QStringList rows = Captions(w->ListView1);
        QVERIFY(!w->ToolButton(QStringLiteral("Backward"))->isEnabled());
        w->Action(QStringLiteral("Backward"))->trigger();
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(0));
        QCOMPARE(Captions(w->ListView1), rows);
        // What is visited in this view is walked as before.
        SelectFolder(1);
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Backward"))));
        QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(0));
        QCOMPARE(Captions(w->ListView1), rows);
    }

    // The property and hex pages show the row clicked on a node; showing
    // another node leaves neither telling of the node before.
    void ShowingAnotherNodeLeavesNoPreviewOfTheNodeBefore() {
        Open("[logical.E]\nimage=fat12.img\n[logical.F]\nimage=fat16.img\n");
        Click(w->TreeView2, DriveNode("(E:)"));
        const auto greeting = w->HexBuffer;
        SelectFolder(FolderWith(QStringLiteral("Readme.txt")));
        w->TabSet1->setCurrentIndex(1);
        vt::uitest::ClickRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("Readme.txt")));
        QVERIFY(w->HexBuffer != greeting);
        w->TabSet1->setCurrentIndex(0);
        QCOMPARE(w->ListView2->Value(ui::TPropertyList::rowSize), QStringLiteral("100"));
        Click(w->TreeView2, DriveNode("(F:)"));
        for (int row = 0; row < ui::TPropertyList::kRows; ++row) QCOMPARE(w->ListView2->Value(row), QString());
        QVERIFY(w->HexBuffer == greeting);
        // And back on the node scanned before, which is not read again.
        vt::uitest::ClickRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("Readme.txt")));
        QCOMPARE(w->ListView2->Value(ui::TPropertyList::rowSize), QStringLiteral("5000"));
        Click(w->TreeView2, DriveNode("(E:)"));
        QCOMPARE(w->ListView2->Value(ui::TPropertyList::rowSize), QString());
    }

    // The NTFS partition: its files come back byte for byte; checked folder
    // rows are passed over.
    void NtfsPartitionRecovers() {
        Open(kDisk1);
        Click(w->TreeView2, DriveNode("NTFSVOL"));
        QVERIFY(w->RadioButton2->isChecked());
        QVERIFY(boxes->calls.empty());
        int k = -1;
        for (int i = 0; i < w->ScanRootNode->childCount() && k < 0; ++i) {
            SelectFolder(i);
            if (RowOf(w->ListView1, QStringLiteral("big.bin")) >= 0) k = i;
        }
        QVERIFY(k >= 0);
        std::vector<std::string> folderRows;
        for (int i = 0; i < w->ListView1->Count(); ++i) {
            w->ListView1->SetChecked(i, true);
            if (w->ListView1->ImageIndex(i) == 0) folderRows.push_back(w->ListView1->Text(i, 0).toStdString());
        }
        QVERIFY(!folderRows.empty());
        w->Action(QStringLiteral("Recover"))->trigger();
        const auto files = Tree(TargetPath());
        QCOMPARE(files.at("big.bin"), Repeat(70000, 'q'));
        QCOMPARE(files.at("small.txt"), Text("new data\n"));
        for (const auto& [path, bytes] : files) QVERIFY2(path.back() != '/', path.c_str());
        // The folders passed over are no failures: no line names them.
        for (const std::string& folder : folderRows)
            for (const std::string& line : LogLines(w->ListView3)) QVERIFY2(line.find(folder) != 0, line.c_str());
        ExpectCompletedWithoutFailures();
        // The properties of an NTFS row.
        w->TabSet1->setCurrentIndex(0);
        SelectRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("big.bin")));
        w->TabSet1Click();
        QCOMPARE(w->ListView2->Value(ui::TPropertyList::rowSize), QStringLiteral("70000"));
        QCOMPARE(w->ListView2->Value(ui::TPropertyList::rowAllocated), QStringLiteral("73728"));  // 18 clusters
        QCOMPARE(w->ListView2->Value(ui::TPropertyList::rowCompressed), QStringLiteral("N"));
    }

    // "Check all" in the root of a healthy NTFS volume (mkntfs, filled by
    // libntfs-3g) ticks its folder rows ($Extend among them) beside the
    // files: the folders are passed over without a line, each file comes
    // back byte for byte, and the log names nothing as failed.
    void CheckAllOnAHealthyNtfsVolumeLogsNoFailure() {
        Open("[logical.E]\nimage=ntfs-1024.img\n");
        Click(w->TreeView2, DriveNode("(E:)"));
        QVERIFY(w->RadioButton2->isChecked());
        SelectFolder(FolderWith(QStringLiteral("readme.txt")));
        QVERIFY(RowOf(w->ListView1, QStringLiteral("$Extend")) >= 0);
        vt::uitest::RightClick(w->ListView1->viewport(),
                               w->ListView1->visualRect(w->ListView1->Model()->index(0, 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(w->PopupItem(QStringLiteral("Checkall1"))));
        QCOMPARE(static_cast<int>(w->ListView1->CheckedRows().size()), w->ListView1->Count());
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        const auto files = Tree(TargetPath());
        for (const auto& m : vt::test::ReadNtfsManifest("ntfs-1024.manifest")) {
            if (m.parent != 5 || m.folder || m.deleted != "0") continue;
            QVERIFY2(files.count(m.Name()), m.path.c_str());
            QCOMPARE(files.at(m.Name()), vt::test::NtfsContent(m.content));
        }
        for (const auto& [path, bytes] : files) QVERIFY2(path.back() != '/', path.c_str());
        ExpectCompletedWithoutFailures();
    }

    // A present file whose clusters lie around the holes deleted files left
    // is read along its chain in the volume's FAT; the files of one run and
    // the deleted one (whose chain is cleared) as consecutive clusters. Each
    // comes back byte for byte, and the log names none as failed.
    void FragmentedFatFileFollowsItsChain_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<int>("cluster");     // bytes
        QTest::addColumn<bool>("capitals");  // FAT32 short names are listed as they are
        QTest::newRow("FAT12") << QStringLiteral("recover12.img") << 1024 << false;
        QTest::newRow("FAT16") << QStringLiteral("recover16.img") << 2048 << false;
        QTest::newRow("FAT32") << QStringLiteral("recover32.img") << 512 << true;
    }
    void FragmentedFatFileFollowsItsChain() {
        QFETCH(QString, image);
        QFETCH(int, cluster);
        QFETCH(bool, capitals);
        const std::string profile = "[logical.E]\nimage=" + image.toStdString() + "\n";
        Open(profile.c_str());
        Click(w->TreeView2, DriveNode("(E:)"));
        const auto cs = static_cast<std::size_t>(cluster);
        // The fixture's names with their sizes; the listing's captions.
        const std::vector<std::pair<std::string, std::size_t>> files = {
            {"ONE.BIN", cs},         {"FRAG.BIN", 4 * cs + 100}, {"SEVERAL.BIN", 3 * cs + 17}, {"ZERO.BIN", 0},
            {"AFTER.BIN", cs},       {"EXACT.BIN", 2 * cs},      {"?OST.TXT", cs + 5}};
        auto caption = [&](const std::string& name) {
            if (capitals) return QString::fromStdString(name);
            const QString n = QString::fromStdString(name).toLower();
            return n.left(1).toUpper() + n.mid(1);
        };
        SelectFolder(FolderWith(caption("FRAG.BIN")));
        std::map<std::string, Bytes> want;
        for (const auto& [name, size] : files) {
            Check({caption(name)});
            std::string file = caption(name).toStdString();
            if (file[0] == '?') file[0] = '@';
            want[file] = vt::test::YesContent(name[0] == '?' ? "L" + name.substr(1) : name, size);
        }
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        QCOMPARE(Tree(TargetPath()), want);
        ExpectCompletedWithoutFailures();
    }

    // The volume of names that mcopy wrote (make-fatnames.sh): each row
    // shows the name the entry is recovered under (long names whose pieces
    // begin with "."; the short name where the long name's checksum or
    // sequence does not hold; 逍遥.txt from a first byte 0x05), and checking
    // every row brings each file back under it byte for byte.
    void AVolumeOfNamesShowsAndRecoversEachUnderItsName() {
        Open("[logical.E]\nimage=names16.img\n");
        Click(w->TreeView2, DriveNode("(E:)"));
        const std::vector<vt::test::NamedFile> files = vt::test::NamedFiles(false);
        const int k = FolderWith(QStringLiteral("._Quarterly Report.docx"));
        QVERIFY(k >= 0);
        QStringList rows = Captions(w->ListView1), shown;
        std::map<std::string, Bytes> want;
        for (const auto& f : files) {
            shown << QString::fromStdString(f.shown);
            want[f.target] = vt::test::YesContent(f.original, f.size);
        }
        rows.sort();
        shown.sort();
        QCOMPARE(rows, shown);
        Check(shown);
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        QCOMPARE(Tree(TargetPath()), want);
        ExpectCompletedWithoutFailures();
    }

    // Docs/Sub of fat12.img grew past its first cluster after its files'
    // data was written: its directory lies in four pieces. The found folder
    // lists every file of every piece (The Sleuth Kit's fls lists these 21
    // too), and recovering Docs brings the whole tree back byte for byte.
    void FragmentedFatFolderListsAndRecoversEveryPiece() {
        Open("[logical.E]\nimage=fat12.img\n");
        Click(w->TreeView2, DriveNode("(E:)"));
        std::map<std::string, Bytes> want = {
            {"Docs/", {}},
            {"Docs/中文文件名.txt", vt::test::YesContent("中文文件名.txt", 3000)},
            {"Docs/Café résumé.txt", vt::test::YesContent("Café résumé.txt", 1234)},
            {"Docs/Sub/", {}},
            {"Docs/Sub/deep.bin", vt::test::YesContent("deep.bin", 700)}};
        QStringList sub = {QStringLiteral("deep.bin")};
        for (int i = 1; i <= 20; ++i) {
            const std::string name = "file number " + std::to_string(i) + ".dat";
            want["Docs/Sub/" + name] = vt::test::YesContent(name, static_cast<std::size_t>(i) * 10);
            sub << QString::fromStdString(name);
        }
        const int k = FolderWith(QStringLiteral("deep.bin"));
        QVERIFY(k >= 0);
        QStringList rows = Captions(w->ListView1);
        rows.sort();
        sub.sort();
        QCOMPARE(rows, sub);
        // No other found folder lists them again.
        for (int j = 0; j < w->ScanRootNode->childCount(); ++j) {
            if (j == k) continue;
            SelectFolder(j);
            for (const QString& name : sub) QVERIFY2(RowOf(w->ListView1, name) < 0, qPrintable(name));
        }
        SelectFolder(FolderWith(QStringLiteral("Docs")));
        Check({QStringLiteral("Docs")});
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        QCOMPARE(Tree(TargetPath()), want);
        ExpectCompletedWithoutFailures();
    }

    // chains.img (tests/fixtures/make-fatdamage.sh): RUNON.BIN's chain runs
    // on into another file's and BROKEN.BIN's breaks after two clusters; the
    // HOST partition holds the image of a diskette made with its serial. A
    // file comes back byte for byte, or its line names it as failed.
    void DamagedChainsAndANestedVolumeComeBackOrAreNamed() {
        Open("[physical.0]\nimage=chains.img\n");
        Click(w->TreeView2, DriveNode("CHAINS"));
        SelectFolder(FolderWith(QStringLiteral("Runon.bin")));
        Check({QStringLiteral("Runon.bin"), QStringLiteral("Broken.bin")});
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        const auto got = Tree(TargetPath());
        QCOMPARE(got.size(), std::size_t(2));
        QCOMPARE(got.at("Runon.bin"), vt::test::YesContent("RUNON.BIN", 1500));
        // What the chain gave is the file's; the rest followed on, a guess.
        const Bytes broken = vt::test::YesContent("BROKEN.BIN", 2000);
        QCOMPARE(got.at("Broken.bin").size(), broken.size());
        QVERIFY(std::equal(broken.begin(), broken.begin() + 1024, got.at("Broken.bin").begin()));
        auto failures = [&] {
            std::vector<std::string> f;
            for (const std::string& l : LogLines(w->ListView3))
                if (l.find("恢复失败") != std::string::npos) f.push_back(l);
            return f;
        };
        QCOMPARE(failures(), std::vector<std::string>{"Broken.bin - 恢复失败"});
        QCOMPARE(LogLines(w->ListView3).back(), std::string("恢复完成。"));

        target = std::make_unique<QTemporaryDir>();
        Click(w->TreeView2, DriveNode("HOST"));
        SelectFolder(FolderWith(QStringLiteral("Iroot.txt")));
        Check({QStringLiteral("Iroot.txt"), QStringLiteral("Idir")});
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        QCOMPARE(Tree(TargetPath()), (std::map<std::string, Bytes>{
                                         {"Iroot.txt", vt::test::YesContent("IROOT.TXT", 700)},
                                         {"Idir/", {}},
                                         {"Idir/Ifile.bin", vt::test::YesContent("IFILE.BIN", 5000)}}));
        QCOMPARE(failures(), std::vector<std::string>{"Broken.bin - 恢复失败"});
        QCOMPARE(LogLines(w->ListView3).back(), std::string("恢复完成。"));
    }

    void NodeScannedBeforeIsShownWithoutReading() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        const QStringList rows = Captions(w->ListView1);
        Click(w->TreeView2, DriveNode("物理驱动器 00H"));
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        QCOMPARE(DeviceReads(), std::size_t(0));
        QCOMPARE(Captions(w->ListView1), rows);
        QCOMPARE(CountLine(w->ListView3, "驱动器扫描已启动"), 2);
        // Clicking the node that is shown does nothing.
        w->ListView1->Clear();
        Click(w->TreeView2, DriveNode("PHOTOS"));
        QCOMPARE(w->ListView1->Count(), 0);
        // Re-scan reads again.
        w->Action(QStringLiteral("Scan"))->trigger();
        QVERIFY(DeviceReads() > 0);
        QCOMPARE(CountLine(w->ListView3, "驱动器扫描已启动"), 3);
        QCOMPARE(Captions(w->ListView1), rows);
    }

    void ClicksWhileBusyAreRefused() {
        Open(kDisk1);
        QTreeWidgetItem* whole = DriveNode("物理驱动器 00H");
        QTreeWidgetItem* other = DriveNode("PRIMARY16");
        bool ran = false;
        Soon([&] {
            ran = true;
            QVERIFY(ui::AdvMain::CurrentDrive->Busy);
            Click(w->TreeView2, other);
            QCOMPARE(w->TreeView2->currentItem(), whole);
            w->Action(QStringLiteral("Scan"))->trigger();  // does nothing
            w->Action(QStringLiteral("Recover"))->trigger();
            QTest::mouseClick(w->RadioButton2, Qt::LeftButton);
            QVERIFY(!w->RadioButton2->isEnabled() && !w->RadioButton2->isChecked());
            Click(w->TreeView1, w->FindRootNode);  // its lists are being rebuilt
            QCOMPARE(w->ListView1->Count(), 0);
            QCOMPARE(w->ScanRootNode->childCount(), 0);
            w->Action(QStringLiteral("Stop"))->trigger();
        });
        Click(w->TreeView2, whole);
        QVERIFY(ran);
        QCOMPARE(CountLine(w->ListView3, "驱动器扫描已启动"), 1);
        QCOMPARE(CountLine(w->ListView3, "驱动器扫描被用户中止"), 1);
        QVERIFY(!ui::AdvMain::CurrentDrive->Busy);
        QVERIFY(BoxTexts().empty() || BoxTexts().front().find("没有选择") == std::string::npos);
        QCOMPARE(w->StatusBar->Panel(0)->text(), QString());
        QVERIFY(w->RadioButton2->isEnabled());
        // Not busy any more: the other node can be chosen and scans in full.
        Click(w->TreeView2, other);
        QCOMPARE(w->TreeView2->currentItem(), other);
        QCOMPARE(CountLine(w->ListView3, "驱动器扫描完成"), 1);
    }

    void StopEndsARecoveryBatch() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        const int files = CheckFoundFiles();
        QVERIFY(files >= 2);
        w->SelectTarget = [this](std::string& dir) {
            dir = target->path().toStdString();
            Soon([this] { w->Action(QStringLiteral("Stop"))->trigger(); });
            return true;
        };
        w->Action(QStringLiteral("Recover"))->trigger();
        // The file in hand is not left, and the batch ends with the stop
        // line, which names it.
        QCOMPARE(static_cast<int>(Tree(TargetPath()).size()), 0);
        QVERIFY2(EndsWithStopLine(), LogLines(w->ListView3).back().c_str());
        QCOMPARE(CountLine(w->ListView3, "恢复完成。"), 0);
        QVERIFY(!ui::AdvMain::CurrentDrive->Busy);
        QVERIFY(!ui::AdvMain::CurrentDrive->Aborted);
    }

    // While a batch runs, SmartScan from the toolbar or the drive tree's
    // popup is refused without a box, whatever node is selected, and a Stop
    // clicked then still ends the batch; afterwards SmartScan asks again.
    void SmartScanIsRefusedDuringABatch_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("boxAfter");
        QTest::newRow("a partition") << QStringLiteral("PHOTOS") << QStringLiteral("你应该指定一个物理驱动器进行扫描。");
        QTest::newRow("the physical drive") << QStringLiteral("物理驱动器 00H") << QStringLiteral("'深度扫描' 是一个漫长的扫描");
    }
    void SmartScanIsRefusedDuringABatch() {
        QFETCH(QString, node);
        QFETCH(QString, boxAfter);
        Open(kSmall);
        QTreeWidgetItem* selected = DriveNode(node.toUtf8().constData());
        Click(w->TreeView2, selected);
        QCOMPARE(w->TreeView2->currentItem(), selected);
        const int files = CheckFoundFiles();
        QVERIFY(files >= 2);
        boxes->answers = {win::IDNO};  // should a box come up after all
        bool tried = false;
        DuringTheBatch([&] {
            tried = true;
            QVERIFY(ui::AdvMain::CurrentDrive->Busy);
            QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("PartiScan"))));
            vt::uitest::ClickNode(w->TreeView2, selected, Qt::RightButton);
            QCOMPARE(QApplication::activePopupWidget(), w->DriveTreePopup);
            QVERIFY(vt::uitest::ChoosePopupItem(w->Action(QStringLiteral("PartiScan"))));
            QVERIFY(BoxTexts().empty());
            QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Stop"))));
        });
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        QVERIFY(tried);
        QVERIFY(BoxTexts().empty());
        QVERIFY2(EndsWithStopLine(), LogLines(w->ListView3).back().c_str());  // naming the file in hand
        QCOMPARE(CountLine(w->ListView3, "恢复完成。"), 0);
        QCOMPARE(CountLine(w->ListView3, "开始深度扫描..."), 0);
        QVERIFY(static_cast<int>(Tree(TargetPath()).size()) < files);
        QVERIFY(!ui::AdvMain::CurrentDrive->Busy);
        // The batch is over: SmartScan is the command it was.
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("PartiScan"))));
        QCOMPARE(static_cast<int>(BoxTexts().size()), 1);
        QVERIFY2(QString::fromStdString(BoxTexts().front()).startsWith(boxAfter), BoxTexts().front().c_str());
    }

    void DeepScanAsksFirstAndFindsTheLostPartition() {
        Open(kDisk1);
        // Only a physical drive can be deep-scanned.
        Click(w->TreeView2, DriveNode("PRIMARY16"));
        boxes->calls.clear();
        w->Action(QStringLiteral("PartiScan"))->trigger();
        QCOMPARE(BoxTexts(), std::vector<std::string>(
                                 {"你应该指定一个物理驱动器进行扫描。\r\r深度扫描: 从物理驱动器上找回丢失的分区。"}));

        QTreeWidgetItem* drive = DriveNode("物理驱动器 00H");
        {
            const QSignalBlocker block(w->TreeView2);
            w->TreeView2->setCurrentItem(drive);
        }
        boxes->calls.clear();
        boxes->answers = {win::IDNO};
        const std::size_t logRows = LogLines(w->ListView3).size();
        w->Action(QStringLiteral("PartiScan"))->trigger();
        QCOMPARE(BoxTexts(), std::vector<std::string>(
                                 {"'深度扫描' 是一个漫长的扫描, 要继续吗?\r\r深度扫描: 从物理驱动器上找回丢失的分区。"}));
        QCOMPARE(boxes->calls[0].type & win::MB_TYPEMASK, win::MB_YESNO);
        QCOMPARE(LogLines(w->ListView3).size(), logRows);
        QVERIFY(!Find(drive, QStringLiteral("丢失的分区")));

        // Yes, through the real question box.
        boxes.reset();
        vt::uitest::ModalDriver driver({[](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            // The carriage returns break the lines on screen.
            QCOMPARE(box->text(), QStringLiteral("'深度扫描' 是一个漫长的扫描, 要继续吗?\n\n深度扫描: 从物理驱动器上找回丢失的分区。"));
            QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        }});
        w->Action(QStringLiteral("PartiScan"))->trigger();
        boxes = std::make_unique<platform::MessageBoxRecorder>();
        QCOMPARE(driver.StepsRun(), 1);
        QTreeWidgetItem* lost = drive->child(drive->childCount() - 1);
        QCOMPARE(lost->text(0), QStringLiteral("丢失的分区"));
        QCOMPARE(ui::NodeImage(lost), 5);
        QCOMPARE(Children(lost), QStringList({"LOSTVOL (4.00 MB)"}));
        QCOMPARE(ui::NodeImage(lost->child(0)), 8);
        QCOMPARE(CountLine(w->ListView3, "发现 1 个丢失的分区"), 1);
        QCOMPARE(CountLine(w->ListView3, "深度扫描已经完成"), 1);
        // The lost-partitions node itself cannot be chosen.
        Click(w->TreeView2, lost);
        QCOMPARE(w->TreeView2->currentItem(), drive);

        // The lost partition scans like any other node; its files come back.
        Click(w->TreeView2, lost->child(0));
        QCOMPARE(ui::AdvMain::CurrentDrive->CurPartition, ui::AdvMain::CurrentDrive->LostPartitions[0].get());
        w->SearchPage->CheckBox2->setChecked(true);
        w->SearchPage->Edit1->setText(QStringLiteral("*.txt"));
        w->SearchPage->SetRadioGroupIndex(1);
        w->SearchPage->Button1->click();
        const int row = RowOf(w->ListView1, QStringLiteral("old.txt"));
        QVERIFY(row >= 0);
        w->ListView1->SetChecked(row, true);
        w->Action(QStringLiteral("Recover"))->trigger();
        QCOMPARE(Tree(TargetPath()), (std::map<std::string, Bytes>{{"old.txt", Text("old data\n")}}));

        // A second deep scan lists each lost partition once.
        {
            const QSignalBlocker block(w->TreeView2);
            w->TreeView2->setCurrentItem(drive);
        }
        boxes->answers = {win::IDYES};
        w->Action(QStringLiteral("PartiScan"))->trigger();
        QCOMPARE(Children(drive).count(QStringLiteral("丢失的分区")), 1);
        QCOMPARE(Children(drive->child(drive->childCount() - 1)), QStringList({"LOSTVOL (4.00 MB)"}));
    }

    void StopDuringTheDeepScan() {
        Open(kDisk1);
        QTreeWidgetItem* drive = DriveNode("物理驱动器 00H");
        {
            const QSignalBlocker block(w->TreeView2);
            w->TreeView2->setCurrentItem(drive);
        }
        boxes->answers = {win::IDYES};
        Soon([this] { w->Action(QStringLiteral("Stop"))->trigger(); });
        w->Action(QStringLiteral("PartiScan"))->trigger();
        QCOMPARE(CountLine(w->ListView3, "深度扫描进程被用户中止"), 1);
        QCOMPARE(CountLine(w->ListView3, "深度扫描已经完成"), 0);
        QVERIFY(!Find(drive, QStringLiteral("丢失的分区")));
        QVERIFY(!ui::AdvMain::CurrentDrive->Busy);
        QCOMPARE(w->StatusBar->Panel(0)->text(), QString());
        QCOMPARE(w->TreeView2->cursor().shape(), Qt::ArrowCursor);
    }

    // The rows of (E:) stay bound to (E:) when a deep scan of another drive
    // is started, from the drive tree's popup or with the arrow keys and the
    // toolbar: its folders list (E:)'s entries and its checked files come
    // back byte for byte from (E:), with no failure line.
    void DeepScanOfAnotherDriveLeavesTheShownRowsBound_data() {
        QTest::addColumn<bool>("keys");
        QTest::newRow("popup") << false;
        QTest::newRow("keys and toolbar") << true;
    }
    void DeepScanOfAnotherDriveLeavesTheShownRowsBound() {
        QFETCH(bool, keys);
        Open("[logical.E]\nimage=fat16.img\n[physical.0]\nimage=disk1.img\n");
        const std::uint64_t before = vt::test::FileChecksum(vt::test::ImagePath("fat16.img"));
        Click(w->TreeView2, DriveNode("PRIMARY16"));  // a partition of 00H, scanned
        Click(w->TreeView2, DriveNode("(E:)"));
        const int photos = FolderWith(QStringLiteral("Été à Paris.jpg"));
        QVERIFY(photos >= 0);
        const QStringList photoRows = Captions(w->ListView1);
        const int root = FolderWith(QStringLiteral("Readme.txt"));
        QVERIFY(root >= 0);  // and shown

        QTreeWidgetItem* whole = DriveNode("物理驱动器 00H");
        boxes->answers = {win::IDYES};
        const std::size_t logRows = LogLines(w->ListView3).size();
        if (keys) {
            w->TreeView2->setFocus();
            QTest::keyClick(w->TreeView2, Qt::Key_Down);
            QCOMPARE(w->TreeView2->currentItem(), whole);
            QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("PartiScan"))));
        } else {
            platform::DeviceTrace::Clear();
            platform::DeviceTrace::Enable(true);
            vt::uitest::ClickNode(w->TreeView2, whole, Qt::RightButton);
            QCOMPARE(QApplication::activePopupWidget(), w->DriveTreePopup);
            platform::DeviceTrace::Enable(false);
            QCOMPARE(DeviceReads(), std::size_t(0));  // the right-click reads nothing
            QCOMPARE(LogLines(w->ListView3).size(), logRows);
            QVERIFY(vt::uitest::ChoosePopupItem(w->Action(QStringLiteral("PartiScan"))));
        }
        QCOMPARE(BoxTexts(), std::vector<std::string>(
                                 {"'深度扫描' 是一个漫长的扫描, 要继续吗?\r\r深度扫描: 从物理驱动器上找回丢失的分区。"}));
        QCOMPARE(CountLine(w->ListView3, "深度扫描已经完成"), 1);

        vt::uitest::ClickRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("Readme.txt")));
        vt::uitest::ClickRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("lower.txt")), Qt::ControlModifier);
        vt::uitest::RightClick(w->ListView1->viewport(),
                               w->ListView1->visualRect(w->ListView1->Model()->index(RowOf(w->ListView1, QStringLiteral("lower.txt")), 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(w->PopupItem(QStringLiteral("Check1"))));
        QCOMPARE(w->ListView1->CheckedRows().size(), std::size_t(2));
        QVERIFY(vt::uitest::ClickToolButton(w.get(), w->ToolButton(QStringLiteral("Recover"))));
        QCOMPARE(Tree(TargetPath()), (std::map<std::string, Bytes>{{"Readme.txt", vt::test::YesContent("README.TXT", 5000)},
                                                                   {"lower.txt", vt::test::YesContent("lower.txt", 77)}}));
        const auto lines = LogLines(w->ListView3);
        QCOMPARE(lines[lines.size() - 2], std::string("正在恢复 ..."));
        QCOMPARE(lines.back(), std::string("恢复完成。"));
        // A folder click lists (E:)'s entries, as before the deep scan.
        SelectFolder(photos);
        QCOMPARE(Captions(w->ListView1), photoRows);
        QCOMPARE(vt::test::FileChecksum(vt::test::ImagePath("fat16.img")), before);
    }

    // While a batch runs nothing refills, sorts or re-checks the rows it
    // holds or switches the view: header clicks, folder clicks, the check
    // commands, Find and Back are refused. The batch writes what was
    // checked when it started, each file once.
    void ClicksDuringABatchLeaveItsRowsAlone() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        const int root = FolderWith(QStringLiteral("Photo.jpg"));
        const int album = FolderWith(QStringLiteral("a.txt"));
        SelectFolder(root);
        vt::uitest::ClickRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("Photo.jpg")));
        vt::uitest::ClickRow(w->ListView1, RowOf(w->ListView1, QStringLiteral("Readme")), Qt::ControlModifier);
        vt::uitest::RightClick(w->ListView1->viewport(),
                               w->ListView1->visualRect(w->ListView1->Model()->index(RowOf(w->ListView1, QStringLiteral("Readme")), 0)).center());
        QVERIFY(vt::uitest::ChoosePopupItem(w->PopupItem(QStringLiteral("Check1"))));
        const QStringList rows = Captions(w->ListView1);
        bool tried = false;
        DuringTheBatch([&] {
            tried = true;
            QVERIFY(ui::AdvMain::CurrentDrive->Busy);
            vt::uitest::ClickHeader(w->ListView1, 0);
            Click(w->TreeView1, w->ScanRootNode->child(album));
            vt::uitest::RightClick(w->ListView1->viewport(), w->ListView1->visualRect(w->ListView1->Model()->index(0, 0)).center());
            vt::uitest::ChoosePopupItem(w->PopupItem(QStringLiteral("Uncheckall1")));
            QTest::mouseClick(w->RadioButton2, Qt::LeftButton);
            w->SearchPage->Button1->click();
            w->Action(QStringLiteral("Backward"))->trigger();
            QCOMPARE(w->TreeView1->currentItem(), w->ScanRootNode->child(root));
            QCOMPARE(Captions(w->ListView1), rows);
            QVERIFY(w->RadioButton1->isChecked());
        });
        w->Action(QStringLiteral("Recover"))->trigger();
        QVERIFY(tried);
        QCOMPARE(Tree(TargetPath()), (std::map<std::string, Bytes>{{"Photo.jpg", PhotoJpg()}, {"Readme", Text("read me\n")}}));
        QCOMPARE(Captions(w->ListView1), rows);
        QCOMPARE(w->ListView1->CheckedRows().size(), std::size_t(2));
        QCOMPARE(LogLines(w->ListView3).back(), std::string("恢复完成。"));
        // Afterwards the header sorts again.
        vt::uitest::ClickHeader(w->ListView1, 0);
        QVERIFY(Captions(w->ListView1) != rows);
    }

    // The launcher's button shows the window modally and frees it when it
    // closes.
    void LauncherOpensTheWindowModally() {
        vt::test::InstallProfile(kSmall);
        QTemporaryDir dir;
        const std::string appDir = ::AppDir;
        ::AppDir = dir.path().toStdString() + "/";  // its settings go there
        ui::RegisterToolWindows();
        TfrmVtMain launcher;
        bool shown = false;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            auto* adv = qobject_cast<TfrmAdvMain*>(modal);
            QVERIFY(adv);
            shown = adv->isModal() && ui::AdvMain::DriveList != nullptr;
            adv->Wait = [](int) {};
            adv->Action(QStringLiteral("acClose"))->trigger();
        }});
        launcher.SpeedButton2Click();
        ::AppDir = appDir;
        QVERIFY(shown);
        QVERIFY(!ui::AdvMain::DriveList);
        QVERIFY(QFile::exists(dir.path() + QStringLiteral("/advrec.ini")));
    }

    // Closing the window frees the drives; a new window reads them again.
    void WindowReleasesItsDrives() {
        Open(kSmall);
        Click(w->TreeView2, DriveNode("PHOTOS"));
        w->close();
        QVERIFY(QFile::exists(appDir->path() + QStringLiteral("/advrec.ini")));
        w.reset();
        QVERIFY(!ui::AdvMain::DriveList);
        QVERIFY(!ui::AdvMain::CurrentDrive);
        QVERIFY(EventLogView == nullptr);
    }
};

QTEST_MAIN(AdvMain)
#include "AdvMain_test.moc"
