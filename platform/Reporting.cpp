#include "Reporting.h"

#include <algorithm>
#include <cstdint>

namespace platform {

namespace {
using Clock = std::chrono::steady_clock;

std::function<void()> g_pump;
std::chrono::milliseconds g_interval{15};
// Whether the installed pump has run at all: "never" is a state of its own,
// not a time, since the steady clock counts from boot and a machine that
// has been up for less than the interval would otherwise wait it out first.
bool g_hasRun = false;
Clock::time_point g_lastRun{};
Clock::time_point (*g_now)() = &Clock::now;

// Reading the clock costs about as much as one pass of the engines' tightest
// loops, which call this once per 512-byte sector (some 25 ns on a virtual
// machine's clock): millions of reads per gigabyte. So the clock is read
// only every g_stride-th call, the stride adapted to the loop's pace so that
// reads come about every kLookEvery. The pump then runs at most about that
// much after its interval; kMaxStride bounds the lateness when a loop slows
// down suddenly (1024 calls: two chunks of the deep scan's 1000 sectors).
constexpr auto kLookEvery = std::chrono::microseconds(100);
constexpr std::uint32_t kMaxStride = 1024;
std::uint32_t g_stride = 1;
std::uint32_t g_countdown = 1;
Clock::time_point g_lastLook{};

void AdaptStride(Clock::time_point now) {
    const auto since = now - g_lastLook;
    g_lastLook = now;
    if (since < kLookEvery / 2) {
        g_stride = std::min(g_stride * 2, kMaxStride);
    } else if (since > kLookEvery * 2) {
        // Scaled down at once, so that a loop that became slow does not
        // wait through many long strides.
        const auto scaled = static_cast<std::uint64_t>(g_stride) *
                            std::chrono::duration_cast<Clock::duration>(kLookEvery).count() / since.count();
        g_stride = static_cast<std::uint32_t>(std::max<std::uint64_t>(scaled, 1));
    }
    g_countdown = g_stride;
}
}  // namespace

void ProcessMessages() {
    if (!g_pump) return;
    // An interval of zero runs the pump on every call (tests press Stop on
    // the n-th one).
    const bool throttled = g_interval.count() > 0;
    if (throttled && --g_countdown != 0) return;
    const auto now = g_now();
    if (throttled) AdaptStride(now);
    if (g_hasRun && now - g_lastRun < g_interval) return;
    g_hasRun = true;
    g_lastRun = now;
    g_pump();
}

void NoteDeviceRead() {
    // The next call looks at the clock: a read may have taken long (a
    // dying disk retries for seconds), and a stride learned in a fast loop
    // must not keep the window waiting through many such reads.
    g_countdown = 1;
}

void ProcessMessagesAfterWait() {
    g_countdown = 1;
    ProcessMessages();
}

void SetMessagePump(std::function<void()> pump, std::chrono::milliseconds interval) {
    g_pump = std::move(pump);
    g_interval = interval;
    g_hasRun = false;
    g_lastRun = {};
    // The first call after installing looks at the clock, and so runs the pump.
    g_stride = 1;
    g_countdown = 1;
    g_lastLook = g_now();
}

void SetMessagePumpClock(std::chrono::steady_clock::time_point (*now)()) {
    g_now = now ? now : &Clock::now;
}

}  // namespace platform
