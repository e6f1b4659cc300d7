// The standard engine (TUndelete) and the file-system routines both engines
// share: boot-sector recognition, FAT directory entries and long names, the
// names entries are shown and recovered under, DOS dates, wildcard masks,
// unique target names, the drive-ready test and the event-log row.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "Bytes.h"
#include "FileStream.h"
#include "NtfsRecord.h"
#include "Reporting.h"

namespace vt {

// A volume's file system, from its boot sector.
enum TFsType : std::uint8_t { fsFat12 = 0, fsFat16 = 1, fsFat32 = 2, fsNtfs = 3, fsUnknown = 255 };

}  // namespace vt

using vt::TFsType;

// The published 32-byte FAT directory entry. A long-name entry uses the same
// 32 bytes differently (see DecodeLfnEntry).
struct TFatDirEntry {
    std::array<std::uint8_t, 8> Name;  // 0: blank-padded; 0xE5 first = deleted, 0x00 = end
    std::array<std::uint8_t, 3> Ext;   // 8: blank-padded
    std::uint8_t Attr;                 // 11: 0x01 RO, 0x02 hidden, 0x04 system, 0x08 label, 0x10 folder, 0x20 archive
    std::uint8_t NTRes;                // 12: 0x08 base name lower case, 0x10 extension lower case
    std::uint8_t CrtTimeTenth;         // 13
    vt::le16 CrtTime;                  // 14
    vt::le16 CrtDate;                  // 16
    vt::le16 LstAccDate;               // 18
    vt::le16 FstClusHI;                // 20: high word of the first cluster (FAT32)
    vt::le16 WrtTime;                  // 22
    vt::le16 WrtDate;                  // 24
    vt::le16 FstClusLO;                // 26
    vt::le32 FileSize;                 // 28
};
static_assert(sizeof(TFatDirEntry) == 32);

namespace vt::fat {
constexpr std::uint8_t kAttrReadOnly = 0x01;
constexpr std::uint8_t kAttrVolumeLabel = 0x08;
constexpr std::uint8_t kAttrDirectory = 0x10;
constexpr std::uint8_t kAttrLongName = 0x0F;
constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::size_t kMaxChain = 512;       // clusters of one directory chain
constexpr std::uint32_t kFatWindowSectors = 9;
// A long name holds at most 255 UTF-16 characters: 20 pieces of 13.
constexpr unsigned kMaxLongNamePieces = 20;

// The checksum of an 11-byte short name (name and extension as stored)
// that each piece of its long name carries.
std::uint8_t ShortNameChecksum(std::span<const std::uint8_t, 11> Name);

// The case rule of a short name without a long name, from NTRes: FAT12/16
// names are shown capitalised unless NTRes asks for lower case (0x08,
// 0x18); FAT32 names as stored unless it is 0x08. Letters A to Z change
// where they stand; every other byte keeps its place, and so does the second
// byte of a GBK character in a name that is not UTF-8.
void ApplyCaseRule(TFatDirEntry& e, TFsType type);

// The long-name pieces in front of one short entry, gathered as the FAT
// directory defines them: the piece flagged last (0x40) comes first and
// the sequence runs down to 1, every piece with the checksum of the short
// name that follows. A name that breaks any of this (a stale name another
// system left when it renamed or reused the short entry, pieces out of
// order, a run missing its first piece) is not used: the short name is the
// name. Deleted pieces lost their sequence number to the deletion mark and
// the short entry its first byte: such a name is joined by its one
// checksum, its pieces must end the name only in front, and the checksum
// must be one that some first byte of a short name gives.
class TLongNameRun {
public:
    // Takes one directory entry: true when it is a long-name piece, which
    // is then gathered (or begins a run of its own) and done with.
    bool Add(std::span<const std::uint8_t, 32> Entry);
    // The long name of the short entry that follows the pieces, or empty
    // when they do not make one for it. The run is over afterwards.
    std::string Take(std::span<const std::uint8_t, 32> ShortEntry);

private:
    std::string name_;
    std::int32_t checksum_ = -1;
    unsigned expect_ = 0;  // present names: the sequence number of the next piece
    unsigned pieces_ = 0;
    bool deleted_ = false;
    bool active_ = false;  // pieces were gathered since the last short entry
    bool valid_ = false;   // and they still make one name
};
}  // namespace vt::fat

namespace vt {
// The index range First..Last of the items whose key equals Key in a list
// of Count items sorted by key (non-decreasing), keyAt(i) giving item i's
// key. An empty list gives -1, -1 and false; a key that is not there gives
// First -1 and false, Last untouched.
template <typename Key, typename KeyAt>
 bool FindKeyRange(std::int32_t count, Key key, KeyAt keyAt, std::int32_t& first, std::int32_t& last) {
    if (count <= 0) {
        first = -1;
        last = -1;
        return false;
    }
    std::int32_t lo = 0, hi = count - 1, mid;
    do {
        mid = lo + (hi - lo) / 2;
        if (keyAt(mid) < key) lo = mid; else hi = mid;
    } while (lo + (hi - lo) / 2 != mid);
    if (keyAt(lo) == key) first = lo;
    else if (keyAt(hi) == key) first = hi;
    else {
        first = -1;
        return false;
    }
    hi = count - 1;
    do {
        mid = lo + (hi - lo) / 2;
        if (keyAt(mid) <= key) lo = mid; else hi = mid;
    } while (lo + (hi - lo) / 2 != mid);
    if (keyAt(hi) == key) last = hi;
    else if (keyAt(lo) == key) last = lo;
    return true;
}

}  // namespace vt

// One entry found by the FAT scan. TMidEntry32 is the same record (the
// entries of FAT32 volumes).
struct TMidEntry {
    TFatDirEntry DirEntry{};        // as read; the case rule may have lower-cased the name
    std::string LongName;           // trimmed, UTF-8; empty when none
    std::uint32_t ParentCluster = 0;  // first cluster of the folder it lies in (0: FAT12/16 root)
    std::uint8_t Status = 0;        // 0 present, 1 deleted / inside a deleted folder, 2 contents lost
    TMidEntry* Parent = nullptr;    // the folder's record; nullptr in the root
    // A folder whose directory could not be read whole (an unreadable
    // sector, a chain that breaks in every FAT copy): what it lists is only
    // a part, and its recovery says so.
    bool ReadInPart = false;
};
using TMidEntry32 = TMidEntry;
using PMidEntry = TMidEntry*;
using TMidEntryList = std::vector<std::unique_ptr<TMidEntry>>;

// The NTFS record of a found file, attributes and run lists (NtfsRecord.h).
// A drive's NTFS list owns its records through the deleter the creating code
// supplies.
using TNtfsRecordOwner = std::unique_ptr<tntfsfilerecord, void (*)(tntfsfilerecord*)>;
using TNtfsRecordList = std::vector<TNtfsRecordOwner>;
// A new record with every field zero, owned for a drive's list.
TNtfsRecordOwner NewNtfsRecord();

struct TARunTable {
    char Drive = 0;  // upper-case letter
    TRunTable Runs;
};

// One logical drive of the standard engine.
struct TLogiDrive {
    std::string Name;                 // "C:"
    std::uint8_t DriveType = 0;       // 2 removable, 3 fixed
    std::int64_t TotalSize = 0;       // bytes; 0 when unknown
    std::string SizeText;             // "%.2f MB" / "%.2f GB"
    std::string VolumeLabel;          // or "无卷标"
    TMidEntryList Entries;            // FAT volumes: the last scan's entries, sorted
    TNtfsRecordList NtfsEntries;      // NTFS volumes: the last scan's records, sorted
    TFsType FsType = vt::fsUnknown;   // of the last opening; 255 until then or when refused
    std::array<std::uint8_t, 512> BootSector{};
    bool Scanned = false;             // opened (sector 0 read) once
    bool RootReadInPart = false;      // FAT: the root directory could not be read whole
    // FAT32: the sector of the backup boot sector read in sector 0's
    // place (sector 0's layout was not its volume's); 0: sector 0.
    std::uint16_t BootCopySector = 0;
};
using PLogiDrive = TLogiDrive*;

// The standard engine: the logical drives, opening and scanning one, the
// child ranges of the sorted entry lists.
class TUndelete {
public:
    std::vector<std::unique_ptr<TLogiDrive>> Drives;  // letter order; owned
    TLogiDrive* Current = nullptr;                    // drive opened last
    bool Busy = false;
    bool Aborted = false;
    // Set when a recovery has logged the line of a stop; the window resets
    // it with Aborted and logs a stop that no recovery saw itself.
    bool StopLogged = false;
    // Results of the last search: PMidEntry (FAT) or PNtfsFileRecord (NTFS)
    // into Current's lists; not owned.
    std::vector<void*> Found;
    TNtfsRecordOwner FolderTemplate{nullptr, nullptr};  // placeholder folder of an NTFS scan
    std::vector<std::uint32_t> OrphanParents;           // parent numbers missing from an NTFS scan
    std::vector<TARunTable> MftRunCache;                // table runs by drive letter
    TRunTable MftRuns;                                  // table extents (sectors) of the current drive
    // Records of the last NTFS scan that could not be listed: torn ones
    // (their sectors not of one write) and unreadable ones.
    std::uint32_t DamagedRecords = 0;
    std::uint32_t UnreadableRecords = 0;
    bool GuessFat32HighWords = false;                   // set while a FAT32 folder is rescanned

    TUndelete();
    ~TUndelete();
    TUndelete(const TUndelete&) = delete;
    TUndelete& operator=(const TUndelete&) = delete;

    bool OpenDrive(TLogiDrive* Drive, bool Rescan, platform::IProgressBar* ProgressBar,
                   platform::IStatusPanel* StatusPanel);
    bool FindChildRange(std::uint32_t ParentKey, std::int32_t& First, std::int32_t& Last);
    static bool FindFatChildRange(const TMidEntryList& List, std::uint32_t Key, std::int32_t& First,
                                  std::int32_t& Last);
    static bool FindNtfsChildRange(const TNtfsRecordList& List, std::int64_t ParentNo, std::int32_t& First,
                                   std::int32_t& Last);
    void Stop() { Aborted = true; }
    void EnumDrives();
    static bool ClearEntryList(TMidEntryList& List);
    static bool ClearEntryList(TNtfsRecordList& List);

    // Long-name pieces: 0 not a long-name entry, 1 first piece of a new name,
    // 2 further piece of the same name (see DiskParam.cpp).
    static std::uint8_t DecodeLfnEntry(std::span<const std::uint8_t, 32> Entry, std::string& LongName,
                                       std::int32_t& Checksum);

    // FAT volume scan.
    bool ScanFatVolume(platform::IStatusPanel* StatusPanel);
    bool ScanFatDirectory(TMidEntry* Folder, platform::IStatusPanel* StatusPanel);
    bool RescanFat32Directory(TMidEntry* Entry, platform::IStatusPanel* StatusPanel);
    bool GetClusterChain(std::uint32_t First, std::array<std::uint32_t, vt::fat::kMaxChain>& Chain, int& Count);
    std::uint32_t FatSectorOfCluster(std::uint32_t Cluster) const;
    // Whether the FAT entry of Cluster lies in the 9-sector window that
    // starts at FAT sector WindowSector.
    bool ClusterInFatWindow(std::uint32_t Cluster, std::uint32_t WindowSector) const;
    std::uint32_t GetTotalClusters() const;
    std::uint16_t GuessHighClusterWord(const std::string& FileName, std::uint16_t LowWord);

    // The clusters of a present file by its allocation-table chain, as many
    // as Count; where the first FAT's chain breaks or ends too early another
    // FAT copy that goes on is followed. False when no copy holds them all
    // (Clusters then holds the part that was found); *EndsEarly then tells
    // an end mark before Count clusters from a chain that broke (a free or
    // bad cluster, a link out of the volume, an unreadable FAT sector).
    bool GetFileClusters(std::uint32_t First, std::uint32_t Count, std::vector<std::uint32_t>& Clusters,
                         bool* EndsEarly = nullptr);
    // A cluster's entry in the first FAT (FAT32: its 28 bits); none when the
    // cluster has no entry or its FAT sectors do not read.
    std::optional<std::uint32_t> FatEntryOf(std::uint32_t Cluster);
    // First volume sector of a FAT cluster, when it is a data cluster of
    // the volume (2 up to its last) and a 32-bit sector.
    std::optional<std::uint32_t> FatClusterSector(std::uint32_t Cluster) const;

    // Recovery into a target folder: the file or folder is created there
    // under a unique name (exclusively, never through a link), failures and
    // stops are logged into LogView. TargetDir is opened once per call.
    bool RecoverFile(TMidEntry* Entry, const std::string& Name, const std::string& TargetDir,
                     platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    bool RecoverFolder(TMidEntry* Entry, const std::string& Name, const std::string& TargetDir,
                       platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    bool RecoverFile(tntfsfilerecord* Entry, const std::string& Name, const std::string& TargetDir,
                     platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    bool RecoverFolder(tntfsfilerecord* Entry, const std::string& Name, const std::string& TargetDir,
                       platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    // RecoverFile, and a file that was not written whole without a line of
    // its own (a record whose data cannot be found, an exception) is logged
    // as failed: no failure passes for success. Folders recover their files
    // through it, and so does the window.
    void RecoverFileReported(TMidEntry* Entry, const std::string& Name, const std::string& TargetDir,
                             platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    void RecoverFileReported(tntfsfilerecord* Entry, const std::string& Name, const std::string& TargetDir,
                             platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    // The same into a target folder that is open: a batch writes all of its
    // rows through the one descriptor of the folder the user chose, and
    // writes it back through that descriptor, whatever the path names
    // meanwhile.
    bool RecoverFolder(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                       platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    bool RecoverFolder(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                       platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    void RecoverFileReported(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                             platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    void RecoverFileReported(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                             platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    // Writes the runs of a compressed NTFS file, unit by unit of 16
    // clusters, into the stream; a stop is logged into LogView.
    bool WriteNtfsRuns(vt::TFileStream& Stream, const trunlist& Runs, std::int64_t FileSize,
                       platform::IEventLog* LogView);

    // NTFS volume scan, records and run lists (DiskParamNtfs.cpp).
    bool ScanNtfsVolume(platform::IProgressBar* ProgressBar);
    void LinkNtfsParents(tntfsfilerecord* Parent);
    void CollectOrphanParents();
    static bool FindRecordByNumber(const TNtfsRecordList& List, std::int64_t RecordNo, std::int32_t& Index);
    bool CacheMftRuns(const TRunTable& Runs);
    // Reads the record (at Sector, or by number from the table's first
    // cluster when Sector is 0) and takes its first attribute of the type;
    // a non-resident $ATTRIBUTE_LIST comes back with its value in Data.
    bool ReadMftAttribute(std::uint32_t RecordNo, std::uint16_t AttrType, std::int64_t Sector, TAttribute& Attr);
    // The same from a record already read.
    bool RecordAttribute(std::span<std::uint8_t> Record, std::uint16_t AttrType, TAttribute& Attr);
    bool GetRecordAttribute(std::span<std::uint8_t> Record, std::uint16_t AttrType, TAttribute& Attr);
    // The runs of the unnamed $DATA through an attribute list, extent
    // after extent by first cluster, each read from the record the entry
    // names (through the table's extents, or by number from its first
    // cluster), which must be a record of file Owner; Attr gets the first
    // extent. *Whole (when given) is false when the runs stop early: an
    // extent whose record is not the file's, that does not read, or that
    // does not begin where the one before ended.
    bool ReadAttributeListRuns(std::span<const std::uint8_t> List, trunlist& Runs, bool UseTableRuns,
                               TAttribute& Attr, std::int64_t Owner, bool* Whole = nullptr);
    // The volume sector of a record through the table of the current
    // drive; -1 when it cannot be placed.
    std::int64_t MftPosToSector(std::int64_t RecordNo);
    bool ParseMftRecord(std::span<std::uint8_t> Record, std::uint16_t& FileNameOffset, std::uint16_t& RecordFlags,
                        std::int64_t& RealSize, std::int64_t& AllocatedSize);

    // Search and preview (DiskParamSearch.cpp). Entry is a PMidEntry on FAT
    // volumes and a PNtfsFileRecord on NTFS volumes.
    bool ReadFileHead(const void* Entry, std::array<std::uint8_t, 2048>& Buffer);
    bool ReadNtfsFileHead(const tntfsfilerecord* Entry, std::array<std::uint8_t, 2048>& Buffer);
    bool SearchEntries(const std::string& Masks, bool CaseSensitive, std::uint8_t DateKind, double DateFrom,
                       double DateTo, std::int64_t SizeFrom, std::int64_t SizeTo, std::int64_t ParentKey,
                       bool DeletedOnly);

private:
    // One record, read through the table's extents (by number) or at the
    // sector given, and fixed up.
    enum class TRecordRead { Whole, Unreadable, Torn };
    // Count sectors of the table from Sector into Buffer; Good[i] is 0 for
    // each sector that does not read (its bytes are zeros).
    void ReadTableBatch(std::int64_t Sector, std::uint32_t Count, std::uint8_t* Buffer, std::uint8_t* Good);
    TRecordRead ReadMftRecord(std::int64_t RecordNo, std::int64_t Sector, std::span<std::uint8_t, kMftRecordSize> Record);
    // A whole record by number: through the table's extents, or as if the
    // table were one extent from its first cluster.
    bool ReadRecordByNumber(std::int64_t RecordNo, bool UseTableRuns, std::span<std::uint8_t, kMftRecordSize> Record);
    // Where a record keeps its data: the $DATA attribute and its runs,
    // through the $ATTRIBUTE_LIST when the record has one.
    // Partial: found, but the runs through the attribute list stop before
    // the file's end.
    // Partial also: runs that disagree with the clusters their attribute
    // header says they map.
    enum class TDataLookup { Found, Partial, Failed, NoData };
    TDataLookup FindNtfsData(const tntfsfilerecord* Entry, TAttribute& Data, trunlist& Runs);
    // The clusters of the current volume, from its boot sector.
    std::int64_t VolumeClusters() const;
    // Whether the volume's $Bitmap marks one of the first Clusters clusters
    // of the runs in use; empty when the bitmap cannot be read.
    std::optional<bool> ClustersInUse(const trunlist& Runs, std::int64_t Clusters);
    // The $Bitmap of the drive read last (its runs, and the cluster of it
    // read last): a batch of deleted files looks at it once per file, and
    // the drive is never written.
    struct TBitmapCache {
        const TLogiDrive* Drive = nullptr;
        trunlist Runs;
        std::int64_t Lcn = -1;
        std::vector<std::uint8_t> Cluster;
    } bitmap_;
    // The recoveries into a target folder that is open: a folder's tree is
    // written through the descriptors of the folders made for it.
    bool RecoverFileIn(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                       platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    bool RecoverFolderIn(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                         platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    bool RecoverFileIn(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                       platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    bool RecoverFolderIn(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                         platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    void RecoverFileInReported(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                               platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    void RecoverFileInReported(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                               platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView);
    // Logs the stop line of the file or folder at Shown (its path below the
    // chosen folder), the first time a stop is seen.
    void LogStop(platform::IEventLog* LogView, const std::string& Shown);
    void CreateFolderTemplate();
    // The standard record decoder's settings for the current drive.
    TRecordDecoderVariant NtfsDecoderVariant();
    // A name found in an extension record (Found.RecordNo) stands for its
    // base record when the base still lists the extension in its attribute
    // list: the entry then takes the base's number and sector, and from the
    // base record its flags, times and data sizes. False leaves it as it is.
    bool TakeBaseRecord(tntfsfilerecord& Found, std::int64_t BaseNo);
    // Adds a scanned record in record-number order; one entry per number,
    // the base record's own entry before one from an extension record.
    static void AddScannedRecord(TNtfsRecordList& List, TNtfsRecordOwner Record, bool FromExtension);
    // NTFS: sectors of the current drive by 64-bit number; the table runs
    // of the current drive; a non-resident attribute list's value.
    bool ReadVolumeSectors(std::int64_t Sector, std::uint32_t Count, void* Buffer);
    const TRunTable& CurrentMftRuns() const;
    bool LoadAttributeListValue(TAttribute& Attr);
    struct TSearchArgs;
    bool SearchRange(const TSearchArgs& Args, std::int64_t ParentKey, std::vector<std::int64_t>& Descended);
    bool ReadFatWindow(std::uint32_t fatSector);
    // The entry of a cluster in FAT copy Copy (0 the first); nothing when
    // its sectors cannot be read.
    std::optional<std::uint32_t> ReadFatEntry(std::uint32_t Cluster, unsigned Copy);
    // The link after Cluster: the first FAT's, or where that one breaks (or
    // ends while MoreNeeded) the first other copy's that goes on.
    enum class TFatLink { Next, End, Broken };
    TFatLink NextCluster(std::uint32_t Cluster, bool MoreNeeded, std::uint32_t& Next);

    // The FAT window: 9 sectors of the first FAT from FAT sector
    // fatWindowSector_ (fewer where a sector of the 9 could not be read).
    std::vector<std::uint8_t> fatWindow_;
    std::uint32_t fatWindowSector_ = 0;
    std::uint32_t fatWindowCount_ = 0;
    bool fatWindowValid_ = false;
    // The same for the other FAT copies, read only where the first breaks.
    std::vector<std::uint8_t> copyWindow_;
    unsigned copyWindowCopy_ = 0;
    std::uint32_t copyWindowSector_ = 0, copyWindowCount_ = 0;
    bool copyWindowValid_ = false;
    // FAT sectors (of the volume) found unreadable: not asked for again, so
    // that one bad sector shows one read-error box, not one per cluster.
    std::vector<std::uint64_t> badFatSectors_;
    // First sectors of the folders on the path being scanned: a folder whose
    // cluster leads back to one of them is listed but not entered again.
    std::vector<std::uint32_t> folderPath_;
    // How often each folder (by first sector) has been entered during one
    // scan; bounds the work on volumes whose folder entries share clusters.
    // Looked up once per folder: a hash map keeps that constant on volumes
    // of many thousand folders.
    std::unordered_map<std::uint32_t, std::uint32_t> folderVisits_;
    // Record numbers of the NTFS folders being recovered, outermost first:
    // a parent link that leads back to one of them is not followed again.
    std::vector<std::int64_t> recoverPath_;
    // While a folder is recovered: the writer of its small files (see
    // WriteBehind.h).
    template <typename Recover>
    bool RecoverBehind(platform::IEventLog* LogView, Recover recover);
    vt::TWriteBehind* writeBehind_ = nullptr;
    // The writer, kept from one folder to the next with its threads and
    // buffers (at most TWriteBehind::kMaxPending of 64 KiB).
    std::unique_ptr<vt::TWriteBehind> writer_;
};

// Recognises FAT12, FAT16, FAT32 and NTFS by the type fields of a boot
// sector (512 bytes); nothing else of the sector is examined.
TFsType DetectFileSystem(std::span<const std::uint8_t> bootSector);

// The FAT type of a boot sector as the FAT definition decides it, by the
// count of its data clusters: fewer than 4085 FAT12, fewer than 65525
// FAT16, else FAT32. The sector is a FAT boot sector when its type string
// says FAT (or FAT12/16/32) or, whatever the string, when it begins with a
// jump and holds a BPB a FAT volume can have; the string's type decides
// only where the count cannot be computed. fsUnknown for anything else.
TFsType DetectFatType(std::span<const std::uint8_t> bootSector);
// NTFS by its type string, a FAT volume by DetectFatType: what both engines
// take a boot sector for.
TFsType DetectVolumeType(std::span<const std::uint8_t> bootSector);

// Names of found FAT entries: shown (deletion mark as "?") and recovered
// (deletion mark as "@"); the long name when there is one.
std::string GetEntryDisplayName(const TMidEntry& Entry);
std::string GetEntryFileName(const TMidEntry& Entry);
// The short name of a directory entry as both engines show it: name and
// extension trimmed and joined with ".", a deletion mark in front replaced
// by deletionMark, the system's OEM bytes turned into UTF-8.
std::string FatShortName(const TFatDirEntry& Entry, char deletionMark);
// The full path under which to create Name in Dir: Dir + "/" + Name, or
// with "_1", "_2" ... before the extension while that path exists. Names
// that could leave Dir ("/" or NUL inside, "." or "..") are made safe first.
std::string MakeUniqueFileName(const std::string& Name, const std::string& Dir);
// What a folder that could not be made held below it, for its log line:
// every file the user checked is accounted for.
struct TFolderContents {
    std::uint64_t files = 0, folders = 0;
};
// "，其中 N 个文件、M 个文件夹未写入": appended to the line of such a folder.
std::string NotWrittenText(const TFolderContents& Contents);
// The names that MakeUniqueFileName tries for Name, in its order: [0] the
// name made safe, [N] with "_N" before its extension; each cut at a
// character bound to fit names of NameMax bytes. The exclusive creation of
// recovered files and folders (vt::TargetFolder) tries the same names.
class TUniqueNames {
public:
    TUniqueNames(const std::string& Name, std::size_t NameMax);
    std::string operator[](unsigned N) const;

private:
    std::string base_, ext_;
    std::size_t limit_;
};

// Date-time values: days since 30 December 1899, fraction = time of day;
// 0 = no date.
double DosDateTimeToDateTime(std::uint16_t Date, std::uint16_t Time);
bool FatDateTimeToDateTime(std::uint16_t Date, std::uint16_t Time, double& Value);

bool MatchFileMask(const std::string& Name, const std::string& Mask);
// Throws std::invalid_argument("非有效驱动器 ID") for a character that is no letter.
bool IsDriveValid(char Drive);
void AddLogEvent(platform::IEventLog* ListView, const std::string& Msg, std::uint8_t ImageIndex);
int GetShellTypeInfo(const std::string& FileName, std::uint32_t Attributes, std::string& TypeName);
inline bool IsFatFile(const TFatDirEntry& Entry) { return (Entry.Attr & vt::fat::kAttrDirectory) == 0; }
bool GetDriveInfo(TLogiDrive& Drive);
// Entry order of a FAT drive's list: by folder cluster, then short name.
int CompareFatEntries(const TMidEntry& A, const TMidEntry& B);

// Usual first two bytes of files by extension; row 0 stands for a FAT
// directory cluster (its first entry "." and a blank).
struct TFileSignature {
    const char* Ext;
    std::uint8_t Head[2];
};
extern const std::array<TFileSignature, 34> FileSignatures;

extern std::string AppDir;          // program folder with a trailing "/"
extern std::string FolderTypeName;  // the shell's type name of a folder

namespace DiskParam {
void Initialize();  // unit start: AppDir, FolderTypeName
}
