#include "DiskUtils.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "PageBuffer.h"

namespace DiskUtils {

win::OSVERSIONINFOA OsVersion{};
bool Fat32DiskApi = false;
win::HANDLE VWin32Handle = win::INVALID_HANDLE_VALUE;
std::uint32_t LastDiskError = 0;

namespace {

thread_local int quietReads = 0;

void ErrorBox(const std::string& text) {
    if (quietReads > 0) return;
    win::MessageBoxA(nullptr, text.c_str(), "Error", win::MB_OK | win::MB_ICONERROR);
}

}  // namespace

TQuietReads::TQuietReads() { ++quietReads; }
TQuietReads::~TQuietReads() { --quietReads; }

bool IsWinNT() {
    win::OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    return win::GetVersionExA(&v) && v.dwPlatformId == win::VER_PLATFORM_WIN32_NT;
}

bool OsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint32_t platformId) {
    return OsVersion.dwMajorVersion >= major && OsVersion.dwMinorVersion >= minor &&
           (OsVersion.dwBuildNumber & 0xFFFF) >= build && OsVersion.dwPlatformId == platformId;
}

void Initialize() {
    LastDiskError = 0;
    VWin32Handle = win::INVALID_HANDLE_VALUE;
    std::memset(&OsVersion, 0, sizeof OsVersion);
    OsVersion.dwOSVersionInfoSize = sizeof OsVersion;  // 148
    win::GetVersionExA(&OsVersion);
    Fat32DiskApi = OsVersionAtLeast(0, 0, 1081, win::VER_PLATFORM_WIN32_WINDOWS);
}

void Finalize() {
    win::DIOC_REGISTERS regs{};
    VWin32Call(0, regs);
}

bool OpenVWin32() {
    if (!OsVersionAtLeast(0, 0, 0, win::VER_PLATFORM_WIN32_WINDOWS)) {
        LastDiskError = kErrNotWin9x;
        return false;
    }
    VWin32Handle = win::CreateFileA("\\\\.\\VWIN32", 0, 0, nullptr, 0, win::FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (VWin32Handle == win::INVALID_HANDLE_VALUE) {
        LastDiskError = kErrVWin32Open;
        return false;
    }
    return true;
}

void CloseVWin32() {
    if (VWin32Handle != win::INVALID_HANDLE_VALUE) {
        win::CloseHandle(VWin32Handle);
        VWin32Handle = win::INVALID_HANDLE_VALUE;
    }
}

bool VWin32Call(win::DWORD controlCode, win::DIOC_REGISTERS& registers) {
    LastDiskError = 0;
    if (controlCode == 0) {
        CloseVWin32();
        return false;
    }
    bool ok = false;
    if (VWin32Handle != win::INVALID_HANDLE_VALUE || OpenVWin32()) {
        win::DWORD returned = 0;
        ok = win::DeviceIoControl(VWin32Handle, controlCode, &registers, sizeof registers, &registers,
                                  sizeof registers, &returned, nullptr) != 0;
        if (!ok) LastDiskError = kErrVWin32Call;
    }
    // Every attempt opens and closes VWIN32.
    CloseVWin32();
    return ok;
}

bool ReadSectors9x(std::uint8_t driveNumber, std::uint32_t start, std::uint16_t count, void* buffer) {
    LastDiskError = 0;
    win::DISKIO io{};
    io.dwStartSector = start;
    io.wSectors = count;
    io.dwBuffer = reinterpret_cast<std::uintptr_t>(buffer);
    if (Fat32DiskApi) {
        // Int 21h 7305h: extended absolute read, drives numbered from 1.
        win::DIOC_REGISTERS regs{};
        regs.reg_EAX = 0x7305;
        regs.reg_EBX = reinterpret_cast<std::uintptr_t>(&io);
        regs.reg_ECX = 0xFFFFFFFFu;
        regs.reg_EDX = driveNumber;
        regs.reg_ESI = 0;  // read
        regs.reg_Flags = 0;
        if (VWin32Call(win::VWIN32_DIOC_DOS_DRIVEINFO, regs) && (regs.reg_Flags & 1) == 0) return true;
    }
    // Int 25h: absolute read, drives numbered from 0.
    win::DIOC_REGISTERS regs{};
    regs.reg_EAX = static_cast<win::DWORD>(driveNumber - 1);
    regs.reg_EBX = reinterpret_cast<std::uintptr_t>(&io);
    regs.reg_ECX = 0xFFFFFFFFu;
    regs.reg_Flags = 0;
    if (!VWin32Call(win::VWIN32_DIOC_DOS_INT25, regs)) return false;
    if ((regs.reg_Flags & 1) == 0) return true;
    LastDiskError = kErrInt25 + (regs.reg_EAX & 0xFF);
    return false;
}

bool ReadSectorsNT(const std::string& drive, std::uint64_t start, std::uint16_t count, void* buffer) {
    bool result = false;
    try {
        const std::string path = "\\\\.\\" + drive;
        win::HANDLE h = win::CreateFileA(path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                         nullptr, win::OPEN_EXISTING, win::FILE_FLAG_WRITE_THROUGH, nullptr);
        if (h == win::INVALID_HANDLE_VALUE) return false;
        struct Closer {
            win::HANDLE h;
            ~Closer() { win::CloseHandle(h); }
        } closer{h};
        win::LONG high = static_cast<win::LONG>(start >> 23);
        win::LONG low = static_cast<win::LONG>(start << 9);
        if (win::SetFilePointer(h, low, &high, win::FILE_BEGIN) == win::INVALID_SET_FILE_POINTER &&
            win::GetLastError() != win::ERROR_SUCCESS)
            return false;
        const win::DWORD bytes = static_cast<win::DWORD>(count) * 512;
        // Straight into the caller's buffer: after a failed or short read it
        // holds zeros where nothing was read (all of it after a failure,
        // whatever the failed read left there).
        win::DWORD read = 0;
        bool ok = win::ReadFile(h, buffer, bytes, &read, nullptr) != 0;
        const win::DWORD placed = ok ? std::min(read, bytes) : 0;
        if (placed < bytes) std::memset(static_cast<std::uint8_t*>(buffer) + placed, 0, bytes - placed);
        // A read that ends before the bytes asked for (the end of a device,
        // or of a partial image of one) failed as much as one the device
        // refused: the caller's data is not all there.
        if (!ok || read < bytes) {
            const win::DWORD code = ok ? win::ERROR_HANDLE_EOF : win::GetLastError();
            ErrorBox("Error when reading data:\r\nError Code:" + std::to_string(code) + "\r\n驱动器" +
                     drive.substr(0, 1) + "   扇区数:" + std::to_string(start) + "   块:" + std::to_string(count));
        }
        result = ok && read == bytes;
    } catch (const std::exception& e) {
        ErrorBox(e.what());
    }
    return result;
}

}  // namespace DiskUtils

bool ReadLogicalSectors(const std::string& drive, std::uint32_t start, std::uint16_t count, void* buffer) {
    if (DiskUtils::IsWinNT()) return DiskUtils::ReadSectorsNT(drive, start, count, buffer);
    if (drive.empty()) return false;
    const int letter = std::toupper(static_cast<unsigned char>(drive[0]));
    return DiskUtils::ReadSectors9x(static_cast<std::uint8_t>(letter - 'A' + 1), start, count, buffer);
}

bool ReadLogicalSectors64(const std::string& drive, std::uint64_t start, std::uint16_t count, void* buffer) {
    if (start <= 0xFFFFFFFFu) return ReadLogicalSectors(drive, static_cast<std::uint32_t>(start), count, buffer);
    if (DiskUtils::IsWinNT()) return DiskUtils::ReadSectorsNT(drive, start, count, buffer);
    return false;
}
