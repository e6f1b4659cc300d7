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

#include <fcntl.h>
#include <sys/stat.h>

#include <csignal>
#include <map>

#include "DiskParam.h"
#include "FileStream.h"
#include "Recorders.h"
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

// Files of one name handed over together are written two at a time, yet
// named in the order they were handed over: the first keeps the name, the
// next ones get "_1", "_2" ... in turn, each with its own bytes.
TEST_F(WriteBehind, FilesWrittenSideBySideAreNamedInTheOrderTheyCame) {
    constexpr int kFiles = 21;
    std::atomic<bool> allIn{false};
    HeldWriter held([&] { return allIn.load(); });
    vt::TWriteBehind behind(nullptr);
    for (int i = 0; i < kFiles; ++i) {
        vt::TFileStream out(folder, "same.txt", &behind);
        const std::string bytes = "file " + std::to_string(i) + std::string(static_cast<std::size_t>(i) * 97, 'x');
        ASSERT_EQ(out.Write(bytes.data(), bytes.size()), bytes.size());
        ASSERT_TRUE(behind.Submit(out, ": short", ": refused", 2));
    }
    allIn = true;
    behind.Wait();
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = i == 0 ? "same.txt" : "same_" + std::to_string(i) + ".txt";
        EXPECT_EQ(vt::test::ReadTextFile(dir.Path() + "/" + name),
                  "file " + std::to_string(i) + std::string(static_cast<std::size_t>(i) * 97, 'x'))
            << name;
    }
    EXPECT_FALSE(fs::exists(dir.Path() + "/same_" + std::to_string(kFiles) + ".txt"));
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

// The bytes of file I of the tests below: each file its own, some more than
// the stream's buffer holds (those its stream writes itself).
std::string FileBytes(int i) {
    const std::size_t length = i % 5 == 4 ? 70000 + static_cast<std::size_t>(i) : 50 + static_cast<std::size_t>(i) * 31;
    std::string bytes = "file " + std::to_string(i) + " ";
    while (bytes.size() < length) bytes += static_cast<char>('a' + (bytes.size() * 7 + static_cast<std::size_t>(i)) % 26);
    return bytes;
}

// Files 0 .. Count-1 as "f<i>.txt": handed over to Behind where they fit
// its buffer, else closed by their stream, whose line (Short, Refused) goes
// into Log as the write-behind's would.
void WriteFiles(const vt::TargetFolder& folder, vt::TWriteBehind& behind, int count, platform::IEventLog* log) {
    for (int i = 0; i < count; ++i) {
        vt::TFileStream out(folder, "f" + std::to_string(i) + ".txt", &behind);
        const std::string bytes = FileBytes(i);
        ASSERT_EQ(out.Write(bytes.data(), bytes.size()), bytes.size());
        if (behind.Submit(out, ": short", ": refused", 2)) continue;
        if (!out.Close()) AddLogEvent(log, out.Below() + (out.NameFailed() ? ": refused" : ": short"), 2);
    }
    behind.Wait();
}

// The names in Dir, by name, with what they hold.
std::map<std::string, std::string> Named(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out[e.path().filename().string()] = vt::test::ReadTextFile(e.path().string());
    return out;
}

class WriteBack : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { vt::SetUnnamedFilesForTests(GetParam()); }
    void TearDown() override {
        vt::SetUnnamedFilesForTests(true);
        vt::SetFileSyncHookForTests(nullptr);
        vt::SetCreateHookForTests(nullptr);
    }
    vt::test::TempDir dir;
    vt::TargetFolder folder = vt::TargetFolder::Open(dir.Path());
};

// A target that takes the bytes but cannot write them back to its disk (a
// failing stick, a full network share): no file gets its name, handed over
// or written by its stream, and the log names each one.
TEST_P(WriteBack, WhenTheTargetCannotWriteTheBytesBackNoFileGetsItsName) {
    constexpr int kFiles = 23;
    std::atomic<int> asked{0};
    vt::SetFileSyncHookForTests([&](int) {
        ++asked;
        return EIO;
    });
    platform::RecordingEventLog log;
    {
        vt::TWriteBehind behind(&log);
        WriteFiles(folder, behind, kFiles, behind.Log());
    }
    EXPECT_GT(asked.load(), 0);
    EXPECT_TRUE(Named(dir.Path()).empty());
    ASSERT_EQ(log.rows.size(), static_cast<std::size_t>(kFiles));
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(log.rows[static_cast<std::size_t>(i)].caption, "f" + std::to_string(i) + ".txt: short");
}

// The order that makes a name safe: the bytes first, their write-back, the
// name last. The process is killed the moment the 9th file got its name
// (handed over or not); every name then holds its file's whole bytes, and
// each had been written back before it was given.
TEST_P(WriteBack, ANameIsGivenOnlyOverBytesWrittenBack) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::alarm(20);
        std::atomic<int> named{0}, syncs{0};
        std::atomic<bool> unsynced{false};
        vt::SetFileSyncHookForTests([&](int) {
            ++syncs;
            return -1;
        });
        vt::SetCreateHookForTests([&](int, const std::string&, vt::CreateStep step) {
            if (step != vt::CreateStep::FileNamed) return;
            // A name given before any write-back at all.
            if (syncs.load() == 0) unsynced = true;
            if (++named == 9) ::kill(::getpid(), unsynced ? SIGTERM : SIGKILL);
        });
        vt::TWriteBehind behind(nullptr);
        WriteFiles(folder, behind, 20, nullptr);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL) << "a name came before any write-back";
    const auto named = Named(dir.Path());
    std::size_t finals = 0;
    for (const auto& [name, bytes] : named) {
        if (name.rfind(".vantrel-", 0) == 0) continue;
        ++finals;
        const int i = std::stoi(name.substr(1));
        EXPECT_EQ(bytes, FileBytes(i)) << name << " carries its name but is not whole";
    }
    EXPECT_EQ(finals, 9u);
}

INSTANTIATE_TEST_SUITE_P(Naming, WriteBack, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "UnnamedFiles" : "TemporaryNames"); });

}  // namespace
