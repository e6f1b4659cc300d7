// The standard engine and the file-system routines both engines share.
#pragma once

#include <cstdint>
#include <span>

namespace vt {

// A volume's file system, from its boot sector.
enum TFsType : std::uint8_t { fsFat12 = 0, fsFat16 = 1, fsFat32 = 2, fsNtfs = 3, fsUnknown = 255 };

}  // namespace vt

using vt::TFsType;

// Recognises FAT12, FAT16, FAT32 and NTFS by the type fields of a boot
// sector (512 bytes); nothing else of the sector is examined.
TFsType DetectFileSystem(std::span<const std::uint8_t> bootSector);
