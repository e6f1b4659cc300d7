// The FAT volumes inside a scanned node: a whole drive, an extended
// partition or a gap holds several, each with a cluster layout of its own.
// The FAT boot sectors the partition scan found split the node; each found
// directory is read with the layout of the volume that holds it, and each
// volume's root directory is listed from its boot sector.
#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "DataStruc.h"
#include "DataStrucShared.h"

namespace {

using namespace DataStruc::detail;

// A FAT directory holds at most 65536 entries: 2 MiB, 4096 sectors.
constexpr std::uint32_t kMaxDirectorySectors = 4096;
// Boot sectors examined per node. A node holds a few volumes; a disk full
// of stored volume images holds many copies that would each cost a read.
constexpr std::size_t kMaxBootSectors = 512;
// A FAT32 entry holds 28 bits.
constexpr std::uint32_t kFat32Mask = 0x0FFFFFFF;
// FAT sectors read at once by a chain walk (32 KiB).
constexpr std::int64_t kFatWindowSectors = 64;
// A chain walk processes pending window messages once per this many
// clusters (a power of two).
constexpr std::size_t kPumpClusters = 16384;

bool IsFat(TFsType fs) { return fs == vt::fsFat12 || fs == vt::fsFat16 || fs == vt::fsFat32; }

bool ReadSector(win::HANDLE h, ::DriveNo drive, std::int64_t lba, std::array<std::uint8_t, 512>& sector) {
    std::uint32_t bytesRead = 0;
    return ReadDiskSectors(h, 1, sector.data(), lba, bytesRead, drive) && bytesRead >= sector.size();
}

// The first FAT begins with the media byte in cluster 0's entry and ones
// in the rest of it (FAT32: 28 bits of them): where a FAT32 volume whose
// boot sector is lost really begins, and what tells a volume inside a node
// from a boot sector stored without its volume.
bool BeginsAsFat(std::span<const std::uint8_t, 512> s, const DataStruc::FatBootLayout& layout) {
    if (s[0] != layout.Media || s[1] != 0xFF) return false;
    return layout.FsType != vt::fsFat32 || (s[2] == 0xFF && (s[3] & 0x0F) == 0x0F);
}

// The "." entry of a found directory names the directory's own cluster;
// it lies where the layout puts that cluster when the layout is its own.
bool LiesWhereTheBootSays(const DataStruc::FatBootLayout& boot, std::int64_t sector, std::uint32_t low,
                          std::uint32_t high) {
    const std::uint32_t cluster = boot.FsType == vt::fsFat32 ? (high << 16) + low : low;
    if (cluster < 2 || cluster - 2 >= boot.Clusters) return false;
    return sector == boot.DataStart + static_cast<std::int64_t>(cluster - 2) * boot.SectorsPerCluster;
}

// A FAT entry per variant: where cluster c's lies (byte c * Num / Den of
// the FAT), the bytes it is read from, the bits it holds and its
// bad-cluster mark; the values above the mark end a chain.
struct ChainVariant {
    std::uint32_t Num, Den;
    std::uint32_t Bytes;
    std::uint32_t Mask;
    std::uint32_t Bad;
};
constexpr std::array<ChainVariant, 3> kChainVariants = {{
    {3, 2, 2, 0x0FFF, 0x0FF7},          // FAT12: an odd cluster's entry is the high 12 bits of its word
    {2, 1, 2, 0xFFFF, 0xFFF7},          // FAT16
    {4, 1, 4, kFat32Mask, 0x0FFFFFF7},  // FAT32: the top 4 bits are reserved
}};

}  // namespace

std::uint32_t DataStruc::detail::FatTable::BadMark() const {
    return IsFat(boot_.FsType) ? kChainVariants[boot_.FsType].Bad : 0;
}

bool DataStruc::detail::FatTable::Inside(std::uint32_t c) const {
    return boot_.SectorsPerCluster > 0 && c >= 2 && c - 2 < boot_.Clusters &&
           boot_.DataStart + (static_cast<std::int64_t>(c) - 1) * boot_.SectorsPerCluster <= boot_.End;
}

std::optional<std::uint32_t> DataStruc::detail::FatTable::Entry(std::uint32_t c) {
    if (!IsFat(boot_.FsType)) return std::nullopt;
    const ChainVariant& v = kChainVariants[boot_.FsType];
    const std::uint64_t offset = std::uint64_t{c} * v.Num / v.Den;
    const auto sector = static_cast<std::int64_t>(offset / 512);
    if (sector >= boot_.FatSectors || boot_.FatStart + sector >= boot_.End) return std::nullopt;
    const std::size_t at = offset % 512;
    // One more sector than the entry's, so that a FAT12 entry across a
    // sector bound is whole.
    const std::int64_t need = at + v.Bytes > 512 ? 2 : 1;
    if (loaded_ < 0 || sector < loaded_ ||
        sector + need > loaded_ + static_cast<std::int64_t>(window_.size() / 512)) {
        // The FAT's sectors that lie in the volume's extent.
        const auto n = static_cast<std::uint16_t>(std::min<std::int64_t>(
            {kFatWindowSectors, boot_.FatSectors - sector, boot_.End - boot_.FatStart - sector}));
        window_.resize(n * 512u);
        std::uint32_t bytesRead = 0;
        loaded_ = -1;
        if (!ReadDiskSectors(h_, n, window_.data(), boot_.FatStart + sector, bytesRead, drive_) ||
            bytesRead < n * 512u) {
            window_.clear();
            return std::nullopt;
        }
        loaded_ = sector;
    }
    const std::size_t pos = static_cast<std::size_t>(sector - loaded_) * 512 + at;
    if (pos + v.Bytes > window_.size()) return std::nullopt;
    std::uint32_t next = v.Bytes == 4 ? vt::LoadLe32(window_.data() + pos) : vt::LoadLe16(window_.data() + pos);
    if (boot_.FsType == vt::fsFat12 && (c & 1)) next >>= 4;
    return next & v.Mask;
}

bool DataStruc::detail::FatBeginsAt(win::HANDLE h, ::DriveNo drive, const DataStruc::FatBootLayout& layout) {
    std::array<std::uint8_t, 512> s{};
    return ReadSector(h, drive, layout.FatStart, s) && BeginsAsFat(s, layout);
}

DataStruc::detail::FatChainWalk DataStruc::detail::WalkFatChain(win::HANDLE h, ::DriveNo drive,
                                                                const DataStruc::FatBootLayout& boot,
                                                                std::uint32_t first, std::size_t maxClusters) {
    FatTable fat(h, drive, boot);
    return WalkFatChain(fat, first, maxClusters);
}

DataStruc::detail::FatChainWalk DataStruc::detail::WalkFatChain(FatTable& fat, std::uint32_t first,
                                                                std::size_t maxClusters) {
    FatChainWalk walk;
    const DataStruc::FatBootLayout& boot = fat.Boot();
    if (!IsFat(boot.FsType) || boot.SectorsPerCluster <= 0) return walk;
    // A chain names each cluster once: it is never longer than the volume.
    maxClusters = std::min<std::size_t>(maxClusters, boot.Clusters);
    const std::uint32_t bad = fat.BadMark();
    for (std::uint32_t c = first; walk.Clusters.size() < maxClusters;) {
        if (!fat.Inside(c)) return walk;
        walk.Clusters.push_back(c);
        // A file of gigabytes has a chain of millions of clusters.
        if ((walk.Clusters.size() & (kPumpClusters - 1)) == 0) platform::ProcessMessages();
        // A free entry (or the reserved 1) under a cluster that the chain
        // reached says the cluster is no file's: the chain breaks there,
        // even at the last cluster a walk asked for.
        const auto next = fat.Entry(c);
        if (!next || *next < 2 || *next == bad) return walk;
        if (*next > bad) {
            walk.End = ChainEnd::EndMark;
            return walk;
        }
        c = *next;
    }
    if (walk.Clusters.empty()) return walk;
    // At the cap: a cluster met twice means the chain loops, and from its
    // first repeat on the walk only went round again. Each cluster has one
    // successor, so a chain that loops never ends or breaks: only a walk
    // that reached its cap can hold a repeat.
    std::vector<std::pair<std::uint32_t, std::size_t>> order(walk.Clusters.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = {walk.Clusters[i], i};
    std::sort(order.begin(), order.end());
    std::size_t repeat = order.size();
    for (std::size_t i = 1; i < order.size(); ++i)
        if (order[i].first == order[i - 1].first) repeat = std::min(repeat, order[i].second);
    if (repeat == order.size()) {
        walk.End = ChainEnd::Cap;
    } else {
        walk.Clusters.resize(repeat);
        walk.End = ChainEnd::Loop;
    }
    return walk;
}

std::vector<std::pair<std::int64_t, std::uint64_t>> DataStruc::detail::ChainExtents(
    const DataStruc::FatBootLayout& boot, std::span<const std::uint32_t> clusters, std::uint64_t sectors) {
    std::vector<std::pair<std::int64_t, std::uint64_t>> extents;
    const auto spc = static_cast<std::uint64_t>(boot.SectorsPerCluster);
    for (std::uint32_t c : clusters) {
        if (sectors == 0) break;
        const std::int64_t s = boot.DataStart + static_cast<std::int64_t>(c - 2) * boot.SectorsPerCluster;
        const std::uint64_t n = std::min(spc, sectors);
        sectors -= n;
        if (!extents.empty() && extents.back().first + static_cast<std::int64_t>(extents.back().second) == s)
            extents.back().second += n;
        else
            extents.emplace_back(s, n);
    }
    return extents;
}

bool DataStruc::ExamineFatBoot(std::span<const std::uint8_t> sector, std::int64_t first, std::int64_t nodeEnd,
                               FatBootLayout& layout, TFsType type) {
    const TFsType fs = type != vt::fsUnknown ? type : DetectVolumeType(sector);
    if (!IsFat(fs)) return false;
    vt::ByteReader r(sector);
    // A volume made for sectors of 1024 to 4096 bytes (a 4Kn drive) is laid
    // out here in this drive's 512-byte sectors: every sector field counts
    // k of them. 64 bits: at most 8 x (65535 + 4 x (2^32 - 1) + 2048).
    const std::int64_t k = DataStruc::SectorScale(sector);
    const std::uint32_t clusterSectors = r.U8Or(0x0D), fats = r.U8Or(0x10);
    const std::int64_t reserved = r.U16Or(0x0E) * k;
    const std::uint32_t rootEntries = r.U16Or(0x11);
    const bool fat32 = fs == vt::fsFat32;
    const std::int64_t fatSectors = (fat32 ? r.U32Or(0x24) : r.U16Or(0x16)) * k;
    if (k == 0 || clusterSectors == 0 || (clusterSectors & (clusterSectors - 1)) != 0 || reserved == 0 ||
        fats == 0 || fats > 4 || fatSectors == 0 || fatSectors > 0xFFFFFFFFll ||
        (fat32 ? rootEntries != 0 || r.U16Or(0x16) != 0 : rootEntries == 0))
        return false;
    const std::int64_t spc = clusterSectors * k;
    const std::int64_t volumeSector = 512 * k;
    const auto rootSectors = static_cast<std::uint32_t>(
        fat32 ? 0 : (rootEntries * 32 + volumeSector - 1) / volumeSector * k);
    const std::int64_t rootOffset = reserved + fats * fatSectors;
    const std::int64_t dataOffset = rootOffset + rootSectors;
    // The data area begins in the node: nothing outside the node is read
    // for the volume.
    if (first + dataOffset >= nodeEnd) return false;
    // The clusters are those the FAT names: 12, 16 or 32 bits per entry,
    // clusters 0 and 1 reserved. The total sectors field is not believed
    // over the FAT: a tool that wrote it wrong, or a volume resized after,
    // makes it larger than the FAT can map or smaller than where the files
    // lie, while the FAT's size, placed by the fields the FATs and the root
    // are found by, is what the format gave the volume. The extent is what
    // the FAT maps, cut at the node's end.
    const std::uint64_t bits = fs == vt::fsFat12 ? 12 : fs == vt::fsFat16 ? 16 : 32;
    const std::uint64_t entries = static_cast<std::uint64_t>(fatSectors) * 512 * 8 / bits;
    if (entries < 3) return false;
    const auto clusters = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries - 2, kFat32Mask - 1));
    // A volume that the FAT's clusters put past the node ends with the node.
    const std::int64_t mapped = dataOffset + static_cast<std::int64_t>(clusters) * spc;
    layout.FsType = fs;
    layout.First = first;
    layout.End = std::min<std::int64_t>(first + mapped, nodeEnd);
    layout.SectorsPerCluster = static_cast<std::int32_t>(spc);
    layout.FatStart = first + reserved;
    layout.FatSectors = static_cast<std::uint32_t>(fatSectors);
    layout.RootStart = first + rootOffset;
    layout.RootSectors = rootSectors;
    layout.DataStart = first + dataOffset;
    layout.Clusters = clusters;
    layout.RootCluster = 0;
    layout.BackupSector = 0;
    layout.Media = r.U8Or(0x15);
    layout.Fats = fats;
    layout.Serial = GetVolumeSerial(sector, fs);
    if (fat32) {
        layout.RootCluster = r.U32Or(0x2C);
        if (layout.RootCluster < 2 || layout.RootCluster - 2 >= clusters) return false;
        const std::int64_t backup = r.U16Or(0x32) * k;
        if (backup > 0 && backup < reserved) layout.BackupSector = static_cast<std::uint32_t>(backup);
    }
    return true;
}

std::int64_t TPhysicalDrive::NodeEnd(const TPartiEntry& node) const {
    return node.FirstSector() + node.SectorTotal();
}

namespace {

// A found directory's own cluster, as its "." entry names it.
struct DotEntry {
    bool Read = false;
    std::uint32_t Low = 0, High = 0;
    std::uint32_t Cluster(TFsType variant) const { return variant == vt::fsFat32 ? (High << 16) + Low : Low; }
};

// The directories of a volume without a boot sector to go by agree on its
// layout: the "." entry of each says which cluster it is, and a layout
// (sectors per cluster, sector of cluster 2) puts that cluster where the
// directory was found, or is not its volume's. The directories are split
// into groups that one layout fits, the largest group first; a layout is
// taken only when at least two directories agree on it, its cluster is a
// power of two of at most 1024 sectors (128 of a 4096-byte sector) and its
// cluster 2 lies in [first, end). The directories that no layout fits are
// left out.
struct LayoutGroup {
    std::int32_t SectorsPerCluster = 0;
    std::int64_t DataStart = 0;
    std::vector<std::size_t> Dirs;  // indexes into the input
};
std::vector<LayoutGroup> SplitByLayout(const std::vector<std::pair<std::int64_t, std::uint32_t>>& dirs,
                                       std::int64_t first, std::int64_t end) {
    std::vector<LayoutGroup> out;
    if (dirs.size() < 2) return out;
    constexpr std::int32_t kMaxClusterSectors = 1024;
    std::map<std::pair<std::int64_t, std::int32_t>, std::vector<std::size_t>> fits;  // (cluster 2, spc)
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const auto [sector, cluster] = dirs[i];
        if (cluster < 2) continue;
        for (std::int32_t spc = 1; spc <= kMaxClusterSectors; spc *= 2) {
            const std::int64_t start = sector - (static_cast<std::int64_t>(cluster) - 2) * spc;
            if (start < first) break;  // larger clusters put it further back
            if (start < end) fits[{start, spc}].push_back(i);
        }
    }
    // The layout that most of the directories not yet taken agree on, again
    // and again; ties go to the earlier cluster 2, then the smaller cluster.
    using Key = std::pair<std::int64_t, std::int32_t>;
    auto worse = [](const std::pair<std::size_t, Key>& a, const std::pair<std::size_t, Key>& b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
    };
    std::vector<std::pair<std::size_t, Key>> heap;
    for (const auto& [key, list] : fits)
        if (list.size() >= 2) heap.emplace_back(list.size(), key);
    std::make_heap(heap.begin(), heap.end(), worse);
    std::vector<bool> taken(dirs.size(), false);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), worse);
        const auto [count, key] = heap.back();
        heap.pop_back();
        std::vector<std::size_t>& list = fits[key];
        std::erase_if(list, [&](std::size_t i) { return taken[i]; });
        if (list.size() < 2) continue;
        if (list.size() < count) {
            heap.emplace_back(list.size(), key);
            std::push_heap(heap.begin(), heap.end(), worse);
            continue;
        }
        for (std::size_t i : list) taken[i] = true;
        out.push_back({key.second, key.first, list});
    }
    return out;
}

// A boot sector whose fields agree with each other and with its volume is
// believed. One byte changed in it (a cluster size, a FAT size, a root of
// no entries, sectors of 513 bytes) leaves a sector whose layout is no
// longer its volume's, while the volume itself still says what the field
// held: its FAT lies where the reserved sectors put it and begins with the
// media byte, the FAT's copy lies where the FAT's size puts it and equals
// it, and the found folders lie where the cluster size and the data area
// put the clusters their "." entries name. The mender tries the fields
// those say and keeps the layout that agrees with most of them. A layout
// is trusted, and its FAT read, only when its FAT and the FAT's copy lie
// where it says and a found folder lies where it says or its fields agree
// with each other (the clusters its total sectors give fill its FAT as a
// format sizes one); anything else is no FAT to read files along.
class BootMender {
public:
    // How many found folders the layout places, and how many lie in its
    // extent.
    using Placed = std::function<std::pair<std::size_t, std::size_t>(const DataStruc::FatBootLayout&)>;
    BootMender(win::HANDLE h, ::DriveNo drive, std::int64_t end, Placed placed,
               std::vector<std::pair<std::int64_t, std::uint32_t>> dirs)
        : h_(h), drive_(drive), end_(end), placed_(std::move(placed)), dirs_(std::move(dirs)) {}

    std::optional<DataStruc::FatBootLayout> Trusted(std::span<const std::uint8_t> sector, std::int64_t first) {
        if (sector.size() < 512) return std::nullopt;
        Boot own{};
        std::copy_n(sector.begin(), 512, own.begin());
        // Fields no volume has, set to what formats write.
        if (DataStruc::SectorScale(own) == 0) Put16(own, 0x0B, 512);
        if (own[0x10] == 0 || own[0x10] > 4) own[0x10] = 2;
        if (!IsFat(DetectVolumeType(own))) return std::nullopt;
        const bool asRead = std::equal(own.begin(), own.end(), sector.begin());
        Candidate best = Evaluate(own, first, true);
        if (asRead && best.Trusted() && best.Agree && (best.Placed > 0 || best.InExtent == 0)) return Unless(best, first);

        const std::int64_t k = DataStruc::SectorScale(own);
        const bool fat32 = DetectVolumeType(own) == vt::fsFat32;
        // Where the FAT begins: the reserved sectors' count, or the first
        // sector after the boot sector that begins as a FAT does.
        std::vector<std::uint16_t> reserved{vt::LoadLe16(own.data() + 0x0E)};
        if (!best.FatBegins)
            for (std::uint16_t r = 1; r < kMostReserved; ++r)
                if (const Boot* s = Read(first + r * k); s && IsMediaByte((*s)[0]) && (*s)[1] == 0xFF && (*s)[2] == 0xFF) {
                    if (r != reserved[0]) reserved.push_back(r);
                    break;
                }
        for (std::uint16_t r : reserved) {
            Boot base = own;
            Put16(base, 0x0E, r);
            if (const Boot* s = Read(first + r * k); s && IsMediaByte((*s)[0])) base[0x15] = (*s)[0];
            // The FAT's size: the field, or where its copy is found.
            std::vector<std::uint32_t> sizes{fat32 ? vt::LoadLe32(base.data() + 0x24) : vt::LoadLe16(base.data() + 0x16)};
            if (const auto copy = CopyDistance(first + r * k, base[0x10], k); copy && *copy != sizes[0])
                sizes.push_back(*copy);
            for (std::uint32_t fatSize : sizes) {
                if (!fat32 && fatSize > 0xFFFF) continue;
                Boot sized = base;
                if (fat32) Put32(sized, 0x24, fatSize);
                else Put16(sized, 0x16, static_cast<std::uint16_t>(fatSize));
                for (std::uint32_t spc = 1; spc <= 128; spc *= 2) {
                    Boot c = sized;
                    c[0x0D] = static_cast<std::uint8_t>(spc);
                    std::vector<std::uint16_t> roots{vt::LoadLe16(c.data() + 0x11)};
                    if (!fat32) {
                        // The root fills the sectors between the FATs and
                        // the data area the folders' "." entries give.
                        const std::int64_t rootStart = first + (r + std::int64_t{c[0x10]} * fatSize) * k;
                        for (const LayoutGroup& g : Layouts(first))
                            if (g.SectorsPerCluster == spc * k && g.DataStart > rootStart &&
                                (g.DataStart - rootStart) % k == 0 && (g.DataStart - rootStart) / k * 16 <= 0xFFFF)
                                roots.push_back(static_cast<std::uint16_t>((g.DataStart - rootStart) / k * 16));
                    }
                    for (std::uint16_t root : roots) {
                        Put16(c, 0x11, root);
                        const Candidate m = Evaluate(c, first, asRead && c == own);
                        if (m.Better(best)) best = m;
                    }
                }
            }
        }
        if (!best.Trusted() || (best.Placed == 0 && !best.Agree)) return std::nullopt;
        return Unless(best, first);
    }

private:
    using Boot = std::array<std::uint8_t, 512>;
    // mkfs.fat reserves 32 sectors for FAT32, Windows up to 38; an aligned
    // format more.
    static constexpr std::uint16_t kMostReserved = 128;
    // A FAT of 64 MiB maps 16M clusters: the copy is looked for no farther.
    static constexpr std::int64_t kMostFatSectors = 1 << 17;

    struct Candidate {
        DataStruc::FatBootLayout Layout;
        Boot Bytes{};  // the boot sector as mended
        bool Valid = false, FatBegins = false, CopyAgrees = false, Agree = false, Own = false;
        std::size_t Placed = 0, InExtent = 0;
        bool Trusted() const { return Valid && FatBegins && CopyAgrees; }
        bool Better(const Candidate& o) const {
            const auto key = [](const Candidate& c) {
                return std::make_tuple(c.Trusted(), c.Placed, c.Agree, c.Own);
            };
            return key(*this) > key(o);
        }
    };

    // Where no found folder confirms the cluster size, fields that agree
    // with another as well (a small FAT has room for twice the clusters)
    // tell nothing: no layout.
    std::optional<DataStruc::FatBootLayout> Unless(const Candidate& best, std::int64_t first) {
        if (best.Placed > 0) return best.Layout;
        for (std::uint32_t spc = 1; spc <= 128; spc *= 2) {
            if (spc == best.Bytes[0x0D]) continue;
            Boot other = best.Bytes;
            other[0x0D] = static_cast<std::uint8_t>(spc);
            const Candidate c = Evaluate(other, first, false);
            if (c.Trusted() && c.Agree) return std::nullopt;
        }
        return best.Layout;
    }

    static void Put16(Boot& b, std::size_t at, std::uint16_t v) {
        b[at] = static_cast<std::uint8_t>(v);
        b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    static void Put32(Boot& b, std::size_t at, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    static bool IsMediaByte(std::uint8_t m) { return m == 0xF0 || m >= 0xF8; }

    const Boot* Read(std::int64_t lba) {
        if (lba < 0 || lba >= end_) return nullptr;
        auto [it, fresh] = cache_.try_emplace(lba);
        if (fresh) {
            Boot s{};
            if (ReadSector(h_, drive_, lba, s)) it->second = s;
        }
        return it->second ? &*it->second : nullptr;
    }

    // Sectors from the FAT's first to its copy's: the first sector after
    // it that repeats it byte for byte (a FAT's first sector begins with
    // the media byte, which no later one of it does).
    std::optional<std::uint32_t> CopyDistance(std::int64_t fatStart, std::uint32_t fats, std::int64_t k) {
        const Boot* head = Read(fatStart);
        if (!head || fats < 2 || !IsMediaByte((*head)[0])) return std::nullopt;
        const std::int64_t most = std::min<std::int64_t>(kMostFatSectors * k, (end_ - fatStart) / fats);
        std::vector<std::uint8_t> chunk(kFatWindowSectors * 512);
        for (std::int64_t at = 1; at <= most; at += kFatWindowSectors) {
            const auto n = static_cast<std::uint16_t>(std::min<std::int64_t>(kFatWindowSectors, most - at + 1));
            std::uint32_t bytesRead = 0;
            if (!ReadDiskSectors(h_, n, chunk.data(), fatStart + at, bytesRead, drive_)) return std::nullopt;
            for (std::uint32_t j = 0; j < bytesRead / 512; ++j)
                if ((at + j) % k == 0 && std::equal(head->begin(), head->end(), chunk.begin() + j * 512))
                    return static_cast<std::uint32_t>((at + j) / k);
            if (bytesRead < n * 512u) return std::nullopt;
        }
        return std::nullopt;
    }

    // The layouts the found folders from first on agree on.
    const std::vector<LayoutGroup>& Layouts(std::int64_t first) {
        auto [it, fresh] = layouts_.try_emplace(first);
        if (fresh) it->second = SplitByLayout(dirs_, first, end_);
        return it->second;
    }

    // FAT12 maps at most 4084 clusters (a FAT of 12 sectors at most),
    // FAT16 at least 4085 (16 sectors at least): the FAT's own size tells
    // the two apart, where the total sectors a count would go by may be
    // the field that changed.
    static TFsType TypeByFat(const Boot& b) {
        const TFsType counted = DetectVolumeType(b);
        if (counted == vt::fsFat32) return counted;
        const std::uint64_t bytes = std::uint64_t{vt::LoadLe16(b.data() + 0x16)} * 512 * DataStruc::SectorScale(b);
        if (bytes <= 6144) return vt::fsFat12;
        if (bytes >= 8192) return vt::fsFat16;
        return counted;
    }

    Candidate Evaluate(const Boot& b, std::int64_t first, bool own) {
        Candidate c;
        c.Own = own;
        c.Bytes = b;
        if (!DataStruc::ExamineFatBoot(b, first, end_, c.Layout, TypeByFat(b))) return c;
        const DataStruc::FatBootLayout& l = c.Layout;
        c.Valid = true;
        const Boot* fat = Read(l.FatStart);
        c.FatBegins = fat && BeginsAsFat(*fat, l);
        const Boot* copy = l.Fats < 2 ? fat : Read(l.FatStart + l.FatSectors);
        c.CopyAgrees = fat && copy && *fat == *copy;
        std::tie(c.Placed, c.InExtent) = placed_(l);
        // The clusters the total sectors give, against those the FAT maps:
        // a format makes the FAT no more than a sector larger than they
        // need, a small one less than twice as large (the cluster size
        // doubled halves the clusters); a FAT of one sector is never too
        // large.
        const vt::ByteReader r(b);
        const std::int64_t k = DataStruc::SectorScale(b);
        const std::int64_t total = (r.U16Or(0x13) ? r.U16Or(0x13) : r.U32Or(0x20)) * k;
        const std::int64_t meta = l.DataStart - l.First;
        if (total > meta) {
            const std::int64_t clusters = (total - meta) / l.SectorsPerCluster;
            const std::int64_t mapped = l.Clusters;
            c.Agree = clusters <= mapped &&
                      (2 * (mapped - clusters) < mapped || static_cast<std::int64_t>(l.FatSectors) <= k) &&
                      (l.FsType == vt::fsFat32 || r.U16Or(0x11) * 32 % (512 * k) == 0);
        }
        return c;
    }

    win::HANDLE h_;
    ::DriveNo drive_;
    std::int64_t end_;
    Placed placed_;
    std::vector<std::pair<std::int64_t, std::uint32_t>> dirs_;  // sector, "." cluster (16 bits)
    std::map<std::int64_t, std::optional<Boot>> cache_;
    std::map<std::int64_t, std::vector<LayoutGroup>> layouts_;
};

}  // namespace

std::vector<TPhysicalDrive::FatGroup> TPhysicalDrive::SplitFatVolumes(win::HANDLE h,
                                                                      std::vector<std::int32_t>& dirGroup) {
    PPartiEntry node = CurPartition;
    const ::DriveNo drive = Geometry.DriveNo;
    const std::int64_t first = node->FirstSector(), end = NodeEnd(*node);
    const std::size_t n = node->DirSectors.size();
    std::vector<FatGroup> groups(1);
    groups[0].First = first;
    groups[0].End = end;
    groups[0].Variant = node->FatType;
    groups[0].GuessRoot = true;
    groups[0].Dirs = n;
    dirGroup.assign(n, 0);

    std::vector<DotEntry> dots(n);
    {
        std::array<std::uint8_t, 512> sector{};
        for (std::size_t i = 0; i < n; ++i) {
            if (!ReadSector(h, drive, node->DirSectors[i], sector)) continue;
            const vt::ByteReader dotEntry(sector);
            dots[i] = {true, dotEntry.U16Or(26), dotEntry.U16Or(20)};
        }
    }
    // How many of the directories in a volume's extent its layout places.
    auto placed = [&](const DataStruc::FatBootLayout& boot, std::int64_t from, std::int64_t to) {
        std::size_t count = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::int64_t d = node->DirSectors[i];
            if (d >= from && d < to && dots[i].Read && LiesWhereTheBootSays(boot, d, dots[i].Low, dots[i].High))
                ++count;
        }
        return count;
    };
    std::vector<std::pair<std::int64_t, std::uint32_t>> dotClusters;
    for (std::size_t i = 0; i < n; ++i)
        if (dots[i].Read) dotClusters.emplace_back(node->DirSectors[i], dots[i].Low);
    BootMender mender(
        h, drive, end,
        [&](const DataStruc::FatBootLayout& boot) {
            std::size_t inExtent = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const std::int64_t d = node->DirSectors[i];
                if (d >= boot.First && d < boot.End) ++inExtent;
            }
            return std::make_pair(placed(boot, boot.First, boot.End), inExtent);
        },
        std::move(dotClusters));

    // The volumes: the boot sectors the scan found, and the node's first
    // sector, whose boot sector counts by its fields as a partition's does.
    struct Found {
        std::int64_t First = 0, End = 0;
        std::optional<DataStruc::FatBootLayout> Boot;
        std::uint32_t Serial = 0;
    };
    std::vector<Found> volumes;
    // An empty node holds no volume, not even at its first sector.
    std::vector<std::int64_t> starts;
    if (first < end) starts.push_back(first);
    std::size_t dropped = 0;
    for (std::int64_t s : node->FatBootSectors) {
        if (s <= first || s >= end) continue;
        if (starts.size() < kMaxBootSectors) starts.push_back(s);
        else ++dropped;
    }
    if (dropped > 0)
        DataStruc::AddLogEvent(EventLogView,
                               "引导扇区过多：只读取了前 " + std::to_string(kMaxBootSectors) + " 个，其余 " +
                                   std::to_string(dropped) + " 个未读取",
                               kLogWarning);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    for (std::int64_t lba : starts) {
        std::array<std::uint8_t, 512> sector{};
        if (!ReadSector(h, drive, lba, sector)) continue;
        const TFsType fs = DetectVolumeType(sector);
        if (!IsFat(fs)) continue;
        DataStruc::BootSectorInfo info;
        const bool marked = DataStruc::ExamineBootSector(sector, info);
        // A boot sector makes a volume only where its FAT follows it (a
        // file of stored boot sectors holds none), mended where a field
        // disagrees with the volume.
        const auto trusted = mender.Trusted(sector, lba);
        const bool sane = trusted.has_value();
        DataStruc::FatBootLayout layout;
        if (sane) layout = *trusted;
        // A node that begins with a damaged boot sector is read as the
        // node's own volume without one.
        if (!sane && (!marked || lba == first)) continue;
        const std::uint32_t serial = GetVolumeSerial(sector, fs);
        // The copy of a FAT32 volume's boot sector, where the volume's own
        // says it keeps it. Any other boot sector inside a volume, with its
        // serial or another, begins a volume of its own: an image of a
        // volume stored on it carries its serial too. Where the two differ,
        // the one whose layout puts more of the found directories where
        // their "." entries say is the volume's.
        if (auto host = std::find_if(volumes.begin(), volumes.end(),
                                     [&](const Found& v) {
                                         return v.Boot && v.Boot->FsType == vt::fsFat32 && v.Boot->BackupSector > 0 &&
                                                lba == v.First + v.Boot->BackupSector && v.Serial == serial;
                                     });
            host != volumes.end()) {
            const auto moved = mender.Trusted(sector, host->First);
            if (moved && placed(*moved, host->First, moved->End) > placed(*host->Boot, host->First, host->End)) {
                host->Boot = moved;
                host->End = moved->End;
            }
            continue;
        }
        // A FAT32 copy whose volume's own boot sector is damaged or gone:
        // the volume begins where the copy says it lies, if its FAT does.
        const std::int64_t backup = fs == vt::fsFat32 ? vt::ByteReader(sector).U16Or(0x32) *
                                                            std::int64_t{DataStruc::SectorScale(sector)}
                                                      : 0;
        if (backup > 0 && lba - backup >= first) {
            const std::int64_t start = lba - backup;
            auto at = std::find_if(volumes.begin(), volumes.end(), [&](const Found& v) { return v.First == start; });
            if (at == volumes.end() || !at->Boot) {
                // As the copy's fields place it, without a FAT looked
                // for: a volume's own boot sector is no copy 6 sectors
                // into a volume before it.
                const std::int64_t reserved =
                    vt::ByteReader(sector).U16Or(0x0E) * std::int64_t{DataStruc::SectorScale(sector)};
                if (const auto moved = mender.Trusted(sector, start);
                    moved && moved->BackupSector == backup && moved->FatStart == start + reserved) {
                    if (at == volumes.end()) at = volumes.insert(volumes.end(), Found{});
                    *at = Found{start, moved->End, moved, serial};
                    continue;
                }
            }
        }
        Found v{lba, end, std::nullopt, serial};
        if (sane) {
            v.Boot = layout;
            v.End = layout.End;
        } else if (info.SectorCount > 0) {
            v.End = std::min<std::int64_t>(lba + static_cast<std::int64_t>(info.SectorCount), end);
        }
        volumes.push_back(v);
    }
    std::sort(volumes.begin(), volumes.end(), [](const Found& a, const Found& b) { return a.First < b.First; });

    // Each found volume's groups: the directories its boot sector places
    // (the node's own volume: group 0), and the others in its extent.
    std::vector<std::int32_t> bootGroup(volumes.size(), -1), strayGroup(volumes.size(), -1);
    auto addGroup = [&](std::int64_t from, std::int64_t to, bool guessRoot) {
        FatGroup g;
        g.Volume = static_cast<std::int32_t>(node->FatVolumes.size());
        g.First = from;
        g.End = to;
        g.GuessRoot = guessRoot;
        TFatVolume v;
        v.First = from;
        v.End = to;
        node->FatVolumes.push_back(v);
        groups.push_back(g);
        return static_cast<std::int32_t>(groups.size() - 1);
    };
    groups[0].Dirs = 0;
    bool own = false;
    for (std::size_t k = 0; k < volumes.size(); ++k) {
        const Found& v = volumes[k];
        if (!v.Boot) continue;
        // The node's own fields hold a cluster 2 of 31 bits.
        if (v.First == first && v.Boot->DataStart < 0x7FFFFFFF) {
            own = true;
            bootGroup[k] = 0;
            groups[0].First = v.First;
            groups[0].End = v.End;
            groups[0].GuessRoot = false;
        } else {
            bootGroup[k] = addGroup(v.First, v.End, false);
            TFatVolume& fv = node->FatVolumes.back();
            fv.SectorsPerCluster = v.Boot->SectorsPerCluster;
            fv.DataStart = v.Boot->DataStart;
            fv.Boot = v.Boot;
        }
        FatGroup& g = groups[static_cast<std::size_t>(bootGroup[k])];
        g.Boot = v.Boot;
        g.Variant = v.Boot->FsType;
        TFsType& type = g.Volume < 0 ? node->FatType : node->FatVolumes[static_cast<std::size_t>(g.Volume)].FsType;
        type = v.Boot->FsType;
    }

    // Each directory belongs to the innermost volume that places it, or,
    // when none does, to the innermost volume whose extent holds it.
    std::int32_t outside = own ? -1 : 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t d = node->DirSectors[i];
        std::int32_t holder = -1;
        std::int32_t group = -1;
        for (std::size_t k = volumes.size(); k-- > 0;) {
            const Found& v = volumes[k];
            if (d < v.First || d >= v.End) continue;
            if (holder < 0) holder = static_cast<std::int32_t>(k);
            if (v.Boot && dots[i].Read && LiesWhereTheBootSays(*v.Boot, d, dots[i].Low, dots[i].High)) {
                group = bootGroup[k];
                break;
            }
        }
        if (group < 0 && holder >= 0) {
            auto& stray = strayGroup[static_cast<std::size_t>(holder)];
            const Found& v = volumes[static_cast<std::size_t>(holder)];
            if (stray < 0) stray = addGroup(v.First, v.End, !v.Boot);
            group = stray;
        }
        if (group < 0) {
            if (outside < 0) outside = addGroup(first, end, false);
            group = outside;
        }
        dirGroup[i] = group;
        FatGroup& g = groups[static_cast<std::size_t>(group)];
        ++g.Dirs;
        if (dots[i].High != 0) ++g.Fat32Votes;
    }
    // The groups without a boot sector vote as the scan does over the node.
    for (std::size_t k = 0; k < groups.size(); ++k) {
        FatGroup& g = groups[k];
        if (g.Boot || (k == 0 && g.Dirs == n)) continue;
        g.Variant = g.Dirs / 2 > g.Fat32Votes ? vt::fsFat16 : vt::fsFat32;
        if (g.Volume >= 0) node->FatVolumes[static_cast<std::size_t>(g.Volume)].FsType = g.Variant;
        else if (g.Dirs > 0) node->FatType = g.Variant;
    }

    // The groups without a boot sector: one layout for the largest set of
    // its directories that agree on one, a group of its own for each
    // further set (an old volume beside another, under a new table), and
    // none for the directories no layout fits, whose files are then named
    // as failed rather than read with another volume's clusters. A group
    // in which no two directories agree keeps what it had: the node's own
    // volume then falls back on the estimate from its entries.
    const std::size_t bootless = groups.size();
    for (std::size_t k = 0; k < bootless; ++k) {
        if (groups[k].Boot || groups[k].Dirs < 2) continue;
        std::vector<std::size_t> members;
        std::vector<std::pair<std::int64_t, std::uint32_t>> dirs;
        for (std::size_t i = 0; i < n; ++i)
            if (dirGroup[i] == static_cast<std::int32_t>(k) && dots[i].Read) {
                members.push_back(i);
                dirs.emplace_back(node->DirSectors[i], dots[i].Cluster(groups[k].Variant));
            }
        const std::vector<LayoutGroup> layouts = SplitByLayout(dirs, groups[k].First, groups[k].End);
        if (layouts.empty()) continue;
        // The node's own fields hold a cluster 2 of 31 bits.
        const bool keep = groups[k].Volume >= 0 || layouts[0].DataStart < 0x7FFFFFFF;
        std::vector<bool> fitted(members.size(), false);
        for (std::size_t j = 0; j < layouts.size(); ++j) {
            const LayoutGroup& l = layouts[j];
            std::int32_t target = static_cast<std::int32_t>(k);
            if (j > 0 || !keep) {
                // A copy: addGroup grows the vector the parent lives in.
                const FatGroup parent = groups[k];
                target = addGroup(parent.First, parent.End, parent.GuessRoot);
                groups[static_cast<std::size_t>(target)].Variant = parent.Variant;
                node->FatVolumes.back().FsType = parent.Variant;
            }
            FatGroup& g = groups[static_cast<std::size_t>(target)];
            g.Estimate = std::make_pair(l.SectorsPerCluster, l.DataStart);
            for (std::size_t m : l.Dirs) {
                fitted[m] = true;
                dirGroup[members[m]] = target;
            }
            g.Dirs = l.Dirs.size();
        }
        if (!keep) {
            groups[k].Dirs -= std::count(fitted.begin(), fitted.end(), true);
            continue;
        }
        // The directories no layout fits: no group of their own when there
        // are none.
        std::int32_t none = -1;
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (fitted[m]) continue;
            if (none < 0) none = addGroup(groups[k].First, groups[k].End, false);
            dirGroup[members[m]] = none;
            ++groups[static_cast<std::size_t>(none)].Dirs;
        }
    }
    return groups;
}

void TPhysicalDrive::ListFatRoots(win::HANDLE h, std::vector<FatGroup>& groups, FatTables& tables) {
    PPartiEntry node = CurPartition;
    const std::int64_t nodeFirst = node->FirstSector(), nodeEnd = NodeEnd(*node);
    // Last volume first: each root goes in front, so the roots stand in
    // disk order before the found directories.
    std::vector<std::size_t> order(groups.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return groups[a].First > groups[b].First; });
    for (std::size_t k : order) {
        const FatGroup& g = groups[k];
        if (!g.Boot) {
            if (g.GuessRoot) GuessFatRoot(g);
            continue;
        }
        const DataStruc::FatBootLayout& boot = *g.Boot;
        const std::int64_t limit = std::min(g.End, nodeEnd);
        auto fresh = [&](std::int64_t s) {
            return s >= nodeFirst && s < limit &&
                   std::find(node->DirSectors.begin(), node->DirSectors.end(), s) == node->DirSectors.end();
        };
        if (boot.FsType != vt::fsFat32) {
            // The fixed region before cluster 2, whole: a root may hold
            // 65535 entries.
            if (!fresh(boot.RootStart)) continue;
            const auto sectors = static_cast<std::uint32_t>(
                std::min<std::int64_t>(boot.RootSectors, limit - boot.RootStart));
            node->DirSectors.insert(node->DirSectors.begin(), boot.RootStart);
            ParseDirectorySectors(true, boot.RootStart, sectors, g.Variant, g.Volume);
            continue;
        }
        // A FAT32 root is a cluster chain, read as a found folder is.
        const std::int64_t rootSector =
            boot.DataStart + static_cast<std::int64_t>(boot.RootCluster - 2) * boot.SectorsPerCluster;
        if (!fresh(rootSector)) continue;
        node->DirSectors.insert(node->DirSectors.begin(), rootSector);
        ParseDirectoryChain(h, true, boot.RootCluster, tables.Of(h, Geometry.DriveNo, boot, k),
                            static_cast<std::uint32_t>(std::min<std::int64_t>(kDirectoryReadSectors, limit - rootSector)),
                            g.Variant, g.Volume);
    }
}

void TPhysicalDrive::ParseDirectoryChain(win::HANDLE h, bool isRoot, std::uint32_t cluster, FatTable& fat,
                                         std::uint32_t sectors, TFsType variant, std::int32_t volume) {
    const DataStruc::FatBootLayout& boot = fat.Boot();
    const std::int64_t spc = boot.SectorsPerCluster;
    const std::int64_t first = boot.DataStart + static_cast<std::int64_t>(cluster - 2) * spc;
    // A directory holds at most 2 MiB: a chain that runs on is damaged. A
    // root is read up to there all the same, as it is the volume's top. A
    // chain that leads back into itself holds the directory in the
    // clusters before its first repeat.
    const FatChainWalk walk =
        WalkFatChain(fat, cluster, std::max<std::size_t>(1, kMaxDirectorySectors / static_cast<std::size_t>(spc)));
    if (walk.End != ChainEnd::EndMark && walk.End != ChainEnd::Loop && !(isRoot && walk.End == ChainEnd::Cap)) {
        ParseDirectorySectors(isRoot, first, sectors, variant, volume);
        return;
    }
    // The clusters in runs of consecutive ones, each run one request (at
    // most the 2 MiB above), read again sector by sector when it fails; a
    // sector that does not read, or a run cut short, ends the directory
    // there.
    const std::uint64_t total = walk.Clusters.size() * static_cast<std::uint64_t>(spc);
    platform::PageBuffer bytes(static_cast<std::size_t>(total) * 512);
    std::size_t filled = 0;
    for (const auto& [sector, n] : ChainExtents(boot, walk.Clusters, total)) {
        const auto count = static_cast<std::uint32_t>(n);
        std::uint64_t unreadable = 0;
        std::uint32_t bytesRead = 0;
        if (!ReadSectorsSalvaging(h, Geometry.DriveNo, sector, count, count, bytes.data() + filled, bytesRead,
                                  unreadable))
            break;
        filled += bytesRead / 512 * 512;
        if (bytesRead < count * 512u || unreadable > 0) break;
    }
    try {
        ParseDirectoryBuffer(isRoot, first, std::span<const std::uint8_t>(bytes).first(filled), variant, volume, true);
    } catch (const std::exception& e) {
        ErrorBox(e.what());
    }
}
