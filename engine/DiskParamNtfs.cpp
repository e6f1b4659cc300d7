// The standard engine's NTFS scan: the volume's master file table, read
// extent by extent in batches, turned into the drive's list of NTFS
// records, and the reading of single records and attributes it rests on.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <exception>
#include <iterator>
#include <unordered_set>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "PageBuffer.h"
#include "PumpedSort.h"

namespace {

using vt::ByteReader;

// Sectors per batch of the table scan (500 records).
constexpr std::uint32_t kBatchSectors = 1000;
// A batch that fails is read again in pieces of this many sectors.
constexpr std::uint32_t kRetrySectors = 32;
// The FILETIME of the placeholder folders: 4 January 2003, 11:58:38 UTC.
constexpr std::uint64_t kFolderTemplateTime = 0x01C2B3E89E384F50ull;

void DeleteNtfsRecord(tntfsfilerecord* record) { delete record; }

bool IsRecordStart(const std::uint8_t* p) {
    return std::memcmp(p, "FILE", 4) == 0 || std::memcmp(p, "BAAD", 4) == 0;
}

std::uint32_t SectorsPerCluster(const TLogiDrive& drive) { return drive.BootSector[0x0D]; }

}  // namespace

TNtfsRecordOwner NewNtfsRecord() { return TNtfsRecordOwner(new tntfsfilerecord(), &DeleteNtfsRecord); }

void TUndelete::CreateFolderTemplate() {
    FolderTemplate = NewNtfsRecord();
    FolderTemplate->RecordNo = 2;
    FolderTemplate->FileName.ParentRef.set(1);
    FolderTemplate->FileName.FileAttributes.set(kFileAttrDirectory);
    FolderTemplate->FileName.ModificationTime.set(kFolderTemplateTime);
}

bool TUndelete::ReadVolumeSectors(std::int64_t Sector, std::uint32_t Count, void* Buffer) {
    if (!Current || Sector < 0 || Count == 0 || Count > 0xFFFF) return false;
    return ReadLogicalSectors64(Current->Name, static_cast<std::uint64_t>(Sector), static_cast<std::uint16_t>(Count),
                                Buffer);
}

const TRunTable& TUndelete::CurrentMftRuns() const {
    // The table of the drive being read: a drive scanned earlier keeps its
    // own in the cache, while MftRuns belongs to the drive scanned last.
    if (Current && !Current->Name.empty()) {
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(Current->Name[0])));
        for (const TARunTable& entry : MftRunCache)
            if (entry.Drive == letter) return entry.Runs;
    }
    return MftRuns;
}

std::int64_t TUndelete::MftPosToSector(std::int64_t RecordNo) {
    try {
        return MftRecordToSector(CurrentMftRuns(), RecordNo);
    } catch (...) {
        return -1;
    }
}

bool TUndelete::GetRecordAttribute(std::span<std::uint8_t> Record, std::uint16_t AttrType, TAttribute& Attr) {
    try {
        return ExtractRecordAttribute(Record, AttrType, Attr);
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

bool TUndelete::LoadAttributeListValue(TAttribute& Attr) {
    if (!Attr.NonResident) return true;
    // A non-resident list: its mapping pairs lead to the clusters that hold
    // the entries.
    const std::uint32_t spc = SectorsPerCluster(*Current);
    if (spc == 0) return false;
    std::vector<std::uint8_t> value;
    if (!ReadNonResidentValue(Attr, kMaxAttributeList, static_cast<std::size_t>(spc) * vt::kSectorSize,
                              VolumeClusters(), [&](std::int64_t lcn, std::uint8_t* cluster) {
                                  const auto sector = vt::CheckedMul<std::int64_t>(lcn, spc);
                                  return sector && ReadVolumeSectors(*sector, spc, cluster);
                              },
                              value))
        return false;
    Attr.Data = std::move(value);
    return true;
}

bool TUndelete::ReadMftAttribute(std::uint32_t RecordNo, std::uint16_t AttrType, std::int64_t Sector,
                                 TAttribute& Attr) {
    try {
        if (!Current) return false;
        std::array<std::uint8_t, kMftRecordSize> record{};
        const bool read = Sector == 0 ? ReadRecordByNumber(RecordNo, false, record)
                                      : ReadMftRecord(RecordNo, Sector, record) == TRecordRead::Whole;
        return read && RecordAttribute(record, AttrType, Attr);
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

TUndelete::TRecordRead TUndelete::ReadMftRecord(std::int64_t RecordNo, std::int64_t Sector,
                                                std::span<std::uint8_t, kMftRecordSize> Record) {
    // Through the table's extents when they place the record: its halves
    // may lie in two of them. Else the two sectors at Sector.
    const auto halves = MftRecordSectors(CurrentMftRuns(), RecordNo);
    bool read = false;
    if (halves && (*halves)[1] != (*halves)[0] + 1)
        read = ReadVolumeSectors((*halves)[0], 1, Record.data()) &&
               ReadVolumeSectors((*halves)[1], 1, Record.data() + vt::kSectorSize);
    else
        read = ReadVolumeSectors(halves ? (*halves)[0] : Sector, 2, Record.data());
    if (!read) return TRecordRead::Unreadable;
    return ApplyRecordFixup(Record) ? TRecordRead::Whole : TRecordRead::Torn;
}

bool TUndelete::RecordAttribute(std::span<std::uint8_t> Record, std::uint16_t AttrType, TAttribute& Attr) {
    try {
        if (!GetRecordAttribute(Record, AttrType, Attr)) return false;
        if (AttrType == kAttrAttributeList) return LoadAttributeListValue(Attr);
        return true;
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

TUndelete::TDataLookup TUndelete::FindNtfsData(const tntfsfilerecord* Entry, TAttribute& Data, trunlist& Runs) {
    // Both attributes come from one read of the record (a recovery of many
    // small files reads little else). A record that does not read, or whose
    // sectors are not of one write, holds no data to believe.
    std::array<std::uint8_t, kMftRecordSize> record{};
    if (ReadMftRecord(Entry->RecordNo, Entry->RecordSector, record) != TRecordRead::Whole) return TDataLookup::NoData;
    if (RecordAttribute(record, kAttrAttributeList, Data)) {
        bool whole = true;
        if (!ReadAttributeListRuns(Data.Data, Runs, true, Data, Entry->RecordNo, &whole)) return TDataLookup::Failed;
        // A list that names no readable $DATA leaves the list itself in
        // Data: the record has no data.
        if (Data.Header.Type.get() != kAttrData) return TDataLookup::NoData;
        return whole ? TDataLookup::Found : TDataLookup::Partial;
    }
    if (!RecordAttribute(record, kAttrData, Data)) return TDataLookup::NoData;
    if (Data.Resident) return TDataLookup::Found;
    TRunsFit fit = TRunsFit::Exact;
    if (!DecodeAttributeRuns(Data, Runs, fit)) return TDataLookup::Failed;
    return fit == TRunsFit::Exact ? TDataLookup::Found : TDataLookup::Partial;
}

std::int64_t TUndelete::VolumeClusters() const {
    if (!Current) return 0;
    const std::int64_t spc = SectorsPerCluster(*Current);
    const ByteReader boot(Current->BootSector);
    return spc ? static_cast<std::int64_t>(boot.U64Or(0x28) & 0x7FFFFFFFFFFFFFFFull) / spc : 0;
}

std::optional<bool> TUndelete::ClustersInUse(const trunlist& Runs, std::int64_t Clusters) {
    // $Bitmap is record 6 of every volume: a bit per cluster, set for the
    // clusters a file holds.
    const std::uint32_t spc = SectorsPerCluster(*Current);
    if (spc == 0) return std::nullopt;
    const std::size_t clusterBytes = static_cast<std::size_t>(spc) * vt::kSectorSize;
    if (bitmap_.Drive != Current) {
        std::array<std::uint8_t, kMftRecordSize> record{};
        TAttribute bitmap;
        trunlist bitmapRuns;
        if (!ReadRecordByNumber(6, true, record) || std::memcmp(record.data(), "FILE", 4) != 0 ||
            !GetRecordAttribute(record, kAttrData, bitmap) || !bitmap.NonResident ||
            !DecodeRunList(bitmap.Data, bitmapRuns) || CutRunsAtVolumeEnd(bitmapRuns, VolumeClusters()))
            return std::nullopt;
        bitmap_ = TBitmapCache{Current, std::move(bitmapRuns), -1, std::vector<std::uint8_t>(clusterBytes)};
    }
    return RunsInUse(Runs, Clusters, bitmap_.Runs, clusterBytes, [&](std::int64_t lcn, std::uint8_t* cluster) {
        if (lcn != bitmap_.Lcn) {
            const auto sector = vt::CheckedMul<std::int64_t>(lcn, spc);
            bitmap_.Lcn = -1;
            if (!sector || !ReadVolumeSectors(*sector, spc, bitmap_.Cluster.data())) return false;
            bitmap_.Lcn = lcn;
        }
        std::copy(bitmap_.Cluster.begin(), bitmap_.Cluster.end(), cluster);
        return true;
    });
}

bool TUndelete::ReadAttributeListRuns(std::span<const std::uint8_t> List, trunlist& Runs, bool UseTableRuns,
                                      TAttribute& Attr, std::int64_t Owner, bool* Whole) {
    return GatherListedDataRuns(
        List, Owner,
        [&](std::int64_t recordNo, std::span<std::uint8_t, kMaxMftRecordSize> record) {
            // The volumes this engine opens have records of 1024 bytes.
            return ReadRecordByNumber(recordNo, UseTableRuns, record.first<kMftRecordSize>());
        },
        Runs, Attr, Whole);
}

bool TUndelete::ReadRecordByNumber(std::int64_t RecordNo, bool UseTableRuns,
                                   std::span<std::uint8_t, kMftRecordSize> Record) {
    if (UseTableRuns) {
        const std::int64_t sector = MftPosToSector(RecordNo);
        return sector != -1 && ReadMftRecord(RecordNo, sector, Record) == TRecordRead::Whole;
    }
    // By number from the table's first cluster, as if the table were one
    // extent: record 0 and the table's own extension records, read before
    // the table's runs are known.
    const ByteReader boot(Current->BootSector);
    const auto first = vt::CheckedMul<std::int64_t>(
        static_cast<std::int64_t>(boot.U64Or(0x30) & 0x7FFFFFFFFFFFFFFFull), SectorsPerCluster(*Current));
    const auto at = first ? vt::CheckedAdd<std::int64_t>(*first, 2 * RecordNo) : std::nullopt;
    return at && RecordNo >= 0 && ReadVolumeSectors(*at, 2, Record.data()) && ApplyRecordFixup(Record);
}

TRecordDecoderVariant TUndelete::NtfsDecoderVariant() {
    TRecordDecoderVariant variant;
    variant.DataStopsAtOrAbove = false;
    const ByteReader boot(Current->BootSector);
    variant.ResidentAllocated = static_cast<std::int64_t>(boot.U16Or(0x0B)) * SectorsPerCluster(*Current);
    variant.ListResidentAllocated = variant.ResidentAllocated;
    variant.GetList = [this](std::span<std::uint8_t> rec, std::vector<std::uint8_t>& value) {
        TAttribute list;
        if (!GetRecordAttribute(rec, kAttrAttributeList, list) || !LoadAttributeListValue(list)) return false;
        value = std::move(list.Data);
        return true;
    };
    // The $DATA extent that the entry names, in the record it references.
    variant.FetchListData = [this](std::span<std::uint8_t>, const TAttrListEntry& entry, TAttribute& data) {
        std::array<std::uint8_t, kMftRecordSize> record{};
        return ReadRecordByNumber(FileRefToInt64(entry.FileRef), true, record) &&
               ExtractListedAttribute(record, entry, data);
    };
    variant.BoxOnException = false;
    return variant;
}

bool TUndelete::ParseMftRecord(std::span<std::uint8_t> Record, std::uint16_t& FileNameOffset,
                               std::uint16_t& RecordFlags, std::int64_t& RealSize, std::int64_t& AllocatedSize) {
    TMftRecordInfo info;
    const bool ok = DecodeMftRecord(Record, NtfsDecoderVariant(), info);
    FileNameOffset = info.FileNameOffset;
    RecordFlags = info.RecordFlags;
    RealSize = info.RealSize;
    AllocatedSize = info.AllocatedSize;
    return ok;
}

bool TUndelete::TakeBaseRecord(tntfsfilerecord& Found, std::int64_t BaseNo) {
    const std::int64_t sector = MftPosToSector(BaseNo);
    std::array<std::uint8_t, kMftRecordSize> base{};
    if (sector == -1 || ReadMftRecord(BaseNo, sector, base) != TRecordRead::Whole) return false;
    if (std::memcmp(base.data(), "FILE", 4) != 0) return false;
    // The base must still list this record in its $ATTRIBUTE_LIST: a base
    // record that a new file took over tells nothing of the old name.
    TAttribute list;
    if (!GetRecordAttribute(base, kAttrAttributeList, list) || !LoadAttributeListValue(list)) return false;
    bool listed = false;
    const ByteReader lr(list.Data);
    for (std::size_t pos = 0; lr.Size() >= kAttrListEntrySize && pos <= lr.Size() - kAttrListEntrySize;) {
        const TAttrListEntry entry = *lr.Struct<TAttrListEntry>(pos);
        if (FileRefToInt64(entry.FileRef) == Found.RecordNo) listed = true;
        if (listed || entry.Length.get() == 0) break;
        pos += entry.Length.get();
    }
    if (!listed) return false;

    const ByteReader r(base);
    Found.RecordNo = BaseNo;
    // Recovery and preview follow the base record's $ATTRIBUTE_LIST to
    // every extent of the $DATA.
    Found.RecordSector = sector;
    Found.RecordFlags = r.U16Or(0x16);
    // An extension record carries no $STANDARD_INFORMATION: what the
    // decoder copied from its first attribute is no time of the file.
    TakeStandardInformation(base, Found.FileName);
    try {
        TMftRecordInfo sizes;
        if (DecodeRecordData(base, r.U16Or(0x14), NtfsDecoderVariant(), sizes)) {
            Found.DataSize = sizes.RealSize;
            Found.AllocatedSize = sizes.AllocatedSize;
        }
    } catch (...) {
    }
    return true;
}

void TUndelete::AddScannedRecord(TNtfsRecordList& List, TNtfsRecordOwner Record, bool FromExtension) {
    // The table is read in record order, so a base record's entry goes to
    // the end; one from an extension record may stand for an earlier number.
    auto at = List.end();
    if (!List.empty() && List.back()->RecordNo >= Record->RecordNo)
        at = std::lower_bound(List.begin(), List.end(), Record->RecordNo,
                              [](const TNtfsRecordOwner& e, std::int64_t no) { return e->RecordNo < no; });
    if (at != List.end() && (*at)->RecordNo == Record->RecordNo) {
        if (!FromExtension) *at = std::move(Record);
        return;
    }
    List.insert(at, std::move(Record));
}

bool TUndelete::CacheMftRuns(const TRunTable& Runs) {
    try {
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(Current->Name.at(0))));
        for (TARunTable& entry : MftRunCache) {
            if (entry.Drive == letter) {
                entry.Runs = Runs;
                return true;
            }
        }
        MftRunCache.push_back({letter, Runs});
        return true;
    } catch (...) {
        return false;
    }
}

bool TUndelete::FindRecordByNumber(const TNtfsRecordList& List, std::int64_t RecordNo, std::int32_t& Index) {
    try {
        if (List.empty()) return false;
        std::int32_t lo = 0, hi = static_cast<std::int32_t>(List.size()) - 1;
        while (hi - lo > 1) {
            const std::int32_t mid = lo + (hi - lo) / 2;
            if (List[mid]->RecordNo < RecordNo) lo = mid;
            else hi = mid;
        }
        for (std::int32_t i : {lo, hi}) {
            if (List[i]->RecordNo == RecordNo) {
                Index = i;
                return true;
            }
        }
        return false;
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

void TUndelete::CollectOrphanParents() {
    OrphanParents.clear();
    std::unordered_set<std::uint32_t> listed;
    const TNtfsRecordList& list = Current->NtfsEntries;
    for (const auto& record : list) {
        // A binary search per record: on the largest tables far longer
        // than the window may wait.
        platform::ProcessMessages();
        const std::int64_t parent = FileRefToInt64(record->FileName.ParentRef);
        if (parent == 5) continue;
        std::int32_t index = 0;
        if (FindRecordByNumber(list, parent, index) && !IsNtfsFile(list[index].get())) continue;
        const auto p = static_cast<std::uint32_t>(parent);
        if (listed.insert(p).second) OrphanParents.push_back(p);
    }
}

bool TUndelete::FindNtfsChildRange(const TNtfsRecordList& List, std::int64_t ParentNo, std::int32_t& First,
                                   std::int32_t& Last) {
    try {
        auto keyAt = [&List](std::int32_t i) { return FileRefToInt64(List[i]->FileName.ParentRef); };
        return vt::FindKeyRange(static_cast<std::int32_t>(List.size()), ParentNo, keyAt, First, Last);
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

void TUndelete::LinkNtfsParents(tntfsfilerecord* Parent) {
    if (!Current) return;
    const TNtfsRecordList& list = Current->NtfsEntries;
    // Depth first, with an explicit stack so that deep trees cannot exhaust
    // the call stack. Each folder key is descended once: parent references
    // that form a cycle (a placeholder folder numbered 0 is its own child
    // under key 0) end the descent.
    struct Frame {
        tntfsfilerecord* parent;
        std::int32_t next, last;
    };
    std::vector<Frame> stack;
    std::unordered_set<std::uint32_t> descended;
    const std::uint32_t top = Parent ? static_cast<std::uint32_t>(Parent->RecordNo) : 0;
    descended.insert(top);
    std::int32_t first = -1, last = -1;
    if (FindNtfsChildRange(list, top, first, last)) stack.push_back({Parent, first, last});
    while (!stack.empty()) {
        platform::ProcessMessages();
        Frame& frame = stack.back();
        if (frame.next > frame.last) {
            stack.pop_back();
            continue;
        }
        tntfsfilerecord* record = list[frame.next++].get();
        record->Parent = frame.parent;
        if (IsNtfsFile(record)) continue;
        const auto key = static_cast<std::uint32_t>(record->RecordNo);
        if (!descended.insert(key).second) continue;
        if (FindNtfsChildRange(list, key, first, last)) stack.push_back({record, first, last});
    }
}

void TUndelete::ReadTableBatch(std::int64_t Sector, std::uint32_t Count, std::uint8_t* Buffer, std::uint8_t* Good) {
    std::fill(Good, Good + Count, 1);
    if (ReadVolumeSectors(Sector, Count, Buffer)) return;
    // A batch that fails costs only the sectors that fail: it is read again
    // in pieces, and a piece that fails sector by sector, without another
    // box (the batch's read has shown one).
    DiskUtils::TQuietReads quiet;
    for (std::uint32_t p = 0; p < Count; p += kRetrySectors) {
        const std::uint32_t n = std::min(kRetrySectors, Count - p);
        std::uint8_t* piece = Buffer + static_cast<std::size_t>(p) * vt::kSectorSize;
        if (ReadVolumeSectors(Sector + p, n, piece)) continue;
        for (std::uint32_t i = p; i < p + n; ++i) {
            std::uint8_t* one = Buffer + static_cast<std::size_t>(i) * vt::kSectorSize;
            if (ReadVolumeSectors(Sector + i, 1, one)) continue;
            std::memset(one, 0, vt::kSectorSize);
            Good[i] = 0;
        }
    }
}

bool TUndelete::ScanNtfsVolume(platform::IProgressBar* ProgressBar) {
    Aborted = false;
    if (!Current) return false;
    TLogiDrive& drive = *Current;
    bool started = false;
    bool result = false;
    try {
        const std::int64_t spc = SectorsPerCluster(drive);
        const ByteReader boot(drive.BootSector);
        // The volume's sectors bound every extent: a run list that reaches
        // past the volume cannot hold records there.
        // (No volume has 2^62 sectors: the count cannot overflow.)
        const std::int64_t volumeSectors =
            static_cast<std::int64_t>(boot.U64Or(0x28) & 0x3FFFFFFFFFFFFFFFull) + 1;

        // The table's runs, through its attribute list when it has one.
        trunlist runs;
        TAttribute attr;
        if (ReadMftAttribute(0, kAttrAttributeList, 0, attr)) {
            if (!ReadAttributeListRuns(attr.Data, runs, false, attr, 0)) return false;
        } else if (ReadMftAttribute(0, kAttrData, 0, attr)) {
            if (!DecodeRunList(attr.Data, runs)) return false;
        }
        // A run that reaches past the volume ends there: the records
        // before its end still read, the sectors after it are the disk's.
        TrimRunsAtVolumeEnd(runs, spc ? volumeSectors / spc : 0);

        std::int64_t batchesTotal = 0;
        for (const TDataRun& run : runs)
            if (!run.Sparse) batchesTotal += (run.Length * spc + kBatchSectors - 1) / kBatchSectors;

        if (ProgressBar) ProgressBar->SetVisible(true);
        started = true;
        ClearEntryList(drive.NtfsEntries);
        bitmap_ = TBitmapCache{};
        // The search results point into the list just freed.
        Found.clear();
        DamagedRecords = 0;
        UnreadableRecords = 0;
        if (ProgressBar) ProgressBar->SetPosition(0);

        // The table's extents in sectors, as its runs give them: with
        // one-sector clusters a record may begin in the last sector of one
        // extent and end in the first of another, far away.
        MftRuns.clear();
        for (const TDataRun& run : runs) MftRuns.push_back({run.Lcn * spc, run.Length * spc, run.Sparse});
        CacheMftRuns(MftRuns);

        // Records, numbered across all extents: the table is read as one
        // stream of sectors, a record from every two.
        platform::PageBuffer buffer(kBatchSectors * vt::kSectorSize);
        std::vector<std::uint8_t> good(kBatchSectors);
        std::array<std::uint8_t, kMftRecordSize> record{};
        std::int64_t streamSector = 0;  // of the next sector read
        std::int64_t firstHalfAt = -1;  // volume sector of a pending first half
        bool firstHalfGood = false;
        std::int64_t done = 0;
        auto handleRecord = [&](std::int64_t number, std::int64_t sector, bool readable) {
            if (number <= 15) return;  // the table's own files
            if (!readable) {
                ++UnreadableRecords;
                return;
            }
            if (!ApplyRecordFixup(record)) {
                // A torn record: sectors of two writes. Formatted slots that
                // were never used are not records and are not counted.
                if (IsRecordStart(record.data())) ++DamagedRecords;
                return;
            }
            std::uint16_t fnOffset = 0, flags = 0;
            std::int64_t realSize = 0, allocatedSize = 0;
            if (!ParseMftRecord(record, fnOffset, flags, realSize, allocatedSize)) {
                platform::ProcessMessages();
                return;
            }
            TNtfsRecordOwner found = NewNtfsRecord();
            const TFoundRecordResult r = BuildFoundRecord(record, fnOffset, *found);
            if (r == TFoundRecordResult::NoName) return;
            if (r == TFoundRecordResult::Accepted) {
                found->RecordSector = sector;
                found->RecordNo = number;
                found->DataSize = realSize;
                found->AllocatedSize = allocatedSize;
                found->RecordFlags = flags;
                // A name in an extension record belongs to its base record,
                // whose number the children name as parent.
                const std::int64_t base = RecordBaseNumber(record);
                const bool forBase = base != 0 && base != number && TakeBaseRecord(*found, base);
                // The table's own files stay out, also by way of an extension.
                if (!forBase || base > 15) AddScannedRecord(drive.NtfsEntries, std::move(found), forBase);
            }
            platform::ProcessMessages();
        };
        for (std::size_t e = 0; e < MftRuns.size() && !Aborted; ++e) {
            const std::int64_t first = MftRuns[e].Lcn;
            const std::int64_t sectors = MftRuns[e].Length;
            if (MftRuns[e].Sparse) {
                // A hole: its records are not there; one begun before it is
                // not whole.
                if (firstHalfAt >= 0 && sectors > 0) ++UnreadableRecords;
                firstHalfAt = -1;
                streamSector += sectors;
                continue;
            }
            const std::int64_t batches = (sectors + kBatchSectors - 1) / kBatchSectors;
            for (std::int64_t b = 0; b < batches && !Aborted; ++b) {
                ++done;
                if (ProgressBar)
                    ProgressBar->SetPosition(static_cast<int>(
                        std::nearbyint(static_cast<double>(done) / static_cast<double>(batchesTotal + 1) * 100.0)));
                const std::int64_t n = b == batches - 1 ? sectors - kBatchSectors * b : kBatchSectors;
                const std::int64_t at = first + kBatchSectors * b;
                ReadTableBatch(at, static_cast<std::uint32_t>(n), buffer.data(), good.data());
                for (std::int64_t i = 0; i < n; ++i) {
                    const std::uint8_t* sector = buffer.data() + i * vt::kSectorSize;
                    if ((streamSector + i) % 2 == 0) {
                        std::memcpy(record.data(), sector, vt::kSectorSize);
                        firstHalfAt = at + i;
                        firstHalfGood = good[static_cast<std::size_t>(i)] != 0;
                    } else if (firstHalfAt >= 0) {
                        std::memcpy(record.data() + vt::kSectorSize, sector, vt::kSectorSize);
                        handleRecord((streamSector + i) / 2, firstHalfAt,
                                     firstHalfGood && good[static_cast<std::size_t>(i)] != 0);
                        firstHalfAt = -1;
                    }
                }
                streamSector += n;
            }
        }

        // Placeholders for the parents that are missing, the sort, the root.
        CollectOrphanParents();
        // Each placeholder goes to the front in turn, so the last one stands
        // first; they are made in that order and put in with one move of
        // the list, not one per placeholder.
        TNtfsRecordList placeholders;
        placeholders.reserve(OrphanParents.size());
        for (auto it = OrphanParents.rbegin(); it != OrphanParents.rend(); ++it) {
            platform::ProcessMessages();
            const std::uint32_t parent = *it;
            TNtfsRecordOwner folder = NewNtfsRecord();
            *folder = *FolderTemplate;
            folder->RecordNo = parent;
            folder->FileName.ParentRef.set(0);
            folder->Name = "[文件夹]" + std::to_string(parent);
            folder->RecordFlags = 0;
            placeholders.push_back(std::move(folder));
        }
        drive.NtfsEntries.insert(drive.NtfsEntries.begin(), std::make_move_iterator(placeholders.begin()),
                                 std::make_move_iterator(placeholders.end()));
        vt::PumpedStableSort(drive.NtfsEntries, [](const TNtfsRecordOwner& a, const TNtfsRecordOwner& b) {
            return CompareNtfsRecords(a.get(), b.get()) < 0;
        });
        TNtfsRecordOwner root = NewNtfsRecord();
        *root = *FolderTemplate;
        root->RecordNo = 5;
        root->FileName.ParentRef.set(0);
        root->Name = "\\";
        root->RecordFlags = 1;
        drive.NtfsEntries.insert(drive.NtfsEntries.begin(), std::move(root));
        result = true;
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        result = false;
    }
    if (started && ProgressBar) ProgressBar->SetVisible(false);
    return result;
}
