// The NTFS listing's record batches over a mutated disk: the partition scan
// finds the record sectors in the input, the listing decodes them.
#include <cstdint>
#include <vector>

#include "DataStruc.h"
#include "FuzzDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (64u << 10)) return 0;
    const std::uint32_t sectors = fuzzdisk::InstallDisk(std::vector<std::uint8_t>(data, data + size));
    TPhysicalDrive drive(fuzzdisk::Geometry(sectors));
    TPartiEntry* root = drive.Partitions[0].get();
    drive.ScanPartition(root, nullptr);
    drive.BuildFatList(nullptr);
    drive.BuildNtfsList(nullptr);
    for (auto& r : root->NtfsEntries)
        if (r->RecordSector < 0 || r->RecordSector + 2 > static_cast<std::int64_t>(sectors) || r->Name.empty())
            __builtin_trap();
    return 0;
}
