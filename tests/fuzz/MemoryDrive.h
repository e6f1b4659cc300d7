// The fuzz input as physical drive 0: its bytes, zero-padded to whole
// sectors, behind the machine the engine reads through.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "MachineProfile.h"

namespace fuzzdrive {

inline void InstallPhysicalDrive0(std::vector<std::uint8_t> bytes) {
    platform::MachineConfig config;
    platform::PhysicalDriveConfig p;
    p.number = 0;
    p.store = platform::BackingStore::FromMemory(std::move(bytes));
    config.physical.push_back(p);
    platform::Machine::Install(std::move(config));
}

}  // namespace fuzzdrive
