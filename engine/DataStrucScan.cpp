// The partition scan of any node of a drive's tree and the FAT listing
// rebuilt from the directory clusters it found.
#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

#include "DataStruc.h"
#include "DataStrucShared.h"

namespace {

using namespace DataStruc::detail;

constexpr std::int64_t kUnknownDataStart = 0x7FFFFFFF;
// A logical drive of at most 2.88 MB is a diskette: its root lies at
// sector 19 and cluster 2 at sector 33 (the 1.44 MB layout).
constexpr std::uint32_t kDisketteSectors = 5760;

// A hard disk's FAT12/16 root directory usually holds 512 entries: 32
// sectors right before cluster 2.
constexpr std::uint32_t kUsualRootSectors = 32;

bool NameFieldIs(std::span<const std::uint8_t> s, std::size_t off, const char* name) {
    return s.size() >= off + 8 && std::memcmp(s.data() + off, name, 8) == 0;
}

// A fixed text field up to its first NUL, blanks and control characters
// trimmed at both ends.
std::string TrimmedField(const std::uint8_t* p, std::size_t n) {
    std::size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    std::size_t a = 0, b = len;
    while (a < b && p[a] <= ' ') ++a;
    while (b > a && p[b - 1] <= ' ') --b;
    return std::string(reinterpret_cast<const char*>(p) + a, b - a);
}

}  // namespace

const std::array<TFatSpcRow, 9> FatSpcTable16 = {{
    {8192, 512}, {4096, 256}, {2048, 128}, {1024, 64}, {512, 32}, {256, 16}, {128, 8}, {16, 4}, {0, 8},
}};
const std::array<TFatSpcRow, 10> FatSpcTable32 = {{
    {16384, 32}, {8192, 16}, {4096, 8}, {2048, 8}, {1025, 8}, {512, 8}, {256, 8}, {128, 4}, {64, 2}, {32, 1},
}};

std::uint16_t LookupSectorsPerCluster(bool fat32, std::uint32_t sizeMiB) {
    auto lookup = [sizeMiB](const auto& table) -> std::uint16_t {
        for (const TFatSpcRow& row : table)
            if (row.ThresholdMiB <= sizeMiB) return row.SectorsPerCluster;
        // Below the last threshold the smallest cluster of the table: FAT32
        // volumes under 32 MiB are formatted with one-sector clusters.
        return table.back().SectorsPerCluster;
    };
    return fat32 ? lookup(FatSpcTable32) : lookup(FatSpcTable16);
}

bool IsDirectoryStart(std::span<const std::uint8_t> sector) {
    return NameFieldIs(sector, 0, ".       ") && NameFieldIs(sector, 32, "..      ");
}

bool IsFileRecordStart(std::span<const std::uint8_t> sector) {
    vt::ByteReader r(sector);
    if (!r.Has(0, 4) || std::memcmp(sector.data(), "FILE", 4) != 0) return false;
    return r.U8Or(r.U8Or(0x14), 0) == 0x10;
}

bool IsFat32DotEntry(std::span<const std::uint8_t> entry) { return vt::ByteReader(entry).U16Or(20) != 0; }

int CompareByDirSector(const TPhysMidEntry* a, const TPhysMidEntry* b) {
    if (a->DirSector < b->DirSector) return -1;
    return a->DirSector > b->DirSector ? 1 : 0;
}

bool TPhysicalDrive::ScanPartition(PPartiEntry entry, platform::IProgressBar* progressBar) {
    if (Busy || !entry) return false;
    entry->Scanned = true;
    if (entry->DriveNo < 0) {
        const char letter = static_cast<char>(-entry->DriveNo);
        if (!DataStruc::IsDriveValid(letter)) {
            ErrorBox("驱动器未就绪。");
            return false;
        }
        const char root[] = {letter, ':', '\0'};
        win::ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
        if (!win::GetDiskFreeSpaceExA(root, &freeToCaller, &total, &totalFree)) return false;
        entry->SetSectorTotal(static_cast<std::int64_t>(total.QuadPart / 512));
    }
    win::HANDLE h = OpenDiskHandle(entry->DriveNo);
    if (h == win::INVALID_HANDLE_VALUE) return false;

    Busy = true;
    CurPartition = entry;
    entry->DirSectors.clear();
    if (sortedDirsNode_ == entry) sortedDirsNode_ = nullptr;
    entry->FatBootSectors.clear();
    MftSectors.clear();
    std::uint32_t fat32Votes = 0;
    // The last chunk may reach past the node into the next partition; what
    // lies there belongs to that partition, not to this node's listings.
    const std::int64_t nodeEnd = entry->FirstSector() + entry->SectorTotal();
    try {
        DataStruc::AddLogEvent(EventLogView, "驱动器扫描已启动", kLogInfo);
        DataStruc::AddLogEvent(EventLogView, "正在扫描 ...", kLogInfo);
        std::uint64_t unreadable = 0;
        const bool stopped = !WalkSectorChunks(
            h, entry->DriveNo, entry->FirstSector(), static_cast<std::uint64_t>(entry->SectorTotal()), progressBar, Aborted,
            unreadable,
            [&](std::int64_t lba, std::span<const std::uint8_t> sector) {
                if (lba >= nodeEnd) return;
                if (IsDirectoryStart(sector)) {
                    entry->DirSectors.push_back(lba);
                    if (IsFat32DotEntry(sector.first(32))) ++fat32Votes;
                } else if (IsFileRecordStart(sector)) {
                    MftSectors.push_back(lba);
                } else if (DataStruc::BootSectorInfo boot; DataStruc::ExamineBootSector(sector, boot) &&
                                                           boot.FsType != vt::fsNtfs) {
                    // The FAT volumes inside the node begin here; the FAT
                    // listing reads each with its own layout.
                    entry->FatBootSectors.push_back(lba);
                }
            });
        DataStruc::AddLogEvent(EventLogView, stopped ? "驱动器扫描被用户中止" : "驱动器扫描完成",
                               stopped ? kLogWarning : kLogInfo);
        LogUnreadableSectors(unreadable);
    } catch (const std::exception& e) {
        DataStruc::AddLogEvent(EventLogView, e.what(), kLogError);
    }
    // Directory clusters of FAT12/16 volumes never carry a high cluster
    // word; FAT32 ones do once the volume has more than 65535 clusters.
    entry->FatType = (entry->DirSectors.size() / 2 > fat32Votes) ? vt::fsFat16 : vt::fsFat32;
    Busy = false;
    SetProgress(progressBar, 0);
    Aborted = false;
    win::CloseHandle(h);
    return true;
}

void TPhysicalDrive::ClearFatListing(TPartiEntry& node) {
    // The search results point into the records; they go with them.
    node.FatFound.clear();
    node.FatEntries.clear();
    node.FatVolumes.clear();
    node.FatBoot.reset();
    if (crossNode_ == &node) crossNode_ = nullptr;
    if (sortedDirsNode_ == &node) sortedDirsNode_ = nullptr;
}

void TPhysicalDrive::BuildFatList(platform::IProgressBar* progressBar) {
    PPartiEntry node = CurPartition;
    if (!node) return;
    Busy = true;
    ClearFatListing(*node);
    const std::size_t n = node->DirSectors.size();
    // Every FAT volume inside the node reads its directories with its own
    // layout; group 0 is the node's own.
    std::vector<FatGroup> groups(1);
    groups[0].First = node->FirstSector();
    groups[0].End = NodeEnd(*node);
    groups[0].Variant = node->FatType;
    groups[0].GuessRoot = true;
    groups[0].Dirs = n;
    std::vector<std::int32_t> dirGroup(n, 0);
    win::HANDLE h = OpenDiskHandle(Geometry.DriveNo);
    if (h != win::INVALID_HANDLE_VALUE) groups = SplitFatVolumes(h, dirGroup);
    // A small logical drive without a boot sector to go by is a diskette.
    const bool diskette =
        !groups[0].Boot && node->DriveNo < 0 && node->SectorTotal() <= kDisketteSectors;
    // The FAT of each volume, read once for all of its directories.
    FatTables tables;
    for (std::size_t i = 0; i < n; ++i) {
        SetProgress(progressBar, static_cast<double>(i) / n * 100.0);
        platform::ProcessMessages();
        if (Aborted) break;
        const FatGroup& g = groups[static_cast<std::size_t>(dirGroup[i])];
        const std::int64_t d = node->DirSectors[i];
        // A directory is read inside its volume, or, in no volume, inside
        // the node: what lies past the node's end belongs to the next one.
        const auto sectors =
            static_cast<std::uint32_t>(std::clamp<std::int64_t>(g.End - d, 0, kDirectoryReadSectors));
        // One that lies where its volume's boot sector puts its cluster is
        // read along its chain in that volume's FAT: a folder that grew
        // after other files were written is in pieces.
        const std::int64_t at = g.Boot ? d - g.Boot->DataStart : -1;
        if (at >= 0 && at % g.Boot->SectorsPerCluster == 0 && at / g.Boot->SectorsPerCluster < g.Boot->Clusters)
            ParseDirectoryChain(h, false, static_cast<std::uint32_t>(at / g.Boot->SectorsPerCluster + 2),
                                tables.Of(h, Geometry.DriveNo, *g.Boot, static_cast<std::size_t>(dirGroup[i])), sectors,
                                g.Variant, g.Volume);
        else
            ParseDirectorySectors(false, d, sectors, g.Variant, g.Volume);
    }
    // A volume without a boot sector to trust takes the layout its
    // directories agree on; without one its files are named as failed, not
    // read from a guess. The node's own volume falls back on its entries'
    // estimate and the size tables.
    for (const FatGroup& g : groups) {
        if (g.Volume < 0 || g.Boot) continue;
        TFatVolume& v = node->FatVolumes[static_cast<std::size_t>(g.Volume)];
        v.SectorsPerCluster = g.Estimate ? g.Estimate->first : 0;
        v.DataStart = g.Estimate ? g.Estimate->second : -1;
    }
    if (groups[0].Boot) {
        node->FatBoot = groups[0].Boot;
        node->SectorsPerCluster = groups[0].Boot->SectorsPerCluster;
        node->DataStart = groups[0].Boot->DataStart;
    } else if (groups[0].Estimate) {
        node->SectorsPerCluster = groups[0].Estimate->first;
        node->DataStart = groups[0].Estimate->second;
    } else {
        EstimateFatLayout(nullptr, nullptr);
    }
    if (diskette) {
        node->FatType = vt::fsFat12;
        node->DirSectors.insert(node->DirSectors.begin(), 19);
        node->DataStart = 33;
        ParseDirectorySectors(true, 19,
                              static_cast<std::uint32_t>(std::clamp<std::int64_t>(
                                  groups[0].End - 19, 0, kDirectoryReadSectors)),
                              vt::fsFat12, -1);
    } else if (h != win::INVALID_HANDLE_VALUE) {
        ListFatRoots(h, groups, tables);
    }
    if (h != win::INVALID_HANDLE_VALUE) win::CloseHandle(h);
    std::stable_sort(node->FatEntries.begin(), node->FatEntries.end(),
                     [](const auto& a, const auto& b) { return CompareByDirSector(a.get(), b.get()) < 0; });
    // The roots added to DirSectors are found directories too.
    sortedDirsNode_ = nullptr;
    Busy = false;
    Aborted = false;
    SetProgress(progressBar, 0);
}

void TPhysicalDrive::GuessFatRoot(const FatGroup& group) {
    PPartiEntry node = CurPartition;
    const bool own = group.Volume < 0;
    const TFatVolume* volume = own ? nullptr : &node->FatVolumes[static_cast<std::size_t>(group.Volume)];
    const std::int64_t dataStart =
        own ? (node->DataStart != kUnknownDataStart ? node->DataStart : -1) : volume->DataStart;
    const std::int64_t first = std::max(group.First, node->FirstSector());
    const std::int64_t end = std::min(group.End, NodeEnd(*node));
    const std::int64_t nodeEnd = own ? node->FirstSector() + node->SectorTotal() : end;
    // A root is read only from the node's own sectors, and never twice.
    // Listed: it was added; the result says whether it held entries.
    bool listed = false;
    auto listRoot = [&](std::int64_t at, std::uint32_t sectors) {
        listed = false;
        if (at < first || at >= nodeEnd ||
            std::find(node->DirSectors.begin(), node->DirSectors.end(), at) != node->DirSectors.end())
            return false;
        listed = true;
        sectors = static_cast<std::uint32_t>(std::min<std::int64_t>(sectors, nodeEnd - at));
        node->DirSectors.insert(node->DirSectors.begin(), at);
        const std::size_t before = node->FatEntries.size();
        ParseDirectorySectors(true, at, sectors, group.Variant, group.Volume);
        return node->FatEntries.size() > before;
    };
    // Without a boot sector to trust: a FAT16 vote first tries the usual
    // root region right before cluster 2. The root of a FAT32 volume is an
    // ordinary cluster chain, often cluster 2, whose first sector has no
    // "." entry to be found by; small FAT32 volumes vote FAT16 too, so an
    // empty region before cluster 2 falls back to it. Cluster 2 that is a
    // found folder holds no root (a FAT12/16 one's first folder often is).
    if (dataStart < 0 || group.Dirs == 0) return;
    const bool folderAtTwo =
        std::find(node->DirSectors.begin(), node->DirSectors.end(), dataStart) != node->DirSectors.end();
    const std::int64_t region = dataStart - kUsualRootSectors;
    if (group.Variant != vt::fsFat32 && region >= first && dataStart <= nodeEnd) {
        if (listRoot(region, kUsualRootSectors)) return;
        if (listed) node->DirSectors.erase(node->DirSectors.begin());
    }
    if (!folderAtTwo) listRoot(dataStart, kDirectoryReadSectors);
}

bool TPhysicalDrive::ParseFatDirectory(bool isRoot, std::int64_t lba) {
    if (!CurPartition) return false;
    return ParseDirectorySectors(isRoot, lba, kDirectoryReadSectors, CurPartition->FatType, -1);
}

bool TPhysicalDrive::ParseDirectorySectors(bool isRoot, std::int64_t lba, std::uint32_t sectors, TFsType variant,
                                           std::int32_t volume) {
    PPartiEntry node = CurPartition;
    if (!node) return false;
    win::HANDLE h = OpenDiskHandle(Geometry.DriveNo);
    if (h == win::INVALID_HANDLE_VALUE) return false;
    // One buffer for every directory: only the bytes a read placed are looked at.
    static thread_local platform::PageBuffer buffer;
    buffer.resize(static_cast<std::size_t>(sectors) * 512);
    bool result = true;
    try {
        // A bad sector in the read-ahead after a small directory (a file's
        // data) costs only itself; one inside the directory ends its parse.
        std::uint64_t unreadable = 0;
        std::uint32_t bytesRead = 0;
        if (sectors == 0 ||
            !ReadSectorsSalvaging(h, Geometry.DriveNo, lba, sectors, sectors, buffer.data(), bytesRead, unreadable)) {
            win::CloseHandle(h);
            return false;
        }
        const std::size_t count = std::min<std::size_t>(bytesRead, buffer.size()) / 32;
        ParseDirectoryBuffer(isRoot, lba, std::span<const std::uint8_t>(buffer).first(count * 32), variant, volume);
    } catch (const std::exception& ex) {
        ErrorBox(ex.what());
        result = false;
    }
    win::CloseHandle(h);
    return result;
}

void TPhysicalDrive::ParseDirectoryBuffer(bool isRoot, std::int64_t lba, std::span<const std::uint8_t> bytes,
                                          TFsType variant, std::int32_t volume, bool whole) {
    PPartiEntry node = CurPartition;
    whole = whole || isRoot;
    const bool fat16 = variant == vt::fsFat12 || variant == vt::fsFat16;
    const bool fat32 = variant == vt::fsFat32;
    if (!fat16 && !fat32) return;
    const std::size_t count = bytes.size() / 32;
    vt::ByteReader r(bytes.first(count * 32));
    std::uint32_t cluster = 2;
    if (!isRoot) {
        cluster = r.U16Or(26);
        if (fat32) cluster += static_cast<std::uint32_t>(r.U16Or(20)) << 16;
    }
    vt::fat::TLongNameRun longNames;
    for (std::size_t i = isRoot ? 0 : 2; i < count; ++i) {
        const auto raw = bytes.subspan(i * 32).first<32>();
        // Long-name pieces first, by their attribute: the name field of a
        // piece whose first character is "." reads "." once its sequence
        // byte (a control character) is trimmed, and it is no "." entry.
        if (longNames.Add(raw)) continue;
        // A long name only with its checksum and its pieces in sequence;
        // otherwise the short name is the name.
        std::string pending = longNames.Take(raw);
        const std::string name = TrimmedField(raw.data(), 8);
        // The next directory's "." entry: this one has ended.
        if (name == "." || name == "..") break;
        // In a read-ahead a slot without a name is where the directory
        // ended; in a whole one a slot of blanks is passed over, unless
        // its long name names it, and the entries after it are listed.
        if (raw[0] != 0xE5 && name.empty()) {
            if (!whole || raw[0] == 0x00) break;
            if (TrimControls(pending).empty()) continue;
        }
        const auto e = r.Struct<TFatDirEntry>(i * 32).value();
        double v = 0;
        // Dates that do not convert, or attribute bits above the archive
        // bit, mean the data that follows is no directory.
        if (!DataStruc::FatDateTimeToDateTime(e.WrtDate.get(), e.WrtTime.get(), v) ||
            !DataStruc::FatDateTimeToDateTime(e.CrtDate.get(), e.CrtTime.get(), v) ||
            !DataStruc::FatDateTimeToDateTime(e.LstAccDate.get(), 0, v) || e.Attr >= 0x38)
            break;
        if (e.FileSize.get() == 0xFFFFFFFFu || (e.Attr & 0x08) != 0) continue;
        try {
            auto rec = std::make_unique<TPhysMidEntry>();
            rec->DirEntry = e;
            const std::string longName = TrimControls(pending);
            if (!longName.empty())
                rec->LongName = longName;
            else
                vt::fat::ApplyCaseRule(rec->DirEntry, variant);
            rec->DirCluster = cluster;
            rec->DirSector = lba;
            rec->Volume = volume;
            node->FatEntries.push_back(std::move(rec));
        } catch (const std::exception& ex) {
            if (fat16) ErrorBox(ex.what());
        }
    }
}

void TPhysicalDrive::EstimateFatLayout(const TPhysMidEntry* a, const TPhysMidEntry* b) {
    PPartiEntry node = CurPartition;
    if (!node) return;
    if (a && b && a->DirCluster != b->DirCluster) {
        const TPhysMidEntry* hi = a->DirCluster > b->DirCluster ? a : b;
        const TPhysMidEntry* lo = hi == a ? b : a;
        // Sectors in 64 bits: a disk past 2 TiB puts folders past 2^32; and
        // a "." entry may name any cluster.
        const std::int64_t sectors = hi->DirSector - lo->DirSector;
        const std::int64_t clusters = static_cast<std::int64_t>(hi->DirCluster) - lo->DirCluster;
        const std::int64_t quotient = sectors / clusters;
        node->SectorsPerCluster = quotient > 0 && quotient <= 0x7FFFFFFF ? static_cast<std::int32_t>(quotient) : 0;
        // A cluster is a power of two of sectors: any other quotient comes
        // from two directories of different volumes (or a "." entry that
        // lies), and places nothing.
        const std::int32_t spc = node->SectorsPerCluster;
        if (spc <= 0 || (spc & (spc - 1)) != 0) {
            node->SectorsPerCluster = 0;
            node->DataStart = kUnknownDataStart;
            return;
        }
        node->DataStart = a->DirSector - (static_cast<std::int64_t>(a->DirCluster) - 2) * node->SectorsPerCluster;
        return;
    }
    // Entries of the other volumes inside the node have layouts of their own.
    const TPhysMidEntry* f = nullptr;
    for (const auto& e : node->FatEntries)
        if (e->Volume < 0) {
            f = e.get();
            break;
        }
    if (f) {
        for (const auto& g : node->FatEntries) {
            if (g->Volume >= 0 || g->DirCluster == f->DirCluster) continue;
            // Cluster order and sector order agree: the differences have
            // one sign (their product could pass 63 bits).
            const std::int64_t dc = static_cast<std::int64_t>(f->DirCluster) - g->DirCluster;
            const std::int64_t ds = static_cast<std::int64_t>(f->DirSector) - g->DirSector;
            if ((dc > 0 && ds > 0) || (dc < 0 && ds < 0)) {
                EstimateFatLayout(f, g.get());
                if (node->SectorsPerCluster > 0) return;
            }
        }
    }
    node->SectorsPerCluster =
        LookupSectorsPerCluster(node->FatType == vt::fsFat32,
                                static_cast<std::uint32_t>(std::min<std::int64_t>(node->SectorTotal() >> 11, 0xFFFFFFFF)));
    if (node->DriveNo < 0) node->SectorsPerCluster = 1;
    // The size tables give the cluster a format chose for a partition of
    // the node's size. A whole drive, a gap or an extended partition is no
    // volume formatted at its size (and on a 4Kn drive a cluster guessed in
    // 512-byte sectors would misplace every file): there one found
    // directory places no cluster 2, and its files are logged as failed
    // rather than written from a guess.
    const bool partition = node->DriveNo < 0 || (node->RawEntry.SysType != kSysGap && !node->IsExtended());
    node->DataStart = f && partition
                          ? f->DirSector - (static_cast<std::int64_t>(f->DirCluster) - 2) * node->SectorsPerCluster
                          : kUnknownDataStart;
}
