// A mutated disk for the fuzz targets of the advanced engine: the input,
// padded to whole sectors, installed as physical drive 0 in memory.
#pragma once

#include <cstdint>
#include <vector>

#include "DataStruc.h"
#include "MachineProfile.h"

namespace fuzzdisk {

// Installs the bytes as physical drive 0 and returns its sector count.
inline std::uint32_t InstallDisk(std::vector<std::uint8_t> bytes, std::size_t extraSectors = 0) {
    bytes.resize((bytes.size() + 511) / 512 * 512 + extraSectors * 512);
    const auto sectors = static_cast<std::uint32_t>(bytes.size() / 512);
    platform::MachineConfig config;
    platform::PhysicalDriveConfig p;
    p.number = 0;
    p.store = platform::BackingStore::FromMemory(std::move(bytes));
    config.physical.push_back(p);
    platform::Machine::Install(std::move(config));
    return sectors;
}

// The geometry of drive 0 with the sector total given.
inline TDriveGeometry Geometry(std::int64_t totalSectors) {
    TDriveGeometry g;
    g.DriveNo = 0;
    g.Geometry.SectorsPerTrack = 63;
    g.Geometry.BytesPerSector = 512;
    g.TotalSectors = totalSectors;
    return g;
}

}  // namespace fuzzdisk
