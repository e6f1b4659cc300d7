// The target file of a recovery: written in order from its start through
// the ordinary file system, with the size set at the end. A write that
// falls short (a full target drive) is remembered, so that the recovery can
// log it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vt {

class TFileStream {
public:
    // Creates (or truncates) the file; Valid() tells whether that worked.
    explicit TFileStream(const std::string& path);
    ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    bool Valid() const { return fd_ >= 0; }
    // Bytes written (fewer than asked when the target is full).
    std::size_t Write(const void* data, std::size_t length);
    // Writes length zero bytes; false on a short write.
    bool WriteZeros(std::uint64_t length);
    std::int64_t Size() const { return size_; }
    bool SetSize(std::int64_t size);
    bool ShortWrite() const { return shortWrite_; }
    void Close();

private:
    int fd_ = -1;
    std::int64_t size_ = 0;  // the stream's size = its position (written in order)
    bool shortWrite_ = false;
};

}  // namespace vt
