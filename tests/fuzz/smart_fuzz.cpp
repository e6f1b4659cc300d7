// The two readers of S.M.A.R.T. bytes from outside: a simulated drive file
// and the sense data a disk returns to an ATA pass-through. The first input
// byte chooses the reader.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "SmartIoctl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    if (data[0] & 1) {
        if (rest.size() < 5) return 0;
        platform::EvaluateSgIo(rest[0], static_cast<std::uint16_t>(rest[1] | (rest[2] << 8)),
                               static_cast<std::uint16_t>(rest[3] | (rest[4] << 8)), rest.subspan(5));
    } else if (auto drive = platform::ParseSimulatedSmartDrive(rest)) {
        std::array<std::uint8_t, 512> sector{};
        win::BYTE error = 0;
        const win::IDEREGS regs{win::READ_ATTRIBUTES, 1, 1, win::SMART_CYL_LOW, win::SMART_CYL_HI, 0xA0,
                                win::SMART_CMD, 0};
        platform::SimulatedSmartCommand(*drive, win::SMART_RCV_DRIVE_DATA, regs, 512, sector, error);
    }
    return 0;
}
