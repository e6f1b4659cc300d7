// Helpers shared by the tests: where the test images are, installing a
// machine profile, checksums of images, and reading files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MachineProfile.h"

namespace vt::test {

// Full path of an image built by tests/fixtures (in the build's image folder).
std::string ImagePath(const std::string& name);
// Full path of a file in tests/fixtures.
std::string FixturePath(const std::string& name);

// Installs a machine from profile text (ini, see MachineProfile.h) whose
// relative paths are taken from the image folder; real devices are hidden
// unless the text says otherwise.
void InstallProfile(const std::string& profileText);

// Installs a disk image held in memory (a changed copy of a fixture) as
// physical drive 0, and nothing else.
void InstallAsDrive0(std::vector<std::uint8_t> image);

// 64-bit FNV-1a over a whole file: before/after checks that nothing wrote it.
std::uint64_t FileChecksum(const std::string& path);

// What `yes NAME | head -c SIZE` gives: the contents of the files of the
// FAT recovery fixture.
std::vector<std::uint8_t> YesContent(const std::string& name, std::size_t size);

// Checks, once all tests of the program have run, that these images (of
// the image folder) are byte for byte what they were before the first.
// Call it at static initialisation; the result is only there for that.
bool ExpectImagesUnchanged(std::vector<std::string> images);

std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
std::string ReadTextFile(const std::string& path);

// A fresh empty folder under the system's temporary folder; removed with
// the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A small tmpfs mounted over a fresh folder, for targets that refuse or
// fill up (options as mount(8) takes them: "size=64k", "ro"); unmounted at
// the end. Mounted() is false where the process may not mount (no root):
// the test then skips with a message.
class SmallTmpfs {
public:
    explicit SmallTmpfs(const std::string& options);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& Path() const { return dir_.Path(); }
    // Mounts it again read-only, what was written staying.
    bool MakeReadOnly();

private:
    TempDir dir_;
    bool mounted_ = false;
};

// The block devices of a Linux machine as the kernel shows them, in a
// folder of our own: <root>/sys/block/<name>/ with its size, removable, ro
// and hidden attributes, a folder per partition and, for a bound loop
// device, loop/backing_file; and a device file <root>/dev/<name> per device
// and partition (empty unless given bytes). For
// Machine::AddRealDevices(config, SysfsRoot(), DevRoot()).
class FakeBlockDevices {
public:
    explicit FakeBlockDevices(const std::string& root);
    // A device of 2048 sectors, fixed, read-write; the calls after it
    // change the device added last.
    FakeBlockDevices& Add(const std::string& name, const std::vector<std::string>& partitions = {});
    FakeBlockDevices& Sectors(std::uint64_t count);
    FakeBlockDevices& Removable();
    FakeBlockDevices& ReadOnly();
    FakeBlockDevices& Hidden();
    FakeBlockDevices& BoundTo(const std::string& backingFile);  // a loop device's
    FakeBlockDevices& Bytes(const std::string& bytes);          // of the device file
    std::string SysfsRoot() const { return root_ + "/sys"; }
    std::string DevRoot() const { return root_ + "/dev"; }

private:
    void Attribute(const std::string& file, const std::string& value) const;
    std::string root_, last_;
};

// Runs body in a forked child whose files may grow to at most limitBytes
// (a full target drive: writes past it fall short) and returns the text
// body returned there; "<child failed>" when the child did not exit.
std::string InChildWithFileLimit(std::uint64_t limitBytes, const std::function<std::string()>& body);

// Runs a shell command, returns its exit status; output to out when given.
int RunCommand(const std::string& command, std::string* out = nullptr);

}  // namespace vt::test
