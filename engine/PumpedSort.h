// A stable sort of an entry list that lets the window's message pump run as
// it goes. A list of a million records takes a good part of a second to
// sort; std::stable_sort gives no point to pump from, so the list is sorted
// in runs that std::stable_sort handles quickly and merged top-down, with
// the pump called once per element moved. The comparison is a strict weak
// order, so the result is exactly std::stable_sort's.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

#include "Reporting.h"

namespace vt {

namespace detail {

// Runs of this many entries are sorted without a pump in between: some
// hundred microseconds each.
constexpr std::size_t kPumpedSortRun = 2048;

// Sorts [lo, hi) of v, with buf (room for half of it) for the merges.
// When the pump throws during a merge, the entries held in buf go back to
// the gap they left, so the list owns every entry again (unsorted).
template <typename T, typename Less>
void PumpedSortRange(std::vector<T>& v, std::size_t lo, std::size_t hi, std::vector<T>& buf, Less& less) {
    if (hi - lo <= kPumpedSortRun) {
        std::stable_sort(v.begin() + static_cast<std::ptrdiff_t>(lo), v.begin() + static_cast<std::ptrdiff_t>(hi),
                         less);
        platform::ProcessMessages();
        return;
    }
    const std::size_t mid = lo + (hi - lo) / 2;
    PumpedSortRange(v, lo, mid, buf, less);
    PumpedSortRange(v, mid, hi, buf, less);
    // Already in order: the halves stay as they are.
    if (!less(v[mid], v[mid - 1])) return;
    // The left half into the buffer, then merged back; on a tie the left
    // one goes first, which keeps the sort stable.
    const std::size_t left = mid - lo;
    buf.assign(std::make_move_iterator(v.begin() + static_cast<std::ptrdiff_t>(lo)),
               std::make_move_iterator(v.begin() + static_cast<std::ptrdiff_t>(mid)));
    std::size_t a = 0, b = mid, out = lo;
    try {
        while (a < left && b < hi) {
            if (less(v[b], buf[a])) v[out++] = std::move(v[b++]);
            else v[out++] = std::move(buf[a++]);
            platform::ProcessMessages();
        }
    } catch (...) {
        std::move(buf.begin() + static_cast<std::ptrdiff_t>(a), buf.begin() + static_cast<std::ptrdiff_t>(left),
                  v.begin() + static_cast<std::ptrdiff_t>(out));
        throw;
    }
    // What is left of the right half is already in its place.
    std::move(buf.begin() + static_cast<std::ptrdiff_t>(a), buf.begin() + static_cast<std::ptrdiff_t>(left),
              v.begin() + static_cast<std::ptrdiff_t>(out));
}

}  // namespace detail

// Sorts list stably by less, calling platform::ProcessMessages() as it
// goes. The work is done on the entries moved out of list: a handler that
// runs in the pump finds the list empty, never half moved, and the entries
// come back sorted (or, when the pump throws, all of them unsorted).
template <typename T, typename Less>
void PumpedStableSort(std::vector<T>& list, Less less) {
    std::vector<T> work;
    work.swap(list);
    try {
        std::vector<T> buf;
        buf.reserve((work.size() + 1) / 2);
        detail::PumpedSortRange(work, 0, work.size(), buf, less);
    } catch (...) {
        list.swap(work);
        throw;
    }
    list.swap(work);
}

}  // namespace vt
