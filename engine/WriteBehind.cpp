#include "WriteBehind.h"

#include <unistd.h>

#include <array>
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
    work_.notify_all();
    // The writers take every file that is left before they end.
    for (std::thread& w : writers_) w.join();
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
    // kMaxPending wait, the oldest one must be done first.
    Collect(kMaxPending - 1);
    std::unique_lock lock(mutex_);
    if (writers_.empty()) {
        try {
            while (writers_.size() < kWriters) writers_.emplace_back([this] { Run(); });
        } catch (const std::system_error&) {
            // Without a thread the file is written as any other.
            if (writers_.empty()) return false;
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
    // A writer is woken for a few files at a time, not for each; while
    // they gather faster than it writes them, the next writer too.
    const bool wake = (jobs_.size() - taken_) % kWakeAfter == 0;
    lock.unlock();
    if (wake) work_.notify_one();
    return true;
}

void TWriteBehind::Wait() { Collect(0); }

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
                work_.notify_all();
                lock.lock();
                if (!finished_.wait_for(lock, kPumpEvery, [&] { return jobs_.front().done; })) {
                    lock.unlock();
                    platform::ProcessMessagesAfterWait();
                    continue;
                }
            }
            while (!jobs_.empty() && jobs_.front().done) {
                Job& job = jobs_.front();
                if (job.failed)
                    failures.emplace_back(job.file.Below() + (job.named ? job.shortWrite : job.refused), job.image);
                spare_.push_back(std::move(job.bytes));
                jobs_.pop_front();
                --taken_;
                --done_;
            }
            more = jobs_.size() > keep;
        }
        for (const auto& [line, image] : failures) AddLogEvent(log_, line, image);
        if (!more) return;
    }
}

void TWriteBehind::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] {
            const std::size_t waiting = jobs_.size() - taken_;
            return (stop_ && waiting == 0) || (waiting > 0 && Room() && (stop_ || hurry_ || waiting >= kWakeAfter));
        });
        // The next file that waits, one at a time: the other writer takes
        // the one after it meanwhile. A job stays where it is while others
        // are added at the back of the deque; the front ones are removed
        // only once they are done.
        while (taken_ < jobs_.size() && Room()) {
            Job& job = jobs_[taken_++];
            lock.unlock();
            RunWriterHook();
            job.opened = job.file.Open() == 0;
            job.ok = job.opened && WriteAll(job.file.Descriptor(), job.bytes.data(), job.length);
            lock.lock();
            job.written = true;
            NameWritten(lock);
        }
        if (taken_ == jobs_.size()) {
            hurry_ = false;
            // The other writer names what it still has in hand.
            if (stop_) return;
        }
    }
}

void TWriteBehind::NameWritten(std::unique_lock<std::mutex>& lock) {
    // Whoever names goes on with the files the other writer finishes
    // meanwhile: it looks at them with the lock held, as that writer marks
    // them written with it held.
    if (naming_) return;
    naming_ = true;
    const std::size_t before = done_;
    while (done_ < jobs_.size() && jobs_[done_].written) {
        Job& job = jobs_[done_];
        lock.unlock();
        if (job.opened) {
            // Named when all of its bytes are in, also after a short write:
            // the log names it as failed.
            job.named = job.file.Name() == 0;
            // Some file systems (network ones) report a failed write only
            // here.
            if (job.file.Close() != 0) job.ok = false;
        }
        job.failed = !job.ok || !job.named;
        lock.lock();
        job.done = true;
        ++done_;
        finished_.notify_one();
    }
    naming_ = false;
    // A writer that waited for room takes the next file.
    if (done_ != before && taken_ < jobs_.size()) work_.notify_one();
}

}  // namespace vt
