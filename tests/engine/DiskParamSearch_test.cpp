// The standard engine's search over FAT and NTFS listings, and the first
// bytes of found files for the hex view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>

#include "DiskParam.h"
#include "MachineProfile.h"
#include "NtfsManifest.h"
#include "NtfsTestVolume.h"
#include "Recorders.h"
#include "TestSupport.h"

namespace {

TLogiDrive* Open(TUndelete& u, char letter) {
    for (auto& d : u.Drives)
        if (d->Name[0] == letter) return u.OpenDrive(d.get(), false, nullptr, nullptr) ? d.get() : nullptr;
    return nullptr;
}

std::string NameOf(const TUndelete& u, const void* item) {
    if (u.Current->FsType == vt::fsNtfs) return static_cast<const tntfsfilerecord*>(item)->Name;
    const auto* e = static_cast<const TMidEntry*>(item);
    return e->LongName.empty() ? GetEntryDisplayName(*e) : e->LongName;
}

std::vector<std::string> Names(const TUndelete& u) {
    std::vector<std::string> out;
    for (const void* item : u.Found) out.push_back(NameOf(u, item));
    return out;
}

std::multiset<std::string> NameSet(const TUndelete& u) {
    const auto v = Names(u);
    return {v.begin(), v.end()};
}

// FILETIME to a date-time value in UTC (the tests run with TZ=UTC).
double Day(std::uint64_t filetime) {
    const double seconds = static_cast<double>(filetime / 10000000ull) - 11644473600.0;
    return seconds / 86400.0 + 25569.0;
}

class NtfsSearch : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-512.img\n");
        u_ = std::make_unique<TUndelete>();
        d_ = Open(*u_, 'E');
        ASSERT_NE(d_, nullptr);
        for (const auto& m : vt::test::ReadNtfsManifest("ntfs-512.manifest")) manifest_[m.path] = m;
    }
    bool Search(const std::string& masks, std::int64_t key = -1, bool cs = false) {
        u_->Found.clear();
        return u_->SearchEntries(masks, cs, 0, 0, 0, -1, -1, key, false);
    }
    std::unique_ptr<TUndelete> u_;
    TLogiDrive* d_ = nullptr;
    std::map<std::string, vt::test::NtfsManifestEntry> manifest_;
};

TEST_F(NtfsSearch, MasksSeparatedByCommas) {
    ASSERT_TRUE(Search("*.doc,readme.txt"));
    EXPECT_EQ(NameSet(*u_), (std::multiset<std::string>{"report.doc", "old-draft.doc", "readme.txt"}));
    // A blank after the comma belongs to the second mask.
    ASSERT_TRUE(Search("readme.txt, *.doc"));
    EXPECT_EQ(NameSet(*u_), (std::multiset<std::string>{"readme.txt"}));
}

TEST_F(NtfsSearch, CaseOnlyWhenAsked) {
    ASSERT_TRUE(Search("README.*"));
    EXPECT_EQ(Names(*u_), (std::vector<std::string>{"readme.txt"}));
    ASSERT_TRUE(Search("README.*", -1, true));
    EXPECT_TRUE(u_->Found.empty());
    ASSERT_TRUE(Search("中文*"));
    EXPECT_EQ(NameSet(*u_), (std::multiset<std::string>{"中文文件夹", "中文文档.txt"}));
}

TEST_F(NtfsSearch, WholeDriveVisitsEachEntryOnce) {
    ASSERT_TRUE(Search(""));
    ASSERT_EQ(u_->Found.size(), d_->NtfsEntries.size());
    const std::set<const void*> distinct(u_->Found.begin(), u_->Found.end());
    EXPECT_EQ(distinct.size(), u_->Found.size());
}

TEST_F(NtfsSearch, FolderKeyDescendsInPreOrder) {
    ASSERT_TRUE(Search("*", manifest_.at("/Documents").record));
    EXPECT_EQ(Names(*u_),
              (std::vector<std::string>{"Projects", "Deep", "leaf.dat", "plan.txt", "old-draft.doc", "report.doc"}));
    // Deleted folders are searched too; a folder is searched whether or not
    // it matched.
    ASSERT_TRUE(Search("*.txt", manifest_.at("/OldTree").record));
    EXPECT_EQ(Names(*u_), (std::vector<std::string>{"c.txt", "a.txt"}));
}

TEST_F(NtfsSearch, KeyWithoutEntriesAddsNothing) {
    u_->Found.push_back(nullptr);
    ASSERT_TRUE(u_->SearchEntries("", false, 0, 0, 0, -1, -1, 987654, false));
    // What was there stays: the search only appends.
    EXPECT_EQ(u_->Found, (std::vector<void*>{nullptr}));
}

TEST_F(NtfsSearch, TheThreeDates) {
    const auto& readme = manifest_.at("/readme.txt");
    struct Case {
        std::uint8_t kind;
        std::uint64_t time;
    };
    for (const Case& c : {Case{0, readme.ctime}, Case{1, readme.mtime}, Case{2, readme.atime}}) {
        // Two minutes around the time: only the one file (each file of the
        // volume is a day apart from the next).
        const double at = Day(c.time);
        u_->Found.clear();
        ASSERT_TRUE(u_->SearchEntries("", false, c.kind, at - 1.0 / 720, at + 1.0 / 720, -1, -1, -1, false));
        EXPECT_EQ(Names(*u_), (std::vector<std::string>{"readme.txt"})) << int(c.kind);
    }
    // DateTo is not looked at without DateFrom.
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("readme.txt", false, 0, 0, 1, -1, -1, -1, false));
    EXPECT_EQ(u_->Found.size(), 1u);
    // A time outside 1980 to 2050 fails the date test: the root's times are 0.
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("\\", false, 0, 1, 100000, -1, -1, -1, false));
    EXPECT_TRUE(u_->Found.empty());
}

TEST_F(NtfsSearch, SizesInclusive) {
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("*.bin", false, 0, 0, 0, 1000, 1000, -1, false));
    EXPECT_EQ(Names(*u_), (std::vector<std::string>{"one.bin"}));
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("*.txt", false, 0, 0, 0, 0, 0, -1, false));
    EXPECT_EQ(Names(*u_), (std::vector<std::string>{"empty.txt"}));
    // SizeFrom -1 switches the test off whatever SizeTo is.
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("*.bin", false, 0, 0, 0, -1, 0, -1, false));
    EXPECT_GT(u_->Found.size(), 5u);
}

TEST_F(NtfsSearch, DeletedOnly) {
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("", false, 0, 0, 0, -1, -1, -1, true));
    std::multiset<std::string> expected;
    for (const auto& [path, m] : manifest_)
        if (m.deleted == "1") expected.insert(m.Name());
    // Placeholder folders count as deleted: the reused record's, and the
    // one of $Extend (record 11), whose children the table lists.
    expected.insert("[文件夹]" + std::to_string(manifest_.at("/Reused").record));
    expected.insert("[文件夹]11");
    EXPECT_EQ(NameSet(*u_), expected);
}

class FatSearch : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        vt::test::InstallProfile("[logical.E]\nimage=fat12.img\n[logical.F]\nimage=fat16.img\n");
        u_ = std::make_unique<TUndelete>();
        d_ = Open(*u_, 'E');
        ASSERT_NE(d_, nullptr);
    }
    TMidEntry* Entry(const std::string& name) {
        for (auto& e : d_->Entries)
            if (NameOf(*u_, e.get()) == name) return e.get();
        return nullptr;
    }
    bool Search(const std::string& masks, bool cs = false, std::int64_t key = -1) {
        u_->Found.clear();
        return u_->SearchEntries(masks, cs, 0, 0, 0, -1, -1, key, false);
    }
    std::unique_ptr<TUndelete> u_;
    TLogiDrive* d_ = nullptr;
};

TEST_F(FatSearch, MasksAndCase) {
    ASSERT_TRUE(Search("*.TXT"));
    const auto found = NameSet(*u_);
    EXPECT_EQ(found.count("Readme.txt"), 1u);
    EXPECT_EQ(found.count("Deleted long name.txt"), 1u);
    ASSERT_TRUE(Search("*.TXT", true));
    EXPECT_EQ(NameSet(*u_).count("Readme.txt"), 0u);
    ASSERT_TRUE(Search("*.dat,lower.txt"));
    EXPECT_EQ(NameSet(*u_).count("lower.txt"), 1u);
    EXPECT_EQ(NameSet(*u_).count("file number 7.dat"), 1u);
}

TEST_F(FatSearch, DeletedNameKeepsItsMark) {
    // GONE.TXT was deleted: its first byte is 0xE5.
    ASSERT_TRUE(Search("?one.txt"));
    ASSERT_EQ(u_->Found.size(), 1u);
    EXPECT_EQ(static_cast<const TMidEntry*>(u_->Found[0])->DirEntry.FileSize.get(), 300u);
    ASSERT_TRUE(Search("gone.txt"));
    EXPECT_TRUE(u_->Found.empty());
}

TEST_F(FatSearch, WholeDriveOnceAndFolderKeyPreOrder) {
    ASSERT_TRUE(Search(""));
    EXPECT_EQ(u_->Found.size(), d_->Entries.size());
    const std::set<const void*> distinct(u_->Found.begin(), u_->Found.end());
    EXPECT_EQ(distinct.size(), u_->Found.size());
    const TMidEntry* docs = Entry("Docs");
    ASSERT_NE(docs, nullptr);
    ASSERT_TRUE(Search("*", false, docs->DirEntry.FstClusLO.get()));
    const auto names = Names(*u_);
    ASSERT_GE(names.size(), 4u);
    // Sub, then what Sub holds, before Sub's next sibling.
    auto sub = std::find(names.begin(), names.end(), "Sub");
    ASSERT_NE(sub, names.end());
    EXPECT_EQ(*(sub + 1), "deep.bin");
    EXPECT_EQ(names.size(), 3u + 21u);
}

TEST_F(FatSearch, DatesSizesAndDeleted) {
    // mcopy kept the sources' time: 1 July 2023, 08:30.
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("*.txt", false, 1, 45108, 45109, -1, -1, -1, false));
    EXPECT_EQ(NameSet(*u_).count("Readme.txt"), 1u);
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("*.txt", false, 1, 45109, 45110, -1, -1, -1, false));
    EXPECT_TRUE(u_->Found.empty());
    // A date that does not convert passes the date test.
    Entry("lower.txt")->DirEntry.CrtDate.set(0x01A0);  // month 13
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("*.txt", false, 0, 45109, 45110, -1, -1, -1, false));
    EXPECT_EQ(Names(*u_), (std::vector<std::string>{"lower.txt"}));
    // Sizes: 0 to 100 takes both ends.
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("*.*", false, 0, 0, 0, 100, 100, -1, false));
    EXPECT_EQ(NameSet(*u_), (std::multiset<std::string>{"Readme.txt", "file number 10.dat"}));
    // Deleted only: deleted entries and folders whose contents are lost.
    TLogiDrive* f = Open(*u_, 'F');
    ASSERT_NE(f, nullptr);
    u_->Found.clear();
    ASSERT_TRUE(u_->SearchEntries("", false, 0, 0, 0, -1, -1, -1, true));
    bool lostFolder = false;
    for (const void* item : u_->Found) {
        const auto* e = static_cast<const TMidEntry*>(item);
        EXPECT_NE(e->Status, 0);
        lostFolder = lostFolder || e->Status == 2;
    }
    EXPECT_TRUE(lostFolder);
}

TEST_F(FatSearch, PreviewFromTheFirstCluster) {
    const TMidEntry* readme = Entry("Readme.txt");
    ASSERT_NE(readme, nullptr);
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(u_->ReadFileHead(readme, head));
    // All 2048 bytes from the first cluster on, as they lie on the volume.
    const auto image = vt::test::ReadWholeFile(vt::test::ImagePath("fat12.img"));
    const vt::ByteReader boot(image);
    const std::size_t dataStart = (boot.U16Or(0x0E) + boot.U8Or(0x10) * boot.U16Or(0x16) + boot.U16Or(0x11) / 16) * 512u;
    const std::size_t at = dataStart + (readme->DirEntry.FstClusLO.get() - 2u) * boot.U8Or(0x0D) * 512u;
    ASSERT_LE(at + 2048, image.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), image.begin() + static_cast<std::ptrdiff_t>(at)));
    EXPECT_EQ(std::string(head.begin(), head.begin() + 11), "README.TXT\n");
}

// ---- NTFS previews ----

TEST_F(NtfsSearch, PreviewOfResidentAndNonResidentFiles) {
    for (const char* path : {"/readme.txt", "/multi.bin", "/frag.bin", "/Documents/report.doc"}) {
        SCOPED_TRACE(path);
        const auto& m = manifest_.at(path);
        const tntfsfilerecord* r = nullptr;
        for (const auto& e : d_->NtfsEntries)
            if (e->RecordNo == m.record && e->RecordSector) r = e.get();
        ASSERT_NE(r, nullptr);
        std::array<std::uint8_t, 2048> head;
        head.fill(0xCC);
        ASSERT_TRUE(u_->ReadFileHead(r, head));
        auto content = vt::test::NtfsContent(m.content);
        if (std::string(path) == "/readme.txt") {
            // 300 bytes and 1748 zero bytes.
            content.resize(2048, 0);
            EXPECT_TRUE(std::equal(head.begin(), head.end(), content.begin()));
        } else {
            // The first run holds at least 4 sectors of these files; a file
            // shorter than 2048 bytes is followed by whatever its cluster
            // holds after it.
            const std::size_t n = std::min<std::size_t>(content.size(), head.size());
            EXPECT_TRUE(std::equal(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(n), content.begin()));
        }
    }
}

class NtfsPreview : public ::testing::Test {
protected:
    vt::test::TempDir dir_;
};

TEST_F(NtfsPreview, EmptyRunListAndSparseStart) {
    vt::test::NtfsTestVolume v(dir_.Path() + "/p.img", 8, 4, 32 + 256 + 64);
    v.TableRuns({{4, 16}});
    vt::test::RecordBuilder norun;
    norun.Resident(0x10, vt::test::StdInfoValue(1, 2, 3, 4));
    norun.Resident(0x30, vt::test::FileNameValue(5, u"norun.bin"));
    norun.NonResident(0x80, {0x00}, 4096, 100);
    v.Record(32 + 40, norun.Finish());
    vt::test::RecordBuilder sparse;
    sparse.Resident(0x10, vt::test::StdInfoValue(1, 2, 3, 4));
    sparse.Resident(0x30, vt::test::FileNameValue(5, u"hole.bin"));
    sparse.NonResident(0x80, vt::test::EncodeRuns({{0, 2}, {40, 1}}), 3 * 4096, 3 * 4096);
    v.Record(32 + 42, sparse.Finish());
    platform::Machine::Install(platform::Machine::FromProfileText(
        "[machine]\nhide_real_devices=1\n[logical.E]\nimage=p.img\n", dir_.Path(), false));
    TUndelete u;
    TLogiDrive* d = Open(u, 'E');
    ASSERT_NE(d, nullptr);
    const tntfsfilerecord *a = nullptr, *b = nullptr;
    for (const auto& e : d->NtfsEntries) {
        if (e->Name == "norun.bin") a = e.get();
        if (e->Name == "hole.bin") b = e.get();
    }
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::array<std::uint8_t, 2048> head{};
    EXPECT_FALSE(u.ReadFileHead(a, head));
    // A file that begins with a hole shows zeros, not the volume's first
    // sectors.
    head.fill(0xCC);
    ASSERT_TRUE(u.ReadFileHead(b, head));
    EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](std::uint8_t c) { return c == 0; }));
}

}  // namespace

namespace {

std::vector<std::uint8_t> ClusterBytes(const std::vector<std::uint8_t>& image, std::uint32_t cluster) {
    const vt::ByteReader boot(image);
    const std::size_t data = boot.U16Or(0x0E) + boot.U8Or(0x10) * static_cast<std::size_t>(boot.U32Or(0x24));
    const std::size_t at = (data + (cluster - 2u) * static_cast<std::size_t>(boot.U8Or(0x0D))) * 512;
    return {image.begin() + static_cast<std::ptrdiff_t>(at), image.begin() + static_cast<std::ptrdiff_t>(at + 2048)};
}

}  // namespace

TEST(Fat32Preview, ClusterAsRecordedWithBothWords) {
    vt::test::InstallProfile("[logical.E]\nimage=fat32.img\n");
    TUndelete u;
    TLogiDrive* d = Open(u, 'E');
    ASSERT_NE(d, nullptr);
    const auto image = vt::test::ReadWholeFile(vt::test::ImagePath("fat32.img"));
    const std::uint32_t lostCluster =
        static_cast<std::uint32_t>(std::stoul(vt::test::ReadTextFile(vt::test::ImagePath("fat32.lostcluster"))));
    TMidEntry* lost = nullptr;
    for (const auto& e : d->Entries)
        if (NameOf(u, e.get()) == "Lost") lost = e.get();
    ASSERT_NE(lost, nullptr);
    std::array<std::uint8_t, 2048> head{};
    // A deleted entry whose high word was cleared: the cluster its low word
    // alone names (no guess is made here).
    ASSERT_EQ(lost->DirEntry.FstClusHI.get(), 0);
    ASSERT_TRUE(u.ReadFileHead(lost, head));
    EXPECT_EQ(std::vector<std::uint8_t>(head.begin(), head.end()), ClusterBytes(image, lost->DirEntry.FstClusLO.get()));
    // With both words: the folder's own first cluster, whose first entry
    // is "." padded with blanks.
    lost->DirEntry.FstClusHI.set(static_cast<std::uint16_t>(lostCluster >> 16));
    ASSERT_TRUE(u.ReadFileHead(lost, head));
    EXPECT_EQ(std::vector<std::uint8_t>(head.begin(), head.end()), ClusterBytes(image, lostCluster));
    EXPECT_EQ(std::string(head.begin(), head.begin() + 11), ".          ");
}

// After a drive of unknown format was opened, the entries of the drive
// before it have no file system to be read with: no head comes back, and
// the buffer keeps what it held.
TEST(PreviewAfterAnUnknownDrive, ReadsNothing) {
    vt::test::InstallProfile("[logical.E]\nimage=fat16.img\n[logical.F]\nimage=disk1.img\n");
    platform::MessageBoxRecorder boxes;  // F: - Unrecognized drive format.
    TUndelete u;
    TLogiDrive* e = Open(u, 'E');
    ASSERT_NE(e, nullptr);
    TMidEntry* file = nullptr;
    for (const auto& entry : e->Entries)
        if (IsFatFile(entry->DirEntry) && entry->DirEntry.FileSize.get() > 0) file = entry.get();
    ASSERT_NE(file, nullptr);
    std::array<std::uint8_t, 2048> head{};
    head.fill(0x5A);
    EXPECT_EQ(Open(u, 'F'), nullptr);
    ASSERT_EQ(u.Current->FsType, vt::fsUnknown);
    EXPECT_FALSE(u.ReadFileHead(file, head));
    EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

namespace {

// Search results point into the drive's list: a re-scan frees that list,
// so it must take the results with it.
TEST_F(FatSearch, ARescanDropsTheSearchResults) {
    ASSERT_TRUE(Search("*.txt"));
    ASSERT_FALSE(u_->Found.empty());
    ASSERT_TRUE(u_->OpenDrive(d_, true, nullptr, nullptr));
    EXPECT_TRUE(u_->Found.empty());
}

}  // namespace
