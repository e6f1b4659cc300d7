// One master-file-table record through the fix-up, both record decoders
// and the found-record rules: nothing may be read outside the 1024 bytes.
#include <cstdint>
#include <vector>

#include "NtfsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> rec(data, data + std::min(size, kMftRecordSize));
    rec.resize(kMftRecordSize, 0);
    ApplyRecordFixup(rec);
    std::uint16_t fnOffset = 0, flags = 0;
    std::int64_t real = 0, allocated = 0;
    TLongFileName longName;
    std::vector<std::uint8_t> advanced = rec;
    if (PhysParseMftRecord(advanced, 8, fnOffset, flags, real, allocated, longName)) {
        tntfsfilerecord out;
        BuildFoundRecord(advanced, fnOffset, longName, out);
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
        BuildFoundRecord(rec, info.FileNameOffset, info.LongName, out);
    }
    return 0;
}
