// The attribute extractor on one record, for an attribute type the first
// input byte chooses; then the mapping pairs it copied through the run-list
// decoder.
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
        if (attr.NonResident) {
            trunlist runs;
            DecodeRunList(attr.Data, runs);
        }
    }
    return 0;
}
