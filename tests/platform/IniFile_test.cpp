#include "IniFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"

namespace {

using platform::TIniFile;
namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The names in a folder.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// An ini of a few keys, in memory, to be written to `path`.
TIniFile Settings(const std::string& path) {
    TIniFile ini(path);
    ini.WriteInteger("Layout", "P4W", 230);
    ini.WriteBool("Options", "OpenDestDir", true);
    return ini;
}

TEST(IniFile, ReadsValuesWithTheClassicRules) {
    TIniFile ini = TIniFile::FromText(
        "; comment\r\n[Main]\r\nWidth = 640\r\nName=\"quoted value\"\r\nBad=12px\r\nHex=0x20\r\n[other]\r\nwidth=1\r\n");
    EXPECT_EQ(ini.ReadInteger("main", "WIDTH", 7), 640);  // names ignore case
    EXPECT_EQ(ini.ReadString("Main", "Name", ""), "quoted value");
    EXPECT_EQ(ini.ReadInteger("Main", "Bad", 7), 7);  // not a number: the default
    EXPECT_EQ(ini.ReadInteger("Main", "Hex", 0), 32);
    EXPECT_EQ(ini.ReadInteger("Main", "Missing", -3), -3);
    EXPECT_EQ(ini.ReadInteger("Nowhere", "Width", 5), 5);
    EXPECT_TRUE(ini.SectionExists("OTHER"));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Main", "other"}));
    EXPECT_EQ(ini.ReadSection("main"), (std::vector<std::string>{"Width", "Name", "Bad", "Hex"}));
}

TEST(IniFile, WritingKeepsOtherLinesAndAddsMissingSections) {
    vt::test::TempDir dir;
    std::string path = dir.Path() + "/a.ini";
    {
        TIniFile ini = TIniFile::FromText("");
        (void)ini;
    }
    TIniFile ini(path);
    ini.WriteInteger("Pane", "Left", 200);
    ini.WriteBool("Options", "OpenFolder", true);
    ini.WriteInteger("Pane", "Top", 100);
    ini.WriteInteger("Pane", "Left", 250);
    ini.UpdateFile();
    EXPECT_EQ(vt::test::ReadTextFile(path), "[Pane]\r\nLeft=250\r\nTop=100\r\n[Options]\r\nOpenFolder=1\r\n");
    TIniFile again(path);
    EXPECT_EQ(again.ReadInteger("pane", "left", 0), 250);
    EXPECT_TRUE(again.ReadBool("Options", "OpenFolder", false));
}

TEST(IniFile, UpdateFileFailsLoudlyWhenTheFolderIsMissing) {
    TIniFile ini("/nonexistent-folder/x.ini");
    ini.WriteInteger("a", "b", 1);
    EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
}

// The program may run as root in a user's folder: whatever link the user
// puts at the settings' name, nothing is read or written through it, the
// link stays as it was, and nothing else is left in the folder.
struct LinkCase {
    const char* label;
    const char* to;  // "file", "folder" or "nothing"
};
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.label; }
class SettingsLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(SettingsLink, IsNeitherFollowedNorReplaced) {
    vt::test::TempDir dir, outside;
    const std::string victim = outside.Path() + "/victim";
    WriteText(victim, "[Layout]\nP4W=999\n");
    fs::create_directory(outside.Path() + "/folder");
    const std::string to = std::string(GetParam().to) == "file"     ? victim
                           : std::string(GetParam().to) == "folder" ? outside.Path() + "/folder"
                                                                    : outside.Path() + "/nothing";
    const std::string path = dir.Path() + "/advrec.ini";
    fs::create_symlink(to, path);

    EXPECT_EQ(TIniFile(path).ReadInteger("Layout", "P4W", 0), 0);  // not read through the link either
    TIniFile ini = Settings(path);
    EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(fs::read_symlink(path).string(), to);
    EXPECT_EQ(vt::test::ReadTextFile(victim), "[Layout]\nP4W=999\n");
    EXPECT_TRUE(fs::is_empty(outside.Path() + "/folder"));
    EXPECT_FALSE(fs::exists(outside.Path() + "/nothing"));
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"advrec.ini"});
}

INSTANTIATE_TEST_SUITE_P(Links, SettingsLink,
                         ::testing::Values(LinkCase{"to a file outside", "file"},
                                           LinkCase{"to a folder outside", "folder"},
                                           LinkCase{"dangling", "nothing"}),
                         [](const auto& info) {
                             std::string name;
                             for (const char* c = info.param.label; *c; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

// A link put at the settings' name while the new file is written (after
// the first look, before the rename) is not replaced either: the writer
// looks again, and where nothing stood it renames without replacing.
TEST(IniFile, ALinkPutAtTheNameWhileWritingIsNotReplaced) {
    for (const bool hadOld : {true, false}) {
        SCOPED_TRACE(hadOld ? "settings there before" : "nothing there before");
        vt::test::TempDir dir, outside;
        const std::string victim = outside.Path() + "/victim", path = dir.Path() + "/Vantrel.ini";
        WriteText(victim, "[Layout]\nP4W=999\n");
        if (hadOld) WriteText(path, "[Layout]\r\nP4W=100\r\n");
        TIniFile ini = Settings(path);
        int calls = 0;
        platform::SetBeforeRenameHookForTests([&](int folderFd, const std::string& name) {
            ++calls;
            ::unlinkat(folderFd, name.c_str(), 0);
            ASSERT_EQ(::symlinkat(victim.c_str(), folderFd, name.c_str()), 0);
        });
        EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
        platform::SetBeforeRenameHookForTests(nullptr);
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(fs::read_symlink(path).string(), victim);
        EXPECT_EQ(vt::test::ReadTextFile(victim), "[Layout]\nP4W=999\n");
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"Vantrel.ini"}) << "the new file is removed";
    }
}

// A second name of a file outside (a hard link) is a plain file: the new
// settings take its name, and the file outside keeps its bytes.
TEST(IniFile, AHardLinkAtTheNameIsReplacedNotWritten) {
    vt::test::TempDir dir;
    const std::string victim = dir.Path() + "/victim", path = dir.Path() + "/Vantrel.ini";
    WriteText(victim, "[Lv1]\nwp0=1\n");
    fs::create_hard_link(victim, path);
    Settings(path).UpdateFile();
    EXPECT_EQ(vt::test::ReadTextFile(victim), "[Lv1]\nwp0=1\n");
    EXPECT_EQ(vt::test::ReadTextFile(path), "[Lv1]\r\nwp0=1\r\n[Layout]\r\nP4W=230\r\n[Options]\r\nOpenDestDir=1\r\n");
    EXPECT_EQ(fs::hard_link_count(victim), 1u);
}

// Neither a pipe nor a folder at the name is read (which would block) or
// replaced.
TEST(IniFile, APipeOrFolderAtTheNameIsLeftAlone) {
    vt::test::TempDir dir;
    const std::string pipe = dir.Path() + "/a.ini", folder = dir.Path() + "/b.ini";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directory(folder);
    for (const std::string& path : {pipe, folder}) {
        TIniFile ini = Settings(path);
        EXPECT_THROW(ini.UpdateFile(), std::runtime_error) << path;
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"a.ini", "b.ini"}));
}

// A write that fails part-way (here the file-size limit, as a full disk
// would) leaves the old settings whole and no other file beside them.
TEST(IniFile, AWriteThatFailsLeavesTheOldFileWhole) {
    vt::test::TempDir dir;
    const std::string path = dir.Path() + "/Vantrel.ini";
    WriteText(path, "[Lv1]\r\nwp0=7\r\n");
    TIniFile ini(path);
    for (int i = 0; i < 50; ++i) ini.WriteInteger("Lv2", "key" + std::to_string(i), i);
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(vt::test::ReadTextFile(path), "[Lv1]\r\nwp0=7\r\n");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"Vantrel.ini"});
}

// The file written in place of the old one keeps its permissions and, where
// we may give it (as root), its owner: a user's settings stay the user's.
TEST(IniFile, TheNewFileKeepsTheOldOnesModeAndOwner) {
    vt::test::TempDir dir;
    const std::string path = dir.Path() + "/advrec.ini";
    WriteText(path, "[Layout]\r\nP4W=1\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
    }
    Settings(path).UpdateFile();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
    EXPECT_EQ(TIniFile(path).ReadInteger("Layout", "P4W", 0), 230);
}

}  // namespace
