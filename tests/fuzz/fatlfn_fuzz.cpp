// The long-name decoder, the long-name runs, the names of entries and the
// unique target name: the input is a run of 32-byte directory entries.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DiskParam.h"
#include "FatFuzzVolume.h"

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
                pieces.push_back(data + off);
            continue;
        }
        if (piece) std::abort();
        const std::string gathered = run.Take(raw);
        // A long name only with its checksum and sequence.
        if (!gathered.empty() && !fuzzvol::SomeTailMayName(pieces, raw.data())) std::abort();
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
