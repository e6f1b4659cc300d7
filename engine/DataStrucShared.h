// Small helpers the source files of the advanced engine share.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "DataStruc.h"
#include "NewDiskUtils.h"
#include "PageBuffer.h"
#include "Reporting.h"
#include "Text.h"
#include "WinApi.h"

namespace DataStruc::detail {

// Scans, listings and the deep scan read 1000 sectors (512,000 bytes) per
// request.
constexpr std::uint32_t kChunkSectors = 1000;
// A found directory that no FAT places (its volume's boot sector is lost,
// its chain breaks: a deleted folder's clusters are free) is read as one
// request from its first sector on: 500 sectors hold up to 8000 entries.
constexpr std::uint32_t kDirectoryReadSectors = 500;

// Characters up to the blank count as blanks and control characters and are
// trimmed at both ends.
using platform::TrimControls;

// An error box: the text, the error icon and an OK button.
inline void ErrorBox(const char* text) { win::MessageBoxA(nullptr, text, "Error", win::MB_OK | win::MB_ICONERROR); }

// Position of a progress bar: the nearest integer, halves to even as the
// run-time library's Round does.
inline void SetProgress(platform::IProgressBar* bar, double position) {
    if (bar) bar->SetPosition(static_cast<int>(std::nearbyint(position)));
}

// Reads `count` sectors from lba into buffer (room for count sectors) as
// one request. When the request fails, its first `wanted` sectors are read
// again one by one, so that a bad sector costs only itself: a sector that
// still does not read is left as zeros (no signature of the scans matches
// them, and they end a directory's parse) and is added to `unreadable`.
// bytesRead: the bytes placed, zeros included (less than asked at the end
// of the device). False when neither the request nor any of its sectors
// read.
bool ReadSectorsSalvaging(win::HANDLE h, DriveNo drive, std::int64_t lba, std::uint32_t count, std::uint32_t wanted,
                          std::uint8_t* buffer, std::uint32_t& bytesRead, std::uint64_t& unreadable);

// Whether the layout's first FAT begins as a FAT does: the media byte in
// cluster 0's entry and ones in the rest of it (FAT32: 28 bits of them).
bool FatBeginsAt(win::HANDLE h, DriveNo drive, const FatBootLayout& layout);

// The warning line that ends a scan that met sectors it could not read.
void LogUnreadableSectors(std::uint64_t unreadable);

// The raw walk of the partition scan and the deep scan: `sectorCount`
// sectors from `first`, read in chunks of kChunkSectors; a chunk that does
// not read is read again sector by sector, and its sectors that fail are
// skipped and counted in `unreadable`. After each chunk read the progress
// moves to the chunk's share; before each sector of it pending messages
// are processed and onSector(lba, sector) is called. The stop flag is
// polled after every chunk: the result is false when the walk was stopped.
template <typename OnSector>
bool WalkSectorChunks(win::HANDLE h, DriveNo drive, std::int64_t first, std::uint64_t sectorCount,
                      platform::IProgressBar* progressBar, const bool& aborted, std::uint64_t& unreadable,
                      OnSector&& onSector) {
    const std::uint64_t chunks = (sectorCount + kChunkSectors - 1) / kChunkSectors;
    platform::PageBuffer buffer(kChunkSectors * 512);
    std::int64_t lba = first;
    for (std::uint64_t k = 0; k < chunks; ++k) {
        // Only the node's own sectors are read again one by one: the last
        // chunk reaches past its end.
        const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, sectorCount - k * kChunkSectors));
        std::uint32_t bytesRead = 0;
        if (ReadSectorsSalvaging(h, drive, lba, kChunkSectors, wanted, buffer.data(), bytesRead, unreadable)) {
            SetProgress(progressBar, static_cast<double>(k) / static_cast<double>(chunks) * 100.0);
            const std::uint32_t sectors = std::min<std::uint32_t>(bytesRead, buffer.size()) / 512;
            for (std::uint32_t j = 0; j < sectors; ++j) {
                platform::ProcessMessages();
                onSector(lba + j, std::span<const std::uint8_t>(buffer).subspan(j * 512u, 512));
            }
        }
        lba += kChunkSectors;
        if (aborted) return false;
    }
    return true;
}

// How a walk along a cluster chain of a volume's first FAT ended.
enum class ChainEnd {
    EndMark,  // the last cluster walked carries an end mark
    Cap,      // the walk stopped at its cap, neither ended nor broken so far
    Loop,     // the chain leads back to a cluster it named before: the
              // clusters walked are those before the first repeat
    Broken,   // a free, bad or reserved entry, a cluster outside the volume,
              // or a FAT that does not read
};
struct FatChainWalk {
    std::vector<std::uint32_t> Clusters;  // from the first one, as walked
    ChainEnd End = ChainEnd::Broken;
};

// The first FAT that a boot sector places, read through a window of a few
// dozen sectors that later lookups reuse: walking the chains of a whole
// volume's files reads each FAT sector about once.
class FatTable {
public:
    FatTable(win::HANDLE h, DriveNo drive, const DataStruc::FatBootLayout& boot) : h_(h), drive_(drive), boot_(boot) {}
    const DataStruc::FatBootLayout& Boot() const { return boot_; }
    // Cluster c's entry, its reserved top bits cleared; none when c has no
    // entry in the FAT, or its sector lies outside the volume or does not
    // read.
    std::optional<std::uint32_t> Entry(std::uint32_t c);
    // The entry's meaning: a bad cluster, or (above it) an end mark.
    std::uint32_t BadMark() const;
    // Cluster c is one of the volume's and lies wholly inside its extent.
    bool Inside(std::uint32_t c) const;

private:
    win::HANDLE h_;
    DriveNo drive_;
    DataStruc::FatBootLayout boot_;
    std::vector<std::uint8_t> window_;
    std::int64_t loaded_ = -1;  // the FAT sector the window begins with
};

// One FatTable per volume of a listing, made when it is first needed.
class FatTables {
public:
    FatTable& Of(win::HANDLE h, DriveNo drive, const DataStruc::FatBootLayout& boot, std::size_t volume) {
        if (tables_.size() <= volume) tables_.resize(volume + 1);
        if (!tables_[volume]) tables_[volume].emplace(h, drive, boot);
        return *tables_[volume];
    }

private:
    std::vector<std::optional<FatTable>> tables_;
};

// The chain from First through the first FAT that the boot sector places,
// at most maxClusters long (and never longer than the volume's cluster
// count). Every cluster walked lies wholly inside the volume's extent
// (boot.End, which stops at the node's end), and every FAT sector read lies
// inside the FAT. A present file or directory is read along it; a deleted
// one's clusters are free, and its chain breaks at its first. A long walk
// processes pending window messages as it goes.
FatChainWalk WalkFatChain(FatTable& fat, std::uint32_t first, std::size_t maxClusters);
FatChainWalk WalkFatChain(win::HANDLE h, DriveNo drive, const DataStruc::FatBootLayout& boot, std::uint32_t first,
                          std::size_t maxClusters);
// The sectors of a chain's clusters in the volume, as runs of sectors that
// follow each other on the disk (first sector, count), holding the first
// `sectors` of them: each run can be one request.
std::vector<std::pair<std::int64_t, std::uint64_t>> ChainExtents(const DataStruc::FatBootLayout& boot,
                                                                 std::span<const std::uint32_t> clusters,
                                                                 std::uint64_t sectors);

}  // namespace DataStruc::detail

// The found directories of a node that are read with one cluster layout:
// the node's own (Volume -1), or a volume of FatVolumes that a boot sector
// inside the node made. A volume whose boot sector is sane reads the
// directories that lie where it puts them with its layout; the others in
// its extent (folders of an earlier format, or all of them when the boot
// sector is damaged) are measured from two of themselves, else they have
// no layout.
struct TPhysicalDrive::FatGroup {
    std::int32_t Volume = -1;
    std::int64_t First = 0;  // the extent its reads stay in
    std::int64_t End = 0;
    TFsType Variant = vt::fsFat16;  // of the directory parse
    std::optional<DataStruc::FatBootLayout> Boot;
    // Without a boot sector: its root is guessed before its cluster 2.
    bool GuessRoot = false;
    // Without a boot sector: the layout (sectors per cluster, sector of
    // cluster 2) its directories agree on; none when no two do.
    std::optional<std::pair<std::int32_t, std::int64_t>> Estimate;
    std::size_t Dirs = 0;
    std::size_t Fat32Votes = 0;
};
