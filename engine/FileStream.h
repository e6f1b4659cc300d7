// The target file of a recovery: a new file made in its target folder
// (never one that existed, never through a link; see TargetFolder.h),
// written in order from its start, with the size set at the end; it gets
// its name when it is closed with all of its bytes written back to the
// target's disk, and a stream that is not closed (a stop, an exception) or
// whose bytes did not all go in leaves nothing behind. The bytes gather
// in a buffer and go to the file in large writes (recoveries write one
// cluster at a time). A write that falls short (a full target drive) is
// remembered, so that the recovery can log it; the owner flushes before it
// calls the file complete. A stream made for a write-behind (see
// WriteBehind.h) lets the files handed over before it be written first,
// before any byte of its own goes to its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "PageBuffer.h"
#include "TargetFolder.h"

namespace vt {

class TWriteBehind;

class TFileStream {
public:
    // Creates a new file in the folder, to be named Name or the next free
    // name of MakeUniqueFileName's rule when it is closed; Valid() tells
    // whether that worked and CreateError() the system's reason when not.
    TFileStream(const TargetFolder& folder, const std::string& name);
    // The same, for a file that may be handed over to Behind when it is
    // done (null: an ordinary stream). The file is made only when its first
    // bytes go out, or by the writer: the files that wait for the writer
    // hold no descriptors. A file that cannot be made then counts as one
    // that could not be named (NameFailed).
    TFileStream(const TargetFolder& folder, const std::string& name, TWriteBehind* behind);
    // Takes over a descriptor open for writing; closing it names nothing.
    explicit TFileStream(int fd);
    // A file of a folder that was not closed is removed: it never gets its
    // name. The window's messages do not run here.
    ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    bool Valid() const { return fd_ >= 0 || lazy_; }
    // The file's path and its path below the folder the user chose, for
    // log lines: once closed the name it got, before that the first name
    // it will be tried under.
    const std::string& Path() const { return file_.Path(); }
    const std::string& Below() const { return file_.Below(); }
    // The system's reason when the file could not be made or named.
    int CreateError() const { return createError_; }
    // Closing could not give the file a name: it is not in the folder.
    bool NameFailed() const { return nameFailed_; }
    // Bytes taken; fewer than asked when a write to the file fell short.
    std::size_t Write(const void* data, std::size_t length);
    // Writes length zero bytes; false on a short write.
    bool WriteZeros(std::uint64_t length);
    // The stream's size = its position (written in order), buffered bytes
    // included.
    std::int64_t Size() const { return size_; }
    // Writes the buffered bytes to the file; false when that falls short.
    bool Flush();
    // Flushes, then sets the file's size.
    bool SetSize(std::int64_t size);
    bool ShortWrite() const { return shortWrite_; }
    // Flushes, writes the bytes back to the target's disk, gives the file
    // its name (once the files handed over before it have theirs) and
    // closes it. False when a write fell short, the write-back failed
    // (then the file gets no name and is removed) or the close failed (all
    // remembered as a short write), or when the name could not be given
    // (NameFailed).
    bool Close();
    // Closes the file without a name: nothing of it stays.
    void Discard();

private:
    friend class TWriteBehind;
    // Before the first byte goes to the file: the files handed over before
    // this one are written first, so that the target receives every file in
    // the order of the recovery.
    void WaitBehind();
    // Writes n bytes at the end of what the file holds; the bytes written.
    std::size_t WriteOut(const std::uint8_t* data, std::size_t n);
    // Makes the file of a stream for a write-behind; false when it cannot.
    bool EnsureOpen();

    TargetFolder::NewFile file_;  // the file of a folder; none for a descriptor taken over
    int fd_ = -1;
    int createError_ = 0;
    bool nameFailed_ = false;
    bool lazy_ = false;  // a write-behind's stream whose file is not made yet
    std::int64_t size_ = 0;     // bytes taken
    std::int64_t written_ = 0;  // of those, the bytes in the file
    platform::PageBuffer buffer_;
    std::size_t buffered_ = 0;
    bool shortWrite_ = false;
    TWriteBehind* behind_ = nullptr;
};

}  // namespace vt
