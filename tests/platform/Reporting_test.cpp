// "Process pending messages": the pump runs when its interval has passed,
// however often the engines' loops call.
#include "Reporting.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class MessagePump : public ::testing::Test {
protected:
    void TearDown() override { platform::SetMessagePump({}); }
};

TEST_F(MessagePump, IntervalZeroRunsThePumpOnEveryCall) {
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::milliseconds(0));
    for (int i = 0; i < 5000; ++i) platform::ProcessMessages();
    EXPECT_EQ(runs, 5000);
}

TEST_F(MessagePump, FirstCallAfterInstallingRunsThePump) {
    int runs = 0;
    for (int round = 1; round <= 3; ++round) {
        platform::SetMessagePump([&] { ++runs; }, std::chrono::hours(1));
        platform::ProcessMessages();
        EXPECT_EQ(runs, round);
    }
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
    for (int i = 0; i < 1000000 && runs < 2; ++i) platform::ProcessMessages();
    const int before = runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // ... but never fewer than once per 1024 calls.
    for (int i = 0; i < 1024; ++i) platform::ProcessMessages();
    EXPECT_GT(runs, before);
}

// A loop that reads a dying disk: each read takes long. After a fast
// stretch taught the pump to read the clock rarely, the first call after a
// slow read must still run it.
TEST_F(MessagePump, TheCallAfterADeviceReadLooksAtTheClock) {
    int runs = 0;
    platform::SetMessagePump([&] { ++runs; }, std::chrono::milliseconds(5));
    for (int i = 0; i < 1000000; ++i) platform::ProcessMessages();
    const int before = runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the slow read
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
