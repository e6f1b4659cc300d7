// What both engines conclude from the cluster chains they walk through a
// FAT: where a chain loops, and which chains share clusters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vt::fat {

// The place of the first cluster that a walk met before (the walk's size
// when none did): from there on a looping chain only goes round again.
std::size_t FirstRepeat(std::span<const std::uint32_t> clusters);

// Which chains of a volume share clusters. A cluster belongs to one file or
// folder: where two chains name the same one (a crash between the writes
// of a FAT, fsck's "cross-linked"), at least one of them holds the other's
// bytes there, and neither can be trusted.
class SharedClusters {
public:
    // The clusters of one chain, as walked; Owner names the file or folder
    // (the same directory entry listed twice is one owner, and never shares
    // with itself).
    void Add(std::size_t owner, std::span<const std::uint32_t> clusters);
    // The owners of which a cluster is also another owner's, ascending and
    // each once.
    std::vector<std::size_t> Sharing();

private:
    struct Run {
        std::uint64_t First, End;  // clusters [First, End)
        std::size_t Owner;
    };
    std::vector<Run> runs_;
};

}  // namespace vt::fat
