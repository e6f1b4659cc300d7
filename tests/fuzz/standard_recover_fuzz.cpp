// The standard recovery of a FAT12 volume built here from known files,
// whose FAT the input damages in one entry: a chain that runs on, breaks,
// loops, leaves the volume, or crosses into another file's or into the
// folder's directory. Six present files lie in every sixth cluster, the
// folder SUB (one cluster) holds INNER.BIN, a deleted file lies in
// clusters of its own. Every file that the recovery does not name as
// failed has its known bytes, and none is larger than the volume. One
// entry is all a test can damage and still know the truth: two can swap
// two files' tails, a change no FAT can show.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FatFuzzVolume.h"

namespace {

constexpr std::uint32_t kFiles = 6;  // present, in clusters 2 + i + 6j
constexpr std::uint32_t kClustersEach = 3;
constexpr std::uint32_t kFolder = 2 + kFiles * kClustersEach;  // SUB's directory
constexpr std::uint32_t kInner = kFolder + 1;                  // INNER.BIN, two clusters
constexpr std::uint32_t kDeleted = kInner + 2;                 // its clusters follow on
constexpr std::uint32_t kClusters = 40;                        // clusters 2..41 hold data
constexpr std::uint32_t kDataStart = 4;                        // boot, FAT, two root sectors
constexpr int kErrorPicture = 2;                               // of the standard window's log

// Each cluster's bytes differ from every other cluster's.
std::uint8_t ClusterByte(std::uint32_t cluster, std::uint32_t offset) {
    return static_cast<std::uint8_t>(((cluster + 1) * 2654435761u + offset * 40503u) >> 13);
}

std::uint32_t FileCluster(std::uint32_t file, std::uint32_t j) {
    return file < kFiles ? 2 + file + kFiles * j : kDeleted + j;
}

void PutEntry(std::uint8_t* e, const char* name11, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
    std::memcpy(e, name11, 11);
    e[11] = attr;
    e[26] = static_cast<std::uint8_t>(cluster);
    e[27] = static_cast<std::uint8_t>(cluster >> 8);
    for (int k = 0; k < 4; ++k) e[28 + k] = static_cast<std::uint8_t>(size >> (8 * k));
}

std::vector<std::uint8_t> Known(std::uint32_t first, std::uint32_t step, std::uint32_t count, std::uint32_t clusterBytes,
                                std::uint32_t size) {
    std::vector<std::uint8_t> want;
    for (std::uint32_t j = 0; j < count; ++j)
        for (std::uint32_t o = 0; o < clusterBytes; ++o) want.push_back(ClusterByte(first + j * step, o));
    want.resize(size);
    return want;
}

const std::string& Scratch() {
    static const std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "vt-standard-recover-XXXXXX").string();
        return std::string(mkdtemp(t.data()));
    }();
    return dir;
}

std::vector<std::uint8_t> Contents(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    fuzzvol::QuietBoxes();
    const auto spc = static_cast<std::uint8_t>(1u << (data[0] % 3));
    const std::uint32_t clusterBytes = spc * 512u;
    const std::uint32_t sectors = kDataStart + kClusters * spc;
    std::vector<std::uint8_t> disk = fuzzvol::Volume(vt::fsFat12, sectors, 1, spc);
    fuzzvol::Put16(disk, 510, 0xAA55);
    disk[0x15] = 0xF8;
    std::uint8_t* fat = &disk[512];
    auto setEntry = [&](std::uint32_t c, std::uint32_t v) {
        std::uint8_t* p = fat + c + c / 2;
        const std::uint32_t w = p[0] | p[1] << 8;
        const std::uint32_t n = (c & 1) ? ((w & 0x000F) | (v & 0xFFF) << 4) : ((w & 0xF000) | (v & 0xFFF));
        p[0] = static_cast<std::uint8_t>(n);
        p[1] = static_cast<std::uint8_t>(n >> 8);
    };
    setEntry(0, 0xFF8);
    setEntry(1, 0xFFF);
    const std::uint32_t fileSize = kClustersEach * clusterBytes - 100;
    std::uint8_t* root = &disk[2 * 512];
    for (std::uint32_t f = 0; f <= kFiles; ++f) {
        if (f < kFiles)
            for (std::uint32_t j = 0; j < kClustersEach; ++j)
                setEntry(FileCluster(f, j), j + 1 < kClustersEach ? FileCluster(f, j + 1) : 0xFFF);
        char name[12] = "FILE0   BIN";
        name[4] = static_cast<char>('0' + f);
        PutEntry(root + f * 32, name, 0x20, FileCluster(f, 0), fileSize);
        if (f == kFiles) root[f * 32] = vt::fat::kDeletedMark;  // its clusters stay free
    }
    const std::uint32_t innerSize = 2 * clusterBytes - 7;
    PutEntry(root + (kFiles + 1) * 32, "SUB        ", 0x10, kFolder, 0);
    setEntry(kFolder, 0xFFF);
    setEntry(kInner, kInner + 1);
    setEntry(kInner + 1, 0xFFF);
    for (std::uint32_t c = 2; c < 2 + kClusters; ++c)
        for (std::uint32_t o = 0; o < clusterBytes; ++o)
            disk[(kDataStart + (c - 2) * spc) * 512 + o] = ClusterByte(c, o);
    std::uint8_t* sub = &disk[(kDataStart + (kFolder - 2) * spc) * 512];
    std::memset(sub, 0, clusterBytes);
    PutEntry(sub, ".          ", 0x10, kFolder, 0);
    PutEntry(sub + 32, "..         ", 0x10, 0, 0);
    PutEntry(sub + 64, "INNER   BIN", 0x20, kInner, innerSize);
    // The damage: one entry of the FAT, any cluster, any value.
    setEntry((data[1] | data[2] << 8) % 342, data[3] | data[4] << 8);

    const std::uint64_t volumeBytes = static_cast<std::uint64_t>(sectors) * 512;
    fuzzvol::Install(std::move(disk));
    TUndelete u;
    if (u.Drives.empty() || !u.OpenDrive(u.Drives.front().get(), false, nullptr, nullptr)) return 0;
    const std::filesystem::path out = Scratch() + "/out";
    platform::RecordingEventLog log;
    auto failed = [&] {
        return std::any_of(log.rows.begin(), log.rows.end(), [](const auto& r) { return r.imageIndex == kErrorPicture; });
    };
    for (const auto& e : u.Current->Entries) {
        const std::string stored(e->DirEntry.Name.begin(), e->DirEntry.Name.end());
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        log.rows.clear();
        std::vector<std::uint8_t> want;
        std::filesystem::path written;
        if (stored.starts_with("SUB")) {
            u.RecoverFolder(e.get(), "SUB", out.string(), nullptr, &log);
            want = Known(kInner, 1, 2, clusterBytes, innerSize);
            written = out / "SUB" / "INNER.BIN";
            // The name as the window shows it (the case rule decides).
            if (std::filesystem::is_directory(out / "SUB"))
                for (const auto& f : std::filesystem::directory_iterator(out / "SUB")) written = f.path();
        } else if (IsFatFile(e->DirEntry) && e->Parent == nullptr && e->DirEntry.Name[4] >= '0' &&
                   e->DirEntry.Name[4] <= '0' + kFiles) {
            const std::uint32_t f = e->DirEntry.Name[4] - '0';
            u.RecoverFileReported(e.get(), "FILE.BIN", out.string(), nullptr, &log);
            want = Known(FileCluster(f, 0), f < kFiles ? kFiles : 1, kClustersEach, clusterBytes, fileSize);
            written = out / "FILE.BIN";
        } else {
            continue;
        }
        for (const auto& f : std::filesystem::recursive_directory_iterator(out))
            if (f.is_regular_file() && f.file_size() > volumeBytes) __builtin_trap();
        if (failed()) continue;
        if (Contents(written) != want) __builtin_trap();
    }
    std::filesystem::remove_all(out);
    return 0;
}
