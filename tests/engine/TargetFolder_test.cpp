// The target folder of a recovery: opened once from the user's path, files
// and folders created in it exclusively, under the names MakeUniqueFileName
// gives, never through a link.
#include "TargetFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
            EXPECT_LT(f.CreateFile("x").fd, 0);
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
                const vt::TargetFolder::Created made = folder.CreateFile(name);
                ASSERT_GE(made.fd, 0);
                ::close(made.fd);
                EXPECT_EQ(made.path, expected);
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(expected)));
            }
        }
    }
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(fs::exists(tmp.Path() + "/none"));
}

}  // namespace
