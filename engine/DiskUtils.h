// Sectors of a logical volume, named by its drive name ("C:"): on the NT
// family through the volume device, on Windows 9x through VWIN32.
#pragma once

#include <cstdint>
#include <string>

#include "WinApi.h"

namespace DiskUtils {

// Set at unit start (Initialize).
extern win::OSVERSIONINFOA OsVersion;
extern bool Fat32DiskApi;       // Windows 9x with Int 21h 7305h (build 1081 or later)
extern win::HANDLE VWin32Handle; // INVALID_HANDLE_VALUE while closed
extern std::uint32_t LastDiskError;

// LastDiskError values.
constexpr std::uint32_t kErrVWin32Call = 0x100000;
constexpr std::uint32_t kErrNotWin9x = 0x200000;
constexpr std::uint32_t kErrVWin32Open = 0x300000;
constexpr std::uint32_t kErrInt25 = 0x10000;  // + the low byte of EAX

// While one lives on this thread, a failed read shows no box. A recovery
// reads consecutive clusters in one request; when that fails it reads the
// cluster again alone, and the box then names that cluster, as it would
// have had each cluster been read alone from the start.
class TQuietReads {
public:
    TQuietReads();
    ~TQuietReads();
    TQuietReads(const TQuietReads&) = delete;
    TQuietReads& operator=(const TQuietReads&) = delete;
};

void Initialize();  // unit start
void Finalize();    // unit end: closes VWIN32 if still open

bool IsWinNT();
bool OsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint32_t platformId);

bool OpenVWin32();
void CloseVWin32();
bool VWin32Call(win::DWORD controlCode, win::DIOC_REGISTERS& registers);
bool ReadSectors9x(std::uint8_t driveNumber, std::uint32_t start, std::uint16_t count, void* buffer);
bool ReadSectorsNT(const std::string& drive, std::uint64_t start, std::uint16_t count, void* buffer);

}  // namespace DiskUtils

// Whole 512-byte sectors of a logical drive: True when all Count x 512
// bytes were read into Buffer.
bool ReadLogicalSectors(const std::string& drive, std::uint32_t start, std::uint16_t count, void* buffer);
// The same from a 64-bit sector number, for volumes of more than 2^32
// sectors: on the NT family the volume device takes a 64-bit offset; the
// Windows 9x reads carry 32-bit sector numbers and fail beyond them.
bool ReadLogicalSectors64(const std::string& drive, std::uint64_t start, std::uint16_t count, void* buffer);
