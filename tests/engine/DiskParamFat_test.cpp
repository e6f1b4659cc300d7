// The FAT scan of the standard engine: listings of volumes made by mkfs.fat
// and mtools, and the entry, chain and cycle rules on small volumes built
// in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "FatNamesManifest.h"
#include "MachineProfile.h"
#include "Recorders.h"
#include "System.h"
#include "TestSupport.h"

namespace {

// "state<TAB>size<TAB>path" lines, as the fixture script writes them.
std::multiset<std::string> ReadManifest(const std::string& name) {
    std::multiset<std::string> lines;
    std::istringstream in(vt::test::ReadTextFile(vt::test::ImagePath(name)));
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.insert(line);
    return lines;
}

std::string PathOf(const TMidEntry& e) {
    std::string path = GetEntryDisplayName(e);
    for (const TMidEntry* p = e.Parent; p; p = p->Parent) path = GetEntryDisplayName(*p) + "/" + path;
    return path;
}

std::string Line(const TMidEntry& e) {
    return std::to_string(e.Status) + "\t" + std::to_string(e.DirEntry.FileSize.get()) + "\t" + PathOf(e);
}

std::multiset<std::string> Listing(const TLogiDrive& d) {
    std::multiset<std::string> lines;
    for (const auto& e : d.Entries) lines.insert(Line(*e));
    return lines;
}

std::uint32_t ClusterOf(const TMidEntry& e, TFsType type) {
    std::uint32_t c = e.DirEntry.FstClusLO.get();
    if (type == vt::fsFat32) c |= static_cast<std::uint32_t>(e.DirEntry.FstClusHI.get()) << 16;
    return c;
}

const TMidEntry* FindByPath(const TLogiDrive& d, const std::string& path) {
    for (const auto& e : d.Entries)
        if (PathOf(*e) == path) return e.get();
    return nullptr;
}

// The listing's own consistency: sorted, every entry under the folder whose
// cluster it names, parents listed before their contents are reachable.
void ExpectWellFormed(const TLogiDrive& d, std::uint32_t rootKey) {
    for (std::size_t i = 1; i < d.Entries.size(); ++i)
        EXPECT_LE(CompareFatEntries(*d.Entries[i - 1], *d.Entries[i]), 0) << "order at " << i;
    std::set<const TMidEntry*> all;
    for (const auto& e : d.Entries) all.insert(e.get());
    for (const auto& e : d.Entries) {
        if (e->Parent) {
            EXPECT_TRUE(all.count(e->Parent)) << PathOf(*e);
            EXPECT_EQ(e->ParentCluster, ClusterOf(*e->Parent, d.FsType)) << PathOf(*e);
            EXPECT_FALSE(IsFatFile(e->Parent->DirEntry));
        } else {
            EXPECT_EQ(e->ParentCluster, rootKey) << PathOf(*e);
        }
    }
}

struct ImageCase {
    const char* image;
    const char* letter;
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.image; }

class FatImageScan : public ::testing::TestWithParam<ImageCase> {};

}  // namespace

TEST_P(FatImageScan, ListingMatchesWhatTheToolsWrote) {
    const ImageCase c = GetParam();
    const std::string image = vt::test::ImagePath(std::string(c.image) + ".img");
    const std::uint64_t before = vt::test::FileChecksum(image);
    vt::test::InstallProfile(std::string("[logical.") + c.letter + "]\nimage=" + c.image + ".img\n");
    platform::MessageBoxRecorder boxes;
    platform::RecordingStatusPanel panel;
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, &panel));
    EXPECT_FALSE(u.Busy);
    EXPECT_FALSE(u.Aborted);
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_EQ(Listing(*d), ReadManifest(std::string(c.image) + ".manifest"));
    const std::uint32_t rootKey = d->FsType == vt::fsFat32 ? vt::LoadLe32(d->BootSector.data() + 0x2C) : 0;
    ExpectWellFormed(*d, rootKey);
    ASSERT_FALSE(panel.texts.empty());
    EXPECT_EQ(panel.texts.front(), " ") << "the root shows a single blank";

    // Every folder's children through the key search.
    for (const auto& e : d->Entries) {
        if (IsFatFile(e->DirEntry) || e->Status == 2) continue;
        std::int32_t first = -1, last = -1;
        if (!u.FindChildRange(ClusterOf(*e, d->FsType), first, last)) continue;
        for (std::int32_t i = first; i <= last; ++i) EXPECT_EQ(d->Entries[i]->ParentCluster, ClusterOf(*e, d->FsType));
    }
    EXPECT_EQ(vt::test::FileChecksum(image), before) << "the scan never writes";
}

INSTANTIATE_TEST_SUITE_P(Images, FatImageScan,
                         ::testing::Values(ImageCase{"fat12", "A"}, ImageCase{"fat16", "C"}, ImageCase{"fat32", "E"}),
                         [](const auto& info) { return std::string(info.param.image); });

TEST(FatScan, DatesAsTheToolsWroteThem) {
    vt::test::InstallProfile("[logical.C]\nimage=fat16.img\n");
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    const auto value = [](const TFatDirEntry& e, bool created) {
        double v = -1;
        const bool ok = created ? FatDateTimeToDateTime(e.CrtDate.get(), e.CrtTime.get(), v)
                                : FatDateTimeToDateTime(e.WrtDate.get(), e.WrtTime.get(), v);
        return ok ? v : -1;
    };
    // 2023-07-01 08:30:00 (the sources' time) and 2024-03-15 10:20:30 (the
    // clock the folders were made under), as days since 1899-12-30.
    const double source = 45108 + (8 * 3600 + 30 * 60) / 86400.0;
    const double clock = 45366 + (10 * 3600 + 20 * 60 + 30) / 86400.0;
    const TMidEntry* readme = FindByPath(*d, "Readme.txt");
    const TMidEntry* photos = FindByPath(*d, "Photos");
    ASSERT_TRUE(readme && photos);
    EXPECT_NEAR(value(readme->DirEntry, false), source, 1e-9);
    EXPECT_NEAR(value(readme->DirEntry, true), source, 1e-9);
    EXPECT_NEAR(value(photos->DirEntry, true), clock, 1e-9);
}

TEST(FatScan, Windows9xReadsTheSameListing) {
    vt::test::InstallProfile("[machine]\nfamily=9x\nhide_real_devices=1\n[logical.C]\nimage=fat16.img\n"
                             "[logical.E]\nimage=fat32.img\n");
    DiskUtils::Initialize();
    TUndelete u;
    for (auto& d : u.Drives) {
        ASSERT_TRUE(u.OpenDrive(d.get(), false, nullptr, nullptr)) << d->Name;
        EXPECT_EQ(Listing(*d), ReadManifest(d->Name == "C:" ? "fat16.manifest" : "fat32.manifest")) << d->Name;
    }
    vt::test::InstallProfile("[logical.C]\nimage=fat16.img\n");
    DiskUtils::Initialize();
}

TEST(FatScan, RootOrderFollowsShortNames) {
    vt::test::InstallProfile("[logical.C]\nimage=fat16.img\n");
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    std::vector<std::string> root;
    for (const auto& e : d->Entries)
        if (!e->Parent) root.push_back(GetEntryDisplayName(*e));
    // Keys: baddir, empty.dat, lower.txt, photos, readme.txt, then the
    // deleted names (0xE5 first): \xE5one.txt, \xE5rash.
    EXPECT_EQ(root, (std::vector<std::string>{"Baddir", "Empty.dat", "lower.txt", "Photos", "Readme.txt", "?one.txt",
                                              "Trash"}));
}

TEST(FatScan, FolderWhoseClusterHoldsOtherDataLosesContents) {
    vt::test::InstallProfile("[logical.C]\nimage=fat16.img\n");
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    const TMidEntry* bad = FindByPath(*d, "Baddir");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->Status, 2);
    std::int32_t first = -1, last = -1;
    EXPECT_FALSE(u.FindChildRange(bad->DirEntry.FstClusLO.get(), first, last));
    EXPECT_FALSE(FindByPath(*d, "Baddir/HIDDEN.TXT"));
    // Inside a deleted folder everything is deleted, marked or not.
    const TMidEntry* junk = FindByPath(*d, "Trash/Junk.bin");
    ASSERT_TRUE(junk);
    EXPECT_NE(junk->DirEntry.Name[0], 0xE5);
    EXPECT_EQ(junk->Status, 1);
}

// Photos of fat16.img has one directory cluster of four sectors. Where it
// does not read, one read-error box names the cluster (its first sector and
// its four sectors), however many of them fail; the sectors that read are
// listed and the folder is read in part.
TEST(FatScan, AnUnreadableDirectoryClusterShowsOneBoxForTheCluster) {
    std::uint32_t sector = 0;
    {
        vt::test::InstallProfile("[logical.C]\nimage=fat16.img\n");
        TUndelete u;
        TLogiDrive* d = u.Drives.front().get();
        ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
        const TMidEntry* photos = FindByPath(*d, "Photos");
        ASSERT_TRUE(photos);
        sector = *u.FatClusterSector(photos->DirEntry.FstClusLO.get());
        ASSERT_EQ(d->BootSector[0x0D], 4);
    }
    struct Case {
        const char* name;
        std::uint32_t from, to;  // the unreadable sectors of the cluster
        bool listed;             // its entries (all in its first sector) are listed
    };
    const Case cases[] = {
        {"every sector", 0, 3, false},
        {"the last three", 1, 3, true},
        {"one in the middle", 2, 2, true},
    };
    const std::string box = "Error when reading data:\r\nError Code:" + std::to_string(win::ERROR_CRC) +
                            "\r\n驱动器C   扇区数:" + std::to_string(sector) + "   块:4";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vt::test::InstallProfile("[logical.C]\nimage=fat16.img\nunreadable=" + std::to_string(sector + c.from) + "-" +
                                 std::to_string(sector + c.to) + "\n");
        platform::MessageBoxRecorder boxes;
        TUndelete u;
        TLogiDrive* d = u.Drives.front().get();
        ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, box);
        const TMidEntry* photos = FindByPath(*d, "Photos");
        ASSERT_TRUE(photos);
        EXPECT_TRUE(photos->ReadInPart);
        EXPECT_EQ(FindByPath(*d, "Photos/Été à Paris.jpg") != nullptr, c.listed);
        EXPECT_EQ(FindByPath(*d, "Photos/2023/照片.jpg") != nullptr, c.listed);
    }
}

TEST(FatScan, Fat32RescanFindsLostHighWord) {
    const std::string image = vt::test::ImagePath("fat32.img");
    const std::uint64_t before = vt::test::FileChecksum(image);
    const std::uint32_t lostCluster = std::stoul(vt::test::ReadTextFile(vt::test::ImagePath("fat32.lostcluster")));
    vt::test::InstallProfile("[logical.E]\nimage=fat32.img\n");
    platform::RecordingStatusPanel panel;
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, &panel));
    TMidEntry* lost = const_cast<TMidEntry*>(FindByPath(*d, "Lost"));
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->Status, 2);
    EXPECT_EQ(lost->DirEntry.FstClusHI.get(), 0);
    EXPECT_EQ(lost->DirEntry.FstClusLO.get(), lostCluster & 0xFFFF);

    EXPECT_EQ(u.GuessHighClusterWord("a.#$%", lostCluster & 0xFFFF), lostCluster >> 16);
    EXPECT_TRUE(u.RescanFat32Directory(lost, &panel));
    EXPECT_FALSE(u.Busy);
    EXPECT_FALSE(u.GuessFat32HighWords);
    EXPECT_EQ(lost->Status, 1);
    EXPECT_EQ(ClusterOf(*lost, vt::fsFat32), lostCluster);
    EXPECT_EQ(panel.texts.back(), " Inner");

    std::multiset<std::string> expected = ReadManifest("fat32.manifest");
    expected.erase(expected.find("2\t0\tLost"));
    expected.insert("1\t0\tLost");
    for (const auto& line : ReadManifest("fat32-rescan.manifest")) expected.insert(line);
    EXPECT_EQ(Listing(*d), expected);
    ExpectWellFormed(*d, vt::LoadLe32(d->BootSector.data() + 0x2C));
    // Inner's high word was cleared too; the rescan guessed it.
    const TMidEntry* inner = FindByPath(*d, "Lost/Inner");
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->DirEntry.FstClusHI.get(), lostCluster >> 16);

    EXPECT_FALSE(u.RescanFat32Directory(lost, &panel)) << "once only";
    EXPECT_EQ(vt::test::FileChecksum(image), before);
}

TEST(FatScan, GuessWithoutUsableExtensionGivesZero) {
    vt::test::InstallProfile("[logical.E]\nimage=fat32.img\n");
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    EXPECT_EQ(u.GuessHighClusterWord("noextension", 5), 0);
    EXPECT_EQ(u.GuessHighClusterWord("file.unknownext", 5), 0);
    EXPECT_EQ(u.GuessHighClusterWord("photo.JPG", 5), 0) << "no cluster starts with FF D8";
    u.Stop();
    EXPECT_EQ(u.GuessHighClusterWord("a.#$%", 5), 0) << "a stop ends the guess";
    // FAT32 leaves the 16-bit FAT size 0: clusters = (total - reserved) / spc.
    const vt::ByteReader b(d->BootSector);
    EXPECT_EQ(u.GetTotalClusters(), (b.U32Or(0x20) - b.U16Or(0x0E)) / b.U8Or(0x0D));
    TMidEntry present;
    present.Status = 0;
    EXPECT_FALSE(u.RescanFat32Directory(&present, nullptr)) << "only a folder whose contents are lost";
}

TEST(FatScan, StopKeepsSortedPartialListing) {
    vt::test::InstallProfile("[logical.A]\nimage=fat12.img\n");
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    int calls = 0;
    bool busySeen = false;
    platform::SetMessagePump(
        [&] {
            busySeen = busySeen || u.Busy;
            if (++calls == 30) u.Stop();
        },
        std::chrono::milliseconds(0));
    const bool ok = u.OpenDrive(d, false, nullptr, nullptr);
    platform::SetMessagePump({});
    EXPECT_TRUE(ok);
    EXPECT_TRUE(busySeen);
    EXPECT_TRUE(u.Aborted) << "the flag stays for the window";
    EXPECT_FALSE(u.Busy);
    EXPECT_FALSE(d->Entries.empty());
    EXPECT_LT(d->Entries.size(), ReadManifest("fat12.manifest").size());
    ExpectWellFormed(*d, 0);
}

// ------------------------------------------------------------ in-memory volumes

namespace {

// A small FAT volume in memory: 512-byte sectors, one FAT, a root of 32
// entries on FAT12/16; clusters of spc sectors from cluster 2 on.
struct MemFat {
    TFsType type;
    std::uint32_t spc, reserved = 1, fats = 1, rootEntries, fatSize, totalSectors;
    std::uint32_t rootCluster = 2;
    std::vector<std::uint8_t> img;

    MemFat(TFsType t, std::uint32_t total, std::uint32_t fatSectors, std::uint32_t sectorsPerCluster = 1,
           std::uint32_t root = 32)
        : type(t), spc(sectorsPerCluster), rootEntries(t == vt::fsFat32 ? 0 : root), fatSize(fatSectors),
          totalSectors(total), img(static_cast<std::size_t>(total) * 512, 0) {
        auto& b = img;
        b[0] = 0xEB;
        b[1] = 0x3C;
        b[2] = 0x90;
        std::memcpy(&b[3], "MSWIN4.1", 8);
        Put16(0x0B, 512);
        b[0x0D] = static_cast<std::uint8_t>(spc);
        Put16(0x0E, reserved);
        b[0x10] = static_cast<std::uint8_t>(fats);
        Put16(0x11, rootEntries);
        Put32(0x20, total);
        if (t == vt::fsFat32) {
            Put32(0x24, fatSize);
            Put32(0x2C, rootCluster);
            std::memcpy(&b[0x52], "FAT32   ", 8);
        } else {
            Put16(0x16, fatSize);
            std::memcpy(&b[0x36], t == vt::fsFat12 ? "FAT12   " : "FAT16   ", 8);
        }
        b[510] = 0x55;
        b[511] = 0xAA;
        SetFat(0, 0x0FFFFFF8);
        SetFat(1, 0x0FFFFFFF);
        if (t == vt::fsFat32) SetFat(rootCluster, 0x0FFFFFFF);
    }
    void Put16(std::size_t off, std::uint32_t v) {
        img[off] = v & 0xFF;
        img[off + 1] = (v >> 8) & 0xFF;
    }
    void Put32(std::size_t off, std::uint32_t v) {
        Put16(off, v & 0xFFFF);
        Put16(off + 2, v >> 16);
    }
    std::size_t FatOffset() const { return reserved * 512; }
    std::size_t RootOffset() const {
        return type == vt::fsFat32 ? ClusterOffset(rootCluster) : (reserved + fats * fatSize) * 512;
    }
    std::size_t ClusterOffset(std::uint32_t c) const {
        const std::size_t data = reserved + fats * fatSize + rootEntries / 16;
        return (data + (c - 2) * spc) * 512;
    }
    void SetFat(std::uint32_t c, std::uint32_t v) {
        const std::size_t f = FatOffset();
        if (type == vt::fsFat12) {
            const std::size_t o = f + c + c / 2;
            std::uint16_t w = img[o] | (img[o + 1] << 8);
            w = (c & 1) ? static_cast<std::uint16_t>((w & 0x000F) | ((v & 0xFFF) << 4))
                        : static_cast<std::uint16_t>((w & 0xF000) | (v & 0xFFF));
            Put16(o, w);
        } else if (type == vt::fsFat16) {
            Put16(f + 2 * c, v & 0xFFFF);
        } else {
            Put32(f + 4 * c, v);
        }
    }
    static std::array<std::uint8_t, 32> Entry(const char* name11, std::uint8_t attr, std::uint32_t cluster,
                                              std::uint32_t size, std::uint8_t ntres = 0) {
        std::array<std::uint8_t, 32> e{};
        std::memcpy(e.data(), name11, 11);
        e[11] = attr;
        e[12] = ntres;
        e[20] = (cluster >> 16) & 0xFF;
        e[21] = (cluster >> 24) & 0xFF;
        e[26] = cluster & 0xFF;
        e[27] = (cluster >> 8) & 0xFF;
        for (int i = 0; i < 4; ++i) e[28 + i] = (size >> (8 * i)) & 0xFF;
        return e;
    }
    void Write(std::size_t off, const std::array<std::uint8_t, 32>& e) { std::memcpy(&img[off], e.data(), 32); }
    // A folder at cluster c with its "." and ".." entries; returns the
    // offset of its first free entry.
    std::size_t Folder(std::uint32_t c, std::uint32_t parent) {
        Write(ClusterOffset(c), Entry(".          ", 0x10, c, 0));
        Write(ClusterOffset(c) + 32, Entry("..         ", 0x10, parent, 0));
        SetFat(c, 0x0FFFFFFF);
        return ClusterOffset(c) + 64;
    }
    void Install() const {
        platform::MachineConfig cfg;
        platform::LogicalDriveConfig d;
        d.letter = 'C';
        d.store = platform::BackingStore::FromMemory(img);
        cfg.logical.push_back(d);
        platform::Machine::Install(cfg);
    }
};

std::array<std::uint8_t, 32> Lfn(std::uint8_t seq, std::uint8_t sum, const std::u16string& text) {
    std::array<std::uint8_t, 32> e{};
    e[0] = seq;
    e[11] = 0x0F;
    e[13] = sum;
    static constexpr int kPos[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::u16string c = text;
    if (c.size() < 13) c += u'\0';
    while (c.size() < 13) c += u'\xFFFF';
    for (int i = 0; i < 13; ++i) {
        e[kPos[i]] = c[i] & 0xFF;
        e[kPos[i] + 1] = c[i] >> 8;
    }
    return e;
}

// The checksum a long name carries for the short name it belongs to.
std::uint8_t Sum(const char* name11) {
    return vt::fat::ShortNameChecksum(std::span<const std::uint8_t, 11>(reinterpret_cast<const std::uint8_t*>(name11), 11));
}

struct Scanned {
    std::unique_ptr<TUndelete> engine;
    std::vector<std::string> lines;
};

// Installs the volume as C: and opens it with a new engine.
Scanned Scan(const MemFat& v) {
    v.Install();
    platform::MessageBoxRecorder boxes;
    Scanned r{std::make_unique<TUndelete>(), {}};
    EXPECT_TRUE(r.engine->OpenDrive(r.engine->Drives.front().get(), false, nullptr, nullptr));
    for (const auto& e : r.engine->Current->Entries) r.lines.push_back(Line(*e));
    return r;
}

}  // namespace

TEST(FatEntryRules, ListsWhatTheDirectoryHoldsTable) {
    MemFat v(vt::fsFat16, 200, 1);
    std::size_t o = v.RootOffset();
    const auto put = [&](const std::array<std::uint8_t, 32>& e) {
        v.Write(o, e);
        o += 32;
    };
    put(MemFat::Entry("VOLUME     ", 0x08, 0, 0));                 // label: skipped
    put(Lfn(0x41, 0x11, u"Long orphan"));                          // belongs to no entry:
    put(MemFat::Entry("HUGE    BIN", 0x20, 3, 0xFFFFFFFF));        //   a size no chain holds: listed
    put(MemFat::Entry("NEXT    TXT", 0x20, 4, 10));                // no trace of "Long orphan"
    put(MemFat::Entry("\xE5" "ERO    TXT", 0x20, 0, 0));           // deleted, size 0, cluster 0: kept
    put(MemFat::Entry("NOCLUS  TXT", 0x20, 0, 1000));              // present, size 1000, cluster 0: listed
    put(MemFat::Entry("BIGDIR     ", 0x10, 5, 512));               // present folder with a size: listed
    put(MemFat::Entry("README  TXT", 0x20, 6, 1, 0x08));           // NTRes 0x08: readme.txt
    put(MemFat::Entry("MIXED   TXT", 0x20, 7, 1, 0x10));           // NTRes 0x10 on FAT16: unchanged
    put(Lfn(0x41, Sum("SPACED~1TXT"), u"  Spaced long  "));         // trimmed long name
    put(MemFat::Entry("SPACED~1TXT", 0x20, 8, 2));
    put(MemFat::Entry("           ", 0x20, 9, 3));                 // blank name, no long name: skipped
    put(Lfn(0x41, Sum("           "), u"by long name"));
    put(MemFat::Entry("           ", 0x20, 10, 4));                // blank name carried by a long name
    put(MemFat::Entry(".       TXT", 0x20, 11, 5));                // a base of "." is a name
    put(MemFat::Entry(".DIR       ", 0x10, 12, 0));                //   of a folder too, with its files
    v.Write(v.Folder(12, 0), MemFat::Entry("INSIDE  TXT", 0x20, 13, 6));
    const Scanned r = Scan(v);
    const auto& lines = r.lines;
    const std::multiset<std::string> got(lines.begin(), lines.end());
    EXPECT_EQ(got, (std::multiset<std::string>{"0\t10\tNext.txt", "1\t0\t?ero.txt", "0\t1\treadme.txt",
                                               "0\t1\tMIXED.TXT", "0\t2\tSpaced long", "0\t4294967295\tHuge.bin",
                                               "0\t1000\tNoclus.txt", "2\t512\tBigdir",
                                               "0\t4\tby long name", "0\t5\t..txt", "0\t0\t.dir",
                                               "0\t6\t.dir/Inside.txt"}));
}

TEST(FatEntryRules, Fat32CaseRuleAndRootClusterEntries) {
    MemFat v(vt::fsFat32, 600, 8);
    std::size_t o = v.RootOffset();
    v.Write(o, MemFat::Entry("README  TXT", 0x20, 3, 1, 0x00));
    v.Write(o + 32, MemFat::Entry("LOWER   TXT", 0x20, 4, 1, 0x08));
    v.Write(o + 64, MemFat::Entry("BOTH    TXT", 0x20, 5, 1, 0x18));
    v.Write(o + 96, MemFat::Entry("ROOTLINK   ", 0x10, 2, 0));  // names the root cluster: skipped
    const Scanned r = Scan(v);
    const auto& lines = r.lines;
    EXPECT_EQ(lines, (std::vector<std::string>{"0\t1\tBOTH.TXT", "0\t1\tlower.txt", "0\t1\tREADME.TXT"}));
}

// A GBK character whose second byte lies in A to Z (丄 is 0x81 0x41) keeps
// it: the case rule changes letters only.
TEST(FatEntryRules, CaseRuleLeavesTheSecondByteOfAGbkCharacter) {
    MemFat v(vt::fsFat16, 200, 1);
    v.Write(v.RootOffset(), MemFat::Entry("\x81" "AB     TXT", 0x20, 3, 1, 0x00));
    v.Write(v.RootOffset() + 32, MemFat::Entry("\xD6\xD0\x81" "A    DOC", 0x20, 4, 1, 0x08));
    const Scanned r = Scan(v);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"0\t1\t丄b.txt", "0\t1\t中丄.doc"}));
}

TEST(FatCycles, FolderLeadingBackToAncestorIsListedNotEntered) {
    MemFat v(vt::fsFat16, 200, 1);
    v.Write(v.RootOffset(), MemFat::Entry("A          ", 0x10, 3, 0));
    std::size_t a = v.Folder(3, 0);
    v.Write(a, MemFat::Entry("B          ", 0x10, 4, 0));
    std::size_t b = v.Folder(4, 3);
    v.Write(b, MemFat::Entry("BACK       ", 0x10, 3, 0));        // leads back to A
    v.Write(b + 32, MemFat::Entry("FILE    TXT", 0x20, 5, 7));
    // A deleted folder entry with cluster 0 whose first sector would be the
    // root's: with a root of 2 sectors and 1 sector per cluster, cluster 0
    // maps to RootStart.
    v.Write(v.RootOffset() + 32, MemFat::Entry("\xE5" "ROOTY     ", 0x10, 0, 0));
    const Scanned r = Scan(v);
    const auto& lines = r.lines;
    const std::multiset<std::string> got(lines.begin(), lines.end());
    EXPECT_EQ(got, (std::multiset<std::string>{"0\t0\tA", "0\t0\tA/B", "0\t0\tA/B/Back", "0\t7\tA/B/File.txt",
                                               "1\t0\t?rooty"}));
}

TEST(FatCycles, SharedFolderClustersDoNotExplode) {
    // Each folder holds two entries for the next one: a plain walk would
    // scan the last folder 2^30 times.
    MemFat v(vt::fsFat16, 400, 1);
    v.Write(v.RootOffset(), MemFat::Entry("D0         ", 0x10, 3, 0));
    for (std::uint32_t i = 0; i < 30; ++i) {
        std::size_t o = v.Folder(3 + i, i == 0 ? 0 : 2 + i);
        char n1[12], n2[12];
        std::snprintf(n1, sizeof n1, "X%-10u", i + 1);
        std::snprintf(n2, sizeof n2, "Y%-10u", i + 1);
        if (i + 1 < 30) {
            v.Write(o, MemFat::Entry(n1, 0x10, 4 + i, 0));
            v.Write(o + 32, MemFat::Entry(n2, 0x10, 4 + i, 0));
        }
    }
    const Scanned r = Scan(v);
    const auto& lines = r.lines;
    EXPECT_FALSE(lines.empty());
    EXPECT_LT(lines.size(), 1000000u);
}

TEST(FatChain, Fat12WindowAtSectorOneForCluster500) {
    MemFat v(vt::fsFat12, 2000, 9);
    v.SetFat(500, 501);
    v.SetFat(501, 0xFFF);
    const Scanned r = Scan(v);
    TUndelete* u = r.engine.get();
    EXPECT_EQ(u->FatSectorOfCluster(500), 1u);  // Ceil(750 / 512) - 1
    EXPECT_TRUE(u->ClusterInFatWindow(500, 1));
    EXPECT_FALSE(u->ClusterInFatWindow(500, 2));
    // The window of sector 1 covers FAT bytes 512..5119: cluster 3412's
    // entry (bytes 5118, 5119) lies in it, 3413's (5119, 5120) does not.
    EXPECT_TRUE(u->ClusterInFatWindow(3412, 1));
    EXPECT_FALSE(u->ClusterInFatWindow(3413, 1));
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    std::array<std::uint32_t, vt::fat::kMaxChain> chain;
    int count = 0;
    EXPECT_TRUE(u->GetClusterChain(500, chain, count));
    platform::DeviceTrace::Enable(false);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(chain[0], 500u);
    EXPECT_EQ(chain[1], 501u);
    EXPECT_EQ(chain[2], 0u);
    bool windowRead = false;
    for (const auto& r : platform::DeviceTrace::Requests())
        if (r.code == 0 && r.offset == (1 + 1) * 512u && r.length == 9 * 512u) windowRead = true;
    EXPECT_TRUE(windowRead) << "9 sectors from reserved + 1";
}

TEST(FatChain, EndsTable) {
    struct Case {
        const char* name;
        TFsType type;
        std::vector<std::uint32_t> links;  // FAT entries from cluster 3 on
        bool ok;
        int count;
    };
    const Case cases[] = {
        {"fat32 end mark 0x0FFFFFF8", vt::fsFat32, {4, 5, 0x0FFFFFF8}, true, 3},
        {"fat32 end mark 0xFFFFFFFF", vt::fsFat32, {4, 0xFFFFFFFF}, true, 2},
        {"fat32 free entry breaks the chain", vt::fsFat32, {4, 0}, false, 2},
        {"fat32 reserved top bits of a link", vt::fsFat32, {0xF0000004, 0x0FFFFFFF}, true, 2},
        {"fat32 end mark with reserved bits", vt::fsFat32, {4, 0xFFFFFFF8}, true, 2},
        {"fat32 bad cluster", vt::fsFat32, {4, 0x0FFFFFF7}, false, 2},
        {"fat16 end mark", vt::fsFat16, {4, 0xFFFF}, true, 2},
        {"fat16 end mark 0xFFF8", vt::fsFat16, {4, 0xFFF8}, true, 2},
        {"fat16 bad cluster", vt::fsFat16, {4, 0xFFF7}, false, 2},
        {"fat16 past the volume", vt::fsFat16, {4, 4400}, false, 2},
        {"fat12 end mark 0xFF8", vt::fsFat12, {4, 0xFF8}, true, 2},
        {"fat16 past the FAT", vt::fsFat16, {4, 0xFFF0}, false, 2},
        {"fat16 loop back", vt::fsFat16, {4, 3}, false, 2},
        {"fat12 end mark", vt::fsFat12, {4, 0xFFF}, true, 2},
        {"fat12 cluster 1", vt::fsFat12, {1}, false, 1},
    };
    for (const Case& c : cases) {
        // FAT16 by its count: at least 4085 clusters.
        const std::uint32_t total = c.type == vt::fsFat32 ? 600 : c.type == vt::fsFat16 ? 4300 : 200;
        MemFat v(c.type, total, c.type == vt::fsFat32 ? 8 : c.type == vt::fsFat16 ? 17 : 1);
        for (std::size_t i = 0; i < c.links.size(); ++i) v.SetFat(3 + static_cast<std::uint32_t>(i), c.links[i]);
        const Scanned r = Scan(v);
        TUndelete* u = r.engine.get();
        std::array<std::uint32_t, vt::fat::kMaxChain> chain;
        int count = 0;
        EXPECT_EQ(u->GetClusterChain(3, chain, count), c.ok) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
    }
}

TEST(FatChain, LongChainYieldsFirst512) {
    MemFat v(vt::fsFat32, 1400, 8, 1);
    for (std::uint32_t c = 3; c < 603; ++c) v.SetFat(c, c + 1);
    v.SetFat(603, 0x0FFFFFFF);
    const Scanned r = Scan(v);
    TUndelete* u = r.engine.get();
    std::array<std::uint32_t, vt::fat::kMaxChain> chain;
    int count = 0;
    EXPECT_FALSE(u->GetClusterChain(3, chain, count));
    EXPECT_EQ(count, 512);
    EXPECT_EQ(chain[511], 3u + 511u);
    // The single cluster of First 0.
    EXPECT_TRUE(u->GetClusterChain(0, chain, count));
    EXPECT_EQ(count, 1);
}

TEST(FatDamage, ZeroSectorsPerClusterAndTruncatedImages) {
    {
        MemFat v(vt::fsFat16, 200, 1);
        v.Write(v.RootOffset(), MemFat::Entry("SUB        ", 0x10, 3, 0));
        v.Write(v.RootOffset() + 32, MemFat::Entry("FILE    TXT", 0x20, 4, 9));
        v.Folder(3, 0);
        v.img[0x0D] = 0;
        const Scanned r = Scan(v);
        const auto& lines = r.lines;
        TUndelete* u = r.engine.get();
        const std::multiset<std::string> got(lines.begin(), lines.end());
        EXPECT_EQ(got, (std::multiset<std::string>{"0\t0\tSub", "0\t9\tFile.txt"})) << "the root is still read";
        EXPECT_EQ(u->GetTotalClusters(), 0u);
    }
    for (const char* name : {"fat12.img", "fat16.img", "fat32.img"}) {
        auto bytes = vt::test::ReadWholeFile(vt::test::ImagePath(name));
        for (std::size_t keep : {std::size_t{512}, std::size_t{4096}, bytes.size() / 3}) {
            std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + keep);
            platform::MachineConfig cfg;
            platform::LogicalDriveConfig d;
            d.letter = 'C';
            d.store = platform::BackingStore::FromMemory(cut);
            cfg.logical.push_back(d);
            platform::Machine::Install(cfg);
            platform::MessageBoxRecorder boxes;
            TUndelete u;
            EXPECT_TRUE(u.OpenDrive(u.Drives.front().get(), false, nullptr, nullptr)) << name << " " << keep;
            EXPECT_FALSE(u.Busy);
        }
    }
}

// ------------------------------------------------------------ names that mcopy writes

namespace {

using vt::test::NamedFile;
using vt::test::NamedFiles;

class FatNames : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(FatNames, EveryNameAsTheVolumeHoldsItAndRecoveredByteForByte) {
    const std::string image = vt::test::ImagePath(GetParam());
    vt::test::InstallProfile("[logical.E]\nimage=" + image + "\n");
    platform::MessageBoxRecorder boxes;
    TUndelete u;
    TLogiDrive* d = u.Drives.front().get();
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    EXPECT_TRUE(boxes.calls.empty());
    const std::vector<NamedFile> files = NamedFiles(d->FsType == vt::fsFat32);
    std::multiset<std::string> listed, expected;
    for (const auto& e : d->Entries) listed.insert(GetEntryDisplayName(*e));
    for (const NamedFile& f : files) expected.insert(f.shown);
    EXPECT_EQ(listed, expected);

    vt::test::TempDir dir;
    platform::RecordingEventLog log;
    for (const NamedFile& f : files) {
        const TMidEntry* e = FindByPath(*d, f.shown);
        ASSERT_NE(e, nullptr) << f.shown;
        EXPECT_EQ(e->DirEntry.FileSize.get(), f.size) << f.shown;
        u.RecoverFileReported(const_cast<TMidEntry*>(e), GetEntryFileName(*e), dir.Path(), nullptr, &log);
        EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + f.target), vt::test::YesContent(f.original, f.size))
            << f.shown;
    }
    std::set<std::string> written, targets;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        written.insert(entry.path().filename().string());
    for (const NamedFile& f : files) targets.insert(f.target);
    EXPECT_EQ(written, targets) << "no name collided";
    EXPECT_TRUE(log.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatNames, ::testing::Values("names12.img", "names16.img", "names32.img"),
                         [](const auto& info) { return std::string(info.param).substr(0, 7); });
