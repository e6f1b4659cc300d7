// The partition-table walk over a mutated disk: the input is the disk's
// first sectors, the rest of the drive reads as missing.
#include <cstdint>
#include <vector>

#include "DataStruc.h"
#include "FuzzDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    fuzzdisk::InstallDisk(std::vector<std::uint8_t>(data, data + size), 1);
    // The largest root a table can describe.
    TPhysicalDrive drive(fuzzdisk::Geometry(0xFFFFFFFFll));
    // Every node the walk made lies in the drive's list; children point
    // only to nodes of that list.
    for (auto& node : drive.Partitions)
        for (TPartiEntry* child : node->Children) {
            bool found = false;
            for (auto& other : drive.Partitions) found = found || other.get() == child;
            if (!found) __builtin_trap();
        }
    return 0;
}
