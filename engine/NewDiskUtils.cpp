#include "NewDiskUtils.h"

#include <cstdio>
#include <exception>
#include <string>

#include "DiskUtils.h"
#include "int13ext.h"

win::HANDLE OpenDiskHandle(DriveNo drive) {
    try {
        if (!DiskUtils::IsWinNT()) return nullptr;
        char path[32];
        if (drive >= 0) std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", drive);
        else std::snprintf(path, sizeof path, "\\\\.\\%c:", static_cast<char>(-drive));
        return win::CreateFileA(path, win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr,
                                win::OPEN_EXISTING, win::FILE_FLAG_WRITE_THROUGH, nullptr);
    } catch (const std::exception& e) {
        win::MessageBoxA(nullptr, e.what(), "Error", win::MB_OK | win::MB_ICONERROR);
        return win::INVALID_HANDLE_VALUE;
    }
}

bool ReadDiskSectors(win::HANDLE h, std::uint16_t count, void* buffer, std::int64_t lba, std::uint32_t& bytesRead,
                     DriveNo drive) {
    if (h == win::INVALID_HANDLE_VALUE) return false;
    if (DiskUtils::IsWinNT()) {
        const std::uint64_t offset = static_cast<std::uint64_t>(lba) * 512;
        win::LONG high = static_cast<win::LONG>(offset >> 32);
        if (win::SetFilePointer(h, static_cast<win::LONG>(offset & 0xFFFFFFFFu), &high, win::FILE_BEGIN) ==
                win::INVALID_SET_FILE_POINTER &&
            win::GetLastError() != win::ERROR_SUCCESS)
            return false;
        win::DWORD read = 0;
        bool ok = win::ReadFile(h, buffer, static_cast<win::DWORD>(count) * 512, &read, nullptr) != 0;
        bytesRead = read;
        return ok;
    }
    // The driver's request and the volume read name a sector in 32 bits: a
    // read that reaches sector 2^32 would come back from the drive's start.
    if (lba < 0 || static_cast<std::uint64_t>(lba) + count > 0x100000000ull) {
        bytesRead = 0;
        return false;
    }
    if (drive > 0) {
        // The driver reads at most 6 sectors (3072 bytes) per request.
        bytesRead = 0;
        if (count == 0) return false;
        auto* p = static_cast<std::uint8_t*>(buffer);
        std::uint32_t sector = static_cast<std::uint32_t>(lba);
        std::uint32_t remaining = count;
        while (remaining > 0) {
            const std::uint8_t piece = static_cast<std::uint8_t>(remaining < 6 ? remaining : 6);
            if (!Int13ReadSectors(static_cast<std::uint8_t>(drive & 0xFF), sector, piece, p)) return false;
            sector += piece;
            p += piece * 512u;
            bytesRead += piece * 512u;
            remaining -= piece;
        }
        bytesRead = static_cast<std::uint32_t>(count) * 512;
        return true;
    }
    const std::string name{static_cast<char>(-drive), ':'};
    if (!ReadLogicalSectors(name, static_cast<std::uint32_t>(lba), count, buffer)) return false;
    bytesRead = static_cast<std::uint32_t>(count) * 512;
    return true;
}
