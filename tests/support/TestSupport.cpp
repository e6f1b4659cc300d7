#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vt::test {

std::string ImagePath(const std::string& name) { return std::string(VT_IMAGE_DIR) + "/" + name; }

std::string FixturePath(const std::string& name) { return std::string(VT_FIXTURE_DIR) + "/" + name; }

void InstallProfile(const std::string& profileText) {
    std::string text = profileText;
    if (text.find("hide_real_devices") == std::string::npos) text = "[machine]\nhide_real_devices=1\n" + text;
    platform::Machine::Install(platform::Machine::FromProfileText(text, VT_IMAGE_DIR));
}

void InstallAsDrive0(std::vector<std::uint8_t> image) {
    platform::MachineConfig config;
    platform::PhysicalDriveConfig p;
    p.number = 0;
    p.store = platform::BackingStore::FromMemory(std::move(image));
    p.source = "memory";
    config.physical.push_back(p);
    platform::Machine::Install(std::move(config));
}

FakeBlockDevices::FakeBlockDevices(const std::string& root) : root_(root) {
    std::filesystem::create_directories(SysfsRoot() + "/block");
    std::filesystem::create_directories(DevRoot());
}

void FakeBlockDevices::Attribute(const std::string& file, const std::string& value) const {
    const std::string path = SysfsRoot() + "/block/" + last_ + "/" + file;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << value << "\n";
}

FakeBlockDevices& FakeBlockDevices::Add(const std::string& name, const std::vector<std::string>& partitions) {
    last_ = name;
    Attribute("size", "2048");
    Attribute("removable", "0");
    Attribute("ro", "0");
    Attribute("hidden", "0");
    std::ofstream(DevRoot() + "/" + name, std::ios::binary);
    for (const std::string& p : partitions) {
        Attribute(p + "/partition", "1");
        std::ofstream(DevRoot() + "/" + p, std::ios::binary);
    }
    return *this;
}

FakeBlockDevices& FakeBlockDevices::Sectors(std::uint64_t count) {
    Attribute("size", std::to_string(count));
    return *this;
}
FakeBlockDevices& FakeBlockDevices::Removable() {
    Attribute("removable", "1");
    return *this;
}
FakeBlockDevices& FakeBlockDevices::ReadOnly() {
    Attribute("ro", "1");
    return *this;
}
FakeBlockDevices& FakeBlockDevices::Hidden() {
    Attribute("hidden", "1");
    return *this;
}
FakeBlockDevices& FakeBlockDevices::BoundTo(const std::string& backingFile) {
    Attribute("loop/backing_file", backingFile);
    return *this;
}
FakeBlockDevices& FakeBlockDevices::Bytes(const std::string& bytes) {
    std::ofstream(DevRoot() + "/" + last_, std::ios::binary) << bytes;
    return *this;
}

std::string InChildWithFileLimit(std::uint64_t limitBytes, const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "<child failed>";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rlimit limit{limitBytes, limitBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string text = body();
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; pid > 0 && (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return "<child failed>";
    return text;
}

SmallTmpfs::SmallTmpfs(const std::string& options) {
    mounted_ = ::mount("vantrel-test", dir_.Path().c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs() {
    if (mounted_) ::umount2(dir_.Path().c_str(), MNT_DETACH);
}

bool SmallTmpfs::MakeReadOnly() {
    return mounted_ && ::mount("vantrel-test", dir_.Path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

std::uint64_t FileChecksum(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    // FNV-1a over 8-byte words (the tail byte by byte): the images run to
    // hundreds of MiB, and every test program checks them before and after.
    std::uint64_t h = 1469598103934665603ULL;
    std::array<char, 1 << 16> buf;
    while (in) {
        in.read(buf.data(), buf.size());
        const auto n = static_cast<std::size_t>(in.gcount());
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, buf.data() + i, 8);
            h ^= w;
            h *= 1099511628211ULL;
        }
        for (; i < n; ++i) {
            h ^= static_cast<unsigned char>(buf[i]);
            h *= 1099511628211ULL;
        }
    }
    return h;
}

std::vector<std::uint8_t> YesContent(const std::string& name, std::size_t size) {
    std::vector<std::uint8_t> b;
    const std::string line = name + "\n";
    while (b.size() < size) b.insert(b.end(), line.begin(), line.end());
    b.resize(size);
    return b;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadTextFile(const std::string& path) {
    auto bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vantrel-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int RunCommand(const std::string& command, std::string* out) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vt::test

namespace vt::test {

namespace {

class ImagesUnchanged : public ::testing::Environment {
public:
    explicit ImagesUnchanged(std::vector<std::string> images) : images_(std::move(images)) {}
    void SetUp() override {
        for (const auto& n : images_) before_.push_back(FileChecksum(ImagePath(n)));
    }
    void TearDown() override {
        for (std::size_t i = 0; i < images_.size(); ++i)
            EXPECT_EQ(FileChecksum(ImagePath(images_[i])), before_[i]) << images_[i];
    }

private:
    std::vector<std::string> images_;
    std::vector<std::uint64_t> before_;
};

}  // namespace

bool ExpectImagesUnchanged(std::vector<std::string> images) {
    ::testing::AddGlobalTestEnvironment(new ImagesUnchanged(std::move(images)));
    return true;
}

}  // namespace vt::test
