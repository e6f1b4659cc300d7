// One master-file-table record through the fix-up, both record decoders
// and the found-record rules: nothing may be read outside the 1024 bytes.
#include <cstdint>
#include <vector>

#include "NtfsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> rec(data, data + std::min(size, kMftRecordSize));
    rec.resize(kMftRecordSize, 0);
    // The fix-up rule: a record is used whole only when both its sectors
    // end with the update sequence number, and then they end with the
    // words the array saved.
    const std::vector<std::uint8_t> raw = rec;
    const std::size_t u = raw[4];
    const bool whole = raw[510] == raw[u] && raw[511] == raw[u + 1] && raw[1022] == raw[u] && raw[1023] == raw[u + 1];
    if (ApplyRecordFixup(rec) != whole) __builtin_trap();
    if (!whole && rec != raw) __builtin_trap();
    if (whole && (rec[510] != raw[u + 2] || rec[511] != raw[u + 3] || rec[1022] != raw[u + 4] || rec[1023] != raw[u + 5]))
        __builtin_trap();
    std::uint16_t fnOffset = 0, flags = 0;
    std::int64_t real = 0, allocated = 0;
    std::vector<std::uint8_t> advanced = rec;
    if (PhysParseMftRecord(advanced, 8, fnOffset, flags, real, allocated)) {
        tntfsfilerecord out;
        BuildFoundRecord(advanced, fnOffset, out);
    }
    // The standard decoder's walk, with the list's $DATA taken from the
    // same record.
    TRecordDecoderVariant standard;
    standard.ResidentAllocated = 4096;
    standard.ListResidentAllocated = 4096;
    standard.GetList = [](std::span<std::uint8_t> r, std::vector<std::uint8_t>& value) {
        TAttribute a;
        if (!ExtractRecordAttribute(r, kAttrAttributeList, a)) return false;
        value = a.Data;
        return true;
    };
    standard.FetchListData = [](std::span<std::uint8_t> r, const TAttrListEntry&, TAttribute& a) {
        return ExtractRecordAttribute(r, kAttrData, a);
    };
    TMftRecordInfo info;
    if (DecodeMftRecord(rec, standard, info)) {
        tntfsfilerecord out;
        BuildFoundRecord(rec, info.FileNameOffset, out);
    }
    return 0;
}
