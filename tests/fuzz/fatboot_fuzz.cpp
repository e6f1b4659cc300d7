// Boot-sector recognition and the opening of a drive: the input is the
// volume itself, its first 512 bytes the boot sector.
#include <cstdint>
#include <vector>

#include "FatFuzzVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzvol::QuietBoxes();
    std::vector<std::uint8_t> bytes(data, data + size);
    if (bytes.size() < 512) bytes.resize(512, 0);
    DetectFileSystem(std::span<const std::uint8_t>(data, size));
    fuzzvol::Install(bytes);
    TUndelete u;
    if (!u.Drives.empty()) u.OpenDrive(u.Drives.front().get(), false, nullptr, nullptr);
    return 0;
}
