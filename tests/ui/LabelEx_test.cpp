// The link label: the active colour while the mouse is over it, the font
// colour it finished loading with afterwards, and the notifications.
#include <QEnterEvent>
#include <QTest>

#include "LabelEx.h"

class LabelEx : public QObject {
    Q_OBJECT

    static void Enter(TLabelEx& l) {
        QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(&l, &e);
    }
    static void Leave(TLabelEx& l) {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(&l, &e);
    }

private slots:
    void ActiveColourIsBlueFromCreation() {
        TLabelEx l;
        QCOMPARE(l.ActiveColor(), QColor(Qt::blue));
    }

    void EnterShowsActiveColourLeaveRestoresLoadedOne() {
        TLabelEx l;
        l.SetFontColor(Qt::darkGreen);
        l.Loaded();
        l.SetActiveColor(Qt::red);
        TLabelEx* entered = nullptr;
        TLabelEx* left = nullptr;
        l.OnMouseEnter = [&](TLabelEx* s) { entered = s; };
        l.OnMouseLeave = [&](TLabelEx* s) { left = s; };
        Enter(l);
        QCOMPARE(l.FontColor(), QColor(Qt::red));
        QCOMPARE(entered, &l);
        QVERIFY(!left);
        Leave(l);
        QCOMPARE(l.FontColor(), QColor(Qt::darkGreen));
        QCOMPARE(left, &l);
    }

    void WithoutHandlersOnlyTheColourChanges() {
        TLabelEx l;
        l.SetFontColor(Qt::black);
        l.Loaded();
        Enter(l);
        QCOMPARE(l.FontColor(), QColor(Qt::blue));
        Leave(l);
        QCOMPARE(l.FontColor(), QColor(Qt::black));
    }

    void ActiveColourEqualToFontColourShowsNoChange() {
        TLabelEx l;
        l.SetFontColor(Qt::blue);
        l.Loaded();
        const QImage before = l.grab().toImage();
        Enter(l);
        QCOMPARE(l.FontColor(), QColor(Qt::blue));
        QCOMPARE(l.grab().toImage(), before);
    }
};

QTEST_MAIN(LabelEx)
#include "LabelEx_test.moc"
