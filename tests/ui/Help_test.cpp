// The help file built beside the program: its topics open in our viewer,
// links move inside it, and a missing file shows nothing.
#include <QTest>

#include "HtmlHelp.h"

class Help : public QObject {
    Q_OBJECT
private slots:
    void EveryTopicOpens_data() {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("title");
        QTest::newRow("whole file") << "" << "Vantrel";
        QTest::newRow("standard") << "StdRecovery.htm" << "Standard Recovery";
        QTest::newRow("advanced") << "AdvRecovery.htm" << "Advanced Recovery";
        QTest::newRow("health") << "Smart.htm" << "IDE HDD Health Diagnosis";
    }
    void EveryTopicOpens() {
        QFETCH(QString, topic);
        QFETCH(QString, title);
        ui::THelpViewer* viewer = ui::HtmlHelp(nullptr, VT_HELP_FILE, topic.toStdString());
        QVERIFY(viewer);
        QCOMPARE(viewer->Browser()->documentTitle(), title);
        QVERIFY(viewer->Browser()->toPlainText().size() > 200);
        viewer->close();
    }

    void LinksStayInTheFile() {
        ui::THelpViewer* viewer = ui::HtmlHelp(nullptr, VT_HELP_FILE, "");
        QVERIFY(viewer);
        emit viewer->Browser()->anchorClicked(QUrl(QStringLiteral("Drives.htm")));
        QVERIFY(viewer->Browser()->toPlainText().contains(QStringLiteral("VANTREL_MACHINE")));
        QVERIFY(viewer->Browser()->isBackwardAvailable());
        viewer->close();
    }

    void SecondCallReusesTheViewer() {
        ui::THelpViewer* first = ui::HtmlHelp(nullptr, VT_HELP_FILE, "Smart.htm");
        ui::THelpViewer* second = ui::HtmlHelp(nullptr, VT_HELP_FILE, "StdRecovery.htm");
        QCOMPARE(first, second);
        QCOMPARE(second->Browser()->source().path(), QStringLiteral("StdRecovery.htm"));
        second->close();
    }

    void MissingFileShowsNothing() {
        QVERIFY(!ui::HtmlHelp(nullptr, "/no/such/Vantrel.chm", "Smart.htm"));
        const ui::TChmFile none("/no/such/Vantrel.chm");
        QVERIFY(!none.Valid());
        QByteArray bytes;
        QVERIFY(!none.Read(QStringLiteral("/Smart.htm"), bytes));
    }
};

QTEST_MAIN(Help)
#include "Help_test.moc"
