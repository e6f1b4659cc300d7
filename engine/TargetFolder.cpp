#include "TargetFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "DiskParam.h"

namespace vt {

struct TargetFolder::Dir {
    int fd = -1;
    explicit Dir(int f) : fd(f) {}
    ~Dir() {
        if (fd >= 0) ::close(fd);
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
};

namespace {

// O_PATH: the descriptor serves as the base of the *at calls only, so that
// a folder the user may write into but not list still works.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kTempFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

CreateHook& Hook() {
    static CreateHook hook;
    return hook;
}

void RunHook(int dirFd, const std::string& name, CreateStep step) {
    if (Hook()) Hook()(dirFd, name, step);
}

std::atomic<bool> g_unnamedAllowed{true};

std::function<int(int)>& SyncHook() {
    static std::function<int(int)> hook;
    return hook;
}

std::function<int(int)>& FileSyncHook() {
    static std::function<int(int)> hook;
    return hook;
}

// The test hook's answer, or the call's.
template <typename Call>
int SyncAnswer(int fd, Call call) {
    if (FileSyncHook()) {
        const int answer = FileSyncHook()(fd);
        if (answer >= 0) return answer;
    }
    for (;;) {
        if (call(fd) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

std::string Join(const std::string& folder, const std::string& leaf) {
    return folder.empty() || folder.back() != '/' ? folder + "/" + leaf : folder + leaf;
}
std::string JoinBelow(const std::string& folder, const std::string& leaf) {
    return folder.empty() ? leaf : folder + "/" + leaf;
}

// An unnamed file is linked in through its descriptor: AT_EMPTY_PATH where
// the process may (it needs CAP_DAC_READ_SEARCH on most kernels), else its
// /proc link, which any owner of the descriptor may follow.
int LinkUnnamed(int fd, int dirFd, const std::string& leaf) {
    static std::atomic<bool> emptyPathWorks{true};
    if (emptyPathWorks.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dirFd, leaf.c_str(), AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM && errno != EINVAL) return errno;
        emptyPathWorks.store(false, std::memory_order_relaxed);
    }
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, proc.c_str(), dirFd, leaf.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

}  // namespace

void SetCreateHookForTests(CreateHook hook) { Hook() = std::move(hook); }
void SetUnnamedFilesForTests(bool allowed) { g_unnamedAllowed = allowed; }
void SetSyncHookForTests(std::function<int(int)> hook) { SyncHook() = std::move(hook); }
void SetFileSyncHookForTests(std::function<int(int)> hook) { FileSyncHook() = std::move(hook); }

// ---------------------------------------------------------------------------

TargetFolder::NewFile::~NewFile() { Close(); }

TargetFolder::NewFile::NewFile(NewFile&& other) noexcept
    : dir_(std::move(other.dir_)),
      fd_(std::exchange(other.fd_, -1)),
      temp_(std::move(other.temp_)),
      name_(std::move(other.name_)),
      path_(std::move(other.path_)),
      below_(std::move(other.below_)),
      folderPath_(std::move(other.folderPath_)),
      folderBelow_(std::move(other.folderBelow_)),
      nameMax_(other.nameMax_),
      error_(other.error_),
      named_(other.named_) {}

TargetFolder::NewFile& TargetFolder::NewFile::operator=(NewFile&& other) noexcept {
    if (this != &other) {
        Close();
        dir_ = std::move(other.dir_);
        fd_ = std::exchange(other.fd_, -1);
        temp_ = std::move(other.temp_);
        name_ = std::move(other.name_);
        path_ = std::move(other.path_);
        below_ = std::move(other.below_);
        folderPath_ = std::move(other.folderPath_);
        folderBelow_ = std::move(other.folderBelow_);
        nameMax_ = other.nameMax_;
        error_ = other.error_;
        named_ = other.named_;
    }
    return *this;
}

int TargetFolder::NewFile::Place(const std::string& leaf) {
    const int dirFd = dir_->fd;
    if (temp_.empty()) return LinkUnnamed(fd_, dirFd, leaf);
    if (::renameat2(dirFd, temp_.c_str(), dirFd, leaf.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without rename flags: a second link, which never
    // replaces a name either, and the temporary one removed.
    if (::linkat(dirFd, temp_.c_str(), dirFd, leaf.c_str(), 0) != 0) return errno;
    ::unlinkat(dirFd, temp_.c_str(), 0);
    return 0;
}

int TargetFolder::NewFile::Name() {
    if (named_) return 0;
    if (fd_ < 0 || !dir_) return error_ ? error_ : EBADF;
    const TUniqueNames names(name_, nameMax_);
    for (unsigned n = 0; n < kMaxNameTries; ++n) {
        const std::string leaf = names[n];
        RunHook(dir_->fd, leaf, CreateStep::File);
        // Neither a link nor a rename with RENAME_NOREPLACE gives a name that
        // exists, a link (dangling or not) included.
        const int error = Place(leaf);
        if (error == 0) {
            named_ = true;
            temp_.clear();
            path_ = Join(folderPath_, leaf);
            below_ = JoinBelow(folderBelow_, leaf);
            error_ = 0;
            RunHook(dir_->fd, leaf, CreateStep::FileNamed);
            return 0;
        }
        if (error != EEXIST) return error_ = error;
    }
    return error_ = EEXIST;
}

int TargetFolder::NewFile::SyncData() {
    if (fd_ < 0) return error_ ? error_ : EBADF;
    return SyncAnswer(fd_, [](int fd) { return ::fdatasync(fd); });
}

int TargetFolder::NewFile::SyncSystem() {
    if (fd_ < 0) return error_ ? error_ : EBADF;
    return SyncAnswer(fd_, [](int fd) { return ::syncfs(fd); });
}

void TargetFolder::NewFile::Remove() {
    if (!temp_.empty() && dir_) ::unlinkat(dir_->fd, temp_.c_str(), 0);
    temp_.clear();
}

int TargetFolder::NewFile::Close() {
    if (fd_ < 0) return 0;
    if (!named_) Remove();
    const int r = ::close(std::exchange(fd_, -1));
    return r == 0 ? 0 : errno;
}

// ---------------------------------------------------------------------------

TargetFolder::TargetFolder(std::shared_ptr<const Dir> dir, std::string path, std::string below, std::size_t nameMax,
                           int error)
    : dir_(std::move(dir)),
      fd_(dir_ ? dir_->fd : -1),
      path_(std::move(path)),
      below_(std::move(below)),
      nameMax_(nameMax),
      error_(error) {}

TargetFolder TargetFolder::Open(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty()) return TargetFolder(nullptr, path, "", 255, ENOENT);
    const int fd = ::open(p.c_str(), kFolderFlags);
    if (fd < 0) return TargetFolder(nullptr, p, "", 255, errno);
    const long max = ::fpathconf(fd, _PC_NAME_MAX);
    return TargetFolder(std::make_shared<const Dir>(fd), p, "", max > 0 ? static_cast<std::size_t>(max) : 255, 0);
}

bool TargetFolder::IsAt(const std::string& path) const {
    if (fd_ < 0) return false;
    const TargetFolder now = Open(path);
    struct stat a {}, b {};
    return now.Valid() && ::fstat(fd_, &a) == 0 && ::fstat(now.fd_, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
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

std::string TargetFolder::FirstBelow(const std::string& name) const {
    return JoinBelow(below_, TUniqueNames(name, nameMax_)[0]);
}

TargetFolder::NewFile TargetFolder::Prepare(const std::string& name) const {
    NewFile f;
    f.name_ = name;
    f.folderPath_ = path_;
    f.folderBelow_ = below_;
    f.nameMax_ = nameMax_;
    f.path_ = FirstPath(name);
    f.below_ = FirstBelow(name);
    f.dir_ = dir_;
    if (!dir_) f.error_ = error_ ? error_ : EBADF;
    return f;
}

TargetFolder::NewFile TargetFolder::CreateFile(const std::string& name) const {
    NewFile f = Prepare(name);
    f.Open();
    return f;
}

int TargetFolder::NewFile::Open() {
    if (fd_ >= 0) return 0;
    if (!dir_) return error_ ? error_ : EBADF;
    const int dirFd = dir_->fd;
    // An unnamed file can be linked in through AT_EMPTY_PATH (root) or
    // through /proc; without either it could never get its name.
    static const bool linkable = ::geteuid() == 0 || ::access("/proc/self/fd", X_OK) == 0;
    if (linkable && g_unnamedAllowed.load(std::memory_order_relaxed)) {
        fd_ = ::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        if (fd_ >= 0) return error_ = 0;
        // EISDIR: a kernel without O_TMPFILE; EOPNOTSUPP: a file system
        // without unnamed files. Anything else is the folder's refusal.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return error_ = errno;
    }
    // A temporary name that no recovered file can have: it begins with a
    // dot and ends in ".part", and it is made exclusively, never through a
    // link.
    static std::atomic<unsigned> serial{0};
    for (unsigned n = 0; n < kMaxNameTries; ++n) {
        const std::string temp = ".vantrel-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".part";
        fd_ = ::openat(dirFd, temp.c_str(), kTempFlags, 0644);
        if (fd_ >= 0) {
            temp_ = temp;
            return error_ = 0;
        }
        if (errno != EEXIST) break;
    }
    return error_ = errno;
}

TargetFolder TargetFolder::CreateFolder(const std::string& name) const {
    const TUniqueNames names(name, nameMax_);
    if (fd_ < 0)
        return TargetFolder(nullptr, Join(path_, names[0]), JoinBelow(below_, names[0]), nameMax_,
                            error_ ? error_ : EBADF);
    for (unsigned n = 0;; ++n) {
        const std::string leaf = names[n];
        RunHook(fd_, leaf, CreateStep::Folder);
        if (::mkdirat(fd_, leaf.c_str(), 0755) != 0) {
            if (errno == EEXIST && n + 1 < kMaxNameTries) continue;
            return TargetFolder(nullptr, Join(path_, names[0]), JoinBelow(below_, names[0]), nameMax_, errno);
        }
        // Between its creation and this open the new folder may have been
        // swapped for a link: then it does not open, and the folder counts
        // as one that could not be made. A new folder is never a mount
        // point, so it takes the names its parent takes.
        RunHook(fd_, leaf, CreateStep::FolderMade);
        const int fd = ::openat(fd_, leaf.c_str(), kFolderFlags);
        const int error = fd >= 0 ? 0 : errno;
        return TargetFolder(fd >= 0 ? std::make_shared<const Dir>(fd) : nullptr, Join(path_, leaf),
                            JoinBelow(below_, leaf), nameMax_, error);
    }
}

int TargetFolder::Sync() const {
    if (fd_ < 0) return error_ ? error_ : EBADF;
    if (SyncHook()) {
        const int answer = SyncHook()(fd_);
        if (answer >= 0) return answer;
    }
    // syncfs takes any descriptor of the file system, an O_PATH one not:
    // the folder is opened for reading for it.
    const int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ::syncfs(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

}  // namespace vt
