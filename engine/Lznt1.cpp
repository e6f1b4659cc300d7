#include "Lznt1.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>

#include "PageBuffer.h"

namespace vt {

namespace {
constexpr std::size_t kChunkOutput = 4096;  // one chunk never produces more
// A chunk stops growing once past this; its last group may add up to
// eight tokens of the longest length.
constexpr std::size_t kChunkGrowthLimit = kChunkOutput + 0x1000;
constexpr std::size_t kGroupMaxOutput = 8 * (0xFFF + 3);
// Back references copy eight bytes at a time and may write up to seven
// bytes past their end (overwritten by what follows, or cut).
constexpr std::size_t kCopySlack = 8;
constexpr std::size_t kChunkCapacity = kChunkGrowthLimit + kGroupMaxOutput + kCopySlack;

constexpr std::array<std::uint8_t, 256> kSetBits = [] {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(i)));
    return t;
}();

// The length bits given up for P, the bytes produced before the token: one
// for each doubling of P - 1 from 16 on.
inline std::int32_t NarrowedBits(std::int32_t p) {
    const std::int32_t r = p - 1;
    return r >= 16 ? static_cast<std::int32_t>(std::bit_width(static_cast<std::uint32_t>(r))) - 4 : 0;
}

// The group's items decoded at out[pos]; out has room for kGroupMaxOutput
// + kCopySlack more bytes. pos advances over what was produced, also when
// the group fails.
bool DecodeGroupAt(std::uint8_t flags, std::span<const std::uint8_t> items, std::uint8_t* out, std::size_t& pos) {
    std::size_t i = 0;
    for (int bit = 0; bit < 8 && i < items.size(); ++bit) {
        if ((flags & (1u << bit)) == 0) {
            out[pos++] = items[i++];
            continue;
        }
        // A token cut off by the end of the chunk ends the group.
        if (items.size() - i < 2) return true;
        const std::uint32_t token = static_cast<std::uint32_t>(items[i] | (items[i + 1] << 8));
        i += 2;
        const std::int32_t narrowed = NarrowedBits(static_cast<std::int32_t>(pos));
        const std::size_t len = (token & (0xFFFu >> narrowed)) + 3;
        const std::size_t off = (token >> (12 - narrowed)) + 1;
        if (off > pos) return false;  // before the chunk's start: malformed
        std::uint8_t* dst = out + pos;
        const std::uint8_t* src = dst - off;
        if (off >= 8) {
            // Eight bytes at a time: each load lies at least eight bytes
            // behind the store, so it reads bytes already in place, and a
            // repeat of the last off bytes comes out as it must.
            for (std::size_t k = 0; k < len; k += 8) {
                std::uint64_t v;
                std::memcpy(&v, src + k, 8);
                std::memcpy(dst + k, &v, 8);
            }
        } else if (off == 1) {
            std::memset(dst, *src, len);
        } else {
            for (std::size_t k = 0; k < len; ++k) dst[k] = src[k];
        }
        pos += len;
    }
    return true;
}

// The chunk's output at out (kChunkCapacity bytes of room); produced is
// its length, also when the chunk fails.
bool DecodeChunkAt(std::uint16_t header, std::span<const std::uint8_t> data, std::uint8_t* out,
                   std::size_t& produced) {
    produced = 0;
    if ((header & 0x8000) == 0) {
        // A stored chunk: at most 4096 bytes by its header.
        const std::size_t n = std::min(data.size(), kChunkCapacity);
        std::memcpy(out, data.data(), n);
        produced = n;
        return true;
    }
    std::size_t i = 0;
    while (i < data.size()) {
        const std::uint8_t flags = data[i++];
        const std::size_t n = static_cast<std::size_t>(LzntGroupLength(flags));
        const std::size_t take = std::min(n, data.size() - i);
        if (!DecodeGroupAt(flags, data.subspan(i, take), out, produced)) return false;
        i += take;
        // Output past 4096 bytes is cut anyway; stop growing it.
        if (produced > kChunkGrowthLimit) break;
    }
    return true;
}
}  // namespace

void LzntSplitToken(std::int32_t p, std::int32_t& mask, std::int32_t& shift) {
    const std::int32_t narrowed = NarrowedBits(p);
    mask = 0xFFF >> narrowed;
    shift = 12 - narrowed;
}

int LzntGroupLength(std::uint8_t flags) { return 8 + kSetBits[flags]; }

bool LzntDecodeGroup(std::uint8_t flags, std::span<const std::uint8_t> items, std::vector<std::uint8_t>& output) {
    try {
        std::size_t pos = output.size();
        output.resize(pos + kGroupMaxOutput + kCopySlack);
        const bool ok = DecodeGroupAt(flags, items, output.data(), pos);
        output.resize(pos);
        return ok;
    } catch (const std::exception&) {
        return false;
    }
}

bool LzntDecodeChunk(std::uint16_t header, std::span<const std::uint8_t> data, std::vector<std::uint8_t>& output) {
    try {
        output.resize(kChunkCapacity);
        std::size_t produced = 0;
        const bool ok = DecodeChunkAt(header, data, output.data(), produced);
        output.resize(produced);
        return ok;
    } catch (const std::exception&) {
        return false;
    }
}

bool LzntDecompressUnit(std::span<const std::uint8_t> unit, TFileStream& stream, std::int64_t fileSize) {
    try {
        // One output buffer for every chunk.
        static thread_local platform::PageBuffer output(kChunkCapacity);
        std::size_t q = 0;
        while (unit.size() - q >= 2) {
            const std::uint16_t header = static_cast<std::uint16_t>(unit[q] | (unit[q + 1] << 8));
            if (header == 0) return true;
            q += 2;
            const std::size_t size = (header & 0xFFFu) + 1;
            const std::size_t take = std::min(size, unit.size() - q);
            std::size_t produced = 0;
            if (!DecodeChunkAt(header, unit.subspan(q, take), output.data(), produced)) return false;
            q += take;
            produced = std::min(produced, kChunkOutput);
            if (stream.Write(output.data(), produced) != produced) return false;
            if (stream.Size() >= fileSize || q >= unit.size() || size == 1) return true;
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

namespace {

RunWalkResult WalkCompressedExtents(TFileStream& stream, std::span<const RunExtent> runs, std::int64_t fileSize,
                                    const CompressedRunSource& source) {
    try {
        const std::uint64_t clusterBytes = source.bytesPerCluster;
        if (clusterBytes == 0) return RunWalkResult::ReadFailed;
        const std::uint64_t unitBytes = clusterBytes * kCompressionUnitClusters;
        platform::PageBuffer unit(unitBytes);
        std::int64_t clusterCount = 0;  // clusters of the current unit met so far
        std::uint64_t byteCount = 0;    // data bytes read into the unit
        bool compressed = false;

        auto remainingInFile = [&]() -> std::uint64_t {
            return stream.Size() < fileSize ? static_cast<std::uint64_t>(fileSize - stream.Size()) : 0;
        };
        // Flushes the current unit: decompressed when it met sparse
        // clusters, zeros when it holds no data at all, as read otherwise.
        auto flush = [&](bool unitComplete) -> bool {
            if (clusterCount == 0) return true;
            const std::int64_t before = stream.Size();
            if (compressed && byteCount == 0) {
                if (!stream.WriteZeros(std::min<std::uint64_t>(clusterCount * clusterBytes, remainingInFile())))
                    return false;
            } else if (compressed) {
                LzntDecompressUnit(std::span<const std::uint8_t>(unit.data(), byteCount), stream, fileSize);
                if (stream.ShortWrite()) return false;
                // A unit decodes to its full 16 clusters; chunks that end
                // early leave zeros, which the next unit must not shift.
                if (unitComplete) {
                    const std::uint64_t produced = static_cast<std::uint64_t>(stream.Size() - before);
                    if (produced < unitBytes &&
                        !stream.WriteZeros(std::min<std::uint64_t>(unitBytes - produced, remainingInFile())))
                        return false;
                }
            } else if (stream.Write(unit.data(), byteCount) != byteCount) {
                return false;
            }
            // Each unit is decoded from its own clusters only.
            std::memset(unit.data(), 0, byteCount);
            clusterCount = 0;
            byteCount = 0;
            compressed = false;
            return true;
        };

        platform::PageBuffer big;
        for (const RunExtent& run : runs) {
            if (source.beforeRun && !source.beforeRun()) return RunWalkResult::Stopped;
            std::int64_t lcn = run.lcn;
            std::int64_t left = run.length;
            if (left <= 0) continue;
            while (left > 0) {
                if (run.lcn == 0) {
                    if (clusterCount == 0 && left >= kCompressionUnitClusters) {
                        // Whole units of sparse clusters: zeros.
                        const std::int64_t whole = left - left % kCompressionUnitClusters;
                        if (!stream.WriteZeros(std::min<std::uint64_t>(static_cast<std::uint64_t>(whole) * clusterBytes,
                                                                       remainingInFile())))
                            return RunWalkResult::WriteFailed;
                        left -= whole;
                        continue;
                    }
                    // Sparse clusters complete the current unit (or begin one).
                    const std::int64_t piece = std::min(left, kCompressionUnitClusters - clusterCount);
                    compressed = true;
                    clusterCount += piece;
                    left -= piece;
                    if (clusterCount == kCompressionUnitClusters && !flush(true)) return RunWalkResult::WriteFailed;
                    continue;
                }
                if (clusterCount == 0 && left >= kCompressionUnitClusters) {
                    // Whole units of data clusters are stored plainly: copied
                    // as read, in requests of at most 65535 sectors' worth.
                    std::int64_t whole = left - left % kCompressionUnitClusters;
                    const std::int64_t maxClusters =
                        std::max<std::int64_t>(kCompressionUnitClusters,
                                               (65535 * 512 / static_cast<std::int64_t>(clusterBytes)) /
                                                   kCompressionUnitClusters * kCompressionUnitClusters);
                    while (whole > 0) {
                        const std::int64_t n = std::min(whole, maxClusters);
                        big.resize(static_cast<std::size_t>(n) * clusterBytes);
                        if (!source.readClusters(lcn, n, big.data())) return RunWalkResult::ReadFailed;
                        if (stream.Write(big.data(), big.size()) != big.size()) return RunWalkResult::WriteFailed;
                        lcn += n;
                        left -= n;
                        whole -= n;
                    }
                    continue;
                }
                // Data clusters into the current unit, never past its end.
                const std::int64_t piece = std::min(left, kCompressionUnitClusters - clusterCount);
                if (!source.readClusters(lcn, piece, unit.data() + clusterCount * clusterBytes))
                    return RunWalkResult::ReadFailed;
                byteCount += static_cast<std::uint64_t>(piece) * clusterBytes;
                clusterCount += piece;
                lcn += piece;
                left -= piece;
                if (clusterCount == kCompressionUnitClusters && !flush(true)) return RunWalkResult::WriteFailed;
            }
        }
        if (!flush(false)) return RunWalkResult::WriteFailed;
        // Runs that map less than the file (a list cut short, a size beyond
        // the allocation) leave it as far as they reach: it is not padded
        // out to look whole.
        std::uint64_t mapped = 0;
        for (const RunExtent& run : runs)
            if (run.length > 0) mapped += static_cast<std::uint64_t>(run.length) * clusterBytes;
        if (mapped < static_cast<std::uint64_t>(std::max<std::int64_t>(fileSize, 0))) {
            if (stream.Size() > fileSize && !stream.SetSize(fileSize)) return RunWalkResult::WriteFailed;
            return RunWalkResult::RunsEndEarly;
        }
        if (!stream.SetSize(fileSize)) return RunWalkResult::WriteFailed;
        return RunWalkResult::Done;
    } catch (const std::exception&) {
        return RunWalkResult::ReadFailed;
    }
}

}  // namespace

RunWalkResult WriteCompressedExtents(TFileStream& stream, std::span<const RunExtent> runs, std::int64_t fileSize,
                                     const CompressedRunSource& source) {
    const RunWalkResult result = WalkCompressedExtents(stream, runs, fileSize, source);
    // The stream holds the last pieces in its buffer: a write of them that
    // falls short counts as it would have counted when they were written.
    if ((result == RunWalkResult::ReadFailed || result == RunWalkResult::Stopped ||
         result == RunWalkResult::RunsEndEarly) &&
        !stream.Flush())
        return RunWalkResult::WriteFailed;
    return result;
}

}  // namespace vt
