// The few Windows services the engine calls, answered from Linux.
//
// Names, constants and structure layouts follow the published Windows API so
// that the engine reads like a Windows program; the implementation behind
// them lives in this folder and never writes a sector of any backing store.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using BOOL = int;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using HANDLE = void*;
using HWND = void*;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// CreateFile access, sharing, disposition and flags.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x00000001u;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;

// SetFilePointer.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// Error codes (GetLastError).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_CRC = 23;
constexpr DWORD ERROR_SECTOR_NOT_FOUND = 27;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_IO_DEVICE = 1117;

// GetDriveType.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// SetErrorMode.
constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;

// GetVersionEx platform ids.
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Device control codes.
constexpr DWORD IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x00070000u;
// The exact size of a disk or volume in bytes (GET_LENGTH_INFO, 8 bytes).
constexpr DWORD IOCTL_DISK_GET_LENGTH_INFO = 0x0007405Cu;
constexpr DWORD SMART_GET_VERSION = 0x00074080u;
constexpr DWORD SMART_SEND_DRIVE_COMMAND = 0x0007C084u;
constexpr DWORD SMART_RCV_DRIVE_DATA = 0x0007C088u;
// VWIN32 control codes of Windows 9x.
constexpr DWORD VWIN32_DIOC_DOS_INT25 = 2;
constexpr DWORD VWIN32_DIOC_DOS_DRIVEINFO = 6;  // Int 21h function 73xxh
// INT13EXT.VXD control codes.
constexpr DWORD INT13EXT_READ_SECTORS = 2;
constexpr DWORD INT13EXT_GET_DRIVE_PARAMS = 4;

// MessageBox styles and answers.
constexpr UINT MB_OK = 0x00000000u;
constexpr UINT MB_YESNO = 0x00000004u;
constexpr UINT MB_ICONERROR = 0x00000010u;
constexpr UINT MB_ICONQUESTION = 0x00000020u;
constexpr UINT MB_ICONWARNING = 0x00000030u;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030u;
constexpr UINT MB_ICONINFORMATION = 0x00000040u;
constexpr UINT MB_ICONMASK = 0x000000F0u;
constexpr UINT MB_TYPEMASK = 0x0000000Fu;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;  // 148
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
static_assert(sizeof(FILETIME) == 8);

struct ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

// DISK_GEOMETRY as IOCTL_DISK_GET_DRIVE_GEOMETRY returns it (24 bytes).
struct DISK_GEOMETRY {
    LONGLONG Cylinders;
    DWORD MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
};
static_assert(sizeof(DISK_GEOMETRY) == 24);

struct GET_LENGTH_INFO {
    LONGLONG Length;
};
constexpr DWORD FixedMedia = 12;
constexpr DWORD RemovableMedia = 11;

// VWIN32 register block. On Windows 9x every field is 32 bits wide; EBX
// carries the address of the DISKIO packet, so on this 64-bit build it is a
// pointer-wide field. The block never reaches a disk; only the program and
// the stand-in device read it.
struct DIOC_REGISTERS {
    std::uintptr_t reg_EBX;
    DWORD reg_EDX;
    DWORD reg_ECX;
    DWORD reg_EAX;
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;
};

// DISKIO packet of Int 25h and Int 21h 7305h: start sector, count and buffer
// address. Packed as on Windows 9x except the buffer address, widened to a
// pointer for the same reason as reg_EBX.
#pragma pack(push, 1)
struct DISKIO {
    DWORD dwStartSector;
    WORD wSectors;
    std::uintptr_t dwBuffer;
};
#pragma pack(pop)
static_assert(sizeof(DISKIO) == 6 + sizeof(std::uintptr_t));

// Request block of the INT13EXT.VXD driver: drive, first sector, count and
// the buffer address (sector buffer or drive-parameter block). Packed; the
// buffer address is pointer-wide on this build (4 bytes on Windows 9x, where
// the block is 11 bytes long).
#pragma pack(push, 1)
struct INT13EXT_REQUEST {
    BYTE Drive;
    DWORD Lba;
    BYTE Count;
    std::uintptr_t Buffer;
    BYTE Reserved;
};
#pragma pack(pop)
static_assert(sizeof(INT13EXT_REQUEST) == 7 + sizeof(std::uintptr_t));

// Drive parameters of the INT 13h extensions, function 48h, version 2
// layout (30 bytes), filled by the driver.
#pragma pack(push, 1)
struct INT13_DRIVE_PARAMS {
    WORD BufferSize;       // 0
    WORD InfoFlags;        // 2
    DWORD Cylinders;       // 4
    DWORD Heads;           // 8
    DWORD SectorsPerTrack; // 12
    ULONGLONG TotalSectors;// 16
    WORD BytesPerSector;   // 24
    DWORD DptePointer;     // 26
};
#pragma pack(pop)
static_assert(sizeof(INT13_DRIVE_PARAMS) == 30);

// The S.M.A.R.T. interface of the disk drivers (SMART_GET_VERSION,
// SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA on "\\.\PhysicalDriveN")
// and of SMARTVSD.VXD on Windows 9x. The structures are byte-packed, as the
// drivers read and write them.
#pragma pack(push, 1)
// Answer to SMART_GET_VERSION (24 bytes).
struct GETVERSIONINPARAMS {
    BYTE bVersion;        // 0  interface version
    BYTE bRevision;       // 1
    BYTE bReserved;       // 2
    BYTE bIDEDeviceMap;   // 3  bits 0-3: ATA device at primary master, primary
                          //    slave, secondary master, secondary slave;
                          //    bits 4-7: ATAPI device at the same positions
    DWORD fCapabilities;  // 4  CAP_ flags
    DWORD dwReserved[4];  // 8
};
static_assert(sizeof(GETVERSIONINPARAMS) == 24);

// The ATA task-file registers of one command (8 bytes).
struct IDEREGS {
    BYTE bFeaturesReg;      // 0
    BYTE bSectorCountReg;   // 1
    BYTE bSectorNumberReg;  // 2
    BYTE bCylLowReg;        // 3
    BYTE bCylHighReg;       // 4
    BYTE bDriveHeadReg;     // 5  0xA0 master, 0xB0 slave
    BYTE bCommandReg;       // 6
    BYTE bReserved;         // 7
};
static_assert(sizeof(IDEREGS) == 8);

// Input of SMART_SEND_DRIVE_COMMAND and SMART_RCV_DRIVE_DATA (33 bytes; the
// request itself is the 32 bytes before bBuffer).
struct SENDCMDINPARAMS {
    DWORD cBufferSize;     // 0  bytes of data the command moves
    IDEREGS irDriveRegs;   // 4
    BYTE bDriveNumber;     // 12 0 to 3 (SMARTVSD selects the drive by it)
    BYTE bReserved[3];     // 13
    DWORD dwReserved[4];   // 16
    BYTE bBuffer[1];       // 32 data sent with the command
};
static_assert(sizeof(SENDCMDINPARAMS) == 33);

// The driver's report on a command (12 bytes).
struct DRIVERSTATUS {
    BYTE bDriverError;    // 0  SMART_ error code
    BYTE bIDEError;       // 1  the drive's error register
    BYTE bReserved[2];    // 2
    DWORD dwReserved[2];  // 4
};
static_assert(sizeof(DRIVERSTATUS) == 12);

// Output of both commands: a 16-byte header, then the data read.
struct SENDCMDOUTPARAMS {
    DWORD cBufferSize;          // 0  bytes of data in bBuffer
    DRIVERSTATUS DriverStatus;  // 4
    BYTE bBuffer[1];            // 16
};
static_assert(sizeof(SENDCMDOUTPARAMS) == 17);
#pragma pack(pop)

// GETVERSIONINPARAMS.fCapabilities.
constexpr DWORD CAP_ATA_ID_CMD = 1;
constexpr DWORD CAP_ATAPI_ID_CMD = 2;
constexpr DWORD CAP_SMART_CMD = 4;
// Commands, the S.M.A.R.T. signature in the cylinder registers, and the
// S.M.A.R.T. subcommands in the features register.
constexpr BYTE ID_CMD = 0xEC;        // IDENTIFY DEVICE
constexpr BYTE ATAPI_ID_CMD = 0xA1;  // IDENTIFY PACKET DEVICE
constexpr BYTE SMART_CMD = 0xB0;
constexpr BYTE SMART_CYL_LOW = 0x4F;
constexpr BYTE SMART_CYL_HI = 0xC2;
constexpr BYTE READ_ATTRIBUTES = 0xD0;
constexpr BYTE READ_THRESHOLDS = 0xD1;
constexpr BYTE ENABLE_SMART = 0xD8;
constexpr BYTE DISABLE_SMART = 0xD9;
constexpr BYTE RETURN_SMART_STATUS = 0xDA;
constexpr DWORD IDENTIFY_BUFFER_SIZE = 512;
constexpr DWORD READ_ATTRIBUTE_BUFFER_SIZE = 512;
constexpr DWORD READ_THRESHOLD_BUFFER_SIZE = 512;
// DRIVERSTATUS.bDriverError.
constexpr BYTE SMART_NO_ERROR = 0;
constexpr BYTE SMART_IDE_ERROR = 1;
constexpr BYTE SMART_INVALID_FLAG = 2;
constexpr BYTE SMART_INVALID_COMMAND = 3;
constexpr BYTE SMART_INVALID_BUFFER = 4;
constexpr BYTE SMART_INVALID_DRIVE = 5;
constexpr BYTE SMART_INVALID_IOCTL = 6;
constexpr BYTE SMART_ERROR_NO_MEM = 7;
constexpr BYTE SMART_INVALID_REGISTER = 8;
constexpr BYTE SMART_NOT_SUPPORTED = 9;
constexpr BYTE SMART_NO_IDE_DEVICE = 10;

// Files and devices.
HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD method);
BOOL CloseHandle(HANDLE h);
BOOL DeviceIoControl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned, void* overlapped);
BOOL DeleteFileA(const char* name);
DWORD GetLastError();
void SetLastError(DWORD code);

// System information.
BOOL GetVersionExA(OSVERSIONINFOA* info);
UINT GetDriveTypeA(const char* rootPath);
BOOL GetDiskFreeSpaceExA(const char* rootPath, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* total,
                         ULARGE_INTEGER* totalFree);
BOOL GetVolumeInformationA(const char* rootPath, char* label, DWORD labelSize, DWORD* serial,
                           DWORD* maxComponent, DWORD* fsFlags, char* fsName, DWORD fsNameSize);
UINT SetErrorMode(UINT mode);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL FileTimeToDosDateTime(const FILETIME* ft, WORD* dosDate, WORD* dosTime);

// Message boxes: the windows install the handler that shows them; until one
// is installed the text goes to standard error and the answer is IDOK (or
// IDNO for a Yes/No question).
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

}  // namespace win
