// Browsing the listings of a scanned node: the first bytes of a found file
// for the hex view, the entries of one found folder, and the search over
// the found entries.
#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>

#include "DataStruc.h"
#include "DataStrucShared.h"
#include "filetime.h"

namespace {

using namespace DataStruc::detail;

// Lower case in the letters A to Z only.
std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string PhysEntryDisplayName(const TPhysMidEntry& entry) {
    if (!entry.LongName.empty()) return entry.LongName;
    // A deleted entry's mark is no character of any name: "?" in the lists
    // (recovered with "@" in its place), as the standard engine shows it.
    return FatShortName(entry.DirEntry, '?');
}

std::uint32_t PhysEntryFirstCluster(const TPhysMidEntry& entry, bool fat32) {
    const std::uint32_t lo = entry.DirEntry.FstClusLO.get();
    return fat32 ? (static_cast<std::uint32_t>(entry.DirEntry.FstClusHI.get()) << 16) + lo : lo;
}

std::optional<std::int64_t> TPhysicalDrive::FatClusterSector(std::uint32_t cluster) const {
    // 0x7FFFFFFF: the listing found no cluster 2; a cluster size of 0 or
    // less: the estimate from two directories failed (fewer sectors than
    // clusters between them). Either way no cluster can be placed.
    if (!CurPartition || CurPartition->SectorsPerCluster <= 0 || CurPartition->DataStart == 0x7FFFFFFF || cluster < 2)
        return std::nullopt;
    const std::int64_t s = (static_cast<std::int64_t>(cluster) - 2) * CurPartition->SectorsPerCluster +
                           CurPartition->DataStart;
    if (s < 0) return std::nullopt;
    return s;
}

std::optional<TPhysicalDrive::FatPlace> TPhysicalDrive::PlaceFatEntry(const TPhysMidEntry& entry, TFsType kind) const {
    const PPartiEntry node = CurPartition;
    if (!node) return std::nullopt;
    if (entry.Volume >= 0) {
        // A volume inside the node: its own cluster numbers and layout, and
        // nothing of it lies outside its extent.
        if (static_cast<std::size_t>(entry.Volume) >= node->FatVolumes.size()) return std::nullopt;
        const TFatVolume& v = node->FatVolumes[static_cast<std::size_t>(entry.Volume)];
        const std::uint32_t cluster = PhysEntryFirstCluster(entry, v.FsType == vt::fsFat32);
        if (v.SectorsPerCluster <= 0 || v.DataStart < 0 || cluster < 2) return std::nullopt;
        const std::int64_t s = v.DataStart + (static_cast<std::int64_t>(cluster) - 2) * v.SectorsPerCluster;
        if (s < v.First || s >= v.End) return std::nullopt;
        return FatPlace{s, v.End, v.Boot ? &*v.Boot : nullptr, v.SectorsPerCluster};
    }
    const auto s = FatClusterSector(PhysEntryFirstCluster(entry, kind == vt::fsFat32));
    if (!s) return std::nullopt;
    // The node's own layout: its clusters lie inside the node, when its
    // size is known.
    const std::int64_t limit = node->SectorTotal() > 0 ? NodeEnd(*node) : 0;
    if (limit > 0 && *s >= limit) return std::nullopt;
    return FatPlace{*s, limit, node->FatBoot ? &*node->FatBoot : nullptr, node->SectorsPerCluster};
}

std::optional<std::int64_t> TPhysicalDrive::FatEntrySector(const TPhysMidEntry& entry, TFsType kind) const {
    const auto place = PlaceFatEntry(entry, kind);
    if (!place) return std::nullopt;
    return place->Sector;
}

std::optional<std::int64_t> TPhysicalDrive::NtfsClusterSector(std::int64_t lcn, std::int64_t recordSector) const {
    if (!CurPartition || CurPartition->NtfsSectorsPerCluster <= 0 || lcn < 0) return std::nullopt;
    const auto s = vt::CheckedMul<std::int64_t>(lcn, CurPartition->NtfsSectorsPerCluster);
    if (!s) return std::nullopt;
    return vt::CheckedAdd<std::int64_t>(*s, NtfsVolumeStart(recordSector));
}

std::optional<std::int64_t> TPhysicalDrive::NtfsVolumeClusters(win::HANDLE h, std::int64_t recordSector) const {
    if (!CurPartition || CurPartition->NtfsSectorsPerCluster <= 0) return std::nullopt;
    const std::int64_t spc = CurPartition->NtfsSectorsPerCluster;
    const std::int64_t start = NtfsVolumeStart(recordSector);
    // The volume's size from its boot sector, in this drive's sectors.
    std::array<std::uint8_t, 512> boot{};
    std::uint32_t bytesRead = 0;
    if (ReadDiskSectors(h, 1, boot.data(), start, bytesRead, CurPartition->DriveNo) && bytesRead >= boot.size() &&
        std::memcmp(boot.data() + 3, "NTFS    ", 8) == 0) {
        const vt::ByteReader b(boot);
        const std::int64_t total = static_cast<std::int64_t>(b.U64Or(0x28) & 0x7FFFFFFFFFFFFFFFull);
        const auto sectors = vt::CheckedMul<std::int64_t>(total, DataStruc::SectorScale(boot));
        if (sectors && *sectors > 0) return *sectors / spc;
    }
    // Without a boot sector: the node, from the volume's start on.
    const std::int64_t end = CurPartition->FirstSector() + static_cast<std::int64_t>(CurPartition->RawEntry.SectorCount.get());
    if (CurPartition->RawEntry.SectorCount.get() == 0 || end <= start) return std::nullopt;
    return (end - start) / spc;
}

std::int64_t TPhysicalDrive::NtfsVolumeStart(std::int64_t recordSector) const {
    // A record's master file table lies inside its own volume: the volume
    // is the one that begins last at or before the record.
    std::int64_t start = CurPartition->FirstSector();
    const auto& starts = CurPartition->NtfsVolumeStarts;
    const auto after = std::upper_bound(starts.begin(), starts.end(), recordSector);
    if (after != starts.begin()) start = *std::prev(after);
    return start;
}

bool TPhysicalDrive::ReadFileHead(const void* entry, TFsType kind, std::array<std::uint8_t, 2048>& buffer) {
    if (!CurPartition || !entry) return false;
    const ::DriveNo drive = CurPartition->DriveNo;
    win::HANDLE h = OpenDiskHandle(drive);
    if (h == win::INVALID_HANDLE_VALUE) return false;
    struct Closer {
        win::HANDLE h;
        ~Closer() { win::CloseHandle(h); }
    } closer{h};
    std::uint32_t bytesRead = 0;
    if (kind == vt::fsNtfs) {
        const auto* rec = static_cast<const tntfsfilerecord*>(entry);
        // The record tells where the head lies: its resident value, or the
        // runs of its stream (through its attribute list when it has one),
        // read as far as the head reaches: a first run shorter than the head
        // is followed by the next, a hole gives zeros, and so do the bytes
        // past the initialized size, as NTFS reads them.
        std::array<std::uint8_t, kMftRecordSize> record{};
        if (ReadFoundRecord(h, rec->RecordSector, record) != RecordRead::Whole) return false;
        TAttribute data;
        trunlist runs;
        const FileData found = FindFileData(h, rec->RecordSector, record, data, runs);
        if (found == FileData::Failed) return false;
        if (found == FileData::NoData || data.Resident || runs.empty()) {
            buffer.fill(0);
            if (found != FileData::NoData && data.Resident) {
                const std::size_t n =
                    std::min<std::size_t>({data.Resident->ValueLength.get(), data.Data.size(), buffer.size()});
                std::copy_n(data.Data.begin(), n, buffer.begin());
            }
            return true;
        }
        // A compressed stream is shown as it lies.
        const std::int64_t initialized = IsCompressedData(data) ? INT64_MAX : InitializedBytes(data, rec->DataSize);
        return ReadStreamHead(runs, CurPartition->NtfsSectorsPerCluster, initialized, buffer,
                              [&](std::int64_t lcn, std::int64_t sectors, std::uint8_t* to) {
                                  const auto sector = NtfsClusterSector(lcn, rec->RecordSector);
                                  return sector && ReadDiskSectors(h, static_cast<std::uint16_t>(sectors), to, *sector,
                                                                   bytesRead, drive) &&
                                         bytesRead >= sectors * 512;
                              });
    }
    const auto* e = static_cast<const TPhysMidEntry*>(entry);
    const auto place = PlaceFatEntry(*e, CurPartition->FatType);
    if (!place) return false;
    // The head of a file at the end of its volume is not read past it.
    std::int64_t sectors = buffer.size() / 512;
    if (place->Limit > 0 && place->Limit - place->Sector < sectors) {
        sectors = place->Limit - place->Sector;
        buffer.fill(0);
    }
    return ReadDiskSectors(h, static_cast<std::uint16_t>(sectors), buffer.data(), place->Sector, bytesRead, drive);
}

bool TPhysicalDrive::FindFatChildRange(std::int64_t dirSector, std::int32_t& first, std::int32_t& last) {
    try {
        first = last = -1;
        if (!CurPartition) return false;
        const auto& list = CurPartition->FatEntries;
        const bool found = vt::FindKeyRange(
            static_cast<std::int32_t>(list.size()), dirSector,
            [&](std::int32_t i) { return list[static_cast<std::size_t>(i)]->DirSector; }, first, last);
        if (!found) first = last = -1;
        return found;
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
}

bool TPhysicalDrive::FindNtfsChildRange(const std::vector<std::unique_ptr<tntfsfilerecord>>& list,
                                        std::int64_t parentNo, std::int32_t& first, std::int32_t& last) {
    try {
        first = last = -1;
        auto GetParentRefAt = [&](std::int32_t i) {
            return FileRefToInt64(list[static_cast<std::size_t>(i)]->FileName.ParentRef);
        };
        const bool found = vt::FindKeyRange(static_cast<std::int32_t>(list.size()), parentNo, GetParentRefAt, first, last);
        if (!found) first = last = -1;
        return found;
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
}

bool TPhysicalDrive::SearchEntries(TFsType kind, const std::string& masks, bool caseSensitive, std::uint8_t dateKind,
                                   double dateFrom, double dateTo, std::int64_t sizeFrom, std::int64_t sizeTo,
                                   std::int64_t folderKey) {
    try {
        PPartiEntry node = CurPartition;
        if (!node) return true;
        const bool ntfs = kind == vt::fsNtfs;
        if (ntfs) node->NtfsFound.clear();
        else node->FatFound.clear();

        std::int32_t first = 0;
        std::int32_t last = static_cast<std::int32_t>(ntfs ? node->NtfsEntries.size() : node->FatEntries.size()) - 1;
        if (folderKey != -1) {
            const bool any = ntfs ? FindNtfsChildRange(node->NtfsEntries, folderKey, first, last)
                                  : FindFatChildRange(folderKey, first, last);
            if (!any) return true;
        }

        // A comma separates two masks; blanks beside it belong to them, and
        // a comma at the end adds no mask.
        std::vector<std::string> maskList;
        for (std::size_t start = 0; start < masks.size();) {
            const std::size_t comma = masks.find(',', start);
            const std::string mask = masks.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            maskList.push_back(caseSensitive ? mask : LowerAscii(mask));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }

        for (std::int32_t i = first; i <= last; ++i) {
            std::string name;
            double date = 0;
            std::int64_t size = 0;
            void* item = nullptr;
            if (ntfs) {
                tntfsfilerecord* e = node->NtfsEntries[static_cast<std::size_t>(i)].get();
                item = e;
                if (!masks.empty()) name = e->Name;
                if (dateFrom != 0) {
                    const std::uint64_t t = dateKind == 0   ? e->FileName.CreationTime.get()
                                            : dateKind == 1 ? e->FileName.ModificationTime.get()
                                                            : e->FileName.AccessTime.get();
                    date = FileTimeToDateTime(t);
                }
                size = e->DataSize;
            } else {
                TPhysMidEntry* e = node->FatEntries[static_cast<std::size_t>(i)].get();
                item = e;
                if (!masks.empty()) name = PhysEntryDisplayName(*e);
                if (dateFrom != 0) {
                    const auto& d = e->DirEntry;
                    bool ok;
                    if (dateKind == 0) ok = FatDateTimeToDateTime(d.CrtDate.get(), d.CrtTime.get(), date);
                    else if (dateKind == 1) ok = FatDateTimeToDateTime(d.WrtDate.get(), d.WrtTime.get(), date);
                    else ok = FatDateTimeToDateTime(d.LstAccDate.get(), 0, date);
                    if (!ok) date = dateFrom;
                }
                size = e->DirEntry.FileSize.get();
            }
            bool pass = true;
            if (!masks.empty()) {
                const std::string n = caseSensitive ? name : LowerAscii(name);
                pass = std::any_of(maskList.begin(), maskList.end(),
                                   [&](const std::string& m) { return MatchFileMask(n, m); });
            }
            if (pass && dateFrom != 0) pass = dateFrom <= date && date <= dateTo;
            if (pass && sizeFrom >= 0 && sizeTo >= 0) pass = sizeFrom <= size && size <= sizeTo;
            if (!pass) continue;
            if (ntfs) node->NtfsFound.push_back(static_cast<tntfsfilerecord*>(item));
            else node->FatFound.push_back(static_cast<TPhysMidEntry*>(item));
        }
        return true;
    } catch (...) {
        return false;
    }
}
