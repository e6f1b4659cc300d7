// The advanced recovery of a FAT16 volume built here from known files,
// whose FAT the input damages in one entry: a chain that runs on, breaks,
// loops, leaves the volume or crosses into another file's. Six present
// files lie in every sixth cluster, a deleted one in clusters of its own.
// Every file that the recovery does not name as failed has its known
// bytes, and no read leaves the node. One entry is all a test can damage
// and still know the truth: two can swap two files' tails, a change no FAT
// can show.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DataStruc.h"
#include "FuzzDisk.h"
#include "Recorders.h"
#include "System.h"

namespace {

constexpr std::uint32_t kFiles = 6;        // present, in clusters 2 + i + 6j
constexpr std::uint32_t kClustersEach = 3;
constexpr std::uint32_t kDeletedFirst = 2 + kFiles * kClustersEach;  // its clusters follow on
constexpr std::uint32_t kClusters = 40;    // clusters 2..41 hold data
constexpr std::uint32_t kDataStart = 3;    // boot, FAT, root

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Each cluster's bytes differ from every other cluster's.
std::uint8_t ClusterByte(std::uint32_t cluster, std::uint32_t offset) {
    return static_cast<std::uint8_t>(((cluster + 1) * 2654435761u + offset * 40503u) >> 13);
}

std::uint32_t FileCluster(std::uint32_t file, std::uint32_t j) {
    return file < kFiles ? 2 + file + kFiles * j : kDeletedFirst + j;
}

const std::string& Scratch() {
    static const std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "vt-chain-recover-XXXXXX").string();
        return std::string(mkdtemp(t.data()));
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    static const bool quiet = [] {
        platform::SetMessageBoxHandler([](const char*, const char*, win::UINT) { return win::IDOK; });
        return true;
    }();
    (void)quiet;
    const std::uint32_t spc = 1u << (data[0] % 3);
    const std::uint32_t clusterBytes = spc * 512;
    const std::uint32_t sectors = kDataStart + kClusters * spc;
    std::vector<std::uint8_t> disk(static_cast<std::size_t>(sectors) * 512, 0);
    // Boot sector: 512-byte sectors, one reserved, one FAT of one sector
    // (256 entries), 16 root entries (one sector).
    Put16(disk, 0x0B, 512);
    disk[0x0D] = static_cast<std::uint8_t>(spc);
    Put16(disk, 0x0E, 1);
    disk[0x10] = 1;
    Put16(disk, 0x11, 16);
    Put16(disk, 0x13, sectors);
    disk[0x15] = 0xF8;
    Put16(disk, 0x16, 1);
    std::memcpy(&disk[0x36], "FAT16   ", 8);
    Put16(disk, 510, 0xAA55);
    // The FAT: the media entry, then the present files' chains.
    std::uint8_t* fat = &disk[512];
    auto setEntry = [&](std::uint32_t c, std::uint32_t v) {
        fat[c * 2] = static_cast<std::uint8_t>(v);
        fat[c * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    setEntry(0, 0xFFF8);
    setEntry(1, 0xFFFF);
    const std::uint32_t fileSize = kClustersEach * clusterBytes - 100;
    for (std::uint32_t f = 0; f <= kFiles; ++f) {
        if (f < kFiles)
            for (std::uint32_t j = 0; j < kClustersEach; ++j)
                setEntry(FileCluster(f, j), j + 1 < kClustersEach ? FileCluster(f, j + 1) : 0xFFFF);
        std::uint8_t* e = &disk[2 * 512 + f * 32];
        std::memcpy(e, "FILE0   BIN", 11);
        e[4] = static_cast<std::uint8_t>('0' + f);
        if (f == kFiles) e[0] = 0xE5;  // deleted: its clusters stay free
        e[11] = 0x20;
        e[26] = static_cast<std::uint8_t>(FileCluster(f, 0));
        e[28] = static_cast<std::uint8_t>(fileSize);
        e[29] = static_cast<std::uint8_t>(fileSize >> 8);
    }
    for (std::uint32_t c = 2; c < 2 + kClusters; ++c)
        for (std::uint32_t o = 0; o < clusterBytes; ++o)
            disk[(kDataStart + (c - 2) * spc) * 512 + o] = ClusterByte(c, o);
    // The damage: one entry of the FAT, any cluster, any value.
    setEntry((data[1] | data[2] << 8) % 256, data[3] | data[4] << 8);

    fuzzdisk::InstallDisk(std::move(disk));
    TPhysicalDrive drive(fuzzdisk::Geometry(sectors));
    TPartiEntry node;
    node.RawEntry.SectorCount.set(sectors);
    platform::RecordingEventLog log;
    EventLogView = &log;
    if (!drive.ScanPartition(&node, nullptr)) return 0;
    drive.BuildFatList(nullptr);
    const std::string out = Scratch() + "/out";
    for (const auto& e : node.FatEntries) {
        if (!IsFatFile(e->DirEntry) || e->DirEntry.Name[4] < '0' || e->DirEntry.Name[4] > '0' + kFiles) continue;
        const std::uint32_t f = e->DirEntry.Name[4] - '0';
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        log.rows.clear();
        platform::DeviceTrace::Clear();
        platform::DeviceTrace::Enable(true);
        drive.RecoverFile(e.get(), node.FatType, out, nullptr, nullptr);
        platform::DeviceTrace::Enable(false);
        for (const auto& r : platform::DeviceTrace::Requests())
            if (r.code == 0 && r.offset + r.length > static_cast<std::uint64_t>(sectors) * 512) __builtin_trap();
        const bool failed = std::any_of(log.rows.begin(), log.rows.end(), [](const auto& r) { return r.imageIndex == kLogError; });
        if (failed) continue;
        std::vector<std::uint8_t> want;
        for (std::uint32_t j = 0; j < kClustersEach; ++j)
            for (std::uint32_t o = 0; o < clusterBytes; ++o) want.push_back(ClusterByte(FileCluster(f, j), o));
        want.resize(fileSize);
        std::vector<std::uint8_t> got;
        for (const auto& written : std::filesystem::directory_iterator(out)) {
            std::ifstream in(written.path(), std::ios::binary);
            got.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        if (got != want) __builtin_trap();
    }
    EventLogView = nullptr;
    std::filesystem::remove_all(out);
    return 0;
}
