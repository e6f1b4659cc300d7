// The Qt side of the platform hooks: message boxes by their MB_ style,
// shell type names from the MIME database, the reporting views.
#include <QLabel>
#include <QMessageBox>
#include <QThread>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "QtPlatform.h"
#include "QtReporting.h"
#include "Reporting.h"
#include "System.h"
#include "UiTestSupport.h"

namespace {

// Presses the box's button of the role given.
vt::uitest::ModalDriver::Step Press(QMessageBox::StandardButton which, QMessageBox::Icon* icon = nullptr,
                                    QString* text = nullptr) {
    return [=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        if (icon) *icon = box->icon();
        if (text) *text = box->text();
        QAbstractButton* b = box->button(which);
        QVERIFY(b);
        b->click();
    };
}

// The progress view's clock, moved by hand.
std::chrono::steady_clock::time_point g_now{std::chrono::hours(1)};
std::chrono::steady_clock::time_point FakeNow() { return g_now; }

}  // namespace

class QtPlatform : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        ui::UseIconTheme();
        ui::InstallPlatformHooks();
    }
    void cleanupTestCase() { ui::RemovePlatformHooks(); }
    void cleanup() { vt::uitest::CloseModalWindows(); }

    void MessageBoxAnswersByStyle_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("answer");
        QTest::newRow("OK, error") << int(win::MB_OK | win::MB_ICONERROR) << int(QMessageBox::Ok)
                                   << int(QMessageBox::Critical) << win::IDOK;
        QTest::newRow("Yes/No, question: yes") << int(win::MB_YESNO | win::MB_ICONQUESTION) << int(QMessageBox::Yes)
                                               << int(QMessageBox::Question) << win::IDYES;
        QTest::newRow("Yes/No: no") << int(win::MB_YESNO | win::MB_ICONWARNING) << int(QMessageBox::No)
                                    << int(QMessageBox::Warning) << win::IDNO;
        QTest::newRow("OK, information") << int(win::MB_OK | win::MB_ICONINFORMATION) << int(QMessageBox::Ok)
                                         << int(QMessageBox::Information) << win::IDOK;
    }
    void MessageBoxAnswersByStyle() {
        QFETCH(int, type);
        QFETCH(int, button);
        QFETCH(int, icon);
        QFETCH(int, answer);
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        QString text;
        vt::uitest::ModalDriver driver({Press(static_cast<QMessageBox::StandardButton>(button), &shown, &text)});
        QCOMPARE(win::MessageBoxA(nullptr, "驱动器未就绪。", "Error", static_cast<win::UINT>(type)), answer);
        QCOMPARE(int(shown), icon);
        QCOMPARE(text, QStringLiteral("驱动器未就绪。"));
    }

    void ClosedYesNoBoxAnswersNo() {
        vt::uitest::ModalDriver driver({[](QWidget* modal) { static_cast<QMessageBox*>(modal)->reject(); }});
        QCOMPARE(win::MessageBoxA(nullptr, "?", "Q", win::MB_YESNO), win::IDNO);
    }

    void ShellTypeNamesComeFromTheMimeDatabase() {
        std::string folder, text, other;
        const int folderIcon = platform::ShellTypeInfo("/some/folder", 0xFFFF, folder);
        const int textIcon = platform::ShellTypeInfo("notes.txt", 0x80, text);
        platform::ShellTypeInfo("NOTES.TXT", 0x80, other);
        QVERIFY(!folder.empty());
        QVERIFY(!text.empty());
        QVERIFY(folder != text);
        QCOMPARE(other, text);
        QVERIFY(folderIcon != textIcon);
        QCOMPARE(platform::ShellTypeInfo("other.txt", 0x80, other), textIcon);  // same type, same icon
        QVERIFY(!ui::ShellIcon(folderIcon).isNull());
        QVERIFY(ui::ShellIcon(100000).isNull());
        std::string unknown;
        platform::ShellTypeInfo("noextension", 0x80, unknown);
        QVERIFY(!unknown.empty());
    }

    void FileTypesGoByTheLastExtensionAlone() {
        // As the shell types files: by the text after the last dot, in any
        // case, the rest of the name unseen.
        std::string a, b, c, d;
        const int icon = platform::ShellTypeInfo("backup.tar.gz", 0x80, a);
        QCOMPARE(platform::ShellTypeInfo("PHOTO.GZ", 0x80, b), icon);
        QCOMPARE(a, b);
        platform::ShellTypeInfo("Makefile", 0x80, c);
        platform::ShellTypeInfo("README", 0x80, d);
        QCOMPARE(c, d);
        std::string dotInFolder;
        platform::ShellTypeInfo("dir.d/README", 0x80, dotInFolder);
        QCOMPARE(dotInFolder, d);
    }

    void MessagePumpRunsPendingEvents() {
        bool ran = false;
        QMetaObject::invokeMethod(this, [&] { ran = true; }, Qt::QueuedConnection);
        QTest::qWait(20);  // past the pump's interval
        ran = false;
        QMetaObject::invokeMethod(this, [&] { ran = true; }, Qt::QueuedConnection);
        QThread::msleep(20);
        platform::ProcessMessages();
        QVERIFY(ran);
    }

    // A scan from the cache moves the bar every few microseconds: within one
    // interval the bar keeps what it shows while Position() follows every
    // value; its bounds are shown at once; the next value after the
    // interval shows the latest.
    void ProgressBarTakesAtMostOneValuePerInterval() {
        QProgressBar bar;
        bar.setRange(0, 100);
        TProgressBarView progress(&bar, &FakeNow);
        progress.SetPosition(1);
        QCOMPARE(bar.value(), 1);
        for (int p = 2; p <= 40; ++p) progress.SetPosition(p);
        QCOMPARE(bar.value(), 1);
        QCOMPARE(progress.Position(), 40);
        g_now += TProgressBarView::kShowEvery - std::chrono::milliseconds(1);
        progress.SetPosition(41);
        QCOMPARE(bar.value(), 1);
        g_now += std::chrono::milliseconds(1);
        progress.SetPosition(42);
        QCOMPARE(bar.value(), 42);
        progress.SetPosition(100);  // the end, within the interval
        QCOMPARE(bar.value(), 100);
        progress.SetPosition(0);  // the engines' reset after a job
        QCOMPARE(bar.value(), 0);
        progress.SetPosition(-5);
        QCOMPARE(progress.Position(), 0);
        QCOMPARE(bar.value(), 0);
    }

    void ReportingViewsDriveTheirControls() {
        QProgressBar bar;
        bar.setRange(0, 100);
        TProgressBarView progress(&bar);
        progress.SetPosition(42);
        QCOMPARE(bar.value(), 42);
        QCOMPARE(progress.Position(), 42);
        progress.SetPosition(250);
        QCOMPARE(progress.Position(), 100);
        progress.SetVisible(false);
        QVERIFY(!progress.Visible());
        progress.SetVisible(true);
        QVERIFY(progress.Visible());
        QLabel panel;
        TStatusPanelView status(&panel);
        status.SetText("正在扫描");
        QCOMPARE(panel.text(), QStringLiteral("正在扫描"));
        QCOMPARE(status.Text(), std::string("正在扫描"));
    }
};

QTEST_MAIN(QtPlatform)
#include "QtPlatform_test.moc"
