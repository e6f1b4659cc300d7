#include "FileStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <vector>

namespace vt {

TFileStream::TFileStream(const std::string& path) {
    // A file-size limit must make a write fall short, not end the program.
    static const bool ignored = (std::signal(SIGXFSZ, SIG_IGN), true);
    (void)ignored;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

TFileStream::~TFileStream() { Close(); }

void TFileStream::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::size_t TFileStream::Write(const void* data, std::size_t length) {
    if (fd_ < 0) {
        shortWrite_ = shortWrite_ || length > 0;
        return 0;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(fd_, p + done, length - done, static_cast<off_t>(size_ + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    size_ += static_cast<std::int64_t>(done);
    if (done < length) shortWrite_ = true;
    return done;
}

bool TFileStream::WriteZeros(std::uint64_t length) {
    static const std::vector<std::uint8_t> zeros(1 << 16, 0);
    while (length > 0) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, zeros.size()));
        if (Write(zeros.data(), n) != n) return false;
        length -= n;
    }
    return true;
}

bool TFileStream::SetSize(std::int64_t size) {
    if (fd_ < 0 || size < 0) return false;
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        shortWrite_ = true;
        return false;
    }
    size_ = size;
    return true;
}

}  // namespace vt
