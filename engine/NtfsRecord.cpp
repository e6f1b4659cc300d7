#include "NtfsRecord.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "WinApi.h"

namespace {

using vt::ByteReader;

constexpr std::size_t kHeaderSize = sizeof(TAttrHeader);
constexpr std::size_t kResidentValueOffset = kHeaderSize + sizeof(TResidentPart);       // 24
constexpr std::size_t kNonResidentDataOffset = kHeaderSize + sizeof(TNonResidentPart);  // 64
constexpr std::size_t kFileNameHeadSize = sizeof(TFileNameHead);                        // 66
// Offset of the name-length byte of a $FILE_NAME attribute whose value
// starts at attribute offset 24; the namespace byte follows it.
constexpr std::size_t kFileNameLengthAt = kResidentValueOffset + 0x40;
constexpr std::uint8_t kNameSpaceDos = 2;
// $FILE_NAME attributes looked at after the first: a record of 1024 bytes
// holds fewer than a dozen.
constexpr std::size_t kMaxFileNames = 16;

constexpr std::uint64_t kLow48 = 0x0000FFFFFFFFFFFFull;

// The name of the $FILE_NAME attribute at `at`, UTF-8, without the
// characters up to the blank at both ends. A name that would run past the
// record is cut at its end.
std::string FileNameText(const ByteReader& r, std::size_t at) {
    const std::size_t valueAt = at + kResidentValueOffset;
    std::string s = Utf16LeToAnsi(r.SubClamped(valueAt + kFileNameHeadSize, 2u * r.U8Or(valueAt + 0x40)));
    std::size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// Of the $FILE_NAME at `at` and those that directly follow it (a file has
// one per hard link and namespace), the one to list the file under.
std::size_t ChooseFileName(const ByteReader& r, std::size_t at) {
    // A DOS-only 8.3 name gives way to any other; between names of one kind
    // the longer wins (the 8.3 name of a record that does not say its
    // namespace is the shorter one).
    auto dosOnly = [&](std::size_t a) { return r.U8Or(a + kFileNameLengthAt + 1) == kNameSpaceDos; };
    std::size_t chosen = at;
    for (std::size_t next = at + r.U16Or(at + 4), steps = 0;
         steps < kMaxFileNames && next > at && r.U8(next) == kAttrFileName &&
         r.Has(next + kResidentValueOffset, kFileNameHeadSize);
         next += r.U16Or(next + 4), ++steps) {
        // A name of blanks only is no name to list the file under.
        const bool better = FileNameText(r, next).empty()           ? false
                            : dosOnly(chosen) != dosOnly(next) ? dosOnly(chosen)
                            : *r.U8(next + kFileNameLengthAt) > *r.U8(chosen + kFileNameLengthAt);
        if (better) chosen = next;
        if (r.U16Or(next + 4) == 0) break;
    }
    return chosen;
}

}  // namespace

void ShowExceptionBox(const char* message) {
    win::MessageBoxA(nullptr, message, "Error", win::MB_OK | win::MB_ICONERROR);
}

std::int64_t FileRefToInt64(std::uint64_t fileRef) { return static_cast<std::int64_t>(fileRef & kLow48); }

std::int64_t FileRefToInt64(const vt::le64& fileRef) { return FileRefToInt64(fileRef.get()); }

int CompareNtfsRecords(const tntfsfilerecord* a, const tntfsfilerecord* b) {
    const std::int64_t pa = FileRefToInt64(a->FileName.ParentRef);
    const std::int64_t pb = FileRefToInt64(b->FileName.ParentRef);
    if (pa > pb) return 1;
    if (pa < pb) return -1;
    // Byte by byte as unsigned characters, the shorter name first on a tie.
    const int c = a->Name.compare(b->Name);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool IsNtfsFile(const tntfsfilerecord* record) {
    return record->FileName.FileAttributes.get() < kFileAttrDirectory;
}

std::size_t RecordBytes(std::span<const std::uint8_t> record) {
    const ByteReader r(record);
    const std::uint32_t size = r.U32Or(0x1C);
    if ((size == 2048 || size == 4096) && r.U16Or(0x06) == size / 512 + 1) return size;
    return kMftRecordSize;
}

bool ApplyRecordFixup(std::span<std::uint8_t> record) {
    const std::size_t size = RecordBytes(record);
    if (record.size() < size) return false;
    // Only the low byte of the update-sequence offset counts, so the array
    // (at most nine words) lies within the first 274 bytes and its words
    // are always inside.
    const std::size_t u = record[4];
    // Each sector of a record written whole ends with the update sequence
    // number. One that does not was left by a write that did not finish
    // (a crash or a failing disk between its sectors): the record is no
    // record of one moment, and nothing in it can be believed.
    for (std::size_t end = 510; end < size; end += 512)
        if (record[end] != record[u] || record[end + 1] != record[u + 1]) return false;
    for (std::size_t end = 510, k = 1; end < size; end += 512, ++k) std::memmove(&record[end], &record[u + 2 * k], 2);
    return true;
}

namespace {

// Copies the first attribute of the record for which `wanted` holds (given
// the reader and the attribute's offset). False when there is none.
template <typename Wanted>
bool ExtractAttribute(std::span<std::uint8_t> record, TAttribute& attr, Wanted wanted) {
    if (record.size() < kMftRecordSize) return false;
    record = record.first(std::min(record.size(), RecordBytes(record)));
    const ByteReader r(record);
    std::size_t off = r.U16Or(0x14);
    // Each step moves forward by at least one byte, so the walk ends within
    // the record's bytes.
    for (;;) {
        if (!r.Has(off, kHeaderSize)) return false;
        const std::uint32_t t = *r.U32(off);
        if (t == kAttrEnd) return false;
        if (wanted(r, off)) break;
        const std::uint16_t len = *r.U16(off + 4);
        if (len == 0) return false;
        off += len;
    }
    attr = TAttribute{};
    attr.Header = *r.Struct<TAttrHeader>(off);
    const std::size_t nameBytes = 2u * attr.Header.NameLength;
    const std::size_t attrEnd = off + (attr.Header.Length.get() & 0xFFFF);
    if (attr.Header.NonResident == 0) {
        // The 8-byte resident part must lie inside the record; the value is
        // cut at the attribute's end (and so at the record's): what lies
        // past it is the next attribute. A value that comes out shorter
        // than its length says is damaged.
        const auto part = r.Struct<TResidentPart>(off + kHeaderSize);
        if (!part) return false;
        attr.Resident = *part;
        std::size_t at = off + kResidentValueOffset;
        if (nameBytes) {
            const auto name = r.SubClamped(at, nameBytes);
            attr.Name.assign(name.begin(), name.end());
            at += nameBytes;
        }
        const std::size_t valueLen =
            std::min<std::size_t>(part->ValueLength.get() & 0xFFFF, attrEnd > at ? attrEnd - at : 0);
        const auto value = r.SubClamped(at, valueLen);
        attr.Data.assign(value.begin(), value.end());
    } else {
        const auto part = r.Struct<TNonResidentPart>(off + kHeaderSize);
        if (!part) return false;
        attr.NonResident = *part;
        std::size_t at = off + kNonResidentDataOffset;
        if (nameBytes) {
            const auto name = r.SubClamped(at, nameBytes);
            attr.Name.assign(name.begin(), name.end());
            at += nameBytes;
        }
        // Compressed and sparse attributes carry 8 more header bytes (the
        // compressed size), so their pairs start at 72, not 64: where the
        // mapping-pairs offset is a sane place inside the attribute (past
        // the 64 header bytes and the name), it is where the pairs are.
        // Reading from 64 would take the compressed size for pairs and lose
        // the file's data; an offset inside the header would take the
        // header itself for pairs.
        const std::size_t pairsOffset = part->MappingPairsOffset.get();
        if (pairsOffset >= kNonResidentDataOffset && pairsOffset < (attr.Header.Length.get() & 0xFFFF) &&
            pairsOffset >= kNonResidentDataOffset + nameBytes)
            at = off + pairsOffset;
        // The mapping pairs run to the end of the attribute; one whose
        // length is below its start holds none, and the end is cut at the
        // record's end.
        const std::size_t end = std::min(attrEnd, record.size());
        if (end > at) {
            const auto pairs = r.SubClamped(at, end - at);
            attr.Data.assign(pairs.begin(), pairs.end());
        }
    }
    return true;
}

}  // namespace

bool ExtractRecordAttribute(std::span<std::uint8_t> record, std::uint16_t type, TAttribute& attr) {
    return ExtractAttribute(record, attr, [type](const ByteReader& r, std::size_t off) { return *r.U32(off) == type; });
}

bool ExtractListedAttribute(std::span<std::uint8_t> record, const TAttrListEntry& entry, TAttribute& attr) {
    // The entry names its attribute by type, instance and (for a stream in
    // extents) the first cluster it maps; a record may hold several
    // attributes of one type, extents of one stream among them.
    if (!ExtractAttribute(record, attr, [&](const ByteReader& r, std::size_t off) {
            return *r.U32(off) == entry.Type.get() && r.U16Or(off + 0x0E) == entry.AttributeId.get() &&
                   r.U8Or(off + 9) == entry.NameLength;
        }))
        return false;
    return !attr.NonResident || attr.NonResident->StartingVcn.get() == entry.StartingVcn.get();
}

bool DecodeRunList(std::span<const std::uint8_t> data, trunlist& runs) {
    try {
        std::int64_t previous = 0;
        std::size_t pos = 0;
        while (pos < data.size()) {
            const std::uint8_t h = data[pos++];
            if (h == 0) break;
            const unsigned lenSize = h & 15;
            const unsigned offSize = h >> 4;
            // Run lengths of up to four bytes; offsets of up to eight bytes
            // (a wider one cannot be a 64-bit cluster number).
            if (lenSize > 4 || offSize > 8) break;
            if (lenSize + offSize > data.size() - pos) break;
            std::uint64_t length = 0;
            for (unsigned i = lenSize; i-- > 0;) length = (length << 8) | data[pos + i];
            pos += lenSize;
            if (offSize == 0) {
                runs.push_back({0, static_cast<std::int64_t>(length), true});
                continue;
            }
            std::uint64_t raw = 0;
            for (unsigned i = offSize; i-- > 0;) raw = (raw << 8) | data[pos + i];
            pos += offSize;
            // The delta is signed in its own width.
            std::int64_t delta;
            if (offSize < 8 && (raw >> (8 * offSize - 1)) & 1)
                delta = static_cast<std::int64_t>(raw | (~0ull << (8 * offSize)));
            else
                delta = static_cast<std::int64_t>(raw);
            const auto cluster = vt::CheckedAdd<std::int64_t>(previous, delta);
            // A cluster that overflows or lies before the volume ends the list.
            if (!cluster || *cluster < 0) break;
            previous = *cluster;
            runs.push_back({previous, static_cast<std::int64_t>(length)});
        }
        return true;
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

bool CutRunsAtVolumeEnd(trunlist& runs, std::int64_t clusters) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const TDataRun& run = runs[i];
        if (run.Sparse || run.Length <= 0) continue;
        const auto end = vt::CheckedAdd<std::int64_t>(run.Lcn, run.Length);
        if (!end || *end > clusters) {
            runs.resize(i);
            return true;
        }
    }
    return false;
}

bool DecodeAttributeRuns(const TAttribute& attr, trunlist& runs, TRunsFit& fit) {
    fit = TRunsFit::TooShort;
    trunlist own;
    if (!DecodeRunList(attr.Data, own)) return false;
    if (!attr.NonResident) return true;
    // The header's range: an attribute of no clusters has its last VCN one
    // below its first (mkntfs and Windows write -1 for an empty stream). A
    // range that does not fit in 63 bits is no range of a real volume.
    const auto first = static_cast<std::int64_t>(attr.NonResident->StartingVcn.get());
    const auto last = static_cast<std::int64_t>(attr.NonResident->LastVcn.get());
    const auto end = vt::CheckedAdd<std::int64_t>(last, 1);
    std::int64_t span = first >= 0 && end && *end >= first ? *end - first : -1;
    const bool rangeKnown = span >= 0;
    if (!rangeKnown) span = 0;
    std::int64_t mapped = 0;
    bool over = false;
    for (TDataRun run : own) {
        if (run.Length <= 0) continue;
        if (run.Length > span - mapped) {
            over = true;
            run.Length = span - mapped;
            if (run.Length <= 0) break;
        }
        runs.push_back(run);
        mapped += run.Length;
    }
    fit = !rangeKnown ? TRunsFit::TooShort : over ? TRunsFit::TooLong : mapped < span ? TRunsFit::TooShort : TRunsFit::Exact;
    return true;
}

bool CutRunsAfterClusters(trunlist& runs, std::int64_t clusters) {
    std::int64_t mapped = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].Length <= 0) continue;
        if (runs[i].Length > clusters - mapped) {
            runs[i].Length = clusters - mapped;
            runs.resize(runs[i].Length > 0 ? i + 1 : i);
            return true;
        }
        mapped += runs[i].Length;
    }
    return false;
}

bool TrimRunsAtVolumeEnd(trunlist& runs, std::int64_t clusters) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
        TDataRun& run = runs[i];
        if (run.Sparse || run.Length <= 0) continue;
        const auto end = vt::CheckedAdd<std::int64_t>(run.Lcn, run.Length);
        if (end && *end <= clusters) continue;
        run.Length = run.Lcn < clusters ? clusters - run.Lcn : 0;
        runs.resize(run.Length > 0 ? i + 1 : i);
        return true;
    }
    return false;
}

std::optional<bool> RunsInUse(const trunlist& runs, std::int64_t clusters, const trunlist& bitmapRuns,
                              std::size_t clusterBytes,
                              const std::function<bool(std::int64_t lcn, std::uint8_t* cluster)>& readCluster) {
    if (clusterBytes == 0) return std::nullopt;
    const auto bitsPerCluster = static_cast<std::int64_t>(clusterBytes) * 8;
    std::vector<std::uint8_t> cluster(clusterBytes);
    std::int64_t loaded = -1;  // the bitmap's VCN in cluster
    // The bit of a volume cluster, through the bitmap's runs.
    auto inUse = [&](std::int64_t lcn) -> std::optional<bool> {
        const std::int64_t vcn = lcn / bitsPerCluster;
        if (vcn != loaded) {
            std::int64_t before = 0;
            std::optional<std::int64_t> at;
            bool hole = false;
            for (const TDataRun& run : bitmapRuns) {
                if (run.Length <= 0) continue;
                if (vcn - before < run.Length) {
                    hole = run.Sparse;
                    at = vt::CheckedAdd<std::int64_t>(run.Lcn, vcn - before);
                    break;
                }
                before += run.Length;
            }
            // A cluster past the bitmap's end is no cluster of the volume.
            if (!at) return std::nullopt;
            if (hole) std::fill(cluster.begin(), cluster.end(), 0);
            else if (!readCluster(*at, cluster.data())) return std::nullopt;
            loaded = vcn;
        }
        const std::int64_t bit = lcn % bitsPerCluster;
        return (cluster[static_cast<std::size_t>(bit / 8)] >> (bit % 8) & 1) != 0;
    };
    std::int64_t seen = 0;
    for (const TDataRun& run : runs) {
        if (seen >= clusters) break;
        if (run.Length <= 0) continue;
        const std::int64_t n = std::min(run.Length, clusters - seen);
        seen += n;
        if (run.Sparse) continue;
        for (std::int64_t k = 0; k < n; ++k) {
            const auto lcn = vt::CheckedAdd<std::int64_t>(run.Lcn, k);
            if (!lcn) return std::nullopt;
            const auto used = inUse(*lcn);
            if (!used) return std::nullopt;
            if (*used) return true;
        }
    }
    return false;
}

bool ResidentValueWhole(const TAttribute& attr) {
    return attr.Resident && attr.Data.size() >= attr.Resident->ValueLength.get();
}

bool IsCompressedData(const TAttribute& data) {
    return data.NonResident && (data.Header.Flags.get() & kAttrFlagCompressed) != 0;
}

std::int64_t MftStreamSector(const TRunTable& extents, std::int64_t index) {
    if (index < 0) return -1;
    std::int64_t before = 0;
    for (const TDataRun& run : extents) {
        const std::int64_t count = run.Length;
        if (count > 0 && index - before < count) {
            // A hole in the table holds no record.
            if (run.Sparse) return -1;
            // Extents come from the volume: an extent placed near the end of
            // the 64-bit range cannot hold the sector.
            const auto sector = vt::CheckedAdd<std::int64_t>(run.Lcn, index - before);
            return sector && *sector >= 0 ? *sector : -1;
        }
        if (count > 0) before += count;
    }
    return -1;
}

std::int64_t MftRecordToSector(const TRunTable& extents, std::int64_t recordNo, std::int64_t recordSectors) {
    if (recordSectors < 2 || recordNo < 0 || recordNo > INT64_MAX / recordSectors) return -1;
    return MftStreamSector(extents, recordSectors * recordNo);
}

std::optional<std::array<std::int64_t, 2>> MftRecordSectors(const TRunTable& extents, std::int64_t recordNo,
                                                            std::int64_t recordSectors) {
    const std::int64_t first = MftRecordToSector(extents, recordNo, recordSectors);
    if (first < 0) return std::nullopt;
    const std::int64_t second = MftStreamSector(extents, recordSectors * recordNo + 1);
    if (second < 0) return std::nullopt;
    if (recordSectors > 2 && MftStreamSector(extents, recordSectors * recordNo + recordSectors - 1) !=
                                 first + recordSectors - 1)
        return std::nullopt;
    return std::array<std::int64_t, 2>{first, second};
}

std::string Utf16LeToAnsi(std::span<const std::uint8_t> bytes) {
    std::string out;
    const std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t i) { return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); };
    auto put = [&](char32_t c) { vt::AppendUtf8(out, c); };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = unit(i);
        if (c == 0) break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            const char16_t d = unit(i + 1);
            if (d >= 0xDC00 && d <= 0xDFFF) {
                put(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (d - 0xDC00));
                ++i;
                continue;
            }
        }
        // An unpaired surrogate has no UTF-8 form: the replacement character.
        put(c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
    }
    return out;
}

bool DecodeRecordData(std::span<std::uint8_t> record, std::size_t from, const TRecordDecoderVariant& variant,
                      TMftRecordInfo& info) {
    if (record.size() < kMftRecordSize) return false;
    record = record.first(std::min(record.size(), RecordBytes(record)));
    const ByteReader r(record);
    // The $DATA within seven attributes from the given one. A larger record
    // holds more: a file of ten names has its $DATA after all of them, so
    // there the walk goes on to the record's last 128 bytes.
    auto isStop = [&](std::uint8_t t) { return variant.DataStopsAtOrAbove ? t >= kAttrData : t == kAttrData; };
    const bool large = record.size() > kMftRecordSize;
    const int maxSteps = large ? INT32_MAX : 7;
    std::size_t p = from;
    for (int steps = 0; steps < maxSteps && p < record.size() - 128 && !isStop(r.U8Or(p, 0xFF)); ++steps) {
        const std::uint16_t len = r.U16Or(p + 4);
        if (len == 0) break;
        p += len;
    }
    info.RealSize = 0;
    info.AllocatedSize = 0;
    if (r.U8(p) == kAttrData) {
        if (r.U8Or(p + 8) != 0) {
            if (r.Has(p + 0x28, 16)) {
                info.AllocatedSize = static_cast<std::int64_t>(*r.U64(p + 0x28) & kLow48);
                info.RealSize = static_cast<std::int64_t>(*r.U64(p + 0x30) & kLow48);
                return true;
            }
        } else if (r.Has(p + 0x10, 4)) {
            info.RealSize = *r.U32(p + 0x10);
            info.AllocatedSize = variant.ResidentAllocated;
            return true;
        }
    }

    // Through the attribute list.
    try {
        std::vector<std::uint8_t> list;
        if (!variant.GetList || !variant.GetList(record, list)) return true;
        const ByteReader lr(list);
        if (lr.Size() < kAttrListEntrySize) return false;
        for (std::size_t pos = 0; pos <= lr.Size() - kAttrListEntrySize;) {
            const auto entry = *lr.Struct<TAttrListEntry>(pos);
            // The sizes are in the header of the stream's first extent.
            if (entry.Type.get() == kAttrData && entry.NameLength == 0 && entry.StartingVcn.get() == 0) {
                TAttribute data;
                if (variant.FetchListData && variant.FetchListData(record, entry, data)) {
                    if (data.NonResident) {
                        info.AllocatedSize = static_cast<std::int64_t>(data.NonResident->AllocatedSize.get() & kLow48);
                        info.RealSize = static_cast<std::int64_t>(data.NonResident->RealSize.get() & kLow48);
                    } else if (data.Resident) {
                        info.RealSize = data.Resident->ValueLength.get();
                        info.AllocatedSize = variant.ListResidentAllocated;
                    }
                }
                break;
            }
            if (entry.Length.get() == 0) break;
            pos += entry.Length.get();
        }
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
    }
    return true;
}

std::int64_t RecordBaseNumber(std::span<const std::uint8_t> record) {
    const ByteReader r(record);
    return static_cast<std::int64_t>(r.U64Or(0x20) & kLow48);
}

bool DecodeMftRecord(std::span<std::uint8_t> record, const TRecordDecoderVariant& variant, TMftRecordInfo& info) {
    info = TMftRecordInfo{};
    try {
        if (record.size() < kMftRecordSize) return false;
        record = record.first(std::min(record.size(), RecordBytes(record)));
        const ByteReader r(record);
        info.RecordFlags = r.U16Or(0x16);
        if (std::memcmp(record.data(), "FILE", 4) != 0) return false;

        // The $FILE_NAME among the first three attributes.
        const std::size_t first = r.U16Or(0x14);
        std::size_t off = first;
        for (int steps = 0; steps < 2 && off < 512 && r.U8Or(off) != kAttrFileName; ++steps)
            off += r.U16Or(off + 4);
        if (r.U8(off) != kAttrFileName) return false;
        // Its value head must lie inside the record.
        if (!r.Has(off + kResidentValueOffset, kFileNameHeadSize)) return false;
        info.FileNameOffset = static_cast<std::uint16_t>(off);

        info.FileNameOffset = static_cast<std::uint16_t>(ChooseFileName(r, off));
        off = info.FileNameOffset;

        // The times and the low half of the file attributes from the first
        // attribute (taken as $STANDARD_INFORMATION), in the buffer.
        if (r.Has(first + kResidentValueOffset, 0x22)) {
            std::memmove(&record[off + kResidentValueOffset + 0x08], &record[first + kResidentValueOffset], 32);
            std::memmove(&record[off + kResidentValueOffset + 0x38], &record[first + kResidentValueOffset + 0x20], 2);
        }

        return DecodeRecordData(record, off, variant, info);
    } catch (const std::exception& e) {
        if (variant.BoxOnException) ShowExceptionBox(e.what());
        return false;
    }
}

bool PhysGetRecordAttribute(std::span<std::uint8_t> record, std::uint16_t type, TAttribute& attr) {
    try {
        return ExtractRecordAttribute(record, type, attr);
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

TRecordDecoderVariant PhysDecoderVariant(std::uint32_t sectorsPerCluster) {
    TRecordDecoderVariant variant;
    variant.DataStopsAtOrAbove = true;
    variant.ResidentAllocated = static_cast<std::int64_t>(sectorsPerCluster) * vt::kSectorSize;
    variant.ListResidentAllocated = 0;
    // A non-resident list lies in clusters that a single record does not
    // locate on the disk: the record is taken as having no list.
    variant.GetList = [](std::span<std::uint8_t> rec, std::vector<std::uint8_t>& value) {
        TAttribute list;
        if (!PhysGetRecordAttribute(rec, kAttrAttributeList, list) || !list.Resident) return false;
        value = std::move(list.Data);
        return true;
    };
    // The entry's reference is not followed: the first $DATA anywhere in
    // the same record stands for it.
    variant.FetchListData = [](std::span<std::uint8_t> rec, const TAttrListEntry&, TAttribute& data) {
        return PhysGetRecordAttribute(rec, kAttrData, data);
    };
    variant.BoxOnException = true;
    return variant;
}

bool PhysParseMftRecord(std::span<std::uint8_t> record, std::uint32_t sectorsPerCluster, std::uint16_t& fileNameOffset,
                        std::uint16_t& recordFlags, std::int64_t& realSize, std::int64_t& allocatedSize) {
    TMftRecordInfo info;
    const bool ok = DecodeMftRecord(record, PhysDecoderVariant(sectorsPerCluster), info);
    fileNameOffset = info.FileNameOffset;
    recordFlags = info.RecordFlags;
    realSize = info.RealSize;
    allocatedSize = info.AllocatedSize;
    return ok;
}

TFoundRecordResult BuildFoundRecord(std::span<const std::uint8_t> record, std::uint16_t fileNameOffset,
                                    tntfsfilerecord& out) {
    const ByteReader r(record);
    const std::size_t valueAt = static_cast<std::size_t>(fileNameOffset) + kResidentValueOffset;
    const auto head = r.Struct<TFileNameHead>(valueAt);
    if (!head) return TFoundRecordResult::NoName;
    out.FileName = *head;
    const std::size_t n = 2u * head->NameLength;
    if (n == 0) return TFoundRecordResult::NoName;
    // Every length is listed: on volumes without 8.3 names a file's only
    // name is often longer than twelve characters.
    out.Name = FileNameText(r, fileNameOffset);
    if (out.Name.empty()) return TFoundRecordResult::EmptyName;
    return TFoundRecordResult::Accepted;
}

std::int64_t RecordOwnNumber(std::span<const std::uint8_t> record) {
    const ByteReader r(record);
    // NTFS 3.1 moved the update sequence to 0x30 to make room for the
    // record's own number at 0x2C; NTFS 3.0 headers end before it.
    if (r.U16Or(0x04) < 0x30 || !r.Has(0x2C, 4)) return -1;
    return *r.U32(0x2C);
}

std::vector<std::int64_t> ListedNameRecords(std::span<std::uint8_t> base) {
    TAttribute list;
    if (!ExtractRecordAttribute(base, kAttrAttributeList, list) || !list.Resident) return {};
    return ListedNameRecords(std::span<const std::uint8_t>(list.Data));
}

std::vector<std::int64_t> ListedNameRecords(std::span<const std::uint8_t> listValue) {
    std::vector<std::int64_t> out;
    const ByteReader lr(listValue);
    for (std::size_t pos = 0; lr.Size() >= kAttrListEntrySize && pos <= lr.Size() - kAttrListEntrySize;) {
        const TAttrListEntry entry = *lr.Struct<TAttrListEntry>(pos);
        const std::int64_t no = FileRefToInt64(entry.FileRef);
        if (entry.Type.get() == kAttrFileName && std::find(out.begin(), out.end(), no) == out.end()) out.push_back(no);
        if (entry.Length.get() == 0) break;
        pos += entry.Length.get();
    }
    return out;
}

TFoundRecordResult BuildFoundRecordFromExtension(std::span<std::uint8_t> base, std::span<const std::uint8_t> extension,
                                                 tntfsfilerecord& out) {
    const ByteReader r(extension);
    // The names lead an extension record (it has no $STANDARD_INFORMATION).
    std::size_t off = r.U16Or(0x14);
    for (int steps = 0; steps < 2 && off < 512 && r.U8Or(off) != kAttrFileName; ++steps) off += r.U16Or(off + 4);
    if (r.U8(off) != kAttrFileName || !r.Has(off + kResidentValueOffset, kFileNameHeadSize))
        return TFoundRecordResult::NoName;
    const TFoundRecordResult result = BuildFoundRecord(extension, ChooseFileName(r, off), out);
    TakeStandardInformation(base, out.FileName);
    return result;
}

void TakeStandardInformation(std::span<std::uint8_t> base, TFileNameHead& head) {
    TAttribute info;
    if (!ExtractRecordAttribute(base, kAttrStandardInformation, info) || !info.Resident || info.Data.size() < 0x22)
        return;
    const ByteReader si(info.Data);
    head.CreationTime.set(si.U64Or(0x00));
    head.ModificationTime.set(si.U64Or(0x08));
    head.MftChangeTime.set(si.U64Or(0x10));
    head.AccessTime.set(si.U64Or(0x18));
    head.FileAttributes.set((head.FileAttributes.get() & 0xFFFF0000u) | si.U16Or(0x20));
}

std::int64_t MftSectorToRecord(const TRunTable& extents, std::int64_t sector, std::int64_t recordSectors) {
    if (recordSectors < 2) return -1;
    std::int64_t before = 0;
    for (const TDataRun& run : extents) {
        if (run.Length <= 0) continue;
        if (!run.Sparse && sector >= run.Lcn && sector - run.Lcn < run.Length) {
            const std::int64_t index = before + (sector - run.Lcn);
            return index % recordSectors == 0 ? index / recordSectors : -1;
        }
        const auto next = vt::CheckedAdd<std::int64_t>(before, run.Length);
        if (!next) return -1;
        before = *next;
    }
    return -1;
}

bool GatherListedDataRuns(std::span<const std::uint8_t> listBytes, std::int64_t owner,
                          const TRecordByNumber& readRecord, trunlist& runs, TAttribute& attr, bool* whole) {
    try {
        // Callers may pass the list out of attr itself, which the first
        // extent read below replaces: walk a copy.
        const std::vector<std::uint8_t> list(listBytes.begin(), listBytes.end());
        const ByteReader r(list);
        if (r.Size() < kAttrListEntrySize) return false;
        if (whole) *whole = true;
        // The entries of the unnamed $DATA (a named one is another stream
        // of the file). Every entry advances by its non-zero length, so the
        // walk ends within the list.
        std::vector<TAttrListEntry> extents;
        for (std::size_t pos = 0; pos <= r.Size() - kAttrListEntrySize;) {
            const TAttrListEntry entry = *r.Struct<TAttrListEntry>(pos);
            if (entry.Type.get() == kAttrData && entry.NameLength == 0) extents.push_back(entry);
            if (entry.Length.get() == 0) break;
            pos += entry.Length.get();
        }
        // In the order of the clusters they map: Windows keeps the list so,
        // but an extent moved into another record may be listed late.
        std::stable_sort(extents.begin(), extents.end(), [](const TAttrListEntry& x, const TAttrListEntry& y) {
            return x.StartingVcn.get() < y.StartingVcn.get();
        });
        // Each extent must lie in a record of this file and begin where the
        // one before it ended; a record taken by another file since, or an
        // extent that does not follow on, ends the runs there.
        std::uint64_t next = 0;
        for (const TAttrListEntry& entry : extents) {
            const std::int64_t recordNo = FileRefToInt64(entry.FileRef);
            std::array<std::uint8_t, kMaxMftRecordSize> record{};
            TAttribute extent;
            const bool ours = entry.StartingVcn.get() == next && readRecord(recordNo, record) &&
                              std::memcmp(record.data(), "FILE", 4) == 0 &&
                              RecordBaseNumber(record) == (recordNo == owner ? 0 : owner) &&
                              ExtractListedAttribute(record, entry, extent);
            if (!ours || (extent.Resident && next != 0)) {
                if (whole) *whole = false;
                break;
            }
            // Each extent's runs must map its own range: where they map
            // more, they are cut there so that the later extents keep their
            // places; where they map less, the later extents would slide,
            // and the runs end there.
            TRunsFit fit = TRunsFit::Exact;
            if (extent.NonResident) {
                DecodeAttributeRuns(extent, runs, fit);
                next = extent.NonResident->LastVcn.get() + 1;
            }
            if (fit != TRunsFit::Exact && whole) *whole = false;
            if (fit == TRunsFit::TooShort) {
                if (entry.StartingVcn.get() == 0) attr = std::move(extent);
                break;
            }
            // The sizes, flags and compression unit are those of the first
            // extent's header.
            if (entry.StartingVcn.get() == 0) attr = std::move(extent);
            if (attr.Resident) break;
        }
        return true;
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
        return false;
    }
}

bool ReadNonResidentValue(const TAttribute& attr, std::int64_t maxSize, std::size_t clusterBytes,
                          std::int64_t volumeClusters, const std::function<bool(std::int64_t lcn, std::uint8_t* cluster)>& readCluster,
                          std::vector<std::uint8_t>& value) {
    if (!attr.NonResident || clusterBytes == 0) return false;
    const std::int64_t size = static_cast<std::int64_t>(attr.NonResident->RealSize.get() & kLow48);
    if (size > maxSize) return false;
    trunlist runs;
    if (!DecodeRunList(attr.Data, runs)) return false;
    // Clusters past the volume's end hold the disk's bytes, not the value's.
    const bool cut = CutRunsAtVolumeEnd(runs, volumeClusters);
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> cluster(clusterBytes);
    for (const TDataRun& run : runs) {
        for (std::int64_t i = 0; i < run.Length && static_cast<std::int64_t>(out.size()) < size; ++i) {
            if (run.Sparse) {
                std::fill(cluster.begin(), cluster.end(), 0);
            } else {
                const auto lcn = vt::CheckedAdd<std::int64_t>(run.Lcn, i);
                if (!lcn || !readCluster(*lcn, cluster.data())) return false;
            }
            out.insert(out.end(), cluster.begin(), cluster.end());
        }
        if (static_cast<std::int64_t>(out.size()) >= size) break;
    }
    if (cut && static_cast<std::int64_t>(out.size()) < size) return false;
    out.resize(static_cast<std::size_t>(std::min<std::int64_t>(size, static_cast<std::int64_t>(out.size()))));
    value = std::move(out);
    return true;
}

std::int64_t InitializedBytes(const TAttribute& data, std::int64_t size) {
    if (!data.NonResident) return size;
    const std::uint64_t init = data.NonResident->InitializedSize.get();
    return init < static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0)) ? static_cast<std::int64_t>(init) : size;
}

bool ReadStreamHead(const trunlist& runs, std::int64_t sectorsPerCluster, std::int64_t initialized,
                    std::span<std::uint8_t> out,
                    const std::function<bool(std::int64_t lcn, std::int64_t sectors, std::uint8_t* buffer)>& readSectors) {
    if (sectorsPerCluster <= 0) return false;
    const std::int64_t want = static_cast<std::int64_t>(out.size());
    const std::int64_t wantSectors = (want + 511) / 512;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(wantSectors) * 512);
    std::int64_t at = 0;  // sectors of the stream placed
    for (const TDataRun& run : runs) {
        if (at >= wantSectors) break;
        if (run.Length <= 0) continue;
        // (A run shorter than the head's sectors cannot overflow the product.)
        const std::int64_t runSectors = run.Length >= wantSectors ? wantSectors : run.Length * sectorsPerCluster;
        const std::int64_t n = std::min(runSectors, wantSectors - at);
        if (!run.Sparse && !readSectors(run.Lcn, n, buffer.data() + at * 512)) return false;
        at += n;
    }
    // Out is written only once every read succeeded.
    const std::int64_t valid = std::clamp<std::int64_t>(std::min(initialized, at * 512), 0, want);
    std::fill(out.begin(), out.end(), 0);
    std::copy_n(buffer.begin(), valid, out.begin());
    return true;
}
