// Mapping pairs into a run list, and record numbers through a table of
// extents built from the runs.
#include <cstdint>
#include <span>

#include "NtfsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    trunlist runs;
    DecodeRunList(std::span<const std::uint8_t>(data, size), runs);
    for (const TDataRun& r : runs)
        if (r.Lcn < 0 || r.Length < 0) __builtin_trap();
    TRunTable table;
    for (const TDataRun& r : runs) table.push_back({r.Lcn, r.Length});
    for (std::int64_t n : {std::int64_t{0}, std::int64_t{1}, std::int64_t{1000}, std::int64_t{1} << 40})
        MftRecordToSector(table, n);
    return 0;
}
