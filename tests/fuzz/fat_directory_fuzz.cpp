// The directory parse of the FAT listing over a mutated directory cluster,
// then the cluster-layout estimate from what it listed.
#include <cstdint>
#include <vector>

#include "DataStruc.h"
#include "FuzzDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (256u << 10) + 1) return 0;
    const std::uint8_t mode = data[0];
    fuzzdisk::InstallDisk(std::vector<std::uint8_t>(data + 1, data + size));
    TDriveGeometry g;
    g.DriveNo = 0;
    TPhysicalDrive drive(g);
    TPartiEntry node;
    node.FatType = static_cast<TFsType>(mode & 3);
    node.RawEntry.SectorCount.set(static_cast<std::uint32_t>(mode) << 12);
    drive.CurPartition = &node;
    drive.ParseFatDirectory((mode & 4) != 0, 0);
    drive.ParseFatDirectory(false, 1);
    drive.EstimateFatLayout(nullptr, nullptr);
    for (auto& e : node.FatEntries)
        if (e->DirSector > 1) __builtin_trap();
    return 0;
}
