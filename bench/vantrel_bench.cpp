// The benchmark suite: drives the engines headless through the platform
// layer on images that bench/run.sh builds, beside the peers (The Sleuth
// Kit, TestDisk) and the read limit of the same bytes, and writes one table
// for people and one TSV file for programs.
//
//   vantrel-bench tree DIR FILES FOLDERS
//       writes the source tree of the FAT volume (FILES files in FOLDERS
//       folders, sizes 0 to 32 KiB, contents from a fixed generator)
//   vantrel-bench run IMAGES OUTDIR RUNS [--smoke] [--only TEXT] [--scale N,N,...]
//       (with the windows built, also the file list's fill and sorts,
//       offscreen, over entries of the scanned FAT32 volume, and the
//       Standard Recovery window's scans and its largest folder)
//       runs every workload (or those whose name holds TEXT) RUNS times,
//       each run in a child process of its own so that its peak memory is
//       its own, and writes OUTDIR/bench.tsv and OUTDIR/bench.txt. A run's
//       time goes from opening the drive to the end of the job, inside the
//       child; a peer's from its start to its exit. --scale adds the scale
//       series on the images scale-N.img (N files each). Every run also
//       measures the longest time between two runs of the message pump
//       (from the start of the job to its end).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../tests/fixtures/content-hash.h"

#include "DataStruc.h"
#include "DiskParam.h"
#include "DiskUtils.h"
#include "FileStream.h"
#include "MachineProfile.h"
#include "NtfsRecord.h"
#include "Recorders.h"
#include "Reporting.h"

#ifdef VT_BENCH_UI
#include <QApplication>

#include "AdvMain.h"
#include "FileList.h"
#include "QtPlatform.h"
#include "QuickMain.h"
#endif

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t Mix(std::uint32_t seed, std::uint32_t n) { return vt_content_word(seed, n); }

// ------------------------------------------------------------- the FAT tree

int MakeTree(const std::string& dir, int files, int folders) {
    std::vector<char> buf(32768);
    for (int d = 0; d < folders; ++d) {
        char name[64];
        std::snprintf(name, sizeof name, "/Folder %03d", d);
        const std::string folder = dir + name;
        fs::create_directories(folder);
        const int first = static_cast<int>(static_cast<long long>(files) * d / folders);
        const int last = static_cast<int>(static_cast<long long>(files) * (d + 1) / folders);
        for (int f = first; f < last; ++f) {
            const std::size_t size = Mix(7, static_cast<std::uint32_t>(f)) % 32769;
            for (std::size_t i = 0; i < size; i += 4) {
                const std::uint32_t w = Mix(static_cast<std::uint32_t>(f), static_cast<std::uint32_t>(i / 4));
                std::memcpy(buf.data() + i, &w, std::min<std::size_t>(4, size - i));
            }
            std::snprintf(name, sizeof name, "/Document %05d.bin", f);
            std::ofstream(folder + name, std::ios::binary).write(buf.data(), static_cast<std::streamsize>(size));
        }
    }
    return 0;
}

// ------------------------------------------------------------- measuring

// What one run of a workload reports from its child process.
struct RunResult {
    bool ok = false;
    double seconds = 0;
    double entries = 0;   // listed entries / recovered files
    double bytes = 0;     // bytes of output (recoveries, decompression)
    long baseKiB = 0;     // VmHWM before the workload
    long peakKiB = 0;     // VmHWM after it
    double rawSeconds = 0;  // of that, the passes over the raw sectors (partition scan)
    double gapMs = 0;       // longest time without a run of the message pump
    double gapAtMs = 0;     // where that time began, from the start of the job
};

long VmHwmKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// Runs fn in a child; the child reports through a pipe.
RunResult InChild(const std::function<RunResult()>& fn) {
    int p[2];
    if (::pipe(p) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(p[0]);
        RunResult r;
        try {
            r = fn();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "workload failed: %s\n", e.what());
            r.ok = false;
        }
        std::string line = std::to_string(r.ok) + " " + std::to_string(r.seconds) + " " + std::to_string(r.entries) +
                           " " + std::to_string(r.bytes) + " " + std::to_string(r.baseKiB) + " " +
                           std::to_string(r.peakKiB) + " " + std::to_string(r.rawSeconds) + " " +
                           std::to_string(r.gapMs) + " " + std::to_string(r.gapAtMs) + "\n";
        if (::write(p[1], line.data(), line.size()) < 0) _exit(1);
        _exit(0);
    }
    ::close(p[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = ::read(p[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    ::close(p[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    RunResult r;
    std::istringstream in(text);
    int ok = 0;
    if (in >> ok >> r.seconds >> r.entries >> r.bytes >> r.baseKiB >> r.peakKiB >> r.rawSeconds >> r.gapMs >> r.gapAtMs)
        r.ok = ok && WIFEXITED(status);
    return r;
}

struct PeerResult {
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
};

// Runs a command with its output into `out` (a file, or /dev/null), from
// fork to exit; peak memory from the child's own rusage.
PeerResult RunCommand(const std::vector<std::string>& argv, const std::string& out, const std::string& cwd = "") {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::close(fd);
        }
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, 2);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(127);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    PeerResult r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.peakKiB = ru.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

bool HaveTool(const std::string& name) {
    return RunCommand({"sh", "-c", "command -v " + name}, "/dev/null").ok;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// ------------------------------------------------------------- the engines

// The headless set-up every workload shares: the image as drive E: of a
// machine without real devices, the recorders for progress, status, log and
// message boxes, and a pump as cheap as a window's with nothing to do,
// throttled like the windows' (15 ms). The pump notes the longest time
// between two of its runs; the start and the end of the job count as runs
// (the window's own loop runs then).
struct Headless {
    platform::RecordingProgressBar progress;
    platform::RecordingStatusPanel status;
    platform::RecordingEventLog log;
    platform::MessageBoxRecorder boxes;
    long pumps = 0;
    Clock::time_point started{}, lastPump{};
    Clock::duration longest{}, longestAt{};

    // The image as logical drive E: (the standard engine; the volume at
    // `offset` in it) or as physical drive 0 (the advanced engine).
    explicit Headless(const std::string& image, bool physical = false, std::uint64_t offset = 0) {
        platform::Machine::Install(platform::Machine::FromProfileText(
            std::string("[machine]\nhide_real_devices=1\n") + (physical ? "[physical.0]" : "[logical.E]") +
                "\nimage=" + image + "\n" + (offset ? "offset=" + std::to_string(offset) + "\n" : ""),
            "/", false));
        DiskUtils::Initialize();
        DiskParam::Initialize();
        EventLogView = &log;
        platform::SetMessagePump([this] {
            ++pumps;
            Pumped();
        });
        Start();
    }
    // The job's start, as a run of the pump.
    Clock::time_point Start() {
        longest = longestAt = {};
        return started = lastPump = Clock::now();
    }
    void Pumped() {
        const auto now = Clock::now();
        if (now - lastPump > longest) {
            longest = now - lastPump;
            longestAt = lastPump - started;
        }
        lastPump = now;
    }
    // The job's end, as the last run of the pump.
    void Finish(RunResult& r) {
        Pumped();
        r.gapMs = std::chrono::duration<double, std::milli>(longest).count();
        r.gapAtMs = std::chrono::duration<double, std::milli>(longestAt).count();
    }
    ~Headless() {
        EventLogView = nullptr;
        platform::SetMessagePump({});
    }
    Headless(const Headless&) = delete;
    Headless& operator=(const Headless&) = delete;
};

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

RunResult StandardScan(const std::string& image, std::uint64_t offset = 0) {
    Headless h(image, false, offset);
    RunResult r;
    r.baseKiB = VmHwmKiB();
    const auto start = h.Start();
    TUndelete engine;
    if (engine.Drives.empty()) return r;
    TLogiDrive* drive = engine.Drives.front().get();
    r.ok = engine.OpenDrive(drive, false, &h.progress, &h.status);
    r.seconds = Since(start);
    h.Finish(r);
    r.peakKiB = VmHwmKiB();
    r.entries = static_cast<double>(drive->FsType == vt::fsNtfs ? drive->NtfsEntries.size() : drive->Entries.size());
    return r;
}

// Every file of the volume, present and deleted, as the window's "recover
// all" does it: the top entries one by one, folders with their trees.
RunResult StandardRecovery(const std::string& image, const std::string& target) {
    Headless h(image);
    RunResult r;
    r.baseKiB = VmHwmKiB();
    const auto start = h.Start();
    TUndelete engine;
    if (engine.Drives.empty()) return r;
    TLogiDrive* drive = engine.Drives.front().get();
    if (!engine.OpenDrive(drive, false, &h.progress, &h.status)) return r;
    if (drive->FsType == vt::fsNtfs) {
        for (auto& e : drive->NtfsEntries) {
            if (e->Parent) continue;
            if (IsNtfsFile(e.get()))
                engine.RecoverFile(e.get(), e->Name, target, &h.status, &h.log);
            else
                engine.RecoverFolder(e.get(), e->Name, target, &h.status, &h.log);
        }
    } else {
        for (auto& e : drive->Entries) {
            if (e->Parent) continue;
            const std::string name = GetEntryFileName(*e);
            if (IsFatFile(e->DirEntry))
                engine.RecoverFile(e.get(), name, target, &h.status, &h.log);
            else
                engine.RecoverFolder(e.get(), name, target, &h.status, &h.log);
        }
    }
    r.seconds = Since(start);
    h.Finish(r);
    r.peakKiB = VmHwmKiB();
    for (const auto& f : fs::recursive_directory_iterator(target))
        if (f.is_regular_file()) {
            r.entries += 1;
            r.bytes += static_cast<double>(f.file_size());
        }
    r.ok = true;
    return r;
}

// The compressed file as the generator left it: its record, size, cluster
// size and runs (for the bytes the read limit reads).
struct CompressedFile {
    std::int64_t record = 0;
    std::int64_t size = 0;
    std::uint32_t clusterBytes = 0;
    std::int64_t firstLcn = -1, endLcn = 0;  // the clusters that hold data
};

std::optional<CompressedFile> ReadRuns(const std::string& path) {
    std::ifstream in(path);
    CompressedFile f;
    if (!(in >> f.record >> f.size >> f.clusterBytes) || f.clusterBytes == 0) return std::nullopt;
    std::int64_t lcn = 0, length = 0;
    while (in >> lcn >> length) {
        if (lcn == 0) continue;
        if (f.firstLcn < 0 || lcn < f.firstLcn) f.firstLcn = lcn;
        f.endLcn = std::max(f.endLcn, lcn + length);
    }
    if (f.firstLcn < 0) return std::nullopt;
    return f;
}

// The compressed file recovered by the standard engine: the scan of its
// small volume, then the run walk and the LZNT1 decoder.
RunResult Decompress(const std::string& image, const CompressedFile& file, const std::string& target) {
    Headless h(image);
    RunResult r;
    r.baseKiB = VmHwmKiB();
    const auto start = h.Start();
    TUndelete engine;
    if (engine.Drives.empty()) return r;
    TLogiDrive* drive = engine.Drives.front().get();
    if (!engine.OpenDrive(drive, false, &h.progress, &h.status) || drive->FsType != vt::fsNtfs) return r;
    for (auto& e : drive->NtfsEntries)
        if (e->RecordNo == file.record && IsNtfsFile(e.get())) {
            r.ok = engine.RecoverFile(e.get(), e->Name, target, &h.status, &h.log);
            break;
        }
    r.seconds = Since(start);
    h.Finish(r);
    r.peakKiB = VmHwmKiB();
    for (const auto& f : fs::directory_iterator(target))
        if (f.is_regular_file()) r.bytes += static_cast<double>(f.file_size());
    r.ok = r.ok && r.bytes == static_cast<double>(file.size);
    r.entries = 1;
    return r;
}

// The advanced engine on a partitioned disk: each FAT32 and NTFS partition
// scanned for folders and records, then listed: the FAT listing and the NTFS
// listing of each, as the window makes them after a scan.
RunResult PartitionScan(const std::string& image, int partitions = 2) {
    Headless h(image, true);
    RunResult r;
    r.baseKiB = VmHwmKiB();
    const auto start = h.Start();
    TDriveGeometry g;
    if (!GetPhysicalDriveGeometry(0, g)) return r;
    TPhysicalDrive drive(g);
    int scanned = 0;
    for (std::size_t i = 0; i < drive.Partitions.size(); ++i) {
        TPartiEntry* node = drive.Partitions[i].get();
        const std::uint8_t type = node->RawEntry.SysType;
        const bool fat = type == 0x0B || type == 0x0C, ntfs = type == 0x07;
        if (!fat && !ntfs) continue;
        const auto scanStart = Clock::now();
        if (!drive.ScanPartition(node, &h.progress)) return r;
        r.rawSeconds += Since(scanStart);
        // Both listings, as the window builds them for every scanned node.
        drive.BuildFatList(&h.progress);
        drive.BuildNtfsList(&h.progress);
        r.entries += static_cast<double>(node->FatEntries.size() + node->NtfsEntries.size());
        r.bytes += static_cast<double>(node->SectorTotal()) * 512;
        ++scanned;
    }
    r.seconds = Since(start);
    h.Finish(r);
    r.peakKiB = VmHwmKiB();
    r.ok = scanned == partitions;
    return r;
}

// The advanced engine's deep scan of a whole disk for lost volumes.
RunResult DeepScan(const std::string& image) {
    Headless h(image, true);
    RunResult r;
    r.baseKiB = VmHwmKiB();
    const auto start = h.Start();
    TDriveGeometry g;
    if (!GetPhysicalDriveGeometry(0, g)) return r;
    TPhysicalDrive drive(g);
    r.ok = drive.DeepScan(drive.Partitions[0].get(), &h.progress);
    r.seconds = Since(start);
    h.Finish(r);
    r.peakKiB = VmHwmKiB();
    r.entries = static_cast<double>(drive.LostPartitions.size());
    r.bytes = static_cast<double>(g.TotalSectors) * 512;
    return r;
}

#ifdef VT_BENCH_UI
// ------------------------------------------------------------- the file list

// Extensions the list rows take in turn, so that type names are looked up
// for many kinds of file as on a real volume.
const std::vector<std::string>& ListExtensions() {
    static const std::vector<std::string> exts = [] {
        std::vector<std::string> out{"txt", "doc", "docx", "xls", "xlsx", "ppt", "pdf", "jpg", "jpeg", "png",
                                     "gif", "bmp", "tif", "mp3", "wav", "ogg", "flac", "mp4", "avi", "mkv",
                                     "mov", "zip", "rar", "7z", "gz", "tar", "iso", "exe", "dll", "sys",
                                     "ini", "log", "xml", "html", "htm", "css", "js", "json", "c", "cpp",
                                     "h", "py", "java", "sh", "bat", "csv", "rtf", "odt", "ods", "svg"};
        const std::size_t named = out.size();
        for (std::size_t i = 0; out.size() < 120; ++i) out.push_back(out[i % named] + std::to_string(i / named));
        return out;
    }();
    return exts;
}

// The standard window's file list over 10,000 entries of the scanned FAT32
// volume (all of them on the smoke run's small volume): filling it (texts, type names, the folders-first sort and the
// first paint), or, with column >= 0, one header click on that column after
// the fill. Offscreen, inside the child.
RunResult FileListWorkload(const std::string& image, int column) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "vantrel-bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ui::InstallPlatformHooks();
    Headless h(image);
    RunResult r;
    TUndelete engine;
    if (engine.Drives.empty()) return r;
    TLogiDrive* drive = engine.Drives.front().get();
    if (!engine.OpenDrive(drive, false, &h.progress, &h.status) || drive->Entries.empty()) return r;
    const int rows = static_cast<int>(std::min<std::size_t>(10000, drive->Entries.size()));
    ui::QuickMain::CurrentFsType = [drive] { return static_cast<int>(drive->FsType); };
    ui::TFileListView view(ui::TListKind::Standard, {"File", "Type", "Status", "Size", "Created"});
    view.resize(900, 600);
    view.show();
    QApplication::processEvents();
    const auto& exts = ListExtensions();

    r.baseKiB = VmHwmKiB();
    auto start = Clock::now();
    view.BeginUpdate();
    view.Clear();
    for (int i = 0; i < rows; ++i) {
        const TMidEntry* e = drive->Entries[static_cast<std::size_t>(i)].get();
        const bool folder = !IsFatFile(e->DirEntry);
        std::string caption = GetEntryDisplayName(*e);
        if (!folder) caption = caption.substr(0, caption.rfind('.')) + "." + exts[static_cast<std::size_t>(i) % exts.size()];
        int icon = -1;
        const QString type = folder ? QString::fromStdString(FolderTypeName) : ui::ShellTypeName(caption, &icon);
        const int image = folder ? (e->Status == 0 ? 0 : e->Status == 1 ? 1 : 2) : (e->Status == 0 ? 3 : 4);
        double created = 0;
        const bool dated = FatDateTimeToDateTime(e->DirEntry.CrtDate.get(), e->DirEntry.CrtTime.get(), created);
        view.AddRow(e, image,
                    {QString::fromStdString(caption), type,
                     image == 1 || image == 4 ? QStringLiteral("已删除") : image == 2 ? QStringLiteral("已损坏") : QString(),
                     ui::QuickMain::FormatSizeText(e->DirEntry.FileSize.get()),
                     dated ? ui::FormatListDate(created) : QString()},
                    icon);
    }
    view.CustomSort(ui::QuickMain::CompareListItems, 10);
    view.EndUpdate();
    view.viewport()->repaint();
    if (column >= 0) {
        start = Clock::now();
        view.ColumnClick(column);
        view.viewport()->repaint();
    }
    r.seconds = Since(start);
    r.peakKiB = VmHwmKiB();
    r.entries = view.Count();
    r.ok = view.Count() == rows;
    ui::RemovePlatformHooks();
    return r;
}

// The advanced window on a partitioned disk, offscreen, with the program's
// own message pump: a TfrmAdvMain shown on the disk as physical drive 0.
struct AdvWindow {
    std::unique_ptr<QApplication> app;
    std::unique_ptr<Headless> headless;
    std::unique_ptr<ui::TfrmAdvMain> window;
    explicit AdvWindow(const std::string& image) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "vantrel-bench";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        ui::InstallPlatformHooks();
        headless = std::make_unique<Headless>(image, true);
        platform::SetMessagePump([] { QCoreApplication::processEvents(); });
        window = std::make_unique<ui::TfrmAdvMain>();
        window->AppDirectory = fs::temp_directory_path().string() + "/";
        window->Wait = [](int) {};
        window->show();
        QApplication::processEvents();
    }
    ~AdvWindow() {
        window.reset();
        headless.reset();
        ui::RemovePlatformHooks();
    }
    // The drive node of physical drive 0 (the list holds no other drive).
    QTreeWidgetItem* DriveNode() const { return window->MyComputerNode->child(0); }
};

// Every FAT32 and NTFS partition of the disk clicked in the drive tree, from
// the click to its first found folder listed (scan, listings, found folders,
// first fill), as the user waits for it.
RunResult AdvWindowPartitionScan(const std::string& image) {
    AdvWindow w(image);
    RunResult r;
    r.baseKiB = VmHwmKiB();
    std::vector<QTreeWidgetItem*> nodes;
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* n) {
        if (const TPartiEntry* e = ui::TfrmAdvMain::NodeEntry(n)) {
            const std::uint8_t type = e->RawEntry.SysType;
            if (type == 0x0B || type == 0x0C || type == 0x07) nodes.push_back(n);
        }
        for (int i = 0; i < n->childCount(); ++i) walk(n->child(i));
    };
    if (w.DriveNode()) walk(w.DriveNode());
    double seconds = 0;
    for (QTreeWidgetItem* n : nodes) {
        const auto start = Clock::now();
        w.window->TreeView2->setCurrentItem(n);
        w.window->TreeView2Click();
        seconds += Since(start);
        const TPartiEntry* e = ui::TfrmAdvMain::NodeEntry(n);
        r.entries += static_cast<double>(e->FatEntries.size() + e->NtfsEntries.size());
        r.bytes += static_cast<double>(e->SectorTotal()) * 512;
    }
    r.seconds = seconds;
    r.peakKiB = VmHwmKiB();
    r.ok = nodes.size() == 2 && w.window->ListView1->Count() > 0;
    return r;
}

// The deep scan through the window: SmartScan on the drive node, the
// question answered Yes, to the lost partitions shown in the tree.
RunResult AdvWindowDeepScan(const std::string& image) {
    AdvWindow w(image);
    RunResult r;
    r.baseKiB = VmHwmKiB();
    w.headless->boxes.answers = {win::IDYES};
    const auto start = Clock::now();
    if (!w.DriveNode()) return r;
    w.window->TreeView2->setCurrentItem(w.DriveNode());
    w.window->PartiScanExecute();
    r.seconds = Since(start);
    r.peakKiB = VmHwmKiB();
    TPhysicalDrive* drive = ui::AdvMain::CurrentDrive;
    r.entries = static_cast<double>(drive->LostPartitions.size());
    r.bytes = static_cast<double>(drive->Partitions[0]->SectorTotal()) * 512;
    r.ok = w.headless->boxes.calls.size() == 1;
    return r;
}
#endif

#ifdef VT_BENCH_UI
// ------------------------------------------------------------- the standard window

// The Standard Recovery window, offscreen, on the image as drive E:, with
// the toolkit's own message pump (the window's cost of staying responsive
// is part of what is measured). folder empty: from the click on the drive to
// the folder tree shown; otherwise the scan first (not timed), then the
// click on that folder of the drive's root to its list shown.
RunResult StandardWindow(const std::string& image, const std::string& folder, const std::string& scratch) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "vantrel-bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    Headless h(image);
    ui::InstallPlatformHooks();
    platform::MessageBoxRecorder boxes;  // the hooks' boxes would wait for a click
    RunResult r;
    TfrmQuickMain w;
    w.AppDirectory = scratch + "/";
    w.Wait = [](int) {};
    w.show();
    QApplication::processEvents();
    QTreeWidgetItem* drive = w.MyComputerNode->childCount() ? w.MyComputerNode->child(0) : nullptr;
    if (!drive) return r;
    r.baseKiB = VmHwmKiB();
    auto start = Clock::now();
    w.DriveTree->setCurrentItem(drive);
    w.TreeView1->viewport()->repaint();
    const TLogiDrive* cur = w.Undelete->Current;
    if (!cur) return r;
    r.entries = static_cast<double>(cur->FsType == vt::fsNtfs ? cur->NtfsEntries.size() : cur->Entries.size());
    if (!folder.empty()) {
        QTreeWidgetItem* root = w.TreeView1->currentItem();
        QTreeWidgetItem* node = nullptr;
        for (int i = 0; root && i < root->childCount() && !node; ++i)
            if (root->child(i)->text(0).toStdString() == folder) node = root->child(i);
        if (!node) return r;
        start = Clock::now();
        w.TreeView1->setCurrentItem(node);
        w.ListView1->viewport()->repaint();
        r.entries = w.RowCount();
    }
    r.seconds = Since(start);
    r.peakKiB = VmHwmKiB();
    r.ok = r.entries > 0;
    w.close();
    ui::RemovePlatformHooks();
    return r;
}
#endif

// ------------------------------------------------------------- the suite

struct Row {
    Row(std::string n, std::string u) : name(std::move(n)), unit(std::move(u)) {}
    std::string name;
    std::string unit;         // "entries/s" or "MB/s"
    std::string available;    // empty, or why the workload does not run
    bool perEntry = true;     // memory per entry is shown (listings, recoveries)
    std::vector<RunResult> runs;
    std::string peerName;
    std::vector<PeerResult> peer;
    std::string peerNote;
    std::vector<PeerResult> limit;  // dd of the same bytes
    double limitBytes = 0;
    std::string series;  // the scale series the row belongs to, if any
};

struct Suite {
    std::string images, out;
    int runs = 5;
    bool smoke = false;
    std::string only;  // runs only the workloads whose name holds this text
    std::vector<long> scale;  // files of the scale series' volumes
    bool sleuthkit = false, testdisk = false;
    std::vector<Row> rows;

    // Target folder of recoveries (ours and the peers'): on tmpfs when the
    // machine has one, so that the target file system's own cost (ext4
    // creating inodes after many deletions) does not swamp the engines'.
    std::string scratch;

    std::string Img(const std::string& name) const { return images + "/" + name; }
    std::string Scratch() const {
        const std::string& d = scratch;
        fs::remove_all(d);
        fs::create_directories(d);
        return d;
    }

    struct Range {
        std::uint64_t offset = 0, length = 0;
    };
    // The read limit: dd of the ranges one after the other, per run.
    void Limit(Row& row, const std::string& image, const std::vector<Range>& ranges) {
        std::vector<std::vector<std::string>> dds;
        row.limitBytes = 0;
        for (const Range& r : ranges) {
            row.limitBytes += static_cast<double>(r.length);
            dds.push_back({"dd", "if=" + image, "of=/dev/null", "bs=512000", "status=none",
                           "iflag=skip_bytes,count_bytes", "skip=" + std::to_string(r.offset),
                           "count=" + std::to_string(r.length)});
        }
        if (!smoke)
            for (const auto& dd : dds) RunCommand(dd, "/dev/null");  // warms the page cache
        for (int i = 0; i < runs; ++i) {
            PeerResult total{true, 0, 0};
            for (const auto& dd : dds) {
                const PeerResult p = RunCommand(dd, "/dev/null");
                total.ok = total.ok && p.ok;
                total.seconds += p.seconds;
                total.peakKiB = std::max(total.peakKiB, p.peakKiB);
            }
            row.limit.push_back(total);
        }
    }
    void Limit(Row& row, const std::string& image, std::uint64_t offset, std::uint64_t length) {
        Limit(row, image, std::vector<Range>{{offset, length}});
    }

    // The FAT32 (0x0B, 0x0C) and NTFS (0x07) entries of a disk's MBR.
    static std::vector<Range> Partitions(const std::string& disk) {
        std::vector<Range> out;
        std::ifstream in(disk, std::ios::binary);
        std::array<std::uint8_t, 512> mbr{};
        if (!in.read(reinterpret_cast<char*>(mbr.data()), mbr.size())) return out;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t* e = mbr.data() + 0x1BE + 16 * i;
            if (e[4] == 0x0B || e[4] == 0x0C || e[4] == 0x07)
                out.push_back({std::uint64_t{vt::LoadLe32(e + 8)} * 512, std::uint64_t{vt::LoadLe32(e + 12)} * 512});
        }
        return out;
    }

    void Ours(Row& row, const std::function<RunResult()>& fn) {
        if (!smoke) {
            Scratch();
            InChild(fn);  // warms the page cache and the allocator; not counted
        }
        for (int i = 0; i < runs; ++i) {
            Scratch();
            row.runs.push_back(InChild(fn));
        }
    }

    void Peer(Row& row, const std::string& name, bool have, const std::vector<std::string>& argv, bool toFile = false,
              const std::string& note = "") {
        row.peerName = name;
        row.peerNote = note;
        if (!have) {
            row.peerNote = "not installed";
            return;
        }
        for (int i = smoke ? 1 : 0; i <= runs; ++i) {
            const std::string scratch = Scratch();
            std::vector<std::string> args = argv;
            for (auto& a : args)
                if (a == "@OUT") a = scratch;
            PeerResult p = RunCommand(args, toFile ? scratch + "/peer.out" : "/dev/null", scratch);
            if (i > 0) row.peer.push_back(p);  // the first run warms up
        }
    }

    void Add(const std::string& name, const std::string& unit, const std::function<void(Row&)>& measure,
             const std::string& series = "") {
        if (!only.empty() && name.find(only) == std::string::npos) return;
        Row row(name, unit);
        row.series = series;
        measure(row);
        rows.push_back(std::move(row));
    }

    static std::uint64_t FileSize(const std::string& p) {
        std::error_code ec;
        const auto s = fs::file_size(p, ec);
        return ec ? 0 : s;
    }

    void Run() {
        sleuthkit = HaveTool("fls") && HaveTool("tsk_recover") && HaveTool("icat");
        testdisk = HaveTool("testdisk");
        const std::string fat = Img("fat32.img"), ntfs = Img("ntfs.img"), packed = Img("compressed.img");
        Add("standard FAT32 scan", "entries/s", [&](Row& row) {
            if (!FileSize(fat)) row.available = "image missing";
            else {
                Ours(row, [&] { return StandardScan(fat); });
                Peer(row, "fls -r -p", sleuthkit, {"fls", "-r", "-p", fat});
                Limit(row, fat, 0, FileSize(fat));
            }
        });
        Add("standard NTFS scan", "entries/s", [&](Row& row) {
            if (!FileSize(ntfs)) row.available = "image missing";
            else {
                Ours(row, [&] { return StandardScan(ntfs); });
                Peer(row, "fls -r -p", sleuthkit, {"fls", "-r", "-p", ntfs});
                Limit(row, ntfs, 0, FileSize(ntfs));
            }
        });
        Add("advanced partition scan + listings", "MB/s", [&](Row& row) {
            const std::string disk = Img("disk.img");
            if (!FileSize(disk)) row.available = "image missing";
            else {
                Ours(row, [&] { return PartitionScan(disk); });
                Peer(row, "testdisk search", testdisk,
                     {"testdisk", "/log", "/cmd", disk, "partition_i386,analyze,search"}, false,
                     "TestDisk's quick search probes likely partition starts for boot sectors and skips "
                     "the inside of what it finds; it reads no folders or records and lists no files");
                Limit(row, disk, Partitions(disk));
            }
        });
        Add("advanced deep scan", "MB/s", [&](Row& row) {
            const std::string disk = Img("deep.img");
            if (!FileSize(disk)) row.available = "image missing";
            else {
                row.perEntry = false;  // a handful of lost volumes, no listing
                Ours(row, [&] { return DeepScan(disk); });
                Peer(row, "testdisk search", testdisk,
                     {"testdisk", "/log", "/cmd", disk, "partition_i386,analyze,search"}, false,
                     "TestDisk's quick search probes likely partition starts only (cylinder and MiB "
                     "bounds), not every sector");
                Limit(row, disk, 0, FileSize(disk));
            }
        });
        for (const auto& [kind, image] : {std::pair<const char*, std::string>{"FAT32", fat}, {"NTFS", ntfs}}) {
            Add(std::string("standard ") + kind + " recovery (all files)", "MB/s", [&, image](Row& row) {
                if (!FileSize(image)) row.available = "image missing";
                else {
                    Ours(row, [&] { return StandardRecovery(image, scratch); });
                    Peer(row, "tsk_recover -e", sleuthkit, {"tsk_recover", "-e", image, "@OUT"});
                    Limit(row, image, 0, FileSize(image));
                }
            });
        }
        Add("compressed NTFS file (LZNT1)", "MB/s", [&](Row& row) {
            const auto file = ReadRuns(Img("compressed.runs"));
            if (!FileSize(packed) || !file) row.available = "image missing";
            else {
                row.perEntry = false;
                Ours(row, [&] { return Decompress(packed, *file, scratch); });
                Peer(row, "icat", sleuthkit, {"icat", packed, std::to_string(file->record)}, true);
                Limit(row, packed, static_cast<std::uint64_t>(file->firstLcn) * file->clusterBytes,
                      static_cast<std::uint64_t>(file->endLcn - file->firstLcn) * file->clusterBytes);
            }
        });
#ifdef VT_BENCH_UI
        Add("file list: fill 10,000 rows", "entries/s", [&](Row& row) {
            if (!FileSize(fat)) row.available = "image missing";
            else {
                row.perEntry = false;
                Ours(row, [&] { return FileListWorkload(fat, -1); });
            }
        });
        Add("advanced window: partition scan to first folder listed", "MB/s", [&](Row& row) {
            const std::string disk = Img("disk.img");
            if (!FileSize(disk)) row.available = "image missing";
            else {
                Ours(row, [&] { return AdvWindowPartitionScan(disk); });
                Limit(row, disk, Partitions(disk));
            }
        });
        Add("advanced window: deep scan", "MB/s", [&](Row& row) {
            const std::string disk = Img("deep.img");
            if (!FileSize(disk)) row.available = "image missing";
            else {
                row.perEntry = false;
                Ours(row, [&] { return AdvWindowDeepScan(disk); });
                Limit(row, disk, 0, FileSize(disk));
            }
        });
        Add("standard window: FAT32 scan to tree shown", "entries/s", [&](Row& row) {
            if (!FileSize(fat)) row.available = "image missing";
            else Ours(row, [&] { return StandardWindow(fat, "", Scratch()); });
        });
        Add("standard window: NTFS scan to tree shown", "entries/s", [&](Row& row) {
            if (!FileSize(ntfs)) row.available = "image missing";
            else Ours(row, [&] { return StandardWindow(ntfs, "", Scratch()); });
        });
        Add("standard window: open a folder of 10,000 files", "entries/s", [&](Row& row) {
            const std::string big = Img("folder10k.img");
            if (!FileSize(big)) row.available = "image missing";
            else {
                row.perEntry = false;
                Ours(row, [&] { return StandardWindow(big, "Folder 000", Scratch()); });
            }
        });
        const char* columns[] = {"File", "Type", "Status", "Size", "Created"};
        for (int c = 0; c < 5; ++c)
            Add(std::string("file list: sort 10,000 by ") + columns[c], "entries/s", [&](Row& row) {
                if (!FileSize(fat)) row.available = "image missing";
                else {
                    row.perEntry = false;
                    Ours(row, [&] { return FileListWorkload(fat, c); });
                }
            });
#endif
        // The scale series: one NTFS volume of n files (in folders of 40) as
        // the only partition of a disk, 1 MiB in; the standard scan reads
        // the volume, the advanced engine the disk.
        for (const long n : scale) {
            const std::string disk = Img("scale-" + std::to_string(n) + ".img");
            const std::vector<Range> part = Partitions(disk);
            const std::string files = std::to_string(n) + " files";
            Add("scale: standard NTFS scan, " + files, "entries/s", [&](Row& row) {
                if (part.size() != 1) row.available = "image missing";
                else {
                    Ours(row, [&] { return StandardScan(disk, part[0].offset); });
                    // fls takes minutes on the largest volume; it runs on the smaller ones.
                    if (n <= 200000)
                        Peer(row, "fls -r -p", sleuthkit,
                             {"fls", "-o", std::to_string(part[0].offset / 512), "-r", "-p", disk});
                    Limit(row, disk, part);
                }
            }, "standard NTFS scan");
            Add("scale: partition scan + listing, " + files, "entries/s", [&](Row& row) {
                if (part.size() != 1) row.available = "image missing";
                else {
                    Ours(row, [&] { return PartitionScan(disk, 1); });
                    Limit(row, disk, part);
                }
            }, "partition scan + listing");
        }
        fs::remove_all(scratch);
    }

    // ---------------------------------------------------------- output

    static std::string Fixed(double v, int digits = 2) {
        char b[64];
        std::snprintf(b, sizeof b, "%.*f", digits, v);
        return b;
    }

    int Report() const {
        std::ofstream tsv(out + "/bench.tsv");
        tsv << "workload\tavailable\tunit\truns\tmedian_s\tthroughput\tentries\tbytes\tpeak_kib\tbytes_per_entry"
               "\tpeer\tpeer_median_s\tpeer_peak_kib\tspeed_vs_peer\tlimit_median_s\tlimit_mb_s\tspeed_vs_limit"
               "\tpump_gap_ms_median\tpump_gap_ms_max\tpump_gap_at_ms\n";
        std::ostringstream table;
        char line[512];
        std::snprintf(line, sizeof line, "%-46s %6s %14s %9s %9s %-16s %8s %8s %8s %8s %7s\n", "workload", "median",
                      "throughput", "peak MiB", "B/entry", "peer", "peer s", "vs peer", "limit s", "vs limit",
                      "gap ms");
        table << line;
        int failures = 0;
        // Per series: files, time per entry, memory per entry.
        std::map<std::string, std::vector<std::array<double, 3>>> series;
        for (const Row& r : rows) {
            std::vector<double> secs, rawSecs, peerSecs, limitSecs, gaps;
            double gapMax = 0, gapAt = 0;
            double entries = 0, bytes = 0;
            long peak = 0, delta = 0, peerPeak = 0;
            bool allOk = !r.runs.empty();
            for (const auto& x : r.runs) {
                allOk = allOk && x.ok;
                secs.push_back(x.seconds);
                if (x.rawSeconds > 0) rawSecs.push_back(x.rawSeconds);
                entries = x.entries;
                bytes = x.bytes;
                peak = std::max(peak, x.peakKiB);
                delta = std::max(delta, x.peakKiB - x.baseKiB);
                gaps.push_back(x.gapMs);
                if (x.gapMs >= gapMax) {
                    gapMax = x.gapMs;
                    gapAt = x.gapAtMs;
                }
            }
            const double gap = Median(gaps);
            for (const auto& p : r.peer) {
                if (p.ok) peerSecs.push_back(p.seconds);
                peerPeak = std::max(peerPeak, p.peakKiB);
            }
            for (const auto& p : r.limit)
                if (p.ok) limitSecs.push_back(p.seconds);
            const double t = Median(secs), pt = Median(peerSecs), lt = Median(limitSecs);
            const bool ours = r.available.empty() && allOk && t > 0;
            if (r.available.empty() && !allOk) ++failures;
            double throughput = 0;
            if (ours) throughput = r.unit == "entries/s" ? entries / t : (bytes > 0 ? bytes : r.limitBytes) / t / 1e6;
            // Per listed entry (or recovered file).
            const bool showPerEntry = r.perEntry && entries > 0;
            const double perEntry = showPerEntry ? delta * 1024.0 / entries : 0;
            const std::string na = "-";
            const std::string status = r.available.empty() ? (allOk ? "yes" : "failed") : r.available;
            tsv << r.name << '\t' << status << '\t' << r.unit << '\t' << r.runs.size() << '\t'
                << (ours ? Fixed(t, 4) : na) << '\t' << (ours ? Fixed(throughput, 1) : na) << '\t'
                << (ours ? Fixed(entries, 0) : na) << '\t' << (ours ? Fixed(bytes, 0) : na) << '\t'
                << (ours ? std::to_string(peak) : na) << '\t' << (ours && showPerEntry ? Fixed(perEntry, 0) : na) << '\t'
                << (r.peerName.empty() ? na : r.peerName) << '\t' << (pt > 0 ? Fixed(pt, 4) : na) << '\t'
                << (pt > 0 ? std::to_string(peerPeak) : na) << '\t' << (ours && pt > 0 ? Fixed(pt / t, 2) : na)
                << '\t' << (lt > 0 ? Fixed(lt, 4) : na) << '\t' << (lt > 0 ? Fixed(r.limitBytes / lt / 1e6, 0) : na)
                << '\t' << (ours && lt > 0 ? Fixed(lt / t, 2) : na) << '\t' << (ours ? Fixed(gap, 1) : na) << '\t'
                << (ours ? Fixed(gapMax, 1) : na) << '\t' << (ours ? Fixed(gapAt, 0) : na) << '\n';
            if (ours && !r.series.empty() && entries > 0) series[r.series].push_back({entries, t / entries, perEntry});
            const std::string tp = ours ? Fixed(throughput, 1) + (r.unit == "MB/s" ? " MB/s" : " e/s") : "n/a";
            std::snprintf(line, sizeof line, "%-46s %6s %14s %9s %9s %-16s %8s %8s %8s %8s %7s\n", r.name.c_str(),
                          ours ? Fixed(t, 3).c_str() : "n/a", tp.c_str(), ours ? Fixed(peak / 1024.0, 1).c_str() : "-",
                          ours && showPerEntry ? Fixed(perEntry, 0).c_str() : "-",
                          r.peerName.empty() ? "-" : r.peerName.c_str(), pt > 0 ? Fixed(pt, 3).c_str() : "-",
                          ours && pt > 0 ? (Fixed(pt / t, 2) + "x").c_str() : "-", lt > 0 ? Fixed(lt, 3).c_str() : "-",
                          ours && lt > 0 ? (Fixed(lt / t, 2) + "x").c_str() : "-",
                          ours && gap > 0 ? Fixed(gap, 0).c_str() : "-");
            table << line;
            if (!r.available.empty()) table << "    " << r.available << "\n";
            if (ours && !rawSecs.empty()) {
                const double rt = Median(rawSecs);
                table << "    raw-sector scan alone (without the listings): " << Fixed(rt, 3) << " s"
                      << (lt > 0 ? ", " + Fixed(lt / rt, 2) + "x the read limit" : std::string()) << "\n";
                tsv << r.name << " (raw-sector scan alone)\tyes\tMB/s\t" << r.runs.size() << '\t' << Fixed(rt, 4)
                    << '\t' << Fixed(r.limitBytes / rt / 1e6, 1) << "\t-\t-\t-\t-\t-\t-\t-\t-\t"
                    << (lt > 0 ? Fixed(lt, 4) : na) << '\t' << (lt > 0 ? Fixed(r.limitBytes / lt / 1e6, 0) : na)
                    << '\t' << (lt > 0 ? Fixed(lt / rt, 2) : na) << '\n';
            }
            if (!r.peerNote.empty()) table << "    peer: " << r.peerNote << "\n";
        }
        for (auto& [name, points] : series) {
            std::sort(points.begin(), points.end());
            table << "\nscale, " << name << ":";
            for (const auto& p : points)
                table << "  " << Fixed(p[0], 0) << " entries " << Fixed(p[1] * 1e6, 2) << " us/entry " << Fixed(p[2], 0)
                      << " B/entry;";
            if (points.size() > 1) {
                const auto& a = points.front();
                const auto& b = points.back();
                table << "\n    at " << Fixed(b[0], 0) << " vs " << Fixed(a[0], 0) << " entries: time per entry "
                      << Fixed(b[1] / a[1], 2) << "x, memory per entry "
                      << (a[2] > 0 ? Fixed(b[2] / a[2], 2) + "x" : std::string("-"));
            }
            table << "\n";
        }
        table << "\nmedian of " << runs << " runs, page cache warm; \"vs peer\" and \"vs limit\" are speed ratios "
                 "(their time / ours; above 1 = faster than them); \"limit\" = dd bs=512000 of the same bytes;\n"
                 "B/entry = peak memory above the program's baseline per listed entry (recovered file);\n"
                 "gap ms = longest time between two runs of the message pump (median over the runs; the job's start\n"
                 "and end count as runs; the pump runs at most every 15 ms, as in the windows).\n";
        std::ofstream(out + "/bench.txt") << table.str();
        std::cout << table.str();
        return failures;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "tree") return MakeTree(args[1], std::stoi(args[2]), std::stoi(args[3]));
    if (args.size() >= 4 && args[0] == "run") {
        Suite s;
        s.images = fs::absolute(args[1]).string();
        s.out = fs::absolute(args[2]).string();
        s.runs = std::max(1, std::stoi(args[3]));
        for (std::size_t i = 4; i < args.size(); ++i) {
            if (args[i] == "--smoke") s.smoke = true;
            if (args[i] == "--only" && i + 1 < args.size()) s.only = args[++i];
            if (args[i] == "--scale" && i + 1 < args.size()) {
                std::istringstream list(args[++i]);
                for (std::string n; std::getline(list, n, ',');)
                    if (!n.empty()) s.scale.push_back(std::stol(n));
            }
        }
        fs::create_directories(s.out);
        std::error_code ec;
        s.scratch = (fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm")
                                                                                          : s.out) +
                    "/vantrel-bench-scratch-" + std::to_string(::getpid());
        s.Run();
        const int failures = s.Report();
        return failures == 0 ? 0 : 1;
    }
    std::cerr << "usage: vantrel-bench tree DIR FILES FOLDERS | run IMAGES OUTDIR RUNS [--smoke] [--only TEXT]"
                 " [--scale N,N,...]\n";
    return 2;
}
