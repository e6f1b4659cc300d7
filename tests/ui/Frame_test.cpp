// The recovery windows' frame: both variants' parts, the settings read on
// showing and written on closing, the splitters, the prompt blink and help.
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSplitterHandle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <fstream>

#include "DiskParam.h"
#include "HtmlHelp.h"
#include "RecoveryFrame.h"
#include "UiTestSupport.h"

using ui::TFrameKind;
using ui::TRecoveryFrame;

namespace {

QStringList ToolBarTexts(const TRecoveryFrame& f, const char* name, bool hints = false) {
    QStringList out;
    auto* bar = f.findChild<QToolBar*>(QString::fromLatin1(name));
    if (!bar) return {QStringLiteral("<no toolbar>")};
    for (QAction* a : bar->actions())
        if (!a->isSeparator()) out << (hints ? a->toolTip() : a->text());
    return out;
}

void WriteFile(const QString& path, const std::string& text) {
    std::ofstream(path.toStdString(), std::ios::binary) << text;
}

struct Shown {
    std::unique_ptr<TRecoveryFrame> frame;
    Shown(TFrameKind kind, const QString& dir, int screenWidth) : frame(std::make_unique<TRecoveryFrame>(kind)) {
        frame->AppDirectory = dir.toStdString() + "/";
        frame->ScreenWidthOverride = screenWidth;
        frame->Wait = [](int) {};
        frame->IniFile = std::make_unique<platform::TIniFile>(frame->AppDirectory + frame->Variant().iniFile);
        frame->show();
        if (!QTest::qWaitForWindowExposed(frame.get())) qWarning("window not exposed");
    }
};

// A window that records what the frame asks of it.
class Recording : public TRecoveryFrame {
public:
    using TRecoveryFrame::TRecoveryFrame;
    std::vector<QTreeWidgetItem*> shown;
    int rowClicks = 0;

protected:
    void ShowHistoryNode(QTreeWidgetItem* node) override {
        const QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(node);
        shown.push_back(node);
    }
    void ListView1Click(QObject* sender) override {
        QVERIFY(!sender);
        ++rowClicks;
    }
};

// The rows of a test that runs in either window.
void BothWindows() {
    QTest::addColumn<int>("kind");
    QTest::newRow("standard") << int(TFrameKind::Standard);
    QTest::newRow("advanced") << int(TFrameKind::Advanced);
}

}  // namespace

class Frame : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { vt::uitest::CloseModalWindows(); }

    void StandardVariantHasItsParts() {
        TRecoveryFrame f(TFrameKind::Standard);
        QCOMPARE(f.windowTitle(), QStringLiteral("Vantrel - Standard Recovery"));
        QVERIFY(f.windowState() & Qt::WindowMaximized);
        for (const char* name : {"Panel2", "Splitter2", "Panel3", "Panel4", "Treeview2", "Splitter3", "Panel18",
                                 "Panel19", "Panel20", "StatusBar1", "ToolBar1", "ToolBar3", "TreeView1", "ListView1",
                                 "ListView2", "ListView3", "Notebook1", "TabSet1", "ProgressBar1", "Timer1"})
            QVERIFY2(f.findChild<QObject*>(QString::fromLatin1(name)), name);
        QCOMPARE(ToolBarTexts(f, "ToolBar1"), QStringList({"Re-scan", "Stop", "Recover", "Scan32", "Up", "Back",
                                                           "Forward"}));
        QCOMPARE(ToolBarTexts(f, "ToolBar1", true),
                 QStringList({"Scan drive to retrieve lost files", "Stop current process", "Recover checked files",
                              "Scan damaged directory to retrieve files", "Up", "Back", "Forward"}));
        QCOMPARE(f.StatusBar->PanelCount(), 3);
        QCOMPARE(f.StatusBar->Panel(0)->width(), 92);
        QCOMPARE(f.StatusBar->Panel(0)->text(), QStringLiteral(" Directory"));
        QCOMPARE(f.StatusBar->Panel(1)->width(), 280);
        QCOMPARE(f.StatusBar->Panel(2)->minimumWidth(), 300);
        QVERIFY(f.ProgressBar1->isHidden());
        QCOMPARE(f.ProgressBar1->parentWidget(), f.StatusBar);
        QCOMPARE(f.Action(QStringLiteral("help"))->shortcut(), QKeySequence(Qt::Key_F1));
        QCOMPARE(f.Action(QStringLiteral("acClose"))->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
        QCOMPARE(f.ScanResultsNode->text(0), QStringLiteral("Scan Results"));
        QCOMPARE(f.FindResultsNode->text(0), QStringLiteral("Find Results"));
        QCOMPARE(f.MyComputerNode->text(0), QStringLiteral("My Computer"));
        QCOMPARE(f.TabSet1->count(), 4);
        QCOMPARE(f.TabSet1->tabText(3), QStringLiteral("  Application Log  "));
        QCOMPARE(f.ListView1->ColumnCaption(2), QStringLiteral("Status"));
        QVERIFY(f.History);  // made with the window
    }

    void AdvancedVariantHasItsParts() {
        QTemporaryDir dir;
        Shown s(TFrameKind::Advanced, dir.path(), 1280);
        TRecoveryFrame& f = *s.frame;
        QCOMPARE(f.windowTitle(), QStringLiteral("Vantrel - Advanced Recovery"));
        for (const char* name : {"Panel4", "Splitter3", "Panel8", "Panel9", "TreeView2", "Splitter2", "Panel3",
                                 "Panel5", "Panel7", "Panel10", "StatusBarEx1", "RadioButton1", "RadioButton2"})
            QVERIFY2(f.findChild<QObject*>(QString::fromLatin1(name)), name);
        QCOMPARE(ToolBarTexts(f, "ToolBar3"),
                 QStringList({"Re-scan", "SmartScan", "Stop", "Recover", "Back", "Foreward"}));
        QCOMPARE(f.Action(QStringLiteral("Forward"))->text(), QStringLiteral("Fore"));
        QCOMPARE(f.RadioButton1->text(), QStringLiteral("0 FAT Entry(ies) Found"));
        QCOMPARE(f.RadioButton2->text(), QStringLiteral("0 NTFS Entry(ies) Found"));
        QCOMPARE(f.FsSelector->toolTip(), QStringLiteral("File System Selector"));
        QCOMPARE(f.StatusBar->Panel(0)->width(), 147);
        QCOMPARE(f.StatusBar->Panel(1)->width(), 312);
        // The last panel is at least as wide and reaches the right edge, so
        // the item counts there are read whole.
        QVERIFY(f.StatusBar->Panel(2)->width() >= 50);
        QVERIFY(f.StatusBar->Panel(2)->geometry().right() >= f.StatusBar->width() - 40);
        QVERIFY(!f.ProgressBar1->isHidden());
        QCOMPARE(f.ProgressBar1->width(), 305);  // the default machine is Windows XP
        QCOMPARE(f.ProgressBar1->geometry().topLeft(), f.StatusBar->Panel(1)->geometry().topLeft());
        QVERIFY(f.History);  // made when shown
        QVERIFY(f.HexView);
        QCOMPARE(f.HexView->DataSize, 2048);
        QCOMPARE(f.HexView->GetColors(0), QColor(0x56, 0x53, 0xFF));
        QVERIFY(f.OptionItem(QStringLiteral("Showntfolder"))->isChecked());
    }

    void ToolbarHintsAreTooltipsAndLeaveTheStatusPanels_data() {
        BothWindows();
    }
    void ToolbarHintsAreTooltipsAndLeaveTheStatusPanels() {
        QFETCH(int, kind);
        QTemporaryDir dir;
        Shown s(static_cast<TFrameKind>(kind), dir.path(), 1280);
        TRecoveryFrame& f = *s.frame;
        f.activateWindow();  // tooltips come up over the active window
        QVERIFY(QTest::qWaitForWindowActive(&f));
        const QStringList texts{QString::fromUtf8(" 正在扫描 ..."), QStringLiteral("C:\\Docs"),
                                QStringLiteral("3 Files, 1 Folders")};
        for (int i = 0; i < 3; ++i) f.StatusBar->Panel(i)->setText(texts[i]);
        auto panelsIntact = [&](const QString& where) {
            QVERIFY2(f.StatusBar->currentMessage().isEmpty(), qPrintable(where));
            for (int i = 0; i < 3; ++i) {
                QVERIFY2(f.StatusBar->Panel(i)->isVisible(), qPrintable(where));
                QCOMPARE(f.StatusBar->Panel(i)->text(), texts[i]);
            }
        };
        auto* bar = f.findChild<QToolBar*>(QString::fromLatin1(f.Variant().actionToolBar));
        bool tipSeen = false;
        for (const ui::TToolButtonDef& def : f.Variant().toolButtons) {
            if (!*def.action) continue;
            QWidget* button = bar->widgetForAction(f.ToolButton(QString::fromLatin1(def.action)));
            QVERIFY(button);
            QTest::mouseMove(button, button->rect().center());
            QCoreApplication::processEvents();
            panelsIntact(QString::fromLatin1(def.caption));
            if (!*def.hint) continue;
            QCOMPARE(button->toolTip(), QString::fromLatin1(def.hint));
            if (!tipSeen) {
                // The hint comes up as a tooltip while the mouse rests.
                QTRY_VERIFY(QToolTip::isVisible());
                QCOMPARE(QToolTip::text(), QString::fromLatin1(def.hint));
                panelsIntact(QStringLiteral("tooltip shown"));
                tipSeen = true;
            }
        }
        // The items of the File menu pass their (empty) tips too.
        auto* menuBar = f.findChild<QToolBar*>(QString::fromLatin1(f.Variant().menuToolBar));
        auto* fileButton = qobject_cast<QToolButton*>(menuBar->widgetForAction(menuBar->actions().value(0)));
        QVERIFY(fileButton && fileButton->menu());
        QVERIFY(vt::uitest::HoverMenuItems(fileButton->menu(), &f));
        panelsIntact(QStringLiteral("File menu"));
        fileButton->menu()->close();
    }

    void ShowingReadsSettingsWithScreenDefaults() {
        QTemporaryDir dir;
        WriteFile(dir.filePath(QStringLiteral("Vantrel.ini")), "[Lv1]\r\nwp0=123\r\nwp1=x\r\n[Options]\r\nOpenDestDir=0\r\n");
        Shown s(TFrameKind::Standard, dir.path(), 800);
        TRecoveryFrame& f = *s.frame;
        QCOMPARE(f.ListView1->columnWidth(0), 123);
        QCOMPARE(f.ListView1->columnWidth(1), 75);
        QCOMPARE(f.ListView2->columnWidth(1), 465);
        QCOMPARE(f.ListView3->columnWidth(0), 350);
        QCOMPARE(f.LeftPaneWidth(), 180);
        QCOMPARE(f.DrivePaneHeight(), 190);
        QCOMPARE(f.LowerPaneHeight(), 190);
        QVERIFY(!f.OpenDestDir());
    }

    void DamagedSizesReadAsTheDefaultsAndAreWrittenBackWhole_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QList<int>>("defaults");
        QTest::newRow("advanced: negative pane width and column, zero pane height, a column wider than the screen")
            << int(TFrameKind::Advanced) << "advrec.ini"
            << "[Layout]\r\nP4W=-5000\r\nP8H=0\r\nCol0W=-3\r\nLv2Col1W=99999\r\n" << "Layout"
            << QStringList{"P4W", "P8H", "Col0W", "Lv2Col1W"} << QList<int>{255, 250, 200, 810};
        QTest::newRow("standard: negative width and column, a pane higher than the screen")
            << int(TFrameKind::Standard) << "Vantrel.ini"
            << "[Lv1]\r\nwp0=-3\r\n[Partition List]\r\nWidth=-1\r\nHeight=5000\r\n" << "Partition List"
            << QStringList{"Width", "Height"} << QList<int>{260, 250};
    }
    void DamagedSizesReadAsTheDefaultsAndAreWrittenBackWhole() {
        QFETCH(int, kind);
        QFETCH(QString, file);
        QFETCH(QString, text);
        QFETCH(QString, section);
        QFETCH(QStringList, keys);
        QFETCH(QList<int>, defaults);
        QTemporaryDir dir;
        WriteFile(dir.filePath(file), text.toStdString());
        {
            Shown s(static_cast<TFrameKind>(kind), dir.path(), 1280);
            TRecoveryFrame& f = *s.frame;
            QCOMPARE(f.LeftPaneWidth(), kind == int(TFrameKind::Advanced) ? 255 : 260);
            QCOMPARE(f.DrivePaneHeight(), 250);
            QCOMPARE(f.LowerPaneHeight(), 250);
            QCOMPARE(f.ListView1->columnWidth(0), kind == int(TFrameKind::Advanced) ? 200 : 250);
            QVERIFY(f.close());
        }
        const platform::TIniFile back(dir.filePath(file).toStdString());
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(back.ReadInteger(section.toStdString(), keys[i].toStdString(), -1), defaults[i]);
        QCOMPARE(back.ReadInteger(kind == int(TFrameKind::Advanced) ? "Layout" : "Lv1",
                                  kind == int(TFrameKind::Advanced) ? "Col0W" : "wp0", -1),
                 kind == int(TFrameKind::Advanced) ? 200 : 250);
    }

    void BothPanesKeepTheHeightReadWhenTheWindowGrows_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");
        QTest::newRow("advanced") << int(TFrameKind::Advanced) << "advrec.ini" << "[Layout]\r\nP8H=477\r\n";
        QTest::newRow("standard") << int(TFrameKind::Standard) << "Vantrel.ini" << "[Partition List]\r\nHeight=477\r\n";
    }
    void BothPanesKeepTheHeightReadWhenTheWindowGrows() {
        QFETCH(int, kind);
        QFETCH(QString, file);
        QFETCH(QString, text);
        QTemporaryDir dir;
        WriteFile(dir.filePath(file), text.toStdString());
        // The settings are read at the design size; the window is maximised
        // after that.
        Shown s(static_cast<TFrameKind>(kind), dir.path(), 1280);
        TRecoveryFrame& f = *s.frame;
        QTRY_VERIFY(f.height() > 700);
        QCOMPARE(f.DrivePaneHeight(), 477);
        QCOMPARE(f.LowerPaneHeight(), 477);
        // Too small a window for them: equal all the same; back to its size,
        // the height read again.
        f.showNormal();
        f.resize(798, 568);
        QTRY_COMPARE(f.height(), 568);
        QCOMPARE(f.DrivePaneHeight(), f.LowerPaneHeight());
        QVERIFY(f.DrivePaneHeight() < 477);
        f.resize(900, 790);
        QTRY_COMPARE(f.height(), 790);
        QCOMPARE(f.DrivePaneHeight(), 477);
        QCOMPARE(f.LowerPaneHeight(), 477);
        QVERIFY(f.close());
        const platform::TIniFile back(dir.filePath(file).toStdString());
        QCOMPARE(back.ReadInteger(kind == int(TFrameKind::Advanced) ? "Layout" : "Partition List",
                                  kind == int(TFrameKind::Advanced) ? "P8H" : "Height", -1),
                 477);
    }

    void ClosingWritesSettingsUnlessBusy() {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("Vantrel.ini"));
        Shown s(TFrameKind::Standard, dir.path(), 1024);
        TRecoveryFrame& f = *s.frame;
        bool busy = true;
        f.Busy = [&] { return busy; };
        f.Action(QStringLiteral("acClose"))->trigger();
        QVERIFY(f.isVisible());
        QVERIFY(!QFile::exists(ini));
        QVERIFY(!f.close());
        busy = false;
        f.ListView1->setColumnWidth(0, 222);
        f.Action(QStringLiteral("acClose"))->trigger();
        QVERIFY(!f.isVisible());
        QVERIFY(!f.IniFile);
        QVERIFY(!f.History);
        const platform::TIniFile back(ini.toStdString());
        QCOMPARE(back.ReadInteger("Lv1", "wp0", 0), 222);
        QCOMPARE(back.ReadInteger("Partition List", "Width", 0), 225);
        QCOMPARE(back.ReadString("Options", "OpenDestDir", ""), std::string("1"));
    }

    void AdvancedWritesOnCloseAndIgnoresErrors() {
        QTemporaryDir dir;
        {
            Shown s(TFrameKind::Advanced, dir.path(), 1024);
            s.frame->OptionItem(QStringLiteral("OpenDir"))->setChecked(false);
            QVERIFY(s.frame->close());
        }
        const platform::TIniFile back(dir.filePath(QStringLiteral("advrec.ini")).toStdString());
        QCOMPARE(back.ReadInteger("Layout", "P4W", 0), 230);
        QCOMPARE(back.ReadInteger("Layout", "Lv2Col1W", 0), 600);
        QCOMPARE(back.ReadString("Options", "OpenDestDir", ""), std::string("0"));
        QCOMPARE(back.ReadString("Options", "ShowNTFolder", ""), std::string("1"));
        // A folder that cannot be written: the window closes all the same.
        Shown bad(TFrameKind::Advanced, QStringLiteral("/proc/no-such-folder"), 1024);
        QVERIFY(bad.frame->close());
    }

    // Run as root in a user's checkout, the window finds a link at its
    // settings' name: it closes, saves nothing that run, and the link and
    // the file it names are as they were.
    void ALinkAtTheSettingsNameIsLeftAsItWas_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("file");
        QTest::newRow("advanced") << int(TFrameKind::Advanced) << "advrec.ini";
        QTest::newRow("standard") << int(TFrameKind::Standard) << "Vantrel.ini";
    }
    void ALinkAtTheSettingsNameIsLeftAsItWas() {
        QFETCH(int, kind);
        QFETCH(QString, file);
        QTemporaryDir dir, outside;
        const QString victim = outside.filePath(QStringLiteral("victim"));
        WriteFile(victim, "not settings\n");
        QVERIFY(QFile::link(victim, dir.filePath(file)));
        {
            Shown s(static_cast<TFrameKind>(kind), dir.path(), 1024);
            s.frame->ListView1->setColumnWidth(0, 222);
            QVERIFY(s.frame->close());
        }
        QCOMPARE(QFileInfo(dir.filePath(file)).symLinkTarget(), victim);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{file});
        QFile in(victim);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), QByteArray("not settings\n"));
    }

    void EitherSplitterKeepsBothLowerPanesEquallyHigh() {
        QTemporaryDir dir;
        Shown s(TFrameKind::Standard, dir.path(), 1280);
        TRecoveryFrame& f = *s.frame;
        for (QSplitter* splitter : {f.LeftSplitter, f.RightSplitter}) {
            QSplitterHandle* handle = splitter->handle(1);
            const QPoint start(handle->width() / 2, handle->height() / 2);
            QTest::mousePress(handle, Qt::LeftButton, {}, start);
            QTest::mouseMove(handle, start + QPoint(0, -37));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, start + QPoint(0, -37));
            QCOMPARE(f.DrivePaneHeight(), f.LowerPaneHeight());
        }
        QVERIFY(f.DrivePaneHeight() > 250);
    }

    void PromptBlinksTwiceAfterShowing() {
        QTemporaryDir dir;
        auto f = std::make_unique<TRecoveryFrame>(TFrameKind::Advanced);
        f->AppDirectory = dir.path().toStdString() + "/";
        QStringList seen;
        f->Wait = [&](int ms) {
            QCOMPARE(ms, 300);
            seen << f->PromptStrip->text();
        };
        QVERIFY(!f->Timer1->isActive());
        f->show();
        QVERIFY(f->Timer1->isActive());
        QCOMPARE(f->Timer1->interval(), 300);
        QTRY_COMPARE(seen.size(), 4);
        const QString prompt = QStringLiteral(" 请选择一个驱动器扫描。");
        QCOMPARE(seen, QStringList({prompt, QString(), prompt, QString()}));
        QVERIFY(!f->Timer1->isActive());
        QVERIFY(f->PromptStrip->text().isEmpty());
        f->BlinkDrivePrompt(3);
        QCOMPARE(seen.size(), 10);
    }

    void HelpOpensTheWindowsTopic_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("topic");
        QTest::newRow("standard") << int(TFrameKind::Standard) << "StdRecovery.htm";
        QTest::newRow("advanced") << int(TFrameKind::Advanced) << "AdvRecovery.htm";
    }
    void HelpOpensTheWindowsTopic() {
        QFETCH(int, kind);
        QFETCH(QString, topic);
        TRecoveryFrame f(static_cast<TFrameKind>(kind));
        f.AppDirectory = VT_HELP_DIR;
        f.Wait = [](int) {};
        f.Action(QString::fromLatin1(f.Variant().helpAction))->trigger();
        auto* viewer = f.findChild<ui::THelpViewer*>();
        QVERIFY(viewer);
        QCOMPARE(viewer->Browser()->source().path(), topic);
        QVERIFY(!viewer->Browser()->toPlainText().isEmpty());
        viewer->close();
    }

    void BackAndForwardWalkTheHistory_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("back");
        QTest::newRow("standard") << int(TFrameKind::Standard) << "Back";
        QTest::newRow("advanced") << int(TFrameKind::Advanced) << "Backward";
    }
    void BackAndForwardWalkTheHistory() {
        QFETCH(int, kind);
        QFETCH(QString, back);
        QTemporaryDir dir;
        Recording f(static_cast<TFrameKind>(kind));
        f.AppDirectory = dir.path().toStdString() + "/";
        f.Wait = [](int) {};
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QAction* backButton = f.ToolButton(back);
        QAction* forwardButton = f.ToolButton(QStringLiteral("Forward"));
        QVERIFY(backButton && forwardButton);
        QVERIFY(!backButton->isEnabled());  // both start disabled
        QVERIFY(!forwardButton->isEnabled());

        std::map<char, QTreeWidgetItem*> node;
        for (char c : {'A', 'B', 'C', 'D'})
            node[c] = new QTreeWidgetItem(f.ScanResultsNode, QStringList(QString(QLatin1Char(c))));
        auto visit = [&](char c) {
            f.History->Add(TRecoveryFrame::AbsoluteIndex(node[c]));
            f.UpdateNavButtons();
        };
        visit('A');
        visit('B');
        visit('C');
        f.Action(back)->trigger();
        QCOMPARE(f.shown.back(), node['B']);
        QVERIFY(backButton->isEnabled() && forwardButton->isEnabled());
        f.Action(back)->trigger();
        QCOMPARE(f.shown.back(), node['A']);
        QVERIFY(!backButton->isEnabled());
        QVERIFY(f.Action(back)->isEnabled());  // the buttons change, not the actions
        f.Action(back)->trigger();             // at the start: nothing
        QCOMPARE(f.shown.size(), std::size_t(2));
        f.Action(QStringLiteral("Forward"))->trigger();
        QCOMPARE(f.shown.back(), node['B']);
        visit('D');
        QVERIFY(!forwardButton->isEnabled());
        QVERIFY(backButton->isEnabled());
        QCOMPARE(f.History->Items.size(), std::size_t(4));
    }

    void PositionsCountEveryNodeInTreeOrder() {
        QTreeWidget tree;
        auto* a = new QTreeWidgetItem(&tree, QStringList(QStringLiteral("a")));
        auto* a1 = new QTreeWidgetItem(a, QStringList(QStringLiteral("a1")));
        auto* a11 = new QTreeWidgetItem(a1, QStringList(QStringLiteral("a11")));
        auto* a2 = new QTreeWidgetItem(a, QStringList(QStringLiteral("a2")));
        auto* b = new QTreeWidgetItem(&tree, QStringList(QStringLiteral("b")));  // collapsed nodes count too
        const std::vector<QTreeWidgetItem*> order{a, a1, a11, a2, b};
        for (std::size_t i = 0; i < order.size(); ++i) {
            QCOMPARE(TRecoveryFrame::AbsoluteIndex(order[i]), int(i));
            QCOMPARE(TRecoveryFrame::NodeAt(&tree, int(i)), order[i]);
        }
        QVERIFY(!TRecoveryFrame::NodeAt(&tree, 5));
        QVERIFY(!TRecoveryFrame::NodeAt(&tree, -1));
    }

    void TabSetShowsThePagesAndPreparesThem() {
        Recording f(TFrameKind::Standard);
        QCOMPARE(f.Notebook1->count(), 4);
        const QStringList names{"Property", "HexView", "Search", "Event Log"};
        for (int i = 0; i < 4; ++i) QCOMPARE(f.Notebook1->widget(i)->objectName(), names[i]);
        QCOMPARE(f.HexPanel->objectName(), QStringLiteral("Panel21"));
        f.SearchPage->Today = [] { return QDate(2024, 3, 1); };
        f.SearchPage->ComboBox1->setCurrentIndex(1);
        f.SearchPage->ComboBox3->setCurrentIndex(4);
        f.MessageStrip->setText(QStringLiteral("hint"));
        f.TabSet1->setCurrentIndex(2);
        QCOMPARE(f.Notebook1->currentIndex(), 2);
        QCOMPARE(f.MessageStrip->text(), QString());
        QCOMPARE(f.SearchPage->ComboBox1->currentIndex(), 0);
        QCOMPARE(f.SearchPage->ComboBox3->currentIndex(), 0);
        QVERIFY(!f.SearchPage->DateTimePicker2->isEnabled());
        QCOMPARE(f.SearchPage->DateTimePicker2->date(), QDate(2024, 3, 1));
        QCOMPARE(f.rowClicks, 0);
        f.TabSet1->setCurrentIndex(1);  // hex view: the row is shown again
        QCOMPARE(f.rowClicks, 1);
        f.TabSet1->setCurrentIndex(3);  // the log needs nothing
        QCOMPARE(f.rowClicks, 1);
        f.TabSet1->setCurrentIndex(0);
        QCOMPARE(f.rowClicks, 2);
        QCOMPARE(f.Notebook1->currentIndex(), 0);
    }

    void FileListPopupOfBothWindows_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("standard") << int(TFrameKind::Standard) << "PopupMenu1"
                                  << QStringList{"Check", "Uncheck", "Check all", "Uncheck all", "-", "Recover", "-",
                                                 "Scan32", "Open parent directory"};
        QTest::newRow("advanced") << int(TFrameKind::Advanced) << "PopupMenu2"
                                  << QStringList{"Check", "Uncheck", "Check all", "Uncheck all", "-", "Recover",
                                                 "Open parent directory"};
    }
    void FileListPopupOfBothWindows() {
        QFETCH(int, kind);
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        TRecoveryFrame f(static_cast<TFrameKind>(kind));
        QCOMPARE(f.FileListPopup->objectName(), name);
        QStringList texts;
        for (QAction* a : f.FileListPopup->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(texts, items);
        if (f.Kind() == TFrameKind::Advanced) {
            // The item runs the go-to-parent action.
            int ran = 0;
            connect(f.Action(QStringLiteral("acToParent")), &QAction::triggered, this, [&] { ++ran; });
            f.PopupItem(QStringLiteral("Openparentdirectory1"))->trigger();
            QCOMPARE(ran, 1);
        }
    }

    void LogRowsAddedOnAnotherPageAreInViewWhenTheLogIsShown_data() {
        BothWindows();
    }
    void LogRowsAddedOnAnotherPageAreInViewWhenTheLogIsShown() {
        QFETCH(int, kind);
        QTemporaryDir dir;
        Shown s(static_cast<TFrameKind>(kind), dir.path(), 1280);
        TRecoveryFrame& f = *s.frame;
        QCOMPARE(f.TabSet1->currentIndex(), 0);
        // A recovery's lines, logged while the properties page is shown.
        for (int i = 0; i < 60; ++i) AddLogEvent(f.ListView3, "无法恢复文件 " + std::to_string(i), 2);
        AddLogEvent(f.ListView3, "恢复完成。", 0);
        QTest::mouseClick(f.TabSet1, Qt::LeftButton, {}, f.TabSet1->tabRect(3).center());
        QCOMPARE(f.Notebook1->currentWidget(), f.LogPage);
        QTreeWidgetItem* last = f.ListView3->topLevelItem(f.ListView3->Count() - 1);
        QCOMPARE(last->text(0), QString::fromUtf8("恢复完成。"));
        QTRY_VERIFY(f.ListView3->viewport()->rect().contains(f.ListView3->visualItemRect(last)));
        QVERIFY(!f.ListView3->viewport()->rect().intersects(f.ListView3->visualItemRect(f.ListView3->topLevelItem(0))));
    }

    void PopupCheckCommandsAndClearLogs() {
        TRecoveryFrame f(TFrameKind::Standard);
        TMidEntry entries[5];
        for (auto& e : entries) f.ListView1->AddRow(&e, 3, {QStringLiteral("f"), {}, {}, {}, {}});
        f.PopupItem(QStringLiteral("Checkall1"))->trigger();
        for (int i : {1, 2, 4}) f.ListView1->SetSelected(i, true);
        f.PopupItem(QStringLiteral("UnCheck1"))->trigger();
        QCOMPARE(f.ListView1->CheckedRows(), (std::vector<int>{0, 3}));
        f.PopupItem(QStringLiteral("Check1"))->trigger();
        QCOMPARE(f.ListView1->CheckedRows().size(), std::size_t(5));
        f.PopupItem(QStringLiteral("Uncheckall1"))->trigger();
        QVERIFY(f.ListView1->CheckedRows().empty());

        AddLogEvent(f.ListView3, "one", 0);
        AddLogEvent(f.ListView3, "two", 2);
        QCOMPARE(f.ListView3->Count(), 2);
        QAction* clear = f.PopupMenu5->actions().value(0);
        QCOMPARE(clear->objectName(), QStringLiteral("ClearLogs1"));
        QCOMPARE(clear->text(), QStringLiteral("Clear Logs"));
        clear->trigger();
        QCOMPARE(f.ListView3->Count(), 0);
    }

    void EnterInTheNameFieldFindsInTheAdvancedWindowOnly_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("finds");
        QTest::newRow("standard") << int(TFrameKind::Standard) << 0;
        QTest::newRow("advanced") << int(TFrameKind::Advanced) << 1;
    }
    void EnterInTheNameFieldFindsInTheAdvancedWindowOnly() {
        QFETCH(int, kind);
        QFETCH(int, finds);
        TRecoveryFrame f(static_cast<TFrameKind>(kind));
        int clicked = 0;
        connect(f.SearchPage->Button1, &QPushButton::clicked, this, [&] { ++clicked; });
        QTest::keyClick(f.SearchPage->Edit1, Qt::Key_Return);
        QCOMPARE(clicked, finds);
    }

    void OptionItemsToggleTheirCheckMark_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("item");
        QTest::newRow("standard N4") << int(TFrameKind::Standard) << "N4";
        QTest::newRow("advanced OpenDir") << int(TFrameKind::Advanced) << "OpenDir";
        QTest::newRow("advanced Showntfolder") << int(TFrameKind::Advanced) << "Showntfolder";
    }
    void OptionItemsToggleTheirCheckMark() {
        QFETCH(int, kind);
        QFETCH(QString, item);
        TRecoveryFrame f(static_cast<TFrameKind>(kind));
        QAction* option = f.OptionItem(item);
        const bool before = option->isChecked();
        option->trigger();
        QCOMPARE(option->isChecked(), !before);
        option->trigger();
        QCOMPARE(option->isChecked(), before);
    }

    void SelectedTreeNodesAreDrawnByTheWindowsRules_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("folderRootPlain");
        QTest::newRow("standard: folder tree's first node highlighted") << int(TFrameKind::Standard) << false;
        QTest::newRow("advanced: first nodes of both trees plain") << int(TFrameKind::Advanced) << true;
    }
    void SelectedTreeNodesAreDrawnByTheWindowsRules() {
        QFETCH(int, kind);
        QFETCH(bool, folderRootPlain);
        TRecoveryFrame f(static_cast<TFrameKind>(kind));
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        auto colourOf = [](QTreeWidget* tree, QTreeWidgetItem* node) {
            tree->setCurrentItem(node);
            const QImage img = tree->viewport()->grab().toImage();
            const QRect rect = tree->visualItemRect(node);
            return QColor(img.pixel(rect.right() - 2, rect.center().y()));
        };
        const QColor yellow(255, 255, 208);
        QCOMPARE(colourOf(f.TreeView1, f.FindResultsNode), yellow);
        QCOMPARE(colourOf(f.TreeView1, f.ScanResultsNode), folderRootPlain ? QColor(Qt::white) : yellow);
        QCOMPARE(colourOf(f.DriveTree, f.MyComputerNode), QColor(Qt::white));
    }

    void ASelectedNodeChosenWithTheKeysIsFlatLightYellow_data() {
        BothWindows();
    }
    void ASelectedNodeChosenWithTheKeysIsFlatLightYellow() {
        QFETCH(int, kind);
        QTemporaryDir dir;
        Shown s(static_cast<TFrameKind>(kind), dir.path(), 1280);
        TRecoveryFrame& f = *s.frame;
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        auto offColours = [&](QTreeWidget* tree, QTreeWidgetItem* node) {
            const QImage img = tree->viewport()->grab().toImage();
            const QRect rect = tree->visualItemRect(node);
            int off = 0;
            for (int y = rect.top(); y <= rect.bottom(); ++y)
                for (int x = rect.right() - 6; x < rect.right(); ++x)
                    off += QColor(img.pixel(x, y)) != QColor(255, 255, 208);
            for (int x = rect.center().x(); x < rect.right(); ++x)
                off += (QColor(img.pixel(x, rect.top())) != QColor(255, 255, 208)) +
                       (QColor(img.pixel(x, rect.bottom())) != QColor(255, 255, 208));
            return off;
        };
        // The folder tree: a click on "Scan Results", then Down to "Find
        // Results", which both windows highlight.
        QTest::mouseClick(f.TreeView1->viewport(), Qt::LeftButton, {},
                          f.TreeView1->visualItemRect(f.ScanResultsNode).center());
        QTest::keyClick(f.TreeView1, Qt::Key_Down);
        QVERIFY(f.TreeView1->hasFocus());
        QCOMPARE(f.TreeView1->currentItem(), f.FindResultsNode);
        QCOMPARE(offColours(f.TreeView1, f.FindResultsNode), 0);
        f.ListView1->setFocus();
        QCOMPARE(offColours(f.TreeView1, f.FindResultsNode), 0);
    }
};

QTEST_MAIN(Frame)
#include "Frame_test.moc"
