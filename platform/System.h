// Small system services besides the Windows API: the program's own path,
// the drive-size query of the run-time library, shell type names and the
// desktop's opener, and a trace of device requests for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// The full path of the running executable.
std::string ProgramPath();

// Total size in bytes of the drive with the number given (1 = A:), or -1
// when the drive is not ready.
std::int64_t DiskSize(int driveNumber);

// The shell's type name and icon index for a file name and attributes; the
// file need not exist. The windows install a provider backed by the MIME
// database and icon theme; without one a plain description is returned.
using ShellTypeProvider = std::function<int(const std::string& fileName, std::uint32_t attributes,
                                            std::string& typeName)>;
void SetShellTypeProvider(ShellTypeProvider provider);
int ShellTypeInfo(const std::string& fileName, std::uint32_t attributes, std::string& typeName);

// Opens a folder, URL or mail address with the desktop's opener; failures
// are not reported.
void ShellOpen(const std::string& target);

// Every device request while enabled: device name, control code (0 for a
// ReadFile), and the request's input bytes. Tests read it to see the
// requests a routine sent.
struct DeviceRequest {
    std::string device;
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::uint64_t offset = 0;  // ReadFile: byte offset of the read
    std::uint32_t length = 0;  // ReadFile: bytes asked
};
class DeviceTrace {
public:
    static void Enable(bool on);
    static bool Enabled();
    static void Clear();
    static const std::vector<DeviceRequest>& Requests();
    static void Add(DeviceRequest request);
};

}  // namespace platform
