// The Qt side of the platform hooks: message boxes as QMessageBox, the
// message pump as the Qt event loop, shell type names and icons from the
// freedesktop MIME database and icon theme.
#pragma once

#include <QIcon>
#include <QString>
#include <cstdint>
#include <string>

#include "WinApi.h"

namespace ui {

// Installs all three. The shell-type provider needs no application object
// (the MIME database is QtCore); boxes and the pump need one to do anything.
void InstallPlatformHooks();
void RemovePlatformHooks();

// A message box of the MB_ style given, over the active window; the answer
// as MessageBoxA gives it (IDOK, IDYES ...).
int ShowMessageBox(const QString& text, const QString& caption, win::UINT type);

// The shell's type name and icon index for a file name and attributes, as
// the provider answers them.
int ShellTypeFromMime(const std::string& fileName, std::uint32_t attributes, std::string& typeName);
// The icon behind an index that ShellTypeFromMime returned (the system image
// list of the windows); a null icon for an unknown index.
QIcon ShellIcon(int index);

}  // namespace ui

namespace ui {

// Makes the freedesktop icon themes reachable and picks Adwaita (which the
// packages bring) when the desktop named no theme (a bare X server, the
// offscreen platform).
void UseIconTheme();

}  // namespace ui
