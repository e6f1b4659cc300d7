// The Back/Forward history: the order of visits, at most twenty, no repeat
// of the same position in a row.
#include <QTest>

#include "RecentFiles.h"

class RecentFiles : public QObject {
    Q_OBJECT
private slots:
    void StartsEmpty() {
        TRecentFiles h;
        QCOMPARE(h.Index, -1);
        QVERIFY(!h.CanBack);
        QVERIFY(!h.CanForward);
        std::int32_t p = 7;
        h.Back(p);
        QCOMPARE(p, -1);
        p = 7;
        h.Forward(p);
        QCOMPARE(p, -1);
    }

    void VisitAfterBackAppendsToTheVisits() {
        TRecentFiles h;
        h.Add(1);  // A
        h.Add(2);  // B
        h.Add(3);  // C
        std::int32_t p = 0;
        h.Back(p);
        QCOMPARE(p, 2);
        QVERIFY(h.CanForward);
        h.Back(p);
        QCOMPARE(p, 1);
        QVERIFY(!h.CanBack);
        h.Add(4);  // D
        QCOMPARE(h.Items, (std::vector<std::int32_t>{1, 2, 3, 4}));
        QCOMPARE(h.Index, 3);
        QVERIFY(h.CanBack);
        QVERIFY(!h.CanForward);
    }

    void TwentyFirstVisitDropsTheOldest() {
        TRecentFiles h;
        for (int i = 1; i <= 21; ++i) h.Add(i);
        QCOMPARE(h.Items.size(), std::size_t(20));
        QCOMPARE(h.Items.front(), 2);
        QCOMPARE(h.Items.back(), 21);
        QCOMPARE(h.Index, 19);
    }

    void SameNodeTwiceInARowIsAddedOnce() {
        TRecentFiles h;
        h.Add(5);
        h.Add(6);
        std::int32_t p = 0;
        h.Back(p);
        h.Add(6);  // equals the last entry: nothing changes, Index neither
        QCOMPARE(h.Items, (std::vector<std::int32_t>{5, 6}));
        QCOMPARE(h.Index, 0);
        QVERIFY(h.CanForward);
    }

    void ForwardOnTheLastEntryReturnsItAgain() {
        TRecentFiles h;
        h.Add(1);
        h.Add(2);
        std::int32_t p = 0;
        h.Forward(p);
        QCOMPARE(p, 2);
        QCOMPARE(h.Index, 1);
        QVERIFY(!h.CanForward);
        h.Back(p);
        h.Back(p);
        QCOMPARE(p, 1);  // never before the first
        QCOMPARE(h.Index, 0);
    }

    void ClearEmptiesButKeepsIndexUntilNextAdd() {
        TRecentFiles h;
        h.Add(1);
        h.Add(2);
        h.Clear();
        QVERIFY(h.Items.empty());
        QCOMPARE(h.Index, 1);
        QVERIFY(h.CanBack);
        std::int32_t p = 0;
        h.Back(p);
        QCOMPARE(p, -1);
        h.Add(9);
        QCOMPARE(h.Index, 0);
        QVERIFY(!h.CanBack);
    }
};

QTEST_MAIN(RecentFiles)
#include "RecentFiles_test.moc"
