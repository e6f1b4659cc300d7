// NTFS times (FILETIME: 100-ns steps since 1 January 1601, UTC) as
// date-time values.
#pragma once

#include <cstdint>

// Local time of the FILETIME through its DOS form (2-second steps), as a
// date-time value (days since 30 December 1899); 0 when it has no DOS form
// (before 1980, after 2107) or lies after 2050.
double FileTimeToDateTime(std::uint64_t FileTime);
