// The advanced engine on disks that other systems made (tests/fixtures/
// make-foreign.sh): FAT12/16 roots, partitions that end inside a scan
// chunk, cloned volumes, the last partial cylinder, labels, long names.
// What the listings find is recovered and compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "DataStruc.h"
#include "DiskParam.h"
#include "DiskUtils.h"
#include "MachineProfile.h"
#include "Recorders.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// 251 Chinese characters and ".txt", and a folder of 255: the longest
// names FAT and NTFS hold, 757 and 765 bytes of UTF-8.
std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}
const std::string kLongFile = Repeat("恢", 251) + ".txt";
const std::string kLongDir = Repeat("目", 255);

TDriveGeometry Drive0() {
    TDriveGeometry g;
    EXPECT_TRUE(GetPhysicalDriveGeometry(0, g));
    return g;
}

TPartiEntry* NodeAt(TPhysicalDrive& d, std::int64_t first, std::uint8_t type) {
    for (auto& n : d.Partitions)
        if (n->FirstSector() == first && n->RawEntry.SysType == type) return n.get();
    for (auto& n : d.LostPartitions)
        if (n->FirstSector() == first && n->RawEntry.SysType == type) return n.get();
    return nullptr;
}

class ForeignDiskTest : public ::testing::Test {
protected:
    void SetUp() override { EventLogView = &log; }
    void TearDown() override { EventLogView = nullptr; }

    // Scans a node and builds both listings, as the window does.
    void List(TPhysicalDrive& d, TPartiEntry* node) {
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(d.ScanPartition(node, &bar));
        d.BuildFatList(&bar);
        d.BuildNtfsList(&bar);
    }
    // Display names of the FAT entries read from one found directory.
    static std::multiset<std::string> NamesIn(const TPartiEntry& node, std::int64_t dirSector) {
        std::multiset<std::string> names;
        for (auto& e : node.FatEntries)
            if (e->DirSector == dirSector) names.insert(PhysEntryDisplayName(*e));
        return names;
    }
    static const TPhysMidEntry* FatEntry(const TPartiEntry& node, const std::string& name) {
        for (auto& e : node.FatEntries)
            if (PhysEntryDisplayName(*e) == name) return e.get();
        return nullptr;
    }

    platform::RecordingEventLog log;
    platform::RecordingProgressBar bar;
    platform::MessageBoxRecorder boxes;
    vt::test::TempDir dir;
};

// ---------------------------------------------------------------------------
// The root of FAT12/16 volumes

struct RootCase {
    const char* name;
    const char* image;
    std::int64_t first;
    std::uint8_t type;
    // Shown name -> the original's name and size (the deleted ones keep
    // their clusters: nothing was written after them).
    std::map<std::string, std::pair<std::string, std::size_t>> files;
    std::multiset<std::string> others;  // listed too, recovered elsewhere
};

void PrintTo(const RootCase& c, std::ostream* os) { *os << c.name; }

class FatRoot : public ForeignDiskTest, public ::testing::WithParamInterface<RootCase> {};

TEST_P(FatRoot, IsListedAndItsFilesComeBack) {
    const RootCase& c = GetParam();
    vt::test::InstallProfile(std::string("[physical.0]\nimage=") + c.image + "\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = NodeAt(d, c.first, c.type);
    List(d, node);
    ASSERT_FALSE(node->DirSectors.empty());
    const std::int64_t root = node->DirSectors[0];
    std::multiset<std::string> expected = c.others;
    for (auto& [shown, original] : c.files) expected.insert(shown);
    EXPECT_EQ(NamesIn(*node, root), expected);
    for (auto& [shown, original] : c.files) {
        const TPhysMidEntry* e = FatEntry(*node, shown);
        ASSERT_NE(e, nullptr) << shown;
        EXPECT_EQ(e->DirCluster, 2u);
        EXPECT_EQ(d.RecoverFile(e, node->FatType, dir.Path(), &bar, nullptr), 0);
        std::string recovered = shown;
        if (recovered[0] == '?') recovered[0] = '@';
        EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + recovered),
                  vt::test::YesContent(original.first, original.second))
            << shown;
    }
    EXPECT_TRUE(log.rows.size() >= 3 && log.rows.back().caption == "驱动器扫描完成");
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, FatRoot,
    ::testing::Values(
        // No sub-folder at all: the boot sector alone tells where the root
        // and cluster 2 are.
        RootCase{"Fat16FilesOnlyInRoot",
                 "foreign.img",
                 2048,
                 6,
                 {{"Apple pie recipe.txt", {"Apple pie recipe.txt", 900}},
                  {"Hello.txt", {"HELLO.TXT", 3000}},
                  {"?one.txt", {"gone.txt", 1500}},
                  {"Notes.txt", {"NOTES.TXT", 100}}},
                 {}},
        RootCase{"Fat12FilesOnlyInRoot",
                 "foreign2.img",
                 2048,
                 1,
                 {{"Apple pie recipe.txt", {"Apple pie recipe.txt", 900}}},
                 {}},
        RootCase{"Fat12RootWithFolders",
                 "foreign.img",
                 10240,
                 1,
                 {{"root12.txt", {"root12.txt", 5000}}, {"?ld12.txt", {"old12.txt", 2100}}},
                 {"sub", "sub2"}},
        RootCase{"Fat16RootNextToNtfs", "foreign.img", 14336, 6, {{"edge.txt", {"edge.txt", 1200}}}, {kLongFile, kLongDir}}),
    [](const auto& info) { return std::string(info.param.name); });

// A copy of the FAT12 partition in memory with its boot sector wiped (as
// after a damaged or foreign format): cluster 2 comes from the folders sub
// and sub2, and the usual root region before it is read.
TEST_F(ForeignDiskTest, RootBeforeEstimatedClusterTwoWhenTheBootSectorIsGone) {
    auto image = vt::test::ReadWholeFile(vt::test::ImagePath("foreign.img"));
    std::fill_n(image.begin() + 10240 * 512, 512, 0);
    vt::test::InstallAsDrive0(std::move(image));
    TPhysicalDrive d(Drive0());
    TPartiEntry* node = NodeAt(d, 10240, 1);
    List(d, node);
    EXPECT_EQ(node->SectorsPerCluster, 4);
    ASSERT_EQ(node->DirSectors.size(), 3u);
    EXPECT_EQ(node->DirSectors[0], node->DataStart - 32);
    EXPECT_EQ(NamesIn(*node, node->DirSectors[0]),
              (std::multiset<std::string>{"root12.txt", "?ld12.txt", "sub", "sub2"}));
}

// A FAT32 root stays at cluster 2 (LOGICAL32 of disk1.img is covered by
// DataStruc_test); the diskette rule stays as it was, too.

// ---------------------------------------------------------------------------
// Partition bounds

TEST_F(ForeignDiskTest, ScanExaminesOnlyTheNodesOwnSectors) {
    vt::test::InstallProfile("[physical.0]\nimage=foreign.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* fat = NodeAt(d, 14336, 6);
    TPartiEntry* ntfs = NodeAt(d, 18836, 7);
    ASSERT_NE(ntfs, nullptr);
    // The FAT16 partition ends 500 sectors into its fifth chunk, where the
    // NTFS partition's master file table begins.
    List(d, fat);
    EXPECT_TRUE(d.MftSectors.empty());
    EXPECT_TRUE(fat->NtfsEntries.empty());
    for (auto s : fat->DirSectors) EXPECT_LT(s, 18836);
    for (auto& e : fat->FatEntries) EXPECT_LT(e->DirSector, 18836u);
    // The same records belong to the NTFS partition.
    List(d, ntfs);
    std::set<std::string> names;
    for (auto& e : ntfs->NtfsEntries) names.insert(e->Name);
    EXPECT_TRUE(names.count("next.bin"));
    EXPECT_TRUE(names.count(kLongFile));
    for (auto s : d.MftSectors) EXPECT_GE(s, 18836u);
}

// ---------------------------------------------------------------------------
// Labels

// The label a logical drive shows for the volume at that place of the image
// (GetVolumeInformationA), in the advanced tree and in the standard list.
std::pair<std::string, std::string> DriveLabels(const std::string& image, std::int64_t first, std::int64_t sectors) {
    vt::test::InstallProfile("[logical.E]\nimage=" + image + "\noffset=" + std::to_string(first * 512) +
                             "\nsize=" + std::to_string(sectors * 512) + "\n");
    TDriveGeometry g;
    g.DriveNo = -'E';
    TPhysicalDrive advanced(g);
    DiskUtils::Initialize();
    TUndelete standard;
    return {advanced.Partitions[0]->VolumeLabel, standard.Drives.at(0)->VolumeLabel};
}

TEST_F(ForeignDiskTest, OneVolumeShowsOneLabelEverywhere) {
    struct Case {
        const char* image;
        std::int64_t first;
        const char* label;  // empty: the volume has none
    };
    const Case cases[] = {
        {"foreign2.img", 2048, "PIELABEL"},  // the label entry follows a long name
        {"foreign.img", 2048, ""},           // no label entry; a long name first
        {"foreign.img", 10240, "ROOT12"},
        {"foreign.img", 14336, "EDGE16"},
        {"foreign.img", 18836, "NEXTNTFS"},
        {"disk1.img", 2048, "PRIMARY16"},
        {"disk1.img", 14336, "LOGICAL12"},
        {"disk1.img", 20480, "LOGICAL32"},
        {"disk1.img", 92160, "NTFSVOL"},
    };
    for (const Case& c : cases) {
        vt::test::InstallProfile(std::string("[physical.0]\nimage=") + c.image + "\n");
        std::unique_ptr<TPhysicalDrive> d = std::make_unique<TPhysicalDrive>(Drive0());
        const TPartiEntry* node = nullptr;
        for (auto& n : d->Partitions)
            if (n->FirstSector() == c.first && n->RawEntry.SysType != 0 && !n->IsExtended()) node = n.get();
        ASSERT_NE(node, nullptr) << c.image << " " << c.first;
        EXPECT_EQ(node->VolumeLabel, c.label) << c.image << " " << c.first;
        const auto [advanced, standard] = DriveLabels(c.image, c.first, node->RawEntry.SectorCount.get());
        const std::string label = c.label;
        EXPECT_EQ(advanced, label.empty() ? "NoName" : label) << c.image << " " << c.first;
        EXPECT_EQ(standard, label.empty() ? "无卷标" : label) << c.image << " " << c.first;
    }
}

// ---------------------------------------------------------------------------
// Deep scan: volumes that share a serial

TEST_F(ForeignDiskTest, ClonedVolumesBehindAClearedTableAreAllFound) {
    vt::test::InstallProfile("[physical.0]\nimage=clone.img\n");
    TPhysicalDrive d(Drive0());
    ASSERT_TRUE(d.DeepScan(d.Partitions[0].get(), &bar));
    std::vector<std::pair<std::int64_t, std::string>> found;
    for (auto& n : d.LostPartitions) found.emplace_back(n->FirstSector(), n->VolumeLabel);
    // The backup boot sectors (NTFS after its last counted sector, FAT32 at
    // +6) carry the serial of their own volume and are passed over.
    EXPECT_EQ(found, (std::vector<std::pair<std::int64_t, std::string>>{
                         {2048, "CLONEA"}, {10240, "CLONEB"}, {18432, "CLONEN1"}, {22528, "CLONEN2"}, {26624, "CLONE32"}}));
    // The second of each pair is a whole volume: its own files come back.
    for (auto [first, name, size] : {std::tuple{10240, "b.txt", 800}, std::tuple{2048, "a.txt", 600}}) {
        TPartiEntry* node = NodeAt(d, first, 0xFF);
        List(d, node);
        const TPhysMidEntry* e = FatEntry(*node, name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(d.RecoverFile(e, node->FatType, dir.Path(), &bar, nullptr), 0);
        EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + name), vt::test::YesContent(name, size));
    }
    TPartiEntry* n2 = NodeAt(d, 22528, 0xFF);
    List(d, n2);
    std::set<std::string> names;
    for (auto& e : n2->NtfsEntries) names.insert(e->Name);
    EXPECT_TRUE(names.count("n2.txt"));
    EXPECT_FALSE(names.count("n1.txt"));
}

// ---------------------------------------------------------------------------
// The last partial cylinder

TEST_F(ForeignDiskTest, WholeDriveReachesTheLastSector) {
    vt::test::InstallProfile("[physical.0]\nimage=foreign2.img\n");
    TPhysicalDrive d(Drive0());
    // 12 MiB: one whole cylinder of 16065 sectors and 8511 more.
    EXPECT_EQ(d.Geometry.Geometry.Cylinders, 1);
    EXPECT_EQ(d.Geometry.TotalSectors, 24576);
    TPartiEntry* root = d.Partitions[0].get();
    std::vector<std::tuple<int, std::int64_t, std::uint32_t>> children;
    for (auto* c : root->Children) children.emplace_back(c->RawEntry.SysType, c->FirstSector(), c->RawEntry.SectorCount.get());
    EXPECT_EQ(children, (std::vector<std::tuple<int, std::int64_t, std::uint32_t>>{
                            {0, 63, 1985}, {1, 2048, 4096}, {0, 6144, 24576 - 6144}}));
    // The volume whose table entry was zeroed lies wholly in the partial
    // cylinder; the deep scan finds it and its file comes back.
    ASSERT_TRUE(d.DeepScan(root, &bar));
    ASSERT_EQ(d.LostPartitions.size(), 1u);
    TPartiEntry* tail = d.LostPartitions[0].get();
    EXPECT_EQ(tail->FirstSector(), 22528);
    EXPECT_EQ(tail->VolumeLabel, "TAILVOL");
    List(d, tail);
    const TPhysMidEntry* e = FatEntry(*tail, "tail.txt");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(d.RecoverFile(e, tail->FatType, dir.Path(), &bar, nullptr), 0);
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/tail.txt"), vt::test::YesContent("tail.txt", 2500));
}

// ---------------------------------------------------------------------------
// Names longer than a Linux file name

// 255 bytes: 83 of the 251 Chinese characters with ".txt", 85 of the
// folder's 255.
const std::string kLongFileOut = Repeat("恢", 83) + ".txt";
const std::string kLongDirOut = Repeat("目", 85);

TEST_F(ForeignDiskTest, LongChineseNamesComeBackShortenedFromTheAdvancedListing) {
    vt::test::InstallProfile("[physical.0]\nimage=foreign.img\n");
    TPhysicalDrive d(Drive0());
    TPartiEntry* fat = NodeAt(d, 14336, 6);
    List(d, fat);
    const TPhysMidEntry* file = FatEntry(*fat, kLongFile);
    const TPhysMidEntry* folder = FatEntry(*fat, kLongDir);
    ASSERT_NE(file, nullptr);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(d.RecoverFile(file, fat->FatType, dir.Path(), &bar, nullptr), 0);
    EXPECT_EQ(d.RecoverFolder(folder, fat->FatType, dir.Path(), &bar, nullptr), 0);
    // Again: the "_1" rule within the same 255 bytes.
    EXPECT_EQ(d.RecoverFile(file, fat->FatType, dir.Path(), &bar, nullptr), 0);
    EXPECT_EQ(d.RecoverFolder(folder, fat->FatType, dir.Path(), &bar, nullptr), 0);
    const Bytes fileBytes = vt::test::YesContent(kLongFile, 3333), inner = vt::test::YesContent("inner.txt", 777);
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + kLongFileOut), fileBytes);
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + Repeat("恢", 83) + "_1.txt"), fileBytes);
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + kLongDirOut + "/inner.txt"), inner);
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + Repeat("目", 84) + "_1/inner.txt"), inner);

    TPartiEntry* ntfs = NodeAt(d, 18836, 7);
    List(d, ntfs);
    const tntfsfilerecord* rec = nullptr;
    for (auto& e : ntfs->NtfsEntries)
        if (e->Name == kLongFile) rec = e.get();
    ASSERT_NE(rec, nullptr);
    vt::test::TempDir other;
    EXPECT_EQ(d.RecoverFile(rec, vt::fsNtfs, other.Path(), &bar, nullptr), 0);
    EXPECT_EQ(vt::test::ReadWholeFile(other.Path() + "/" + kLongFileOut), vt::test::YesContent(kLongFile, 2000));
    EXPECT_TRUE(log.rows.size() > 0 && log.rows.back().imageIndex == 0) << log.rows.back().caption;
}

// The standard engine opens the same partitions as logical drives.
class StandardOnForeign : public ForeignDiskTest {
protected:
    TLogiDrive* Open(std::int64_t first, std::int64_t sectors) {
        vt::test::InstallProfile("[logical.E]\nimage=foreign.img\noffset=" + std::to_string(first * 512) +
                                 "\nsize=" + std::to_string(sectors * 512) + "\n");
        DiskUtils::Initialize();
        engine = std::make_unique<TUndelete>();
        TLogiDrive* drive = engine->Drives.at(0).get();
        EXPECT_TRUE(engine->OpenDrive(drive, false, nullptr, nullptr));
        return drive;
    }
    std::unique_ptr<TUndelete> engine;
    platform::RecordingStatusPanel status;
};

TEST_F(StandardOnForeign, LongChineseNamesComeBackShortened) {
    TLogiDrive* fat = Open(14336, 4500);
    TMidEntry *file = nullptr, *folder = nullptr;
    for (auto& e : fat->Entries) {
        if (GetEntryDisplayName(*e) == kLongFile) file = e.get();
        if (GetEntryDisplayName(*e) == kLongDir) folder = e.get();
    }
    ASSERT_NE(file, nullptr);
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(engine->RecoverFile(file, GetEntryFileName(*file), dir.Path(), &status, &log));
    EXPECT_TRUE(engine->RecoverFolder(folder, GetEntryFileName(*folder), dir.Path(), &status, &log));
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + kLongFileOut), vt::test::YesContent(kLongFile, 3333));
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + kLongDirOut + "/inner.txt"),
              vt::test::YesContent("inner.txt", 777));
    EXPECT_TRUE(log.rows.empty());
}

// The NTFS root is listed as "\"; its contents come back in a folder named
// after the volume, or "root" when it has no label.
TEST_F(StandardOnForeign, NtfsRootComesBackUnderTheVolumeLabel) {
    TLogiDrive* ntfs = Open(18836, 8192);
    ASSERT_EQ(ntfs->FsType, vt::fsNtfs);
    tntfsfilerecord* root = nullptr;
    for (auto& e : ntfs->NtfsEntries)
        if (e->Name == "\\") root = e.get();
    ASSERT_NE(root, nullptr);
    for (auto [label, folder] : {std::pair{std::string("NEXTNTFS"), std::string("NEXTNTFS")},
                                 std::pair{std::string("无卷标"), std::string("root")}}) {
        ntfs->VolumeLabel = label;
        vt::test::TempDir out;
        EXPECT_TRUE(engine->RecoverFolder(root, root->Name, out.Path(), &status, &log));
        EXPECT_EQ(vt::test::ReadWholeFile(out.Path() + "/" + folder + "/next.bin"),
                  vt::test::YesContent("next.bin", 9000))
            << label;
        EXPECT_EQ(vt::test::ReadWholeFile(out.Path() + "/" + folder + "/" + kLongFileOut),
                  vt::test::YesContent(kLongFile, 2000))
            << label;
        EXPECT_FALSE(fs::exists(out.Path() + "/\\"));
    }
}

// ---------------------------------------------------------------------------
// NTFS runs that end before the file does

// A copy of foreign.img whose record of next.bin (9000 bytes, 3 clusters)
// claims 20000 bytes: the runs hold 12288 of them.
TEST_F(ForeignDiskTest, NtfsFileShorterThanItsRecordIsLoggedAsFailed) {
    auto image = vt::test::ReadWholeFile(vt::test::ImagePath("foreign.img"));
    const std::u16string name = u"next.bin";
    std::size_t record = 0;
    for (std::size_t at = 18836 * 512; at + 1024 <= 27028 * 512 && !record; at += 1024) {
        if (std::memcmp(image.data() + at, "FILE", 4) != 0) continue;
        for (std::size_t i = at; i + name.size() * 2 <= at + 1024; ++i)
            if (std::memcmp(image.data() + i, name.data(), name.size() * 2) == 0) record = at;
    }
    ASSERT_NE(record, 0u);
    // Walk the attributes to $DATA (type 0x80, non-resident): real size at
    // +0x30 and initialised size at +0x38 of its header.
    std::size_t attr = record + vt::LoadLe16(image.data() + record + 0x14);
    while (vt::LoadLe32(image.data() + attr) != 0x80) attr += vt::LoadLe32(image.data() + attr + 4);
    ASSERT_EQ(vt::LoadLe64(image.data() + attr + 0x30), 9000u);
    for (std::size_t off : {0x30, 0x38})
        for (int i = 0; i < 8; ++i) image[attr + off + i] = static_cast<std::uint8_t>(20000ull >> (8 * i));
    vt::test::InstallAsDrive0(std::move(image));

    TPhysicalDrive d(Drive0());
    TPartiEntry* ntfs = NodeAt(d, 18836, 7);
    List(d, ntfs);
    const tntfsfilerecord* rec = nullptr;
    for (auto& e : ntfs->NtfsEntries)
        if (e->Name == "next.bin") rec = e.get();
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(rec->DataSize, 20000);
    log.rows.clear();
    EXPECT_EQ(d.RecoverFile(rec, vt::fsNtfs, dir.Path(), &bar, nullptr), 0);
    // What the runs hold stays; the file is reported as failed.
    Bytes expected = vt::test::YesContent("next.bin", 9000);
    const Bytes written = vt::test::ReadWholeFile(dir.Path() + "/next.bin");
    ASSERT_EQ(written.size(), 12288u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin()));
    ASSERT_EQ(log.rows.size(), 1u);
    EXPECT_EQ(log.rows[0].caption, "next.bin - 恢复失败");
    EXPECT_EQ(log.rows[0].imageIndex, 1);
}

// ---------------------------------------------------------------------------
// Sectors that cannot be read

// disk1.img (tests/fixtures/make-disks.sh) with one sector that fails to
// read, as on a dying disk. PRIMARY16 (sector 2048) holds README.TXT at
// its sector 98 right before the folders docs (99) and docs/inner (100);
// NTFSVOL (92160) holds its master file table at its sectors 32 to 167 and
// nothing at 178, which its table's read of 1000 sectors reaches.
struct BadSectorCase {
    const char* name;
    std::string drive;         // the profile's section
    std::uint64_t offset = 0;  // of the logical drive's volume, bytes
    std::uint64_t size = 0;
    std::int64_t first = 0;    // the node, on the physical drive
    std::uint8_t type = 0;
    std::uint64_t bad = 0;     // counted from the drive's (or volume's) start
};

void PrintTo(const BadSectorCase& c, std::ostream* os) { *os << c.name; }

class UnreadableSector : public ForeignDiskTest, public ::testing::WithParamInterface<BadSectorCase> {
protected:
    // What the scan of the node lists, FAT and NTFS, by found directory
    // (counted from the node's first sector) and name; and the log's lines.
    std::multiset<std::string> Listing(const std::string& unreadable) {
        const BadSectorCase& c = GetParam();
        std::string profile = "[" + c.drive + "]\nimage=disk1.img\n";
        if (c.size) profile += "offset=" + std::to_string(c.offset) + "\nsize=" + std::to_string(c.size) + "\n";
        if (!unreadable.empty()) profile += "unreadable=" + unreadable + "\n";
        vt::test::InstallProfile(profile);
        TDriveGeometry g{};
        if (c.drive == "physical.0") g = Drive0();
        else g.DriveNo = static_cast<DriveNo>(-'E');
        TPhysicalDrive d(g);
        TPartiEntry* node = c.drive == "physical.0" ? NodeAt(d, c.first, c.type) : d.Partitions[0].get();
        log.rows.clear();
        std::multiset<std::string> out;
        List(d, node);
        if (!node) return out;
        for (auto& e : node->FatEntries)
            out.insert(std::to_string(e->DirSector - node->FirstSector()) + " " + PhysEntryDisplayName(*e));
        for (auto& r : node->NtfsEntries) out.insert(std::to_string(FileRefToInt64(r->FileName.ParentRef)) + " " + r->Name);
        return out;
    }
};

TEST_P(UnreadableSector, CostsOnlyItselfAndIsCounted) {
    const BadSectorCase& c = GetParam();
    const std::multiset<std::string> clean = Listing("");
    ASSERT_GE(clean.size(), 6u);
    ASSERT_EQ(log.rows.size(), 3u);
    EXPECT_EQ(log.rows.back().caption, "驱动器扫描完成");

    EXPECT_EQ(Listing(std::to_string(c.bad)), clean);
    ASSERT_EQ(log.rows.size(), 4u);
    EXPECT_EQ(log.rows[2].caption, "驱动器扫描完成");
    EXPECT_EQ(log.rows[3].caption, "1 个扇区无法读取，已跳过");
    EXPECT_EQ(log.rows[3].imageIndex, kLogWarning);
}

INSTANTIATE_TEST_SUITE_P(
    Disk1, UnreadableSector,
    ::testing::Values(
        BadSectorCase{"FatPartitionNode", "physical.0", 0, 0, 2048, 0x06, 2048 + 98},
        BadSectorCase{"FatLogicalDrive", "logical.E", 2048 * 512ull, 8192 * 512ull, 0, 0, 98},
        BadSectorCase{"NtfsPartitionNode", "physical.0", 0, 0, 92160, 0x07, 92160 + 178},
        BadSectorCase{"NtfsLogicalDrive", "logical.E", 92160 * 512ull, 8192 * 512ull, 0, 0, 178}),
    [](const auto& info) { return std::string(info.param.name); });

// Nothing here writes to an image.
[[maybe_unused]] const bool kImagesChecked = vt::test::ExpectImagesUnchanged({"foreign.img", "foreign2.img", "clone.img"});

}  // namespace
