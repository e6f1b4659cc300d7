#include "System.h"

#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <thread>

#include "MachineProfile.h"

extern char** environ;

namespace platform {

std::string ProgramPath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::int64_t DiskSize(int driveNumber) {
    if (driveNumber < 1 || driveNumber > 26) return -1;
    const LogicalDriveConfig* d = Machine::Current().Logical(static_cast<char>('A' + driveNumber - 1));
    if (!d || !d->store || !d->store->Valid()) return -1;
    return static_cast<std::int64_t>(d->store->Size());
}

namespace {

ShellTypeProvider& Provider() {
    static ShellTypeProvider provider;
    return provider;
}

std::vector<DeviceRequest>& TraceLog() {
    static std::vector<DeviceRequest> log;
    return log;
}
bool g_traceOn = false;

}  // namespace

void SetShellTypeProvider(ShellTypeProvider provider) { Provider() = std::move(provider); }

int ShellTypeInfo(const std::string& fileName, std::uint32_t attributes, std::string& typeName) {
    if (Provider()) return Provider()(fileName, attributes, typeName);
    // Without the desktop's MIME database: the description the shell gives
    // to unknown types, "EXT File", and "File Folder" for folders.
    if (attributes & 0x10) {
        typeName = "File Folder";
        return 3;
    }
    std::size_t dot = fileName.find_last_of('.');
    std::size_t slash = fileName.find_last_of('/');
    std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : fileName.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    typeName = ext.empty() ? "File" : ext + " File";
    return 0;
}

void ShellOpen(const std::string& target) {
    // xdg-open in a child of its own; failures are not reported.
    const char* argv[] = {"xdg-open", target.c_str(), nullptr};
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
    if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
        // Reaped in the background so that no zombie stays behind.
        std::thread([pid] {
            int status = 0;
            waitpid(pid, &status, 0);
        }).detach();
    }
    posix_spawn_file_actions_destroy(&actions);
}

void DeviceTrace::Enable(bool on) { g_traceOn = on; }
bool DeviceTrace::Enabled() { return g_traceOn; }
void DeviceTrace::Clear() { TraceLog().clear(); }
const std::vector<DeviceRequest>& DeviceTrace::Requests() { return TraceLog(); }
void DeviceTrace::Add(DeviceRequest request) { TraceLog().push_back(std::move(request)); }

}  // namespace platform
