// NTFS file records, attributes and run lists: the vocabulary both recovery
// engines share.
//
// A master-file-table record is 1024 bytes (two 512-byte sectors). Every
// read inside a record goes through a bounds-checked reader over the record
// span: an attribute, name, value or run list that would reach past the
// record is cut at its end or taken as absent, never read past it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Bytes.h"

// Size of a master-file-table record on the volumes both engines accept.
constexpr std::size_t kMftRecordSize = 1024;
// The largest record the advanced engine reads: mkntfs makes records as
// large as a sector, so a volume of 4096-byte sectors has records of 4096
// bytes (eight of the drive's 512-byte sectors as this program reads it).
constexpr std::size_t kMaxMftRecordSize = 4096;

// The size of a record as its own header gives it: the allocated bytes at
// 0x1C when they are 1024, 2048 or 4096 and the update sequence at 0x06
// counts a word for every 512 bytes and one more; 1024 for any other
// header (a damaged one among them).
std::size_t RecordBytes(std::span<const std::uint8_t> record);

// Attribute types.
constexpr std::uint32_t kAttrStandardInformation = 0x10;
constexpr std::uint32_t kAttrAttributeList = 0x20;
constexpr std::uint32_t kAttrFileName = 0x30;
constexpr std::uint32_t kAttrVolumeName = 0x60;
constexpr std::uint32_t kAttrData = 0x80;
constexpr std::uint32_t kAttrEnd = 0xFFFFFFFFu;

// $FILE_NAME file attributes: the folder flag (the index of $I30 is present)
// and the compressed flag.
constexpr std::uint32_t kFileAttrDirectory = 0x10000000u;
constexpr std::uint32_t kFileAttrCompressed = 0x800u;

// Attribute header flag: the attribute's value is stored compressed.
constexpr std::uint16_t kAttrFlagCompressed = 0x0001;
// The compression unit of the compressed streams Windows writes: 2^4
// clusters.
constexpr std::uint16_t kCompressionUnitLog2 = 4;

// Record header flag: the record is in use (clear: deleted).
constexpr std::uint16_t kRecordInUse = 0x0001;

// The first 66 bytes of a $FILE_NAME value in their on-disk layout; the
// name follows as UTF-16 at value offset 66.
struct TFileNameHead {
    vt::le64 ParentRef;         // 0x00 file reference of the parent folder (record number: low six bytes)
    vt::le64 CreationTime;      // 0x08 FILETIME
    vt::le64 ModificationTime;  // 0x10 FILETIME
    vt::le64 MftChangeTime;     // 0x18 FILETIME
    vt::le64 AccessTime;        // 0x20 FILETIME
    vt::le64 AllocatedSize;     // 0x28 signed
    vt::le64 RealSize;          // 0x30 signed
    vt::le32 FileAttributes;    // 0x38 0x10000000 folder, 0x800 compressed
    vt::le32 ReparseValue;      // 0x3C
    std::uint8_t NameLength;    // 0x40 characters
    std::uint8_t NameSpace;     // 0x41 POSIX, Win32, DOS, Win32 and DOS
};
static_assert(sizeof(TFileNameHead) == 66);

// One NTFS file or folder found in a master file table. Allocated with
// every field zero; the entry lists own their records.
struct tntfsfilerecord {
    std::int64_t RecordSector = 0;   // sector of the record's first half
    std::int64_t RecordNo = 0;       // record number (0 where the engine cannot know it)
    std::int64_t AllocatedSize = 0;  // allocated size of $DATA, bytes
    std::int64_t DataSize = 0;       // real size of $DATA, bytes: shown, searched, recovered
    std::string Name;                // UTF-8 (the program's ANSI code page)
    TFileNameHead FileName{};        // head of the record's first $FILE_NAME
    std::uint16_t RecordFlags = 0;   // bit 0 clear: deleted
    std::int64_t DataLcn = 0;        // first data cluster (advanced engine)
    tntfsfilerecord* Parent = nullptr;
};
using PNtfsFileRecord = tntfsfilerecord*;

// The 16-byte header every attribute starts with.
struct TAttrHeader {
    vt::le32 Type;               // 0x00
    vt::le32 Length;             // 0x04 only the low 16 bits step to the next attribute
    std::uint8_t NonResident;    // 0x08
    std::uint8_t NameLength;     // 0x09 UTF-16 characters
    vt::le16 NameOffset;         // 0x0A
    vt::le16 Flags;              // 0x0C 1: compressed
    vt::le16 AttributeId;        // 0x0E
};
static_assert(sizeof(TAttrHeader) == 16);

// The part of a resident attribute after the header (attribute offset 0x10).
struct TResidentPart {
    vt::le32 ValueLength;        // 0x10
    vt::le16 ValueOffset;        // 0x14
    std::uint8_t Indexed;        // 0x16
    std::uint8_t Reserved;       // 0x17
};
static_assert(sizeof(TResidentPart) == 8);

// The part of a non-resident attribute after the header (attribute offset 0x10).
struct TNonResidentPart {
    vt::le64 StartingVcn;        // 0x10
    vt::le64 LastVcn;            // 0x18
    vt::le16 MappingPairsOffset; // 0x20
    vt::le16 CompressionUnit;    // 0x22 log2 of clusters per unit
    std::uint8_t Reserved[4];    // 0x24
    vt::le64 AllocatedSize;      // 0x28
    vt::le64 RealSize;           // 0x30
    vt::le64 InitializedSize;    // 0x38
};
static_assert(sizeof(TNonResidentPart) == 48);

// One attribute taken out of a record: exactly one of Resident and
// NonResident is set. Data is the resident value or the mapping pairs.
struct TAttribute {
    TAttrHeader Header{};
    std::optional<TResidentPart> Resident;
    std::optional<TNonResidentPart> NonResident;
    std::vector<std::uint8_t> Name;  // 2 x name length UTF-16 bytes
    std::vector<std::uint8_t> Data;
};

// One run: absolute first cluster and length in clusters, or a sparse run
// (a hole, Lcn 0). A TRunTable uses the same element for a master-file-table
// extent: its first volume sector and its number of sectors.
struct TDataRun {
    std::int64_t Lcn = 0;
    std::int64_t Length = 0;
    // A run without an offset: a hole, read as zeros. Cluster 0 is no hole:
    // it is the volume's boot sector, the first cluster of $Boot.
    bool Sparse = false;
    friend bool operator==(const TDataRun&, const TDataRun&) = default;
};
using trunlist = std::vector<TDataRun>;
using TRunTable = std::vector<TDataRun>;

// One $ATTRIBUTE_LIST entry (the 26 bytes read of each).
struct TAttrListEntry {
    vt::le32 Type;               // 0x00
    vt::le16 Length;             // 0x04
    std::uint8_t NameLength;     // 0x06
    std::uint8_t NameOffset;     // 0x07
    vt::le64 StartingVcn;        // 0x08
    vt::le64 FileRef;            // 0x10 record that holds the attribute
    vt::le16 AttributeId;        // 0x18
};
static_assert(sizeof(TAttrListEntry) == 26);
constexpr std::size_t kAttrListEntrySize = sizeof(TAttrListEntry);
// An attribute list names a few entries per extent of an attribute; a
// value beyond this many bytes is no list of a real file.
constexpr std::int64_t kMaxAttributeList = 256 * 1024;

// The record number of an 8-byte file reference: its low six bytes (the
// sequence number in the high two is dropped).
std::int64_t FileRefToInt64(std::uint64_t fileRef);
std::int64_t FileRefToInt64(const vt::le64& fileRef);

// List-sort order: by parent record number, then by name, byte by byte.
// Returns -1, 0 or 1.
int CompareNtfsRecords(const tntfsfilerecord* a, const tntfsfilerecord* b);

// A file rather than a folder: FileName.FileAttributes below 0x10000000.
bool IsNtfsFile(const tntfsfilerecord* record);

// The update-sequence fix-up of a record as read: when every 512 bytes of
// its RecordBytes end with the update sequence number, puts the saved
// end-of-sector words back (at bytes 510 and 1022 of a 1024-byte record)
// and gives true. A record whose sector ends do not match (torn by a write
// that did not finish), or that is shorter than its size, is left as it is
// and gives false: it is damaged.
[[nodiscard]] bool ApplyRecordFixup(std::span<std::uint8_t> record);

// The attribute extractor both engines share: walks the attributes of a
// fixed-up record from the first-attribute offset and copies the first one
// of the given type. False when there is none.
bool ExtractRecordAttribute(std::span<std::uint8_t> record, std::uint16_t type, TAttribute& attr);

// The attribute that an $ATTRIBUTE_LIST entry stands for, in the fixed-up
// record that the entry names: the one of the entry's type, instance and
// name length, and (non-resident) of the entry's first cluster. False
// when the record holds no such attribute.
bool ExtractListedAttribute(std::span<std::uint8_t> record, const TAttrListEntry& entry, TAttribute& attr);

// Reads the record of a number in the file's table, fixed up; false when
// it cannot be had whole.
using TRecordByNumber = std::function<bool(std::int64_t recordNo, std::span<std::uint8_t, kMaxMftRecordSize> record)>;

// The runs of the unnamed $DATA extents that an attribute list names,
// appended in the order of the clusters they map, each taken from the
// record the entry names by type, lowest VCN and instance: a record whose
// base reference is this file (owner: the base record's number) and an
// extent that begins where the one before it ended. Attr receives the
// first extent's attribute (its sizes, flags and compression unit). An
// extent that cannot be had (its record unreadable, torn, or taken by
// another file since) ends the runs there and clears Whole. False for a
// list shorter than one entry, or after an exception (with its box).
bool GatherListedDataRuns(std::span<const std::uint8_t> list, std::int64_t owner, const TRecordByNumber& readRecord,
                          trunlist& runs, TAttribute& attr, bool* whole);

// The value of a non-resident attribute of at most maxSize bytes, read
// through its runs cluster by cluster (holes as zeros): readCluster fills
// one cluster of clusterBytes. False when the value is larger, a run list
// does not decode, a run reaches past a volume of volumeClusters clusters
// or a cluster does not read.
bool ReadNonResidentValue(const TAttribute& attr, std::int64_t maxSize, std::size_t clusterBytes,
                          std::int64_t volumeClusters,
                          const std::function<bool(std::int64_t lcn, std::uint8_t* cluster)>& readCluster,
                          std::vector<std::uint8_t>& value);

// The first out.size() bytes of a non-resident stream through its runs:
// holes, and the bytes past the initialized size, as zeros (NTFS reads
// them so); the rest of out is zeros when the runs end first. readSectors
// reads `sectors` sectors from the first one of cluster lcn. False when a
// read fails; out is then as it was.
bool ReadStreamHead(const trunlist& runs, std::int64_t sectorsPerCluster, std::int64_t initialized,
                    std::span<std::uint8_t> out,
                    const std::function<bool(std::int64_t lcn, std::int64_t sectors, std::uint8_t* buffer)>& readSectors);

// An attribute's initialized size: the bytes of its value that were
// written, past which NTFS reads zeros; never more than size.
std::int64_t InitializedBytes(const TAttribute& data, std::int64_t size);

// Decodes mapping pairs and appends the runs to the list, so that the
// extents of a fragmented stream decode one after another into one list.
// Malformed pairs end the decoding early; the runs so far stay. False only
// when an exception ended it (after an error box).
bool DecodeRunList(std::span<const std::uint8_t> mappingPairs, trunlist& runs);

// How the runs of one attribute's mapping pairs compare with the clusters
// its own header says they map (its first VCN to its last VCN).
enum class TRunsFit {
    Exact,     // they map exactly that range
    TooLong,   // they map more: the runs were cut at the range's end
    TooShort,  // they end before the range does
};

// Decodes a non-resident attribute's mapping pairs and appends its runs,
// held to the range of clusters its header gives (a run that reaches past
// the last VCN is cut there). A run list that disagrees with its own header
// has a damaged byte somewhere: what it maps is no longer sure from the
// first disagreeing run on, and whoever writes the file names it as failed.
// False only when an exception ended the decoding (after an error box).
bool DecodeAttributeRuns(const TAttribute& attr, trunlist& runs, TRunsFit& fit);

// Cuts the runs after the first `clusters` clusters they map (the clusters
// an attribute's allocated size holds). True when it cut.
bool CutRunsAfterClusters(trunlist& runs, std::int64_t clusters);

// Whether a cluster the runs map within their first `clusters` clusters is
// marked in use in the volume's $Bitmap: the clusters of a deleted file
// that a file written since took over. bitmapRuns map the $Bitmap stream;
// readCluster fills one cluster of clusterBytes. Empty when the bitmap
// does not read.
std::optional<bool> RunsInUse(const trunlist& runs, std::int64_t clusters, const trunlist& bitmapRuns,
                              std::size_t clusterBytes,
                              const std::function<bool(std::int64_t lcn, std::uint8_t* cluster)>& readCluster);

// The table's stream through its extents {first volume sector, number of
// sectors}: the volume sector of the stream's sector `index`, -1 when the
// table does not reach it.
std::int64_t MftStreamSector(const TRunTable& extents, std::int64_t index);
// The sectors a table's records take: two for 1024-byte records, eight for
// 4096-byte ones. The functions below number records so.
// Cuts the run list before the first run that does not lie inside a volume
// of `clusters` clusters (one that starts in it and runs past its end, too:
// the bytes there are the disk's, not the file's). True when it cut.
bool CutRunsAtVolumeEnd(trunlist& runs, std::int64_t clusters);
// Cuts a run list at the end of a volume of `clusters` clusters: a run
// that starts in it and runs past its end is shortened to end there, the
// runs after it are dropped (the table's own runs: its records inside the
// volume still read). True when it cut.
bool TrimRunsAtVolumeEnd(trunlist& runs, std::int64_t clusters);

// Whether a resident attribute's value came out whole: as many bytes as
// its value length says, inside its attribute.
bool ResidentValueWhole(const TAttribute& attr);

// Whether a non-resident $DATA is stored compressed: its own header says
// so (flags bit 0), whatever the file's attributes say.
bool IsCompressedData(const TAttribute& data);

// The record whose first half lies at a sector of the table's extents
// (absolute sectors, a record from every two sectors of the stream they
// make); -1 when the sector is no record start of the table.
std::int64_t MftSectorToRecord(const TRunTable& extents, std::int64_t sector, std::int64_t recordSectors = 2);
// The volume sector of a master-file-table record's first half; -1 when
// the table cannot place it.
std::int64_t MftRecordToSector(const TRunTable& extents, std::int64_t recordNo, std::int64_t recordSectors = 2);
// The volume sectors of both halves of a record: with one-sector clusters
// a record may straddle two extents, its halves far apart. A record of more
// than two sectors gives its first sector and the one after it, or nothing
// when its sectors do not lie in one extent (its clusters are never smaller
// than it: sectors of 4096 bytes make clusters of 4096 bytes at least).
std::optional<std::array<std::int64_t, 2>> MftRecordSectors(const TRunTable& extents, std::int64_t recordNo,
                                                            std::int64_t recordSectors = 2);

// UTF-16LE bytes, up to the first zero character, as UTF-8.
std::string Utf16LeToAnsi(std::span<const std::uint8_t> bytes);

// What a record decoder delivers.
struct TMftRecordInfo {
    std::uint16_t FileNameOffset = 0;  // of the chosen $FILE_NAME attribute
    std::uint16_t RecordFlags = 0;
    std::int64_t RealSize = 0;
    std::int64_t AllocatedSize = 0;
};

// How the two engines' record decoders differ.
struct TRecordDecoderVariant {
    // The $DATA search after the $FILE_NAME stops at a first type byte
    // of 0x80 (false) or of 0x80 and above (true).
    bool DataStopsAtOrAbove = false;
    // Allocated size given to a resident $DATA found in the record itself,
    // and to one fetched through the attribute list.
    std::int64_t ResidentAllocated = 0;
    std::int64_t ListResidentAllocated = 0;
    // Reads the value of the record's $ATTRIBUTE_LIST; false when the
    // record has none (or none that the engine can read).
    std::function<bool(std::span<std::uint8_t> record, std::vector<std::uint8_t>& value)> GetList;
    // Fetches the $DATA attribute that the first $DATA entry of the list
    // stands for.
    std::function<bool(std::span<std::uint8_t> record, const TAttrListEntry& entry, TAttribute& data)> FetchListData;
    // An exception outside the attribute list: an error box (true) or
    // silence (false); the result is false either way.
    bool BoxOnException = false;
};

// The record decoder both engines share, on a fixed-up record: the chosen
// $FILE_NAME (the first among the first three attributes, or one of those
// that directly follow it: a name of the POSIX, Win32 or Win32-and-DOS
// namespace before a DOS-only 8.3 name, else the longer name), the four
// times and the low attribute bits of $STANDARD_INFORMATION copied
// into the $FILE_NAME value in the buffer, and the $DATA sizes.
bool DecodeMftRecord(std::span<std::uint8_t> record, const TRecordDecoderVariant& variant, TMftRecordInfo& info);

// The $DATA sizes part of the decoder: the $DATA within seven attributes
// from the attribute at offset from, else the first $DATA entry of the
// record's attribute list. Only RealSize and AllocatedSize are set.
bool DecodeRecordData(std::span<std::uint8_t> record, std::size_t from, const TRecordDecoderVariant& variant,
                      TMftRecordInfo& info);

// The base record that a record extends (the header's reference at 0x20,
// its record number); 0 for a base record.
std::int64_t RecordBaseNumber(std::span<const std::uint8_t> record);

// The advanced engine's extractor and decoder, bound to the drive object
// later; the decoder needs the partition's estimated sectors per cluster
// (the size given to a resident $DATA).
bool PhysGetRecordAttribute(std::span<std::uint8_t> record, std::uint16_t type, TAttribute& attr);
bool PhysParseMftRecord(std::span<std::uint8_t> record, std::uint32_t sectorsPerCluster, std::uint16_t& fileNameOffset,
                        std::uint16_t& recordFlags, std::int64_t& realSize, std::int64_t& allocatedSize);

// The advanced engine's decoder settings for a cluster size (sectors).
TRecordDecoderVariant PhysDecoderVariant(std::uint32_t sectorsPerCluster);

// A record's own number (header offset 0x2C, NTFS 3.1); -1 when its header
// has none.
std::int64_t RecordOwnNumber(std::span<const std::uint8_t> record);
// The records that a fixed-up base record's resident attribute list names
// for its $FILE_NAME attributes, in list order.
std::vector<std::int64_t> ListedNameRecords(std::span<std::uint8_t> base);
// The same from an attribute list's value.
std::vector<std::int64_t> ListedNameRecords(std::span<const std::uint8_t> listValue);

// The outcome of turning a decoded record into a found record.
enum class TFoundRecordResult {
    NoName,     // the first $FILE_NAME has no characters: no entry
    EmptyName,  // the name is empty after trimming: no entry
    Accepted,
};

// Fills FileName (the 66-byte head at the chosen $FILE_NAME's value) and
// Name (that attribute's name, UTF-8, trimmed of characters up to the
// blank): a file's name and its folder come from the same attribute, also
// when hard links give it several. Other fields are the caller's.
TFoundRecordResult BuildFoundRecord(std::span<const std::uint8_t> record, std::uint16_t fileNameOffset,
                                    tntfsfilerecord& out);
// The four times and the low half of the file attributes of a fixed-up
// base record's $STANDARD_INFORMATION into a $FILE_NAME head (an extension
// record has none of its own); nothing when the base has none.
void TakeStandardInformation(std::span<std::uint8_t> base, TFileNameHead& head);
// The same for a base record whose names lie in an extension record (a
// fixed-up record the caller has checked to be this base's): the name and
// folder from the extension's names, the times and low file attributes
// from the base's $STANDARD_INFORMATION.
TFoundRecordResult BuildFoundRecordFromExtension(std::span<std::uint8_t> base, std::span<const std::uint8_t> extension,
                                                 tntfsfilerecord& out);

// An error box with an exception's message (error icon, OK button).
void ShowExceptionBox(const char* message);
