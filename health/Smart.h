// S.M.A.R.T. commands to the IDE drives 0 to 3 (identify, enable, read the
// attribute values and thresholds) and the display texts of the attributes.
//
// Nothing here keeps state: every routine works on the handle and the
// buffers its caller passes. The caller opens the device with
// OpenSmartDevice, passes the same handle and drive number to the commands
// and closes the handle with CloseHandle. No command writes to the media;
// the only one that changes the drive's state is the S.M.A.R.T. enable.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "Bytes.h"
#include "WinApi.h"

// One attribute of a values block (12 bytes, the drive's layout).
struct TSmartAttrEntry {
    std::uint8_t Id;                      // 0  0 marks an empty entry
    vt::le16 StatusFlags;                 // 1  bit 0: pre-failure attribute
    std::uint8_t Value;                   // 3  current value
    std::uint8_t Worst;                   // 4  worst value seen
    std::array<std::uint8_t, 6> RawData;  // 5  least significant byte first
    std::uint8_t Reserved;                // 11
};
static_assert(sizeof(TSmartAttrEntry) == 12);

// The threshold of the attribute at the same position of the values block.
struct TSmartThresholdEntry {
    std::uint8_t Id;                        // 0
    std::uint8_t Threshold;                 // 1  0: the attribute has no threshold
    std::array<std::uint8_t, 10> Reserved;  // 2
};
static_assert(sizeof(TSmartThresholdEntry) == 12);

constexpr int kSmartEntryCount = 30;

// The first 378 bytes of the SENDCMDOUTPARAMS answer to a read of the
// attribute values or of the thresholds: the driver's 16-byte header, then
// the first 362 bytes of the drive's 512-byte data sector.
struct TSmartDataBlock {
    vt::le32 BufferSize;                  // 0   cBufferSize, as the driver returns it
    win::DRIVERSTATUS DriverStatus;       // 4
    vt::le16 Revision;                    // 16  revision of the drive's data
    std::array<std::uint8_t, kSmartEntryCount * 12> Entries;  // 18

    // Entry i (0 to 29) read as an attribute (values block) or as a
    // threshold (thresholds block).
    TSmartAttrEntry Attr(int i) const;
    TSmartThresholdEntry Threshold(int i) const;
};
static_assert(sizeof(TSmartDataBlock) == 378);

// The first 272 bytes of the SENDCMDOUTPARAMS answer to the identify
// command: the 16-byte header and the first 256 bytes (words 0 to 127) of
// the drive's identify data. Text fields are ATA text: two characters per
// word, the first in the high byte; SwapBytePairs puts them in reading order.
struct TSmartDriveRec {
    vt::le32 BufferSize;                            // 0
    win::DRIVERSTATUS DriverStatus;                 // 4
    std::array<std::uint8_t, 20> Words0to9;         // 16  configuration, geometry
    std::array<std::uint8_t, 20> SerialNumber;      // 36  words 10-19
    std::array<std::uint8_t, 6> Words20to22;        // 56
    std::array<std::uint8_t, 8> FirmwareRev;        // 62  words 23-26
    std::array<std::uint8_t, 40> ModelNumber;       // 70  words 27-46
    std::array<std::uint8_t, 26> Words47to59;       // 110
    vt::le32 UserAddressableSectors;                // 136 words 60-61 (28-bit addressing)
    std::array<std::uint8_t, 131> Words62to127;     // 140 up to the low byte of word 127
    std::uint8_t DriveNumber;                       // 271 high byte of word 127; the health
                                                    //     window keeps the drive number 0 to 3 here
};
static_assert(sizeof(TSmartDriveRec) == 272);

// The S.M.A.R.T. device for drive 0 to 3: "\\.\PhysicalDriveN" on the NT
// family, "\\.\SMARTVSD" (one handle for every drive) on Windows 9x.
// INVALID_HANDLE_VALUE when it cannot be opened; on Windows 9x the failure is
// also shown in a message box.
win::HANDLE OpenSmartDevice(std::uint8_t drive);

// S.M.A.R.T. ENABLE OPERATIONS: whether the command was accepted.
bool SmartEnable(win::HANDLE h, std::uint8_t drive);
// S.M.A.R.T. READ DATA / READ THRESHOLDS. On success the block holds the
// first 378 bytes of the answer; on failure it is left as it was.
bool SmartReadValues(win::HANDLE h, TSmartDataBlock& block, std::uint8_t drive);
bool SmartReadThresholds(win::HANDLE h, TSmartDataBlock& block, std::uint8_t drive);
// IDENTIFY DEVICE, or IDENTIFY PACKET DEVICE for an ATAPI device. On success
// the record holds the first 272 bytes of the answer; on failure it is left
// as it was.
bool SmartIdentify(win::HANDLE h, TSmartDriveRec& rec, std::uint8_t drive);

// Exchanges the two bytes of each 16-bit word in the first count bytes of
// buffer (an odd last byte stays where it is).
void SwapBytePairs(void* buffer, std::uint16_t count);

// The display name and the description of an attribute id; "未知属性" for
// an id without texts of its own. Names keep their trailing blanks.
std::string GetSmartAttrName(int id);
std::string GetSmartAttrDescription(int id);
