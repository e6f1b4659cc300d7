// The "Advanced Recovery" window: the drive tree of every logical and
// physical drive with its partitions, extended partitions, gaps and lost
// partitions; the raw scan of a node and the FAT or NTFS view of what it
// found (numbered found folders, their rows, properties, first bytes,
// search); the recovery of checked rows with the marks of recovered
// folders; and the deep scan of a physical drive for lost partitions.
#pragma once

#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataStruc.h"
#include "QtReporting.h"
#include "RecoveryFrame.h"

namespace ui {

namespace AdvMain {
// The window's drives: made when the window is shown, released with it.
extern std::unique_ptr<TPhysicalDriveList> DriveList;
// The drive the window works on: the one that holds the selected
// drive-tree node (after showing, the last drive of the list).
extern TPhysicalDrive* CurrentDrive;
}  // namespace AdvMain

// Image indexes of the drive and folder trees.
enum TAdvTreeImage : int {
    imgComputer = 0,
    imgPhysicalDrive = 1,
    imgLogicalDrive = 2,
    imgExtended = 3,
    imgFolder = 4,
    imgFolderOpen = 5,
    imgScanResults = 6,
    imgPartition = 7,
    imgGap = 8,
    imgFindResults = 9,
};
QIcon AdvTreeIcon(int image);
// The image index a tree node was given.
int NodeImage(const QTreeWidgetItem* node);

class TfrmAdvMain : public TRecoveryFrame {
    Q_OBJECT
public:
    explicit TfrmAdvMain(QWidget* parent = nullptr);
    ~TfrmAdvMain() override;

    QTreeWidget* TreeView2;          // the drive tree
    QTreeWidgetItem* ScanRootNode;   // "Scan Results": parent of the found folders
    QTreeWidgetItem* FindRootNode;   // "Find Results"

    // Where a recovery writes: the target-folder dialog unless a test says
    // else. The folder is opened with the desktop's opener afterwards when
    // the option asks for it.
    std::function<bool(std::string&)> SelectTarget;
    std::function<void(const std::string&)> OpenFolder;

    // Drive tree and scans.
    void FormShow();
    void AddPartitionNode(QTreeWidget* TreeView, QTreeWidgetItem* Parent, TPartiEntry* Entry);
    void TreeView2Click();
    bool TreeView2Changing(const QTreeWidgetItem* node) const;
    void ScanExecute();
    void StopExecute();
    void RadioButton1Click();
    void RadioButton2Click();
    void ListFolderNodes();
    // The selector's view: its found folders, the first selected, and a new
    // history from it.
    void ListViewFolders();
    // List is the shown entry's FatEntries (rows of found folder Index) or,
    // with WholeList, any list of its records (the search results).
    void FillFatFileList(const std::vector<std::unique_ptr<TPhysMidEntry>>& List, int Index, bool WholeList);
    void FillFatFileList(const std::vector<PPhysMidEntry>& List, int Index, bool WholeList);
    void FillNtfsFileList(const std::vector<std::unique_ptr<tntfsfilerecord>>& List, int Index, bool WholeList);
    void FillNtfsFileList(const std::vector<PNtfsFileRecord>& List, int Index, bool WholeList);
    void PartiScanExecute();

    // Found folders, rows, search and recovery.
    // A click on a column header of the file list: sorts it, unless a scan
    // or a recovery holds its rows.
    void ListView1ColumnClick(int Column);
    // A scan, a deep scan or a recovery of any drive runs.
    bool AnyBusy() const;

    void TreeView1Click(QObject* Sender);
    bool TreeView1Changing(const QTreeWidgetItem* node) const;
    void ListView1DblClick();
    void PopupMenu2Popup();
    void acToParentExecute(QObject* Sender);
    void ShowntfolderClick(QObject* Sender);
    void Button1Click();
    void RecoverExecute();
    QTreeWidgetItem* FindFolderNode(const TPhysMidEntry& Entry) const;
    void MarkFolderRecovered(const TPhysMidEntry& Entry);

    // The drive-tree node's entry (none for the root and the lost-partitions
    // nodes) and its level (0 for "My Computer").
    static TPartiEntry* NodeEntry(const QTreeWidgetItem* node);
    static int NodeLevel(const QTreeWidgetItem* node);
    // The drive whose node holds `node` (its ancestor at level 1).
    TPhysicalDrive* DriveOfNode(const QTreeWidgetItem* node) const;
    bool FatView() const { return RadioButton1->isChecked(); }
    // The texts of the drive tree's nodes.
    static QString PartitionNodeText(const TPartiEntry& entry, int level);
    static int PartitionNodeImage(const TPartiEntry& entry, int level);
    // The name a found FAT entry is listed under.
    static QString FatEntryCaption(const TPhysMidEntry& entry);
    // A found FAT folder's first sector, as the found directories are
    // keyed; -1 for a folder that cannot be placed.
    std::int64_t FolderSectorKey(const TPhysMidEntry& entry) const;

protected:
    void ShowContent() override;
    void ListView1Click(QObject* Sender) override;
    void ShowHistoryNode(QTreeWidgetItem* node) override;
    bool RowsLocked() const override { return scanning_ || AnyBusy(); }
    void closeEvent(QCloseEvent* e) override;

private:
    void ShowEntryView(bool afterScan);
    void SetCaptions();
    void SetBusyCursor(bool on);
    void SetPanel0(const char* text);
    void SetScanning(bool on);
    // A partition scan or deep scan from its start to its end, also when an
    // exception ends it: the state text, the hour-glass and the refusals.
    class TScanBracket {
    public:
        explicit TScanBracket(TfrmAdvMain* w);
        ~TScanBracket();
        TScanBracket(const TScanBracket&) = delete;
        TScanBracket& operator=(const TScanBracket&) = delete;

    private:
        TfrmAdvMain* w_;
    };
    void SelectFoundFolder(int k);
    int FoundFolderIndex(const QTreeWidgetItem* node) const;
    void ShowProperties(int row);
    void ShowFileHead(int row);
    void SetHint(const QString& text, bool red);
    void MarkFolder(const TPhysMidEntry& entry, std::vector<const QTreeWidgetItem*>& visited);
    void AddLostPartitionNodes(QTreeWidgetItem* driveNode);
    // Runs a command; an exception that escapes it is shown in an error box
    // (the window's general error handling).
    void Guarded(const std::function<void()>& command);
    template <typename Records>
    void FillFat(const Records& list, int Index, bool WholeList);
    template <typename Records>
    void FillNtfs(const Records& list, int Index, bool WholeList);
    // The bracket, loop and ending that both fillers share: rows first to
    // last of the list through addRow, then the sort and the counts.
    void FillRows(int first, int last, const std::function<void(int)>& addRow);

    TProgressBarView progress_;
    TStatusPanelView panel0_;
    // A partition scan or deep scan started by this window is running: the
    // lists it rebuilds are not shown meanwhile.
    bool scanning_ = false;
    // A recovery batch of this window runs: it holds the shown view (its
    // records, the found-folder nodes it marks).
    bool recovering_ = false;
    // Counts fills of the file list: a fill that finds a newer one started
    // meanwhile (from a click while it pumped messages) stops.
    unsigned fillGeneration_ = 0;
};

}  // namespace ui
