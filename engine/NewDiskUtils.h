// Sectors of any drive by its drive number, as the advanced engine numbers
// them: 0 to 127 NT physical drives, 0x80 to 0x91 Windows 9x physical drives
// by BIOS number, negative numbers the logical drive of that letter (-67 C:).
#pragma once

#include <cstdint>

#include "WinApi.h"

using DriveNo = std::int16_t;

// A handle on the NT family (INVALID_HANDLE_VALUE when the device cannot be
// opened); 0 on Windows 9x. The caller closes it with CloseHandle.
win::HANDLE OpenDiskHandle(DriveNo drive);

// Reads Count sectors from Lba; BytesRead is what was placed in Buffer (less
// than asked at the end of an NT device, without failing).
bool ReadDiskSectors(win::HANDLE h, std::uint16_t count, void* buffer, std::int64_t lba, std::uint32_t& bytesRead,
                     DriveNo drive);
