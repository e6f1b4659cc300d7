// The stable sort that pumps as it goes: the order std::stable_sort gives,
// the pump run during the work, and a list that never holds half-moved
// entries when a handler looks at it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "PumpedSort.h"
#include "Reporting.h"

namespace {

struct Item {
    int key;
    int seq;  // the place before the sort: shows stability
};
using Owner = std::unique_ptr<Item>;

bool ByKey(const Owner& a, const Owner& b) { return a->key < b->key; }

std::vector<Owner> Items(int n, int (*key)(int)) {
    std::vector<Owner> v;
    for (int i = 0; i < n; ++i) v.push_back(std::make_unique<Item>(Item{key(i), i}));
    return v;
}

struct PumpGuard {
    ~PumpGuard() { platform::SetMessagePump({}); }
};

struct SortCase {
    const char* name;
    int n;
    int (*key)(int);
};

class PumpedStableSortOf : public ::testing::TestWithParam<SortCase> {};

TEST_P(PumpedStableSortOf, GivesStableSortsOrderAndPumpsOnAnEmptyList) {
    const SortCase c = GetParam();
    std::vector<Owner> list = Items(c.n, c.key), expected = Items(c.n, c.key);
    std::stable_sort(expected.begin(), expected.end(), ByKey);
    PumpGuard guard;
    long pumps = 0, pumpsWithEntries = 0;
    platform::SetMessagePump(
        [&] {
            ++pumps;
            if (!list.empty()) ++pumpsWithEntries;
        },
        std::chrono::milliseconds(0));
    vt::PumpedStableSort(list, ByKey);
    ASSERT_EQ(list.size(), expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        ASSERT_NE(list[i], nullptr) << i;
        EXPECT_EQ(list[i]->seq, expected[i]->seq) << i;
    }
    // Every run of a few thousand entries and every entry merged gives the
    // window a turn; a handler never sees entries moved away.
    EXPECT_GE(pumps, static_cast<long>(c.n / vt::detail::kPumpedSortRun));
    EXPECT_EQ(pumpsWithEntries, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, PumpedStableSortOf,
    ::testing::Values(SortCase{"Empty", 0, [](int) { return 0; }}, SortCase{"One", 1, [](int) { return 0; }},
                      SortCase{"OneRun", 2048, [](int i) { return (i * 7919) % 13; }},
                      SortCase{"RunAndOne", 2049, [](int i) { return (i * 7919) % 13; }},
                      SortCase{"ManyTies", 20011, [](int i) { return (i * 7919) % 7; }},
                      SortCase{"AllEqual", 9000, [](int) { return 4; }},
                      SortCase{"Reversed", 10000, [](int i) { return -i; }},
                      SortCase{"Sorted", 10000, [](int i) { return i / 3; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PumpedStableSort, PumpThatThrowsLeavesEveryEntryInTheList) {
    std::vector<Owner> list = Items(9000, [](int i) { return -i; });
    PumpGuard guard;
    long pumps = 0;
    // The sort's eight runs pump once each, then the merges: the 40th pump
    // comes in one.
    platform::SetMessagePump(
        [&] {
            if (++pumps == 40) throw std::runtime_error("pump");
        },
        std::chrono::milliseconds(0));
    EXPECT_THROW(vt::PumpedStableSort(list, ByKey), std::runtime_error);
    ASSERT_EQ(list.size(), 9000u);
    std::vector<int> seqs;
    for (const Owner& o : list) {
        ASSERT_NE(o, nullptr);
        seqs.push_back(o->seq);
    }
    std::sort(seqs.begin(), seqs.end());
    for (int i = 0; i < 9000; ++i) EXPECT_EQ(seqs[static_cast<std::size_t>(i)], i);
}

}  // namespace
