// The advanced engine's preview, child ranges, search and recovery, on
// volumes and disks that real tools built; recovered files are compared
// byte for byte with what the fixture scripts wrote.
#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "DataStruc.h"
#include "FatNamesManifest.h"
#include "LinkTraps.h"
#include "NtfsManifest.h"
#include "Recorders.h"
#include "TestSupport.h"
#include "filetime.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using vt::test::NtfsManifestEntry;

const std::string kFailed = " - 恢复失败";
const std::string kShortWrite = " - 无法写入目录驱动器，恢复失败。";
const std::string kStopped = " - 恢复进程被用户中止";

// The fixture's file contents.
Bytes Original(const std::string& name, std::size_t size) { return vt::test::YesContent(name, size); }

// Every file under a folder by its path relative to it, with its contents.
std::map<std::string, Bytes> Tree(const std::string& root) {
    std::map<std::string, Bytes> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory()) out[rel + "/"] = {};
        else out[rel] = vt::test::ReadWholeFile(e.path().string());
    }
    return out;
}

// The drive of an image attached as logical drive E, scanned and listed.
class ScannedVolume {
public:
    explicit ScannedVolume(const std::string& image, const std::string& extra = "") {
        vt::test::InstallProfile("[logical.E]\nimage=" + image + "\n" + extra);
        TDriveGeometry g;
        g.DriveNo = -'E';
        drive = std::make_unique<TPhysicalDrive>(g);
        node = drive->Partitions[0].get();
        platform::RecordingProgressBar bar;
        EXPECT_TRUE(drive->ScanPartition(node, &bar));
        drive->BuildFatList(&bar);
        drive->BuildNtfsList(&bar);
    }
    std::unique_ptr<TPhysicalDrive> drive;
    TPartiEntry* node = nullptr;
};

class AdvRecoverTest : public ::testing::Test {
protected:
    void SetUp() override { EventLogView = &log; }
    void TearDown() override {
        EventLogView = nullptr;
        platform::SetMessagePump({});
    }
    std::vector<std::pair<std::string, int>> Rows() const {
        std::vector<std::pair<std::string, int>> r;
        for (const auto& row : log.rows) r.emplace_back(row.caption, row.imageIndex);
        return r;
    }
    // A pump that asks for a stop the first time the copy processes messages.
    void StopAtFirstMessage(TPhysicalDrive& d) {
        platform::SetMessagePump([&d] { d.Aborted = true; }, std::chrono::milliseconds(0));
    }
    // Runs the recovery in a child whose files may grow to `limit` bytes;
    // gives the child's result and log lines.
    std::string WithFileLimit(std::uint64_t limit, const std::function<int()>& recover) {
        return vt::test::InChildWithFileLimit(limit, [&] {
            std::string out = std::to_string(recover()) + "\n";
            for (const auto& r : log.rows) out += r.caption + "|" + std::to_string(r.imageIndex) + "\n";
            return out;
        });
    }

    platform::RecordingEventLog log;
    platform::RecordingProgressBar bar;
    platform::RecordingStatusPanel status;
    platform::MessageBoxRecorder boxes;
    vt::test::TempDir dir;
};

// ---------------------------------------------------------------------------
// Names that mcopy writes

class AdvFatNames : public AdvRecoverTest, public ::testing::WithParamInterface<const char*> {};

// The volumes of make-fatnames.sh as found folders: every entry listed
// under the name its directory gives it (long names whose pieces begin
// with "." or hold a character with the low byte 0xFF; the short name where
// the long name's checksum or sequence does not hold; a first byte 0x05
// for 0xE5), and recovered under it byte for byte.
TEST_P(AdvFatNames, EveryNameAsTheVolumeHoldsItAndRecoveredByteForByte) {
    const std::string image = vt::test::ImagePath(GetParam());
    const std::uint64_t before = vt::test::FileChecksum(image);
    ScannedVolume vol(image);
    const std::vector<vt::test::NamedFile> files = vt::test::NamedFiles(std::string(GetParam()) == "names32.img");
    std::multiset<std::string> listed, expected;
    for (const auto& e : vol.node->FatEntries) listed.insert(PhysEntryDisplayName(*e));
    for (const auto& f : files) expected.insert(f.shown);
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(boxes.calls.empty());

    log.rows.clear();  // the scan's own lines
    for (const auto& f : files) {
        const TPhysMidEntry* entry = nullptr;
        for (const auto& e : vol.node->FatEntries)
            if (PhysEntryDisplayName(*e) == f.shown) entry = e.get();
        ASSERT_NE(entry, nullptr) << f.shown;
        EXPECT_EQ(vol.drive->RecoverFile(entry, vol.node->FatType, dir.Path(), &bar, &status), 0) << f.shown;
        EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + f.target), Original(f.original, f.size)) << f.shown;
    }
    std::set<std::string> written, targets;
    for (const auto& e : fs::directory_iterator(dir.Path())) written.insert(e.path().filename().string());
    for (const auto& f : files) targets.insert(f.target);
    EXPECT_EQ(written, targets) << "no name collided";
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{}));
    EXPECT_EQ(vt::test::FileChecksum(image), before);
}

INSTANTIATE_TEST_SUITE_P(AdvRecover, AdvFatNames, ::testing::Values("names12.img", "names16.img", "names32.img"),
                         [](const auto& info) { return std::string(info.param).substr(0, 7); });

// ---------------------------------------------------------------------------
// Child ranges

struct RangeCase {
    const char* name;
    std::vector<std::uint32_t> keys;
    std::uint32_t key;
    std::int32_t first, last;
    bool found;
};

class FatChildRange : public AdvRecoverTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(FatChildRange, BisectsTheSortedListing) {
    TDriveGeometry g;
    g.DriveNo = 0;
    vt::test::InstallProfile("");
    TPhysicalDrive d(g);
    d.CurPartition = d.Partitions[0].get();
    for (std::uint32_t k : GetParam().keys) {
        auto e = std::make_unique<TPhysMidEntry>();
        e->DirSector = k;
        d.CurPartition->FatEntries.push_back(std::move(e));
    }
    std::int32_t first = 7, last = 7;
    EXPECT_EQ(d.FindFatChildRange(GetParam().key, first, last), GetParam().found);
    EXPECT_EQ(first, GetParam().first);
    EXPECT_EQ(last, GetParam().last);
}

INSTANTIATE_TEST_SUITE_P(
    AdvRecover, FatChildRange,
    ::testing::Values(RangeCase{"EmptyListing", {}, 5, -1, -1, false},
                      RangeCase{"KeyThatNoEntryHas", {1, 2, 4, 8}, 5, -1, -1, false},
                      RangeCase{"AllFiveHaveTheKey", {5, 5, 5, 5, 5}, 5, 0, 4, true},
                      RangeCase{"MiddleRun", {1, 3, 3, 3, 9}, 3, 1, 3, true},
                      RangeCase{"FirstAndLast", {1, 2, 3}, 1, 0, 0, true},
                      RangeCase{"LastOnly", {1, 2, 3}, 3, 2, 2, true},
                      RangeCase{"UnsignedOrder", {7, 0x80000000u, 0xFFFFFFFFu}, 0xFFFFFFFFu, 2, 2, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AdvRecoverTest, NtfsChildRangeIgnoresSequenceNumbers) {
    std::vector<std::unique_ptr<tntfsfilerecord>> list;
    for (std::uint64_t ref : {0x0001000000000005ull, 0x0002000000000009ull, 0x0007000000000009ull, 0x000000000000000Aull}) {
        auto r = std::make_unique<tntfsfilerecord>();
        r->FileName.ParentRef.set(ref);
        list.push_back(std::move(r));
    }
    vt::test::InstallProfile("");
    TDriveGeometry g;
    TPhysicalDrive d(g);
    std::int32_t first = 0, last = 0;
    EXPECT_TRUE(d.FindNtfsChildRange(list, 9, first, last));
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(1, 2));
    EXPECT_FALSE(d.FindNtfsChildRange(list, 6, first, last));
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(-1, -1));
    EXPECT_FALSE(d.FindNtfsChildRange({}, 6, first, last));
}

// ---------------------------------------------------------------------------
// NTFS volumes of the builder

class NtfsVolume : public AdvRecoverTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        AdvRecoverTest::SetUp();
        image_ = vt::test::ImagePath("ntfs-" + std::to_string(GetParam()) + ".img");
        checksum_ = vt::test::FileChecksum(image_);
        manifest_ = vt::test::ReadNtfsManifest("ntfs-" + std::to_string(GetParam()) + ".manifest");
        vol_ = std::make_unique<ScannedVolume>(image_);
        log.rows.clear();
        ASSERT_EQ(vol_->node->NtfsSectorsPerCluster * 512, GetParam());
    }
    void TearDown() override {
        vol_.reset();
        AdvRecoverTest::TearDown();
        EXPECT_EQ(vt::test::FileChecksum(image_), checksum_) << "the scanned image was written";
    }
    const NtfsManifestEntry& Manifest(const std::string& path) {
        for (const auto& m : manifest_)
            if (m.path == path) return m;
        throw std::runtime_error("not in the manifest: " + path);
    }
    // The listed record of a manifest path: its name under its parent.
    tntfsfilerecord* Record(const std::string& path) {
        const NtfsManifestEntry& m = Manifest(path);
        for (auto& r : vol_->node->NtfsEntries)
            if (r->Name == m.Name() && FileRefToInt64(r->FileName.ParentRef) == m.parent) return r.get();
        ADD_FAILURE() << "not listed: " << path;
        return nullptr;
    }
    int Recover(const std::string& path) {
        tntfsfilerecord* r = Record(path);
        return r ? vol_->drive->RecoverFile(r, vt::fsNtfs, dir.Path(), &bar, &status) : -1;
    }
    Bytes Written(const std::string& name) { return vt::test::ReadWholeFile(dir.Path() + "/" + name); }
    Bytes Content(const std::string& path) { return vt::test::NtfsContent(Manifest(path).content); }

    std::string image_;
    std::uint64_t checksum_ = 0;
    std::vector<NtfsManifestEntry> manifest_;
    std::unique_ptr<ScannedVolume> vol_;
};

TEST_P(NtfsVolume, EveryFileComesBackByteForByte) {
    // Resident, one and several clusters, fragmented, sparse, compressed
    // (every kind of unit), present and deleted.
    int checked = 0;
    for (const auto& m : manifest_) {
        if (m.folder) continue;
        SCOPED_TRACE(m.path);
        tntfsfilerecord* r = Record(m.path);
        if (!r) continue;
        vt::test::TempDir out;
        EXPECT_EQ(vol_->drive->RecoverFile(r, vt::fsNtfs, out.Path(), &bar, &status), 0);
        EXPECT_EQ(vt::test::ReadWholeFile(out.Path() + "/" + m.Name()), vt::test::NtfsContent(m.content));
        ++checked;
        for (const auto& row : log.rows) ADD_FAILURE() << row.caption;
        log.rows.clear();
    }
    EXPECT_GT(checked, 60);
    // The bar goes back to 0 and the panel is emptied after every file.
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(status.Text(), "");
}

// $Boot's one run begins at cluster 0, the boot sector: no hole. The file
// is the volume's first 8192 bytes, as The Sleuth Kit's icat gives inode 7.
TEST_P(NtfsVolume, BootFileIsTheVolumesFirst8192Bytes) {
    const tntfsfilerecord* boot = nullptr;
    for (auto& r : vol_->node->NtfsEntries)
        if (r->Name == "$Boot" && FileRefToInt64(r->FileName.ParentRef) == 5) boot = r.get();
    ASSERT_NE(boot, nullptr);
    EXPECT_EQ(vol_->drive->RecoverFile(boot, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    const Bytes image = vt::test::ReadWholeFile(image_);
    EXPECT_EQ(Written("$Boot"), Bytes(image.begin(), image.begin() + 8192));
    for (const auto& row : log.rows) ADD_FAILURE() << row.caption;
}

TEST_P(NtfsVolume, ProgressAndStatusFollowTheFile) {
    ASSERT_EQ(Recover("/multi.bin"), 0);
    EXPECT_EQ(status.texts.front(), " multi.bin");
    ASSERT_GE(bar.positions.size(), 2u);
    EXPECT_EQ(bar.positions[bar.positions.size() - 2], 100);
    EXPECT_EQ(bar.positions.back(), 0);
}

TEST_P(NtfsVolume, NameCollisionsGetNumberedSuffixes) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Recover("/Documents/report.doc"), 0);
    const Bytes want = Content("/Documents/report.doc");
    for (const char* n : {"report.doc", "report_1.doc", "report_2.doc"}) EXPECT_EQ(Written(n), want) << n;
}

// Links planted under the names a recovery takes, before or after the name
// was chosen: nothing is written through them, and each file takes the next
// free name. Empty, resident, plain and compressed files.
TEST_P(NtfsVolume, LinksUnderTheChosenNamesAreNeverFollowed) {
    const std::vector<std::pair<std::string, std::string>> files = {{"/empty.txt", "empty_1.txt"},
                                                                    {"/readme.txt", "readme_1.txt"},
                                                                    {"/multi.bin", "multi_1.bin"},
                                                                    {"/Compressed/tiny.txt", "tiny_1.txt"}};
    for (const vt::test::LinkCase& c : vt::test::kLinkCases) {
        SCOPED_TRACE(c.label);
        vt::test::TempDir target;
        vt::test::LinkTrap trap;
        for (const auto& [path, second] : files) {
            tntfsfilerecord* r = Record(path);
            ASSERT_NE(r, nullptr) << path;
            trap.Plant(target.Path(), r->Name, c);
            EXPECT_EQ(vol_->drive->RecoverFile(r, vt::fsNtfs, target.Path(), &bar, &status), 0) << path;
            EXPECT_EQ(vt::test::ReadWholeFile(target.Path() + "/" + second), Content(path)) << path;
        }
        EXPECT_TRUE(trap.AllPlanted());
        EXPECT_TRUE(trap.Untouched());
    }
    EXPECT_TRUE(log.rows.empty());
}

// A file of 300 fragments whose $ATTRIBUTE_LIST lies in clusters: its
// extents are followed into its extension records, as icat does, and its
// head is read through its runs.
TEST_P(NtfsVolume, FileInExtentsFollowsItsAttributeList) {
    EXPECT_EQ(Recover("/attrlist.bin"), 0);
    EXPECT_TRUE(log.rows.empty());
    const Bytes want = Content("/attrlist.bin");
    EXPECT_EQ(Written("attrlist.bin"), want);
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(vol_->drive->ReadFileHead(Record("/attrlist.bin"), vt::fsNtfs, head));
    EXPECT_EQ(Bytes(head.begin(), head.end()), Bytes(want.begin(), want.begin() + 2048));
}

// Its second extent lies in the next record (VCN 888 on, as istat shows);
// when that record no longer reads, the file keeps the first extent's
// clusters and is named as failed.
TEST_P(NtfsVolume, ExtentWhoseRecordCannotBeReadFailsTheFile) {
    const NtfsManifestEntry& m = Manifest("/attrlist.bin");
    ASSERT_EQ(vol_->node->NtfsTables.size(), 1u);
    const auto halves = MftRecordSectors(vol_->node->NtfsTables[0].Extents, m.record + 1);
    ASSERT_TRUE(halves.has_value());
    vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\nunreadable=" + std::to_string((*halves)[0]) + "-" +
                             std::to_string((*halves)[1]) + "\n");
    EXPECT_EQ(Recover("/attrlist.bin"), 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"attrlist.bin" + kFailed, 1}}));
    Bytes want = Content("/attrlist.bin");
    want.resize(888 * static_cast<std::size_t>(GetParam()));
    EXPECT_EQ(Written("attrlist.bin"), want);
}

// A record that does not read writes nothing; one without $DATA leaves an
// empty file, named as failed, as the standard engine does.
TEST_P(NtfsVolume, RecordThatCannotBeReadOrHasNoDataIsNamedAsFailed) {
    tntfsfilerecord unreadable = *Record("/multi.bin");
    unreadable.RecordSector = 1LL << 40;
    tntfsfilerecord folder = *Record("/Documents");
    folder.DataSize = 100;  // a size with no $DATA in the record behind it
    tntfsfilerecord negative = *Record("/readme.txt");
    negative.DataSize = -1;
    auto& d = *vol_->drive;
    EXPECT_EQ(d.RecoverFile(&unreadable, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    EXPECT_EQ(d.RecoverFile(&folder, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    EXPECT_EQ(d.RecoverFile(&negative, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{
                          {"multi.bin" + kFailed, 1}, {"Documents" + kFailed, 1}, {"readme.txt" + kFailed, 1}}));
    std::vector<std::string> written;
    for (const auto& e : fs::directory_iterator(dir.Path())) written.push_back(e.path().filename().string());
    EXPECT_EQ(written, std::vector<std::string>{"Documents"});
    EXPECT_EQ(Written("Documents").size(), 0u);
}

TEST_P(NtfsVolume, DataThatCannotBeReadFailsTheFile) {
    // The data clusters of a plain and of a compressed file become
    // unreadable after the scan: each file fails with its log line and
    // keeps what was written before.
    const std::int64_t spc = vol_->node->NtfsSectorsPerCluster;
    std::string ranges;
    for (const char* path : {"/multi.bin", "/Compressed/text.txt"}) {
        const std::int64_t s = Record(path)->DataLcn * spc;
        ranges += (ranges.empty() ? "" : ",") + std::to_string(s) + "-" + std::to_string(s + spc - 1);
    }
    vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\nunreadable=" + ranges + "\n");
    EXPECT_EQ(Recover("/multi.bin"), 0);
    EXPECT_EQ(Recover("/Compressed/text.txt"), 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"multi.bin" + kFailed, 1}, {"text.txt" + kFailed, 1}}));
    EXPECT_EQ(Written("multi.bin").size(), 0u);
    EXPECT_EQ(bar.Position(), 0);
}

// A cluster in the middle of a plain file that no longer reads: the
// clusters of its run are read in batches, and after the batch that fails
// one by one, so the file keeps exactly the clusters before that one.
TEST_P(NtfsVolume, AnUnreadableClusterInTheMiddleKeepsTheClustersBeforeIt) {
    const Bytes content = Content("/multi.bin");
    const std::size_t cs = static_cast<std::size_t>(GetParam());
    ASSERT_GT(content.size(), 3 * cs);
    // Where the file's third cluster lies: its bytes are found in the image.
    const Bytes image = vt::test::ReadWholeFile(image_);
    const auto at = std::search(image.begin(), image.end(), content.begin() + 2 * cs, content.begin() + 3 * cs);
    ASSERT_NE(at, image.end());
    const std::size_t bad = static_cast<std::size_t>(at - image.begin()) / 512;
    vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\nunreadable=" + std::to_string(bad) + "-" +
                             std::to_string(bad + cs / 512 - 1) + "\n");
    EXPECT_EQ(Recover("/multi.bin"), 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"multi.bin" + kFailed, 1}}));
    EXPECT_EQ(Written("multi.bin"), Bytes(content.begin(), content.begin() + 2 * static_cast<std::ptrdiff_t>(cs)));
}

TEST_P(NtfsVolume, TargetThatCannotBeCreatedIsLogged) {
    const std::string missing = dir.Path() + "/missing";
    for (const char* path : {"/empty.txt", "/readme.txt", "/multi.bin", "/Compressed/tiny.txt"})
        EXPECT_EQ(vol_->drive->RecoverFile(Record(path), vt::fsNtfs, missing, &bar, &status), 0) << path;
    ASSERT_EQ(log.rows.size(), 4u);
    for (const auto& row : log.rows) {
        EXPECT_EQ(row.caption.rfind("Cannot create file \"" + missing + "/", 0), 0u) << row.caption;
        EXPECT_EQ(row.imageIndex, 1);
    }
    EXPECT_FALSE(fs::exists(missing));
}

// A size of 0 is the listing's word: the record says whether the file is
// empty (its $DATA holds nothing) or lost (it no longer reads).
TEST_P(NtfsVolume, EmptyFileIsTakenFromItsRecord) {
    tntfsfilerecord empty = *Record("/empty.txt");
    EXPECT_EQ(vol_->drive->RecoverFile(&empty, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    EXPECT_TRUE(fs::exists(dir.Path() + "/empty.txt"));
    EXPECT_EQ(fs::file_size(dir.Path() + "/empty.txt"), 0u);
    EXPECT_TRUE(log.rows.empty());
    fs::remove(dir.Path() + "/empty.txt");
    empty.RecordSector = 1LL << 40;  // no record there
    EXPECT_EQ(vol_->drive->RecoverFile(&empty, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"empty.txt" + kFailed, 1}}));
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

// The file in hand is named in the stop line and not left under its name.
TEST_P(NtfsVolume, StopDuringACopyNamesTheFileAndLeavesNothingUnderItsName) {
    StopAtFirstMessage(*vol_->drive);
    EXPECT_EQ(Recover("/multi.bin"), 1);
    EXPECT_FALSE(vol_->drive->Aborted);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"multi.bin" + kStopped, 2}}));
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_P(NtfsVolume, StopDuringACompressedFileWaitsForTheNextCopy) {
    StopAtFirstMessage(*vol_->drive);
    EXPECT_EQ(Recover("/Compressed/mixed.bin"), 0);
    EXPECT_EQ(Written("mixed.bin"), Content("/Compressed/mixed.bin"));
    EXPECT_TRUE(vol_->drive->Aborted);
    EXPECT_TRUE(log.rows.empty());
    platform::SetMessagePump({});
    EXPECT_EQ(Recover("/frag.bin"), 1);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"frag.bin" + kStopped, 2}}));
    EXPECT_FALSE(fs::exists(dir.Path() + "/frag.bin"));
}

TEST_P(NtfsVolume, AFullTargetLogsTheShortWriteAndLeavesNoName) {
    for (const char* path : {"/multi.bin", "/Compressed/text.txt", "/sparse.bin"}) {
        SCOPED_TRACE(path);
        tntfsfilerecord* r = Record(path);
        ASSERT_NE(r, nullptr);
        const std::string name = r->Name;
        // The limit cuts the file in its first half.
        const std::string report =
            WithFileLimit(static_cast<std::uint64_t>(r->DataSize / 2), [&] { return vol_->drive->RecoverFile(r, vt::fsNtfs, dir.Path(), &bar, &status); });
        EXPECT_EQ(report, "0\n" + name + kShortWrite + "|1\n");
        // What went in before the target filled up carries no name.
        EXPECT_TRUE(fs::is_empty(dir.Path())) << name;
    }
}

TEST_P(NtfsVolume, PreviewOfResidentMultiClusterAndFolderRecords) {
    auto& d = *vol_->drive;
    std::array<std::uint8_t, 2048> buf{};
    // Resident data: its bytes, then zeros.
    buf.fill(0xCC);
    ASSERT_TRUE(d.ReadFileHead(Record("/readme.txt"), vt::fsNtfs, buf));
    Bytes want = Content("/readme.txt");
    want.resize(2048, 0);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), want);
    // A folder record has no $DATA: zeros and True.
    buf.fill(0xCC);
    ASSERT_TRUE(d.ReadFileHead(Record("/Documents"), vt::fsNtfs, buf));
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), Bytes(2048, 0));
    // Non-resident: four sectors from the first cluster.
    ASSERT_TRUE(d.ReadFileHead(Record("/multi.bin"), vt::fsNtfs, buf));
    want = Content("/multi.bin");
    want.resize(2048);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), want);
}

TEST_P(NtfsVolume, SearchByMasksDatesSizesAndFolder) {
    auto& d = *vol_->drive;
    auto names = [&] {
        std::vector<std::string> n;
        for (auto* r : vol_->node->NtfsFound) n.push_back(r->Name);
        std::sort(n.begin(), n.end());
        return n;
    };
    ASSERT_TRUE(d.SearchEntries(vt::fsNtfs, "*.DOC,tiny*", false, 0, 0, 0, -1, -1, -1));
    EXPECT_EQ(names(), (std::vector<std::string>{"old-draft.doc", "report.doc", "tiny.txt"}));
    ASSERT_TRUE(d.SearchEntries(vt::fsNtfs, "*.DOC", true, 0, 0, 0, -1, -1, -1));
    EXPECT_TRUE(names().empty());
    // Sizes in bytes, the whole of a range: report.doc's size alone.
    const std::int64_t size = Manifest("/Documents/report.doc").size;
    ASSERT_TRUE(d.SearchEntries(vt::fsNtfs, "", false, 0, 0, 0, size, size, -1));
    EXPECT_EQ(names(), (std::vector<std::string>{"report.doc"}));
    ASSERT_TRUE(d.SearchEntries(vt::fsNtfs, "", false, 0, 0, 0, size + 1, size + 1024, -1));
    const auto others = names();
    EXPECT_EQ(std::count(others.begin(), others.end(), "report.doc"), 0);
    // Flat: the children of Documents, not those of its sub-folders.
    ASSERT_TRUE(d.SearchEntries(vt::fsNtfs, "", false, 0, 0, 0, -1, -1, Manifest("/Documents").record));
    EXPECT_EQ(names(), (std::vector<std::string>{"Projects", "old-draft.doc", "report.doc"}));
    // Dates: the modification time of report.doc alone.
    const double t = FileTimeToDateTime(Record("/Documents/report.doc")->FileName.ModificationTime.get());
    ASSERT_GT(t, 0);
    ASSERT_TRUE(d.SearchEntries(vt::fsNtfs, "*.doc", false, 1, t, t, -1, -1, -1));
    const auto sameTime = names();
    EXPECT_NE(std::find(sameTime.begin(), sameTime.end(), "report.doc"), sameTime.end());
    // A folder without entries gives nothing.
    ASSERT_TRUE(d.SearchEntries(vt::fsNtfs, "", false, 0, 0, 0, -1, -1, 999999));
    EXPECT_TRUE(names().empty());
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, NtfsVolume, ::testing::Values(512, 1024, 2048, 4096));

// Volumes of unusual layouts and of damage (tests/fixtures/ntfs-builder.c,
// modes damaged, holes and wide): each file is written as far as its
// clusters can be read, and named as failed when that is not the whole
// file.
class UnusualNtfsVolume : public AdvRecoverTest {
protected:
    void Open(const std::string& stem) {
        image_ = vt::test::ImagePath(stem + ".img");
        manifest_ = vt::test::ReadNtfsManifest(stem + ".manifest");
        vol_ = std::make_unique<ScannedVolume>(image_);
        scanRows_ = log.rows;
        log.rows.clear();
    }
    void TearDown() override {
        vol_.reset();
        AdvRecoverTest::TearDown();
    }
    const NtfsManifestEntry& Manifest(const std::string& path) {
        for (const auto& m : manifest_)
            if (m.path == path) return m;
        throw std::runtime_error("not in the manifest: " + path);
    }
    tntfsfilerecord* Listed(const NtfsManifestEntry& m) {
        for (auto& r : vol_->node->NtfsEntries)
            if (r->Name == m.Name() && FileRefToInt64(r->FileName.ParentRef) == m.parent) return r.get();
        return nullptr;
    }
    Bytes Written(const std::string& name) { return vt::test::ReadWholeFile(dir.Path() + "/" + name); }
    std::vector<platform::LogRow> scanRows_;
    std::string image_;
    std::vector<NtfsManifestEntry> manifest_;
    std::unique_ptr<ScannedVolume> vol_;
};

struct AdvDamagedCase {
    const char* label;
    const char* path;
    std::size_t keep;  // bytes of the contents written; 0: all of them
    std::size_t size;  // the file's size when it differs from the contents'
    bool failed;
};
void PrintTo(const AdvDamagedCase& c, std::ostream* os) { *os << c.label; }

class AdvDamagedFile : public UnusualNtfsVolume, public ::testing::WithParamInterface<AdvDamagedCase> {};

TEST_P(AdvDamagedFile, IsWrittenAsFarAsItReadsAndNamedWhenShort) {
    const AdvDamagedCase& c = GetParam();
    Open("ntfs-damaged");
    const NtfsManifestEntry& m = Manifest(c.path);
    tntfsfilerecord* r = Listed(m);
    ASSERT_NE(r, nullptr) << c.path;
    EXPECT_EQ(vol_->drive->RecoverFile(r, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    Bytes want = vt::test::NtfsContent(m.content);
    if (c.keep) want.resize(c.keep);
    if (c.size) want.resize(c.size, 0);
    EXPECT_EQ(Written(m.Name()), want);
    EXPECT_EQ(Rows(), c.failed ? (std::vector<std::pair<std::string, int>>{{m.Name() + kFailed, 1}})
                               : (std::vector<std::pair<std::string, int>>{}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, AdvDamagedFile,
    ::testing::Values(
        // Its second run starts in the volume's last two clusters and runs
        // past its end: the first run's 8 clusters, then the line.
        AdvDamagedCase{"RunPastTheVolume", "/pastend.bin", 8 * 1024, 0, true},
        // The real size says 5000 bytes more than its 4 clusters hold.
        AdvDamagedCase{"RealSizeBeyondTheRuns", "/short.bin", 0, 4 * 1024, true},
        AdvDamagedCase{"CutRunList", "/cut-list.bin", 8 * 1024, 0, true},
        // Two extents of $DATA in one extension record: each list entry
        // names its own by instance and first cluster.
        AdvDamagedCase{"ExtentsSharingARecord", "/two-extents.bin", 0, 0, false},
        // The record of its second extent names another file as its base
        // now: the first extent's bytes, then the line.
        AdvDamagedCase{"ExtensionRecordTakenByAnotherFile", "/reused-ext.bin", 888 * 1024, 0, true},
        // Zeros past the initialized size, in a plain and in a compressed
        // file.
        AdvDamagedCase{"InitializedSizeInsideTheFile", "/uninit.bin", 2 * 1024 + 300, 5 * 1024, false},
        AdvDamagedCase{"InitializedSizeInsideTheHead", "/uninit-head.bin", 700, 3 * 1024, false},
        AdvDamagedCase{"CompressedWithInitializedSizeInside", "/Packed/uninit.txt", 40000, 70000, false},
        AdvDamagedCase{"CompressedWithoutTheFlag", "/Packed/noflag.txt", 0, 0, false},
        AdvDamagedCase{"NameWithALongerDosName", "/a b.txt", 0, 0, false},
        AdvDamagedCase{"FileAfterTheDamage", "/taker.txt", 0, 0, false},
        // Written on the clusters of a deleted file: its own bytes.
        AdvDamagedCase{"FileOnADeletedFilesClusters", "/newer.bin", 0, 0, false}),
    [](const auto& info) { return std::string(info.param.label); });

// Files whose record contradicts itself, or whose clusters another file
// holds now (vt::test::kContradictedNtfsFiles).
using vt::test::ContradictedNtfsFile;
class AdvContradictedFile : public UnusualNtfsVolume, public ::testing::WithParamInterface<ContradictedNtfsFile> {};

TEST_P(AdvContradictedFile, KeepsWhatTheRecordVouchesForAndIsNamedAsFailed) {
    const ContradictedNtfsFile& c = GetParam();
    Open("ntfs-damaged");
    const NtfsManifestEntry& m = Manifest(c.path);
    tntfsfilerecord* r = Listed(m);
    ASSERT_NE(r, nullptr) << c.path;
    EXPECT_EQ(vol_->drive->RecoverFile(r, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    ASSERT_TRUE(std::filesystem::exists(dir.Path() + "/" + m.Name()));
    EXPECT_TRUE(vt::test::HoldsVouchedBytes(Written(m.Name()), vt::test::NtfsContent(m.content), c.head, c.tail));
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{m.Name() + kFailed, 1}}));
}

INSTANTIATE_TEST_SUITE_P(Files, AdvContradictedFile, ::testing::ValuesIn(vt::test::kContradictedNtfsFiles),
                         [](const auto& info) { return std::string(info.param.label); });

// Names that libntfs-3g moved to extension records: a folder whose index
// grew keeps its attribute list in its record, and is listed under the name
// in its extension record, with its own times, above its 600 files; a file
// of 300 fragments keeps its list in clusters, read once the listing knows
// the cluster size.
TEST_F(UnusualNtfsVolume, BaseRecordsWhoseNamesMovedOutAreListed) {
    Open("ntfs-bigdir");
    int listed = 0;
    for (const auto& m : manifest_) {
        const tntfsfilerecord* r = Listed(m);
        EXPECT_NE(r, nullptr) << m.path;
        if (!r) continue;
        ++listed;
        EXPECT_EQ(IsNtfsFile(r), !m.folder) << m.path;
        if (!m.folder) {
            EXPECT_EQ(r->DataSize, m.size) << m.path;
        }
        EXPECT_EQ(r->FileName.ModificationTime.get(), m.mtime) << m.path;
    }
    EXPECT_GE(listed, 600);
    const tntfsfilerecord* big = Listed(Manifest("/Big"));
    ASSERT_NE(big, nullptr);
    EXPECT_FALSE(IsNtfsFile(big));
    EXPECT_EQ(std::count(vol_->node->NtfsFolders.begin(), vol_->node->NtfsFolders.end(), Manifest("/Big").record), 1);
}

// That file's name and its extents lie in extension records listed in
// clusters: it comes back whole, its head read through its runs.
TEST_F(UnusualNtfsVolume, FileWhoseNameAndExtentsMovedOutComesBackWhole) {
    Open("ntfs-bigdir");
    const NtfsManifestEntry& m = Manifest("/scattered.bin");
    tntfsfilerecord* r = Listed(m);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->DataSize, m.size);
    EXPECT_EQ(vol_->drive->RecoverFile(r, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    EXPECT_TRUE(log.rows.empty());
    const Bytes want = vt::test::NtfsContent(m.content);
    EXPECT_EQ(Written(m.Name()), want);
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(vol_->drive->ReadFileHead(r, vt::fsNtfs, head));
    EXPECT_EQ(Bytes(head.begin(), head.end()), Bytes(want.begin(), want.begin() + 2048));
}

// The head of a file whose initialized size ends inside it: its bytes up
// to there, then zeros, as NTFS reads it.
TEST_F(UnusualNtfsVolume, PreviewShowsZerosPastTheInitializedSize) {
    Open("ntfs-damaged");
    const NtfsManifestEntry& m = Manifest("/uninit-head.bin");
    tntfsfilerecord* r = Listed(m);
    ASSERT_NE(r, nullptr);
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(vol_->drive->ReadFileHead(r, vt::fsNtfs, head));
    Bytes want = vt::test::NtfsContent(m.content);
    want.resize(700);
    want.resize(head.size(), 0);
    EXPECT_EQ(Bytes(head.begin(), head.end()), want);
}

TEST_F(UnusualNtfsVolume, TornRecordIsLeftOutAndCounted) {
    Open("ntfs-damaged");
    EXPECT_EQ(Listed(Manifest("/torn.txt")), nullptr);
    const auto& rows = scanRows_;
    EXPECT_NE(std::find_if(rows.begin(), rows.end(),
                           [](const auto& r) { return r.caption == "1 个文件记录已损坏，未列出" && r.imageIndex == 2; }),
              rows.end());
}

// 64 KiB clusters: the vote finds them and every file comes back whole. A
// table grown into holes of one-sector clusters: a record whose halves lie
// apart is read from both, as the $MFT's own runs place them, and is
// listed; every file comes back whole, its head read through its runs of
// three clusters.
TEST_F(UnusualNtfsVolume, WideClustersAndATableInHoles) {
    for (const char* stem : {"ntfs-wide", "ntfs-holes"}) {
        SCOPED_TRACE(stem);
        Open(stem);
        if (std::string(stem) == "ntfs-wide") {
            EXPECT_EQ(vol_->node->NtfsSectorsPerCluster, 128);
        }
        for (const auto& row : scanRows_) EXPECT_EQ(row.caption.find("已损坏"), std::string::npos) << row.caption;
        int listed = 0;
        for (const auto& m : manifest_) {
            tntfsfilerecord* r = Listed(m);
            ASSERT_NE(r, nullptr) << m.path;
            if (m.folder) continue;
            std::array<std::uint8_t, 2048> head{};
            ASSERT_TRUE(vol_->drive->ReadFileHead(r, vt::fsNtfs, head)) << m.path;
            Bytes want = vt::test::NtfsContent(m.content);
            want.resize(head.size(), 0);
            EXPECT_EQ(Bytes(head.begin(), head.end()), want) << m.path;
            vt::test::TempDir out;
            EXPECT_EQ(vol_->drive->RecoverFile(r, vt::fsNtfs, out.Path(), &bar, &status), 0) << m.path;
            EXPECT_EQ(vt::test::ReadWholeFile(out.Path() + "/" + m.Name()), vt::test::NtfsContent(m.content)) << m.path;
            ++listed;
        }
        EXPECT_GE(listed, 4);
        EXPECT_TRUE(log.rows.empty());
        log.rows.clear();
    }
}

// A volume of 4096-byte sectors, whose records are 4096 bytes (eight of
// our sectors): a file with ten names has its $DATA past the record's first
// 1024 bytes, a file of 400 fragments its run list. Every file is listed
// once with its size, its head and its bytes come back whole, and the
// record copies in $MFTMirr are no files of their own.
TEST_F(UnusualNtfsVolume, RecordsOf4096BytesComeBackWhole) {
    Open("ntfs-bigrecords");
    EXPECT_EQ(vol_->node->NtfsSectorsPerCluster, 8);
    EXPECT_EQ(vol_->node->VolumeLabel, "BIGREC");
    for (const auto& row : scanRows_) EXPECT_EQ(row.caption.find("已损坏"), std::string::npos) << row.caption;
    for (const char* system : {"$MFT", "$MFTMirr", "$LogFile", "$Volume"})
        EXPECT_EQ(std::count_if(vol_->node->NtfsEntries.begin(), vol_->node->NtfsEntries.end(),
                                [&](const auto& r) { return r->Name == system; }),
                  1)
            << system;
    int files = 0;
    for (const auto& m : manifest_) {
        tntfsfilerecord* r = Listed(m);
        ASSERT_NE(r, nullptr) << m.path;
        if (m.folder) continue;
        EXPECT_EQ(r->DataSize, m.size) << m.path;
        const Bytes want = vt::test::NtfsContent(m.content);
        std::array<std::uint8_t, 2048> head{};
        ASSERT_TRUE(vol_->drive->ReadFileHead(r, vt::fsNtfs, head)) << m.path;
        Bytes wantHead = want;
        wantHead.resize(head.size(), 0);
        EXPECT_EQ(Bytes(head.begin(), head.end()), wantHead) << m.path;
        vt::test::TempDir out;
        EXPECT_EQ(vol_->drive->RecoverFile(r, vt::fsNtfs, out.Path(), &bar, &status), 0) << m.path;
        EXPECT_EQ(vt::test::ReadWholeFile(out.Path() + "/" + m.Name()), want) << m.path;
        ++files;
    }
    EXPECT_EQ(files, 6);
    EXPECT_TRUE(log.rows.empty());
}

// Without the $MFT's own record (its sectors do not read) the table's runs
// are not known: a file's extension records are looked for beside its
// base record, as a table of one extent would hold them, and taken only
// when their headers name them so and this file as their base.
TEST_F(AdvRecoverTest, ExtentsAreFoundBesideTheBaseWithoutTheTablesRuns) {
    const std::string image = vt::test::ImagePath("ntfs-1024.img");
    const Bytes bytes = vt::test::ReadWholeFile(image);
    std::uint64_t mftLcn = 0;
    for (int i = 7; i >= 0; --i) mftLcn = (mftLcn << 8) | bytes[0x30 + static_cast<std::size_t>(i)];
    const std::uint64_t record0 = mftLcn * 2;
    ScannedVolume vol(image, "unreadable=" + std::to_string(record0) + "-" + std::to_string(record0 + 1) + "\n");
    EXPECT_TRUE(vol.node->NtfsTables.empty());
    const auto manifest = vt::test::ReadNtfsManifest("ntfs-1024.manifest");
    for (const auto& m : manifest) {
        if (m.path != "/attrlist.bin") continue;
        tntfsfilerecord* r = nullptr;
        for (auto& e : vol.node->NtfsEntries)
            if (e->Name == m.Name() && FileRefToInt64(e->FileName.ParentRef) == m.parent) r = e.get();
        ASSERT_NE(r, nullptr);
        log.rows.clear();
        EXPECT_EQ(vol.drive->RecoverFile(r, vt::fsNtfs, dir.Path(), &bar, &status), 0);
        EXPECT_TRUE(log.rows.empty());
        EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/attrlist.bin"), vt::test::NtfsContent(m.content));
    }
}

// The NTFS partition of a disk: cluster sectors count from the partition's
// first sector on the drive.
TEST_F(AdvRecoverTest, NtfsPartitionOfAPhysicalDisk) {
    const std::string image = vt::test::ImagePath("disk1.img");
    const std::uint64_t before = vt::test::FileChecksum(image);
    vt::test::InstallProfile("[physical.0]\nimage=disk1.img\n");
    TDriveGeometry g;
    ASSERT_TRUE(GetPhysicalDriveGeometry(0, g));
    TPhysicalDrive d(g);
    TPartiEntry* ntfs = d.Partitions[12].get();
    ASSERT_TRUE(d.ScanPartition(ntfs, &bar));
    d.BuildFatList(&bar);
    d.BuildNtfsList(&bar);
    tntfsfilerecord* big = nullptr;
    for (auto& r : ntfs->NtfsEntries)
        if (r->Name == "big.bin") big = r.get();
    ASSERT_NE(big, nullptr);
    log.rows.clear();
    EXPECT_EQ(d.RecoverFile(big, vt::fsNtfs, dir.Path(), &bar, &status), 0);
    EXPECT_TRUE(log.rows.empty());
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/big.bin"), Bytes(70000, 'q'));
    EXPECT_EQ(vt::test::FileChecksum(image), before);
}

// A node that holds NTFS volumes without being one: the whole drive, an
// extended partition, a gap in which a deleted volume lies; and the NTFS
// partition itself for comparison. The clusters of each record count from
// the first sector of its own volume.
struct VolumeNodeCase {
    const char* name;
    const char* image;
    std::uint8_t sysType;      // the node scanned, by kind
    std::int64_t firstSector;  // and first sector
    std::vector<std::int64_t> starts;
    std::vector<std::pair<std::string, Bytes>> files;
};
void PrintTo(const VolumeNodeCase& c, std::ostream* os) { *os << c.name; }

class NtfsInsideANode : public AdvRecoverTest, public ::testing::WithParamInterface<VolumeNodeCase> {};

TEST_P(NtfsInsideANode, EachRecordReadsItsOwnVolume) {
    const VolumeNodeCase& c = GetParam();
    const std::string image = vt::test::ImagePath(c.image);
    const std::uint64_t before = vt::test::FileChecksum(image);
    vt::test::InstallProfile(std::string("[physical.0]\nimage=") + c.image + "\n");
    TDriveGeometry g;
    ASSERT_TRUE(GetPhysicalDriveGeometry(0, g));
    TPhysicalDrive d(g);
    TPartiEntry* node = nullptr;
    for (auto& p : d.Partitions)
        if (p->RawEntry.SysType == c.sysType && p->FirstSector() == c.firstSector) {
            node = p.get();
            break;
        }
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(d.ScanPartition(node, &bar));
    d.BuildFatList(&bar);
    d.BuildNtfsList(&bar);
    ASSERT_EQ(node->NtfsSectorsPerCluster, 8);
    EXPECT_EQ(node->NtfsVolumeStarts, c.starts);
    for (const auto& [name, content] : c.files) {
        tntfsfilerecord* r = nullptr;
        for (auto& e : node->NtfsEntries)
            if (e->Name == name) r = e.get();
        ASSERT_NE(r, nullptr) << name;
        log.rows.clear();
        EXPECT_EQ(d.RecoverFile(r, vt::fsNtfs, dir.Path(), &bar, &status), 0);
        EXPECT_TRUE(log.rows.empty()) << name;
        EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/" + name), content) << name;
        std::array<std::uint8_t, 2048> head{};
        ASSERT_TRUE(d.ReadFileHead(r, vt::fsNtfs, head)) << name;
        const std::size_t n = std::min(content.size(), head.size());
        EXPECT_TRUE(std::equal(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(n), head.begin())) << name;
    }
    EXPECT_EQ(vt::test::FileChecksum(image), before);
}

const std::vector<std::pair<std::string, Bytes>> kDisk1Ntfs = {
    {"big.bin", Bytes(70000, 'q')},
    {"small.txt", Bytes{'n', 'e', 'w', ' ', 'd', 'a', 't', 'a', '\n'}},
    {"thirteenchars", Bytes{'o', 'l', 'd', ' ', 'd', 'a', 't', 'a', '\n'}}};

INSTANTIATE_TEST_SUITE_P(
    Nodes, NtfsInsideANode,
    ::testing::Values(
        VolumeNodeCase{"Disk1WholeDrive", "disk1.img", kSysExtended, 0, {92160}, kDisk1Ntfs},
        VolumeNodeCase{"Disk1Extended", "disk1.img", kSysExtendedLba, 12288, {92160}, kDisk1Ntfs},
        VolumeNodeCase{"Disk1Partition", "disk1.img", 0x07, 92160, {92160}, kDisk1Ntfs},
        VolumeNodeCase{"GapDiskWholeDrive", "ntfsgap.img", kSysExtended, 0, {2048, 12288},
                       {{"kept.bin", Bytes(50000, 'k')}, {"gone.bin", Bytes(60000, 'g')}}},
        VolumeNodeCase{"GapDiskGap", "ntfsgap.img", kSysGap, 10240, {12288}, {{"gone.bin", Bytes(60000, 'g')}}},
        // A volume made for 4096-byte sectors: one of its sectors per
        // cluster is eight of ours.
        VolumeNodeCase{"Sectors4096WholeDrive", "ntfs4k.img", kSysExtended, 0, {2048}, {{"four.bin", Bytes(40000, '4')}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// FAT volumes of the recovery fixture

class FatVolume : public AdvRecoverTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        AdvRecoverTest::SetUp();
        image_ = vt::test::ImagePath(GetParam());
        checksum_ = vt::test::FileChecksum(image_);
        vol_ = std::make_unique<ScannedVolume>(image_);
        log.rows.clear();
        ASSERT_GT(vol_->node->SectorsPerCluster, 0);
    }
    void TearDown() override {
        vol_.reset();
        AdvRecoverTest::TearDown();
        EXPECT_EQ(vt::test::FileChecksum(image_), checksum_) << "the scanned image was written";
    }
    bool Fat32() const { return vol_->node->FatType == vt::fsFat32; }
    // A found entry by its display name, compared without case.
    TPhysMidEntry* Entry(const std::string& name) {
        auto lower = [](std::string s) {
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        for (auto& e : vol_->node->FatEntries)
            if (lower(PhysEntryDisplayName(*e)) == lower(name)) return e.get();
        return nullptr;
    }
    std::uint32_t ClusterBytes() const { return static_cast<std::uint32_t>(vol_->node->SectorsPerCluster) * 512; }
    int RecoverFile(const TPhysMidEntry* e, const std::string& to) {
        return vol_->drive->RecoverFile(e, vol_->node->FatType, to, &bar, &status);
    }
    int RecoverFolder(const TPhysMidEntry* e, const std::string& to) {
        return vol_->drive->RecoverFolder(e, vol_->node->FatType, to, &bar, &status);
    }
    // A found folder for the directory that `file` was read from (what the
    // window offers for every found directory), named `name`.
    TPhysMidEntry FolderOf(const TPhysMidEntry& file, const std::string& name) {
        TPhysMidEntry f = file;
        f.DirEntry.Attr = 0x10;
        f.DirEntry.FileSize.set(0);
        f.DirEntry.FstClusLO.set(static_cast<std::uint16_t>(file.DirCluster));
        f.DirEntry.FstClusHI.set(static_cast<std::uint16_t>(file.DirCluster >> 16));
        f.LongName = name;
        return f;
    }
    // The deleted folder Gone: its long-named file and its deleted
    // sub-folder with a file of 700 bytes and an empty one (short names
    // whose deletion mark becomes "@").
    TPhysMidEntry Gone() { return FolderOf(*Entry("Deleted file.txt"), "Gone"); }
    std::map<std::string, Bytes> GoneTree() {
        return {{"gone/", {}},
                {"gone/sub/", {}},
                {"gone/sub/@nner.txt", Original("INNER.TXT", 700)},
                {"gone/sub/@mpty.txt", {}},
                {"gone/deleted file.txt", Original("Deleted file.txt", 2 * ClusterBytes() + 300)}};
    }
    std::map<std::string, Bytes> LowerNames(std::map<std::string, Bytes> in) {
        std::map<std::string, Bytes> out;
        for (auto& [k, v] : in) {
            std::string l = k;
            for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            out[l] = std::move(v);
        }
        return out;
    }

    std::string image_;
    std::uint64_t checksum_ = 0;
    std::unique_ptr<ScannedVolume> vol_;
};

TEST_P(FatVolume, DeletedFolderTreeComesBack) {
    const TPhysMidEntry gone = Gone();
    EXPECT_EQ(RecoverFolder(&gone, dir.Path()), 0);
    EXPECT_EQ(LowerNames(Tree(dir.Path())), GoneTree());
    EXPECT_TRUE(log.rows.empty());
}

TEST_P(FatVolume, NameCollisionsGetNumberedSuffixes) {
    const TPhysMidEntry gone = Gone();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RecoverFolder(&gone, dir.Path()), 0);
    for (const char* n : {"Gone", "Gone_1", "Gone_2"}) EXPECT_TRUE(fs::is_directory(dir.Path() + "/" + n)) << n;
    EXPECT_EQ(RecoverFile(Entry("Deleted file.txt"), dir.Path()), 0);
    EXPECT_EQ(RecoverFile(Entry("Deleted file.txt"), dir.Path()), 0);
    EXPECT_TRUE(fs::exists(dir.Path() + "/Deleted file_1.txt"));
}

TEST_P(FatVolume, FoundNamesStayInsideTheTarget) {
    vt::test::TempDir outer;
    const std::string target = outer.Path() + "/target";
    fs::create_directory(target);
    TPhysMidEntry file = *Entry("Deleted file.txt");
    file.LongName = "../escape.txt";
    EXPECT_EQ(RecoverFile(&file, target), 0);
    TPhysMidEntry up = Gone();
    up.LongName = "..";
    EXPECT_EQ(RecoverFolder(&up, target), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(outer.Path()), fs::directory_iterator()), 1);
    const auto tree = Tree(target);
    EXPECT_TRUE(tree.count(".._escape.txt"));
    EXPECT_TRUE(tree.count("_../"));
}

// A stop after the first request of a large file: the file is not sized to
// look whole, it is not left at all, and the stop line names it.
TEST_P(FatVolume, StopInTheMiddleOfACopyLeavesNoFileThatLooksWhole) {
    TPhysMidEntry big = *Entry("Deleted file.txt");
    // 118 sectors: requests of 100 and 18.
    big.DirEntry.FileSize.set(60000);
    big.LongName = "big.bin";
    StopAtFirstMessage(*vol_->drive);
    EXPECT_EQ(RecoverFile(&big, dir.Path()), 1);
    EXPECT_FALSE(vol_->drive->Aborted);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"big.bin" + kStopped, 2}}));
    EXPECT_TRUE(fs::is_empty(dir.Path()));
    EXPECT_EQ(bar.positions, (std::vector<int>{0, 0}));
}

TEST_P(FatVolume, StopBetweenTheChildrenOfAFolder) {
    // The stop is seen in the first file copied (in Sub); it ends Sub and
    // then Gone: no later child is written.
    const TPhysMidEntry gone = Gone();
    StopAtFirstMessage(*vol_->drive);
    EXPECT_EQ(RecoverFolder(&gone, dir.Path()), 1);
    const auto tree = LowerNames(Tree(dir.Path()));
    // The file in hand is dropped and named in the stop line.
    EXPECT_EQ(std::count_if(tree.begin(), tree.end(), [](const auto& kv) { return kv.first.back() != '/'; }), 0);
    EXPECT_FALSE(tree.count("gone/deleted file.txt"));
    ASSERT_EQ(log.rows.size(), 1u);
    EXPECT_EQ(LowerNames({{log.rows[0].caption, {}}}).begin()->first, "gone/sub/@nner.txt" + kStopped);
}

TEST_P(FatVolume, DirectoryThatLeadsBackIsNotWrittenAgain) {
    // Entries in Gone's directory whose cluster is Gone's own.
    const TPhysMidEntry gone = Gone();
    auto& list = vol_->node->FatEntries;
    for (const char* n : {"Loop", "Loop again"}) {
        auto loop = std::make_unique<TPhysMidEntry>(gone);
        loop->LongName = n;
        list.push_back(std::move(loop));
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a->DirSector < b->DirSector; });
    EXPECT_EQ(RecoverFolder(&gone, dir.Path()), 0);
    auto want = GoneTree();
    want["gone/loop/"] = {};
    want["gone/loop again/"] = {};
    EXPECT_EQ(LowerNames(Tree(dir.Path())), want);
    // The next recovery starts with an empty path.
    vt::test::TempDir again;
    EXPECT_EQ(RecoverFolder(&gone, again.Path()), 0);
    EXPECT_EQ(LowerNames(Tree(again.Path())), want);
}

TEST_P(FatVolume, DirectoryReachedThroughManyEntriesIsWrittenBoundedTimes) {
    // Twenty more entries in Gone that name Sub's directory (a reused
    // cluster): none leads back, but one directory is not written without
    // end. Sub itself and the first of them get its files.
    TPhysMidEntry* sub = Entry("Sub");
    ASSERT_NE(sub, nullptr);
    auto& list = vol_->node->FatEntries;
    for (int i = 0; i < 20; ++i) {
        auto f = std::make_unique<TPhysMidEntry>(*sub);
        f->LongName = "s" + std::to_string(i);
        list.push_back(std::move(f));
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a->DirSector < b->DirSector; });
    const TPhysMidEntry gone = Gone();
    EXPECT_EQ(RecoverFolder(&gone, dir.Path()), 0);
    const auto tree = LowerNames(Tree(dir.Path()));
    std::size_t withFiles = 0, folders = 0;
    for (const auto& [path, bytes] : tree) {
        if (path.size() > 10 && path.compare(path.size() - 10, 10, "/@nner.txt") == 0) ++withFiles;
        if (path.back() == '/') ++folders;
    }
    EXPECT_EQ(withFiles, TPhysicalDrive::kMaxDirectoryVisits);
    EXPECT_EQ(folders, 2u + 20u);
}

TEST_P(FatVolume, FolderWhoseDirectoryWasNotFoundIsCreatedEmpty) {
    TPhysMidEntry lost = Gone();
    lost.DirEntry.FstClusLO.set(0xFFF0);
    lost.DirEntry.FstClusHI.set(0);
    EXPECT_EQ(RecoverFolder(&lost, dir.Path()), 0);
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, Bytes>{{"Gone/", {}}}));
}

// Links planted under the names a recovery takes, before or after the name
// was chosen: nothing is written through them, and the file or folder
// takes the next free name.
TEST_P(FatVolume, LinksUnderTheChosenNamesAreNeverFollowed) {
    const TPhysMidEntry gone = Gone();
    TPhysMidEntry* file = Entry("Deleted file.txt");
    ASSERT_NE(file, nullptr);
    // The names of the fixture's short entries differ in case by FAT type.
    auto readNoCase = [](const std::string& folder, const std::string& lower) {
        for (const auto& e : fs::directory_iterator(folder)) {
            std::string n = e.path().filename().string();
            for (char& ch : n) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (n == lower && !e.is_symlink()) return vt::test::ReadWholeFile(e.path().string());
        }
        ADD_FAILURE() << "no " << lower << " in " << folder;
        return Bytes{};
    };
    for (const vt::test::LinkCase& c : vt::test::kLinkCases) {
        SCOPED_TRACE(c.label);
        vt::test::TempDir target;
        const std::string t = target.Path();
        vt::test::LinkTrap trap;
        trap.Plant(t, "Deleted file.txt", c);
        trap.Plant(t, "Gone", c);
        // Inside the new folder only a link planted during the recovery can
        // be there already.
        const bool during = c.when == vt::test::PlantWhen::AfterChoosing;
        if (during) {
            trap.Plant(t + "/Gone_1", "Deleted file.txt", c);
            trap.Plant(t + "/Gone_1", "Sub", c);
        }
        EXPECT_EQ(RecoverFile(file, t), 0);
        EXPECT_EQ(RecoverFolder(&gone, t), 0);
        EXPECT_TRUE(trap.AllPlanted());
        EXPECT_TRUE(trap.Untouched());
        const Bytes deleted = Original("Deleted file.txt", 2 * ClusterBytes() + 300);
        EXPECT_EQ(vt::test::ReadWholeFile(t + "/Deleted file_1.txt"), deleted);
        EXPECT_EQ(vt::test::ReadWholeFile(t + (during ? "/Gone_1/Deleted file_1.txt" : "/Gone_1/Deleted file.txt")),
                  deleted);
        EXPECT_EQ(readNoCase(t + (during ? "/Gone_1/Sub_1" : "/Gone_1/Sub"), "@nner.txt"), Original("INNER.TXT", 700));
    }
    EXPECT_TRUE(log.rows.empty());
}

// A sub-folder swapped for a link between its creation and its files is a
// folder that cannot be created: nothing goes through the link, it is named
// with what it held, and the rest of the tree is written.
TEST_P(FatVolume, ASubFolderSwappedForALinkIsNamedWithItsContentsAndTheRestGoesOn) {
    const TPhysMidEntry gone = Gone();
    vt::test::LinkTrap trap;
    trap.SwapFolderForLink(dir.Path() + "/Gone", "Sub");
    EXPECT_EQ(RecoverFolder(&gone, dir.Path()), 0);
    EXPECT_TRUE(trap.AllPlanted());
    EXPECT_TRUE(trap.Untouched());
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{
                          {"Gone/Sub - 无法创建目标文件，其中 2 个文件、0 个文件夹未写入", 1}}));
    const auto tree = LowerNames(Tree(dir.Path()));
    EXPECT_EQ(tree.at("gone/deleted file.txt"), GoneTree().at("gone/deleted file.txt"));
}

TEST_P(FatVolume, FolderThatCannotBeCreatedIsNamedWithEverythingBelowIt) {
    const TPhysMidEntry gone = Gone();
    EXPECT_EQ(RecoverFolder(&gone, dir.Path() + "/missing/deeper"), 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{
                          {"Gone - 无法创建目标文件，其中 3 个文件、1 个文件夹未写入", 1}}));
}

TEST_P(FatVolume, LayoutWithoutClusterSizeWritesNothing) {
    vol_->node->SectorsPerCluster = 0;
    TPhysMidEntry inner = *Entry("Deleted file.txt");
    inner.LongName = "inner.txt";
    EXPECT_EQ(RecoverFile(&inner, dir.Path()), 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"inner.txt" + kFailed, 1}}));
    EXPECT_TRUE(fs::is_empty(dir.Path()));
    std::array<std::uint8_t, 2048> buf{};
    EXPECT_FALSE(vol_->drive->ReadFileHead(&inner, vt::fsFat16, buf));
}

TEST_P(FatVolume, AFullTargetLogsTheShortWriteAndLeavesNoName) {
    TPhysMidEntry big = *Entry("Deleted file.txt");
    big.DirEntry.FileSize.set(60000);
    big.LongName = "big.bin";
    EXPECT_EQ(WithFileLimit(1000, [&] { return RecoverFile(&big, dir.Path()); }), "0\nbig.bin" + kShortWrite + "|1\n");
    // What went in before the target filled up carries no name.
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_P(FatVolume, PreviewAndSearch) {
    auto& d = *vol_->drive;
    TPhysMidEntry* file = Entry("Deleted file.txt");
    ASSERT_NE(file, nullptr);
    const std::uint32_t size = file->DirEntry.FileSize.get();
    std::array<std::uint8_t, 2048> buf{};
    ASSERT_TRUE(d.ReadFileHead(file, vt::fsFat12, buf));
    const Bytes want = Original("Deleted file.txt", size);
    const std::size_t n = std::min<std::size_t>(want.size(), buf.size());
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n), want.begin()));

    auto found = [&] {
        std::vector<std::uint32_t> sizes;
        for (auto* e : vol_->node->FatFound) sizes.push_back(e->DirEntry.FileSize.get());
        std::sort(sizes.begin(), sizes.end());
        return sizes;
    };
    using V = std::vector<std::uint32_t>;
    const std::int64_t key = file->DirSector;
    ASSERT_TRUE(d.SearchEntries(vt::fsFat16, "*.TXT", false, 0, 0, 0, -1, -1, key));
    EXPECT_EQ(found(), (V{size}));
    ASSERT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 0, 0, 0, 1, size, key));
    EXPECT_EQ(found(), (V{size}));
    ASSERT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 0, 0, 0, 0, size - 1, key));
    EXPECT_EQ(found(), (V{0}));
    // The fixture's clocks: the file was modified on 1 July 2023, the
    // folder made on 15 March 2024.
    double july = 0, march = 0;
    ASSERT_TRUE(FatDateTimeToDateTime((43 << 9) | (7 << 5) | 1, 0, july));
    ASSERT_TRUE(FatDateTimeToDateTime((44 << 9) | (3 << 5) | 15, 0, march));
    ASSERT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 1, july, july + 1, -1, -1, key));
    EXPECT_EQ(found(), (V{size}));
    ASSERT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 1, march, march + 1, -1, -1, key));
    EXPECT_EQ(found(), (V{0}));
    ASSERT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 1, july + 1, march, -1, -1, key));
    EXPECT_TRUE(found().empty());
    // Scan Results: every found entry.
    ASSERT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 0, 0, 0, -1, -1, -1));
    EXPECT_EQ(vol_->node->FatFound.size(), vol_->node->FatEntries.size());
}

// The root of a FAT32 volume is a cluster chain of its own, listed like
// any found directory; that of FAT12/16 lies before cluster 2.
class Fat32Volume : public FatVolume {};

TEST_P(Fat32Volume, RootFilesOfZeroOneAndSeveralClusters) {
    ASSERT_NE(Entry("ONE.BIN"), nullptr);
    const std::uint32_t cs = ClusterBytes();
    const std::map<std::string, std::uint32_t> files = {
        {"ONE.BIN", cs}, {"SEVERAL.BIN", 3 * cs + 17}, {"EXACT.BIN", 2 * cs}, {"ZERO.BIN", 0}};
    for (const auto& [name, size] : files) {
        EXPECT_EQ(RecoverFile(Entry(name), dir.Path()), 0) << name;
        Bytes got;
        bool there = false;
        for (const auto& e : fs::directory_iterator(dir.Path()))
            if (strcasecmp(e.path().filename().c_str(), name.c_str()) == 0) {
                got = vt::test::ReadWholeFile(e.path());
                there = true;
            }
        EXPECT_TRUE(there) << name;
        EXPECT_EQ(got, Original(name, size)) << name;
    }
    // The deleted folder, listed in the root.
    vt::test::TempDir tree;
    ASSERT_NE(Entry("Gone"), nullptr);
    EXPECT_EQ(RecoverFolder(Entry("Gone"), tree.Path()), 0);
    EXPECT_EQ(LowerNames(Tree(tree.Path())), GoneTree());
    EXPECT_TRUE(log.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(Volumes, Fat32Volume, ::testing::Values("recover32.img"));

INSTANTIATE_TEST_SUITE_P(Volumes, FatVolume, ::testing::Values("recover16.img", "recover32.img"),
                         [](const auto& info) { return std::string(info.param).substr(0, 9); });

// ---------------------------------------------------------------------------
// Search rules on a listing made in memory

// ---------------------------------------------------------------------------
// Folders in pieces (tests/fixtures/make-fat-recover.sh): Grown's directory
// grew after its files' data was written, so its clusters lie apart; Gone
// grew the same way and was deleted.

struct FragmentedCase {
    const char* image;
    // Files the found folders list: every one of Grown's where the boot
    // sector places the FAT; else, as for the deleted Gone, those of the
    // first cluster (what The Sleuth Kit lists of Gone too).
    std::size_t grown, gone;
};

class FragmentedFolder : public AdvRecoverTest, public ::testing::WithParamInterface<FragmentedCase> {
protected:
    // The entries listed under the found folder that holds an entry of this
    // name, by the folder's first sector.
    static std::vector<const TPhysMidEntry*> FolderOf(const TPartiEntry& node, const std::string& name) {
        std::vector<const TPhysMidEntry*> out;
        std::uint32_t key = 0;
        for (const auto& e : node.FatEntries)
            if (PhysEntryDisplayName(*e) == name) key = e->DirSector;
        if (key == 0) return out;
        for (const auto& e : node.FatEntries)
            if (e->DirSector == key) out.push_back(e.get());
        return out;
    }
};

TEST_P(FragmentedFolder, EveryPieceIsListedOnceUnderItsFolder) {
    const FragmentedCase& c = GetParam();
    ScannedVolume v(c.image);
    const auto grown = FolderOf(*v.node, "grown file number 1.txt");
    std::size_t files = 0;
    for (const TPhysMidEntry* e : grown) files += IsFatFile(e->DirEntry) ? 1 : 0;
    EXPECT_EQ(files, c.grown);
    // No name is listed twice, wherever its piece of the directory lies.
    std::map<std::string, int> seen;
    for (const auto& e : v.node->FatEntries) ++seen[PhysEntryDisplayName(*e) + "@" + std::to_string(e->DirCluster)];
    for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << name;
    std::size_t gone = 0;
    for (const TPhysMidEntry* e : FolderOf(*v.node, "removedfiles 1.txt")) gone += IsFatFile(e->DirEntry) ? 1 : 0;
    EXPECT_EQ(gone, c.gone);
}

// Where the FAT places every piece: the whole folder comes back.
class FragmentedFolderWithFat : public FragmentedFolder {};

TEST_P(FragmentedFolderWithFat, RecoversEveryFileByteForByte) {
    ScannedVolume v(GetParam().image);
    const TPhysMidEntry* folder = nullptr;
    for (const auto& e : v.node->FatEntries)
        if (PhysEntryDisplayName(*e) == "Grown") folder = e.get();
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(v.drive->RecoverFolder(folder, v.node->FatType, dir.Path(), &bar, &status), 0);
    std::map<std::string, Bytes> want{{"Grown/", {}}, {"Grown/Inner/", {}}};
    for (int i = 1; i <= 30; ++i) {
        const std::string name = "grown file number " + std::to_string(i) + ".txt";
        want["Grown/" + name] = Original(name, static_cast<std::size_t>(i) * 37);
    }
    std::map<std::string, Bytes> got;
    for (auto& [path, bytes] : Tree(dir.Path())) {
        std::string p = path;
        // FAT32 lists an 8.3 name as stored, FAT12/16 capitalised.
        if (p.size() > 10 && (p.ends_with("INSIDE.TXT") || p.ends_with("Inside.txt"))) p = "Grown/Inner/INSIDE.TXT";
        got[p] = bytes;
    }
    want["Grown/Inner/INSIDE.TXT"] = Original("INSIDE.TXT", 900);
    EXPECT_EQ(got, want);
    for (const auto& row : log.rows) EXPECT_NE(row.imageIndex, kLogError) << row.caption;
}

const FragmentedCase kFragmentedWithFat[] = {
    {"fragdir12.img", 30, 4}, {"fragdir16.img", 30, 20}, {"fragdir32.img", 30, 4}};
std::string FragmentedName(const ::testing::TestParamInfo<FragmentedCase>& info) {
    std::string n = info.param.image;
    n = n.substr(0, n.find('.'));
    n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
    return n;
}
INSTANTIATE_TEST_SUITE_P(Images, FragmentedFolderWithFat, ::testing::ValuesIn(kFragmentedWithFat), FragmentedName);
INSTANTIATE_TEST_SUITE_P(Images, FragmentedFolder,
                         ::testing::Values(kFragmentedWithFat[0], kFragmentedWithFat[1], kFragmentedWithFat[2],
                                           FragmentedCase{"fragdir16-noboot.img", 20, 20}),
                         FragmentedName);

// reused16.img (tests/fixtures/make-fatdamage.sh): the deleted GONE.BIN's
// clusters went to SUB/NEW.BIN, the deleted FREE.BIN's stayed free. A
// deleted file is read as consecutive clusters; where its volume's FAT
// gives one of them to a file, what was read is that file's.
TEST_F(AdvRecoverTest, DeletedFileWhoseClustersAnotherFileTookIsNamedAsFailed) {
    ScannedVolume v("reused16.img");
    log.rows.clear();
    auto find = [&](const std::string& name) -> const TPhysMidEntry* {
        for (const auto& e : v.node->FatEntries)
            if (PhysEntryDisplayName(*e) == name) return e.get();
        ADD_FAILURE() << "not listed: " << name;
        return nullptr;
    };
    const TPhysMidEntry* gone = find("?one.bin");
    const TPhysMidEntry* free = find("?ree.bin");
    ASSERT_TRUE(gone && free);
    EXPECT_EQ(v.drive->RecoverFile(gone, v.node->FatType, dir.Path(), &bar, &status), 0);
    EXPECT_EQ(v.drive->RecoverFile(free, v.node->FatType, dir.Path(), &bar, &status), 0);
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, Bytes>{{"@one.bin", Original("NEW.BIN", 6000)},
                                                              {"@ree.bin", Original("FREE.BIN", 3000)}}));
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{{"@one.bin" + kFailed, 1}}));
}

TEST_F(AdvRecoverTest, SearchMaskRulesAndSwitchedOffTests) {
    vt::test::InstallProfile("");
    TDriveGeometry g;
    TPhysicalDrive d(g);
    d.CurPartition = d.Partitions[0].get();
    for (const char* n : {"a.doc", "b.txt", " c.txt", "D.DOC"}) {
        auto e = std::make_unique<TPhysMidEntry>();
        e->LongName = n;
        e->DirEntry.FileSize.set(10);
        e->DirEntry.CrtDate.set(0xFFFF);  // no such date: counts as DateFrom
        d.CurPartition->FatEntries.push_back(std::move(e));
    }
    auto names = [&] {
        std::vector<std::string> n;
        for (auto* e : d.CurPartition->FatFound) n.push_back(e->LongName);
        return n;
    };
    using V = std::vector<std::string>;
    EXPECT_TRUE(d.SearchEntries(vt::fsFat16, "*.doc,*.txt", false, 0, 0, 0, -1, -1, -1));
    EXPECT_EQ(names(), (V{"a.doc", "b.txt", " c.txt", "D.DOC"}));
    EXPECT_TRUE(d.SearchEntries(vt::fsFat16, "*.doc, *.txt", true, 0, 0, 0, -1, -1, -1));
    EXPECT_EQ(names(), (V{"a.doc", " c.txt"}));
    EXPECT_TRUE(d.SearchEntries(vt::fsFat16, "*.doc,", true, 0, 0, 0, -1, -1, -1));
    EXPECT_EQ(names(), (V{"a.doc"}));
    // DateFrom 0 and SizeFrom -1 switch their tests off.
    EXPECT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 0, 0, -5, -1, 0, -1));
    EXPECT_EQ(names().size(), 4u);
    // An impossible creation date passes when DateFrom <= DateTo.
    EXPECT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 0, 100, 200, 10, 10, -1));
    EXPECT_EQ(names().size(), 4u);
    EXPECT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 0, 200, 100, -1, -1, -1));
    EXPECT_TRUE(names().empty());
    d.CurPartition->FatEntries.clear();
    EXPECT_TRUE(d.SearchEntries(vt::fsFat16, "", false, 0, 0, 0, -1, -1, -1));
    EXPECT_TRUE(names().empty());
}

TEST_F(AdvRecoverTest, FolderNestingIsBounded) {
    // 300 found directories, each holding one folder that names the next:
    // no cycle, but deeper than any Windows path.
    vt::test::InstallProfile("");
    TDriveGeometry g;
    TPhysicalDrive d(g);
    d.CurPartition = d.Partitions[0].get();
    d.CurPartition->SectorsPerCluster = 1;
    d.CurPartition->DataStart = 1000;
    for (std::uint32_t i = 0; i < 300; ++i) {
        auto e = std::make_unique<TPhysMidEntry>();
        e->LongName = "d";
        e->DirEntry.Attr = 0x10;
        e->DirEntry.FstClusLO.set(static_cast<std::uint16_t>(3 + i));
        e->DirSector = 1000 + i;  // the directory of cluster 2 + i
        d.CurPartition->FatEntries.push_back(std::move(e));
        d.CurPartition->DirSectors.push_back(1000 + i);
    }
    TPhysMidEntry top = *d.CurPartition->FatEntries[0];
    top.DirEntry.FstClusLO.set(2);
    EXPECT_EQ(d.RecoverFolder(&top, vt::fsFat16, dir.Path(), &bar, &status), 0);
    std::size_t depth = 0;
    for (std::string p = dir.Path() + "/d"; fs::is_directory(p); p += "/d") ++depth;
    EXPECT_EQ(depth, TPhysicalDrive::kMaxFolderDepth + 1);
}

// ---------------------------------------------------------------------------
// A disk past 2 TiB (tests/fixtures/make-bigdisk.sh): a sparse image of
// 2^32 + 264192 sectors whose FAT32 partition starts 2048 sectors below
// sector 2^32; its folders and files lie above it. Only the partition is
// read: a scan of the whole drive would read 2 TiB of zeros.

constexpr std::int64_t kBigDiskSectors = (1LL << 32) + 264192;
constexpr std::int64_t kBigPartition = (1LL << 32) - 2048;

TEST_F(AdvRecoverTest, DiskPast2TiBShowsTheWholeDriveAndEveryNodeInPlace) {
    vt::test::InstallProfile("[physical.0]\nimage=beyond2t.img\n");
    TDriveGeometry g;
    ASSERT_TRUE(GetPhysicalDriveGeometry(0, g));
    TPhysicalDrive d(g);
    const TPartiEntry& root = *d.Partitions[0];
    EXPECT_EQ(root.SectorTotal(), kBigDiskSectors);
    std::vector<std::tuple<int, std::int64_t, std::int64_t>> children;
    for (const TPartiEntry* c : root.Children) children.emplace_back(c->RawEntry.SysType, c->FirstSector(), c->SectorTotal());
    EXPECT_EQ(children, (std::vector<std::tuple<int, std::int64_t, std::int64_t>>{
                            {0x00, 63, kBigPartition - 63},
                            {0x0C, kBigPartition, 262144},
                            {0x00, kBigPartition + 262144, kBigDiskSectors - kBigPartition - 262144}}));
    EXPECT_EQ(root.Children[1]->VolumeLabel, "BEYOND2TIB");
}

TEST_F(AdvRecoverTest, DiskPast2TiBPartitionRecoversItsFoldersAndFiles) {
    vt::test::InstallProfile("[physical.0]\nimage=beyond2t.img\n");
    TDriveGeometry g;
    ASSERT_TRUE(GetPhysicalDriveGeometry(0, g));
    TPhysicalDrive d(g);
    TPartiEntry* part = d.Partitions[0]->Children.at(1);
    ASSERT_EQ(part->FirstSector(), kBigPartition);
    platform::RecordingProgressBar bar;
    ASSERT_TRUE(d.ScanPartition(part, &bar));
    d.BuildFatList(&bar);
    d.BuildNtfsList(&bar);
    // The found folders stand where they are, past 2^32: the root (cluster
    // 2 at the partition's sector 4066), deep and deep/er.
    ASSERT_EQ(part->DirSectors.size(), 3u);
    EXPECT_EQ(part->DirSectors[0], kBigPartition + 4066);
    for (std::int64_t s : part->DirSectors) EXPECT_GT(s, 1LL << 32);

    // The root's rows, as the window recovers them.
    std::int32_t first = -1, last = -1;
    ASSERT_TRUE(d.FindFatChildRange(part->DirSectors[0], first, last));
    for (std::int32_t i = first; i <= last; ++i) {
        const TPhysMidEntry& e = *part->FatEntries[static_cast<std::size_t>(i)];
        if (e.DirEntry.Attr & 0x10) EXPECT_EQ(d.RecoverFolder(&e, part->FatType, dir.Path(), &bar, nullptr), 0);
        else EXPECT_EQ(d.RecoverFile(&e, part->FatType, dir.Path(), &bar, nullptr), 0);
    }
    // mtools gives the files' 8.3 names NT's lower-case bits for name and
    // extension (0x18), which a FAT32 listing leaves as stored.
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, Bytes>{{"TOP.TXT", Original("top.txt", 1000)},
                                                              {"deep/", {}},
                                                              {"deep/MID.BIN", Original("mid.bin", 70000)},
                                                              {"deep/er/", {}},
                                                              {"deep/er/LOW.TXT", Original("low.txt", 5000)}}));
    EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, int>>{
                          {"驱动器扫描已启动", 0}, {"正在扫描 ...", 0}, {"驱动器扫描完成", 0}}));
}

}  // namespace
