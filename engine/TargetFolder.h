// The folders a recovery writes into, held by descriptors.
//
// Vantrel runs as root and writes into a folder that others may write to as
// well (a USB stick, a shared folder). A name that was free when it was
// looked up can be a symbolic link a moment later, and a file opened by its
// path would then be written wherever the link points. So every recovered
// file and folder is made relative to the descriptor of its parent folder
// and never through a link; a folder tree is walked through those
// descriptors and never through a path put together again from strings. A
// name that is taken at the moment it is given, by anything including a
// link, gets the next "_N" name of MakeUniqueFileName's rule. Paths are kept
// beside the descriptors for the log lines only.
//
// A file gets its name only when all of its bytes are written and on the
// target's disk: it is made without one (O_TMPFILE), its data is written
// back (SyncData, or one SyncSystem for a batch of files), and it is linked
// in under its name; where the target's file system has no unnamed files it
// is made under a temporary name and renamed without replacing anything. A
// recovery that is stopped, killed or crashes in the middle of a file, or
// whose machine loses power, so leaves nothing that carries a recovered
// file's name and is not whole. (A kill on a file system without unnamed
// files can leave a temporary ".vantrel-<pid>-<n>.part" behind.)
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vt {

class TargetFolder {
    struct Dir;

public:
    // Names tried for one file or folder before it counts as one that
    // cannot be made: a target that shortens names (an 8.3-only file
    // system) turns every "_N" name into one that exists.
    static constexpr unsigned kMaxNameTries = 1000;

    // A new file in the folder, still without its name (see above).
    class NewFile {
    public:
        NewFile() = default;
        // A file that got no name is removed.
        ~NewFile();
        NewFile(NewFile&& other) noexcept;
        NewFile& operator=(NewFile&& other) noexcept;
        NewFile(const NewFile&) = delete;
        NewFile& operator=(const NewFile&) = delete;

        // Makes the file of a NewFile that Prepare gave; 0 or the system's
        // reason.
        int Open();
        // Open for writing; -1 when the file could not be made (or is not
        // made yet).
        int Descriptor() const { return fd_; }
        bool Valid() const { return fd_ >= 0; }
        // The system's reason when the file could not be made or named.
        int Error() const { return error_; }
        // Writes the file's bytes back to the target's disk (fdatasync): 0,
        // or the system's reason (a full or failing drive may say so only
        // here).
        int SyncData();
        // Writes back everything of the file system that holds the file
        // (syncfs): one call for a batch of files about to be named.
        int SyncSystem();
        // Gives the file its name, or the first free name of
        // MakeUniqueFileName's rule, replacing nothing. 0 or the system's
        // reason (EEXIST when no name of kMaxNameTries was free). The
        // descriptor stays open.
        int Name();
        bool Named() const { return named_; }
        // The folder it is made in (TargetFolder::Identity).
        const void* Folder() const { return dir_.get(); }
        // Closes the descriptor; a file without a name is removed. 0, or the
        // system's reason when the close failed.
        int Close();
        // The file's path, for log lines: the name it got, or before that
        // the first name it will be tried under.
        const std::string& Path() const { return path_; }
        // The same path below the folder the user chose.
        const std::string& Below() const { return below_; }

    private:
        friend class TargetFolder;
        int Place(const std::string& leaf);
        void Remove();

        std::shared_ptr<const Dir> dir_;
        int fd_ = -1;
        std::string temp_;  // temporary name, where the file system has no unnamed files
        std::string name_, path_, below_;
        std::string folderPath_, folderBelow_;
        std::size_t nameMax_ = 255;
        int error_ = 0;
        bool named_ = false;
    };

    TargetFolder() = default;
    TargetFolder(TargetFolder&& other) noexcept = default;
    TargetFolder& operator=(TargetFolder&& other) noexcept = default;
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
    // Its path below the folder the user chose ("" for that one).
    const std::string& Below() const { return below_; }
    // The system's reason when the folder did not open.
    int Error() const { return error_; }
    // Tells the folder from others: the same for the files made in it.
    const void* Identity() const { return dir_.get(); }
    // Path names this very folder (same device and inode), opened the way
    // Open opens it: a folder swapped for a link or another folder since
    // is not this one.
    bool IsAt(const std::string& path) const;

    // Makes a new empty file for writing that is to be named Name (or the
    // first free name of MakeUniqueFileName's rule) once it is complete.
    NewFile CreateFile(const std::string& name) const;
    // The same file, not made yet: NewFile::Open makes it, when and on
    // whichever thread its bytes are written.
    NewFile Prepare(const std::string& name) const;
    // Creates a new sub-folder under Name or the first free name and opens
    // it; an invalid folder (with Path(), Below() and Error() set) when that
    // fails.
    TargetFolder CreateFolder(const std::string& name) const;
    // The path under which Name would be tried first, for a log line about
    // a file or folder that was not made; FirstBelow the same below the
    // chosen folder.
    std::string FirstPath(const std::string& name) const;
    std::string FirstBelow(const std::string& name) const;

    // The file system holding the folder writes back what it was given:
    // 0, or the system's reason of a write that failed (syncfs). A target
    // that takes bytes it cannot keep (a full or failing stick, a network
    // share) may say so only here.
    int Sync() const;

private:
    TargetFolder(std::shared_ptr<const Dir> dir, std::string path, std::string below, std::size_t nameMax, int error);

    std::shared_ptr<const Dir> dir_;  // shared with the files made in it, which are named later
    int fd_ = -1;
    std::string path_, below_;
    std::size_t nameMax_ = 255;  // longest name the folder's file system takes
    int error_ = 0;
};

// For tests only: called between choosing a name and giving it (step File
// or Folder), between making a folder and opening it (FolderMade), and
// right after a file got its name (FileNamed), with the parent folder's
// descriptor and the name. A test plants a link there to show that nothing
// is written through it, or ends the process to see what a name holds.
enum class CreateStep { File, Folder, FolderMade, FileNamed };
using CreateHook = std::function<void(int dirFd, const std::string& name, CreateStep step)>;
void SetCreateHookForTests(CreateHook hook);
// For tests only: false makes files as if the target's file system had no
// unnamed files (a temporary name, renamed when complete).
void SetUnnamedFilesForTests(bool allowed);
// For tests only: what Sync() answers instead of asking the system (a
// hook that returns -1 lets the system answer).
void SetSyncHookForTests(std::function<int(int dirFd)> hook);
// For tests only: what a file's write-back (SyncData, SyncSystem) answers
// instead of asking the system (-1 lets the system answer), with the
// file's descriptor: a test makes a target whose write-back fails.
void SetFileSyncHookForTests(std::function<int(int fd)> hook);

}  // namespace vt
