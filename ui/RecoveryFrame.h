// The frame both recovery windows share: trees on the left, the file list
// and the lower pages on the right, the menu and action toolbars, the status
// bar with its progress bar, the settings file with defaults by screen
// width, the help topic, the close command and the blinking drive prompt.
// The two windows differ in names, captions, panels and settings; each
// difference is a field of its TFrameVariant.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "FileList.h"
#include "FrameSettings.h"
#include "HexDump.h"
#include "LowerPages.h"
#include "IniFile.h"
#include "RecentFiles.h"
#include "StatusBarEx.h"

namespace ui {

enum class TFrameKind { Standard, Advanced };

struct TActionDef {
    const char* name;
    const char* caption;
    const char* shortcut;  // "" for none
    const char* icon;      // freedesktop icon name, "" for none
};

// A toolbar button: the action it runs, its own caption and hint; an empty
// action name is a separator.
struct TToolButtonDef {
    const char* action;
    const char* caption;
    const char* hint;
};

// An item of the file list's popup menu: its component name and caption,
// and the action it runs ("" for an item of the window's own). An empty
// name is a separator.
struct TPopupItemDef {
    const char* name;
    const char* caption;
    const char* action;
};

struct TFrameVariant {
    TFrameKind kind;
    const char* caption;
    const char* menuToolBar;    // component name of the menu-button toolbar
    const char* actionToolBar;  // component name of the action toolbar
    std::array<const char*, 3> menus;             // File, Options, Help
    const char* optionsShortcut;                  // "" for none
    const char* helpShortcut;
    std::vector<TActionDef> actions;
    std::vector<TToolButtonDef> toolButtons;
    std::vector<const char*> fileMenu;            // action names, "" a separator
    std::vector<std::pair<const char*, const char*>> optionItems;  // component name, caption
    std::vector<const char*> driveTreePopup;      // action names, "" a separator
    const char* helpAction;
    const char* closeAction;
    // Component names: left pane, left splitter, drive-tree pane, prompt
    // strip, drive tree, right splitter, lower pane, message strip, page
    // frame, status bar.
    const char* leftPane;
    const char* leftSplitter;
    const char* drivePane;
    const char* promptStrip;
    const char* driveTree;
    const char* rightSplitter;
    const char* lowerPane;
    const char* messageStrip;
    const char* pageFrame;
    const char* statusBar;
    std::array<int, 3> panelWidths;
    const char* firstPanelText;
    bool progressShown;  // shown from the start, its width set when shown
    std::vector<const char*> fileColumns;
    const char* iniFile;
    const char* helpTopic;
    std::span<const TSettingRow> settings;
    bool settingsFirst;  // read before the window's own content is made
    const char* backAction;
    const char* forwardAction;
    const char* fileListPopup;                 // component name of the file list's popup menu
    std::vector<TPopupItemDef> fileListPopupTail;  // after the check commands and Recover
    const char* hexPanel;                      // the hex page's panel
    bool plainFirstFolderNode;                 // the folder tree's first node is not highlighted
    bool enterFinds;                           // Enter in the search page's name field runs Find
};

const TFrameVariant& FrameVariant(TFrameKind kind);

class TRecoveryFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit TRecoveryFrame(TFrameKind kind, QWidget* parent = nullptr);
    ~TRecoveryFrame() override;

    const TFrameVariant& Variant() const { return variant_; }
    TFrameKind Kind() const { return variant_.kind; }
    QAction* Action(const QString& name) const;
    // The check item of an option by its component name ("N4", "OpenDir").
    QAction* OptionItem(const QString& name) const;
    bool OpenDestDir() const;
    // An item of the file list's popup by its component name ("Check1",
    // "UnCheck1", "Checkall1", "Uncheckall1", "Openparentdirectory1").
    QAction* PopupItem(const QString& name) const;
    // The toolbar buttons of an action (the button's name is "btn" and the
    // action's name).
    QAction* ToolButton(const QString& action) const;

    // Layout.
    QWidget* LeftPane;
    QSplitter* MainSplitter;   // between the left and the right pane
    QSplitter* LeftSplitter;   // folder tree / drive-tree pane
    QSplitter* RightSplitter;  // file list / lower pane
    QTreeWidget* TreeView1;
    QTreeWidgetItem* ScanResultsNode;
    QTreeWidgetItem* FindResultsNode;
    QWidget* DrivePane;
    QLabel* PromptStrip;
    QTreeWidget* DriveTree;
    QTreeWidgetItem* MyComputerNode;
    TFileListView* ListView1;
    QMenu* FileListPopup;  // PopupMenu1 (standard), PopupMenu2 (advanced)
    QWidget* LowerPane;
    QLabel* MessageStrip;
    QWidget* FsSelector = nullptr;  // advanced: the file-system selector
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QWidget* PageFrame;
    QStackedWidget* Notebook1;
    QTabBar* TabSet1;
    QWidget* PropertiesPage;
    QWidget* HexPage;
    QWidget* FindPage;
    QWidget* LogPage;
    QWidget* HexPanel;       // parents the hex view
    TPropertyList* ListView2;
    TSearchPage* SearchPage;
    TEventLogView* ListView3;
    QMenu* PopupMenu5;       // the event log's popup
    TStatusBarEx* StatusBar;
    QProgressBar* ProgressBar1;
    QTimer* Timer1;
    QMenu* DriveTreePopup;

    THexDump* HexView = nullptr;
    std::array<std::uint8_t, 2048> HexBuffer{};
    std::unique_ptr<TRecentFiles> History;
    // Standard window: the settings-file object, from creation to closing.
    std::unique_ptr<platform::TIniFile> IniFile;

    // Where the settings and help files are: the program folder (AppDir)
    // unless a test says else.
    std::string AppDirectory;
    // The screen width that picks the settings' defaults; 0 for the screen's.
    int ScreenWidthOverride = 0;
    // Standard window: while this says busy, closing is refused.
    std::function<bool()> Busy;
    // The blink's waits (milliseconds); they block the window thread.
    std::function<void(int)> Wait;

    void LoadSettings();
    void SaveSettings();
    void LeftSplitterMoved();
    void RightSplitterMoved();
    void BlinkDrivePrompt(int n);
    void Timer1Timer();
    void HelpExecute();
    void CloseExecute();
    // Brings the hex view's first line back to the top after new bytes.
    void ResetHexView();
    // The greeting the hex view shows until a file's first bytes replace it:
    // 64 bytes at the start of HexBuffer, the rest zero.
    void WriteGreeting();
    // Another drive or node is shown: the property page empties, the hex
    // view shows the greeting again and the hint goes, so that neither page
    // tells of a file of the drive before.
    void ClearPreview();

    // The lower pages: the tab set's handler, run whenever its tab changes
    // (so setting TabSet1's index shows that page the same way).
    void TabSet1Click();
    // Back and Forward over History; the folder node is shown through
    // ShowHistoryNode, which adds nothing to the history.
    void BackExecute();
    void ForwardExecute();
    // The toolbar's Back and Forward buttons from the history's flags.
    void UpdateNavButtons();
    void ClearLogs1Click();
    // A node's place when all nodes of its tree are counted in tree order,
    // and the node at such a place (nullptr when there is none).
    static int AbsoluteIndex(const QTreeWidgetItem* node);
    static QTreeWidgetItem* NodeAt(QTreeWidget* tree, int absoluteIndex);
    int ScreenWidth() const;
    // The screen's height, which bounds the pane heights read from a file.
    int ScreenHeight() const;
    int LeftPaneWidth() const;
    int DrivePaneHeight() const;
    int LowerPaneHeight() const;

protected:
    // The window's own part of showing: the engine or drive list. Runs after
    // the settings on the standard window, before them on the advanced one.
    virtual void ShowContent() {}
    // Standard window, on a close that is not refused: frees the engine.
    virtual void FreeEngine() {}
    // The window's row-click handler: fills the property or the hex page
    // from the selected row. The tab set runs it with no sender.
    virtual void ListView1Click(QObject* Sender) { (void)Sender; }
    // Back and Forward: select the folder node and list it without adding
    // it to the history (the window's folder handler with no sender).
    virtual void ShowHistoryNode(QTreeWidgetItem* node) { (void)node; }
    // A scan or a recovery of the window runs: the rows and the folder
    // nodes are held by it, so nothing may sort, refill, check or free them.
    virtual bool RowsLocked() const { return false; }

    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    // Hints go to tooltips only: no status tip replaces the status panels.
    bool event(QEvent* e) override;

private:
    void BuildActions();
    void BuildToolBars();
    void BuildPanes();
    void BuildStatusBar();
    void BuildPopups();
    void GoTo(bool forward);
    void ApplySettings(const std::vector<int>& values);
    std::vector<int> LiveSettings() const;
    QTreeView* List(int n) const;
    void SetLeftPaneWidth(int w);
    void SetDrivePaneHeight(int h);
    void KeepPaneHeights();
    std::string IniPath() const;

    const TFrameVariant& variant_;
    std::map<QString, QAction*> actions_;
    std::map<QString, QAction*> options_;
    std::map<QString, QAction*> popupItems_;
    std::map<QString, QAction*> toolButtons_;
    bool shown_ = false;
    // The height the drive-tree pane and the lower right pane share: read
    // from the settings or dragged by the user; -1 until then.
    int paneHeight_ = -1;
    bool keepingHeights_ = false;
};

}  // namespace ui
