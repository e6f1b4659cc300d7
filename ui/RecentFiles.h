// A window's Back/Forward history of folder-tree positions: the order of
// visits, at most 20, oldest first. A position is the absolute index of a
// node in the folder tree; the history never interprets it.
#pragma once

#include <cstdint>
#include <vector>

class TRecentFiles {
public:
    static constexpr std::size_t kMaxItems = 20;

    TRecentFiles() = default;
    void Add(std::int32_t position);
    void Back(std::int32_t& position);
    void Forward(std::int32_t& position);
    void Clear();

    std::int32_t Index = -1;
    bool CanBack = false;
    bool CanForward = false;
    std::vector<std::int32_t> Items;

private:
    void UpdateFlags();
};
