#include "WriteBehind.h"

#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <utility>

#include "DiskParam.h"
#include "FileStream.h"

namespace vt {

namespace {

// How long a wait for the writer goes before the window's messages run:
// a target that takes its time (a slow stick) must not freeze the window.
constexpr auto kPumpEvery = std::chrono::milliseconds(5);

// Counts the copies of the process made by fork since the first question:
// a copy has none of the threads of the process it was made from.
std::atomic<unsigned> g_forks{0};
unsigned ForkGeneration() {
    static const bool hooked =
        (::pthread_atfork(nullptr, nullptr, [] { g_forks.fetch_add(1, std::memory_order_relaxed); }), true);
    (void)hooked;
    return g_forks.load(std::memory_order_relaxed);
}

std::function<void()>& WriterHook() {
    static std::function<void()> hook;
    return hook;
}
void RunWriterHook() {
    if (WriterHook()) WriterHook()();
}

// Length bytes at the file's start; false when they did not all go in.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t r = ::pwrite(fd, data + done, length - done, static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

void SetWriterHookForTests(std::function<void()> hook) { WriterHook() = std::move(hook); }

void TWriteBehind::OrderedLog::AddRow(const std::string& caption, int imageIndex, const std::string& subItem) {
    owner_.Wait();
    if (owner_.log_) owner_.log_->AddRow(caption, imageIndex, subItem);
}

TWriteBehind::TWriteBehind(platform::IEventLog* log, std::vector<platform::PageBuffer> spare)
    : log_(log), spare_(std::move(spare)) {}

std::vector<platform::PageBuffer> TWriteBehind::TakeSpares() {
    std::lock_guard lock(mutex_);
    return std::move(spare_);
}

TWriteBehind::~TWriteBehind() {
    try {
        Wait();
    } catch (...) {
        // A log that throws loses the lines; the writer still ends below.
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_one();
    // The writer takes every file that is left before it ends. In a copy of
    // the process made by fork it does not run: there is none to wait for.
    // The namer ends after the writer, which hands it its last files.
    const bool ours = generation_ == ForkGeneration();
    auto end = [ours](std::thread& t) {
        if (!t.joinable()) return;
        if (ours) t.join();
        else t.detach();
    };
    end(writer_);
    {
        std::lock_guard lock(nameMutex_);
        nameStop_ = true;
    }
    nameWork_.notify_one();
    end(helper_);
}

platform::PageBuffer TWriteBehind::SpareBuffer() {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return {};
    platform::PageBuffer b(std::move(spare_.back()));
    spare_.pop_back();
    return b;
}

bool TWriteBehind::Submit(TFileStream& stream, std::string shortWrite, std::string refused, std::uint8_t image) {
    // Only a file none of whose bytes went out yet: the writer puts them at
    // its start, in one piece.
    if (!stream.lazy_ || stream.written_ != 0 || stream.shortWrite_) return false;
    // The files that are done first: their failures are logged now; when
    // kMaxPending wait, the oldest ones must be done first: down to half of
    // them, so that the recovery reads on for a while before it waits
    // again, rather than for every file.
    std::unique_lock lock(mutex_);
    // Those written whole go without a word (and with one call for the lock).
    while (!jobs_.empty() && jobs_.front().done && !jobs_.front().failed) Retire();
    if (jobs_.size() >= kMaxPending || (!jobs_.empty() && jobs_.front().done)) {
        const bool full = jobs_.size() >= kMaxPending;
        lock.unlock();
        Collect(full ? kMaxPending / 2 : kMaxPending - 1);
        lock.lock();
    }
    // A copy of the process made by fork has none of the writers: its
    // files are written as any other.
    if (writer_.joinable() && generation_ != ForkGeneration()) return false;
    if (!writer_.joinable()) {
        generation_ = ForkGeneration();
        try {
            writer_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            // Without a thread the file is written as any other.
            return false;
        }
        try {
            helper_ = std::thread([this] { Help(); });
        } catch (const std::system_error&) {
            // The writer does the whole batch alone.
        }
    }
    Job& job = jobs_.emplace_back();
    job.file = std::move(stream.file_);
    job.folder = job.file.Folder();
    stream.lazy_ = false;
    job.length = std::exchange(stream.buffered_, 0);
    job.bytes = std::move(stream.buffer_);
    job.shortWrite = std::move(shortWrite);
    job.refused = std::move(refused);
    job.image = image;
    stream.behind_ = nullptr;
    // The writer is woken for a few files at a time, not for each.
    const bool wake = jobs_.size() - taken_ == kWakeAfter;
    lock.unlock();
    if (wake) work_.notify_one();
    return true;
}

void TWriteBehind::Wait() { Collect(0); }

void TWriteBehind::Retire() {
    spare_.push_back(std::move(jobs_.front().bytes));
    jobs_.pop_front();
    --taken_;
    --done_;
}

void TWriteBehind::WaitForFolder(const void* folder) {
    std::size_t keep = 0;
    {
        std::lock_guard lock(mutex_);
        std::size_t last = jobs_.size();
        for (std::size_t i = jobs_.size(); i-- > 0;) {
            if (jobs_[i].folder == folder && !jobs_[i].done) {
                last = i;
                break;
            }
        }
        if (last == jobs_.size()) return;
        keep = jobs_.size() - last - 1;
    }
    Collect(keep);
}

void TWriteBehind::Collect(std::size_t keep) {
    for (;;) {
        std::vector<std::pair<std::string, std::uint8_t>> failures;
        bool more = false;
        {
            std::unique_lock lock(mutex_);
            if (jobs_.size() > keep && !jobs_.front().done) {
                hurry_ = true;
                lock.unlock();
                work_.notify_one();
                lock.lock();
                // Woken once enough of them are done, not for each.
                wanted_ = jobs_.size() - keep;
                const bool done = finished_.wait_for(lock, kPumpEvery, [&] { return done_ >= wanted_; });
                wanted_ = 0;
                if (!done) {
                    lock.unlock();
                    platform::ProcessMessagesAfterWait();
                    continue;
                }
            }
            while (!jobs_.empty() && jobs_.front().done) {
                Job& job = jobs_.front();
                if (job.failed)
                    failures.emplace_back(job.file.Below() + (job.writeFailed ? job.shortWrite : job.refused),
                                          job.image);
                Retire();
            }
            more = jobs_.size() > keep;
        }
        for (const auto& [line, image] : failures) AddLogEvent(log_, line, image);
        if (!more) return;
    }
}

void TWriteBehind::MakeJob(Job& job) {
    RunWriterHook();
    const int error = job.file.Open();
    // Out of descriptors: the files of the round that hold one are named
    // first, and this one is made again in the next round.
    job.deferred = error == EMFILE || error == ENFILE;
    if (error != 0) return;
    job.writeFailed = !WriteAll(job.file.Descriptor(), job.bytes.data(), job.length);
}

void TWriteBehind::NameJob(Job& job, int writeBack) {
    job.deferred = false;
    if (!job.file.Valid()) {
        // It could not be made: the target's refusal.
        job.failed = true;
        return;
    }
    if (job.writeFailed || writeBack != 0) {
        // Bytes that did not all go in, or that the target could not write
        // back: no name, and the write line.
        job.writeFailed = true;
        job.file.Close();
        job.failed = true;
        return;
    }
    job.named = job.file.Name() == 0;
    // Some file systems (network ones) report a failed write only here.
    const bool closed = job.file.Close() == 0;
    if (job.named && !closed) job.writeFailed = true;
    job.failed = !job.named || !closed;
}

void TWriteBehind::NameRound(Job* const* round, std::size_t count) {
    // The bytes go to the target's disk before any of the names: one
    // write-back of the file system for all the files made since the last.
    int writeBack = 0;
    std::size_t made = 0;
    Job* any = nullptr;
    for (std::size_t i = 0; i < count; ++i)
        if (round[i]->file.Valid() && !round[i]->writeFailed) {
            ++made;
            any = round[i];
        }
    if (made == 1) writeBack = any->file.SyncData();
    else if (made > 1) writeBack = any->file.SyncSystem();
    for (std::size_t i = 0; i < count; ++i) NameJob(*round[i], writeBack);
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) round[i]->done = true;
    done_ += count;
    // The recovery is woken once enough files are done, not for each.
    if (wanted_ != 0 && done_ >= wanted_) finished_.notify_one();
}

void TWriteBehind::WaitNamed() {
    std::unique_lock lock(nameMutex_);
    nameIdle_.wait(lock, [&] { return toName_.empty() && naming_ == 0; });
}

void TWriteBehind::Help() {
    std::vector<Job*> round;
    for (;;) {
        {
            std::unique_lock lock(nameMutex_);
            nameWork_.wait(lock, [&] { return nameStop_ || !toName_.empty(); });
            if (toName_.empty()) return;
            round.assign(toName_.begin(), toName_.end());
            toName_.clear();
            naming_ = round.size();
        }
        NameRound(round.data(), round.size());
        {
            std::lock_guard lock(nameMutex_);
            naming_ = 0;
        }
        nameIdle_.notify_all();
    }
}

void TWriteBehind::Run() {
    std::array<Job*, kMaxPending> batch{};
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return stop_ || hurry_ || jobs_.size() - taken_ >= kWakeAfter; });
        while (taken_ < jobs_.size()) {
            // What waits now is taken at once. The jobs stay where they
            // are while others are added at the back of the deque; the
            // front ones are removed only once they are done.
            std::size_t n = 0;
            while (taken_ < jobs_.size() && n < batch.size()) batch[n++] = &jobs_[taken_++];
            lock.unlock();
            // The files made from Handed on go to the namer up to End.
            std::size_t handed = 0;
            auto handOn = [&](std::size_t end) {
                if (end == handed) return;
                if (helper_.joinable()) {
                    {
                        std::lock_guard names(nameMutex_);
                        toName_.insert(toName_.end(), batch.begin() + static_cast<std::ptrdiff_t>(handed),
                                       batch.begin() + static_cast<std::ptrdiff_t>(end));
                    }
                    nameWork_.notify_one();
                } else {
                    NameRound(batch.data() + handed, end - handed);
                }
                handed = end;
            };
            for (std::size_t i = 0; i < n; ++i) {
                MakeJob(*batch[i]);
                if (batch[i]->deferred) {
                    // Out of descriptors: the files made before it hold
                    // them until they are named.
                    handOn(i);
                    WaitNamed();
                    MakeJob(*batch[i]);
                }
            }
            handOn(n);
            lock.lock();
        }
        hurry_ = false;
        if (stop_) return;
    }
}

}  // namespace vt
