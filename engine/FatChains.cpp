#include "FatChains.h"

#include <algorithm>
#include <functional>

namespace vt::fat {

std::size_t FirstRepeat(std::span<const std::uint32_t> clusters) {
    // Most chains only go up (a file written in one go, or in pieces each
    // after the last): they repeat nothing, and need no sort.
    if (std::adjacent_find(clusters.begin(), clusters.end(), std::greater_equal<>()) == clusters.end())
        return clusters.size();
    std::vector<std::pair<std::uint32_t, std::size_t>> order(clusters.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = {clusters[i], i};
    std::sort(order.begin(), order.end());
    // Of two equal clusters the later place is a repeat; the earliest such
    // place is where the walk began to go round.
    std::size_t repeat = clusters.size();
    for (std::size_t i = 1; i < order.size(); ++i)
        if (order[i].first == order[i - 1].first) repeat = std::min(repeat, order[i].second);
    return repeat;
}

void SharedClusters::Add(std::size_t owner, std::span<const std::uint32_t> clusters) {
    // Runs of consecutive clusters: a file written in one go is one run,
    // whatever its length.
    const std::size_t from = runs_.size();
    for (std::uint32_t c : clusters) {
        if (runs_.size() > from && runs_.back().End == c) ++runs_.back().End;
        else runs_.push_back({c, std::uint64_t{c} + 1, owner});
    }
}

std::vector<std::size_t> SharedClusters::Sharing() {
    std::sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) { return a.First < b.First; });
    // Runs that overlap, directly or through others, make a group. In a
    // group of two owners or more each owner shares a cluster with another:
    // the first overlap that leads out of its own runs (a chain cut before
    // its repeat, an entry listed twice) meets another owner's. A group of
    // one owner shares nothing.
    std::vector<std::size_t> sharing, group;
    auto close = [&] {
        std::sort(group.begin(), group.end());
        group.erase(std::unique(group.begin(), group.end()), group.end());
        if (group.size() > 1) sharing.insert(sharing.end(), group.begin(), group.end());
        group.clear();
    };
    std::uint64_t end = 0;
    for (const Run& r : runs_) {
        if (!group.empty() && r.First >= end) close();
        if (group.empty() || r.End > end) end = r.End;
        group.push_back(r.Owner);
    }
    close();
    std::sort(sharing.begin(), sharing.end());
    sharing.erase(std::unique(sharing.begin(), sharing.end()), sharing.end());
    return sharing;
}

}  // namespace vt::fat
