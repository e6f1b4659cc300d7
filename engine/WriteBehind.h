// The writes of small recovered files, done by threads of their own while
// the recovery reads the next files.
//
// A folder of many small files costs the recovery more in the target's file
// system than in reading: creating a file, writing its few clusters, naming
// it and closing it each take a call into the kernel. A file whose bytes all
// fit in the stream's buffer is handed over with them; the writers make it,
// write it, name it and close it. Two writers make and write files side by
// side, but names are given one at a time and in the order the files were
// handed over, and every name the recovery gives meanwhile (a larger
// file's, a folder's) waits for the files before it, so that names are taken
// in the order of the folder as if each file had been written at once (the
// "_N" a taken name gets is the one it always gets). A larger file is
// written by the recovering thread as before, once the files handed over
// before it are written.
//
// Nothing that fails goes unnamed: a file whose write or close fails gets
// its line in the log, and every line the recovery logs waits first for the
// files handed over before it and logs their failures, so the log reads as
// if each file had been written at once. Wait() does the same at the end of
// a batch. At most kMaxPending files (and their buffers) wait at a time;
// a recovery that hands over more waits for the oldest, running the
// window's messages meanwhile.
//
// One write-behind can serve one batch after another (SetLog before each):
// its threads stay and wait for the next batch's files.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PageBuffer.h"
#include "Reporting.h"
#include "TargetFolder.h"

namespace vt {

class TFileStream;

class TWriteBehind {
public:
    // Files that may wait for the writer at once: with the stream's buffer
    // of 64 KiB each, at most 4 MiB of bytes.
    static constexpr std::size_t kMaxPending = 64;
    // Files that gather before a writer is woken: waking it costs the
    // recovery a call into the kernel.
    static constexpr std::size_t kWakeAfter = 8;
    // Threads that make and write files side by side.
    static constexpr std::size_t kWriters = 2;

    // Failures go into Log (none when it is null). Spare: buffers of an
    // earlier write-behind, to be used again (see TakeSpares).
    explicit TWriteBehind(platform::IEventLog* log, std::vector<platform::PageBuffer> spare = {});
    // Waits for every file handed over and logs their failures.
    ~TWriteBehind();
    // The log of the next batch (only between batches: after Wait).
    void SetLog(platform::IEventLog* log) { log_ = log; }
    TWriteBehind(const TWriteBehind&) = delete;
    TWriteBehind& operator=(const TWriteBehind&) = delete;

    // The log the recovery writes its lines into while files are pending:
    // each line comes after the failures of the files handed over before it.
    platform::IEventLog* Log() { return &ordered_; }

    // Hands the stream's file over when none of its bytes has gone to the
    // file yet; the stream is closed then. When the write or the close
    // fails, the file's path below the chosen folder followed by
    // ShortWrite is logged (with Image); when it cannot be named, the path
    // it was to have followed by Refused. False leaves the stream as it
    // was, for its owner to close.
    bool Submit(TFileStream& stream, std::string shortWrite, std::string refused, std::uint8_t image);
    // A buffer for a new stream: one of a finished file, or an empty one.
    platform::PageBuffer SpareBuffer();
    // Waits for every file handed over and logs the failures, in order.
    void Wait();
    // Waits for the files handed over that are to be named in Folder (a
    // TargetFolder's Identity), and for those before them: a name the
    // recovery gives there now comes after theirs.
    void WaitForFolder(const void* folder);
    // After Wait: the buffers of the files written, for the next
    // write-behind, so that a recovery of many folders does not take fresh
    // memory for each.
    std::vector<platform::PageBuffer> TakeSpares();

private:
    struct Job {
        TargetFolder::NewFile file;
        platform::PageBuffer bytes;
        std::size_t length = 0;
        std::string shortWrite, refused;
        std::uint8_t image = 0;
        const void* folder = nullptr;
        bool opened = false;   // the file was made
        bool ok = false;       // and all of its bytes went in
        bool written = false;  // its writer is through with it: it waits for its name
        bool named = false;
        bool done = false;     // named (or not) and closed: to be collected
        bool failed = false;
    };
    class OrderedLog : public platform::IEventLog {
    public:
        explicit OrderedLog(TWriteBehind& owner) : owner_(owner) {}
        void AddRow(const std::string& caption, int imageIndex, const std::string& subItem) override;

    private:
        TWriteBehind& owner_;
    };

    void Run();
    // Names and closes the written files that are next in line, in order,
    // unless another writer does that already. With the lock held.
    void NameWritten(std::unique_lock<std::mutex>& lock);
    // A writer may make another file: each file holds a descriptor from
    // its making to its name, and no more than kWriters of them do at once
    // (a file written ahead waits for the one before it to be named).
    bool Room() const { return taken_ - done_ < kWriters; }
    // Logs the failures of the finished files at the front, in order,
    // waiting until no more than Keep files are pending.
    void Collect(std::size_t keep);

    platform::IEventLog* log_;
    OrderedLog ordered_{*this};
    std::mutex mutex_;
    std::condition_variable work_, finished_;
    std::deque<Job> jobs_;      // handed over and not yet collected, oldest first
    std::size_t taken_ = 0;     // of jobs_, those a writer has taken (the first ones)
    std::size_t done_ = 0;      // of jobs_, those named and closed (the first ones)
    bool naming_ = false;       // a writer names the files that are next in line
    bool stop_ = false;
    bool hurry_ = false;        // the recovery waits for the writers
    std::vector<platform::PageBuffer> spare_;
    std::vector<std::thread> writers_;  // started with the first file
};

// For tests only: run by the writer before each file it writes, on its
// thread (a test holds the writer there).
void SetWriterHookForTests(std::function<void()> hook);

}  // namespace vt
