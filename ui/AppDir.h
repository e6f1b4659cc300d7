// The program folder as the windows use it: the folder of the executable
// with a trailing "/". The settings files and the help file live there.
#pragma once

#include <string>

namespace ui {

// Computed once from the executable's path (platform::ProgramPath).
const std::string& AppDir();

}  // namespace ui
