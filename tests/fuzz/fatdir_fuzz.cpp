// Directory clusters through the scan's entry rules: a FAT16 or FAT32
// volume whose root directory, first FAT sector and data clusters come
// from the input (byte 0 picks the type and cluster size). Every long name
// listed is one that the volume's bytes give the entry: its pieces stand
// right before the short entry in its directory, in sequence down to 1,
// with the checksum of that short entry.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FatFuzzVolume.h"

namespace {

// The volume's layout, as Volume() makes it, and a walk back through its
// directories: from an entry to the one that stands before it in some
// directory that may hold it. Within a cluster (and the FAT16 root, read as
// one) that is the entry before; before a cluster's first entry it is the
// last entry of any cluster whose FAT entry links to it. Directories
// start nowhere else, so a name the scan joined across more than that is
// one the volume does not hold.
struct Layout {
    const std::vector<std::uint8_t>& v;
    bool fat32;
    std::int64_t spc;
    std::int64_t rootAt = 2 * 512, rootEnd = 4 * 512;  // FAT16 root: 32 entries
    std::int64_t dataSector() const { return fat32 ? 2 : 4; }
    std::int64_t clusterBytes() const { return spc * 512; }

    // The cluster that a byte lies in by the data area's formula (clusters
    // below 2 count back from cluster 2), and whether it is the cluster's first.
    std::int64_t ClusterOf(std::int64_t at, bool& first) const {
        const std::int64_t rel = at - dataSector() * 512;
        const std::int64_t c = (rel >= 0 ? rel / clusterBytes() : -((-rel + clusterBytes() - 1) / clusterBytes())) + 2;
        first = rel - (c - 2) * clusterBytes() == 0;
        return c;
    }
    // The clusters whose link in the one FAT sector names c (a data
    // cluster: 0 marks a free cluster, 1 is reserved).
    std::vector<std::int64_t> LinksTo(std::int64_t c) const {
        std::vector<std::int64_t> from;
        if (c < 2) return from;
        const std::size_t width = fat32 ? 4 : 2;
        for (std::size_t q = 0; (q + 1) * width <= 512; ++q) {
            std::uint32_t link = v[512 + q * width] | (v[512 + q * width + 1] << 8);
            if (fat32) link = (link | (std::uint32_t{v[512 + q * 4 + 2]} << 16) | (std::uint32_t{v[512 + q * 4 + 3]} << 24)) &
                              0x0FFFFFFF;
            if (link == c) from.push_back(static_cast<std::int64_t>(q));
        }
        return from;
    }
    // The entries that may stand right before the one at `at`.
    std::vector<std::int64_t> Before(std::int64_t at) const {
        if (!fat32 && at > rootAt && at < rootEnd) return {at - 32};
        bool first = false;
        const std::int64_t c = ClusterOf(at, first);
        if (!first) return {at - 32};
        std::vector<std::int64_t> before;
        for (std::int64_t q : LinksTo(c)) {
            const std::int64_t end = (dataSector() + (q - 2) * spc) * 512 + clusterBytes();
            if (end >= 32 && end <= static_cast<std::int64_t>(v.size())) before.push_back(end - 32);
        }
        return before;
    }
    // Whether pieces in front of the entry at `at` (nearest first) may
    // name the short entry: some run of them read back from it.
    bool Names(std::int64_t at, std::vector<const std::uint8_t*>& nearest, const std::uint8_t* shortEntry) const {
        if (nearest.size() >= vt::fat::kMaxLongNamePieces) return false;
        for (std::int64_t b : Before(at)) {
            if (b < 0 || v[static_cast<std::size_t>(b) + 11] != vt::fat::kAttrLongName) continue;
            nearest.push_back(&v[static_cast<std::size_t>(b)]);
            const std::vector<const std::uint8_t*> pieces(nearest.rbegin(), nearest.rend());
            const bool named = fuzzvol::MayName(pieces, shortEntry) || Names(b, nearest, shortEntry);
            nearest.pop_back();
            if (named) return true;
        }
        return false;
    }
};

// Whether some short entry of the volume with the listed entry's bytes
// carries its long name. The high cluster word of a FAT32 entry may be a
// guess the scan filled in.
bool LongNameHeld(const Layout& layout, const TFatDirEntry& listed) {
    std::uint8_t want[32];
    std::memcpy(want, &listed, 32);
    for (std::size_t at = 0; at + 32 <= layout.v.size(); at += 32) {
        const std::uint8_t* e = &layout.v[at];
        if (std::memcmp(e, want, 20) != 0 || std::memcmp(e + 22, want + 22, 10) != 0) continue;
        if (!layout.fat32 && std::memcmp(e + 20, want + 20, 2) != 0) continue;
        std::vector<const std::uint8_t*> nearest;
        if (layout.Names(static_cast<std::int64_t>(at), nearest, e)) return true;
    }
    return false;
}

}  // namespace

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
    const std::vector<std::uint8_t> volume = v;
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
    const Layout layout{volume, fat32, spc};
    for (const auto& e : d->Entries)
        if (!e->LongName.empty() && !LongNameHeld(layout, e->DirEntry)) std::abort();
    std::int32_t first = -1, last = -1;
    for (const auto& e : d->Entries) u.FindChildRange(e->DirEntry.FstClusLO.get(), first, last);
    return 0;
}
