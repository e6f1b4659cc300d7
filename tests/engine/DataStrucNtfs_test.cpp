// The advanced engine's NTFS listing on volumes that real tools built: the
// copies of file records that NTFS keeps outside its table.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "DataStruc.h"
#include "MachineProfile.h"
#include "Recorders.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// ntfslog.img (tests/fixtures/make-ntfslog.sh): its table at sectors 32
// on (record 0, $MFT, at 32 and 33), the copies of records 0 to 3 in
// $MFTMirr, and in $LogFile a copy of record 64, real.txt, from when it
// was empty, with a lower $LSN than the record in the table, and the first
// half of record 64 alone, a copy in pieces.
struct LogCopyCase {
    const char* name;
    const char* unreadable;  // sectors of the volume that fail to read
};

void PrintTo(const LogCopyCase& c, std::ostream* os) { *os << c.name; }

class RecordCopies : public ::testing::Test {
protected:
    void SetUp() override { EventLogView = &log; }
    void TearDown() override { EventLogView = nullptr; }

    // Logical drive E scanned and listed, as the window does; the names of
    // the records listed in the root.
    std::multiset<std::string> ListRoot(TPhysicalDrive& d) {
        TPartiEntry* node = d.Partitions[0].get();
        EXPECT_TRUE(d.ScanPartition(node, &bar));
        d.BuildFatList(&bar);
        d.BuildNtfsList(&bar);
        std::multiset<std::string> root;
        for (auto& r : node->NtfsEntries)
            if (FileRefToInt64(r->FileName.ParentRef) == 5) root.insert(r->Name);
        return root;
    }
    static TDriveGeometry DriveE() {
        TDriveGeometry g{};
        g.DriveNo = static_cast<DriveNo>(-'E');
        return g;
    }

    platform::RecordingEventLog log;
    platform::RecordingProgressBar bar;
    platform::MessageBoxRecorder boxes;
    vt::test::TempDir dir;
};

class RecordCopiesOfLog : public RecordCopies, public ::testing::WithParamInterface<LogCopyCase> {};

TEST_P(RecordCopiesOfLog, AreNotListedAndTheFileComesBackUnderItsName) {
    std::string profile = "[logical.E]\nimage=ntfslog.img\n";
    if (*GetParam().unreadable) profile += std::string("unreadable=") + GetParam().unreadable + "\n";
    vt::test::InstallProfile(profile);
    TPhysicalDrive d(DriveE());
    TPartiEntry* node = d.Partitions[0].get();
    const std::multiset<std::string> root = ListRoot(d);
    for (const char* name : {"$MFT", "$MFTMirr", "$LogFile", "$Volume", ".", "real.txt", "vote.bin"})
        EXPECT_EQ(root.count(name), 1u) << name;

    // The root's files, as the window recovers a folder's rows.
    std::int32_t first = -1, last = -1;
    ASSERT_TRUE(d.FindNtfsChildRange(node->NtfsEntries, 5, first, last));
    for (std::int32_t i = first; i <= last; ++i) {
        const tntfsfilerecord& r = *node->NtfsEntries[static_cast<std::size_t>(i)];
        if (r.Name[0] == '$' || (r.FileName.FileAttributes.get() & kFileAttrDirectory) != 0) continue;
        EXPECT_EQ(d.RecoverFile(&r, vt::fsNtfs, dir.Path(), &bar, nullptr), 0) << r.Name;
    }
    std::set<std::string> written;
    for (const auto& e : fs::directory_iterator(dir.Path())) written.insert(e.path().filename().string());
    EXPECT_EQ(written, (std::set<std::string>{"real.txt", "vote.bin"}));
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/real.txt"), vt::test::YesContent("real.txt", 3801));
    EXPECT_EQ(vt::test::ReadWholeFile(dir.Path() + "/vote.bin"), vt::test::YesContent("vote.bin", 20000));
}

INSTANTIATE_TEST_SUITE_P(
    NtfsLog, RecordCopiesOfLog,
    ::testing::Values(
        // The table's own record 0 places it: the record in it is the file.
        LogCopyCase{"TableFound", ""},
        // Without record 0 nothing places the table: the highest $LSN wins.
        LogCopyCase{"TableRecordUnreadable", "32"}),
    [](const auto& info) { return std::string(info.param.name); });

// A record copy in pieces inside $LogFile fails its fix-up as the log
// holds it; it is no damaged record of the table, and the scan says so of
// none.
TEST_F(RecordCopies, ATornCopyInTheLogIsNoDamagedRecord) {
    vt::test::InstallProfile("[logical.E]\nimage=ntfslog.img\n");
    TPhysicalDrive d(DriveE());
    ListRoot(d);
    for (const auto& row : log.rows) EXPECT_EQ(row.caption.find("已损坏"), std::string::npos) << row.caption;
    EXPECT_EQ(d.NtfsDamagedRecords, 0u);
}

// The same volume with the record headers of NTFS 3.0 (Windows 2000 and
// NT 4 wrote them): the update sequence at 0x2A, no record number. Every
// record of the image is rewritten so in memory. The copies of records 0
// to 3 in $MFTMirr then have the numbers of their places in the mirror,
// which record 1 of the table places.
TEST_F(RecordCopies, MirrorCopiesOfNtfs30RecordsAreNotListed) {
    auto image = vt::test::ReadWholeFile(vt::test::ImagePath("ntfslog.img"));
    std::size_t rewritten = 0;
    for (std::size_t at = 0; at + 1024 <= image.size(); at += 1024) {
        std::uint8_t* r = image.data() + at;
        if (std::memcmp(r, "FILE", 4) != 0 || r[4] != 0x30 || r[5] != 0) continue;
        std::memmove(r + 0x2A, r + 0x30, 6);  // the sequence number and the two saved words
        std::memset(r + 0x30, 0, 6);
        r[4] = 0x2A;
        ++rewritten;
    }
    ASSERT_GT(rewritten, 16u);
    platform::MachineConfig config;
    platform::LogicalDriveConfig e;
    e.letter = 'E';
    e.store = platform::BackingStore::FromMemory(std::move(image));
    e.source = "memory";
    config.logical.push_back(e);
    platform::Machine::Install(std::move(config));
    TPhysicalDrive d(DriveE());
    const std::multiset<std::string> root = ListRoot(d);
    for (const char* name : {"$MFT", "$MFTMirr", "$LogFile", "$Volume", "vote.bin"})
        EXPECT_EQ(root.count(name), 1u) << name;
}

[[maybe_unused]] const bool kImagesChecked = vt::test::ExpectImagesUnchanged({"ntfslog.img"});

}  // namespace
