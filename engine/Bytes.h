// Byte-level helpers for on-disk structures.
//
// On-disk structures are declared with byte-typed little-endian fields
// (le16/le32/le64 hold bytes and have get()), so that a structure can be
// copied out of a buffer without casting native integers over it. Every
// parse of bytes from a disk goes through ByteReader, whose reads are
// bounds-checked against the span it was given.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

#include "Text.h"

namespace vt {

template <unsigned N, typename T>
struct le {
    std::array<std::uint8_t, N> b{};
    constexpr T get() const {
        T v = 0;
        for (unsigned i = N; i-- > 0;) v = static_cast<T>((v << 8) | b[i]);
        return v;
    }
    constexpr void set(T v) {
        for (unsigned i = 0; i < N; ++i) {
            b[i] = static_cast<std::uint8_t>(v & 0xFF);
            if constexpr (N > 1) v = static_cast<T>(v >> 8);
        }
    }
};
using le16 = le<2, std::uint16_t>;
using le32 = le<4, std::uint32_t>;
using le64 = le<8, std::uint64_t>;
static_assert(sizeof(le16) == 2 && sizeof(le32) == 4 && sizeof(le64) == 8);
static_assert(std::is_trivially_copyable_v<le32>);

// Little-endian loads from a buffer known to be long enough.
inline std::uint16_t LoadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t LoadLe64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadLe32(p)) | (static_cast<std::uint64_t>(LoadLe32(p + 4)) << 32);
}

// Bounds-checked reads over a span. A read that does not fit returns
// nothing (or the default); the checks are written so that they cannot
// overflow: n > size - off, never off + n > size.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    ByteReader(const void* data, std::size_t size)
        : bytes_(static_cast<const std::uint8_t*>(data), size) {}

    std::size_t Size() const { return bytes_.size(); }
    std::span<const std::uint8_t> Bytes() const { return bytes_; }
    bool Has(std::size_t off, std::size_t n) const {
        return off <= bytes_.size() && n <= bytes_.size() - off;
    }
    std::optional<std::uint8_t> U8(std::size_t off) const {
        if (!Has(off, 1)) return std::nullopt;
        return bytes_[off];
    }
    std::optional<std::uint16_t> U16(std::size_t off) const {
        if (!Has(off, 2)) return std::nullopt;
        return LoadLe16(bytes_.data() + off);
    }
    std::optional<std::uint32_t> U32(std::size_t off) const {
        if (!Has(off, 4)) return std::nullopt;
        return LoadLe32(bytes_.data() + off);
    }
    std::optional<std::uint64_t> U64(std::size_t off) const {
        if (!Has(off, 8)) return std::nullopt;
        return LoadLe64(bytes_.data() + off);
    }
    // Value-or-default forms for fields whose absence has an obvious reading.
    std::uint8_t U8Or(std::size_t off, std::uint8_t def = 0) const { return U8(off).value_or(def); }
    std::uint16_t U16Or(std::size_t off, std::uint16_t def = 0) const { return U16(off).value_or(def); }
    std::uint32_t U32Or(std::size_t off, std::uint32_t def = 0) const { return U32(off).value_or(def); }
    std::uint64_t U64Or(std::size_t off, std::uint64_t def = 0) const { return U64(off).value_or(def); }

    // A sub-span, empty when it does not fit.
    std::optional<std::span<const std::uint8_t>> Sub(std::size_t off, std::size_t n) const {
        if (!Has(off, n)) return std::nullopt;
        return bytes_.subspan(off, n);
    }
    // As much of [off, off + n) as lies inside.
    std::span<const std::uint8_t> SubClamped(std::size_t off, std::size_t n) const {
        if (off >= bytes_.size()) return {};
        return bytes_.subspan(off, std::min(n, bytes_.size() - off));
    }
    // Copies a trivially copyable structure of byte-typed fields.
    template <typename T>
    std::optional<T> Struct(std::size_t off) const {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!Has(off, sizeof(T))) return std::nullopt;
        T value;
        std::memcpy(&value, bytes_.data() + off, sizeof(T));
        return value;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// Checked geometry arithmetic: nullopt on overflow.
template <typename T>
std::optional<T> CheckedMul(T a, T b) {
    T r;
    if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
    return r;
}
template <typename T>
std::optional<T> CheckedAdd(T a, T b) {
    T r;
    if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
    return r;
}
template <typename T>
std::optional<T> CheckedSub(T a, T b) {
    T r;
    if (__builtin_sub_overflow(a, b, &r)) return std::nullopt;
    return r;
}

constexpr std::uint32_t kSectorSize = 512;

// Appends one code point as UTF-8 (the program's ANSI code page).
using platform::AppendUtf8;

}  // namespace vt
