// A FAT12 volume built in memory from known files, for the fuzz targets
// that damage it and check what the advanced recovery makes of it: six
// present files in every sixth cluster (each lies in pieces), a deleted
// one in clusters of its own, and two folders whose "." entries place the
// data area. Each cluster's bytes differ from every other cluster's, so a
// file read from the wrong clusters is told from the right one.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DataStruc.h"
#include "FuzzDisk.h"
#include "Recorders.h"
#include "System.h"

namespace knownfat {

constexpr std::uint32_t kFiles = 6;  // present, in clusters 2 + i + 6j
constexpr std::uint32_t kClustersEach = 3;
constexpr std::uint32_t kDeletedFirst = 2 + kFiles * kClustersEach;  // its clusters follow on
constexpr std::uint32_t kClusters = 40;                              // clusters 2..41 hold data
constexpr std::uint32_t kFolders[] = {40, 41};                       // DIR0, DIR1: one cluster each
constexpr std::uint32_t kDataStart = 3;                              // boot, FAT, root

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline std::uint8_t ClusterByte(std::uint32_t cluster, std::uint32_t offset) {
    return static_cast<std::uint8_t>(((cluster + 1) * 2654435761u + offset * 40503u) >> 13);
}

inline std::uint32_t FileCluster(std::uint32_t file, std::uint32_t j) {
    return file < kFiles ? 2 + file + kFiles * j : kDeletedFirst + j;
}

inline std::uint32_t FileSize(std::uint32_t spc) { return kClustersEach * spc * 512 - 100; }

struct Volume {
    std::uint32_t spc = 1;
    std::uint32_t sectors = 0;
    std::vector<std::uint8_t> disk;
    // The FAT entry of cluster c (of the 341 the FAT's one sector holds):
    // 12 bits at byte c * 3 / 2, an odd cluster's in the high bits.
    void SetEntry(std::uint32_t c, std::uint32_t v) {
        c %= 341;
        const std::size_t at = 512 + c * 3 / 2;
        std::uint32_t word = disk[at] | disk[at + 1] << 8;
        word = c & 1 ? (word & 0x000F) | (v & 0xFFF) << 4 : (word & 0xF000) | (v & 0xFFF);
        Put16(disk, at, word);
    }
};

// Boot sector: 512-byte sectors, one reserved, one FAT of one sector (341
// entries), 16 root entries (one sector), clusters of spc sectors: 40
// clusters make a FAT12 volume.
inline Volume Build(std::uint32_t spc) {
    Volume v;
    v.spc = spc;
    const std::uint32_t clusterBytes = spc * 512;
    v.sectors = kDataStart + kClusters * spc;
    std::vector<std::uint8_t>& disk = v.disk;
    disk.assign(static_cast<std::size_t>(v.sectors) * 512, 0);
    disk[0] = 0xEB, disk[1] = 0x3C, disk[2] = 0x90;
    Put16(disk, 0x0B, 512);
    disk[0x0D] = static_cast<std::uint8_t>(spc);
    Put16(disk, 0x0E, 1);
    disk[0x10] = 1;
    Put16(disk, 0x11, 16);
    Put16(disk, 0x13, v.sectors);
    disk[0x15] = 0xF8;
    Put16(disk, 0x16, 1);
    std::memcpy(&disk[0x36], "FAT12   ", 8);
    Put16(disk, 510, 0xAA55);
    v.SetEntry(0, 0xFF8);
    v.SetEntry(1, 0xFFF);
    const std::uint32_t fileSize = FileSize(spc);
    for (std::uint32_t c = 2; c < 2 + kClusters; ++c)
        for (std::uint32_t o = 0; o < clusterBytes; ++o)
            disk[(kDataStart + (c - 2) * spc) * 512 + o] = ClusterByte(c, o);
    for (std::uint32_t f = 0; f <= kFiles; ++f) {
        if (f < kFiles)
            for (std::uint32_t j = 0; j < kClustersEach; ++j)
                v.SetEntry(FileCluster(f, j), j + 1 < kClustersEach ? FileCluster(f, j + 1) : 0xFFF);
        std::uint8_t* e = &disk[2 * 512 + f * 32];
        std::memcpy(e, "FILE0   BIN", 11);
        e[4] = static_cast<std::uint8_t>('0' + f);
        if (f == kFiles) e[0] = 0xE5;  // deleted: its clusters stay free
        e[11] = 0x20;
        e[26] = static_cast<std::uint8_t>(FileCluster(f, 0));
        e[28] = static_cast<std::uint8_t>(fileSize);
        e[29] = static_cast<std::uint8_t>(fileSize >> 8);
    }
    // The folders: an entry in the root, "." and ".." in their cluster.
    for (std::uint32_t k = 0; k < 2; ++k) {
        const std::uint32_t c = kFolders[k];
        v.SetEntry(c, 0xFFF);
        std::uint8_t* e = &disk[2 * 512 + (kFiles + 1 + k) * 32];
        std::memcpy(e, "DIR0       ", 11);
        e[3] = static_cast<std::uint8_t>('0' + k);
        e[11] = 0x10;
        e[26] = static_cast<std::uint8_t>(c);
        std::uint8_t* d = &disk[(kDataStart + (c - 2) * spc) * 512];
        std::memset(d, 0, clusterBytes);
        std::memcpy(d, ".          ", 11);
        std::memcpy(d + 32, "..         ", 11);
        d[11] = d[43] = 0x10;
        d[26] = static_cast<std::uint8_t>(c);
    }
    return v;
}

inline const std::string& Scratch() {
    static const std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "vt-known-fat-XXXXXX").string();
        return std::string(mkdtemp(t.data()));
    }();
    return dir;
}

// Lists the volume as a partition of drive 0 (where `volume` was
// installed), recovers every present file of it and traps when one that
// the log does not name as failed lacks its known bytes, or when a read
// leaves the disk.
inline void RecoverAndCheck(const Volume& volume) {
    static const bool quiet = [] {
        platform::SetMessageBoxHandler([](const char*, const char*, win::UINT) { return win::IDOK; });
        return true;
    }();
    (void)quiet;
    const std::uint32_t clusterBytes = volume.spc * 512;
    const std::uint32_t sectors = volume.sectors;
    fuzzdisk::InstallDisk(volume.disk);
    TPhysicalDrive drive(fuzzdisk::Geometry(sectors));
    TPartiEntry node;
    node.RawEntry.SectorCount.set(sectors);
    platform::RecordingEventLog log;
    EventLogView = &log;
    if (!drive.ScanPartition(&node, nullptr)) return;
    drive.BuildFatList(nullptr);
    const std::string out = Scratch() + "/out";
    for (const auto& e : node.FatEntries) {
        if (!IsFatFile(e->DirEntry) || e->DirEntry.Name[4] < '0' || e->DirEntry.Name[4] > '0' + kFiles) continue;
        const std::uint32_t f = e->DirEntry.Name[4] - '0';
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        log.rows.clear();
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        drive.RecoverFile(e.get(), node.FatType, out, nullptr, nullptr);
        platform::DeviceTrace::Enable(false);
        for (const auto& r : platform::DeviceTrace::Requests())
            if (r.code == 0 && r.offset + r.length > static_cast<std::uint64_t>(sectors) * 512) __builtin_trap();
        const bool failed =
            std::any_of(log.rows.begin(), log.rows.end(), [](const auto& r) { return r.imageIndex == kLogError; });
        if (failed) continue;
        std::vector<std::uint8_t> want;
        for (std::uint32_t j = 0; j < kClustersEach; ++j)
            for (std::uint32_t o = 0; o < clusterBytes; ++o) want.push_back(ClusterByte(FileCluster(f, j), o));
        want.resize(FileSize(volume.spc));
        std::vector<std::uint8_t> got;
        for (const auto& written : std::filesystem::directory_iterator(out)) {
            std::ifstream in(written.path(), std::ios::binary);
            got.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        if (got != want) __builtin_trap();
    }
    EventLogView = nullptr;
    std::filesystem::remove_all(out);
}

}  // namespace knownfat
