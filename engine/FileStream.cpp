#include "FileStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include "WriteBehind.h"

namespace vt {

namespace {
// Large enough that most recovered files take one write, small enough to
// come from the heap without a mapping of its own.
constexpr std::size_t kBufferBytes = 64 * 1024;
}  // namespace

TFileStream::TFileStream(int fd) : fd_(fd) {
    // A file-size limit must make a write fall short, not end the program.
    static const bool ignored = (std::signal(SIGXFSZ, SIG_IGN), true);
    (void)ignored;
}

TFileStream::TFileStream(const TargetFolder& folder, const std::string& name) : TFileStream(folder, name, nullptr) {}

TFileStream::TFileStream(const TargetFolder& folder, const std::string& name, TWriteBehind* behind)
    : TFileStream(-1) {
    if (!behind) {
        file_ = folder.CreateFile(name);
        fd_ = file_.Descriptor();
        createError_ = file_.Error();
        return;
    }
    file_ = folder.Prepare(name);
    lazy_ = folder.Valid();
    createError_ = file_.Error();
    behind_ = behind;
    buffer_ = behind->SpareBuffer();
}

TFileStream::~TFileStream() {
    if (lazy_ || file_.Valid()) Discard();
    else Close();
}

bool TFileStream::EnsureOpen() {
    if (fd_ >= 0) return true;
    if (!lazy_) return false;
    lazy_ = false;
    if (const int error = file_.Open(); error != 0) {
        createError_ = error;
        nameFailed_ = true;
        return false;
    }
    fd_ = file_.Descriptor();
    return true;
}

bool TFileStream::Close() {
    if (!Valid()) return !nameFailed_;
    bool ok = Flush();
    // Names are given in the order of the recovery: the files handed over
    // before this one get theirs first.
    WaitBehind();
    if (!EnsureOpen()) return false;
    int closeError = 0;
    if (file_.Valid()) {
        // A file that did not get all of its bytes, or whose bytes the
        // target could not write back, gets no name: its owner names it as
        // failed. The name comes only once the bytes are on the disk, so
        // that a power cut leaves no name over a file that is not whole.
        if (!ok || shortWrite_ || file_.SyncData() != 0) {
            Discard();
            shortWrite_ = true;
            return false;
        }
        if (file_.Name() != 0) {
            nameFailed_ = true;
            createError_ = file_.Error();
            ok = false;
        }
        closeError = file_.Close();
    } else if (::close(fd_) != 0) {
        closeError = errno;
    }
    fd_ = -1;
    // Some file systems (network ones) report a failed write only here.
    if (closeError != 0) {
        ok = false;
        shortWrite_ = true;
    }
    return ok;
}

void TFileStream::Discard() {
    buffered_ = 0;
    behind_ = nullptr;
    lazy_ = false;
    if (file_.Valid()) file_.Close();
    else if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TFileStream::WaitBehind() {
    if (!behind_) return;
    TWriteBehind* behind = std::exchange(behind_, nullptr);
    behind->Wait();
}

std::size_t TFileStream::WriteOut(const std::uint8_t* data, std::size_t n) {
    WaitBehind();
    if (!EnsureOpen()) return 0;
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::pwrite(fd_, data + done, n - done, static_cast<off_t>(written_ + static_cast<std::int64_t>(done)));
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    written_ += static_cast<std::int64_t>(done);
    return done;
}

bool TFileStream::Flush() {
    if (!Valid() || buffered_ == 0) return true;
    const std::size_t n = buffered_;
    buffered_ = 0;
    if (WriteOut(buffer_.data(), n) == n) return true;
    // What did not reach the file is not part of the stream.
    size_ = written_;
    shortWrite_ = true;
    return false;
}

std::size_t TFileStream::Write(const void* data, std::size_t length) {
    if (!Valid()) {
        shortWrite_ = shortWrite_ || length > 0;
        return 0;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::int64_t start = size_;
    // The bytes of this call that reached the file before a short write.
    auto fellShort = [&] {
        shortWrite_ = true;
        return written_ > start ? std::min(length, static_cast<std::size_t>(written_ - start)) : std::size_t{0};
    };
    std::size_t done = 0;
    while (done < length) {
        if (buffered_ == 0 && length - done >= kBufferBytes) {
            // A large piece goes to the file as it is.
            const std::size_t n = WriteOut(p + done, length - done);
            size_ = written_;
            if (n < length - done) return fellShort();
            done += n;
            continue;
        }
        if (buffer_.empty()) buffer_.resize(kBufferBytes);
        const std::size_t take = std::min(kBufferBytes - buffered_, length - done);
        std::memcpy(buffer_.data() + buffered_, p + done, take);
        buffered_ += take;
        size_ += static_cast<std::int64_t>(take);
        done += take;
        if (buffered_ == kBufferBytes && !Flush()) return fellShort();
    }
    return done;
}

bool TFileStream::WriteZeros(std::uint64_t length) {
    static const platform::PageBuffer zeros(kBufferBytes);
    while (length > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, zeros.size()));
        if (Write(zeros.data(), n) != n) return false;
        length -= n;
    }
    return true;
}

bool TFileStream::SetSize(std::int64_t size) {
    if (!Valid() || size < 0) return false;
    if (!Flush()) return false;
    WaitBehind();
    if (!EnsureOpen()) return false;
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        shortWrite_ = true;
        return false;
    }
    size_ = written_ = size;
    return true;
}

}  // namespace vt
