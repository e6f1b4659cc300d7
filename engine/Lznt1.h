// LZNT1, the compression of NTFS, and the walk over the run list of a
// compressed file that turns it back into the file's plain contents. Both
// engines use these; they differ only in where sectors come from and in
// how a stop is handled, which the caller passes in.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "FileStream.h"

namespace vt {

// Chosen by P, the bytes the chunk has produced before a token: 12 length
// bits and 4 offset bits up to 16 bytes, one length bit less each time P
// doubles, down to 4 length bits for P from 2049 to 4096.
void LzntSplitToken(std::int32_t p, std::int32_t& mask, std::int32_t& shift);
// 8 plus the set bits of the flag byte: the item bytes of a flag group.
int LzntGroupLength(std::uint8_t flags);
// Appends the group's items to output. A back reference that reaches
// before the start of the chunk's output fails the group (nothing outside
// the buffers is read).
bool LzntDecodeGroup(std::uint8_t flags, std::span<const std::uint8_t> items, std::vector<std::uint8_t>& output);
// Replaces output with the chunk's output (stored or compressed).
bool LzntDecodeChunk(std::uint16_t header, std::span<const std::uint8_t> data, std::vector<std::uint8_t>& output);
// Decodes the chunks of one unit into the stream until a zero header, the
// end of the unit's bytes, a one-byte chunk, or the stream reaching
// fileSize. A chunk whose stated size runs past the unit's bytes is cut at
// their end.
bool LzntDecompressUnit(std::span<const std::uint8_t> unit, TFileStream& stream, std::int64_t fileSize);

// Clusters per compression unit.
constexpr std::int64_t kCompressionUnitClusters = 16;

struct CompressedRunSource {
    std::uint32_t bytesPerCluster = 0;
    // Reads `clusters` clusters from `lcn` into the buffer (clusters x
    // bytesPerCluster bytes); false on a failed read.
    std::function<bool(std::int64_t lcn, std::int64_t clusters, std::uint8_t* buffer)> readClusters;
    // Called before each run; false stops the walk (a stop by the user).
    std::function<bool()> beforeRun;
};

// RunsEndEarly: the runs map fewer bytes than the file has; the stream
// holds what they gave.
enum class RunWalkResult { Done, ReadFailed, Stopped, WriteFailed, RunsEndEarly };

// Writes the run list of a compressed file (runs of {Lcn, Length}; Lcn 0
// is sparse) as the file's plain contents, unit by unit of 16 clusters. A
// unit that holds fewer data clusters than 16 and then sparse clusters is
// decompressed from its own clusters only and filled with zeros to its full
// size (unless the file ends in it); a unit of 16 data clusters is written
// as read; a unit of sparse clusters only is zeros. Runs may start and end
// anywhere inside units: they are split at unit bounds. On Done the stream
// has been set to fileSize.
template <typename Runs>
RunWalkResult WriteCompressedRuns(TFileStream& stream, const Runs& runs, std::int64_t fileSize,
                                  const CompressedRunSource& source);

// The run-list walk on plain extents, for WriteCompressedRuns.
struct RunExtent {
    std::int64_t lcn = 0;
    std::int64_t length = 0;
};
RunWalkResult WriteCompressedExtents(TFileStream& stream, std::span<const RunExtent> runs, std::int64_t fileSize,
                                     const CompressedRunSource& source);

template <typename Runs>
RunWalkResult WriteCompressedRuns(TFileStream& stream, const Runs& runs, std::int64_t fileSize,
                                  const CompressedRunSource& source) {
    std::vector<RunExtent> extents;
    extents.reserve(std::size(runs));
    for (const auto& r : runs) {
        // Cluster 0 is the boot sector, never part of a compressed file;
        // here lcn 0 would read as a hole.
        if (!r.Sparse && r.Lcn == 0) return RunWalkResult::ReadFailed;
        extents.push_back({static_cast<std::int64_t>(r.Lcn), static_cast<std::int64_t>(r.Length)});
    }
    return WriteCompressedExtents(stream, extents, fileSize, source);
}

}  // namespace vt
