#include "TargetFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "DiskParam.h"

namespace vt {

namespace {

// O_PATH: the descriptor serves as the base of openat and mkdirat only, so
// that a folder the user may write into but not list still works.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

CreateHook& Hook() {
    static CreateHook hook;
    return hook;
}

void RunHook(int dirFd, const std::string& name, CreateStep step) {
    if (Hook()) Hook()(dirFd, name, step);
}

std::string Join(const std::string& folder, const std::string& leaf) {
    return folder.empty() || folder.back() != '/' ? folder + "/" + leaf : folder + leaf;
}

}  // namespace

void SetCreateHookForTests(CreateHook hook) { Hook() = std::move(hook); }

TargetFolder::~TargetFolder() {
    if (fd_ >= 0) ::close(fd_);
}

TargetFolder::TargetFolder(TargetFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      nameMax_(other.nameMax_),
      error_(other.error_) {}

TargetFolder& TargetFolder::operator=(TargetFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        nameMax_ = other.nameMax_;
        error_ = other.error_;
    }
    return *this;
}

TargetFolder TargetFolder::Open(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty()) return TargetFolder(-1, path, 255, ENOENT);
    const int fd = ::open(p.c_str(), kFolderFlags);
    if (fd < 0) return TargetFolder(-1, p, 255, errno);
    const long max = ::fpathconf(fd, _PC_NAME_MAX);
    return TargetFolder(fd, p, max > 0 ? static_cast<std::size_t>(max) : 255, 0);
}

int TargetFolder::CreateChosen(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    if (p.empty() || p == "/" || slash == std::string::npos) return EINVAL;
    const std::string parent = slash == 0 ? "/" : p.substr(0, slash);
    const int fd = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ::mkdirat(fd, p.c_str() + slash + 1, 0755) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

std::string TargetFolder::FirstPath(const std::string& name) const {
    return Join(path_, TUniqueNames(name, nameMax_)[0]);
}

TargetFolder::Created TargetFolder::CreateFile(const std::string& name) const {
    Created c;
    const TUniqueNames names(name, nameMax_);
    if (fd_ < 0) {
        c.path = Join(path_, names[0]);
        c.error = error_ ? error_ : EBADF;
        return c;
    }
    for (unsigned n = 0;; ++n) {
        const std::string leaf = names[n];
        RunHook(fd_, leaf, CreateStep::File);
        // O_EXCL fails on any name that exists, a link (dangling or not)
        // included; O_NOFOLLOW says the same once more.
        c.fd = ::openat(fd_, leaf.c_str(), kFileFlags, 0644);
        if (c.fd >= 0 || errno != EEXIST || n == ~0u) {
            c.error = c.fd >= 0 ? 0 : errno;
            c.path = Join(path_, leaf);
            return c;
        }
    }
}

TargetFolder TargetFolder::CreateFolder(const std::string& name) const {
    const TUniqueNames names(name, nameMax_);
    if (fd_ < 0) return TargetFolder(-1, Join(path_, names[0]), nameMax_, error_ ? error_ : EBADF);
    for (unsigned n = 0;; ++n) {
        const std::string leaf = names[n];
        RunHook(fd_, leaf, CreateStep::Folder);
        if (::mkdirat(fd_, leaf.c_str(), 0755) != 0) {
            if (errno == EEXIST && n != ~0u) continue;
            return TargetFolder(-1, Join(path_, leaf), nameMax_, errno);
        }
        // Between its creation and this open the new folder may have been
        // swapped for a link: then it does not open, and the folder counts
        // as one that could not be made. A new folder is never a mount
        // point, so it takes the names its parent takes.
        RunHook(fd_, leaf, CreateStep::FolderMade);
        const int fd = ::openat(fd_, leaf.c_str(), kFolderFlags);
        return TargetFolder(fd, Join(path_, leaf), nameMax_, fd >= 0 ? 0 : errno);
    }
}

}  // namespace vt
