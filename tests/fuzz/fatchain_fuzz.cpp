// A FAT window: cluster chains through a FAT that comes from the input.
// Bytes 0-3 give the first cluster, byte 4 the type; the rest is the FAT.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "FatFuzzVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzvol::QuietBoxes();
    if (size < 5) return 0;
    const std::uint32_t first = vt::LoadLe32(data);
    static constexpr TFsType kTypes[] = {vt::fsFat12, vt::fsFat16, vt::fsFat32};
    const TFsType type = kTypes[data[4] % 3];
    data += 5;
    size -= 5;
    constexpr std::uint32_t kFatSectors = 24;
    std::vector<std::uint8_t> v = fuzzvol::Volume(type, 64, kFatSectors, 1);
    std::copy(data, data + std::min<std::size_t>(size, kFatSectors * 512), v.begin() + 512);
    fuzzvol::Install(std::move(v));
    TUndelete u;
    if (u.Drives.empty()) return 0;
    TLogiDrive* d = u.Drives.front().get();
    d->FsType = type;
    std::vector<std::uint8_t> boot = fuzzvol::Volume(type, 64, kFatSectors, 1);
    std::copy(boot.begin(), boot.begin() + 512, d->BootSector.begin());
    u.Current = d;
    std::array<std::uint32_t, vt::fat::kMaxChain> chain;
    int count = 0;
    u.GetClusterChain(first, chain, count);
    if (count < 1 || count > static_cast<int>(vt::fat::kMaxChain)) __builtin_trap();
    // A second chain reuses the window the first one left.
    u.GetClusterChain(chain[count - 1] ^ 1, chain, count);
    return 0;
}
