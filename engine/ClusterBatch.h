// The clusters of one file, read for a copy that goes on cluster by
// cluster: clusters that follow each other on the disk are fetched in one
// request of up to kBatchBytes, since a request costs more than the bytes it
// carries. Such a request shows no read-error box; when it fails, its
// clusters are read one by one, so that a failure (and its box) is the
// failing cluster's own and every cluster before it is still written.
#pragma once

#include <cstdint>
#include <functional>

#include "PageBuffer.h"

namespace vt {

class ClusterBatch {
public:
    using Read = std::function<bool(std::int64_t sector, std::uint32_t count, void* buffer)>;
    ClusterBatch(std::uint32_t sectorsPerCluster, std::uint32_t clusterBytes, Read read);
    // The bytes of the cluster at Sector, or null when it cannot be read.
    // Ahead(n) says how many clusters from this one on (at most n, at least
    // 1) lie one after the other on the disk and belong to the copy.
    const std::uint8_t* Get(std::int64_t sector, const std::function<std::uint32_t(std::uint32_t)>& ahead);

private:
    static constexpr std::uint32_t kBatchBytes = 256 * 1024;
    void Fit(std::uint32_t clusters);
    const std::uint8_t* Hold(std::int64_t sector, std::uint32_t clusters);

    std::uint32_t spc_, clusterBytes_;
    Read read_;
    std::uint32_t maxClusters_ = 1;
    platform::PageBuffer buffer_;
    std::int64_t start_ = 0;
    std::uint32_t count_ = 0;    // clusters held from start_
    std::int64_t alonePast_ = 0;  // before this sector a request of many failed: one by one
};

}  // namespace vt
