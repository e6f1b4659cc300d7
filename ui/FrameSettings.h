// The settings files of the two recovery windows ("Vantrel.ini",
// "advrec.ini" in the program folder): one table per file of section, key,
// the defaults for three classes of screen width, and what the value sets.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "IniFile.h"

namespace ui {

enum class TSettingTarget {
    ColumnWidth,      // a column of one of the three lists
    LeftPaneWidth,    // the left pane
    DrivePaneHeight,  // the drive-tree pane
    OpenDestDir,      // option "Open destination directory after recovery"
    ShowNtFolder,     // option "Show NTFS folders"
};

struct TSettingRow {
    const char* section;
    const char* key;
    std::array<int, 3> defaults;  // screen width <= 800, 801 .. 1024, wider
    TSettingTarget target;
    int list = 0;    // ColumnWidth: 1 file list, 2 property list, 3 event log
    int column = 0;  // ColumnWidth: the column
    bool IsBoolean() const { return target == TSettingTarget::OpenDestDir || target == TSettingTarget::ShowNtFolder; }
};

// The class of a screen width: 0 up to 800 pixels, 1 up to 1024, 2 wider.
int ScreenWidthClass(int screenWidth);

// Every row read with the default of the screen's class: a missing key or a
// value that is not a whole number gives the default; a Boolean is any
// non-zero number (1 or 0 as read). A width or height that is not positive
// or does not fit on the screen (a damaged file) gives the default too, so
// that no pane or column is lost and written back lost.
std::vector<int> ReadSettings(const platform::TIniFile& ini, std::span<const TSettingRow> table, int screenWidth,
                              int screenHeight);
// Every row written, in the order of the table (numbers in decimal,
// Booleans as 1 or 0); the file is not saved here.
void WriteSettings(platform::TIniFile& ini, std::span<const TSettingRow> table, const std::vector<int>& values);

// "Vantrel.ini", of the Standard Recovery window.
std::span<const TSettingRow> StandardSettings();
// "advrec.ini", of the Advanced Recovery window.
std::span<const TSettingRow> AdvancedSettings();

}  // namespace ui
