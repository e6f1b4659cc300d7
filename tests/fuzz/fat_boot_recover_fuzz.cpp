// The advanced recovery of a FAT12 volume built from known files
// (KnownFatVolume.h), whose boot sector the input damages in one to three
// bytes: a type string, a cluster or FAT size, a root count, the sector
// size, anything. The volume's FAT and folders are as built, so whatever
// layout the listing takes, every file that the recovery does not name as
// failed has its known bytes, and no read leaves the node.
#include <cstdint>

#include "KnownFatVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    knownfat::Volume v = knownfat::Build(1u << (data[0] % 3));
    // Up to three bytes of the boot sector: (offset, offset's ninth bit,
    // value) each.
    for (std::size_t i = 1; i + 2 < size && i < 10; i += 3)
        v.disk[(data[i] | (data[i + 1] & 1u) << 8) % 512] = data[i + 2];
    knownfat::RecoverAndCheck(v);
    return 0;
}
