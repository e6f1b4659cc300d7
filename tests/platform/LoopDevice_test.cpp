// A real block device: an image attached to a loop device, no image in the
// profile. The loop device is a physical drive and its volume a logical drive.
#include <gtest/gtest.h>

#include <vector>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "MachineProfile.h"
#include "NewDiskUtils.h"
#include "TestSupport.h"

namespace {

class LoopDevice : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = dir_.Path() + "/loop.img";
        ASSERT_EQ(vt::test::RunCommand("truncate -s 8M " + image_ + " && mkfs.fat -F 16 -s 1 -n LOOPVOL " + image_), 0);
        std::string out;
        if (vt::test::RunCommand("losetup -f --show -r " + image_, &out) != 0 || out.rfind("/dev/loop", 0) != 0)
            GTEST_SKIP() << "this machine refuses loop devices: " << out;
        device_ = out.substr(0, out.find('\n'));
    }
    void TearDown() override {
        if (!device_.empty()) vt::test::RunCommand("losetup -d " + device_);
    }
    vt::test::TempDir dir_;
    std::string image_, device_;
};

TEST_F(LoopDevice, IsAPhysicalDriveAndItsVolumeALogicalDrive) {
    platform::MachineConfig c;
    platform::Machine::AddRealDevices(c);
    const platform::PhysicalDriveConfig* physical = nullptr;
    const platform::LogicalDriveConfig* logical = nullptr;
    for (const auto& p : c.physical)
        if (p.source == device_) physical = &p;
    for (const auto& l : c.logical)
        if (l.source == device_) logical = &l;
    ASSERT_NE(physical, nullptr) << device_ << " is not listed as a physical drive";
    ASSERT_NE(logical, nullptr) << device_ << " is not listed as a logical drive";
    EXPECT_TRUE(logical->store->IsBlockDevice());
    const char letter = logical->letter;
    const int number = physical->number;
    platform::Machine::Install(std::move(c));
    DiskUtils::Initialize();

    std::vector<std::uint8_t> boot(512);
    ASSERT_TRUE(ReadLogicalSectors(std::string{letter, ':'}, 0, 1, boot.data()));
    EXPECT_EQ(DetectFileSystem(boot), vt::fsFat16);

    win::HANDLE h = OpenDiskHandle(static_cast<DriveNo>(number));
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    std::vector<std::uint8_t> same(512);
    std::uint32_t got = 0;
    ASSERT_TRUE(ReadDiskSectors(h, 1, same.data(), 0, got, static_cast<DriveNo>(number)));
    win::CloseHandle(h);
    EXPECT_EQ(got, 512u);
    EXPECT_EQ(same, boot);

    char label[256] = {};
    ASSERT_TRUE(win::GetVolumeInformationA((std::string{letter} + ":\\").c_str(), label, sizeof label, nullptr,
                                           nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "LOOPVOL");
}

}  // namespace
