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
    // The helper ends after the writer, which may share its last batches.
    const bool ours = generation_ == ForkGeneration();
    auto end = [ours](std::thread& t) {
        if (!t.joinable()) return;
        if (ours) t.join();
        else t.detach();
    };
    end(writer_);
    {
        std::lock_guard lock(shareMutex_);
        shareStop_ = true;
    }
    shareWork_.notify_one();
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

std::size_t TWriteBehind::WriteRound(Job* const* round, std::size_t count) {
    turn_.store(0, std::memory_order_relaxed);
    // A round of a few files is shared with the helper: each makes and
    // writes every other file.
    const bool shared = count >= kShareFrom && helper_.joinable();
    if (shared) {
        {
            std::lock_guard share(shareMutex_);
            shareBatch_ = round;
            shareCount_ = count;
            ++shareRound_;
        }
        shareWork_.notify_one();
    }
    for (std::size_t i = 0; i < count; i += shared ? 2 : 1) MakeJob(*round[i]);
    if (shared) WaitTurn(1);
    // The round ends before its first file that found no descriptor; those
    // after it are made again later, so that names still come in order.
    std::size_t end = 0;
    while (end < count && !round[end]->deferred) ++end;
    for (std::size_t i = end; i < count; ++i) round[i]->file.Close();
    if (end == 0) {
        if (count > 1) {
            // The other files of the round held the descriptors: this one
            // alone next.
            roundLimit_ = 1;
            return 0;
        }
        // Alone, it still finds none: it cannot be made.
        end = 1;
    }
    roundLimit_ = end < count ? end : std::min(kMaxPending, roundLimit_ * 2);
    // The bytes go to the target's disk before any of the names: one
    // write-back of the file system for the round.
    int writeBack = 0;
    std::size_t made = 0;
    Job* any = nullptr;
    for (std::size_t i = 0; i < end; ++i)
        if (round[i]->file.Valid() && !round[i]->writeFailed) {
            ++made;
            any = round[i];
        }
    if (made == 1) writeBack = any->file.SyncData();
    else if (made > 1) writeBack = any->file.SyncSystem();
    for (std::size_t i = 0; i < end; ++i) NameJob(*round[i], writeBack);
    return end;
}

void TWriteBehind::WaitTurn(std::size_t turn) {
    // The other thread is usually through with its file in a few
    // microseconds: a short spin spares both a call into the kernel.
    for (int spin = 0; spin < kTurnSpins; ++spin) {
        if (turn_.load(std::memory_order_acquire) == turn) return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    std::unique_lock lock(turnMutex_);
    turnSleepers_.fetch_add(1);
    turnChanged_.wait(lock, [&] { return turn_.load() == turn; });
    turnSleepers_.fetch_sub(1);
}

void TWriteBehind::PassTurn(std::size_t turn) {
    turn_.store(turn);
    if (turnSleepers_.load() == 0) return;
    // Taken, so that a sleeper that has just found the old turn is asleep
    // before it is woken.
    { std::lock_guard lock(turnMutex_); }
    turnChanged_.notify_all();
}

void TWriteBehind::Help() {
    std::uint64_t seen = 0;
    for (;;) {
        Job* const* batch = nullptr;
        std::size_t n = 0;
        {
            std::unique_lock lock(shareMutex_);
            shareWork_.wait(lock, [&] { return shareStop_ || shareRound_ != seen; });
            if (shareRound_ == seen) return;
            seen = shareRound_;
            batch = shareBatch_;
            n = shareCount_;
        }
        for (std::size_t i = 1; i < n; i += 2) MakeJob(*batch[i]);
        PassTurn(1);
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
            while (taken_ < jobs_.size()) batch[n++] = &jobs_[taken_++];
            lock.unlock();
            for (std::size_t start = 0; start < n;)
                start += WriteRound(batch.data() + start, std::min(n - start, roundLimit_));
            lock.lock();
            for (std::size_t i = 0; i < n; ++i) batch[i]->done = true;
            done_ += n;
            // The recovery is woken once enough files are done, not for each.
            if (wanted_ != 0 && done_ >= wanted_) finished_.notify_one();
        }
        hurry_ = false;
        if (stop_) return;
    }
}

}  // namespace vt
