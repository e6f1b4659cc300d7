// The standard engine's recovery of FAT files and folders, compared byte
// for byte with the files the fixture script put on the volumes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "LinkTraps.h"
#include "Recorders.h"
#include "TargetFolder.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The fixture's file contents.
Bytes Original(const std::string& name, std::size_t size) { return vt::test::YesContent(name, size); }

std::string PathOf(const TMidEntry& e) {
    std::string path = GetEntryDisplayName(e);
    for (const TMidEntry* p = e.Parent; p; p = p->Parent) path = GetEntryDisplayName(*p) + "/" + path;
    return path;
}

class FatRecovery : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        image_ = vt::test::ImagePath(GetParam());
        checksum_ = vt::test::FileChecksum(image_);
        vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\n");
        DiskUtils::Initialize();
        engine_ = std::make_unique<TUndelete>();
        drive_ = engine_->Drives.at(0).get();
        ASSERT_TRUE(engine_->OpenDrive(drive_, false, nullptr, nullptr));
    }
    void TearDown() override {
        engine_.reset();
        platform::SetMessagePump(nullptr);
        EXPECT_EQ(vt::test::FileChecksum(image_), checksum_) << "the scanned image was written";
    }
    TMidEntry* Find(const std::string& path) {
        for (auto& e : drive_->Entries)
            if (PathOf(*e) == path) return e.get();
        ADD_FAILURE() << "not listed: " << path;
        return nullptr;
    }
    bool Recover(const std::string& path, const std::string& name) {
        TMidEntry* e = Find(path);
        return e && engine_->RecoverFile(e, name, dir_.Path(), &status_, &log_);
    }
    Bytes Written(const std::string& name) { return vt::test::ReadWholeFile(dir_.Path() + "/" + name); }
    std::uint32_t ClusterBytes() const { return drive_->BootSector[0x0D] * 512u; }

    std::string image_;
    std::uint64_t checksum_ = 0;
    std::unique_ptr<TUndelete> engine_;
    TLogiDrive* drive_ = nullptr;
    vt::test::TempDir dir_;
    platform::RecordingStatusPanel status_;
    platform::RecordingEventLog log_;
};

TEST_P(FatRecovery, PresentFilesComeBackByteForByteFragmentedOnesIncluded) {
    const std::uint32_t cs = ClusterBytes();
    struct Case {
        const char* shown;
        std::size_t size;
    };
    const bool fat32 = drive_->FsType == vt::fsFat32;
    auto shown = [&](const std::string& upper, const std::string& mixed) { return fat32 ? upper : mixed; };
    for (Case c : {Case{"ONE.BIN", cs}, Case{"SEVERAL.BIN", 3 * cs + 17}, Case{"FRAG.BIN", 4 * cs + 100},
                   Case{"ZERO.BIN", 0}, Case{"EXACT.BIN", 2 * cs}, Case{"AFTER.BIN", cs}}) {
        const std::string name = c.shown;
        const std::string path = shown(name, std::string(1, name[0]) + [&] {
            std::string rest = name.substr(1);
            for (char& ch : rest) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            return rest;
        }());
        ASSERT_TRUE(Recover(path, name)) << path;
        EXPECT_EQ(Written(name), Original(name, c.size)) << path;
    }
    EXPECT_TRUE(log_.rows.empty());
}

TEST_P(FatRecovery, DeletedFolderTreeIsRecreatedWithItsFiles) {
    TMidEntry* gone = Find("Gone");
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->Status, 1);
    EXPECT_TRUE(engine_->RecoverFolder(gone, GetEntryFileName(*gone), dir_.Path(), &status_, &log_));
    const std::uint32_t cs = ClusterBytes();
    EXPECT_EQ(Written("Gone/Deleted file.txt"), Original("Deleted file.txt", 2 * cs + 300));
    const bool fat32 = drive_->FsType == vt::fsFat32;
    // Deleted short names lose their first letter: recovered with "@".
    EXPECT_EQ(Written(fat32 ? "Gone/Sub/@NNER.TXT" : "Gone/Sub/@nner.txt"), Original("INNER.TXT", 700));
    EXPECT_TRUE(Written(fat32 ? "Gone/Sub/@MPTY.TXT" : "Gone/Sub/@mpty.txt").empty());
    // The status panel named each file as it was written.
    EXPECT_NE(std::find(status_.texts.begin(), status_.texts.end(), " Deleted file.txt"), status_.texts.end());
}

TEST_P(FatRecovery, DeletedFileIsReadAsConsecutiveClusters) {
    const bool fat32 = drive_->FsType == vt::fsFat32;
    TMidEntry* lost = Find(fat32 ? "?OST.TXT" : "?ost.txt");
    ASSERT_NE(lost, nullptr);
    ASSERT_TRUE(engine_->RecoverFile(lost, GetEntryFileName(*lost), dir_.Path(), &status_, &log_));
    EXPECT_EQ(Written(GetEntryFileName(*lost)), Original("LOST.TXT", ClusterBytes() + 5));
}

TEST_P(FatRecovery, NamesThatExistGetNumberedSuffixes) {
    const bool fat32 = drive_->FsType == vt::fsFat32;
    const std::string one = fat32 ? "ONE.BIN" : "One.bin";
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Recover(one, "ONE.BIN"));
    for (const char* n : {"ONE.BIN", "ONE_1.BIN", "ONE_2.BIN"}) EXPECT_EQ(Written(n), Original("ONE.BIN", ClusterBytes())) << n;
}

// The file in hand when the stop comes is named in the stop line and is
// not left under its name: what was copied of it is not the file.
TEST_P(FatRecovery, AStopDuringACopyIsLoggedAndLeavesNoFileUnderTheName) {
    const bool fat32 = drive_->FsType == vt::fsFat32;
    int calls = 0;
    platform::SetMessagePump([&] { if (++calls == 3) engine_->Stop(); }, std::chrono::milliseconds(0));
    EXPECT_FALSE(Recover(fat32 ? "SEVERAL.BIN" : "Several.bin", "SEVERAL.BIN"));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "SEVERAL.BIN:  恢复被用户中止");
    EXPECT_EQ(log_.rows[0].imageIndex, 1);
    EXPECT_TRUE(engine_->StopLogged);
    EXPECT_TRUE(fs::is_empty(dir_.Path()));
}

TEST_P(FatRecovery, AStopBetweenChildrenEndsTheFolderWithItsLine) {
    TMidEntry* gone = Find("Gone");
    ASSERT_NE(gone, nullptr);
    engine_->Stop();
    EXPECT_FALSE(engine_->RecoverFolder(gone, "Gone", dir_.Path(), &status_, &log_));
    EXPECT_TRUE(fs::is_directory(dir_.Path() + "/Gone"));
    EXPECT_TRUE(fs::is_empty(dir_.Path() + "/Gone"));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "Gone:  恢复被用户中止");
}

TEST_P(FatRecovery, ATargetThatCannotBeCreatedIsLogged) {
    const bool fat32 = drive_->FsType == vt::fsFat32;
    TMidEntry* e = Find(fat32 ? "ONE.BIN" : "One.bin");
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(engine_->RecoverFile(e, "ONE.BIN", dir_.Path() + "/no/such/folder", &status_, &log_));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "ONE.BIN:  无法创建目标文件");
    EXPECT_EQ(log_.rows[0].imageIndex, 2);
}

// Links planted under the names a recovery takes, by anyone who may write
// into the target folder, before or after the name was chosen: nothing is
// written through them, and the file or folder takes the next free name.
TEST_P(FatRecovery, LinksUnderTheChosenNamesAreNeverFollowed) {
    const bool fat32 = drive_->FsType == vt::fsFat32;
    TMidEntry* one = Find(fat32 ? "ONE.BIN" : "One.bin");
    TMidEntry* gone = Find("Gone");
    ASSERT_TRUE(one && gone);
    const std::string inner = fat32 ? "@NNER.TXT" : "@nner.txt";
    const std::uint32_t cs = ClusterBytes();
    for (const vt::test::LinkCase& c : vt::test::kLinkCases) {
        SCOPED_TRACE(c.label);
        vt::test::TempDir target;
        const std::string t = target.Path();
        vt::test::LinkTrap trap;
        trap.Plant(t, "ONE.BIN", c);
        trap.Plant(t, "Gone", c);
        // Inside the new folder only a link planted during the recovery can
        // be there already.
        const bool during = c.when == vt::test::PlantWhen::AfterChoosing;
        if (during) {
            trap.Plant(t + "/Gone_1", "Deleted file.txt", c);
            trap.Plant(t + "/Gone_1", "Sub", c);
        }
        EXPECT_TRUE(engine_->RecoverFile(one, "ONE.BIN", t, &status_, &log_));
        EXPECT_TRUE(engine_->RecoverFolder(gone, "Gone", t, &status_, &log_));
        EXPECT_TRUE(trap.AllPlanted());
        EXPECT_TRUE(trap.Untouched());
        EXPECT_EQ(vt::test::ReadWholeFile(t + "/ONE_1.BIN"), Original("ONE.BIN", cs));
        EXPECT_EQ(vt::test::ReadWholeFile(t + (during ? "/Gone_1/Deleted file_1.txt" : "/Gone_1/Deleted file.txt")),
                  Original("Deleted file.txt", 2 * cs + 300));
        EXPECT_EQ(vt::test::ReadWholeFile(t + (during ? "/Gone_1/Sub_1/" : "/Gone_1/Sub/") + inner),
                  Original("INNER.TXT", 700));
    }
    EXPECT_TRUE(log_.rows.empty());
}

// A sub-folder swapped for a link between its creation and its files: it
// counts as a folder that cannot be created, nothing goes through the link,
// and the rest of the tree is written.
TEST_P(FatRecovery, ASubFolderSwappedForALinkGetsNothing) {
    TMidEntry* gone = Find("Gone");
    ASSERT_NE(gone, nullptr);
    vt::test::LinkTrap trap;
    trap.SwapFolderForLink(dir_.Path() + "/Gone", "Sub");
    EXPECT_TRUE(engine_->RecoverFolder(gone, "Gone", dir_.Path(), &status_, &log_));
    EXPECT_TRUE(trap.AllPlanted());
    EXPECT_TRUE(trap.Untouched());
    EXPECT_EQ(Written("Gone/Deleted file.txt"), Original("Deleted file.txt", 2 * ClusterBytes() + 300));
    // Named by its path below the target, with what it held.
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "Gone/Sub:  无法创建目标文件，其中 2 个文件、0 个文件夹未写入");
}

// A cluster in the middle of a file that no longer reads: the clusters
// before it are in the file, which is named as failed; the one read-error
// box names that cluster, as a read of it alone does.
TEST_P(FatRecovery, AnUnreadableClusterEndsTheFileAfterTheClustersBeforeIt) {
    const bool fat32 = drive_->FsType == vt::fsFat32;
    TMidEntry* e = Find(fat32 ? "SEVERAL.BIN" : "Several.bin");
    ASSERT_NE(e, nullptr);
    std::vector<std::uint32_t> chain;
    const std::uint32_t first = fat32 ? (static_cast<std::uint32_t>(e->DirEntry.FstClusHI.get()) << 16) | e->DirEntry.FstClusLO.get()
                                      : e->DirEntry.FstClusLO.get();
    ASSERT_TRUE(engine_->GetFileClusters(first, 4, chain));
    const auto bad = engine_->FatClusterSector(chain[2]);
    ASSERT_TRUE(bad);
    const std::uint32_t spc = drive_->BootSector[0x0D];
    vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\nunreadable=" + std::to_string(*bad) + "-" +
                             std::to_string(*bad + spc - 1) + "\n");
    platform::MessageBoxRecorder boxes;
    EXPECT_FALSE(engine_->RecoverFile(e, "SEVERAL.BIN", dir_.Path(), &status_, &log_));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "SEVERAL.BIN:  恢复失败");
    Bytes want = Original("SEVERAL.BIN", 3 * ClusterBytes() + 17);
    want.resize(2 * ClusterBytes());
    EXPECT_EQ(Written("SEVERAL.BIN"), want);
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_NE(boxes.calls[0].text.find("扇区数:" + std::to_string(*bad) + "   块:" + std::to_string(spc)),
              std::string::npos)
        << boxes.calls[0].text;
}

// A full target: a file-size limit in a child process makes the write
// fall short; the child reports the log lines it got.
TEST_P(FatRecovery, AShortWriteIsLoggedWithoutACrash) {
    const bool fat32 = drive_->FsType == vt::fsFat32;
    TMidEntry* e = Find(fat32 ? "SEVERAL.BIN" : "Several.bin");
    ASSERT_NE(e, nullptr);
    const std::string report = vt::test::InChildWithFileLimit(ClusterBytes() + 10, [&] {
        const bool ok = engine_->RecoverFile(e, "SEVERAL.BIN", dir_.Path(), &status_, &log_);
        std::string out = std::to_string(ok) + "\n";
        for (const auto& r : log_.rows) out += r.caption + "|" + std::to_string(r.imageIndex) + "\n";
        return out;
    });
    EXPECT_EQ(report, "0\nSEVERAL.BIN:  无法写入目标驱动器|2\n");
}

// A 32 MiB FAT16 volume of which only the first 1.2 MB were dumped: its
// tables list every file at full size, but the reads past the end come
// back short. On the NT family each such read shows the read-error box
// (Windows 9x fails it silently); on both, each file that could not be read
// whole is named as failed, whatever part of it was written.
// The volume is scanned on the NT family (GetParam()) or on Windows 9x;
// byPath holds its entries by their upper-case paths.
class TruncatedFatVolume : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        checksum = vt::test::FileChecksum(image);
        vt::test::InstallProfile(std::string(GetParam() ? "" : "[machine]\nfamily=9x\nhide_real_devices=1\n") +
                                 "[logical.E]\nimage=" + image + "\n");
        DiskUtils::Initialize();
        engine_ = std::make_unique<TUndelete>();
        TLogiDrive* drive = engine_->Drives.at(0).get();
        ASSERT_TRUE(engine_->OpenDrive(drive, false, nullptr, nullptr));
        for (auto& e : drive->Entries) {
            std::string path = PathOf(*e);
            for (char& ch : path) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            byPath[path] = e.get();
        }
    }
    void TearDown() override {
        engine_.reset();
        EXPECT_EQ(vt::test::FileChecksum(image), checksum) << "the scanned image was written";
        vt::test::InstallProfile("");
        DiskUtils::Initialize();
    }
    const std::string image = vt::test::ImagePath("truncated16.img");
    std::uint64_t checksum = 0;
    platform::MessageBoxRecorder boxes;  // from before the scan
    std::unique_ptr<TUndelete> engine_;
    std::map<std::string, TMidEntry*> byPath;
};

TEST_P(TruncatedFatVolume, FilesPastTheEndAreNamedAsFailed) {
    const bool nt = GetParam();
    TUndelete& engine = *engine_;
    EXPECT_TRUE(boxes.calls.empty()) << "the tables lie before the cut";
    ASSERT_EQ(byPath.count("BIG.BIN"), 1u);
    EXPECT_EQ(byPath["BIG.BIN"]->DirEntry.FileSize.get(), 1300000u);  // listed at its full size

    vt::test::TempDir dir;
    platform::RecordingStatusPanel status;
    platform::RecordingEventLog log;
    struct Case {
        const char* path;
        const char* name;
        std::size_t size;
        bool whole;
    };
    for (const Case& c : {Case{"FIRST.BIN", "FIRST.BIN", 10000, true}, Case{"SECOND.BIN", "SECOND.BIN", 20000, true},
                          Case{"BIG.BIN", "BIG.BIN", 1300000, false}, Case{"AFTER.BIN", "AFTER.BIN", 5000, false}}) {
        SCOPED_TRACE(c.name);
        const std::size_t rows = log.rows.size(), shown = boxes.calls.size();
        EXPECT_EQ(engine.RecoverFile(byPath.at(c.path), c.name, dir.Path(), &status, &log), c.whole);
        const Bytes written = vt::test::ReadWholeFile(dir.Path() + "/" + c.name);
        const Bytes original = Original(c.name, c.size);
        if (c.whole) {
            EXPECT_EQ(written, original);
            EXPECT_EQ(log.rows.size(), rows);
            EXPECT_EQ(boxes.calls.size(), shown);
            continue;
        }
        // The readable part may stay, and it is the original's start.
        EXPECT_LT(written.size(), original.size());
        EXPECT_TRUE(std::equal(written.begin(), written.end(), original.begin()));
        ASSERT_EQ(log.rows.size(), rows + 1);
        EXPECT_EQ(log.rows.back().caption, std::string(c.name) + ":  恢复失败");
        EXPECT_EQ(log.rows.back().imageIndex, 2);
        if (!nt) {
            EXPECT_EQ(boxes.calls.size(), shown);
            continue;
        }
        ASSERT_EQ(boxes.calls.size(), shown + 1);
        EXPECT_EQ(boxes.calls.back().text.rfind("Error when reading data:\r\nError Code:38\r\n驱动器E   扇区数:", 0), 0u)
            << boxes.calls.back().text;
    }

    // The folder: its early file whole, its late one named as failed.
    const std::size_t rows = log.rows.size();
    engine.RecoverFolder(byPath.at("DIR"), "DIR", dir.Path(), &status, &log);
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/DIR/" + GetEntryFileName(*byPath.at("DIR/EARLY.TXT"))),
              Original("EARLY.TXT", 3000));
    ASSERT_EQ(log.rows.size(), rows + 1);
    EXPECT_EQ(log.rows.back().caption, "DIR/" + GetEntryFileName(*byPath.at("DIR/LATE.TXT")) + ":  恢复失败");
}

// A folder's small files are written while the next ones are read: a
// write that fails there (a file-size limit in a child process) still names
// its file, before the line of the file after it, which cannot be read.
TEST_P(TruncatedFatVolume, AWriteThatFailsBehindTheReadingIsLoggedBeforeTheNextFile) {
    ASSERT_EQ(byPath.count("DIR"), 1u);
    ASSERT_EQ(byPath.count("DIR/EARLY.TXT") + byPath.count("DIR/LATE.TXT"), 2u);
    TMidEntry* folder = byPath["DIR"];
    const std::string early = GetEntryFileName(*byPath["DIR/EARLY.TXT"]);
    const std::string late = GetEntryFileName(*byPath["DIR/LATE.TXT"]);
    vt::test::TempDir dir;
    // EARLY.TXT (3000 bytes) does not fit under the limit; LATE.TXT lies
    // past the end of the dump.
    const std::string report = vt::test::InChildWithFileLimit(1000, [&] {
        platform::RecordingStatusPanel status;
        platform::RecordingEventLog log;
        const bool ok = engine_->RecoverFolder(folder, GetEntryFileName(*folder), dir.Path(), &status, &log);
        std::string out = std::to_string(ok) + "\n";
        for (const auto& r : log.rows) out += r.caption + "|" + std::to_string(r.imageIndex) + "\n";
        return out;
    });
    const std::string in = GetEntryFileName(*folder) + "/";
    EXPECT_EQ(report, "1\n" + in + early + ":  无法写入目标驱动器|2\n" + in + late + ":  恢复失败|2\n");
    // The part of EARLY.TXT that went in carries no name.
    EXPECT_FALSE(fs::exists(dir.Path() + "/" + in + early));
}

// A folder whose directory lies in pieces: Grown holds 30 small files with
// long names and, after the 25th, the folder Inner with INSIDE.TXT.
class GrownFolder : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        vt::test::InstallProfile("[logical.E]\nimage=" + image_ + "\n");
        DiskUtils::Initialize();
        engine_ = std::make_unique<TUndelete>();
        TLogiDrive* drive = engine_->Drives.at(0).get();
        ASSERT_TRUE(engine_->OpenDrive(drive, false, nullptr, nullptr));
        for (auto& e : drive->Entries)
            if (PathOf(*e) == "Grown") grown_ = e.get();
        ASSERT_NE(grown_, nullptr);
        for (int i = 1; i <= 30; ++i) {
            const std::string name = "grown file number " + std::to_string(i) + ".txt";
            originals_[name] = Original(name, static_cast<std::size_t>(i) * 37);
        }
        originals_["inside.txt"] = Original("INSIDE.TXT", 900);
        vt::SetUnnamedFilesForTests(GetParam());
    }
    void TearDown() override {
        vt::SetUnnamedFilesForTests(true);
        engine_.reset();
        platform::SetMessagePump(nullptr);
    }
    // The regular files below the target, by lower-case name; temporary
    // names (which no recovered file has) apart.
    std::map<std::string, Bytes> Named(std::vector<std::string>* temporary = nullptr) const {
        std::map<std::string, Bytes> out;
        for (const auto& e : fs::recursive_directory_iterator(dir_.Path())) {
            if (!fs::is_regular_file(fs::symlink_status(e.path()))) continue;
            const std::string leaf = e.path().filename().string();
            if (leaf.rfind(".vantrel-", 0) == 0 && leaf.size() > 5 && leaf.substr(leaf.size() - 5) == ".part") {
                if (temporary) temporary->push_back(leaf);
                continue;
            }
            std::string lower = leaf;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            out[lower] = vt::test::ReadWholeFile(e.path().string());
        }
        return out;
    }

    const std::string image_ = vt::test::ImagePath("fragdir16.img");
    std::unique_ptr<TUndelete> engine_;
    TMidEntry* grown_ = nullptr;
    std::map<std::string, Bytes> originals_;
    vt::test::TempDir dir_;
};

// kill -9 in the middle of the folder, at a known point (the message pump
// of the 28th file copied, after Inner was made): every file that carries
// a recovered file's name is the whole original; what was in hand or still
// waited for the writer has no name.
TEST_P(GrownFolder, AKilledRecoveryLeavesNoFileUnderAFinalNameThatIsNotWhole) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int calls = 0;
        platform::SetMessagePump([&] { if (++calls == 28) ::kill(::getpid(), SIGKILL); }, std::chrono::milliseconds(0));
        platform::RecordingStatusPanel status;
        platform::RecordingEventLog log;
        engine_->RecoverFolder(grown_, "Grown", dir_.Path(), &status, &log);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the recovery was not killed";
    std::vector<std::string> temporary;
    const auto named = Named(&temporary);
    for (const auto& [name, bytes] : named) {
        ASSERT_EQ(originals_.count(name), 1u) << name;
        EXPECT_EQ(bytes, originals_.at(name)) << name << " carries its name but is not whole";
    }
    EXPECT_LT(named.size(), originals_.size());
    if (GetParam()) EXPECT_TRUE(temporary.empty());
}

// The files that wait for the writer hold no descriptors: under a limit
// that leaves room for a few open files only, a folder of 31 small files
// still comes back whole, without a failure.
TEST_P(GrownFolder, ManySmallFilesFitUnderATightDescriptorLimit) {
    const std::string report = vt::test::InChildWithFileLimit(RLIM_INFINITY, [&] {
        // Room for seven more descriptors: new ones take the lowest free
        // numbers, and the limit bounds the numbers.
        int fd = 0;
        for (int free = 0; free < 7; ++fd)
            if (::fcntl(fd, F_GETFD) == -1) ++free;
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(fd);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        platform::RecordingStatusPanel status;
        platform::RecordingEventLog log;
        engine_->RecoverFolder(grown_, "Grown", dir_.Path(), &status, &log);
        std::string out;
        for (const auto& r : log.rows) out += r.caption + "|" + std::to_string(r.imageIndex) + "\n";
        return out;
    });
    EXPECT_EQ(report, "");
    const auto named = Named();
    EXPECT_EQ(named.size(), originals_.size());
    for (const auto& [name, bytes] : originals_) EXPECT_TRUE(named.count(name) && named.at(name) == bytes) << name;
}

INSTANTIATE_TEST_SUITE_P(Naming, GrownFolder, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "UnnamedFiles" : "TemporaryNames"); });

INSTANTIATE_TEST_SUITE_P(Families, TruncatedFatVolume, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "NT" : "Win9x"); });

INSTANTIATE_TEST_SUITE_P(Volumes, FatRecovery, ::testing::Values("recover12.img", "recover16.img", "recover32.img"),
                         [](const auto& info) { return std::string(info.param).substr(0, 9); });

// reused16.img (tests/fixtures/make-fatdamage.sh): GONE.BIN was deleted and
// its clusters went to SUB/NEW.BIN; FREE.BIN was deleted and its clusters
// stayed free.
class ReusedClusters : public FatRecovery {};

TEST_P(ReusedClusters, ADeletedFileWhoseClustersAnotherFileTookIsNamedAsFailed) {
    TMidEntry* gone = Find("?one.bin");
    ASSERT_NE(gone, nullptr);
    EXPECT_FALSE(engine_->RecoverFile(gone, GetEntryFileName(*gone), dir_.Path(), &status_, &log_));
    // The bytes are written as the clusters hold them: NEW.BIN's.
    EXPECT_EQ(Written("@one.bin"), Original("NEW.BIN", 6000));
    ASSERT_EQ(log_.rows.size(), 1u);
    EXPECT_EQ(log_.rows[0].caption, "@one.bin:  恢复失败");
    EXPECT_EQ(log_.rows[0].imageIndex, 2);

    log_.rows.clear();
    TMidEntry* free = Find("?ree.bin");
    ASSERT_NE(free, nullptr);
    EXPECT_TRUE(engine_->RecoverFile(free, GetEntryFileName(*free), dir_.Path(), &status_, &log_));
    EXPECT_EQ(Written("@ree.bin"), Original("FREE.BIN", 3000));
    EXPECT_TRUE(log_.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(Volumes, ReusedClusters, ::testing::Values("reused16.img"),
                         [](const auto& info) { return std::string(info.param).substr(0, 8); });

}  // namespace

// ------------------------------------------------------------ layouts and chains as FAT defines them

namespace {

// The entry whose stored 11 name bytes are these (the case rule may have
// lower-cased its letters).
TMidEntry* FindStored(TLogiDrive& d, const std::string& name11) {
    for (auto& e : d.Entries) {
        std::string stored(e->DirEntry.Name.begin(), e->DirEntry.Name.end());
        stored.append(e->DirEntry.Ext.begin(), e->DirEntry.Ext.end());
        for (char& c : stored) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (stored == name11) return e.get();
    }
    ADD_FAILURE() << "not listed: " << name11;
    return nullptr;
}

// A volume of tests/fixtures/make-fatlayout.sh, opened as E: (with the
// profile's extra lines) by a new engine.
struct LayoutVolume {
    std::string image;
    std::uint64_t checksum;
    platform::MessageBoxRecorder boxes;
    std::unique_ptr<TUndelete> engine;
    TLogiDrive* drive = nullptr;
    vt::test::TempDir dir;
    platform::RecordingEventLog log;

    explicit LayoutVolume(const std::string& name, const std::string& extra = {})
        : image(vt::test::ImagePath(name)), checksum(vt::test::FileChecksum(image)) {
        vt::test::InstallProfile("[logical.E]\nimage=" + image + "\n" + extra);
        DiskUtils::Initialize();
        engine = std::make_unique<TUndelete>();
        drive = engine->Drives.at(0).get();
        EXPECT_TRUE(engine->OpenDrive(drive, false, nullptr, nullptr)) << name;
    }
    ~LayoutVolume() { EXPECT_EQ(vt::test::FileChecksum(image), checksum) << "the scanned image was written"; }
    // Recovers the entry under its recovery name; the bytes written.
    Bytes Recover(TMidEntry* e) {
        const std::string name = GetEntryFileName(*e);
        engine->RecoverFileReported(e, name, dir.Path(), nullptr, &log);
        return vt::test::ReadWholeFile(dir.Path() + "/" + name);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& r : log.rows) lines.push_back(r.caption);
        return lines;
    }
};

struct LayoutCase {
    const char* image;
    TFsType type;  // the type the cluster count gives
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.image; }

class FatLayout : public ::testing::TestWithParam<LayoutCase> {};

}  // namespace

TEST_P(FatLayout, FilesComeBackByteForByteWhateverTheRootCountAndTypeString) {
    LayoutVolume v(GetParam().image);
    ASSERT_NE(v.drive, nullptr);
    EXPECT_EQ(v.drive->FsType, GetParam().type);
    EXPECT_TRUE(v.boxes.calls.empty());
    for (auto [stored, original, size] : {std::tuple{"FIRST   BIN", "FIRST.BIN", 3000}, {"SECOND  TXT", "SECOND.TXT", 1700}}) {
        TMidEntry* e = FindStored(*v.drive, stored);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(v.Recover(e), Original(original, size)) << original;
    }
    EXPECT_TRUE(v.log.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, FatLayout,
    ::testing::Values(LayoutCase{"root500-16.img", vt::fsFat16}, LayoutCase{"root210-12.img", vt::fsFat12},
                      LayoutCase{"type16-as12.img", vt::fsFat16}, LayoutCase{"type16-plain.img", vt::fsFat16},
                      LayoutCase{"type16-blank.img", vt::fsFat16}, LayoutCase{"type12-as16.img", vt::fsFat12},
                      LayoutCase{"type32-blank.img", vt::fsFat32}),
    [](const auto& info) {
        std::string n = info.param.image;
        n = n.substr(0, n.find('.'));
        std::replace(n.begin(), n.end(), '-', '_');
        return n;
    });

namespace {

class FatChains : public ::testing::TestWithParam<const char*> {};

std::string Failed(const std::string& name) { return name + ":  恢复失败"; }

}  // namespace

TEST_P(FatChains, FilesFollowEveryFatCopyAndWhatNoCopyHoldsIsNamedAsFailed) {
    LayoutVolume v(GetParam());
    ASSERT_NE(v.drive, nullptr);
    const std::uint32_t cs = v.drive->BootSector[0x0D] * 512u;
    const std::size_t size = 3 * cs + 77;
    enum Outcome { Whole, FailedWhole, FailedPrefix, FailedEmpty };
    struct Case {
        const char* stored;
        const char* original;
        std::size_t size;
        Outcome outcome;
    };
    std::vector<Case> cases = {
        {"FRAG    BIN", "FRAG.BIN", 4 * cs + 100, Whole},
        {"ENDMARK BIN", "ENDMARK.BIN", size, Whole},   // the lowest end mark ends the chain
        {"FREE1   BIN", "FREE1.BIN", size, Whole},     // the second FAT goes on where the first is free,
        {"BAD1    BIN", "BAD1.BIN", size, Whole},      //   marked bad,
        {"EARLY1  BIN", "EARLY1.BIN", size, Whole},    //   or ends too early
        {"BOTH    BIN", "BOTH.BIN", size, FailedWhole},  // no copy goes on: read as following on, named
        {"SHORT   BIN", "SHORT.BIN", size, FailedPrefix},  // a size its chain cannot hold
        {"HUGE    BIN", "HUGE.BIN", size, FailedPrefix},
        {"ONE     BIN", "ONE.BIN", size, FailedEmpty},   // cluster 1 lies before the data area
        {"PAST    BIN", "PAST.BIN", size, FailedEmpty},  // past the volume
        {"NOCLUS  BIN", "NOCLUS.BIN", size, FailedEmpty},  // data without a cluster
    };
    if (v.drive->FsType == vt::fsFat32) cases.push_back({"TOPBITS BIN", "TOPBITS.BIN", size, Whole});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.original);
        TMidEntry* e = FindStored(*v.drive, c.stored);
        ASSERT_NE(e, nullptr);
        const std::string name = GetEntryFileName(*e);
        v.log.rows.clear();
        const Bytes written = v.Recover(e);
        const Bytes original = Original(c.original, c.size);
        if (c.outcome == Whole) {
            EXPECT_EQ(written, original);
            EXPECT_TRUE(v.log.rows.empty());
            continue;
        }
        EXPECT_EQ(v.Lines(), std::vector<std::string>{Failed(name)});
        if (c.outcome == FailedWhole) {
            EXPECT_EQ(written, original);
        }
        if (c.outcome == FailedPrefix) {
            ASSERT_GE(written.size(), original.size());
            EXPECT_TRUE(std::equal(original.begin(), original.end(), written.begin())) << "the bytes the chain holds";
        }
        if (c.outcome == FailedEmpty) {
            EXPECT_TRUE(written.empty());
        }
    }
    EXPECT_TRUE(v.boxes.calls.empty());
}

TEST_P(FatChains, FoldersFollowEveryFatCopyAndOneCutInAllIsReadInPart) {
    LayoutVolume v(GetParam());
    ASSERT_NE(v.drive, nullptr);
    const bool fat32 = v.drive->FsType == vt::fsFat32;
    auto children = [&](const TMidEntry* folder) {
        std::vector<const TMidEntry*> found;
        for (const auto& e : v.drive->Entries)
            if (e->Parent == folder) found.push_back(e.get());
        return found;
    };
    TMidEntry* big = FindStored(*v.drive, "BIG        ");
    TMidEntry* cut = FindStored(*v.drive, "CUT        ");
    ASSERT_TRUE(big && cut);
    EXPECT_EQ(children(big).size(), 40u) << "the second FAT holds the link the first lost";
    EXPECT_FALSE(big->ReadInPart);
    // 16 entries to a cluster: ".", ".." and the first 14 files.
    EXPECT_EQ(children(cut).size(), 14u);
    EXPECT_TRUE(cut->ReadInPart);
    EXPECT_EQ(cut->Status, 0);

    for (TMidEntry* folder : {big, cut}) {
        const std::string name = GetEntryFileName(*folder);
        v.log.rows.clear();
        v.engine->RecoverFolder(folder, name, v.dir.Path(), nullptr, &v.log);
        for (const TMidEntry* child : children(folder)) {
            std::string original = FatShortName(child->DirEntry, '?');
            for (char& c : original) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(vt::test::ReadWholeFile(v.dir.Path() + "/" + name + "/" + GetEntryFileName(*child)),
                      Original(original, folder == big ? 60 : 61))
                << original;
        }
        const std::vector<std::string> expected =
            folder == cut ? std::vector<std::string>{Failed(name)} : std::vector<std::string>{};
        EXPECT_EQ(v.Lines(), expected);
    }

    // Entries whose fields other systems write: all listed, and recovered.
    struct Listed {
        const char* path;
        const char* original;
        std::size_t size;
    };
    const Listed listed[] = {
        {fat32 ? "SIZED/IN.TXT" : "Sized/In.txt", "IN.TXT", 500},
        {fat32 ? "..TXT" : "..txt", "DOT.TXT", 400},
        {fat32 ? "..DIR/IN2.TXT" : "..dir/In2.txt", "IN2.TXT", 450},
        {"blank short.txt", "blank short.txt", 420},
    };
    for (const Listed& l : listed) {
        TMidEntry* e = nullptr;
        for (auto& x : v.drive->Entries)
            if (PathOf(*x) == l.path) e = x.get();
        ASSERT_NE(e, nullptr) << l.path;
        v.log.rows.clear();
        EXPECT_EQ(v.Recover(e), Original(l.original, l.size)) << l.path;
        EXPECT_TRUE(v.log.rows.empty()) << l.path;
    }
}

TEST_P(FatChains, AnUnreadableFirstFatIsReadFromTheSecondWithOneBoxPerSector) {
    const std::string image = vt::test::ImagePath(GetParam());
    const auto boot = vt::test::ReadWholeFile(image);
    const std::uint32_t reserved = vt::LoadLe16(boot.data() + 0x0E);
    std::uint32_t fatSize = vt::LoadLe16(boot.data() + 0x16);
    if (fatSize == 0) fatSize = vt::LoadLe32(boot.data() + 0x24);
    LayoutVolume v(GetParam(), "unreadable=" + std::to_string(reserved) + "-" + std::to_string(reserved + fatSize - 1) + "\n");
    ASSERT_NE(v.drive, nullptr);
    const std::uint32_t cs = v.drive->BootSector[0x0D] * 512u;
    // The second FAT holds what the first lost of these, whole.
    for (auto [stored, original] : {std::pair{"FREE1   BIN", "FREE1.BIN"}, {"BAD1    BIN", "BAD1.BIN"},
                                    {"EARLY1  BIN", "EARLY1.BIN"}}) {
        TMidEntry* e = FindStored(*v.drive, stored);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(v.Recover(e), Original(original, 3 * cs + 77)) << original;
    }
    TMidEntry* frag = FindStored(*v.drive, "FRAG    BIN");
    ASSERT_NE(frag, nullptr);
    EXPECT_EQ(v.Recover(frag), Original("FRAG.BIN", 4 * cs + 100));
    EXPECT_TRUE(v.log.rows.empty());
    EXPECT_FALSE(v.boxes.calls.empty()) << "the unreadable sectors are named";
    EXPECT_LE(v.boxes.calls.size(), 4u) << "one box per unreadable sector, not per cluster";
}

TEST_P(FatChains, AFolderWithUnreadableDirectorySectorsIsReadInPartAndNamedAsFailed) {
    // The second cluster of BIG's directory, where the clean volume has it.
    std::uint32_t sector = 0;
    {
        LayoutVolume clean(GetParam());
        TMidEntry* big = FindStored(*clean.drive, "BIG        ");
        ASSERT_NE(big, nullptr);
        std::array<std::uint32_t, vt::fat::kMaxChain> chain{};
        int count = 0;
        std::uint32_t first = big->DirEntry.FstClusLO.get();
        if (clean.drive->FsType == vt::fsFat32) first |= std::uint32_t{big->DirEntry.FstClusHI.get()} << 16;
        clean.engine->GetClusterChain(first, chain, count);
        ASSERT_GE(count, 3);
        sector = *clean.engine->FatClusterSector(chain[1]);
    }
    LayoutVolume v(GetParam(), "unreadable=" + std::to_string(sector) + "\n");
    TMidEntry* big = FindStored(*v.drive, "BIG        ");
    ASSERT_NE(big, nullptr);
    EXPECT_TRUE(big->ReadInPart);
    std::size_t files = 0;
    for (const auto& e : v.drive->Entries) files += e->Parent == big;
    // The first cluster holds ".", ".." and 14 files, the unreadable one 16.
    EXPECT_EQ(files, 40u - 16u) << "the sectors after it are still read";
    EXPECT_EQ(v.boxes.calls.size(), 1u) << "the unreadable sector is named once";
    const std::string name = GetEntryFileName(*big);
    v.engine->RecoverFolder(big, name, v.dir.Path(), nullptr, &v.log);
    EXPECT_EQ(v.Lines(), std::vector<std::string>{Failed(name)});
    std::size_t written = 0;
    for ([[maybe_unused]] const auto& f : fs::directory_iterator(v.dir.Path() + "/" + name)) ++written;
    EXPECT_EQ(written, files);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatChains, ::testing::Values("chains12.img", "chains16.img", "chains32.img"),
                         [](const auto& info) { return std::string(info.param).substr(0, 8); });

// A FAT32 volume whose sector 0 says clusters of 2 sectors while its copy
// at sector 6 and the volume keep 1 (tests/fixtures/make-fatboot.sh): its
// folders' "." entries do not lie where sector 0 puts them, so the volume
// is read by its copy, and every file comes back byte for byte.
TEST(FatBackupBoot, Fat32SectorZeroThatDiffersFromItsBackupGivesWayToIt) {
    const std::string image = vt::test::ImagePath("std32.img");
    vt::test::InstallProfile("[logical.E]\nimage=" + image + "\n");
    DiskUtils::Initialize();
    TUndelete engine;
    TLogiDrive* drive = engine.Drives.at(0).get();
    ASSERT_TRUE(engine.OpenDrive(drive, false, nullptr, nullptr));
    EXPECT_EQ(drive->BootCopySector, 6u);
    EXPECT_EQ(drive->BootSector[0x0D], 1);
    vt::test::TempDir dir;
    platform::RecordingEventLog log;
    const std::map<std::string, Bytes> want = {
        {"ROOT.TXT", Original("ROOT.TXT", 700)},       {"FRAG.BIN", Original("FRAG.BIN", 9000)},
        {"STAY.TXT", Original("STAY.TXT", 1024)},      {"DIR1/IN1.BIN", Original("IN1.BIN", 5000)},
        {"DIR2/IN2.BIN", Original("IN2.BIN", 3000)}};
    std::map<std::string, Bytes> got;
    for (const auto& [path, bytes] : want) {
        TMidEntry* e = nullptr;
        for (const auto& x : drive->Entries)
            if (PathOf(*x) == path) e = x.get();
        ASSERT_NE(e, nullptr) << path;
        const std::string name = GetEntryDisplayName(*e);
        EXPECT_TRUE(engine.RecoverFile(e, name, dir.Path(), nullptr, &log));
        got[path] = vt::test::ReadWholeFile(dir.Path() + "/" + name);
    }
    EXPECT_EQ(got, want);
    EXPECT_TRUE(log.rows.empty());
}
