// "Process pending messages": the pump runs when its interval has passed,
// however often the engines' loops call.
#include "Reporting.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// A clock the test moves: every reading advances it by the pace of the loop
// that calls (the engines' tightest loops take some tens of nanoseconds a
// pass), and a test jumps it forward for a slow read. It starts near the
// steady clock's epoch, as on a machine booted a moment ago.
Clock::time_point g_fakeNow{};
Clock::duration g_pace{};
Clock::time_point FakeNow() {
    g_fakeNow += g_pace;
    return g_fakeNow;
}

class MessagePump : public ::testing::Test {
protected:
    void SetUp() override {
        g_fakeNow = Clock::time_point{} + std::chrono::milliseconds(3);
        g_pace = std::chrono::nanoseconds(25);
        platform::SetMessagePumpClock(&FakeNow);
    }
    void TearDown() override {
        platform::SetMessagePump({});
        platform::SetMessagePumpClock(nullptr);
    }
};

TEST_F(MessagePump, IntervalZeroRunsThePumpOnEveryCall) {
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::milliseconds(0));
    for (int i = 0; i < 5000; ++i) platform::ProcessMessages();
    EXPECT_EQ(runs, 5000);
}

// Right after boot the clock reads less than the interval: the first call
// must run the pump all the same.
TEST_F(MessagePump, FirstCallAfterInstallingRunsThePump) {
    int runs = 0;
    for (int round = 1; round <= 3; ++round) {
        platform::SetMessagePump([&] { ++runs; }, std::chrono::hours(1));
        platform::ProcessMessages();
        EXPECT_EQ(runs, round);
    }
}

TEST_F(MessagePump, FirstCallRunsThePumpOnTheRealClockToo) {
    platform::SetMessagePumpClock(nullptr);
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::hours(1));
    platform::ProcessMessages();
    EXPECT_EQ(runs, 1);
}

TEST_F(MessagePump, QuickCallsWithinTheIntervalDoNotRunIt) {
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::hours(1));
    for (int i = 0; i < 1000000; ++i) platform::ProcessMessages();
    EXPECT_EQ(runs, 1);
}

TEST_F(MessagePump, RunsWithinBoundedCallsOnceTheIntervalHasPassed) {
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::milliseconds(5));
    // Quick calls let the clock be read rarely ...
    for (int i = 0; i < 100000; ++i) platform::ProcessMessages();
    const int before = runs;
    EXPECT_EQ(before, 1);
    g_fakeNow += std::chrono::milliseconds(20);
    // ... but never fewer than once per 1024 calls.
    for (int i = 0; i < 1024; ++i) platform::ProcessMessages();
    EXPECT_EQ(runs, before + 1);
}

// A loop that reads a dying disk: each read takes long. After a fast
// stretch taught the pump to read the clock rarely, the first call after a
// slow read must still run it.
TEST_F(MessagePump, TheCallAfterADeviceReadLooksAtTheClock) {
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::milliseconds(5));
    for (int i = 0; i < 100000; ++i) platform::ProcessMessages();
    const int before = runs;
    g_fakeNow += std::chrono::milliseconds(20);  // the slow read
    platform::NoteDeviceRead();
    platform::ProcessMessages();
    EXPECT_EQ(runs, before + 1);
}

TEST_F(MessagePump, RemovedPumpIsNotCalled) {
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::milliseconds(0));
    platform::SetMessagePump({});
    for (int i = 0; i < 10; ++i) platform::ProcessMessages();
    EXPECT_EQ(runs, 0);
}

}  // namespace
