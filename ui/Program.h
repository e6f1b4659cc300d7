// The program's run, from the engine units' start to their end, on the Qt
// application object that main has made.
#pragma once

namespace ui {

// Starts the units (DiskUtils, the standard engine, int13ext), creates the
// launcher as main window with its caption, runs the message loop until the
// launcher closes and ends the units in reverse order. When the 9x
// physical-drive driver cannot load, its box has been shown and the result
// is 1, before any window exists.
int RunProgram();

// The tool windows of the launcher's buttons.
void RegisterToolWindows();

}  // namespace ui
