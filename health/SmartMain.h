// The drive health window: the IDE drives 0 to 3 that answer the identify
// command, the chosen drive's identity, its S.M.A.R.T. attribute table and
// the health verdict in the status bar.
//
// The device work is health/Smart's; this unit only reads and shows. It
// saves no settings. The launcher creates the window without owner, shows
// it modally and frees it when it closes.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Smart.h"

// The drives that answered the identify command, in the order of the drive
// combo box; the last byte of each record holds the drive's number 0 to 3.
// Rebuilt by every refresh of the drive list.
extern std::vector<TSmartDriveRec> SmartDrives;

// The verdict texts, by verdict 0 (good), 1 (close to a limit), 2 (failing).
extern const char* const HealthText[3];

// Fills the attribute table of a list view (the columns of TfrmSmart's
// table) with the S.M.A.R.T. values and thresholds of drive 0 to 3 and
// returns the verdict: 0, or 2 when an attribute has reached its threshold;
// -1 when the device cannot be opened, enabled or read. A device that does not open leaves the list as it was; a read that
// fails is reported in an error box.
int FillSmartTable(std::uint8_t Drive, QTreeWidget* ListView);

// The help viewer. The window cannot reach the program's viewer itself (it
// sits below the other windows), so the program hands it in: the owner
// window, the help file and the topic. Without one, help shows nothing.
using TSmartHelpOpener = std::function<void(QWidget* owner, const std::string& chmPath, const std::string& topic)>;
void SetSmartHelpOpener(TSmartHelpOpener opener);

class TSmartRowDelegate;

class TfrmSmart : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmSmart(QWidget* parent = nullptr);
    ~TfrmSmart() override;

    // Menu and tool bar: "Drive " and "Help" as buttons that drop the menus.
    QToolBar* ToolBar1;
    QToolButton* ToolButton1;  // "Drive "
    QToolButton* ToolButton2;  // "Help"
    QMenu* Drive1;
    QMenu* Help1;
    QAction* RefreshDriveList1;
    QAction* acClose;
    QAction* help;

    QGroupBox* GroupBox1;
    QComboBox* ComboBox1;
    QLabel* Label9;   // capacity
    QLabel* Label11;  // firmware revision
    QLabel* Label13;  // serial number
    QLabel* Label15;  // S.M.A.R.T. state

    QTreeWidget* ListView1;
    QWidget* Panel3;  // the legend

    QLabel* Label2;   // name of the selected attribute
    QLabel* Label7;   // its id
    QPlainTextEdit* Memo1;
    QLabel* Label5;   // pre-failure attribute or not
    QToolButton* SpeedButton1;

    QStatusBar* StatusBar1;
    QLabel* StatusPanel;  // the status bar's one simple panel

    // Row images: 0 value normal (and no threshold), 1 an outlined
    // triangle, 2 the warning triangle of the legend, 3 dangerous.
    QList<QIcon> ImageList1;

    void FormShow();
    void RefreshDriveList();
    void ComboBox1Change();
    void ListView1Change(QTreeWidgetItem* item);
    // The background of a row before it is drawn.
    QColor ListView1CustomDrawItem(int index, bool selected) const;
    void RefreshDriveList1Click();
    void acCloseExecute();
    void helpExecute();
    void SpeedButton1Click();

    std::string AppDirectory;  // where the help file lies

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Asks the window for each row's colour while the window lives.
    TSmartRowDelegate* rowDelegate_ = nullptr;

    void BuildMenus();
    void BuildDrivePanel(QWidget* parent);
    void BuildTable(QWidget* parent);
    void BuildLegend(QWidget* parent);
    void BuildDetails(QWidget* parent);
};

// The four row images, drawn once (16 x 16).
const QList<QIcon>& SmartRowImages();
