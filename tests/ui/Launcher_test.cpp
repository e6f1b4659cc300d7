// The launcher: its layout and texts, and that each button creates a fresh
// modal window, shows it and frees it when it closes.
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTest>

#include "UiTestSupport.h"
#include "WindowFactory.h"
#include "about.h"
#include "main.h"

namespace {

// Stand-ins for tool windows: a dialog, and a main window (the recovery
// windows' kind), each counting its lives.
int g_created = 0;
int g_destroyed = 0;
bool g_launcherDisabled = false;

class TTestDialog : public QDialog {
public:
    TTestDialog() { ++g_created; }
    ~TTestDialog() override { ++g_destroyed; }
    int scans = 0;  // state of a window: a new one starts at zero
};

class TTestMainWindow : public QMainWindow {
public:
    TTestMainWindow() { ++g_created; }
    ~TTestMainWindow() override { ++g_destroyed; }
};

}  // namespace

class Launcher : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmVtMain> launcher_;

private slots:
    void init() {
        g_created = g_destroyed = 0;
        launcher_ = std::make_unique<TfrmVtMain>();
        launcher_->show();
        QVERIFY(QTest::qWaitForWindowExposed(launcher_.get()));
    }
    void cleanup() {
        vt::uitest::CloseModalWindows();
        launcher_.reset();
        for (auto tool : {ui::TTool::StandardRecovery, ui::TTool::AdvancedRecovery, ui::TTool::HealthDiagnosis})
            ui::RegisterToolWindow(tool, {});
    }

    void HasItsSizeBannerAndButtons() {
        QCOMPARE(launcher_->size(), QSize(551, 377));
        QCOMPARE(launcher_->minimumSize(), launcher_->maximumSize());
        QCOMPARE(launcher_->Image1->geometry(), QRect(0, 0, 551, 74));
        QCOMPARE(launcher_->Image1->pixmap().size(), QSize(551, 74));
        QCOMPARE(launcher_->SpeedButton1->geometry(), QRect(20, 100, 60, 60));
        QCOMPARE(launcher_->SpeedButton2->geometry(), QRect(20, 193, 60, 60));
        QCOMPARE(launcher_->SpeedButton3->geometry(), QRect(20, 286, 60, 60));
        QCOMPARE(launcher_->SpeedButton4->geometry(), QRect(289, 100, 60, 60));
        QCOMPARE(launcher_->SpeedButton6->geometry(), QRect(289, 193, 60, 60));
        QCOMPARE(launcher_->SpeedButton7->geometry(), QRect(514, 341, 25, 25));
        QCOMPARE(launcher_->SpeedButton7->toolTip(), QStringLiteral("About Vantrel"));
        QStringList texts;
        for (QLabel* l : launcher_->findChildren<QLabel*>()) texts << l->text();
        for (const char* t : {"Standard Recovery", "To recover deleted files from logical", "drives.",
                              "Advanced Recovery", "To recover files from formatted, ",
                              "deleted partitions; To recover files", "which can't be found in Std mode.",
                              "IDE HDD Health Diagnosis", "Report health status of hard drives by",
                              "analyzing S.M.A.R.T. data.", "Help & Menual", "Vantrel's help file.",
                              "Vantrel On The Web", "Know more about Vantrel."})
            QVERIFY2(texts.contains(QString::fromLatin1(t)), t);
    }

    void ToolButtonOpensModalWindowAndFreesIt() {
        ui::RegisterToolWindow(ui::TTool::StandardRecovery, [] { return std::make_unique<TTestDialog>(); });
        vt::uitest::ModalDriver driver({[](QWidget* modal) {
            QVERIFY(dynamic_cast<TTestDialog*>(modal));
            // Application-modal: the launcher takes no input meanwhile.
            g_launcherDisabled = modal->windowModality() == Qt::ApplicationModal && modal->parentWidget() == nullptr;
            static_cast<QDialog*>(modal)->accept();
        }});
        QTest::mouseClick(launcher_->SpeedButton1, Qt::LeftButton);
        QCOMPARE(driver.StepsRun(), 1);
        QCOMPARE(g_created, 1);
        QCOMPARE(g_destroyed, 1);
        QVERIFY(g_launcherDisabled);
    }

    void PressingTwiceGivesAFreshWindow() {
        ui::RegisterToolWindow(ui::TTool::AdvancedRecovery, [] { return std::make_unique<TTestDialog>(); });
        int scansSeen = -1;
        for (int round = 0; round < 2; ++round) {
            vt::uitest::ModalDriver driver({[&](QWidget* modal) {
                auto* w = static_cast<TTestDialog*>(modal);
                scansSeen = w->scans;
                w->scans = 5;
                w->reject();
            }});
            QTest::mouseClick(launcher_->SpeedButton2, Qt::LeftButton);
            QCOMPARE(scansSeen, 0);
        }
        QCOMPARE(g_created, 2);
        QCOMPARE(g_destroyed, 2);
    }

    void MainWindowToolRunsModalUntilClosed() {
        ui::RegisterToolWindow(ui::TTool::HealthDiagnosis, [] { return std::make_unique<TTestMainWindow>(); });
        bool modal = false;
        vt::uitest::ModalDriver driver({[&](QWidget* w) {
            modal = w->windowModality() == Qt::ApplicationModal;
            w->showMinimized();  // minimising does not end it
        },
                                        [&](QWidget* w) {
                                            QCOMPARE(g_destroyed, 0);
                                            w->close();
                                        }});
        QTest::mouseClick(launcher_->SpeedButton3, Qt::LeftButton);
        QVERIFY(modal);
        QCOMPARE(driver.StepsRun(), 2);
        QCOMPARE(g_created, 1);
        QCOMPARE(g_destroyed, 1);
    }

    void UnregisteredToolDoesNothing() {
        QTest::mouseClick(launcher_->SpeedButton3, Qt::LeftButton);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void HelpButtonWithoutHelpFileShowsNothing() {
        // The test program's folder holds no help file.
        QTest::mouseClick(launcher_->SpeedButton4, Qt::LeftButton);
        QVERIFY(!QApplication::activeModalWidget());
        const QWidgetList windows = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(windows.begin(), windows.end(),
                             [](QWidget* w) { return w->isVisible() && w->inherits("ui::THelpViewer"); }));
    }

    void AboutButtonOpensAndFreesTheAboutBox() {
        QPointer<TfrmAbout> seen;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            seen = qobject_cast<TfrmAbout*>(modal);
            QVERIFY(seen);
            QTest::mouseClick(seen->Button1, Qt::LeftButton);
        }});
        QTest::mouseClick(launcher_->SpeedButton7, Qt::LeftButton);
        QCOMPARE(driver.StepsRun(), 1);
        QVERIFY(!seen);  // freed
    }
};

QTEST_MAIN(Launcher)
#include "Launcher_test.moc"
