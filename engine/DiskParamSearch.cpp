// The standard engine's search over the entries of the last scan and the
// first bytes of a found file for the hex view.
#include <algorithm>
#include <cstring>
#include <exception>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "filetime.h"

namespace {

using vt::ByteReader;

// Characters up to the blank removed at both ends.
std::string TrimControls(std::string s) {
    std::size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// Lower case in the letters A to Z only.
std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The name a FAT entry is searched under: its long name, or the 8.3 name
// with the deletion mark left in place and without the case bits.
std::string FatSearchName(const TMidEntry& e) {
    if (!e.LongName.empty()) return e.LongName;
    std::string name = TrimControls(std::string(e.DirEntry.Name.begin(), e.DirEntry.Name.end()));
    const std::string ext = TrimControls(std::string(e.DirEntry.Ext.begin(), e.DirEntry.Ext.end()));
    if (!ext.empty()) name += "." + ext;
    return name;
}

std::uint32_t FatFolderKey(const TMidEntry& e, TFsType type) {
    const std::uint32_t lo = e.DirEntry.FstClusLO.get();
    return type == vt::fsFat32 ? (static_cast<std::uint32_t>(e.DirEntry.FstClusHI.get()) << 16) | lo : lo;
}

}  // namespace

struct TUndelete::TSearchArgs {
    std::vector<std::string> masks;  // empty: no name test
    bool caseSensitive = false;
    std::uint8_t dateKind = 0;
    double dateFrom = 0, dateTo = 0;
    std::int64_t sizeFrom = -1, sizeTo = -1;
    bool deletedOnly = false;
};

bool TUndelete::ReadFileHead(const void* Entry, std::array<std::uint8_t, 2048>& Buffer) {
    try {
        if (!Current || !Entry) return false;
        const TFsType type = Current->FsType;
        if (type == vt::fsNtfs) return ReadNtfsFileHead(static_cast<const tntfsfilerecord*>(Entry), Buffer);
        // A drive whose format is not known has no file to read: the caller's
        // buffer keeps what it held, and that must not pass for this file.
        if (type > vt::fsFat32) return false;
        const auto& e = *static_cast<const TMidEntry*>(Entry);
        // As recorded: a FAT32 entry whose high word was cleared reads the
        // cluster its low word alone names. A cluster that names no data
        // (0, 1, past the volume) has no head to show.
        const auto sector = FatClusterSector(FatFolderKey(e, type));
        return sector && ReadLogicalSectors(Current->Name, *sector, 4, Buffer.data());
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

bool TUndelete::ReadNtfsFileHead(const tntfsfilerecord* Entry, std::array<std::uint8_t, 2048>& Buffer) {
    try {
        if (!Current || !Entry) return false;
        trunlist runs;
        TAttribute attr;
        const TDataLookup lookup = FindNtfsData(Entry, attr, runs);
        if (lookup != TDataLookup::Found && lookup != TDataLookup::Partial) return false;
        if (attr.Resident) {
            Buffer.fill(0);
            const std::size_t n =
                std::min<std::size_t>({attr.Resident->ValueLength.get(), Buffer.size(), attr.Data.size()});
            if (n) std::memcpy(Buffer.data(), attr.Data.data(), n);
            return true;
        }
        if (runs.empty()) return false;
        // Through the runs, as far as the head reaches: a first run shorter
        // than the head (one-sector clusters, a fragment) is followed by the
        // next one, a hole gives zeros. Past the initialized size NTFS reads
        // zeros too; a compressed stream is shown as it lies.
        const std::int64_t spc = Current->BootSector[0x0D];
        const std::int64_t initialized = IsCompressedData(attr) ? INT64_MAX : InitializedBytes(attr, Entry->DataSize);
        return ReadStreamHead(runs, spc, initialized, Buffer, [&](std::int64_t lcn, std::int64_t sectors, std::uint8_t* to) {
            const auto sector = vt::CheckedMul<std::int64_t>(lcn, spc);
            return sector && ReadVolumeSectors(*sector, static_cast<std::uint32_t>(sectors), to);
        });
    } catch (...) {
        return false;
    }
}

bool TUndelete::SearchEntries(const std::string& Masks, bool CaseSensitive, std::uint8_t DateKind, double DateFrom,
                              double DateTo, std::int64_t SizeFrom, std::int64_t SizeTo, std::int64_t ParentKey,
                              bool DeletedOnly) {
    try {
        TSearchArgs args;
        if (!Masks.empty()) {
            // A comma separates two masks; blanks beside it belong to them.
            std::size_t start = 0;
            for (;;) {
                const std::size_t comma = Masks.find(',', start);
                std::string mask = Masks.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                args.masks.push_back(CaseSensitive ? mask : LowerAscii(mask));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
        args.caseSensitive = CaseSensitive;
        args.dateKind = DateKind;
        args.dateFrom = DateFrom;
        args.dateTo = DateTo;
        args.sizeFrom = SizeFrom;
        args.sizeTo = SizeTo;
        args.deletedOnly = DeletedOnly;
        std::vector<std::int64_t> descended;
        return SearchRange(args, ParentKey, descended);
    } catch (...) {
        return false;
    }
}

bool TUndelete::SearchRange(const TSearchArgs& Args, std::int64_t ParentKey, std::vector<std::int64_t>& Descended) {
    try {
        if (!Current) return true;
        const TFsType type = Current->FsType;
        const bool ntfs = type == vt::fsNtfs;
        if (!ntfs && type > vt::fsFat32) return true;
        const std::int32_t count =
            static_cast<std::int32_t>(ntfs ? Current->NtfsEntries.size() : Current->Entries.size());
        std::int32_t first = 0, last = count - 1;
        if (ParentKey != -1) {
            const bool any = ntfs ? FindNtfsChildRange(Current->NtfsEntries, ParentKey, first, last)
                                  : FindFatChildRange(Current->Entries, static_cast<std::uint32_t>(ParentKey), first, last);
            if (!any) return true;
            // Each folder is searched once, so that keys that lead back to a
            // folder already searched (a cycle of parent links) end there.
            Descended.insert(std::lower_bound(Descended.begin(), Descended.end(), ParentKey), ParentKey);
        }
        for (std::int32_t i = first; i <= last; ++i) {
            std::string name;
            double date = 0;
            std::int64_t size = 0;
            bool deleted = false, folder = false;
            std::int64_t key = 0;
            void* item = nullptr;
            if (ntfs) {
                tntfsfilerecord* e = Current->NtfsEntries[i].get();
                item = e;
                if (!Args.masks.empty()) name = e->Name;
                if (Args.dateFrom != 0) {
                    const std::uint64_t t = Args.dateKind == 0   ? e->FileName.CreationTime.get()
                                            : Args.dateKind == 1 ? e->FileName.ModificationTime.get()
                                                                 : e->FileName.AccessTime.get();
                    date = FileTimeToDateTime(t);
                }
                size = e->DataSize;
                deleted = (e->RecordFlags & kRecordInUse) == 0;
                folder = !IsNtfsFile(e);
                key = e->RecordNo;
            } else {
                TMidEntry* e = Current->Entries[i].get();
                item = e;
                if (!Args.masks.empty()) name = FatSearchName(*e);
                if (Args.dateFrom != 0) {
                    const TFatDirEntry& d = e->DirEntry;
                    bool ok;
                    if (Args.dateKind == 0) ok = FatDateTimeToDateTime(d.CrtDate.get(), d.CrtTime.get(), date);
                    else if (Args.dateKind == 1) ok = FatDateTimeToDateTime(d.WrtDate.get(), d.WrtTime.get(), date);
                    else ok = FatDateTimeToDateTime(d.LstAccDate.get(), 0, date);
                    if (!ok) date = Args.dateFrom;
                }
                size = e->DirEntry.FileSize.get();
                deleted = e->Status != 0;
                folder = !IsFatFile(e->DirEntry);
                key = FatFolderKey(*e, type);
            }

            bool pass = true;
            if (!Args.masks.empty()) {
                const std::string n = Args.caseSensitive ? name : LowerAscii(name);
                pass = std::any_of(Args.masks.begin(), Args.masks.end(),
                                   [&](const std::string& m) { return MatchFileMask(n, m); });
            }
            if (pass && Args.dateFrom != 0) pass = Args.dateFrom <= date && date <= Args.dateTo;
            if (pass && Args.sizeFrom >= 0 && Args.sizeTo >= 0) pass = Args.sizeFrom <= size && size <= Args.sizeTo;
            if (pass && Args.deletedOnly) pass = deleted;
            if (pass) Found.push_back(item);

            if (ParentKey != -1 && folder && !std::binary_search(Descended.begin(), Descended.end(), key))
                SearchRange(Args, key, Descended);
        }
        return true;
    } catch (...) {
        return false;
    }
}
