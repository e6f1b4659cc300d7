// The NTFS listing of a scanned node: the file records whose sectors the
// partition scan found, decoded in batches of one 1000-sector read, the
// vote for the cluster size and the found folders.
#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <tuple>

#include "DataStruc.h"
#include "DataStrucShared.h"
#include "PumpedSort.h"

namespace {

using namespace DataStruc::detail;

// The cluster sizes that can vote, in the order of the counters: every
// size NTFS allows, up to 2 MiB (4096 sectors).
constexpr std::array<std::int32_t, 13> kVoteSizes = {4096, 2048, 1024, 512, 256, 128, 64, 32, 16, 8, 4, 2, 1};

}  // namespace

bool TPhysicalDrive::GetRecordAttribute(std::span<std::uint8_t> record, std::uint16_t type, TAttribute& attr) {
    return PhysGetRecordAttribute(record, type, attr);
}

bool TPhysicalDrive::ParseMftRecord(std::span<std::uint8_t> record, std::uint16_t& fileNameOffset,
                                    std::uint16_t& recordFlags, std::int64_t& realSize, std::int64_t& allocatedSize) {
    const std::uint32_t spc =
        CurPartition && CurPartition->SectorsPerCluster > 0 ? static_cast<std::uint32_t>(CurPartition->SectorsPerCluster) : 0;
    return PhysParseMftRecord(record, spc, fileNameOffset, recordFlags, realSize, allocatedSize);
}

void TPhysicalDrive::BuildNtfsList(platform::IProgressBar* progressBar) {
    PPartiEntry node = CurPartition;
    if (!node) return;
    // The search results point into the records; they go with them.
    node->NtfsFound.clear();
    node->NtfsEntries.clear();
    node->NtfsVolumeStarts.clear();
    node->NtfsTables.clear();
    recordStamps_.clear();
    tornSectors_.clear();
    listedRecords_.clear();
    mftRuns_.clear();
    logRuns_.clear();
    if (MftSectors.empty()) return;
    Busy = true;
    win::HANDLE h = OpenDiskHandle(Geometry.DriveNo);
    if (h == win::INVALID_HANDLE_VALUE) {
        Busy = false;
        return;
    }
    // Room for every record the scan found, taken before the batches: a
    // list that grows by doubling copies all of its entries at a time,
    // which on a table of a million records holds the window for a tenth of
    // a second; reserved pages are only touched as they fill.
    node->NtfsEntries.reserve(MftSectors.size());
    recordStamps_.reserve(MftSectors.size());
    std::int32_t index = 0;
    NtfsSpcVotes.fill(0);
    NtfsDamagedRecords = 0;
    while (static_cast<std::size_t>(index) < MftSectors.size()) {
        if (Aborted) break;
        ReadMftBatch(h, index, progressBar);
    }
    platform::ProcessMessages();
    // Ties go to the smaller cluster; no vote at all gives one sector.
    node->NtfsSectorsPerCluster = 1;
    for (std::size_t i = 0; i + 1 < kVoteSizes.size(); ++i) {
        bool beatsSmaller = true;
        for (std::size_t k = i + 1; k < kVoteSizes.size(); ++k)
            beatsSmaller = beatsSmaller && NtfsSpcVotes[i] > NtfsSpcVotes[k];
        if (beatsSmaller) {
            node->NtfsSectorsPerCluster = kVoteSizes[i];
            break;
        }
    }
    FindNtfsVolumeStarts(h);
    PlaceNtfsTables(h);
    RetryTornRecords(h);
    ResolveListedRecords(h);
    if (NtfsDamagedRecords > 0)
        DataStruc::AddLogEvent(EventLogView, std::to_string(NtfsDamagedRecords) + " 个文件记录已损坏，未列出", kLogWarning);
    DropRecordCopies();
    // Only the listing needs them: a table of a million records holds 24 MB.
    std::vector<RecordStamp>().swap(recordStamps_);
    mftRuns_.clear();
    logRuns_.clear();
    vt::PumpedStableSort(node->NtfsEntries,
                         [](const auto& a, const auto& b) { return CompareNtfsRecords(a.get(), b.get()) < 0; });
    CollectNtfsFolders();
    Aborted = false;
    win::CloseHandle(h);
    SetProgress(progressBar, 0);
    Busy = false;
}

void TPhysicalDrive::ReadMftBatch(win::HANDLE h, std::int32_t& index, platform::IProgressBar* progressBar) {
    const std::size_t count = MftSectors.size();
    const std::int64_t first = MftSectors[static_cast<std::size_t>(index)];
    // One buffer for every batch: only the bytes a read placed are looked at.
    static thread_local platform::PageBuffer buffer;
    buffer.resize(kChunkSectors * 512);
    // A batch that does not read is read again sector by sector: a bad
    // sector loses only the record it lies in (its zeros decode to none).
    std::uint64_t unreadable = 0;
    std::uint32_t bytesRead = 0;
    if (!ReadSectorsSalvaging(h, Geometry.DriveNo, first, kChunkSectors, kChunkSectors, buffer.data(), bytesRead,
                              unreadable)) {
        ++index;
        return;
    }
    const std::int64_t sectorsRead = std::min<std::uint32_t>(bytesRead, buffer.size()) / 512;
    const std::int32_t start = index;
    std::array<std::uint8_t, kMaxMftRecordSize> rec{};
    std::size_t filled = 0;
    // A record fits when all of its sectors lie in what was read: two, or
    // as many as its header says its size takes.
    while (static_cast<std::size_t>(index) < count &&
           MftSectors[static_cast<std::size_t>(index)] <= first + sectorsRead - 2) {
        const std::int64_t s = MftSectors[static_cast<std::size_t>(index)];
        const std::span<const std::uint8_t> at(buffer.data() + (s - first) * 512,
                                               static_cast<std::size_t>(first + sectorsRead - s) * 512);
        const std::size_t size = RecordBytes(at);
        if (size > at.size()) break;
        try {
            SetProgress(progressBar, static_cast<double>(index) * 100.0 / static_cast<double>(count));
            ++index;
            platform::ProcessMessages();
            // Only the record's own bytes are looked at; the bytes past them
            // are cleared when a larger record left some there.
            std::memcpy(rec.data(), at.data(), size);
            if (filled > size) std::memset(rec.data() + size, 0, filled - size);
            filled = size;
            // A record whose sectors are not of one write is left out: a
            // torn write, or (with one-sector clusters) a record whose second
            // half lies elsewhere in its table, which is read again from
            // there once the table is placed.
            if (!ApplyRecordFixup(rec)) {
                tornSectors_.push_back(s);
                continue;
            }
            TakeFoundRecord(h, s, rec, {buffer.data(), static_cast<std::size_t>(sectorsRead) * 512}, first);
        } catch (const std::exception& e) {
            // The batch ends; the next one starts after this record.
            ErrorBox(e.what());
            return;
        }
    }
    // A first record sector so near the end of the drive that no whole
    // record fits in any read would start every batch again: it is given up.
    if (index == start) ++index;
}

void TPhysicalDrive::TakeFoundRecord(win::HANDLE h, std::int64_t s, std::span<std::uint8_t, kMaxMftRecordSize> rec,
                                     std::span<const std::uint8_t> read, std::int64_t readFirst) {
    PPartiEntry node = CurPartition;
    NoteRecordStamp(s, rec);
    // A list that lies in clusters is read once the cluster size is voted
    // and the volume placed: the record waits until then. Attributes stand
    // in the order of their types, so a list follows the record's
    // $STANDARD_INFORMATION directly.
    const vt::ByteReader r(rec);
    const std::size_t second = static_cast<std::size_t>(r.U16Or(0x14)) + r.U16Or(static_cast<std::size_t>(r.U16Or(0x14)) + 4);
    const bool listInClusters = r.U32Or(second) == kAttrAttributeList && r.U8Or(second + 8) != 0;
    std::uint16_t nameOffset = 0, flags = 0;
    std::int64_t realSize = 0, allocated = 0;
    auto found = std::make_unique<tntfsfilerecord>();
    if (ParseMftRecord(rec, nameOffset, flags, realSize, allocated)) {
        if (BuildFoundRecord(rec, nameOffset, *found) != TFoundRecordResult::Accepted) return;
    } else if (listInClusters) {
        // The $MFT of a table of many extents may have its name moved out
        // as well: record 0 with its first extent in itself. Its runs place
        // its volume and its table before its name is known.
        TAttribute own;
        trunlist runs;
        if (RecordOwnNumber(rec) == 0 && GetRecordAttribute(rec, kAttrData, own) && own.NonResident &&
            own.Header.NameLength == 0 && own.NonResident->StartingVcn.get() == 0 && DecodeRunList(own.Data, runs) &&
            !runs.empty())
            mftRuns_.push_back({s, false, runs, static_cast<std::int64_t>(RecordBytes(rec) / 512)});
        ListedRecord later;
        later.Sector = s;
        std::copy(rec.begin(), rec.end(), later.Record.begin());
        listedRecords_.push_back(std::move(later));
        return;
    } else if (!NameFromExtension(h, s, rec, read, readFirst, *found, flags, realSize, allocated)) {
        return;
    }
    found->DataSize = realSize;
    found->AllocatedSize = allocated;
    found->RecordFlags = flags;
    found->RecordSector = s;
    found->RecordNo = 0;
    found->DataLcn = -s;
    TAttribute data;
    trunlist runs;
    const bool ownData = GetRecordAttribute(rec, kAttrData, data);
    if (ownData && data.NonResident && DecodeRunList(data.Data, runs) && !runs.empty()) {
        found->DataLcn = runs.front().Lcn;
        Vote(found->DataSize, found->AllocatedSize, runs);
        if ((found->Name == "$MFT" || found->Name == "$MFTMirr") && FileRefToInt64(found->FileName.ParentRef) == 5)
            mftRuns_.push_back({s, found->Name == "$MFTMirr", runs, static_cast<std::int64_t>(RecordBytes(rec) / 512)});
        if (found->Name == "$LogFile" && FileRefToInt64(found->FileName.ParentRef) == 5)
            logRuns_.push_back({s, false, runs});
    }
    // A named record whose stream begins in an extension record listed in
    // clusters: its sizes and first cluster come from there, later.
    if (listInClusters && !(ownData && (data.Resident || data.NonResident->StartingVcn.get() == 0))) {
        ListedRecord later;
        later.Sector = s;
        std::copy(rec.begin(), rec.end(), later.Record.begin());
        later.Entry = found.get();
        listedRecords_.push_back(std::move(later));
    }
    node->NtfsEntries.push_back(std::move(found));
}

void TPhysicalDrive::PlaceNtfsTables(win::HANDLE h) {
    PPartiEntry node = CurPartition;
    const std::int64_t spc = node->NtfsSectorsPerCluster;
    if (spc <= 0) return;
    auto extentsOf = [&](const trunlist& runs, std::int64_t sector) {
        TRunTable extents;
        for (const TDataRun& run : runs) {
            const auto first = run.Sparse ? std::optional<std::int64_t>(0) : NtfsClusterSector(run.Lcn, sector);
            const auto length = vt::CheckedMul<std::int64_t>(run.Length, spc);
            if (!first || !length || *length <= 0) break;
            extents.push_back({*first, *length, run.Sparse});
        }
        return extents;
    };
    // The table of each volume: its $MFT record lies where its own first
    // run puts record 0 (the copy in $MFTMirr or $LogFile lies elsewhere).
    for (const TableRuns& t : mftRuns_) {
        const auto volume = NtfsClusterSector(0, t.Sector);
        if (t.Mirror || !volume || t.Runs.empty() || t.Runs.front().Sparse ||
            NtfsClusterSector(t.Runs.front().Lcn, t.Sector) != t.Sector ||
            std::any_of(node->NtfsTables.begin(), node->NtfsTables.end(),
                        [&](const TNtfsTable& known) { return known.Volume == *volume; }))
            continue;
        node->NtfsTables.push_back({*volume, extentsOf(t.Runs, t.Sector), t.RecordSectors});
        // A table of many extents keeps the rest of its runs in extension
        // records that its attribute list names; they lie in the extents
        // its own record maps, which place them.
        std::array<std::uint8_t, kMaxMftRecordSize> record{};
        TAttribute list, data;
        trunlist runs;
        if (ReadFoundRecord(h, t.Sector, record) == RecordRead::Whole &&
            PhysGetRecordAttribute(record, kAttrAttributeList, list) &&
            FollowAttributeList(h, t.Sector, record, data, runs) != ListedData::Failed && data.NonResident &&
            runs.size() > t.Runs.size())
            node->NtfsTables.back().Extents = extentsOf(runs, t.Sector);
    }
}

void TPhysicalDrive::RetryTornRecords(win::HANDLE h) {
    // The sectors of each volume's $LogFile: a record found there is a copy
    // the log holds, often in pieces (its pages have fix-ups of their own),
    // and no record of the table.
    std::vector<std::pair<std::int64_t, std::int64_t>> log;  // [first, end) sectors
    const std::int64_t spc = CurPartition->NtfsSectorsPerCluster;
    for (const TableRuns& t : logRuns_)
        for (const TDataRun& run : t.Runs) {
            const auto first = run.Sparse ? std::nullopt : NtfsClusterSector(run.Lcn, t.Sector);
            const auto length = vt::CheckedMul<std::int64_t>(run.Length, spc);
            if (first && length && *length > 0) log.emplace_back(*first, *first + *length);
        }
    auto inLog = [&](std::int64_t s) {
        return std::any_of(log.begin(), log.end(), [s](const auto& e) { return s >= e.first && s < e.second; });
    };
    // A record that straddles two extents of a placed table is read from
    // both; one that is still torn (or lies in no placed table) is damaged.
    for (const std::int64_t s : tornSectors_) {
        platform::ProcessMessages();
        if (inLog(s)) continue;
        std::array<std::uint8_t, kMaxMftRecordSize> rec{};
        try {
            if (ReadFoundRecord(h, s, rec) == RecordRead::Whole) TakeFoundRecord(h, s, rec, {}, 0);
            else ++NtfsDamagedRecords;
        } catch (const std::exception& e) {
            ErrorBox(e.what());
        }
    }
    tornSectors_.clear();
}

void TPhysicalDrive::ResolveListedRecords(win::HANDLE h) {
    PPartiEntry node = CurPartition;
    for (ListedRecord& later : listedRecords_) try {
        platform::ProcessMessages();
        const std::int64_t s = later.Sector;
        std::span<std::uint8_t, kMaxMftRecordSize> base(later.Record);
        std::unique_ptr<tntfsfilerecord> found;
        tntfsfilerecord* entry = later.Entry;
        if (!entry) {
            // Its names lie in the extension records its list names.
            TAttribute list;
            if (!GetRecordAttribute(base, kAttrAttributeList, list) || !ReadListValue(h, s, list)) continue;
            const std::int64_t own = FoundRecordNumber(base, s);
            if (own < 0) continue;
            found = std::make_unique<tntfsfilerecord>();
            bool named = false;
            for (const std::int64_t number : ListedNameRecords(std::span<const std::uint8_t>(list.Data))) {
                std::array<std::uint8_t, kMaxMftRecordSize> ext{};
                if (number == own ||
                    !ReadRecordNear(h, s, own, number, static_cast<std::int64_t>(RecordBytes(base) / 512), ext) ||
                    RecordBaseNumber(ext) != own)
                    continue;
                named = BuildFoundRecordFromExtension(base, ext, *found) == TFoundRecordResult::Accepted;
                break;
            }
            if (!named) continue;
            const vt::ByteReader r(base);
            found->RecordFlags = r.U16Or(0x16);
            found->RecordSector = s;
            found->RecordNo = 0;
            found->DataLcn = -s;
            entry = found.get();
        }
        // The sizes and the first cluster of the stream's first extent.
        TAttribute data;
        trunlist runs;
        if (FollowAttributeList(h, s, base, data, runs) != ListedData::Failed) {
            if (data.NonResident) {
                entry->DataSize = static_cast<std::int64_t>(data.NonResident->RealSize.get() & 0xFFFFFFFFFFFFull);
                entry->AllocatedSize = static_cast<std::int64_t>(data.NonResident->AllocatedSize.get() & 0xFFFFFFFFFFFFull);
                if (!runs.empty()) entry->DataLcn = runs.front().Lcn;
            } else if (data.Resident) {
                entry->DataSize = data.Resident->ValueLength.get();
                entry->AllocatedSize = 0;
            }
        }
        if (found) node->NtfsEntries.push_back(std::move(found));
    } catch (const std::exception& e) {
        ErrorBox(e.what());
    }
    listedRecords_.clear();
}

bool TPhysicalDrive::NameFromExtension(win::HANDLE h, std::int64_t sector, std::span<std::uint8_t> base,
                                       std::span<const std::uint8_t> read, std::int64_t readFirst,
                                       tntfsfilerecord& found, std::uint16_t& flags, std::int64_t& realSize,
                                       std::int64_t& allocated) {
    // A base record whose $FILE_NAME moved to an extension record (a file
    // of many fragments, a folder whose index grew): its attribute list
    // names the record. That record is looked for by its number in the same
    // stretch of the table, as many sectors per record as the base takes
    // from the base's own number, and taken only when it names itself so
    // and this base as its base record.
    const std::int64_t own = RecordOwnNumber(base);
    if (own < 0) return false;
    const std::size_t size = RecordBytes(base);
    for (const std::int64_t number : ListedNameRecords(base)) {
        if (number == own) continue;
        const auto offset = vt::CheckedMul<std::int64_t>(number - own, static_cast<std::int64_t>(size / 512));
        const auto at = offset ? vt::CheckedAdd<std::int64_t>(sector, *offset) : std::nullopt;
        if (!at || *at < 0) continue;
        std::array<std::uint8_t, kMaxMftRecordSize> ext{};
        const std::int64_t inRead = *at - readFirst;
        if (inRead >= 0 && static_cast<std::uint64_t>(inRead) * 512 + size <= read.size()) {
            std::memcpy(ext.data(), read.data() + inRead * 512, size);
        } else {
            std::uint32_t bytesRead = 0;
            if (!ReadDiskSectors(h, static_cast<std::uint16_t>(size / 512), ext.data(), *at, bytesRead,
                                 Geometry.DriveNo) ||
                bytesRead < size)
                continue;
        }
        if (!ApplyRecordFixup(ext) || std::memcmp(ext.data(), "FILE", 4) != 0 || RecordOwnNumber(ext) != number ||
            RecordBaseNumber(ext) != own)
            continue;
        if (BuildFoundRecordFromExtension(base, ext, found) != TFoundRecordResult::Accepted) return false;
        const std::uint32_t spc =
            CurPartition && CurPartition->SectorsPerCluster > 0 ? static_cast<std::uint32_t>(CurPartition->SectorsPerCluster) : 0;
        TMftRecordInfo sizes;
        const vt::ByteReader r(base);
        if (!DecodeRecordData(base, r.U16Or(0x14), PhysDecoderVariant(spc), sizes)) return false;
        flags = r.U16Or(0x16);
        realSize = sizes.RealSize;
        allocated = sizes.AllocatedSize;
        return true;
    }
    return false;
}

void TPhysicalDrive::FindNtfsVolumeStarts(win::HANDLE h) {
    PPartiEntry node = CurPartition;
    const std::int64_t spc = node->NtfsSectorsPerCluster;
    // The $MFT's own record is the first record of the table, and its first
    // run starts at the cluster that holds it: the record's sector less that
    // many clusters is where its volume begins. The copy in $MFTMirr gives
    // the same cluster at another sector, so a start counts only where the
    // volume's boot sector stands and names the same table and cluster size.
    for (const TableRuns& t : mftRuns_) {
        platform::ProcessMessages();
        if (t.Mirror || t.Runs.empty() || t.Runs.front().Sparse || t.Runs.front().Lcn <= 0) continue;
        const std::int64_t dataLcn = t.Runs.front().Lcn;
        const auto offset = vt::CheckedMul<std::int64_t>(dataLcn, spc);
        if (!offset || *offset > t.Sector) continue;
        const std::int64_t start = t.Sector - *offset;
        if (start < node->FirstSector()) continue;
        std::array<std::uint8_t, 512> boot{};
        std::uint32_t bytesRead = 0;
        if (!ReadDiskSectors(h, 1, boot.data(), start, bytesRead, Geometry.DriveNo) || bytesRead < boot.size())
            continue;
        std::uint64_t mftLcn = 0;
        for (int i = 7; i >= 0; --i) mftLcn = (mftLcn << 8) | boot[0x30 + static_cast<std::size_t>(i)];
        // The cluster is counted in this drive's 512-byte sectors: on a
        // volume made for 4096-byte sectors (a 4Kn drive) one sector per
        // cluster is eight of ours.
        const std::uint32_t bytesPerSector = boot[0x0B] | (boot[0x0C] << 8);
        const bool sectorSizeKnown =
            bytesPerSector == 512 || bytesPerSector == 1024 || bytesPerSector == 2048 || bytesPerSector == 4096;
        const bool isBoot = std::memcmp(boot.data() + 3, "NTFS    ", 8) == 0 && sectorSizeKnown &&
                            static_cast<std::int64_t>(bytesPerSector / 512) * boot[0x0D] == spc &&
                            mftLcn == static_cast<std::uint64_t>(dataLcn);
        if (isBoot) node->NtfsVolumeStarts.push_back(start);
    }
    auto& starts = node->NtfsVolumeStarts;
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
}

void TPhysicalDrive::NoteRecordStamp(std::int64_t sector, std::span<const std::uint8_t> record) {
    vt::ByteReader r(record);
    if (!r.Has(0, 4) || std::memcmp(record.data(), "FILE", 4) != 0) return;
    RecordStamp stamp;
    stamp.Sector = sector;
    stamp.Lsn = r.U64Or(0x08);
    stamp.Number = RecordOwnNumber(record);
    recordStamps_.push_back(stamp);
}

void TPhysicalDrive::DropRecordCopies() {
    PPartiEntry node = CurPartition;
    const std::int64_t spc = node->NtfsSectorsPerCluster;
    if (spc <= 0 || recordStamps_.empty()) return;
    // The mirror holds records of two sectors (of eight where records are
    // 4096 bytes), numbered on from the last.
    struct Extent {
        std::int64_t Volume, First, End, FirstNumber, RecordSectors;
    };
    auto addExtents = [&](std::vector<Extent>& to, std::int64_t volume, std::int64_t sector, const trunlist& runs,
                          std::int64_t recordSectors) {
        std::int64_t number = 0;
        for (const TDataRun& run : runs) {
            const auto first = NtfsClusterSector(run.Lcn, sector);
            const auto length = vt::CheckedMul<std::int64_t>(run.Length, spc);
            if (!first || !length || *length <= 0) break;
            if (!run.Sparse) to.push_back({volume, *first, *first + *length, number, recordSectors});
            number += *length / recordSectors;
        }
    };
    // The number of a record at its place in one of the extents.
    auto placeIn = [](const std::vector<Extent>& extents, std::int64_t volume, std::int64_t sector) -> std::int64_t {
        for (const Extent& e : extents)
            if (e.Volume == volume && sector >= e.First && sector < e.End && (sector - e.First) % e.RecordSectors == 0)
                return e.FirstNumber + (sector - e.First) / e.RecordSectors;
        return -1;
    };
    // A record in the table has the number of its place there.
    auto place = [&](std::int64_t volume, std::int64_t sector) -> std::int64_t {
        for (const TNtfsTable& t : node->NtfsTables)
            if (t.Volume == volume) return MftSectorToRecord(t.Extents, sector, t.RecordSectors);
        return -1;
    };
    // The mirror of the first records, placed by the $MFTMirr record that
    // stands in the table as record 1: an NTFS 3.0 header names no number,
    // and a copy there has the number of its place in the mirror.
    std::vector<Extent> mirrors;
    for (const TableRuns& t : mftRuns_) {
        const auto volume = NtfsClusterSector(0, t.Sector);
        if (t.Mirror && volume && place(*volume, t.Sector) == 1)
            addExtents(mirrors, *volume, t.Sector, t.Runs, t.RecordSectors);
    }
    auto volumeOf = [&](std::int64_t sector) { return NtfsClusterSector(0, sector).value_or(node->FirstSector()); };
    // A table of a million records takes this walk a good part of a second:
    // the window's messages run as it goes (the pump looks at the clock
    // only every so many calls, so a call per record costs little), and the
    // sorts pump as they go.
    vt::PumpedStableSort(recordStamps_, [](const RecordStamp& a, const RecordStamp& b) { return a.Sector < b.Sector; });
    // The numbers that the tables hold, whether their records made an entry
    // or not: any other record with one of them is a copy.
    std::vector<std::pair<std::int64_t, std::int64_t>> held;
    if (!node->NtfsTables.empty()) {
        held.reserve(recordStamps_.size());
        for (const RecordStamp& stamp : recordStamps_) {
            platform::ProcessMessages();
            const std::int64_t volume = volumeOf(stamp.Sector);
            if (const std::int64_t at = place(volume, stamp.Sector); at >= 0) held.emplace_back(volume, at);
        }
    }
    vt::PumpedStableSort(held, std::less<>());
    // Outside a table a header's number alone does not make two records one
    // file (a lost table's records need not be numbered alike): records of
    // the same number, folder and name are, and the one with the highest
    // $LSN (then the first on the disk) stays. The number 0 is the $MFT's
    // alone; mkntfs leaves it in the headers of its unused records, where
    // it says nothing.
    struct Loose {
        std::int64_t Volume, Number, Parent;
        const std::string* Name;
        std::uint64_t Lsn;
        std::int64_t Sector;
    };
    std::vector<Loose> loose;
    std::vector<std::int64_t> copies;
    for (const auto& rec : node->NtfsEntries) {
        platform::ProcessMessages();
        const auto stamp = std::lower_bound(
            recordStamps_.begin(), recordStamps_.end(), rec->RecordSector,
            [](const RecordStamp& a, std::int64_t sector) { return a.Sector < sector; });
        if (stamp == recordStamps_.end() || stamp->Sector != rec->RecordSector) continue;
        const std::int64_t volume = volumeOf(stamp->Sector);
        const std::int64_t parent = FileRefToInt64(rec->FileName.ParentRef);
        if (place(volume, stamp->Sector) >= 0) continue;
        const std::int64_t number = stamp->Number >= 0 ? stamp->Number : placeIn(mirrors, volume, stamp->Sector);
        if (number < 0 || (number == 0 && !(rec->Name == "$MFT" && parent == 5))) continue;
        if (std::binary_search(held.begin(), held.end(), std::pair{volume, number}))
            copies.push_back(stamp->Sector);
        else
            loose.push_back({volume, number, parent, &rec->Name, stamp->Lsn, stamp->Sector});
    }
    auto same = [](const Loose& l) { return std::tie(l.Volume, l.Number, l.Parent, *l.Name); };
    vt::PumpedStableSort(loose, [&](const Loose& a, const Loose& b) {
        return std::tuple_cat(same(a), std::tuple(~a.Lsn, a.Sector)) <
               std::tuple_cat(same(b), std::tuple(~b.Lsn, b.Sector));
    });
    for (std::size_t i = 1; i < loose.size(); ++i)
        if (same(loose[i]) == same(loose[i - 1])) copies.push_back(loose[i].Sector);
    if (copies.empty()) return;
    vt::PumpedStableSort(copies, std::less<>());
    std::erase_if(node->NtfsEntries, [&](const std::unique_ptr<tntfsfilerecord>& rec) {
        platform::ProcessMessages();
        return std::binary_search(copies.begin(), copies.end(), rec->RecordSector);
    });
}

void TPhysicalDrive::Vote(std::int64_t dataSize, std::int64_t allocatedSize, const trunlist& runs) {
    // Files of more than a page and less than a megabyte tell the cluster
    // size: allocated bytes over the clusters of their runs.
    if (dataSize <= 4096 || dataSize >= 1048576) return;
    std::int64_t clusters = 0;
    for (const TDataRun& run : runs) clusters += static_cast<std::uint32_t>(run.Length);
    if (clusters == 0) return;
    const std::int64_t v = allocatedSize / clusters / 512;
    for (std::size_t i = 0; i < kVoteSizes.size(); ++i)
        if (v == kVoteSizes[i]) ++NtfsSpcVotes[i];
}

void TPhysicalDrive::CollectNtfsFolders() {
    PPartiEntry node = CurPartition;
    if (!node) return;
    node->NtfsFolders.clear();
    try {
        for (const auto& rec : node->NtfsEntries) {
            platform::ProcessMessages();
            const std::int64_t p = FileRefToInt64(rec->FileName.ParentRef);
            if (p != 0 && (node->NtfsFolders.empty() || node->NtfsFolders.back() != p)) node->NtfsFolders.push_back(p);
        }
    } catch (const std::exception& e) {
        ErrorBox(e.what());
    }
}

namespace {

// Reads count sectors at lba whole; false otherwise.
bool ReadWhole(win::HANDLE h, ::DriveNo drive, std::int64_t lba, std::uint16_t count, std::uint8_t* buffer) {
    std::uint32_t bytesRead = 0;
    return lba >= 0 && ReadDiskSectors(h, count, buffer, lba, bytesRead, drive) && bytesRead >= count * 512u;
}

// A record's two halves, each from its own sector.
bool ReadHalves(win::HANDLE h, ::DriveNo drive, const std::array<std::int64_t, 2>& halves, std::uint8_t* record) {
    return ReadWhole(h, drive, halves[0], 1, record) && ReadWhole(h, drive, halves[1], 1, record + 512);
}

// A record from its first sector on: its first two sectors, and the rest
// of them where its header gives it a larger size.
bool ReadRecordAt(win::HANDLE h, ::DriveNo drive, std::int64_t sector, std::span<std::uint8_t, kMaxMftRecordSize> record) {
    if (!ReadWhole(h, drive, sector, 2, record.data())) return false;
    const std::size_t size = RecordBytes(record.first(kMftRecordSize));
    return size <= kMftRecordSize ||
           ReadWhole(h, drive, sector + 2, static_cast<std::uint16_t>((size - kMftRecordSize) / 512),
                     record.data() + kMftRecordSize);
}

// A record at the sectors its table gives: both halves apart where it
// straddles two extents, else whole from its first sector.
bool ReadPlacedRecord(win::HANDLE h, ::DriveNo drive, const std::array<std::int64_t, 2>& halves,
                      std::span<std::uint8_t, kMaxMftRecordSize> record) {
    return halves[1] == halves[0] + 1 ? ReadRecordAt(h, drive, halves[0], record)
                                      : ReadHalves(h, drive, halves, record.data());
}

}  // namespace

const TNtfsTable* TPhysicalDrive::PlacedTableAt(std::int64_t sector) const {
    if (!CurPartition) return nullptr;
    const auto volume = NtfsClusterSector(0, sector);
    if (!volume) return nullptr;
    for (const TNtfsTable& table : CurPartition->NtfsTables)
        if (table.Volume == *volume) return &table;
    return nullptr;
}

TPhysicalDrive::RecordRead TPhysicalDrive::ReadFoundRecord(win::HANDLE h, std::int64_t sector,
                                                           std::span<std::uint8_t, kMaxMftRecordSize> record) const {
    const ::DriveNo drive = CurPartition ? CurPartition->DriveNo : Geometry.DriveNo;
    std::optional<std::array<std::int64_t, 2>> halves;
    if (const TNtfsTable* table = PlacedTableAt(sector)) {
        const std::int64_t number = MftSectorToRecord(table->Extents, sector, table->RecordSectors);
        if (number >= 0) halves = MftRecordSectors(table->Extents, number, table->RecordSectors);
    }
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    const bool read = halves ? ReadPlacedRecord(h, drive, *halves, record) : ReadRecordAt(h, drive, sector, record);
    if (!read) return RecordRead::Unreadable;
    return ApplyRecordFixup(record) ? RecordRead::Whole : RecordRead::Torn;
}

std::int64_t TPhysicalDrive::FoundRecordNumber(std::span<const std::uint8_t> record, std::int64_t sector) const {
    const std::int64_t own = RecordOwnNumber(record);
    if (own >= 0 || !CurPartition) return own;
    // An NTFS 3.0 header names no number: its place in a placed table does.
    const TNtfsTable* table = PlacedTableAt(sector);
    return table ? MftSectorToRecord(table->Extents, sector, table->RecordSectors) : -1;
}

bool TPhysicalDrive::ReadRecordNear(win::HANDLE h, std::int64_t baseSector, std::int64_t baseNumber,
                                    std::int64_t number, std::int64_t recordSectors,
                                    std::span<std::uint8_t, kMaxMftRecordSize> record) const {
    if (number < 0 || baseNumber < 0) return false;
    const ::DriveNo drive = CurPartition ? CurPartition->DriveNo : Geometry.DriveNo;
    const TNtfsTable* table = PlacedTableAt(baseSector);
    bool read = false;
    if (table) {
        // The table's own runs place every record of it.
        const auto halves = MftRecordSectors(table->Extents, number, table->RecordSectors);
        read = halves && ReadPlacedRecord(h, drive, *halves, record);
    } else {
        // Without them, the records of a file are looked for where a table
        // of one extent would hold them; the header must then say it is the
        // record wanted.
        const auto offset = vt::CheckedMul<std::int64_t>(number - baseNumber, std::max<std::int64_t>(recordSectors, 2));
        const auto at = offset ? vt::CheckedAdd<std::int64_t>(baseSector, *offset) : std::nullopt;
        read = at && ReadRecordAt(h, drive, *at, record);
    }
    if (!read || !ApplyRecordFixup(record) || std::memcmp(record.data(), "FILE", 4) != 0) return false;
    const std::int64_t own = RecordOwnNumber(record);
    return own == number || (own < 0 && table);
}

bool TPhysicalDrive::ReadListValue(win::HANDLE h, std::int64_t sector, TAttribute& list) const {
    if (!list.NonResident) return true;
    if (!CurPartition || CurPartition->NtfsSectorsPerCluster <= 0) return false;
    const std::int64_t spc = CurPartition->NtfsSectorsPerCluster;
    const ::DriveNo drive = CurPartition->DriveNo;
    std::vector<std::uint8_t> value;
    // The volume's end bounds the list's runs as it bounds a file's (where
    // neither a boot sector nor a partition tells it, the drive does).
    const std::int64_t volumeClusters = NtfsVolumeClusters(h, sector).value_or(INT64_MAX);
    if (!ReadNonResidentValue(list, kMaxAttributeList, static_cast<std::size_t>(spc) * 512, volumeClusters,
                              [&](std::int64_t lcn, std::uint8_t* cluster) {
                                  const auto first = NtfsClusterSector(lcn, sector);
                                  return first && ReadWhole(h, drive, *first, static_cast<std::uint16_t>(spc), cluster);
                              },
                              value))
        return false;
    list.Data = std::move(value);
    return true;
}

TPhysicalDrive::ListedData TPhysicalDrive::FollowAttributeList(win::HANDLE h, std::int64_t sector,
                                                               std::span<std::uint8_t, kMaxMftRecordSize> base,
                                                               TAttribute& data, trunlist& runs) const {
    TAttribute list;
    if (!PhysGetRecordAttribute(base, kAttrAttributeList, list) || !ReadListValue(h, sector, list))
        return ListedData::Failed;
    // The extents name their base by number: without the file's own number
    // no extension record can be told to be this file's.
    const std::int64_t owner = FoundRecordNumber(base, sector);
    if (owner < 0) return ListedData::Failed;
    data = TAttribute{};
    bool whole = true;
    const bool walked = GatherListedDataRuns(
        list.Data, owner,
        [&](std::int64_t number, std::span<std::uint8_t, kMaxMftRecordSize> record) {
            if (number == owner) {
                std::copy(base.begin(), base.end(), record.begin());
                return true;
            }
            return ReadRecordNear(h, sector, owner, number, static_cast<std::int64_t>(RecordBytes(base) / 512),
                                  record);
        },
        runs, data, &whole);
    if (!walked || data.Header.Type.get() != kAttrData) return ListedData::Failed;
    return whole ? ListedData::Found : ListedData::Partial;
}

TPhysicalDrive::FileData TPhysicalDrive::FindFileData(win::HANDLE h, std::int64_t sector,
                                                      std::span<std::uint8_t, kMaxMftRecordSize> record, TAttribute& data,
                                                      trunlist& runs) const {
    TAttribute list;
    if (PhysGetRecordAttribute(record, kAttrAttributeList, list)) {
        switch (FollowAttributeList(h, sector, record, data, runs)) {
            case ListedData::Found: return FileData::Found;
            case ListedData::Partial: return FileData::Partial;
            case ListedData::Failed: return FileData::NoData;
        }
    }
    if (!PhysGetRecordAttribute(record, kAttrData, data)) return FileData::NoData;
    if (data.Resident) return FileData::Found;
    TRunsFit fit = TRunsFit::Exact;
    if (!DecodeAttributeRuns(data, runs, fit)) return FileData::Failed;
    return fit == TRunsFit::Exact ? FileData::Found : FileData::Partial;
}

std::optional<bool> TPhysicalDrive::ClustersInUse(win::HANDLE h, std::int64_t sector, const trunlist& runs,
                                                  std::int64_t clusters) const {
    // $Bitmap is record 6 of every volume: a bit per cluster, set for the
    // clusters a file holds. Only a placed table tells where it lies.
    const TNtfsTable* table = PlacedTableAt(sector);
    if (!table || !CurPartition || CurPartition->NtfsSectorsPerCluster <= 0) return std::nullopt;
    const std::int64_t spc = CurPartition->NtfsSectorsPerCluster;
    const ::DriveNo drive = CurPartition->DriveNo;
    const auto halves = MftRecordSectors(table->Extents, 6, table->RecordSectors);
    std::array<std::uint8_t, kMaxMftRecordSize> record{};
    TAttribute bitmap;
    trunlist bitmapRuns;
    if (!halves || !ReadPlacedRecord(h, drive, *halves, record) || !ApplyRecordFixup(record) ||
        std::memcmp(record.data(), "FILE", 4) != 0 || (RecordOwnNumber(record) != 6 && RecordOwnNumber(record) != -1) ||
        !PhysGetRecordAttribute(record, kAttrData, bitmap) || !bitmap.NonResident ||
        !DecodeRunList(bitmap.Data, bitmapRuns))
        return std::nullopt;
    if (const auto volumeClusters = NtfsVolumeClusters(h, sector);
        !volumeClusters || CutRunsAtVolumeEnd(bitmapRuns, *volumeClusters))
        return std::nullopt;
    return RunsInUse(runs, clusters, bitmapRuns, static_cast<std::size_t>(spc) * 512,
                     [&](std::int64_t lcn, std::uint8_t* cluster) {
                         const auto first = NtfsClusterSector(lcn, sector);
                         return first && ReadWhole(h, drive, *first, static_cast<std::uint16_t>(spc), cluster);
                     });
}
