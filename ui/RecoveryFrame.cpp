#include "RecoveryFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QThread>
#include <QTreeWidgetItemIterator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "DiskParam.h"
#include "Colors.h"
#include "HtmlHelp.h"
#include "WinApi.h"

namespace ui {

namespace {

constexpr std::uint32_t kWindowColor = 0xF8E4D8;
constexpr std::uint32_t kCoolBarColor = 0xD8E9EC;
constexpr std::uint32_t kPageFrameColor = 0xF7D1BB;
constexpr int kStripHeight = 20;
constexpr int kBlinkMs = 300;
const char* const kDrivePrompt = " 请选择一个驱动器扫描。";

const TFrameVariant kStandardVariant{
    TFrameKind::Standard,
    "Vantrel - Standard Recovery",
    "ToolBar3",
    "ToolBar1",
    {"&File", "&Options", "&Help"},
    "Ctrl+U",
    "Ctrl+H",
    {{"Scan", "Re-scan", "", "view-refresh"},
     {"Stop", "Stop", "", "process-stop"},
     {"Recover", "Recover", "", "document-save"},
     {"Up", "Up", "", "go-up"},
     {"Back", "Back", "", "go-previous"},
     {"Forward", "Forward", "", "go-next"},
     {"acScan32", "Scan32", "", "edit-find"},
     {"help", "Content", "F1", "help-browser"},
     {"acClose", "Close", "Ctrl+X", "window-close"}},
    {{"Scan", "Re-scan", "Scan drive to retrieve lost files"},
     {"Stop", "Stop", "Stop current process"},
     {"Recover", "Recover", "Recover checked files"},
     {"", "", ""},
     {"acScan32", "Scan32", "Scan damaged directory to retrieve files"},
     {"", "", ""},
     {"Up", "Up", "Up"},
     {"Back", "Back", ""},
     {"Forward", "Forward", ""}},
    {"Scan", "Stop", "", "Recover", "", "acClose"},
    {{"N4", "Open destination directory after recovery"}},
    {"Scan", "Stop"},
    "help",
    "acClose",
    "Panel2",
    "Splitter2",
    "Panel3",
    "Panel4",
    "Treeview2",
    "Splitter3",
    "Panel18",
    "Panel19",
    "Panel20",
    "StatusBar1",
    {92, 280, 300},
    " Directory",
    false,
    {"File", "Type", "Status", "Size", "Created"},
    "Vantrel.ini",
    "StdRecovery.htm",
    StandardSettings(),
    true,
    "Back",
    "Forward",
    "PopupMenu1",
    {{"", "", ""}, {"acScan32", "Scan32", "acScan32"}, {"Openparentdirectory1", "Open parent directory", ""}},
    "Panel21",
    false,
    false,
};

const TFrameVariant kAdvancedVariant{
    TFrameKind::Advanced,
    "Vantrel - Advanced Recovery",
    "ToolBar1",
    "ToolBar3",
    {"File", "Options", "Help"},
    "",
    "",
    {{"Scan", "Re-scan", "", "view-refresh"},
     {"Stop", "Stop", "", "process-stop"},
     {"Recover", "Recover", "", "document-save"},
     {"Backward", "Backward", "", "go-previous"},
     {"Forward", "Fore", "", "go-next"},
     {"PartiScan", "SmartScan", "", "drive-harddisk"},
     {"acToParent", "", "", "go-up"},
     {"acHelp", "Content", "F1", "help-browser"},
     {"acClose", "Close", "Ctrl+X", "window-close"}},
    {{"Scan", "Re-scan", "Scan drive to retrieve lost files"},
     {"PartiScan", "SmartScan", "Scan physical drive to retrieve lost partitions"},
     {"Stop", "Stop", "Stop current process"},
     {"Recover", "Recover", "Recover checked files"},
     {"", "", ""},
     {"Backward", "Back", ""},
     {"Forward", "Foreward", ""}},
    {"Scan", "Stop", "", "Recover", "", "acClose"},
    {{"Showntfolder", "Show NTFS folders"}, {"OpenDir", "Open destination directory after recovery"}},
    {"Scan", "Stop", "", "PartiScan"},
    "acHelp",
    "acClose",
    "Panel4",
    "Splitter3",
    "Panel8",
    "Panel9",
    "TreeView2",
    "Splitter2",
    "Panel3",
    "Panel5",
    "Panel10",
    "StatusBarEx1",
    {147, 312, 50},
    "",
    true,
    {"Name", "Type", "Size", "Created", "Accessed"},
    "advrec.ini",
    "AdvRecovery.htm",
    AdvancedSettings(),
    false,
    "Backward",
    "Forward",
    "PopupMenu2",
    {{"Openparentdirectory1", "Open parent directory", "acToParent"}},
    "Panel11",
    true,
    true,
};

void Paint(QWidget* w, std::uint32_t colorRef) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, FromColorRef(colorRef));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

// Trees draw their selected node themselves (TTreeNodeDelegate); the
// toolkit's own selection colours stay out of sight.
void UseNodeDelegate(QTreeWidget* tree, bool plainFirstNode) {
    tree->setItemDelegate(new TTreeNodeDelegate(plainFirstNode, tree));
    // A tree control's nodes share one height: the toolkit measures one
    // node instead of laying out the text of every node it shows or opens.
    tree->setUniformRowHeights(true);
    QPalette pal = tree->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(g, QPalette::Highlight, pal.color(g, QPalette::Base));
        pal.setColor(g, QPalette::HighlightedText, pal.color(g, QPalette::Text));
    }
    tree->setPalette(pal);
}

// A splitter that says when it has laid out its panes for a new size.
class TPaneSplitter : public QSplitter {
public:
    TPaneSplitter(Qt::Orientation o, QWidget* parent, std::function<void()> resized)
        : QSplitter(o, parent), resized_(std::move(resized)) {}

protected:
    void resizeEvent(QResizeEvent* e) override {
        QSplitter::resizeEvent(e);
        resized_();
    }

private:
    std::function<void()> resized_;
};

QWidget* MakePage(QStackedWidget* book, const char* name) {
    auto* page = new QWidget(book);
    page->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    book->addWidget(page);
    return page;
}

QAction* Named(const std::map<QString, QAction*>& items, const QString& name) {
    auto it = items.find(name);
    return it == items.end() ? nullptr : it->second;
}

// An item or button of its own caption that runs an action and follows its
// enabled state.
void RunsAction(QAction* item, QAction* target) {
    item->setEnabled(target->isEnabled());
    QObject::connect(item, &QAction::triggered, target, &QAction::trigger);
    QObject::connect(target, &QAction::enabledChanged, item, &QAction::setEnabled);
}

}  // namespace

const TFrameVariant& FrameVariant(TFrameKind kind) {
    return kind == TFrameKind::Standard ? kStandardVariant : kAdvancedVariant;
}

TRecoveryFrame::TRecoveryFrame(TFrameKind kind, QWidget* parent)
    : QMainWindow(parent), AppDirectory(::AppDir), variant_(FrameVariant(kind)) {
    setObjectName(kind == TFrameKind::Standard ? QStringLiteral("frmQuickMain") : QStringLiteral("frmAdvMain"));
    setWindowTitle(QString::fromLatin1(variant_.caption));
    resize(798, 568);
    setWindowState(Qt::WindowMaximized);
    Paint(this, kWindowColor);
    Wait = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };

    BuildActions();
    BuildToolBars();
    BuildPanes();
    BuildStatusBar();
    BuildPopups();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kBlinkMs);
    connect(Timer1, &QTimer::timeout, this, &TRecoveryFrame::Timer1Timer);

    connect(Action(QString::fromLatin1(variant_.helpAction)), &QAction::triggered, this, &TRecoveryFrame::HelpExecute);
    connect(Action(QString::fromLatin1(variant_.closeAction)), &QAction::triggered, this, &TRecoveryFrame::CloseExecute);
    connect(Action(QString::fromLatin1(variant_.backAction)), &QAction::triggered, this, &TRecoveryFrame::BackExecute);
    connect(Action(QString::fromLatin1(variant_.forwardAction)), &QAction::triggered, this,
            &TRecoveryFrame::ForwardExecute);
    ListView1->SetRowsLocked([this] { return RowsLocked(); });
    connect(LeftSplitter, &QSplitter::splitterMoved, this, [this] {
        LeftSplitterMoved();
        paneHeight_ = DrivePaneHeight();
    });
    connect(RightSplitter, &QSplitter::splitterMoved, this, [this] {
        RightSplitterMoved();
        paneHeight_ = LowerPaneHeight();
    });

    if (kind == TFrameKind::Standard) {
        // Created with the window; a file that cannot be read gives the
        // defaults later, so nothing here can fail.
        History = std::make_unique<TRecentFiles>();
        IniFile = std::make_unique<platform::TIniFile>(IniPath());
    }
}

TRecoveryFrame::~TRecoveryFrame() = default;

std::string TRecoveryFrame::IniPath() const { return AppDirectory + variant_.iniFile; }

QAction* TRecoveryFrame::Action(const QString& name) const { return Named(actions_, name); }

QAction* TRecoveryFrame::OptionItem(const QString& name) const { return Named(options_, name); }

bool TRecoveryFrame::OpenDestDir() const {
    QAction* item = OptionItem(Kind() == TFrameKind::Standard ? QStringLiteral("N4") : QStringLiteral("OpenDir"));
    return item && item->isChecked();
}

void TRecoveryFrame::BuildActions() {
    for (const TActionDef& def : variant_.actions) {
        auto* action = new QAction(QString::fromLatin1(def.caption), this);
        action->setObjectName(QString::fromLatin1(def.name));
        if (*def.icon) action->setIcon(QIcon::fromTheme(QString::fromLatin1(def.icon)));
        if (*def.shortcut) {
            action->setShortcut(QKeySequence(QString::fromLatin1(def.shortcut)));
            action->setShortcutContext(Qt::WindowShortcut);
        }
        addAction(action);  // its shortcut works in the whole window
        actions_[action->objectName()] = action;
    }
    for (const auto& [name, caption] : variant_.optionItems) {
        auto* item = new QAction(QString::fromUtf8(caption), this);
        item->setObjectName(QString::fromLatin1(name));
        item->setCheckable(true);
        options_[item->objectName()] = item;
    }
}

void TRecoveryFrame::BuildToolBars() {
    auto* menuBar = new QToolBar(this);
    menuBar->setObjectName(QString::fromLatin1(variant_.menuToolBar));
    menuBar->setMovable(false);
    menuBar->setFloatable(false);
    menuBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    Paint(menuBar, kCoolBarColor);
    addToolBar(Qt::TopToolBarArea, menuBar);

    auto addMenu = [&](const char* caption, const char* shortcut) {
        auto* menu = new QMenu(QString::fromUtf8(caption), this);
        auto* button = new QToolButton(menuBar);
        button->setText(QString::fromUtf8(caption));
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setAutoRaise(true);
        menuBar->addWidget(button);
        if (*shortcut) {
            auto* sc = new QShortcut(QKeySequence(QString::fromLatin1(shortcut)), this);
            connect(sc, &QShortcut::activated, button, &QToolButton::showMenu);
        }
        return menu;
    };
    QMenu* file = addMenu(variant_.menus[0], "");
    for (const char* name : variant_.fileMenu) {
        if (*name) file->addAction(Action(QString::fromLatin1(name)));
        else file->addSeparator();
    }
    QMenu* options = addMenu(variant_.menus[1], variant_.optionsShortcut);
    for (const auto& item : variant_.optionItems) options->addAction(OptionItem(QString::fromLatin1(item.first)));
    QMenu* help = addMenu(variant_.menus[2], variant_.helpShortcut);
    help->addAction(Action(QString::fromLatin1(variant_.helpAction)));

    addToolBarBreak(Qt::TopToolBarArea);
    auto* actionBar = new QToolBar(this);
    actionBar->setObjectName(QString::fromLatin1(variant_.actionToolBar));
    actionBar->setMovable(false);
    actionBar->setFloatable(false);
    actionBar->setIconSize(QSize(24, 24));
    actionBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Paint(actionBar, kCoolBarColor);
    addToolBar(Qt::TopToolBarArea, actionBar);
    for (const TToolButtonDef& def : variant_.toolButtons) {
        if (!*def.action) {
            actionBar->addSeparator();
            continue;
        }
        // A button of its own caption and hint that runs the action and
        // follows its enabled state (the icon theme greys disabled images).
        QAction* target = Action(QString::fromLatin1(def.action));
        auto* button = new QAction(target->icon(), QString::fromLatin1(def.caption), actionBar);
        button->setObjectName(QStringLiteral("btn") + target->objectName());
        // The hint is the button's tooltip, as on a Windows toolbar; the
        // status panels keep what the window wrote there.
        button->setToolTip(QString::fromLatin1(*def.hint ? def.hint : def.caption));
        RunsAction(button, target);
        actionBar->addAction(button);
        toolButtons_[target->objectName()] = button;
    }
}

void TRecoveryFrame::BuildPanes() {
    auto* central = new QWidget(this);
    Paint(central, kWindowColor);
    auto* centralLayout = new QHBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    setCentralWidget(central);

    MainSplitter = new QSplitter(Qt::Horizontal, central);
    MainSplitter->setObjectName(QStringLiteral("Splitter1"));
    MainSplitter->setHandleWidth(4);
    MainSplitter->setChildrenCollapsible(false);
    centralLayout->addWidget(MainSplitter);

    // Left: folder tree over the drive-tree pane.
    LeftPane = new QWidget(MainSplitter);
    LeftPane->setObjectName(QString::fromLatin1(variant_.leftPane));
    auto* leftLayout = new QVBoxLayout(LeftPane);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    LeftSplitter = new TPaneSplitter(Qt::Vertical, LeftPane, [this] { KeepPaneHeights(); });
    LeftSplitter->setObjectName(QString::fromLatin1(variant_.leftSplitter));
    LeftSplitter->setHandleWidth(3);
    LeftSplitter->setChildrenCollapsible(false);
    leftLayout->addWidget(LeftSplitter);

    TreeView1 = new QTreeWidget(LeftSplitter);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    UseNodeDelegate(TreeView1, variant_.plainFirstFolderNode);
    ScanResultsNode = new QTreeWidgetItem(TreeView1, QStringList(QStringLiteral("Scan Results")));
    FindResultsNode = new QTreeWidgetItem(TreeView1, QStringList(QStringLiteral("Find Results")));

    DrivePane = new QWidget(LeftSplitter);
    DrivePane->setObjectName(QString::fromLatin1(variant_.drivePane));
    auto* driveLayout = new QVBoxLayout(DrivePane);
    driveLayout->setContentsMargins(0, 0, 0, 0);
    driveLayout->setSpacing(0);
    PromptStrip = new QLabel(DrivePane);
    PromptStrip->setObjectName(QString::fromLatin1(variant_.promptStrip));
    PromptStrip->setFixedHeight(kStripHeight);
    QFont bold = PromptStrip->font();
    bold.setBold(true);
    PromptStrip->setFont(bold);
    QPalette red = PromptStrip->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    PromptStrip->setPalette(red);
    driveLayout->addWidget(PromptStrip);
    DriveTree = new QTreeWidget(DrivePane);
    DriveTree->setObjectName(QString::fromLatin1(variant_.driveTree));
    DriveTree->setHeaderHidden(true);
    DriveTree->setRootIsDecorated(false);  // no lines or button at the root
    DriveTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    UseNodeDelegate(DriveTree, true);
    MyComputerNode = new QTreeWidgetItem(DriveTree, QStringList(QStringLiteral("My Computer")));
    MyComputerNode->setIcon(0, QIcon::fromTheme(QStringLiteral("computer")));
    MyComputerNode->setExpanded(true);
    driveLayout->addWidget(DriveTree);
    DriveTreePopup = new QMenu(this);
    for (const char* name : variant_.driveTreePopup) {
        if (*name) DriveTreePopup->addAction(Action(QString::fromLatin1(name)));
        else DriveTreePopup->addSeparator();
    }
    DriveTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DriveTree, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { DriveTreePopup->popup(DriveTree->viewport()->mapToGlobal(p)); });
    LeftSplitter->setStretchFactor(0, 1);
    LeftSplitter->setStretchFactor(1, 0);

    // Right: file list over the lower pane.
    RightSplitter = new TPaneSplitter(Qt::Vertical, MainSplitter, [this] { KeepPaneHeights(); });
    RightSplitter->setObjectName(QString::fromLatin1(variant_.rightSplitter));
    RightSplitter->setHandleWidth(3);
    RightSplitter->setChildrenCollapsible(false);
    const TListKind listKind = variant_.kind == TFrameKind::Standard ? TListKind::Standard : TListKind::Advanced;
    ListView1 = new TFileListView(listKind, variant_.fileColumns, RightSplitter);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    QuickMain::SetHeaderImages(ListView1, &SortArrowImages());

    LowerPane = new QWidget(RightSplitter);
    LowerPane->setObjectName(QString::fromLatin1(variant_.lowerPane));
    auto* lowerLayout = new QVBoxLayout(LowerPane);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->setSpacing(0);

    auto* strip = new QWidget(LowerPane);
    strip->setFixedHeight(kStripHeight);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(2, 0, 2, 0);
    MessageStrip = new QLabel(strip);
    MessageStrip->setObjectName(QString::fromLatin1(variant_.messageStrip));
    stripLayout->addWidget(MessageStrip, 1);
    if (variant_.kind == TFrameKind::Advanced) {
        FsSelector = new QWidget(strip);
        FsSelector->setObjectName(QStringLiteral("Panel7"));
        FsSelector->setToolTip(QStringLiteral("File System Selector"));
        auto* selLayout = new QHBoxLayout(FsSelector);
        selLayout->setContentsMargins(0, 0, 0, 0);
        RadioButton1 = new QRadioButton(QStringLiteral("0 FAT Entry(ies) Found"), FsSelector);
        RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
        RadioButton2 = new QRadioButton(QStringLiteral("0 NTFS Entry(ies) Found"), FsSelector);
        RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
        selLayout->addWidget(RadioButton1);
        selLayout->addWidget(RadioButton2);
        stripLayout->addWidget(FsSelector);
    }
    lowerLayout->addWidget(strip);

    PageFrame = new QWidget(LowerPane);
    PageFrame->setObjectName(QString::fromLatin1(variant_.pageFrame));
    Paint(PageFrame, kPageFrameColor);
    auto* frameLayout = new QVBoxLayout(PageFrame);
    frameLayout->setContentsMargins(8, 8, 8, 8);
    Notebook1 = new QStackedWidget(PageFrame);
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    frameLayout->addWidget(Notebook1);
    lowerLayout->addWidget(PageFrame, 1);

    PropertiesPage = MakePage(Notebook1, "Property");
    ListView2 = new TPropertyList(PropertiesPage);
    PropertiesPage->layout()->addWidget(ListView2);
    HexPage = MakePage(Notebook1, "HexView");
    HexPanel = new QWidget(HexPage);
    HexPanel->setObjectName(QString::fromLatin1(variant_.hexPanel));
    Paint(HexPanel, 0xFFFFFF);  // the window colour
    auto* hexLayout = new QVBoxLayout(HexPanel);
    hexLayout->setContentsMargins(0, 0, 0, 0);
    HexPage->layout()->addWidget(HexPanel);
    FindPage = MakePage(Notebook1, "Search");
    // The search controls need more room than a small window's lower pane
    // has: they scroll rather than widen the window.
    auto* searchScroll = new QScrollArea(FindPage);
    searchScroll->setFrameShape(QFrame::NoFrame);
    searchScroll->setWidgetResizable(true);
    SearchPage = new TSearchPage(listKind);
    searchScroll->setWidget(SearchPage);
    FindPage->layout()->addWidget(searchScroll);
    if (variant_.enterFinds) connect(SearchPage->Edit1, &QLineEdit::returnPressed, SearchPage->Button1, &QPushButton::click);
    LogPage = MakePage(Notebook1, "Event Log");
    ListView3 = new TEventLogView(listKind, LogPage);
    LogPage->layout()->addWidget(ListView3);

    TabSet1 = new QTabBar(LowerPane);
    TabSet1->setObjectName(QStringLiteral("TabSet1"));
    TabSet1->setShape(QTabBar::TriangularSouth);
    TabSet1->setDrawBase(false);
    for (const char* caption : {"   Properties   ", "   Hex View   ", "    Find    ", "  Application Log  "})
        TabSet1->addTab(QString::fromLatin1(caption));
    connect(TabSet1, &QTabBar::currentChanged, this, [this] { TabSet1Click(); });
    lowerLayout->addWidget(TabSet1);

    RightSplitter->setStretchFactor(0, 1);
    RightSplitter->setStretchFactor(1, 0);
    MainSplitter->setStretchFactor(0, 0);
    MainSplitter->setStretchFactor(1, 1);
}

void TRecoveryFrame::BuildStatusBar() {
    StatusBar = new TStatusBarEx(this);
    StatusBar->setObjectName(QString::fromLatin1(variant_.statusBar));
    for (std::size_t i = 0; i < variant_.panelWidths.size(); ++i)
        StatusBar->AddPanel(variant_.panelWidths[i], i == 0 ? QString::fromLatin1(variant_.firstPanelText) : QString());
    setStatusBar(StatusBar);
    ProgressBar1 = new QProgressBar(StatusBar);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    StatusBar->PlaceOverPanel(ProgressBar1, 1);
    ProgressBar1->setVisible(variant_.progressShown);
}

int TRecoveryFrame::ScreenWidth() const {
    if (ScreenWidthOverride > 0) return ScreenWidthOverride;
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 1024;
}

int TRecoveryFrame::ScreenHeight() const {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 768;
}

int TRecoveryFrame::LeftPaneWidth() const { return MainSplitter->sizes().value(0); }
int TRecoveryFrame::DrivePaneHeight() const { return LeftSplitter->sizes().value(1); }
int TRecoveryFrame::LowerPaneHeight() const { return RightSplitter->sizes().value(1); }

void TRecoveryFrame::SetLeftPaneWidth(int w) {
    w = std::max(0, w);  // a damaged file's negative size shrinks the pane away, no further
    QList<int> sizes = MainSplitter->sizes();
    const int total = std::max(sizes.value(0) + sizes.value(1), w + 1);
    MainSplitter->setSizes({w, std::max(1, total - w)});
}

void TRecoveryFrame::SetDrivePaneHeight(int h) {
    h = std::max(0, h);
    QList<int> sizes = LeftSplitter->sizes();
    const int total = std::max(sizes.value(0) + sizes.value(1), h + 1);
    LeftSplitter->setSizes({std::max(1, total - h), h});
}

void TRecoveryFrame::LeftSplitterMoved() {
    // The lower right pane follows the drive-tree pane.
    QList<int> right = RightSplitter->sizes();
    const int total = right.value(0) + right.value(1);
    const int h = DrivePaneHeight();
    RightSplitter->setSizes({std::max(1, total - h), h});
}

void TRecoveryFrame::KeepPaneHeights() {
    // The settings are read while the window still has its design size, and
    // a window manager maximises it later: the panes may not have had room
    // for their height then, and each splitter would keep what it got. Both
    // panes take the one height again whenever a splitter is laid out anew,
    // as far as both have room for it.
    if (paneHeight_ <= 0 || keepingHeights_) return;
    keepingHeights_ = true;
    SetDrivePaneHeight(paneHeight_);
    LeftSplitterMoved();
    if (LowerPaneHeight() < DrivePaneHeight()) SetDrivePaneHeight(LowerPaneHeight());
    keepingHeights_ = false;
}

void TRecoveryFrame::RightSplitterMoved() {
    QList<int> left = LeftSplitter->sizes();
    const int total = left.value(0) + left.value(1);
    const int h = LowerPaneHeight();
    LeftSplitter->setSizes({std::max(1, total - h), h});
}

QTreeView* TRecoveryFrame::List(int n) const {
    switch (n) {
    case 1: return ListView1;
    case 2: return ListView2;
    case 3: return ListView3;
    default: return nullptr;
    }
}

void TRecoveryFrame::ApplySettings(const std::vector<int>& values) {
    const auto table = variant_.settings;
    // The panes first (the left splitter's handler right after the height),
    // then the column widths, then the options.
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].target == TSettingTarget::LeftPaneWidth) SetLeftPaneWidth(values[i]);
        if (table[i].target == TSettingTarget::DrivePaneHeight) {
            SetDrivePaneHeight(values[i]);
            LeftSplitterMoved();
            paneHeight_ = values[i];
            KeepPaneHeights();
        }
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        const TSettingRow& row = table[i];
        switch (row.target) {
        case TSettingTarget::ColumnWidth:
            if (QTreeView* list = List(row.list)) list->setColumnWidth(row.column, std::max(0, values[i]));
            break;
        case TSettingTarget::OpenDestDir:
            OptionItem(Kind() == TFrameKind::Standard ? QStringLiteral("N4") : QStringLiteral("OpenDir"))
                ->setChecked(values[i] != 0);
            break;
        case TSettingTarget::ShowNtFolder:
            if (QAction* item = OptionItem(QStringLiteral("Showntfolder"))) item->setChecked(values[i] != 0);
            break;
        default: break;
        }
    }
}

std::vector<int> TRecoveryFrame::LiveSettings() const {
    std::vector<int> values;
    for (const TSettingRow& row : variant_.settings) {
        switch (row.target) {
        case TSettingTarget::ColumnWidth: values.push_back(List(row.list)->columnWidth(row.column)); break;
        case TSettingTarget::LeftPaneWidth: values.push_back(LeftPaneWidth()); break;
        case TSettingTarget::DrivePaneHeight: values.push_back(DrivePaneHeight()); break;
        case TSettingTarget::OpenDestDir: values.push_back(OpenDestDir() ? 1 : 0); break;
        case TSettingTarget::ShowNtFolder: {
            QAction* item = OptionItem(QStringLiteral("Showntfolder"));
            values.push_back(item && item->isChecked() ? 1 : 0);
            break;
        }
        }
    }
    return values;
}

void TRecoveryFrame::LoadSettings() {
    // Reading never fails: a missing file, section or key gives defaults.
    if (Kind() == TFrameKind::Standard) {
        if (!IniFile) IniFile = std::make_unique<platform::TIniFile>(IniPath());
        ApplySettings(ReadSettings(*IniFile, variant_.settings, ScreenWidth(), ScreenHeight()));
    } else {
        const platform::TIniFile ini(IniPath());
        ApplySettings(ReadSettings(ini, variant_.settings, ScreenWidth(), ScreenHeight()));
    }
}

void TRecoveryFrame::SaveSettings() {
    // Errors (a read-only program folder) are ignored: the window closes.
    try {
        if (Kind() == TFrameKind::Standard) {
            if (!IniFile) return;
            WriteSettings(*IniFile, variant_.settings, LiveSettings());
            IniFile->UpdateFile();
        } else {
            platform::TIniFile ini(IniPath());
            WriteSettings(ini, variant_.settings, LiveSettings());
            ini.UpdateFile();
        }
    } catch (const std::exception&) {
    }
}

void TRecoveryFrame::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (shown_) return;
    shown_ = true;
    if (variant_.settingsFirst) LoadSettings();
    ShowContent();
    HexView = CreateHexView(HexPanel);
    HexView->SetAddressColor(FromColorRef(0xFF5356));
    HexView->SetHexDataColor(FromColorRef(0x808080));
    HexView->SetAnsiCharColor(FromColorRef(0x808080));
    HexView->SetData(HexBuffer.data());
    HexView->SetDataSize(static_cast<std::int32_t>(HexBuffer.size()));
    HexView->SetCursorLine(0);
    HexView->SetShowAddress(true);
    if (!History) History = std::make_unique<TRecentFiles>();
    UpdateNavButtons();
    if (variant_.progressShown) {
        // The bar's width by the system's version: 305 pixels from Windows
        // XP (5.1) on, 310 before, as the status bar's themes differ.
        win::OSVERSIONINFOA v{};
        v.dwOSVersionInfoSize = sizeof v;
        const bool xpOrLater = win::GetVersionExA(&v) &&
                               (v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1));
        StatusBar->PlaceOverPanel(ProgressBar1, 1, xpOrLater ? 305 : 310);
    }
    if (!variant_.settingsFirst) LoadSettings();
    Timer1->start();
}

void TRecoveryFrame::closeEvent(QCloseEvent* e) {
    if (Kind() == TFrameKind::Standard) {
        if (Busy && Busy()) {
            e->ignore();
            return;
        }
        FreeEngine();
        e->accept();
        SaveSettings();
        IniFile.reset();
        History.reset();
        return;
    }
    SaveSettings();
    e->accept();
}

bool TRecoveryFrame::event(QEvent* e) {
    // A menu item or button under the mouse sends its status tip here; the
    // main window would show it over the status panels, wiping the scan's
    // progress text, the folder and the item counts while the mouse rests.
    if (e->type() == QEvent::StatusTip) return true;
    return QMainWindow::event(e);
}

void TRecoveryFrame::Timer1Timer() {
    Timer1->stop();  // once, 300 ms after the window was shown
    BlinkDrivePrompt(2);
}

void TRecoveryFrame::BlinkDrivePrompt(int n) {
    for (int i = 0; i < n; ++i) {
        QCoreApplication::processEvents();
        PromptStrip->setText(QString::fromUtf8(kDrivePrompt));
        PromptStrip->repaint();
        Wait(kBlinkMs);
        PromptStrip->clear();
        PromptStrip->repaint();
        Wait(kBlinkMs);
    }
}

void TRecoveryFrame::HelpExecute() { HtmlHelp(this, AppDirectory + "Vantrel.chm", variant_.helpTopic); }

void TRecoveryFrame::CloseExecute() {
    // The standard window's refusal while busy lies in closeEvent, which
    // every way of closing passes.
    close();
}

void TRecoveryFrame::WriteGreeting() {
    // UTF-8, the program's text encoding, which the character column reads:
    // 16 asterisks, the thanks (24 bytes), 14 asterisks, zeros to 64 bytes.
    HexBuffer.fill(0);
    const std::string banner = std::string(16, '*') + "感谢你使用 Vantrel." + std::string(14, '*');
    std::memcpy(HexBuffer.data(), banner.data(), std::min<std::size_t>(banner.size(), 64));
}

void TRecoveryFrame::ClearPreview() {
    ListView2->ClearValues();
    WriteGreeting();
    ResetHexView();
    MessageStrip->clear();
}

void TRecoveryFrame::ResetHexView() {
    if (!HexView) return;
    HexView->WMVScroll(THexDump::sbThumbPosition, 0);
    HexView->viewport()->repaint();
}

QAction* TRecoveryFrame::PopupItem(const QString& name) const { return Named(popupItems_, name); }

QAction* TRecoveryFrame::ToolButton(const QString& action) const { return Named(toolButtons_, action); }

void TRecoveryFrame::BuildPopups() {
    FileListPopup = new QMenu(this);
    FileListPopup->setObjectName(QString::fromLatin1(variant_.fileListPopup));
    auto addItem = [this](const char* name, const char* caption) {
        auto* item = FileListPopup->addAction(QString::fromLatin1(caption));
        item->setObjectName(QString::fromLatin1(name));
        popupItems_[item->objectName()] = item;
        return item;
    };
    connect(addItem("Check1", "Check"), &QAction::triggered, this, [this] { ListView1->CheckSelected(true); });
    connect(addItem("UnCheck1", "Uncheck"), &QAction::triggered, this, [this] { ListView1->CheckSelected(false); });
    connect(addItem("Checkall1", "Check all"), &QAction::triggered, this, [this] { ListView1->CheckAll(true); });
    connect(addItem("Uncheckall1", "Uncheck all"), &QAction::triggered, this, [this] { ListView1->CheckAll(false); });
    FileListPopup->addSeparator();
    FileListPopup->addAction(Action(QStringLiteral("Recover")));
    for (const TPopupItemDef& def : variant_.fileListPopupTail) {
        if (!*def.name) {
            FileListPopup->addSeparator();
            continue;
        }
        QAction* target = *def.action ? Action(QString::fromLatin1(def.action)) : nullptr;
        if (target && QString::fromLatin1(def.name) == target->objectName()) {
            FileListPopup->addAction(target);
            continue;
        }
        QAction* item = addItem(def.name, def.caption);
        if (target) RunsAction(item, target);
    }
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { FileListPopup->popup(ListView1->viewport()->mapToGlobal(p)); });

    PopupMenu5 = new QMenu(this);
    PopupMenu5->setObjectName(QStringLiteral("PopupMenu5"));
    QAction* clear = PopupMenu5->addAction(QStringLiteral("Clear Logs"));
    clear->setObjectName(QStringLiteral("ClearLogs1"));
    connect(clear, &QAction::triggered, this, &TRecoveryFrame::ClearLogs1Click);
    ListView3->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView3, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu5->popup(ListView3->viewport()->mapToGlobal(p)); });
}

void TRecoveryFrame::TabSet1Click() {
    MessageStrip->clear();
    const int page = TabSet1->currentIndex();
    Notebook1->setCurrentIndex(page);
    switch (page) {
    case 2: SearchPage->Reset(); break;
    case 0:
    case 1: ListView1Click(nullptr); break;
    default: break;
    }
}

void TRecoveryFrame::GoTo(bool forward) {
    if (RowsLocked() || !History || !(forward ? History->CanForward : History->CanBack)) return;
    std::int32_t position = -1;
    if (forward) History->Forward(position);
    else History->Back(position);
    if (position > 0)
        if (QTreeWidgetItem* node = NodeAt(TreeView1, position)) ShowHistoryNode(node);
    UpdateNavButtons();
}

void TRecoveryFrame::BackExecute() { GoTo(false); }
void TRecoveryFrame::ForwardExecute() { GoTo(true); }

void TRecoveryFrame::UpdateNavButtons() {
    // The buttons, not the actions: the menu-less actions stay enabled.
    if (QAction* back = ToolButton(QString::fromLatin1(variant_.backAction))) back->setEnabled(History && History->CanBack);
    if (QAction* fwd = ToolButton(QString::fromLatin1(variant_.forwardAction)))
        fwd->setEnabled(History && History->CanForward);
}

void TRecoveryFrame::ClearLogs1Click() { ListView3->Clear(); }

int TRecoveryFrame::AbsoluteIndex(const QTreeWidgetItem* node) {
    if (!node || !node->treeWidget()) return -1;
    // Nodes before it: every earlier sibling with all its descendants, and
    // each ancestor itself, level by level.
    const std::function<int(const QTreeWidgetItem*)> subtree = [&](const QTreeWidgetItem* n) {
        int count = 1;
        for (int i = 0; i < n->childCount(); ++i) count += subtree(n->child(i));
        return count;
    };
    int index = 0;
    for (const QTreeWidgetItem* n = node; n; n = n->parent()) {
        const QTreeWidgetItem* parent = n->parent();
        const int row = parent ? parent->indexOfChild(const_cast<QTreeWidgetItem*>(n))
                               : n->treeWidget()->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(n));
        for (int i = 0; i < row; ++i) index += subtree(parent ? parent->child(i) : n->treeWidget()->topLevelItem(i));
        if (parent) index += 1;
    }
    return index;
}

QTreeWidgetItem* TRecoveryFrame::NodeAt(QTreeWidget* tree, int absoluteIndex) {
    if (!tree || absoluteIndex < 0) return nullptr;
    int left = absoluteIndex;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if (left-- == 0) return *it;
    return nullptr;
}

}  // namespace ui
