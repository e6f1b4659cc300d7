// Physical-drive access on Windows 9x through the INT13EXT.VXD driver:
// loading and unloading it, its sector reads and drive parameters.
#pragma once

#include <cstdint>

#include "WinApi.h"

using TInt13Request = win::INT13EXT_REQUEST;
using TDriveParams = win::INT13_DRIVE_PARAMS;

namespace int13ext {

extern bool Int13IsNT;
extern win::HANDLE Int13Handle;

bool IsWinNT();
// Unit start: on Windows 9x loads the driver; when it cannot be loaded the
// driver box is shown and the result is False: the program must end before
// any window is shown.
bool Initialize();
// Unit end: unloads the driver on Windows 9x.
void Int13ExitProc();

}  // namespace int13ext

bool Int13ReadSectors(std::uint8_t drive, std::uint32_t lba, std::uint8_t count, void* buffer);
bool Int13GetDriveParams(std::uint8_t drive, TDriveParams& params);
