// The settings files of the recovery windows: defaults by screen width,
// partial files and values that are no numbers, and the order of writing.
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "FrameSettings.h"

namespace {

platform::TIniFile FromText(const std::string& text) { return platform::TIniFile::FromText(text); }

int ValueOf(std::span<const ui::TSettingRow> table, const std::vector<int>& values, const char* section,
            const char* key) {
    for (std::size_t i = 0; i < table.size(); ++i)
        if (std::string(table[i].section) == section && std::string(table[i].key) == key) return values[i];
    return -999;
}

}  // namespace

class Settings : public QObject {
    Q_OBJECT
private slots:
    void ScreenWidthPicksTheDefaultColumn_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("wp0");
        QTest::addColumn<int>("lv2wp1");
        QTest::addColumn<int>("p4w");
        QTest::newRow("640") << 640 << 190 << 465 << 190;
        QTest::newRow("800") << 800 << 190 << 465 << 190;
        QTest::newRow("801") << 801 << 230 << 600 << 230;
        QTest::newRow("1024") << 1024 << 230 << 600 << 230;
        QTest::newRow("1025") << 1025 << 250 << 810 << 255;
        QTest::newRow("1280") << 1280 << 250 << 810 << 255;
    }
    void ScreenWidthPicksTheDefaultColumn() {
        QFETCH(int, width);
        QFETCH(int, wp0);
        QFETCH(int, lv2wp1);
        QFETCH(int, p4w);
        const auto empty = FromText("");
        const auto std = ui::ReadSettings(empty, ui::StandardSettings(), width, 768);
        QCOMPARE(ValueOf(ui::StandardSettings(), std, "Lv1", "wp0"), wp0);
        QCOMPARE(ValueOf(ui::StandardSettings(), std, "Lv2", "wp1"), lv2wp1);
        QCOMPARE(ValueOf(ui::StandardSettings(), std, "Options", "OpenDestDir"), 1);
        const auto adv = ui::ReadSettings(empty, ui::AdvancedSettings(), width, 768);
        QCOMPARE(ValueOf(ui::AdvancedSettings(), adv, "Layout", "P4W"), p4w);
        QCOMPARE(ValueOf(ui::AdvancedSettings(), adv, "Options", "ShowNTFolder"), 1);
    }

    void PartialFileTakesDefaultsForTheRest() {
        const auto ini = FromText(
            "[Lv1]\r\nwp0=333\r\nwp1=abc\r\nwp2=\r\nwp3=12px\r\n[Partition List]\r\nheight=99\r\n"
            "[Options]\r\nOpenDestDir=0\r\n");
        const auto v = ui::ReadSettings(ini, ui::StandardSettings(), 1280, 1024);
        const auto t = ui::StandardSettings();
        QCOMPARE(ValueOf(t, v, "Lv1", "wp0"), 333);
        QCOMPARE(ValueOf(t, v, "Lv1", "wp1"), 110);  // not a number
        QCOMPARE(ValueOf(t, v, "Lv1", "wp2"), 110);  // empty
        QCOMPARE(ValueOf(t, v, "Lv1", "wp3"), 110);  // not a whole number
        QCOMPARE(ValueOf(t, v, "Lv1", "wp4"), 150);  // missing
        QCOMPARE(ValueOf(t, v, "Partition List", "Height"), 99);  // keys without regard to case
        QCOMPARE(ValueOf(t, v, "Partition List", "Width"), 260);
        QCOMPARE(ValueOf(t, v, "Options", "OpenDestDir"), 0);
    }

    void SizesThatAreNotPositiveOrLargerThanTheScreenReadAsTheDefault_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        // On a screen of 1024 x 768: the defaults of the middle column.
        QTest::newRow("pane width -5000") << "P4W" << "-5000" << 230;
        QTest::newRow("pane width 0") << "P4W" << "0" << 230;
        QTest::newRow("pane width 1") << "P4W" << "1" << 1;
        QTest::newRow("pane width as wide as the screen") << "P4W" << "1024" << 1024;
        QTest::newRow("pane width wider than the screen") << "P4W" << "1025" << 230;
        QTest::newRow("pane height -1") << "P8H" << "-1" << 240;
        QTest::newRow("pane height as high as the screen") << "P8H" << "768" << 768;
        QTest::newRow("pane height higher than the screen") << "P8H" << "769" << 240;
        QTest::newRow("column -3") << "Col0W" << "-3" << 200;
        QTest::newRow("column 0") << "Col0W" << "0" << 200;
        QTest::newRow("column 900, higher than the screen but not wider") << "Col0W" << "900" << 900;
        QTest::newRow("column wider than the screen") << "Lv2Col1W" << "2147483647" << 600;
    }
    void SizesThatAreNotPositiveOrLargerThanTheScreenReadAsTheDefault() {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto ini = FromText("[Layout]\r\n" + key.toStdString() + "=" + text.toStdString() + "\r\n");
        const auto v = ui::ReadSettings(ini, ui::AdvancedSettings(), 1024, 768);
        QCOMPARE(ValueOf(ui::AdvancedSettings(), v, "Layout", key.toLatin1().constData()), expected);
    }

    void BooleanIsAnyNonZeroNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("7") << "7" << 1;
        QTest::newRow("-1") << "-1" << 1;
        QTest::newRow("true is no number: default") << "true" << 1;
        QTest::newRow("false is no number: default") << "false" << 1;
    }
    void BooleanIsAnyNonZeroNumber() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto ini = FromText("[Options]\nShowNTFolder=" + text.toStdString() + "\n");
        const auto v = ui::ReadSettings(ini, ui::AdvancedSettings(), 800, 600);
        QCOMPARE(ValueOf(ui::AdvancedSettings(), v, "Options", "ShowNTFolder"), expected);
    }

    void WritesEveryKeyInTableOrder() {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("advrec.ini")).toStdString();
        platform::TIniFile ini(path);
        std::vector<int> values;
        for (std::size_t i = 0; i < ui::AdvancedSettings().size(); ++i) values.push_back(static_cast<int>(i) + 100);
        values.back() = 0;       // OpenDestDir
        values[values.size() - 2] = 5;  // ShowNTFolder, any non-zero
        ui::WriteSettings(ini, ui::AdvancedSettings(), values);
        ini.UpdateFile();
        std::ifstream in(path);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        QCOMPARE(all, std::string("[Layout]\r\nP4W=100\r\nP8H=101\r\nCol0W=102\r\nCol1W=103\r\nCol2W=104\r\n"
                                  "Col3W=105\r\nCol4W=106\r\nLv2Col0W=107\r\nLv2Col1W=108\r\nLv3Col0W=109\r\n"
                                  "Lv3Col1W=110\r\n[Options]\r\nShowNTFolder=1\r\nOpenDestDir=0\r\n"));
        const platform::TIniFile back(path);
        QCOMPARE(ui::ReadSettings(back, ui::AdvancedSettings(), 1280, 1024)[0], 100);
    }

    void StandardFileWritesSectionsInItsOrder() {
        auto ini = FromText("");
        std::vector<int> values(ui::StandardSettings().size(), 1);
        ui::WriteSettings(ini, ui::StandardSettings(), values);
        QCOMPARE(ini.ReadSections(),
                 (std::vector<std::string>{"Lv1", "Lv2", "Lv3", "Partition List", "Options"}));
    }
};

QTEST_MAIN(Settings)
#include "Settings_test.moc"
