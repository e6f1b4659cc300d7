// The device objects behind the handles of WinApi.h. Internal to the
// platform layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MachineProfile.h"
#include "WinApi.h"

namespace platform {

enum class DeviceKind { Volume, PhysicalDrive, VWin32, Int13Ext, SmartVsd };

struct Device {
    DeviceKind kind = DeviceKind::Volume;
    std::string name;                     // as opened, e.g. "\\.\C:"
    std::shared_ptr<BackingStore> store;  // volume and physical drive
    std::uint64_t position = 0;           // byte position for ReadFile
    int number = -1;                      // physical drive number
    char letter = 0;                      // volume letter
    win::DWORD access = 0;                // GENERIC_ access asked for at open
};

// The device a handle stands for, or null.
Device* DeviceFromHandle(win::HANDLE h);

// The geometry Windows would report for a store of this size.
win::DISK_GEOMETRY GeometryForSize(std::uint64_t bytes);

// S.M.A.R.T. control codes on a physical drive (NT) or on "\\.\SMARTVSD"
// (9x). Answered by a simulated drive of the profile or, for a real Linux
// disk, through SG_IO.
win::BOOL SmartDeviceIoControl(Device& device, win::DWORD code, void* in, win::DWORD inSize,
                               void* out, win::DWORD outSize, win::DWORD* returned);

}  // namespace platform
