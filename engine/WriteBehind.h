// The writes of small recovered files, done by a thread of their own while
// the recovery reads the next files.
//
// A folder of many small files costs the recovery more in the target's file
// system than in reading: creating a file, writing its few clusters, naming
// it and closing it each take a call into the kernel. A file whose bytes all
// fit in the stream's buffer is handed over with them; the writer makes it
// and writes its bytes, and a second thread, the namer, takes the files the
// writer made since it last looked, writes their bytes back to the target's
// disk with one call (syncfs), and only then names them, one at a time, in
// the order they were handed over, and closes them. So a name never stands
// over bytes that a power cut could still take, the write-back of many
// files costs no more than one, and the writer makes the next files while
// the namer names the last ones. Every name the recovery gives meanwhile
// (a larger file's, a folder's) waits for the files before it, so that
// names are taken in the order of the folder as if each file had been
// written at once (the "_N" a taken name gets is the one it always
// gets). A file holds a descriptor from its making to its name; where
// descriptors run out, the writer waits for the namer to close the files
// it holds and tries once more. A larger file is written by the recovering
// thread as before, once the files handed over before it are written.
//
// Nothing that fails goes unnamed: a file whose write, write-back or close
// fails gets its line in the log (and, but for a failed close, no name),
// and every line the recovery logs waits first for the files handed over
// before it and logs their failures, so the log reads as if each file had
// been written at once. Wait() does the same at the end of
// a batch. At most kMaxPending files (and their buffers) wait at a time;
// a recovery that hands over more waits for the oldest half of them,
// running the window's messages meanwhile.
//
// One write-behind can serve one batch after another (SetLog before each):
// its threads stay and wait for the next batch's files.
#pragma once

#include <atomic>
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
    // Files that gather before the writer is woken: waking it costs the
    // recovery a call into the kernel.
    static constexpr std::size_t kWakeAfter = 8;

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
    // file yet; the stream is closed then. When the write, the write-back
    // or the close fails, the file's path below the chosen folder followed
    // by ShortWrite is logged (with Image); when it cannot be made or
    // named, the path it was to have followed by Refused. False leaves the stream as it
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
        bool named = false;
        bool writeFailed = false;  // its bytes did not all go in or were not written back
        bool deferred = false;     // no descriptor was free to make it
        bool done = false;  // named (or not) and closed: to be collected
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
    // The namer's loop.
    void Help();
    // Makes the file and writes its bytes.
    void MakeJob(Job& job);
    // Names and closes a file that MakeJob made, after the write-back
    // whose answer is WriteBack.
    void NameJob(Job& job, int writeBack);
    // Writes the files of Round back with one call, names and closes them
    // in order, and counts them done.
    void NameRound(Job* const* round, std::size_t count);
    // Until the namer has named every file handed to it (and closed their
    // descriptors).
    void WaitNamed();
    // Logs the failures of the finished files at the front, in order,
    // waiting until no more than Keep files are pending.
    void Collect(std::size_t keep);
    // Removes the front job (done), keeping its buffer. With the lock held.
    void Retire();

    platform::IEventLog* log_;
    OrderedLog ordered_{*this};
    std::mutex mutex_;
    std::condition_variable work_, finished_;
    std::deque<Job> jobs_;      // handed over and not yet collected, oldest first
    std::size_t taken_ = 0;     // of jobs_, those the writer has taken (the first ones)
    std::size_t done_ = 0;      // of jobs_, those named and closed (the first ones)
    bool stop_ = false;
    bool hurry_ = false;        // the recovery waits for the writer
    std::size_t wanted_ = 0;    // the recovery waits until so many of jobs_ are done (0: it does not)
    std::vector<platform::PageBuffer> spare_;
    std::thread writer_;        // started with the first file
    std::thread helper_;        // the namer
    std::mutex nameMutex_;
    std::condition_variable nameWork_, nameIdle_;
    std::deque<Job*> toName_;   // made by the writer, to be written back and named, oldest first
    std::size_t naming_ = 0;    // taken by the namer and not yet named
    bool nameStop_ = false;
    unsigned generation_ = 0;   // of the process that started it (copies made by fork counted)
};

// For tests only: run by the writer before each file it writes, on its
// thread (a test holds the writer there).
void SetWriterHookForTests(std::function<void()> hook);

}  // namespace vt
