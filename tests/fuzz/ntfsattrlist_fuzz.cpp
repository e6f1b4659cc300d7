// The attribute-list walks of the record decoders and of the recoveries:
// the input is a list value followed by a record that stands for every
// extension record the list names.
#include <cstdint>
#include <vector>

#include "NtfsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t listSize = std::min<std::size_t>(size - 1, data[0] * 4u);
    std::vector<std::uint8_t> list(data + 1, data + 1 + listSize);
    std::vector<std::uint8_t> extension(data + 1 + listSize, data + size);
    extension.resize(kMftRecordSize, 0);
    // A base record with a $FILE_NAME and nothing else, so that the decoder
    // goes to the list.
    std::vector<std::uint8_t> base(kMftRecordSize, 0);
    std::copy_n("FILE", 4, base.begin());
    base[0x14] = 0x38;
    base[0x38] = 0x30;
    base[0x3C] = 0x60;
    base[0x98] = 0xFF;
    base[0x99] = 0xFF;
    base[0x9A] = 0xFF;
    base[0x9B] = 0xFF;
    TRecordDecoderVariant v;
    v.ListResidentAllocated = 4096;
    v.GetList = [&](std::span<std::uint8_t>, std::vector<std::uint8_t>& value) {
        value = list;
        return true;
    };
    v.FetchListData = [&](std::span<std::uint8_t>, const TAttrListEntry& e, TAttribute& a) {
        FileRefToInt64(e.FileRef);
        return ExtractRecordAttribute(extension, kAttrData, a);
    };
    TMftRecordInfo info;
    DecodeMftRecord(base, v, info);
    // The walk of the extents: every record the list names is the input's
    // record (fixed up when its sector ends allow), of the file numbered by
    // the first byte. The walk reads at most one record per entry (each
    // at least a byte further on), and runs come only from records that
    // were read whole.
    std::vector<std::uint8_t> fixed = extension;
    const bool whole = ApplyRecordFixup(fixed);
    trunlist runs;
    TAttribute attr;
    bool all = true;
    std::size_t reads = 0;
    GatherListedDataRuns(
        list, data[0] & 3,
        [&](std::int64_t, std::span<std::uint8_t, kMaxMftRecordSize> record) {
            ++reads;
            std::copy(fixed.begin(), fixed.end(), record.begin());
            return whole;
        },
        runs, attr, &all);
    if (reads > list.size()) __builtin_trap();
    if (!whole && !runs.empty()) __builtin_trap();
    return 0;
}
