// The "Standard Recovery" window: the standard engine's view of the
// machine's logical drives. Pick a drive, watch it scan, browse its present
// and deleted folders, see a file's properties and first bytes, search,
// check rows and recover them into a folder; rescan a FAT32 folder whose
// contents are lost.
#pragma once

#include <QTreeWidgetItem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DiskParam.h"
#include "RecoveryFrame.h"

class TStatusPanelView;
class TProgressBarView;

class TfrmQuickMain : public ui::TRecoveryFrame {
    Q_OBJECT
public:
    explicit TfrmQuickMain(QWidget* parent = nullptr);
    ~TfrmQuickMain() override;

    // The window's engine: made when the window is shown, freed when it
    // closes.
    std::unique_ptr<TUndelete> Undelete;
    // The two roots of the folder tree.
    QTreeWidgetItem* ScanRootNode = nullptr;
    QTreeWidgetItem* FindRootNode = nullptr;

    // Opens the target folder after a recovery (the desktop's opener);
    // tests record it instead.
    std::function<void(const std::string&)> OpenFolder;

    // Drives, scan and browsing.
    void FormShow();
    void FillDriveTree();
    // Sender null means a re-scan of the node's drive.
    void Treeview2Change(QObject* Sender, QTreeWidgetItem* Node);
    bool Treeview2Changing(QTreeWidgetItem* Node) const;
    void ScanExecute();
    void StopExecute();
    void AddFolderNodes(QTreeWidgetItem* Node);
    void AddGrandChildNodes(QTreeWidgetItem* Node);
    void TreeView1Expanded(QTreeWidgetItem* Node);
    bool TreeView1Changing(QTreeWidgetItem* Node) const;
    // Sender null: Back and Forward, which add nothing to the history.
    void TreeView1Change(QObject* Sender, QTreeWidgetItem* Node);
    void FillFileList(QTreeWidgetItem* Node);
    void UpdateItemCounts();
    QString GetNodePath(QTreeWidgetItem* Node) const;
    std::string GetEntryLocation(const void* Entry) const;
    void GotoEntry(void* Entry);
    void ListView1DblClick();
    void UpExecute();
    void Openparentdirectory1Click();
    void PopupMenu1Popup();

    // A click on a column header of the file list: sorts it, unless a scan
    // or a recovery holds its rows.
    void ListView1ColumnClick(int Column);

    // Properties, preview, search, recovery.
    void ListView1Click();
    void Button1Click();
    void RecoverExecute();
    void acScan32Execute();

    // The folder key of a node's record on the current drive; false for a
    // drive whose file system is not known.
    bool NodeKey(const QTreeWidgetItem* Node, std::uint32_t& Key) const;
    static void* NodeData(const QTreeWidgetItem* Node);
    static int NodeImage(const QTreeWidgetItem* Node);
    bool Busy() const { return Undelete && Undelete->Busy; }
    // The kind of the current drive's records.
    bool CurrentIsFat() const;
    bool CurrentIsNtfs() const;

    // Rows of the file list, in list order.
    int RowCount() const;
    void* RowEntry(int row) const;
    int RowImage(int row) const;
    QString RowText(int row, int column) const;
    bool RowChecked(int row) const;
    std::vector<int> SelectedRows() const;

protected:
    void ShowContent() override;
    void FreeEngine() override;
    void ShowHistoryNode(QTreeWidgetItem* node) override;
    void ListView1Click(QObject*) override { ListView1Click(); }
    bool RowsLocked() const override { return Busy(); }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TRow {
        void* entry;
        int image;
        std::string caption, type, status;
        QString size, created;  // made as the list's texts: no round trip through UTF-8
        int icon = -1;  // the shell's icon index of a file
    };
    void AddFatRow(TMidEntry* E, bool findResults, std::vector<TRow>& rows);
    void AddNtfsRow(tntfsfilerecord* E, bool findResults, std::vector<TRow>& rows);
    void ShowRows(std::vector<TRow>& rows);
    void ClearFileList();
    // Empties the folder tree and the list, as before the first scan.
    void ClearView();
    void SetWaitCursor(bool on);
    void SetPanel(int panel, const QString& text);
    void Log(const std::string& text, int image);
    void SetNodeImages(QTreeWidgetItem* Node, int image, int selectedImage);
    QTreeWidgetItem* ChildWithData(QTreeWidgetItem* Node, const void* data) const;
    // Runs a change of the folder tree that makes or deletes nodes below
    // visited ones; the history's positions follow their folders (below).
    void KeepHistoryAcross(const std::function<void()>& change);
    void ClearSearchResults();
    void SelectFolderNode(QTreeWidgetItem* Node);
    void FillPropertyPage(int row);
    void FillHexPage(int row);
    void* RootRecord() const;

    std::unique_ptr<TMidEntry> fatRoot_;
    std::unique_ptr<tntfsfilerecord> ntfsRoot_;
    std::unique_ptr<TStatusPanelView> statusPanel_;
    std::unique_ptr<TProgressBarView> progressBar_;
    QString scanRootText_;  // "Scan Results", shown until a drive is opened
    bool changingByCode_ = false;
    QTreeWidgetItem* filledByCode_ = nullptr;  // its sub-levels are made already
};
