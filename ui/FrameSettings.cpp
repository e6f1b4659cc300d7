#include "FrameSettings.h"

namespace ui {

namespace {

using T = TSettingTarget;

const TSettingRow kStandard[] = {
    {"Lv1", "wp0", {190, 230, 250}, T::ColumnWidth, 1, 0},
    {"Lv1", "wp1", {75, 110, 110}, T::ColumnWidth, 1, 1},
    {"Lv1", "wp2", {75, 90, 110}, T::ColumnWidth, 1, 2},
    {"Lv1", "wp3", {75, 110, 110}, T::ColumnWidth, 1, 3},
    {"Lv1", "wp4", {160, 150, 150}, T::ColumnWidth, 1, 4},
    {"Lv2", "wp0", {100, 140, 140}, T::ColumnWidth, 2, 0},
    {"Lv2", "wp1", {465, 600, 810}, T::ColumnWidth, 2, 1},
    {"Lv3", "wp0", {350, 350, 350}, T::ColumnWidth, 3, 0},
    {"Lv3", "wp1", {100, 100, 100}, T::ColumnWidth, 3, 1},
    {"Partition List", "Width", {180, 225, 260}, T::LeftPaneWidth},
    {"Partition List", "Height", {190, 240, 250}, T::DrivePaneHeight},
    {"Options", "OpenDestDir", {1, 1, 1}, T::OpenDestDir},
};

const TSettingRow kAdvanced[] = {
    {"Layout", "P4W", {190, 230, 255}, T::LeftPaneWidth},
    {"Layout", "P8H", {190, 240, 250}, T::DrivePaneHeight},
    {"Layout", "Col0W", {145, 200, 200}, T::ColumnWidth, 1, 0},
    {"Layout", "Col1W", {100, 100, 100}, T::ColumnWidth, 1, 1},
    {"Layout", "Col2W", {70, 80, 80}, T::ColumnWidth, 1, 2},
    {"Layout", "Col3W", {120, 130, 130}, T::ColumnWidth, 1, 3},
    {"Layout", "Col4W", {120, 130, 130}, T::ColumnWidth, 1, 4},
    {"Layout", "Lv2Col0W", {120, 120, 120}, T::ColumnWidth, 2, 0},
    {"Layout", "Lv2Col1W", {440, 600, 810}, T::ColumnWidth, 2, 1},
    {"Layout", "Lv3Col0W", {300, 300, 300}, T::ColumnWidth, 3, 0},
    {"Layout", "Lv3Col1W", {120, 120, 120}, T::ColumnWidth, 3, 1},
    {"Options", "ShowNTFolder", {1, 1, 1}, T::ShowNtFolder},
    {"Options", "OpenDestDir", {1, 1, 1}, T::OpenDestDir},
};

}  // namespace

int ScreenWidthClass(int screenWidth) {
    if (screenWidth <= 800) return 0;
    if (screenWidth <= 1024) return 1;
    return 2;
}

std::vector<int> ReadSettings(const platform::TIniFile& ini, std::span<const TSettingRow> table, int screenWidth,
                              int screenHeight) {
    const int cls = ScreenWidthClass(screenWidth);
    std::vector<int> values;
    values.reserve(table.size());
    for (const TSettingRow& row : table) {
        const int def = row.defaults[static_cast<std::size_t>(cls)];
        if (row.IsBoolean()) {
            values.push_back(ini.ReadBool(row.section, row.key, def != 0) ? 1 : 0);
            continue;
        }
        const int value = ini.ReadInteger(row.section, row.key, def);
        const int limit = row.target == TSettingTarget::DrivePaneHeight ? screenHeight : screenWidth;
        values.push_back(value > 0 && value <= limit ? value : def);
    }
    return values;
}

void WriteSettings(platform::TIniFile& ini, std::span<const TSettingRow> table, const std::vector<int>& values) {
    for (std::size_t i = 0; i < table.size() && i < values.size(); ++i) {
        if (table[i].IsBoolean()) ini.WriteBool(table[i].section, table[i].key, values[i] != 0);
        else ini.WriteInteger(table[i].section, table[i].key, values[i]);
    }
}

std::span<const TSettingRow> StandardSettings() { return kStandard; }
std::span<const TSettingRow> AdvancedSettings() { return kAdvanced; }

}  // namespace ui
