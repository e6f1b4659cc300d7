#include "SmartIoctl.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Bytes.h"
#include "TestSupport.h"
#include "WinApi.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::Cdb16;
using platform::SimulatedSmartDrive;

win::IDEREGS Regs(std::uint8_t features, std::uint8_t cylLow, std::uint8_t cylHigh, std::uint8_t driveHead,
                  std::uint8_t command) {
    return win::IDEREGS{features, 1, 1, cylLow, cylHigh, driveHead, command, 0};
}
win::IDEREGS SmartRegs(std::uint8_t features, std::uint8_t driveHead = 0xA0) {
    return Regs(features, 0x4F, 0xC2, driveHead, 0xB0);
}
win::IDEREGS IdentifyRegs(std::uint8_t command, std::uint8_t driveHead = 0xA0) {
    return Regs(0, 0, 0, driveHead, command);
}

SimulatedSmartDrive SampleDrive(bool atapi) {
    SimulatedSmartDrive d;
    d.atapi = atapi;
    for (int i = 0; i < 512; ++i) {
        d.identify[i] = static_cast<std::uint8_t>(i);
        d.values[i] = static_cast<std::uint8_t>(i * 3);
        d.thresholds[i] = static_cast<std::uint8_t>(i * 7);
    }
    return d;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

Bytes Concat(const std::string& header, std::size_t bodyBytes) {
    Bytes b(header.begin(), header.end());
    b.resize(b.size() + bodyBytes, 0x33);
    return b;
}

TEST(SimulatedSmartFile, RoundTripsThroughItsFormat) {
    SimulatedSmartDrive d = SampleDrive(true);
    d.refused = {0xD1, 0x08};
    const Bytes file = platform::FormatSimulatedSmartDrive(d);
    const std::string header = "VTSMART 1 device=atapi refuse=d1,08\n";
    ASSERT_EQ(file.size(), header.size() + 1536);
    EXPECT_EQ(std::string(file.begin(), file.begin() + static_cast<long>(header.size())), header);
    auto back = platform::ParseSimulatedSmartDrive(file);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->atapi);
    EXPECT_EQ(back->refused, d.refused);
    EXPECT_EQ(back->identify, d.identify);
    EXPECT_EQ(back->values, d.values);
    EXPECT_EQ(back->thresholds, d.thresholds);
}

TEST(SimulatedSmartFile, ReadsTheHeaderKeys) {
    struct Case {
        const char* name;
        std::string header;
        bool valid;
        bool atapi;
        Bytes refused;
    };
    const Case cases[] = {
        {"no keys: an ATA drive", "VTSMART 1\n", true, false, {}},
        {"ata", "VTSMART 1 device=ata\n", true, false, {}},
        {"atapi", "VTSMART 1 device=atapi\n", true, true, {}},
        {"refused subcommands", "VTSMART 1 refuse=D8,d0\n", true, false, {0xD8, 0xD0}},
        {"unknown device", "VTSMART 1 device=scsi\n", false, false, {}},
        {"unknown key", "VTSMART 1 colour=red\n", false, false, {}},
        {"bad hex", "VTSMART 1 refuse=dz\n", false, false, {}},
        {"hex too long", "VTSMART 1 refuse=1d8\n", false, false, {}},
        {"other magic", "VTSMART 2 device=ata\n", false, false, {}},
        {"no magic", "device=ata\n", false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = platform::ParseSimulatedSmartDrive(Concat(c.header, 1536));
        ASSERT_EQ(d.has_value(), c.valid);
        if (!d) continue;
        EXPECT_EQ(d->atapi, c.atapi);
        EXPECT_EQ(d->refused, c.refused);
    }
}

TEST(SimulatedSmartFile, RefusesFilesOfAnotherLength) {
    EXPECT_FALSE(platform::ParseSimulatedSmartDrive(Concat("VTSMART 1\n", 1535)));
    EXPECT_FALSE(platform::ParseSimulatedSmartDrive(Concat("VTSMART 1\n", 1537)));
    EXPECT_FALSE(platform::ParseSimulatedSmartDrive(Concat("VTSMART 1", 0)));
    EXPECT_FALSE(platform::ParseSimulatedSmartDrive(Bytes{}));
    // A header line must end within its first 256 bytes.
    EXPECT_FALSE(platform::ParseSimulatedSmartDrive(Concat("VTSMART 1" + std::string(300, ' ') + "\n", 1536)));
    EXPECT_FALSE(platform::LoadSimulatedSmartDrive("/nonexistent/drive.smart"));
}

TEST(SimulatedSmartFile, TheGeneratedDrivesAreDriveFiles) {
    for (const char* name : {"smart-ata.smart", "smart-failing.smart", "smart-atapi.smart", "smart-nothresh.smart"}) {
        SCOPED_TRACE(name);
        auto d = platform::LoadSimulatedSmartDrive(vt::test::ImagePath(name));
        ASSERT_TRUE(d);
        // Identify data end in the signature 0xA5 and a checksum byte that
        // makes the sector sum to zero.
        EXPECT_EQ(d->identify[510], 0xA5);
        unsigned sum = 0;
        for (std::uint8_t b : d->identify) sum += b;
        EXPECT_EQ(sum % 256, 0u);
    }
    EXPECT_TRUE(platform::LoadSimulatedSmartDrive(vt::test::ImagePath("smart-atapi.smart"))->atapi);
    EXPECT_EQ(platform::LoadSimulatedSmartDrive(vt::test::ImagePath("smart-nothresh.smart"))->refused, Bytes{0xD1});
}

enum class Answer { Identify, Values, Thresholds, Accepted, Aborted };

TEST(SimulatedSmartDrive, AnswersAsAnAtaOrAtapiDevice) {
    struct Case {
        const char* name;
        bool atapi;
        std::uint32_t code;
        win::IDEREGS regs;
        std::uint32_t dataSize;
        Answer answer;
    };
    constexpr auto RCV = win::SMART_RCV_DRIVE_DATA;
    constexpr auto SEND = win::SMART_SEND_DRIVE_COMMAND;
    const Case cases[] = {
        {"ATA identify", false, RCV, IdentifyRegs(0xEC), 512, Answer::Identify},
        {"ATA identify as slave", false, RCV, IdentifyRegs(0xEC, 0xB0), 512, Answer::Identify},
        {"ATA refuses identify packet", false, RCV, IdentifyRegs(0xA1), 512, Answer::Aborted},
        {"ATA enable", false, SEND, SmartRegs(0xD8), 0, Answer::Accepted},
        {"ATA read values", false, RCV, SmartRegs(0xD0), 512, Answer::Values},
        {"ATA read thresholds", false, RCV, SmartRegs(0xD1), 512, Answer::Thresholds},
        {"enable needs no data", false, RCV, SmartRegs(0xD8), 512, Answer::Aborted},
        {"a read needs a sector", false, SEND, SmartRegs(0xD0), 0, Answer::Aborted},
        {"a read of fewer bytes", false, RCV, SmartRegs(0xD0), 256, Answer::Aborted},
        {"no signature", false, RCV, Regs(0xD0, 0, 0, 0xA0, 0xB0), 512, Answer::Aborted},
        {"return status is not answered", false, SEND, SmartRegs(0xDA), 0, Answer::Aborted},
        {"write log", false, SEND, SmartRegs(0xD6), 512, Answer::Aborted},
        {"read sectors", false, RCV, Regs(0, 1, 0, 0xE0, 0x20), 512, Answer::Aborted},
        {"ATAPI identify packet", true, RCV, IdentifyRegs(0xA1), 512, Answer::Identify},
        {"ATAPI refuses identify", true, RCV, IdentifyRegs(0xEC), 512, Answer::Aborted},
        {"ATAPI refuses enable", true, SEND, SmartRegs(0xD8), 0, Answer::Aborted},
        {"ATAPI refuses reads", true, RCV, SmartRegs(0xD0), 512, Answer::Aborted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SimulatedSmartDrive d = SampleDrive(c.atapi);
        std::array<std::uint8_t, 512> data{};
        data.fill(0xEE);
        win::BYTE error = 0xFF;
        const bool ok = platform::SimulatedSmartCommand(d, c.code, c.regs, c.dataSize, data, error);
        EXPECT_EQ(ok, c.answer != Answer::Aborted);
        EXPECT_EQ(error, ok ? 0 : 0x04);
        switch (c.answer) {
            case Answer::Identify: EXPECT_EQ(data, d.identify); break;
            case Answer::Values: EXPECT_EQ(data, d.values); break;
            case Answer::Thresholds: EXPECT_EQ(data, d.thresholds); break;
            default: EXPECT_EQ(data[0], 0xEE); break;
        }
    }
}

TEST(SimulatedSmartDrive, AbortsTheRefusedSubcommands) {
    SimulatedSmartDrive d = SampleDrive(false);
    d.refused = {0xD8, 0xD1};
    std::array<std::uint8_t, 512> data{};
    win::BYTE error = 0;
    EXPECT_FALSE(platform::SimulatedSmartCommand(d, win::SMART_SEND_DRIVE_COMMAND, SmartRegs(0xD8), 0, data, error));
    EXPECT_TRUE(platform::SimulatedSmartCommand(d, win::SMART_RCV_DRIVE_DATA, SmartRegs(0xD0), 512, data, error));
    EXPECT_FALSE(platform::SimulatedSmartCommand(d, win::SMART_RCV_DRIVE_DATA, SmartRegs(0xD1), 512, data, error));
}

Cdb16 Cdb(std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
    Cdb16 c{};
    for (auto [i, v] : bytes) c[static_cast<std::size_t>(i)] = v;
    return c;
}

TEST(AtaPassThrough16, TranslatesTheHealthCommands) {
    struct Case {
        const char* name;
        std::uint32_t code;
        win::IDEREGS regs;
        Cdb16 cdb;
    };
    constexpr auto RCV = win::SMART_RCV_DRIVE_DATA;
    constexpr auto SEND = win::SMART_SEND_DRIVE_COMMAND;
    // Byte 0 0x85; byte 1 protocol << 1 (4 PIO data-in, 3 non-data); byte 2
    // 0x0E for one sector in from the device; 4 features, 6 count, 8/10/12
    // sector number and cylinder registers, 13 device, 14 command.
    const Case cases[] = {
        {"identify device", RCV, IdentifyRegs(0xEC),
         Cdb({{0, 0x85}, {1, 0x08}, {2, 0x0E}, {6, 1}, {8, 1}, {13, 0xA0}, {14, 0xEC}})},
        {"identify packet device", RCV, IdentifyRegs(0xA1),
         Cdb({{0, 0x85}, {1, 0x08}, {2, 0x0E}, {6, 1}, {8, 1}, {13, 0xA0}, {14, 0xA1}})},
        {"identify of a slave drive: the device bit is the disk's own", RCV, IdentifyRegs(0xEC, 0xB0),
         Cdb({{0, 0x85}, {1, 0x08}, {2, 0x0E}, {6, 1}, {8, 1}, {13, 0xA0}, {14, 0xEC}})},
        {"read values", RCV, SmartRegs(0xD0),
         Cdb({{0, 0x85}, {1, 0x08}, {2, 0x0E}, {4, 0xD0}, {6, 1}, {8, 1}, {10, 0x4F}, {12, 0xC2}, {13, 0xA0},
              {14, 0xB0}})},
        {"read thresholds", RCV, SmartRegs(0xD1, 0xB0),
         Cdb({{0, 0x85}, {1, 0x08}, {2, 0x0E}, {4, 0xD1}, {6, 1}, {8, 1}, {10, 0x4F}, {12, 0xC2}, {13, 0xA0},
              {14, 0xB0}})},
        {"enable", SEND, SmartRegs(0xD8),
         Cdb({{0, 0x85}, {1, 0x06}, {2, 0x00}, {4, 0xD8}, {6, 1}, {8, 1}, {10, 0x4F}, {12, 0xC2}, {13, 0xA0},
              {14, 0xB0}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto cdb = platform::AtaPassThrough16(c.code, c.regs, c.code == RCV ? 512 : 0);
        ASSERT_TRUE(cdb);
        EXPECT_EQ(*cdb, c.cdb);
    }
}

TEST(AtaPassThrough16, SendsNothingElseToARealDisk) {
    struct Case {
        const char* name;
        std::uint32_t code;
        win::IDEREGS regs;
        std::uint32_t dataSize;
    };
    constexpr auto RCV = win::SMART_RCV_DRIVE_DATA;
    constexpr auto SEND = win::SMART_SEND_DRIVE_COMMAND;
    const Case cases[] = {
        {"write sectors", SEND, Regs(0, 1, 0, 0xE0, 0x30), 512},
        {"read sectors", RCV, Regs(0, 1, 0, 0xE0, 0x20), 512},
        {"S.M.A.R.T. write log", SEND, SmartRegs(0xD6), 512},
        {"S.M.A.R.T. disable", SEND, SmartRegs(0xD9), 0},
        {"S.M.A.R.T. off-line immediate", SEND, SmartRegs(0xD4), 0},
        {"S.M.A.R.T. without its signature", RCV, Regs(0xD0, 0, 0, 0xA0, 0xB0), 512},
        {"enable sent as a read", RCV, SmartRegs(0xD8), 512},
        {"a read sent as a command", SEND, SmartRegs(0xD0), 0},
        {"a read of another size", RCV, SmartRegs(0xD0), 1024},
        {"identify without a buffer", RCV, IdentifyRegs(0xEC), 0},
        {"enable with data", SEND, SmartRegs(0xD8), 512},
        {"another control code", win::IOCTL_DISK_GET_DRIVE_GEOMETRY, IdentifyRegs(0xEC), 512},
        {"security erase", SEND, Regs(0, 0, 0, 0xA0, 0xF4), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(platform::AtaPassThrough16(c.code, c.regs, c.dataSize));
    }
}

TEST(EvaluateSgIo, ReadsTheOutcomeOfAPassThrough) {
    // Descriptor sense with an ATA Status Return descriptor (type 9).
    auto descriptor = [](std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t error,
                         std::uint8_t status) {
        Bytes s(8 + 14, 0);
        s[0] = 0x72;
        s[1] = key;
        s[2] = asc;
        s[3] = ascq;
        s[7] = 14;
        s[8] = 0x09;
        s[9] = 12;
        s[8 + 3] = error;
        s[8 + 13] = status;
        return s;
    };
    auto fixed = [](std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t error, std::uint8_t status) {
        Bytes s(18, 0);
        s[0] = 0x70;
        s[2] = key;
        s[3] = error;
        s[4] = status;
        s[7] = 10;
        s[12] = asc;
        s[13] = ascq;
        return s;
    };
    struct Case {
        const char* name;
        std::uint8_t scsi;
        std::uint16_t host, driver;
        Bytes sense;
        bool ok;
        std::uint8_t error;
    };
    const Case cases[] = {
        {"good", 0x00, 0, 0, {}, true, 0},
        {"good with sense present", 0x00, 0, 0x08, {}, true, 0},
        {"host error", 0x00, 0x01, 0, {}, false, 0},
        {"driver timeout", 0x00, 0, 0x06, {}, false, 0},
        {"check condition, command aborted", 0x02, 0, 0x08, descriptor(0x0B, 0x00, 0x00, 0x04, 0x51), false, 0x04},
        {"check condition, registers returned", 0x02, 0, 0x08, descriptor(0x01, 0x00, 0x1D, 0x00, 0x50), true, 0},
        {"registers returned with ERR set", 0x02, 0, 0x08, descriptor(0x01, 0x00, 0x1D, 0x04, 0x51), false, 0x04},
        {"fixed format, aborted", 0x02, 0, 0x08, fixed(0x0B, 0x00, 0x00, 0x04, 0x51), false, 0x04},
        {"fixed format, registers returned", 0x02, 0, 0x08, fixed(0x01, 0x00, 0x1D, 0x00, 0x50), true, 0},
        {"check condition without sense", 0x02, 0, 0, {}, false, 0},
        {"busy", 0x08, 0, 0, {}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::AtaOutcome o = platform::EvaluateSgIo(c.scsi, c.host, c.driver, c.sense);
        EXPECT_EQ(o.ok, c.ok);
        EXPECT_EQ(o.error, c.error);
    }
}

TEST(EvaluateSgIo, StaysInsideShortOrLyingSense) {
    // A descriptor length that reaches past the sense data is not read.
    Bytes s = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 200, 0x09, 12, 0, 0x04};
    platform::AtaOutcome o = platform::EvaluateSgIo(0x02, 0, 0x08, s);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.error, 0);
    Bytes shortFixed = {0x70, 0, 0x01, 0, 0, 0, 0, 10, 0, 0};
    EXPECT_FALSE(platform::EvaluateSgIo(0x02, 0, 0x08, shortFixed).ok);
}

// The control codes through the device calls.
class SmartDevice : public ::testing::Test {
protected:
    static win::HANDLE Open(const char* name, win::DWORD access) {
        return win::CreateFileA(name, access, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr,
                                win::OPEN_EXISTING, 0, nullptr);
    }
    static win::SENDCMDINPARAMS Request(win::DWORD bufferSize, const win::IDEREGS& regs, std::uint8_t drive) {
        win::SENDCMDINPARAMS in;
        std::memset(&in, 0, sizeof in);
        in.cBufferSize = bufferSize;
        in.irDriveRegs = regs;
        in.bDriveNumber = drive;
        return in;
    }
    static constexpr win::DWORD kRw = win::GENERIC_READ | win::GENERIC_WRITE;
};

TEST_F(SmartDevice, ReportsTheDeviceMapOfDrives0To3) {
    vt::test::InstallProfile(
        "[smart.0]\nfile=smart-ata.smart\n[smart.1]\nfile=smart-atapi.smart\n[smart.3]\nfile=smart-failing.smart\n");
    win::HANDLE h = Open("\\\\.\\PhysicalDrive3", win::GENERIC_READ);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::GETVERSIONINPARAMS v;
    std::memset(&v, 0, sizeof v);
    win::DWORD returned = 0;
    ASSERT_TRUE(win::DeviceIoControl(h, win::SMART_GET_VERSION, nullptr, 0, &v, sizeof v, &returned, nullptr));
    EXPECT_EQ(returned, 24u);
    EXPECT_EQ(v.bIDEDeviceMap, 0x01 | 0x20 | 0x08);
    EXPECT_EQ(v.fCapabilities, win::CAP_ATA_ID_CMD | win::CAP_ATAPI_ID_CMD | win::CAP_SMART_CMD);
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_GET_VERSION, nullptr, 0, &v, 23, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    win::CloseHandle(h);
}

TEST_F(SmartDevice, CommandsNeedReadAndWriteAccessOnNt) {
    vt::test::InstallProfile("[smart.0]\nfile=smart-ata.smart\n");
    const win::SENDCMDINPARAMS in = Request(512, IdentifyRegs(0xEC), 0);
    std::array<std::uint8_t, 600> out{};
    win::DWORD returned = 0;
    win::HANDLE ro = Open("\\\\.\\PhysicalDrive0", win::GENERIC_READ);
    EXPECT_FALSE(win::DeviceIoControl(ro, win::SMART_RCV_DRIVE_DATA, const_cast<win::SENDCMDINPARAMS*>(&in), 32,
                                      out.data(), 528, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    win::CloseHandle(ro);
    win::HANDLE rw = Open("\\\\.\\PhysicalDrive0", kRw);
    ASSERT_TRUE(win::DeviceIoControl(rw, win::SMART_RCV_DRIVE_DATA, const_cast<win::SENDCMDINPARAMS*>(&in), 32,
                                     out.data(), 528, &returned, nullptr));
    EXPECT_EQ(returned, 528u);
    EXPECT_EQ(vt::LoadLe32(out.data()), 512u);
    EXPECT_EQ(out[4], win::SMART_NO_ERROR);
    win::CloseHandle(rw);
}

TEST_F(SmartDevice, AnAbortedCommandFailsWithTheDriversStatus) {
    vt::test::InstallProfile("[smart.0]\nfile=smart-nothresh.smart\n");
    win::HANDLE h = Open("\\\\.\\PhysicalDrive0", kRw);
    win::SENDCMDINPARAMS in = Request(512, SmartRegs(0xD1), 0);
    std::array<std::uint8_t, 600> out{};
    out.fill(0xEE);
    win::DWORD returned = 99;
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 32, out.data(), 528, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_IO_DEVICE);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(vt::LoadLe32(out.data()), 0u);
    EXPECT_EQ(out[4], win::SMART_IDE_ERROR);
    EXPECT_EQ(out[5], 0x04);  // ABRT
    EXPECT_EQ(out[16], 0xEE);  // no data
    // The answer must fit: header and one sector.
    in = Request(512, SmartRegs(0xD0), 0);
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 32, out.data(), 527, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 31, out.data(), 528, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
    win::CloseHandle(h);
}

TEST_F(SmartDevice, ASmartOnlyDriveOpensButItsSectorsDoNotRead) {
    vt::test::InstallProfile("[smart.1]\nfile=smart-ata.smart\n");
    EXPECT_EQ(Open("\\\\.\\PhysicalDrive0", kRw), win::INVALID_HANDLE_VALUE);
    win::HANDLE h = Open("\\\\.\\PhysicalDrive1", win::GENERIC_READ);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    std::array<std::uint8_t, 512> sector{};
    win::DWORD read = 7;
    EXPECT_FALSE(win::ReadFile(h, sector.data(), 512, &read, nullptr));
    EXPECT_EQ(read, 0u);
    win::DISK_GEOMETRY g{};
    win::DWORD returned = 0;
    EXPECT_FALSE(win::DeviceIoControl(h, win::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &returned,
                                      nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NOT_READY);
    win::CloseHandle(h);
}

TEST_F(SmartDevice, AnImageBackedDriveHasNoSmartInterface) {
    vt::test::TempDir dir;
    const std::string image = dir.Path() + "/disk.img";
    WriteFile(image, Bytes(8192, 0));
    vt::test::InstallProfile("[physical.0]\nimage=" + image + "\n");
    win::HANDLE h = Open("\\\\.\\PhysicalDrive0", kRw);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::GETVERSIONINPARAMS v{};
    win::DWORD returned = 0;
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_GET_VERSION, nullptr, 0, &v, sizeof v, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_FUNCTION);
    win::SENDCMDINPARAMS in = Request(512, IdentifyRegs(0xEC), 0);
    std::array<std::uint8_t, 600> out{};
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 32, out.data(), 528, &returned, nullptr));
    win::CloseHandle(h);
}

TEST_F(SmartDevice, ABrokenDriveFileAnswersNothing) {
    vt::test::TempDir dir;
    const std::string file = dir.Path() + "/broken.smart";
    WriteFile(file, Bytes(100, 0x41));
    vt::test::InstallProfile("[smart.0]\nfile=" + file + "\n");
    win::HANDLE h = Open("\\\\.\\PhysicalDrive0", kRw);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::GETVERSIONINPARAMS v{};
    win::DWORD returned = 0;
    ASSERT_TRUE(win::DeviceIoControl(h, win::SMART_GET_VERSION, nullptr, 0, &v, sizeof v, &returned, nullptr));
    EXPECT_EQ(v.bIDEDeviceMap, 0);
    win::SENDCMDINPARAMS in = Request(512, IdentifyRegs(0xEC), 0);
    std::array<std::uint8_t, 600> out{};
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 32, out.data(), 528, &returned, nullptr));
    EXPECT_EQ(out[4], win::SMART_NO_IDE_DEVICE);
    win::CloseHandle(h);
}

TEST_F(SmartDevice, SmartVsdOpensOnlyOn9xAndChecksTheDriveNumber) {
    vt::test::InstallProfile("[smart.0]\nfile=smart-ata.smart\n");
    EXPECT_EQ(win::CreateFileA("\\\\.\\SMARTVSD", 0, 0, nullptr, win::CREATE_NEW, 0, nullptr),
              win::INVALID_HANDLE_VALUE);
    vt::test::InstallProfile("[machine]\nfamily=9x\n[smart.0]\nfile=smart-ata.smart\n");
    EXPECT_EQ(Open("\\\\.\\PhysicalDrive0", kRw), win::INVALID_HANDLE_VALUE);
    win::HANDLE h = win::CreateFileA("\\\\.\\SMARTVSD", 0, 0, nullptr, win::CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    std::array<std::uint8_t, 600> out{};
    win::DWORD returned = 0;
    // Access 0 is enough for SMARTVSD.
    win::SENDCMDINPARAMS in = Request(512, IdentifyRegs(0xEC), 0);
    EXPECT_TRUE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 32, out.data(), 528, &returned, nullptr));
    in = Request(512, IdentifyRegs(0xEC), 4);
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 32, out.data(), 528, &returned, nullptr));
    EXPECT_EQ(out[4], win::SMART_INVALID_DRIVE);
    in = Request(512, IdentifyRegs(0xEC), 1);
    EXPECT_FALSE(win::DeviceIoControl(h, win::SMART_RCV_DRIVE_DATA, &in, 32, out.data(), 528, &returned, nullptr));
    EXPECT_EQ(out[4], win::SMART_NO_IDE_DEVICE);
    EXPECT_FALSE(win::DeviceIoControl(h, win::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, out.data(), 600, &returned,
                                      nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_FUNCTION);
    win::CloseHandle(h);
}

}  // namespace

namespace {

TEST(SmartProfile, ARealDiskDoesNotTakeTheNumberOfASimulatedDrive) {
    // A sysfs tree with one whole disk of 100 sectors.
    vt::test::TempDir sys;
    const std::string disk = sys.Path() + "/block/vdz";
    ASSERT_EQ(vt::test::RunCommand("mkdir -p " + disk + " && echo 100 > " + disk + "/size && echo 0 > " + disk +
                                   "/removable"),
              0);
    platform::MachineConfig c = platform::Machine::FromProfileText("[smart.0]\nfile=x.smart\n", "/tmp", false);
    platform::Machine::AddRealDevices(c, sys.Path());
    ASSERT_EQ(c.physical.size(), 1u);
    EXPECT_EQ(c.physical[0].number, 1);
    EXPECT_EQ(c.physical[0].source, "/dev/vdz");
}

}  // namespace
