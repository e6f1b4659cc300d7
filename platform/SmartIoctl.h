// The drives behind the S.M.A.R.T. control codes: a simulated drive of the
// machine profile, or a real Linux disk through SG_IO with ATA PASS-THROUGH.
// Internal to the platform layer; exposed for its tests and fixtures.
//
// A simulated drive file ([smart.N] file=... in the machine profile):
//
//   VTSMART 1 device=ata refuse=d1\n        one header line, then
//   512 bytes  identify data (IDENTIFY DEVICE, or IDENTIFY PACKET DEVICE
//              for an ATAPI device)
//   512 bytes  attribute values (S.M.A.R.T. READ DATA)
//   512 bytes  attribute thresholds (S.M.A.R.T. READ THRESHOLDS)
//
// Header keys, after "VTSMART 1", separated by blanks:
//   device=ata | atapi   the kind of device (ata when absent)
//   refuse=d8,d0         S.M.A.R.T. subcommands (features register values,
//                        hexadecimal) that the drive aborts
//
// The drive answers as an ATA drive does: IDENTIFY DEVICE and the
// S.M.A.R.T. enable and reads (with the 0x4F/0xC2 signature) on an ATA
// drive, IDENTIFY PACKET DEVICE on an ATAPI device; it aborts every other
// command.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "WinApi.h"

namespace platform {

struct SimulatedSmartDrive {
    bool atapi = false;
    std::vector<std::uint8_t> refused;  // S.M.A.R.T. subcommands aborted
    std::array<std::uint8_t, 512> identify{};
    std::array<std::uint8_t, 512> values{};
    std::array<std::uint8_t, 512> thresholds{};
};

// The drive a file describes; nothing when the file is not one.
std::optional<SimulatedSmartDrive> ParseSimulatedSmartDrive(std::span<const std::uint8_t> bytes);
std::optional<SimulatedSmartDrive> LoadSimulatedSmartDrive(const std::string& path);
// The file for a drive (the generator of test drives writes it this way).
std::vector<std::uint8_t> FormatSimulatedSmartDrive(const SimulatedSmartDrive& drive);

// How the simulated drive answers one command sent with a S.M.A.R.T.
// control code (dataSize: cBufferSize of the request). On success a command
// that reads fills data; on failure ataError is the drive's error register.
bool SimulatedSmartCommand(const SimulatedSmartDrive& drive, win::DWORD code, const win::IDEREGS& regs,
                           win::DWORD dataSize, std::span<std::uint8_t, 512> data, win::BYTE& ataError);

// The ATA PASS-THROUGH (16) command block for a command sent with a
// S.M.A.R.T. control code. Only the commands the health window sends reach a
// real disk: IDENTIFY DEVICE, IDENTIFY PACKET DEVICE and the S.M.A.R.T. reads
// (PIO data-in, one sector, with SMART_RCV_DRIVE_DATA) and the S.M.A.R.T.
// enable (non-data, with SMART_SEND_DRIVE_COMMAND); anything else gives
// nothing and is never sent.
using Cdb16 = std::array<std::uint8_t, 16>;
std::optional<Cdb16> AtaPassThrough16(win::DWORD code, const win::IDEREGS& regs, win::DWORD dataSize);

// The outcome of an SG_IO request from its status fields and sense data.
struct AtaOutcome {
    bool ok = false;
    win::BYTE error = 0;   // the drive's error register, when reported
    win::BYTE status = 0;  // the drive's status register, when reported
};
AtaOutcome EvaluateSgIo(std::uint8_t scsiStatus, std::uint16_t hostStatus, std::uint16_t driverStatus,
                        std::span<const std::uint8_t> sense);

}  // namespace platform
