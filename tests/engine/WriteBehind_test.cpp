// The writer of small recovered files: its waits keep the window's messages
// running, and a stream dropped in a destructor runs none.
#include "WriteBehind.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "FileStream.h"
#include "Reporting.h"
#include "TargetFolder.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A clock that moves a microsecond per read: the loop that reads it looks
// fast to the pump, whose stride between clock reads then grows.
Clock::time_point FastClock() {
    static Clock::time_point t{};
    t += std::chrono::microseconds(1);
    return t;
}

// The writer waits at its first file until Until() holds, at most Most.
class HeldWriter {
public:
    explicit HeldWriter(std::function<bool()> until, Clock::duration most = std::chrono::seconds(10)) {
        vt::SetWriterHookForTests([until = std::move(until), most] {
            const auto end = Clock::now() + most;
            while (!until() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    ~HeldWriter() { vt::SetWriterHookForTests(nullptr); }
};

class WriteBehind : public ::testing::Test {
protected:
    void TearDown() override {
        platform::SetMessagePump(nullptr);
        platform::SetMessagePumpClock(nullptr);
    }
    vt::test::TempDir dir;
    vt::TargetFolder folder = vt::TargetFolder::Open(dir.Path());
};

// After a loop that ran the pump's checks many times a second (its stride
// between clock reads at its largest), a wait for the writer still runs the
// window's messages every interval: the writer is held until the pump has
// run three times, which takes the wait three of its 5 ms turns. A second
// is two hundred times that; a pump that waits out the stride first (a
// thousand turns) does not run within it.
TEST_F(WriteBehind, AWaitRunsTheMessagesOnTimeWhateverRanBeforeIt) {
    std::atomic<int> pumps{0};
    platform::SetMessagePumpClock(&FastClock);
    platform::SetMessagePump([&] { ++pumps; }, std::chrono::milliseconds(15));
    for (int i = 0; i < 100000; ++i) platform::ProcessMessages();
    platform::SetMessagePumpClock(nullptr);
    pumps = 0;
    {
        HeldWriter held([&] { return pumps >= 3; }, std::chrono::seconds(1));
        vt::TWriteBehind behind(nullptr);
        vt::TFileStream out(folder, "a.txt", &behind);
        ASSERT_EQ(out.Write("abc", 3), 3u);
        ASSERT_TRUE(behind.Submit(out, ": short", ": refused", 2));
        behind.Wait();
    }
    EXPECT_GE(pumps.load(), 3) << "the window's messages did not run while the recovery waited";
    EXPECT_EQ(vt::test::ReadTextFile(dir.Path() + "/a.txt"), "abc");
}

// A pump that raises (the window's handler failed) must not meet a stream's
// destructor: a stream that is not closed is dropped without waiting for
// the writer, and the program goes on.
TEST_F(WriteBehind, AStreamDroppedInItsDestructorRunsNoMessages) {
    std::atomic<bool> release{false};
    HeldWriter held([&] { return release.load(); });
    platform::SetMessagePump([] { throw std::runtime_error("handler failed"); }, std::chrono::milliseconds(0));
    {
        vt::TWriteBehind behind(nullptr);
        {
            vt::TFileStream first(folder, "first.txt", &behind);
            ASSERT_EQ(first.Write("first", 5), 5u);
            ASSERT_TRUE(behind.Submit(first, ": short", ": refused", 2));
        }
        {
            vt::TFileStream second(folder, "second.txt", &behind);
            // More than its buffer holds, so that its bytes must go out.
            const std::string big(128 * 1024, 'x');
            second.Write(big.data(), 1);
        }
        release = true;
        platform::SetMessagePump(nullptr);
        behind.Wait();
    }
    EXPECT_EQ(vt::test::ReadTextFile(dir.Path() + "/first.txt"), "first");
    EXPECT_FALSE(fs::exists(dir.Path() + "/second.txt"));
}

// The writer's thread stays from one batch to the next; a copy of the
// process made by fork has no such thread: there a file is not handed over
// but written by its stream, and nothing waits for a writer that is not
// there.
TEST_F(WriteBehind, ACopyOfTheProcessMadeByForkWritesItsFilesItself) {
    vt::TWriteBehind behind(nullptr);
    {
        vt::TFileStream out(folder, "parent.txt", &behind);
        ASSERT_EQ(out.Write("parent", 6), 6u);
        ASSERT_TRUE(behind.Submit(out, ": short", ": refused", 2));
    }
    behind.Wait();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::alarm(20);  // a wait for the missing thread ends the copy
        vt::TFileStream out(folder, "child.txt", &behind);
        const bool written = out.Write("child", 5) == 5;
        const bool handed = behind.Submit(out, ": short", ": refused", 2);
        const bool closed = !handed && out.Close();
        behind.Wait();
        ::_exit(written && closed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(vt::test::ReadTextFile(dir.Path() + "/parent.txt"), "parent");
    EXPECT_EQ(vt::test::ReadTextFile(dir.Path() + "/child.txt"), "child");
}

}  // namespace
