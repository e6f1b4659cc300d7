// The long-name decoder, the long-name runs, the names of entries and the
// unique target name: the input is a run of 32-byte directory entries.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DiskParam.h"

namespace {

// Whether the pieces in front of a short entry may name it: present pieces
// flagged last first, their sequence down to 1, each with the short name's
// checksum; or deleted pieces, all with one checksum, before a deleted
// short entry. Checked on its own, from the bytes, against what the run
// gave.
bool MayName(const std::vector<const std::uint8_t*>& pieces, const std::uint8_t* shortEntry) {
    if (pieces.empty() || pieces.size() > vt::fat::kMaxLongNamePieces || shortEntry[0] == 0) return false;
    const bool deleted = pieces.front()[0] == vt::fat::kDeletedMark;
    if (deleted != (shortEntry[0] == vt::fat::kDeletedMark)) return false;
    for (const std::uint8_t* p : pieces)
        if (p[13] != pieces.front()[13]) return false;
    if (deleted) {
        for (const std::uint8_t* p : pieces)
            if (p[0] != vt::fat::kDeletedMark) return false;
        return true;
    }
    if (pieces.front()[13] != vt::fat::ShortNameChecksum(std::span<const std::uint8_t, 11>(shortEntry, 11)))
        return false;
    const unsigned n = pieces.front()[0] & 0x1F;
    if ((pieces.front()[0] & 0xE0) != 0x40 || n != pieces.size()) return false;
    for (std::size_t i = 1; i < pieces.size(); ++i)
        if (pieces[i][0] != n - i) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string kDir = "/nonexistent-vantrel-fuzz-target";
    std::string longName;
    std::int32_t checksum = -1;
    vt::fat::TLongNameRun run;
    std::vector<const std::uint8_t*> pieces;  // since the last short entry, in directory order
    for (std::size_t off = 0; off + 32 <= size; off += 32) {
        std::span<const std::uint8_t, 32> raw(data + off, 32);
        const bool piece = run.Add(raw);
        if (TUndelete::DecodeLfnEntry(raw, longName, checksum) != 0) {
            if (!piece) std::abort();
            // A piece that begins a run of its own drops the ones before it.
            pieces.push_back(data + off);
            continue;
        }
        if (piece) std::abort();
        const std::string gathered = run.Take(raw);
        // The run may keep only its last pieces: the name comes from a
        // tail of the pieces, which must make a name by itself.
        if (!gathered.empty()) {
            bool some = false;
            for (std::size_t from = 0; from < pieces.size() && !some; ++from)
                some = MayName(std::vector<const std::uint8_t*>(pieces.begin() + from, pieces.end()), raw.data());
            if (!some) std::abort();
        }
        pieces.clear();
        TMidEntry e;
        std::memcpy(&e.DirEntry, raw.data(), 32);
        e.LongName = gathered;
        longName.clear();
        for (const std::string& name : {GetEntryDisplayName(e), GetEntryFileName(e)}) {
            const std::string path = MakeUniqueFileName(name, kDir);
            // The path stays one name below the target folder.
            if (path.compare(0, kDir.size() + 1, kDir + "/") != 0) std::abort();
            const std::string leaf = path.substr(kDir.size() + 1);
            if (leaf.find('/') != std::string::npos || leaf.find('\0') != std::string::npos || leaf == "." ||
                leaf == "..")
                std::abort();
            // No control character reaches a target name.
            for (unsigned char c : leaf)
                if (c < 0x20 || c == 0x7F) std::abort();
        }
    }
    return 0;
}
