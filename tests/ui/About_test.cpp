// The about box: layout and texts, the pictures decoded with libjpeg, and
// Esc and Enter closing it wherever the focus is.
#include <QLabel>
#include <QTest>

#include "JpegImage.h"
#include "Links.h"
#include "UiTestSupport.h"
#include "about.h"

class About : public QObject {
    Q_OBJECT
private slots:
    void HasItsSizeTextsAndPicture() {
        TfrmAbout box;
        QCOMPARE(box.windowTitle(), QStringLiteral("About Vantrel"));
        QCOMPARE(box.size(), QSize(396, 237));
        QCOMPARE(box.Image2->pixmap().size(), QSize(156, 213));
        QStringList texts;
        for (QLabel* l : box.findChildren<QLabel*>()) texts << l->text();
        QVERIFY(texts.contains(QStringLiteral("Vantrel")));
        QVERIFY(texts.contains(QStringLiteral("Version 2.0.3.1")));
        QCOMPARE(box.LabelEx1->text(), QString::fromLatin1(ui::kWebSite));
        QCOMPARE(box.LabelEx2->text(), QStringLiteral("email: ") + QString::fromLatin1(ui::kSupportMail));
        QCOMPARE(box.LabelEx1->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(box.Button1->text(), QStringLiteral("OK"));
    }

    void EscAndEnterCloseIt_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("focusOnButton");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << false << true;
        QTest::newRow("Enter") << int(Qt::Key_Return) << false << true;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << false << true;
        QTest::newRow("Enter on the button") << int(Qt::Key_Return) << true << true;
        QTest::newRow("other key") << int(Qt::Key_A) << false << false;
    }
    void EscAndEnterCloseIt() {
        QFETCH(int, key);
        QFETCH(bool, focusOnButton);
        QFETCH(bool, closes);
        TfrmAbout box;
        bool stillOpenAfterKey = false;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
                                            QWidget* target = modal;
                                            if (focusOnButton) {
                                                box.Button1->setFocus();
                                                target = box.Button1;
                                            }
                                            QTest::keyClick(target, static_cast<Qt::Key>(key));
                                        },
                                        [&](QWidget*) { stillOpenAfterKey = true; }});
        box.exec();
        QCOMPARE(!stillOpenAfterKey, closes);
    }

    void ClickingThePictureDoesNothing() {
        TfrmAbout box;
        box.show();
        QTest::mouseClick(box.Image2, Qt::LeftButton);
        QVERIFY(box.isVisible());
    }

    void BannerDecodesAtItsSize() {
        const QImage banner = ui::LoadJpegResource(QStringLiteral(":/art/banner.jpg"));
        QCOMPARE(banner.size(), QSize(551, 74));
    }

    void BytesThatAreNoJpegGiveNoPicture() {
        const std::uint8_t junk[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01};
        QVERIFY(ui::DecodeJpeg(junk).isNull());
        QVERIFY(ui::DecodeJpeg({}).isNull());
        QVERIFY(ui::LoadJpegResource(QStringLiteral(":/art/missing.jpg")).isNull());
    }
};

QTEST_MAIN(About)
#include "About_test.moc"
