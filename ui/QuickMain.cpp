#include "QuickMain.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_set>

#include "DiskUtils.h"
#include "QtReporting.h"
#include "System.h"
#include "TargetFolder.h"
#include "WinApi.h"
#include "filetime.h"
#include "seldir.h"

namespace {

constexpr int kDataRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kSelectedImageRole = Qt::UserRole + 2;

// Folder-tree pictures.
enum { imgScanResults = 0, imgFindResults = 1, imgFolder = 2, imgFolderOpen = 3, imgDeleted = 4,
       imgDeletedOpen = 5, imgLost = 6 };
// File-list pictures.
enum { rowFolder = 0, rowDeletedFolder = 1, rowLostFolder = 2, rowFile = 3, rowDeletedFile = 4 };

const char* const kDeletedText = "已删除";
const char* const kLostText = "已损坏";
const char* const kDirectoryPanel = " 目录";
const char* const kScanningPanel = " 正在扫描 ...";
constexpr int kLogInfo = 0;
constexpr int kLogWarning = 1;
constexpr int kLogError = 2;

QIcon Theme(const char* name, QStyle::StandardPixmap fallback) {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

// ImageList3 of the folder tree.
QIcon TreeImage(int index) {
    static std::map<int, QIcon> cache;
    auto it = cache.find(index);
    if (it != cache.end()) return it->second;
    QIcon icon;
    const QIcon folder = Theme("folder", QStyle::SP_DirClosedIcon);
    const QIcon open = Theme("folder-open", QStyle::SP_DirOpenIcon);
    switch (index) {
    case imgScanResults: icon = Theme("drive-harddisk", QStyle::SP_DriveHDIcon); break;
    case imgFindResults: icon = Theme("edit-find", QStyle::SP_FileDialogContentsView); break;
    case imgFolder: icon = folder; break;
    case imgFolderOpen: icon = open; break;
    case imgDeleted: icon = ui::DeletedPicture(folder); break;
    case imgDeletedOpen: icon = ui::DeletedPicture(open); break;
    case imgLost: icon = ui::LostPicture(folder); break;
    default: break;
    }
    cache[index] = icon;
    return icon;
}

// ImageList7 of the drive tree: 1 removable, 2 fixed.
QIcon DriveImage(int index) {
    return index == 1 ? Theme("drive-removable-media", QStyle::SP_DriveFDIcon)
                      : Theme("drive-harddisk", QStyle::SP_DriveHDIcon);
}

QString U(const std::string& s) { return QString::fromStdString(s); }

std::string Trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

// A selection model that asks before each change: the "changing" events
// of the drive and folder trees. An invalid index stands for clearing.
class TGuardedSelection : public QItemSelectionModel {
public:
    TGuardedSelection(QAbstractItemModel* model, QObject* parent, std::function<bool(const QModelIndex&)> allow)
        : QItemSelectionModel(model, parent), allow_(std::move(allow)) {}
    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        if (index != currentIndex() && !allow_(index)) return;
        QItemSelectionModel::setCurrentIndex(index, command);
    }
    void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        select(QItemSelection(index, index), command);
    }
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override {
        if (command != QItemSelectionModel::NoUpdate) {
            const QModelIndexList indexes = selection.indexes();
            if (indexes.isEmpty()) {
                if ((command & QItemSelectionModel::Clear) && hasSelection() && !allow_(QModelIndex())) return;
            } else {
                for (const QModelIndex& i : indexes)
                    if (!isSelected(i) && !allow_(i)) return;
            }
        }
        QItemSelectionModel::select(selection, command);
    }

private:
    std::function<bool(const QModelIndex&)> allow_;
};

}  // namespace


TfrmQuickMain::TfrmQuickMain(QWidget* parent) : ui::TRecoveryFrame(ui::TFrameKind::Standard, parent) {
    ScanRootNode = ScanResultsNode;
    FindRootNode = FindResultsNode;
    scanRootText_ = ScanRootNode->text(0);
    OpenFolder = [](const std::string& dir) { platform::ShellOpen(dir); };
    TRecoveryFrame::Busy = [this] { return Busy(); };

    statusPanel_ = std::make_unique<TStatusPanelView>(StatusBar->Panel(1));
    progressBar_ = std::make_unique<TProgressBarView>(ProgressBar1);

    // The folder tree's pictures are made with the window, as an image list
    // of it: the marked ones paint their mark with a font the toolkit loads
    // on first use, which would otherwise fall on the first drive opened.
    for (int image = imgScanResults; image <= imgLost; ++image) TreeImage(image);
    for (QTreeWidgetItem* root : {ScanRootNode, FindRootNode}) {
        const int image = root == ScanRootNode ? imgScanResults : imgFindResults;
        root->setData(0, kImageRole, image);
        root->setData(0, kSelectedImageRole, image);
        root->setIcon(0, TreeImage(image));
    }
    MyComputerNode->setFlags(MyComputerNode->flags() & ~Qt::ItemIsSelectable);

    // The drive tree never collapses and refuses every change while busy;
    // the folder tree refuses a folder whose contents are lost.
    DriveTree->setItemsExpandable(false);
    DriveTree->setExpandsOnDoubleClick(false);
    DriveTree->setSelectionModel(new TGuardedSelection(DriveTree->model(), DriveTree, [this](const QModelIndex& i) {
        return Treeview2Changing(DriveTree->itemFromIndex(i));
    }));
    TreeView1->setSelectionModel(new TGuardedSelection(TreeView1->model(), TreeView1, [this](const QModelIndex& i) {
        return TreeView1Changing(TreeView1->itemFromIndex(i));
    }));
    // The tree widgets connect their current-item signal to the selection
    // model they were made with; the guarded models report here.
    connect(DriveTree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& i) {
        QTreeWidgetItem* node = DriveTree->itemFromIndex(i);
        if (node && !changingByCode_) Treeview2Change(DriveTree, node);
    });
    connect(DriveTree, &QTreeWidget::itemCollapsed, this, [](QTreeWidgetItem* node) { node->setExpanded(true); });
    // Selecting a drive node opens that drive; a right-click only opens the
    // popup over it (its Re-scan and Stop work on the drive selected), so
    // the right button never moves the selection.
    DriveTree->viewport()->installEventFilter(this);
    connect(TreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& i) {
        if (!changingByCode_) TreeView1Change(TreeView1, TreeView1->itemFromIndex(i));
    });
    connect(TreeView1, &QTreeWidget::itemExpanded, this, &TfrmQuickMain::TreeView1Expanded);
    // A node shows its selected picture while it is the selected one.
    connect(TreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& now, const QModelIndex& before) {
                if (QTreeWidgetItem* old = TreeView1->itemFromIndex(before)) old->setIcon(0, TreeImage(NodeImage(old)));
                if (QTreeWidgetItem* cur = TreeView1->itemFromIndex(now))
                    cur->setIcon(0, TreeImage(cur->data(0, kSelectedImageRole).toInt()));
            });

    connect(Action(QStringLiteral("Scan")), &QAction::triggered, this, &TfrmQuickMain::ScanExecute);
    connect(Action(QStringLiteral("Stop")), &QAction::triggered, this, &TfrmQuickMain::StopExecute);
    connect(Action(QStringLiteral("Recover")), &QAction::triggered, this, &TfrmQuickMain::RecoverExecute);
    connect(Action(QStringLiteral("Up")), &QAction::triggered, this, &TfrmQuickMain::UpExecute);
    connect(Action(QStringLiteral("acScan32")), &QAction::triggered, this, &TfrmQuickMain::acScan32Execute);

    ui::QuickMain::CurrentFsType = [this] {
        return Undelete && Undelete->Current ? static_cast<int>(Undelete->Current->FsType) : 255;
    };
    ListView1->OnColumnClick = [this](int column) { ListView1ColumnClick(column); };
    connect(ListView1, &QAbstractItemView::clicked, this, [this] { ListView1Click(); });
    connect(ListView1, &QAbstractItemView::doubleClicked, this, [this] { ListView1DblClick(); });
    connect(SearchPage->Button1, &QPushButton::clicked, this, &TfrmQuickMain::Button1Click);
    connect(FileListPopup, &QMenu::aboutToShow, this, &TfrmQuickMain::PopupMenu1Popup);
    if (QAction* item = PopupItem(QStringLiteral("Openparentdirectory1")))
        connect(item, &QAction::triggered, this, &TfrmQuickMain::Openparentdirectory1Click);
}

TfrmQuickMain::~TfrmQuickMain() {
    // The rows and nodes point into the engine's lists: gone with them; the
    // list's compare routine no longer asks this window.
    TreeView1->clear();
    ListView1->Clear();
    ui::QuickMain::CurrentFsType = nullptr;
}

void TfrmQuickMain::ShowContent() { FormShow(); }

bool TfrmQuickMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DriveTree->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
        return true;  // the popup comes with the context-menu event that follows
    return ui::TRecoveryFrame::eventFilter(watched, event);
}

void TfrmQuickMain::FreeEngine() {
    ClearFileList();
    Undelete.reset();
}

// ---------------------------------------------------------------------------
// Records, nodes and rows

void* TfrmQuickMain::NodeData(const QTreeWidgetItem* Node) {
    return Node ? reinterpret_cast<void*>(Node->data(0, kDataRole).value<quintptr>()) : nullptr;
}

int TfrmQuickMain::NodeImage(const QTreeWidgetItem* Node) { return Node ? Node->data(0, kImageRole).toInt() : -1; }

bool TfrmQuickMain::CurrentIsFat() const { return Undelete && Undelete->Current && Undelete->Current->FsType <= vt::fsFat32; }

bool TfrmQuickMain::CurrentIsNtfs() const { return Undelete && Undelete->Current && Undelete->Current->FsType == vt::fsNtfs; }

bool TfrmQuickMain::NodeKey(const QTreeWidgetItem* Node, std::uint32_t& Key) const {
    const void* data = NodeData(Node);
    if (!data || !Undelete || !Undelete->Current) return false;
    switch (Undelete->Current->FsType) {
    case vt::fsFat12:
    case vt::fsFat16: Key = static_cast<const TMidEntry*>(data)->DirEntry.FstClusLO.get(); return true;
    case vt::fsFat32: {
        const TFatDirEntry& d = static_cast<const TMidEntry*>(data)->DirEntry;
        Key = static_cast<std::uint32_t>(d.FstClusHI.get()) * 65536u + d.FstClusLO.get();
        return true;
    }
    case vt::fsNtfs: Key = static_cast<std::uint32_t>(static_cast<const tntfsfilerecord*>(data)->RecordNo); return true;
    default: return false;
    }
}

void TfrmQuickMain::SetNodeImages(QTreeWidgetItem* Node, int image, int selectedImage) {
    Node->setData(0, kImageRole, image);
    Node->setData(0, kSelectedImageRole, selectedImage);
    Node->setIcon(0, TreeImage(Node == TreeView1->currentItem() ? selectedImage : image));
}

QTreeWidgetItem* TfrmQuickMain::ChildWithData(QTreeWidgetItem* Node, const void* data) const {
    if (!Node) return nullptr;
    for (int i = 0; i < Node->childCount(); ++i)
        if (NodeData(Node->child(i)) == data) return Node->child(i);
    return nullptr;
}

int TfrmQuickMain::RowCount() const { return ListView1->Count(); }

void* TfrmQuickMain::RowEntry(int row) const {
    return row >= 0 && row < RowCount() ? const_cast<void*>(ListView1->Data(row)) : nullptr;
}

int TfrmQuickMain::RowImage(int row) const { return row >= 0 && row < RowCount() ? ListView1->ImageIndex(row) : -1; }

QString TfrmQuickMain::RowText(int row, int column) const {
    return row >= 0 && row < RowCount() ? ListView1->Text(row, column) : QString();
}

bool TfrmQuickMain::RowChecked(int row) const { return row >= 0 && row < RowCount() && ListView1->Checked(row); }

std::vector<int> TfrmQuickMain::SelectedRows() const { return ListView1->SelectedRows(); }

void TfrmQuickMain::ClearFileList() { ListView1->Clear(); }

void TfrmQuickMain::ClearView() {
    changingByCode_ = true;
    TreeView1->setCurrentItem(nullptr);
    changingByCode_ = false;
    qDeleteAll(ScanRootNode->takeChildren());
    ScanRootNode->setText(0, scanRootText_);
    ScanRootNode->setData(0, kDataRole, QVariant());
    fatRoot_.reset();
    ntfsRoot_.reset();
    ClearFileList();
    UpdateItemCounts();
    SetPanel(1, QString());
    if (History) History->Clear();
    UpdateNavButtons();
}

void TfrmQuickMain::ShowRows(std::vector<TRow>& rows) {
    const bool ntfs = CurrentIsNtfs();
    ListView1->BeginUpdate();
    for (const TRow& r : rows) {
        std::array<QString, ui::kFileColumns> texts{U(r.caption), U(r.type), U(r.status), std::move(r.size), std::move(r.created)};
        if (ntfs) ListView1->AddRow(static_cast<const tntfsfilerecord*>(r.entry), r.image, std::move(texts), r.icon);
        else ListView1->AddRow(static_cast<const TMidEntry*>(r.entry), r.image, std::move(texts), r.icon);
    }
    // Folders first (ascending picture index); the engine's order within.
    ListView1->CustomSort(ui::QuickMain::CompareListItems, 10);
    ListView1->EndUpdate();
}

void TfrmQuickMain::ShowHistoryNode(QTreeWidgetItem* node) {
    changingByCode_ = true;
    TreeView1->setCurrentItem(node);
    changingByCode_ = false;
    TreeView1Change(nullptr, node);
}

void TfrmQuickMain::SetWaitCursor(bool on) {
    for (QWidget* w : {static_cast<QWidget*>(TreeView1), static_cast<QWidget*>(ListView1), static_cast<QWidget*>(DriveTree)}) {
        if (on) w->setCursor(Qt::WaitCursor);
        else w->unsetCursor();
    }
}

void TfrmQuickMain::SetPanel(int panel, const QString& text) {
    // Painted with the next pass of the event loop, which the engines'
    // loops run too: no paint of its own in the middle of a fill.
    StatusBar->Panel(panel)->setText(text);
}

void TfrmQuickMain::Log(const std::string& text, int image) {
    AddLogEvent(ListView3, text, static_cast<std::uint8_t>(image));
}

void* TfrmQuickMain::RootRecord() const {
    if (fatRoot_) return fatRoot_.get();
    return ntfsRoot_.get();
}

void TfrmQuickMain::ClearSearchResults() {
    if (!Undelete) return;
    Undelete->Found.clear();
    if (TreeView1->currentItem() == FindRootNode) {
        ClearFileList();
        UpdateItemCounts();
    }
}

// ---------------------------------------------------------------------------
// Showing, drives and scans

void TfrmQuickMain::FormShow() {
    // The settings have been read (the frame does that first).
    Undelete = std::make_unique<TUndelete>();

    WriteGreeting();

    FillDriveTree();
    ui::QuickMain::SetHeaderImages(ListView1, &ui::SortArrowImages());
    ScanRootNode = ScanResultsNode;
    FindRootNode = FindResultsNode;
    UpdateNavButtons();
    Log("快速恢复已启动", kLogInfo);
}

void TfrmQuickMain::FillDriveTree() {
    changingByCode_ = true;
    while (MyComputerNode->childCount()) delete MyComputerNode->takeChild(MyComputerNode->childCount() - 1);
    for (const auto& d : Undelete->Drives) {
        const std::string text = d->Name + "  (" + d->SizeText + ")" + "  " + d->VolumeLabel;
        auto* node = new QTreeWidgetItem(MyComputerNode, QStringList(U(text)));
        node->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(d.get())));
        node->setIcon(0, DriveImage(d->DriveType - 1));
    }
    MyComputerNode->setExpanded(true);
    DriveTree->expandAll();
    changingByCode_ = false;
}

bool TfrmQuickMain::Treeview2Changing(QTreeWidgetItem* Node) const {
    if (Busy()) return false;
    return Node != MyComputerNode;
}

void TfrmQuickMain::ScanExecute() {
    QTreeWidgetItem* node = DriveTree->currentItem();
    if (!node || node == MyComputerNode) {
        BlinkDrivePrompt(3);
        return;
    }
    if (Busy()) return;
    Treeview2Change(nullptr, node);
}

void TfrmQuickMain::StopExecute() {
    if (Undelete) Undelete->Stop();
}

void TfrmQuickMain::Treeview2Change(QObject* Sender, QTreeWidgetItem* Node) {
    auto* drive = static_cast<TLogiDrive*>(NodeData(Node));
    if (!drive || !Undelete || Busy()) return;
    const bool rescan = Sender == nullptr;
    SetWaitCursor(true);
    ClearPreview();
    SetPanel(0, QString::fromUtf8(kScanningPanel));
    Log("驱动器扫描已经启动  -  " + drive->Name, kLogInfo);
    Log("正在扫描驱动器 " + drive->Name + "  . . .", kLogInfo);

    // Search results belong to the drive that was current when they were
    // found; a new opening (or a re-scan, which frees the old entries)
    // ends them.
    ClearSearchResults();
    // A re-scan frees the entries the rows point to: no row may outlive
    // them, even while the scan runs.
    if (rescan && drive->Scanned) ClearFileList();

    bool opened = false;
    try {
        opened = Undelete->OpenDrive(drive, rescan, progressBar_.get(), statusPanel_.get());
    } catch (const std::exception&) {
        opened = false;
    }
    if (opened) {
        try {
            ClearFileList();
            changingByCode_ = true;
            TreeView1->setCurrentItem(nullptr);
            changingByCode_ = false;
            fatRoot_.reset();
            ntfsRoot_.reset();
            const TLogiDrive& cur = *Undelete->Current;
            if (cur.FsType <= vt::fsFat32) {
                fatRoot_ = std::make_unique<TMidEntry>();
                if (cur.FsType == vt::fsFat32) {
                    const std::uint32_t rootCluster = static_cast<std::uint32_t>(cur.BootSector[0x2C]) |
                                                      static_cast<std::uint32_t>(cur.BootSector[0x2D]) << 8 |
                                                      static_cast<std::uint32_t>(cur.BootSector[0x2E]) << 16 |
                                                      static_cast<std::uint32_t>(cur.BootSector[0x2F]) << 24;
                    fatRoot_->DirEntry.FstClusHI.set(static_cast<std::uint16_t>(rootCluster >> 16));
                    fatRoot_->DirEntry.FstClusLO.set(static_cast<std::uint16_t>(rootCluster & 0xFFFF));
                }
                ScanRootNode->setText(0, U(cur.Name + "\\"));
            } else {
                ntfsRoot_ = std::make_unique<tntfsfilerecord>();
                ScanRootNode->setText(0, U(cur.Name));
            }
            ScanRootNode->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(RootRecord())));
            AddFolderNodes(ScanRootNode);
            AddGrandChildNodes(ScanRootNode);
            if (History) History->Clear();
            QTreeWidgetItem* show = cur.FsType <= vt::fsFat32 ? ScanRootNode : ScanRootNode->child(0);
            if (show) {
                // The root's grandchildren were made just now: opening it
                // need not make them again.
                filledByCode_ = ScanRootNode;
                ScanRootNode->setExpanded(true);
                filledByCode_ = nullptr;
                SelectFolderNode(show);
                show->setExpanded(true);
            }
            Log(Undelete->Aborted ? "驱动器扫描被用户中止" : "驱动器扫描完成", Undelete->Aborted ? kLogWarning : kLogInfo);
            const std::size_t count = cur.FsType <= vt::fsFat32 ? cur.Entries.size() : cur.NtfsEntries.size();
            Log("发现 " + std::to_string(count) + " 个项目", kLogInfo);
            // Records the scan could not list are counted, so that no file
            // goes missing unnoticed.
            if (cur.FsType == vt::fsNtfs && Undelete->DamagedRecords > 0)
                Log(std::to_string(Undelete->DamagedRecords) + " 个文件记录已损坏，未列出", kLogWarning);
            if (cur.FsType == vt::fsNtfs && Undelete->UnreadableRecords > 0)
                Log(std::to_string(Undelete->UnreadableRecords) + " 个文件记录无法读取，未列出", kLogWarning);
            // The root has no row that could say it is damaged.
            if (cur.FsType <= vt::fsFat32 && cur.RootReadInPart) Log("根目录未能完整读出，只列出了一部分", kLogWarning);
            // The volume was read by a layout other than sector 0's.
            if (cur.FsType == vt::fsFat32 && cur.BootCopySector > 0)
                Log("引导扇区与卷不符，已按第 " + std::to_string(cur.BootCopySector) + " 扇区的备份引导扇区读取",
                    kLogWarning);
        } catch (const std::exception&) {
            changingByCode_ = false;
        }
    }
    // The folder nodes and rows shown are those of the drive opened before;
    // the engine now names this drive, with whose file system (none, or
    // the one of an earlier scan) they would be listed, previewed and
    // recovered. They go: the window shows nothing until a drive opens.
    if (!opened) ClearView();
    SetPanel(0, QString::fromUtf8(kDirectoryPanel));
    SetWaitCursor(false);
}

void TfrmQuickMain::SelectFolderNode(QTreeWidgetItem* Node) {
    // Deselected and selected again: the change handler always runs.
    changingByCode_ = true;
    TreeView1->setCurrentItem(nullptr);
    TreeView1->setCurrentItem(Node);
    changingByCode_ = false;
    if (TreeView1->currentItem() == Node) TreeView1Change(TreeView1, Node);
}

// ---------------------------------------------------------------------------
// The folder tree

void TfrmQuickMain::AddFolderNodes(QTreeWidgetItem* Node) {
    if (!Node) return;
    const bool hadChildren = Node->childCount() > 0;
    while (Node->childCount()) delete Node->takeChild(Node->childCount() - 1);
    // A node that lost its children is no longer open; opening it again
    // fills the level below its new children.
    if (hadChildren) Node->setExpanded(false);
    std::uint32_t key = 0;
    std::int32_t first = -1, last = -1;
    if (!NodeKey(Node, key)) return;
    if (!Undelete->FindChildRange(key, first, last)) return;
    if (first == -1 || last == -1 || last < first) return;
    const bool topLevel = Node->parent() == nullptr;
    const TLogiDrive& cur = *Undelete->Current;
    QList<QTreeWidgetItem*> children;
    auto add = [&](void* entry, const std::string& name, int image, int selectedImage) {
        auto* child = new QTreeWidgetItem(QStringList(U(name)));
        child->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(entry)));
        child->setData(0, kImageRole, image);
        child->setData(0, kSelectedImageRole, selectedImage);
        child->setIcon(0, TreeImage(image));
        children.push_back(child);
    };
    if (cur.FsType <= vt::fsFat32) {
        for (std::int32_t i = first; i <= last && i < static_cast<std::int32_t>(cur.Entries.size()); ++i) {
            TMidEntry* e = cur.Entries[static_cast<std::size_t>(i)].get();
            if (IsFatFile(e->DirEntry)) continue;
            if (!topLevel && e->Parent != NodeData(Node)) continue;
            const std::string name = GetEntryDisplayName(*e);
            if (name == "." || name == "..") continue;
            if (e->Status == 2) add(e, name, imgLost, imgLost);
            else if (e->Status == 1) add(e, name, imgDeleted, imgDeletedOpen);
            else add(e, name, imgFolder, imgFolderOpen);
        }
    } else if (cur.FsType == vt::fsNtfs) {
        for (std::int32_t i = first; i <= last && i < static_cast<std::int32_t>(cur.NtfsEntries.size()); ++i) {
            tntfsfilerecord* e = cur.NtfsEntries[static_cast<std::size_t>(i)].get();
            if (IsNtfsFile(e)) continue;
            if (e->RecordFlags & 1) add(e, Trimmed(e->Name), imgFolder, imgFolderOpen);
            else add(e, Trimmed(e->Name), imgDeleted, imgDeletedOpen);
        }
    }
    Node->addChildren(children);
}

void TfrmQuickMain::KeepHistoryAcross(const std::function<void()>& change) {
    // The history holds positions in tree order, which every node made or
    // deleted before a visited one moves. Around the change each visit is
    // held as the records on its node's path and put back as the position
    // that path has after it; a visited node that the change deleted gives
    // the nearest node of its path that is still there.
    if (!History || History->Items.empty()) {
        change();
        return;
    }
    struct TVisit {
        bool kept = false;   // a position no node had: left as it is
        bool find = false;   // Find Results
        std::vector<const void*> path;
    };
    std::vector<TVisit> visits;
    for (const std::int32_t position : History->Items) {
        TVisit v;
        QTreeWidgetItem* node = NodeAt(TreeView1, position);
        if (!node) v.kept = true;
        else if (node == FindRootNode) v.find = true;
        else
            for (; node && node != ScanRootNode; node = node->parent()) v.path.insert(v.path.begin(), NodeData(node));
        visits.push_back(std::move(v));
    }
    change();
    for (std::size_t i = 0; i < visits.size(); ++i) {
        const TVisit& v = visits[i];
        if (v.kept) continue;
        QTreeWidgetItem* node = v.find ? FindRootNode : ScanRootNode;
        for (const void* record : v.path) {
            QTreeWidgetItem* child = ChildWithData(node, record);
            if (!child) break;
            node = child;
        }
        History->Items[i] = AbsoluteIndex(node);
    }
}

void TfrmQuickMain::AddGrandChildNodes(QTreeWidgetItem* Node) {
    if (!Node) return;
    for (int i = 0; i < Node->childCount(); ++i) AddFolderNodes(Node->child(i));
}

void TfrmQuickMain::TreeView1Expanded(QTreeWidgetItem* Node) {
    if (Busy() || !Node || NodeImage(Node) >= imgLost || Node == filledByCode_) return;
    TreeView1->setUpdatesEnabled(false);
    KeepHistoryAcross([&] { AddGrandChildNodes(Node); });
    TreeView1->setUpdatesEnabled(true);
}

// While busy the selected folder stays the one whose rows are listed (a
// scan rebuilds the entries, a recovery holds the rows).
bool TfrmQuickMain::TreeView1Changing(QTreeWidgetItem* Node) const {
    if (Busy()) return false;
    return !Node || NodeImage(Node) != imgLost;
}

void TfrmQuickMain::TreeView1Change(QObject* Sender, QTreeWidgetItem* Node) {
    if (Busy() || !Node) return;
    if (NodeData(Node) || Node == FindRootNode) {
        ListView1->setUpdatesEnabled(false);
        ClearFileList();
        FillFileList(Node);
        ListView1->setUpdatesEnabled(true);
    }
    UpdateItemCounts();
    SetPanel(1, QStringLiteral(" ") + GetNodePath(Node));
    if (Sender && History) History->Add(AbsoluteIndex(Node));
    UpdateNavButtons();
}

void TfrmQuickMain::UpdateItemCounts() {
    int deleted = 0;
    for (int i = 0; i < RowCount(); ++i)
        if (!RowText(i, 2).isEmpty()) ++deleted;
    SetPanel(2, QStringLiteral(" %1 项目 < 已删除: %2 项目 >").arg(RowCount()).arg(deleted));
}

QString TfrmQuickMain::GetNodePath(QTreeWidgetItem* Node) const {
    if (!Node) return {};
    QString path = Node->text(0);
    for (QTreeWidgetItem* a = Node->parent(); a; a = a->parent()) {
        const QString text = a->text(0);
        if (a->parent() == nullptr || text == QStringLiteral("\\")) path = text + path;
        else path = text + QStringLiteral("\\") + path;
    }
    return path;
}

std::string TfrmQuickMain::GetEntryLocation(const void* Entry) const {
    if (!Entry) return {};
    if (CurrentIsNtfs()) {
        const auto* e = static_cast<const tntfsfilerecord*>(Entry);
        const tntfsfilerecord* p = e->Parent;
        if (!p) return {};
        std::string text = p->Name;
        for (const tntfsfilerecord* a = p->Parent; a; a = a->Parent) {
            if (a->Name == "\\") text = "\\" + text;
            else text = a->Name + "\\" + text;
        }
        return text;
    }
    if (CurrentIsFat()) {
        const auto* e = static_cast<const TMidEntry*>(Entry);
        std::string text;
        for (const TMidEntry* p = e->Parent; p; p = p->Parent)
            text = text.empty() ? GetEntryDisplayName(*p) : GetEntryDisplayName(*p) + "\\" + text;
        return "\\" + text;
    }
    return {};
}

// ---------------------------------------------------------------------------
// The file list

void TfrmQuickMain::AddFatRow(TMidEntry* E, bool findResults, std::vector<TRow>& rows) {
    TRow r{E, 0, GetEntryDisplayName(*E), {}, {}, {}, {}};
    if (!IsFatFile(E->DirEntry)) {
        r.image = E->Status == 2 ? rowLostFolder : E->Status == 1 ? rowDeletedFolder : rowFolder;
        r.type = FolderTypeName;
        r.status = E->Status == 1 ? kDeletedText : E->Status == 2 ? kLostText : "";
        // A folder read in part keeps its picture (Scan32 is for folders
        // whose contents are lost) and says it is damaged.
        if (E->ReadInPart) r.status = kLostText;
    } else {
        r.icon = GetShellTypeInfo(r.caption, 0x80, r.type);  // looked up once per extension
        r.image = E->Status == 0 ? rowFile : rowDeletedFile;
        r.status = E->Status == 0 ? "" : kDeletedText;
    }
    r.size = ui::QuickMain::FormatSizeText(E->DirEntry.FileSize.get());
    double created = 0;
    if (FatDateTimeToDateTime(E->DirEntry.CrtDate.get(), E->DirEntry.CrtTime.get(), created))
        r.created = ui::FormatListDate(created);
    if (findResults) r.type = Undelete->Current->Name + GetEntryLocation(E);
    rows.push_back(std::move(r));
}

void TfrmQuickMain::AddNtfsRow(tntfsfilerecord* E, bool findResults, std::vector<TRow>& rows) {
    const bool inUse = (E->RecordFlags & 1) != 0;
    TRow r{E, 0, E->Name, {}, {}, {}, {}};
    if (!IsNtfsFile(E)) {
        r.image = inUse ? rowFolder : rowDeletedFolder;
        r.type = FolderTypeName;
    } else {
        r.image = inUse ? rowFile : rowDeletedFile;
        r.icon = GetShellTypeInfo(r.caption, 0x80, r.type);  // looked up once per extension
    }
    r.status = inUse ? "" : kDeletedText;
    r.size = ui::QuickMain::FormatSizeText(E->DataSize);
    r.created = ui::FormatListDate(FileTimeToDateTime(E->FileName.CreationTime.get()));
    if (findResults) r.type = Undelete->Current->Name + GetEntryLocation(E);
    rows.push_back(std::move(r));
}

void TfrmQuickMain::FillFileList(QTreeWidgetItem* Node) {
    if (!Undelete) return;
    const bool find = Node == FindRootNode;
    ListView1->SetColumnCaption(1, find ? QStringLiteral("位置") : QStringLiteral("类型"));
    std::int32_t first = 0, last = -1;
    if (find) {
        if (Undelete->Found.empty()) return;
        last = static_cast<std::int32_t>(Undelete->Found.size()) - 1;
    } else {
        std::uint32_t key = 0;
        if (!NodeKey(Node, key) || !Undelete->FindChildRange(key, first, last)) return;
    }
    const TLogiDrive* cur = Undelete->Current;
    if (!cur) return;
    std::vector<TRow> rows;
    rows.reserve(static_cast<std::size_t>(std::max(0, last - first + 1)));
    const bool topLevel = Node->parent() == nullptr;
    for (std::int32_t i = first; i <= last; ++i) {
        if (cur->FsType <= vt::fsFat32) {
            TMidEntry* e = find ? static_cast<TMidEntry*>(Undelete->Found[static_cast<std::size_t>(i)])
                                : (i < static_cast<std::int32_t>(cur->Entries.size())
                                       ? cur->Entries[static_cast<std::size_t>(i)].get()
                                       : nullptr);
            if (!e) continue;
            if (!find && !topLevel && e->Parent != NodeData(Node)) continue;
            AddFatRow(e, find, rows);
        } else if (cur->FsType == vt::fsNtfs) {
            tntfsfilerecord* e = find ? static_cast<tntfsfilerecord*>(Undelete->Found[static_cast<std::size_t>(i)])
                                      : (i < static_cast<std::int32_t>(cur->NtfsEntries.size())
                                             ? cur->NtfsEntries[static_cast<std::size_t>(i)].get()
                                             : nullptr);
            if (e) AddNtfsRow(e, find, rows);
        }
    }
    ShowRows(rows);
}

void TfrmQuickMain::ListView1ColumnClick(int Column) {
    // A batch walks the records it took when it started, but a sort would
    // also move the rows under the scan's and the batch's clicks; and while
    // another drive is opened, the rows' records are not of the drive whose
    // file system the sort reads them with.
    if (Busy()) return;
    ListView1->ColumnClick(Column);
}

// ---------------------------------------------------------------------------
// Navigation

void TfrmQuickMain::GotoEntry(void* Entry) {
    TreeView1->setUpdatesEnabled(false);
    std::vector<void*> chain;
    // The chain of folders up to the root; a record met twice ends it (the
    // engine links parents as a tree, but a damaged volume is no promise).
    std::unordered_set<const void*> seen;
    if (CurrentIsFat()) {
        for (TMidEntry* e = static_cast<TMidEntry*>(Entry); e && seen.insert(e).second; e = e->Parent) chain.push_back(e);
    } else if (CurrentIsNtfs()) {
        for (auto* e = static_cast<tntfsfilerecord*>(Entry); e && seen.insert(e).second; e = e->Parent)
            chain.push_back(e);
    }
    QTreeWidgetItem* n = ScanRootNode;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (QTreeWidgetItem* child = ChildWithData(n, *it)) {
            n = child;
            n->setExpanded(true);
        }
    }
    if (CurrentIsFat() && NodeImage(n) == imgLost) {
        SetNodeImages(n, imgDeleted, imgDeletedOpen);
        KeepHistoryAcross([&] { AddFolderNodes(n); });
        n->setExpanded(true);
    }
    TreeView1->setUpdatesEnabled(true);
    TreeView1->setCurrentItem(n);
}

void TfrmQuickMain::ListView1DblClick() {
    const std::vector<int> selected = SelectedRows();
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (selected.size() != 1 || !node || Busy()) return;
    const int row = selected.front();
    const int image = RowImage(row);
    if (image != rowFolder && image != rowDeletedFolder) return;
    if (node == FindRootNode) {
        GotoEntry(RowEntry(row));
        return;
    }
    if (QTreeWidgetItem* child = ChildWithData(node, RowEntry(row))) {
        TreeView1->setCurrentItem(child);
        child->setExpanded(true);
    }
}

void TfrmQuickMain::UpExecute() {
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (node && node->parent()) TreeView1->setCurrentItem(node->parent());
}

void TfrmQuickMain::Openparentdirectory1Click() {
    if (!Undelete || !Undelete->Current || Busy()) return;
    const std::vector<int> selected = SelectedRows();
    if (selected.empty()) return;
    void* entry = RowEntry(selected.front());
    if (!entry) return;
    if (CurrentIsFat()) GotoEntry(static_cast<TMidEntry*>(entry)->Parent);
    else if (CurrentIsNtfs()) GotoEntry(static_cast<tntfsfilerecord*>(entry)->Parent);
}

void TfrmQuickMain::PopupMenu1Popup() {
    if (QAction* item = PopupItem(QStringLiteral("Openparentdirectory1")))
        item->setEnabled(TreeView1->currentItem() == FindRootNode && !SelectedRows().empty());
}

// ---------------------------------------------------------------------------
// Properties and preview

void TfrmQuickMain::ListView1Click() {
    if (Busy()) return;
    const std::vector<int> selected = SelectedRows();
    if (selected.size() != 1) return;
    switch (TabSet1->currentIndex()) {
    case 0: FillPropertyPage(selected.front()); break;
    case 1: FillHexPage(selected.front()); break;
    default: break;
    }
}

void TfrmQuickMain::FillPropertyPage(int row) {
    using P = ui::TPropertyList;
    using ui::QuickMain::AttrFlagText;
    auto set = [&](int r, const QString& text) { ListView2->SetValue(r, text); };
    ListView2->SetCaption(P::rowType,
                          TreeView1->currentItem() == FindRootNode ? QStringLiteral("位置") : QStringLiteral("类型"));
    set(P::rowFileName, RowText(row, 0));
    set(P::rowType, RowText(row, 1));
    set(P::rowCreated, RowText(row, 4));
    void* entry = RowEntry(row);
    if (!entry) return;
    const TLogiDrive& cur = *Undelete->Current;
    if (cur.FsType <= vt::fsFat32) {
        const TFatDirEntry& d = static_cast<TMidEntry*>(entry)->DirEntry;
        set(P::rowReadOnly, AttrFlagText(d.Attr & 0x01));
        set(P::rowSystem, AttrFlagText(d.Attr & 0x04));
        set(P::rowArchive, AttrFlagText(d.Attr & 0x20));
        set(P::rowHidden, AttrFlagText(d.Attr & 0x02));
        set(P::rowCompressed, QString());
        const std::uint64_t size = d.FileSize.get();
        set(P::rowSize, QString::number(size));
        const std::uint64_t cluster = static_cast<std::uint64_t>(cur.BootSector[13]) * 512u;
        set(P::rowAllocated, QString::number(cluster ? (size + cluster - 1) / cluster * cluster : 0));
        double v = 0;
        set(P::rowModified, FatDateTimeToDateTime(d.WrtDate.get(), d.WrtTime.get(), v) ? ui::FormatListDate(v) : QString());
        set(P::rowAccessed, FatDateTimeToDateTime(d.LstAccDate.get(), 0, v) ? ui::FormatListDate(v) : QString());
    } else if (cur.FsType == vt::fsNtfs) {
        const auto* e = static_cast<tntfsfilerecord*>(entry);
        set(P::rowSize, QString::number(e->DataSize));
        set(P::rowAllocated, QString::number(e->AllocatedSize));
        set(P::rowModified, ui::FormatListDate(FileTimeToDateTime(e->FileName.ModificationTime.get())));
        set(P::rowAccessed, ui::FormatListDate(FileTimeToDateTime(e->FileName.AccessTime.get())));
        const std::uint32_t attrs = e->FileName.FileAttributes.get();
        set(P::rowReadOnly, AttrFlagText(attrs & 0x01));
        set(P::rowSystem, AttrFlagText(attrs & 0x04));
        set(P::rowArchive, AttrFlagText(attrs & 0x20));
        set(P::rowHidden, AttrFlagText(attrs & 0x02));
        set(P::rowCompressed, AttrFlagText(attrs & 0x800));
    }
}

void TfrmQuickMain::FillHexPage(int row) {
    const int image = RowImage(row);
    if (image == rowFolder || image == rowDeletedFolder || image == rowLostFolder) return;
    void* entry = RowEntry(row);
    if (!entry) return;
    QPalette pal = MessageStrip->palette();
    if (!Undelete->ReadFileHead(entry, HexBuffer)) {
        pal.setColor(QPalette::WindowText, Qt::red);
        MessageStrip->setPalette(pal);
        MessageStrip->setText(QStringLiteral(" 无法从该文件找回数据。"));
        return;
    }
    ResetHexView();
    MessageStrip->clear();
    const std::string caption = RowText(row, 0).toStdString();
    const auto dot = caption.rfind('.');
    if (dot == std::string::npos) return;
    const std::string ext = caption.substr(dot + 1);
    if (ext.size() < 2) return;
    std::string lower = ext;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const TFileSignature& sig : FileSignatures) {
        if (lower != sig.Ext) continue;
        pal.setColor(QPalette::WindowText, Qt::black);
        MessageStrip->setPalette(pal);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X %X", sig.Head[0], sig.Head[1]);
        MessageStrip->setText(QStringLiteral(" 文件 '.%1' 的正常标题(第一二字节)是 '%2'").arg(U(ext), QString::fromLatin1(hex)));
        return;
    }
}

// ---------------------------------------------------------------------------
// Search

void TfrmQuickMain::Button1Click() {
    QTreeWidgetItem* node = TreeView1->currentItem();
    if (!node || node == FindRootNode || !Undelete || !Undelete->Current || Busy()) return;
    const ui::TSearchPage& page = *SearchPage;
    const std::string masks = Trimmed(page.Edit1->text().toStdString());
    if (!(page.CheckBox2->isChecked() && !masks.empty()) && !page.CheckBox3->isChecked() &&
        !page.CheckBox4->isChecked()) {
        win::MessageBoxA(nullptr, "你必须指定一种搜索条件。", "Warning", win::MB_OK | win::MB_ICONWARNING);
        return;
    }
    if (page.SpinEdit1->value() < 0 || page.SpinEdit2->value() < 0) {
        win::MessageBoxA(nullptr, "文件大小至少不能为  0.", "Error", win::MB_OK | win::MB_ICONERROR);
        return;
    }
    double dateFrom = 0, dateTo = 0;
    if (page.CheckBox3->isChecked()) {
        // The pickers show days: the earlier one's from its start, the later
        // one's to its end.
        const double a = page.DateFromValue(), b = page.DateToValue();
        dateFrom = std::floor(std::min(a, b));
        dateTo = std::floor(std::max(a, b)) + 1;
    }
    std::int64_t sizeFrom = -1, sizeTo = -1;
    page.SearchSizes(1000, sizeFrom, sizeTo);
    std::int64_t parentKey = -1;
    if (node != ScanRootNode) {
        void* data = NodeData(node);
        std::uint32_t key = 0;
        if (!data || !NodeKey(node, key)) return;
        parentKey = CurrentIsNtfs() ? static_cast<tntfsfilerecord*>(data)->RecordNo : std::int64_t{key};
    }
    Undelete->Found.clear();
    Undelete->SearchEntries(page.CheckBox2->isChecked() ? masks : std::string(), page.CheckBox1->isChecked(),
                            static_cast<std::uint8_t>(std::max(0, page.ComboBox1->currentIndex())), dateFrom, dateTo,
                            sizeFrom, sizeTo, parentKey, page.RadioGroupIndex() == 0);
    TreeView1->setCurrentItem(FindRootNode);
}

// ---------------------------------------------------------------------------
// Recovery

void TfrmQuickMain::RecoverExecute() {
    if (!Undelete || Busy()) return;
    bool any = false;
    for (int i = 0; i < RowCount() && !any; ++i) any = RowChecked(i);
    if (!any) {
        win::MessageBoxA(nullptr, "没有选择恢复的文件，请选择要恢复的文件。", "Warning", win::MB_OK | win::MB_ICONWARNING);
        return;
    }
    std::string target;
    if (!SelectTargetDir(target)) return;

    Undelete->Busy = true;
    SetWaitCursor(true);
    Undelete->Aborted = false;
    Undelete->StopLogged = false;
    // The batch works on the rows checked now, by their records: the engine
    // runs the window's messages while it copies, and what the list shows
    // meanwhile is not what it walks.
    struct TItem {
        void* entry;
        std::string name;
        bool folder;
    };
    std::vector<TItem> items;
    for (int i : ListView1->CheckedRows()) {
        const int image = RowImage(i);
        items.push_back({RowEntry(i), RowText(i, 0).toStdString(),
                         image == rowFolder || image == rowDeletedFolder || image == rowLostFolder});
    }
    SetPanel(0, QStringLiteral(" 正在恢复 ..."));
    Log("正在恢复 ...", kLogInfo);
    std::string failure;
    // The whole batch goes through one descriptor of the chosen folder, and
    // is written back through it: the path may name another folder (or a
    // link) by the end.
    const vt::TargetFolder folder = vt::TargetFolder::Open(target);
    try {
        for (const TItem& item : items) {
            if (Undelete->Aborted) break;
            if (!item.folder) statusPanel_->SetText(" " + item.name);
            if (item.entry && CurrentIsFat()) {
                auto* e = static_cast<TMidEntry*>(item.entry);
                if (item.folder) Undelete->RecoverFolder(e, item.name, folder, statusPanel_.get(), ListView3);
                else Undelete->RecoverFileReported(e, item.name, folder, statusPanel_.get(), ListView3);
            } else if (item.entry && CurrentIsNtfs()) {
                auto* e = static_cast<tntfsfilerecord*>(item.entry);
                if (item.folder) Undelete->RecoverFolder(e, item.name, folder, statusPanel_.get(), ListView3);
                else Undelete->RecoverFileReported(e, item.name, folder, statusPanel_.get(), ListView3);
            } else {
                // No file system to read the row with: it is named as failed.
                Log(item.name + ":  恢复失败", kLogError);
            }
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    // Nothing is called complete before the target's file system has the
    // bytes and the names: a full or failing stick, a network share may
    // report a failed write only when it writes back.
    const int unsynced = folder.Sync();
    bool targetLines = unsynced != 0;
    if (unsynced != 0) Log(target + ":  无法写入目标驱动器，" + std::strerror(unsynced), kLogError);
    if (failure.empty() && OpenDestDir() && OpenFolder) {
        // Only the folder the batch wrote into is opened (as root, through
        // the desktop): not whatever the path names now.
        if (folder.IsAt(target)) {
            OpenFolder(target);
        } else {
            Log(target + ":  " + ui::kFolderNotOpenedText, kLogWarning);
            targetLines = true;
        }
    }
    // A stopped batch ends with its stop line: the engine's, naming the
    // file or folder it was in, or, for a stop that came between them (or
    // while the last files were written), or when lines about the target
    // came after the engine's, the window's own. A batch whose write-back
    // failed is not complete.
    if (Undelete->Aborted) {
        if (!Undelete->StopLogged || targetLines) Log("恢复被用户中止", kLogWarning);
    } else if (unsynced == 0) {
        Log("恢复完成。", kLogInfo);
    }
    SetPanel(0, QString::fromUtf8(kDirectoryPanel));
    SetPanel(1, QStringLiteral(" ") + GetNodePath(TreeView1->currentItem()));
    TabSet1->setCurrentIndex(3);
    SetWaitCursor(false);
    Undelete->Busy = false;
    if (!failure.empty()) win::MessageBoxA(nullptr, failure.c_str(), "Error", win::MB_OK | win::MB_ICONERROR);
}

void TfrmQuickMain::acScan32Execute() {
    if (!Undelete || !Undelete->Current || Busy()) return;
    if (Undelete->Current->FsType != vt::fsFat32) {
        win::MessageBoxA(nullptr, "'Scan32' is for FAT32 file system only.", "Error", win::MB_OK | win::MB_ICONERROR);
        return;
    }
    if (!DiskUtils::IsWinNT()) {
        win::MessageBoxA(nullptr, "'Scan32' is for NT based OS (WinNT, 2K, XP, 2003) only.", "Error",
                         win::MB_OK | win::MB_ICONERROR);
        return;
    }
    const std::vector<int> selected = SelectedRows();
    if (selected.empty() || RowImage(selected.front()) != rowLostFolder) return;
    auto* entry = static_cast<TMidEntry*>(RowEntry(selected.front()));
    // The two passes of the message loop below let queued clicks in: held
    // busy, none of them can open another drive, re-scan this one (which
    // frees the entry) or change the rows.
    Undelete->Busy = true;
    SetWaitCursor(true);
    QCoreApplication::processEvents();
    SetPanel(0, QString::fromUtf8(kScanningPanel));
    QCoreApplication::processEvents();
    Undelete->Busy = false;  // the rescan holds it itself
    bool found = false;
    try {
        found = entry && Undelete->RescanFat32Directory(entry, statusPanel_.get());
        if (found) GotoEntry(entry);
    } catch (const std::exception&) {
    }
    SetPanel(0, QString::fromUtf8(kDirectoryPanel));
    SetPanel(1, QStringLiteral(" ") + GetNodePath(TreeView1->currentItem()));
    SetWaitCursor(false);
}
