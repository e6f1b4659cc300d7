// The folders a recovery writes into, held by descriptors.
//
// Vantrel runs as root and writes into a folder that others may write to as
// well (a USB stick, a shared folder). A name that was free when it was
// looked up can be a symbolic link a moment later, and a file opened by its
// path would then be written wherever the link points. So every recovered
// file is created exclusively (O_CREAT | O_EXCL | O_NOFOLLOW) and every
// folder with mkdirat, each relative to the descriptor of its parent folder;
// a folder tree is walked through those descriptors and never through a path
// put together again from strings. A name that is taken at the moment of
// creation, by anything including a link, gets the next "_N" name of
// MakeUniqueFileName's rule. Paths are kept beside the descriptors for the
// log lines only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vt {

class TargetFolder {
public:
    // A new file made in the folder: its descriptor (open for writing, -1
    // when it could not be made), the path it has (for log lines) and the
    // system's reason of a failure.
    struct Created {
        int fd = -1;
        std::string path;
        int error = 0;
    };

    TargetFolder() = default;
    ~TargetFolder();
    TargetFolder(TargetFolder&& other) noexcept;
    TargetFolder& operator=(TargetFolder&& other) noexcept;
    TargetFolder(const TargetFolder&) = delete;
    TargetFolder& operator=(const TargetFolder&) = delete;

    // The folder the user chose, by its path. Links on the way to it are
    // the user's own choice and are followed; the folder itself is not
    // taken through a link (trailing slashes are dropped first, since they
    // would make the system follow one). Valid() tells whether it opened;
    // Path() is set in either case.
    static TargetFolder Open(const std::string& path);
    // Makes the folder the user chose (one level: its parent must exist),
    // the same way: mkdirat in its parent, where links on the way are the
    // user's. 0, or the system's reason.
    static int CreateChosen(const std::string& path);

    bool Valid() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    // The folder's path, for log lines; never opened again.
    const std::string& Path() const { return path_; }
    // The system's reason when the folder did not open.
    int Error() const { return error_; }

    // Creates a new empty file for writing under Name, or the first free
    // name of MakeUniqueFileName's rule.
    Created CreateFile(const std::string& name) const;
    // Creates a new sub-folder the same way and opens it; an invalid folder
    // (with Path() and Error() set) when that fails.
    TargetFolder CreateFolder(const std::string& name) const;
    // The path under which Name would be tried first, for a log line about
    // a folder that did not open.
    std::string FirstPath(const std::string& name) const;

private:
    TargetFolder(int fd, std::string path, std::size_t nameMax, int error)
        : fd_(fd), path_(std::move(path)), nameMax_(nameMax), error_(error) {}

    int fd_ = -1;
    std::string path_;
    std::size_t nameMax_ = 255;  // longest name the folder's file system takes
    int error_ = 0;
};

// For tests only: called between choosing a name and making it (step File
// or Folder), and between making a folder and opening it (FolderMade), with
// the parent folder's descriptor and the name. A test plants a link there
// to show that nothing is written through it.
enum class CreateStep { File, Folder, FolderMade };
using CreateHook = std::function<void(int dirFd, const std::string& name, CreateStep step)>;
void SetCreateHookForTests(CreateHook hook);

}  // namespace vt
