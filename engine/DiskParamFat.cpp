// The standard engine's FAT scan: the directory tree from the root, each
// folder through its cluster chain, present and deleted entries with their
// long names; and the rescan of a FAT32 folder whose high cluster word was
// lost.
#include <algorithm>
#include <exception>
#include <optional>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "PageBuffer.h"
#include "WinApi.h"

namespace {

using vt::fat::kMaxChain;

// One FAT variant: where a cluster's entry lies (byte offset c * num / den),
// how many bytes of the window it needs, how it is read, and its marks.
struct FatVariant {
    std::uint32_t num, den;
    std::uint32_t entryBytes;
    std::uint32_t (*read)(const std::uint8_t* p, std::uint32_t cluster);
    std::uint32_t bad;  // the bad-cluster mark; every value above it ends a chain

    bool IsEnd(std::uint32_t value) const { return value > bad; }
    bool IsBad(std::uint32_t value) const { return value == bad; }
};

const FatVariant kFatVariants[] = {
    // FAT12: 1.5 bytes; an odd cluster holds the high 12 bits of its word.
    {3, 2, 2,
     [](const std::uint8_t* p, std::uint32_t c) -> std::uint32_t {
         const std::uint16_t w = vt::LoadLe16(p);
         return (c & 1) ? w >> 4 : w & 0x0FFF;
     },
     0xFF7},
    // FAT16
    {2, 1, 2, [](const std::uint8_t* p, std::uint32_t) -> std::uint32_t { return vt::LoadLe16(p); }, 0xFFF7},
    // FAT32: 28 bits; the top 4 are reserved, and systems leave them set.
    {4, 1, 4, [](const std::uint8_t* p, std::uint32_t) -> std::uint32_t { return vt::LoadLe32(p) & 0x0FFFFFFF; },
     0x0FFFFFF7},
};

// The BPB fields the scan uses, from the drive's copy of its boot sector.
struct FatGeometry {
    TFsType type = vt::fsUnknown;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reserved = 0;
    std::uint32_t fats = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t fatSize = 0;     // sectors of one FAT
    std::uint32_t rootCluster = 0;  // FAT32
    std::uint32_t rootStart = 0;    // FAT12/16: first sector of the root directory
    std::uint32_t rootSectors = 0;  // FAT12/16
    std::uint64_t dataStart = 0;    // sector of cluster 2
    std::uint64_t fatEntries = 0;   // entries one FAT holds
    std::uint64_t clusterLimit = 0;  // the clusters a chain can name are 2 .. clusterLimit - 1

    const FatVariant& Variant() const { return kFatVariants[type <= vt::fsFat32 ? type : vt::fsFat32]; }

    explicit FatGeometry(const TLogiDrive& drive) {
        const vt::ByteReader b(drive.BootSector);
        type = drive.FsType;
        bytesPerSector = b.U16Or(0x0B);
        sectorsPerCluster = b.U8Or(0x0D);
        reserved = b.U16Or(0x0E);
        fats = b.U8Or(0x10);
        rootEntries = b.U16Or(0x11);
        if (type == vt::fsFat32) {
            fatSize = b.U32Or(0x24);
            rootCluster = b.U32Or(0x2C);
            // At most 65535 + 255 x (2^32 - 1): fits 64 bits.
            dataStart = reserved + static_cast<std::uint64_t>(fats) * fatSize;
        } else {
            fatSize = b.U16Or(0x16);
            // At most 65535 + 255 x 65535: fits 32 bits.
            rootStart = reserved + fats * fatSize;
            // The root takes whole sectors: a count of entries that does not
            // fill its last sector (other systems write 500 or 210) still
            // takes that sector.
            const std::uint32_t perSector = bytesPerSector / 32 ? bytesPerSector / 32 : 16;
            rootSectors = (rootEntries + perSector - 1) / perSector;
            dataStart = static_cast<std::uint64_t>(rootStart) + rootSectors;
        }
        const FatVariant& v = Variant();
        fatEntries = static_cast<std::uint64_t>(fatSize) * bytesPerSector * v.den / v.num;
        // Data clusters are 2 .. count + 1; a link past them leaves the
        // volume. Where the total does not tell (a damaged boot sector) the
        // FAT's own size bounds them.
        const std::uint64_t total = b.U16Or(0x13) ? b.U16Or(0x13) : b.U32Or(0x20);
        clusterLimit = fatEntries;
        if (sectorsPerCluster && total > dataStart)
            clusterLimit = std::min<std::uint64_t>(fatEntries, (total - dataStart) / sectorsPerCluster + 2);
    }

    // First sector of cluster c, when it is a 32-bit sector number. Cluster
    // numbers below 2 count back from the data area as the plain formula
    // does; a result before sector 0 or past 2^32 - 1 is no sector.
    std::optional<std::uint32_t> ClusterSector(std::uint32_t c) const {
        const std::int64_t s = static_cast<std::int64_t>(dataStart) +
                               (static_cast<std::int64_t>(c) - 2) * static_cast<std::int64_t>(sectorsPerCluster);
        if (s < 0 || s > static_cast<std::int64_t>(UINT32_MAX)) return std::nullopt;
        return static_cast<std::uint32_t>(s);
    }

    std::uint32_t FolderCluster(const TMidEntry* folder) const {
        if (!folder) return type == vt::fsFat32 ? rootCluster : 0;
        return EntryCluster(folder->DirEntry);
    }
    std::uint32_t EntryCluster(const TFatDirEntry& e) const {
        if (type == vt::fsFat32) return (static_cast<std::uint32_t>(e.FstClusHI.get()) << 16) | e.FstClusLO.get();
        return e.FstClusLO.get();
    }
    // The sector where a folder's first read starts.
    std::optional<std::uint32_t> FolderSector(const TMidEntry* folder) const {
        if (!folder && type != vt::fsFat32) return rootStart;
        return ClusterSector(FolderCluster(folder));
    }
};

std::string ShortBase(const TFatDirEntry& e) {
    std::string s;
    for (std::uint8_t c : e.Name) {
        if (c == 0) break;
        s += static_cast<char>(c);
    }
    std::size_t a = 0, b = s.size();
    // A first byte 0x05 stands for 0xE5: a character, not a blank.
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ' && !(a == 0 && s[a] == 0x05)) ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// A folder's own entries "." and "..": the whole 11-byte name, so that a
// file ".TXT" or a folder ".DIR" is an entry like any other.
bool IsDotEntry(const TFatDirEntry& e) {
    static constexpr char kDot[] = ".          ", kDotDot[] = "..         ";
    const auto is = [&](const char* name) {
        return std::equal(e.Name.begin(), e.Name.end(), name) && std::equal(e.Ext.begin(), e.Ext.end(), name + 8);
    };
    return is(kDot) || is(kDotDot);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

void ErrorBox(const char* text) { win::MessageBoxA(nullptr, text, "Error", win::MB_OK | win::MB_ICONERROR); }

// A folder reached more often than this in one scan is not entered again:
// folder entries of a damaged volume may share clusters so that each level
// doubles the work. Real volumes reach a folder through a present entry
// and perhaps a few deleted ones that once had its clusters.
constexpr std::uint32_t kMaxFolderVisits = 32;
// Folders nested deeper than this are not entered: a path of so many
// folders is longer than any system lets a path be, and the depth-first
// walk must not run out of stack on a volume built to be that deep.
constexpr std::size_t kMaxFolderDepth = 2048;

// Whether the FAT entry of a cluster lies wholly in the count FAT sectors
// from sector (both bytes of a FAT12 entry).
bool EntryInSectors(const FatGeometry& g, std::uint32_t cluster, std::uint32_t sector, std::uint32_t count) {
    const FatVariant& v = g.Variant();
    const std::uint64_t offset = static_cast<std::uint64_t>(cluster) * v.num / v.den;
    const std::uint64_t start = static_cast<std::uint64_t>(sector) * g.bytesPerSector;
    const std::uint64_t end = start + static_cast<std::uint64_t>(count) * g.bytesPerSector;
    return offset >= start && offset + v.entryBytes <= end;
}

class BusyGuard {
public:
    explicit BusyGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyGuard() { flag_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    bool& flag_;
};

}  // namespace

std::uint32_t TUndelete::FatSectorOfCluster(std::uint32_t Cluster) const {
    // Ceil(c x k / bytes per sector) - 1, k = num / den, in integers.
    const FatGeometry g(*Current);
    const FatVariant& v = g.Variant();
    const std::uint64_t unit = static_cast<std::uint64_t>(v.den) * (g.bytesPerSector ? g.bytesPerSector : 512);
    const std::uint64_t ceil = (static_cast<std::uint64_t>(Cluster) * v.num + unit - 1) / unit;
    return ceil == 0 ? 0 : static_cast<std::uint32_t>(ceil - 1);
}

bool TUndelete::ClusterInFatWindow(std::uint32_t Cluster, std::uint32_t WindowSector) const {
    return EntryInSectors(FatGeometry(*Current), Cluster, WindowSector, vt::fat::kFatWindowSectors);
}

bool TUndelete::ReadFatWindow(std::uint32_t fatSector) {
    const FatGeometry g(*Current);
    fatWindowValid_ = false;
    fatWindow_.assign(static_cast<std::size_t>(vt::fat::kFatWindowSectors) * 512, 0);
    const auto sector = vt::CheckedAdd<std::uint32_t>(g.reserved, fatSector);
    if (!sector) return false;
    if (!ReadLogicalSectors(Current->Name, *sector, vt::fat::kFatWindowSectors, fatWindow_.data())) return false;
    fatWindowSector_ = fatSector;
    fatWindowCount_ = vt::fat::kFatWindowSectors;
    fatWindowValid_ = true;
    return true;
}

std::optional<std::uint32_t> TUndelete::ReadFatEntry(std::uint32_t Cluster, unsigned Copy) {
    const FatGeometry g(*Current);
    const FatVariant& v = g.Variant();
    if (g.bytesPerSector != 512 || Copy >= g.fats) return std::nullopt;
    const std::uint64_t offset = static_cast<std::uint64_t>(Cluster) * v.num / v.den;
    const auto holds = [&](std::uint32_t sector, std::uint32_t count) {
        return EntryInSectors(g, Cluster, sector, count);
    };
    std::vector<std::uint8_t>* bytes = &fatWindow_;
    std::uint32_t* windowSector = &fatWindowSector_;
    std::uint32_t* windowCount = &fatWindowCount_;
    bool* valid = &fatWindowValid_;
    if (Copy != 0) {
        bytes = &copyWindow_;
        windowSector = &copyWindowSector_;
        windowCount = &copyWindowCount_;
        valid = &copyWindowValid_;
        if (copyWindowCopy_ != Copy) copyWindowValid_ = false;
        copyWindowCopy_ = Copy;
    }
    if (!*valid || !holds(*windowSector, *windowCount)) {
        *valid = false;
        const std::uint32_t fatSector = FatSectorOfCluster(Cluster);
        const std::uint64_t first = g.reserved + std::uint64_t{Copy} * g.fatSize;
        const auto read = [&](std::uint32_t from, std::uint32_t count, bool quiet) {
            const std::uint64_t s = first + from;
            if (s + count > UINT32_MAX) return false;
            bytes->assign(static_cast<std::size_t>(count) * 512, 0);
            std::optional<DiskUtils::TQuietReads> hush;
            if (quiet) hush.emplace();
            if (!ReadLogicalSectors(Current->Name, static_cast<std::uint32_t>(s), static_cast<std::uint16_t>(count),
                                    bytes->data()))
                return false;
            *windowSector = from;
            *windowCount = count;
            *valid = true;
            return true;
        };
        const auto firstHolding = static_cast<std::uint32_t>(offset / 512);
        const auto lastHolding = static_cast<std::uint32_t>((offset + v.entryBytes - 1) / 512);
        const auto known = [&](std::uint32_t sector) {
            return std::find(badFatSectors_.begin(), badFatSectors_.end(), first + sector) != badFatSectors_.end();
        };
        if (known(firstHolding) || known(lastHolding)) return std::nullopt;
        // Nine sectors at once; where one of them fails, only the sectors
        // that hold this entry (two where a FAT12 entry straddles them).
        if (!read(fatSector, vt::fat::kFatWindowSectors, true) || !holds(*windowSector, *windowCount)) {
            if (!read(firstHolding, lastHolding - firstHolding + 1, false)) {
                for (std::uint32_t k = firstHolding; k <= lastHolding; ++k) badFatSectors_.push_back(first + k);
                return std::nullopt;
            }
        }
    }
    return v.read(bytes->data() + (offset - std::uint64_t{*windowSector} * 512), Cluster);
}

TUndelete::TFatLink TUndelete::NextCluster(std::uint32_t Cluster, bool MoreNeeded, std::uint32_t& Next) {
    const FatGeometry g(*Current);
    const FatVariant& v = g.Variant();
    const auto link = [&](std::optional<std::uint32_t> value) {
        if (!value) return TFatLink::Broken;
        if (v.IsEnd(*value)) return TFatLink::End;
        // Free, bad, cluster 1 or past the volume: no link to follow.
        if (*value < 2 || v.IsBad(*value) || *value >= g.clusterLimit) return TFatLink::Broken;
        Next = *value;
        return TFatLink::Next;
    };
    const TFatLink first = link(ReadFatEntry(Cluster, 0));
    if (first == TFatLink::Next || (first == TFatLink::End && !MoreNeeded)) return first;
    // The copies are read only here: a clean volume never costs a read of
    // its second FAT.
    bool ends = first == TFatLink::End;
    for (unsigned copy = 1; copy < g.fats; ++copy) {
        const TFatLink other = link(ReadFatEntry(Cluster, copy));
        if (other == TFatLink::Next || (other == TFatLink::End && !MoreNeeded)) return other;
        ends = ends || other == TFatLink::End;
    }
    return ends ? TFatLink::End : TFatLink::Broken;
}

bool TUndelete::GetClusterChain(std::uint32_t First, std::array<std::uint32_t, kMaxChain>& Chain, int& Count) {
    Chain.fill(0);
    Chain[0] = First;
    Count = 1;
    try {
        if (!Current) return false;
        const FatGeometry g(*Current);
        const FatVariant& v = g.Variant();
        if (First == 0 || v.IsEnd(First)) return true;
        // The window only ever holds 512-byte sectors (OpenDrive refuses
        // other sizes); a cluster past the volume has no entry to follow.
        if (g.bytesPerSector != 512 || First < 2 || First >= g.clusterLimit) return false;
        std::uint32_t c = First;
        for (;;) {
            std::uint32_t next = 0;
            const TFatLink link = NextCluster(c, false, next);
            if (link != TFatLink::Next) return link == TFatLink::End;
            // The chain is cut here: whole only if it ends right after.
            if (Count == static_cast<int>(kMaxChain)) return false;
            // A cluster met again means the chain loops: everything after it
            // would repeat the clusters already gathered.
            if (std::find(Chain.begin(), Chain.begin() + Count, next) != Chain.begin() + Count) return false;
            Chain[Count++] = next;
            c = next;
        }
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
}

bool TUndelete::GetFileClusters(std::uint32_t First, std::uint32_t Count, std::vector<std::uint32_t>& Clusters,
                                bool* EndsEarly) {
    Clusters.clear();
    if (EndsEarly) *EndsEarly = false;
    if (!Current || Count == 0) return true;
    const FatGeometry g(*Current);
    if (g.bytesPerSector != 512 || First < 2 || First >= g.clusterLimit) return false;
    Clusters.reserve(Count);
    Clusters.push_back(First);
    // The chain is followed for as many clusters as the file needs, no
    // further: that bounds it even when a damaged FAT makes it loop.
    std::uint32_t c = First;
    while (Clusters.size() < Count) {
        std::uint32_t next = 0;
        const TFatLink link = NextCluster(c, true, next);
        if (link != TFatLink::Next) {
            if (EndsEarly) *EndsEarly = link == TFatLink::End;
            return false;
        }
        Clusters.push_back(next);
        c = next;
    }
    return true;
}

std::optional<std::uint32_t> TUndelete::FatEntryOf(std::uint32_t Cluster) {
    if (!Current || Cluster >= FatGeometry(*Current).fatEntries) return std::nullopt;
    return ReadFatEntry(Cluster, 0);
}

std::optional<std::uint32_t> TUndelete::FatClusterSector(std::uint32_t Cluster) const {
    if (!Current) return std::nullopt;
    const FatGeometry g(*Current);
    // Clusters 0 and 1 name no data (the plain formula would reach back
    // into the root or the FAT), nor do clusters past the volume's last.
    if (Cluster < 2 || Cluster >= g.clusterLimit) return std::nullopt;
    return g.ClusterSector(Cluster);
}

std::uint32_t TUndelete::GetTotalClusters() const {
    const vt::ByteReader b(Current->BootSector);
    const std::uint32_t spc = b.U8Or(0x0D);
    if (spc == 0) return 0;
    const auto fats = vt::CheckedMul<std::uint32_t>(b.U8Or(0x10), b.U16Or(0x16));
    if (!fats) return 0;
    const auto rest = vt::CheckedSub<std::uint32_t>(b.U32Or(0x20), *fats);
    if (!rest) return 0;
    const auto data = vt::CheckedSub<std::uint32_t>(*rest, b.U16Or(0x0E));
    return data ? *data / spc : 0;
}

std::uint16_t TUndelete::GuessHighClusterWord(const std::string& FileName, std::uint16_t LowWord) {
    try {
        if (!Current) return 0;
        const std::size_t dot = FileName.rfind('.');
        if (dot == std::string::npos) return 0;
        std::string ext = FileName.substr(dot + 1);
        for (char& c : ext) c = Lower(c);
        const TFileSignature* row = nullptr;
        for (const TFileSignature& s : FileSignatures)
            if (ext == s.Ext) {
                row = &s;
                break;
            }
        if (!row) return 0;
        const FatGeometry g(*Current);
        const std::uint32_t highest = GetTotalClusters() >> 16;
        std::array<std::uint8_t, 512> sector{};
        for (std::uint32_t h = 0; h <= highest; ++h) {
            platform::ProcessMessages();
            if (Aborted) return 0;
            const auto s = g.ClusterSector((h << 16) | LowWord);
            if (s && ReadLogicalSectors(Current->Name, *s, 1, sector.data()) && sector[0] == row->Head[0] &&
                sector[1] == row->Head[1])
                return static_cast<std::uint16_t>(h);
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

bool TUndelete::ScanFatVolume(platform::IStatusPanel* StatusPanel) {
    BusyGuard busy(Busy);
    if (!Current) return false;
    // The search results point into the list about to be freed.
    Found.clear();
    ClearEntryList(Current->Entries);
    Current->RootReadInPart = false;
    fatWindowValid_ = copyWindowValid_ = false;
    badFatSectors_.clear();
    folderPath_.clear();
    folderVisits_.clear();
    ScanFatDirectory(nullptr, StatusPanel);
    std::stable_sort(Current->Entries.begin(), Current->Entries.end(),
                     [](const auto& a, const auto& b) { return CompareFatEntries(*a, *b) < 0; });
    return true;
}

bool TUndelete::ScanFatDirectory(TMidEntry* Folder, platform::IStatusPanel* StatusPanel) {
    if (Aborted) return true;
    try {
        if (!Current) return false;
        if (StatusPanel) StatusPanel->SetText(" " + (Folder ? GetEntryDisplayName(*Folder) : std::string()));
        platform::ProcessMessages();
        const FatGeometry g(*Current);
        const bool fat32 = g.type == vt::fsFat32;
        const std::uint32_t folderCluster = g.FolderCluster(Folder);

        // A folder that leads back to one on the current path (its cluster,
        // or on FAT12/16 the root sectors) is listed but not entered again.
        const std::optional<std::uint32_t> firstSector = g.FolderSector(Folder);
        if (firstSector) {
            if (std::find(folderPath_.begin(), folderPath_.end(), *firstSector) != folderPath_.end()) return true;
            if (folderPath_.size() >= kMaxFolderDepth) return true;
            if (++folderVisits_[*firstSector] > kMaxFolderVisits) return true;
        }
        struct PathEntry {
            std::vector<std::uint32_t>& path;
            bool pushed;
            ~PathEntry() {
                if (pushed) path.pop_back();
            }
        } pathEntry{folderPath_, false};
        if (firstSector) {
            folderPath_.push_back(*firstSector);
            pathEntry.pushed = true;
        }

        // The reads of this folder: the FAT12/16 root in one read, any other
        // folder one cluster per read along its chain (at most 512).
        struct Read {
            std::optional<std::uint32_t> sector;
            std::uint32_t count;
        };
        std::vector<Read> reads;
        // Set where the directory cannot be read whole: the folder is then
        // marked, so that its listing and its recovery say so.
        bool partial = false;
        if (!Folder && !fat32) {
            reads.push_back({g.rootStart, g.rootSectors});
        } else {
            auto chain = std::make_unique<std::array<std::uint32_t, kMaxChain>>();
            int count = 0;
            // A present folder's chain that breaks in every FAT copy (or is
            // cut at 512 clusters) loses what lies beyond. A deleted
            // folder's chain was freed: its first cluster is all that is
            // known of it, and a chain that stops there is no damage.
            if (!GetClusterChain(folderCluster, *chain, count) && (!Folder || Folder->Status == 0)) partial = true;
            for (int i = 0; i < count; ++i) reads.push_back({g.ClusterSector((*chain)[i]), g.sectorsPerCluster});
        }

        vt::fat::TLongNameRun longNames;
        platform::PageBuffer buffer;
        std::vector<bool> unreadable;  // by sector of the read
        for (std::size_t r = 0; r < reads.size(); ++r) {
            // A cluster of 0 sectors (a damaged boot sector) or one outside
            // 32-bit sector numbers reads nothing: the folder ends there.
            if (!reads[r].sector || reads[r].count == 0 || reads[r].count > 0xFFFF) {
                partial = true;
                break;
            }
            buffer.assign(static_cast<std::size_t>(reads[r].count) * 512);
            unreadable.assign(reads[r].count, false);
            // The read-error box names the whole request (its first sector
            // and count): one box for a cluster or root that fails, however
            // many of its sectors do.
            if (!ReadLogicalSectors(Current->Name, *reads[r].sector, static_cast<std::uint16_t>(reads[r].count),
                                    buffer.data())) {
                // Sector by sector: only the sectors that fail are lost.
                partial = true;
                DiskUtils::TQuietReads quiet;
                for (std::uint32_t k = 0; k < reads[r].count; ++k) {
                    std::uint8_t* at = buffer.data() + static_cast<std::size_t>(k) * 512;
                    if (!ReadLogicalSectors(Current->Name, *reads[r].sector + k, 1, at)) unreadable[k] = true;
                }
            }
            const vt::ByteReader bytes(buffer);
            if (r == 0 && Folder && !unreadable[0]) {
                // A folder's first cluster begins with its "." and ".."
                // entries; otherwise the cluster holds other data now.
                // (The FAT12/16 root sectors are never read as a folder
                // here: the root is always on the path.)
                const TFatDirEntry dot = *bytes.Struct<TFatDirEntry>(0);
                const TFatDirEntry dotdot = *bytes.Struct<TFatDirEntry>(32);
                if (!IsDotEntry(dot) && !IsDotEntry(dotdot)) {
                    Folder->Status = 2;
                    return true;
                }
            }
            for (std::size_t off = 0; bytes.Has(off, 32); off += 32) {
                platform::ProcessMessages();
                if (unreadable[off / 512]) {
                    // No long name reaches over a sector that was not read.
                    longNames = vt::fat::TLongNameRun();
                    continue;
                }
                TFatDirEntry e = *bytes.Struct<TFatDirEntry>(off);
                // Long-name pieces first, by their attribute: a piece whose
                // first character is "." is no "." entry.
                std::span<const std::uint8_t, 32> raw(buffer.data() + off, 32);
                if (longNames.Add(raw)) continue;
                std::string entryLongName = longNames.Take(raw);
                // The folder's own entries.
                if (IsDotEntry(e)) continue;
                if (e.Attr & vt::fat::kAttrVolumeLabel) continue;
                const bool deleted = e.Name[0] == vt::fat::kDeletedMark;
                const bool isFolder = (e.Attr & vt::fat::kAttrDirectory) != 0;
                if (fat32 && GuessFat32HighWords && DiskUtils::IsWinNT() && deleted && isFolder &&
                    e.FstClusHI.get() == 0)
                    e.FstClusHI.set(GuessHighClusterWord("a.#$%", e.FstClusLO.get()));
                if (fat32 && g.EntryCluster(e) == g.rootCluster) continue;
                // Trimmed like every name here: blanks and control characters.
                {
                    std::size_t a = 0, b = entryLongName.size();
                    while (a < b && static_cast<unsigned char>(entryLongName[a]) <= ' ') ++a;
                    while (b > a && static_cast<unsigned char>(entryLongName[b - 1]) <= ' ') --b;
                    entryLongName = entryLongName.substr(a, b - a);
                }
                // A slot without a name is no entry, unless its long name
                // (which matched its checksum) names it. Everything else is
                // listed as the directory holds it, fields that cannot be
                // true included (a size of 0xFFFFFFFF, data without a
                // cluster, a folder with a size): the recovery names what it
                // cannot write.
                if (ShortBase(e).empty() && entryLongName.empty()) continue;

                auto record = std::make_unique<TMidEntry>();
                record->DirEntry = e;
                if (!entryLongName.empty())
                    record->LongName = entryLongName;
                else
                    vt::fat::ApplyCaseRule(record->DirEntry, g.type);
                record->ParentCluster = folderCluster;
                record->Parent = Folder;
                record->Status = ((Folder && Folder->Status != 0) || deleted) ? 1 : 0;
                TMidEntry* added = record.get();
                Current->Entries.push_back(std::move(record));
                if (isFolder) ScanFatDirectory(added, StatusPanel);
            }
        }
        if (partial) {
            if (Folder)
                Folder->ReadInPart = true;
            else
                Current->RootReadInPart = true;
        }
        return true;
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
}

bool TUndelete::RescanFat32Directory(TMidEntry* Entry, platform::IStatusPanel* StatusPanel) {
    if (!Entry || Entry->Status != 2 || !Current) return false;
    BusyGuard busy(Busy);
    struct GuessGuard {
        bool& flag;
        ~GuessGuard() { flag = false; }
    } guess{GuessFat32HighWords};
    const std::uint16_t high = GuessHighClusterWord("a.#$%", Entry->DirEntry.FstClusLO.get());
    if (high == 0) return false;
    Entry->DirEntry.FstClusHI.set(high);
    Entry->Status = 1;
    GuessFat32HighWords = true;
    // The path to the folder: its ancestors and the root.
    const FatGeometry g(*Current);
    folderPath_.clear();
    folderVisits_.clear();
    fatWindowValid_ = copyWindowValid_ = false;
    badFatSectors_.clear();
    std::vector<std::uint32_t> ancestors;
    for (const TMidEntry* p = Entry->Parent; p; p = p->Parent)
        if (auto s = g.FolderSector(p)) ancestors.push_back(*s);
    if (auto s = g.FolderSector(nullptr)) ancestors.push_back(*s);
    folderPath_.assign(ancestors.rbegin(), ancestors.rend());
    ScanFatDirectory(Entry, StatusPanel);
    folderPath_.clear();
    std::stable_sort(Current->Entries.begin(), Current->Entries.end(),
                     [](const auto& a, const auto& b) { return CompareFatEntries(*a, *b) < 0; });
    return true;
}
