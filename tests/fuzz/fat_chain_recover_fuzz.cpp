// The advanced recovery of a FAT12 volume built from known files
// (KnownFatVolume.h), whose FAT the input damages in one entry: a chain
// that runs on, breaks, loops, leaves the volume or crosses into another
// file's or a folder's. Every file that the recovery does not name as
// failed has its known bytes, and no read leaves the node. One entry is
// all a test can damage and still know the truth: two can swap two files'
// tails, a change no FAT can show.
#include <cstdint>

#include "KnownFatVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    knownfat::Volume v = knownfat::Build(1u << (data[0] % 3));
    // The damage: one entry of the FAT, any cluster, any value.
    v.SetEntry(data[1] | data[2] << 8, data[3] | data[4] << 8);
    knownfat::RecoverAndCheck(v);
    return 0;
}
