// The target folder of a recovery: opened once from the user's path, files
// and folders created in it exclusively, under the names MakeUniqueFileName
// gives, never through a link.
#include "TargetFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

#include "DiskParam.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

TEST(TargetFolder, TheChosenFolderIsNotTakenThroughALinkButItsWayMayBe) {
    vt::test::TempDir tmp;
    const std::string real = tmp.Path() + "/real";
    fs::create_directories(real + "/inner");
    fs::create_directory_symlink(real, tmp.Path() + "/way");
    fs::create_directory_symlink(real + "/inner", tmp.Path() + "/link");
    struct Case {
        const char* path;
        bool opens;
    };
    for (Case c : {Case{"/real", true}, Case{"/real/", true}, Case{"/way/inner", true}, Case{"/way/inner//", true},
                   Case{"/link", false}, Case{"/link/", false}, Case{"/missing", false}}) {
        const vt::TargetFolder f = vt::TargetFolder::Open(tmp.Path() + c.path);
        EXPECT_EQ(f.Valid(), c.opens) << c.path;
        if (!c.opens) {
            EXPECT_NE(f.Error(), 0) << c.path;
            // Nothing is made where the folder did not open.
            EXPECT_FALSE(f.CreateFile("x").Valid());
            EXPECT_FALSE(f.CreateFolder("y").Valid());
        }
    }
    EXPECT_TRUE(fs::is_empty(real + "/inner"));
}

// The names tried are MakeUniqueFileName's, whatever holds the name: a
// file, a folder, a dangling link or a link to a folder.
TEST(TargetFolder, NamesTakenByAnythingGetTheNextNumberOfTheUniqueNameRule) {
    vt::test::TempDir tmp;
    const std::string elsewhere = tmp.Path() + "/elsewhere";
    fs::create_directory(elsewhere);
    const std::string dir = tmp.Path() + "/out";
    fs::create_directory(dir);
    const vt::TargetFolder folder = vt::TargetFolder::Open(dir);
    ASSERT_TRUE(folder.Valid());
    enum Taken { File, Folder, Dangling, LinkToFolder };
    auto take = [&](const std::string& path, Taken how) {
        switch (how) {
            case File: std::ofstream(path) << "old"; break;
            case Folder: fs::create_directory(path); break;
            case Dangling: fs::create_symlink(tmp.Path() + "/none", path); break;
            case LinkToFolder: fs::create_directory_symlink(elsewhere, path); break;
        }
    };
    struct Case {
        const char* name;
        Taken first, second;
    };
    for (Case c : {Case{"a.b.txt", File, Dangling}, Case{"noext", Dangling, LinkToFolder},
                   Case{".cfg", LinkToFolder, Folder}, Case{"?EADME.TXT", Folder, File},
                   Case{"../up", Dangling, Dangling}}) {
        for (bool asFolder : {false, true}) {
            const std::string name = std::string(c.name) + (asFolder ? "d" : "");
            SCOPED_TRACE(name);
            take(MakeUniqueFileName(name, dir), c.first);
            take(MakeUniqueFileName(name, dir), c.second);
            const std::string expected = MakeUniqueFileName(name, dir);
            if (asFolder) {
                const vt::TargetFolder made = folder.CreateFolder(name);
                ASSERT_TRUE(made.Valid());
                EXPECT_EQ(made.Path(), expected);
                EXPECT_TRUE(fs::is_directory(fs::symlink_status(expected)));
            } else {
                vt::TargetFolder::NewFile made = folder.CreateFile(name);
                ASSERT_TRUE(made.Valid());
                ASSERT_EQ(made.Name(), 0);
                EXPECT_EQ(made.Close(), 0);
                EXPECT_EQ(made.Path(), expected);
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(expected)));
            }
        }
    }
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(fs::exists(tmp.Path() + "/none"));
}

// A file carries its name only once it is complete: while its bytes are
// written nothing in the folder has that name, and a file that is dropped
// (a stop) or never closed (a crash) leaves no name behind. Where the
// target's file system has no unnamed files, a temporary name stands in,
// which no recovered file can have.
class NewFileNaming : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { vt::SetUnnamedFilesForTests(GetParam()); }
    void TearDown() override { vt::SetUnnamedFilesForTests(true); }
    // The names in Dir that are no temporary ones.
    static std::vector<std::string> Names(const std::string& dir) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string n = e.path().filename().string();
            if (!(n.rfind(".vantrel-", 0) == 0 && n.size() > 5 && n.substr(n.size() - 5) == ".part")) out.push_back(n);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_P(NewFileNaming, TheNameComesWhenTheFileIsCompleteAndADroppedFileLeavesNothing) {
    vt::test::TempDir tmp;
    const vt::TargetFolder folder = vt::TargetFolder::Open(tmp.Path());
    ASSERT_TRUE(folder.Valid());
    {
        vt::TargetFolder::NewFile f = folder.CreateFile("whole.txt");
        ASSERT_TRUE(f.Valid());
        ASSERT_EQ(::write(f.Descriptor(), "bytes", 5), 5);
        EXPECT_TRUE(Names(tmp.Path()).empty()) << "named before it was complete";
        EXPECT_EQ(f.Name(), 0);
        EXPECT_EQ(f.Path(), tmp.Path() + "/whole.txt");
        EXPECT_EQ(f.Below(), "whole.txt");
        EXPECT_EQ(f.Close(), 0);
    }
    {
        vt::TargetFolder::NewFile dropped = folder.CreateFile("dropped.txt");
        ASSERT_TRUE(dropped.Valid());
        ASSERT_EQ(::write(dropped.Descriptor(), "part", 4), 4);
        EXPECT_EQ(dropped.Close(), 0);
        vt::TargetFolder::NewFile abandoned = folder.CreateFile("abandoned.txt");
        ASSERT_TRUE(abandoned.Valid());
    }
    EXPECT_EQ(Names(tmp.Path()), std::vector<std::string>{"whole.txt"});
    EXPECT_EQ(vt::test::ReadTextFile(tmp.Path() + "/whole.txt"), "bytes");
    // Nothing is left over, not even a temporary name.
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()), 1);
}

// The name is given without replacing anything: a name taken meanwhile,
// by a file or a link, gets the next "_N" name, and a sub-folder's file is
// named below the chosen folder for the log.
TEST_P(NewFileNaming, ANameTakenWhileTheFileWasWrittenIsNotReplaced) {
    vt::test::TempDir tmp;
    const vt::TargetFolder folder = vt::TargetFolder::Open(tmp.Path());
    const vt::TargetFolder sub = folder.CreateFolder("sub");
    ASSERT_TRUE(sub.Valid());
    EXPECT_EQ(sub.Below(), "sub");
    vt::TargetFolder::NewFile f = sub.CreateFile("a.txt");
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.Below(), "sub/a.txt");
    std::ofstream(tmp.Path() + "/sub/a.txt") << "older";
    fs::create_symlink(tmp.Path() + "/none", tmp.Path() + "/sub/a_1.txt");
    ASSERT_EQ(::write(f.Descriptor(), "new", 3), 3);
    ASSERT_EQ(f.Name(), 0);
    EXPECT_EQ(f.Below(), "sub/a_2.txt");
    f.Close();
    EXPECT_EQ(vt::test::ReadTextFile(tmp.Path() + "/sub/a.txt"), "older");
    EXPECT_TRUE(fs::is_symlink(tmp.Path() + "/sub/a_1.txt"));
    EXPECT_FALSE(fs::exists(tmp.Path() + "/none"));
    EXPECT_EQ(vt::test::ReadTextFile(tmp.Path() + "/sub/a_2.txt"), "new");
}

INSTANTIATE_TEST_SUITE_P(Kinds, NewFileNaming, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Unnamed" : "TemporaryName"); });

// A target that shortens names (an 8.3-only file system) makes every "_N"
// name one that exists; the search ends, and the file or folder counts as
// one that cannot be made. Here every name the search may try is taken.
TEST(TargetFolder, TheSearchForAFreeNameIsBounded) {
    vt::test::TempDir tmp;
    const vt::TargetFolder folder = vt::TargetFolder::Open(tmp.Path());
    const TUniqueNames names("x.txt", 255);
    for (unsigned n = 0; n < vt::TargetFolder::kMaxNameTries; ++n) std::ofstream(tmp.Path() + "/" + names[n]);
    vt::TargetFolder::NewFile f = folder.CreateFile("x.txt");
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.Name(), EEXIST);
    f.Close();
    const vt::TargetFolder d = folder.CreateFolder("x.txt");
    EXPECT_FALSE(d.Valid());
    EXPECT_EQ(d.Error(), EEXIST);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(vt::TargetFolder::kMaxNameTries));
}

}  // namespace
