#include "Smart.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "Recorders.h"
#include "SmartIoctl.h"
#include "System.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Four simulated drives: ATA at 0 and 2, ATAPI at 1, a drive that aborts
// READ THRESHOLDS at 3.
const char* kFourDrives =
    "[smart.0]\nfile=smart-ata.smart\n"
    "[smart.1]\nfile=smart-atapi.smart\n"
    "[smart.2]\nfile=smart-failing.smart\n"
    "[smart.3]\nfile=smart-nothresh.smart\n";

platform::SimulatedSmartDrive Drive(const std::string& name) {
    auto d = platform::LoadSimulatedSmartDrive(vt::test::ImagePath(name));
    if (!d) throw std::runtime_error("not a drive file: " + name);
    return *d;
}

class Traced : public ::testing::Test {
protected:
    void SetUp() override {
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
    }
    void TearDown() override {
        platform::DeviceTrace::Enable(false);
        platform::DeviceTrace::Clear();
    }
    static std::vector<platform::DeviceRequest> Requests() { return platform::DeviceTrace::Requests(); }
};

// The 32 bytes of a SENDCMDINPARAMS request.
Bytes Request(std::uint32_t bufferSize, std::uint8_t features, std::uint8_t cylLow, std::uint8_t cylHigh,
              std::uint8_t driveHead, std::uint8_t command, std::uint8_t drive) {
    Bytes b(32, 0);
    b[0] = static_cast<std::uint8_t>(bufferSize);
    b[1] = static_cast<std::uint8_t>(bufferSize >> 8);
    b[4] = features;
    b[5] = 1;  // sector count
    b[6] = 1;  // sector number
    b[7] = cylLow;
    b[8] = cylHigh;
    b[9] = driveHead;
    b[10] = command;
    b[12] = drive;
    return b;
}

enum class Routine { Enable, Values, Thresholds };

struct CommandCase {
    const char* name;
    Routine routine;
    std::uint32_t code;
    std::uint32_t bufferSize;
    std::uint8_t features;
};

const CommandCase kCommands[] = {
    {"Enable", Routine::Enable, win::SMART_SEND_DRIVE_COMMAND, 0, 0xD8},
    {"ReadValues", Routine::Values, win::SMART_RCV_DRIVE_DATA, 512, 0xD0},
    {"ReadThresholds", Routine::Thresholds, win::SMART_RCV_DRIVE_DATA, 512, 0xD1},
};

bool RunRoutine(Routine r, win::HANDLE h, std::uint8_t drive) {
    TSmartDataBlock block{};
    switch (r) {
        case Routine::Enable: return SmartEnable(h, drive);
        case Routine::Values: return SmartReadValues(h, block, drive);
        case Routine::Thresholds: return SmartReadThresholds(h, block, drive);
    }
    return false;
}

using SmartCommands = Traced;

TEST_F(SmartCommands, SendTheSmartRegistersForEachDriveOnNt) {
    vt::test::InstallProfile(kFourDrives);
    for (std::uint8_t drive = 0; drive < 4; ++drive) {
        const std::uint8_t driveHead = drive % 2 ? 0xB0 : 0xA0;
        const std::string device = "\\\\.\\PhysicalDrive" + std::to_string(drive);
        for (const CommandCase& c : kCommands) {
            SCOPED_TRACE(std::string(c.name) + " drive " + std::to_string(drive));
            win::HANDLE h = OpenSmartDevice(drive);
            ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
            platform::DeviceTrace::Clear();
            RunRoutine(c.routine, h, drive);
            win::CloseHandle(h);
            auto rq = Requests();
            ASSERT_EQ(rq.size(), 1u);
            EXPECT_EQ(rq[0].device, device);
            EXPECT_EQ(rq[0].code, c.code);
            EXPECT_EQ(rq[0].input, Request(c.bufferSize, c.features, 0x4F, 0xC2, driveHead, 0xB0, drive));
        }
    }
}

TEST_F(SmartCommands, GoToSmartVsdWithTheDriveNumberOn9x) {
    vt::test::InstallProfile(std::string("[machine]\nfamily=9x\n") + kFourDrives);
    for (std::uint8_t drive = 0; drive < 4; ++drive) {
        win::HANDLE h = OpenSmartDevice(drive);
        ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
        for (const CommandCase& c : kCommands) {
            SCOPED_TRACE(std::string(c.name) + " drive " + std::to_string(drive));
            platform::DeviceTrace::Clear();
            RunRoutine(c.routine, h, drive);
            auto rq = Requests();
            ASSERT_EQ(rq.size(), 1u);
            EXPECT_EQ(rq[0].device, "\\\\.\\SMARTVSD");
            EXPECT_EQ(rq[0].code, c.code);
            EXPECT_EQ(rq[0].input,
                      Request(c.bufferSize, c.features, 0x4F, 0xC2, drive % 2 ? 0xB0 : 0xA0, 0xB0, drive));
        }
        win::CloseHandle(h);
    }
}

TEST_F(SmartCommands, IdentifyAsksForTheVersionThenIdentifiesByDeviceKind) {
    vt::test::InstallProfile(kFourDrives);
    // Drive 1 is the ATAPI device: bit 5 of the device map.
    const std::uint8_t expected[] = {0xEC, 0xA1, 0xEC, 0xEC};
    for (std::uint8_t drive = 0; drive < 4; ++drive) {
        SCOPED_TRACE(drive);
        win::HANDLE h = OpenSmartDevice(drive);
        ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
        platform::DeviceTrace::Clear();
        TSmartDriveRec rec{};
        EXPECT_TRUE(SmartIdentify(h, rec, drive));
        win::CloseHandle(h);
        auto rq = Requests();
        ASSERT_EQ(rq.size(), 2u);
        EXPECT_EQ(rq[0].code, win::SMART_GET_VERSION);
        EXPECT_TRUE(rq[0].input.empty());
        EXPECT_EQ(rq[1].code, win::SMART_RCV_DRIVE_DATA);
        Bytes want = Request(512, 0, 0, 0, drive % 2 ? 0xB0 : 0xA0, expected[drive], drive);
        EXPECT_EQ(rq[1].input, want);
    }
}

TEST_F(SmartCommands, IdentifyOfDrive1FollowsBit5OfTheDeviceMap) {
    vt::test::InstallProfile("[smart.1]\nfile=smart-ata.smart\n");
    win::HANDLE h = OpenSmartDevice(1);
    TSmartDriveRec rec{};
    EXPECT_TRUE(SmartIdentify(h, rec, 1));
    win::CloseHandle(h);
    ASSERT_EQ(Requests().size(), 2u);
    EXPECT_EQ(Requests()[1].input[10], 0xEC);
}

TEST(SmartOpen, OpensThePhysicalDriveOfTheNumberOnNt) {
    vt::test::InstallProfile("[smart.2]\nfile=smart-ata.smart\n");
    platform::MessageBoxRecorder boxes;
    EXPECT_EQ(OpenSmartDevice(0), win::INVALID_HANDLE_VALUE);
    win::HANDLE h = OpenSmartDevice(2);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    EXPECT_TRUE(SmartEnable(h, 2));
    platform::DeviceTrace::Enable(false);
    ASSERT_EQ(platform::DeviceTrace::Requests().size(), 1u);
    EXPECT_EQ(platform::DeviceTrace::Requests()[0].device, "\\\\.\\PhysicalDrive2");
    platform::DeviceTrace::Clear();
    win::CloseHandle(h);
    // The NT family fails silently.
    EXPECT_TRUE(boxes.calls.empty());
}

TEST(SmartOpen, ShowsTheBoxWhenSmartVsdCannotBeOpenedOn9x) {
    vt::test::InstallProfile("[machine]\nfamily=9x\nsmartvsd=missing\n[smart.0]\nfile=smart-ata.smart\n");
    platform::MessageBoxRecorder boxes;
    EXPECT_EQ(OpenSmartDevice(0), win::INVALID_HANDLE_VALUE);
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "无法打开 'SmartVSD.vxd'.");
    EXPECT_EQ(boxes.calls[0].type, win::MB_OK | win::MB_ICONERROR);
    EXPECT_EQ(OpenSmartDevice(3), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(boxes.calls.size(), 2u);  // once per call
}

TEST(SmartOpen, EveryDriveNumberOpensSmartVsdOn9x) {
    vt::test::InstallProfile("[machine]\nfamily=9x\n");
    platform::MessageBoxRecorder boxes;
    for (std::uint8_t drive = 0; drive < 4; ++drive) {
        win::HANDLE h = OpenSmartDevice(drive);
        EXPECT_NE(h, win::INVALID_HANDLE_VALUE);
        win::CloseHandle(h);
    }
    EXPECT_TRUE(boxes.calls.empty());
}

// A block inside guard bytes: the routines copy exactly the block's size.
template <typename T>
struct Guarded {
    T value;
    std::array<std::uint8_t, 64> guard;
};

TEST(SmartRead, CopiesTheFirst378BytesOfTheAnswer) {
    vt::test::InstallProfile("[smart.0]\nfile=smart-ata.smart\n");
    const auto drive = Drive("smart-ata.smart");
    win::HANDLE h = OpenSmartDevice(0);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    for (bool thresholds : {false, true}) {
        Guarded<TSmartDataBlock> g;
        std::memset(static_cast<void*>(&g), 0xCC, sizeof g);
        ASSERT_TRUE(thresholds ? SmartReadThresholds(h, g.value, 0) : SmartReadValues(h, g.value, 0));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&g.value);
        EXPECT_EQ(g.value.BufferSize.get(), 512u);
        EXPECT_EQ(g.value.DriverStatus.bDriverError, 0);
        const auto& sector = thresholds ? drive.thresholds : drive.values;
        EXPECT_EQ(Bytes(bytes + 16, bytes + 378), Bytes(sector.begin(), sector.begin() + 362));
        for (std::uint8_t b : g.guard) ASSERT_EQ(b, 0xCC);
    }
    win::CloseHandle(h);
}

TEST(SmartRead, CopiesTheFirst272BytesOfTheIdentifyAnswer) {
    vt::test::InstallProfile("[smart.0]\nfile=smart-ata.smart\n");
    const auto drive = Drive("smart-ata.smart");
    win::HANDLE h = OpenSmartDevice(0);
    Guarded<TSmartDriveRec> g;
    std::memset(static_cast<void*>(&g), 0xCC, sizeof g);
    ASSERT_TRUE(SmartIdentify(h, g.value, 0));
    win::CloseHandle(h);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&g.value);
    EXPECT_EQ(vt::LoadLe32(bytes), 512u);
    EXPECT_EQ(Bytes(bytes + 16, bytes + 272), Bytes(drive.identify.begin(), drive.identify.begin() + 256));
    for (std::uint8_t b : g.guard) ASSERT_EQ(b, 0xCC);
}

TEST(SmartRead, FailedCommandsLeaveTheCallersBlockAsItWas) {
    vt::test::InstallProfile(kFourDrives);
    TSmartDataBlock block;
    std::memset(static_cast<void*>(&block), 0x5A, sizeof block);
    const TSmartDataBlock before = block;
    TSmartDriveRec rec;
    std::memset(static_cast<void*>(&rec), 0xA5, sizeof rec);
    const TSmartDriveRec recBefore = rec;

    // Drive 3 aborts READ THRESHOLDS; the ATAPI drive 1 aborts S.M.A.R.T.
    win::HANDLE h3 = OpenSmartDevice(3);
    EXPECT_FALSE(SmartReadThresholds(h3, block, 3));
    EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);
    win::CloseHandle(h3);
    win::HANDLE h1 = OpenSmartDevice(1);
    EXPECT_FALSE(SmartEnable(h1, 1));
    EXPECT_FALSE(SmartReadValues(h1, block, 1));
    EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);
    win::CloseHandle(h1);
    // A handle that is no device: every command fails, identify too.
    const win::HANDLE bogus = reinterpret_cast<win::HANDLE>(0x7777);
    EXPECT_FALSE(SmartReadValues(bogus, block, 0));
    EXPECT_FALSE(SmartIdentify(bogus, rec, 0));
    EXPECT_EQ(std::memcmp(&block, &before, sizeof block), 0);
    EXPECT_EQ(std::memcmp(&rec, &recBefore, sizeof rec), 0);
}

TEST(SmartRead, IdentifyFailsWhenTheVersionQueryFails) {
    // A physical drive backed by an image speaks no ATA: no S.M.A.R.T. interface.
    vt::test::TempDir dir;
    const std::string image = dir.Path() + "/disk.img";
    {
        std::vector<char> zeros(64 * 1024, 0);
        FILE* f = std::fopen(image.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(zeros.data(), 1, zeros.size(), f);
        std::fclose(f);
    }
    vt::test::InstallProfile("[physical.0]\nimage=" + image + "\n");
    win::HANDLE h = OpenSmartDevice(0);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    TSmartDriveRec rec;
    std::memset(static_cast<void*>(&rec), 0x11, sizeof rec);
    const TSmartDriveRec before = rec;
    EXPECT_FALSE(SmartIdentify(h, rec, 0));
    EXPECT_FALSE(SmartEnable(h, 0));
    EXPECT_EQ(std::memcmp(&rec, &before, sizeof rec), 0);
    win::CloseHandle(h);
}

std::string Text(const std::uint8_t* p, std::size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST(SmartDrive, AnswersIdentifyEnableValuesAndThresholdsEndToEnd) {
    const std::string file = vt::test::ImagePath("smart-ata.smart");
    const auto before = vt::test::FileChecksum(file);
    vt::test::InstallProfile("[smart.0]\nfile=smart-ata.smart\n");
    win::HANDLE h = OpenSmartDevice(0);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    TSmartDriveRec rec{};
    ASSERT_TRUE(SmartIdentify(h, rec, 0));
    SwapBytePairs(rec.ModelNumber.data(), 40);
    SwapBytePairs(rec.SerialNumber.data(), 20);
    SwapBytePairs(rec.FirmwareRev.data(), 8);
    EXPECT_EQ(Text(rec.ModelNumber.data(), 40), "VTSIM HD080 ATA-6                       ");
    EXPECT_EQ(Text(rec.SerialNumber.data(), 20), "VTS0080A1B2C3       ");
    EXPECT_EQ(Text(rec.FirmwareRev.data(), 8), "VT1.02  ");
    EXPECT_EQ(rec.UserAddressableSectors.get(), 156301488u);

    EXPECT_TRUE(SmartEnable(h, 0));
    TSmartDataBlock values{}, thresholds{};
    ASSERT_TRUE(SmartReadValues(h, values, 0));
    ASSERT_TRUE(SmartReadThresholds(h, thresholds, 0));
    win::CloseHandle(h);

    EXPECT_EQ(values.Revision.get(), 0x10);
    // Temperature (194) in entry 8: value 142, worst 128, raw 38.
    const TSmartAttrEntry temp = values.Attr(8);
    EXPECT_EQ(temp.Id, 194);
    EXPECT_EQ(temp.Value, 142);
    EXPECT_EQ(temp.Worst, 128);
    EXPECT_EQ(temp.RawData[0], 38);
    EXPECT_EQ(temp.StatusFlags.get(), 0x0022);
    // Power-on hours (9) in entry 5: raw 23456, least significant byte first.
    const TSmartAttrEntry hours = values.Attr(5);
    EXPECT_EQ(hours.Id, 9);
    EXPECT_EQ(hours.RawData[0] | (hours.RawData[1] << 8), 23456);
    // Thresholds at the same positions.
    EXPECT_EQ(thresholds.Threshold(0).Id, 1);
    EXPECT_EQ(thresholds.Threshold(0).Threshold, 16);
    EXPECT_EQ(thresholds.Threshold(8).Id, 194);
    EXPECT_EQ(thresholds.Threshold(8).Threshold, 0);
    EXPECT_EQ(values.Attr(13).Id, 0);  // after the last attribute
    EXPECT_EQ(vt::test::FileChecksum(file), before);
}

TEST(SmartDrive, SmartVsdAnswersForTheDriveNumberOfEachCommand) {
    vt::test::InstallProfile("[machine]\nfamily=9x\n[smart.0]\nfile=smart-ata.smart\n"
                             "[smart.2]\nfile=smart-failing.smart\n");
    win::HANDLE h = OpenSmartDevice(0);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    TSmartDriveRec rec0{}, rec2{}, rec1{};
    ASSERT_TRUE(SmartIdentify(h, rec0, 0));
    ASSERT_TRUE(SmartIdentify(h, rec2, 2));
    EXPECT_FALSE(SmartIdentify(h, rec1, 1));
    SwapBytePairs(rec0.ModelNumber.data(), 40);
    SwapBytePairs(rec2.ModelNumber.data(), 40);
    EXPECT_EQ(Text(rec0.ModelNumber.data(), 16), "VTSIM HD080 ATA-");
    EXPECT_EQ(Text(rec2.ModelNumber.data(), 16), "VTSIM HD160 WORN");
    // The 28-bit count stops at its maximum on a larger drive.
    EXPECT_EQ(rec2.UserAddressableSectors.get(), 268435455u);
    TSmartDataBlock values{};
    ASSERT_TRUE(SmartReadValues(h, values, 2));
    EXPECT_EQ(values.Attr(3).Id, 5);
    EXPECT_EQ(values.Attr(3).Value, 5);
    win::CloseHandle(h);
}

TEST(SmartDrive, AnAtapiDeviceIdentifiesButHasNoSmartData) {
    vt::test::InstallProfile("[smart.0]\nfile=smart-atapi.smart\n");
    win::HANDLE h = OpenSmartDevice(0);
    TSmartDriveRec rec{};
    ASSERT_TRUE(SmartIdentify(h, rec, 0));
    SwapBytePairs(rec.ModelNumber.data(), 40);
    EXPECT_EQ(Text(rec.ModelNumber.data(), 17), "VTSIM DVD-ROM 16X");
    EXPECT_EQ(rec.Words0to9[0] | (rec.Words0to9[1] << 8), 0x85C0);
    TSmartDataBlock values{};
    EXPECT_FALSE(SmartEnable(h, 0));
    EXPECT_FALSE(SmartReadValues(h, values, 0));
    win::CloseHandle(h);
}

// A real block device goes to the ATA pass-through. A loop device takes no
// SCSI commands: the commands fail cleanly and nothing is written.
class SmartLoopDevice : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = dir_.Path() + "/disk.img";
        ASSERT_EQ(vt::test::RunCommand("truncate -s 1M " + image_), 0);
        std::string out;
        if (vt::test::RunCommand("losetup -f --show -r " + image_, &out) != 0 || out.rfind("/dev/loop", 0) != 0)
            GTEST_SKIP() << "this machine refuses loop devices: " << out;
        device_ = out.substr(0, out.find('\n'));
    }
    void TearDown() override {
        vt::test::InstallProfile("");  // closes the device's store
        if (!device_.empty()) vt::test::RunCommand("losetup -d " + device_);
    }
    vt::test::TempDir dir_;
    std::string image_, device_;
};

TEST_F(SmartLoopDevice, ARealDiskThatTakesNoPassThroughFailsCleanly) {
    const auto before = vt::test::FileChecksum(image_);
    vt::test::InstallProfile("[physical.0]\nimage=" + device_ + "\n");
    win::HANDLE h = OpenSmartDevice(0);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    TSmartDriveRec rec;
    std::memset(static_cast<void*>(&rec), 0x11, sizeof rec);
    const TSmartDriveRec recBefore = rec;
    TSmartDataBlock block{};
    EXPECT_FALSE(SmartIdentify(h, rec, 0));
    EXPECT_FALSE(SmartEnable(h, 0));
    EXPECT_FALSE(SmartReadValues(h, block, 0));
    EXPECT_EQ(std::memcmp(&rec, &recBefore, sizeof rec), 0);
    win::CloseHandle(h);
    EXPECT_EQ(vt::test::FileChecksum(image_), before);
}

TEST(SmartDataBlock, AllZeroIdsHoldNoAttribute) {
    TSmartDataBlock block{};
    for (int i = 0; i < kSmartEntryCount; ++i) EXPECT_EQ(block.Attr(i).Id, 0);
    EXPECT_EQ(block.Attr(30).Id, 0);  // outside the 30 entries: an empty entry
    EXPECT_EQ(block.Attr(-1).Id, 0);
}

TEST(SwapBytePairs, SwapsEachWordOfTheCount) {
    struct Case {
        const char* name;
        std::string in;
        std::uint16_t count;
        std::string out;
    };
    const Case cases[] = {
        {"eight bytes", "AB12CD34", 8, "BA21DC43"},
        {"only the count", "AB12CD34", 4, "BA21CD34"},
        {"odd count keeps the last byte", "ABCDE", 5, "BADCE"},
        {"zero", "AB", 0, "AB"},
        {"ATA text to reading order", "VTSMI", 4, "TVMSI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string s = c.in;
        SwapBytePairs(s.data(), c.count);
        EXPECT_EQ(s, c.out);
    }
}

struct AttrCase {
    int id;
    const char* name;
    const char* description;
};

// Every attribute with texts of its own; names keep their trailing blanks.
const AttrCase kAttrs[] = {
    {0, "这里没有属性      ", "这里没有属性      "},
    {1, "Raw 读取错误率    ", "未修正读取错误的计数。值越低意味着整个磁盘表面或读取/写入磁头的问题越多。"},
    {2, "数据吞吐性能  ", "硬盘全面(常规)的数据吞吐性能。这个数值的减少意味着该硬盘存在严重的故障问题。"},
    {3, "旋转启动时间           ",
     "硬盘旋转启动时间的平均值(从0 转/分钟到完全操作)。属性值越低表明硬盘启动比额定转速的启动时间更长."},
    {4, "启动/停止计算       ", "这一属性的原始数据是硬盘旋转启动/停止周期的计数。"},
    {5, "重新分配扇区计算",
     "表明在硬盘驱动器上发现了多少个已经有问题的扇区并且映射使用备用扇区的极限。这个数值的减少是一个危险的信号，它意味着磁盘表面某些新的问题出现。"},
    {6, "读取磁道极限     ", "磁道读取数据时的极限。这个属性功能未指定。"},
    {7, "寻道错误率         ", "磁头的寻道错误频率。属性值越低意味着磁盘表面和磁盘机械子系统面临更糟糕的情况。"},
    {8, "寻道时间特性   ", "显示进行磁头寻道操作的有多快，如果这个属性值逐渐降低，可能标志着硬盘子系统的问题逐渐显现。"},
    {9, "电源接通时间计算   ", "这个属性的原始数据显示电源接通时间(或分钟，或秒-取决于硬盘厂商)计算的状态。"},
    {10, "旋转重试计算        ",
     "旋转启动重试计算。如果硬盘首次无法旋转启动，会尝试其它启动。这个属性值存储了启动重试的计数。这典型的表明了存在严重的控制器或轴承问题，但也可能是由于电源问题所导致。"},
    {11, "校准重试计算  ",
     "This attribute indicates the times of recalibration was requested. A decrease of this attribute value is a "
     "sign of problems in the hard disk mechanical subsystem. "},
    {12, "电源循环计算      ", "整个硬盘电源开关周期计数。"},
    {13, "软件读取错误率", "程序从硬盘读取文件时出现错误的频率。该属性值越低表明硬盘的问题(错误)越多。"},
    {191, "G-Sense 错误率",
     "Number of errors as a result of impact loads as detected by a shock sensor. This attribute is manly limited "
     "to the notebook (2.5\") drives. Once the operation conditions are corrected, the attribute value will return "
     "to normal."},
    {192, "断电回位计算", "这个属性显示断电次数或电源回位周期。"},
    {193, "加载/卸载循环计算", "Count of load/unload cycles into Landing Zone position."},
    {194, "驱动器温度            ", "当前硬盘的温度。"},
    {195, "硬件 ECC 恢复", "飞行中出错的频率。"},
    {196, "再分配事件计算",
     "Count of remap operations (transfering data from a bad sector to a reserved sectors pool). A decrease of this "
     "value is a dangerous sign, it means some new surface problems have been found."},
    {197, "当前挂起扇区计算",
     "当前不稳定扇区(等待重新映射)的计数。它们将被驱动器的脱机扫描程序重试并且返回有效扇区的极限。该属性原始数据能够表明此类扇区的精确数值。"},
    {198, "脱机扫描未改正扇区计算", " 表明在脱机扫描期间发现多少有问题的扇区。"},
    {199, "UDMA CRC 错误计算    ",
     "在UltraDMA模式期间数据循环冗余校验出错的总数量。这个属性的原始数据表明在 UltraDMA模式下通过ICRC (CRC "
     "接口)传输数据期间发现错误的计数。该属性值越低越典型的表明与连接器或电缆的连接的某部分存在错误。"},
    {200, "写入错误计算      ", "该属性表明了写入扇区时发现错误的总数。值越低表明更多的事件(错误)。"},
    {201, "软件读取错误率", "Logs rate at software read error occurs. Lower value indicates more events (errors)."},
    {202, "数据地址标记错误", "数据地址标记出错的频率。"},
    {203, "Run Out Cancel", "Frequency of the ECC errors. "},
    {204, "软件纠错修正", "Quantity of errors corrected by software ECC."},
    {205, "Thermal Asperity Rate", "Frequency of the thermal asperity errors."},
    {206, "磁头飞高", "The height of the magnetic heads above the disk surface."},
    {207, "旋转高度计算", "Quantity of used high current to spin up drive."},
    {208, "旋转声音", "Quantity of used buzz routines to spin up drive."},
    {209, "脱机寻道性能", "Drive's seek performance during offline operations."},
    {220, "磁盘移动",
     "The raw data of this attribute indicates how much the disk has shifted. Shift of disk is possible as a result "
     "of a strong shock or a fall, or for other reasons (sometimes: Temperature)."},
    {221, "G-Sense 错误率",
     "Number of errors as a result of impact loads as detected by a shock sensor. This attribute is manly limited "
     "to the notebook (2.5\") drives. Once the operation conditions are corrected, the attribute value will return "
     "to normal."},
    {222, "加载时间", "Loading on drive caused by the general operating time of hours it stores."},
    {223, "Load/Unload 重试计算",
     "Loading on drive caused by numerous recurrences of operations like: reading, recording, positioning of heads, "
     "etc."},
    {224, "加载摩擦", "Loading on drive caused by friction in mechanical subsystem."},
    {225, "加载/卸载循环计算", "Count of load/unload cycles into Landing Zone position."},
    {226, "载入时间", "General time of loading for drive."},
    {227, "力矩放大计算", "Quantity efforts of the rotating moment of a drive."},
    {228, "断电回位计算", "Quantity of the fixed turning off's a drive."},
    {230, "GMR 磁头幅度 ", "Amplitude of heads trembling (GMR-head) in running mode."},
    {231, "驱动器温度", "当前硬盘的温度。"},
    {240, "磁头飞行时间", "磁头定位的时间"},
    {241, "读取错误重试率", "从一张磁盘读取数据时出现错误的频率。"},
    {250, "读取错误重试率", "从一张磁盘读取数据时出现错误的频率。"},
};

TEST(SmartAttrTexts, EveryNamedIdHasItsNameAndDescription) {
    EXPECT_EQ(std::size(kAttrs), 47u);
    for (const AttrCase& c : kAttrs) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(GetSmartAttrName(c.id), c.name);
        EXPECT_EQ(GetSmartAttrDescription(c.id), c.description);
    }
}

TEST(SmartAttrTexts, OtherIdsAreUnknown) {
    for (int id : {14, 100, 190, 210, 219, 229, 232, 239, 242, 249, 251, 255, 256, -1, 1000}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(GetSmartAttrName(id), "未知属性");
        EXPECT_EQ(GetSmartAttrDescription(id), "未知属性");
    }
    int named = 0;
    for (int id = 0; id < 256; ++id) named += GetSmartAttrName(id) != "未知属性";
    EXPECT_EQ(named, 47);
}

TEST(SmartAttrTexts, KeepTheirBlanks) {
    const std::string temp = GetSmartAttrName(194);
    EXPECT_EQ(temp.size() - temp.find_last_not_of(' ') - 1, 12u);
    EXPECT_EQ(GetSmartAttrName(231), "驱动器温度");
    EXPECT_EQ(GetSmartAttrDescription(11).back(), ' ');
    EXPECT_EQ(GetSmartAttrDescription(203).back(), ' ');
    EXPECT_EQ(GetSmartAttrDescription(198).front(), ' ');
    EXPECT_NE(GetSmartAttrDescription(191).find("(2.5\")"), std::string::npos);
}

}  // namespace
