#include "Devices.h"

namespace platform {

// No drive answers S.M.A.R.T. commands yet.
win::BOOL SmartDeviceIoControl(Device&, win::DWORD, void*, win::DWORD, void*, win::DWORD, win::DWORD*) {
    win::SetLastError(win::ERROR_NOT_SUPPORTED);
    return win::FALSE;
}

}  // namespace platform
