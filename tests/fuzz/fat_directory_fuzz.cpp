// The directory parse of the FAT listing over a mutated directory cluster,
// then the cluster-layout estimate from what it listed. With mode bit 8 the
// whole FAT listing runs instead, on a node from sector 1 to the
// next-to-last sector whose first sector is a mutated boot sector: the root
// directory it adds (from the boot sector, or guessed before cluster 2)
// lies inside the node, and so does every read of it. Boot sectors further
// on split the node into volumes: every read that begins inside one of
// them ends inside it and the node, and every entry read with a volume's
// layout places its clusters inside that volume or nowhere. A directory
// of a volume whose boot sector places its FAT is read along its chain
// there; no read of the listing leaves the node, and no read of a found
// file's recovery leaves its volume. Either way, every long name listed is
// one that the disk gives the entry: its pieces stand right before the
// short entry in the directory read, in sequence down to 1, with the
// checksum of that short entry.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DataStruc.h"
#include "FatFuzzVolume.h"
#include "FuzzDisk.h"
#include "System.h"

namespace {

// The disk's bytes and the reads of a listing, to walk back from an entry
// to the one before it in the directory read: the entry before it on the
// disk, not before the first byte of the read it lies in; from the first
// byte of a read, the last entry of the read before it (a directory read
// along its chain comes in one read per run of clusters).
struct DirectoryBytes {
    const std::vector<std::uint8_t>& disk;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> reads;  // offset, end

    void Trace() {
        reads.clear();
        for (const auto& r : platform::DeviceTrace::Requests())
            if (r.code == 0) reads.emplace_back(r.offset, r.offset + r.length);
    }
    // Whether pieces before the entry at `at` (nearest first) may name the
    // short entry; `floor` is the first byte of the read it lies in.
    bool Names(std::uint64_t at, std::uint64_t floor, std::vector<const std::uint8_t*>& nearest,
               const std::uint8_t* shortEntry) const {
        if (nearest.size() >= vt::fat::kMaxLongNamePieces) return false;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> before;  // entry, its read's first byte
        if (at >= floor + 32) before.emplace_back(at - 32, floor);
        for (std::size_t i = 1; i < reads.size(); ++i)
            if (reads[i].first == at && reads[i - 1].second >= reads[i - 1].first + 32)
                before.emplace_back((reads[i - 1].second - 32) / 32 * 32, reads[i - 1].first);
        for (const auto& [b, bFloor] : before) {
            if (b + 32 > disk.size() || disk[b + 11] != vt::fat::kAttrLongName) continue;
            nearest.push_back(&disk[b]);
            const std::vector<const std::uint8_t*> pieces(nearest.rbegin(), nearest.rend());
            const bool named = fuzzvol::MayName(pieces, shortEntry) || Names(b, bFloor, nearest, shortEntry);
            nearest.pop_back();
            if (named) return true;
        }
        return false;
    }
    // Whether some copy of the listed entry's 32 bytes in or after the
    // directory it was read from carries its long name.
    bool LongNameHeld(const TPhysMidEntry& e) const {
        if (e.DirSector < 0) return false;
        const std::uint64_t floor = static_cast<std::uint64_t>(e.DirSector) * 512;
        for (std::uint64_t at = floor; at + 32 <= disk.size(); at += 32) {
            if (std::memcmp(&disk[at], &e.DirEntry, 32) != 0) continue;
            std::vector<const std::uint8_t*> nearest;
            if (Names(at, floor, nearest, &disk[at])) return true;
        }
        return false;
    }
};

void CheckLongNames(const TPartiEntry& node, const DirectoryBytes& bytes) {
    for (const auto& e : node.FatEntries)
        if (!e->LongName.empty() && !bytes.LongNameHeld(*e)) __builtin_trap();
}

void ListNodeFromSectorOne(std::uint32_t sectors, DirectoryBytes& bytes) {
    TPhysicalDrive drive(fuzzdisk::Geometry(sectors));
    TPartiEntry node;
    node.RawEntry.StartLba.set(1);
    node.RawEntry.SectorCount.set(sectors > 2 ? sectors - 2 : 0);
    if (!drive.ScanPartition(&node, nullptr)) return;
    const std::size_t found = node.DirSectors.size();
    platform::DeviceTrace::Clear();
    platform::DeviceTrace::Enable(true);
    drive.BuildFatList(nullptr);
    platform::DeviceTrace::Enable(false);
    bytes.Trace();
    CheckLongNames(node, bytes);
    const std::int64_t end = node.FirstSector() + node.RawEntry.SectorCount.get();
    // Boot sectors, directories, FAT sectors and the clusters of chains
    // alike: the listing reads nothing outside the node.
    for (const auto& r : platform::DeviceTrace::Requests())
        if (r.code == 0 && (r.offset < static_cast<std::uint64_t>(node.FirstSector()) * 512 ||
                            r.offset + r.length > static_cast<std::uint64_t>(end) * 512))
            __builtin_trap();
    for (const auto& v : node.FatVolumes)
        if (v.First < node.FirstSector() || v.End > end || v.First >= v.End) __builtin_trap();
    for (const auto& e : node.FatEntries) {
        if (e->Volume < 0) continue;
        if (static_cast<std::size_t>(e->Volume) >= node.FatVolumes.size()) __builtin_trap();
        const TFatVolume& v = node.FatVolumes[static_cast<std::size_t>(e->Volume)];
        if (e->DirSector < v.First || e->DirSector >= v.End) __builtin_trap();
        // The directory the entry was read from was read inside its volume.
        for (const auto& r : platform::DeviceTrace::Requests())
            if (r.code == 0 && r.offset == static_cast<std::uint64_t>(e->DirSector) * 512 &&
                r.offset + r.length > static_cast<std::uint64_t>(v.End) * 512)
                __builtin_trap();
        if (const auto s = drive.FatEntrySector(*e, node.FatType); s && (*s < v.First || *s >= v.End)) __builtin_trap();
    }
    // Recovering a found file reads inside its volume (or the node), along
    // a chain that ends, whatever the FAT and the entry hold.
    static const std::string scratch = [] {
        std::string t = (std::filesystem::temp_directory_path() / "vt-fat-directory-XXXXXX").string();
        return std::string(mkdtemp(t.data()));
    }();
    std::size_t recovered = 0;
    for (const auto& e : node.FatEntries) {
        if (!IsFatFile(e->DirEntry) || ++recovered > 8) continue;
        std::int64_t from = node.FirstSector(), to = end;
        if (e->Volume >= 0) {
            from = node.FatVolumes[static_cast<std::size_t>(e->Volume)].First;
            to = node.FatVolumes[static_cast<std::size_t>(e->Volume)].End;
        }
        const std::string out = scratch + "/out";
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        drive.RecoverFile(e.get(), node.FatType, out, nullptr, nullptr);
        platform::DeviceTrace::Enable(false);
        for (const auto& r : platform::DeviceTrace::Requests())
            if (r.code == 0 && (r.offset < static_cast<std::uint64_t>(from) * 512 ||
                                r.offset + r.length > static_cast<std::uint64_t>(to) * 512))
                __builtin_trap();
        std::filesystem::remove_all(out);
    }
    if (node.DirSectors.size() == found) return;
    const std::int64_t root = node.DirSectors[0];
    if (root < node.FirstSector() || root >= end) __builtin_trap();
    for (const auto& r : platform::DeviceTrace::Requests())
        if (r.code == 0 && r.offset == static_cast<std::uint64_t>(root) * 512 &&
            r.offset + r.length > static_cast<std::uint64_t>(end) * 512)
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (256u << 10) + 1) return 0;
    const std::uint8_t mode = data[0];
    std::vector<std::uint8_t> disk(data + 1, data + size);
    const std::uint32_t sectors = fuzzdisk::InstallDisk(disk);
    disk.resize(static_cast<std::size_t>(sectors) * 512);
    DirectoryBytes bytes{disk, {}};
    if (mode & 8) {
        ListNodeFromSectorOne(sectors, bytes);
        return 0;
    }
    TDriveGeometry g;
    g.DriveNo = 0;
    TPhysicalDrive drive(g);
    TPartiEntry node;
    node.FatType = static_cast<TFsType>(mode & 3);
    node.RawEntry.SectorCount.set(static_cast<std::uint32_t>(mode) << 12);
    drive.CurPartition = &node;
    drive.ParseFatDirectory((mode & 4) != 0, 0);
    drive.ParseFatDirectory(false, 1);
    CheckLongNames(node, bytes);
    drive.EstimateFatLayout(nullptr, nullptr);
    for (auto& e : node.FatEntries)
        if (e->DirSector > 1) __builtin_trap();
    return 0;
}
