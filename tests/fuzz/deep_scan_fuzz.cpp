// The deep scan's boot-sector test and the label reads that follow a find,
// over a mutated disk held in memory.
#include <cstdint>
#include <vector>

#include "DataStruc.h"
#include "FuzzDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (64u << 10)) return 0;
    std::vector<std::uint8_t> bytes(data, data + size);
    bytes.resize((size + 511) / 512 * 512);
    for (std::size_t off = 0; off + 512 <= bytes.size(); off += 512) {
        DataStruc::BootSectorInfo info;
        DataStruc::ExamineBootSector(std::span<const std::uint8_t>(bytes).subspan(off, 512), info);
    }
    const std::uint32_t sectors = fuzzdisk::InstallDisk(std::move(bytes));
    TPhysicalDrive drive(fuzzdisk::Geometry(sectors));
    drive.DeepScan(drive.Partitions[0].get(), nullptr);
    for (auto& lost : drive.LostPartitions)
        if (lost->RawEntry.StartLba.get() >= sectors) __builtin_trap();
    return 0;
}
