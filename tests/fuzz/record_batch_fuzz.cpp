// The NTFS listing's record batches over a mutated disk: the partition scan
// finds the record sectors in the input, the listing decodes them.
#include <cstdint>
#include <vector>

#include "DataStruc.h"
#include "MemoryDrive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (64u << 10)) return 0;
    std::vector<std::uint8_t> bytes(data, data + size);
    bytes.resize((size + 511) / 512 * 512);
    const auto sectors = static_cast<std::uint32_t>(bytes.size() / 512);
    fuzzdrive::InstallPhysicalDrive0(std::move(bytes));

    TDriveGeometry g;
    g.DriveNo = 0;
    g.Geometry.SectorsPerTrack = 63;
    g.TotalSectors = sectors;
    TPhysicalDrive drive(g);
    TPartiEntry* root = drive.Partitions[0].get();
    drive.ScanPartition(root, nullptr);
    drive.BuildFatList(nullptr);
    drive.BuildNtfsList(nullptr);
    for (auto& r : root->NtfsEntries)
        if (r->RecordSector < 0 || r->RecordSector + 2 > static_cast<std::int64_t>(sectors) || r->Name.empty())
            __builtin_trap();
    return 0;
}
