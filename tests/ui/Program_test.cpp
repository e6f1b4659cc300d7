// The program's run: the units start before any window, the 9x driver's
// failure ends it there with its box, otherwise the launcher runs with its
// caption until it is closed.
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "HtmlHelp.h"
#include "MachineProfile.h"
#include "Program.h"
#include "UiTestSupport.h"
#include "WindowFactory.h"
#include "int13ext.h"
#include "main.h"

namespace {

void InstallMachine(const std::string& profile) {
    platform::Machine::Install(platform::Machine::FromProfileText(profile, "/", false));
}

bool LauncherExists() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return qobject_cast<TfrmVtMain*>(w); });
}

}  // namespace

class Program : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { vt::uitest::CloseModalWindows(); }

    void Win9xWithoutDriverEndsBeforeAnyWindow() {
        InstallMachine("[machine]\nfamily=9x\nint13ext=missing\nhide_real_devices=1\n");
        QString text, caption;
        bool launcherDuringBox = true;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            text = box->text();
            caption = box->windowTitle();
            launcherDuringBox = LauncherExists() || frmVtMain;
            box->button(QMessageBox::Ok)->click();
        }});
        QCOMPARE(ui::RunProgram(), 1);
        QCOMPARE(text, QStringLiteral("Error loading \"INT13EXT.VXD\""));
        QCOMPARE(caption, QStringLiteral("Error"));
        QVERIFY(!launcherDuringBox);
        QVERIFY(!LauncherExists());
        QVERIFY(!ui::HasToolWindow(ui::TTool::StandardRecovery));
    }

    void LauncherRunsWithItsCaptionUntilClosed() {
        InstallMachine("[machine]\nhide_real_devices=1\n");
        QString title;
        bool visible = false;
        QTimer::singleShot(50, [&] {
            QVERIFY(frmVtMain);
            title = frmVtMain->windowTitle();
            visible = frmVtMain->isVisible();
            frmVtMain->close();
        });
        QCOMPARE(ui::RunProgram(), 0);
        QCOMPARE(title, QStringLiteral("Vantrel 2.0"));
        QVERIFY(visible);
        QVERIFY(!frmVtMain);
        QVERIFY(ui::HasToolWindow(ui::TTool::StandardRecovery));
        QVERIFY(ui::HasToolWindow(ui::TTool::AdvancedRecovery));
        QVERIFY(ui::HasToolWindow(ui::TTool::HealthDiagnosis));
        // The standard engine's start took the program folder and the folder
        // type name of the MIME database, through the hook installed first.
        QVERIFY(AppDir.ends_with("/tests/ui/"));
        QCOMPARE(QString::fromStdString(FolderTypeName),
                 QMimeDatabase().mimeTypeForName(QStringLiteral("inode/directory")).comment());
        // The units ended: the device handles are closed.
        QCOMPARE(DiskUtils::VWin32Handle, win::INVALID_HANDLE_VALUE);
        QCOMPARE(int13ext::Int13Handle, win::INVALID_HANDLE_VALUE);
    }

    void ClosingTheLauncherEndsTheProgramWithHelpOpen() {
        InstallMachine("[machine]\nhide_real_devices=1\n");
        QPointer<ui::THelpViewer> viewer;
        QTimer::singleShot(50, [&] {
            viewer = ui::HtmlHelp(nullptr, VT_HELP_FILE, "");
            QVERIFY(viewer);
            frmVtMain->close();
        });
        QCOMPARE(ui::RunProgram(), 0);
        QVERIFY(!viewer);  // closed and freed with the program
    }
};

QTEST_MAIN(Program)
#include "Program_test.moc"
