#include "MachineProfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "Devices.h"
#include "System.h"
#include "TestSupport.h"
#include "WinApi.h"

namespace {

namespace fs = std::filesystem;
using vt::test::TempDir;

std::string WriteFile(const std::string& path, std::size_t bytes, std::uint8_t fill = 0) {
    std::ofstream out(path, std::ios::binary);
    std::string data(bytes, static_cast<char>(fill));
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return path;
}

TEST(MachineProfile, AttachesImagesAsDrivesWithTheirOptions) {
    TempDir dir;
    WriteFile(dir.Path() + "/disk.img", 8 * 512);
    auto c = platform::Machine::FromProfileText(
        "[machine]\nfamily=9x\nbuild=1111\nhide_real_devices=1\n"
        "[logical.f]\nimage=disk.img\noffset=1024\nsize=2048\ntype=removable\nunreadable=1-2, 3\n"
        "[logical.A]\ntype=removable\n"
        "[physical.2]\nimage=disk.img\n",
        dir.Path());
    EXPECT_EQ(c.family, platform::OsFamily::Win9x);
    EXPECT_EQ(c.build9x, 1111u);
    ASSERT_EQ(c.logical.size(), 2u);
    EXPECT_EQ(c.logical[0].letter, 'A');
    EXPECT_EQ(c.logical[0].store, nullptr);  // no medium
    EXPECT_EQ(c.logical[1].letter, 'F');
    EXPECT_EQ(c.logical[1].driveType, win::DRIVE_REMOVABLE);
    EXPECT_EQ(c.logical[1].store->Size(), 2048u);
    ASSERT_EQ(c.logical[1].store->unreadable.size(), 2u);
    EXPECT_EQ(c.logical[1].store->unreadable[0].count, 2u);
    ASSERT_EQ(c.physical.size(), 1u);
    EXPECT_EQ(c.physical[0].number, 2);
    EXPECT_EQ(c.physical[0].store->Size(), 8u * 512);
}

TEST(MachineProfile, MalformedProfilesAreRefused) {
    TempDir dir;
    for (const char* text : {"[machine]\nfamily=os2\n", "[logical.E]\nimage=missing.img\n",
                             "[logical.E]\ntype=tape\n", "[physical.0]\n",
                             "[logical.E]\nunreadable=9-3\n"}) {
        EXPECT_THROW(platform::Machine::FromProfileText(text, dir.Path(), false), std::runtime_error) << text;
    }
}

TEST(MachineProfile, GeometryHasAtLeastOneCylinder) {
    struct Case {
        std::uint64_t bytes;
        std::uint32_t tracks;
        std::int64_t cylinders;
    };
    for (Case c : {Case{1474560, 45, 1}, Case{255ull * 63 * 512 * 10 + 5, 255, 10}, Case{512, 1, 0}}) {
        win::DISK_GEOMETRY g = platform::GeometryForSize(c.bytes);
        EXPECT_EQ(g.BytesPerSector, 512u);
        EXPECT_EQ(g.SectorsPerTrack, 63u);
        EXPECT_EQ(g.TracksPerCylinder, c.tracks) << c.bytes;
        EXPECT_EQ(g.Cylinders, c.cylinders) << c.bytes;
    }
}

TEST(MachineProfile, DevicesOpenOnlyOnTheirFamilyAndAnswerTheSystemCalls) {
    TempDir dir;
    WriteFile(dir.Path() + "/v.img", 100 * 512, 0x11);
    vt::test::InstallProfile("[logical.E]\nimage=" + dir.Path() + "/v.img\n[logical.B]\ntype=removable\n");
    win::HANDLE h = win::CreateFileA("\\\\.\\e:", win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                                     win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::DISK_GEOMETRY g{};
    win::DWORD ret = 0;
    EXPECT_TRUE(win::DeviceIoControl(h, win::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &ret, nullptr));
    EXPECT_EQ(ret, 24u);
    // Positioned past the end, a read returns nothing without failing.
    win::LONG high = 0;
    win::SetFilePointer(h, 200 * 512, &high, win::FILE_BEGIN);
    std::uint8_t buf[512];
    win::DWORD got = 1;
    EXPECT_TRUE(win::ReadFile(h, buf, 512, &got, nullptr));
    EXPECT_EQ(got, 0u);
    win::CloseHandle(h);

    EXPECT_EQ(win::CreateFileA("\\\\.\\VWIN32", 0, 0, nullptr, 0, 0, nullptr), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetDriveTypeA("E:\\"), win::DRIVE_FIXED);
    EXPECT_EQ(win::GetDriveTypeA("B:\\"), win::DRIVE_REMOVABLE);
    EXPECT_EQ(win::GetDriveTypeA("Q:\\"), win::DRIVE_NO_ROOT_DIR);
    win::ULARGE_INTEGER total{};
    EXPECT_TRUE(win::GetDiskFreeSpaceExA("E:\\", nullptr, &total, nullptr));
    EXPECT_EQ(total.QuadPart, 100u * 512);
    EXPECT_FALSE(win::GetDiskFreeSpaceExA("B:\\", nullptr, &total, nullptr));
    EXPECT_EQ(platform::DiskSize(2), -1);  // B: without a medium
    EXPECT_EQ(platform::DiskSize(5), 100 * 512);
}

TEST(MachineProfile, VolumeLabelsComeFromTheVolumesThemselves) {
    TempDir dir;
    std::string fat = dir.Path() + "/fat.img", ntfs = dir.Path() + "/ntfs.img";
    ASSERT_EQ(vt::test::RunCommand("truncate -s 4M " + fat + " && mkfs.fat -F 16 -s 1 -n 'MY DISK' -i 1234ABCD " + fat), 0);
    ASSERT_EQ(vt::test::RunCommand("truncate -s 4M " + ntfs + " && mkntfs -q -F -Q -T -L 'Data Vol' " + ntfs), 0);
    vt::test::InstallProfile("[logical.E]\nimage=" + fat + "\n[logical.F]\nimage=" + ntfs + "\n");
    char label[256] = {}, fsName[32] = {};
    win::DWORD serial = 0;
    ASSERT_TRUE(win::GetVolumeInformationA("E:\\", label, sizeof label, &serial, nullptr, nullptr, fsName, sizeof fsName));
    EXPECT_STREQ(label, "MY DISK");
    EXPECT_EQ(serial, 0x1234ABCDu);
    EXPECT_STREQ(fsName, "FAT");
    ASSERT_TRUE(win::GetVolumeInformationA("F:\\", label, sizeof label, nullptr, nullptr, nullptr, fsName, sizeof fsName));
    EXPECT_STREQ(label, "Data Vol");
    EXPECT_STREQ(fsName, "NTFS");
}

TEST(MachineProfile, TimeConversionsFollowTheClockRules) {
    // 4 January 2003, 11:58:38 UTC.
    win::FILETIME ft{0x9E384F50u, 0x01C2B3E8u};
    win::WORD date = 0, time = 0;
    ASSERT_TRUE(win::FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ(date, ((2003 - 1980) << 9) | (1 << 5) | 4);
    EXPECT_EQ(time, (11 << 11) | (58 << 5) | 19);
    win::FILETIME early{0, 0};  // 1601 has no DOS form
    EXPECT_FALSE(win::FileTimeToDosDateTime(&early, &date, &time));
}

// A sysfs tree of our own: whole disks become physical drives, partitions
// and unpartitioned volumes logical drives; unused loop devices and swap in
// memory are no drives.
TEST(MachineProfile, LinuxBlockDevicesBecomeDrives) {
    TempDir dir;
    vt::test::FakeBlockDevices devices(dir.Path());
    devices.Add("sda", {"sda1", "sda2"}).Sectors(1000);
    devices.Add("sdb", {"sdb1"}).Sectors(2000).Removable();
    devices.Add("loop3").Sectors(0);
    devices.Add("zram0").Sectors(100);
    devices.Add("sr0").Sectors(0).Removable();
    platform::MachineConfig c;
    c.logical.push_back({'D', win::DRIVE_FIXED, nullptr, "image"});
    platform::Machine::AddRealDevices(c, devices.SysfsRoot(), devices.DevRoot());
    const std::string dev = devices.DevRoot();
    ASSERT_EQ(c.physical.size(), 2u);
    EXPECT_EQ(c.physical[0].source, dev + "/sda");
    EXPECT_EQ(c.physical[1].source, dev + "/sdb");
    std::vector<std::pair<char, std::string>> letters;
    for (const auto& l : c.logical) letters.emplace_back(l.letter, l.source);
    EXPECT_EQ(letters, (std::vector<std::pair<char, std::string>>{{'C', dev + "/sda1"},
                                                                  {'D', "image"},
                                                                  {'E', dev + "/sda2"},
                                                                  {'F', dev + "/sdb1"},
                                                                  {'G', dev + "/sr0"}}));
    EXPECT_EQ(c.logical[3].driveType, win::DRIVE_REMOVABLE);
    EXPECT_EQ(c.logical[4].driveType, win::DRIVE_CDROM);
}

// A desktop as it is: six snap packages on loop devices, an LVM volume
// over sda2, the SATA disk, the NVMe disk, a USB stick and a card image
// the user attached read-only. The fixed disks take the first numbers and
// letters, the USB stick the next, the image follows, the LVM volume comes
// last, and no snap is a drive.
TEST(MachineProfile, RealDisksComeBeforeImagesAndVolumesAndSnapsAreNoDrives) {
    TempDir dir;
    vt::test::FakeBlockDevices devices(dir.Path());
    const std::string squashfs = std::string("hsqs") + std::string(508, '\0');
    for (int n = 0; n < 4; ++n)
        devices.Add("loop" + std::to_string(n))
            .BoundTo("/var/lib/snapd/snaps/core22_" + std::to_string(1000 + n) + ".snap")
            .ReadOnly()
            .Bytes(squashfs);
    // A squashfs image bound read-only somewhere else, and a bound loop
    // device without a backing file (empty).
    devices.Add("loop4").BoundTo("/opt/tools/tools.squashfs").ReadOnly().Bytes(squashfs);
    devices.Add("loop5");
    devices.Add("loop6").BoundTo("/home/user/card.img").ReadOnly();
    devices.Add("dm-0");
    devices.Add("sda", {"sda1", "sda2"});
    devices.Add("nvme0n1", {"nvme0n1p1", "nvme0n1p2"});
    devices.Add("sdb", {"sdb1"}).Removable();
    const std::string dev = devices.DevRoot();
    ASSERT_EQ(vt::test::RunCommand("for d in loop6 dm-0; do truncate -s 1M " + dev + "/$d && mkfs.fat -F 12 " + dev +
                                   "/$d >/dev/null; done"),
              0);
    platform::MachineConfig c;
    platform::Machine::AddRealDevices(c, devices.SysfsRoot(), dev);

    std::vector<std::pair<int, std::string>> numbers;
    for (const auto& p : c.physical) numbers.emplace_back(p.number, p.source);
    EXPECT_EQ(numbers, (std::vector<std::pair<int, std::string>>{
                           {0, dev + "/sda"}, {1, dev + "/nvme0n1"}, {2, dev + "/sdb"}, {3, dev + "/loop6"}, {4, dev + "/dm-0"}}));
    std::vector<std::pair<char, std::string>> letters;
    for (const auto& l : c.logical) letters.emplace_back(l.letter, l.source);
    EXPECT_EQ(letters, (std::vector<std::pair<char, std::string>>{{'C', dev + "/sda1"},
                                                                  {'D', dev + "/sda2"},
                                                                  {'E', dev + "/nvme0n1p1"},
                                                                  {'F', dev + "/nvme0n1p2"},
                                                                  {'G', dev + "/sdb1"},
                                                                  {'H', dev + "/loop6"},
                                                                  {'I', dev + "/dm-0"}}));
}

// Within a kind the kernel's own order: sdz before sdaa, nvme1n1 before
// nvme10n1; the kinds in the kernel's order, the fixed disks before the
// removable ones; devices of other kinds after the disks, then images on
// loop devices, then mapper and md volumes. A hidden device (a path of a
// multipath NVMe namespace) is no drive.
TEST(MachineProfile, DisksAreNumberedInTheKernelsOrderOfTheirKind) {
    TempDir dir;
    vt::test::FakeBlockDevices devices(dir.Path());
    for (const char* name : {"md127", "dm-10", "loop10", "sdaa", "mmcblk1", "nvme10n1", "xvda", "sdz", "nbd0", "dm-2",
                             "nvme1n1", "hda", "md0", "loop2", "vda", "sdb", "mmcblk0", "nvme0n1", "sda"})
        if (devices.Add(name); std::string(name).rfind("loop", 0) == 0) devices.BoundTo("/srv/disk.img");
    devices.Add("nvme0c0n1").Hidden();
    devices.Add("sdc").Removable();
    platform::MachineConfig c;
    platform::Machine::AddRealDevices(c, devices.SysfsRoot(), devices.DevRoot());
    std::vector<std::string> order;
    for (const auto& p : c.physical) order.push_back(p.source.substr(devices.DevRoot().size() + 1));
    EXPECT_EQ(order, (std::vector<std::string>{"sda", "sdb", "sdz", "sdaa", "hda", "vda", "xvda", "nvme0n1", "nvme1n1",
                                               "nvme10n1", "mmcblk0", "mmcblk1", "sdc", "nbd0", "loop2", "loop10",
                                               "dm-2", "dm-10", "md0", "md127"}));
}

}  // namespace
