#include "MachineProfile.h"

#include <blkid.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "IniFile.h"
#include "PageBuffer.h"
#include "Reporting.h"
#include "WinApi.h"

namespace fs = std::filesystem;

namespace platform {

// ---------------------------------------------------------------- stores

namespace {
// Reads of at most this many bytes go through the read-ahead windows.
constexpr std::uint64_t kSmallRead = 64 * 1024;
// A window's first read ahead, doubled at each refill up to the largest
// (which still fits the processor's second-level cache with the copies).
constexpr std::uint64_t kFirstWindow = 16 * 1024;
constexpr std::uint64_t kLargestWindow = 256 * 1024;
}  // namespace

// A few streams of reads that each run in order (the file's clusters, and
// between them the records or folders that lead to them), each with the
// bytes read ahead of it.
struct BackingStore::ReadAheadWindows {
    struct Window {
        PageBuffer bytes;
        std::uint64_t start = 0, length = 0;  // the store's bytes held in `bytes`
        std::uint64_t next = UINT64_MAX;       // where the stream's last read ended
        std::uint64_t span = 0;                // bytes of the next refill
        std::uint64_t used = 0;                // when it last answered or began
    };
    std::mutex mutex;
    std::array<Window, 4> windows;
    std::uint64_t tick = 0;
};

BackingStore::BackingStore() = default;

std::shared_ptr<BackingStore> BackingStore::OpenFile(const std::string& path, std::uint64_t offset,
                                                     std::uint64_t size) {
    std::shared_ptr<BackingStore> s(new BackingStore());
    s->path_ = path;
    s->offset_ = offset;
    // Read-only, always: the program never writes a sector.
    s->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (s->fd_ < 0) {
        s->openErrno_ = errno;
        return s;
    }
    struct stat st {};
    std::uint64_t total = 0;
    if (::fstat(s->fd_, &st) == 0) {
        if (S_ISBLK(st.st_mode)) {
            s->blockDevice_ = true;
            std::uint64_t bytes = 0;
            if (::ioctl(s->fd_, BLKGETSIZE64, &bytes) == 0) total = bytes;
        } else {
            total = static_cast<std::uint64_t>(st.st_size);
        }
    }
    std::uint64_t avail = total > offset ? total - offset : 0;
    s->size_ = std::min(avail, size);
    s->valid_ = true;
    if (S_ISREG(st.st_mode)) s->ahead_ = std::make_unique<ReadAheadWindows>();
    return s;
}

std::shared_ptr<BackingStore> BackingStore::FromMemory(std::vector<std::uint8_t> bytes) {
    std::shared_ptr<BackingStore> s(new BackingStore());
    s->memory_ = std::move(bytes);
    s->inMemory_ = true;
    s->size_ = s->memory_.size();
    s->valid_ = true;
    s->path_ = "(memory)";
    return s;
}

BackingStore::~BackingStore() {
    if (fd_ >= 0) ::close(fd_);
}

bool BackingStore::IsReadable(std::uint64_t byteOffset, std::uint64_t length) const {
    if (length == 0) return true;
    std::uint64_t firstSector = byteOffset / 512;
    std::uint64_t lastSector = (byteOffset + length - 1) / 512;
    for (const SectorRange& r : unreadable) {
        if (r.count == 0) continue;
        std::uint64_t rLast = r.first + r.count - 1;
        if (firstSector <= rLast && r.first <= lastSector) return false;
    }
    return true;
}

std::int64_t BackingStore::Read(std::uint64_t byteOffset, void* buffer, std::uint64_t length) const {
    NoteDeviceRead();
    if (!valid_) return -1;
    if (byteOffset >= size_) return 0;
    std::uint64_t n = std::min(length, size_ - byteOffset);
    if (!IsReadable(byteOffset, n)) return -1;
    if (inMemory_) {
        std::memcpy(buffer, memory_.data() + byteOffset, n);
        return static_cast<std::int64_t>(n);
    }
    if (ahead_ && n <= kSmallRead) return ReadAhead(byteOffset, buffer, n);
    return PreadAll(byteOffset, buffer, n);
}

std::int64_t BackingStore::ReadAhead(std::uint64_t byteOffset, void* buffer, std::uint64_t n) const {
    ReadAheadWindows& a = *ahead_;
    std::lock_guard<std::mutex> lock(a.mutex);
    ++a.tick;
    for (auto& w : a.windows)
        if (byteOffset >= w.start && byteOffset + n <= w.start + w.length) {
            std::memcpy(buffer, w.bytes.data() + (byteOffset - w.start), n);
            w.next = byteOffset + n;
            w.used = a.tick;
            return static_cast<std::int64_t>(n);
        }
    auto w = std::find_if(a.windows.begin(), a.windows.end(), [&](const auto& x) { return x.next == byteOffset; });
    if (w == a.windows.end()) {
        // Not (yet) a stream: read as asked, and remember where it ends in
        // the window used least lately.
        w = std::min_element(a.windows.begin(), a.windows.end(),
                             [](const auto& x, const auto& y) { return x.used < y.used; });
        w->length = 0;
        w->span = 0;
        w->next = byteOffset + n;
        w->used = a.tick;
        return PreadAll(byteOffset, buffer, n);
    }
    w->span = w->span ? std::min(w->span * 2, kLargestWindow) : kFirstWindow;
    const std::uint64_t want = std::min(std::max(w->span, n), size_ - byteOffset);
    w->bytes.resize(static_cast<std::size_t>(want));
    const std::int64_t got = PreadAll(byteOffset, w->bytes.data(), want);
    w->next = byteOffset + n;
    w->used = a.tick;
    if (got < static_cast<std::int64_t>(n)) {
        // The window did not read: the request alone decides what is reported.
        w->length = 0;
        return PreadAll(byteOffset, buffer, n);
    }
    w->start = byteOffset;
    w->length = static_cast<std::uint64_t>(got);
    std::memcpy(buffer, w->bytes.data(), n);
    return static_cast<std::int64_t>(n);
}

std::int64_t BackingStore::PreadAll(std::uint64_t byteOffset, void* buffer, std::uint64_t n) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset_ + byteOffset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<std::uint64_t>(r);
    }
    return static_cast<std::int64_t>(done);
}

std::vector<SectorRange> ParseSectorRanges(const std::string& text) {
    std::vector<SectorRange> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        item.erase(std::remove_if(item.begin(), item.end(), [](char c) { return c == ' ' || c == '\t'; }),
                   item.end());
        if (item.empty()) continue;
        std::size_t dash = item.find('-');
        try {
            std::uint64_t a = std::stoull(item.substr(0, dash));
            std::uint64_t b = dash == std::string::npos ? a : std::stoull(item.substr(dash + 1));
            if (b < a) throw std::runtime_error("bad sector range: " + item);
            out.push_back({a, b - a + 1});
        } catch (const std::logic_error&) {
            throw std::runtime_error("bad sector range: " + item);
        }
    }
    return out;
}

// --------------------------------------------------------------- machine

namespace {

std::mutex g_machineMutex;
std::unique_ptr<Machine> g_machine;

std::string ReadSysfs(const fs::path& p) {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    return s;
}

unsigned DriveTypeFromName(const std::string& t) {
    if (t == "removable") return win::DRIVE_REMOVABLE;
    if (t == "fixed" || t.empty()) return win::DRIVE_FIXED;
    if (t == "cdrom") return win::DRIVE_CDROM;
    if (t == "remote") return win::DRIVE_REMOTE;
    if (t == "ramdisk") return win::DRIVE_RAMDISK;
    throw std::runtime_error("unknown drive type: " + t);
}

std::uint64_t ParseBytes(const std::string& s, std::uint64_t def) {
    if (s.empty()) return def;
    try {
        return std::stoull(s, nullptr, 0);
    } catch (const std::logic_error&) {
        throw std::runtime_error("bad number: " + s);
    }
}

// Whether a whole disk carries a file system itself (no partition table).
bool HasFilesystem(const std::string& devicePath) {
    blkid_probe pr = blkid_new_probe_from_filename(devicePath.c_str());
    if (!pr) return false;
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_enable_partitions(pr, 0);
    bool found = blkid_do_safeprobe(pr) == 0;
    blkid_free_probe(pr);
    return found;
}

char FreeLetter(const MachineConfig& c, char from) {
    for (char l = from; l <= 'Z'; ++l)
        if (std::none_of(c.logical.begin(), c.logical.end(), [&](const LogicalDriveConfig& d) { return d.letter == l; }))
            return l;
    return 0;
}

int FreeNumber(const MachineConfig& c) {
    // A simulated S.M.A.R.T. drive holds its number even without an image.
    for (int n = 0; n < 128; ++n)
        if (std::none_of(c.physical.begin(), c.physical.end(), [&](const PhysicalDriveConfig& d) { return d.number == n; }) &&
            std::none_of(c.smart.begin(), c.smart.end(), [&](const SmartDriveConfig& d) { return d.number == n; }))
            return n;
    return -1;
}

// Order of kernel device names: runs of digits by their value, other runs
// shorter first, so that sdz comes before sdaa, loop2 before loop10 and
// nvme1n1 before nvme10n1.
bool KernelNameLess(const std::string& a, const std::string& b) {
    auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digits = isDigit(a[i]);
        if (digits != isDigit(b[j])) return digits;
        std::size_t ie = i, je = j;
        while (ie < a.size() && isDigit(a[ie]) == digits) ++ie;
        while (je < b.size() && isDigit(b[je]) == digits) ++je;
        std::string_view x(a.data() + i, ie - i), y(b.data() + j, je - j);
        if (digits) {
            // Compared as text without leading zeros: no number too long to parse.
            while (x.size() > 1 && x.front() == '0') x.remove_prefix(1);
            while (y.size() > 1 && y.front() == '0') y.remove_prefix(1);
        }
        if (x.size() != y.size()) return x.size() < y.size();
        if (x != y) return x < y;
        i = ie;
        j = je;
    }
    return a.size() - i < b.size() - j;
}

bool AllOf(std::string_view s, int (*test)(int)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) { return test(static_cast<unsigned char>(c)) != 0; });
}

// The whole disks by kind, in the order the kernel names them: SCSI, SATA
// and USB disks, old IDE disks, virtio, Xen, NVMe namespaces, SD and eMMC
// cards; -1 for any other name.
int WholeDiskKind(const std::string& name) {
    static constexpr std::array<std::string_view, 4> kLettered = {"sd", "hd", "vd", "xvd"};
    const std::string_view n(name);
    for (std::size_t k = 0; k < kLettered.size(); ++k)
        if (n.rfind(kLettered[k], 0) == 0 && AllOf(n.substr(kLettered[k].size()), std::islower))
            return static_cast<int>(k);
    if (n.rfind("nvme", 0) == 0) {  // nvme<controller>n<namespace>
        const std::size_t sep = n.find('n', 4);
        if (sep != std::string_view::npos && AllOf(n.substr(4, sep - 4), std::isdigit) &&
            AllOf(n.substr(sep + 1), std::isdigit))
            return 4;
    }
    if (n.rfind("mmcblk", 0) == 0 && AllOf(n.substr(6), std::isdigit)) return 5;
    return -1;
}

// Where a block device comes among the drives: the whole disks first, then
// other devices (optical drives, network and ZFS block devices ...), then
// the images the user attached to loop devices, then the volumes that
// device-mapper (LVM, LUKS) and md arrays build over the disks listed
// already.
enum class DeviceGroup { WholeDisk, Other, AttachedImage, Volume };

// Device-mapper volumes (dm-N) before md arrays (mdN); -1 for neither.
int VolumeKind(const std::string& name) {
    const std::string_view n(name);
    if (n.rfind("dm-", 0) == 0 && AllOf(n.substr(3), std::isdigit)) return 0;
    if (n.rfind("md", 0) == 0 && n.size() > 2 && std::isdigit(static_cast<unsigned char>(n[2]))) return 1;
    return -1;
}

// A loop device with nothing of the user's on it: one without a backing
// file, or a snap package's image (snapd keeps them under /var/lib/snapd;
// elsewhere one is known by its read-only binding and the squashfs magic
// "hsqs" at its start). Squashfs holds no FAT or NTFS volume. A user's
// image attached read-only (losetup -r) stays a drive.
bool IsPackageOrEmptyLoop(const fs::path& sysDir, const std::string& dev) {
    const std::string backing = ReadSysfs(sysDir / "loop" / "backing_file");
    if (backing.empty()) return true;
    if (backing.rfind("/var/lib/snapd/", 0) == 0) return true;
    if (ReadSysfs(sysDir / "ro") != "1") return false;
    // Unreadable (not root): kept, as the drive it might be.
    const int fd = ::open(dev.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char magic[4] = {};
    const bool squashfs = ::pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
                          std::memcmp(magic, "hsqs", sizeof magic) == 0;
    ::close(fd);
    return squashfs;
}

}  // namespace

void Machine::AddRealDevices(MachineConfig& config, const std::string& sysfsRoot, const std::string& devRoot) {
    fs::path blockDir = fs::path(sysfsRoot) / "block";
    std::error_code ec;
    if (!fs::is_directory(blockDir, ec)) return;
    struct Entry {
        std::string name;
        DeviceGroup group;
        bool removable;
        int kind;
    };
    std::vector<Entry> devices;
    for (const auto& e : fs::directory_iterator(blockDir, ec)) {
        std::string name = e.path().filename().string();
        // Swap in memory and RAM disks carry nothing to recover; a hidden
        // device (a path of a multipath NVMe namespace) has no device file.
        if (name.rfind("zram", 0) == 0 || name.rfind("ram", 0) == 0) continue;
        if (ReadSysfs(e.path() / "hidden") == "1") continue;
        const std::string dev = devRoot + "/" + name;
        int kind = WholeDiskKind(name);
        DeviceGroup group = kind >= 0 ? DeviceGroup::WholeDisk : DeviceGroup::Other;
        if (name.rfind("loop", 0) == 0) {
            if (IsPackageOrEmptyLoop(e.path(), dev)) continue;
            group = DeviceGroup::AttachedImage;
        } else if (VolumeKind(name) >= 0) {
            group = DeviceGroup::Volume;
            kind = VolumeKind(name);
        }
        // The machine's own disks before USB sticks and card readers, which
        // come and go: the disks that can answer S.M.A.R.T. take the first
        // numbers, the ones the health window asks.
        const bool removable = ReadSysfs(e.path() / "removable") == "1";
        devices.push_back({std::move(name), group, removable, kind});
    }
    std::sort(devices.begin(), devices.end(), [](const Entry& a, const Entry& b) {
        if (a.group != b.group) return a.group < b.group;
        if (a.removable != b.removable) return b.removable;
        if (a.kind != b.kind) return a.kind < b.kind;
        return KernelNameLess(a.name, b.name);
    });

    for (const Entry& device : devices) {
        const std::string& name = device.name;
        fs::path dir = blockDir / name;
        std::uint64_t sectors = ParseBytes(ReadSysfs(dir / "size"), 0);
        bool removable = ReadSysfs(dir / "removable") == "1";
        std::string dev = devRoot + "/" + name;
        if (name.rfind("sr", 0) == 0) {  // optical: typed so that the engines skip it
            char l = FreeLetter(config, 'C');
            if (l) config.logical.push_back({l, win::DRIVE_CDROM, nullptr, dev});
            continue;
        }
        if (sectors == 0) {
            // An unused loop device is no drive; an empty card reader is a
            // removable drive without a medium.
            if (removable) {
                char l = FreeLetter(config, 'C');
                if (l) config.logical.push_back({l, win::DRIVE_REMOVABLE, nullptr, dev});
            }
            continue;
        }
        int number = FreeNumber(config);
        if (number >= 0) config.physical.push_back({number, BackingStore::OpenFile(dev), dev});

        std::vector<std::string> parts;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (fs::exists(e.path() / "partition")) parts.push_back(e.path().filename().string());
        std::sort(parts.begin(), parts.end(), KernelNameLess);
        unsigned type = removable ? win::DRIVE_REMOVABLE : win::DRIVE_FIXED;
        if (parts.empty()) {
            if (HasFilesystem(dev)) {
                char l = FreeLetter(config, 'C');
                if (l) config.logical.push_back({l, type, BackingStore::OpenFile(dev), dev});
            }
            continue;
        }
        for (const std::string& p : parts) {
            char l = FreeLetter(config, 'C');
            if (!l) break;
            std::string pdev = devRoot + "/" + p;
            config.logical.push_back({l, type, BackingStore::OpenFile(pdev), pdev});
        }
    }
    std::sort(config.logical.begin(), config.logical.end(),
              [](const LogicalDriveConfig& a, const LogicalDriveConfig& b) { return a.letter < b.letter; });
    std::sort(config.physical.begin(), config.physical.end(),
              [](const PhysicalDriveConfig& a, const PhysicalDriveConfig& b) { return a.number < b.number; });
}

MachineConfig Machine::FromProfileText(const std::string& text, const std::string& baseDir, bool withRealDevices) {
    TIniFile ini = TIniFile::FromText(text);
    MachineConfig c;
    std::string family = ini.ReadString("machine", "family", "nt");
    if (family == "9x" || family == "win9x") c.family = OsFamily::Win9x;
    else if (family != "nt") throw std::runtime_error("unknown family: " + family);
    c.build9x = static_cast<std::uint32_t>(ini.ReadInteger("machine", "build", 2222));
    c.int13extLoads = ini.ReadString("machine", "int13ext", "") != "missing";
    c.smartVsdLoads = ini.ReadString("machine", "smartvsd", "") != "missing";
    bool hideReal = ini.ReadBool("machine", "hide_real_devices", false);

    auto resolve = [&](const std::string& p) {
        if (p.empty() || fs::path(p).is_absolute()) return p;
        return (fs::path(baseDir) / p).string();
    };
    for (const std::string& section : ini.ReadSections()) {
        std::string lower = section;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        auto storeFor = [&]() -> std::shared_ptr<BackingStore> {
            auto ranges = ParseSectorRanges(ini.ReadString(section, "unreadable", ""));
            std::string image = resolve(ini.ReadString(section, "image", ""));
            if (image.empty()) return nullptr;
            auto store = BackingStore::OpenFile(image, ParseBytes(ini.ReadString(section, "offset", ""), 0),
                                                ParseBytes(ini.ReadString(section, "size", ""), UINT64_MAX));
            if (!store->Valid()) throw std::runtime_error("cannot open image " + image + ": " + std::strerror(store->OpenError()));
            store->unreadable = std::move(ranges);
            return store;
        };
        if (lower.rfind("logical.", 0) == 0 && lower.size() == 9) {
            LogicalDriveConfig d;
            d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(lower[8])));
            if (d.letter < 'A' || d.letter > 'Z') throw std::runtime_error("bad drive letter: " + section);
            d.driveType = DriveTypeFromName(ini.ReadString(section, "type", "fixed"));
            d.store = storeFor();
            d.source = resolve(ini.ReadString(section, "image", ""));
            d.allow7305 = ini.ReadBool(section, "int21_7305", true);
            d.allowInt25 = ini.ReadBool(section, "int25", true);
            c.logical.push_back(std::move(d));
        } else if (lower.rfind("physical.", 0) == 0) {
            PhysicalDriveConfig d;
            d.number = std::stoi(lower.substr(9));
            if (d.number < 0 || d.number > 127) throw std::runtime_error("bad physical drive: " + section);
            d.store = storeFor();
            if (!d.store) throw std::runtime_error("physical drive without image: " + section);
            d.source = resolve(ini.ReadString(section, "image", ""));
            c.physical.push_back(std::move(d));
        } else if (lower.rfind("smart.", 0) == 0) {
            SmartDriveConfig d;
            d.number = std::stoi(lower.substr(6));
            d.file = resolve(ini.ReadString(section, "file", ""));
            for (const std::string& key : ini.ReadSection(section)) d.keys[key] = ini.ReadString(section, key, "");
            c.smart.push_back(std::move(d));
        }
    }
    if (withRealDevices && !hideReal) AddRealDevices(c);
    std::sort(c.logical.begin(), c.logical.end(),
              [](const LogicalDriveConfig& a, const LogicalDriveConfig& b) { return a.letter < b.letter; });
    std::sort(c.physical.begin(), c.physical.end(),
              [](const PhysicalDriveConfig& a, const PhysicalDriveConfig& b) { return a.number < b.number; });
    return c;
}

MachineConfig Machine::FromProfileFile(const std::string& path, bool withRealDevices) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read machine profile " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return FromProfileText(ss.str(), fs::absolute(path).parent_path().string(), withRealDevices);
}

Machine& Machine::Current() {
    std::lock_guard<std::mutex> lock(g_machineMutex);
    if (!g_machine) {
        MachineConfig c;
        const char* profile = std::getenv("VANTREL_MACHINE");
        if (profile && *profile) c = FromProfileFile(profile);
        else AddRealDevices(c);
        g_machine.reset(new Machine(std::move(c)));
    }
    return *g_machine;
}

void Machine::Install(MachineConfig config) {
    std::lock_guard<std::mutex> lock(g_machineMutex);
    g_machine.reset(new Machine(std::move(config)));
}

const LogicalDriveConfig* Machine::Logical(char letter) const {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (const auto& d : config_.logical)
        if (d.letter == letter) return &d;
    return nullptr;
}

const PhysicalDriveConfig* Machine::Physical(int number) const {
    for (const auto& d : config_.physical)
        if (d.number == number) return &d;
    return nullptr;
}

const SmartDriveConfig* Machine::Smart(int number) const {
    for (const auto& d : config_.smart)
        if (d.number == number) return &d;
    return nullptr;
}

}  // namespace platform
