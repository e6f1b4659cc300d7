// Small FAT volumes in memory for the fuzz targets: a boot sector of the
// chosen type and geometry, installed as logical drive C:, with message
// boxes answered silently.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "DiskParam.h"
#include "MachineProfile.h"
#include "Recorders.h"

namespace fuzzvol {

inline void Put16(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
    b[off] = v & 0xFF;
    b[off + 1] = (v >> 8) & 0xFF;
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
    Put16(b, off, v & 0xFFFF);
    Put16(b, off + 2, v >> 16);
}

// Boot sector: 512-byte sectors, 1 reserved sector, one FAT of fatSectors,
// 32 root entries on FAT12/16 (2 sectors), root cluster 2 on FAT32.
inline std::vector<std::uint8_t> Volume(TFsType type, std::uint32_t totalSectors, std::uint32_t fatSectors,
                                        std::uint8_t sectorsPerCluster) {
    std::vector<std::uint8_t> b(static_cast<std::size_t>(totalSectors) * 512, 0);
    Put16(b, 0x0B, 512);
    b[0x0D] = sectorsPerCluster;
    Put16(b, 0x0E, 1);
    b[0x10] = 1;
    Put32(b, 0x20, totalSectors);
    if (type == vt::fsFat32) {
        Put32(b, 0x24, fatSectors);
        Put32(b, 0x2C, 2);
        std::memcpy(&b[0x52], "FAT32   ", 8);
    } else {
        Put16(b, 0x11, 32);
        Put16(b, 0x16, fatSectors);
        std::memcpy(&b[0x36], type == vt::fsFat12 ? "FAT12   " : "FAT16   ", 8);
    }
    return b;
}

inline void Install(std::vector<std::uint8_t> bytes) {
    platform::MachineConfig cfg;
    platform::LogicalDriveConfig d;
    d.letter = 'C';
    d.store = platform::BackingStore::FromMemory(std::move(bytes));
    cfg.logical.push_back(d);
    platform::Machine::Install(cfg);
}

inline void QuietBoxes() {
    static bool done = false;
    if (done) return;
    done = true;
    platform::SetMessageBoxHandler([](const char*, const char*, win::UINT) { return win::IDOK; });
}

// Whether the long-name pieces in front of a short entry (in directory
// order) may name it, checked from the bytes alone: present pieces
// flagged last first, their sequence down to 1, each with the short
// name's checksum; or deleted pieces with one checksum before a deleted
// short entry.
inline bool MayName(const std::vector<const std::uint8_t*>& pieces, const std::uint8_t* shortEntry) {
    if (pieces.empty() || pieces.size() > vt::fat::kMaxLongNamePieces || shortEntry[0] == 0) return false;
    const bool deleted = pieces.front()[0] == vt::fat::kDeletedMark;
    if (deleted != (shortEntry[0] == vt::fat::kDeletedMark)) return false;
    for (const std::uint8_t* p : pieces)
        if (p[13] != pieces.front()[13] || (p[0] == vt::fat::kDeletedMark) != deleted) return false;
    if (deleted) return true;
    if (pieces.front()[13] != vt::fat::ShortNameChecksum(std::span<const std::uint8_t, 11>(shortEntry, 11)))
        return false;
    const unsigned n = pieces.front()[0] & 0x1F;
    if ((pieces.front()[0] & 0xE0) != 0x40 || n != pieces.size()) return false;
    for (std::size_t i = 1; i < pieces.size(); ++i)
        if (pieces[i][0] != n - i) return false;
    return true;
}

// Whether some tail of the pieces may name the short entry: a run keeps
// only the pieces from the last one that began a name.
inline bool SomeTailMayName(const std::vector<const std::uint8_t*>& pieces, const std::uint8_t* shortEntry) {
    for (std::size_t from = 0; from < pieces.size(); ++from)
        if (MayName(std::vector<const std::uint8_t*>(pieces.begin() + from, pieces.end()), shortEntry)) return true;
    return false;
}

}  // namespace fuzzvol
