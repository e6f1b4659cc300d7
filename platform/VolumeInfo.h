// What Windows reports of a FAT or NTFS volume (GetVolumeInformation), read
// from the volume's own bytes: its label as Windows shows it (the label
// entry of a FAT root directory, the NTFS volume name), its serial number
// and the file system's name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform {

class BackingStore;

struct VolumeInfo {
    std::string Label;
    std::uint32_t Serial = 0;
    std::string FileSystem;  // "FAT", "FAT32", "NTFS"; empty when not recognised
};

VolumeInfo ReadVolumeInfo(const BackingStore& store);

// The label entry among the 32-byte entries of a FAT root directory: the
// first entry in use (no deletion mark) that is no long-name piece and has
// the volume-label bit; its 11 name bytes trimmed of blanks and control
// characters. The end mark (a first byte 0) ends the search. Both the
// drive list and the advanced engine's partition nodes take labels so.
std::optional<std::string> FatRootLabel(std::span<const std::uint8_t> entries);

}  // namespace platform
