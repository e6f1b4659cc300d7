// The standard engine's NTFS scan: listings of volumes that mkntfs and
// libntfs-3g made (compared with the builder's manifest), and the batch,
// extent, numbering and linking rules on volumes written byte by byte.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "MachineProfile.h"
#include "NtfsManifest.h"
#include "NtfsTestVolume.h"
#include "Recorders.h"
#include "TestSupport.h"

using vt::test::NtfsManifestEntry;
using vt::test::NtfsTestVolume;
using vt::test::SimpleRecord;

namespace {

TLogiDrive* DriveOf(TUndelete& u, char letter) {
    for (auto& d : u.Drives)
        if (d->Name[0] == letter) return d.get();
    return nullptr;
}

const tntfsfilerecord* ByNumber(const TLogiDrive& d, std::int64_t no) {
    for (const auto& r : d.NtfsEntries)
        if (r->RecordNo == no && r->RecordSector != 0) return r.get();
    return nullptr;
}

const tntfsfilerecord* ByName(const TLogiDrive& d, const std::string& name) {
    for (const auto& r : d.NtfsEntries)
        if (r->Name == name) return r.get();
    return nullptr;
}

std::string PathOf(const tntfsfilerecord* r) {
    std::string path;
    std::set<const tntfsfilerecord*> seen;
    for (; r && r->Name != "\\" && seen.insert(r).second; r = r->Parent) path = "/" + r->Name + path;
    return path;
}

class ScanNtfsImage : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        vt::test::InstallProfile("[logical.E]\nimage=ntfs-" + std::to_string(GetParam()) + ".img\n");
        u_ = std::make_unique<TUndelete>();
        drive_ = DriveOf(*u_, 'E');
        ASSERT_NE(drive_, nullptr);
        ASSERT_TRUE(u_->OpenDrive(drive_, false, &bar_, nullptr));
        manifest_ = vt::test::ReadNtfsManifest("ntfs-" + std::to_string(GetParam()) + ".manifest");
        ASSERT_FALSE(manifest_.empty());
    }
    std::unique_ptr<TUndelete> u_;
    TLogiDrive* drive_ = nullptr;
    platform::RecordingProgressBar bar_;
    std::vector<NtfsManifestEntry> manifest_;
};

// The entry of a manifest line: its name, parent, state, size, times and,
// when present, its place below the root.
const tntfsfilerecord* ExpectListedAsMade(const TLogiDrive& d, const NtfsManifestEntry& m) {
    SCOPED_TRACE(m.path);
    const tntfsfilerecord* r = ByNumber(d, m.record);
    EXPECT_NE(r, nullptr);
    if (!r) return nullptr;
    EXPECT_EQ(r->Name, m.Name());
    EXPECT_EQ(FileRefToInt64(r->FileName.ParentRef), m.parent);
    EXPECT_EQ((r->RecordFlags & 1) == 0, m.deleted == "1");
    EXPECT_EQ(IsNtfsFile(r), !m.folder);
    if (!m.folder) {
        EXPECT_EQ(r->DataSize, m.size);
    }
    EXPECT_EQ(r->FileName.CreationTime.get(), m.ctime);
    EXPECT_EQ(r->FileName.ModificationTime.get(), m.mtime);
    EXPECT_EQ(r->FileName.AccessTime.get(), m.atime);
    // Every present record hangs below the root by its own path.
    if (m.deleted == "0") {
        EXPECT_EQ(PathOf(r), m.path);
    }
    return r;
}

TEST_P(ScanNtfsImage, ListsWhatTheBuilderMade) {
    EXPECT_EQ(drive_->FsType, vt::fsNtfs);
    EXPECT_FALSE(u_->Aborted);
    for (const NtfsManifestEntry& m : manifest_) {
        if (m.deleted == "reused") continue;
        const tntfsfilerecord* r = ExpectListedAsMade(*drive_, m);
        // A resident $DATA is given one cluster.
        if (r && m.path == "/readme.txt") {
            EXPECT_EQ(r->AllocatedSize, GetParam());
        }
    }
}

TEST_P(ScanNtfsImage, RootFirstAndTableFilesAbsent) {
    const auto& list = drive_->NtfsEntries;
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0]->Name, "\\");
    EXPECT_EQ(list[0]->RecordNo, 5);
    EXPECT_EQ(list[0]->RecordFlags, 1);
    EXPECT_EQ(list[0]->Parent, nullptr);
    EXPECT_FALSE(IsNtfsFile(list[0].get()));
    for (std::size_t i = 1; i < list.size(); ++i) {
        if (list[i]->RecordSector == 0) continue;  // placeholders
        EXPECT_GT(list[i]->RecordNo, 15) << list[i]->Name;
    }
    // Sorted by parent and name after the root.
    for (std::size_t i = 2; i < list.size(); ++i) EXPECT_LE(CompareNtfsRecords(list[i - 1].get(), list[i].get()), 0);
}

TEST_P(ScanNtfsImage, PlaceholderForTheReusedFolder) {
    const NtfsManifestEntry* reused = nullptr;
    for (const auto& m : manifest_)
        if (m.deleted == "reused") reused = &m;
    ASSERT_NE(reused, nullptr);
    const std::string name = "[文件夹]" + std::to_string(reused->record);
    const tntfsfilerecord* folder = ByName(*drive_, name);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->RecordNo, reused->record);
    EXPECT_EQ(folder->RecordFlags, 0);
    EXPECT_EQ(FileRefToInt64(folder->FileName.ParentRef), 0);
    EXPECT_FALSE(IsNtfsFile(folder));
    EXPECT_EQ(folder->Parent, nullptr);
    EXPECT_EQ(folder->FileName.ModificationTime.get(), 0x01C2B3E89E384F50ull);
    // The record itself now holds the new file, which keeps its own entry.
    const tntfsfilerecord* file = ByNumber(*drive_, reused->record);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Name, "newfile.txt");
    EXPECT_TRUE(IsNtfsFile(file));
    for (const auto& m : manifest_) {
        if (m.parent != reused->record) continue;
        const tntfsfilerecord* child = ByNumber(*drive_, m.record);
        ASSERT_NE(child, nullptr) << m.path;
        EXPECT_EQ(child->Parent, folder) << m.path;
    }
}

TEST_P(ScanNtfsImage, DeletedTreeHangsTogether) {
    const tntfsfilerecord* c = ByName(*drive_, "c.txt");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(PathOf(c), "/OldTree/Sub/c.txt");
    EXPECT_EQ(c->RecordFlags & 1, 0);
    EXPECT_EQ(c->Parent->RecordFlags & 1, 0);
}

TEST_P(ScanNtfsImage, ProgressOncePerBatchThenHidden) {
    // The tables of these volumes fit in one batch per extent.
    ASSERT_FALSE(bar_.positions.empty());
    EXPECT_EQ(bar_.positions.front(), 0);
    EXPECT_EQ(bar_.positions.size(), u_->MftRuns.size() + 1);
    EXPECT_EQ(bar_.visibility, (std::vector<bool>{true, false}));
    EXPECT_FALSE(bar_.Visible());
}

TEST_P(ScanNtfsImage, TableOfSeveralExtents) {
    EXPECT_GE(u_->MftRuns.size(), 3u);
    ASSERT_EQ(u_->MftRunCache.size(), 1u);
    EXPECT_EQ(u_->MftRunCache[0].Drive, 'E');
}

TEST_P(ScanNtfsImage, RescanDropsTheOldSearchResults) {
    ASSERT_TRUE(u_->SearchEntries("*", false, 0, 0, 0, -1, -1, -1, false));
    ASSERT_FALSE(u_->Found.empty());
    const std::size_t count = drive_->NtfsEntries.size();
    ASSERT_TRUE(u_->OpenDrive(drive_, true, nullptr, nullptr));
    EXPECT_TRUE(u_->Found.empty());
    EXPECT_EQ(drive_->NtfsEntries.size(), count);
}

TEST_P(ScanNtfsImage, Windows9xReadsTheSameListing) {
    std::vector<std::pair<std::int64_t, std::string>> nt;
    for (const auto& r : drive_->NtfsEntries) nt.emplace_back(r->RecordNo, r->Name);
    vt::test::InstallProfile("[machine]\nfamily=9x\nhide_real_devices=1\n[logical.E]\nimage=ntfs-" +
                             std::to_string(GetParam()) + ".img\n");
    DiskUtils::Initialize();  // the read path is chosen from the version read at start
    TUndelete u;
    TLogiDrive* d = DriveOf(u, 'E');
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    std::vector<std::pair<std::int64_t, std::string>> w9x;
    for (const auto& r : d->NtfsEntries) w9x.emplace_back(r->RecordNo, r->Name);
    EXPECT_EQ(w9x, nt);
    vt::test::InstallProfile("[logical.E]\nimage=ntfs-512.img\n");
    DiskUtils::Initialize();
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, ScanNtfsImage, ::testing::Values(512, 1024, 2048, 4096));

// libntfs-3g moves a folder's $FILE_NAME out to an extension record when
// the folder's own record runs out of room, keeping an $ATTRIBUTE_LIST in
// the base; the files of the folder name the base as their parent.
TEST(ScanNtfsNameInExtension, EntriesStandForTheirBaseRecords) {
    vt::test::InstallProfile("[logical.E]\nimage=ntfs-bigdir.img\n");
    TUndelete u;
    TLogiDrive* d = DriveOf(u, 'E');
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    const auto manifest = vt::test::ReadNtfsManifest("ntfs-bigdir.manifest");
    ASSERT_GT(manifest.size(), 600u);
    std::int64_t big = -1;
    for (const NtfsManifestEntry& m : manifest) {
        ExpectListedAsMade(*d, m);
        // No placeholder stands in for a folder that is there.
        EXPECT_EQ(ByName(*d, "[文件夹]" + std::to_string(m.record)), nullptr) << m.path;
        if (m.path == "/Big") big = m.record;
    }
    // One entry per record, the folder's children all in its range, and
    // the list sorted after the root.
    std::map<std::int64_t, int> perRecord;
    for (const auto& r : d->NtfsEntries) ++perRecord[r->RecordNo];
    for (const auto& [no, count] : perRecord) EXPECT_EQ(count, 1) << no;
    std::int32_t first = -1, last = -1;
    ASSERT_TRUE(TUndelete::FindNtfsChildRange(d->NtfsEntries, big, first, last));
    EXPECT_EQ(last - first + 1, 601);
    for (std::size_t i = 2; i < d->NtfsEntries.size(); ++i)
        EXPECT_LE(CompareNtfsRecords(d->NtfsEntries[i - 1].get(), d->NtfsEntries[i].get()), 0);
}

// ---- volumes written byte by byte ----

class SyntheticVolume : public ::testing::Test {
protected:
    std::string Image(const std::string& name) { return dir_.Path() + "/" + name; }
    void Install(const std::string& image, const std::string& extra = "") {
        platform::Machine::Install(platform::Machine::FromProfileText(
            "[machine]\nhide_real_devices=1\n[logical.E]\nimage=" + image + "\n" + extra, dir_.Path(), false));
        u_ = std::make_unique<TUndelete>();
        drive_ = DriveOf(*u_, 'E');
    }
    vt::test::TempDir dir_;
    std::unique_ptr<TUndelete> u_;
    TLogiDrive* drive_ = nullptr;
};

// A table of 10,000 records in one extent at cluster 4 (8 sectors per
// cluster): records at chosen numbers, the rest zero.
void TenThousandRecords(NtfsTestVolume& v, const std::map<std::int64_t, std::vector<std::uint8_t>>& records) {
    v.TableRuns({{4, 2500}});
    for (const auto& [no, rec] : records) v.Record(32 + 2 * no, rec);
}

TEST_F(SyntheticVolume, BatchesMoveTheProgress) {
    NtfsTestVolume v(Image("big.img"), 8, 4, 32 + 20000 + 64);
    TenThousandRecords(v, {{100, SimpleRecord(u"a.txt", 5)}, {9999, SimpleRecord(u"last.txt", 5)}});
    Install("big.img");
    platform::RecordingProgressBar bar;
    ASSERT_TRUE(u_->OpenDrive(drive_, false, &bar, nullptr));
    // 20 batches, T = 20: the position after batch n is n / 21 x 100.
    ASSERT_EQ(bar.positions.size(), 21u);
    EXPECT_EQ(bar.positions[0], 0);
    EXPECT_EQ(bar.positions[1], 5);
    EXPECT_EQ(bar.positions[20], 95);
    ASSERT_NE(ByName(*drive_, "last.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "last.txt")->RecordNo, 9999);
    EXPECT_EQ(ByName(*drive_, "last.txt")->RecordSector, 32 + 2 * 9999);
}

namespace {

// Presses Stop when the first batch moves the progress bar.
class StoppingBar : public platform::RecordingProgressBar {
public:
    explicit StoppingBar(TUndelete*& u) : u_(u) {}
    void SetPosition(int position) override {
        RecordingProgressBar::SetPosition(position);
        if (position > 0) u_->Stop();
    }

private:
    TUndelete*& u_;
};

}  // namespace

TEST_F(SyntheticVolume, StopEndsBetweenBatches) {
    NtfsTestVolume v(Image("big.img"), 8, 4, 32 + 20000 + 64);
    TenThousandRecords(v, {{100, SimpleRecord(u"first.txt", 40)}, {600, SimpleRecord(u"second.txt", 5)}});
    Install("big.img");
    TUndelete* u = u_.get();
    StoppingBar bar(u);
    ASSERT_TRUE(u_->OpenDrive(drive_, false, &bar, nullptr));
    EXPECT_TRUE(u_->Aborted);
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 5}));
    // The first batch's record, the placeholder of its missing parent and
    // the root, sorted and linked.
    ASSERT_EQ(drive_->NtfsEntries.size(), 3u);
    EXPECT_EQ(drive_->NtfsEntries[0]->Name, "\\");
    EXPECT_EQ(drive_->NtfsEntries[1]->Name, "[文件夹]40");
    EXPECT_EQ(drive_->NtfsEntries[2]->Name, "first.txt");
    EXPECT_EQ(drive_->NtfsEntries[2]->Parent, drive_->NtfsEntries[1].get());
    EXPECT_EQ(ByName(*drive_, "second.txt"), nullptr);
}

TEST_F(SyntheticVolume, UnreadableBatchKeepsLaterNumbers) {
    NtfsTestVolume v(Image("big.img"), 8, 4, 32 + 20000 + 64);
    TenThousandRecords(v, {{100, SimpleRecord(u"a.txt", 5)},
                           {533, SimpleRecord(u"before.txt", 5)},
                           {535, SimpleRecord(u"lost.txt", 5)},
                           {537, SimpleRecord(u"after.txt", 5)},
                           {1100, SimpleRecord(u"later.txt", 5)}});
    // In the second batch (sectors 32 + 1000 to 32 + 1999) the sectors of
    // records 534 to 536.
    Install("big.img", "unreadable=1100-1105\n");
    platform::MessageBoxRecorder boxes;
    ASSERT_TRUE(u_->OpenDrive(drive_, false, nullptr, nullptr));
    EXPECT_EQ(ByName(*drive_, "lost.txt"), nullptr);
    ASSERT_NE(ByName(*drive_, "later.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "later.txt")->RecordNo, 1100);
    EXPECT_EQ(ByName(*drive_, "later.txt")->RecordSector, 32 + 2200);
    EXPECT_EQ(ByName(*drive_, "a.txt")->RecordNo, 100);
    // The batch was read again in pieces: the records around the damage
    // are kept, the three that do not read are counted.
    ASSERT_NE(ByName(*drive_, "before.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "before.txt")->RecordNo, 533);
    ASSERT_NE(ByName(*drive_, "after.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "after.txt")->RecordNo, 537);
    EXPECT_EQ(u_->UnreadableRecords, 3u);
    EXPECT_EQ(u_->DamagedRecords, 0u);
    // One read-error box of the NT family, for the failed batch.
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_NE(boxes.calls[0].text.find("Error when reading data:"), std::string::npos);
}

// The table's run starts inside the volume and claims clusters past its
// end (a damaged length): the records up to the end are listed, and no
// sector past it is read.
TEST_F(SyntheticVolume, TableRunPastTheVolumeEndIsCutThere) {
    // 254 clusters of 8 sectors; the run claims clusters 4 to 303.
    NtfsTestVolume v(Image("past.img"), 8, 4, 254 * 8);
    v.TableRuns({{4, 300}});
    v.Record(32 + 2 * 900, SimpleRecord(u"near-end.txt", 5));
    Install("past.img");
    platform::MessageBoxRecorder boxes;
    ASSERT_TRUE(u_->OpenDrive(drive_, false, nullptr, nullptr));
    ASSERT_NE(ByName(*drive_, "near-end.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "near-end.txt")->RecordNo, 900);
    EXPECT_EQ(u_->MftRuns, (TRunTable{{32, 250 * 8}}));
    EXPECT_EQ(u_->UnreadableRecords, 0u);
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(SyntheticVolume, RecordAcrossTwoOneSectorExtents) {
    // One-sector clusters: the first extent has 33 sectors, so record 16
    // starts in its last sector and ends in the first sector of the second
    // extent, whose next sector starts record 17.
    NtfsTestVolume v(Image("odd.img"), 1, 100, 400);
    v.TableRuns({{100, 33}, {200, 31}});
    const auto straddling = SimpleRecord(u"straddle.txt", 5);
    v.Record(132, straddling);
    v.Bytes(200 * 512, std::vector<std::uint8_t>(straddling.begin() + 512, straddling.end()));
    v.Record(201, SimpleRecord(u"next.txt", 5));
    Install("odd.img");
    ASSERT_TRUE(u_->OpenDrive(drive_, false, nullptr, nullptr));
    EXPECT_EQ(u_->MftRuns, (TRunTable{{100, 33}, {200, 31}}));
    ASSERT_NE(ByName(*drive_, "straddle.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "straddle.txt")->RecordNo, 16);
    ASSERT_NE(ByName(*drive_, "next.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "next.txt")->RecordNo, 17);
    EXPECT_EQ(ByName(*drive_, "next.txt")->RecordSector, 201);
}

TEST_F(SyntheticVolume, TableWithoutDataListsTheRootOnly) {
    NtfsTestVolume v(Image("empty.img"), 8, 4, 256);
    Install("empty.img");
    platform::RecordingProgressBar bar;
    ASSERT_TRUE(u_->OpenDrive(drive_, false, &bar, nullptr));
    ASSERT_EQ(drive_->NtfsEntries.size(), 1u);
    EXPECT_EQ(drive_->NtfsEntries[0]->Name, "\\");
}

TEST_F(SyntheticVolume, ParentThatIsAFileGetsAPlaceholder) {
    NtfsTestVolume v(Image("p.img"), 8, 4, 32 + 256);
    v.TableRuns({{4, 16}});
    v.Record(32 + 2 * 20, SimpleRecord(u"plain.txt", 5));
    v.Record(32 + 2 * 21, SimpleRecord(u"child.txt", 20));
    v.Record(32 + 2 * 22, SimpleRecord(u"in root", 5, true));
    v.Record(32 + 2 * 23, SimpleRecord(u"under system", 11));
    Install("p.img");
    ASSERT_TRUE(u_->OpenDrive(drive_, false, nullptr, nullptr));
    EXPECT_EQ(u_->OrphanParents, (std::vector<std::uint32_t>{20, 11}));
    ASSERT_NE(ByName(*drive_, "[文件夹]20"), nullptr);
    ASSERT_NE(ByName(*drive_, "[文件夹]11"), nullptr);
    EXPECT_EQ(ByName(*drive_, "child.txt")->Parent, ByName(*drive_, "[文件夹]20"));
    EXPECT_EQ(ByName(*drive_, "under system")->Parent, ByName(*drive_, "[文件夹]11"));
    EXPECT_EQ(ByName(*drive_, "plain.txt")->Parent, drive_->NtfsEntries[0].get());
    EXPECT_EQ(ByName(*drive_, "in root")->Parent, drive_->NtfsEntries[0].get());
}

// The steps after the record loop give the window its turns too: while the
// missing parents are collected, while the list is sorted (a handler finds
// it empty then, never half moved) and while it is linked. A pump that runs
// on every call looks at the list each time.
TEST_F(SyntheticVolume, StepsAfterTheRecordsPump) {
    NtfsTestVolume v(Image("big.img"), 8, 4, 32 + 20000 + 64);
    std::map<std::int64_t, std::vector<std::uint8_t>> records;
    for (int i = 0; i < 3000; ++i)
        records[16 + i] = SimpleRecord(u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                                           std::u16string(1, static_cast<char16_t>(u'a' + i / 26 % 26)) +
                                           std::u16string(1, static_cast<char16_t>(u'a' + i / 676)),
                                       20000 + i % 300);
    TenThousandRecords(v, records);
    Install("big.img");
    int collecting = 0, sorting = 0, linking = 0, holes = 0;
    TLogiDrive* d = drive_;
    TUndelete* u = u_.get();
    platform::SetMessagePump(
        [&] {
            const auto& list = d->NtfsEntries;
            for (const auto& r : list) holes += r == nullptr;
            if (list.empty() && !u->OrphanParents.empty()) ++sorting;
            else if (!list.empty() && list.front()->Name == "\\") ++linking;
            else if (list.size() == 3000 && !u->OrphanParents.empty()) ++collecting;
        },
        std::chrono::milliseconds(0));
    const bool opened = u_->OpenDrive(drive_, false, nullptr, nullptr);
    platform::SetMessagePump({});
    ASSERT_TRUE(opened);
    EXPECT_EQ(holes, 0);
    EXPECT_GT(collecting, 0);
    EXPECT_GT(sorting, 0);
    EXPECT_GT(linking, 0);
    // The listing itself: the root, 300 placeholders, 3000 records in order.
    ASSERT_EQ(drive_->NtfsEntries.size(), 3301u);
    EXPECT_EQ(drive_->NtfsEntries[0]->Name, "\\");
    for (std::size_t i = 2; i < drive_->NtfsEntries.size(); ++i)
        EXPECT_LT(CompareNtfsRecords(drive_->NtfsEntries[i - 1].get(), drive_->NtfsEntries[i].get()), 0);
    // The placeholders are the top level with the root; every record hangs below one.
    for (std::size_t i = 1; i < drive_->NtfsEntries.size(); ++i)
        EXPECT_EQ(drive_->NtfsEntries[i]->Parent == nullptr, i <= 300) << i;
}

TEST_F(SyntheticVolume, TableBeyond32BitSectors) {
    // A volume of 2^32 + 2^20 sectors whose table lies past sector 2^32.
    const std::int64_t mftCluster = (std::int64_t{1} << 32) / 8 + 64;
    NtfsTestVolume v(Image("huge.img"), 8, mftCluster, (std::int64_t{1} << 32) + (1 << 20));
    v.TableRuns({{mftCluster, 8}});
    const std::int64_t first = mftCluster * 8;
    v.Record(first + 2 * 20, SimpleRecord(u"far.txt", 5, false, 1, {'f', 'a', 'r'}));
    Install("huge.img");
    ASSERT_TRUE(u_->OpenDrive(drive_, false, nullptr, nullptr));
    const tntfsfilerecord* far = ByName(*drive_, "far.txt");
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(far->RecordSector, first + 40);
    EXPECT_GT(far->RecordSector, std::int64_t{1} << 32);
    EXPECT_EQ(u_->MftPosToSector(20), first + 40);
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(u_->ReadFileHead(far, head));
    EXPECT_EQ(head[0], 'f');
    EXPECT_EQ(head[2], 'r');
    EXPECT_EQ(head[3], 0);
}

namespace {

// An entry for the attribute of a type, with its instance, in record ref.
std::vector<std::uint8_t> ListEntry(std::uint32_t type, std::uint64_t ref, std::uint64_t vcn = 0,
                                    std::uint16_t id = 0) {
    std::vector<std::uint8_t> e(32, 0);
    vt::test::PutLe(e, 0, type, 4);
    vt::test::PutLe(e, 4, 32, 2);
    vt::test::PutLe(e, 8, vcn, 8);
    vt::test::PutLe(e, 0x10, ref, 8);
    vt::test::PutLe(e, 0x18, id, 2);
    return e;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An extension record of record base holding one $DATA extent (instance 0).
std::vector<std::uint8_t> DataExtent(const std::vector<vt::test::Run>& runs, std::uint64_t vcn, std::uint64_t real,
                                     std::uint64_t base) {
    vt::test::RecordBuilder rb;
    vt::test::PutLe(rb.Bytes(), 0x20, base, 8);
    rb.NonResident(0x80, vt::test::EncodeRuns(runs), 8192, real, u"", 0, vcn);
    return rb.Finish();
}

}  // namespace

TEST_F(SyntheticVolume, AttributeListsOfTheTableAndOfAFile) {
    // The table in two extents, the second one named in an extension record
    // (17) that its attribute list points to; a file whose $DATA lies in
    // two extension records (26, 27) listed in its resident list.
    NtfsTestVolume v(Image("list.img"), 8, 4, 4096);
    vt::test::RecordBuilder mft;
    mft.Resident(0x10, vt::test::StdInfoValue(0, 0, 0, 0, 6));
    mft.Resident(0x20, Concat({ListEntry(0x10, 0), ListEntry(0x30, 0, 0, 2), ListEntry(0x80, 0, 0, 3), ListEntry(0x80, 17, 6)}));
    mft.Resident(0x30, vt::test::FileNameValue(5, u"$MFT", 6));
    mft.NonResident(0x80, vt::test::EncodeRuns({{4, 6}}), 40 * 1024, 40 * 1024);
    v.Record(32, mft.Finish());
    v.Record(32 + 2 * 17, DataExtent({{100, 4}}, 6, 0, 0));
    v.Record(32 + 2 * 20, SimpleRecord(u"first-extent.txt", 5));
    // Every record of a table is formatted; the extent correction looks
    // for the first one's "FILE".
    v.Record(800, vt::test::RecordBuilder(0).Finish());
    v.Record(800 + 2 * (30 - 24), SimpleRecord(u"second-extent.txt", 5));
    vt::test::RecordBuilder file;
    file.Resident(0x10, vt::test::StdInfoValue(1, 2, 3, 4));
    file.Resident(0x20, Concat({ListEntry(0x10, 25), ListEntry(0x30, 25), ListEntry(0x80, 26), ListEntry(0x80, 27, 1)}));
    file.Resident(0x30, vt::test::FileNameValue(5, u"listed.bin"));
    v.Record(800 + 2 * (25 - 24), file.Finish());
    v.Record(800 + 2 * (26 - 24), DataExtent({{200, 1}}, 0, 5000, 25));
    v.Record(800 + 2 * (27 - 24), DataExtent({{300, 1}}, 1, 0, 25));
    v.Bytes(200 * 8 * 512, {'H', 'E', 'L', 'L', 'O'});
    Install("list.img");
    ASSERT_TRUE(u_->OpenDrive(drive_, false, nullptr, nullptr));
    EXPECT_EQ(u_->MftRuns, (TRunTable{{32, 48}, {800, 32}}));
    ASSERT_NE(ByName(*drive_, "first-extent.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "first-extent.txt")->RecordNo, 20);
    ASSERT_NE(ByName(*drive_, "second-extent.txt"), nullptr);
    EXPECT_EQ(ByName(*drive_, "second-extent.txt")->RecordNo, 30);
    EXPECT_EQ(ByName(*drive_, "second-extent.txt")->RecordSector, 812);
    const tntfsfilerecord* listed = ByName(*drive_, "listed.bin");
    ASSERT_NE(listed, nullptr);
    // Sizes from the first $DATA entry's record.
    EXPECT_EQ(listed->DataSize, 5000);
    EXPECT_EQ(listed->AllocatedSize, 8192);
    // Both extents' runs, in list order.
    TAttribute attr;
    ASSERT_TRUE(u_->ReadMftAttribute(25, 0x20, listed->RecordSector, attr));
    trunlist runs;
    ASSERT_TRUE(u_->ReadAttributeListRuns(attr.Data, runs, true, attr, 25));
    EXPECT_EQ(runs, (trunlist{{200, 1}, {300, 1}}));
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(u_->ReadFileHead(listed, head));
    EXPECT_EQ(std::string(head.begin(), head.begin() + 5), "HELLO");
    // A list shorter than one entry gives False.
    EXPECT_FALSE(u_->ReadAttributeListRuns(std::vector<std::uint8_t>(25, 0), runs, true, attr, 25));
}

// ---- lookups and linking on lists made by hand ----

namespace {

TNtfsRecordOwner Rec(std::int64_t no, std::uint64_t parent, const std::string& name, bool folder) {
    TNtfsRecordOwner r = NewNtfsRecord();
    r->RecordNo = no;
    r->FileName.ParentRef.set(parent);
    r->Name = name;
    r->FileName.FileAttributes.set(folder ? 0x10000000u : 0x20u);
    r->RecordFlags = 1;
    return r;
}

}  // namespace

TEST(FindRecordByNumber, FindsEveryRecord) {
    TNtfsRecordList list;
    std::int32_t index = -7;
    EXPECT_FALSE(TUndelete::FindRecordByNumber(list, 1, index));
    list.push_back(Rec(16, 5, "a", false));
    list.push_back(Rec(40, 5, "b", false));
    for (std::int32_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(TUndelete::FindRecordByNumber(list, list[i]->RecordNo, index));
        EXPECT_EQ(index, i);
    }
    for (std::int64_t no = 41; no < 60; ++no) list.push_back(Rec(no, 5, "c", false));
    ASSERT_TRUE(TUndelete::FindRecordByNumber(list, 16, index));
    EXPECT_EQ(index, 0);
    ASSERT_TRUE(TUndelete::FindRecordByNumber(list, 59, index));
    EXPECT_EQ(index, static_cast<std::int32_t>(list.size()) - 1);
    ASSERT_TRUE(TUndelete::FindRecordByNumber(list, 47, index));
    EXPECT_EQ(list[index]->RecordNo, 47);
    EXPECT_FALSE(TUndelete::FindRecordByNumber(list, 17, index));
    EXPECT_FALSE(TUndelete::FindRecordByNumber(list, 99, index));
}

TEST(LinkNtfsParents, CyclesEndTheDescent) {
    vt::test::InstallProfile("[logical.E]\nimage=ntfs-512.img\n");
    TUndelete u;
    TLogiDrive* d = DriveOf(u, 'E');
    ASSERT_NE(d, nullptr);
    u.Current = d;
    d->FsType = vt::fsNtfs;
    auto& list = d->NtfsEntries;
    // A placeholder numbered 0 is its own child under key 0; folders 30
    // and 31 point at each other below the root.
    list.push_back(Rec(0, 0, "[文件夹]0", true));
    list.push_back(Rec(5, 0, "\\", true));
    list.push_back(Rec(31, 5, "loop-a", true));
    list.push_back(Rec(32, 30, "under-a", false));
    list.push_back(Rec(30, 31, "loop-b", true));
    list.push_back(Rec(33, 31, "under-b", false));
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return CompareNtfsRecords(a.get(), b.get()) < 0;
    });
    u.LinkNtfsParents(nullptr);
    EXPECT_EQ(ByName(*d, "loop-a")->Parent, ByName(*d, "\\"));
    EXPECT_EQ(ByName(*d, "loop-b")->Parent, ByName(*d, "loop-a"));
    EXPECT_EQ(ByName(*d, "under-a")->Parent, ByName(*d, "loop-b"));
    EXPECT_EQ(ByName(*d, "under-b")->Parent, ByName(*d, "loop-a"));
    EXPECT_EQ(ByName(*d, "[文件夹]0")->Parent, nullptr);
    // The search's descent ends on the same cycles: each entry once.
    ASSERT_TRUE(u.SearchEntries("", false, 0, 0, 0, -1, -1, 0, false));
    EXPECT_EQ(u.Found.size(), list.size());
    const std::set<void*> distinct(u.Found.begin(), u.Found.end());
    EXPECT_EQ(distinct.size(), list.size());
}

TEST(MftPosToSector, UsesTheTableOfTheDriveBeingRead) {
    vt::test::InstallProfile("[logical.E]\nimage=ntfs-512.img\n[logical.F]\nimage=ntfs-4096.img\n");
    TUndelete u;
    TLogiDrive* e = DriveOf(u, 'E');
    TLogiDrive* f = DriveOf(u, 'F');
    ASSERT_TRUE(u.OpenDrive(e, false, nullptr, nullptr));
    const TRunTable eRuns = u.MftRuns;
    const std::int64_t eSector = u.MftPosToSector(100);
    ASSERT_TRUE(u.OpenDrive(f, false, nullptr, nullptr));
    EXPECT_NE(u.MftPosToSector(100), eSector);
    // Back to E without a re-scan: E's table, not the one scanned last.
    ASSERT_TRUE(u.OpenDrive(e, false, nullptr, nullptr));
    EXPECT_NE(u.MftRuns, eRuns);
    EXPECT_EQ(u.MftPosToSector(100), eSector);
    // And a file beyond E's first extent reads its own bytes.
    const auto manifest = vt::test::ReadNtfsManifest("ntfs-512.manifest");
    for (const auto& m : manifest) {
        if (m.path != "/attrlist.bin") continue;
        const tntfsfilerecord* r = ByNumber(*e, m.record);
        ASSERT_NE(r, nullptr);
        std::array<std::uint8_t, 2048> head{};
        ASSERT_TRUE(u.ReadFileHead(r, head));
        const auto content = vt::test::NtfsContent(m.content);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), content.begin()));
    }
}

}  // namespace
