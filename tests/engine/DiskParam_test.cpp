// The shared file-system routines and the standard engine's drives, opening
// and child ranges.
#include "DiskParam.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "DiskUtils.h"
#include "MachineProfile.h"
#include "Recorders.h"
#include "System.h"
#include "TestSupport.h"
#include "filetime.h"

namespace {

using Sector = std::array<std::uint8_t, 512>;

void PutText(Sector& s, std::size_t off, const char* text) { std::memcpy(s.data() + off, text, std::strlen(text)); }

// Days since 30 December 1899 of a date, plus the time of day.
double Value(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    const std::time_t t = timegm(&tm);
    return static_cast<double>(t / 86400) + 25569.0 + (hh * 3600 + mm * 60 + ss) / 86400.0;
}

std::uint16_t DosDate(int y, int m, int d) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
std::uint16_t DosTime(int h, int m, int s) { return static_cast<std::uint16_t>((h << 11) | (m << 5) | (s / 2)); }

void InstallMemoryDrive(std::vector<std::uint8_t> bytes, char letter = 'C', unsigned type = win::DRIVE_FIXED) {
    platform::MachineConfig cfg;
    platform::LogicalDriveConfig d;
    d.letter = letter;
    d.driveType = type;
    d.store = platform::BackingStore::FromMemory(std::move(bytes));
    d.source = "memory";
    cfg.logical.push_back(d);
    platform::Machine::Install(cfg);
}

TLogiDrive* DriveNamed(TUndelete& u, const std::string& name) {
    for (auto& d : u.Drives)
        if (d->Name == name) return d.get();
    return nullptr;
}

std::array<std::uint8_t, 32> LfnEntry(std::uint8_t seq, std::uint8_t checksum, const std::u16string& chars13) {
    std::array<std::uint8_t, 32> e{};
    e[0] = seq;
    e[11] = 0x0F;
    e[13] = checksum;
    static constexpr int kPos[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::u16string c = chars13;
    if (c.size() < 13) c += u'\0';
    while (c.size() < 13) c += u'\xFFFF';
    for (int i = 0; i < 13; ++i) {
        e[kPos[i]] = static_cast<std::uint8_t>(c[i] & 0xFF);
        e[kPos[i] + 1] = static_cast<std::uint8_t>(c[i] >> 8);
    }
    return e;
}

std::array<std::uint8_t, 32> ShortEntry(const char* name11, std::uint8_t attr = 0x20) {
    std::array<std::uint8_t, 32> e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    return e;
}

TMidEntry MidEntry(const char* name11, std::string longName = {}) {
    TMidEntry m;
    std::memcpy(m.DirEntry.Name.data(), name11, 8);
    std::memcpy(m.DirEntry.Ext.data(), name11 + 8, 3);
    m.LongName = std::move(longName);
    return m;
}

}  // namespace

// ------------------------------------------------------------ recognition

TEST(DetectFileSystem, RecognisesTypeFieldsTable) {
    struct Case {
        const char* name;
        std::size_t offset;
        const char* text;
        TFsType expected;
    };
    const Case cases[] = {
        {"fat12", 0x36, "FAT12   ", vt::fsFat12},
        {"fat16", 0x36, "FAT16   ", vt::fsFat16},
        {"fat16 lower case, leading blank", 0x36, " fat16  ", vt::fsFat16},
        {"fat32 with zero bytes at 0x36", 0x52, "FAT32   ", vt::fsFat32},
        {"ntfs oem name", 3, "NTFS    ", vt::fsNtfs},
        {"plain FAT at 0x36", 0x36, "FAT     ", vt::fsUnknown},
        {"NUL cuts the field", 0x36, "FAT1\0" "6  ", vt::fsUnknown},
        {"mkdosfs oem name only", 3, "mkfs.fat", vt::fsUnknown},
    };
    for (const Case& c : cases) {
        Sector s{};
        std::memcpy(s.data() + c.offset, c.text, 8);
        EXPECT_EQ(DetectFileSystem(s), c.expected) << c.name;
    }
    EXPECT_EQ(DetectFileSystem(Sector{}), vt::fsUnknown);
    EXPECT_EQ(DetectFileSystem(std::span<const std::uint8_t>()), vt::fsUnknown) << "no bytes at all";
}

TEST(DetectFileSystem, FirstMatchingTestDecides) {
    Sector s{};
    PutText(s, 0x36, "FAT16   ");
    PutText(s, 0x52, "FAT32   ");
    PutText(s, 3, "NTFS    ");
    EXPECT_EQ(DetectFileSystem(s), vt::fsFat16);
}

// ------------------------------------------------------------ long names

TEST(DecodeLfnEntry, ShortEntryResetsChecksumAndKeepsName) {
    std::string name = "kept";
    std::int32_t sum = 0x55;
    const auto e = ShortEntry("README  TXT");
    EXPECT_EQ(TUndelete::DecodeLfnEntry(e, name, sum), 0);
    EXPECT_EQ(sum, -1);
    EXPECT_EQ(name, "kept");
}

TEST(DecodeLfnEntry, PiecesWithOneChecksumJoinLastToFirst) {
    std::string name;
    std::int32_t sum = -1;
    // "Café résumé of 2024.txt": 23 characters, two entries, the last first.
    const std::u16string full = u"Café résumé of 2024.txt";
    const auto second = LfnEntry(0x42, 0x3C, full.substr(13));
    const auto first = LfnEntry(0x01, 0x3C, full.substr(0, 13));
    EXPECT_EQ(TUndelete::DecodeLfnEntry(second, name, sum), 1);
    EXPECT_EQ(sum, 0x3C);
    EXPECT_EQ(TUndelete::DecodeLfnEntry(first, name, sum), 2);
    EXPECT_EQ(name, "Café résumé of 2024.txt");
}

TEST(DecodeLfnEntry, NewChecksumStartsNewNameWhateverTheSequence) {
    std::string name;
    std::int32_t sum = -1;
    EXPECT_EQ(TUndelete::DecodeLfnEntry(LfnEntry(0x41, 1, u"old"), name, sum), 1);
    EXPECT_EQ(TUndelete::DecodeLfnEntry(LfnEntry(0x41, 2, u"new"), name, sum), 1);
    EXPECT_EQ(name, "new");
    // Equal checksums join even when the sequence numbers do not follow.
    EXPECT_EQ(TUndelete::DecodeLfnEntry(LfnEntry(0x07, 2, u"pre"), name, sum), 2);
    EXPECT_EQ(name, "prenew");
    // After a short entry the same checksum starts a new name.
    std::int32_t s2 = 2;
    TUndelete::DecodeLfnEntry(ShortEntry("X       Y  "), name, s2);
    EXPECT_EQ(TUndelete::DecodeLfnEntry(LfnEntry(0x41, 2, u"again"), name, s2), 1);
    EXPECT_EQ(name, "again");
}

TEST(DecodeLfnEntry, DeletedPieceDecodesLikePresentOne) {
    std::string name;
    std::int32_t sum = -1;
    EXPECT_EQ(TUndelete::DecodeLfnEntry(LfnEntry(0xE5, 9, u"中文文件名.txt"), name, sum), 1);
    EXPECT_EQ(name, "中文文件名.txt");
}

TEST(DecodeLfnEntry, CharactersWithLowByteFFAreCharacters) {
    struct Case {
        const char* name;
        std::u16string chars;
        const char* expected;
    };
    const Case cases[] = {
        {"U+00FF first", u"\u00FF" u"bcdefgh.txt", "ÿbcdefgh.txt"},
        {"U+4EFF first", u"\u4EFF" u"宋字体.ttf", "仿宋字体.ttf"},
        {"U+5FFF last", u"会议记录-\u5FFF.txt", "会议记录-忿.txt"},
    };
    for (const Case& c : cases) {
        std::string name;
        std::int32_t sum = -1;
        TUndelete::DecodeLfnEntry(LfnEntry(0x41, 1, c.chars), name, sum);
        EXPECT_EQ(name, c.expected) << c.name;
    }
}

// ------------------------------------------------------------ long-name runs

namespace {

std::uint8_t Sum(const char* name11) {
    return vt::fat::ShortNameChecksum(std::span<const std::uint8_t, 11>(reinterpret_cast<const std::uint8_t*>(name11), 11));
}

// The name a run of entries gives the short entry that ends it.
std::string RunName(const std::vector<std::array<std::uint8_t, 32>>& entries) {
    vt::fat::TLongNameRun run;
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) EXPECT_TRUE(run.Add(entries[i])) << "piece " << i;
    EXPECT_FALSE(run.Add(entries.back()));
    return run.Take(entries.back());
}

}  // namespace

TEST(LongNameRun, UsedOnlyInSequenceWithTheShortNamesChecksum) {
    const char* shortName = "QUARTE~1DOC";
    const std::uint8_t sum = Sum(shortName);
    const std::u16string full = u"._Quarterly Report.docx";  // 23 characters: two pieces
    const auto last = LfnEntry(0x42, sum, full.substr(13));
    const auto first = LfnEntry(0x01, sum, full.substr(0, 13));
    auto deleted = [](std::array<std::uint8_t, 32> e) {
        e[0] = 0xE5;
        return e;
    };
    struct Case {
        const char* name;
        std::vector<std::array<std::uint8_t, 32>> entries;
        std::string expected;
    };
    const Case cases[] = {
        {"in sequence", {last, first, ShortEntry(shortName)}, "._Quarterly Report.docx"},
        {"a piece that begins with a dot is a piece", {LfnEntry(0x41, Sum("GITIGN~1   "), u".gitignore"),
                                                       ShortEntry("GITIGN~1   ")}, ".gitignore"},
        {"checksum of another short name", {last, first, ShortEntry("RENAMED DOC")}, ""},
        {"pieces out of order", {first, last, ShortEntry(shortName)}, ""},
        {"first piece of the run missing", {first, ShortEntry(shortName)}, ""},
        {"last piece missing", {last, ShortEntry(shortName)}, ""},
        {"sequence 0", {LfnEntry(0x40, sum, u"x"), ShortEntry(shortName)}, ""},
        {"more than 20 pieces", {LfnEntry(0x55, sum, u"x"), ShortEntry(shortName)}, ""},
        {"a new run after a broken one",
         {first, LfnEntry(0x41, Sum("OTHER   TXT"), u"other.txt"), ShortEntry("OTHER   TXT")}, "other.txt"},
        {"slot never used", {LfnEntry(0x41, 0, u"ghost"), ShortEntry("\0\0\0\0\0\0\0\0\0\0\0")}, ""},
        {"deleted, one checksum", {deleted(last), deleted(first), ShortEntry("\xE5UARTE~1DOC")},
         "._Quarterly Report.docx"},
        // No first byte a short name may have gives the pieces' checksum
        // with the rest of "?ENAMED DOC": the name is another entry's.
        {"deleted, the checksum of another short name", {deleted(last), deleted(first), ShortEntry("\xE5" "ENAMED DOC")},
         ""},
        // Every piece of one name carries its checksum: a piece of another
        // name in its place (a sector torn between two writes) ends it.
        {"a piece of another name among them",
         {last, LfnEntry(0x01, Sum("OTHERN~1DOC"), full.substr(0, 13)), ShortEntry(shortName)}, ""},
        // The checksum of a deleted piece of another name, one that no
        // first byte gives with the rest of this short name.
        {"deleted, a piece of another name among them",
         {deleted(last), deleted(LfnEntry(0x01, Sum("\x01UARTE~1DOC"), full.substr(0, 13))), ShortEntry("\xE5UARTE~1DOC")},
         ""},
        {"deleted pieces before a present entry", {deleted(last), deleted(first), ShortEntry(shortName)}, ""},
        {"present pieces before a deleted entry", {last, first, ShortEntry("\xE5UARTE~1DOC")}, ""},
        {"deleted, the name's end not in front", {deleted(first), deleted(last), ShortEntry("\xE5UARTE~1DOC")}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(RunName(c.entries), c.expected) << c.name;
}

TEST(DecodeLfnEntry, CharacterSplitOverTwoEntriesIsKept) {
    // U+1F600 as a surrogate pair whose halves fall into two entries.
    std::u16string full = u"abcdefghijkl\xD83D\xDE00z";
    std::string name;
    std::int32_t sum = -1;
    TUndelete::DecodeLfnEntry(LfnEntry(0x42, 5, full.substr(13)), name, sum);
    TUndelete::DecodeLfnEntry(LfnEntry(0x01, 5, full.substr(0, 13)), name, sum);
    EXPECT_EQ(name, "abcdefghijkl\xF0\x9F\x98\x80z");
}

// ------------------------------------------------------------ entry names

TEST(EntryNames, ShownAndRecoveredNamesTable) {
    struct Case {
        const char* name;
        const char* name11;
        const char* longName;
        const char* shown;
        const char* recovered;
    };
    const Case cases[] = {
        {"deleted short name", "\xE5" "EADME  TXT", "", "?EADME.TXT", "@EADME.TXT"},
        {"long name unchanged", "DELETE~1TXT", "Deleted long name.txt", "Deleted long name.txt",
         "Deleted long name.txt"},
        {"no extension", "NOEXT      ", "", "NOEXT", "NOEXT"},
        {"case bits not applied", "README  TXT", "", "README.TXT", "README.TXT"},
        {"blank name", "           ", "", "", ""},
        {"GBK short name", "\xD6\xD0\xCE\xC4    TXT", "", "中文.TXT", "中文.TXT"},
    };
    for (const Case& c : cases) {
        TMidEntry m = MidEntry(c.name11, c.longName);
        EXPECT_EQ(GetEntryDisplayName(m), c.shown) << c.name;
        EXPECT_EQ(GetEntryFileName(m), c.recovered) << c.name;
    }
}

TEST(IsFatFile, FolderBitDecides) {
    TFatDirEntry e{};
    e.Attr = 0x20;
    EXPECT_TRUE(IsFatFile(e));
    e.Attr = 0x10;
    EXPECT_FALSE(IsFatFile(e));
}

// ------------------------------------------------------------ unique names

TEST(MakeUniqueFileName, NumbersBeforeExtensionWhileTaken) {
    vt::test::TempDir tmp;
    const std::string dir = tmp.Path() + "/";
    const auto touch = [](const std::string& p) { std::ofstream(p).put('x'); };
    EXPECT_EQ(MakeUniqueFileName("a.b.txt", dir), tmp.Path() + "/a.b.txt");
    touch(tmp.Path() + "/a.b.txt");
    EXPECT_EQ(MakeUniqueFileName("a.b.txt", dir), tmp.Path() + "/a.b_1.txt");
    touch(tmp.Path() + "/a.b_1.txt");
    EXPECT_EQ(MakeUniqueFileName("a.b.txt", tmp.Path()), tmp.Path() + "/a.b_2.txt");

    touch(tmp.Path() + "/noext");
    EXPECT_EQ(MakeUniqueFileName("noext", dir), tmp.Path() + "/noext_1");

    EXPECT_EQ(MakeUniqueFileName(".cfg", dir), tmp.Path() + "/.cfg");
    touch(tmp.Path() + "/.cfg");
    EXPECT_EQ(MakeUniqueFileName(".cfg", dir), tmp.Path() + "/_1.cfg");

    std::filesystem::create_directory(tmp.Path() + "/folder");
    EXPECT_EQ(MakeUniqueFileName("folder", dir), tmp.Path() + "/folder_1") << "a folder counts as taken";
}

TEST(MakeUniqueFileName, DeletionMarkBecomesAtSign) {
    vt::test::TempDir tmp;
    EXPECT_EQ(MakeUniqueFileName("?EADME.TXT", tmp.Path()), tmp.Path() + "/@EADME.TXT");
    EXPECT_EQ(MakeUniqueFileName("\xE5" "EADME.TXT", tmp.Path()), tmp.Path() + "/@EADME.TXT");
    // 好 is E5 A5 BD in UTF-8: a Chinese name is no deletion mark.
    EXPECT_EQ(MakeUniqueFileName("好文件.txt", tmp.Path()), tmp.Path() + "/好文件.txt");
}

TEST(MakeUniqueFileName, FoundNameNeverLeavesTargetFolder) {
    vt::test::TempDir tmp;
    struct Case {
        const char* label;
        std::string name;
        std::string expected;
    };
    const Case cases[] = {
        {"dot", ".", "_."},
        {"dot dot", "..", "_.."},
        {"slash", "/", "_"},
        {"path upward", "../../etc/passwd", ".._.._etc_passwd"},
        {"absolute", "/etc/passwd", "_etc_passwd"},
        {"NUL inside", std::string("a\0b.txt", 7), "a_b.txt"},
        // A terminal that lists the folder would obey them.
        {"escape and tab", "a\x1b[31mb\tc.txt", "a_[31mb_c.txt"},
        {"0x01 and DEL", "one\x01x\x7f.txt", "one_x_.txt"},
    };
    for (const Case& c : cases) {
        const std::string path = MakeUniqueFileName(c.name, tmp.Path());
        EXPECT_EQ(path, tmp.Path() + "/" + c.expected) << c.label;
        const std::filesystem::path p(path);
        EXPECT_EQ(p.parent_path().string(), tmp.Path()) << c.label;
        EXPECT_NE(p.filename().string(), ".") << c.label;
        EXPECT_NE(p.filename().string(), "..") << c.label;
    }
}

TEST(MakeUniqueFileName, NamesTooLongForTheTargetAreCutAtACharacter) {
    vt::test::TempDir tmp;
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    struct Case {
        const char* label;
        std::string name;
        std::string expected;  // the name in the target folder
        std::string second;    // once that is taken
    };
    // 255 bytes is the most a Linux file name may have: 83 Chinese
    // characters of three bytes and ".txt" fit, 84 do not.
    const Case cases[] = {
        {"Chinese file", repeat("恢", 251) + ".txt", repeat("恢", 83) + ".txt", repeat("恢", 83) + "_1.txt"},
        {"Chinese folder", repeat("目", 255), repeat("目", 85), repeat("目", 84) + "_1"},
        {"Latin", repeat("a", 300) + ".doc", repeat("a", 251) + ".doc", repeat("a", 249) + "_1.doc"},
        {"two-byte letters", repeat("é", 200), repeat("é", 127), repeat("é", 126) + "_1"},
        {"extension of no use", "x." + repeat("y", 300), repeat("x.", 1) + repeat("y", 253), "x." + repeat("y", 251) + "_1"},
        {"fits exactly", repeat("b", 251) + ".txt", repeat("b", 251) + ".txt", repeat("b", 249) + "_1.txt"},
    };
    for (const Case& c : cases) {
        const std::string first = MakeUniqueFileName(c.name, tmp.Path());
        EXPECT_EQ(first, tmp.Path() + "/" + c.expected) << c.label;
        ASSERT_TRUE(std::ofstream(first).good()) << c.label << ": the target takes the name";
        EXPECT_EQ(MakeUniqueFileName(c.name, tmp.Path()), tmp.Path() + "/" + c.second) << c.label;
    }
}

// ------------------------------------------------------------ dates

TEST(DosDateTimeToDateTime, ConvertsOrGivesZeroTable) {
    struct Case {
        const char* name;
        std::uint16_t date, time;
        double expected;
    };
    const Case cases[] = {
        {"plain", DosDate(2003, 1, 4), DosTime(11, 58, 38), Value(2003, 1, 4, 11, 58, 38)},
        {"first day", DosDate(1980, 1, 1), 0, Value(1980, 1, 1)},
        {"last accepted year", DosDate(2050, 12, 31), DosTime(23, 59, 58), Value(2050, 12, 31, 23, 59, 58)},
        {"leap day", DosDate(2024, 2, 29), 0, Value(2024, 2, 29)},
        {"year above 2050", DosDate(2051, 1, 1), 0, 0},
        {"month 0", static_cast<std::uint16_t>(DosDate(2000, 1, 1) & ~0x01E0), 0, 0},
        {"month 13", DosDate(2000, 13, 1), 0, 0},
        {"day 0", DosDate(2000, 1, 0), 0, 0},
        {"30 February", DosDate(2001, 2, 30), 0, 0},
        {"hour 24", DosDate(2000, 1, 1), DosTime(24, 0, 0), 0},
        {"minute 60", DosDate(2000, 1, 1), DosTime(1, 60, 0), 0},
        {"second 60", DosDate(2000, 1, 1), DosTime(1, 0, 60), 0},
        {"date 0", 0, 0, 0},
    };
    for (const Case& c : cases) EXPECT_NEAR(DosDateTimeToDateTime(c.date, c.time), c.expected, 1e-9) << c.name;
}

TEST(FatDateTimeToDateTime, NoDateSucceedsBadDateFails) {
    double v = 7;
    EXPECT_TRUE(FatDateTimeToDateTime(0, 0, v));
    EXPECT_EQ(v, 0);

    v = 7;
    EXPECT_FALSE(FatDateTimeToDateTime(0, DosTime(10, 0, 0), v)) << "month 0";
    EXPECT_EQ(v, 7) << "a field out of range leaves the value";

    v = 7;
    EXPECT_FALSE(FatDateTimeToDateTime(DosDate(2001, 2, 30), 0, v));
    EXPECT_EQ(v, 0) << "a date that does not exist gives 0";

    EXPECT_TRUE(FatDateTimeToDateTime(DosDate(2024, 3, 15), DosTime(10, 20, 30), v));
    EXPECT_NEAR(v, Value(2024, 3, 15, 10, 20, 30), 1e-9);
}

TEST(FileTimeToDateTime, LocalDosTimeTable) {
    setenv("TZ", "UTC", 1);
    tzset();
    constexpr std::uint64_t kPerSecond = 10000000;
    constexpr std::uint64_t k1970 = 116444736000000000ULL;
    const auto at = [&](int y, int m, int d, int hh, int mm, int ss) {
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = m - 1;
        tm.tm_mday = d;
        tm.tm_hour = hh;
        tm.tm_min = mm;
        tm.tm_sec = ss;
        return k1970 + static_cast<std::uint64_t>(timegm(&tm)) * kPerSecond;
    };
    EXPECT_NEAR(FileTimeToDateTime(0x01C2B3E89E384F50ULL), Value(2003, 1, 4, 11, 58, 38), 1e-9);
    EXPECT_NEAR(FileTimeToDateTime(at(2010, 6, 1, 12, 0, 41) + 1234567), Value(2010, 6, 1, 12, 0, 40), 1e-9)
        << "odd seconds and fractions are lost";
    EXPECT_EQ(FileTimeToDateTime(at(1979, 12, 31, 23, 59, 58)), 0) << "before 1980";
    EXPECT_EQ(FileTimeToDateTime(at(2051, 1, 1, 0, 0, 0)), 0) << "after 2050";
    EXPECT_EQ(FileTimeToDateTime(at(2108, 1, 1, 0, 0, 0)), 0) << "no DOS form";
    EXPECT_EQ(FileTimeToDateTime(0), 0);
}

// ------------------------------------------------------------ masks

TEST(MatchFileMask, EdgeCasesTable) {
    struct Case {
        const char* name;
        const char* mask;
        bool expected;
    };
    const Case cases[] = {
        {"", "*", true},         {"", "**", false},       {"a", "a*", true},      {"txt", "*.txt", false},
        {"", "?", false},        {"xaxb", "*a*b", true},  {"abc", "a?c", true},   {"abc", "A?c", false},
        {"readme.txt", "*.txt", true}, {"readme.txt", "*.*", true}, {"ab", "a*b*", true},
        {"a", "**", true},       {"abc", "abc", true},    {"abcd", "abc", false}, {"abc", "abcd", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchFileMask(c.name, c.mask), c.expected) << "'" << c.name << "' ~ '" << c.mask << "'";
}

TEST(MatchFileMask, ManyStarsFinishQuickly) {
    // Each star may retry at every position; remembered failures keep this
    // pattern from taking an exponential number of steps.
    const std::string name(200, 'a');
    std::string mask;
    for (int i = 0; i < 40; ++i) mask += "*a";
    mask += "b";
    EXPECT_FALSE(MatchFileMask(name, mask));
    EXPECT_TRUE(MatchFileMask(name + "b", mask));
}

TEST(MatchFileMask, LongNamesAreCutAt255Characters) {
    const std::string name = std::string(255, 'x') + "tail";
    EXPECT_TRUE(MatchFileMask(name, std::string(255, 'x')));
    EXPECT_FALSE(MatchFileMask(name, "*tail"));
}

// ------------------------------------------------------------ drive ready, log, tables

TEST(IsDriveValid, LetterCaseAndNonLetters) {
    vt::test::InstallProfile("[logical.C]\nimage=fat12.img\n[logical.D]\ntype=removable\n");
    EXPECT_TRUE(IsDriveValid('c'));
    EXPECT_TRUE(IsDriveValid('C'));
    EXPECT_FALSE(IsDriveValid('D')) << "no medium";
    EXPECT_FALSE(IsDriveValid('Q')) << "no such drive";
    EXPECT_THROW(IsDriveValid('1'), std::invalid_argument);
    try {
        IsDriveValid('1');
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "非有效驱动器 ID");
    }
}

TEST(AddLogEvent, AppendsRowWithTime) {
    platform::RecordingEventLog log;
    AddLogEvent(&log, "恢复完成。", 2);
    ASSERT_EQ(log.rows.size(), 1u);
    EXPECT_EQ(log.rows[0].caption, "恢复完成。");
    EXPECT_EQ(log.rows[0].imageIndex, 2);
    EXPECT_TRUE(std::regex_match(log.rows[0].time, std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]")))
        << log.rows[0].time;
    AddLogEvent(nullptr, "nowhere", 0);
}

TEST(FileSignatures, RowsInOrder) {
    ASSERT_EQ(FileSignatures.size(), 34u);
    EXPECT_STREQ(FileSignatures[0].Ext, "#$%");
    EXPECT_EQ(FileSignatures[0].Head[0], 0x2E);
    EXPECT_EQ(FileSignatures[0].Head[1], 0x20);
    EXPECT_STREQ(FileSignatures[8].Ext, "rm");
    EXPECT_STREQ(FileSignatures[17].Ext, "jpg");
    EXPECT_EQ(FileSignatures[17].Head[0], 0xFF);
    EXPECT_EQ(FileSignatures[17].Head[1], 0xD8);
    EXPECT_STREQ(FileSignatures[32].Ext, "mdb");
    EXPECT_EQ(FileSignatures[32].Head[0], 0x00);
    EXPECT_EQ(FileSignatures[32].Head[1], 0x01);
    EXPECT_STREQ(FileSignatures[33].Ext, "ppt");
    for (const auto& row : FileSignatures)
        for (const char* p = row.Ext; *p; ++p) EXPECT_FALSE(*p >= 'A' && *p <= 'Z') << row.Ext;
}

TEST(DiskParamUnit, AppDirIsProgramFolderWithSlash) {
    platform::SetShellTypeProvider([](const std::string& name, std::uint32_t attrs, std::string& type) {
        type = (attrs & 0x10) && !name.empty() && name.back() == '/' ? "Folder" : "File";
        return 3;
    });
    DiskParam::Initialize();
    platform::SetShellTypeProvider({});
    const std::string exe = platform::ProgramPath();
    EXPECT_EQ(AppDir, exe.substr(0, exe.rfind('/') + 1));
    EXPECT_EQ(AppDir.back(), '/');
    EXPECT_EQ(FolderTypeName, "Folder");
}

// ------------------------------------------------------------ drive list

TEST(DriveList, ProfileDrivesWithSizesAndLabels) {
    vt::test::TempDir tmp;
    const auto sparse = [&](const std::string& name, std::uint64_t size) {
        const std::string p = tmp.Path() + "/" + name;
        std::ofstream(p).close();
        std::filesystem::resize_file(p, size);
        return p;
    };
    const std::string mb999 = sparse("a.img", 1048565515);   // 999.99 MB
    const std::string mb1000 = sparse("b.img", 1048576000);  // 1000 MB
    vt::test::InstallProfile("[logical.A]\ntype=removable\n"
                             "[logical.C]\nimage=fat16.img\n"
                             "[logical.E]\nimage=" + mb999 + "\n"
                             "[logical.F]\nimage=" + mb1000 + "\n"
                             "[logical.G]\nimage=fat12.img\ntype=cdrom\n"
                             "[logical.H]\nimage=fat12.img\ntype=remote\n");
    TUndelete u;
    std::vector<std::string> names;
    for (auto& d : u.Drives) names.push_back(d->Name);
    EXPECT_EQ(names, (std::vector<std::string>{"A:", "C:", "E:", "F:"})) << "optical and network drives are not listed";

    TLogiDrive* a = DriveNamed(u, "A:");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->DriveType, 2);
    EXPECT_EQ(a->TotalSize, 0);
    EXPECT_EQ(a->SizeText, "0.00 MB");
    EXPECT_EQ(a->VolumeLabel, "无卷标");
    EXPECT_EQ(a->FsType, vt::fsUnknown);
    EXPECT_FALSE(a->Scanned);

    TLogiDrive* c = DriveNamed(u, "C:");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->DriveType, 3);
    EXPECT_EQ(c->TotalSize, 16 * 1048576);
    EXPECT_EQ(c->SizeText, "16.00 MB");
    EXPECT_EQ(c->VolumeLabel, "FAT16VOL");

    EXPECT_EQ(DriveNamed(u, "E:")->SizeText, "999.99 MB");
    EXPECT_EQ(DriveNamed(u, "F:")->SizeText, "0.98 GB");
    EXPECT_EQ(DriveNamed(u, "F:")->VolumeLabel, "无卷标") << "a volume without label";
}

TEST(DriveList, GetDriveInfoRefusesOtherTypes) {
    vt::test::InstallProfile("[logical.R]\nimage=fat12.img\ntype=ramdisk\n");
    TLogiDrive d;
    d.Name = "R:";
    EXPECT_FALSE(GetDriveInfo(d));
    EXPECT_EQ(d.DriveType, 6);
    d.Name = "S:";
    EXPECT_FALSE(GetDriveInfo(d)) << "no such drive";
}

// ------------------------------------------------------------ opening

namespace {

std::vector<std::uint8_t> NtfsBoot(std::uint16_t bytesPerSector, std::uint8_t sectorsPerCluster, std::uint32_t at40) {
    std::vector<std::uint8_t> img(64 * 1024, 0);
    std::memcpy(img.data() + 3, "NTFS    ", 8);
    img[0x0B] = bytesPerSector & 0xFF;
    img[0x0C] = bytesPerSector >> 8;
    img[0x0D] = sectorsPerCluster;
    for (int i = 0; i < 4; ++i) img[0x40 + i] = static_cast<std::uint8_t>(at40 >> (8 * i));
    img[510] = 0x55;
    img[511] = 0xAA;
    return img;
}

std::size_t ReadsOf(const std::string& device) {
    std::size_t n = 0;
    for (const auto& r : platform::DeviceTrace::Requests())
        if (r.code == 0 && r.device.find(device) != std::string::npos) ++n;
    return n;
}

}  // namespace

TEST(OpenDrive, NtfsRecordSizeTable) {
    struct Case {
        const char* name;
        std::uint16_t bps;
        std::uint8_t spc;
        std::uint32_t at40;
        bool accepted;
    };
    const Case cases[] = {
        {"0xF6 whatever the cluster", 512, 64, 0xF6, true},
        {"one cluster of two sectors", 512, 2, 1, true},
        {"two clusters of one sector", 512, 1, 2, true},
        {"one cluster of one sector", 512, 1, 1, false},
        {"4096-byte sectors", 4096, 1, 0xF6, false},
        {"0xF6 with high bytes set", 512, 8, 0x010000F6, false},
    };
    for (const Case& c : cases) {
        InstallMemoryDrive(NtfsBoot(c.bps, c.spc, c.at40));
        platform::MessageBoxRecorder boxes;
        TUndelete u;
        TLogiDrive* d = DriveNamed(u, "C:");
        ASSERT_TRUE(d);
        EXPECT_EQ(u.OpenDrive(d, false, nullptr, nullptr), c.accepted) << c.name;
        EXPECT_EQ(d->FsType, c.accepted ? vt::fsNtfs : vt::fsUnknown) << c.name;
        EXPECT_TRUE(d->Scanned) << c.name;
        EXPECT_EQ(boxes.calls.size(), c.accepted ? 0u : 1u) << c.name;
        EXPECT_FALSE(u.Busy);
    }
}

TEST(OpenDrive, UnrecognisedFormatBoxEveryTime) {
    std::vector<std::uint8_t> img(8192, 0);
    InstallMemoryDrive(img);
    platform::MessageBoxRecorder boxes;
    TUndelete u;
    TLogiDrive* d = DriveNamed(u, "C:");
    ASSERT_TRUE(d);
    EXPECT_FALSE(u.OpenDrive(d, false, nullptr, nullptr));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "C: - Unrecognized drive format.");
    EXPECT_EQ(boxes.calls[0].text.size(), 31u);
    EXPECT_EQ(boxes.calls[0].caption, "Error");
    EXPECT_EQ(boxes.calls[0].type & win::MB_ICONMASK, win::MB_ICONERROR);
    EXPECT_EQ(d->FsType, vt::fsUnknown);
    EXPECT_TRUE(d->Scanned);

    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    EXPECT_FALSE(u.OpenDrive(d, false, nullptr, nullptr));
    platform::DeviceTrace::Enable(false);
    EXPECT_EQ(boxes.calls.size(), 2u) << "the box again";
    EXPECT_EQ(ReadsOf("C:"), 0u) << "nothing read";
}

TEST(OpenDrive, FatSectorSizeOtherThan512Refused) {
    auto img = vt::test::ReadWholeFile(vt::test::ImagePath("fat16.img"));
    img[0x0B] = 0x00;
    img[0x0C] = 0x04;  // 1024
    InstallMemoryDrive(img);
    platform::MessageBoxRecorder boxes;
    TUndelete u;
    TLogiDrive* d = DriveNamed(u, "C:");
    EXPECT_FALSE(u.OpenDrive(d, false, nullptr, nullptr));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "C: - Unrecognized drive format.");
    EXPECT_TRUE(d->Entries.empty());
}

TEST(OpenDrive, UnreadableSectorZeroGivesFalseWithoutFormatBox) {
    vt::test::InstallProfile("[logical.C]\nimage=fat16.img\nunreadable=0\n");
    platform::MessageBoxRecorder boxes;
    TUndelete u;
    TLogiDrive* d = DriveNamed(u, "C:");
    EXPECT_FALSE(u.OpenDrive(d, false, nullptr, nullptr));
    for (const auto& call : boxes.calls) EXPECT_EQ(call.text.find("Unrecognized"), std::string::npos);
    EXPECT_FALSE(d->Scanned);
    EXPECT_FALSE(u.Busy);
}

TEST(OpenDrive, SecondOpeningReadsOnlyWithRescan) {
    const std::string image = vt::test::ImagePath("fat12.img");
    const std::uint64_t before = vt::test::FileChecksum(image);
    vt::test::InstallProfile("[logical.C]\nimage=fat12.img\n");
    TUndelete u;
    TLogiDrive* d = DriveNamed(u, "C:");
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    EXPECT_EQ(u.Current, d);
    EXPECT_EQ(d->FsType, vt::fsFat12);
    const std::size_t count = d->Entries.size();
    EXPECT_GT(count, 0u);

    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    EXPECT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    EXPECT_EQ(ReadsOf("C:"), 0u);
    EXPECT_TRUE(u.OpenDrive(d, true, nullptr, nullptr));
    EXPECT_GT(ReadsOf("C:"), 0u);
    platform::DeviceTrace::Enable(false);
    EXPECT_EQ(d->Entries.size(), count) << "a rescan replaces the old entries";
    EXPECT_EQ(vt::test::FileChecksum(image), before);
}

TEST(OpenDrive, StopBeforeOpeningIsClearedByIt) {
    vt::test::InstallProfile("[logical.C]\nimage=fat12.img\n");
    TUndelete u;
    u.Stop();
    EXPECT_TRUE(u.Aborted);
    TLogiDrive* d = DriveNamed(u, "C:");
    ASSERT_TRUE(u.OpenDrive(d, false, nullptr, nullptr));
    EXPECT_FALSE(u.Aborted);
    EXPECT_FALSE(d->Entries.empty());
}

// ------------------------------------------------------------ child ranges

TEST(FindFatChildRange, KeysTable) {
    TMidEntryList list;
    for (std::uint32_t k : {0u, 0u, 5u, 5u, 5u, 9u}) {
        list.push_back(std::make_unique<TMidEntry>());
        list.back()->ParentCluster = k;
    }
    struct Case {
        std::uint32_t key;
        bool found;
        std::int32_t first, last;
    };
    const Case cases[] = {{5, true, 2, 4}, {0, true, 0, 1}, {9, true, 5, 5}, {7, false, -1, 77}, {10, false, -1, 77}};
    for (const Case& c : cases) {
        std::int32_t first = 77, last = 77;
        EXPECT_EQ(TUndelete::FindFatChildRange(list, c.key, first, last), c.found) << c.key;
        EXPECT_EQ(first, c.first) << c.key;
        EXPECT_EQ(last, c.last) << c.key;
    }
    TMidEntryList empty;
    std::int32_t first = 3, last = 3;
    EXPECT_FALSE(TUndelete::FindFatChildRange(empty, 5, first, last));
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
}

TEST(FindFatChildRange, EveryKeyOfLongListFound) {
    TMidEntryList list;
    for (std::uint32_t k = 0; k < 50; ++k)
        for (std::uint32_t n = 0; n < k % 4; ++n) {
            list.push_back(std::make_unique<TMidEntry>());
            list.back()->ParentCluster = k * 3 + 0x80000000u * (k > 40);
        }
    for (std::uint32_t k = 0; k < 50; ++k) {
        const std::uint32_t key = k * 3 + 0x80000000u * (k > 40);
        std::int32_t first = -1, last = -1;
        const bool found = TUndelete::FindFatChildRange(list, key, first, last);
        EXPECT_EQ(found, k % 4 != 0) << k;
        if (found) {
            EXPECT_EQ(last - first + 1, static_cast<std::int32_t>(k % 4)) << k;
            EXPECT_EQ(list[first]->ParentCluster, key);
            EXPECT_EQ(list[last]->ParentCluster, key);
        }
    }
}

TEST(CompareFatEntries, KeysTable) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"ABC     TXT", "abc     doc", -1},  // abc.TXT before abc.doc
        {"ZED     TXT", "\xE5" "BC     TXT", -1},
        {"AB         ", "ABC        ", -1},
        {"ABC     TXT", "ABC     TXT", 0},
        {"ABC        ", "ABC     A  ", -1},
    };
    for (const Case& c : cases) {
        const TMidEntry a = MidEntry(c.a), b = MidEntry(c.b);
        const int r = CompareFatEntries(a, b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " / " << c.b;
        const int back = CompareFatEntries(b, a);
        EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " / " << c.a;
    }
    TMidEntry low = MidEntry("Z       Z  "), high = MidEntry("A       A  ");
    low.ParentCluster = 0;
    high.ParentCluster = 0x90000000u;
    EXPECT_LT(CompareFatEntries(low, high), 0) << "folder clusters compare unsigned";
    EXPECT_GT(CompareFatEntries(high, low), 0);
}

TEST(FindChildRange, UnknownTypeSearchesNothing) {
    vt::test::InstallProfile("[logical.A]\ntype=removable\n");
    TUndelete u;
    std::int32_t first = -1, last = -1;
    EXPECT_FALSE(u.FindChildRange(0, first, last)) << "no current drive";
    u.Current = DriveNamed(u, "A:");
    EXPECT_FALSE(u.FindChildRange(0, first, last));
    EXPECT_EQ(first, -1);
}
