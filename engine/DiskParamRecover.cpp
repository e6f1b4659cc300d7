// The standard engine's recovery: found files and folders of the current
// drive written into a target folder under unique names.
#include <algorithm>
#include <exception>
#include <functional>
#include <vector>

#include "ClusterBatch.h"
#include "DiskParam.h"
#include "DiskUtils.h"
#include "FileStream.h"
#include "Lznt1.h"
#include "NtfsRecord.h"
#include "PageBuffer.h"
#include "WriteBehind.h"

namespace {

// Event-log pictures of the standard window.
constexpr std::uint8_t kWarning = 1;
constexpr std::uint8_t kError = 2;

struct FatRecoveryGeometry {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t clusterBytes = 0;
};

FatRecoveryGeometry GeometryOf(const TLogiDrive& drive) {
    const vt::ByteReader b(drive.BootSector);
    FatRecoveryGeometry g;
    g.bytesPerSector = b.U16Or(0x0B);
    g.sectorsPerCluster = b.U8Or(0x0D);
    g.clusterBytes = g.bytesPerSector * g.sectorsPerCluster;
    return g;
}

bool IsFat(TFsType t) { return t == vt::fsFat12 || t == vt::fsFat16 || t == vt::fsFat32; }

std::uint32_t RecordedCluster(const TMidEntry& e, TFsType type) {
    if (type == vt::fsFat32) return (static_cast<std::uint32_t>(e.DirEntry.FstClusHI.get()) << 16) | e.DirEntry.FstClusLO.get();
    return e.DirEntry.FstClusLO.get();
}

// A file that was not written whole and whose recovery said nothing about
// it is named as failed, so that no file goes missing unnoticed.
// recover(log) recovers the file, logging into log; Shown is the file's
// path below the chosen folder.
template <typename Recover>
void ReportUnlogged(const std::string& shown, platform::IEventLog* logView, Recover recover) {
    platform::TCountingEventLog counted(logView);
    if (!recover(&counted) && counted.Rows() == 0) AddLogEvent(logView, shown + ":  恢复失败", kError);
}

// Log lines name a file or folder by its path below the folder the user
// chose, as it stands there: "name_1.ext" when the name was taken, and the
// folders it lies in, so that a user acting on the log finds that file.
const std::string kShortWriteLine = ":  无法写入目标驱动器";
const std::string kRefusedLine = ":  无法创建目标文件";
const std::string kFailedLine = ":  恢复失败";
const std::string kStoppedLine = ":  恢复被用户中止";

// A file read whole goes to the write-behind, when there is one and its
// bytes have not gone out yet; its failures are logged there.
bool HandOver(vt::TWriteBehind* behind, vt::TFileStream& out) {
    return behind && behind->Submit(out, kShortWriteLine, kRefusedLine, kError);
}

// Closes the file, which gives it its name, and logs how it ended when that
// is a failure: the target's refusal when it could not be named, a write
// that fell short, or else Failure (none: the file is whole). True for a
// whole file.
bool Finish(vt::TFileStream& out, platform::IEventLog* log, const std::string* failure = nullptr) {
    const bool closed = out.Close();
    const std::string* line = failure;
    if (out.NameFailed()) line = &kRefusedLine;
    else if (!closed || out.ShortWrite()) line = &kShortWriteLine;
    if (!line) return true;
    AddLogEvent(log, out.Below() + *line, kError);
    return false;
}

// The files and folders below a found folder that its recovery would walk.
void CountFatContents(TUndelete& u, const TMidEntry* folder, TFolderContents& c) {
    if (folder->Status == 2) return;
    std::int32_t first = -1, last = -1;
    if (!u.FindChildRange(RecordedCluster(*folder, u.Current->FsType), first, last)) return;
    for (std::int32_t i = first; i <= last; ++i) {
        const TMidEntry* child = u.Current->Entries[static_cast<std::size_t>(i)].get();
        if (child->Parent != folder) continue;
        if (IsFatFile(child->DirEntry)) {
            ++c.files;
        } else {
            ++c.folders;
            CountFatContents(u, child, c);
        }
    }
}

void CountNtfsContents(TUndelete& u, const tntfsfilerecord* folder, std::vector<std::int64_t>& path,
                       TFolderContents& c) {
    std::int32_t first = -1, last = -1;
    if (!u.FindChildRange(static_cast<std::uint32_t>(folder->RecordNo), first, last)) return;
    path.push_back(folder->RecordNo);
    for (std::int32_t i = first; i <= last; ++i) {
        const tntfsfilerecord* child = u.Current->NtfsEntries[static_cast<std::size_t>(i)].get();
        if (IsNtfsFile(child)) {
            ++c.files;
        } else if (std::find(path.begin(), path.end(), child->RecordNo) == path.end()) {
            ++c.folders;
            CountNtfsContents(u, child, path, c);
        }
    }
    path.pop_back();
}

}  // namespace

// A folder's tree is recovered with its small files written behind the
// reading (see WriteBehind.h); when the call returns each of them is written
// or named in the log.
template <typename Recover>
bool TUndelete::RecoverBehind(platform::IEventLog* LogView, Recover recover) {
    if (writeBehind_) return recover(LogView);
    if (!writer_) writer_ = std::make_unique<vt::TWriteBehind>(nullptr);
    vt::TWriteBehind& behind = *writer_;
    behind.SetLog(LogView);
    writeBehind_ = &behind;
    // Whichever way the folder ends, its files are written or named before
    // the call returns.
    struct Reset {
        vt::TWriteBehind*& slot;
        ~Reset() {
            try {
                slot->Wait();
            } catch (...) {
                // A log that throws loses the lines.
            }
            slot->SetLog(nullptr);
            slot = nullptr;
        }
    } reset{writeBehind_};
    const bool result = recover(behind.Log());
    behind.Wait();
    return result;
}

void TUndelete::RecoverFileReported(TMidEntry* Entry, const std::string& Name, const std::string& TargetDir,
                                    platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    RecoverFileInReported(Entry, Name, vt::TargetFolder::Open(TargetDir), StatusPanel, LogView);
}

void TUndelete::RecoverFileReported(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                                    platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    RecoverFileInReported(Entry, Name, Target, StatusPanel, LogView);
}

void TUndelete::RecoverFileReported(tntfsfilerecord* Entry, const std::string& Name, const std::string& TargetDir,
                                    platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    RecoverFileInReported(Entry, Name, vt::TargetFolder::Open(TargetDir), StatusPanel, LogView);
}

void TUndelete::RecoverFileReported(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                                    platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    RecoverFileInReported(Entry, Name, Target, StatusPanel, LogView);
}

void TUndelete::RecoverFileInReported(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                                      platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    ReportUnlogged(Target.FirstBelow(Name), LogView, [&](platform::IEventLog* log) {
        return RecoverFileIn(Entry, Name, Target, StatusPanel, log);
    });
}

void TUndelete::RecoverFileInReported(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                                      platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    ReportUnlogged(Target.FirstBelow(Name), LogView, [&](platform::IEventLog* log) {
        return RecoverFileIn(Entry, Name, Target, StatusPanel, log);
    });
}

bool TUndelete::RecoverFile(TMidEntry* Entry, const std::string& Name, const std::string& TargetDir,
                            platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    try {
        return RecoverFileIn(Entry, Name, vt::TargetFolder::Open(TargetDir), StatusPanel, LogView);
    } catch (...) {
        return false;
    }
}

bool TUndelete::RecoverFileIn(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                              platform::IStatusPanel*, platform::IEventLog* LogView) {
    try {
        if (!Current || !Entry || !IsFat(Current->FsType)) return false;
        const FatRecoveryGeometry g = GeometryOf(*Current);
        if (g.clusterBytes == 0) return false;
        const std::uint32_t size = Entry->DirEntry.FileSize.get();
        const std::uint32_t clusters =
            static_cast<std::uint32_t>((static_cast<std::uint64_t>(size) + g.clusterBytes - 1) / g.clusterBytes);

        // A present file is read along its allocation-table chain from its
        // recorded first cluster. A deleted file's chain is gone (its FAT
        // entries are cleared); it is read as consecutive clusters from its
        // first one, whose FAT32 high word Windows 9x cleared on deletion and
        // which is then guessed from the usual header of its extension.
        const bool present = Entry->Status == 0;
        std::uint32_t first = RecordedCluster(*Entry, Current->FsType);
        if (!present && Current->FsType == vt::fsFat32 && Entry->DirEntry.FstClusHI.get() == 0 && DiskUtils::IsWinNT())
            first = (static_cast<std::uint32_t>(GuessHighClusterWord(Name, Entry->DirEntry.FstClusLO.get())) << 16) |
                    Entry->DirEntry.FstClusLO.get();
        std::vector<std::uint32_t> chain;
        // A present file whose chain no FAT copy holds whole is named as
        // failed: where the chain broke, the rest is read as following on
        // (a guess); where an end mark came before the size, the size is
        // more than the volume holds of the file, and only the chain's
        // clusters are written.
        bool guessed = false;
        std::uint32_t readable = clusters;
        if (present && clusters > 0) {
            bool endsEarly = false;
            if (!GetFileClusters(first, clusters, chain, &endsEarly)) {
                guessed = true;
                if (endsEarly) readable = static_cast<std::uint32_t>(chain.size());
            }
        }
        // A deleted file's clusters that the FAT gives to a file now (or
        // marks bad) hold that file's bytes, not this one's: they are
        // written as read and the file is named as failed.
        for (std::uint32_t i = 0; !present && i < clusters && !guessed; ++i) {
            const auto value = FatEntryOf(first + i);
            guessed = !value || *value != 0;
        }
        auto clusterAt = [&](std::uint32_t i) -> std::uint32_t {
            if (i < chain.size()) return chain[i];
            if (!chain.empty()) return chain.back() + (i - static_cast<std::uint32_t>(chain.size()) + 1);
            return first + i;
        };

        vt::TFileStream out(Target, Name, writeBehind_);
        if (!out.Valid()) {
            AddLogEvent(LogView, out.Below() + kRefusedLine, kError);
            return false;
        }
        // The stream writes in large pieces: where it closes, a write that
        // fell short is logged as if it had been seen at once.
        vt::ClusterBatch batch(g.sectorsPerCluster, g.clusterBytes, [&](std::int64_t s, std::uint32_t n, void* b) {
            return ReadLogicalSectors(Current->Name, static_cast<std::uint32_t>(s), static_cast<std::uint16_t>(n), b);
        });
        for (std::uint32_t i = 0; i < readable; ++i) {
            platform::ProcessMessages();
            if (Aborted) {
                // The part written so far is not the file: it gets no name.
                out.Discard();
                LogStop(LogView, out.Below());
                return false;
            }
            const auto sector = FatClusterSector(clusterAt(i));
            // The clusters that follow this one on the disk, along the chain.
            auto ahead = [&](std::uint32_t most) {
                std::uint32_t n = 1;
                while (n < most && n < readable - i) {
                    const auto next = FatClusterSector(clusterAt(i + n));
                    if (!next || *next != *sector + static_cast<std::uint64_t>(n) * g.sectorsPerCluster) break;
                    ++n;
                }
                return n;
            };
            const std::uint8_t* data = sector ? batch.Get(*sector, ahead) : nullptr;
            if (!data) {
                // What was read so far stays; the file is named as failed,
                // so that a short copy is never taken for the original.
                Finish(out, LogView, &kFailedLine);
                return false;
            }
            std::size_t bytes = g.clusterBytes;
            if (i + 1 == clusters && size % g.clusterBytes != 0) bytes = size % g.clusterBytes;
            if (out.Write(data, bytes) != bytes) return Finish(out, LogView);
        }
        // A file read by a guess is kept under its name as read, and named
        // as failed.
        if (guessed) {
            Finish(out, LogView, &kFailedLine);
            return false;
        }
        if (HandOver(writeBehind_, out)) return true;
        return Finish(out, LogView);
    } catch (...) {
        return false;
    }
}

void TUndelete::LogStop(platform::IEventLog* LogView, const std::string& Shown) {
    if (StopLogged) return;
    StopLogged = true;
    AddLogEvent(LogView, Shown + kStoppedLine, kWarning);
}

bool TUndelete::RecoverFolder(TMidEntry* Entry, const std::string& Name, const std::string& TargetDir,
                              platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    return RecoverFolder(Entry, Name, vt::TargetFolder::Open(TargetDir), StatusPanel, LogView);
}

bool TUndelete::RecoverFolder(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                              platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    try {
        return RecoverBehind(LogView, [&](platform::IEventLog* log) {
            return RecoverFolderIn(Entry, Name, Target, StatusPanel, log);
        });
    } catch (...) {
        return true;
    }
}

bool TUndelete::RecoverFolderIn(TMidEntry* Entry, const std::string& Name, const vt::TargetFolder& Target,
                                platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    try {
        if (!Current || !Entry) return false;
        if (!IsFat(Current->FsType)) return true;
        // Names are taken in the order of the folder: the files handed to
        // the writer before this folder, to be named beside it, get theirs
        // first.
        if (writeBehind_) writeBehind_->WaitForFolder(Target.Identity());
        const vt::TargetFolder target = Target.CreateFolder(Name);
        if (!target.Valid()) {
            // Nothing of the folder can be written: it is named as failed,
            // with what it holds.
            TFolderContents contents;
            CountFatContents(*this, Entry, contents);
            AddLogEvent(LogView, target.Below() + kRefusedLine + NotWrittenText(contents), kError);
            return true;
        }
        // A folder whose first cluster holds no directory any more lost its
        // contents: nothing of them can be written, and the folder is named
        // as failed (on FAT32, Scan32 may find them).
        if (Entry->Status == 2) {
            AddLogEvent(LogView, target.Below() + kFailedLine, kError);
            return true;
        }
        // A folder whose directory could not be read whole held more than
        // was listed: what was listed is written, then the folder is named
        // as failed.
        const auto readInPart = [&] {
            if (Entry->ReadInPart) AddLogEvent(LogView, target.Below() + kFailedLine, kError);
        };
        std::int32_t first = -1, last = -1;
        if (!FindChildRange(RecordedCluster(*Entry, Current->FsType), first, last)) {
            readInPart();
            return false;
        }
        for (std::int32_t i = first; i <= last; ++i) {
            if (Aborted) {
                LogStop(LogView, target.Below());
                return false;
            }
            TMidEntry* child = Current->Entries[static_cast<std::size_t>(i)].get();
            // The range can also hold entries of another found folder with
            // the same first cluster.
            if (child->Parent != Entry) continue;
            const std::string childName = GetEntryFileName(*child);
            if (IsFatFile(child->DirEntry)) {
                if (StatusPanel) StatusPanel->SetText(" " + childName);
                RecoverFileInReported(child, childName, target, StatusPanel, LogView);
            } else {
                RecoverFolderIn(child, childName, target, StatusPanel, LogView);
            }
        }
        readInPart();
        return true;
    } catch (...) {
        return true;
    }
}

bool TUndelete::RecoverFile(tntfsfilerecord* Entry, const std::string& Name, const std::string& TargetDir,
                            platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    try {
        return RecoverFileIn(Entry, Name, vt::TargetFolder::Open(TargetDir), StatusPanel, LogView);
    } catch (...) {
        return false;
    }
}

bool TUndelete::RecoverFileIn(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                              platform::IStatusPanel*, platform::IEventLog* LogView) {
    try {
        if (!Current || !Entry || Current->FsType != vt::fsNtfs) return false;
        TAttribute data;
        trunlist runs;
        const TDataLookup lookup = FindNtfsData(Entry, data, runs);
        if (lookup == TDataLookup::Failed) return false;
        if (lookup == TDataLookup::NoData || data.Resident) {
            vt::TFileStream out(Target, Name, writeBehind_);
            if (!out.Valid()) {
                AddLogEvent(LogView, out.Below() + kRefusedLine, kError);
                return false;
            }
            // A record without $DATA leaves an empty file behind, named as
            // failed.
            if (lookup == TDataLookup::NoData) {
                Finish(out, LogView, &kFailedLine);
                return false;
            }
            const std::size_t n = std::min<std::size_t>(data.Resident->ValueLength.get(), data.Data.size());
            if (out.Write(data.Data.data(), n) != n) return Finish(out, LogView);
            // A value that runs past its attribute is damaged: the bytes
            // inside it stay, and the file is named.
            if (!ResidentValueWhole(data) || lookup == TDataLookup::Partial) {
                Finish(out, LogView, &kFailedLine);
                return false;
            }
            if (HandOver(writeBehind_, out)) return true;
            return Finish(out, LogView);
        }

        const FatRecoveryGeometry g = GeometryOf(*Current);
        if (g.clusterBytes == 0 || Entry->DataSize < 0) return false;
        const std::uint64_t size = static_cast<std::uint64_t>(Entry->DataSize);
        const std::uint64_t clusters = (size + g.clusterBytes - 1) / g.clusterBytes;
        // Clusters past the volume's end are no clusters of its files: the
        // file is written up to the run that leaves the volume, and fails.
        const bool cut = CutRunsAtVolumeEnd(runs, VolumeClusters());
        // Runs that map more than the attribute's allocated size are no runs
        // of this stream past it.
        const bool overAllocated =
            CutRunsAfterClusters(runs, static_cast<std::int64_t>(data.NonResident->AllocatedSize.get() & 0xFFFFFFFFFFFFull) /
                                           static_cast<std::int64_t>(g.clusterBytes));
        // A deleted file whose clusters the volume's $Bitmap gives to a file
        // again holds that file's bytes there now.
        const bool taken = (Entry->RecordFlags & kRecordInUse) == 0 &&
                           ClustersInUse(runs, static_cast<std::int64_t>(clusters)).value_or(false);
        // What was read is kept; a file that is not whole is named.
        const bool incomplete = cut || overAllocated || taken || lookup == TDataLookup::Partial;
        vt::TFileStream out(Target, Name, writeBehind_);
        if (!out.Valid()) {
            // The target refused the file; the data may well be there.
            AddLogEvent(LogView, out.Below() + kRefusedLine, kError);
            return false;
        }

        if (IsCompressedData(data)) {
            // Only units of 16 clusters are known here.
            const bool known = data.NonResident->CompressionUnit.get() == kCompressionUnitLog2;
            // The bytes past the initialized size are zeros, as NTFS reads
            // them: the file is cut there and lengthened again.
            const std::int64_t initialized = InitializedBytes(data, Entry->DataSize);
            const bool written = known && WriteNtfsRuns(out, runs, Entry->DataSize, LogView) &&
                                 (initialized >= Entry->DataSize ||
                                  (out.SetSize(initialized) && out.SetSize(Entry->DataSize)));
            // A stop has been logged; the part written gets no name.
            if (!written && Aborted) {
                out.Discard();
                return false;
            }
            // Closed here, not by the stream's end: a close that fails (some
            // network file systems report a failed write only then) is named.
            Finish(out, LogView, written && !incomplete ? nullptr : &kFailedLine);
            return true;
        }
        // Bytes past the initialized size hold whatever the clusters held
        // before: NTFS reads them as zeros, and so are they written.
        const std::uint64_t initialized =
            std::min<std::uint64_t>(data.NonResident->InitializedSize.get(), size);

        // The stream writes in large pieces: where it closes, a write that
        // fell short is logged as if it had been seen at once.
        vt::ClusterBatch batch(g.sectorsPerCluster, g.clusterBytes, [&](std::int64_t s, std::uint32_t n, void* b) {
            return ReadVolumeSectors(s, n, b);
        });
        std::uint64_t written = 0;  // clusters
        for (const TDataRun& run : runs) {
            for (std::int64_t k = 0; k < run.Length && written < clusters; ++k) {
                platform::ProcessMessages();
                if (Aborted) {
                    out.Discard();
                    LogStop(LogView, out.Below());
                    return false;
                }
                const std::uint64_t at = written * g.clusterBytes;  // of the cluster in the file
                ++written;
                std::size_t bytes = g.clusterBytes;
                if (written == clusters && size % g.clusterBytes != 0) bytes = size % g.clusterBytes;
                std::size_t put = 0;
                if (run.Sparse || at >= initialized) {
                    // A sparse run, or clusters past the initialized size:
                    // zeros.
                    put = out.WriteZeros(bytes) ? bytes : 0;
                } else {
                    const auto sector = vt::CheckedMul<std::int64_t>(run.Lcn + k, g.sectorsPerCluster);
                    // The rest of the run, as far as the file reaches.
                    auto ahead = [&](std::uint32_t most) {
                        const std::uint64_t left = std::min<std::uint64_t>(static_cast<std::uint64_t>(run.Length - k),
                                                                           clusters - written + 1);
                        return static_cast<std::uint32_t>(std::min<std::uint64_t>(most, left));
                    };
                    const std::uint8_t* cluster = sector ? batch.Get(*sector, ahead) : nullptr;
                    if (!cluster) {
                        Finish(out, LogView, &kFailedLine);
                        return false;
                    }
                    // The part of a cluster past the initialized size: zeros.
                    const std::size_t valid = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, initialized - at));
                    put = out.Write(cluster, valid);
                    if (put == valid && valid < bytes) put = out.WriteZeros(bytes - valid) ? bytes : 0;
                }
                if (put != bytes) return Finish(out, LogView);
            }
            if (written == clusters) break;
        }
        // Runs that end before the file does (a cut or damaged list, a size
        // beyond the allocation) leave it short: what was read stays, and
        // the file is named as failed.
        if (written < clusters || incomplete) {
            Finish(out, LogView, &kFailedLine);
            return false;
        }
        if (HandOver(writeBehind_, out)) return true;
        return Finish(out, LogView);
    } catch (...) {
        return false;
    }
}

bool TUndelete::RecoverFolder(tntfsfilerecord* Entry, const std::string& Name, const std::string& TargetDir,
                              platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    return RecoverFolder(Entry, Name, vt::TargetFolder::Open(TargetDir), StatusPanel, LogView);
}

bool TUndelete::RecoverFolder(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                              platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    try {
        return RecoverBehind(LogView, [&](platform::IEventLog* log) {
            return RecoverFolderIn(Entry, Name, Target, StatusPanel, log);
        });
    } catch (...) {
        return true;
    }
}

bool TUndelete::RecoverFolderIn(tntfsfilerecord* Entry, const std::string& Name, const vt::TargetFolder& Target,
                                platform::IStatusPanel* StatusPanel, platform::IEventLog* LogView) {
    try {
        if (!Current || !Entry) return false;
        if (Current->FsType != vt::fsNtfs) return true;
        // The root is listed as "\", which is no folder name here: its
        // contents go into a folder named after the volume.
        std::string folderName = Name;
        if (Name == "\\") {
            const std::string& label = Current->VolumeLabel;
            const bool none = label.find_first_not_of(' ') == std::string::npos || label == "无卷标";
            folderName = none ? "root" : label;
        }
        if (writeBehind_) writeBehind_->WaitForFolder(Target.Identity());
        const vt::TargetFolder target = Target.CreateFolder(folderName);
        if (!target.Valid()) {
            TFolderContents contents;
            std::vector<std::int64_t> path = recoverPath_;
            CountNtfsContents(*this, Entry, path, contents);
            AddLogEvent(LogView, target.Below() + kRefusedLine + NotWrittenText(contents), kError);
            return true;
        }
        // Parent links are the volume's word only: the root names itself as
        // its parent, and damaged records can form loops. A folder already
        // on the path being written is not entered again.
        struct PathGuard {
            std::vector<std::int64_t>& path;
            explicit PathGuard(std::vector<std::int64_t>& p, std::int64_t no) : path(p) { path.push_back(no); }
            ~PathGuard() { path.pop_back(); }
        } guard(recoverPath_, Entry->RecordNo);
        std::int32_t first = -1, last = -1;
        if (!FindChildRange(static_cast<std::uint32_t>(Entry->RecordNo), first, last)) return false;
        for (std::int32_t i = first; i <= last; ++i) {
            if (Aborted) {
                LogStop(LogView, target.Below());
                return false;
            }
            tntfsfilerecord* child = Current->NtfsEntries[static_cast<std::size_t>(i)].get();
            if (IsNtfsFile(child)) {
                if (StatusPanel) StatusPanel->SetText(" " + child->Name);
                RecoverFileInReported(child, child->Name, target, StatusPanel, LogView);
            } else if (std::find(recoverPath_.begin(), recoverPath_.end(), child->RecordNo) == recoverPath_.end()) {
                RecoverFolderIn(child, child->Name, target, StatusPanel, LogView);
            }
        }
        return true;
    } catch (...) {
        return true;
    }
}

bool TUndelete::WriteNtfsRuns(vt::TFileStream& Stream, const trunlist& Runs, std::int64_t FileSize,
                              platform::IEventLog* LogView) {
    try {
        if (!Current) return false;
        const FatRecoveryGeometry g = GeometryOf(*Current);
        vt::CompressedRunSource source;
        source.bytesPerCluster = g.clusterBytes;
        source.readClusters = [&](std::int64_t lcn, std::int64_t n, std::uint8_t* buffer) {
            const auto sector = vt::CheckedMul<std::int64_t>(lcn, g.sectorsPerCluster);
            const auto count = vt::CheckedMul<std::int64_t>(n, g.sectorsPerCluster);
            if (!sector || !count) return false;
            // In requests of at most 65535 sectors, the count a read takes.
            for (std::int64_t done = 0; done < *count;) {
                const std::int64_t piece = std::min<std::int64_t>(*count - done, 0xFFFF);
                if (!ReadVolumeSectors(*sector + done, static_cast<std::uint32_t>(piece), buffer + done * 512))
                    return false;
                done += piece;
            }
            return true;
        };
        source.beforeRun = [&] {
            platform::ProcessMessages();
            if (!Aborted) return true;
            LogStop(LogView, Stream.Below());
            return false;
        };
        return vt::WriteCompressedRuns(Stream, Runs, FileSize, source) == vt::RunWalkResult::Done;
    } catch (...) {
        return false;
    }
}
