// The target-folder dialog: what each entry gives (stays open, message,
// folder made one level deep, confirmed), Cancel, and the parent-folder
// button on "/" paths.
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "Recorders.h"
#include "UiTestSupport.h"
#include "seldir.h"

namespace {

TfrmSelDir* Dialog(QWidget* modal) { return qobject_cast<TfrmSelDir*>(modal); }

// Types the text and confirms with the OK button.
vt::uitest::ModalDriver::Step Confirm(const QString& text) {
    return [text](QWidget* modal) {
        TfrmSelDir* d = Dialog(modal);
        QVERIFY(d);
        d->Edit1->setText(text);
        QTest::mouseClick(d->Button2, Qt::LeftButton);
    };
}

}  // namespace

class SelDir : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { vt::uitest::CloseModalWindows(); }

    void LayoutAndTexts() {
        TfrmSelDir d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Select Directory"));
        QCOMPARE(d.size(), QSize(395, 153));
        QVERIFY(d.Edit1->text().isEmpty());
        QCOMPARE(d.Button1->text(), QStringLiteral("Browse"));
        QCOMPARE(d.Button2->text(), QStringLiteral("OK"));
        QCOMPARE(d.Button3->text(), QStringLiteral("Cancel"));
        QStringList texts;
        for (QLabel* l : d.findChildren<QLabel*>()) texts << l->text();
        for (const char* t : {"Recovered files will be saved in this directory:", "Warning: The deleted data in current ",
                              "drive might be overwritten if you save", "files into this drive."})
            QVERIFY2(texts.contains(QString::fromLatin1(t)), t);
    }

    void ExistingFolderIsConfirmed() {
        QTemporaryDir dir;
        platform::MessageBoxRecorder boxes;
        vt::uitest::ModalDriver driver({Confirm(dir.path())});
        std::string chosen;
        QVERIFY(SelectTargetDir(chosen));
        QCOMPARE(QString::fromStdString(chosen), dir.path());
        QVERIFY(boxes.calls.empty());
    }

    void BlankEntryStaysOpenSilentlyThenCancel() {
        platform::MessageBoxRecorder boxes;
        bool stillOpen = false;
        vt::uitest::ModalDriver driver({Confirm(QStringLiteral("   ")),
                                        [&](QWidget* modal) {
                                            stillOpen = Dialog(modal) != nullptr;
                                            // Enter on an empty field does nothing either.
                                            Dialog(modal)->Edit1->clear();
                                            QTest::keyClick(Dialog(modal)->Edit1, Qt::Key_Return);
                                        },
                                        [](QWidget* modal) {
                                            QVERIFY(Dialog(modal));
                                            QTest::mouseClick(Dialog(modal)->Button3, Qt::LeftButton);
                                        }});
        std::string chosen = "unchanged";
        QVERIFY(!SelectTargetDir(chosen));
        QVERIFY(stillOpen);
        QCOMPARE(chosen, std::string("unchanged"));
        QVERIFY(boxes.calls.empty());
    }

    void ExistingFileGivesItsMessageAndStays() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("report.doc"));
        std::ofstream(file.toStdString()) << "x";
        platform::MessageBoxRecorder boxes;
        QString kept;
        vt::uitest::ModalDriver driver({Confirm(file), [&](QWidget* modal) {
                                            kept = Dialog(modal)->Edit1->text();
                                            Dialog(modal)->reject();
                                        }});
        std::string chosen;
        QVERIFY(!SelectTargetDir(chosen));
        QCOMPARE(kept, file);
        QCOMPARE(boxes.calls.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(boxes.calls[0].text),
                 QStringLiteral("文件 '") + file + QStringLiteral("' 已存在, 请选择其它目录。"));
        QCOMPARE(boxes.calls[0].type & win::MB_ICONMASK, win::MB_ICONERROR);
    }

    void MissingFolderIsMadeOneLevelOnly() {
        QTemporaryDir dir;
        platform::MessageBoxRecorder boxes;
        const QString twoDeep = dir.filePath(QStringLiteral("a/b"));
        const QString oneDeep = dir.filePath(QStringLiteral("a"));
        vt::uitest::ModalDriver driver({Confirm(twoDeep), Confirm(oneDeep)});
        std::string chosen;
        QVERIFY(SelectTargetDir(chosen));
        QCOMPARE(QString::fromStdString(chosen), oneDeep);
        QVERIFY(QFileInfo(oneDeep).isDir());
        QVERIFY(!QFileInfo::exists(twoDeep));
        QCOMPARE(boxes.calls.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(boxes.calls[0].text), QStringLiteral("无效目录名."));
    }

    // The recovery never takes the target folder itself through a link: a
    // link the user picks is followed when it is picked.
    void ChosenLinkToAFolderGivesTheFolderItLeadsTo() {
        QTemporaryDir dir;
        const QString real = QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("/real");
        QVERIFY(QDir().mkdir(real));
        const QString link = dir.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(real, link));
        for (const QString& text : {link, link + QStringLiteral("/")}) {
            vt::uitest::ModalDriver driver({Confirm(text)});
            std::string chosen;
            QVERIFY(SelectTargetDir(chosen));
            QCOMPARE(QString::fromStdString(chosen), real);
        }
        QVERIFY(QFileInfo(link).isSymLink());
    }

    void UnreachablePlaceGivesTheNotReadyWarning_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("no root: not a path of this system") << "recovered";
        QTest::newRow("a drive name") << "D:\\Recovered";
    }
    void UnreachablePlaceGivesTheNotReadyWarning() {
        QFETCH(QString, text);
        platform::MessageBoxRecorder boxes;
        vt::uitest::ModalDriver driver({Confirm(text), [](QWidget* modal) { Dialog(modal)->reject(); }});
        std::string chosen;
        QVERIFY(!SelectTargetDir(chosen));
        QCOMPARE(boxes.calls.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(boxes.calls[0].text), QStringLiteral("无法打开目录，获取驱动器未就绪。"));
        QCOMPARE(boxes.calls[0].type & win::MB_ICONMASK, win::MB_ICONWARNING);
        QVERIFY(!QFileInfo::exists(text));
    }

    void EnterInTheFieldConfirms() {
        QTemporaryDir dir;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            Dialog(modal)->Edit1->setText(dir.path());
            QTest::keyClick(Dialog(modal)->Edit1, Qt::Key_Return);
        }});
        std::string chosen;
        QVERIFY(SelectTargetDir(chosen));
        QCOMPARE(QString::fromStdString(chosen), dir.path());
    }

    void EnterOnTheFocusedOkButtonConfirms() {
        QTemporaryDir dir;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            Dialog(modal)->Edit1->setText(dir.path());
            Dialog(modal)->Button2->setFocus();
            QTest::keyClick(Dialog(modal)->Button2, Qt::Key_Return);
        }});
        std::string chosen;
        QVERIFY(SelectTargetDir(chosen));
        QCOMPARE(QString::fromStdString(chosen), dir.path());
    }

    void EscCancelsAndTheDialogFreesItself() {
        QPointer<TfrmSelDir> seen;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            seen = Dialog(modal);
            QTest::keyClick(Dialog(modal)->Edit1, Qt::Key_Escape);
        }});
        std::string chosen;
        QVERIFY(!SelectTargetDir(chosen));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!seen);
    }

    void ParentFolderButton_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two levels") << "/data/docs" << "/data";
        QTest::newRow("one level gives the root") << "/data" << "/";
        QTest::newRow("the root stays") << "/" << "/";
        QTest::newRow("trailing slash") << "/data/docs/" << "/data/docs";
        QTest::newRow("doubled slashes") << "/data//docs" << "/data";
        QTest::newRow("no slash gives empty") << "docs" << "";
        QTest::newRow("empty stays empty") << "" << "";
    }
    void ParentFolderButton() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        TfrmSelDir d;
        d.Edit1->setText(text);
        QTest::mouseClick(d.SpeedButton1, Qt::LeftButton);
        QCOMPARE(d.Edit1->text(), expected);
    }

    void ReachableFolders() {
        QVERIFY(ui::FolderReachable(QStringLiteral("/")));
        QVERIFY(ui::FolderReachable(QDir::tempPath() + QStringLiteral("/no/such/levels")));
        QVERIFY(!ui::FolderReachable(QStringLiteral("relative/path")));
    }
};

QTEST_MAIN(SelDir)
#include "SelDir_test.moc"
