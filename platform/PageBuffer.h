// A zero-filled byte buffer that starts on a memory page. Device reads go
// into these: the kernel copies from its page cache into page-aligned memory
// about twice as fast as into memory that only has the allocator's 16-byte
// alignment, and a raw scan spends most of its time in that copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <utility>

namespace platform {

class PageBuffer {
public:
    static constexpr std::size_t kPage = 4096;

    PageBuffer() = default;
    explicit PageBuffer(std::size_t size) { assign(size); }
    ~PageBuffer() { std::free(data_); }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    PageBuffer(PageBuffer&& other) noexcept
        : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }

    // size bytes, all zero; the memory is kept when it is large enough.
    void assign(std::size_t size) {
        reserve(size);
        size_ = size;
        if (size) std::memset(data_, 0, size);
    }
    // size bytes, not cleared: for buffers that a read fills before use.
    void resize(std::size_t size) {
        reserve(size);
        size_ = size;
    }

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t* begin() { return data_; }
    std::uint8_t* end() { return data_ + size_; }
    const std::uint8_t* begin() const { return data_; }
    const std::uint8_t* end() const { return data_ + size_; }
    std::uint8_t& operator[](std::size_t i) { return data_[i]; }
    std::uint8_t operator[](std::size_t i) const { return data_[i]; }
    operator std::span<std::uint8_t>() { return {data_, size_}; }
    operator std::span<const std::uint8_t>() const { return {data_, size_}; }

private:
    void reserve(std::size_t size) {
        if (size <= capacity_) return;
        const std::size_t bytes = (size + kPage - 1) / kPage * kPage;
        void* p = std::aligned_alloc(kPage, bytes);
        if (!p) throw std::bad_alloc();
        if (size_) std::memcpy(p, data_, size_);
        std::free(data_);
        data_ = static_cast<std::uint8_t*>(p);
        capacity_ = bytes;
    }

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace platform
