// The advanced engine: every drive the advanced recovery can work on, the
// partition tree of each physical drive (master boot record and the chain
// of extended boot records), the deep scan for lost FAT and NTFS volumes,
// and the raw sector scan of any node with the FAT and NTFS listings
// rebuilt from the directory clusters and file records it finds.
//
// All reads go through OpenDiskHandle/ReadDiskSectors by drive number;
// nothing here writes to a drive.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "Bytes.h"
#include "DiskParam.h"
#include "FileStream.h"
#include "NewDiskUtils.h"
#include "NtfsRecord.h"
#include "Reporting.h"
#include "WinApi.h"

// One drive's geometry: its number, the DISK_GEOMETRY record (on Windows 9x
// made up from the INT 13h drive parameters) and the 64-bit sector total.
struct TDriveGeometry {
    ::DriveNo DriveNo = 0;
    win::DISK_GEOMETRY Geometry{};
    std::int64_t TotalSectors = 0;
};

// The published 16-byte partition-table entry; four of them at 0x1BE,
// 0x1CE, 0x1DE and 0x1EE of a table sector.
struct TMbrEntry {
    std::uint8_t BootFlag = 0;                 // 0: boot indicator (copied, not interpreted)
    std::array<std::uint8_t, 3> StartChs{};    // 1: CHS of the first sector (copied)
    std::uint8_t SysType = 0;                  // 4: partition type
    std::array<std::uint8_t, 3> EndChs{};      // 5: CHS of the last sector (copied)
    vt::le32 StartLba;                         // 8: first sector, counted from the node's Base
    vt::le32 SectorCount;                      // 12: number of sectors
};
static_assert(sizeof(TMbrEntry) == 16);

namespace DataStruc {

// The shared FAT directory entry and helpers of DiskParam, under the
// names this unit has always offered.
using ::TFatDirEntry;
using ::AddLogEvent;
using ::FatDateTimeToDateTime;
using ::IsDriveValid;

// The NT family (GetVersionEx reports platform id 2).
bool IsWinNT();

// Decodes one long-name piece into LongName (pieces stand in the directory
// from the last to the first, so each is put in front), as the standard
// engine does; an entry shorter than 32 bytes is none. Result 0: not a
// long-name entry (Checksum reset to -1); 1: first piece of a new name
// (LongName emptied first); 2: a further piece with the same checksum.
std::uint8_t DecodeLfnEntry(std::span<const std::uint8_t> entry, std::string& longName, std::int32_t& checksum);

// The deep scan's test of one sector: the 0xAA55 mark at 510 and an NTFS
// boot sector by its type string, or a FAT one by its BPB (DetectVolumeType:
// the type string of a FAT volume is informational). On success the file system, the
// volume serial and the volume's sector count from the boot sector.
struct BootSectorInfo {
    TFsType FsType = vt::fsUnknown;
    std::uint32_t Serial = 0;
    std::uint64_t SectorCount = 0;  // NTFS counts in 64 bits
};
bool ExamineBootSector(std::span<const std::uint8_t> sector, BootSectorInfo& info);

// How many of this drive's 512-byte sectors one sector of a boot sector's
// volume is: 1, 2, 4 or 8 for 512 to 4096 bytes (a volume made for a 4Kn
// drive counts 4096-byte sectors); 0 for any other size.
std::uint32_t SectorScale(std::span<const std::uint8_t> sector);

// What a FAT boot sector at sector `first` says of its volume, when its
// fields make one: sectors of 512 to 4096 bytes (counted here in 512-byte
// sectors), a power-of-two cluster, a FAT, a root (a fixed region on
// FAT12/16, a cluster on FAT32), and a data area that begins before
// nodeEnd, the end of the node that holds it. The volume's clusters are
// those its FAT maps (its total sectors field may lie either way), cut at
// nodeEnd. Absolute sectors. The FAT type is DetectFatType's unless type
// names one.
struct FatBootLayout {
    TFsType FsType = vt::fsFat16;
    std::int64_t First = 0;
    std::int64_t End = 0;             // past the volume's last sector
    std::int32_t SectorsPerCluster = 0;
    std::int64_t FatStart = 0;        // the first FAT
    std::uint32_t FatSectors = 0;
    std::int64_t RootStart = 0;       // FAT12/16
    std::uint32_t RootSectors = 0;    // FAT12/16
    std::uint32_t RootCluster = 0;    // FAT32
    std::int64_t DataStart = 0;       // cluster 2
    std::uint32_t Clusters = 0;       // clusters 2 to Clusters + 1 exist
    std::uint32_t Serial = 0;
    std::uint32_t BackupSector = 0;   // FAT32: where the boot sector's copy lies
    std::uint8_t Media = 0;
    std::uint32_t Fats = 0;           // copies of the FAT, one after the other
};
bool ExamineFatBoot(std::span<const std::uint8_t> sector, std::int64_t first, std::int64_t nodeEnd,
                    FatBootLayout& layout, TFsType type = vt::fsUnknown);

}  // namespace DataStruc

namespace DataStruc::detail {
class FatTable;
class FatTables;
}  // namespace DataStruc::detail

// Picture indexes of the advanced window's event log.
constexpr std::uint8_t kLogInfo = 0;
constexpr std::uint8_t kLogError = 1;
constexpr std::uint8_t kLogWarning = 2;

// The advanced window's event log; every log line of this engine goes there.
extern platform::IEventLog* EventLogView;

// A FAT directory entry found by the listing. TPhysMidEntry32 is the same
// record, allocated by the FAT32 variant of the directory parse.
struct TPhysMidEntry {
    TFatDirEntry DirEntry{};
    std::string LongName;
    std::int64_t DirSector = 0;    // first sector of the found directory it was read from
    std::uint32_t DirCluster = 0;  // that directory's own cluster (2 for a root)
    // The layout its clusters are read with: an index into the node's
    // FatVolumes, or -1 for the node's own SectorsPerCluster and DataStart.
    std::int32_t Volume = -1;
};
using TPhysMidEntry32 = TPhysMidEntry;
using PPhysMidEntry = TPhysMidEntry*;

// The cluster layout of one FAT volume inside a scanned node (a whole
// drive, an extended partition or a gap holds several): the directories
// found in it read their entries' clusters with it, and no cluster is read
// outside its extent.
struct TFatVolume {
    std::int64_t First = 0;  // the volume's first sector
    std::int64_t End = 0;    // past its last sector, never past the node's end
    TFsType FsType = vt::fsFat16;
    std::int32_t SectorsPerCluster = 0;  // 0: not known
    std::int64_t DataStart = -1;         // sector of cluster 2; below 0: not known
    // The layout the volume's boot sector gave, when the above are from it
    // and not estimated: where its FAT lies, along which a present file's
    // clusters are read.
    std::optional<DataStruc::FatBootLayout> Boot;
    bool FromBoot() const { return Boot.has_value(); }
};

// The master file table of one NTFS volume of a node, as the listing
// placed it by the runs of the $MFT record that stands where those runs put
// record 0: the volume's first sector and the table's extents, absolute
// sectors (with one-sector clusters a record may lie in two of them).
struct TNtfsTable {
    std::int64_t Volume = 0;
    TRunTable Extents;
};

// Node kinds by RawEntry.SysType.
constexpr std::uint8_t kSysGap = 0x00;       // unallocated gap
constexpr std::uint8_t kSysExtended = 0x05;  // extended entry; also the whole-drive root
constexpr std::uint8_t kSysExtendedLba = 0x0F;
constexpr std::uint8_t kSysLost = 0xFF;      // found by the deep scan

// One node of a drive's tree: the whole drive, a table entry, a gap or a
// lost partition. Its first sector is Base + RawEntry.StartLba.
struct TPartiEntry {
    ::DriveNo DriveNo = 0;
    TMbrEntry RawEntry;
    std::int64_t Base = 0;
    std::vector<TPartiEntry*> Children;  // owned by the drive's lists
    // What the partition scan and the FAT listing found on the node.
    std::vector<std::int64_t> DirSectors;
    std::vector<std::int64_t> NtfsFolders;
    std::vector<std::unique_ptr<TPhysMidEntry>> FatEntries;
    std::vector<std::unique_ptr<tntfsfilerecord>> NtfsEntries;
    std::int32_t SectorsPerCluster = 0;
    std::int32_t NtfsSectorsPerCluster = 0;
    // First sectors of the NTFS volumes whose $MFT record the listing found
    // on the node, ascending: a node that holds volumes (the whole drive, an
    // extended partition, a gap) counts their clusters from these.
    std::vector<std::int64_t> NtfsVolumeStarts;
    // The tables the listing placed, by volume; a record of one of them is
    // read through its extents.
    std::vector<TNtfsTable> NtfsTables;
    // FAT boot sectors the partition scan found on the node, in disk order,
    // and the layouts of the FAT volumes they and the found directories
    // make (the node's own volume, at its first sector, is not among them:
    // its layout is SectorsPerCluster and DataStart).
    std::vector<std::int64_t> FatBootSectors;
    std::vector<TFatVolume> FatVolumes;
    std::vector<PPhysMidEntry> FatFound;      // points into FatEntries; emptied with it
    std::vector<PNtfsFileRecord> NtfsFound;   // points into NtfsEntries; emptied with it
    std::int64_t DataStart = 0x7FFFFFFF;  // sector of cluster 2; 0x7FFFFFFF while not found
    // The node's own volume's layout when its boot sector gave it (then
    // SectorsPerCluster and DataStart are its): where its FAT lies.
    std::optional<DataStruc::FatBootLayout> FatBoot;
    TFsType FatType = vt::fsFat12;
    std::string VolumeLabel;
    bool Scanned = false;

    // The node's length in sectors. A table entry's is its entry's 32-bit
    // count; the nodes this engine makes itself (the whole drive from the
    // disk's length, a gap, a lost partition, a logical drive's volume) may
    // pass 2^32 sectors, and their RawEntry.SectorCount holds the low 32
    // bits. -1: the entry's count.
    std::int64_t Length = -1;

    std::int64_t FirstSector() const { return Base + RawEntry.StartLba.get(); }
    std::int64_t SectorTotal() const { return Length >= 0 ? Length : RawEntry.SectorCount.get(); }
    void SetSectorTotal(std::int64_t sectors) {
        Length = sectors;
        RawEntry.SectorCount.set(static_cast<std::uint32_t>(sectors));
    }
    // A node the engine makes at an absolute sector: its start counts from
    // origin when the distance fits the entry's 32 bits, else from itself.
    void SetFirstSector(std::int64_t origin, std::int64_t first) {
        Base = first - origin <= 0xFFFFFFFF ? origin : first;
        RawEntry.StartLba.set(static_cast<std::uint32_t>(first - Base));
    }
    bool IsExtended() const { return RawEntry.SysType == kSysExtended || RawEntry.SysType == kSysExtendedLba; }
};
using PPartiEntry = TPartiEntry*;

// The letters A to Z whose root has drive type removable or fixed.
std::string GetLocalDriveLetters();
// NT: drive number and IOCTL_DISK_GET_DRIVE_GEOMETRY; 9x: BIOS number and
// the INT 13h drive parameters.
bool GetPhysicalDriveGeometry(int number, TDriveGeometry& geometry);
// No partition node of the list (a node that is not a gap, a whole drive
// or an extended entry) starts at Lba.
bool IsNewPartitionStart(std::int64_t lba, const std::vector<std::unique_ptr<TPartiEntry>>& list);
// The volume serial of a FAT12/16, FAT32 or NTFS boot sector.
std::uint32_t GetVolumeSerial(std::span<const std::uint8_t> boot, TFsType fsType);

// Sectors per cluster by size in MiB: the first row whose threshold is at
// most the size.
struct TFatSpcRow {
    std::uint16_t ThresholdMiB;
    std::uint16_t SectorsPerCluster;
};
extern const std::array<TFatSpcRow, 9> FatSpcTable16;
extern const std::array<TFatSpcRow, 10> FatSpcTable32;
// The lookup; sizes below the last threshold of FatSpcTable32 (32 MiB) get 1
// sector per cluster, the value of that row.
std::uint16_t LookupSectorsPerCluster(bool fat32, std::uint32_t sizeMiB);

// The directory test of the partition scan: "." and ".." name fields.
bool IsDirectoryStart(std::span<const std::uint8_t> sector);
// The record test: "FILE" and a first attribute of type 0x10.
bool IsFileRecordStart(std::span<const std::uint8_t> sector);
// The "." entry of a FAT32 directory carries a high cluster word.
bool IsFat32DotEntry(std::span<const std::uint8_t> entry);
int CompareByDirSector(const TPhysMidEntry* a, const TPhysMidEntry* b);

class TPhysicalDrive {
public:
    explicit TPhysicalDrive(const TDriveGeometry& geometry);
    TPhysicalDrive(const TPhysicalDrive&) = delete;
    TPhysicalDrive& operator=(const TPhysicalDrive&) = delete;

    TDriveGeometry Geometry;
    PPartiEntry CurPartition = nullptr;
    bool Busy = false;
    std::vector<std::unique_ptr<TPartiEntry>> Partitions;      // item 0: the whole drive
    std::vector<std::unique_ptr<TPartiEntry>> LostPartitions;  // deep-scan finds
    bool Aborted = false;
    std::vector<std::int64_t> MftSectors;

    bool ReadPartitionTable(PPartiEntry node);
    void ReadVolumeLabel(win::HANDLE h, PPartiEntry node);
    bool DeepScan(PPartiEntry entry, platform::IProgressBar* progressBar);

    bool ScanPartition(PPartiEntry entry, platform::IProgressBar* progressBar);
    void BuildFatList(platform::IProgressBar* progressBar);
    bool ParseFatDirectory(bool isRoot, std::int64_t lba);
    void EstimateFatLayout(const TPhysMidEntry* a, const TPhysMidEntry* b);

    void BuildNtfsList(platform::IProgressBar* progressBar);
    void ReadMftBatch(win::HANDLE h, std::int32_t& index, platform::IProgressBar* progressBar);
    void CollectNtfsFolders();
    void FindNtfsVolumeStarts(win::HANDLE h);
    // The name of a base record whose $FILE_NAME lies in an extension
    // record, and its flags and sizes; `read` holds the sectors of the
    // batch from readFirst on. False when no extension of it gives one.
    bool NameFromExtension(win::HANDLE h, std::int64_t sector, std::span<std::uint8_t> base,
                           std::span<const std::uint8_t> read, std::int64_t readFirst, tntfsfilerecord& found,
                           std::uint16_t& flags, std::int64_t& realSize, std::int64_t& allocated);
    // The record decoder and attribute extractor of this engine: a resident
    // $DATA is given one cluster of the FAT listing's estimate.
    bool ParseMftRecord(std::span<std::uint8_t> record, std::uint16_t& fileNameOffset, std::uint16_t& recordFlags,
                        std::int64_t& realSize, std::int64_t& allocatedSize);
    bool GetRecordAttribute(std::span<std::uint8_t> record, std::uint16_t type, TAttribute& attr);

    // Votes of the NTFS listing for 4096, 2048, ... 2 and 1 sectors per
    // cluster.
    std::array<std::uint32_t, 13> NtfsSpcVotes{};
    // Records of the last NTFS listing that were left out as torn.
    std::uint32_t NtfsDamagedRecords = 0;

    // How a found record read: whole, not at all, or with sectors of two
    // writes (torn).
    enum class RecordRead { Whole, Unreadable, Torn };
    // The found record whose first half lies at `sector`, fixed up: through
    // its table's extents where the listing placed the table (its halves
    // may lie apart), else the two sectors from there.
    RecordRead ReadFoundRecord(win::HANDLE h, std::int64_t sector, std::span<std::uint8_t, kMftRecordSize> record) const;
    // The table the listing placed for the volume of the found record at
    // `sector`; null when there is none.
    const TNtfsTable* PlacedTableAt(std::int64_t sector) const;
    // The number of the found record at `sector`: its header's own, else
    // its place in its table; -1 when neither tells.
    std::int64_t FoundRecordNumber(std::span<const std::uint8_t> record, std::int64_t sector) const;
    // Record `number` of the table that holds the found record at
    // baseSector (whose number is baseNumber), fixed up and naming itself
    // so where its header can: through the table's extents where they are
    // known, else in the same stretch of the table, two sectors a record
    // from the found one. False when it cannot be had whole.
    bool ReadRecordNear(win::HANDLE h, std::int64_t baseSector, std::int64_t baseNumber, std::int64_t number,
                        std::span<std::uint8_t, kMftRecordSize> record) const;
    // The value of the $ATTRIBUTE_LIST of the found record at `sector` into
    // list.Data: as it is when resident, else read from its clusters (which
    // needs the listing's cluster size). False when it cannot be read.
    bool ReadListValue(win::HANDLE h, std::int64_t sector, TAttribute& list) const;
    // How a file's $DATA came out of its attribute list.
    enum class ListedData { Found, Partial, Failed };
    // The unnamed $DATA of the found record at `sector` (fixed up in base)
    // through its attribute list: the first extent's attribute into data,
    // the runs of every extent into runs. Partial: an extent could not be
    // had, the runs end before it; Failed: the list or the file's first
    // extent could not be had.
    ListedData FollowAttributeList(win::HANDLE h, std::int64_t sector, std::span<std::uint8_t, kMftRecordSize> base,
                                   TAttribute& data, trunlist& runs) const;
    // The $DATA of the found record at `sector` (fixed up in record), its
    // own or through its attribute list. NoData: none to be had.
    // Partial also: runs that disagree with the clusters their attribute
    // header says they map.
    enum class FileData { Found, Partial, NoData, Failed };
    FileData FindFileData(win::HANDLE h, std::int64_t sector, std::span<std::uint8_t, kMftRecordSize> record,
                          TAttribute& data, trunlist& runs) const;
    // Whether the $Bitmap of the volume of the found record at `sector`
    // marks one of the first `clusters` clusters of the runs in use; empty
    // when the listing placed no table there or the bitmap does not read.
    std::optional<bool> ClustersInUse(win::HANDLE h, std::int64_t sector, const trunlist& runs,
                                      std::int64_t clusters) const;

    void Stop();
    void ClearAbort();

    // Browse, search and recovery (DataStrucRecover.cpp, DataStrucSearch.cpp)
    // on CurPartition. Entry is a tntfsfilerecord of NtfsEntries for Kind 3
    // (NTFS), else a TPhysMidEntry of FatEntries; in the recoveries Kind 2
    // also means FAT32 cluster numbers.
    bool ReadFileHead(const void* entry, TFsType kind, std::array<std::uint8_t, 2048>& buffer);
    bool FindFatChildRange(std::int64_t dirSector, std::int32_t& first, std::int32_t& last);
    bool FindNtfsChildRange(const std::vector<std::unique_ptr<tntfsfilerecord>>& list, std::int64_t parentNo,
                            std::int32_t& first, std::int32_t& last);
    bool SearchEntries(TFsType kind, const std::string& masks, bool caseSensitive, std::uint8_t dateKind,
                       double dateFrom, double dateTo, std::int64_t sizeFrom, std::int64_t sizeTo,
                       std::int64_t folderKey);
    // Result 1: the user stopped the copy (the caller ends its batch); 0 in
    // every other case.
    int RecoverFile(const void* entry, TFsType kind, const std::string& targetDir, platform::IProgressBar* progressBar,
                    platform::IStatusPanel* statusPanel);
    int RecoverFolder(const TPhysMidEntry* entry, TFsType kind, const std::string& targetDir,
                      platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel);
    // The same into a target folder that is open: a batch writes all of its
    // rows through the one descriptor of the folder the user chose.
    int RecoverFile(const void* entry, TFsType kind, const vt::TargetFolder& target,
                    platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel);
    int RecoverFolder(const TPhysMidEntry* entry, TFsType kind, const vt::TargetFolder& target,
                      platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel);
    // The first sector of a found entry's first cluster (for a folder: the
    // found directory it names), by the layout of the volume that holds the
    // entry; Kind 2 means FAT32 cluster numbers where the node's own layout
    // is used. None when that layout is not known or the cluster lies
    // outside the volume.
    std::optional<std::int64_t> FatEntrySector(const TPhysMidEntry& entry, TFsType kind) const;
    // The run list of a compressed file into the stream, unit by unit;
    // False on a failed read or a short write (stream.ShortWrite() tells).
    // recordSector: the file record's sector, which tells the volume the
    // clusters belong to.
    bool WriteNtfsRuns(vt::TFileStream& stream, const trunlist& runs, std::int64_t fileSize,
                       std::int64_t recordSector);

    // Bounds of the folder recovery: how deep folders nest (a Windows path
    // of 260 characters holds at most 130 levels of one-letter names) and
    // how often one found directory is written in one recovery.
    static constexpr std::size_t kMaxFolderDepth = 130;
    static constexpr std::uint32_t kMaxDirectoryVisits = 8;

private:
    struct TableWalk;
    bool WalkTable(PPartiEntry node, TableWalk& walk, std::int64_t extendedStart, std::int64_t& reached);
    PPartiEntry AddNode(std::unique_ptr<TPartiEntry> node);
    void ClearFatListing(TPartiEntry& node);
    struct FatGroup;
    // The FAT volumes of the node: which found directory belongs to which,
    // and the layout each is read with (DataStrucFatVolumes.cpp).
    std::vector<FatGroup> SplitFatVolumes(win::HANDLE h, std::vector<std::int32_t>& dirGroup);
    void ListFatRoots(win::HANDLE h, std::vector<FatGroup>& groups, DataStruc::detail::FatTables& tables);
    // A root guessed before the estimated cluster 2 of a layout without a
    // boot sector to trust.
    void GuessFatRoot(const FatGroup& group);
    bool ParseDirectorySectors(bool isRoot, std::int64_t lba, std::uint32_t sectors, TFsType variant,
                               std::int32_t volume);
    // bytes: the directory whole (a root, a chain the FAT gives) when
    // whole, else a read-ahead in which the first entry without a name
    // ends it.
    void ParseDirectoryBuffer(bool isRoot, std::int64_t lba, std::span<const std::uint8_t> bytes, TFsType variant,
                              std::int32_t volume, bool whole = false);
    // A directory of a volume whose boot sector places its FAT, from its
    // first cluster: along its chain in that FAT when the chain ends (or
    // leads back into itself: the clusters before the repeat), else
    // (a deleted folder's clusters are free; a damaged FAT) as `sectors`
    // consecutive sectors from that cluster on, as a found directory of a
    // volume without a FAT to go by is read.
    void ParseDirectoryChain(win::HANDLE h, bool isRoot, std::uint32_t cluster, DataStruc::detail::FatTable& fat,
                             std::uint32_t sectors, TFsType variant, std::int32_t volume);
    std::int64_t NodeEnd(const TPartiEntry& node) const;
    void Vote(std::int64_t dataSize, std::int64_t allocatedSize, const trunlist& runs);
    // The recoveries into a target folder that is open: a folder's tree is
    // written through the descriptors of the folders made for it.
    int RecoverFileIn(const void* entry, TFsType kind, const vt::TargetFolder& target,
                      platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel);
    int RecoverNtfsFile(const tntfsfilerecord& rec, const vt::TargetFolder& target,
                        platform::IProgressBar* progressBar);
    int RecoverFatFile(const TPhysMidEntry& entry, TFsType kind, const vt::TargetFolder& target,
                       platform::IProgressBar* progressBar);
    // A present file of the listing shares a cluster its size needs with
    // another present file of its volume (cross-linked chains), by the
    // volume's FAT. Worked out once per volume of a listing.
    bool CrossLinked(const TPhysMidEntry& entry, DataStruc::detail::FatTable& fat);
    // One folder of a folder recovery. With Skipped set nothing is made or
    // written: the walk only counts, into Skipped, the files and folders
    // that the recovery of the folder would have written (the contents of a
    // folder that could not be made).
    int RecoverFolderLevel(const TPhysMidEntry& entry, TFsType kind, const vt::TargetFolder* target,
                           platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel,
                           TFolderContents* skipped = nullptr);
    // The first sector of a FAT cluster by the node's own layout; none when
    // the layout is unknown or the sector does not exist.
    std::optional<std::int64_t> FatClusterSector(std::uint32_t cluster) const;
    // Where a found entry's first cluster lies, by the layout of the volume
    // its directory belongs to, and the end of that volume (0: not known),
    // past which none of its clusters lie.
    struct FatPlace {
        std::int64_t Sector = 0;
        std::int64_t Limit = 0;
        // The layout the entry's volume's boot sector gave, when it did:
        // where its FAT lies (null: estimated).
        const DataStruc::FatBootLayout* Boot = nullptr;
        std::int32_t SectorsPerCluster = 0;
    };
    std::optional<FatPlace> PlaceFatEntry(const TPhysMidEntry& entry, TFsType kind) const;
    // The first sector of an NTFS cluster of the volume that holds the
    // record at recordSector: the latest found volume start at or before
    // the record, else the node's first sector.
    std::optional<std::int64_t> NtfsClusterSector(std::int64_t lcn, std::int64_t recordSector) const;
    // That volume's first sector, and its clusters: by its boot sector,
    // else the rest of the node from it; none when neither tells.
    std::int64_t NtfsVolumeStart(std::int64_t recordSector) const;
    std::optional<std::int64_t> NtfsVolumeClusters(win::HANDLE h, std::int64_t recordSector) const;
    // NTFS keeps copies of file records outside its table ($MFTMirr holds
    // records 0 to 3, $LogFile older states of any record), and the scan
    // finds them all. What the listing keeps of every record it decoded to
    // tell a copy from the record itself: the record number of the header
    // (NTFS 3.1; -1 without one) and its $LSN, by record sector; and the
    // run lists of the $MFT and $MFTMirr records found, which place the
    // table and its mirror.
    struct RecordStamp {
        std::int64_t Sector = 0;
        std::int64_t Number = -1;
        std::uint64_t Lsn = 0;
    };
    std::vector<RecordStamp> recordStamps_;  // in the order decoded
    struct TableRuns {
        std::int64_t Sector = 0;
        bool Mirror = false;
        trunlist Runs;
    };
    std::vector<TableRuns> mftRuns_;
    // The runs of each volume's $LogFile: the log keeps copies of records
    // in pieces, torn by nature, which are no damaged records.
    std::vector<TableRuns> logRuns_;
    void NoteRecordStamp(std::int64_t sector, std::span<const std::uint8_t> record);
    // One decoded record of the listing at sector s, fixed up: its entry, or
    // a wait for the placing of its volume (a list in clusters). Read holds
    // the sectors of the batch from readFirst on (empty: none).
    void TakeFoundRecord(win::HANDLE h, std::int64_t s, std::span<std::uint8_t, kMftRecordSize> rec,
                         std::span<const std::uint8_t> read, std::int64_t readFirst);
    // After the vote and the volume starts: the tables the $MFT records
    // place, the records whose halves lay apart read again through them,
    // and the records with lists in clusters resolved.
    void PlaceNtfsTables(win::HANDLE h);
    void RetryTornRecords(win::HANDLE h);
    void ResolveListedRecords(win::HANDLE h);
    // First sectors of the records whose sectors did not match.
    std::vector<std::int64_t> tornSectors_;
    // A record whose $ATTRIBUTE_LIST lies in clusters: one without a name of
    // its own (Entry empty) waits for its names and sizes, a listed one
    // (Entry) for the sizes and first cluster of its stream.
    struct ListedRecord {
        std::int64_t Sector = 0;
        std::array<std::uint8_t, kMftRecordSize> Record{};
        tntfsfilerecord* Entry = nullptr;
    };
    std::vector<ListedRecord> listedRecords_;
    // Records with the same number in one volume are one file. Where the
    // volume's table was placed by its own record 0, the record at the
    // number's place in it stays and every copy outside it is dropped (a
    // copy in $MFTMirr without a number in its header, as NTFS 3.0 writes
    // them, has the number of its place in the mirror);
    // elsewhere the records of one number, folder and name are one file and
    // the one with the highest $LSN stays. A record whose number is
    // unknown, or found only once, stays.
    void DropRecordCopies();

    // Found directories (by first sector) on the path of the folder
    // recovery in progress, and how often each was entered during it.
    std::vector<std::int64_t> recoverPath_;
    std::unordered_map<std::int64_t, std::uint32_t> recoverVisits_;
    // The found directories of sortedDirsNode_, ascending; made again when
    // a scan or a listing changed them.
    std::vector<std::int64_t> sortedDirs_;
    const TPartiEntry* sortedDirsNode_ = nullptr;
    // The cross-linked files of the listing of crossNode_, for the volumes
    // in crossBuilt_; emptied with the listing.
    const TPartiEntry* crossNode_ = nullptr;
    std::set<std::int32_t> crossBuilt_;
    std::set<const TPhysMidEntry*> crossLinked_;
};

// The name a found FAT entry is shown, searched and recovered under: its
// long name, or the 8.3 name trimmed of blanks and control characters, with
// "?" for a deletion mark and OEM bytes as UTF-8.
std::string PhysEntryDisplayName(const TPhysMidEntry& entry);
// Its first cluster: the low word, with the high word for FAT32.
std::uint32_t PhysEntryFirstCluster(const TPhysMidEntry& entry, bool fat32);

class TPhysicalDriveList {
public:
    static constexpr std::size_t kMaxDrives = 26;
    TPhysicalDriveList();
    TPhysicalDriveList(const TPhysicalDriveList&) = delete;
    TPhysicalDriveList& operator=(const TPhysicalDriveList&) = delete;

    std::uint8_t Count = 0;
    std::array<std::unique_ptr<TPhysicalDrive>, kMaxDrives> Drives;

    bool Refresh();
};
