// The pages below the file list: the fixed property rows, the search page's
// controls, presets and ranges, the event log's pictures and how it follows
// its new rows.
#include <QTest>

#include "DiskParam.h"
#include "LowerPages.h"

using namespace ui;

class LowerPages : public QObject {
    Q_OBJECT
private slots:
    void PropertyListHasItsFixedRows() {
        TPropertyList list;
        const QStringList captions{"General", "File Name", "Type", "Size", "Allocated Size", "Created Date",
                                   "Modified Date", "Accessed Date", "", "Attributes", "ReadOnly", "System",
                                   "Archive", "Hidden", "Compressed"};
        QCOMPARE(list.topLevelItemCount(), 15);
        QCOMPARE(list.headerItem()->text(0), QStringLiteral("Name"));
        QCOMPARE(list.headerItem()->text(1), QStringLiteral("Value"));
        for (int row = 0; row < 15; ++row) {
            QCOMPARE(list.Caption(row), captions[row]);
            const QColor expected = (row == 0 || row == 9) ? QColor(255, 255, 208) : QColor(Qt::white);
            QCOMPARE(list.topLevelItem(row)->background(1).color(), expected);
        }
        list.SetValue(TPropertyList::rowSize, QStringLiteral("1536"));
        list.SetCaption(TPropertyList::rowType, QStringLiteral("位置"));
        QCOMPARE(list.Value(3), QStringLiteral("1536"));
        QCOMPARE(list.Caption(2), QStringLiteral("位置"));
        list.ClearValues();
        QCOMPARE(list.Value(3), QString());
    }

    void ClickingAPropertyRowDoesNotSelectIt() {
        TPropertyList list;
        list.resize(300, 400);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QRect rect = list.visualItemRect(list.topLevelItem(3));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
        list.selectionModel()->select(list.model()->index(4, 0), QItemSelectionModel::Select);
        QVERIFY(list.selectedItems().isEmpty());
        QVERIFY(!list.hasFocus());
    }

    void DatePresets_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QDate>("from");
        // 2024 is a leap year: 365 days before 1 March 2024 is 2 March 2023.
        QTest::newRow("Today") << 0 << QDate(2024, 3, 1);
        QTest::newRow("Last 7 days") << 1 << QDate(2024, 2, 23);
        QTest::newRow("Last 30 days") << 2 << QDate(2024, 1, 31);
        QTest::newRow("Last 12 months, leap year") << 3 << QDate(2023, 3, 2);
    }
    void DatePresets() {
        QFETCH(int, preset);
        QFETCH(QDate, from);
        TSearchPage page(TListKind::Standard);
        page.Today = [] { return QDate(2024, 3, 1); };
        page.ComboBox3->setCurrentIndex(4);
        page.ComboBox3->setCurrentIndex(preset);  // as the user picks it
        QCOMPARE(page.DateTimePicker1->date(), from);
        QCOMPARE(page.DateTimePicker2->date(), QDate(2024, 3, 1));
        QVERIFY(!page.DateTimePicker1->isEnabled());
        QVERIFY(!page.DateTimePicker2->isEnabled());
    }

    void SpecifyEnablesThePickersWithTheirDates() {
        TSearchPage page(TListKind::Advanced);
        page.Today = [] { return QDate(2024, 3, 1); };
        page.ComboBox3->setCurrentIndex(2);
        page.ComboBox3->setCurrentIndex(4);
        QVERIFY(page.DateTimePicker1->isEnabled());
        QVERIFY(page.DateTimePicker2->isEnabled());
        QCOMPARE(page.DateTimePicker1->date(), QDate(2024, 1, 31));
        QCOMPARE(page.DateTimePicker2->date(), QDate(2024, 3, 1));
    }

    void ResetGoesBackToCreatedAndToday() {
        TSearchPage page(TListKind::Standard);
        page.Today = [] { return QDate(2024, 3, 1); };
        page.ComboBox1->setCurrentIndex(2);
        page.ComboBox3->setCurrentIndex(4);
        page.DateTimePicker1->setDate(QDate(2001, 1, 1));
        page.Reset();
        QCOMPARE(page.ComboBox1->currentText(), QStringLiteral("Created"));
        QCOMPARE(page.ComboBox3->currentText(), QStringLiteral("Today"));
        QCOMPARE(page.DateTimePicker1->date(), QDate(2024, 3, 1));
        QVERIFY(!page.DateTimePicker1->isEnabled());
        // Also when the preset already was "Today".
        page.DateTimePicker1->setDate(QDate(2001, 1, 1));
        page.Reset();
        QCOMPARE(page.DateTimePicker1->date(), QDate(2024, 3, 1));
    }

    void ControlsOfBothWindows_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("lookIn");
        QTest::newRow("standard") << int(TListKind::Standard) << QStringList{"Deleted Files", "All Files"};
        QTest::newRow("advanced") << int(TListKind::Advanced) << QStringList{"Current Folder", "Scan Results"};
    }
    void ControlsOfBothWindows() {
        QFETCH(int, kind);
        QFETCH(QStringList, lookIn);
        TSearchPage page(static_cast<TListKind>(kind));
        QCOMPARE(page.RadioGroup1->title(), QStringLiteral(" Look in "));
        QCOMPARE(page.RadioItems[0]->text(), lookIn[0]);
        QCOMPARE(page.RadioItems[1]->text(), lookIn[1]);
        QCOMPARE(page.RadioGroupIndex(), 0);
        QCOMPARE(page.CheckBox2->text(), QStringLiteral("By Name"));
        QVERIFY(page.CheckBox2->font().bold() && page.CheckBox3->font().bold() && page.CheckBox4->font().bold());
        QVERIFY(!page.CheckBox1->font().bold());
        QCOMPARE(page.Edit1->toolTip(), QStringLiteral("Separate names with ','"));
        QCOMPARE(page.ComboBox1->count(), 3);
        QCOMPARE(page.ComboBox3->itemText(3), QStringLiteral("Last 12 months"));
        QCOMPARE(page.Button1->text(), QStringLiteral("Find"));
        // Number fields without limits, starting at 0.
        QCOMPARE(page.SpinEdit1->value(), 0);
        page.SpinEdit1->setValue(-5);
        QCOMPARE(page.SpinEdit1->value(), -5);
        page.SpinEdit2->setValue(2000000000);
        QCOMPARE(page.SpinEdit2->value(), 2000000000);
    }

    void SearchRangesInEitherOrder() {
        TSearchPage page(TListKind::Standard);
        double from = 1, to = 1;
        std::int64_t lo = 1, hi = 1;
        page.SearchDates(from, to);
        page.SearchSizes(1000, lo, hi);
        QCOMPARE(from, 0.0);
        QCOMPARE(to, 0.0);
        QCOMPARE(lo, std::int64_t(-1));
        QCOMPARE(hi, std::int64_t(-1));

        page.CheckBox3->setChecked(true);
        page.CheckBox4->setChecked(true);
        page.ComboBox3->setCurrentIndex(4);
        // To before From: the days are swapped and both included whole.
        page.DateTimePicker1->setDateTime(QDateTime(QDate(2024, 3, 5), QTime(15, 30)));
        page.DateTimePicker2->setDateTime(QDateTime(QDate(2024, 3, 1), QTime(8, 0)));
        page.SearchDates(from, to);
        QCOMPARE(from, DateTimeToValue(QDateTime(QDate(2024, 3, 1), QTime(0, 0))));
        QCOMPARE(to, DateTimeToValue(QDateTime(QDate(2024, 3, 6), QTime(0, 0))));
        // A time of exactly midnight stays that day.
        page.DateTimePicker1->setDateTime(QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
        page.SearchDates(from, to);
        QCOMPARE(to, DateTimeToValue(QDateTime(QDate(2024, 3, 5), QTime(0, 0))));

        page.SpinEdit1->setValue(10);
        page.SpinEdit2->setValue(2);
        page.SearchSizes(1024, lo, hi);
        QCOMPARE(lo, std::int64_t(2048));
        QCOMPARE(hi, std::int64_t(10240));
        page.SearchSizes(1000, lo, hi);
        QCOMPARE(lo, std::int64_t(2000));
        QCOMPARE(hi, std::int64_t(10000));
    }

    void DateValuesCountDaysFromTheEndOf1899() {
        QCOMPARE(DateTimeToValue(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
        QCOMPARE(DateTimeToValue(QDateTime(QDate(1900, 1, 1), QTime(12, 0))), 2.5);
        QCOMPARE(DateTimeToValue(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
        QCOMPARE(ValueToDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
        QCOMPARE(ValueToDateTime(2.5), QDateTime(QDate(1900, 1, 1), QTime(12, 0)));
    }

    void EventPicturesByWindow_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("one");
        QTest::addColumn<int>("two");
        QTest::newRow("standard: warning, error")
            << int(TListKind::Standard) << int(TEventLogView::TPicture::Warning) << int(TEventLogView::TPicture::Error);
        QTest::newRow("advanced: error, warning")
            << int(TListKind::Advanced) << int(TEventLogView::TPicture::Error) << int(TEventLogView::TPicture::Warning);
    }
    void EventPicturesByWindow() {
        QFETCH(int, kind);
        QFETCH(int, one);
        QFETCH(int, two);
        TEventLogView log(static_cast<TListKind>(kind));
        AddLogEvent(&log, "快速恢复已启动", 0);
        AddLogEvent(&log, "stopped", 1);
        AddLogEvent(&log, "failed", 2);
        QCOMPARE(log.Count(), 3);
        QCOMPARE(log.topLevelItem(0)->text(0), QStringLiteral("快速恢复已启动"));
        QCOMPARE(log.topLevelItem(0)->text(1).size(), 8);  // hh:nn:ss
        QCOMPARE(int(log.RowPicture(0)), int(TEventLogView::TPicture::Information));
        QCOMPARE(int(log.RowPicture(1)), one);
        QCOMPARE(int(log.RowPicture(2)), two);
        QCOMPARE(log.headerItem()->text(0), QStringLiteral("Event"));
        QCOMPARE(log.headerItem()->text(1), QStringLiteral("Time"));
    }

    void TheLogFollowsNewRowsUnlessScrolledUp() {
        TEventLogView log(TListKind::Standard);
        log.resize(400, 150);
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        auto inView = [&](int row) {
            const QRect r = log.visualItemRect(log.topLevelItem(row));
            return !r.isEmpty() && log.viewport()->rect().contains(r);
        };
        for (int i = 0; i < 40; ++i) AddLogEvent(&log, "row " + std::to_string(i), 0);
        QTRY_VERIFY(inView(39));
        QVERIFY(!inView(0));
        // The user goes up to read the first rows: new rows leave them there.
        log.setFocus();
        QTest::keyClick(&log, Qt::Key_Home);
        QVERIFY(inView(0));
        for (int i = 40; i < 45; ++i) AddLogEvent(&log, "row " + std::to_string(i), 2);
        QCoreApplication::processEvents();
        QVERIFY(inView(0));
        QVERIFY(!inView(44));
        // Back at the end, the log follows again.
        QTest::keyClick(&log, Qt::Key_End);
        AddLogEvent(&log, "恢复完成。", 0);
        QTRY_VERIFY(inView(45));
        // Clearing it starts over at the top, and following.
        log.Clear();
        for (int i = 0; i < 40; ++i) AddLogEvent(&log, "again " + std::to_string(i), 0);
        QTRY_VERIFY(inView(39));
    }
};

QTEST_MAIN(LowerPages)
#include "LowerPages_test.moc"
