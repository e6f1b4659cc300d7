#include "DataStruc.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <set>

#include "DataStrucShared.h"
#include "DiskUtils.h"
#include "System.h"
#include "VolumeInfo.h"
#include "int13ext.h"

platform::IEventLog* EventLogView = nullptr;

namespace {

using namespace DataStruc::detail;

}  // namespace

namespace DataStruc::detail {

bool ReadSectorsSalvaging(win::HANDLE h, DriveNo drive, std::int64_t lba, std::uint32_t count, std::uint32_t wanted,
                          std::uint8_t* buffer, std::uint32_t& bytesRead, std::uint64_t& unreadable) {
    bytesRead = 0;
    if (ReadDiskSectors(h, static_cast<std::uint16_t>(count), buffer, lba, bytesRead, drive)) {
        bytesRead = std::min<std::uint32_t>(bytesRead, count * 512u);
        return true;
    }
    bytesRead = 0;
    bool any = false;
    for (std::uint32_t j = 0; j < std::min(wanted, count); ++j) {
        std::uint8_t* sector = buffer + j * 512u;
        std::uint32_t got = 0;
        if (ReadDiskSectors(h, 1, sector, lba + j, got, drive)) {
            any = true;
            // A read that succeeds without a sector is the end of the device.
            if (got < 512) break;
        } else {
            std::memset(sector, 0, 512);
            ++unreadable;
        }
        bytesRead = (j + 1) * 512u;
    }
    return any;
}

void LogUnreadableSectors(std::uint64_t unreadable) {
    if (unreadable == 0) return;
    DataStruc::AddLogEvent(EventLogView, std::to_string(unreadable) + " 个扇区无法读取，已跳过", kLogWarning);
}

}  // namespace DataStruc::detail

namespace DataStruc {

bool IsWinNT() { return DiskUtils::IsWinNT(); }

std::uint8_t DecodeLfnEntry(std::span<const std::uint8_t> entry, std::string& longName, std::int32_t& checksum) {
    if (entry.size() < 32) {
        checksum = -1;
        return 0;
    }
    return TUndelete::DecodeLfnEntry(entry.first<32>(), longName, checksum);
}

bool ExamineBootSector(std::span<const std::uint8_t> sector, BootSectorInfo& info) {
    vt::ByteReader r(sector);
    if (r.U16Or(510) != 0xAA55) return false;
    const TFsType fs = DetectVolumeType(sector);
    if (fs == vt::fsUnknown) return false;
    info.FsType = fs;
    info.Serial = GetVolumeSerial(sector, fs);
    switch (fs) {
        case vt::fsFat12:
        case vt::fsFat16:
            info.SectorCount = r.U16Or(0x13);
            if (info.SectorCount == 0) info.SectorCount = r.U32Or(0x20);
            break;
        case vt::fsFat32: info.SectorCount = r.U32Or(0x20); break;
        default: info.SectorCount = r.U64Or(0x28); break;
    }
    // The volume's sectors in this drive's: a lost partition of a 4Kn drive
    // covers its whole volume. A count that no drive holds (2^48 sectors
    // are 128 PiB) is cut there, so that sums with it cannot overflow.
    constexpr std::uint64_t kMostSectors = 1ull << 48;
    const std::uint64_t k = std::max<std::uint32_t>(SectorScale(sector), 1);
    info.SectorCount = std::min(info.SectorCount, kMostSectors / k) * k;
    return true;
}

std::uint32_t SectorScale(std::span<const std::uint8_t> sector) {
    const std::uint32_t bytes = vt::ByteReader(sector).U16Or(0x0B);
    return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096 ? bytes / 512 : 0;
}

}  // namespace DataStruc

std::string GetLocalDriveLetters() {
    std::string letters;
    for (char c = 'A'; c <= 'Z'; ++c) {
        const char root[] = {c, ':', '\\', '\0'};
        const win::UINT type = win::GetDriveTypeA(root);
        if (type == win::DRIVE_REMOVABLE || type == win::DRIVE_FIXED) letters += c;
    }
    return letters;
}

bool GetPhysicalDriveGeometry(int number, TDriveGeometry& geometry) {
    if (DataStruc::IsWinNT()) {
        win::HANDLE h = OpenDiskHandle(static_cast<DriveNo>(number));
        if (h == win::INVALID_HANDLE_VALUE) return false;
        win::DWORD returned = 0;
        const bool ok = win::DeviceIoControl(h, win::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry.Geometry,
                                             sizeof geometry.Geometry, &returned, nullptr) != 0;
        if (ok) {
            geometry.DriveNo = static_cast<DriveNo>(number);
            const auto& g = geometry.Geometry;
            geometry.TotalSectors = g.Cylinders * static_cast<std::int64_t>(g.TracksPerCylinder) *
                                    static_cast<std::int64_t>(g.SectorsPerTrack);
            // Whole cylinders leave out up to 8 MiB at the end of the disk,
            // where partitioning tools put the end of the last partition;
            // the disk's exact length covers it.
            win::GET_LENGTH_INFO length{};
            if (win::DeviceIoControl(h, win::IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                                     &returned, nullptr) &&
                length.Length / 512 > geometry.TotalSectors)
                geometry.TotalSectors = length.Length / 512;
        }
        win::CloseHandle(h);
        return ok;
    }
    TDriveParams params{};
    if (!Int13GetDriveParams(static_cast<std::uint8_t>(number), params)) return false;
    geometry = TDriveGeometry{};
    geometry.DriveNo = static_cast<DriveNo>(number);
    // The drive parameters' own sectors per track and sector size are not
    // used: the partition walk counts with 63 and 512.
    geometry.Geometry.Cylinders = static_cast<std::int32_t>(params.Cylinders);
    geometry.Geometry.SectorsPerTrack = 63;
    geometry.Geometry.BytesPerSector = 512;
    geometry.TotalSectors = static_cast<std::int64_t>(params.TotalSectors);
    return true;
}

bool IsNewPartitionStart(std::int64_t lba, const std::vector<std::unique_ptr<TPartiEntry>>& list) {
    for (const auto& node : list) {
        const std::uint8_t t = node->RawEntry.SysType;
        if (t == kSysGap || t == kSysExtended || t == kSysExtendedLba) continue;
        if (node->FirstSector() == lba) return false;
    }
    return true;
}

std::uint32_t GetVolumeSerial(std::span<const std::uint8_t> boot, TFsType fsType) {
    vt::ByteReader r(boot);
    switch (fsType) {
        case vt::fsFat12:
        case vt::fsFat16: return r.U32Or(0x27);
        case vt::fsFat32: return r.U32Or(0x43);
        default: return r.U32Or(0x48);
    }
}

// ---------------------------------------------------------------------------
// Drive objects and the partition tree

TPhysicalDrive::TPhysicalDrive(const TDriveGeometry& geometry) : Geometry(geometry) {
    auto root = std::make_unique<TPartiEntry>();
    root->DriveNo = Geometry.DriveNo;
    root->RawEntry.SysType = kSysExtended;
    root->SetSectorTotal(std::max<std::int64_t>(Geometry.TotalSectors, 0));
    PPartiEntry node = AddNode(std::move(root));
    if (Geometry.DriveNo >= 0) {
        ReadPartitionTable(node);
        return;
    }
    const char rootPath[] = {static_cast<char>(-Geometry.DriveNo), ':', '\\', '\0'};
    char label[256] = {};
    if (win::GetVolumeInformationA(rootPath, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0)) {
        node->VolumeLabel = TrimControls(label);
        if (node->VolumeLabel.empty()) node->VolumeLabel = "NoName";
    }
}

PPartiEntry TPhysicalDrive::AddNode(std::unique_ptr<TPartiEntry> node) {
    Partitions.push_back(std::move(node));
    return Partitions.back().get();
}

// The state of one walk of a drive's tables: the table sectors read so far
// (a chain that leads back to one of them is not followed again) and the
// handle of each level is its own.
struct TPhysicalDrive::TableWalk {
    std::set<std::int64_t> visited;
    // A chain of extended boot records is one table per logical drive; no
    // partitioning tool makes more than a few hundred. The bound keeps a
    // corrupt chain of distinct sectors from recursing without end.
    static constexpr std::size_t kMaxTables = 1024;
};

bool TPhysicalDrive::ReadPartitionTable(PPartiEntry node) {
    if (!node) return false;
    TableWalk walk;
    // The root's table is the master boot record; any other node's table is
    // inside an extended partition, whose first sector is the Base of its
    // link entries (Base 0: the node is the extended entry of the master
    // boot record itself).
    const bool isRoot = !Partitions.empty() && node == Partitions.front().get();
    const std::int64_t extendedStart = isRoot ? -1 : (node->Base != 0 ? node->Base : node->FirstSector());
    std::int64_t reached = 0;
    return WalkTable(node, walk, extendedStart, reached);
}

bool TPhysicalDrive::WalkTable(PPartiEntry node, TableWalk& walk, std::int64_t extendedStart, std::int64_t& reached) {
    win::HANDLE h = OpenDiskHandle(node->DriveNo);
    if (h == win::INVALID_HANDLE_VALUE) return false;
    const std::int64_t t = node->FirstSector();
    walk.visited.insert(t);

    // A sector that cannot be read, or only in part, counts as a table of
    // four empty entries: no node is made from bytes that were not read.
    std::array<std::uint8_t, 512> sector{};
    std::uint32_t bytesRead = 0;
    const bool readOk = ReadDiskSectors(h, 1, sector.data(), t, bytesRead, node->DriveNo) && bytesRead >= 512;
    if (!readOk) sector.fill(0);

    node->Children.clear();
    std::int64_t next = t + Geometry.Geometry.SectorsPerTrack;
    const std::int64_t nodeEnd = t + node->SectorTotal();

    auto makeGap = [&](std::int64_t from, std::int64_t count) {
        auto gap = std::make_unique<TPartiEntry>();
        gap->DriveNo = node->DriveNo;
        gap->SetFirstSector(t, from);
        gap->SetSectorTotal(count);
        PPartiEntry g = AddNode(std::move(gap));
        ReadVolumeLabel(h, g);
        node->Children.push_back(g);
    };

    vt::ByteReader r(sector);
    for (int i = 0; i < 4; ++i) {
        const TMbrEntry entry = r.Struct<TMbrEntry>(0x1BE + 16 * i).value_or(TMbrEntry{});
        if (entry.SectorCount.get() == 0 || entry.SysType == kSysGap) continue;
        const bool extended = entry.SysType == kSysExtended || entry.SysType == kSysExtendedLba;
        // Extended entries of a table inside the extended partition count
        // from the partition's first sector; every other entry from its table.
        const std::int64_t origin = (extended && extendedStart >= 0) ? extendedStart : t;
        const std::int64_t a = origin + entry.StartLba.get();
        if (a > next) makeGap(next, a - next);

        auto child = std::make_unique<TPartiEntry>();
        child->DriveNo = node->DriveNo;
        child->RawEntry = entry;
        child->Base = origin;
        PPartiEntry c = AddNode(std::move(child));
        ReadVolumeLabel(h, c);
        node->Children.push_back(c);
        next = a + entry.SectorCount.get();

        if (extended && !walk.visited.contains(a) && walk.visited.size() < TableWalk::kMaxTables) {
            std::int64_t innerReached = 0;
            if (WalkTable(c, walk, extendedStart >= 0 ? extendedStart : a, innerReached))
                next = std::max(next, innerReached);
        }
    }
    reached = next;
    if (next + 1 < nodeEnd) {
        makeGap(next, nodeEnd - next);
        reached = nodeEnd;
    }
    win::CloseHandle(h);
    return true;
}

void TPhysicalDrive::ReadVolumeLabel(win::HANDLE h, PPartiEntry node) {
    if (h == win::INVALID_HANDLE_VALUE || !node) return;
    try {
        const std::int64_t s = node->FirstSector();
        std::vector<std::uint8_t> boot(512);
        std::uint32_t bytesRead = 0;
        if (!ReadDiskSectors(h, 1, boot.data(), s, bytesRead, node->DriveNo) || bytesRead < 512) return;
        vt::ByteReader br(boot);
        const TFsType fs = DetectVolumeType(boot);
        if (fs == vt::fsFat12 || fs == vt::fsFat16 || fs == vt::fsFat32) {
            const bool fat32 = fs == vt::fsFat32;
            // A volume of 4096-byte sectors (a 4Kn drive) counts eight of
            // this drive's sectors in each of its own.
            const std::int64_t k = std::max<std::uint32_t>(DataStruc::SectorScale(boot), 1);
            const std::int64_t fatSectors = (fat32 ? br.U32Or(0x24) : br.U16Or(0x16)) * k;
            std::int64_t d = s + br.U16Or(0x0E) * k + static_cast<std::int64_t>(br.U8Or(0x10)) * fatSectors;
            // The root directory: the fixed region of FAT12/16, the first
            // cluster of a FAT32 root. Its label entry need not be the
            // first entry (a label given after files were copied), and a
            // long-name piece is no label: the volume shows the label that
            // Windows shows for the drive.
            const auto spc = static_cast<std::uint32_t>(std::max<std::uint32_t>(br.U8Or(0x0D), 1) * k);
            std::uint32_t sectors = (br.U16Or(0x11) * 32u + 511) / 512;
            if (fat32) {
                const std::uint32_t rootCluster = br.U32Or(0x2C);
                if (rootCluster >= 2) d += static_cast<std::int64_t>(rootCluster - 2) * spc;
                sectors = spc;
            }
            sectors = std::clamp<std::uint32_t>(sectors, 1, 64);
            std::vector<std::uint8_t> dir(sectors * 512);
            if (!ReadDiskSectors(h, static_cast<std::uint16_t>(sectors), dir.data(), d, bytesRead, node->DriveNo))
                return;
            dir.resize(std::min<std::size_t>(bytesRead, dir.size()) / 32 * 32);
            if (auto label = platform::FatRootLabel(dir)) node->VolumeLabel = *label;
        } else if (fs == vt::fsNtfs) {
            // File record 3 ($Volume): records of two sectors from the
            // master file table's first cluster.
            const std::int64_t rs = s + static_cast<std::int64_t>(br.U8Or(0x0D)) *
                                            static_cast<std::int64_t>(static_cast<std::uint32_t>(br.U64Or(0x30))) + 6;
            std::vector<std::uint8_t> rec(kMftRecordSize);
            if (!ReadDiskSectors(h, 2, rec.data(), rs, bytesRead, node->DriveNo) || bytesRead < kMftRecordSize ||
                !ApplyRecordFixup(rec))
                return;
            TAttribute name;
            if (GetRecordAttribute(rec, kAttrVolumeName, name) && !name.Data.empty())
                node->VolumeLabel = Utf16LeToAnsi(name.Data);
        }
    } catch (const std::exception&) {
        // The label stays what it was.
    }
}

// ---------------------------------------------------------------------------
// Deep scan

bool TPhysicalDrive::DeepScan(PPartiEntry entry, platform::IProgressBar* progressBar) {
    if (Busy || !entry) return false;
    if (entry->DriveNo < 0 && !DataStruc::IsDriveValid(static_cast<char>(-entry->DriveNo))) {
        ErrorBox("驱动器未就绪。");
        return false;
    }
    win::HANDLE h = OpenDiskHandle(entry->DriveNo);
    if (h == win::INVALID_HANDLE_VALUE) return false;
    Busy = true;
    try {
        DataStruc::AddLogEvent(EventLogView, "开始深度扫描...", kLogInfo);
        // The volume whose boot sector was taken last. NTFS and FAT32 keep a
        // copy of their boot sector inside the volume (FAT32 at its backup
        // sector, +6 as a rule) or right after its counted sectors (NTFS): a
        // boot sector with its serial inside the volume is that copy when it
        // stands at the backup place or repeats the boot sector byte for
        // byte. Any other boot sector there, whatever its serial, is a volume
        // stored inside this one (an image of a card or a stick kept as a
        // file), and one with the same serial further on (a cloned
        // partition, volumes made by one script) is a volume of its own.
        bool haveLast = false;
        std::int64_t lastStart = 0, lastEnd = 0;  // lastEnd: past the backup place
        std::int64_t lastBackup = -1;             // FAT32's backup sector
        std::uint32_t lastSerial = 0;
        std::array<std::uint8_t, 512> lastBoot{};
        std::uint64_t unreadable = 0;
        const bool stopped = !WalkSectorChunks(
            h, entry->DriveNo, entry->FirstSector(), static_cast<std::uint64_t>(entry->SectorTotal()), progressBar, Aborted,
            unreadable,
            [&](std::int64_t lba, std::span<const std::uint8_t> sector) {
                DataStruc::BootSectorInfo info;
                if (!DataStruc::ExamineBootSector(sector, info)) return;
                if (haveLast && info.Serial == lastSerial && lba > lastStart && lba < lastEnd &&
                    (lba == lastBackup || lba == lastEnd - 1 ||
                     std::equal(lastBoot.begin(), lastBoot.end(), sector.begin(), sector.end())))
                    return;
                // At a FAT32 volume's backup place, a boot sector that
                // places the volume's FAT (as the volume's own does, or
                // where the FAT lies) is its copy, whatever its serial: a
                // tool that gave the volume a new serial in sector 0 alone.
                const std::int64_t scanEnd = entry->FirstSector() + entry->SectorTotal();
                auto placesFat = [&](std::int64_t from, DataStruc::FatBootLayout& layout) {
                    return DataStruc::ExamineFatBoot(sector, from, scanEnd, layout) && FatBeginsAt(h, entry->DriveNo, layout);
                };
                if (haveLast && info.FsType == vt::fsFat32 && lba == lastBackup) {
                    DataStruc::FatBootLayout copy, own;
                    if (placesFat(lastStart, copy) ||
                        (DataStruc::ExamineFatBoot(sector, lastStart, scanEnd, copy) &&
                         DataStruc::ExamineFatBoot(lastBoot, lastStart, scanEnd, own) && copy.FatStart == own.FatStart &&
                         copy.FatSectors == own.FatSectors && copy.RootCluster == own.RootCluster &&
                         copy.DataStart == own.DataStart))
                        return;
                }
                const std::int64_t backup = vt::ByteReader(sector).U16Or(0x32) * DataStruc::SectorScale(sector);
                // A copy whose volume's own boot sector did not pass: the
                // volume begins where the copy puts it, when its FAT lies
                // there and not where the copy's own sector would put it.
                std::int64_t start = lba;
                if (info.FsType == vt::fsFat32 && backup > 0 && lba - backup >= entry->FirstSector() &&
                    !(haveLast && lastStart == lba - backup)) {
                    DataStruc::FatBootLayout volume, here;
                    if (placesFat(lba - backup, volume) && !placesFat(lba, here)) start = lba - backup;
                }
                haveLast = true;
                lastSerial = info.Serial;
                lastStart = start;
                lastEnd = start + static_cast<std::int64_t>(info.SectorCount) + (info.FsType == vt::fsNtfs ? 1 : 0);
                lastBackup = info.FsType == vt::fsFat32 && backup > 0 ? start + backup : -1;
                std::copy_n(sector.begin(), std::min(sector.size(), lastBoot.size()), lastBoot.begin());
                if (!IsNewPartitionStart(start, Partitions)) return;
                auto lost = std::make_unique<TPartiEntry>();
                lost->DriveNo = entry->DriveNo;
                lost->RawEntry.SysType = kSysLost;
                lost->SetFirstSector(0, start);
                lost->SetSectorTotal(static_cast<std::int64_t>(info.SectorCount));
                ReadVolumeLabel(h, lost.get());
                LostPartitions.push_back(std::move(lost));
            });
        DataStruc::AddLogEvent(EventLogView, stopped ? "深度扫描进程被用户中止" : "深度扫描已经完成",
                               stopped ? kLogWarning : kLogInfo);
        LogUnreadableSectors(unreadable);
    } catch (const std::exception& e) {
        DataStruc::AddLogEvent(EventLogView, e.what(), kLogError);
    }
    Busy = false;
    SetProgress(progressBar, 0);
    Aborted = false;
    win::CloseHandle(h);
    return true;
}

void TPhysicalDrive::Stop() {
    if (Busy) Aborted = true;
}

void TPhysicalDrive::ClearAbort() { Aborted = false; }

// ---------------------------------------------------------------------------
// The drive list

TPhysicalDriveList::TPhysicalDriveList() { Refresh(); }

bool TPhysicalDriveList::Refresh() {
    Count = 0;
    for (auto& d : Drives) d.reset();
    try {
        for (char letter : GetLocalDriveLetters()) {
            if (Count >= kMaxDrives) break;
            TDriveGeometry g{};
            g.DriveNo = static_cast<DriveNo>(-static_cast<int>(letter));
            Drives[Count] = std::make_unique<TPhysicalDrive>(g);
            ++Count;
        }
        const bool nt = DataStruc::IsWinNT();
        const int first = nt ? 0 : 0x80, last = nt ? 127 : 0x91;
        for (int n = first; n <= last && Count < kMaxDrives; ++n) {
            TDriveGeometry g{};
            if (!GetPhysicalDriveGeometry(n, g)) continue;
            Drives[Count] = std::make_unique<TPhysicalDrive>(g);
            ++Count;
        }
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
    return true;
}
