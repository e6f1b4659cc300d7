#include "DataStruc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>

#include "MachineProfile.h"
#include "NtfsTestRecords.h"
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

// 16065 sectors make one cylinder of 255 x 63; the drive's total is its
// exact size all the same, the partial cylinder after it included.
constexpr std::size_t kSmall = 20000;
constexpr std::uint32_t kSmallTotal = 20000;

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
    const std::uint32_t total = 245760;  // 120 MiB, the partial 16th cylinder included
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

// A logical drive whose volume counts 4096-byte sectors shows the label
// its root holds, found where those sectors put the root.
TEST_F(DataStrucTest, LogicalDriveOf4096ByteSectorsShowsItsLabel) {
    vt::test::InstallProfile("[logical.E]\nimage=label4k.img\n");
    TPhysicalDriveList list;
    ASSERT_EQ(list.Count, 1);
    EXPECT_EQ(list.Drives[0]->Partitions[0]->VolumeLabel, "FOURKLBL");
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

// A sector that cannot be read in the 1000 that hold LOSTVOL's boot sector
// (106496) costs only itself, and the scan's last line counts it.
TEST_F(DataStrucTest, DeepScanSkipsOnlyTheSectorThatCannotBeRead) {
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\nunreadable=106500\n");
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(drive.LostPartitions.size(), 1u);
    EXPECT_EQ(drive.LostPartitions[0]->FirstSector(), 106496);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"开始深度扫描...", "深度扫描已经完成", "1 个扇区无法读取，已跳过"}));
    EXPECT_EQ(log.rows.back().imageIndex, kLogWarning);
}

TEST_F(DataStrucTest, DeepScanAddsVolumeAtStartOfGap) {
    vt::test::InstallProfile("[physical.0]\nimage=disk2.img\n");
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(drive.LostPartitions.size(), 1u);
    EXPECT_EQ(ShapeOf(drive.LostPartitions[0].get()), Shape(0xFF, 63, 8190));
    EXPECT_EQ(drive.LostPartitions[0]->VolumeLabel, "ORPHAN");
}

// An NTFS boot sector counts its volume's sectors in 64 bits: a lost
// volume of 5,000,000,000 sectors (2.3 TiB) keeps its length, and the
// low 32 bits in its entry.
TEST_F(DataStrucTest, DeepScanKeepsA64BitNtfsCount) {
    MemDisk disk(kSmall);
    std::uint8_t* b = disk.Sector(100);
    std::memcpy(b + 3, "NTFS    ", 8);
    b[0x0B] = 0x00, b[0x0C] = 0x02, b[0x0D] = 8;
    constexpr std::uint64_t kSectors = 5000000000ull;
    for (int i = 0; i < 8; ++i) b[0x28 + i] = static_cast<std::uint8_t>(kSectors >> (8 * i));
    b[510] = 0x55, b[511] = 0xAA;
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(drive.LostPartitions.size(), 1u);
    EXPECT_EQ(drive.LostPartitions[0]->FirstSector(), 100);
    EXPECT_EQ(drive.LostPartitions[0]->SectorTotal(), static_cast<std::int64_t>(kSectors));
    EXPECT_EQ(drive.LostPartitions[0]->RawEntry.SectorCount.get(), static_cast<std::uint32_t>(kSectors));
}

// Nodes the engine makes itself at sectors past 2^32 keep their place.
TEST(PartitionNode, PlacedPast32BitsKeepsItsFirstSectorAndLength) {
    TPartiEntry gap;
    gap.SetFirstSector(2048, 2048 + 100);
    EXPECT_EQ(gap.Base, 2048);
    EXPECT_EQ(gap.RawEntry.StartLba.get(), 100u);
    const std::int64_t far = (1LL << 32) + 260096;
    gap.SetFirstSector(0, far);
    gap.SetSectorTotal((1LL << 32) + 5);
    EXPECT_EQ(gap.FirstSector(), far);
    EXPECT_EQ(gap.SectorTotal(), (1LL << 32) + 5);
    EXPECT_EQ(gap.RawEntry.SectorCount.get(), 5u);
    // A table entry's node counts with its entry.
    TPartiEntry entry;
    entry.RawEntry.SectorCount.set(0xFFFFFFFFu);
    EXPECT_EQ(entry.SectorTotal(), 0xFFFFFFFFLL);
}

TEST_F(DataStrucTest, DeepScanPassesOverRepeatedSerials) {
    MemDisk disk(kSmall);
    disk.Fat16Boot(100, 0x1F1F, 50);   // any serial counts for the first volume
    disk.Fat16Boot(200, 0xAAAA0001, 60);
    disk.Fat16Boot(206, 0xAAAA0001, 60);  // a backup copy inside the volume, same serial
    disk.Fat16Boot(230, 0xAAAA0001, 20);  // a volume stored inside it, made with its serial
    disk.Fat16Boot(260, 0xAAAA0001, 60);  // a clone at the volume's end: a volume of its own
    disk.Fat16Boot(300, 0xBBBB0002, 70);
    disk.Fat16Boot(301, 0xCCCC0003, 0);   // 16-bit total 0: the 32-bit one
    disk.Sector(301)[0x20] = 0x34, disk.Sector(301)[0x21] = 0x12;
    disk.Entry(0, 0, 0x06, 300, 100);     // listed: not lost
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    EXPECT_EQ(Shapes(drive.LostPartitions),
              (std::vector<Shape>{{0xFF, 100, 50}, {0xFF, 200, 60}, {0xFF, 230, 20}, {0xFF, 260, 60}, {0xFF, 301, 0x1234}}));
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

// The type string is informational: a FAT boot sector is one by its BPB,
// and its type is its cluster count's (20 clusters: FAT12).
TEST(DataStrucBoot, BootSectorNeedsMarkAndKnownFileSystem) {
    MemDisk d(1);
    d.Fat16Boot(0, 5, 100);
    std::span<const std::uint8_t> s(d.bytes);
    DataStruc::BootSectorInfo info;
    ASSERT_TRUE(DataStruc::ExamineBootSector(s, info));
    EXPECT_EQ(info.FsType, vt::fsFat12);
    EXPECT_EQ(info.SectorCount, 100u);
    d.bytes[510] = 0;
    EXPECT_FALSE(DataStruc::ExamineBootSector(s, info));
    d.bytes[510] = 0x55;
    std::memcpy(d.bytes.data() + 0x36, "EXT4    ", 8);
    EXPECT_FALSE(DataStruc::ExamineBootSector(s, info));
    // A jump and a media byte make the BPB a FAT volume's, whatever the
    // string holds ("FAT16" hit by a bit flip).
    d.bytes[0] = 0xEB, d.bytes[0x15] = 0xF8;
    std::memcpy(d.bytes.data() + 0x36, "FAX16   ", 8);
    ASSERT_TRUE(DataStruc::ExamineBootSector(s, info));
    EXPECT_EQ(info.FsType, vt::fsFat12);
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

// ---------------------------------------------------------------------------
// Partition scan

TEST(DataStrucSignatures, DirectoryAndRecordStarts) {
    std::vector<std::uint8_t> s(512, 0);
    std::memcpy(s.data(), ".       ", 8);
    std::memcpy(s.data() + 8, "XYZ\x10 other 24 bytes ...", 24);
    std::memcpy(s.data() + 32, "..      ", 8);
    EXPECT_TRUE(IsDirectoryStart(s));
    s[3] = 'x';  // ". " followed by other characters
    EXPECT_FALSE(IsDirectoryStart(s));
    std::vector<std::uint8_t> r(512, 0);
    std::memcpy(r.data(), "FILE", 4);
    r[0x14] = 0x38;
    r[0x38] = 0x10;
    EXPECT_TRUE(IsFileRecordStart(r));
    r[0x38] = 0x30;
    EXPECT_FALSE(IsFileRecordStart(r));
    r[0x38] = 0x10;
    std::memcpy(r.data(), "BAAD", 4);
    EXPECT_FALSE(IsFileRecordStart(r));
}

struct VoteCase {
    const char* name;
    std::vector<std::uint32_t> clusters;  // of the directories found
    TFsType expected;
};

class FatTypeVote : public DataStrucTest, public ::testing::WithParamInterface<VoteCase> {};

TEST_P(FatTypeVote, HighClusterWordsDecide) {
    MemDisk disk(kSmall);
    std::size_t sector = 100;
    for (std::uint32_t c : GetParam().clusters) disk.DotEntries(sector += 100, c);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* root = drive.Partitions[0].get();
    ASSERT_TRUE(drive.ScanPartition(root, &bar));
    EXPECT_EQ(root->DirSectors.size(), GetParam().clusters.size());
    EXPECT_EQ(root->FatType, GetParam().expected);
    EXPECT_TRUE(root->Scanned);
    EXPECT_EQ(drive.CurPartition, root);
}

INSTANTIATE_TEST_SUITE_P(DataStruc, FatTypeVote,
                         ::testing::Values(VoteCase{"NoDirectory", {}, vt::fsFat32},
                                           VoteCase{"OneDirectory", {5}, vt::fsFat32},
                                           VoteCase{"TwoLowClusters", {5, 9}, vt::fsFat16},
                                           VoteCase{"OneHighCluster", {5, 0x10009}, vt::fsFat32}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DataStrucTest, ScanPartitionReplacesItsFinds) {
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* fat16 = drive.Partitions[2].get();
    TPartiEntry* ntfs = drive.Partitions[12].get();
    ASSERT_EQ(fat16->VolumeLabel, "PRIMARY16");
    ASSERT_EQ(ntfs->VolumeLabel, "NTFSVOL");
    ASSERT_TRUE(drive.ScanPartition(fat16, &bar));
    EXPECT_EQ(fat16->DirSectors.size(), 2u);  // docs and docs/inner
    EXPECT_TRUE(drive.MftSectors.empty());
    const auto first = fat16->DirSectors;
    ASSERT_TRUE(drive.ScanPartition(fat16, &bar));
    EXPECT_EQ(fat16->DirSectors, first);
    ASSERT_TRUE(drive.ScanPartition(ntfs, &bar));
    EXPECT_GE(drive.MftSectors.size(), 16u);
    for (auto s : drive.MftSectors) EXPECT_TRUE(s >= 92160 && s < 100352) << s;
    ASSERT_TRUE(drive.ScanPartition(fat16, &bar));
    EXPECT_TRUE(drive.MftSectors.empty());
    EXPECT_EQ(fat16->DirSectors, first);
    EXPECT_EQ(Captions().back(), "驱动器扫描完成");
}

TEST_F(DataStrucTest, ScanPartitionOfEmptyNodeReadsNothing) {
    MemDisk disk(kSmall);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    ASSERT_TRUE(drive.ScanPartition(&node, &bar));
    platform::DeviceTrace::Enable(false);
    for (auto& r : platform::DeviceTrace::Requests()) EXPECT_NE(r.code, 0u) << "a read";
    EXPECT_EQ(Captions(), (std::vector<std::string>{"驱动器扫描已启动", "正在扫描 ...", "驱动器扫描完成"}));
    EXPECT_EQ(node.FatType, vt::fsFat32);
}

TEST_F(DataStrucTest, ScanStopKeepsFindsAndListingRunsAfter) {
    MemDisk disk(kSmall);
    for (auto [sector, cluster] : {std::pair{300, 10}, {700, 60}, {1300, 135}}) {
        disk.DotEntries(sector, cluster);
        std::memcpy(disk.Sector(sector) + 64, "FILE    TXT\x20", 12);
    }
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* root = drive.Partitions[0].get();
    platform::SetMessagePump([&] { drive.Stop(); }, std::chrono::milliseconds(0));
    ASSERT_TRUE(drive.ScanPartition(root, &bar));
    platform::SetMessagePump({});
    EXPECT_EQ(root->DirSectors, (std::vector<std::int64_t>{300, 700}));
    EXPECT_EQ(Captions().back(), "驱动器扫描被用户中止");
    EXPECT_EQ(log.rows.back().imageIndex, 2);
    EXPECT_FALSE(drive.Aborted);
    drive.BuildFatList(&bar);
    EXPECT_EQ(root->SectorsPerCluster, 8);
    EXPECT_EQ(root->DataStart, 236);
    EXPECT_EQ(root->DirSectors, (std::vector<std::int64_t>{236, 300, 700}));
}

TEST_F(DataStrucTest, ScanOfLogicalDriveNotReadyMarksScanned) {
    vt::test::InstallProfile("[logical.G]\n");
    TDriveGeometry g;
    g.DriveNo = -'G';
    TPhysicalDrive drive(g);
    TPartiEntry* root = drive.Partitions[0].get();
    EXPECT_FALSE(drive.ScanPartition(root, &bar));
    EXPECT_TRUE(root->Scanned);
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "驱动器未就绪。");
    drive.Busy = true;
    root->Scanned = false;
    EXPECT_FALSE(drive.ScanPartition(root, &bar));
    EXPECT_FALSE(root->Scanned);
}

// ---------------------------------------------------------------------------
// Directory parse

// A directory at sector 100 (cluster 7): "." and "..", then the entries.
struct DirBuilder {
    MemDisk disk{kSmall};
    std::size_t next = 2;
    DirBuilder() { disk.DotEntries(100, 7); }
    std::uint8_t* Add(const char* name11, std::uint8_t attr = 0x20) {
        std::uint8_t* e = disk.Sector(100) + 32 * next++;
        std::memcpy(e, name11, 11);
        e[11] = attr;
        // 2009-06-15 10:20:30 as write and creation date.
        const std::uint16_t date = ((2009 - 1980) << 9) | (6 << 5) | 15, time = (10 << 11) | (20 << 5) | 15;
        e[14] = e[22] = static_cast<std::uint8_t>(time), e[15] = e[23] = static_cast<std::uint8_t>(time >> 8);
        e[16] = e[24] = static_cast<std::uint8_t>(date), e[17] = e[25] = static_cast<std::uint8_t>(date >> 8);
        return e;
    }
};

std::vector<std::string> ShortNames(const TPartiEntry& node) {
    std::vector<std::string> names;
    for (auto& e : node.FatEntries) {
        std::string n(reinterpret_cast<const char*>(e->DirEntry.Name.data()), 8);
        n += "|";
        n.append(reinterpret_cast<const char*>(e->DirEntry.Ext.data()), 3);
        names.push_back(e->LongName.empty() ? n : e->LongName);
    }
    return names;
}

struct ParseCase {
    const char* name;
    std::function<void(DirBuilder&)> build;
    std::vector<std::string> listed;
};

class DirectoryParse : public DataStrucTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(DirectoryParse, EndsWhereTheDirectoryEnds) {
    DirBuilder b;
    b.Add("FIRST   TXT");
    GetParam().build(b);
    b.Add("AFTER   TXT");
    InstallMemory(b.disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    node.FatType = vt::fsFat16;
    drive.CurPartition = &node;
    ASSERT_TRUE(drive.ParseFatDirectory(false, 100));
    EXPECT_EQ(ShortNames(node), GetParam().listed);
    for (auto& e : node.FatEntries) {
        EXPECT_EQ(e->DirSector, 100u);
        EXPECT_EQ(e->DirCluster, 7u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DataStruc, DirectoryParse,
    ::testing::Values(
        ParseCase{"ZerosEnd", [](DirBuilder& b) { b.next += 1; }, {"First   |txt"}},
        ParseCase{"NextDotEntryEnds", [](DirBuilder& b) { b.Add(".          ", 0x10); }, {"First   |txt"}},
        ParseCase{"DeletedWithEmptyRestGoesOn",
                  [](DirBuilder& b) { b.Add("\xE5          "); },
                  {"First   |txt", "\xE5       |   ", "After   |txt"}},
        ParseCase{"CreationZeroZeroListed",
                  [](DirBuilder& b) {
                      auto* e = b.Add("ZERO    DAT");
                      e[14] = e[15] = e[16] = e[17] = 0;
                  },
                  {"First   |txt", "Zero    |dat", "After   |txt"}},
        ParseCase{"CreationDateZeroWithTimeEnds",
                  [](DirBuilder& b) {
                      auto* e = b.Add("ZERO    DAT");
                      e[16] = e[17] = 0;
                  },
                  {"First   |txt"}},
        ParseCase{"Attribute38Ends", [](DirBuilder& b) { b.Add("ODD     BIN", 0x38); }, {"First   |txt"}},
        ParseCase{"VolumeLabelPassedOver", [](DirBuilder& b) { b.Add("LABEL      ", 0x08); },
                  {"First   |txt", "After   |txt"}},
        ParseCase{"SizeAllOnesPassedOver",
                  [](DirBuilder& b) {
                      auto* e = b.Add("HUGE    BIN");
                      e[28] = e[29] = e[30] = e[31] = 0xFF;
                  },
                  {"First   |txt", "After   |txt"}},
        ParseCase{"LongNameKept",
                  [](DirBuilder& b) {
                      std::uint8_t* l = b.Add("\x41L\0o\0n\0g\0\0\0", 0x0F);
                      l[13] = 0xB1;  // the checksum of LONG~1  TXT
                      for (int i = 14; i < 32; ++i) l[i] = 0xFF;
                      l[26] = l[27] = 0;
                      b.Add("LONG~1  TXT");
                  },
                  {"First   |txt", "Long", "After   |txt"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct CaseRuleCase {
    const char* name;
    std::uint8_t ntres;
    TFsType fat;
    const char* shown;
    const char* stored = "README  TXT";
};

class CaseRule : public DataStrucTest, public ::testing::WithParamInterface<CaseRuleCase> {};

TEST_P(CaseRule, RewritesShortNames) {
    DirBuilder b;
    b.Add(GetParam().stored)[12] = GetParam().ntres;
    InstallMemory(b.disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    node.FatType = GetParam().fat;
    drive.CurPartition = &node;
    ASSERT_TRUE(drive.ParseFatDirectory(false, 100));
    EXPECT_EQ(ShortNames(node), std::vector<std::string>{GetParam().shown});
}

INSTANTIATE_TEST_SUITE_P(DataStruc, CaseRule,
                         ::testing::Values(CaseRuleCase{"Fat16Plain", 0, vt::fsFat16, "Readme  |txt"},
                                           CaseRuleCase{"Fat32Plain", 0, vt::fsFat32, "README  |TXT"},
                                           CaseRuleCase{"Fat16Both", 0x18, vt::fsFat16, "readme  |txt"},
                                           CaseRuleCase{"Fat32Both", 0x18, vt::fsFat32, "README  |TXT"},
                                           CaseRuleCase{"Fat16Base", 0x08, vt::fsFat16, "readme  |txt"},
                                           CaseRuleCase{"Fat32Base", 0x08, vt::fsFat32, "readme  |txt"},
                                           CaseRuleCase{"Fat12Plain", 0, vt::fsFat12, "Readme  |txt"},
                                           CaseRuleCase{"OtherBits", 0x10, vt::fsFat16, "README  |TXT"},
                                           // GBK 0x81 0x41 (丄) and 0xE5 0x45 (錏, stored 0x05 0x45):
                                           // their second bytes are no letters
                                           CaseRuleCase{"Fat16GbkSecondByte", 0, vt::fsFat16,
                                                        "\x81" "Ab     |t\x81" "B", "\x81" "AB     T\x81" "B"},
                                           CaseRuleCase{"Fat32GbkAfter05", 0x08, vt::fsFat32, "\x05" "Ea     |txt",
                                                        "\x05" "EA     TXT"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DataStrucTest, ParseOfUnknownTypeReadsNoEntry) {
    DirBuilder b;
    b.Add("README  TXT");
    InstallMemory(b.disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    node.FatType = vt::fsNtfs;
    drive.CurPartition = &node;
    EXPECT_TRUE(drive.ParseFatDirectory(false, 100));
    EXPECT_TRUE(node.FatEntries.empty());
    // Past the end the read succeeds with nothing in it.
    node.FatType = vt::fsFat16;
    EXPECT_TRUE(drive.ParseFatDirectory(false, kSmall + 10));
    EXPECT_TRUE(node.FatEntries.empty());
}

// ---------------------------------------------------------------------------
// Cluster layout

std::unique_ptr<TPhysMidEntry> Found(std::uint32_t sector, std::uint32_t cluster) {
    auto e = std::make_unique<TPhysMidEntry>();
    e->DirSector = sector;
    e->DirCluster = cluster;
    return e;
}

TEST_F(DataStrucTest, LayoutFromTwoDirectories) {
    MemDisk disk(kSmall);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    drive.CurPartition = &node;
    node.FatEntries.push_back(Found(300, 10));
    node.FatEntries.push_back(Found(300, 10));
    node.FatEntries.push_back(Found(900, 5));   // cluster order against sector order: not used
    node.FatEntries.push_back(Found(700, 60));
    drive.EstimateFatLayout(nullptr, nullptr);
    EXPECT_EQ(node.SectorsPerCluster, 8);
    EXPECT_EQ(node.DataStart, 236);
}

TEST_F(DataStrucTest, LayoutTakesOnlyAPowerOfTwoAndFarApartEntriesDoNotOverflow) {
    MemDisk disk(kSmall);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    drive.CurPartition = &node;
    node.FatEntries.push_back(Found(300, 10));
    node.FatEntries.push_back(Found(303, 11));  // 3 sectors per cluster: no cluster size
    node.FatEntries.push_back(Found(700, 60));
    drive.EstimateFatLayout(nullptr, nullptr);
    EXPECT_EQ(node.SectorsPerCluster, 8);
    EXPECT_EQ(node.DataStart, 236);
    drive.EstimateFatLayout(node.FatEntries[0].get(), node.FatEntries[1].get());
    EXPECT_EQ(node.SectorsPerCluster, 0);
    EXPECT_EQ(node.DataStart, 0x7FFFFFFF);
    // "." entries that put two directories nearly 2^32 apart in both
    // clusters and sectors: their orders agree, whatever their product.
    node.FatEntries.clear();
    node.FatEntries.push_back(Found(0xFFFFFFF0u, 0xFFFFFFF0u));
    node.FatEntries.push_back(Found(2, 4));
    drive.EstimateFatLayout(nullptr, nullptr);
    EXPECT_EQ(node.SectorsPerCluster, 1);
    EXPECT_EQ(node.DataStart, 2);
}

struct TableCase {
    const char* name;
    TFsType fat;
    std::uint32_t mib;
    int expected;
};

class LayoutFromTables : public DataStrucTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(LayoutFromTables, BySizeInMiB) {
    const TableCase& c = GetParam();
    MemDisk disk(kSmall);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    node.FatType = c.fat;
    node.RawEntry.SysType = c.fat == vt::fsFat32 ? 0x0C : 0x06;
    node.RawEntry.SectorCount.set(c.mib << 11);
    drive.CurPartition = &node;
    node.FatEntries.push_back(Found(5000, 12));
    drive.EstimateFatLayout(nullptr, nullptr);
    EXPECT_EQ(node.SectorsPerCluster, c.expected);
    EXPECT_EQ(node.DataStart, 5000 - 10 * c.expected);
    // A gap (or a whole drive) is no partition formatted at its size: the
    // table places no cluster 2 there.
    node.RawEntry.SysType = 0;
    drive.EstimateFatLayout(nullptr, nullptr);
    EXPECT_EQ(node.DataStart, 0x7FFFFFFF);
    node.RawEntry.SysType = c.fat == vt::fsFat32 ? 0x0C : 0x06;
    node.DriveNo = -'E';  // a logical drive always gets 1
    drive.EstimateFatLayout(nullptr, nullptr);
    EXPECT_EQ(node.SectorsPerCluster, 1);
    node.FatEntries.clear();
    drive.EstimateFatLayout(nullptr, nullptr);
    EXPECT_EQ(node.DataStart, 0x7FFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(DataStruc, LayoutFromTables,
                         ::testing::Values(TableCase{"Fat16Of20000MiB", vt::fsFat16, 20000, 512},
                                           TableCase{"Fat32Of20000MiB", vt::fsFat32, 20000, 32},
                                           TableCase{"Fat32Of1024MiB", vt::fsFat32, 1024, 8},
                                           TableCase{"Fat32Of1025MiB", vt::fsFat32, 1025, 8},
                                           TableCase{"Fat32Of100MiB", vt::fsFat32, 100, 2},
                                           TableCase{"Fat16Of15MiB", vt::fsFat16, 15, 8},
                                           TableCase{"Fat16Of16MiB", vt::fsFat16, 16, 4},
                                           TableCase{"Fat32Below32MiB", vt::fsFat32, 31, 1},
                                           TableCase{"Fat32OfNothing", vt::fsFat32, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// FAT listing on the fixtures

// A found folder near a partition's end, without a boot sector to give
// the volume: its directory is read up to the node's end, not into the
// partition after it.
TEST_F(DataStrucTest, FolderNearTheNodesEndIsReadInsideTheNode) {
    MemDisk disk(kSmall);
    disk.Entry(0, 0, 0x06, 1000, 2000);
    disk.Entry(0, 1, 0x06, 3000, 2000);
    disk.DotEntries(2900, 5);
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* part = nullptr;
    for (auto& n : drive.Partitions)
        if (n->FirstSector() == 1000 && n->RawEntry.SysType == 0x06) part = n.get();
    ASSERT_NE(part, nullptr);
    ASSERT_TRUE(drive.ScanPartition(part, &bar));
    ASSERT_EQ(part->DirSectors, (std::vector<std::int64_t>{2900}));
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    drive.BuildFatList(&bar);
    platform::DeviceTrace::Enable(false);
    std::size_t reads = 0;
    for (auto& r : platform::DeviceTrace::Requests()) {
        if (r.code != 0) continue;
        ++reads;
        EXPECT_GE(r.offset, 1000u * 512) << r.offset;
        EXPECT_LE(r.offset + r.length, 3000u * 512) << r.offset << " +" << r.length;
    }
    EXPECT_GT(reads, 0u);
}

TEST_F(DataStrucTest, DisketteListsRootAtSector19) {
    const auto before = vt::test::FileChecksum(vt::test::ImagePath("floppy.img"));
    vt::test::InstallProfile("[logical.A]\nimage=floppy.img\ntype=removable\n");
    TDriveGeometry g;
    g.DriveNo = -'A';
    TPhysicalDrive drive(g);
    TPartiEntry* root = drive.Partitions[0].get();
    ASSERT_TRUE(drive.ScanPartition(root, &bar));
    EXPECT_EQ(root->RawEntry.SectorCount.get(), 2880u);
    ASSERT_EQ(root->DirSectors.size(), 1u);  // sub
    drive.BuildFatList(&bar);
    EXPECT_EQ(root->FatType, vt::fsFat12);
    EXPECT_EQ(root->DataStart, 33);
    EXPECT_EQ(root->SectorsPerCluster, 1);
    ASSERT_EQ(root->DirSectors.size(), 2u);
    EXPECT_EQ(root->DirSectors[0], 19);
    // mtools gives all-lower-case names the case bits only; README.TXT is
    // stored in capitals and shown capitalised. The diskette's own boot
    // sector says FAT12 before any folder is read, so the folder sub's
    // new.txt follows the same rule as the root's hello.txt.
    EXPECT_EQ(ShortNames(*root), (std::vector<std::string>{"hello   |txt", "Readme  |txt", "sub     |   ", "new     |txt"}));
    EXPECT_EQ(root->FatEntries[0]->DirSector, 19u);
    EXPECT_EQ(root->FatEntries[0]->DirCluster, 2u);
    EXPECT_EQ(root->FatEntries[3]->DirSector, root->DirSectors[1]);
    EXPECT_FALSE(drive.Busy);
    EXPECT_EQ(vt::test::FileChecksum(vt::test::ImagePath("floppy.img")), before);
}

TEST_F(DataStrucTest, Fat32RootAtClusterTwoListedFirst) {
    const std::string image = vt::test::ImagePath("disk1.img");
    const auto bytes = vt::test::ReadWholeFile(image);
    const std::uint8_t* boot = bytes.data() + 20480 * 512;
    const std::int64_t dataStart = 20480 + vt::LoadLe16(boot + 0x0E) + boot[0x10] * vt::LoadLe32(boot + 0x24);
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* fat32 = drive.Partitions[9].get();
    ASSERT_EQ(fat32->VolumeLabel, "LOGICAL32");
    ASSERT_TRUE(drive.ScanPartition(fat32, &bar));
    ASSERT_EQ(fat32->DirSectors.size(), 2u);  // alpha and alpha/beta
    // Below 65536 clusters no "." entry has a high cluster word: the vote
    // says FAT16. The volume's own boot sector says FAT32, and the FAT32
    // variant lists the entries (short names as stored).
    EXPECT_EQ(fat32->FatType, vt::fsFat16);
    drive.BuildFatList(&bar);
    EXPECT_EQ(fat32->FatType, vt::fsFat32);
    EXPECT_EQ(fat32->SectorsPerCluster, 1);
    EXPECT_EQ(fat32->DataStart, dataStart);
    ASSERT_EQ(fat32->DirSectors.size(), 3u);
    EXPECT_EQ(fat32->DirSectors[0], dataStart);
    ASSERT_FALSE(fat32->FatEntries.empty());
    EXPECT_EQ(fat32->FatEntries[0]->DirSector, dataStart);
    EXPECT_EQ(fat32->FatEntries[0]->DirCluster, 2u);
    std::vector<std::string> names = ShortNames(*fat32);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha   |   ", "beta    |   ", "README  |TXT", "BIG     |BIN"}));
    // Sorted by directory sector.
    for (std::size_t i = 1; i < fat32->FatEntries.size(); ++i)
        EXPECT_LE(fat32->FatEntries[i - 1]->DirSector, fat32->FatEntries[i]->DirSector);
}

TEST_F(DataStrucTest, ListingEmptiesSearchResultsWithRecords) {
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* fat16 = drive.Partitions[2].get();
    ASSERT_TRUE(drive.ScanPartition(fat16, &bar));
    drive.BuildFatList(&bar);
    ASSERT_FALSE(fat16->FatEntries.empty());
    fat16->FatFound.push_back(fat16->FatEntries[0].get());
    ASSERT_TRUE(drive.ScanPartition(fat16, &bar));
    drive.BuildFatList(&bar);
    EXPECT_TRUE(fat16->FatFound.empty());
}

TEST_F(DataStrucTest, FormattedOverVolumeShowsOldFolders) {
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TPhysicalDrive drive(Geometry0());
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(drive.LostPartitions.size(), 1u);
    TPartiEntry* lost = drive.LostPartitions[0].get();
    ASSERT_TRUE(drive.ScanPartition(lost, &bar));
    drive.BuildFatList(&bar);
    std::vector<std::string> names = ShortNames(*lost);
    // The old root went with the new format; the old folder oldsub still
    // holds deeper, and deeper old.txt.
    for (const char* n : {"deeper  |   ", "old     |txt"})
        EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
}

// ---------------------------------------------------------------------------
// NTFS listing

// A 1024-byte file record: $STANDARD_INFORMATION, one or two $FILE_NAME
// attributes and a $DATA attribute (resident, or non-resident with runs of
// the given lengths), written at a sector of a memory disk.
struct RecordSpec {
    std::u16string name;
    std::u16string secondName;
    std::uint64_t parent = 5;
    std::int64_t dataSize = 100;
    std::int64_t allocated = 0;
    std::vector<std::pair<std::uint8_t, std::uint16_t>> runs;  // {length, lcn step} per run; empty: resident
};

void PutRecord(MemDisk& disk, std::size_t sector, const RecordSpec& r) {
    vt::test::RecordBuilder b;
    b.Resident(0x10, vt::test::StdInfoValue(1, 2, 3, 4));
    b.Resident(0x30, vt::test::FileNameValue(r.parent | (1ull << 48), r.name));
    if (!r.secondName.empty()) b.Resident(0x30, vt::test::FileNameValue(r.parent | (1ull << 48), r.secondName));
    if (r.runs.empty()) {
        b.Resident(0x80, std::vector<std::uint8_t>(static_cast<std::size_t>(r.dataSize), 'x'));
    } else {
        std::vector<std::uint8_t> pairs;
        for (auto [length, step] : r.runs)
            pairs.insert(pairs.end(), {0x21, length, static_cast<std::uint8_t>(step), static_cast<std::uint8_t>(step >> 8)});
        pairs.push_back(0);
        b.NonResident(0x80, pairs, static_cast<std::uint64_t>(r.allocated), static_cast<std::uint64_t>(r.dataSize));
    }
    const auto bytes = b.Finish();
    std::memcpy(disk.Sector(sector), bytes.data(), bytes.size());
}

// Lists the records of a memory disk: the scan finds them, the listing
// decodes them. The node gets one sector per cluster from its size.
struct NtfsListing {
    TPhysicalDrive drive{Geometry0()};
    TPartiEntry* root = drive.Partitions[0].get();
    explicit NtfsListing(platform::IProgressBar* bar) {
        EXPECT_TRUE(drive.ScanPartition(root, bar));
        drive.BuildFatList(bar);
        drive.BuildNtfsList(bar);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> n;
        for (auto& e : root->NtfsEntries) n.push_back(e->Name);
        return n;
    }
};

TEST_F(DataStrucTest, RecordBatchesFollowTheReads) {
    MemDisk disk(kSmall);
    PutRecord(disk, 100, {u"a.txt"});
    PutRecord(disk, 102, {u"b.txt"});
    PutRecord(disk, 5000, {u"c.txt"});
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* root = drive.Partitions[0].get();
    ASSERT_TRUE(drive.ScanPartition(root, &bar));
    drive.BuildFatList(&bar);
    EXPECT_EQ(drive.MftSectors, (std::vector<std::int64_t>{100, 102, 5000}));
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    drive.BuildNtfsList(&bar);
    platform::DeviceTrace::Enable(false);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> reads;
    for (auto& r : platform::DeviceTrace::Requests())
        if (r.code == 0) reads.emplace_back(r.offset, r.length);
    EXPECT_EQ(reads, (std::vector<std::pair<std::uint64_t, std::uint32_t>>{{100 * 512, 512000}, {5000 * 512, 512000}}));
    std::vector<std::string> names;
    for (auto& e : root->NtfsEntries) names.push_back(e->Name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(root->NtfsFolders, (std::vector<std::int64_t>{5}));
    for (auto& e : root->NtfsEntries) {
        EXPECT_EQ(e->DataLcn, -e->RecordSector);  // resident data
        EXPECT_EQ(e->RecordNo, 0);
        EXPECT_EQ(e->AllocatedSize, 512);  // one cluster of the FAT estimate
    }
    EXPECT_EQ(bar.Position(), 0);
}

TEST_F(DataStrucTest, LongFirstNameIsListed) {
    MemDisk disk(kSmall);
    PutRecord(disk, 100, {u"thirteenchars"});
    PutRecord(disk, 102, {u"twelve.chars", u"a longer second name"});
    PutRecord(disk, 104, {u"next.txt", {}, 7});
    PutRecord(disk, 106, {u"   "});
    InstallMemory(disk);
    NtfsListing l(&bar);
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"a longer second name", "thirteenchars", "next.txt"}));
    EXPECT_EQ(l.root->NtfsFolders, (std::vector<std::int64_t>{5, 7}));
}

TEST_F(DataStrucTest, RecordAtDriveEndEndsTheListing) {
    MemDisk disk(kSmall);
    PutRecord(disk, 100, {u"a.txt"});
    std::memcpy(disk.Sector(kSmall - 1), disk.Sector(100), 512);  // only its first half exists
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry node;
    node.RawEntry.SectorCount.set(kSmall);
    ASSERT_TRUE(drive.ScanPartition(&node, &bar));
    EXPECT_EQ(drive.MftSectors, (std::vector<std::int64_t>{100, kSmall - 1}));
    drive.BuildNtfsList(&bar);
    ASSERT_EQ(node.NtfsEntries.size(), 1u);
    EXPECT_FALSE(drive.Busy);
}

struct VoteSpec {
    const char* name;
    std::vector<RecordSpec> files;
    int expected;
};

RecordSpec Voter(int spc, std::int64_t size = 10000) {
    // Two runs of 3 clusters: allocated = 6 clusters of spc sectors.
    return RecordSpec{u"f.bin", {}, 5, size, 6 * 512 * spc, {{3, 100}, {3, 10}}};
}

class NtfsClusterVote : public DataStrucTest, public ::testing::WithParamInterface<VoteSpec> {};

TEST_P(NtfsClusterVote, SmallerSizeWinsTies) {
    MemDisk disk(kSmall);
    std::size_t s = 100;
    for (const RecordSpec& f : GetParam().files) PutRecord(disk, s += 2, f);
    InstallMemory(disk);
    NtfsListing l(&bar);
    EXPECT_EQ(l.root->NtfsEntries.size(), GetParam().files.size());
    EXPECT_EQ(l.root->NtfsSectorsPerCluster, GetParam().expected);
    for (auto& e : l.root->NtfsEntries) EXPECT_TRUE(e->DataLcn == 100 || e->DataLcn == -e->RecordSector);
}

INSTANTIATE_TEST_SUITE_P(
    DataStruc, NtfsClusterVote,
    ::testing::Values(VoteSpec{"ThreeEachOf8And4", {Voter(8), Voter(8), Voter(8), Voter(4), Voter(4), Voter(4)}, 4},
                      VoteSpec{"MajorityOf16", {Voter(16), Voter(16), Voter(2)}, 16},
                      // Clusters of 64 KiB and of 2 MiB, the largest NTFS has.
                      VoteSpec{"MajorityOf128", {Voter(128), Voter(128), Voter(8)}, 128},
                      VoteSpec{"TieOf128And64", {Voter(128), Voter(64)}, 64},
                      VoteSpec{"Of4096", {Voter(4096)}, 4096},
                      VoteSpec{"NoVoter", {RecordSpec{u"r.txt"}}, 1},
                      VoteSpec{"OddSizeVotesNothing", {Voter(3)}, 1},
                      VoteSpec{"Exactly4096DoesNotVote", {Voter(8, 4096)}, 1},
                      VoteSpec{"ExactlyOneMegabyteDoesNotVote", {Voter(8, 1048576)}, 1},
                      VoteSpec{"JustAbove4096Votes", {Voter(8, 4097)}, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DataStrucTest, NtfsListingOfFixtureVolume) {
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* ntfs = drive.Partitions[12].get();
    ASSERT_TRUE(drive.ScanPartition(ntfs, &bar));
    drive.BuildFatList(&bar);
    drive.BuildNtfsList(&bar);
    EXPECT_EQ(ntfs->NtfsSectorsPerCluster, 8);
    std::map<std::string, const tntfsfilerecord*> byName;
    for (auto& e : ntfs->NtfsEntries) byName[e->Name] = e.get();
    for (const char* n : {"$MFT", "$Volume", "big.bin", "small.txt", "thirteenchars"})
        EXPECT_TRUE(byName.count(n)) << n;
    ASSERT_TRUE(byName.count("big.bin"));
    EXPECT_EQ(byName["big.bin"]->DataSize, 70000);
    EXPECT_EQ(byName["big.bin"]->AllocatedSize, 18 * 4096);
    EXPECT_GT(byName["big.bin"]->DataLcn, 0);
    EXPECT_EQ(byName["small.txt"]->DataLcn, -byName["small.txt"]->RecordSector);
    EXPECT_EQ(FileRefToInt64(byName["big.bin"]->FileName.ParentRef), 5);
    EXPECT_NE(std::find(ntfs->NtfsFolders.begin(), ntfs->NtfsFolders.end(), 5), ntfs->NtfsFolders.end());
    EXPECT_TRUE(std::is_sorted(ntfs->NtfsFolders.begin(), ntfs->NtfsFolders.end()));
    // The search results go with the records.
    ntfs->NtfsFound.push_back(ntfs->NtfsEntries[0].get());
    drive.BuildNtfsList(&bar);
    EXPECT_TRUE(ntfs->NtfsFound.empty());
}

TEST_F(DataStrucTest, NtfsListingWithoutRecordsKeepsEstimates) {
    MemDisk disk(kSmall);
    PutRecord(disk, 100, Voter(4));
    PutRecord(disk, 102, {u"a.txt", {}, 9});
    InstallMemory(disk);
    NtfsListing l(&bar);
    ASSERT_EQ(l.root->NtfsSectorsPerCluster, 4);
    l.drive.MftSectors.clear();
    l.root->NtfsFound.push_back(l.root->NtfsEntries[0].get());
    l.drive.BuildNtfsList(&bar);
    EXPECT_TRUE(l.root->NtfsEntries.empty());
    EXPECT_TRUE(l.root->NtfsFound.empty());
    EXPECT_EQ(l.root->NtfsSectorsPerCluster, 4);
    EXPECT_EQ(l.root->NtfsFolders, (std::vector<std::int64_t>{5, 9}));
}

// After the records are read, the listing gives the window its turns while
// it sorts (a handler finds the list empty then, never half moved) and while
// it collects the folders. A pump that runs on every call looks each time.
TEST_F(DataStrucTest, NtfsListingPumpsWhileItSortsAndCollectsFolders) {
    MemDisk disk(kSmall);
    // More records than one run of the sort, in reverse order of their
    // names, under seven folders.
    constexpr int kRecords = 3000;
    for (int i = 0; i < kRecords; ++i) {
        const std::string name = "f" + std::to_string(100000 - i);
        PutRecord(disk, 100 + 2 * static_cast<std::size_t>(i),
                  {std::u16string(name.begin(), name.end()), {}, 5 + static_cast<std::uint64_t>(i % 7) * 100});
    }
    InstallMemory(disk);
    TPhysicalDrive drive(Geometry0());
    TPartiEntry* root = drive.Partitions[0].get();
    ASSERT_TRUE(drive.ScanPartition(root, &bar));
    drive.BuildFatList(&bar);
    bool filled = false;
    int sorting = 0, collecting = 0, holes = 0;
    platform::SetMessagePump(
        [&] {
            const auto& list = root->NtfsEntries;
            for (const auto& r : list) holes += r == nullptr;
            if (list.size() == kRecords) filled = true;
            if (filled && list.empty()) ++sorting;
            if (!root->NtfsFolders.empty()) ++collecting;
        },
        std::chrono::milliseconds(0));
    drive.BuildNtfsList(&bar);
    platform::SetMessagePump({});
    EXPECT_EQ(holes, 0);
    EXPECT_GT(sorting, 0);
    EXPECT_GT(collecting, 0);
    ASSERT_EQ(root->NtfsEntries.size(), static_cast<std::size_t>(kRecords));
    for (std::size_t i = 1; i < root->NtfsEntries.size(); ++i)
        EXPECT_LT(CompareNtfsRecords(root->NtfsEntries[i - 1].get(), root->NtfsEntries[i].get()), 0) << i;
    EXPECT_EQ(root->NtfsFolders, (std::vector<std::int64_t>{5, 105, 205, 305, 405, 505, 605}));
}

TEST(DataStrucDrives, DriveReadyByLetter) {
    vt::test::InstallProfile("[logical.C]\nimage=floppy.img\n[logical.D]\n");
    EXPECT_TRUE(DataStruc::IsDriveValid('c'));
    EXPECT_FALSE(DataStruc::IsDriveValid('D'));
    EXPECT_FALSE(DataStruc::IsDriveValid('E'));
    EXPECT_THROW(DataStruc::IsDriveValid('1'), std::exception);
}

TEST(DataStrucLog, RowHasMessagePictureAndTime) {
    platform::RecordingEventLog log;
    DataStruc::AddLogEvent(&log, "驱动器扫描完成", 2);
    DataStruc::AddLogEvent(nullptr, "nowhere", 0);
    ASSERT_EQ(log.rows.size(), 1u);
    EXPECT_EQ(log.rows[0].caption, "驱动器扫描完成");
    EXPECT_EQ(log.rows[0].imageIndex, 2);
    const std::string& t = log.rows[0].time;
    ASSERT_EQ(t.size(), 8u);
    EXPECT_TRUE(t[2] == ':' && t[5] == ':') << t;
}

TEST_F(DataStrucTest, DeepScanOn9xReadsThroughTheDriver) {
    vt::test::InstallProfile("[machine]\nfamily=9x\n[physical.0]\nimage=disk2.img\n");
    ASSERT_TRUE(int13ext::Initialize());
    TDriveGeometry g;
    ASSERT_TRUE(GetPhysicalDriveGeometry(0x80, g));
    TPhysicalDrive drive(g);
    EXPECT_EQ(Shapes(drive.Partitions[0]->Children), (std::vector<Shape>{{0, 63, 16384 - 63}}));
    ASSERT_TRUE(drive.DeepScan(drive.Partitions[0].get(), &bar));
    ASSERT_EQ(drive.LostPartitions.size(), 1u);
    EXPECT_EQ(drive.LostPartitions[0]->VolumeLabel, "ORPHAN");
    int13ext::Int13ExitProc();
}

TEST_F(DataStrucTest, LogicalDriveScanTakesVolumeSize) {
    vt::test::InstallProfile("[logical.E]\nimage=disk1.img\noffset=1048576\nsize=4194304\n");
    TDriveGeometry g;
    g.DriveNo = -'E';
    TPhysicalDrive drive(g);
    TPartiEntry* root = drive.Partitions[0].get();
    EXPECT_EQ(root->VolumeLabel, "PRIMARY16");
    ASSERT_TRUE(drive.ScanPartition(root, &bar));
    EXPECT_EQ(root->RawEntry.SectorCount.get(), 8192u);
    ASSERT_EQ(root->DirSectors.size(), 2u);
    drive.BuildFatList(&bar);
    EXPECT_EQ(root->SectorsPerCluster, 1);
    std::vector<std::string> names = ShortNames(*root);
    for (const char* n : {"inner   |   ", "big     |bin", "old     |txt"})
        EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
}

// Nothing here writes to an image.
[[maybe_unused]] const bool kImagesChecked = vt::test::ExpectImagesUnchanged({"disk1.img", "disk2.img", "floppy.img"});

}  // namespace
