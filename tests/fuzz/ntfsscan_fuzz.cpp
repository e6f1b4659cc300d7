// The standard engine's NTFS scan of a small volume in memory whose master
// file table is the input: record 0's runs, the extents, the batches, the
// records, the placeholders and the linking, then a search and the
// preview of every file found. Nothing may be read outside the buffers
// and every walk must end.
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DiskParam.h"
#include "MachineProfile.h"
#include "Recorders.h"

namespace {

// 1 MiB, 512-byte clusters, the table from cluster 32.
constexpr std::size_t kVolumeSectors = 2048;
constexpr std::size_t kTableSector = 32;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        platform::SetMessageBoxHandler([](const char*, const char*, win::UINT) { return win::IDOK; });
        return true;
    }();
    (void)quiet;
    std::vector<std::uint8_t> volume(kVolumeSectors * 512, 0);
    std::memcpy(&volume[3], "NTFS    ", 8);
    volume[0x0B] = 0x00;
    volume[0x0C] = 0x02;
    volume[0x0D] = 1;
    const std::uint64_t total = kVolumeSectors - 1;
    std::memcpy(&volume[0x28], &total, 8);
    const std::uint64_t mft = kTableSector;
    std::memcpy(&volume[0x30], &mft, 8);
    volume[0x40] = 0xF6;
    std::memcpy(&volume[kTableSector * 512], data, std::min(size, volume.size() - kTableSector * 512));

    platform::MachineConfig cfg;
    platform::LogicalDriveConfig d;
    d.letter = 'C';
    d.store = platform::BackingStore::FromMemory(std::move(volume));
    cfg.logical.push_back(d);
    platform::Machine::Install(cfg);

    TUndelete u;
    for (auto& drive : u.Drives) {
        if (drive->Name != "C:") continue;
        if (!u.OpenDrive(drive.get(), false, nullptr, nullptr)) break;
        u.SearchEntries("*", false, 0, 0, 0, -1, -1, 5, false);
        u.SearchEntries("*.txt,a*", false, 1, 1, 100000, 0, 1 << 20, -1, true);
        std::array<std::uint8_t, 2048> head;
        for (const auto& r : drive->NtfsEntries)
            if (IsNtfsFile(r.get())) u.ReadFileHead(r.get(), head);
    }
    return 0;
}
