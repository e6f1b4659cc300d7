// The NTFS listing's record batches over a mutated disk: the partition scan
// finds the record sectors in the input, the listing decodes them, and the
// head of each file found is read.
#include <array>
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
    // The head of each file: through its record, its attribute list and its
    // runs, as far as the disk reaches.
    std::array<std::uint8_t, 2048> head{};
    std::size_t previewed = 0;
    for (auto& r : root->NtfsEntries)
        if (previewed++ < 64) drive.ReadFileHead(r.get(), vt::fsNtfs, head);
    return 0;
}
