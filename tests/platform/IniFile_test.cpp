#include "IniFile.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using platform::TIniFile;

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

}  // namespace
