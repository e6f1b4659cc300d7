// Builds NTFS file records byte by byte for the record, run-list and scan
// tests: a 1024-byte "FILE" record with its update-sequence array, and the
// attribute layouts NTFS writes (resident values at offset 24 + 2 x name
// length, mapping pairs at 64 + 2 x name length).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vt::test {

inline void PutLe(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::vector<std::uint8_t> Utf16(const std::u16string& s) {
    std::vector<std::uint8_t> out;
    for (char16_t c : s) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

// A $FILE_NAME value: the 66-byte head and the name.
inline std::vector<std::uint8_t> FileNameValue(std::uint64_t parentRef, const std::u16string& name,
                                               std::uint32_t attributes = 0x20, std::uint64_t realSize = 0,
                                               int nameLength = -1) {
    std::vector<std::uint8_t> v(66);
    PutLe(v, 0, parentRef, 8);
    for (int i = 0; i < 4; ++i) PutLe(v, 8 + 8 * i, 0x01D0000000000000ull + i, 8);  // placeholder times
    PutLe(v, 0x30, realSize, 8);
    PutLe(v, 0x38, attributes, 4);
    v[0x40] = static_cast<std::uint8_t>(nameLength >= 0 ? nameLength : static_cast<int>(name.size()));
    v[0x41] = 1;  // Win32 namespace
    auto n = Utf16(name);
    v.insert(v.end(), n.begin(), n.end());
    return v;
}

// A $STANDARD_INFORMATION value: four times and the file attributes.
inline std::vector<std::uint8_t> StdInfoValue(std::uint64_t created, std::uint64_t modified, std::uint64_t changed,
                                              std::uint64_t accessed, std::uint32_t attributes = 0x20) {
    std::vector<std::uint8_t> v(72);
    PutLe(v, 0, created, 8);
    PutLe(v, 8, modified, 8);
    PutLe(v, 16, changed, 8);
    PutLe(v, 24, accessed, 8);
    PutLe(v, 32, attributes, 4);
    return v;
}

class RecordBuilder {
public:
    static constexpr std::size_t kUsaOffset = 0x30;
    static constexpr std::size_t kFirstAttribute = 0x38;

    explicit RecordBuilder(std::uint16_t flags = 1, const char* magic = "FILE") : rec_(1024, 0) {
        std::memcpy(rec_.data(), magic, 4);
        PutLe(rec_, 4, kUsaOffset, 2);
        PutLe(rec_, 6, 3, 2);
        PutLe(rec_, 0x14, kFirstAttribute, 2);
        PutLe(rec_, 0x16, flags, 2);
        PutLe(rec_, 0x18, 1024, 4);  // bytes in use, set again by Finish
        PutLe(rec_, 0x1C, 1024, 4);
        off_ = kFirstAttribute;
    }

    // Returns the attribute's offset.
    std::size_t Resident(std::uint32_t type, const std::vector<std::uint8_t>& value, const std::u16string& name = u"",
                         std::uint16_t flags = 0) {
        const std::size_t at = off_;
        const std::size_t nameBytes = 2 * name.size();
        const std::size_t len = Align8(24 + nameBytes + value.size());
        Header(type, len, 0, name, 24, flags);
        PutLe(rec_, at + 0x10, value.size(), 4);
        PutLe(rec_, at + 0x14, 24 + nameBytes, 2);
        Copy(at + 24, Utf16(name));
        Copy(at + 24 + nameBytes, value);
        off_ += len;
        return at;
    }

    std::size_t NonResident(std::uint32_t type, const std::vector<std::uint8_t>& pairs, std::uint64_t allocated,
                            std::uint64_t real, const std::u16string& name = u"", std::uint16_t flags = 0,
                            std::uint64_t startVcn = 0) {
        const std::size_t at = off_;
        const std::size_t nameBytes = 2 * name.size();
        const std::size_t len = Align8(64 + nameBytes + pairs.size());
        Header(type, len, 1, name, 64, flags);
        PutLe(rec_, at + 0x10, startVcn, 8);
        // The last cluster the extent maps: its runs' lengths added up.
        std::uint64_t clusters = 0;
        for (std::size_t p = 0; p < pairs.size() && pairs[p] != 0;) {
            const unsigned l = pairs[p] & 15, o = pairs[p] >> 4;
            std::uint64_t n = 0;
            for (unsigned i = l; i-- > 0;) n = (n << 8) | (p + 1 + i < pairs.size() ? pairs[p + 1 + i] : 0);
            clusters += n;
            p += 1 + l + o;
        }
        PutLe(rec_, at + 0x18, startVcn + clusters - (clusters ? 1 : 0), 8);
        PutLe(rec_, at + 0x20, 64 + nameBytes, 2);
        PutLe(rec_, at + 0x28, allocated, 8);
        PutLe(rec_, at + 0x30, real, 8);
        PutLe(rec_, at + 0x38, real, 8);
        Copy(at + 64, Utf16(name));
        Copy(at + 64 + nameBytes, pairs);
        off_ += len;
        return at;
    }

    // Raw bytes as an attribute (for malformed cases).
    std::size_t Raw(const std::vector<std::uint8_t>& bytes) {
        const std::size_t at = off_;
        Copy(at, bytes);
        off_ += bytes.size();
        return at;
    }

    std::size_t Offset() const { return off_; }
    std::vector<std::uint8_t>& Bytes() { return rec_; }

    // The end marker, then the update sequence: the real last words of both
    // sectors go into the array and the sequence number over them, as a
    // record lies on the disk.
    std::vector<std::uint8_t> Finish(bool endMarker = true) {
        if (endMarker && off_ + 8 <= 1024) {
            PutLe(rec_, off_, 0xFFFFFFFFu, 4);
            PutLe(rec_, 0x18, off_ + 8, 4);
        }
        std::vector<std::uint8_t> out = rec_;
        out[kUsaOffset] = 0x07;
        out[kUsaOffset + 1] = 0x00;
        out[kUsaOffset + 2] = out[510];
        out[kUsaOffset + 3] = out[511];
        out[kUsaOffset + 4] = out[1022];
        out[kUsaOffset + 5] = out[1023];
        out[510] = out[1022] = 0x07;
        out[511] = out[1023] = 0x00;
        return out;
    }

private:
    static std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }
    void Header(std::uint32_t type, std::size_t len, std::uint8_t nonResident, const std::u16string& name,
                std::size_t nameOffset, std::uint16_t flags) {
        PutLe(rec_, off_, type, 4);
        PutLe(rec_, off_ + 4, len, 4);
        rec_.at(off_ + 8) = nonResident;
        rec_.at(off_ + 9) = static_cast<std::uint8_t>(name.size());
        PutLe(rec_, off_ + 0x0A, nameOffset, 2);
        PutLe(rec_, off_ + 0x0C, flags, 2);
        PutLe(rec_, off_ + 0x0E, id_++, 2);
    }
    void Copy(std::size_t at, const std::vector<std::uint8_t>& bytes) {
        for (std::size_t i = 0; i < bytes.size() && at + i < rec_.size(); ++i) rec_[at + i] = bytes[i];
    }

    std::vector<std::uint8_t> rec_;
    std::size_t off_ = 0;
    std::uint16_t id_ = 0;
};

}  // namespace vt::test
