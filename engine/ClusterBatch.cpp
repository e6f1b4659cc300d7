#include "ClusterBatch.h"

#include <algorithm>
#include <utility>

#include "DiskUtils.h"

namespace vt {

ClusterBatch::ClusterBatch(std::uint32_t sectorsPerCluster, std::uint32_t clusterBytes, Read read)
    : spc_(sectorsPerCluster), clusterBytes_(clusterBytes), read_(std::move(read)) {
    const std::uint32_t byBytes = std::max<std::uint32_t>(1, kBatchBytes / std::max<std::uint32_t>(1, clusterBytes));
    const std::uint32_t bySectors = std::max<std::uint32_t>(1, 0xFFFF / std::max<std::uint32_t>(1, spc_));
    maxClusters_ = std::min(byBytes, bySectors);
}

const std::uint8_t* ClusterBatch::Get(std::int64_t sector, const std::function<std::uint32_t(std::uint32_t)>& ahead) {
    const std::int64_t span = static_cast<std::int64_t>(count_) * spc_;
    if (sector >= start_ && sector - start_ < span && (sector - start_) % spc_ == 0)
        return buffer_.data() + static_cast<std::size_t>((sector - start_) / spc_) * clusterBytes_;
    count_ = 0;
    if (sector >= alonePast_) {
        const std::uint32_t n = std::clamp<std::uint32_t>(ahead(maxClusters_), 1, maxClusters_);
        if (n > 1) {
            Fit(n);
            bool ok;
            {
                DiskUtils::TQuietReads quiet;
                ok = read_(sector, n * spc_, buffer_.data());
            }
            if (ok) return Hold(sector, n);
            alonePast_ = sector + static_cast<std::int64_t>(n) * spc_;
        }
    }
    Fit(1);
    if (!read_(sector, spc_, buffer_.data())) return nullptr;
    return Hold(sector, 1);
}

void ClusterBatch::Fit(std::uint32_t clusters) {
    const std::size_t bytes = static_cast<std::size_t>(clusters) * clusterBytes_;
    if (buffer_.size() < bytes) buffer_.resize(bytes);
}

const std::uint8_t* ClusterBatch::Hold(std::int64_t sector, std::uint32_t clusters) {
    start_ = sector;
    count_ = clusters;
    return buffer_.data();
}

}  // namespace vt
