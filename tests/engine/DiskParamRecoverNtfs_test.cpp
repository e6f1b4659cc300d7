// The standard engine's recovery of NTFS files and folders, compared byte
// for byte with the contents the fixture builder wrote through libntfs-3g:
// resident, one- and many-cluster, fragmented, attribute-list, sparse and
// LZNT1-compressed files, present and deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <functional>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "LinkTraps.h"
#include "NtfsManifest.h"
#include "NtfsRecord.h"
#include "Recorders.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using vt::test::NtfsManifestEntry;

// A volume of the builder opened as drive E by the standard engine, with
// its manifest.
class NtfsVolumeTest : public ::testing::Test {
protected:
    void Open(const std::string& stem) {
        stem_ = stem;
        image_ = vt::test::ImagePath(stem_ + ".img");
        checksum_ = vt::test::FileChecksum(image_);
        vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\n");
        DiskUtils::Initialize();
        engine_ = std::make_unique<TUndelete>();
        drive_ = engine_->Drives.at(0).get();
        ASSERT_TRUE(engine_->OpenDrive(drive_, false, nullptr, nullptr));
        manifest_ = vt::test::ReadNtfsManifest(stem_ + ".manifest");
    }
    void TearDown() override {
        engine_.reset();
        platform::SetMessagePump(nullptr);
        EXPECT_EQ(vt::test::FileChecksum(image_), checksum_) << "the scanned image was written";
    }
    tntfsfilerecord* Record(std::int64_t number) {
        for (auto& r : drive_->NtfsEntries)
            if (r->RecordNo == number && !r->Name.empty() && r->Name.rfind("[", 0) != 0) return r.get();
        return nullptr;
    }
    const NtfsManifestEntry& Entry(const std::string& path) {
        for (const auto& e : manifest_)
            if (e.path == path) return e;
        throw std::runtime_error("not in the manifest: " + path);
    }
    std::string stem_, image_;
    std::uint64_t checksum_ = 0;
    std::unique_ptr<TUndelete> engine_;
    TLogiDrive* drive_ = nullptr;
    std::vector<NtfsManifestEntry> manifest_;
    vt::test::TempDir dir_;
    platform::RecordingStatusPanel status_;
    platform::RecordingEventLog log_;
};

class NtfsRecovery : public NtfsVolumeTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { Open(GetParam()); }
};

TEST_P(NtfsRecovery, EveryFileComesBackByteForByte) {
    int checked = 0;
    for (const auto& e : manifest_) {
        // A record that was reused holds its newer file now.
        if (e.folder || e.deleted == "reused" || e.content == "-") continue;
        if (e.path.rfind("/Reused/", 0) == 0) continue;
        tntfsfilerecord* r = Record(e.record);
        ASSERT_NE(r, nullptr) << e.path;
        if (r->Name != e.Name()) continue;  // the record now holds another file
        const std::string name = "r" + std::to_string(e.record);
        EXPECT_TRUE(engine_->RecoverFile(r, name, dir_.Path(), &status_, &log_)) << e.path;
        EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/" + name), vt::test::NtfsContent(e.content)) << e.path;
        ++checked;
    }
    EXPECT_GT(checked, 60);
    EXPECT_TRUE(log_.rows.empty());
}

TEST_P(NtfsRecovery, DeletedFolderTreeIsRecreatedWithItsFiles) {
    tntfsfilerecord* tree = Record(Entry("/OldTree").record);
    ASSERT_NE(tree, nullptr);
    EXPECT_TRUE(engine_->RecoverFolder(tree, tree->Name, dir_.Path(), &status_, &log_));
    for (const char* path : {"/OldTree/a.txt", "/OldTree/Sub/b.bin", "/OldTree/Sub/c.txt"})
        EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + path), vt::test::NtfsContent(Entry(path).content)) << path;
}

// Links planted under the names a recovery takes, before or after the name
// was chosen: nothing is written through them, and the file or folder
// takes the next free name.
TEST_P(NtfsRecovery, LinksUnderTheChosenNamesAreNeverFollowed) {
    tntfsfilerecord* plain = Record(Entry("/multi.bin").record);
    tntfsfilerecord* small = Record(Entry("/readme.txt").record);
    tntfsfilerecord* tree = Record(Entry("/OldTree").record);
    ASSERT_TRUE(plain && small && tree);
    for (const vt::test::LinkCase& c : vt::test::kLinkCases) {
        SCOPED_TRACE(c.label);
        vt::test::TempDir target;
        const std::string t = target.Path();
        vt::test::LinkTrap trap;
        // A plain and a resident file, a folder, and inside the new folder
        // (only during the recovery) a file and a sub-folder.
        trap.Plant(t, "multi.bin", c);
        trap.Plant(t, "readme.txt", c);
        trap.Plant(t, "OldTree", c);
        const bool during = c.when == vt::test::PlantWhen::AfterChoosing;
        if (during) {
            trap.Plant(t + "/OldTree_1", "a.txt", c);
            trap.Plant(t + "/OldTree_1", "Sub", c);
        }
        EXPECT_TRUE(engine_->RecoverFile(plain, "multi.bin", t, &status_, &log_));
        EXPECT_TRUE(engine_->RecoverFile(small, "readme.txt", t, &status_, &log_));
        EXPECT_TRUE(engine_->RecoverFolder(tree, "OldTree", t, &status_, &log_));
        EXPECT_TRUE(trap.AllPlanted());
        EXPECT_TRUE(trap.Untouched());
        EXPECT_EQ(vt::test::ReadWholeFile(t + "/multi_1.bin"), vt::test::NtfsContent(Entry("/multi.bin").content));
        EXPECT_EQ(vt::test::ReadWholeFile(t + "/readme_1.txt"), vt::test::NtfsContent(Entry("/readme.txt").content));
        EXPECT_EQ(vt::test::ReadWholeFile(t + (during ? "/OldTree_1/a_1.txt" : "/OldTree_1/a.txt")),
                  vt::test::NtfsContent(Entry("/OldTree/a.txt").content));
        EXPECT_EQ(vt::test::ReadWholeFile(t + (during ? "/OldTree_1/Sub_1/b.bin" : "/OldTree_1/Sub/b.bin")),
                  vt::test::NtfsContent(Entry("/OldTree/Sub/b.bin").content));
    }
    EXPECT_TRUE(log_.rows.empty());
}

// A sub-folder swapped for a link between its creation and its files: it
// counts as a folder that cannot be created, nothing goes through the link,
// and the rest of the tree is written.
TEST_P(NtfsRecovery, ASubFolderSwappedForALinkGetsNothing) {
    tntfsfilerecord* tree = Record(Entry("/OldTree").record);
    ASSERT_NE(tree, nullptr);
    vt::test::LinkTrap trap;
    trap.SwapFolderForLink(dir_.Path() + "/OldTree", "Sub");
    EXPECT_TRUE(engine_->RecoverFolder(tree, tree->Name, dir_.Path(), &status_, &log_));
    EXPECT_TRUE(trap.AllPlanted());
    EXPECT_TRUE(trap.Untouched());
    EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/OldTree/a.txt"), vt::test::NtfsContent(Entry("/OldTree/a.txt").content));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "OldTree/Sub:  无法创建目标文件，其中 2 个文件、0 个文件夹未写入");
}

TEST_P(NtfsRecovery, RecoveringTheRootDoesNotEnterItselfAgain) {
    tntfsfilerecord* root = Record(5);
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(engine_->RecoverFolder(root, "root", dir_.Path(), &status_, &log_));
    EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/root/Documents/Projects/Deep/leaf.dat"),
              vt::test::NtfsContent(Entry("/Documents/Projects/Deep/leaf.dat").content));
    EXPECT_FALSE(fs::exists(dir_.Path() + "/root/" + root->Name));
}

// A stop in a plain or a compressed copy: one stop line naming the file,
// and nothing left under its name.
TEST_P(NtfsRecovery, StopsNameTheFileAndLeaveNothingUnderItsName) {
    int calls = 0;
    platform::SetMessagePump([&] { if (++calls == 2) engine_->Stop(); }, std::chrono::milliseconds(0));
    tntfsfilerecord* plain = Record(Entry("/multi.bin").record);
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(engine_->RecoverFile(plain, "multi.bin", dir_.Path(), &status_, &log_));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "multi.bin:  恢复被用户中止");
    EXPECT_EQ(log_.rows[0].imageIndex, 1);

    // The next batch, as the window starts it, with the stop still asked.
    log_.rows.clear();
    engine_->StopLogged = false;
    tntfsfilerecord* packed = Record(Entry("/Compressed/mixed.bin").record);
    ASSERT_NE(packed, nullptr);
    ASSERT_TRUE(packed->FileName.FileAttributes.get() & kFileAttrCompressed);
    EXPECT_FALSE(engine_->RecoverFile(packed, "mixed.bin", dir_.Path(), &status_, &log_));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "mixed.bin:  恢复被用户中止");
    EXPECT_EQ(log_.rows[0].imageIndex, 1);
    EXPECT_TRUE(fs::is_empty(dir_.Path()));
}

// A cluster in the middle of a plain file that no longer reads: the
// clusters before it are in the file, which fails with its log line; the
// one read-error box names that cluster, as a read of it alone does.
TEST_P(NtfsRecovery, AnUnreadableClusterEndsTheFileAfterTheClustersBeforeIt) {
    tntfsfilerecord* plain = Record(Entry("/multi.bin").record);
    ASSERT_NE(plain, nullptr);
    const auto content = vt::test::NtfsContent(Entry("/multi.bin").content);
    const std::uint32_t cs = drive_->BootSector[0x0D] * 512u;
    ASSERT_GT(content.size(), 3u * cs);
    // Where the file's third cluster lies: its bytes are found in the image.
    const auto image = vt::test::ReadWholeFile(image_);
    const auto at = std::search(image.begin(), image.end(), content.begin() + 2 * cs, content.begin() + 3 * cs);
    ASSERT_NE(at, image.end());
    const std::size_t bad = static_cast<std::size_t>(at - image.begin()) / 512;
    const std::uint32_t spc = drive_->BootSector[0x0D];
    vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\nunreadable=" + std::to_string(bad) + "-" +
                             std::to_string(bad + spc - 1) + "\n");
    platform::MessageBoxRecorder boxes;
    EXPECT_FALSE(engine_->RecoverFile(plain, "multi.bin", dir_.Path(), &status_, &log_));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "multi.bin:  恢复失败");
    EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/multi.bin"),
              std::vector<std::uint8_t>(content.begin(), content.begin() + 2 * cs));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_NE(boxes.calls[0].text.find("扇区数:" + std::to_string(bad) + "   块:" + std::to_string(spc)),
              std::string::npos)
        << boxes.calls[0].text;
}

// The target fills up before a stop, while the bytes that did not fit
// still wait in the file's buffer: the file is dropped at the stop, so its
// stop line is what is logged, and nothing stands under its name.
TEST_P(NtfsRecovery, AStopBeforeAShortWriteWasSeenIsLoggedAsTheStop) {
    tntfsfilerecord* plain = Record(Entry("/multi.bin").record);
    ASSERT_NE(plain, nullptr);
    const std::string report = vt::test::InChildWithFileLimit(100, [&] {
        int calls = 0;
        platform::SetMessagePump([&] { if (++calls == 2) engine_->Stop(); }, std::chrono::milliseconds(0));
        const bool ok = engine_->RecoverFile(plain, "multi.bin", dir_.Path(), &status_, &log_);
        std::string out = std::to_string(ok) + "\n";
        for (const auto& row : log_.rows) out += row.caption + "|" + std::to_string(row.imageIndex) + "\n";
        return out;
    });
    EXPECT_EQ(report, "0\nmulti.bin:  恢复被用户中止|1\n");
    EXPECT_TRUE(fs::is_empty(dir_.Path()));
}

// A full target, plain and compressed: the short-write line, naming the
// file by the name it was to have, and nothing of it under that name.
// The target fills up at half the file, or only with its last bytes, the
// ones that wait in the file's buffer until it is closed.
TEST_P(NtfsRecovery, AShortWriteIsLoggedForPlainAndCompressedFilesAndLeavesNoName) {
    for (const char* path : {"/multi.bin", "/Compressed/text.txt"}) {
        tntfsfilerecord* r = Record(Entry(path).record);
        ASSERT_NE(r, nullptr);
        const auto size = static_cast<std::uint64_t>(Entry(path).size);
        ASSERT_GT(size, 2000u) << path;
        for (const std::uint64_t limit : {size / 2, size - 100}) {
            const std::string report = vt::test::InChildWithFileLimit(limit, [&] {
                engine_->RecoverFile(r, "out.bin", dir_.Path(), &status_, &log_);
                std::string out;
                for (const auto& row : log_.rows) out += row.caption + "|" + std::to_string(row.imageIndex) + "\n";
                return out;
            });
            // The part that went in gets no name: the next try finds the
            // name free again.
            EXPECT_EQ(report, "out.bin:  无法写入目标驱动器|2\n") << path << " limit " << limit;
            EXPECT_TRUE(fs::is_empty(dir_.Path())) << path << " limit " << limit;
        }
    }
}

// A folder's small files are written while the next ones are read: a
// write that fails there (a file-size limit in a child process) still names
// its file, before the line of a later file whose cluster does not read,
// and the file that fits is whole. The folder's order: Projects (with
// Deep/leaf.dat and plan.txt), old-draft.doc, report.doc.
TEST_P(NtfsRecovery, AWriteThatFailsBehindTheReadingIsLoggedBeforeTheNextFile) {
    tntfsfilerecord* folder = Record(Entry("/Documents").record);
    ASSERT_NE(folder, nullptr);
    const auto unread = vt::test::NtfsContent(Entry("/Documents/report.doc").content);
    const std::uint32_t spc = drive_->BootSector[0x0D];
    const auto image = vt::test::ReadWholeFile(image_);
    const auto at = std::search(image.begin(), image.end(), unread.begin(), unread.begin() + spc * 512u);
    ASSERT_NE(at, image.end());
    const std::size_t bad = static_cast<std::size_t>(at - image.begin()) / 512;
    vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\nunreadable=" + std::to_string(bad) + "-" +
                             std::to_string(bad + spc - 1) + "\n");
    // leaf.dat and old-draft.doc do not fit under the limit; plan.txt does.
    for (const char* path : {"/Documents/Projects/Deep/leaf.dat", "/Documents/old-draft.doc"})
        ASSERT_GT(Entry(path).size, 1000) << path;
    ASSERT_LT(Entry("/Documents/Projects/plan.txt").size, 1000);
    const std::string report = vt::test::InChildWithFileLimit(1000, [&] {
        platform::MessageBoxRecorder boxes;
        const bool ok = engine_->RecoverFolder(folder, "Documents", dir_.Path(), &status_, &log_);
        std::string out = std::to_string(ok) + "\n";
        for (const auto& row : log_.rows) out += row.caption + "|" + std::to_string(row.imageIndex) + "\n";
        return out;
    });
    EXPECT_EQ(report,
              "1\nDocuments/Projects/Deep/leaf.dat:  无法写入目标驱动器|2\nDocuments/old-draft.doc:  无法写入目标驱动器|2\n"
              "Documents/report.doc:  恢复失败|2\n");
    EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/Documents/Projects/plan.txt"),
              vt::test::NtfsContent(Entry("/Documents/Projects/plan.txt").content));
}

// A file whose record can no longer be read (the sector failed after the
// scan): the file (empty) is named as failed by its path, once, whether it
// is recovered alone, reported or in its folder.
TEST_P(NtfsRecovery, AFileWhoseRecordCannotBeReadIsNamedAsFailed) {
    tntfsfilerecord* file = Record(Entry("/one.bin").record);
    ASSERT_NE(file, nullptr);
    vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\nunreadable=" + std::to_string(file->RecordSector) +
                             "\n");
    platform::MessageBoxRecorder boxes;  // the read-error box of each failed read
    EXPECT_FALSE(engine_->RecoverFile(file, "one.bin", dir_.Path(), &status_, &log_));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "one.bin:  恢复失败");
    EXPECT_EQ(log_.rows[0].imageIndex, 2);
    engine_->RecoverFileReported(file, "one.bin", dir_.Path(), &status_, &log_);
    ASSERT_EQ(log_.rows.size(), 2u);
    EXPECT_EQ(log_.rows[1].caption, "one_1.bin:  恢复失败");
    EXPECT_FALSE(boxes.calls.empty());
    tntfsfilerecord* parent = file->Parent;
    ASSERT_NE(parent, nullptr);
    log_.rows.clear();
    engine_->RecoverFolder(parent, "root", dir_.Path() + "/", &status_, &log_);
    EXPECT_EQ(std::count_if(log_.rows.begin(), log_.rows.end(),
                            [](const auto& r) { return r.caption == "root/one.bin:  恢复失败"; }),
              1);
}

// A target that refuses new files (a read-only file system): a resident, a
// plain and a compressed file each get the target's line, not a lost
// source's, and so does the folder, with what it held.
TEST_P(NtfsRecovery, ATargetThatRefusesFilesGetsTheTargetsLine) {
    vt::test::SmallTmpfs target("size=1m");
    if (!target.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (root is needed)";
    ASSERT_TRUE(target.MakeReadOnly());
    for (const char* path : {"/readme.txt", "/multi.bin", "/Compressed/text.txt"}) {
        tntfsfilerecord* r = Record(Entry(path).record);
        ASSERT_NE(r, nullptr) << path;
        log_.rows.clear();
        engine_->RecoverFileReported(r, r->Name, target.Path(), &status_, &log_);
        ASSERT_EQ(log_.rows.size(), 1u) << path;
        EXPECT_EQ(log_.rows[0].caption, r->Name + ":  无法创建目标文件") << path;
        EXPECT_EQ(log_.rows[0].imageIndex, 2) << path;
    }
    tntfsfilerecord* folder = Record(Entry("/Documents").record);
    ASSERT_NE(folder, nullptr);
    log_.rows.clear();
    engine_->RecoverFolder(folder, "Documents", target.Path(), &status_, &log_);
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "Documents:  无法创建目标文件，其中 4 个文件、2 个文件夹未写入");
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsRecovery, ::testing::Values("ntfs-512", "ntfs-1024", "ntfs-2048", "ntfs-4096"),
                         [](const auto& info) { return std::string(info.param).substr(5); });

// Names that libntfs-3g moved to extension records: a folder of 600 files
// and a fragmented file whose $DATA the base record's attribute list spreads
// over two records.
using NtfsRecoveryNamesMovedOut = NtfsRecovery;

TEST_P(NtfsRecoveryNamesMovedOut, FolderAndFileComeBackWhole) {
    tntfsfilerecord* big = Record(Entry("/Big").record);
    ASSERT_NE(big, nullptr);
    EXPECT_TRUE(engine_->RecoverFolder(big, big->Name, dir_.Path(), &status_, &log_));
    int files = 0;
    for (const auto& e : manifest_) {
        if (e.path.rfind("/Big/", 0) != 0 || e.folder) continue;
        EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + e.path), vt::test::NtfsContent(e.content)) << e.path;
        ++files;
    }
    EXPECT_EQ(files, 601);
    tntfsfilerecord* scattered = Record(Entry("/scattered.bin").record);
    ASSERT_NE(scattered, nullptr);
    EXPECT_TRUE(engine_->RecoverFile(scattered, "scattered.bin", dir_.Path(), &status_, &log_));
    EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/scattered.bin"),
              vt::test::NtfsContent(Entry("/scattered.bin").content));
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(engine_->ReadFileHead(scattered, head));
    const auto content = vt::test::NtfsContent(Entry("/scattered.bin").content);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), content.begin()));
    EXPECT_TRUE(log_.rows.empty());
}

// A folder of 601 files into a target that fills up after a few dozen (a
// tiny tmpfs): every name there holds its file whole, and every file that
// is not there whole is named in the log as not written; none is left
// empty or cut short under its name.
TEST_P(NtfsRecoveryNamesMovedOut, OnAFullTargetEveryNameHoldsItsWholeFileAndTheRestAreLogged) {
    vt::test::SmallTmpfs target("size=192k");
    if (!target.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (root is needed)";
    tntfsfilerecord* big = Record(Entry("/Big").record);
    ASSERT_NE(big, nullptr);
    engine_->RecoverFolder(big, "Big", target.Path(), &status_, &log_);
    std::set<std::string> logged;
    for (const auto& row : log_.rows) {
        const std::string tail = ":  无法写入目标驱动器";
        ASSERT_GT(row.caption.size(), tail.size()) << row.caption;
        ASSERT_EQ(row.caption.substr(row.caption.size() - tail.size()), tail) << row.caption;
        logged.insert("/" + row.caption.substr(0, row.caption.size() - tail.size()));
    }
    int whole = 0;
    for (const auto& e : manifest_) {
        if (e.path.rfind("/Big/", 0) != 0 || e.folder) continue;
        const std::string path = target.Path() + e.path;
        if (fs::exists(path)) {
            EXPECT_EQ(vt::test::ReadWholeFile(path), vt::test::NtfsContent(e.content)) << e.path << " is not whole";
            EXPECT_EQ(logged.count(e.path), 0u) << e.path;
            ++whole;
        } else {
            EXPECT_EQ(logged.count(e.path), 1u) << e.path << " is neither there nor logged";
        }
    }
    EXPECT_GT(whole, 0);
    EXPECT_GT(logged.size(), 0u);
    std::size_t names = 0;
    for (const auto& f : fs::recursive_directory_iterator(target.Path())) names += f.is_regular_file() ? 1 : 0;
    EXPECT_EQ(names, static_cast<std::size_t>(whole));
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsRecoveryNamesMovedOut, ::testing::Values("ntfs-bigdir"),
                         [](const auto& info) { return std::string(info.param).substr(5); });

// Volumes of unusual layouts and of damage (tests/fixtures/ntfs-builder.c,
// modes holes, damaged and wide). What each damaged file must give: its
// bytes as far as they can be read, and a line when that is not the whole
// file.
struct DamagedFileCase {
    const char* label;
    const char* path;
    // The bytes the file must hold, from the manifest's contents.
    std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> expect;
    bool failed;
};

void PrintTo(const DamagedFileCase& c, std::ostream* os) { *os << c.label; }

std::vector<std::uint8_t> Whole(const std::vector<std::uint8_t>& c) { return c; }
std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> FirstBytes(std::size_t n) {
    return [n](const std::vector<std::uint8_t>& c) { return std::vector<std::uint8_t>(c.begin(), c.begin() + n); };
}

// The original's first n bytes, then zeros to its full size.
std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> ZerosPast(std::size_t n) {
    return [n](const std::vector<std::uint8_t>& c) {
        std::vector<std::uint8_t> out(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(std::min(n, c.size())));
        out.resize(c.size(), 0);
        return out;
    };
}

const DamagedFileCase kDamagedFiles[] = {
    // Two extents of $DATA in one extension record: each list entry names
    // its own by instance and first cluster.
    {"ExtentsSharingARecord", "/two-extents.bin", Whole, false},
    // The record of its second extent names another file as its base now:
    // the first extent's bytes, then the line.
    {"ExtensionRecordTakenByAnotherFile", "/reused-ext.bin", FirstBytes(888 * 1024), true},
    // Its second run starts in the volume's last two clusters and runs
    // past its end: the first run's bytes, then the line.
    {"RunPastTheVolume", "/pastend.bin", FirstBytes(8 * 1024), true},
    // A real size 5000 bytes beyond what the runs hold: their four
    // clusters (the last one's slack is zeros), then the line.
    {"RealSizeBeyondTheRuns", "/short.bin",
     [](const std::vector<std::uint8_t>& c) {
         std::vector<std::uint8_t> out = c;
         out.resize(4 * 1024, 0);
         return out;
     },
     true},
    // The run list ends after its first run.
    {"CutRunList", "/cut-list.bin", FirstBytes(8 * 1024), true},
    // Bytes past the initialized size read as zeros.
    {"InitializedSizeInsideTheFile", "/uninit.bin", ZerosPast(2 * 1024 + 300), false},
    {"InitializedSizeInsideTheHead", "/uninit-head.bin", ZerosPast(700), false},
    // The same in a compressed file: its units past the initialized size
    // decode to text that NTFS does not show.
    {"CompressedWithInitializedSizeInside", "/Packed/uninit.txt", ZerosPast(40000), false},
    // Compressed by its attribute's header; the file's flags say nothing.
    {"CompressedWithoutTheFlag", "/Packed/noflag.txt", Whole, false},
    {"NameWithALongerDosName", "/a b.txt", Whole, false},
    {"FileAfterTheDamage", "/taker.txt", Whole, false},
    // Written on the clusters of a deleted file: its own bytes.
    {"FileOnADeletedFilesClusters", "/newer.bin", Whole, false},
};

class NtfsDamagedFile : public NtfsVolumeTest, public ::testing::WithParamInterface<DamagedFileCase> {
protected:
    void SetUp() override { Open("ntfs-damaged"); }
};

TEST_P(NtfsDamagedFile, IsWrittenAsFarAsItReadsAndNamedWhenShort) {
    const DamagedFileCase& c = GetParam();
    const NtfsManifestEntry& e = Entry(c.path);
    tntfsfilerecord* r = Record(e.record);
    ASSERT_NE(r, nullptr) << c.path;
    EXPECT_EQ(r->Name, e.Name());
    engine_->RecoverFileReported(r, "out.bin", dir_.Path(), &status_, &log_);
    EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/out.bin"), c.expect(vt::test::NtfsContent(e.content)));
    std::vector<std::string> rows;
    for (const auto& row : log_.rows) rows.push_back(row.caption);
    EXPECT_EQ(rows, c.failed ? std::vector<std::string>{"out.bin:  恢复失败"} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Files, NtfsDamagedFile, ::testing::ValuesIn(kDamagedFiles),
                         [](const auto& info) { return std::string(info.param.label); });

// Files whose record contradicts itself, or whose clusters another file
// holds now (vt::test::kContradictedNtfsFiles).
using vt::test::ContradictedNtfsFile;
class NtfsContradictedFile : public NtfsVolumeTest, public ::testing::WithParamInterface<ContradictedNtfsFile> {
protected:
    void SetUp() override { Open("ntfs-damaged"); }
};

TEST_P(NtfsContradictedFile, KeepsWhatTheRecordVouchesForAndIsNamedAsFailed) {
    const ContradictedNtfsFile& c = GetParam();
    const NtfsManifestEntry& e = Entry(c.path);
    tntfsfilerecord* r = Record(e.record);
    ASSERT_NE(r, nullptr) << c.path;
    engine_->RecoverFileReported(r, "out.bin", dir_.Path(), &status_, &log_);
    ASSERT_TRUE(fs::exists(dir_.Path() + "/out.bin"));
    EXPECT_TRUE(vt::test::HoldsVouchedBytes(vt::test::ReadWholeFile(dir_.Path() + "/out.bin"),
                                            vt::test::NtfsContent(e.content), c.head, c.tail));
    std::vector<std::string> rows;
    for (const auto& row : log_.rows) rows.push_back(row.caption);
    EXPECT_EQ(rows, std::vector<std::string>{"out.bin:  恢复失败"});
}

INSTANTIATE_TEST_SUITE_P(Files, NtfsContradictedFile, ::testing::ValuesIn(vt::test::kContradictedNtfsFiles),
                         [](const auto& info) { return std::string(info.param.label); });

class NtfsDamagedVolume : public NtfsVolumeTest {
protected:
    void SetUp() override { Open("ntfs-damaged"); }
};

// The head of a file whose initialized size ends inside it: its bytes up
// to there, then zeros, as NTFS reads it.
TEST_F(NtfsDamagedVolume, PreviewShowsZerosPastTheInitializedSize) {
    const NtfsManifestEntry& e = Entry("/uninit-head.bin");
    tntfsfilerecord* r = Record(e.record);
    ASSERT_NE(r, nullptr);
    std::array<std::uint8_t, 2048> head{};
    ASSERT_TRUE(engine_->ReadFileHead(r, head));
    std::vector<std::uint8_t> want = vt::test::NtfsContent(e.content);
    want.resize(700);
    want.resize(head.size(), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(head.begin(), head.end()), want);
}

// A torn record is left out of the listing and counted; a hard-linked
// file is listed under one of its names, in that name's folder.
TEST_F(NtfsDamagedVolume, TornRecordIsCountedAndLinksKeepNameAndFolderTogether) {
    EXPECT_EQ(Record(Entry("/torn.txt").record), nullptr);
    EXPECT_EQ(engine_->DamagedRecords, 1u);
    EXPECT_EQ(engine_->UnreadableRecords, 0u);
    tntfsfilerecord* linked = Record(Entry("/Left/linked.txt").record);
    ASSERT_NE(linked, nullptr);
    EXPECT_TRUE(engine_->RecoverFile(linked, linked->Name, dir_.Path(), &status_, &log_));
    EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/" + linked->Name),
              vt::test::NtfsContent(Entry("/Left/linked.txt").content));
    EXPECT_TRUE(log_.rows.empty());
    const std::int64_t parent = FileRefToInt64(linked->FileName.ParentRef);
    if (linked->Name == "linked.txt") EXPECT_EQ(parent, Entry("/Left").record);
    else if (linked->Name == "other name.txt") EXPECT_EQ(parent, Entry("/Right").record);
    else ADD_FAILURE() << linked->Name;
    const tntfsfilerecord* dos = Record(Entry("/a b.txt").record);
    ASSERT_NE(dos, nullptr);
    EXPECT_EQ(dos->Name, "a b.txt");
}

// A record torn after the scan: the file is named as failed, nothing of it
// is taken for its bytes.
TEST_F(NtfsDamagedVolume, RecordTornAfterTheScanFailsTheFile) {
    tntfsfilerecord* r = Record(Entry("/taker.txt").record);
    ASSERT_NE(r, nullptr);
    tntfsfilerecord torn = *r;
    // The torn record of torn.txt, under taker.txt's entry.
    torn.RecordNo = Entry("/torn.txt").record;
    torn.RecordSector = engine_->MftPosToSector(torn.RecordNo);
    engine_->RecoverFileReported(&torn, "torn.txt", dir_.Path(), &status_, &log_);
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "torn.txt:  恢复失败");
}

// A volume of 4096-byte sectors (records of 4096 bytes) is no volume this
// engine reads: it is refused with the unrecognised-format box, and no
// file is listed, so none can come back with a record's first 1024 bytes
// taken for all of it.
TEST(NtfsLargeRecords, VolumeOf4096ByteSectorsIsRefusedWithTheBox) {
    const std::string image = vt::test::ImagePath("ntfs-bigrecords.img");
    vt::test::InstallProfile("[logical.E]\nimage=" + image + "\n");
    DiskUtils::Initialize();
    platform::MessageBoxRecorder boxes;
    TUndelete engine;
    TLogiDrive* drive = engine.Drives.at(0).get();
    EXPECT_FALSE(engine.OpenDrive(drive, false, nullptr, nullptr));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "E: - Unrecognized drive format.");
    EXPECT_EQ(drive->FsType, vt::fsUnknown);
    EXPECT_TRUE(drive->NtfsEntries.empty());
}

// Whole volumes whose every file must come back: a table grown into holes
// of one-sector clusters (most records straddle two of its runs), and
// clusters of 64 KiB.
class NtfsUnusualVolume : public NtfsRecovery {};

TEST_P(NtfsUnusualVolume, EveryFileComesBackByteForByte) {
    int checked = 0;
    for (const auto& e : manifest_) {
        if (e.folder) continue;
        tntfsfilerecord* r = Record(e.record);
        ASSERT_NE(r, nullptr) << e.path;
        EXPECT_EQ(r->Name, e.Name());
        const std::string name = "r" + std::to_string(e.record);
        EXPECT_TRUE(engine_->RecoverFile(r, name, dir_.Path(), &status_, &log_)) << e.path;
        EXPECT_EQ(vt::test::ReadWholeFile(dir_.Path() + "/" + name), vt::test::NtfsContent(e.content)) << e.path;
        ++checked;
    }
    EXPECT_GE(checked, 4);
    EXPECT_TRUE(log_.rows.empty());
    EXPECT_EQ(engine_->DamagedRecords, 0u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsUnusualVolume, ::testing::Values("ntfs-holes", "ntfs-wide"),
                         [](const auto& info) { return std::string(info.param).substr(5); });

}  // namespace
