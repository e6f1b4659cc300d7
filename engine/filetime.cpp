#include "filetime.h"

#include "DiskParam.h"
#include "WinApi.h"

double FileTimeToDateTime(std::uint64_t FileTime) {
    win::FILETIME utc{static_cast<win::DWORD>(FileTime & 0xFFFFFFFFu), static_cast<win::DWORD>(FileTime >> 32)};
    win::FILETIME local{};
    if (!win::FileTimeToLocalFileTime(&utc, &local)) return 0;
    win::WORD date = 0, time = 0;
    if (!win::FileTimeToDosDateTime(&local, &date, &time)) return 0;
    return DosDateTimeToDateTime(date, time);
}
