#include "Reporting.h"

namespace platform {

namespace {
std::function<void()> g_pump;
std::chrono::milliseconds g_interval{15};
std::chrono::steady_clock::time_point g_lastRun{};
}  // namespace

void ProcessMessages() {
    if (!g_pump) return;
    auto now = std::chrono::steady_clock::now();
    if (now - g_lastRun < g_interval) return;
    g_lastRun = now;
    g_pump();
}

void SetMessagePump(std::function<void()> pump, std::chrono::milliseconds interval) {
    g_pump = std::move(pump);
    g_interval = interval;
    g_lastRun = {};
}

}  // namespace platform
