// The advanced engine's FAT listing of nodes that hold several FAT volumes
// (a whole drive, an extended partition, a gap, a GPT disk's protective
// entry) and of volumes whose own boot sector tells what the directories
// cannot (FAT32 roots, clusters above 65535, small diskettes), on images
// that tests/fixtures/make-multivol.sh made with sfdisk, mkfs.fat and
// mtools. What is listed is recovered and compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "DataStruc.h"
#include "MachineProfile.h"
#include "Recorders.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kFailed = " - 恢复失败";

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

TDriveGeometry Drive0() {
    TDriveGeometry g;
    EXPECT_TRUE(GetPhysicalDriveGeometry(0, g));
    return g;
}

// Every file under a folder by its path relative to it (lower case: FAT32
// shows 8.3 names as stored), with its contents.
std::map<std::string, Bytes> Tree(const std::string& root) {
    std::map<std::string, Bytes> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = Lower(fs::relative(e.path(), root).string());
        if (e.is_directory()) out[rel + "/"] = {};
        else out[rel] = vt::test::ReadWholeFile(e.path().string());
    }
    return out;
}

// The files and folders at the top of a recovered tree: what a batch checks.
std::vector<std::string> TopNames(const std::map<std::string, Bytes>& tree) {
    std::vector<std::string> top;
    for (const auto& [path, bytes] : tree) {
        const std::size_t slash = path.find('/');
        if (slash == std::string::npos) top.push_back(path);
        else if (slash == path.size() - 1) top.push_back(path.substr(0, slash));
    }
    return top;
}

// Which node of a drive a case scans.
enum class Pick { WholeDrive, FirstChild, ChildOfType, LostAt, NodeAt };

class FatVolumesTest : public ::testing::Test {
protected:
    void SetUp() override { EventLogView = &log; }
    void TearDown() override { EventLogView = nullptr; }

    TPartiEntry* Node(TPhysicalDrive& d, Pick pick, std::int64_t arg = 0) {
        TPartiEntry* root = d.Partitions[0].get();
        switch (pick) {
            case Pick::WholeDrive: return root;
            case Pick::FirstChild: return root->Children.empty() ? nullptr : root->Children[0];
            case Pick::ChildOfType:
                for (auto* c : root->Children)
                    if (c->RawEntry.SysType == arg) return c;
                return nullptr;
            case Pick::LostAt:
                if (d.LostPartitions.empty()) EXPECT_TRUE(d.DeepScan(root, &bar));
                for (auto& n : d.LostPartitions)
                    if (n->FirstSector() == arg) return n.get();
                return nullptr;
            case Pick::NodeAt:
                for (auto& n : d.Partitions)
                    if (n->FirstSector() == arg && n->RawEntry.SysType != 0 && !n->IsExtended()) return n.get();
                return nullptr;
        }
        return nullptr;
    }
    // Scans a node and builds both listings, as the window does.
    void List(TPhysicalDrive& d, TPartiEntry* node) {
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(d.ScanPartition(node, &bar));
        d.BuildFatList(&bar);
        d.BuildNtfsList(&bar);
    }
    static std::multiset<std::string> Names(const TPartiEntry& node) {
        std::multiset<std::string> names;
        for (auto& e : node.FatEntries) names.insert(PhysEntryDisplayName(*e));
        return names;
    }
    static const TPhysMidEntry* Entry(const TPartiEntry& node, const std::string& name) {
        for (auto& e : node.FatEntries)
            if (Lower(PhysEntryDisplayName(*e)) == name) return e.get();
        return nullptr;
    }
    // Recovers the named entries (files and folders) of a listing into a
    // fresh folder, as the window's batch does, and gives what was written.
    std::map<std::string, Bytes> Recover(TPhysicalDrive& d, const TPartiEntry& node,
                                         const std::vector<std::string>& names) {
        vt::test::TempDir out;
        for (const std::string& name : names) {
            const TPhysMidEntry* e = Entry(node, name);
            EXPECT_NE(e, nullptr) << name;
            if (!e) continue;
            if (IsFatFile(e->DirEntry)) EXPECT_EQ(d.RecoverFile(e, node.FatType, out.Path(), &bar, nullptr), 0);
            else EXPECT_EQ(d.RecoverFolder(e, node.FatType, out.Path(), &bar, nullptr), 0);
        }
        return Tree(out.Path());
    }
    std::vector<std::string> Failures() const {
        std::vector<std::string> f;
        for (auto& r : log.rows)
            if (r.imageIndex == 1) f.push_back(r.caption);
        return f;
    }

    platform::RecordingEventLog log;
    platform::RecordingProgressBar bar;
    platform::MessageBoxRecorder boxes;
};

// What a folder holding one file and a root file come back as.
std::map<std::string, Bytes> Volume(const std::string& folder, const std::string& file, const std::string& rootFile) {
    return {{folder + "/", {}},
            {folder + "/" + file, vt::test::YesContent(file, 30000)},
            {rootFile, vt::test::YesContent(rootFile, 1234)}};
}
std::map<std::string, Bytes> Join(std::initializer_list<std::map<std::string, Bytes>> parts) {
    std::map<std::string, Bytes> out;
    for (const auto& p : parts) out.insert(p.begin(), p.end());
    return out;
}
const auto kVolA = Volume("fa", "filea.bin", "roota.txt");
const auto kVolB = Volume("fb", "fileb.bin", "rootb.txt");
const auto kVolC = Volume("fc", "filec.bin", "rootc.txt");

// ---------------------------------------------------------------------------
// The boot sector's fields

// A field of a boot sector that mkfs.fat wrote, changed: the sector still
// passes the deep scan's test, but its fields may no longer make a volume.
// The total sectors field is not believed over the FAT: the volume is what
// its FAT maps, inside the node.
struct BootCase {
    const char* name;
    std::int64_t first;  // the volume in multi.img
    std::size_t offset;
    Bytes bytes;                // written at offset; empty: as made
    std::int64_t nodeSectors;   // of the node that holds it, from first
    std::int64_t extent;        // the volume's sectors from first; 0: no volume
};
void PrintTo(const BootCase& c, std::ostream* os) { *os << c.name; }

class FatBootFields : public ::testing::TestWithParam<BootCase> {};

TEST_P(FatBootFields, MakeAVolumeOnlyWhenTheyAgree) {
    const BootCase& c = GetParam();
    const Bytes image = vt::test::ReadWholeFile(vt::test::ImagePath("multi.img"));
    Bytes sector(image.begin() + c.first * 512, image.begin() + c.first * 512 + 512);
    std::copy(c.bytes.begin(), c.bytes.end(), sector.begin() + static_cast<std::ptrdiff_t>(c.offset));
    DataStruc::FatBootLayout layout;
    EXPECT_EQ(DataStruc::ExamineFatBoot(sector, c.first, c.first + c.nodeSectors, layout), c.extent > 0);
    if (c.extent > 0) EXPECT_EQ(layout.End, c.first + c.extent);
}

// The FAT16 volume's FAT of 40 sectors maps 10238 clusters of 4 sectors
// from 116 on (41068 sectors); the FAT32 one's 567 sectors map 72574 of
// one sector from 1166 on (73740). Both FATs reach a little past the
// partition, as formats round their FATs up.
INSTANTIATE_TEST_SUITE_P(
    FatVolumes, FatBootFields,
    ::testing::Values(BootCase{"Fat16AsMade", 2048, 0, {}, 40960, 40960},
                      BootCase{"Fat32AsMade", 83968, 0, {}, 73728, 73728},
                      BootCase{"VolumeReachingPastTheNodeIsCut", 2048, 0, {}, 20000, 20000},
                      BootCase{"TotalLargerThanTheFatMaps", 2048, 0x13, {0xFF, 0xFF}, 40960, 40960},
                      BootCase{"TotalSmallerThanTheFatMaps", 2048, 0x13, {0x10, 0x27}, 40960, 40960},
                      // Ten sectors map 2558 clusters; the root and the data
                      // area move with the FAT's size.
                      BootCase{"SmallerFatMapsFewerClusters", 2048, 0x16, {10, 0}, 40960, 56 + 2558 * 4},
                      BootCase{"SectorsOf1000Bytes", 2048, 0x0B, {0xE8, 0x03}, 40960, 0},
                      BootCase{"SectorsOf256Bytes", 2048, 0x0B, {0x00, 0x01}, 40960, 0},
                      BootCase{"ClusterOf3Sectors", 2048, 0x0D, {3}, 40960, 0},
                      BootCase{"NoReservedSector", 83968, 0x0E, {0, 0}, 73728, 0},
                      BootCase{"NoFat", 2048, 0x10, {0}, 40960, 0},
                      BootCase{"FatOfNoSectors", 2048, 0x16, {0, 0}, 40960, 0},
                      BootCase{"Fat16WithoutRootEntries", 2048, 0x11, {0, 0}, 40960, 0},
                      BootCase{"Fat32WithRootEntries", 83968, 0x11, {0x00, 0x02}, 73728, 0},
                      BootCase{"Fat32RootClusterPastTheEnd", 83968, 0x2C, {0x00, 0x00, 0x10, 0x00}, 73728, 0},
                      BootCase{"DataAreaPastTheNode", 2048, 0, {}, 100, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FatBootLayout, OfTheVolumesMkfsMade) {
    const Bytes image = vt::test::ReadWholeFile(vt::test::ImagePath("multi.img"));
    DataStruc::FatBootLayout a, c;
    ASSERT_TRUE(DataStruc::ExamineFatBoot(std::span(image).subspan(2048 * 512, 512), 2048, 43008, a));
    ASSERT_TRUE(DataStruc::ExamineFatBoot(std::span(image).subspan(83968 * 512, 512), 83968, 157696, c));
    // As The Sleuth Kit's fsstat shows them, but for the clusters: all that
    // the FAT maps.
    EXPECT_EQ(a.FsType, vt::fsFat16);
    EXPECT_EQ(std::make_tuple(a.FatStart, a.RootStart, a.RootSectors, a.DataStart, a.SectorsPerCluster, a.Clusters),
              std::make_tuple(2048 + 4, 2048 + 84, 32u, 2048 + 116, 4, 10238u));
    EXPECT_EQ(c.FsType, vt::fsFat32);
    EXPECT_EQ(std::make_tuple(c.FatStart, c.FatSectors, c.DataStart, c.SectorsPerCluster, c.Clusters, c.RootCluster,
                              c.BackupSector),
              std::make_tuple(83968 + 32, 567u, 83968 + 1166, 1, 72574u, 2u, 6u));
    EXPECT_EQ(c.Serial, 0xC32C0003u);
}

// ---------------------------------------------------------------------------
// Nodes that hold several volumes

struct MultiCase {
    const char* name;
    const char* image;
    Pick pick;
    std::int64_t arg;
    std::map<std::string, Bytes> expected;  // what comes back byte for byte
    std::vector<std::string> failed = {};   // listed files the log names as failed
    // Files that come back byte for byte all the same: read as consecutive
    // clusters without a FAT to go by, the log names them as a guess.
    std::vector<std::string> guessed = {};
};
void PrintTo(const MultiCase& c, std::ostream* os) { *os << c.name; }

class SeveralVolumes : public FatVolumesTest, public ::testing::WithParamInterface<MultiCase> {};

// Each file comes back byte for byte or is named as failed, never written
// wrong.
TEST_P(SeveralVolumes, EachVolumeIsListedAndRecoveredWithItsOwnLayout) {
    const MultiCase& c = GetParam();
    vt::test::InstallProfile(std::string("[physical.0]\nimage=") + c.image + "\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = Node(d, c.pick, c.arg);
    ASSERT_NE(node, nullptr);
    List(d, node);
    std::vector<std::string> names = TopNames(c.expected), failed;
    for (const std::string& f : c.failed) {
        names.push_back(Lower(f));
        failed.push_back(f + kFailed);
    }
    for (const std::string& f : c.guessed) failed.push_back(f + kFailed);
    EXPECT_EQ(Recover(d, *node, names), c.expected);
    std::vector<std::string> logged = Failures();
    std::sort(logged.begin(), logged.end());
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(logged, failed);
}

INSTANTIATE_TEST_SUITE_P(
    FatVolumes, SeveralVolumes,
    ::testing::Values(MultiCase{"WholeDrive", "multi.img", Pick::WholeDrive, 0, Join({kVolA, kVolB, kVolC})},
                      MultiCase{"GapAfterTheTableIsCleared", "multigap.img", Pick::FirstChild, 0,
                                Join({kVolA, kVolB, kVolC})},
                      MultiCase{"ExtendedPartitionWithLogicalDrives", "multiext.img", Pick::ChildOfType, 0x0F,
                                Join({kVolA, kVolB, kVolC})},
                      MultiCase{"GptProtectiveEntry", "gpt.img", Pick::ChildOfType, 0xEE,
                                Join({Volume("ga", "gfile16.bin", "groot16.txt"),
                                      Volume("gb", "gfile32.bin", "groot32.txt")})},
                      MultiCase{"Fat16With4SectorClusters", "multi.img", Pick::NodeAt, 2048, kVolA},
                      MultiCase{"Fat16With2SectorClusters", "multi.img", Pick::NodeAt, 43008, kVolB},
                      MultiCase{"Fat32", "multi.img", Pick::NodeAt, 83968, kVolC},
                      MultiCase{"LogicalFat32", "multiext.img", Pick::NodeAt, 86016, kVolC}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FatVolumesTest, WholeDriveListsWhatEachPartitionLists) {
    vt::test::InstallProfile("[physical.0]\nimage=multi.img\n");
    TPhysicalDrive d(Drive0());
    std::multiset<std::string> each;
    std::set<std::int64_t> folders;
    for (std::int64_t first : {2048, 43008, 83968}) {
        TPartiEntry* part = Node(d, Pick::NodeAt, first);
        List(d, part);
        for (const auto& n : Names(*part)) each.insert(n);
        folders.insert(part->DirSectors.begin(), part->DirSectors.end());
    }
    TPartiEntry* whole = d.Partitions[0].get();
    List(d, whole);
    EXPECT_EQ(Names(*whole), each);
    // The found folders are the same, each volume's root included: the
    // roots first, in disk order.
    EXPECT_EQ(std::set<std::int64_t>(whole->DirSectors.begin(), whole->DirSectors.end()), folders);
    ASSERT_EQ(whole->DirSectors.size(), 6u);
    EXPECT_TRUE(std::is_sorted(whole->DirSectors.begin(), whole->DirSectors.begin() + 3));
    // The FAT32 volume's entries read with FAT32 cluster numbers, the FAT16
    // ones with 16-bit ones, whatever the node's vote says.
    ASSERT_EQ(whole->FatVolumes.size(), 3u);
    EXPECT_EQ(whole->FatVolumes[2].FsType, vt::fsFat32);
    EXPECT_EQ(whole->FatVolumes[0].SectorsPerCluster, 4);
    EXPECT_EQ(whole->FatVolumes[1].SectorsPerCluster, 2);
}

// The folder a folder entry names is found in the volume that holds it.
TEST_F(FatVolumesTest, FolderEntriesNameTheirVolumesDirectories) {
    vt::test::InstallProfile("[physical.0]\nimage=multi.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* whole = d.Partitions[0].get();
    List(d, whole);
    for (const char* folder : {"fa", "fb", "fc"}) {
        const TPhysMidEntry* e = Entry(*whole, folder);
        ASSERT_NE(e, nullptr) << folder;
        const auto sector = d.FatEntrySector(*e, whole->FatType);
        ASSERT_TRUE(sector) << folder;
        std::int32_t first = -1, last = -1;
        ASSERT_TRUE(d.FindFatChildRange(static_cast<std::uint32_t>(*sector), first, last)) << folder;
        EXPECT_EQ(first, last) << folder;
    }
}

// ---------------------------------------------------------------------------
// FAT32 volumes whose files all lie in the root

struct RootOnlyCase {
    const char* name;
    Pick pick;
    std::int64_t arg;
    std::map<std::string, Bytes> expected;
};
void PrintTo(const RootOnlyCase& c, std::ostream* os) { *os << c.name; }

const std::map<std::string, Bytes> kCamera = {{"dsc0001.jpg", vt::test::YesContent("dsc0001.jpg", 20000)},
                                              {"dsc0002.jpg", vt::test::YesContent("dsc0002.jpg", 45000)}};
const std::map<std::string, Bytes> kStick = {{"stick1.txt", vt::test::YesContent("stick1.txt", 3000)},
                                             {"stick2.dat", vt::test::YesContent("stick2.dat", 70000)}};

class Fat32RootOnly : public FatVolumesTest, public ::testing::WithParamInterface<RootOnlyCase> {};

TEST_P(Fat32RootOnly, RootFilesAreListedAndComeBack) {
    const RootOnlyCase& c = GetParam();
    vt::test::InstallProfile("[physical.0]\nimage=rootonly.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = Node(d, c.pick, c.arg);
    List(d, node);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : c.expected) names.push_back(name);
    EXPECT_EQ(Names(*node).size(), names.size());
    EXPECT_EQ(Recover(d, *node, names), c.expected);
    EXPECT_EQ(Failures(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    FatVolumes, Fat32RootOnly,
    ::testing::Values(RootOnlyCase{"Partition", Pick::NodeAt, 2048, kCamera},
                      RootOnlyCase{"LogicalDrive", Pick::NodeAt, 77824, kStick},
                      RootOnlyCase{"WholeDrive", Pick::WholeDrive, 0, Join({kCamera, kStick})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FatVolumesTest, Fat32RootOnlyAsLogicalDriveLetter) {
    vt::test::InstallProfile("[logical.E]\nimage=rootonly.img\noffset=" + std::to_string(2048 * 512) +
                             "\nsize=" + std::to_string(73728 * 512) + "\n");
    TDriveGeometry g;
    g.DriveNo = -'E';
    TPhysicalDrive d(g);
    TPartiEntry* node = d.Partitions[0].get();
    List(d, node);
    EXPECT_EQ(node->FatType, vt::fsFat32);
    EXPECT_EQ(Recover(d, *node, {"dsc0001.jpg", "dsc0002.jpg"}), kCamera);
    EXPECT_EQ(Failures(), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------
// The boot sector decides where the directories alone mislead

// Ten empty folders in low clusters outvote the one folder above cluster
// 65535: the vote says FAT16, the boot sector FAT32.
TEST_F(FatVolumesTest, Fat32FilesAboveCluster65535ComeBack) {
    vt::test::InstallProfile("[physical.0]\nimage=big32.img\n");
    TPhysicalDrive d(Drive0());
    for (TPartiEntry* node : {Node(d, Pick::NodeAt, 2048), d.Partitions[0].get()}) {
        SCOPED_TRACE(node->FirstSector());
        log.rows.clear();
        List(d, node);
        const TPhysMidEntry* high = Entry(*node, "high");
        ASSERT_NE(high, nullptr);
        EXPECT_GT(PhysEntryFirstCluster(*high, true), 65535u);
        EXPECT_EQ(Recover(d, *node, {"high"}),
                  (std::map<std::string, Bytes>{{"high/", {}},
                                                {"high/high1.bin", vt::test::YesContent("high1.bin", 30000)},
                                                {"high/high2.txt", vt::test::YesContent("high2.txt", 5000)}}));
        EXPECT_EQ(Failures(), std::vector<std::string>{});
    }
}

struct SmallCase {
    const char* name;
    const char* image;
    std::int64_t rootSector;
    std::int32_t sectorsPerCluster;
    std::map<std::string, Bytes> expected;
};
void PrintTo(const SmallCase& c, std::ostream* os) { *os << c.name; }

class SmallLogicalDrive : public FatVolumesTest, public ::testing::WithParamInterface<SmallCase> {};

// A small logical drive whose own boot sector is sane is no 1.44 MB
// diskette.
TEST_P(SmallLogicalDrive, IsReadByItsBootSector) {
    const SmallCase& c = GetParam();
    vt::test::InstallProfile(std::string("[logical.A]\nimage=") + c.image + "\ntype=removable\n");
    TDriveGeometry g;
    g.DriveNo = -'A';
    TPhysicalDrive d(g);
    TPartiEntry* node = d.Partitions[0].get();
    List(d, node);
    ASSERT_FALSE(node->DirSectors.empty());
    EXPECT_EQ(node->DirSectors[0], c.rootSector);
    EXPECT_EQ(node->SectorsPerCluster, c.sectorsPerCluster);
    EXPECT_EQ(Recover(d, *node, TopNames(c.expected)), c.expected);
    EXPECT_EQ(Failures(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    FatVolumes, SmallLogicalDrive,
    ::testing::Values(SmallCase{"Diskette720K",
                                "floppy720.img",
                                7,
                                2,
                                {{"flop.txt", vt::test::YesContent("flop.txt", 1500)},
                                 {"dsub/", {}},
                                 {"dsub/dfile.bin", vt::test::YesContent("dfile.bin", 4000)}}},
                      SmallCase{"Fat16Of5600Sectors",
                                "small16.img",
                                45,
                                1,
                                {{"tiny.txt", vt::test::YesContent("tiny.txt", 2500)},
                                 {"tsub/", {}},
                                 {"tsub/tfile.bin", vt::test::YesContent("tfile.bin", 9000)}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Damaged boot sectors and files that cannot be placed

// The FAT32 volume's boot sector wiped: its copy at sector 6 tells the
// layout, and its root, in the whole drive and in its partition.
TEST_F(FatVolumesTest, Fat32BackupBootSectorStandsInForADamagedOne) {
    auto image = vt::test::ReadWholeFile(vt::test::ImagePath("multi.img"));
    std::fill_n(image.begin() + 83968 * 512, 512, 0);
    vt::test::InstallAsDrive0(std::move(image));
    TPhysicalDrive d(Drive0());
    for (TPartiEntry* node : {d.Partitions[0].get(), Node(d, Pick::NodeAt, 83968)}) {
        SCOPED_TRACE(node->FirstSector());
        List(d, node);
        EXPECT_EQ(Recover(d, *node, {"fc", "rootc.txt"}), kVolC);
        EXPECT_EQ(Failures(), std::vector<std::string>{});
    }
}

// The middle volume's cluster size field broken and its FAT's first
// sector wiped: its boot sector can no longer be mended by its FAT and its
// one folder cannot tell a layout, so its file is logged as failed, not
// written from a guess; the volumes around it keep their layouts.
TEST_F(FatVolumesTest, DamagedBootSectorInsideTheNodeKeepsItsNeighboursRight) {
    auto image = vt::test::ReadWholeFile(vt::test::ImagePath("multi.img"));
    image[43008 * 512 + 0x0D] = 3;
    const std::size_t reserved = image[43008 * 512 + 0x0E] + 256u * image[43008 * 512 + 0x0F];
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>((43008 + reserved) * 512), 512, 0);
    vt::test::InstallAsDrive0(std::move(image));
    TPhysicalDrive d(Drive0());
    TPartiEntry* whole = d.Partitions[0].get();
    List(d, whole);
    EXPECT_EQ(Recover(d, *whole, {"fa", "roota.txt", "fc", "rootc.txt"}), Join({kVolA, kVolC}));
    const TPhysMidEntry* fb = Entry(*whole, "fileb.bin");
    ASSERT_NE(fb, nullptr);
    ASSERT_GE(fb->Volume, 0);
    const TFatVolume& v = whole->FatVolumes[static_cast<std::size_t>(fb->Volume)];
    EXPECT_FALSE(v.FromBoot());
    EXPECT_EQ(v.First, 43008);
    EXPECT_EQ(Failures(), std::vector<std::string>{});
    vt::test::TempDir out;
    EXPECT_EQ(d.RecoverFile(fb, whole->FatType, out.Path(), &bar, nullptr), 0);
    EXPECT_EQ(Failures(), (std::vector<std::string>{PhysEntryDisplayName(*fb) + kFailed}));
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST_F(FatVolumesTest, FileThatCannotBePlacedIsLoggedAsFailed) {
    vt::test::InstallProfile("[physical.0]\nimage=multi.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* whole = d.Partitions[0].get();
    List(d, whole);
    const TPhysMidEntry* filea = Entry(*whole, "filea.bin");
    ASSERT_NE(filea, nullptr);
    // A cluster past the end of the first volume (10,000 clusters of 4
    // sectors), and one whose file would run past it.
    TPhysMidEntry outside = *filea;
    outside.LongName = "outside.bin";
    outside.DirEntry.FstClusLO.set(60000);
    TPhysMidEntry across = *filea;
    across.LongName = "across.bin";
    ASSERT_GE(filea->Volume, 0);
    const TFatVolume& a = whole->FatVolumes[static_cast<std::size_t>(filea->Volume)];
    across.DirEntry.FstClusLO.set(static_cast<std::uint16_t>(2 + (a.End - a.DataStart) / 4 - 2));
    vt::test::TempDir out;
    EXPECT_EQ(d.RecoverFile(&outside, whole->FatType, out.Path(), &bar, nullptr), 0);
    EXPECT_EQ(d.RecoverFile(&across, whole->FatType, out.Path(), &bar, nullptr), 0);
    std::array<std::uint8_t, 2048> head{};
    EXPECT_FALSE(d.ReadFileHead(&outside, vt::fsFat16, head));
    EXPECT_EQ(Failures(), (std::vector<std::string>{"outside.bin" + kFailed, "across.bin" + kFailed}));
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

// A partition whose boot sector is wiped: the estimate decides, and a
// cluster outside the node fails too.
TEST_F(FatVolumesTest, ClusterOutsideANodeWithoutBootSectorIsLoggedAsFailed) {
    auto image = vt::test::ReadWholeFile(vt::test::ImagePath("multi.img"));
    std::fill_n(image.begin() + 2048 * 512, 512, 0);
    vt::test::InstallAsDrive0(std::move(image));
    TPhysicalDrive d(Drive0());
    TPartiEntry* part = Node(d, Pick::NodeAt, 2048);
    List(d, part);
    const TPhysMidEntry* filea = Entry(*part, "filea.bin");
    ASSERT_NE(filea, nullptr);
    EXPECT_EQ(filea->Volume, -1);
    TPhysMidEntry outside = *filea;
    outside.LongName = "outside.bin";
    outside.DirEntry.FstClusLO.set(65000);
    vt::test::TempDir out;
    EXPECT_EQ(d.RecoverFile(&outside, part->FatType, out.Path(), &bar, nullptr), 0);
    EXPECT_EQ(Failures(), (std::vector<std::string>{"outside.bin" + kFailed}));
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

// ---------------------------------------------------------------------------
// A volume made for 4096-byte sectors (a 4Kn drive)

// One 512-byte sector of an image.
Bytes ImageSector(const std::string& image, std::int64_t lba) {
    Bytes sector(512);
    std::ifstream in(vt::test::ImagePath(image), std::ios::binary);
    in.seekg(lba * 512);
    in.read(reinterpret_cast<char*>(sector.data()), 512);
    EXPECT_TRUE(in) << image;
    return sector;
}

TEST(FatBootLayout, Of4096ByteSectorsCountsOurSectors) {
    const Bytes boot = ImageSector("fat4k.img", 2048);
    DataStruc::FatBootLayout v;
    ASSERT_TRUE(DataStruc::ExamineFatBoot(boot, 2048, 51200, v));
    // fsstat's 4096-byte sectors, eight of ours each: FAT 1-3, root 7-10,
    // data from 11, one sector per cluster.
    EXPECT_EQ(v.FsType, vt::fsFat16);
    EXPECT_EQ(std::make_tuple(v.FatStart, v.RootStart, v.RootSectors, v.DataStart, v.SectorsPerCluster, v.End),
              std::make_tuple(2048 + 8, 2048 + 56, 32u, 2048 + 88, 8, 2048 + 49152));
    DataStruc::BootSectorInfo info;
    ASSERT_TRUE(DataStruc::ExamineBootSector(boot, info));
    EXPECT_EQ(info.SectorCount, 49152u);
    // FAT32: reserved 0-31 (the copy at 6), two FATs of 66 sectors, the
    // root in cluster 2 at 164.
    DataStruc::FatBootLayout w;
    ASSERT_TRUE(DataStruc::ExamineFatBoot(ImageSector("fat4k32.img", 2048), 2048, 540672, w));
    EXPECT_EQ(w.FsType, vt::fsFat32);
    EXPECT_EQ(std::make_tuple(w.FatStart, w.FatSectors, w.DataStart, w.SectorsPerCluster, w.RootCluster,
                              w.BackupSector, w.Clusters, w.End),
              std::make_tuple(2048 + 256, 528u, 2048 + 1312, 8, 2u, 48u, 67582u, 540672));
}

const auto kFourK = Volume("kd", "kfile.bin", "kroot.txt");
const auto kFourK32 = Join({Volume("kf", "kfile32.bin", "kroot32.txt"),
                            {{"kg/", {}}, {"kg/kg.txt", vt::test::YesContent("kg.txt", 3000)}}});

// The table entry counts 4096-byte sectors, which this program reads as
// 512-byte ones: the deep scan finds the volume by its boot sector, at its
// own place and size.
TEST_F(FatVolumesTest, Sectors4096LostPartitionCoversItsVolume) {
    struct Case {
        const char* image;
        std::uint32_t sectors;
        const char* label;  // in the root, counted in the volume's own sectors
    };
    for (const Case& c : {Case{"fat4k.img", 49152u, "FOURK16"}, Case{"fat4k32.img", 536576u, "FOURK32"}}) {
        SCOPED_TRACE(c.image);
        vt::test::InstallProfile(std::string("[physical.0]\nimage=") + c.image + "\n");
        TPhysicalDrive d(Drive0());
        TPartiEntry* lost = Node(d, Pick::LostAt, 2048);
        ASSERT_NE(lost, nullptr);
        EXPECT_EQ(lost->RawEntry.SectorCount.get(), c.sectors);
        EXPECT_EQ(lost->VolumeLabel, c.label);
    }
}

// Every node a 4Kn drive's FAT volume can be scanned in.
INSTANTIATE_TEST_SUITE_P(
    Sectors4096, SeveralVolumes,
    ::testing::Values(MultiCase{"LostPartition", "fat4k.img", Pick::LostAt, 2048, kFourK},
                      MultiCase{"Fat32LostPartition", "fat4k32.img", Pick::LostAt, 2048, kFourK32},
                      MultiCase{"WholeDrive", "fat4k.img", Pick::WholeDrive, 0, kFourK},
                      MultiCase{"PartitionAtAnEighthOfItsPlace", "fat4k.img", Pick::NodeAt, 256, kFourK},
                      MultiCase{"Gap", "fat4kgap.img", Pick::FirstChild, 0, kFourK},
                      MultiCase{"Fat32WholeDrive", "fat4k32.img", Pick::WholeDrive, 0, kFourK32},
                      MultiCase{"Fat32CopyOfTheBootSectorStandsIn", "fat4k32b.img", Pick::WholeDrive, 0, kFourK32},
                      MultiCase{"Fat32WithoutBootSectors", "fat4k32nb.img", Pick::WholeDrive, 0, kFourK32, {},
                                {"kf/kfile32.bin"}},
                      MultiCase{"Fat16WithoutBootSector", "fat4knb.img", Pick::WholeDrive, 0, {}, {"KFILE.BIN"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Damaged chains (tests/fixtures/make-fatdamage.sh, chains.img)

// A file of the CHAINS volume whose FAT entries were patched: what comes
// back, and whether the log names it as failed.
struct ChainCase {
    const char* name;
    const char* file;
    std::size_t size;
    std::size_t exact;  // leading bytes equal to the original's (size: all)
    bool failed;
};
void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

class DamagedChain : public FatVolumesTest, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(DamagedChain, IsReadAlongItAndNamedAsFailedWhereItBreaks) {
    const ChainCase& c = GetParam();
    vt::test::InstallProfile("[physical.0]\nimage=chains.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = Node(d, Pick::NodeAt, 2048);
    List(d, node);
    const std::string file = Lower(c.file);
    const auto tree = Recover(d, *node, {file});
    ASSERT_EQ(tree.count(file), 1u);
    const Bytes& got = tree.at(file);
    const Bytes want = vt::test::YesContent(c.file, c.size);
    ASSERT_EQ(got.size(), c.size);
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(c.exact), got.begin()));
    if (c.exact == c.size) EXPECT_EQ(got, want);
    const std::string shown = PhysEntryDisplayName(*Entry(*node, file));
    EXPECT_EQ(Failures(), c.failed ? std::vector<std::string>{shown + kFailed} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    FatDamage, DamagedChain,
    ::testing::Values(ChainCase{"Undamaged", "PLAIN.TXT", 700, 700, false},
                      ChainCase{"RunsOnIntoAnotherFile", "RUNON.BIN", 1500, 1500, false},
                      ChainCase{"RunsOnBackIntoItself", "SELF.BIN", 1200, 1200, false},
                      // The chain gives two clusters; the rest follows on.
                      ChainCase{"FreeEntryInTheMiddle", "BROKEN.BIN", 2000, 1024, true},
                      ChainCase{"BadClusterMark", "BADMARK.BIN", 2000, 1024, true},
                      ChainCase{"EntryPastTheVolume", "OUTSIDE.BIN", 1500, 1024, true},
                      ChainCase{"LoopInsideTheFile", "LOOPF.BIN", 2000, 1024, true},
                      // CROSSA's third cluster is CROSSB's second: both are
                      // read along their chains, both named.
                      ChainCase{"CrossLinkedIntoAnother", "CROSSA.BIN", 1500, 1024, true},
                      ChainCase{"CrossLinkedFromAnother", "CROSSB.BIN", 1500, 1500, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Forty files in n.txt form: F01.TXT..F40.TXT or R01.TXT..R40.TXT.
std::map<std::string, Bytes> FortyFiles(const std::string& folder, char letter) {
    std::map<std::string, Bytes> out;
    if (!folder.empty()) out[folder + "/"] = {};
    for (int n = 1; n <= 40; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%c%02d.TXT", letter, n);
        out[(folder.empty() ? "" : folder + "/") + Lower(name)] = vt::test::YesContent(name, 100);
    }
    return out;
}

// A folder whose chain leads back to its first cluster, and a FAT32 root
// whose chain does: every cluster walked before the repeat is read.
TEST_F(FatVolumesTest, DirectoryWhoseChainLoopsIsReadWhole) {
    vt::test::InstallProfile("[physical.0]\nimage=chains.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = Node(d, Pick::NodeAt, 2048);
    List(d, node);
    EXPECT_EQ(Recover(d, *node, {"loopdir"}), FortyFiles("loopdir", 'F'));
    EXPECT_EQ(Failures(), std::vector<std::string>{});

    log.rows.clear();
    TPartiEntry* fat32 = Node(d, Pick::NodeAt, 34816);
    List(d, fat32);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : FortyFiles("", 'R')) names.push_back(name);
    EXPECT_EQ(Names(*fat32).size(), 40u);
    EXPECT_EQ(Recover(d, *fat32, names), FortyFiles("", 'R'));
    EXPECT_EQ(Failures(), std::vector<std::string>{});
}

// A FAT volume's image stored as a file on a volume with the same serial:
// a volume of its own, listed and read with its own layout; the image file
// itself comes back too.
TEST_F(FatVolumesTest, VolumeImageWithTheHostsSerialIsAVolumeOfItsOwn) {
    vt::test::InstallProfile("[physical.0]\nimage=chains.img\n");
    TPhysicalDrive d(Drive0());
    const std::map<std::string, Bytes> want = {
        {"host.txt", vt::test::YesContent("HOST.TXT", 1234)},
        {"hdir/", {}},
        {"hdir/hfile.bin", vt::test::YesContent("HFILE.BIN", 9000)},
        {"inner.img", vt::test::ReadWholeFile(vt::test::ImagePath("inner-diskette.img"))},
        {"iroot.txt", vt::test::YesContent("IROOT.TXT", 700)},
        {"idir/", {}},
        {"idir/ifile.bin", vt::test::YesContent("IFILE.BIN", 5000)}};
    ASSERT_EQ(want.at("inner.img").size(), 1474560u);
    for (TPartiEntry* node : {Node(d, Pick::NodeAt, 108544), d.Partitions[0].get()}) {
        SCOPED_TRACE(node->FirstSector());
        log.rows.clear();
        List(d, node);
        EXPECT_EQ(Recover(d, *node, TopNames(want)), want);
        EXPECT_EQ(Failures(), std::vector<std::string>{});
    }
    // The deep scan finds the stored volume as a lost partition of its own,
    // and takes the FAT32 volume's copy at +6 for the copy it is.
    ASSERT_TRUE(d.DeepScan(d.Partitions[0].get(), &bar));
    std::vector<std::pair<std::int64_t, std::int64_t>> lost;
    for (const auto& n : d.LostPartitions) lost.emplace_back(n->FirstSector(), n->SectorTotal());
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_GT(lost[0].first, 108544);
    EXPECT_LT(lost[0].first, 108544 + 20480);
    EXPECT_EQ(lost[0].second, 2880);
    TPartiEntry* inner = d.LostPartitions[0].get();
    List(d, inner);
    const std::map<std::string, Bytes> innerFiles = {
        {"iroot.txt", want.at("iroot.txt")}, {"idir/", {}}, {"idir/ifile.bin", want.at("idir/ifile.bin")}};
    EXPECT_EQ(Recover(d, *inner, TopNames(innerFiles)), innerFiles);
}

const std::map<std::string, Bytes> kOldVolumes = {
    {"oa1/", {}},      {"oa1/a1.bin", vt::test::YesContent("a1.bin", 9000)},
    {"oa2/", {}},      {"oa2/a2.bin", vt::test::YesContent("a2.bin", 7000)},
    {"aroot.txt", vt::test::YesContent("aroot.txt", 1234)},
    {"oc1/", {}},      {"oc1/c1.bin", vt::test::YesContent("c1.bin", 9000)},
    {"oc2/", {}},      {"oc2/c2.bin", vt::test::YesContent("c2.bin", 7000)},
    {"croot.txt", vt::test::YesContent("croot.txt", 1234)},
    {"ok1/", {}},      {"ok1/k1.bin", vt::test::YesContent("k1.bin", 9000)},
    {"ok2/", {}},      {"ok2/k2.bin", vt::test::YesContent("k2.bin", 7000)},
    {"kroot.txt", vt::test::YesContent("kroot.txt", 1234)}};

// Without their boot sectors the old volumes' FATs are not found: every
// file of more than a cluster is read as consecutive clusters.
const std::vector<std::string> kOldVolumesGuessed = {"oa1/a1.bin", "oa2/a2.bin", "croot.txt", "oc1/c1.bin",
                                                     "oc2/c2.bin", "ok1/k1.bin", "ok2/k2.bin"};

// Damaged volumes (tests/fixtures/make-fatdamage.sh): old volumes without
// boot sectors side by side, a boot sector that lies about its cluster
// size, total sectors that disagree with the FAT.
INSTANTIATE_TEST_SUITE_P(
    FatDamage, SeveralVolumes,
    ::testing::Values(MultiCase{"OldVolumesInAGapEachWithItsOwnLayout", "oldvols.img", Pick::FirstChild, 0, kOldVolumes,
                                {}, kOldVolumesGuessed},
                      MultiCase{"OldVolumesInTheWholeDrive", "oldvols.img", Pick::WholeDrive, 0, kOldVolumes, {},
                                kOldVolumesGuessed},
                      MultiCase{"Fat32BootSectorThatLiesLosesToItsCopy",
                                "bootpick.img",
                                Pick::NodeAt,
                                2048,
                                {{"p1.txt", vt::test::YesContent("P1.TXT", 3000)},
                                 {"p2.bin", vt::test::YesContent("P2.BIN", 9000)},
                                 {"pdir/", {}},
                                 {"pdir/pfile.bin", vt::test::YesContent("pfile.bin", 5000)}}},
                      MultiCase{"TotalLargerThanTheFatMaps",
                                "totals.img",
                                Pick::NodeAt,
                                2048,
                                {{"t1.txt", vt::test::YesContent("T1.TXT", 3000)},
                                 {"t2.bin", vt::test::YesContent("T2.BIN", 9000)},
                                 {"tdir/", {}},
                                 {"tdir/tfile.bin", vt::test::YesContent("tfile.bin", 5000)}}},
                      MultiCase{"TotalSmallerThanWhereTheFilesLie",
                                "totals.img",
                                Pick::NodeAt,
                                43008,
                                {{"late.bin", vt::test::YesContent("LATE.BIN", 9000)},
                                 {"ldir/", {}},
                                 {"ldir/lfile.bin", vt::test::YesContent("lfile.bin", 5000)}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Boot sectors with a changed byte or three (tests/fixtures/make-fatboot.sh)

// What every volume of those disks holds; FRAG.BIN lies in pieces.
const std::map<std::string, Bytes> kBootFiles = {
    {"root.txt", vt::test::YesContent("ROOT.TXT", 700)},   {"frag.bin", vt::test::YesContent("FRAG.BIN", 9000)},
    {"stay.txt", vt::test::YesContent("STAY.TXT", 1024)},  {"dir1/", {}},
    {"dir1/in1.bin", vt::test::YesContent("IN1.BIN", 5000)}, {"dir2/", {}},
    {"dir2/in2.bin", vt::test::YesContent("IN2.BIN", 3000)}};

// The volume's FAT lies where its boot sector's other fields put it, and
// its copies agree: the files are read along it, in the partition and as
// the deep scan finds the volume on a disk without a table.
INSTANTIATE_TEST_SUITE_P(
    FatBootDamage, SeveralVolumes,
    ::testing::Values(
        MultiCase{"Fat12TypeStringHitByABitFlip", "bootfat.img", Pick::NodeAt, 2048, kBootFiles},
        MultiCase{"Fat16FatSizeHitByABitFlip", "bootfat.img", Pick::NodeAt, 10240, kBootFiles},
        MultiCase{"Fat16ClusterSizeChanged", "bootfat.img", Pick::NodeAt, 43008, kBootFiles},
        MultiCase{"Fat12FatSizeHitByABitFlip", "bootfat.img", Pick::NodeAt, 75776, kBootFiles},
        MultiCase{"Fat16RootOfNoEntries", "bootfat2.img", Pick::NodeAt, 2048, kBootFiles},
        MultiCase{"Fat12SectorsOf513Bytes", "bootfat2.img", Pick::NodeAt, 34816, kBootFiles},
        MultiCase{"Fat16TypeStringHitByABitFlip", "bootfat2.img", Pick::NodeAt, 43008, kBootFiles},
        MultiCase{"Fat32SectorZeroDiffersFromItsBackup", "boot32.img", Pick::NodeAt, 2048, kBootFiles},
        MultiCase{"Fat32NewSerialInSectorZeroAlone", "boot32.img", Pick::NodeAt, 75776, kBootFiles},
        MultiCase{"Fat32SectorZeroWithoutItsMark", "boot32.img", Pick::NodeAt, 149504, kBootFiles},
        MultiCase{"Fat32TypeStringHitByABitFlip", "boot32.img", Pick::NodeAt, 223232, kBootFiles},
        MultiCase{"LostFat12TypeStringHitByABitFlip", "bootfatlost.img", Pick::LostAt, 2048, kBootFiles},
        MultiCase{"LostFat16FatSizeHitByABitFlip", "bootfatlost.img", Pick::LostAt, 10240, kBootFiles},
        MultiCase{"LostFat16ClusterSizeChanged", "bootfatlost.img", Pick::LostAt, 43008, kBootFiles},
        MultiCase{"LostFat12FatSizeHitByABitFlip", "bootfatlost.img", Pick::LostAt, 75776, kBootFiles},
        MultiCase{"LostFat16RootOfNoEntries", "bootfat2lost.img", Pick::LostAt, 2048, kBootFiles},
        MultiCase{"LostFat12SectorsOf513Bytes", "bootfat2lost.img", Pick::LostAt, 34816, kBootFiles},
        MultiCase{"LostFat16TypeStringHitByABitFlip", "bootfat2lost.img", Pick::LostAt, 43008, kBootFiles},
        MultiCase{"LostFat32SectorZeroDiffersFromItsBackup", "boot32lost.img", Pick::LostAt, 2048, kBootFiles},
        MultiCase{"LostFat32NewSerialInSectorZeroAlone", "boot32lost.img", Pick::LostAt, 75776, kBootFiles},
        MultiCase{"LostFat32SectorZeroWithoutItsMark", "boot32lost.img", Pick::LostAt, 149504, kBootFiles},
        MultiCase{"LostFat32TypeStringHitByABitFlip", "boot32lost.img", Pick::LostAt, 223232, kBootFiles},
        MultiCase{"WholeDriveOfDamagedFat12And16", "bootfat.img", Pick::WholeDrive, 0, kBootFiles}),
    [](const auto& info) { return std::string(info.param.name); });

// The deep scan lists each volume once, where it begins: a FAT32 copy at
// +6 is its volume's, whatever serial sector 0 took, and stands for a
// sector 0 that fails the test.
TEST_F(FatVolumesTest, DeepScanListsEachDamagedVolumeWhereItBegins) {
    struct Disk {
        const char* image;
        std::vector<std::int64_t> starts;
    };
    for (const Disk& disk : {Disk{"bootfatlost.img", {2048, 10240, 43008, 75776}},
                             Disk{"bootfat2lost.img", {2048, 34816, 43008}},
                             Disk{"boot32lost.img", {2048, 75776, 149504, 223232}}}) {
        SCOPED_TRACE(disk.image);
        vt::test::InstallProfile(std::string("[physical.0]\nimage=") + disk.image + "\n");
        TPhysicalDrive d(Drive0());
        ASSERT_TRUE(d.DeepScan(d.Partitions[0].get(), &bar));
        std::vector<std::int64_t> lost;
        for (const auto& n : d.LostPartitions) lost.push_back(n->FirstSector());
        EXPECT_EQ(lost, disk.starts);
    }
}

// A file whose chain runs into a folder's cluster holds the folder's
// entries where its own bytes were: it is written as read and named as
// failed, and the folder comes back whole. A slot of blanks in a folder
// whose chain gives its extent ends nothing: the entries after it are
// listed. A size field of 2 GiB on a volume of 15 MiB: the file is named
// and holds what was read, never more than the volume.
TEST_F(FatVolumesTest, ChainsIntoFoldersBlankNamesAndHugeSizesAreToldApart) {
    vt::test::InstallProfile("[physical.0]\nimage=crossdir.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = Node(d, Pick::NodeAt, 2048);
    List(d, node);
    EXPECT_EQ(Recover(d, *node, {"sub", "blank"}),
              (std::map<std::string, Bytes>{{"sub/", {}},
                                            {"sub/s.txt", vt::test::YesContent("S.TXT", 100)},
                                            {"blank/", {}},
                                            {"blank/b.txt", vt::test::YesContent("B.TXT", 300)},
                                            {"blank/c.txt", vt::test::YesContent("C.TXT", 300)}}));
    EXPECT_EQ(Failures(), std::vector<std::string>{});
    const auto into = Recover(d, *node, {"into.bin"});
    EXPECT_EQ(Failures(), std::vector<std::string>{"Into.bin" + kFailed});
    ASSERT_EQ(into.count("into.bin"), 1u);
    EXPECT_EQ(into.at("into.bin").size(), 6000u);
    log.rows.clear();
    const auto huge = Recover(d, *node, {"huge.bin"});
    EXPECT_EQ(Failures(), std::vector<std::string>{"Huge.bin" + kFailed});
    ASSERT_EQ(huge.count("huge.bin"), 1u);
    const Bytes& h = huge.at("huge.bin");
    EXPECT_LE(h.size(), 30720u * 512);
    const Bytes original = vt::test::YesContent("HUGE.BIN", 3000);
    ASSERT_GE(h.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), h.begin()));
}

// A FAT16 root of 16384 entries (1024 sectors) whose last file's entry
// lies past its 500th sector: the root is read whole, as its boot sector
// gives it.
TEST_F(FatVolumesTest, RootLargerThan500SectorsIsReadWhole) {
    vt::test::InstallProfile("[logical.E]\nimage=bigroot16.img\n");
    TDriveGeometry g;
    g.DriveNo = -'E';
    TPhysicalDrive d(g);
    TPartiEntry* node = d.Partitions[0].get();
    List(d, node);
    EXPECT_EQ(Names(*node).size(), 451u);
    EXPECT_EQ(Recover(d, *node, {"lastone.txt"}),
              (std::map<std::string, Bytes>{{"lastone.txt", vt::test::YesContent("LASTONE.TXT", 900)}}));
    EXPECT_EQ(Failures(), std::vector<std::string>{});
}

// A file of 600 stored boot sectors: the listing reads the first 512 and
// says how many it left.
TEST_F(FatVolumesTest, BootSectorsPastTheLimitAreCountedInTheLog) {
    vt::test::InstallProfile("[physical.0]\nimage=manyboots.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = Node(d, Pick::NodeAt, 2048);
    List(d, node);
    std::vector<std::string> warnings;
    for (const auto& r : log.rows)
        if (r.imageIndex == kLogWarning) warnings.push_back(r.caption);
    EXPECT_EQ(warnings, std::vector<std::string>{"引导扇区过多：只读取了前 512 个，其余 89 个未读取"});
    EXPECT_EQ(Recover(d, *node, {"folder"}),
              (std::map<std::string, Bytes>{{"folder/", {}}, {"folder/file.txt", vt::test::YesContent("FILE.TXT", 2000)}}));
    EXPECT_EQ(Failures(), std::vector<std::string>{});
}

[[maybe_unused]] const bool kImagesChecked = vt::test::ExpectImagesUnchanged(
    {"multi.img", "multigap.img", "multiext.img", "gpt.img", "rootonly.img", "big32.img", "floppy720.img",
     "small16.img", "fat4k.img", "fat4kgap.img", "fat4knb.img", "fat4k32.img", "fat4k32b.img",
     "fat4k32nb.img", "chains.img", "oldvols.img", "bootpick.img", "totals.img",
     "bigroot16.img", "manyboots.img", "bootfat.img", "bootfat2.img", "boot32.img", "bootfatlost.img",
     "bootfat2lost.img", "boot32lost.img", "crossdir.img"});

}  // namespace
