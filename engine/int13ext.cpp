#include "int13ext.h"

#include <cstring>

namespace int13ext {

bool Int13IsNT = false;
win::HANDLE Int13Handle = win::INVALID_HANDLE_VALUE;

bool IsWinNT() {
    win::OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    return win::GetVersionExA(&v) && v.dwPlatformId == win::VER_PLATFORM_WIN32_NT;
}

bool Initialize() {
    Int13Handle = win::INVALID_HANDLE_VALUE;
    Int13IsNT = IsWinNT();
    if (Int13IsNT) return true;
    // The driver stays loaded, its handle open, for the life of the program.
    Int13Handle = win::CreateFileA("\\\\.\\INT13EXT.VXD", 0, 0, nullptr, 0, win::FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (Int13Handle == win::INVALID_HANDLE_VALUE) {
        win::MessageBoxA(nullptr, "Error loading \"INT13EXT.VXD\"", "Error", win::MB_OK | win::MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

void Int13ExitProc() {
    // Deleting the driver's name unloads it; its handle goes with it.
    if (!Int13IsNT && Int13Handle != win::INVALID_HANDLE_VALUE) win::DeleteFileA("\\\\.\\INT13EXT");
    Int13Handle = win::INVALID_HANDLE_VALUE;
}

}  // namespace int13ext

bool Int13ReadSectors(std::uint8_t drive, std::uint32_t lba, std::uint8_t count, void* buffer) {
    TInt13Request rq{};
    rq.Drive = drive;
    rq.Lba = lba;
    rq.Count = count;
    rq.Buffer = reinterpret_cast<std::uintptr_t>(buffer);
    win::DWORD returned = 0;
    return win::DeviceIoControl(int13ext::Int13Handle, win::INT13EXT_READ_SECTORS, &rq, sizeof rq, nullptr, 0,
                                &returned, nullptr) != 0;
}

bool Int13GetDriveParams(std::uint8_t drive, TDriveParams& params) {
    params.BufferSize = 30;
    TInt13Request rq{};
    rq.Drive = drive;
    rq.Buffer = reinterpret_cast<std::uintptr_t>(&params);
    win::DWORD returned = 0;
    return win::DeviceIoControl(int13ext::Int13Handle, win::INT13EXT_GET_DRIVE_PARAMS, &rq, sizeof rq, nullptr, 0,
                                &returned, nullptr) != 0;
}
