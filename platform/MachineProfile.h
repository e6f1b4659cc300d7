// Which drives this machine has and what backs them.
//
// Built once, on first use, from the Linux block devices (sysfs) and the
// optional profile file named by VANTREL_MACHINE. Tests and benchmarks may
// install a machine of their own instead. Every backing store is read-only.
//
// Profile file (ini):
//
//   [machine]
//   family=nt | 9x              ; NT by default
//   build=2222                  ; 9x build number (low word decides 7305h)
//   hide_real_devices=1         ; ignore the Linux block devices
//   int13ext=missing            ; 9x: the physical-drive driver cannot load
//   smartvsd=missing            ; 9x: "\\.\SMARTVSD" cannot be opened
//
//   [logical.E]                 ; drive letter
//   image=fat16.img             ; relative to the profile's folder
//   offset=1048576              ; byte offset of the volume in the image
//   size=...                    ; bytes (default: rest of the image)
//   type=fixed | removable | cdrom | remote | ramdisk
//   unreadable=100-119,4000     ; sector ranges (of this volume) that fail
//   int21_7305=0                ; 9x: this volume refuses Int 21h 7305h
//   int25=0                     ; 9x: this volume refuses Int 25h
//
//   [physical.0]                ; drive number
//   image=disk.img
//   unreadable=...
//
//   [smart.0]                   ; a simulated S.M.A.R.T. drive (format in
//   file=drive0.smart           ; SmartIoctl.h); without a [physical.0]
//                               ; the drive opens, but its sectors do not read
//
// A logical drive without image is a drive without a medium.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class OsFamily { NT, Win9x };

struct SectorRange {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

// A read-only byte store: a file or block device (opened once, read with
// pread) or a block of memory, seen from a byte offset for a byte size.
class BackingStore {
public:
    static std::shared_ptr<BackingStore> OpenFile(const std::string& path, std::uint64_t offset = 0,
                                                  std::uint64_t size = UINT64_MAX);
    static std::shared_ptr<BackingStore> FromMemory(std::vector<std::uint8_t> bytes);
    ~BackingStore();
    BackingStore(const BackingStore&) = delete;
    BackingStore& operator=(const BackingStore&) = delete;

    bool Valid() const { return valid_; }
    int OpenError() const { return openErrno_; }  // errno of a failed open
    const std::string& Path() const { return path_; }
    std::uint64_t Size() const { return size_; }
    std::uint64_t Offset() const { return offset_; }  // in the file

    // Sectors (of 512 bytes, counted from the start of this store) that fail.
    std::vector<SectorRange> unreadable;
    bool IsReadable(std::uint64_t byteOffset, std::uint64_t length) const;

    // Reads up to length bytes at byteOffset. Returns the bytes read (less at
    // the end of the store), or -1 when a read error occurs (an unreadable
    // range or an I/O error of the file).
    //
    // The engines read files one cluster per request. On an image file,
    // small reads that follow on from an earlier one are answered from a
    // window read ahead of them, so that most of them cost no system call;
    // a window that does not read leaves the request to a read of its own,
    // which reports as before. Block devices are always read as asked: on a
    // failing disk a read of more than was asked may take long.
    std::int64_t Read(std::uint64_t byteOffset, void* buffer, std::uint64_t length) const;

    // The file descriptor, for the calls that need the device itself
    // (S.M.A.R.T. pass-through); -1 for memory stores.
    int Fd() const { return fd_; }
    bool IsBlockDevice() const { return blockDevice_; }

private:
    struct ReadAheadWindows;
    BackingStore();
    std::int64_t PreadAll(std::uint64_t byteOffset, void* buffer, std::uint64_t length) const;
    std::int64_t ReadAhead(std::uint64_t byteOffset, void* buffer, std::uint64_t length) const;

    std::unique_ptr<ReadAheadWindows> ahead_;  // image files only
    std::string path_;
    int fd_ = -1;
    int openErrno_ = 0;
    bool valid_ = false;
    bool blockDevice_ = false;
    std::uint64_t offset_ = 0;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> memory_;
    bool inMemory_ = false;
};

struct LogicalDriveConfig {
    char letter = 'C';
    unsigned driveType = 3;  // win::DRIVE_FIXED
    std::shared_ptr<BackingStore> store;  // null: no medium
    std::string source;                   // image or device path, for messages
    bool allow7305 = true;                // 9x: Int 21h 7305h answers
    bool allowInt25 = true;               // 9x: Int 25h answers
};

struct PhysicalDriveConfig {
    int number = 0;
    std::shared_ptr<BackingStore> store;
    std::string source;
};

struct SmartDriveConfig {
    int number = 0;
    std::string file;  // identify data, values, thresholds, ATAPI flag
    std::map<std::string, std::string> keys;  // the whole section, for the device
};

struct MachineConfig {
    OsFamily family = OsFamily::NT;
    std::uint32_t build9x = 2222;
    bool int13extLoads = true;
    bool smartVsdLoads = true;
    std::vector<LogicalDriveConfig> logical;
    std::vector<PhysicalDriveConfig> physical;
    std::vector<SmartDriveConfig> smart;
};

class Machine {
public:
    // The machine in force: built on first use from sysfs and VANTREL_MACHINE.
    static Machine& Current();
    // Replaces the machine in force (tests, benchmarks). Open handles keep
    // the stores they have.
    static void Install(MachineConfig config);
    // Builds a configuration from profile text; relative paths are taken
    // from baseDir. Unless the profile hides them, the Linux block devices
    // are added. Throws std::runtime_error on a malformed profile.
    static MachineConfig FromProfileText(const std::string& text, const std::string& baseDir,
                                         bool withRealDevices = true);
    static MachineConfig FromProfileFile(const std::string& path, bool withRealDevices = true);
    // The Linux block devices as drives: whole disks as physical drives,
    // partitions and unpartitioned volumes as logical drives, letters and
    // numbers taken from the free ones of config. Numbers and letters go
    // to the whole disks first (fixed before removable; by kind sd, hd, vd,
    // xvd, nvme, mmcblk; each kind in name order), then to other devices,
    // then to images attached to loop devices, then to device-mapper and md
    // volumes; empty loop devices, snap packages' squashfs images and
    // hidden devices are left out. The device files are devRoot/<name>.
    static void AddRealDevices(MachineConfig& config, const std::string& sysfsRoot = "/sys",
                               const std::string& devRoot = "/dev");

    const MachineConfig& Config() const { return config_; }
    const LogicalDriveConfig* Logical(char letter) const;
    const PhysicalDriveConfig* Physical(int number) const;
    const SmartDriveConfig* Smart(int number) const;
    OsFamily Family() const { return config_.family; }

private:
    explicit Machine(MachineConfig config) : config_(std::move(config)) {}
    MachineConfig config_;
};

// Parses "100-119,4000" into sector ranges.
std::vector<SectorRange> ParseSectorRanges(const std::string& text);

}  // namespace platform
