#include "DataStruc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "MachineProfile.h"
#include "Recorders.h"
#include "System.h"
#include "TestSupport.h"
#include "int13ext.h"

namespace {

using platform::BackingStore;
using platform::Machine;
using platform::MachineConfig;

// A disk in memory: N sectors of zeros with tables and boot sectors
// written into it by the tests.
struct MemDisk {
    std::vector<std::uint8_t> bytes;
    explicit MemDisk(std::size_t sectors) : bytes(sectors * 512, 0) {}
    std::uint8_t* Sector(std::size_t s) { return bytes.data() + s * 512; }
    void Entry(std::size_t table, int slot, std::uint8_t type, std::uint32_t start, std::uint32_t count) {
        std::uint8_t* e = Sector(table) + 0x1BE + 16 * slot;
        e[4] = type;
        for (int i = 0; i < 4; ++i) {
            e[8 + i] = static_cast<std::uint8_t>(start >> (8 * i));
            e[12 + i] = static_cast<std::uint8_t>(count >> (8 * i));
        }
        Sector(table)[510] = 0x55;
        Sector(table)[511] = 0xAA;
    }
    // A FAT16 boot sector with a serial and a sector count.
    void Fat16Boot(std::size_t s, std::uint32_t serial, std::uint16_t sectors) {
        std::uint8_t* b = Sector(s);
        std::memcpy(b + 3, "MSDOS5.0", 8);
        b[0x0B] = 0x00, b[0x0C] = 0x02, b[0x0D] = 4, b[0x0E] = 1, b[0x10] = 2;
        b[0x13] = static_cast<std::uint8_t>(sectors), b[0x14] = static_cast<std::uint8_t>(sectors >> 8);
        b[0x16] = 8;
        for (int i = 0; i < 4; ++i) b[0x27 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
        std::memcpy(b + 0x36, "FAT16   ", 8);
        b[510] = 0x55, b[511] = 0xAA;
    }
    // A directory cluster's first entries: "." and ".." with a cluster.
    void DotEntries(std::size_t s, std::uint32_t cluster) {
        std::uint8_t* d = Sector(s);
        std::memcpy(d, ".          ", 11);
        std::memcpy(d + 32, "..         ", 11);
        d[11] = d[43] = 0x10;
        d[26] = static_cast<std::uint8_t>(cluster), d[27] = static_cast<std::uint8_t>(cluster >> 8);
        d[20] = static_cast<std::uint8_t>(cluster >> 16), d[21] = static_cast<std::uint8_t>(cluster >> 24);
    }
};

void InstallMemory(MemDisk& disk, std::vector<platform::SectorRange> unreadable = {},
                   platform::OsFamily family = platform::OsFamily::NT) {
    MachineConfig config;
    config.family = family;
    platform::PhysicalDriveConfig p;
    p.number = 0;
    p.store = BackingStore::FromMemory(disk.bytes);
    p.store->unreadable = std::move(unreadable);
    p.source = "memory";
    config.physical.push_back(p);
    Machine::Install(std::move(config));
}

TDriveGeometry Geometry0() {
    TDriveGeometry g;
    EXPECT_TRUE(GetPhysicalDriveGeometry(0, g));
    return g;
}

// (SysType, first sector, sector count) of a node.
using Shape = std::tuple<int, std::int64_t, std::uint32_t>;
Shape ShapeOf(const TPartiEntry* n) { return {n->RawEntry.SysType, n->FirstSector(), n->RawEntry.SectorCount.get()}; }
std::vector<Shape> Shapes(const std::vector<TPartiEntry*>& nodes) {
    std::vector<Shape> out;
    for (auto* n : nodes) out.push_back(ShapeOf(n));
    return out;
}
std::vector<Shape> Shapes(const std::vector<std::unique_ptr<TPartiEntry>>& nodes) {
    std::vector<Shape> out;
    for (auto& n : nodes) out.push_back(ShapeOf(n.get()));
    return out;
}

class DataStrucTest : public ::testing::Test {
protected:
    void SetUp() override { EventLogView = &log; }
    void TearDown() override {
        EventLogView = nullptr;
        platform::SetMessagePump({});
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> c;
        for (auto& r : log.rows) c.push_back(r.caption);
        return c;
    }
    platform::RecordingEventLog log;
    platform::RecordingProgressBar bar;
    platform::MessageBoxRecorder boxes;
};

// 16065 sectors: one cylinder of 255 x 63; the geometry's total.
constexpr std::size_t kSmall = 20000;
constexpr std::uint32_t kSmallTotal = 16065;

// ---------------------------------------------------------------------------
// Partition tree

TEST_F(DataStrucTest, PartitionTreeZeroSectorGivesOneGapAfterFirstTrack) {
    MemDisk disk(kSmall);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    ASSERT_EQ(drive.Partitions.size(), 2u);
    TPartiEntry* root = drive.Partitions[0].get();
    EXPECT_EQ(ShapeOf(root), Shape(5, 0, kSmallTotal));
    EXPECT_EQ(Shapes(root->Children), (std::vector<Shape>{{0, 63, kSmallTotal - 63}}));
    EXPECT_EQ(root->Children[0]->Base, 0);
}

struct TreeCase {
    const char* name;
    std::uint32_t start, count;
    std::vector<Shape> children;
};

class PartitionTreeShapes : public DataStrucTest, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(PartitionTreeShapes, GapsFollowTheRules) {
    const TreeCase& c = GetParam();
    MemDisk disk(kSmall);
    disk.Entry(0, 0, 0x06, c.start, c.count);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    EXPECT_EQ(Shapes(drive.Partitions[0]->Children), c.children);
}

INSTANTIATE_TEST_SUITE_P(
    DataStruc, PartitionTreeShapes,
    ::testing::Values(
        TreeCase{"FromFirstTrackToEnd", 63, kSmallTotal - 63, {{6, 63, kSmallTotal - 63}}},
        TreeCase{"AlignedStartHasGapBefore", 2048, kSmallTotal - 2048, {{0, 63, 1985}, {6, 2048, kSmallTotal - 2048}}},
        TreeCase{"OneSectorLeftGivesNoTrailingGap", 63, kSmallTotal - 64, {{6, 63, kSmallTotal - 64}}},
        TreeCase{"TwoSectorsLeftGiveTrailingGap", 63, kSmallTotal - 65, {{6, 63, kSmallTotal - 65}, {0, kSmallTotal - 2, 2}}},
        TreeCase{"EarlyStartGetsNoGap", 32, 1000, {{6, 32, 1000}, {0, 1032, kSmallTotal - 1032}}}),
    [](const auto& info) { return std::string(info.param.name); });

// An extended partition at 1000 with three logical drives back to back:
// each extended boot record's logical drive starts right after the track
// of its table, each link covers only the next logical drive.
MemDisk ChainedExtended(std::uint8_t extType) {
    MemDisk disk(kSmall);
    disk.Entry(0, 0, extType, 1000, 10000);
    disk.Entry(1000, 0, 0x06, 63, 937);       // L1: 1063..1999
    disk.Entry(1000, 1, 0x05, 1000, 1000);    // link to the table at 2000
    disk.Entry(2000, 0, 0x06, 63, 937);       // L2: 2063..2999
    disk.Entry(2000, 1, 0x05, 2000, 1000);    // link to the table at 3000
    disk.Entry(3000, 0, 0x06, 63, 937);       // L3: 3063..3999
    return disk;
}

TEST_F(DataStrucTest, PartitionTreeFollowsLinksFromExtendedStart) {
    MemDisk disk = ChainedExtended(0x05);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* root = drive.Partitions[0].get();
    ASSERT_EQ(Shapes(root->Children),
              (std::vector<Shape>{{0, 63, 937}, {5, 1000, 10000}, {0, 11000, kSmallTotal - 11000}}));
    TPartiEntry* ext = root->Children[1];
    ASSERT_EQ(Shapes(ext->Children), (std::vector<Shape>{{6, 1063, 937}, {5, 2000, 1000}, {0, 4000, 7000}}));
    TPartiEntry* link1 = ext->Children[1];
    EXPECT_EQ(link1->Base, 1000);
    ASSERT_EQ(Shapes(link1->Children), (std::vector<Shape>{{6, 2063, 937}, {5, 3000, 1000}}));
    TPartiEntry* link2 = link1->Children[1];
    EXPECT_EQ(link2->Base, 1000);
    EXPECT_EQ(link2->Children[0]->Base, 3000);
    ASSERT_EQ(Shapes(link2->Children), (std::vector<Shape>{{6, 3063, 937}}));
    // Depth first in creation order; the trailing gaps after their subtrees.
    EXPECT_EQ(Shapes(drive.Partitions),
              (std::vector<Shape>{{5, 0, kSmallTotal}, {0, 63, 937}, {5, 1000, 10000}, {6, 1063, 937},
                                  {5, 2000, 1000}, {6, 2063, 937}, {5, 3000, 1000}, {6, 3063, 937},
                                  {0, 4000, 7000}, {0, 11000, kSmallTotal - 11000}}));
}

TEST_F(DataStrucTest, PartitionTreeReadsLbaExtendedAfterGap) {
    MemDisk disk = ChainedExtended(0x0F);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* ext = drive.Partitions[0]->Children[1];
    EXPECT_EQ(ext->RawEntry.SysType, 0x0F);
    EXPECT_EQ(ext->Children.size(), 3u);
    EXPECT_EQ(drive.Partitions.size(), 10u);
}

TEST_F(DataStrucTest, PartitionTreeDoesNotFollowLinkBackToReadTable) {
    MemDisk disk(kSmall);
    disk.Entry(0, 0, 0x05, 1000, 10000);
    disk.Entry(1000, 0, 0x06, 63, 937);
    disk.Entry(1000, 1, 0x05, 1000, 1000);  // table at 2000
    disk.Entry(2000, 0, 0x06, 63, 937);
    disk.Entry(2000, 1, 0x05, 0, 1000);     // back to the table at 1000
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* link1 = drive.Partitions[0]->Children[1]->Children[1];
    // The link back starts before the table's next free sector, so the
    // sectors after its end count as a trailing gap again.
    ASSERT_EQ(Shapes(link1->Children), (std::vector<Shape>{{6, 2063, 937}, {5, 1000, 1000}, {0, 2000, 1000}}));
    TPartiEntry* back = link1->Children[1];
    EXPECT_EQ(back->FirstSector(), 1000);
    EXPECT_TRUE(back->Children.empty());
    EXPECT_EQ(drive.Partitions.size(), 10u);
}

TEST_F(DataStrucTest, PartitionTreeUnreadableTableBuildsNoNodeFromItsBytes) {
    MemDisk disk = ChainedExtended(0x05);
    InstallMemory(disk, {{1000, 1}});
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* ext = drive.Partitions[0]->Children[1];
    // Nothing of the table's entries; its sectors stay reachable as a gap.
    EXPECT_EQ(Shapes(ext->Children), (std::vector<Shape>{{0, 1063, 9937}}));
    EXPECT_EQ(drive.Partitions.size(), 5u);
}

TEST_F(DataStrucTest, PartitionTreeOfFixtureDisk) {
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TPhysicalDrive drive(Geometry0());
    const std::uint32_t total = 15 * 255 * 63;  // 120 MiB: 15 whole cylinders
    EXPECT_EQ(Shapes(drive.Partitions),
              (std::vector<Shape>{{5, 0, total},
                                  {0, 63, 1985},
                                  {6, 2048, 8192},
                                  {0, 10240, 2048},
                                  {0x0F, 12288, 92160},
                                  {0, 12351, 1985},
                                  {1, 14336, 4096},
                                  {5, 18432, 71680},
                                  {0, 18495, 1985},
                                  {0x0C, 20480, 69632},
                                  {5, 90112, 10240},
                                  {0, 90175, 1985},
                                  {7, 92160, 8192},
                                  {0, 100352, 4096},
                                  {0, 104448, total - 104448}}));
    std::vector<std::string> labels;
    for (auto& n : drive.Partitions) labels.push_back(n->VolumeLabel);
    EXPECT_EQ(labels, (std::vector<std::string>{"", "", "PRIMARY16", "", "", "", "LOGICAL12", "", "", "LOGICAL32", "",
                                                "", "NTFSVOL", "", ""}));
}

TEST_F(DataStrucTest, GeometryOn9xTakes63SectorsAndFullTotal) {
    vt::test::InstallProfile("[machine]\nfamily=9x\n[physical.0]\nimage=disk1.img\n");
    ASSERT_TRUE(int13ext::Initialize());
    TDriveGeometry g;
    ASSERT_TRUE(GetPhysicalDriveGeometry(0x80, g));
    EXPECT_EQ(g.DriveNo, 0x80);
    EXPECT_EQ(g.Geometry.SectorsPerTrack, 63u);
    EXPECT_EQ(g.Geometry.BytesPerSector, 512u);
    EXPECT_EQ(g.Geometry.TracksPerCylinder, 0u);
    EXPECT_EQ(g.Geometry.MediaType, 0u);
    EXPECT_EQ(g.TotalSectors, 245760);
    EXPECT_FALSE(GetPhysicalDriveGeometry(0x81, g));
    TPhysicalDriveList list;
    ASSERT_EQ(list.Count, 1);
    EXPECT_EQ(list.Drives[0]->Geometry.DriveNo, 0x80);
    EXPECT_EQ(list.Drives[0]->Partitions.size(), 15u);
    int13ext::Int13ExitProc();
}

TEST_F(DataStrucTest, DriveListHasLettersFirstThenPhysicalDrives) {
    vt::test::InstallProfile(
        "[logical.A]\nimage=floppy.img\ntype=removable\n"
        "[logical.F]\nimage=disk2.img\n"
        "[logical.G]\n"
        "[logical.H]\nimage=disk2.img\ntype=cdrom\n"
        "[physical.0]\nimage=disk1.img\n[physical.3]\nimage=disk2.img\n");
    EXPECT_EQ(GetLocalDriveLetters(), "AFG");
    TPhysicalDriveList list;
    ASSERT_EQ(list.Count, 5);
    std::vector<int> numbers;
    for (int i = 0; i < list.Count; ++i) numbers.push_back(list.Drives[i]->Geometry.DriveNo);
    EXPECT_EQ(numbers, (std::vector<int>{-'A', -'F', -'G', 0, 3}));
    EXPECT_EQ(list.Drives[0]->Partitions[0]->VolumeLabel, "FLOPPY");
    EXPECT_EQ(list.Drives[1]->Partitions[0]->VolumeLabel, "NoName");  // no volume found
    EXPECT_EQ(list.Drives[2]->Partitions[0]->VolumeLabel, "");        // no medium
    EXPECT_EQ(list.Drives[0]->Partitions.size(), 1u);
    EXPECT_EQ(list.Drives[0]->Partitions[0]->RawEntry.SectorCount.get(), 0u);
}

// ---------------------------------------------------------------------------
// Deep scan

TEST_F(DataStrucTest, DeepScanFindsTheLostPartitionOnly) {
    const std::string image = vt::test::ImagePath("disk1.img");
    const auto before = vt::test::FileChecksum(image);
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(drive.LostPartitions.size(), 1u);
    const TPartiEntry& lost = *drive.LostPartitions[0];
    // mkfs.fat rounds the volume down to whole tracks of 63 sectors.
    EXPECT_EQ(ShapeOf(&lost), Shape(0xFF, 106496, 8190));
    EXPECT_EQ(lost.Base, 0);
    EXPECT_EQ(lost.VolumeLabel, "LOSTVOL");
    EXPECT_EQ(Captions(), (std::vector<std::string>{"开始深度扫描...", "深度扫描已经完成"}));
    EXPECT_FALSE(drive.Busy);
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(drive.Partitions.size(), 15u);
    // A second scan appends the same finds again.
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    EXPECT_EQ(drive.LostPartitions.size(), 2u);
    EXPECT_EQ(vt::test::FileChecksum(image), before);
}

TEST_F(DataStrucTest, DeepScanAddsVolumeAtStartOfGap) {
    vt::test::InstallProfile("[physical.0]\nimage=disk2.img\n");
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(drive.LostPartitions.size(), 1u);
    EXPECT_EQ(ShapeOf(drive.LostPartitions[0].get()), Shape(0xFF, 63, 8190));
    EXPECT_EQ(drive.LostPartitions[0]->VolumeLabel, "ORPHAN");
}

TEST_F(DataStrucTest, DeepScanPassesOverRepeatedSerials) {
    MemDisk disk(kSmall);
    disk.Fat16Boot(100, 0x1F1F, 50);   // the first serial taken is 0x1F1F
    disk.Fat16Boot(200, 0xAAAA0001, 60);
    disk.Fat16Boot(206, 0xAAAA0001, 60);  // a backup copy, same serial
    disk.Fat16Boot(300, 0xBBBB0002, 70);
    disk.Fat16Boot(301, 0xCCCC0003, 0);   // 16-bit total 0: the 32-bit one
    disk.Sector(301)[0x20] = 0x34, disk.Sector(301)[0x21] = 0x12;
    disk.Entry(0, 0, 0x06, 300, 100);     // listed: not lost
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    EXPECT_EQ(Shapes(drive.LostPartitions), (std::vector<Shape>{{0xFF, 200, 60}, {0xFF, 301, 0x1234}}));
    // A gap's start is not a partition start.
    ASSERT_TRUE(IsNewPartitionStart(63, drive.Partitions));
    EXPECT_FALSE(IsNewPartitionStart(300, drive.Partitions));
    EXPECT_TRUE(IsNewPartitionStart(0, drive.Partitions));  // the whole drive
}

TEST_F(DataStrucTest, DeepScanReadsInChunksOf1000) {
    MemDisk disk(kSmall);
    disk.Fat16Boot(1499, 0x12345678, 10);
    disk.Fat16Boot(1500, 0x12345679, 10);  // past the node: the last read still reaches it
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    node.RawEntry.StartLba.set(0);
    node.RawEntry.SectorCount.set(1500);
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    ASSERT_TRUE(drive.DeepScan(&node, &bar));
    platform::DeviceTrace::Enable(false);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> reads;
    for (auto& r : platform::DeviceTrace::Requests())
        if (r.code == 0 && r.length == 512000) reads.emplace_back(r.offset, r.length);
    EXPECT_EQ(reads, (std::vector<std::pair<std::uint64_t, std::uint32_t>>{{0, 512000}, {512000, 512000}}));
    EXPECT_EQ(drive.LostPartitions.size(), 2u);
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 50, 0}));
}

TEST_F(DataStrucTest, DeepScanStopEndsAfterChunkInHand) {
    MemDisk disk(kSmall);
    disk.Fat16Boot(500, 1, 10);
    disk.Fat16Boot(1500, 2, 10);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    drive.Stop();  // between operations: dropped
    EXPECT_FALSE(drive.Aborted);
    platform::SetMessagePump([&] { drive.Stop(); }, std::chrono::milliseconds(0));
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    EXPECT_EQ(Shapes(drive.LostPartitions), (std::vector<Shape>{{0xFF, 500, 10}}));
    EXPECT_EQ(Captions(), (std::vector<std::string>{"开始深度扫描...", "深度扫描进程被用户中止"}));
    EXPECT_EQ(log.rows[1].imageIndex, 2);
    EXPECT_FALSE(drive.Aborted);
    EXPECT_FALSE(drive.Busy);
}

TEST_F(DataStrucTest, DeepScanOfEmptyNodeReadsNothing) {
    MemDisk disk(kSmall);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    ASSERT_TRUE(drive.DeepScan(&node, &bar));
    platform::DeviceTrace::Enable(false);
    for (auto& r : platform::DeviceTrace::Requests()) EXPECT_NE(r.code, 0u) << "a read";
    EXPECT_EQ(Captions(), (std::vector<std::string>{"开始深度扫描...", "深度扫描已经完成"}));
}

TEST_F(DataStrucTest, DeepScanRefusedWhileBusy) {
    MemDisk disk(kSmall);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    drive.Busy = true;
    EXPECT_FALSE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    EXPECT_TRUE(log.rows.empty());
}

TEST_F(DataStrucTest, DeepScanOfLogicalDriveWithoutMedium) {
    vt::test::InstallProfile("[logical.G]\n");
    TDriveGeometry g;
    g.DriveNo = -'G';
    TPhysicalDrive drive(g);
    EXPECT_FALSE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "驱动器未就绪。");
    EXPECT_EQ(boxes.calls[0].type & win::MB_ICONMASK, win::MB_ICONERROR);
}

TEST(DataStrucBoot, SerialOffsetsByFileSystem) {
    std::vector<std::uint8_t> b(512, 0);
    for (int i = 0; i < 4; ++i) b[0x27 + i] = 0x10 + i, b[0x43 + i] = 0x20 + i, b[0x48 + i] = 0x30 + i;
    EXPECT_EQ(GetVolumeSerial(b, vt::fsFat12), 0x13121110u);
    EXPECT_EQ(GetVolumeSerial(b, vt::fsFat16), 0x13121110u);
    EXPECT_EQ(GetVolumeSerial(b, vt::fsFat32), 0x23222120u);
    EXPECT_EQ(GetVolumeSerial(b, vt::fsNtfs), 0x33323130u);
}

TEST(DataStrucBoot, BootSectorNeedsMarkAndKnownFileSystem) {
    MemDisk d(1);
    d.Fat16Boot(0, 5, 100);
    std::span<const std::uint8_t> s(d.bytes);
    DataStruc::BootSectorInfo info;
    ASSERT_TRUE(DataStruc::ExamineBootSector(s, info));
    EXPECT_EQ(info.FsType, vt::fsFat16);
    EXPECT_EQ(info.SectorCount, 100u);
    d.bytes[510] = 0;
    EXPECT_FALSE(DataStruc::ExamineBootSector(s, info));
    d.bytes[510] = 0x55;
    std::memcpy(d.bytes.data() + 0x36, "FAT     ", 8);
    EXPECT_FALSE(DataStruc::ExamineBootSector(s, info));
}

TEST(DataStrucLfn, PiecesJoinByChecksum) {
    std::uint8_t e[32] = {};
    e[11] = 0x0F;
    e[13] = 0x42;
    const char16_t first[] = u"abcdefghijklm";
    // Characters 1-5 at 1, 6-11 at 14, 12-13 at 28.
    auto put = [&](const char16_t* s) {
        for (int i = 0; i < 5; ++i) e[1 + 2 * i] = static_cast<std::uint8_t>(s[i]), e[2 + 2 * i] = 0;
        for (int i = 0; i < 6; ++i) e[14 + 2 * i] = static_cast<std::uint8_t>(s[5 + i]), e[15 + 2 * i] = 0;
        for (int i = 0; i < 2; ++i) e[28 + 2 * i] = static_cast<std::uint8_t>(s[11 + i]), e[29 + 2 * i] = 0;
    };
    put(first);
    std::string name = "old";
    std::int32_t sum = -1;
    EXPECT_EQ(DataStruc::DecodeLfnEntry(e, name, sum), 1);
    EXPECT_EQ(name, "abcdefghijklm");
    EXPECT_EQ(sum, 0x42);
    EXPECT_EQ(DataStruc::DecodeLfnEntry(e, name, sum), 2);
    EXPECT_EQ(name, "abcdefghijklmabcdefghijklm");
    e[28] = 0xFF, e[29] = 0xFF;  // a piece of padding is skipped
    name.clear();
    sum = -1;
    DataStruc::DecodeLfnEntry(e, name, sum);
    EXPECT_EQ(name, "abcdefghijk");
    e[11] = 0x20;
    EXPECT_EQ(DataStruc::DecodeLfnEntry(e, name, sum), 0);
    EXPECT_EQ(sum, -1);
}

TEST(DataStrucDates, FatDatesAndTheirLimits) {
    double v = -1;
    EXPECT_TRUE(DataStruc::FatDateTimeToDateTime(0, 0, v));
    EXPECT_EQ(v, 0);
    v = -1;
    EXPECT_FALSE(DataStruc::FatDateTimeToDateTime(0, 1, v));
    EXPECT_EQ(v, -1);  // month 0: untouched
    // 2009-06-15 10:20:30
    const std::uint16_t date = ((2009 - 1980) << 9) | (6 << 5) | 15, time = (10 << 11) | (20 << 5) | 15;
    ASSERT_TRUE(DataStruc::FatDateTimeToDateTime(date, time, v));
    EXPECT_NEAR(v, 39979 + (10 * 3600 + 20 * 60 + 30) / 86400.0, 1e-9);
    EXPECT_FALSE(DataStruc::FatDateTimeToDateTime(((2009 - 1980) << 9) | (2 << 5) | 30, 0, v));
    EXPECT_EQ(v, 0);  // 30 February
}

}  // namespace
