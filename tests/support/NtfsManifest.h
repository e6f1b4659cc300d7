// The manifest that tests/fixtures/ntfs-builder.c writes beside each NTFS
// image, and the contents it describes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "../fixtures/content-hash.h"

namespace vt::test {

struct NtfsManifestEntry {
    std::string path;    // "/Documents/report.doc"
    bool folder = false;
    std::string deleted; // "0", "1" or "reused"
    std::int64_t size = 0;
    std::int64_t record = 0, parent = 0;
    std::string dosName; // "-" when none
    std::uint64_t ctime = 0, mtime = 0, atime = 0;
    std::string content; // "rule:seed:length+..." or "-"

    std::string Name() const { return path.substr(path.rfind('/') + 1); }
};

inline std::vector<NtfsManifestEntry> ReadNtfsManifest(const std::string& name) {
    std::vector<NtfsManifestEntry> out;
    std::istringstream in(ReadTextFile(ImagePath(name)));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string s; std::getline(fields, s, '\t');) f.push_back(s);
        if (f.size() != 11) continue;
        NtfsManifestEntry e;
        e.path = f[0];
        e.folder = f[1] == "dir";
        e.deleted = f[2];
        e.size = std::stoll(f[3]);
        e.record = std::stoll(f[4]);
        e.parent = std::stoll(f[5]);
        e.dosName = f[6];
        e.ctime = std::stoull(f[7]);
        e.mtime = std::stoull(f[8]);
        e.atime = std::stoull(f[9]);
        e.content = f[10];
        out.push_back(e);
    }
    return out;
}

// The generators of the builder: rand, text and zero segments.
inline std::uint32_t NtfsRandWord(std::uint32_t seed, std::uint32_t n) { return vt_content_word(seed, n); }

inline std::vector<std::uint8_t> NtfsContent(const std::string& recipe) {
    std::vector<std::uint8_t> out;
    std::istringstream in(recipe);
    for (std::string seg; std::getline(in, seg, '+');) {
        char rule[8] = {};
        unsigned seed = 0;
        std::size_t len = 0;
        if (std::sscanf(seg.c_str(), "%7[a-z]:%u:%zu", rule, &seed, &len) != 3) continue;
        const std::string r = rule;
        char line[64] = {};
        for (std::size_t i = 0; i < len; ++i) {
            if (r == "rand") {
                out.push_back(static_cast<std::uint8_t>(NtfsRandWord(seed, static_cast<std::uint32_t>(i / 4)) >> (8 * (i % 4))));
            } else if (r == "text") {
                if (i % 32 == 0) {
                    int n = std::snprintf(line, sizeof line, "%05u %08u the quick brown fox", seed,
                                          static_cast<unsigned>(i / 32));
                    if (n > 31) n = 31;
                    for (int k = n; k < 31; ++k) line[k] = '.';
                    line[31] = '\n';
                }
                out.push_back(static_cast<std::uint8_t>(line[i % 32]));
            } else {
                out.push_back(0);
            }
        }
    }
    return out;
}

// Whether a file written from a damaged record holds the bytes the record
// still vouches for, in their places: the original's first `head` bytes,
// and (tail above 0) in a file of the original's size its last `tail`.
inline bool HoldsVouchedBytes(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want,
                              std::size_t head, std::size_t tail) {
    if (got.size() < head || want.size() < head || !std::equal(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(head), got.begin()))
        return false;
    return tail == 0 || (got.size() == want.size() && tail <= want.size() &&
                         std::equal(want.end() - static_cast<std::ptrdiff_t>(tail), want.end(),
                                    got.end() - static_cast<std::ptrdiff_t>(tail)));
}

// The files of the damaged volume (ntfs-builder.c, mode damaged) whose
// record contradicts itself, or whose clusters another file holds now:
// both engines keep the bytes the record still vouches for (head, tail as
// in HoldsVouchedBytes) and name the file as failed.
struct ContradictedNtfsFile {
    const char* label;
    const char* path;
    std::size_t head, tail;
};
inline void PrintTo(const ContradictedNtfsFile& c, std::ostream* os) { *os << c.label; }

inline const ContradictedNtfsFile kContradictedNtfsFiles[] = {
    // The first run's length says 9 of a VCN range of 16: the first 8
    // clusters are the file's.
    {"RunLongerThanItsAttribute", "/long-run.bin", 8 * 1024, 0},
    // The same in the first extent of an attribute list: the later extents
    // keep their places, the last fragment among them.
    {"RunLongerInAListedExtent", "/long-run-list.bin", 8 * 1024, 8 * 1024},
    // A value length of 404 in an attribute that holds 300 bytes and its
    // padding.
    {"ResidentValuePastItsAttribute", "/long-value.txt", 300, 0},
    // A length before the $DATA broken: no $DATA to be found (the advanced
    // listing gives size 0), an empty file.
    {"NoDataAfterABrokenLength", "/broken-name.txt", 0, 0},
    // Deleted, and its clusters taken by /newer.bin since.
    {"DeletedOnClustersTakenSince", "/gone.bin", 0, 0},
};

}  // namespace vt::test
