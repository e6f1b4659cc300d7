#include "AdvMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QItemSelectionModel>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "DiskParam.h"
#include "FileList.h"
#include "LowerPages.h"
#include "NtfsRecord.h"
#include "System.h"
#include "TargetFolder.h"
#include "WinApi.h"
#include "filetime.h"
#include "seldir.h"

namespace ui {

namespace AdvMain {
std::unique_ptr<TPhysicalDriveList> DriveList;
TPhysicalDrive* CurrentDrive = nullptr;
}  // namespace AdvMain

using AdvMain::CurrentDrive;
using AdvMain::DriveList;

namespace {

constexpr int kEntryRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

const char* const kLostPartitions = "丢失的分区";
const char* const kDeepScanLine = "深度扫描: 从物理驱动器上找回丢失的分区。";

// Texts are kept in UTF-8; the boxes and the log take them as they are.
QString U(const std::string& s) { return QString::fromStdString(s); }
QString U(const char* s) { return QString::fromUtf8(s); }

int Box(const std::string& text, const char* caption, win::UINT type) {
    return win::MessageBoxA(nullptr, text.c_str(), caption, type);
}
void WarningBox(const std::string& text) { Box(text, "Warning", win::MB_OK | win::MB_ICONWARNING); }

void Log(const std::string& text) { DataStruc::AddLogEvent(EventLogView, text, kLogInfo); }

std::string Printf(const char* format, auto... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    std::snprintf(out.data(), out.size() + 1, format, args...);
    return out;
}

// A selection model that asks before the current node changes: the trees
// refuse some nodes (busy drive, "My Computer", "Scan Results" ...).
class TGuardedSelection : public QItemSelectionModel {
public:
    TGuardedSelection(QAbstractItemModel* model, QObject* parent, std::function<bool(const QModelIndex&)> allow)
        : QItemSelectionModel(model, parent), allow_(std::move(allow)) {}
    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        if (index.isValid() && index != currentIndex() && !allow_(index)) return;
        QItemSelectionModel::setCurrentIndex(index, command);
    }
    void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        if (index.isValid() && !allow_(index)) return;
        QItemSelectionModel::select(index, command);
    }
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override {
        for (const QModelIndex& index : selection.indexes())
            if (!allow_(index)) return;
        // Clicks on empty space keep the node that is selected.
        if (selection.isEmpty() && (command & QItemSelectionModel::Clear) && currentIndex().isValid()) return;
        QItemSelectionModel::select(selection, command);
    }

private:
    std::function<bool(const QModelIndex&)> allow_;
};

void GuardTree(QTreeWidget* tree, std::function<bool(const QTreeWidgetItem*)> allow) {
    QItemSelectionModel* old = tree->selectionModel();
    auto* guarded = new TGuardedSelection(tree->model(), tree, [tree, allow](const QModelIndex& index) {
        return allow(tree->itemFromIndex(index));
    });
    tree->setSelectionModel(guarded);
    delete old;
}

void SetNodeImage(QTreeWidgetItem* node, int image) {
    node->setData(0, kImageRole, image);
    node->setIcon(0, AdvTreeIcon(image));
}

// The last character of a found folder's text: 'P', 'T' or none.
QChar Mark(const QTreeWidgetItem* node) {
    const QString t = node->text(0);
    return t.isEmpty() ? QChar() : t.back();
}
bool Marked(const QTreeWidgetItem* node) { return Mark(node) == QLatin1Char('P') || Mark(node) == QLatin1Char('T'); }

template <typename T>
T* Ptr(const std::unique_ptr<T>& p) {
    return p.get();
}
template <typename T>
T* Ptr(T* p) {
    return p;
}

QString FatDateText(std::uint16_t date, std::uint16_t time) {
    double value = 0;
    return FatDateTimeToDateTime(date, time, value) ? FormatListDate(value) : QString();
}

// A found folder: closed, open while selected.
const QIcon& FoundFolderIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (const QSize size : {QSize(16, 16), QSize(22, 22), QSize(32, 32)}) {
            i.addPixmap(AdvTreeIcon(imgFolder).pixmap(size), QIcon::Normal);
            i.addPixmap(AdvTreeIcon(imgFolderOpen).pixmap(size), QIcon::Selected);
        }
        return i;
    }();
    return icon;
}

}  // namespace

QIcon AdvTreeIcon(int image) {
    static const char* const names[] = {"computer",        "drive-harddisk", "drive-removable-media", "drive-multidisk",
                                        "folder",          "folder-open",    "system-search",         "drive-harddisk-system",
                                        "dialog-question", "edit-find"};
    if (image < 0 || image >= static_cast<int>(std::size(names))) return QIcon();
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(names[image]));
    if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("drive-harddisk"));
    return icon;
}

int NodeImage(const QTreeWidgetItem* node) {
    const QVariant v = node ? node->data(0, kImageRole) : QVariant();
    return v.isValid() ? v.toInt() : -1;
}

TfrmAdvMain::TfrmAdvMain(QWidget* parent)
    : TRecoveryFrame(TFrameKind::Advanced, parent),
      TreeView2(DriveTree),
      ScanRootNode(ScanResultsNode),
      FindRootNode(FindResultsNode),
      SelectTarget([](std::string& dir) { return SelectTargetDir(dir); }),
      OpenFolder([](const std::string& dir) { platform::ShellOpen(dir); }),
      progress_(ProgressBar1),
      panel0_(StatusBar->Panel(0)) {
    SetNodeImage(MyComputerNode, imgComputer);
    SetNodeImage(ScanRootNode, imgScanResults);
    SetNodeImage(FindRootNode, imgFindResults);
    // The drive tree is always shown whole: nothing collapses.
    TreeView2->setItemsExpandable(false);
    TreeView2->setExpandsOnDoubleClick(false);
    GuardTree(TreeView2, [this](const QTreeWidgetItem* n) { return TreeView2Changing(n); });
    GuardTree(TreeView1, [this](const QTreeWidgetItem* n) { return TreeView1Changing(n); });

    connect(TreeView2, &QTreeWidget::itemClicked, this, [this] { Guarded([this] { TreeView2Click(); }); });
    connect(TreeView1, &QTreeWidget::itemClicked, this, [this] { Guarded([this] { TreeView1Click(this); }); });
    connect(ListView1, &QAbstractItemView::clicked, this, [this] { Guarded([this] { ListView1Click(this); }); });
    connect(ListView1, &QAbstractItemView::doubleClicked, this, [this] { Guarded([this] { ListView1DblClick(); }); });
    // Only the user's clicks: checking a button from the code lists nothing.
    connect(RadioButton1, &QRadioButton::clicked, this, [this] { Guarded([this] { RadioButton1Click(); }); });
    connect(RadioButton2, &QRadioButton::clicked, this, [this] { Guarded([this] { RadioButton2Click(); }); });
    connect(Action(QStringLiteral("Scan")), &QAction::triggered, this, [this] { Guarded([this] { ScanExecute(); }); });
    connect(Action(QStringLiteral("Stop")), &QAction::triggered, this, [this] { StopExecute(); });
    connect(Action(QStringLiteral("PartiScan")), &QAction::triggered, this,
            [this] { Guarded([this] { PartiScanExecute(); }); });
    connect(Action(QStringLiteral("Recover")), &QAction::triggered, this,
            [this] { Guarded([this] { RecoverExecute(); }); });
    connect(Action(QStringLiteral("acToParent")), &QAction::triggered, this,
            [this] { Guarded([this] { acToParentExecute(this); }); });
    connect(OptionItem(QStringLiteral("Showntfolder")), &QAction::triggered, this,
            [this] { Guarded([this] { ShowntfolderClick(this); }); });
    connect(FileListPopup, &QMenu::aboutToShow, this, [this] { PopupMenu2Popup(); });
    ListView1->OnColumnClick = [this](int column) { Guarded([this, column] { ListView1ColumnClick(column); }); };
    connect(SearchPage->Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
}

TfrmAdvMain::~TfrmAdvMain() {
    // The rows point into the drive list: they go first, then the drives
    // with every tree and list they hold.
    ListView1->Clear();
    if (EventLogView == ListView3) EventLogView = nullptr;
    CurrentDrive = nullptr;
    DriveList.reset();
}

void TfrmAdvMain::Guarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        Box(e.what(), "Error", win::MB_OK | win::MB_ICONERROR);
    }
}

void TfrmAdvMain::SetPanel0(const char* text) { panel0_.SetText(text); }

bool TfrmAdvMain::AnyBusy() const {
    if (recovering_) return true;
    if (!DriveList) return false;
    for (std::uint8_t i = 0; i < DriveList->Count; ++i)
        if (DriveList->Drives[i] && DriveList->Drives[i]->Busy) return true;
    return false;
}

void TfrmAdvMain::SetScanning(bool on) {
    scanning_ = on;
    // The view cannot change while the lists behind it are rebuilt.
    FsSelector->setEnabled(!on);
}

void TfrmAdvMain::ListView1ColumnClick(int Column) {
    if (RowsLocked()) return;
    ListView1->ColumnClick(Column);
}

TfrmAdvMain::TScanBracket::TScanBracket(TfrmAdvMain* w) : w_(w) {
    w_->SetPanel0(" 正在扫描 ...");
    w_->SetBusyCursor(true);
    w_->SetScanning(true);
}

TfrmAdvMain::TScanBracket::~TScanBracket() {
    w_->SetScanning(false);
    w_->SetPanel0("");
    w_->SetBusyCursor(false);
}

void TfrmAdvMain::SetBusyCursor(bool on) {
    for (QWidget* w : {static_cast<QWidget*>(TreeView1), static_cast<QWidget*>(ListView1),
                       static_cast<QWidget*>(TreeView2)}) {
        if (on) w->setCursor(Qt::WaitCursor);
        else w->unsetCursor();
    }
}

// ---------------------------------------------------------------------------
// Showing the window

void TfrmAdvMain::ShowContent() { FormShow(); }

void TfrmAdvMain::FormShow() {
    DriveList = std::make_unique<TPhysicalDriveList>();
    CurrentDrive = nullptr;
    for (std::uint8_t i = 0; i < DriveList->Count; ++i) {
        CurrentDrive = DriveList->Drives[i].get();
        AddPartitionNode(TreeView2, MyComputerNode, CurrentDrive->Partitions[0].get());
    }

    WriteGreeting();

    AdvMain::SetHeaderImages(ListView1, &SortArrowImages());
    ListView1->SortRecordKind = [this] {
        if (!FatView()) return 3;
        return CurrentDrive && CurrentDrive->CurPartition ? static_cast<int>(CurrentDrive->CurPartition->FatType) : 0;
    };
    History = std::make_unique<TRecentFiles>();
    UpdateNavButtons();
    EventLogView = ListView3;
    Log("高级恢复已启动");
}

TPartiEntry* TfrmAdvMain::NodeEntry(const QTreeWidgetItem* node) {
    return node ? reinterpret_cast<TPartiEntry*>(node->data(0, kEntryRole).value<quintptr>()) : nullptr;
}

int TfrmAdvMain::NodeLevel(const QTreeWidgetItem* node) {
    int level = -1;
    for (; node; node = node->parent()) ++level;
    return level;
}

TPhysicalDrive* TfrmAdvMain::DriveOfNode(const QTreeWidgetItem* node) const {
    if (!node || !DriveList) return nullptr;
    while (node->parent() && node->parent() != MyComputerNode) node = node->parent();
    if (node->parent() != MyComputerNode) return nullptr;
    const int index = MyComputerNode->indexOfChild(const_cast<QTreeWidgetItem*>(node));
    if (index < 0 || index >= DriveList->Count) return nullptr;
    return DriveList->Drives[static_cast<std::size_t>(index)].get();
}

QString TfrmAdvMain::PartitionNodeText(const TPartiEntry& entry, int level) {
    const QString capacity = AdvMain::FormatCapacity(entry.SectorTotal());
    if (level == 1) {
        if (entry.DriveNo >= 0)
            return QStringLiteral("物理驱动器 %1H (%2)")
                .arg(QString::number(entry.DriveNo, 16).toUpper().rightJustified(2, QLatin1Char('0')), capacity);
        return QStringLiteral("(%1:) %2").arg(QChar(-entry.DriveNo), U(entry.VolumeLabel));
    }
    const std::uint8_t type = entry.RawEntry.SysType;
    if (type == kSysGap) return QStringLiteral("未使用 (%1)").arg(capacity);
    if (entry.IsExtended()) return QStringLiteral("扩展分区 (%1)").arg(capacity);
    if (entry.VolumeLabel.empty()) return QStringLiteral("无签名 (%1)").arg(capacity);
    return U(entry.VolumeLabel) + QStringLiteral(" (%1)").arg(capacity);
}

int TfrmAdvMain::PartitionNodeImage(const TPartiEntry& entry, int level) {
    if (level == 1) return entry.DriveNo >= 0 ? imgPhysicalDrive : imgLogicalDrive;
    const std::uint8_t type = entry.RawEntry.SysType;
    if (type == kSysGap || type == kSysLost) return imgGap;
    if (entry.IsExtended()) return imgExtended;
    return imgPartition;
}

void TfrmAdvMain::AddPartitionNode(QTreeWidget* TreeView, QTreeWidgetItem* Parent, TPartiEntry* Entry) {
    auto* node = Parent ? new QTreeWidgetItem(Parent) : new QTreeWidgetItem(TreeView);
    node->setData(0, kEntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(Entry)));
    const int level = NodeLevel(node);
    node->setText(0, PartitionNodeText(*Entry, level));
    SetNodeImage(node, PartitionNodeImage(*Entry, level));
    if (Entry->IsExtended())
        for (TPartiEntry* child : Entry->Children) AddPartitionNode(TreeView, node, child);
    if (Parent) TreeView->expandRecursively(TreeView->indexFromItem(Parent));
}

bool TfrmAdvMain::TreeView2Changing(const QTreeWidgetItem* node) const {
    // Whichever drive is busy: a deep scan runs on a drive other than the
    // one shown, a recovery on the shown one.
    if (AnyBusy()) return false;
    if (!node || node == MyComputerNode) return false;
    return NodeEntry(node) != nullptr;
}

// ---------------------------------------------------------------------------
// Scans and views

void TfrmAdvMain::SetCaptions() {
    const TPartiEntry* e = CurrentDrive->CurPartition;
    RadioButton1->setText(U(Printf("发现 %d 个FAT 项目", static_cast<int>(e->FatEntries.size()))));
    RadioButton2->setText(U(Printf("发现 %d 个NTFS 项目", static_cast<int>(e->NtfsEntries.size()))));
}

void TfrmAdvMain::TreeView2Click() {
    QTreeWidgetItem* node = TreeView2->currentItem();
    TPartiEntry* entry = NodeEntry(node);
    if (!entry || (CurrentDrive && CurrentDrive->CurPartition == entry)) return;
    TPhysicalDrive* drive = DriveOfNode(node);
    if (!drive || AnyBusy() || scanning_) return;
    SetPanel0("");
    CurrentDrive = drive;
    CurrentDrive->CurPartition = entry;
    ClearPreview();
    if (!entry->Scanned) ScanExecute();
    // Closing the window stops the scan; nothing more is shown then.
    if (!isVisible() || CurrentDrive != drive || CurrentDrive->CurPartition != entry) return;
    ShowEntryView(false);
}

// The view of the shown entry after a click or a scan: the captions, a new
// history, the view with more entries (FAT on a tie), its found folders and
// the rows of the first.
void TfrmAdvMain::ShowEntryView(bool afterScan) {
    const TPartiEntry* e = CurrentDrive->CurPartition;
    const auto f = static_cast<int>(e->FatEntries.size());
    const auto n = static_cast<int>(e->NtfsEntries.size());
    SetCaptions();
    const std::string found = Printf("已发现 %d 个FAT 项目, %d 个NTFS 项目.", f, n);
    if (afterScan) Log(found);
    History->Clear();
    const bool fat = f >= n;
    (fat ? RadioButton1 : RadioButton2)->setChecked(true);
    ListFolderNodes();
    if (ScanRootNode->childCount() > 0) {
        SelectFoundFolder(0);
        History->Add(AbsoluteIndex(ScanRootNode->child(0)));
        UpdateNavButtons();
        if (afterScan) SetPanel0(fat ? " 正列出 FAT 文件 ..." : " 正列出 NTFS 文件 ...");
        if (fat) FillFatFileList(e->FatEntries, 0, false);
        else FillNtfsFileList(e->NtfsEntries, 0, false);
    } else if (!afterScan) {
        // Without found folders a click still shows the (empty) list and
        // its counts; after a scan the counts stay as they were.
        if (fat) FillFatFileList(e->FatEntries, 0, false);
        else FillNtfsFileList(e->NtfsEntries, 0, false);
    }
    if (afterScan && f != 0 && n != 0)
        Box(found + "\r\rPlease select a kind of file system to show by \r使用 '文件系统选择器'。", "Information",
            win::MB_OK | win::MB_ICONINFORMATION);
}

void TfrmAdvMain::ScanExecute() {
    QTreeWidgetItem* node = TreeView2->currentItem();
    if (!node) {
        BlinkDrivePrompt(3);
        return;
    }
    TPartiEntry* entry = NodeEntry(node);
    if (!entry) return;
    TPhysicalDrive* drive = DriveOfNode(node);
    if (!drive) return;
    // Refused before anything changes: the view stays bound to the drive
    // and entry it shows.
    if (AnyBusy() || scanning_) return;
    CurrentDrive = drive;
    // The view is that entry's from here on, also when its scan cannot
    // start (its lists, the search results among them, are what is shown).
    CurrentDrive->CurPartition = entry;
    ClearPreview();

    // A fill that lets messages in (this scan may come from one) stops:
    // its list is about to be rebuilt.
    ++fillGeneration_;
    ListView1->BeginUpdate();
    TreeView1->setUpdatesEnabled(false);
    qDeleteAll(FindRootNode->takeChildren());
    qDeleteAll(ScanRootNode->takeChildren());
    ListView1->Clear();
    TreeView1->setUpdatesEnabled(true);
    ListView1->EndUpdate();

    const TScanBracket bracket(this);
    if (!drive->ScanPartition(entry, &progress_)) return;
    SetPanel0(" 正获取 FAT 数据 ...");
    drive->BuildFatList(&progress_);
    SetPanel0(" 正获取 NTFS 数据 ...");
    drive->BuildNtfsList(&progress_);
    SetScanning(false);
    // Closing the window stops the scan; nothing is shown then.
    if (!isVisible() || CurrentDrive != drive) return;
    ShowEntryView(true);
}

void TfrmAdvMain::StopExecute() {
    // The running scan, deep scan or recovery, whichever drive it reads
    // (a deep scan reads a drive other than the shown one); a drive that is
    // not busy ignores it.
    if (!DriveList) return;
    for (std::uint8_t i = 0; i < DriveList->Count; ++i)
        if (DriveList->Drives[i]) DriveList->Drives[i]->Stop();
}

void TfrmAdvMain::RadioButton1Click() {
    if (RowsLocked() || !CurrentDrive || !CurrentDrive->CurPartition) return;
    ListViewFolders();
    FillFatFileList(CurrentDrive->CurPartition->FatEntries, 0, false);
}

void TfrmAdvMain::RadioButton2Click() {
    if (RowsLocked() || !CurrentDrive || !CurrentDrive->CurPartition) return;
    ListViewFolders();
    FillNtfsFileList(CurrentDrive->CurPartition->NtfsEntries, 0, false);
}

void TfrmAdvMain::ListViewFolders() {
    ListFolderNodes();
    // The other view's history names its own found folders by their places
    // in the tree, where this view has other folders: it starts anew.
    History->Clear();
    if (ScanRootNode->childCount() > 0) {
        SelectFoundFolder(0);
        History->Add(AbsoluteIndex(ScanRootNode->child(0)));
    }
    UpdateNavButtons();
}

void TfrmAdvMain::ListFolderNodes() {
    const TPartiEntry* e = CurrentDrive->CurPartition;
    TreeView1->setUpdatesEnabled(false);
    qDeleteAll(ScanRootNode->takeChildren());
    const std::size_t k = FatView() ? e->DirSectors.size() : e->NtfsFolders.size();
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(static_cast<qsizetype>(k));
    for (std::size_t i = 0; i < k; ++i) {
        auto* node = new QTreeWidgetItem(QStringList(QString::asprintf("文件夹 %.6d", static_cast<int>(i))));
        node->setData(0, kImageRole, imgFolder);
        node->setIcon(0, FoundFolderIcon());
        nodes << node;
    }
    ScanRootNode->addChildren(nodes);
    ScanRootNode->setExpanded(true);
    TreeView1->setUpdatesEnabled(true);
}

void TfrmAdvMain::SelectFoundFolder(int k) {
    QTreeWidgetItem* node = ScanRootNode->child(k);
    if (!node) return;
    const QSignalBlocker block(TreeView1);
    TreeView1->setCurrentItem(node);
}

int TfrmAdvMain::FoundFolderIndex(const QTreeWidgetItem* node) const {
    return node && node->parent() == ScanRootNode ? ScanRootNode->indexOfChild(const_cast<QTreeWidgetItem*>(node))
                                                  : -1;
}

void TfrmAdvMain::FillRows(int first, int last, const std::function<void(int)>& addRow) {
    const unsigned generation = ++fillGeneration_;
    ListView1->BeginUpdate();
    struct Bracket {
        TfrmAdvMain* w;
        ~Bracket() {
            AdvMain::UpdateItemCounts(w->ListView1, w->StatusBar);
            w->ListView1->EndUpdate();
        }
    } bracket{this};
    ListView1->Clear();
    for (int i = first; i <= last; ++i) {
        platform::ProcessMessages();
        // A click meanwhile started a newer fill, which has shown its rows.
        if (fillGeneration_ != generation) return;
        addRow(i);
    }
    ListView1->CustomSort(AdvMain::CompareListItems, 10);
}

// The name the engine lists and recovers the entry under: short names are
// OEM bytes (a first byte 0x05 standing for 0xE5), shown as the recovery
// writes them.
QString TfrmAdvMain::FatEntryCaption(const TPhysMidEntry& entry) { return U(PhysEntryDisplayName(entry)); }

template <typename Records>
void TfrmAdvMain::FillFat(const Records& list, int Index, bool WholeList) {
    int first = 0, last = static_cast<int>(list.size()) - 1;
    if (!WholeList) {
        const TPartiEntry* e = CurrentDrive ? CurrentDrive->CurPartition : nullptr;
        std::int32_t f = 0, l = -1;
        if (!e || Index < 0 || static_cast<std::size_t>(Index) >= e->DirSectors.size() ||
            !CurrentDrive->FindFatChildRange(e->DirSectors[static_cast<std::size_t>(Index)],
                                             f, l)) {
            first = 0, last = -1;  // an empty list with its counts
        } else {
            first = f, last = std::min(l, static_cast<std::int32_t>(list.size()) - 1);
        }
    }
    FillRows(first, last, [&](int i) {
        const TPhysMidEntry* e = Ptr(list[static_cast<std::size_t>(i)]);
        const QString name = FatEntryCaption(*e);
        const auto& d = e->DirEntry;
        const bool file = IsFatFile(d);
        if (!file && (name == QLatin1String(".") || name == QLatin1String(".."))) return;
        int icon = -1;
        const QString type = file ? ShellTypeName(name.toStdString(), &icon) : U(FolderTypeName);
        ListView1->AddRow(e, file ? 1 : 0,
                          {name, type, AdvMain::FormatSizeText(d.FileSize.get()), FatDateText(d.CrtDate.get(), d.CrtTime.get()),
                           FatDateText(d.LstAccDate.get(), 0)},
                          icon);
    });
}

template <typename Records>
void TfrmAdvMain::FillNtfs(const Records& list, int Index, bool WholeList) {
    int first = 0, last = static_cast<int>(list.size()) - 1;
    if (!WholeList) {
        const TPartiEntry* e = CurrentDrive ? CurrentDrive->CurPartition : nullptr;
        std::int32_t f = 0, l = -1;
        if (!e || Index < 0 || static_cast<std::size_t>(Index) >= e->NtfsFolders.size() ||
            !CurrentDrive->FindNtfsChildRange(e->NtfsEntries, e->NtfsFolders[static_cast<std::size_t>(Index)], f, l)) {
            first = 0, last = -1;
        } else {
            first = f, last = std::min(l, static_cast<std::int32_t>(list.size()) - 1);
        }
    }
    QAction* showFolders = OptionItem(QStringLiteral("Showntfolder"));
    const bool folders = showFolders && showFolders->isChecked();
    FillRows(first, last, [&](int i) {
        const tntfsfilerecord* r = Ptr(list[static_cast<std::size_t>(i)]);
        const bool file = IsNtfsFile(r);
        if (!file && !folders) return;
        const QString name = U(r->Name);
        int icon = -1;
        const QString type = file ? ShellTypeName(r->Name, &icon) : U(FolderTypeName);
        ListView1->AddRow(r, file ? 1 : 0,
                          {name, type, AdvMain::FormatSizeText(r->DataSize),
                           FormatListDate(FileTimeToDateTime(r->FileName.CreationTime.get())),
                           FormatListDate(FileTimeToDateTime(r->FileName.AccessTime.get()))},
                          icon);
    });
}

void TfrmAdvMain::FillFatFileList(const std::vector<std::unique_ptr<TPhysMidEntry>>& List, int Index, bool WholeList) {
    FillFat(List, Index, WholeList);
}
void TfrmAdvMain::FillFatFileList(const std::vector<PPhysMidEntry>& List, int Index, bool WholeList) {
    FillFat(List, Index, WholeList);
}
void TfrmAdvMain::FillNtfsFileList(const std::vector<std::unique_ptr<tntfsfilerecord>>& List, int Index,
                                   bool WholeList) {
    FillNtfs(List, Index, WholeList);
}
void TfrmAdvMain::FillNtfsFileList(const std::vector<PNtfsFileRecord>& List, int Index, bool WholeList) {
    FillNtfs(List, Index, WholeList);
}

// ---------------------------------------------------------------------------
// Deep scan

void TfrmAdvMain::PartiScanExecute() {
    // While a scan or a recovery runs SmartScan is refused, before any box:
    // the running loop would wait under a box (a Stop clicked meanwhile
    // would be lost), and the engine would refuse the deep scan anyway.
    if (AnyBusy() || scanning_) return;
    QTreeWidgetItem* node = TreeView2->currentItem();
    if (!node) return;
    TPartiEntry* entry = NodeEntry(node);
    if (!entry || NodeLevel(node) != 1 || !entry->IsExtended() || entry->DriveNo < 0) {
        WarningBox(std::string("你应该指定一个物理驱动器进行扫描。\r\r") + kDeepScanLine);
        return;
    }
    TPhysicalDrive* drive = DriveOfNode(node);
    if (!drive) return;
    // The deep scan reads this drive, but the view stays with the drive and
    // entry it was read from (CurrentDrive): a deep scan only adds nodes to
    // the drive tree, and the rows shown are still recovered, previewed and
    // listed from where they came.
    if (Box(std::string("'深度扫描' 是一个漫长的扫描, 要继续吗?\r\r") + kDeepScanLine, "Confirm",
            win::MB_YESNO | win::MB_ICONQUESTION) != win::IDYES)
        return;
    const TScanBracket bracket(this);
    drive->DeepScan(entry, &progress_);
    if (!drive->LostPartitions.empty()) AddLostPartitionNodes(node);
}

// The lost partitions under their node "丢失的分区", last child of the drive
// node. A repeated deep scan finds the same partitions again: the node is
// made anew and lists each partition once.
void TfrmAdvMain::AddLostPartitionNodes(QTreeWidgetItem* driveNode) {
    TPhysicalDrive* drive = DriveOfNode(driveNode);
    std::vector<TPartiEntry*> unique;
    for (const auto& lost : drive->LostPartitions) {
        const bool seen = std::any_of(unique.begin(), unique.end(), [&](const TPartiEntry* u) {
            return u->FirstSector() == lost->FirstSector() &&
                   u->SectorTotal() == lost->SectorTotal();
        });
        if (!seen) unique.push_back(lost.get());
    }
    for (int i = driveNode->childCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* child = driveNode->child(i);
        if (!NodeEntry(child) && child->text(0) == U(kLostPartitions)) {
            // Keep the selection off the nodes that go.
            if (TreeView2->currentItem() && TreeView2->currentItem()->parent() == child) {
                const QSignalBlocker block(TreeView2);
                TreeView2->setCurrentItem(driveNode);
            }
            delete driveNode->takeChild(i);
        }
    }
    auto* lostNode = new QTreeWidgetItem(driveNode, QStringList(U(kLostPartitions)));
    SetNodeImage(lostNode, imgFolderOpen);
    Log(Printf("发现 %d 个丢失的分区", static_cast<int>(unique.size())));
    for (TPartiEntry* e : unique) AddPartitionNode(TreeView2, lostNode, e);
}

// ---------------------------------------------------------------------------
// Found folders and rows

// While a scan rebuilds the lists or a batch recovers the rows, the selected
// folder stays the one whose rows are listed.
bool TfrmAdvMain::TreeView1Changing(const QTreeWidgetItem* node) const {
    return node != ScanRootNode && !RowsLocked();
}

void TfrmAdvMain::TreeView1Click(QObject* Sender) {
    if (RowsLocked() || !CurrentDrive || !CurrentDrive->CurPartition) return;
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (!node) return;
    TPartiEntry* e = CurrentDrive->CurPartition;
    const int k = FoundFolderIndex(node);
    if (k >= 0) {
        if (FatView()) FillFatFileList(e->FatEntries, k, false);
        else FillNtfsFileList(e->NtfsEntries, k, false);
    } else if (node == FindRootNode) {
        const int index = TreeView1->indexOfTopLevelItem(node);
        if (FatView()) FillFatFileList(e->FatFound, index, true);
        else FillNtfsFileList(e->NtfsFound, index, true);
    }
    if (Sender && History) History->Add(AbsoluteIndex(node));
    UpdateNavButtons();
    SetPanel0(Mark(node) == QLatin1Char('P')   ? " Partly Recovered"
              : Mark(node) == QLatin1Char('T') ? " Totally Recovered"
                                               : "");
}

void TfrmAdvMain::ShowHistoryNode(QTreeWidgetItem* node) {
    {
        const QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(node);
    }
    TreeView1Click(nullptr);
}

void TfrmAdvMain::SetHint(const QString& text, bool red) {
    QPalette pal = MessageStrip->palette();
    pal.setColor(QPalette::WindowText, red ? Qt::red : Qt::black);
    MessageStrip->setPalette(pal);
    MessageStrip->setText(text);
}

void TfrmAdvMain::ListView1Click(QObject*) {
    if (scanning_ || !CurrentDrive || !CurrentDrive->CurPartition || ListView1->SelCount() != 1) return;
    const int row = ListView1->Selected();
    if (row < 0) return;
    if (TabSet1->currentIndex() == 0) ShowProperties(row);
    else if (TabSet1->currentIndex() == 1) ShowFileHead(row);
}

void TfrmAdvMain::ShowProperties(int row) {
    const TPartiEntry* part = CurrentDrive->CurPartition;
    ListView2->SetValue(TPropertyList::rowFileName, ListView1->Text(row, 0));
    ListView2->SetValue(TPropertyList::rowType, ListView1->Text(row, 1));
    ListView2->SetValue(TPropertyList::rowSize, ListView1->Text(row, 2));
    ListView2->SetValue(TPropertyList::rowCreated, ListView1->Text(row, 3));
    ListView2->SetValue(TPropertyList::rowAccessed, ListView1->Text(row, 4));
    auto flags = [&](std::uint32_t attr, std::uint32_t ro, std::uint32_t sys, std::uint32_t arc, std::uint32_t hid) {
        ListView2->SetValue(TPropertyList::rowReadOnly, AdvMain::AttrFlagText((attr & ro) != 0));
        ListView2->SetValue(TPropertyList::rowSystem, AdvMain::AttrFlagText((attr & sys) != 0));
        ListView2->SetValue(TPropertyList::rowArchive, AdvMain::AttrFlagText((attr & arc) != 0));
        ListView2->SetValue(TPropertyList::rowHidden, AdvMain::AttrFlagText((attr & hid) != 0));
    };
    if (const TPhysMidEntry* e = ListView1->PhysMidEntry(row)) {
        const auto& d = e->DirEntry;
        flags(d.Attr, 0x01, 0x04, 0x20, 0x02);
        ListView2->SetValue(TPropertyList::rowCompressed, QString());
        const std::uint64_t size = d.FileSize.get();
        ListView2->SetValue(TPropertyList::rowSize, QString::number(size));
        // Without a cluster size (the scan could not estimate it) nothing
        // is known about the allocation. A volume inside the node has a
        // cluster size of its own.
        const std::int32_t spc = e->Volume >= 0 && static_cast<std::size_t>(e->Volume) < part->FatVolumes.size()
                                     ? part->FatVolumes[static_cast<std::size_t>(e->Volume)].SectorsPerCluster
                                     : part->SectorsPerCluster;
        const std::uint64_t cluster = spc > 0 ? static_cast<std::uint64_t>(spc) * 512 : 0;
        ListView2->SetValue(TPropertyList::rowAllocated,
                            cluster ? QString::number((size + cluster - 1) / cluster * cluster) : QString());
        ListView2->SetValue(TPropertyList::rowModified, FatDateText(d.WrtDate.get(), d.WrtTime.get()));
    } else if (const tntfsfilerecord* r = ListView1->NtfsRecord(row)) {
        ListView2->SetValue(TPropertyList::rowSize, QString::number(r->DataSize));
        ListView2->SetValue(TPropertyList::rowAllocated, QString::number(r->AllocatedSize));
        ListView2->SetValue(TPropertyList::rowModified,
                            FormatListDate(FileTimeToDateTime(r->FileName.ModificationTime.get())));
        const std::uint32_t attr = r->FileName.FileAttributes.get();
        flags(attr, 0x1, 0x4, 0x20, 0x2);
        ListView2->SetValue(TPropertyList::rowCompressed, AdvMain::AttrFlagText((attr & 0x800) != 0));
    }
}

void TfrmAdvMain::ShowFileHead(int row) {
    if (ListView1->ImageIndex(row) != 1) return;
    const bool fat = ListView1->PhysMidEntry(row) != nullptr;
    if (!CurrentDrive->ReadFileHead(ListView1->Data(row), fat ? vt::fsFat16 : vt::fsNtfs, HexBuffer)) {
        SetHint(QStringLiteral(" 无法从该文件找回数据。"), true);
        return;
    }
    ResetHexView();
    SetHint(QString(), false);
    const QString caption = ListView1->Text(row, 0);
    const qsizetype dot = caption.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return;
    const QString ext = caption.mid(dot + 1);
    if (ext.size() < 2) return;
    const std::string lower = ext.toLower().toStdString();
    for (const TFileSignature& s : FileSignatures) {
        if (lower != s.Ext) continue;
        SetHint(QStringLiteral(" 文件 '.%1' 的正常标题(第一二字节)是 '%2 %3'")
                    .arg(ext, QString::number(s.Head[0], 16).toUpper(), QString::number(s.Head[1], 16).toUpper()),
                false);
        return;
    }
}

std::int64_t TfrmAdvMain::FolderSectorKey(const TPhysMidEntry& entry) const {
    // By the layout of the volume that holds the entry (a node may hold
    // several); a folder that cannot be placed names no found directory.
    const auto sector = CurrentDrive->FatEntrySector(entry, CurrentDrive->CurPartition->FatType);
    return sector ? *sector : -1;
}

void TfrmAdvMain::ListView1DblClick() {
    if (RowsLocked() || !CurrentDrive || !CurrentDrive->CurPartition || ListView1->SelCount() != 1) return;
    const int row = ListView1->Selected();
    if (row < 0 || ListView1->ImageIndex(row) != 0) return;
    if (!FatView()) {
        WarningBox("在\"高级恢复\"模式下无法打开 NTFS 目录。");
        return;
    }
    const TPhysMidEntry* e = ListView1->PhysMidEntry(row);
    if (!e) return;
    const TPartiEntry* part = CurrentDrive->CurPartition;
    const std::int64_t key = FolderSectorKey(*e);
    const int count = std::min<int>(ScanRootNode->childCount(), static_cast<int>(part->DirSectors.size()));
    for (int k = 0; k < count; ++k) {
        if (part->DirSectors[static_cast<std::size_t>(k)] != key) continue;
        SelectFoundFolder(k);
        History->Add(AbsoluteIndex(ScanRootNode->child(k)));
        UpdateNavButtons();
        FillFatFileList(part->FatEntries, k, false);
        return;
    }
    WarningBox("无法定位该目录，该目录大概已经损坏\r或你已经停止了扫描进程。");
}

void TfrmAdvMain::PopupMenu2Popup() {
    Action(QStringLiteral("acToParent"))->setEnabled(TreeView1->currentItem() == FindRootNode);
}

void TfrmAdvMain::acToParentExecute(QObject* Sender) {
    if (RowsLocked() || !CurrentDrive || !CurrentDrive->CurPartition) return;
    const int row = ListView1->Selected();
    if (row < 0) return;
    const TPartiEntry* part = CurrentDrive->CurPartition;
    int k = -1;
    if (const TPhysMidEntry* e = ListView1->PhysMidEntry(row)) {
        const auto it = std::find(part->DirSectors.begin(), part->DirSectors.end(), e->DirSector);
        if (it != part->DirSectors.end()) k = static_cast<int>(it - part->DirSectors.begin());
    } else if (const tntfsfilerecord* r = ListView1->NtfsRecord(row)) {
        const std::int64_t parent = FileRefToInt64(r->FileName.ParentRef);
        const auto it = std::find(part->NtfsFolders.begin(), part->NtfsFolders.end(), parent);
        if (it != part->NtfsFolders.end()) k = static_cast<int>(it - part->NtfsFolders.begin());
    }
    if (k < 0 || k >= ScanRootNode->childCount()) return;
    SelectFoundFolder(k);
    TreeView1Click(Sender);
}

void TfrmAdvMain::ShowntfolderClick(QObject* Sender) {
    // The item's check mark has toggled itself.
    if (!FatView()) TreeView1Click(Sender);
}

// ---------------------------------------------------------------------------
// Find

void TfrmAdvMain::Button1Click() {
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (RowsLocked() || !node || !CurrentDrive || !CurrentDrive->CurPartition) return;
    TSearchPage* page = SearchPage;
    const bool currentFolder = page->RadioGroupIndex() == 0;
    const int k = FoundFolderIndex(node);
    if (currentFolder && k < 0) return;
    const QString name = page->Edit1->text().trimmed();
    const bool byName = page->CheckBox2->isChecked();
    if (!((!name.isEmpty() && byName) || page->CheckBox3->isChecked() || page->CheckBox4->isChecked())) {
        WarningBox("你必须指定一种搜索条件。");
        return;
    }
    if (page->SpinEdit1->value() < 0 || page->SpinEdit2->value() < 0) {
        Box("文件大小至少不能为  0.", "Error", win::MB_OK | win::MB_ICONERROR);
        return;
    }
    TPartiEntry* part = CurrentDrive->CurPartition;
    const bool fat = !RadioButton2->isChecked();
    // The pickers hold days: the range runs from the start of the earlier
    // day to the end of the later one, whatever time they carry.
    double dateFrom = 0, dateTo = 0;
    if (page->CheckBox3->isChecked()) {
        const double a = page->DateFromValue(), b = page->DateToValue();
        dateFrom = std::floor(std::min(a, b));
        dateTo = std::floor(std::max(a, b)) + 1;
    }
    std::int64_t sizeFrom = -1, sizeTo = -1;
    page->SearchSizes(1024, sizeFrom, sizeTo);
    std::int64_t folderKey = -1;
    if (currentFolder) {
        const auto& keys = fat ? part->DirSectors : part->NtfsFolders;
        if (static_cast<std::size_t>(k) >= keys.size()) return;
        folderKey = keys[static_cast<std::size_t>(k)];
    }
    CurrentDrive->SearchEntries(fat ? vt::fsFat12 : vt::fsNtfs, byName ? name.toStdString() : std::string(),
                                page->CheckBox1->isChecked(), static_cast<std::uint8_t>(page->ComboBox1->currentIndex()),
                                dateFrom, dateTo, sizeFrom, sizeTo, folderKey);
    {
        const QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(FindRootNode);
    }
    const int index = TreeView1->indexOfTopLevelItem(FindRootNode);
    if (FatView()) FillFatFileList(part->FatFound, index, true);
    else FillNtfsFileList(part->NtfsFound, index, true);
    History->Add(AbsoluteIndex(FindRootNode));
    UpdateNavButtons();
}

// ---------------------------------------------------------------------------
// Recovery

void TfrmAdvMain::RecoverExecute() {
    if (!CurrentDrive || RowsLocked()) return;
    TPhysicalDrive* drive = CurrentDrive;
    drive->Busy = true;
    // Until the end nothing may refill, sort or re-check the list, switch
    // the view or rebuild the found folders the batch marks.
    recovering_ = true;
    FsSelector->setEnabled(false);
    std::vector<const void*> records;
    for (int row : ListView1->CheckedRows()) records.push_back(ListView1->Data(row));
    SetBusyCursor(true);
    struct Ending {
        TfrmAdvMain* w;
        TPhysicalDrive* drive;
        ~Ending() {
            drive->Busy = false;
            w->recovering_ = false;
            w->FsSelector->setEnabled(true);
            // A stop that came while the last file was written without
            // looking at it must not stop the next scan.
            drive->ClearAbort();
            w->SetPanel0("");
            w->SetBusyCursor(false);
        }
    } ending{this, drive};

    if (records.empty()) {
        WarningBox("没有选择恢复的文件，请选择要恢复的文件。");
        return;
    }
    const TPartiEntry* part = drive->CurPartition;
    if (!part) return;
    const bool fat = FatView();
    const TFsType kind = fat ? part->FatType : vt::fsNtfs;
    std::string target;
    if (!SelectTarget || !SelectTarget(target)) return;
    SetPanel0(" 正在恢复 ...");
    Log("正在恢复 ...");
    // The whole batch goes through one descriptor of the chosen folder, and
    // is written back through it: the path may name another folder (or a
    // link) by the end.
    const vt::TargetFolder folder = vt::TargetFolder::Open(target);
    // A FAT row whose recovery raises (a folder that cannot be made in the
    // target) is named as failed and the rows after it are still tried; the
    // first error is shown when the batch has ended.
    std::exception_ptr fatError;
    bool stopped = false;
    for (const void* record : records) {
        int result = 0;
        if (!fat) {
            const auto* r = static_cast<const tntfsfilerecord*>(record);
            // NTFS folders cannot be opened here: a checked one is passed
            // over without a line, since nothing of it failed ("Check all"
            // ticks $Extend and the like beside the files, which are
            // checked with it). A record whose recovery failed with an
            // exception is named as failed (the others say so themselves).
            if (!IsNtfsFile(r)) continue;
            try {
                result = drive->RecoverFile(r, vt::fsNtfs, folder, &progress_, &panel0_);
            } catch (const std::exception&) {
                DataStruc::AddLogEvent(EventLogView, r->Name + " - 恢复失败", kLogError);
                continue;
            }
        } else {
            const auto* e = static_cast<const TPhysMidEntry*>(record);
            try {
                if (IsFatFile(e->DirEntry)) {
                    result = drive->RecoverFile(e, kind, folder, &progress_, &panel0_);
                } else {
                    result = drive->RecoverFolder(e, kind, folder, &progress_, &panel0_);
                    MarkFolderRecovered(*e);
                }
            } catch (const std::exception&) {
                DataStruc::AddLogEvent(EventLogView, PhysEntryDisplayName(*e) + " - 恢复失败", kLogError);
                if (!fatError) fatError = std::current_exception();
                continue;
            }
        }
        if (result == 1) {
            stopped = true;
            break;
        }
    }
    // Nothing is called complete before the target's file system has the
    // bytes and the names: a full or failing stick, a network share may
    // report a failed write only when it writes back.
    const int unsynced = folder.Sync();
    bool targetLines = unsynced != 0;
    if (unsynced != 0)
        DataStruc::AddLogEvent(EventLogView, target + " - 无法写入目录驱动器，恢复失败。" + std::strerror(unsynced),
                               kLogError);
    if (!fatError && OpenDestDir() && OpenFolder) {
        // Only the folder the batch wrote into is opened (as root, through
        // the desktop): not whatever the path names now.
        if (folder.IsAt(target)) {
            OpenFolder(target);
        } else {
            DataStruc::AddLogEvent(EventLogView, target + " - " + ui::kFolderNotOpenedText, kLogWarning);
            targetLines = true;
        }
    }
    // A stopped batch ends with its stop line: the engine's, naming the
    // file it was in, or the window's own for a stop that no copy looked at
    // (it came during the last files, which do not look) or when lines
    // about the target came after the engine's. A batch whose write-back
    // failed is not complete.
    if (stopped ? targetLines : drive->Aborted) {
        DataStruc::AddLogEvent(EventLogView, "恢复进程被用户中止", kLogWarning);
        stopped = true;
    }
    if (!stopped && unsynced == 0) Log("恢复完成。");
    TabSet1->setCurrentIndex(3);
    TabSet1Click();
    if (fatError) std::rethrow_exception(fatError);
    if (QTreeWidgetItem* node = TreeView1->currentItem(); node && node->text(0) != QLatin1String("Find Results") &&
                                                          node != ScanRootNode && !Marked(node))
        node->setText(0, node->text(0) + QStringLiteral(" - P"));
}

QTreeWidgetItem* TfrmAdvMain::FindFolderNode(const TPhysMidEntry& Entry) const {
    const TPartiEntry* part = CurrentDrive ? CurrentDrive->CurPartition : nullptr;
    if (!part) return nullptr;
    const std::int64_t key = FolderSectorKey(Entry);
    const int count = std::min<int>(ScanRootNode->childCount(), static_cast<int>(part->DirSectors.size()));
    for (int k = 0; k < count; ++k)
        if (part->DirSectors[static_cast<std::size_t>(k)] == key) return ScanRootNode->child(k);
    return nullptr;
}

void TfrmAdvMain::MarkFolderRecovered(const TPhysMidEntry& Entry) {
    std::vector<const QTreeWidgetItem*> visited;
    MarkFolder(Entry, visited);
}

// Found directories of a damaged disk may lead back to one another: each
// found folder is marked (and its sub-folders followed) once per marking.
void TfrmAdvMain::MarkFolder(const TPhysMidEntry& entry, std::vector<const QTreeWidgetItem*>& visited) {
    QTreeWidgetItem* node = FindFolderNode(entry);
    if (!node || std::find(visited.begin(), visited.end(), node) != visited.end()) return;
    visited.push_back(node);
    QString text = node->text(0);
    if (Marked(node)) text.back() = QLatin1Char('T');
    else text += QStringLiteral(" - T");
    node->setText(0, text);
    std::int32_t first = 0, last = -1;
    TPartiEntry* part = CurrentDrive->CurPartition;
    if (!CurrentDrive->FindFatChildRange(FolderSectorKey(entry), first, last)) return;
    for (std::int32_t i = first; i <= last && i < static_cast<std::int32_t>(part->FatEntries.size()); ++i) {
        const TPhysMidEntry& child = *part->FatEntries[static_cast<std::size_t>(i)];
        if (!IsFatFile(child.DirEntry)) MarkFolder(child, visited);
    }
}

void TfrmAdvMain::closeEvent(QCloseEvent* e) {
    // Closing is never refused; a scan or recovery still running stops at
    // its next look at the stop flag.
    StopExecute();
    TRecoveryFrame::closeEvent(e);
}

}  // namespace ui
