// Small NTFS volumes written byte by byte into a (sparse) image file, for
// the scan cases that real tools do not produce on demand: tables of a
// given size or shape, records at chosen numbers, tables beyond 2^32
// sectors. Only what the scan reads is there: the boot sector, record 0 of
// the master file table with its $DATA runs, and the records placed.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "NtfsTestRecords.h"

namespace vt::test {

struct Run {
    std::int64_t lcn;
    std::int64_t length;
};

// Mapping pairs for absolute runs (lcn 0: sparse), with the smallest fields.
inline std::vector<std::uint8_t> EncodeRuns(const std::vector<Run>& runs) {
    std::vector<std::uint8_t> out;
    std::int64_t previous = 0;
    auto bytesFor = [](std::int64_t v, bool isSigned) {
        unsigned n = 1;
        while (n < 8) {
            const std::int64_t lo = isSigned ? -(std::int64_t{1} << (8 * n - 1)) : 0;
            const std::int64_t hi = isSigned ? (std::int64_t{1} << (8 * n - 1)) - 1 : (std::int64_t{1} << (8 * n)) - 1;
            if (v >= lo && v <= hi) break;
            ++n;
        }
        return n;
    };
    for (const Run& r : runs) {
        const unsigned l = bytesFor(r.length, false);
        const std::int64_t delta = r.lcn - previous;
        const unsigned o = r.lcn == 0 ? 0 : bytesFor(delta, true);
        out.push_back(static_cast<std::uint8_t>(l | (o << 4)));
        for (unsigned i = 0; i < l; ++i) out.push_back(static_cast<std::uint8_t>(r.length >> (8 * i)));
        for (unsigned i = 0; i < o; ++i) out.push_back(static_cast<std::uint8_t>(delta >> (8 * i)));
        if (r.lcn != 0) previous = r.lcn;
    }
    out.push_back(0);
    return out;
}

class NtfsTestVolume {
public:
    // sectorsPerCluster, the table's first cluster and the volume's sectors.
    NtfsTestVolume(std::string path, std::uint8_t sectorsPerCluster, std::int64_t mftCluster, std::int64_t sectors)
        : path_(std::move(path)), spc_(sectorsPerCluster), mftCluster_(mftCluster) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd_ < 0) throw std::runtime_error("cannot create " + path_);
        if (::ftruncate(fd_, sectors * 512) != 0) throw std::runtime_error("cannot size " + path_);
        std::vector<std::uint8_t> boot(512, 0);
        const char oem[] = "NTFS    ";
        for (int i = 0; i < 8; ++i) boot[3 + i] = static_cast<std::uint8_t>(oem[i]);
        PutLe(boot, 0x0B, 512, 2);
        boot[0x0D] = spc_;
        PutLe(boot, 0x28, sectors - 1, 8);
        PutLe(boot, 0x30, mftCluster_, 8);
        PutLe(boot, 0x40, 0xF6, 4);
        boot[510] = 0x55;
        boot[511] = 0xAA;
        Write(0, boot);
    }
    ~NtfsTestVolume() {
        if (fd_ >= 0) ::close(fd_);
    }
    NtfsTestVolume(const NtfsTestVolume&) = delete;
    NtfsTestVolume& operator=(const NtfsTestVolume&) = delete;

    // Record 0 at the table's first cluster, its $DATA with these runs.
    void TableRuns(const std::vector<Run>& runs) {
        RecordBuilder rb;
        rb.Resident(0x10, StdInfoValue(0, 0, 0, 0, 6));
        rb.Resident(0x30, FileNameValue(5, u"$MFT", 6));
        std::int64_t clusters = 0;
        for (const Run& r : runs) clusters += r.length;
        rb.NonResident(0x80, EncodeRuns(runs), clusters * spc_ * 512, clusters * spc_ * 512);
        Write(mftCluster_ * spc_ * 512, rb.Finish());
    }
    // A finished record (RecordBuilder::Finish) at a volume sector.
    void Record(std::int64_t sector, const std::vector<std::uint8_t>& record) { Write(sector * 512, record); }
    void Bytes(std::int64_t offset, const std::vector<std::uint8_t>& bytes) { Write(offset, bytes); }
    const std::string& Path() const { return path_; }

private:
    void Write(std::int64_t offset, const std::vector<std::uint8_t>& bytes) {
        if (::pwrite(fd_, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("cannot write " + path_);
    }
    std::string path_;
    int fd_ = -1;
    std::uint8_t spc_;
    std::int64_t mftCluster_;
};

// A plain file record: $STANDARD_INFORMATION, $FILE_NAME and a resident
// $DATA (none for a folder).
inline std::vector<std::uint8_t> SimpleRecord(const std::u16string& name, std::uint64_t parent, bool folder = false,
                                              std::uint16_t flags = 1, const std::vector<std::uint8_t>& data = {}) {
    RecordBuilder rb(folder ? static_cast<std::uint16_t>(flags | 2) : flags);
    rb.Resident(0x10, StdInfoValue(0x01D7000000000000ull, 0x01D7000000000000ull, 0x01D7000000000000ull,
                                   0x01D7000000000000ull));
    rb.Resident(0x30, FileNameValue(parent, name, folder ? 0x10000000u : 0x20u));
    if (!folder) rb.Resident(0x80, data);
    return rb.Finish();
}

}  // namespace vt::test
