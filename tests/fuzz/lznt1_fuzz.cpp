// LZNT1 units and the compressed-run walk over random run lists: nothing
// may be read or written outside the buffers.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string out = [] {
        char tmpl[] = "/tmp/lznt1-fuzz-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        return std::string(tmpl);
    }();
    if (size < 4) return 0;
    // First byte: how many run entries (of 3 bytes) lead the input; the rest
    // is both the unit given to the decoder and the "volume" the runs read.
    const std::size_t nRuns = data[0] % 12;
    std::size_t at = 1;
    std::vector<vt::RunExtent> runs;
    for (std::size_t i = 0; i < nRuns && at + 3 <= size; ++i, at += 3) {
        std::int64_t lcn = data[at] % 4 == 0 ? 0 : data[at + 1] % 64;
        runs.push_back({lcn, static_cast<std::int64_t>(data[at + 2] % 40)});
    }
    std::vector<std::uint8_t> volume(data + at, data + size);
    volume.resize(64 * 512 + 40 * 512, 0);
    // The fuzzer's own scratch file, written again for every input.
    auto scratch = [] { return ::open(out.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC); };
    {
        vt::TFileStream stream(scratch());
        vt::LzntDecompressUnit(std::span<const std::uint8_t>(data + at, size - at), stream, 1 << 20);
    }
    {
        vt::TFileStream stream(scratch());
        vt::CompressedRunSource src;
        src.bytesPerCluster = 512;
        src.readClusters = [&](std::int64_t lcn, std::int64_t n, std::uint8_t* buf) {
            if (lcn < 0 || n < 0 || static_cast<std::size_t>(lcn + n) * 512 > volume.size()) return false;
            std::memcpy(buf, volume.data() + lcn * 512, static_cast<std::size_t>(n) * 512);
            return true;
        };
        vt::WriteCompressedExtents(stream, runs, static_cast<std::int64_t>(data[1]) * 700, src);
    }
    return 0;
}
