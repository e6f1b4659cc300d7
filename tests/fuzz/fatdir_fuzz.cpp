// Directory clusters through the scan's entry rules: a FAT16 or FAT32
// volume whose root directory, first FAT sector and data clusters come
// from the input (byte 0 picks the type and cluster size).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "FatFuzzVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzvol::QuietBoxes();
    if (size < 1) return 0;
    const bool fat32 = data[0] & 1;
    const std::uint8_t spc = (data[0] & 2) ? 2 : 1;
    ++data;
    --size;
    const TFsType type = fat32 ? vt::fsFat32 : vt::fsFat16;
    constexpr std::uint32_t kTotal = 160;
    std::vector<std::uint8_t> v = fuzzvol::Volume(type, kTotal, 1, spc);
    // Sector 1 is the FAT; sector 2 starts the FAT16 root (2 sectors) or
    // the FAT32 root cluster; what follows are data clusters.
    const std::size_t fatAt = 512;
    const std::size_t dirAt = 1024;
    const std::size_t n = std::min(size, v.size() - fatAt);
    // The input's first 1024 bytes are directory bytes (root, or the FAT32
    // root cluster), the next 512 the FAT, the rest the following clusters.
    const std::size_t dirBytes = std::min<std::size_t>(n, 1024);
    std::copy(data, data + dirBytes, v.begin() + dirAt);
    if (n > 1024) {
        const std::size_t fatBytes = std::min<std::size_t>(n - 1024, 512);
        std::copy(data + 1024, data + 1024 + fatBytes, v.begin() + fatAt);
        if (n > 1536) std::copy(data + 1536, data + n, v.begin() + 2048);
    }
    fuzzvol::Install(std::move(v));
    TUndelete u;
    if (u.Drives.empty()) return 0;
    TLogiDrive* d = u.Drives.front().get();
    u.OpenDrive(d, false, nullptr, nullptr);
    if (fat32)
        for (const auto& e : d->Entries)
            if (e->Status == 2) {
                u.RescanFat32Directory(e.get(), nullptr);
                break;
            }
    std::int32_t first = -1, last = -1;
    for (const auto& e : d->Entries) u.FindChildRange(e->DirEntry.FstClusLO.get(), first, last);
    return 0;
}
