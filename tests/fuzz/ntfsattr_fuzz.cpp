// The attribute extractor on one record, for an attribute type the first
// input byte chooses; then the mapping pairs it copied through the run-list
// decoders. A resident value never reaches past its attribute, and the runs
// held to an attribute's header never map more clusters than its VCN range
// (exactly as many when they are said to fit): a file written from them is
// never longer than its record vouches for without being named.
#include <cstdint>
#include <vector>

#include "NtfsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const std::uint16_t kTypes[] = {0x10, 0x20, 0x30, 0x60, 0x80, 0xA0, 0xB0, 0xFF};
    const std::uint16_t type = kTypes[data[0] % 8];
    std::vector<std::uint8_t> rec(data + 1, data + std::min(size, kMftRecordSize + 1));
    rec.resize(kMftRecordSize, 0);
    TAttribute attr;
    if (ExtractRecordAttribute(rec, type, attr)) {
        if (attr.Data.size() + 24 > kMftRecordSize) __builtin_trap();
        if (attr.Resident) {
            const std::size_t valueAt = 24 + 2u * attr.Header.NameLength;
            if (!attr.Data.empty() && attr.Data.size() + valueAt > (attr.Header.Length.get() & 0xFFFF)) __builtin_trap();
            if (ResidentValueWhole(attr) && attr.Data.size() < attr.Resident->ValueLength.get()) __builtin_trap();
        }
        if (attr.NonResident) {
            trunlist runs;
            DecodeRunList(attr.Data, runs);
            trunlist held;
            TRunsFit fit = TRunsFit::Exact;
            if (DecodeAttributeRuns(attr, held, fit)) {
                std::int64_t mapped = 0;
                for (const TDataRun& r : held) {
                    if (r.Length <= 0) __builtin_trap();
                    mapped += r.Length;
                }
                const auto first = static_cast<std::int64_t>(attr.NonResident->StartingVcn.get());
                const auto last = static_cast<std::int64_t>(attr.NonResident->LastVcn.get());
                const bool known = first >= 0 && last < INT64_MAX && last + 1 >= first;
                if (!known && fit != TRunsFit::TooShort) __builtin_trap();
                if (known && mapped > last + 1 - first) __builtin_trap();
                if (fit == TRunsFit::Exact && mapped != last + 1 - first) __builtin_trap();
            }
        }
    }
    return 0;
}
