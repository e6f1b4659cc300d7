// The drive health window on simulated drives: the drive list, the identity
// of the chosen drive, the attribute table and its verdict, the selected
// attribute's details, the failures a drive can give, the menus and the
// launcher's button.
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <tuple>

#include "DiskParam.h"
#include "HtmlHelp.h"
#include "MachineProfile.h"
#include "Program.h"
#include "QtPlatform.h"
#include "Recorders.h"
#include "SmartIoctl.h"
#include "SmartMain.h"
#include "System.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "WindowFactory.h"
#include "main.h"

namespace {

constexpr const char* kFourDrives =
    "[smart.0]\nfile=smart-ata.smart\n"
    "[smart.1]\nfile=smart-atapi.smart\n"
    "[smart.2]\nfile=smart-failing.smart\n"
    "[smart.3]\nfile=smart-nothresh.smart\n";

enum Col { ColName, ColId, ColWorst, ColValue, ColThreshold, ColRaw, ColMeaning, ColStatus };

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

platform::SimulatedSmartDrive Fixture(const std::string& name) {
    auto d = platform::LoadSimulatedSmartDrive(vt::test::ImagePath(name));
    if (!d) qFatal("not a drive file: %s", name.c_str());
    return *d;
}

struct AttrRow {
    std::uint8_t id;
    std::uint8_t value;
    std::uint8_t worst;
    std::uint64_t raw;
    std::uint8_t threshold;
};

// Replaces the drive's attribute table (values and thresholds sectors).
void SetAttributes(platform::SimulatedSmartDrive& d, const std::vector<AttrRow>& rows) {
    d.values.fill(0);
    d.thresholds.fill(0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t off = 2 + 12 * i;
        d.values[off] = rows[i].id;
        d.values[off + 3] = rows[i].value;
        d.values[off + 4] = rows[i].worst;
        for (int k = 0; k < 6; ++k) d.values[off + 5 + k] = static_cast<std::uint8_t>(rows[i].raw >> (8 * k));
        d.thresholds[off] = rows[i].id;
        d.thresholds[off + 1] = rows[i].threshold;
    }
}

// Identify words 60 and 61: the 28-bit sector count.
void SetSectors28(platform::SimulatedSmartDrive& d, std::uint32_t count) {
    for (int k = 0; k < 4; ++k) d.identify[120 + k] = static_cast<std::uint8_t>(count >> (8 * k));
}

// ATA text in the identify data: first character of each word in its high byte.
void SetText(platform::SimulatedSmartDrive& d, int word, const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) d.identify[word * 2 + (i ^ 1)] = static_cast<std::uint8_t>(bytes[i]);
}

QString Cell(const TfrmSmart& w, int row, int col) { return w.ListView1->topLevelItem(row)->text(col); }

// The row of an attribute id, null when the table has none.
QTreeWidgetItem* RowOf(const TfrmSmart& w, int id) {
    for (int i = 0; i < w.ListView1->topLevelItemCount(); ++i)
        if (w.ListView1->topLevelItem(i)->text(ColId) == QString::number(id, 16)) return w.ListView1->topLevelItem(i);
    return nullptr;
}

int ImageOf(const QTreeWidgetItem* row) { return row->data(ColName, Qt::UserRole + 1).toInt(); }

QString Padded(const char* model) { return QString::fromLatin1(model).leftJustified(40, QLatin1Char(' ')); }

QString Verdict(int v) { return QStringLiteral(" S.M.A.R.T. 检测报告 ") + U(HealthText[v]); }

// A user's choice of a line of the drive box.
void Choose(TfrmSmart& w, int index) {
    w.ComboBox1->setCurrentIndex(index);
    emit w.ComboBox1->activated(index);
}

}  // namespace

class SmartWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<vt::test::TempDir> dir_;
    std::unique_ptr<TfrmSmart> window_;

    std::string Write(const std::string& name, const platform::SimulatedSmartDrive& d) {
        const std::string path = dir_->Path() + "/" + name;
        const std::vector<std::uint8_t> bytes = platform::FormatSimulatedSmartDrive(d);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) qFatal("cannot write %s", path.c_str());
        std::fclose(f);
        return path;
    }

    // A machine of one simulated drive at number 0.
    void InstallOne(const platform::SimulatedSmartDrive& d) {
        vt::test::InstallProfile("[smart.0]\nfile=" + Write("drive.smart", d) + "\n");
    }

    TfrmSmart& Open(const std::string& profile) {
        vt::test::InstallProfile(profile);
        return Show();
    }

    TfrmSmart& Show() {
        window_ = std::make_unique<TfrmSmart>();
        window_->show();
        return *window_;
    }

private slots:
    void init() { dir_ = std::make_unique<vt::test::TempDir>(); }
    void cleanup() {
        vt::uitest::CloseModalWindows();
        window_.reset();
        dir_.reset();
        // The program's tool windows and help opener, where a test set them.
        for (auto tool : {ui::TTool::StandardRecovery, ui::TTool::AdvancedRecovery, ui::TTool::HealthDiagnosis})
            ui::RegisterToolWindow(tool, {});
        SetSmartHelpOpener({});
    }

    void ListsTheDrivesThatAnswerIdentifyAndShowsTheFirst() {
        TfrmSmart& w = Open(kFourDrives);
        // The model texts, all 40 bytes of them: the blanks that pad them stay.
        QCOMPARE(w.ComboBox1->count(), 4);
        QCOMPARE(w.ComboBox1->itemText(0), Padded("VTSIM HD080 ATA-6"));
        QCOMPARE(w.ComboBox1->itemText(1), Padded("VTSIM DVD-ROM 16X"));
        QCOMPARE(w.ComboBox1->itemText(2), Padded("VTSIM HD160 WORN"));
        QCOMPARE(w.ComboBox1->itemText(3), Padded("VTSIM HD040 NOTHRESH"));
        QCOMPARE(SmartDrives.size(), std::size_t{4});
        for (int n = 0; n < 4; ++n) QCOMPARE(int(SmartDrives[std::size_t(n)].DriveNumber), n);

        QCOMPARE(w.ComboBox1->currentIndex(), 0);
        QCOMPARE(w.Label9->text(), QStringLiteral("74.53 GB"));  // 156301488 sectors
        QCOMPARE(w.Label11->text(), QStringLiteral("VT1.02"));
        QCOMPARE(w.Label13->text(), QStringLiteral("VTS0080A1B2C3"));
        QCOMPARE(w.Label15->text(), U("激活的"));
        QCOMPARE(w.StatusPanel->text(), Verdict(0));
        QCOMPARE(w.ListView1->topLevelItemCount(), 13);
        QCOMPARE(w.Label5->text(), QStringLiteral("No"));  // no row selected yet
    }

    void SendsOnlyIdentifyEnableAndTheTwoReads() {
        vt::test::InstallProfile("[smart.1]\nfile=smart-ata.smart\n");
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        Show();
        platform::DeviceTrace::Enable(false);
        // code, features register, command register of each request
        std::vector<std::tuple<std::uint32_t, int, int>> sent;
        for (const platform::DeviceRequest& r : platform::DeviceTrace::Requests()) {
            QCOMPARE(QString::fromStdString(r.device), QStringLiteral("\\\\.\\PhysicalDrive1"));
            if (r.code == win::SMART_GET_VERSION) sent.emplace_back(r.code, -1, -1);
            else sent.emplace_back(r.code, r.input.at(4), r.input.at(10));
        }
        platform::DeviceTrace::Clear();
        const std::vector<std::tuple<std::uint32_t, int, int>> expected = {
            {win::SMART_GET_VERSION, -1, -1},
            {win::SMART_RCV_DRIVE_DATA, 0x00, 0xEC},      // identify, while the list is built
            {win::SMART_SEND_DRIVE_COMMAND, 0xD8, 0xB0},  // enable
            {win::SMART_RCV_DRIVE_DATA, 0xD0, 0xB0},      // values
            {win::SMART_RCV_DRIVE_DATA, 0xD1, 0xB0},      // thresholds
        };
        QVERIFY(sent == expected);
    }

    // A desktop's block devices: six snap packages on loop devices, an LVM
    // volume over sda2, the SATA disk, the NVMe disk and a USB stick. The
    // window asks drives 0 to 3, and these are the SATA disk, the NVMe disk
    // and the stick (the volume fourth): no snap is asked.
    void ProbesTheRealDisksFirst() {
        vt::test::FakeBlockDevices devices(dir_->Path());
        for (int n = 0; n < 6; ++n)
            devices.Add("loop" + std::to_string(n)).BoundTo("/var/lib/snapd/snaps/app_" + std::to_string(n) + ".snap").ReadOnly();
        devices.Add("dm-0");
        devices.Add("sda", {"sda1", "sda2"});
        devices.Add("nvme0n1", {"nvme0n1p1"});
        devices.Add("sdb", {"sdb1"}).Removable();
        platform::MachineConfig machine;
        platform::Machine::AddRealDevices(machine, devices.SysfsRoot(), devices.DevRoot());
        platform::Machine::Install(std::move(machine));
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        Show();
        platform::DeviceTrace::Enable(false);
        // The device file behind each drive the window asked for its
        // S.M.A.R.T. interface.
        QStringList asked;
        for (const platform::DeviceRequest& r : platform::DeviceTrace::Requests()) {
            if (r.code != win::SMART_GET_VERSION) continue;
            const QString name = QString::fromStdString(r.device);
            QVERIFY(name.startsWith(QStringLiteral("\\\\.\\PhysicalDrive")));
            const platform::PhysicalDriveConfig* drive = platform::Machine::Current().Physical(name.mid(17).toInt());
            QVERIFY(drive);
            asked << QString::fromStdString(drive->source.substr(devices.DevRoot().size() + 1));
        }
        platform::DeviceTrace::Clear();
        QCOMPARE(asked, (QStringList{QStringLiteral("sda"), QStringLiteral("nvme0n1"), QStringLiteral("sdb"),
                                     QStringLiteral("dm-0")}));
    }

    void TheRowsOfTheHealthyDrive() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        // id, name of the id, worst, value, threshold, raw data, meaning, status
        struct Expected {
            int id;
            const char* idText;
            const char* worst;
            const char* value;
            const char* threshold;
            const char* raw;
            const char* meaning;
            const char* status;
        };
        const Expected rows[] = {
            {1, "1", "100", "100", "16", "000000000000", "", "值正常"},
            {4, "4", "100", "100", "0", "0000000004D2", "1234 次", "总是略过"},
            {9, "9", "97", "97", "0", "000000005BA0", "23456", "总是略过"},
            {12, "c", "100", "100", "0", "0000000005F0", "1520 次", "总是略过"},
            {194, "c2", "128", "142", "0", "000000000026", "38 ℃(摄氏度)", "总是略过"},
            {199, "c7", "200", "200", "0", "000000000000", "", "总是略过"},
        };
        for (const Expected& e : rows) {
            QTreeWidgetItem* row = RowOf(w, e.id);
            QVERIFY2(row, e.idText);
            QCOMPARE(row->text(ColName), QString::fromStdString(GetSmartAttrName(e.id)));
            QCOMPARE(row->text(ColId), QString::fromLatin1(e.idText));
            QCOMPARE(row->text(ColWorst), QString::fromLatin1(e.worst));
            QCOMPARE(row->text(ColValue), QString::fromLatin1(e.value));
            QCOMPARE(row->text(ColThreshold), QString::fromLatin1(e.threshold));
            QCOMPARE(row->text(ColRaw), QString::fromLatin1(e.raw));
            QCOMPARE(row->text(ColMeaning), U(e.meaning));
            QCOMPARE(row->text(ColStatus), U(e.status));
            QCOMPARE(ImageOf(row), 0);
            QVERIFY(!row->icon(ColName).isNull());
        }
        // In the order of the drive's table.
        QCOMPARE(Cell(w, 0, ColId), QStringLiteral("1"));
        QCOMPARE(Cell(w, 12, ColId), QStringLiteral("c7"));
    }

    void StatusAndColumnsOfOneAttribute_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<qulonglong>("raw");
        QTest::addColumn<QString>("raw_text");
        QTest::addColumn<QString>("meaning");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("image");
        QTest::addColumn<int>("verdict");
        const QString normal = U("值正常"), danger = U("危险的"), skipped = U("总是略过");
        QTest::newRow("value at threshold") << 5 << 100 << 100 << 0ULL << "000000000000" << "" << danger << 3 << 2;
        QTest::newRow("value above") << 5 << 101 << 100 << 0ULL << "000000000000" << "" << normal << 0 << 0;
        QTest::newRow("value below") << 7 << 20 << 67 << 0ULL << "000000000000" << "" << danger << 3 << 2;
        QTest::newRow("no threshold, value 0") << 5 << 0 << 0 << 0ULL << "000000000000" << "" << skipped << 0 << 0;
        // Compared as unsigned bytes.
        QTest::newRow("value 253, threshold 254") << 1 << 253 << 254 << 0ULL << "000000000000" << "" << danger << 3 << 2;
        QTest::newRow("value 254, threshold 253") << 1 << 254 << 253 << 0ULL << "000000000000" << "" << normal << 0 << 0;
        QTest::newRow("temperature 40") << 194 << 100 << 0 << 40ULL << "000000000028" << U("40 ℃(摄氏度)") << skipped << 0 << 0;
        // Only the low 16 bits are the temperature (the rest: minimum, maximum).
        QTest::newRow("temperature with limits") << 194 << 100 << 0 << 0x003700140021ULL << "003700140021"
                                                 << U("33 ℃(摄氏度)") << skipped << 0 << 0;
        QTest::newRow("hours 1234") << 9 << 99 << 0 << 1234ULL << "0000000004D2" << "1234" << skipped << 0 << 0;
        // The low 32 bits, unsigned.
        QTest::newRow("hours, 48 bits") << 9 << 99 << 0 << 0xABCDFFFFFFFFULL << "ABCDFFFFFFFF" << "4294967295"
                                        << skipped << 0 << 0;
        QTest::newRow("start/stop") << 4 << 99 << 0 << 7ULL << "000000000007" << U("7 次") << skipped << 0 << 0;
        QTest::newRow("power cycles") << 12 << 99 << 0 << 3000000000ULL << "0000B2D05E00" << U("3000000000 次")
                                      << skipped << 0 << 0;
        QTest::newRow("retracts") << 192 << 99 << 0 << 0x010000000002ULL << "010000000002" << U("2 次") << skipped
                                  << 0 << 0;
        QTest::newRow("other id, raw shown only") << 197 << 100 << 0 << 12ULL << "00000000000C" << "" << skipped << 0
                                                  << 0;
    }
    void StatusAndColumnsOfOneAttribute() {
        QFETCH(int, id);
        QFETCH(int, value);
        QFETCH(int, threshold);
        QFETCH(qulonglong, raw);
        QFETCH(QString, raw_text);
        QFETCH(QString, meaning);
        QFETCH(QString, status);
        QFETCH(int, image);
        QFETCH(int, verdict);
        platform::SimulatedSmartDrive d = Fixture("smart-ata.smart");
        SetAttributes(d, {{1, 100, 100, 0, 16},
                          {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(value), 90, raw,
                           static_cast<std::uint8_t>(threshold)}});
        InstallOne(d);
        TfrmSmart& w = Show();
        QCOMPARE(w.ListView1->topLevelItemCount(), 2);
        QCOMPARE(Cell(w, 1, ColValue), QString::number(value));
        QCOMPARE(Cell(w, 1, ColWorst), QStringLiteral("90"));
        QCOMPARE(Cell(w, 1, ColThreshold), QString::number(threshold));
        QCOMPARE(Cell(w, 1, ColRaw), raw_text);
        QCOMPARE(Cell(w, 1, ColMeaning), meaning);
        QCOMPARE(Cell(w, 1, ColStatus), status);
        QCOMPARE(ImageOf(w.ListView1->topLevelItem(1)), image);
        QCOMPARE(w.StatusPanel->text(), Verdict(verdict));
        QCOMPARE(FillSmartTable(0, w.ListView1), verdict);
    }

    void EmptyEntriesAreSkippedWhereverTheyStand() {
        platform::SimulatedSmartDrive d = Fixture("smart-ata.smart");
        SetAttributes(d, {{0, 100, 100, 5, 10}, {3, 100, 100, 0, 24}, {0, 1, 1, 0, 0}, {5, 100, 100, 0, 5}});
        // The last of the 30 entries counts too.
        d.values[2 + 12 * 29] = 0xFA;
        d.values[2 + 12 * 29 + 3] = 100;
        d.thresholds[2 + 12 * 29 + 1] = 0;
        InstallOne(d);
        TfrmSmart& w = Show();
        QCOMPARE(w.ListView1->topLevelItemCount(), 3);
        QCOMPARE(Cell(w, 0, ColId), QStringLiteral("3"));
        QCOMPARE(Cell(w, 1, ColId), QStringLiteral("5"));
        QCOMPARE(Cell(w, 2, ColId), QStringLiteral("fa"));
        QCOMPARE(Cell(w, 2, ColStatus), U("总是略过"));
    }

    void TheFailingDriveGetsTheThirdVerdict() {
        TfrmSmart& w = Open(kFourDrives);
        Choose(w, 2);
        QCOMPARE(w.Label9->text(), QStringLiteral("128.00 GB"));  // the 28-bit count at its maximum
        QCOMPARE(w.Label11->text(), QStringLiteral("VT3.10"));
        QCOMPARE(w.Label13->text(), QStringLiteral("VTS0160F9E8D7"));
        QCOMPARE(w.ListView1->topLevelItemCount(), 11);
        QTreeWidgetItem* reallocated = RowOf(w, 5);
        QCOMPARE(reallocated->text(ColValue), QStringLiteral("5"));
        QCOMPARE(reallocated->text(ColThreshold), QStringLiteral("5"));
        QCOMPARE(reallocated->text(ColStatus), U("危险的"));
        QCOMPARE(ImageOf(reallocated), 3);
        QCOMPARE(RowOf(w, 1)->text(ColStatus), U("值正常"));
        QCOMPARE(w.Label15->text(), U("激活的"));
        QCOMPARE(w.StatusPanel->text(), Verdict(2));
    }

    void CapacityFromThe28BitCount_data() {
        QTest::addColumn<quint32>("sectors");
        QTest::addColumn<QString>("capacity");
        QTest::newRow("28-bit maximum") << 268435455u << "128.00 GB";
        QTest::newRow("16514064") << 16514064u << "7.87 GB";
        QTest::newRow("none") << 0u << "0.00 GB";
        // Unsigned: a count with the top bit set is not negative.
        QTest::newRow("top bit set") << 0x80000000u << "1024.00 GB";
    }
    void CapacityFromThe28BitCount() {
        QFETCH(quint32, sectors);
        QFETCH(QString, capacity);
        platform::SimulatedSmartDrive d = Fixture("smart-ata.smart");
        SetSectors28(d, sectors);
        InstallOne(d);
        QCOMPARE(Show().Label9->text(), capacity);
    }

    void FirmwareAndSerialAreTrimmedTheModelIsNot() {
        platform::SimulatedSmartDrive d = Fixture("smart-ata.smart");
        SetText(d, 10, std::string("\t  SER 42  \x01\x02  ", 16) + std::string(4, '\0'));
        SetText(d, 23, std::string(" F W\r\n\0\0", 8));
        SetText(d, 27, "  LEADING AND TRAILING  " + std::string(16, ' '));
        InstallOne(d);
        TfrmSmart& w = Show();
        QCOMPARE(w.Label13->text(), QStringLiteral("SER 42"));
        QCOMPARE(w.Label11->text(), QStringLiteral("F W"));
        QCOMPARE(w.ComboBox1->itemText(0), Padded("  LEADING AND TRAILING"));
    }

    void FirmwareAndSerialLedByNulBytes_data() {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<QString>("serialText");
        QTest::addColumn<QString>("firmwareText");
        QTest::newRow("NULs before the text") << QByteArray("\0\0\0\0\0WD-WCC4E1234567", 20)
                                              << QByteArray("\0\0" "81.0A", 8) << "WD-WCC4E1234567" << "81.0A";
        QTest::newRow("NULs and blanks around the text")
            << QByteArray("\0 \0 S1D5NX0H\0\0\0\0\0\0\0\0\0\0\0", 20) << QByteArray("\0 EXT0\0 \0", 8) << "S1D5NX0H" << "EXT0";
        QTest::newRow("all NUL") << QByteArray(20, '\0') << QByteArray(8, '\0') << "" << "";
    }
    void FirmwareAndSerialLedByNulBytes() {
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, firmware);
        QFETCH(QString, serialText);
        QFETCH(QString, firmwareText);
        platform::SimulatedSmartDrive d = Fixture("smart-ata.smart");
        SetText(d, 10, serial.toStdString());
        SetText(d, 23, firmware.toStdString());
        InstallOne(d);
        TfrmSmart& w = Show();
        QCOMPARE(w.Label13->text(), serialText);
        QCOMPARE(w.Label11->text(), firmwareText);
        QCOMPARE(w.StatusPanel->text(), Verdict(0));  // the drive is read as before
    }

    void DrivesZeroAndTwoListInOrderAndTheSecondLineReadsDriveTwo() {
        TfrmSmart& w = Open("[smart.2]\nfile=smart-failing.smart\n[smart.0]\nfile=smart-ata.smart\n");
        QCOMPARE(w.ComboBox1->count(), 2);
        QCOMPARE(w.ComboBox1->itemText(0), Padded("VTSIM HD080 ATA-6"));
        QCOMPARE(w.ComboBox1->itemText(1), Padded("VTSIM HD160 WORN"));
        QCOMPARE(int(SmartDrives[1].DriveNumber), 2);
        Choose(w, 1);
        QCOMPARE(w.Label13->text(), QStringLiteral("VTS0160F9E8D7"));
        QCOMPARE(w.ListView1->topLevelItemCount(), 11);
        QCOMPARE(w.StatusPanel->text(), Verdict(2));
        Choose(w, 0);
        QCOMPARE(w.ListView1->topLevelItemCount(), 13);
        QCOMPARE(w.StatusPanel->text(), Verdict(0));
    }

    // A device that answers identify but refuses the rest: an ATAPI device,
    // a drive that refuses enable, one that refuses a read.
    void DriveThatRefuses_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("refuse");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("serial");
        QTest::newRow("ATAPI device") << "smart-atapi.smart" << "" << "" << "VTD0016X0042";
        QTest::newRow("enable") << "smart-ata.smart" << "d8" << "" << "VTS0080A1B2C3";
        QTest::newRow("values") << "smart-ata.smart" << "d0" << U("读取属性错误。") << "VTS0080A1B2C3";
        QTest::newRow("thresholds") << "smart-nothresh.smart" << "" << U("读取极限错误。") << "VTS0040N0T4R";
    }
    void DriveThatRefuses() {
        QFETCH(QString, file);
        QFETCH(QString, refuse);
        QFETCH(QString, box);
        QFETCH(QString, serial);
        platform::SimulatedSmartDrive refusing = Fixture(file.toStdString());
        if (!refuse.isEmpty()) refusing.refused.push_back(static_cast<std::uint8_t>(refuse.toUInt(nullptr, 16)));
        // The healthy drive at 0 fills the table first; the refusing one is
        // drive 1.
        vt::test::InstallProfile("[smart.0]\nfile=smart-ata.smart\n[smart.1]\nfile=" +
                                 Write("refusing.smart", refusing) + "\n");
        platform::MessageBoxRecorder boxes;
        TfrmSmart& w = Show();
        QCOMPARE(w.ComboBox1->count(), 2);
        QCOMPARE(w.ListView1->topLevelItemCount(), 13);
        Choose(w, 1);
        QCOMPARE(w.ListView1->topLevelItemCount(), 0);
        QCOMPARE(w.StatusPanel->text(), QString());
        QCOMPARE(w.Label15->text(), QString());
        // The identity of the chosen drive is shown all the same.
        QCOMPARE(w.Label13->text(), serial);
        if (box.isEmpty()) {
            QCOMPARE(boxes.calls.size(), std::size_t{0});
        } else {
            QCOMPARE(boxes.calls.size(), std::size_t{1});
            QCOMPARE(QString::fromStdString(boxes.calls[0].text), box);
            QCOMPARE(boxes.calls[0].type, win::UINT(win::MB_OK | win::MB_ICONERROR));
        }
        QCOMPARE(FillSmartTable(1, w.ListView1), -1);
    }

    void ADriveThatNoLongerOpensKeepsThePreviousRows() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n[smart.1]\nfile=smart-failing.smart\n");
        QCOMPARE(w.ListView1->topLevelItemCount(), 13);
        // Drive 1 goes away behind the window's back.
        vt::test::InstallProfile("[smart.0]\nfile=smart-ata.smart\n");
        platform::MessageBoxRecorder boxes;
        Choose(w, 1);
        QCOMPARE(w.ListView1->topLevelItemCount(), 13);
        QCOMPARE(Cell(w, 0, ColId), QStringLiteral("1"));
        QCOMPARE(w.Label13->text(), QStringLiteral("VTS0160F9E8D7"));
        QCOMPARE(w.Label15->text(), QString());
        QCOMPARE(w.StatusPanel->text(), QString());
        QCOMPARE(boxes.calls.size(), std::size_t{0});
    }

    void RefreshWithNoDriveLeavesTheLabelsAndTheTable() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-failing.smart\n");
        QCOMPARE(w.ListView1->topLevelItemCount(), 11);
        vt::test::InstallProfile("[machine]\nhide_real_devices=1\n");
        w.RefreshDriveList1->trigger();
        QCOMPARE(w.ComboBox1->count(), 0);
        QVERIFY(SmartDrives.empty());
        QCOMPARE(w.ListView1->topLevelItemCount(), 11);
        QCOMPARE(w.Label13->text(), QStringLiteral("VTS0160F9E8D7"));
        QCOMPARE(w.StatusPanel->text(), Verdict(2));
    }

    void RefreshProbesAgainAndShowsTheFirstDriveFound() {
        TfrmSmart& w = Open("[smart.3]\nfile=smart-failing.smart\n");
        QCOMPARE(w.ComboBox1->count(), 1);
        vt::test::InstallProfile("[smart.1]\nfile=smart-ata.smart\n[smart.3]\nfile=smart-failing.smart\n");
        w.RefreshDriveList1->trigger();
        QCOMPARE(w.ComboBox1->count(), 2);
        QCOMPARE(w.ComboBox1->currentIndex(), 0);
        QCOMPARE(w.Label13->text(), QStringLiteral("VTS0080A1B2C3"));
        QCOMPARE(w.StatusPanel->text(), Verdict(0));
        QCOMPARE(int(SmartDrives[0].DriveNumber), 1);
        QCOMPARE(int(SmartDrives[1].DriveNumber), 3);
    }

    void Windows9xWithoutTheDriverBoxesOncePerDriveProbed() {
        platform::MessageBoxRecorder boxes;
        TfrmSmart& w = Open("[machine]\nhide_real_devices=1\nfamily=9x\nsmartvsd=missing\n" + std::string(kFourDrives));
        QCOMPARE(w.ComboBox1->count(), 0);
        QCOMPARE(boxes.calls.size(), std::size_t{4});
        for (const auto& call : boxes.calls) {
            QCOMPARE(QString::fromStdString(call.text), U("无法打开 'SmartVSD.vxd'."));
            QCOMPARE(call.type, win::UINT(win::MB_OK | win::MB_ICONERROR));
        }
    }

    void Windows9xReadsThroughTheDriverAndColoursTheStatusBar() {
        TfrmSmart& w = Open("[machine]\nhide_real_devices=1\nfamily=9x\n" + std::string(kFourDrives));
        QCOMPARE(w.ComboBox1->count(), 4);
        QCOMPARE(w.StatusPanel->text(), Verdict(0));
        Choose(w, 2);
        QCOMPARE(w.StatusPanel->text(), Verdict(2));
        QVERIFY(w.StatusBar1->autoFillBackground());
        QCOMPARE(w.StatusBar1->palette().color(QPalette::Window), QColor(236, 233, 216));
    }

    void OnNtTheStatusBarKeepsItsSystemColour() {
        TfrmSmart& w = Open(kFourDrives);
        QVERIFY(!w.StatusBar1->autoFillBackground());
    }

    void SelectingARowShowsItsDetails_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("label7");
        QTest::addColumn<QString>("pw");
        QTest::newRow("id 5, with threshold") << 5 << "05" << U("好");
        QTest::newRow("id 194, no threshold") << 194 << "C2" << U("否");
        QTest::newRow("id 1") << 1 << "01" << U("好");
        QTest::newRow("id 199") << 199 << "C7" << U("否");
    }
    void SelectingARowShowsItsDetails() {
        QFETCH(int, id);
        QFETCH(QString, label7);
        QFETCH(QString, pw);
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        QTreeWidgetItem* row = RowOf(w, id);
        QVERIFY(row);
        row->setSelected(true);
        QCOMPARE(w.Label2->text(), QString::fromStdString(GetSmartAttrName(id)));
        QCOMPARE(w.Label7->text(), label7);
        QCOMPARE(w.Memo1->toPlainText(), QString::fromStdString(GetSmartAttrDescription(id)));
        QCOMPARE(w.Label5->text(), pw);
    }

    void DetailsStayUntilAnotherRowIsSelected() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n[smart.1]\nfile=smart-failing.smart\n");
        QTest::mouseClick(w.ListView1->viewport(), Qt::LeftButton, {},
                          w.ListView1->visualItemRect(RowOf(w, 194)).center());
        QCOMPARE(w.Label7->text(), QStringLiteral("C2"));
        Choose(w, 1);  // the table is rebuilt, nothing is selected
        QVERIFY(w.ListView1->selectedItems().isEmpty());
        QCOMPARE(w.Label7->text(), QStringLiteral("C2"));
        QCOMPARE(w.Label5->text(), U("否"));
        w.ListView1->setCurrentItem(RowOf(w, 5));
        QCOMPARE(w.Label7->text(), QStringLiteral("05"));
        QCOMPARE(w.Label5->text(), U("好"));
        w.ListView1->clearSelection();
        QCOMPARE(w.Label7->text(), QStringLiteral("05"));
    }

    void RowColours() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        const QColor white(255, 255, 255), blue(244, 244, 255), yellow(255, 255, 208);
        QCOMPARE(w.ListView1CustomDrawItem(0, false), white);
        QCOMPARE(w.ListView1CustomDrawItem(1, false), blue);
        QCOMPARE(w.ListView1CustomDrawItem(2, false), white);
        QCOMPARE(w.ListView1CustomDrawItem(5, false), blue);
        QCOMPARE(w.ListView1CustomDrawItem(1, true), yellow);
        QCOMPARE(w.ListView1CustomDrawItem(4, true), yellow);

        // As drawn: the blank right end of each row's "Status" cell.
        w.ListView1->topLevelItem(4)->setSelected(true);
        const QImage shot = w.ListView1->viewport()->grab().toImage();
        const qreal dpr = shot.devicePixelRatio();
        auto colourOf = [&](int row) {
            const QRect cell = w.ListView1->visualItemRect(w.ListView1->topLevelItem(row));
            const int x = w.ListView1->header()->sectionViewportPosition(ColStatus) + 95;
            return QColor(shot.pixel(QPoint(x, cell.center().y()) * dpr));
        };
        QCOMPARE(colourOf(0), white);
        QCOMPARE(colourOf(1), blue);
        QCOMPARE(colourOf(2), white);
        QCOMPARE(colourOf(3), blue);
        QCOMPARE(colourOf(4), yellow);
        QCOMPARE(colourOf(5), blue);
    }

    void AFocusedSelectedRowIsFlatLightYellow() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Every pixel of the row at the right end of each cell, over the row's
        // height: no tint, outline or focus frame over the yellow.
        auto offColours = [&](int row) {
            const QImage shot = w.ListView1->viewport()->grab().toImage();
            const qreal dpr = shot.devicePixelRatio();
            const QRect rect = w.ListView1->visualItemRect(w.ListView1->topLevelItem(row));
            int off = 0;
            for (int col = 0; col < 8; ++col) {
                const int right = w.ListView1->header()->sectionViewportPosition(col) + w.ListView1->columnWidth(col);
                for (int y = rect.top(); y <= rect.bottom(); ++y)
                    for (int x = right - 5; x < right - 1; ++x)
                        off += QColor(shot.pixel(QPoint(x, y) * dpr)) != QColor(255, 255, 208);
            }
            return off;
        };
        const QRect third = w.ListView1->visualItemRect(w.ListView1->topLevelItem(3));
        QTest::mouseClick(w.ListView1->viewport(), Qt::LeftButton, {}, third.center());
        QVERIFY(w.ListView1->hasFocus());
        QVERIFY(w.ListView1->topLevelItem(3)->isSelected());
        QCOMPARE(offColours(3), 0);
        QTest::keyClick(w.ListView1, Qt::Key_Down);  // the keys bring the focus frame out
        QVERIFY(w.ListView1->topLevelItem(4)->isSelected());
        QCOMPARE(offColours(4), 0);
        w.ComboBox1->setFocus();
        QCOMPARE(offColours(4), 0);
    }

    void LayoutCaptionsAndColours() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        QCOMPARE(w.windowTitle(), QStringLiteral("Vantrel - IDE HDD Health Diagnosis"));
        QVERIFY(w.windowState() & Qt::WindowMaximized);
        QCOMPARE(w.GroupBox1->title(), QStringLiteral(" Detected Hard Drives:") + QString(71, QLatin1Char(' ')));
        const QStringList columns = {"Attrubute Name", "ID", "Worst", "Value", "Threshold", "Raw Data", "Meaning", "Status"};
        const int widths[] = {240, 35, 60, 60, 70, 120, 90, 100};
        QCOMPARE(w.ListView1->columnCount(), 8);
        for (int c = 0; c < 8; ++c) {
            QCOMPARE(w.ListView1->headerItem()->text(c), columns[c]);
            QCOMPARE(w.ListView1->columnWidth(c), widths[c]);
        }
        QCOMPARE(w.ListView1->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(w.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QStringList texts;
        for (QLabel* l : w.findChildren<QLabel*>()) texts << l->text();
        for (const char* t : {"Capacity", "Firmware Revision", "Serial Number", "S.M.A.R.T.", "Attrubite Name: ",
                              "Attribute ID:", "Brief Desc:", "PW Attribute:", "Value Normal",
                              "Warning! Backup Important Data", "Dangerous! Replace This HDD"})
            QVERIFY2(texts.contains(QString::fromLatin1(t)), t);
        QVERIFY(w.Memo1->isReadOnly());
        QCOMPARE(w.Memo1->frameShape(), QFrame::NoFrame);
        QCOMPARE(w.ImageList1.size(), 4);
        for (const QIcon& icon : w.ImageList1) QCOMPARE(icon.availableSizes().value(0), QSize(16, 16));
        // The legend's pictures are the row images of its three states.
        const QList<QLabel*> legend = w.Panel3->findChildren<QLabel*>();
        int pictures = 0;
        for (QLabel* l : legend) pictures += !l->pixmap().isNull();
        QCOMPARE(pictures, 3);
        const QColor face(236, 233, 216);
        for (QWidget* part : {static_cast<QWidget*>(&w), w.centralWidget(), w.Panel3, static_cast<QWidget*>(w.ToolBar1)})
            QCOMPARE(part->palette().color(QPalette::Window), face);
        QCOMPARE(w.Memo1->palette().color(QPalette::Base), face);
    }

    void MenusAndToolBar() {
        TfrmSmart& w = Open("[machine]\nhide_real_devices=1\n");
        QCOMPARE(w.ToolButton1->text(), QStringLiteral("Drive "));
        QCOMPARE(w.ToolButton2->text(), QStringLiteral("Help"));
        QCOMPARE(w.ToolButton1->menu(), w.Drive1);
        QCOMPARE(w.ToolButton2->menu(), w.Help1);
        const QList<QAction*> drive = w.Drive1->actions();
        QCOMPARE(drive.size(), 3);
        QCOMPARE(drive[0]->text(), QStringLiteral("Refresh Drive List"));
        QVERIFY(drive[1]->isSeparator());
        QCOMPARE(drive[2], w.acClose);
        QCOMPARE(w.acClose->text(), QStringLiteral("Close"));
        QCOMPARE(w.acClose->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
        QCOMPARE(w.Help1->actions(), QList<QAction*>{w.help});
        QCOMPARE(w.help->text(), QStringLiteral("Content"));
        QCOMPARE(w.help->shortcut(), QKeySequence(Qt::Key_F1));
    }

    void MenuButtonsAndItemsLeaveTheVerdictInTheStatusBar() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto verdictShown = [&](const char* where) {
            QVERIFY2(w.StatusBar1->currentMessage().isEmpty(), where);
            QVERIFY2(w.StatusPanel->isVisible(), where);
            QCOMPARE(w.StatusPanel->text(), Verdict(0));
        };
        for (QToolButton* button : {w.ToolButton1, w.ToolButton2}) {
            QTest::mouseMove(button, button->rect().center());
            QCoreApplication::processEvents();
            verdictShown("button");
            QVERIFY(vt::uitest::HoverMenuItems(button->menu(), &w));
            verdictShown("menu");
            button->menu()->close();
        }
    }

    void F1OpensTheHealthTopicOfTheHelp() {
        QWidget* owner = nullptr;
        std::string path, topic;
        int calls = 0;
        SetSmartHelpOpener([&](QWidget* o, const std::string& p, const std::string& t) {
            owner = o;
            path = p;
            topic = t;
            ++calls;
        });
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(w.ListView1, Qt::Key_F1);
        QCOMPARE(calls, 1);
        QCOMPARE(owner, static_cast<QWidget*>(&w));
        QCOMPARE(path, AppDir + "Vantrel.chm");
        QCOMPARE(topic, std::string("Smart.htm"));
        w.help->trigger();  // the menu item
        QCOMPARE(calls, 2);
    }

    void F1WithTheProgramsOpenerShowsTheHealthPage() {
        ui::RegisterToolWindows();
        TfrmSmart& w = Open("[machine]\nhide_real_devices=1\n");
        w.AppDirectory = VT_HELP_DIR;
        w.help->trigger();
        ui::THelpViewer* viewer = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<ui::THelpViewer*>(top); v && v->isVisible()) viewer = v;
        QVERIFY(viewer);
        QCOMPARE(viewer->Browser()->documentTitle(), QStringLiteral("IDE HDD Health Diagnosis"));
        QVERIFY(viewer->Browser()->toPlainText().contains(QStringLiteral("NVMe")));
        viewer->close();
    }

    void HelpWithoutAnOpenerDoesNothing() {
        TfrmSmart& w = Open("[machine]\nhide_real_devices=1\n");
        w.help->trigger();
        QVERIFY(w.isVisible());
    }

    void CtrlXCloses() {
        TfrmSmart& w = Open("[smart.0]\nfile=smart-ata.smart\n");
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(w.ListView1, Qt::Key_X, Qt::ControlModifier);
        QVERIFY(!w.isVisible());
    }

    void PwButtonExplainsPreFailureAttributes() {
        TfrmSmart& w = Open("[machine]\nhide_real_devices=1\n");
        ui::InstallPlatformHooks();
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        vt::uitest::ModalDriver driver({[&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            text = box->text();
            icon = box->icon();
            buttons = box->buttons();
            box->button(QMessageBox::Ok)->click();
        }});
        QTest::mouseClick(w.SpeedButton1, Qt::LeftButton);
        ui::RemovePlatformHooks();
        QCOMPARE(driver.StepsRun(), 1);
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(buttons.size(), 1);
        QVERIFY(text.startsWith(U("PW 属性 (前故障预报属性) - 显示对即将面临数据丢失的")));
        QVERIFY(text.endsWith(U("故障(主要根据是否超过门限预测) 发生前的属性预测。 ")));

        platform::MessageBoxRecorder boxes;
        w.SpeedButton1Click();
        QCOMPARE(boxes.calls.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(boxes.calls[0].text),
                 U("PW 属性 (前故障预报属性) - 显示对即将面临数据丢失的\r故障(主要根据是否超过门限预测) 发生前的属性预测。 "));
        QCOMPARE(boxes.calls[0].type, win::UINT(win::MB_OK | win::MB_ICONINFORMATION));
    }

    void TheLauncherOpensItModalMaximisedAndFreesIt() {
        vt::test::InstallProfile("[smart.0]\nfile=smart-failing.smart\n");
        ui::RegisterToolWindows();
        TfrmVtMain launcher;
        launcher.show();
        QVERIFY(QTest::qWaitForWindowExposed(&launcher));
        QPointer<TfrmSmart> seen;
        bool modal = false, maximised = false, ownerless = false;
        QString status;
        vt::uitest::ModalDriver driver({[&](QWidget* w) {
            seen = qobject_cast<TfrmSmart*>(w);
            QVERIFY(seen);
            modal = w->windowModality() == Qt::ApplicationModal;
            maximised = w->windowState() & Qt::WindowMaximized;
            ownerless = !w->parentWidget();
            status = seen->StatusPanel->text();
            seen->acClose->trigger();
        }});
        QTest::mouseClick(launcher.SpeedButton3, Qt::LeftButton);
        QCOMPARE(driver.StepsRun(), 1);
        QVERIFY(modal);
        QVERIFY(maximised);
        QVERIFY(ownerless);
        QCOMPARE(status, Verdict(2));
        QVERIFY(!seen);  // freed when it closed
    }
};

QTEST_MAIN(SmartWindow)
#include "SmartMain_test.moc"
