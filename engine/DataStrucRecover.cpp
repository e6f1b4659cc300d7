// Recovery of found files and FAT folders of a scanned node into a target
// folder, and the walk over the run list of a compressed NTFS file.
#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <system_error>
#include <tuple>

#include "ClusterBatch.h"
#include "DataStruc.h"
#include "DataStrucShared.h"
#include "Lznt1.h"

namespace {

using namespace DataStruc::detail;

// Lines name a file or folder by its path below the folder the user chose,
// as it stands there ("name_1.ext" when the name was taken).
const std::string kFailed = " - 恢复失败";
const std::string kShortWrite = " - 无法写入目录驱动器，恢复失败。";
const std::string kRefused = " - 无法创建目标文件";
const std::string kStopped = " - 恢复进程被用户中止";

// FAT files are read in requests of 100 sectors into one buffer.
constexpr std::uint32_t kFatChunkSectors = 100;
// The sector count limit of one ReadDiskSectors request.
constexpr std::int64_t kMaxRequestSectors = 65535;

// The drive handle of one operation, closed on every way out.
class DiskHandle {
public:
    explicit DiskHandle(::DriveNo drive) : h_(OpenDiskHandle(drive)), drive_(drive) {}
    ~DiskHandle() {
        if (Valid()) win::CloseHandle(h_);
    }
    DiskHandle(const DiskHandle&) = delete;
    DiskHandle& operator=(const DiskHandle&) = delete;
    bool Valid() const { return h_ != win::INVALID_HANDLE_VALUE; }
    win::HANDLE Handle() const { return h_; }
    ::DriveNo Drive() const { return drive_; }
    // Count sectors from Lba into the buffer, in requests the driver takes;
    // true only when every byte arrived.
    bool Read(std::int64_t lba, std::int64_t count, std::uint8_t* buffer) const {
        while (count > 0) {
            const auto n = static_cast<std::uint16_t>(std::min(count, kMaxRequestSectors));
            std::uint32_t bytesRead = 0;
            if (!ReadDiskSectors(h_, n, buffer, lba, bytesRead, drive_) || bytesRead < n * 512u) return false;
            buffer += n * 512u;
            lba += n;
            count -= n;
        }
        return true;
    }

private:
    win::HANDLE h_;
    ::DriveNo drive_;
};

// The progress bar back at 0 and the status panel emptied when one file is
// done, whichever way it ends.
struct FileDone {
    platform::IProgressBar* bar = nullptr;
    platform::IStatusPanel* panel = nullptr;
    bool resetBar = false;
    ~FileDone() {
        if (resetBar) SetProgress(bar, 0);
        if (panel) panel->SetText("");
    }
};

void LogError(const std::string& text) { DataStruc::AddLogEvent(EventLogView, text, kLogError); }

// The message of the class library's file-creation error, with the
// system's reason.
std::string CreateFailure(const vt::TFileStream& out) {
    return "Cannot create file \"" + out.Path() + "\". " + std::strerror(out.CreateError());
}

// Closes the file, which gives it its name, and logs how it ended when that
// is a failure: the target's refusal when it could not be named, a write
// that fell short, or else Failure (none: the file is whole).
void Finish(vt::TFileStream& out, const std::string* failure = nullptr) {
    const bool closed = out.Close();
    if (out.NameFailed()) LogError(CreateFailure(out));
    else if (!closed || out.ShortWrite()) LogError(out.Below() + kShortWrite);
    else if (failure) LogError(out.Below() + *failure);
}

// A stop seen in the middle of a file: the part written gets no name, and
// the line names the file.
void Stopped(vt::TFileStream& out) {
    out.Discard();
    DataStruc::AddLogEvent(EventLogView, out.Below() + kStopped, kLogWarning);
}

}  // namespace

bool TPhysicalDrive::WriteNtfsRuns(vt::TFileStream& stream, const trunlist& runs, std::int64_t fileSize,
                                   std::int64_t recordSector) {
    PPartiEntry node = CurPartition;
    if (!node || node->NtfsSectorsPerCluster <= 0) return false;
    DiskHandle disk(node->DriveNo);
    if (!disk.Valid()) return false;
    const std::int64_t spc = node->NtfsSectorsPerCluster;
    vt::CompressedRunSource source;
    source.bytesPerCluster = static_cast<std::uint32_t>(spc * 512);
    source.readClusters = [&](std::int64_t lcn, std::int64_t clusters, std::uint8_t* buffer) {
        const auto first = NtfsClusterSector(lcn, recordSector);
        const auto count = vt::CheckedMul<std::int64_t>(clusters, spc);
        return first && count && disk.Read(*first, *count, buffer);
    };
    // The window stays responsive; a stop is not looked at until the next
    // file that is copied cluster by cluster.
    source.beforeRun = [] {
        platform::ProcessMessages();
        return true;
    };
    return vt::WriteCompressedRuns(stream, runs, fileSize, source) == vt::RunWalkResult::Done;
}

int TPhysicalDrive::RecoverFile(const void* entry, TFsType kind, const std::string& targetDir,
                                platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel) {
    return RecoverFile(entry, kind, vt::TargetFolder::Open(targetDir), progressBar, statusPanel);
}

int TPhysicalDrive::RecoverFile(const void* entry, TFsType kind, const vt::TargetFolder& target,
                                platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel) {
    if (!CurPartition || !entry) return 0;
    return RecoverFileIn(entry, kind, target, progressBar, statusPanel);
}

int TPhysicalDrive::RecoverFileIn(const void* entry, TFsType kind, const vt::TargetFolder& target,
                                  platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel) {
    FileDone done{progressBar, statusPanel};
    if (kind == vt::fsNtfs) {
        const auto& rec = *static_cast<const tntfsfilerecord*>(entry);
        if (statusPanel) statusPanel->SetText(" " + rec.Name);
        return RecoverNtfsFile(rec, target, progressBar);
    }
    const auto& e = *static_cast<const TPhysMidEntry*>(entry);
    if (statusPanel) statusPanel->SetText(" " + PhysEntryDisplayName(e));
    return RecoverFatFile(e, kind, target, progressBar);
}

int TPhysicalDrive::RecoverNtfsFile(const tntfsfilerecord& rec, const vt::TargetFolder& target,
                                    platform::IProgressBar* progressBar) {
    const std::string& name = rec.Name;
    const std::string shown = target.FirstBelow(name);
    // A negative size comes from a damaged record: there is nothing to
    // count clusters or progress against.
    if (rec.DataSize < 0) {
        LogError(shown + kFailed);
        return 0;
    }
    DiskHandle disk(CurPartition->DriveNo);
    if (!disk.Valid()) return 0;
    FileDone barReset{progressBar, nullptr, true};

    // The record is read again from the drive (through its table where the
    // listing placed it): a record that no longer reads whole, or that has
    // no $DATA although the listing gave it a size, has nothing to write.
    // A file in extents follows its attribute list to each of them.
    std::array<std::uint8_t, kMftRecordSize> record{};
    TAttribute data;
    trunlist runs;
    if (ReadFoundRecord(disk.Handle(), rec.RecordSector, record) != RecordRead::Whole) {
        LogError(shown + kFailed);
        return 0;
    }
    const FileData found = FindFileData(disk.Handle(), rec.RecordSector, record, data, runs);
    if (found == FileData::Failed) return 0;
    // A record in which no $DATA can be found (a length before it broken,
    // so that the walk misses it) is an empty file only by the listing's
    // word: it is made empty and named, as the standard engine does.
    if (found == FileData::NoData) {
        vt::TFileStream out(target, name);
        if (!out.Valid()) LogError(CreateFailure(out));
        else Finish(out, &kFailed);
        return 0;
    }
    // An extent that could not be had (its record reused, unreadable or
    // torn): the file is written as far as the extents before it reach.
    const bool partial = found == FileData::Partial;

    if (data.Resident) {
        vt::TFileStream out(target, name);
        if (!out.Valid()) {
            LogError(CreateFailure(out));
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(data.Resident->ValueLength.get(), data.Data.size());
        out.Write(data.Data.data(), n);
        // A value that runs past its attribute is damaged: the bytes inside
        // it stay, and the file is named.
        Finish(out, partial || !ResidentValueWhole(data) ? &kFailed : nullptr);
        return 0;
    }

    const std::int64_t spc = CurPartition->NtfsSectorsPerCluster;
    if (spc <= 0) {
        // No cluster size: the listing has not voted on this node.
        LogError(shown + kFailed);
        return 0;
    }
    const std::int64_t cb = spc * 512;
    const std::int64_t clusters = rec.DataSize / cb + (rec.DataSize % cb != 0 ? 1 : 0);
    // Clusters past the end of the record's volume are no clusters of its
    // files: the file is written up to the run that leaves the volume, and
    // fails.
    const auto volumeClusters = NtfsVolumeClusters(disk.Handle(), rec.RecordSector);
    // Runs that map more than the attribute's allocated size are no runs of
    // this stream past it.
    const bool overAllocated =
        CutRunsAfterClusters(runs, static_cast<std::int64_t>(data.NonResident->AllocatedSize.get() & 0xFFFFFFFFFFFFull) / cb);
    // A deleted file whose clusters the volume's $Bitmap gives to a file
    // again holds that file's bytes there now.
    const bool taken = (rec.RecordFlags & kRecordInUse) == 0 &&
                       ClustersInUse(disk.Handle(), rec.RecordSector, runs, clusters).value_or(false);
    const bool cut =
        (volumeClusters && CutRunsAtVolumeEnd(runs, *volumeClusters)) || partial || overAllocated || taken;
    vt::TFileStream out(target, name);
    if (!out.Valid()) {
        LogError(CreateFailure(out));
        return 0;
    }

    // Compressed by the attribute's own header, whatever the file's flags
    // say; only units of 16 clusters are known here.
    if (IsCompressedData(data)) {
        const bool known = data.NonResident->CompressionUnit.get() == kCompressionUnitLog2;
        // Past the initialized size NTFS reads zeros: the file is cut there
        // and lengthened again.
        const std::int64_t initialized = InitializedBytes(data, rec.DataSize);
        const bool written = known && WriteNtfsRuns(out, runs, rec.DataSize, rec.RecordSector) && !cut &&
                             (initialized >= rec.DataSize || (out.SetSize(initialized) && out.SetSize(rec.DataSize)));
        Finish(out, written ? nullptr : &kFailed);
        return 0;
    }
    // Bytes past the initialized size hold whatever the clusters held
    // before: NTFS reads them as zeros, and so are they written.
    const std::int64_t initialized = InitializedBytes(data, rec.DataSize);

    // The stream writes in large pieces: where it closes, a write that fell
    // short is logged as if it had been seen at once. The clusters of a run
    // are read a batch at a time, and one by one after a batch that failed,
    // so that the file keeps every cluster before the one that fails.
    vt::ClusterBatch batch(static_cast<std::uint32_t>(spc), static_cast<std::uint32_t>(cb),
                           [&](std::int64_t s, std::uint32_t n, void* b) {
                               return disk.Read(s, n, static_cast<std::uint8_t*>(b));
                           });
    std::int64_t written = 0;
    for (const TDataRun& run : runs) {
        const std::uint32_t length = static_cast<std::uint32_t>(run.Length);
        for (std::uint32_t k = 0; k < length && written < clusters; ++k) {
            platform::ProcessMessages();
            if (Aborted) {
                ClearAbort();
                Stopped(out);
                return 1;
            }
            std::int64_t bytes = cb;
            if (written + 1 == clusters && rec.DataSize % cb != 0) bytes = rec.DataSize % cb;
            std::size_t put = 0;
            const std::int64_t at = written * cb;  // of the cluster in the file
            if (run.Sparse || at >= initialized) {
                put = out.WriteZeros(static_cast<std::uint64_t>(bytes)) ? static_cast<std::size_t>(bytes) : 0;
            } else {
                const auto lcn = vt::CheckedAdd<std::int64_t>(run.Lcn, k);
                const auto sector = lcn ? NtfsClusterSector(*lcn, rec.RecordSector) : std::nullopt;
                // The rest of the run, as far as the file reaches: on the
                // disk one after the other.
                auto ahead = [&](std::uint32_t most) {
                    const std::int64_t left = std::min<std::int64_t>(length - k, clusters - written);
                    return static_cast<std::uint32_t>(std::min<std::int64_t>(most, left));
                };
                const std::uint8_t* cluster = sector ? batch.Get(*sector, ahead) : nullptr;
                if (!cluster) {
                    Finish(out, &kFailed);
                    return 0;
                }
                // The part of a cluster past the initialized size: zeros.
                const auto valid = static_cast<std::size_t>(std::min<std::int64_t>(bytes, initialized - at));
                put = out.Write(cluster, valid);
                if (put == valid && valid < static_cast<std::size_t>(bytes))
                    put = out.WriteZeros(static_cast<std::uint64_t>(bytes) - valid) ? static_cast<std::size_t>(bytes) : 0;
            }
            if (put != static_cast<std::size_t>(bytes)) {
                Finish(out);
                return 0;
            }
            ++written;
            SetProgress(progressBar, 100.0 * static_cast<double>(out.Size()) / static_cast<double>(rec.DataSize));
        }
    }
    // Runs that end before the file does leave it short: the bytes that
    // could be read stay, and the file counts as failed.
    Finish(out, written < clusters || cut ? &kFailed : nullptr);
    return 0;
}

bool TPhysicalDrive::CrossLinked(const TPhysMidEntry& entry, FatTable& fat) {
    PPartiEntry node = CurPartition;
    if (crossNode_ != node) {
        crossNode_ = node;
        crossBuilt_.clear();
        crossLinked_.clear();
    }
    if (crossBuilt_.insert(entry.Volume).second) {
        // The clusters every present file of the volume needs, along its
        // chain, and every present folder's chain (the root's too), as runs
        // of consecutive clusters: two whose runs overlap share a cluster,
        // and a file whose chain runs into a folder's holds its entries.
        // The same directory entry listed twice is one file; a folder is
        // one by its first cluster, however often it is listed, and counts
        // only where a directory was found at that cluster (an entry whose
        // cluster holds a file's data is no folder's claim on it).
        struct Run {
            std::uint32_t First, End;  // clusters [First, End)
            std::size_t Owner;         // the file, by its first listing
            const TPhysMidEntry* Entry;
        };
        std::vector<Run> runs;
        std::map<std::tuple<std::uint32_t, std::uint32_t, std::string>, std::size_t> owners;
        const DataStruc::FatBootLayout& boot = fat.Boot();
        const bool fat32 = boot.FsType == vt::fsFat32;
        const auto clusterBytes = static_cast<std::uint64_t>(boot.SectorsPerCluster) * 512;
        // A folder holds at most 2 MiB of entries.
        const std::size_t folderClusters = std::max<std::size_t>(1, (2u << 20) / clusterBytes);
        auto addChain = [&](std::uint32_t first, std::size_t clusters, std::size_t owner, const TPhysMidEntry* e) {
            const auto walk = WalkFatChain(fat, first, clusters);
            for (std::uint32_t c : walk.Clusters) {
                if (!runs.empty() && runs.back().Entry == e && runs.back().Owner == owner && runs.back().End == c)
                    ++runs.back().End;
                else
                    runs.push_back({c, c + 1, owner, e});
            }
        };
        auto folderOwner = [&](std::uint32_t first) {
            return owners.emplace(std::make_tuple(first, 0u, std::string(1, '/')), owners.size()).first->second;
        };
        std::vector<std::int64_t> found = node->DirSectors;
        std::sort(found.begin(), found.end());
        auto isFolder = [&](std::uint32_t first) {
            const std::int64_t at = boot.DataStart + (static_cast<std::int64_t>(first) - 2) * boot.SectorsPerCluster;
            return std::binary_search(found.begin(), found.end(), at);
        };
        if (fat32 && boot.RootCluster >= 2) addChain(boot.RootCluster, folderClusters, folderOwner(boot.RootCluster), nullptr);
        for (const auto& e : node->FatEntries) {
            if (e->Volume != entry.Volume || e->DirEntry.Name[0] == vt::fat::kDeletedMark) continue;
            const std::uint32_t first = PhysEntryFirstCluster(*e, fat32);
            if (!IsFatFile(e->DirEntry)) {
                if (first >= 2 && isFolder(first)) addChain(first, folderClusters, folderOwner(first), e.get());
                continue;
            }
            const std::uint64_t size = e->DirEntry.FileSize.get();
            if (size == 0) continue;
            const std::string name(e->DirEntry.Name.begin(), e->DirEntry.Name.end());
            const std::size_t owner =
                owners.emplace(std::make_tuple(first, e->DirCluster, name + std::string(e->DirEntry.Ext.begin(), e->DirEntry.Ext.end())),
                               owners.size())
                    .first->second;
            addChain(first, static_cast<std::size_t>((size + clusterBytes - 1) / clusterBytes), owner, e.get());
        }
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.First < b.First; });
        // The run that reaches farthest so far holds the start of any later
        // run that overlaps an earlier one.
        const Run* reach = nullptr;
        for (const Run& r : runs) {
            if (reach && r.First < reach->End && r.Owner != reach->Owner) {
                crossLinked_.insert(r.Entry);
                crossLinked_.insert(reach->Entry);
            }
            if (!reach || r.End > reach->End) reach = &r;
        }
    }
    return crossLinked_.contains(&entry);
}

int TPhysicalDrive::RecoverFatFile(const TPhysMidEntry& entry, TFsType kind, const vt::TargetFolder& target,
                                   platform::IProgressBar* progressBar) {
    const std::string name = PhysEntryDisplayName(entry);
    const std::uint32_t size = entry.DirEntry.FileSize.get();
    const std::uint64_t sectors = (static_cast<std::uint64_t>(size) + 511) / 512;
    DiskHandle disk(CurPartition->DriveNo);
    if (!disk.Valid()) return 0;
    FileDone barReset{progressBar, nullptr, true};
    const auto place = PlaceFatEntry(entry, kind);
    // A file with data needs a place for its first cluster: without a
    // cluster size or a cluster 2 the listing cannot tell where it lies.
    if (sectors > 0 && !place) {
        LogError(target.FirstBelow(name) + kFailed);
        return 0;
    }
    // The sector runs the file is read from. Where the volume's boot sector
    // places the FAT, a present file is read along its chain for the
    // clusters its size needs; where the chain breaks, ends early or leads
    // back into itself, the clusters after the last one it gave follow on
    // the disk, the only guess left. A deleted file's chain is gone: it is
    // read as consecutive clusters from its first. Without a FAT to go by,
    // so is every file, and one of more than a cluster is a guess (it may
    // lie in pieces). A file read in part by a guess (a broken chain, a
    // cluster it shares with another file or folder, a cluster of a
    // deleted file that the FAT now gives to one, consecutive clusters
    // without a FAT) is written as read, never longer, and named as failed.
    std::vector<std::pair<std::int64_t, std::uint64_t>> extents;
    bool guessed = false;
    std::uint64_t fromChain = 0;  // sectors the chain gave
    std::size_t chainClusters = 0;
    const DataStruc::FatBootLayout* boot = place ? place->Boot : nullptr;
    if (boot && sectors > 0) {
        FatTable fat(disk.Handle(), disk.Drive(), *boot);
        const std::uint64_t spc = static_cast<std::uint64_t>(boot->SectorsPerCluster);
        const std::uint64_t count = (sectors + spc - 1) / spc;
        const std::uint32_t first = PhysEntryFirstCluster(entry, boot->FsType == vt::fsFat32);
        if (entry.DirEntry.Name[0] != vt::fat::kDeletedMark) {
            const auto chain = WalkFatChain(fat, first, static_cast<std::size_t>(count));
            extents = ChainExtents(*boot, chain.Clusters, sectors);
            fromChain = std::min<std::uint64_t>(chain.Clusters.size() * spc, sectors);
            chainClusters = chain.Clusters.size();
            guessed = chain.Clusters.size() < count || chain.End == ChainEnd::Broken || CrossLinked(entry, fat);
        } else {
            for (std::uint64_t k = 0; k < count && !guessed; ++k) {
                if (((k + 1) & 0x3FFF) == 0) platform::ProcessMessages();
                const auto value = k <= 0xFFFFFFFFu - first ? fat.Entry(first + static_cast<std::uint32_t>(k))
                                                             : std::nullopt;
                guessed = !value || *value != 0;
            }
        }
    }
    if (!boot && place && sectors > static_cast<std::uint64_t>(std::max(place->SectorsPerCluster, 1))) guessed = true;
    if (fromChain < sectors) {
        // Consecutive sectors from the first one the chain did not give; a
        // file whose clusters would reach past its volume is not the file.
        const std::int64_t from = extents.empty()
                                      ? place->Sector
                                      : extents.back().first + static_cast<std::int64_t>(extents.back().second);
        const std::uint64_t rest = sectors - fromChain;
        if (place->Limit > 0 && (from >= place->Limit || static_cast<std::uint64_t>(place->Limit - from) < rest)) {
            // A chain that gave no more than the entry's own first cluster
            // tells nothing the entry does not.
            if (chainClusters <= 1) {
                LogError(target.FirstBelow(name) + kFailed);
                return 0;
            }
            // What the chain gave stays; the rest is not the file's.
            guessed = true;
            if (from < place->Limit) extents.emplace_back(from, static_cast<std::uint64_t>(place->Limit - from));
        } else {
            extents.emplace_back(from, rest);
        }
    }
    std::uint64_t toRead = 0;
    for (const auto& x : extents) toRead += x.second;
    try {
        vt::TFileStream out(target, name);
        if (!out.Valid()) {
            LogError(CreateFailure(out));
            return 0;
        }
        platform::PageBuffer buffer(kFatChunkSectors * 512);
        std::uint64_t remaining = toRead;
        for (auto [start, left] : extents) {
            while (left > 0) {
                platform::ProcessMessages();
                SetProgress(progressBar, 100.0 * static_cast<double>(toRead - remaining) / static_cast<double>(toRead));
                const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kFatChunkSectors, left));
                if (!disk.Read(start, n, buffer.data())) {
                    // Bytes still in the stream's buffer may not fit either.
                    Finish(out, &kFailed);
                    return 0;
                }
                if (out.Write(buffer.data(), n * 512u) != n * 512u) {
                    Finish(out);
                    return 0;
                }
                start += n;
                left -= n;
                remaining -= n;
                if (Aborted) {
                    // The file is not sized to look whole: the part copied
                    // gets no name at all.
                    ClearAbort();
                    Stopped(out);
                    return 1;
                }
            }
        }
        SetProgress(progressBar, 100);
        // Cuts the surplus of the last sector; a file read in part by a
        // guess is named as failed, and holds what was read.
        out.SetSize(std::min<std::uint64_t>(size, toRead * 512));
        Finish(out, guessed ? &kFailed : nullptr);
    } catch (const std::exception& e) {
        // The part written gets no name.
        LogError(target.FirstBelow(name) + " - " + e.what());
    }
    return 0;
}

int TPhysicalDrive::RecoverFolder(const TPhysMidEntry* entry, TFsType kind, const std::string& targetDir,
                                  platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel) {
    return RecoverFolder(entry, kind, vt::TargetFolder::Open(targetDir), progressBar, statusPanel);
}

int TPhysicalDrive::RecoverFolder(const TPhysMidEntry* entry, TFsType kind, const vt::TargetFolder& target,
                                  platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel) {
    if (!CurPartition || !entry) return 0;
    const bool outermost = recoverPath_.empty();
    if (outermost) {
        recoverVisits_.clear();
        // The found directories, sorted once for the whole tree (and kept
        // for the next folder of a batch): a tree of 100,000 folders looks
        // each up by bisection.
        const auto& found = CurPartition->DirSectors;
        if (sortedDirsNode_ != CurPartition || sortedDirs_.size() != found.size()) {
            sortedDirs_ = found;
            std::sort(sortedDirs_.begin(), sortedDirs_.end());
            sortedDirsNode_ = CurPartition;
        }
    }
    struct PathReset {
        TPhysicalDrive* d;
        bool outermost;
        ~PathReset() {
            if (outermost) {
                d->recoverPath_.clear();
                d->recoverVisits_.clear();
            }
        }
    } reset{this, outermost};
    return RecoverFolderLevel(*entry, kind, &target, progressBar, statusPanel);
}

int TPhysicalDrive::RecoverFolderLevel(const TPhysMidEntry& entry, TFsType kind, const vt::TargetFolder* target,
                                       platform::IProgressBar* progressBar, platform::IStatusPanel* statusPanel,
                                       TFolderContents* skipped) {
    const std::string name = PhysEntryDisplayName(entry);
    std::int32_t first = -1, last = -1;
    const auto sector = FatEntrySector(entry, kind);
    const bool placed = sector.has_value();
    const std::int64_t dirSector = placed ? *sector : 0;
    if (placed) FindFatChildRange(dirSector, first, last);

    vt::TargetFolder newDir;
    if (!skipped) {
        newDir = target->CreateFolder(name);
        if (!newDir.Valid()) {
            // Named with what it holds, and the rest of the tree goes on.
            TFolderContents contents;
            RecoverFolderLevel(entry, kind, nullptr, nullptr, nullptr, &contents);
            LogError(newDir.Below() + kRefused + NotWrittenText(contents));
            return 0;
        }
    }
    // A folder whose directory the scan did not find (its cluster lies
    // where no found directory begins: overwritten, or a FAT32 high word
    // that was cleared) has nothing to write: it is named as failed.
    if (!placed || !std::binary_search(sortedDirs_.begin(), sortedDirs_.end(), dirSector)) {
        if (!skipped) LogError(newDir.Below() + kFailed);
        return 0;
    }
    if (first == -1 || last == -1) return 0;

    // A damaged or reused directory cluster can hold entries that lead back
    // to a folder still being written, or many entries that share one
    // directory: such a folder is created, but its directory is not written
    // into it again.
    if (std::find(recoverPath_.begin(), recoverPath_.end(), dirSector) != recoverPath_.end() ||
        recoverPath_.size() >= kMaxFolderDepth)
        return 0;
    if (++recoverVisits_[dirSector] > kMaxDirectoryVisits) return 0;

    recoverPath_.push_back(dirSector);
    struct Pop {
        std::vector<std::int64_t>& path;
        ~Pop() { path.pop_back(); }
    } pop{recoverPath_};
    int result = 0;
    for (std::int32_t i = first; i <= last; ++i) {
        const TPhysMidEntry* child = CurPartition->FatEntries[static_cast<std::size_t>(i)].get();
        const bool file = IsFatFile(child->DirEntry);
        if (skipped) {
            ++(file ? skipped->files : skipped->folders);
            if (!file) RecoverFolderLevel(*child, kind, nullptr, nullptr, nullptr, skipped);
            continue;
        }
        if (file)
            result = RecoverFileIn(child, kind, newDir, progressBar, statusPanel);
        else
            result = RecoverFolderLevel(*child, kind, &newDir, progressBar, statusPanel);
        if (result == 1) break;
    }
    return result;
}
