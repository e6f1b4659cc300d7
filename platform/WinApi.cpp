#include "WinApi.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Devices.h"
#include "MachineProfile.h"
#include "Recorders.h"
#include "System.h"
#include "VolumeInfo.h"

namespace win {

using platform::Device;
using platform::DeviceKind;
using platform::Machine;
using platform::OsFamily;

namespace {

thread_local DWORD t_lastError = 0;
UINT g_errorMode = 0;

std::mutex g_handleMutex;
std::map<std::intptr_t, std::unique_ptr<Device>> g_handles;
std::intptr_t g_nextHandle = 0x100;
bool g_int13Loaded = false;

HANDLE NewHandle(std::unique_ptr<Device> d) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    std::intptr_t id = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(id, std::move(d));
    return reinterpret_cast<HANDLE>(id);
}

bool IEquals(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

bool IStartsWith(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    return a.size() >= n && IEquals(a.substr(0, n), b);
}

// "C:\" or "C:" to the letter, 0 when it is not a drive root.
char RootLetter(const char* root) {
    if (!root || !std::isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':') return 0;
    if (root[2] != '\0' && !(root[2] == '\\' && root[3] == '\0')) return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
}

void Trace(const std::string& device, DWORD code, const void* in, DWORD inSize, std::uint64_t offset = 0,
           std::uint32_t length = 0) {
    if (!platform::DeviceTrace::Enabled()) return;
    platform::DeviceRequest r;
    r.device = device;
    r.code = code;
    if (in && inSize) r.input.assign(static_cast<const std::uint8_t*>(in), static_cast<const std::uint8_t*>(in) + inSize);
    r.offset = offset;
    r.length = length;
    platform::DeviceTrace::Add(std::move(r));
}

// Int 25h and Int 21h 7305h on a volume of the profile. Returns the DOS
// error code in AL (0 on success): 0x02 drive not ready, 0x04 data error
// (CRC), 0x08 sector not found.
DWORD VolumeAbsoluteRead(char letter, const DISKIO& io, bool viaInt21) {
    const platform::LogicalDriveConfig* d = Machine::Current().Logical(letter);
    if (!d || !d->store || !d->store->Valid()) return 0x02;
    if (viaInt21 ? !d->allow7305 : !d->allowInt25) return 0x02;
    std::uint64_t off = static_cast<std::uint64_t>(io.dwStartSector) * 512;
    std::uint64_t len = static_cast<std::uint64_t>(io.wSectors) * 512;
    if (off + len > d->store->Size()) return 0x08;
    std::int64_t got = d->store->Read(off, reinterpret_cast<void*>(io.dwBuffer), len);
    if (got < 0) return 0x04;
    if (static_cast<std::uint64_t>(got) != len) return 0x08;
    return 0;
}

BOOL VWin32Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    if (!in || inSize < sizeof(DIOC_REGISTERS) || !out || outSize < sizeof(DIOC_REGISTERS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DIOC_REGISTERS regs;
    std::memcpy(&regs, in, sizeof regs);
    DISKIO io;
    if (!regs.reg_EBX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memcpy(&io, reinterpret_cast<const void*>(regs.reg_EBX), sizeof io);
    DWORD err = 0;
    if (code == VWIN32_DIOC_DOS_DRIVEINFO) {
        // Int 21h: only function 7305h (extended absolute disk read/write).
        if ((regs.reg_EAX & 0xFFFF) != 0x7305 || regs.reg_ECX != 0xFFFFFFFFu) err = 0x01;
        else if ((regs.reg_ESI & 1) != 0) err = 0x13;  // writes are refused: write protect
        else if (regs.reg_EDX < 1 || regs.reg_EDX > 26) err = 0x0F;
        else err = VolumeAbsoluteRead(static_cast<char>('A' + regs.reg_EDX - 1), io, true);
    } else if (code == VWIN32_DIOC_DOS_INT25) {
        if (regs.reg_ECX != 0xFFFFFFFFu || (regs.reg_EAX & 0xFF) > 25) err = 0x01;
        else err = VolumeAbsoluteRead(static_cast<char>('A' + (regs.reg_EAX & 0xFF)), io, false);
    } else {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (err) {
        regs.reg_Flags |= 1;  // carry
        regs.reg_EAX = (regs.reg_EAX & 0xFFFFFF00u) | err;
    } else {
        regs.reg_Flags &= ~1u;
    }
    std::memcpy(out, &regs, sizeof regs);
    if (returned) *returned = sizeof regs;
    return TRUE;
}

BOOL Int13Ioctl(DWORD code, void* in, DWORD inSize, DWORD* returned) {
    if (!in || inSize < sizeof(INT13EXT_REQUEST)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    INT13EXT_REQUEST rq;
    std::memcpy(&rq, in, sizeof rq);
    if (rq.Drive < 0x80 || rq.Drive > 0x91) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const platform::PhysicalDriveConfig* d = Machine::Current().Physical(rq.Drive - 0x80);
    if (!d || !d->store || !d->store->Valid() || !rq.Buffer) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    if (returned) *returned = 0;
    if (code == INT13EXT_READ_SECTORS) {
        std::uint64_t off = static_cast<std::uint64_t>(rq.Lba) * 512, len = static_cast<std::uint64_t>(rq.Count) * 512;
        if (off + len > d->store->Size()) {
            SetLastError(ERROR_SECTOR_NOT_FOUND);
            return FALSE;
        }
        std::int64_t got = d->store->Read(off, reinterpret_cast<void*>(rq.Buffer), len);
        if (got < 0 || static_cast<std::uint64_t>(got) != len) {
            SetLastError(ERROR_CRC);
            return FALSE;
        }
        return TRUE;
    }
    if (code == INT13EXT_GET_DRIVE_PARAMS) {
        INT13_DRIVE_PARAMS p;
        std::memcpy(&p, reinterpret_cast<const void*>(rq.Buffer), sizeof p);
        DISK_GEOMETRY g = platform::GeometryForSize(d->store->Size());
        p.BufferSize = 30;
        p.InfoFlags = 0x0002;  // geometry valid
        p.Cylinders = static_cast<DWORD>(g.Cylinders);
        p.Heads = g.TracksPerCylinder;
        p.SectorsPerTrack = g.SectorsPerTrack;
        p.TotalSectors = d->store->Size() / 512;
        p.BytesPerSector = 512;
        p.DptePointer = 0xFFFFFFFFu;
        std::memcpy(reinterpret_cast<void*>(rq.Buffer), &p, sizeof p);
        return TRUE;
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void*, DWORD disposition, DWORD flags, HANDLE) {
    const std::string n = name ? name : "";
    const Machine& m = Machine::Current();
    const bool nt = m.Family() == OsFamily::NT;
    auto d = std::make_unique<Device>();
    d->name = n;
    // Whatever access is asked for, the stores stay read-only: they were
    // opened with O_RDONLY and no write path exists.
    if (IStartsWith(n, "\\\\.\\PhysicalDrive")) {
        std::string digits = n.substr(17);
        if (!nt || digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        int number = std::stoi(digits);
        const platform::PhysicalDriveConfig* p = m.Physical(number);
        // A simulated S.M.A.R.T. drive without an image opens too: it answers
        // the S.M.A.R.T. codes, and reads of its sectors fail.
        if ((!p || !p->store) && !m.Smart(number)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (p && p->store && !p->store->Valid()) {
            SetLastError(p->store->OpenError() == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        d->kind = DeviceKind::PhysicalDrive;
        if (p) d->store = p->store;
        d->number = number;
    } else if (n.size() == 6 && n.compare(0, 4, "\\\\.\\") == 0 && std::isalpha(static_cast<unsigned char>(n[4])) && n[5] == ':') {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(n[4])));
        const platform::LogicalDriveConfig* l = m.Logical(letter);
        if (!nt || !l) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (!l->store) {
            SetLastError(ERROR_NOT_READY);
            return INVALID_HANDLE_VALUE;
        }
        if (!l->store->Valid()) {
            SetLastError(l->store->OpenError() == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        d->kind = DeviceKind::Volume;
        d->store = l->store;
        d->letter = letter;
    } else if (IEquals(n, "\\\\.\\VWIN32")) {
        if (nt) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        d->kind = DeviceKind::VWin32;
    } else if (IEquals(n, "\\\\.\\INT13EXT.VXD")) {
        if (nt || !m.Config().int13extLoads) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        d->kind = DeviceKind::Int13Ext;
        g_int13Loaded = true;
    } else if (IEquals(n, "\\\\.\\SMARTVSD")) {
        if (nt || !m.Config().smartVsdLoads) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        d->kind = DeviceKind::SmartVsd;
    } else {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    d->access = access;
    SetLastError(ERROR_SUCCESS);
    return NewHandle(std::move(d));
}

BOOL CloseHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    auto it = g_handles.find(reinterpret_cast<std::intptr_t>(h));
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    g_handles.erase(it);
    return TRUE;
}

BOOL DeleteFileA(const char* name) {
    const std::string n = name ? name : "";
    if (IEquals(n, "\\\\.\\INT13EXT")) {
        // Unloads the driver: its handles stop answering.
        if (!g_int13Loaded) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        std::lock_guard<std::mutex> lock(g_handleMutex);
        for (auto it = g_handles.begin(); it != g_handles.end();)
            it = it->second->kind == DeviceKind::Int13Ext ? g_handles.erase(it) : std::next(it);
        g_int13Loaded = false;
        Trace(n, 0, nullptr, 0);
        return TRUE;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

DWORD SetFilePointer(HANDLE h, LONG low, LONG* high, DWORD method) {
    Device* d = platform::DeviceFromHandle(h);
    if (!d || !d->store) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t dist = high ? (static_cast<std::int64_t>(*high) << 32) | static_cast<std::uint32_t>(low)
                             : static_cast<std::int64_t>(low);
    std::int64_t base = method == FILE_BEGIN ? 0
                        : method == FILE_CURRENT ? static_cast<std::int64_t>(d->position)
                                                 : static_cast<std::int64_t>(d->store->Size());
    std::int64_t pos = base + dist;
    if (pos < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    d->position = static_cast<std::uint64_t>(pos);
    if (high) *high = static_cast<LONG>(static_cast<std::uint64_t>(pos) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<std::uint64_t>(pos) & 0xFFFFFFFFu);
}

BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, void*) {
    if (read) *read = 0;
    Device* d = platform::DeviceFromHandle(h);
    if (!d || !d->store) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Trace(d->name, 0, nullptr, 0, d->position, toRead);
    // Raw device reads are whole sectors at sector positions, as on Windows.
    if (toRead % 512 != 0 || d->position % 512 != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::int64_t got = d->store->Read(d->position, buffer, toRead);
    if (got < 0) {
        SetLastError(ERROR_CRC);
        return FALSE;
    }
    d->position += static_cast<std::uint64_t>(got);
    if (read) *read = static_cast<DWORD>(got);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DeviceIoControl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned, void*) {
    Device* d = platform::DeviceFromHandle(h);
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Trace(d->name, code, in, inSize);
    switch (d->kind) {
        case DeviceKind::VWin32:
            return VWin32Ioctl(code, in, inSize, out, outSize, returned);
        case DeviceKind::Int13Ext:
            return Int13Ioctl(code, in, inSize, returned);
        case DeviceKind::SmartVsd:
            return platform::SmartDeviceIoControl(*d, code, in, inSize, out, outSize, returned);
        case DeviceKind::Volume:
        case DeviceKind::PhysicalDrive:
            if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
                if (!d->store) {
                    SetLastError(ERROR_NOT_READY);
                    return FALSE;
                }
                if (!out || outSize < sizeof(DISK_GEOMETRY)) {
                    SetLastError(ERROR_INSUFFICIENT_BUFFER);
                    return FALSE;
                }
                DISK_GEOMETRY g = platform::GeometryForSize(d->store->Size());
                std::memcpy(out, &g, sizeof g);
                if (returned) *returned = sizeof g;
                return TRUE;
            }
            if (code == IOCTL_DISK_GET_LENGTH_INFO) {
                if (!d->store) {
                    SetLastError(ERROR_NOT_READY);
                    return FALSE;
                }
                if (!out || outSize < sizeof(GET_LENGTH_INFO)) {
                    SetLastError(ERROR_INSUFFICIENT_BUFFER);
                    return FALSE;
                }
                const GET_LENGTH_INFO info{static_cast<LONGLONG>(d->store->Size())};
                std::memcpy(out, &info, sizeof info);
                if (returned) *returned = sizeof info;
                return TRUE;
            }
            if (d->kind == DeviceKind::PhysicalDrive &&
                (code == SMART_GET_VERSION || code == SMART_SEND_DRIVE_COMMAND || code == SMART_RCV_DRIVE_DATA))
                return platform::SmartDeviceIoControl(*d, code, in, inSize, out, outSize, returned);
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
    }
    return FALSE;
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const Machine& m = Machine::Current();
    std::memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, sizeof(OSVERSIONINFOA) - sizeof(DWORD));
    if (m.Family() == OsFamily::NT) {
        // Windows XP: 5.1 build 2600.
        info->dwMajorVersion = 5;
        info->dwMinorVersion = 1;
        info->dwBuildNumber = 2600;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "Service Pack 2");
    } else {
        // Windows 98 SE: 4.10; the high word of the build repeats the version.
        info->dwMajorVersion = 4;
        info->dwMinorVersion = 10;
        info->dwBuildNumber = (0x040Au << 16) | (m.Config().build9x & 0xFFFF);
        info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, " A ");
    }
    return TRUE;
}

UINT GetDriveTypeA(const char* rootPath) {
    char letter = RootLetter(rootPath);
    if (!letter) return DRIVE_NO_ROOT_DIR;
    const platform::LogicalDriveConfig* d = Machine::Current().Logical(letter);
    return d ? d->driveType : DRIVE_NO_ROOT_DIR;
}

BOOL GetDiskFreeSpaceExA(const char* rootPath, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* total,
                         ULARGE_INTEGER* totalFree) {
    char letter = RootLetter(rootPath);
    const platform::LogicalDriveConfig* d = letter ? Machine::Current().Logical(letter) : nullptr;
    if (!d) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!d->store || !d->store->Valid()) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    // The volume's size; free space is not known without mounting it.
    if (total) total->QuadPart = d->store->Size();
    if (freeToCaller) freeToCaller->QuadPart = 0;
    if (totalFree) totalFree->QuadPart = 0;
    return TRUE;
}

BOOL GetVolumeInformationA(const char* rootPath, char* label, DWORD labelSize, DWORD* serial, DWORD* maxComponent,
                           DWORD* fsFlags, char* fsName, DWORD fsNameSize) {
    char letter = RootLetter(rootPath);
    const platform::LogicalDriveConfig* d = letter ? Machine::Current().Logical(letter) : nullptr;
    if (!d) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!d->store || !d->store->Valid()) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    // Windows answers from the volume itself: the label entry of a FAT
    // root directory, the NTFS volume name.
    const platform::VolumeInfo info = platform::ReadVolumeInfo(*d->store);
    if (label && labelSize) std::snprintf(label, labelSize, "%s", info.Label.c_str());
    if (serial) *serial = info.Serial;
    if (maxComponent) *maxComponent = 255;
    if (fsFlags) *fsFlags = 0;
    if (fsName && fsNameSize) {
        std::snprintf(fsName, fsNameSize, "%s", info.FileSystem.c_str());
    }
    return TRUE;
}

UINT SetErrorMode(UINT mode) {
    UINT previous = g_errorMode;
    g_errorMode = mode;
    return previous;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    if (!utc || !local) return FALSE;
    std::uint64_t t = (static_cast<std::uint64_t>(utc->dwHighDateTime) << 32) | utc->dwLowDateTime;
    // 100-ns ticks since 1601 to Unix seconds, then the C library's TZ rule.
    constexpr std::int64_t kEpochDiff = 11644473600LL;
    std::int64_t secs = static_cast<std::int64_t>(t / 10000000ULL) - kEpochDiff;
    std::time_t tt = static_cast<std::time_t>(secs);
    std::tm tmv{};
    if (!localtime_r(&tt, &tmv)) return FALSE;
    std::int64_t offset = tmv.tm_gmtoff;
    std::int64_t shifted = static_cast<std::int64_t>(t) + offset * 10000000LL;
    if (shifted < 0) return FALSE;
    local->dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(shifted) & 0xFFFFFFFFu);
    local->dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(shifted) >> 32);
    return TRUE;
}

BOOL FileTimeToDosDateTime(const FILETIME* ft, WORD* dosDate, WORD* dosTime) {
    if (!ft) return FALSE;
    std::uint64_t t = (static_cast<std::uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
    constexpr std::int64_t kEpochDiff = 11644473600LL;
    std::int64_t secs = static_cast<std::int64_t>(t / 10000000ULL) - kEpochDiff;
    std::time_t tt = static_cast<std::time_t>(secs);
    std::tm tmv{};
    if (!gmtime_r(&tt, &tmv)) return FALSE;
    int year = tmv.tm_year + 1900;
    // DOS dates run from 1980 to 2107.
    if (year < 1980 || year > 2107) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dosDate) *dosDate = static_cast<WORD>(((year - 1980) << 9) | ((tmv.tm_mon + 1) << 5) | tmv.tm_mday);
    if (dosTime) *dosTime = static_cast<WORD>((tmv.tm_hour << 11) | (tmv.tm_min << 5) | (tmv.tm_sec / 2));
    return TRUE;
}

}  // namespace win

namespace platform {

Device* DeviceFromHandle(win::HANDLE h) {
    std::lock_guard<std::mutex> lock(win::g_handleMutex);
    auto it = win::g_handles.find(reinterpret_cast<std::intptr_t>(h));
    return it == win::g_handles.end() ? nullptr : it->second.get();
}

win::DISK_GEOMETRY GeometryForSize(std::uint64_t bytes) {
    win::DISK_GEOMETRY g{};
    g.BytesPerSector = 512;
    g.SectorsPerTrack = 63;
    g.TracksPerCylinder = 255;
    g.MediaType = win::FixedMedia;
    // Media smaller than one cylinder of 255 x 63 sectors get fewer tracks,
    // so that they still have at least one cylinder.
    std::uint64_t sectors = bytes / 512;
    while (g.TracksPerCylinder > 1 && sectors < static_cast<std::uint64_t>(g.TracksPerCylinder) * g.SectorsPerTrack)
        --g.TracksPerCylinder;
    g.Cylinders = static_cast<win::LONGLONG>(bytes / (static_cast<std::uint64_t>(g.TracksPerCylinder) * g.SectorsPerTrack * 512));
    return g;
}

}  // namespace platform
