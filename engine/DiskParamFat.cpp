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
// how many bytes of the window it needs, how it is read, and its end marks.
struct FatVariant {
    std::uint32_t num, den;
    std::uint32_t entryBytes;
    std::uint32_t (*read)(const std::uint8_t* p, std::uint32_t cluster);
    bool (*isEnd)(std::uint32_t value);
};

const FatVariant kFatVariants[] = {
    // FAT12: 1.5 bytes; an odd cluster holds the high 12 bits of its word.
    {3, 2, 2,
     [](const std::uint8_t* p, std::uint32_t c) -> std::uint32_t {
         const std::uint16_t w = vt::LoadLe16(p);
         return (c & 1) ? w >> 4 : w & 0x0FFF;
     },
     [](std::uint32_t v) { return v == 0xFFF; }},
    // FAT16
    {2, 1, 2, [](const std::uint8_t* p, std::uint32_t) -> std::uint32_t { return vt::LoadLe16(p); },
     [](std::uint32_t v) { return v == 0xFFFF; }},
    // FAT32: the entry is taken as all 32 bits.
    {4, 1, 4, [](const std::uint8_t* p, std::uint32_t) -> std::uint32_t { return vt::LoadLe32(p); },
     [](std::uint32_t v) { return v == 0x0FFFFFF8 || v == 0x0FFFFFFF || v == 0xFFFFFFFF; }},
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
    std::uint64_t fatEntries = 0;   // entries one FAT holds: the clusters a chain can name

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
            rootSectors = rootEntries / (bytesPerSector / 32 ? bytesPerSector / 32 : 16);
            dataStart = static_cast<std::uint64_t>(rootStart) + rootSectors;
        }
        const FatVariant& v = Variant();
        fatEntries = static_cast<std::uint64_t>(fatSize) * bytesPerSector * v.den / v.num;
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
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The case of names without a long name, from NTRes: FAT12/16 volumes of
// this program's systems show an 8.3 name capitalised unless NTRes asks for
// lower case; FAT32 shows it as stored unless the base-name bit alone is set.
// Letters change case where they stand: every byte keeps its place (a first
// byte 0x05, the stored form of 0xE5, is a character like any other).
void ApplyCaseRule(TFatDirEntry& e, TFsType type) {
    enum Rule { Keep, Lowercase, Capitalise } rule = Keep;
    if (type == vt::fsFat32) {
        if (e.NTRes == 0x08) rule = Lowercase;
    } else if (e.NTRes == 0) {
        rule = Capitalise;
    } else if (e.NTRes == 0x08 || e.NTRes == 0x18) {
        rule = Lowercase;
    }
    if (rule == Keep) return;
    const auto end = std::find(e.Name.begin(), e.Name.end(), std::uint8_t{0});
    bool first = true;
    for (auto c = e.Name.begin(); c != end; ++c) {
        const bool blank = *c == ' ' || (*c < ' ' && !(c == e.Name.begin() && *c == 0x05));
        *c = static_cast<std::uint8_t>(rule == Capitalise && first && !blank ? Upper(static_cast<char>(*c))
                                                                          : Lower(static_cast<char>(*c)));
        if (!blank) first = false;
    }
    for (std::uint8_t& c : e.Ext) c = static_cast<std::uint8_t>(Lower(static_cast<char>(c)));
}

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
    const FatGeometry g(*Current);
    const FatVariant& v = g.Variant();
    const std::uint64_t offset = static_cast<std::uint64_t>(Cluster) * v.num / v.den;
    const std::uint64_t start = static_cast<std::uint64_t>(WindowSector) * g.bytesPerSector;
    const std::uint64_t end = start + static_cast<std::uint64_t>(vt::fat::kFatWindowSectors) * g.bytesPerSector;
    return offset >= start && offset + v.entryBytes <= end;
}

bool TUndelete::ReadFatWindow(std::uint32_t fatSector) {
    const FatGeometry g(*Current);
    fatWindowValid_ = false;
    fatWindow_.assign(static_cast<std::size_t>(vt::fat::kFatWindowSectors) * 512, 0);
    const auto sector = vt::CheckedAdd<std::uint32_t>(g.reserved, fatSector);
    if (!sector) return false;
    if (!ReadLogicalSectors(Current->Name, *sector, vt::fat::kFatWindowSectors, fatWindow_.data())) return false;
    fatWindowSector_ = fatSector;
    fatWindowValid_ = true;
    return true;
}

bool TUndelete::GetClusterChain(std::uint32_t First, std::array<std::uint32_t, kMaxChain>& Chain, int& Count) {
    Chain.fill(0);
    Chain[0] = First;
    Count = 1;
    try {
        if (!Current) return false;
        const FatGeometry g(*Current);
        const FatVariant& v = g.Variant();
        if (First == 0 || v.isEnd(First)) return true;
        // The window only ever holds 512-byte sectors (OpenDrive refuses
        // other sizes); a cluster past the FAT has no entry to follow.
        if (g.bytesPerSector != 512 || First >= g.fatEntries) return false;
        std::uint32_t c = First;
        for (;;) {
            if (!fatWindowValid_ || !ClusterInFatWindow(c, fatWindowSector_)) {
                if (!ReadFatWindow(FatSectorOfCluster(c))) return false;
                if (!ClusterInFatWindow(c, fatWindowSector_)) return false;
            }
            const std::uint64_t offset =
                static_cast<std::uint64_t>(c) * v.num / v.den - static_cast<std::uint64_t>(fatWindowSector_) * 512;
            const std::uint32_t next = v.read(fatWindow_.data() + offset, c);
            if (next == 0 || v.isEnd(next)) return true;
            // Cluster 1 does not exist, and an entry past the FAT's own
            // entries points outside the volume: the chain is broken there.
            if (next == 1 || next >= g.fatEntries) return false;
            // A cluster met again means the chain loops: everything after it
            // would repeat the clusters already gathered.
            if (std::find(Chain.begin(), Chain.begin() + Count, next) != Chain.begin() + Count) return false;
            Chain[Count++] = next;
            if (Count == static_cast<int>(kMaxChain)) return false;
            c = next;
        }
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
}

bool TUndelete::GetFileClusters(std::uint32_t First, std::uint32_t Count, std::vector<std::uint32_t>& Clusters) {
    Clusters.clear();
    if (!Current || Count == 0) return true;
    const FatGeometry g(*Current);
    const FatVariant& v = g.Variant();
    if (g.bytesPerSector != 512 || First < 2 || First >= g.fatEntries) return false;
    Clusters.reserve(Count);
    Clusters.push_back(First);
    // The chain is followed for as many clusters as the file needs, no
    // further: that bounds it even when a damaged FAT makes it loop.
    std::uint32_t c = First;
    while (Clusters.size() < Count) {
        const auto next = FatEntryOf(c);
        if (!next || *next < 2 || v.isEnd(*next) || *next >= g.fatEntries) return false;
        Clusters.push_back(*next);
        c = *next;
    }
    return true;
}

std::optional<std::uint32_t> TUndelete::FatEntryOf(std::uint32_t Cluster) {
    if (!Current) return std::nullopt;
    const FatGeometry g(*Current);
    const FatVariant& v = g.Variant();
    if (g.bytesPerSector != 512 || Cluster >= g.fatEntries) return std::nullopt;
    if (!fatWindowValid_ || !ClusterInFatWindow(Cluster, fatWindowSector_)) {
        if (!ReadFatWindow(FatSectorOfCluster(Cluster)) || !ClusterInFatWindow(Cluster, fatWindowSector_))
            return std::nullopt;
    }
    const std::uint64_t offset =
        static_cast<std::uint64_t>(Cluster) * v.num / v.den - static_cast<std::uint64_t>(fatWindowSector_) * 512;
    return v.read(fatWindow_.data() + offset, Cluster);
}

std::optional<std::uint32_t> TUndelete::FatClusterSector(std::uint32_t Cluster) const {
    if (!Current) return std::nullopt;
    return FatGeometry(*Current).ClusterSector(Cluster);
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
    fatWindowValid_ = false;
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
        if (!Folder && !fat32) {
            reads.push_back({g.rootStart, g.rootSectors});
        } else {
            auto chain = std::make_unique<std::array<std::uint32_t, kMaxChain>>();
            int count = 0;
            GetClusterChain(folderCluster, *chain, count);
            for (int i = 0; i < count; ++i) reads.push_back({g.ClusterSector((*chain)[i]), g.sectorsPerCluster});
        }

        vt::fat::TLongNameRun longNames;
        platform::PageBuffer buffer;
        for (std::size_t r = 0; r < reads.size(); ++r) {
            // A cluster of 0 sectors (a damaged boot sector) or one outside
            // 32-bit sector numbers reads nothing: the folder ends there.
            if (!reads[r].sector || reads[r].count == 0 || reads[r].count > 0xFFFF) break;
            buffer.assign(static_cast<std::size_t>(reads[r].count) * 512);
            if (!ReadLogicalSectors(Current->Name, *reads[r].sector, static_cast<std::uint16_t>(reads[r].count),
                                    buffer.data()))
                break;
            const vt::ByteReader bytes(buffer);
            if (r == 0 && Folder) {
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
                TFatDirEntry e = *bytes.Struct<TFatDirEntry>(off);
                // Long-name pieces first, by their attribute: a piece whose
                // first character is "." is no "." entry.
                std::span<const std::uint8_t, 32> raw(buffer.data() + off, 32);
                if (longNames.Add(raw)) continue;
                std::string entryLongName = longNames.Take(raw);
                // The folder's own entries.
                if (IsDotEntry(e)) continue;
                const std::string base = ShortBase(e);
                if (e.FileSize.get() == 0xFFFFFFFFu) continue;
                if (e.Attr & vt::fat::kAttrVolumeLabel) continue;
                const bool deleted = e.Name[0] == vt::fat::kDeletedMark;
                const bool isFolder = (e.Attr & vt::fat::kAttrDirectory) != 0;
                if (fat32 && GuessFat32HighWords && DiskUtils::IsWinNT() && deleted && isFolder &&
                    e.FstClusHI.get() == 0)
                    e.FstClusHI.set(GuessHighClusterWord("a.#$%", e.FstClusLO.get()));
                if (fat32 && g.EntryCluster(e) == g.rootCluster) continue;
                if (base.empty()) continue;
                if (isFolder && !deleted && e.FileSize.get() != 0) continue;
                if (!isFolder && g.EntryCluster(e) == 0 && e.FileSize.get() != 0) continue;

                auto record = std::make_unique<TMidEntry>();
                record->DirEntry = e;
                // Trimmed like every name here: blanks and control characters.
                {
                    std::size_t a = 0, b = entryLongName.size();
                    while (a < b && static_cast<unsigned char>(entryLongName[a]) <= ' ') ++a;
                    while (b > a && static_cast<unsigned char>(entryLongName[b - 1]) <= ' ') --b;
                    entryLongName = entryLongName.substr(a, b - a);
                }
                if (!entryLongName.empty())
                    record->LongName = entryLongName;
                else
                    ApplyCaseRule(record->DirEntry, g.type);
                record->ParentCluster = folderCluster;
                record->Parent = Folder;
                record->Status = ((Folder && Folder->Status != 0) || deleted) ? 1 : 0;
                TMidEntry* added = record.get();
                Current->Entries.push_back(std::move(record));
                if (isFolder) ScanFatDirectory(added, StatusPanel);
            }
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
    fatWindowValid_ = false;
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
