// Sector reads of logical volumes and physical drives on both families.
#include "DiskUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "NewDiskUtils.h"
#include "Recorders.h"
#include "System.h"
#include "TestSupport.h"
#include "int13ext.h"

namespace {

using vt::test::TempDir;

// An image whose every sector starts with its own number (u32) and is
// otherwise filled with the low byte of it.
std::string MakeStampedImage(const std::string& dir, const std::string& name, std::uint32_t sectors) {
    std::string path = dir + "/" + name;
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint8_t> s(512);
    for (std::uint32_t i = 0; i < sectors; ++i) {
        std::memset(s.data(), static_cast<int>(i & 0xFF), s.size());
        std::memcpy(s.data(), &i, 4);
        out.write(reinterpret_cast<const char*>(s.data()), 512);
    }
    return path;
}

std::uint32_t StampAt(const std::vector<std::uint8_t>& buf, std::size_t sector) {
    std::uint32_t v;
    std::memcpy(&v, buf.data() + sector * 512, 4);
    return v;
}

class SectorAccess : public ::testing::Test {
protected:
    void Install(const std::string& family, const std::string& extra = "") {
        std::string profile = "[machine]\nhide_real_devices=1\nfamily=" + family + "\n" + extra +
                              "[logical.E]\nimage=" + image_ + "\nunreadable=40-41\n"
                              "[physical.0]\nimage=" + image_ + "\nunreadable=40-41\n";
        platform::Machine::Install(platform::Machine::FromProfileText(profile, dir_.Path(), false));
        DiskUtils::Initialize();
    }
    void SetUp() override { image_ = MakeStampedImage(dir_.Path(), "stamped.img", 100); }
    void TearDown() override {
        platform::DeviceTrace::Enable(false);
        platform::DeviceTrace::Clear();
    }
    TempDir dir_;
    std::string image_;
};

TEST_F(SectorAccess, NtLogicalReadReturnsTheSectorsAsked) {
    Install("nt");
    std::vector<std::uint8_t> buf(3 * 512);
    ASSERT_TRUE(ReadLogicalSectors("e:", 7, 3, buf.data()));
    EXPECT_EQ(StampAt(buf, 0), 7u);
    EXPECT_EQ(StampAt(buf, 2), 9u);
}

TEST_F(SectorAccess, NtFailedLogicalReadZeroesTheBufferAndShowsTheErrorBox) {
    Install("nt");
    platform::MessageBoxRecorder boxes;
    std::vector<std::uint8_t> buf(2 * 512, 0xAA);
    EXPECT_FALSE(ReadLogicalSectors("E:", 39, 2, buf.data()));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "Error when reading data:\r\nError Code:23\r\n驱动器E   扇区数:39   块:2");
    EXPECT_EQ(boxes.calls[0].type, win::MB_OK | win::MB_ICONERROR);
    EXPECT_EQ(buf, std::vector<std::uint8_t>(2 * 512, 0));
}

// The end of a device, or of a partial image of one, cuts the read short:
// the caller gets False and the user the same box as for any failed read.
TEST_F(SectorAccess, NtShortLogicalReadAtTheEndFailsWithTheErrorBox) {
    Install("nt");
    platform::MessageBoxRecorder boxes;
    std::vector<std::uint8_t> buf(4 * 512, 0xAA);
    EXPECT_FALSE(ReadLogicalSectors("E:", 98, 4, buf.data()));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "Error when reading data:\r\nError Code:38\r\n驱动器E   扇区数:98   块:4");
    EXPECT_EQ(StampAt(buf, 0), 98u);
    EXPECT_EQ(StampAt(buf, 1), 99u);
    EXPECT_EQ(buf[2 * 512], 0);  // zeros where nothing was read
}

TEST_F(SectorAccess, NtLogicalReadOfAMissingDriveFailsSilently) {
    Install("nt");
    platform::MessageBoxRecorder boxes;
    std::vector<std::uint8_t> buf(512);
    EXPECT_FALSE(ReadLogicalSectors("Q:", 0, 1, buf.data()));
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(SectorAccess, Win9xLogicalReadTries7305FirstAndNumbersDrivesFromOne) {
    Install("9x");
    ASSERT_TRUE(DiskUtils::Fat32DiskApi);
    platform::DeviceTrace::Enable(true);
    std::vector<std::uint8_t> buf(512);
    ASSERT_TRUE(ReadLogicalSectors("e:", 5, 1, buf.data()));
    EXPECT_EQ(StampAt(buf, 0), 5u);
    const auto& rq = platform::DeviceTrace::Requests();
    ASSERT_EQ(rq.size(), 1u);
    EXPECT_EQ(rq[0].device, "\\\\.\\VWIN32");
    EXPECT_EQ(rq[0].code, win::VWIN32_DIOC_DOS_DRIVEINFO);
    win::DIOC_REGISTERS regs;
    std::memcpy(&regs, rq[0].input.data(), sizeof regs);
    EXPECT_EQ(regs.reg_EAX, 0x7305u);
    EXPECT_EQ(regs.reg_EDX, 5u);  // E: is drive 5 counted from A: = 1
    EXPECT_EQ(regs.reg_ECX, 0xFFFFFFFFu);
    EXPECT_EQ(regs.reg_ESI, 0u);
    EXPECT_EQ(DiskUtils::VWin32Handle, win::INVALID_HANDLE_VALUE);  // closed again
}

TEST_F(SectorAccess, Win9xFallsBackToInt25WhenTheExtendedReadFails) {
    // The volume refuses 7305h: the same read goes once through Int 25h.
    std::string profile = "[machine]\nhide_real_devices=1\nfamily=9x\n[logical.E]\nimage=" + image_ + "\nint21_7305=0\n";
    platform::Machine::Install(platform::Machine::FromProfileText(profile, dir_.Path(), false));
    DiskUtils::Initialize();
    platform::DeviceTrace::Enable(true);
    std::vector<std::uint8_t> buf(512);
    ASSERT_TRUE(ReadLogicalSectors("E:", 6, 1, buf.data()));
    EXPECT_EQ(StampAt(buf, 0), 6u);
    const auto& rq = platform::DeviceTrace::Requests();
    ASSERT_EQ(rq.size(), 2u);
    EXPECT_EQ(rq[0].code, win::VWIN32_DIOC_DOS_DRIVEINFO);
    EXPECT_EQ(rq[1].code, win::VWIN32_DIOC_DOS_INT25);
    win::DIOC_REGISTERS regs;
    std::memcpy(&regs, rq[1].input.data(), sizeof regs);
    EXPECT_EQ(regs.reg_EAX, 4u);  // Int 25h counts from A: = 0
}

TEST_F(SectorAccess, Win9xBelowBuild1081GoesStraightToInt25) {
    Install("9x", "build=950\n");
    EXPECT_FALSE(DiskUtils::Fat32DiskApi);
    platform::DeviceTrace::Enable(true);
    std::vector<std::uint8_t> buf(512);
    ASSERT_TRUE(ReadLogicalSectors("E:", 1, 1, buf.data()));
    ASSERT_EQ(platform::DeviceTrace::Requests().size(), 1u);
    EXPECT_EQ(platform::DeviceTrace::Requests()[0].code, win::VWIN32_DIOC_DOS_INT25);
}

TEST_F(SectorAccess, Win9xInt25FailureRecordsTheErrorCode) {
    Install("9x", "build=950\n");
    platform::MessageBoxRecorder boxes;
    std::vector<std::uint8_t> buf(512);
    EXPECT_FALSE(ReadLogicalSectors("E:", 40, 1, buf.data()));
    EXPECT_EQ(DiskUtils::LastDiskError, DiskUtils::kErrInt25 + 0x04);  // data error
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(SectorAccess, VWin32OnNtRecordsItsOwnError) {
    Install("nt");
    win::DIOC_REGISTERS regs{};
    EXPECT_FALSE(DiskUtils::VWin32Call(win::VWIN32_DIOC_DOS_INT25, regs));
    EXPECT_EQ(DiskUtils::LastDiskError, DiskUtils::kErrNotWin9x);
}

TEST_F(SectorAccess, NtDiskHandleReadsReportShortCountsAtTheEnd) {
    Install("nt");
    win::HANDLE h = OpenDiskHandle(0);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    std::vector<std::uint8_t> buf(8 * 512);
    std::uint32_t got = 0;
    ASSERT_TRUE(ReadDiskSectors(h, 8, buf.data(), 96, got, 0));
    EXPECT_EQ(got, 4u * 512);
    EXPECT_EQ(StampAt(buf, 3), 99u);
    EXPECT_FALSE(ReadDiskSectors(h, 2, buf.data(), 40, got, 0));  // unreadable
    win::CloseHandle(h);
    EXPECT_FALSE(ReadDiskSectors(win::INVALID_HANDLE_VALUE, 1, buf.data(), 0, got, 0));
}

TEST_F(SectorAccess, NtDiskHandlePathsForPhysicalAndLogicalNumbers) {
    Install("nt");
    platform::DeviceTrace::Enable(true);
    std::vector<std::uint8_t> buf(512);
    std::uint32_t got = 0;
    for (DriveNo d : {DriveNo(0), DriveNo(-'E')}) {
        win::HANDLE h = OpenDiskHandle(d);
        ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
        ASSERT_TRUE(ReadDiskSectors(h, 1, buf.data(), 3, got, d));
        win::CloseHandle(h);
    }
    const auto& rq = platform::DeviceTrace::Requests();
    ASSERT_EQ(rq.size(), 2u);
    EXPECT_EQ(rq[0].device, "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(rq[1].device, "\\\\.\\E:");
    EXPECT_EQ(rq[1].offset, 3u * 512);
    EXPECT_EQ(OpenDiskHandle(5), win::INVALID_HANDLE_VALUE);
}

TEST_F(SectorAccess, Win9xPhysicalReadGoesToTheDriverInPiecesOfSix) {
    Install("9x");
    ASSERT_TRUE(int13ext::Initialize());
    EXPECT_EQ(OpenDiskHandle(0), nullptr);  // no device on 9x
    platform::DeviceTrace::Enable(true);
    std::vector<std::uint8_t> buf(13 * 512);
    std::uint32_t got = 0;
    ASSERT_TRUE(ReadDiskSectors(nullptr, 13, buf.data(), 10, got, 0x80));
    EXPECT_EQ(got, 13u * 512);
    EXPECT_EQ(StampAt(buf, 12), 22u);
    const auto& rq = platform::DeviceTrace::Requests();
    ASSERT_EQ(rq.size(), 3u);
    std::vector<int> counts;
    for (const auto& r : rq) {
        TInt13Request q;
        std::memcpy(&q, r.input.data(), sizeof q);
        EXPECT_EQ(r.code, win::INT13EXT_READ_SECTORS);
        EXPECT_EQ(q.Drive, 0x80);
        counts.push_back(q.Count);
    }
    EXPECT_EQ(counts, (std::vector<int>{6, 6, 1}));
    int13ext::Int13ExitProc();
}

TEST_F(SectorAccess, Win9xPhysicalReadStopsAtTheFirstFailingPiece) {
    Install("9x");
    ASSERT_TRUE(int13ext::Initialize());
    platform::DeviceTrace::Enable(true);
    std::vector<std::uint8_t> buf(13 * 512);
    std::uint32_t got = 0;
    // Sectors 40 and 41 fail: the second piece (36..41) fails, the third is never sent.
    EXPECT_FALSE(ReadDiskSectors(nullptr, 13, buf.data(), 30, got, 0x80));
    EXPECT_EQ(got, 3072u);
    EXPECT_EQ(platform::DeviceTrace::Requests().size(), 2u);
    platform::DeviceTrace::Clear();
    EXPECT_FALSE(ReadDiskSectors(nullptr, 0, buf.data(), 0, got, 0x80));
    EXPECT_TRUE(platform::DeviceTrace::Requests().empty());
    int13ext::Int13ExitProc();
}

TEST_F(SectorAccess, Win9xLogicalDriveNumberReadsThroughTheVolume) {
    Install("9x");
    std::vector<std::uint8_t> buf(2 * 512);
    std::uint32_t got = 0;
    ASSERT_TRUE(ReadDiskSectors(nullptr, 2, buf.data(), 11, got, -'E'));
    EXPECT_EQ(got, 1024u);
    EXPECT_EQ(StampAt(buf, 1), 12u);
}

// The driver's request and the volume read carry a 32-bit sector: on
// Windows 9x a read that reaches sector 2^32 is refused, not wrapped to
// the sectors at the drive's start.
struct WrapCase {
    const char* name;
    DriveNo drive;
    std::int64_t lba;
    std::uint16_t count;
};
void PrintTo(const WrapCase& c, std::ostream* os) { *os << c.name; }
class Win9xSectorPast32Bits : public SectorAccess, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(Win9xSectorPast32Bits, IsRefusedRatherThanWrapped) {
    const WrapCase& c = GetParam();
    Install("9x");
    ASSERT_TRUE(int13ext::Initialize());
    std::vector<std::uint8_t> buf(c.count * 512u, 0xEE);
    std::uint32_t got = 0;
    EXPECT_FALSE(ReadDiskSectors(nullptr, c.count, buf.data(), c.lba, got, c.drive));
    EXPECT_EQ(got, 0u);
    int13ext::Int13ExitProc();
}

INSTANTIATE_TEST_SUITE_P(
    SectorAccess, Win9xSectorPast32Bits,
    ::testing::Values(WrapCase{"PhysicalAt2To32", 0x80, (1LL << 32) + 10, 1},
                      WrapCase{"PhysicalAcross2To32", 0x80, (1LL << 32) - 1, 2},
                      WrapCase{"LogicalAt2To32", static_cast<DriveNo>(-'E'), (1LL << 32) + 10, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SectorAccess, DriverParametersDescribeTheDrive) {
    Install("9x");
    ASSERT_TRUE(int13ext::Initialize());
    TDriveParams p{};
    ASSERT_TRUE(Int13GetDriveParams(0x80, p));
    EXPECT_EQ(p.BufferSize, 30);
    EXPECT_EQ(p.TotalSectors, 100u);
    EXPECT_EQ(p.BytesPerSector, 512);
    EXPECT_FALSE(Int13GetDriveParams(0x81, p));
    int13ext::Int13ExitProc();
    EXPECT_FALSE(Int13GetDriveParams(0x80, p));  // unloaded
}

TEST_F(SectorAccess, MissingDriverShowsTheBoxAndStopsTheStart) {
    Install("9x", "int13ext=missing\n");
    platform::MessageBoxRecorder boxes;
    EXPECT_FALSE(int13ext::Initialize());
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "Error loading \"INT13EXT.VXD\"");
    EXPECT_EQ(boxes.calls[0].caption, "Error");
    EXPECT_EQ(boxes.calls[0].type, win::MB_OK | win::MB_ICONEXCLAMATION);
}

TEST_F(SectorAccess, VersionTestReadsTheLowWordOfTheBuild) {
    Install("9x", "build=1081\n");
    EXPECT_TRUE(DiskUtils::Fat32DiskApi);
    EXPECT_FALSE(DiskUtils::IsWinNT());
    EXPECT_EQ(DiskUtils::OsVersion.dwBuildNumber >> 16, 0x040Au);  // high word is not the build
    Install("9x", "build=1080\n");
    EXPECT_FALSE(DiskUtils::Fat32DiskApi);
    Install("nt");
    EXPECT_TRUE(DiskUtils::IsWinNT());
    EXPECT_FALSE(DiskUtils::Fat32DiskApi);
}

}  // namespace
