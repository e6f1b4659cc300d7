#include "NtfsRecord.h"

#include <gtest/gtest.h>

#include "NtfsManifest.h"
#include "NtfsTestRecords.h"
#include "Recorders.h"
#include "TestSupport.h"

using vt::test::FileNameValue;
using vt::test::RecordBuilder;
using vt::test::StdInfoValue;
using Bytes = std::vector<std::uint8_t>;

// ---- mapping pairs ----

struct RunCase {
    const char* name;
    Bytes pairs;
    trunlist expected;
};

class DecodeRunListTable : public ::testing::TestWithParam<RunCase> {};

TEST_P(DecodeRunListTable, DecodesRuns) {
    trunlist runs;
    EXPECT_TRUE(DecodeRunList(GetParam().pairs, runs));
    EXPECT_EQ(runs, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    DecodeRunList, DecodeRunListTable,
    ::testing::Values(
        RunCase{"OneRun", {0x21, 0x10, 0x00, 0x01, 0x00}, {{256, 16}}},
        RunCase{"SecondRunGoesBack", {0x21, 0x10, 0x00, 0x01, 0x11, 0x08, 0xF0, 0x00}, {{256, 16}, {240, 8}}},
        RunCase{"Sparse", {0x01, 0x10}, {{0, 16, true}}},
        RunCase{"SparseKeepsPrevious", {0x21, 0x10, 0x00, 0x01, 0x01, 0x04, 0x11, 0x02, 0x10, 0x00},
                {{256, 16}, {0, 4, true}, {272, 2}}},
        RunCase{"EndMarkOnly", {0x00}, {}},
        RunCase{"Empty", {}, {}},
        RunCase{"FiveByteLengthEnds", {0x21, 0x10, 0x00, 0x01, 0x15, 1, 2, 3, 4, 5, 6, 0x00}, {{256, 16}}},
        // $Boot's run: cluster 0, the boot sector, is data, not a hole.
        RunCase{"ZeroOffsetIsClusterZero", {0x11, 0x10, 0x00, 0x11, 0x08, 0x05, 0x00}, {{0, 16}, {5, 8}}},
        RunCase{"ZeroDeltaRepeatsTheCluster", {0x11, 0x02, 0x05, 0x11, 0x01, 0x00, 0x00}, {{5, 2}, {5, 1}}},
        RunCase{"NegativeOneByte", {0x21, 0x10, 0x00, 0x01, 0x11, 0x04, 0xFF, 0x00}, {{256, 16}, {255, 4}}},
        RunCase{"NegativeThreeBytes", {0x31, 0x01, 0x00, 0x00, 0x10, 0x31, 0x01, 0x00, 0x00, 0xFF, 0x00},
                {{0x100000, 1}, {0x0F0000, 1}}},
        RunCase{"FourByteLength", {0x24, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00}, {{2, 0x01000000}}},
        RunCase{"EightByteOffset", {0x81, 0x01, 1, 0, 0, 0, 0, 0, 0, 0x01, 0x00}, {{0x0100000000000001LL, 1}}},
        RunCase{"SevenByteOffsetSignExtended",
                {0x21, 0x01, 0x00, 0x10, 0x71, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},
                {{0x1000, 1}, {0x0FFF, 1}}},
        RunCase{"NineByteOffsetEnds", {0x11, 0x01, 0x05, 0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00}, {{5, 1}}},
        RunCase{"TruncatedRunEnds", {0x11, 0x01, 0x05, 0x32, 0x01, 0x00}, {{5, 1}}},
        RunCase{"ClusterBeforeVolumeEnds", {0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x00}, {{5, 1}}},
        RunCase{"NoEndMark", {0x11, 0x01, 0x05}, {{5, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeRunList, AppendsToRunsAlreadyThere) {
    trunlist runs{{100, 1}};
    ASSERT_TRUE(DecodeRunList(Bytes{0x21, 0x10, 0x00, 0x01, 0x00}, runs));
    // Each extent's pairs start again from cluster 0.
    ASSERT_TRUE(DecodeRunList(Bytes{0x11, 0x02, 0x20, 0x00}, runs));
    EXPECT_EQ(runs, (trunlist{{100, 1}, {256, 16}, {32, 2}}));
}

TEST(DecodeRunList, OverflowingClusterEndsTheList) {
    trunlist runs;
    Bytes pairs{0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,   // cluster 2^63 - 1
                0x11, 0x01, 0x01, 0x00};                                      // + 1 overflows
    ASSERT_TRUE(DecodeRunList(pairs, runs));
    EXPECT_EQ(runs, (trunlist{{INT64_MAX, 1}}));
}

// ---- record numbers, references, order ----

TEST(MftRecordToSector, MapsThroughExtents) {
    const TRunTable table{{1000, 32}, {5000, 16}};
    EXPECT_EQ(MftRecordToSector(table, 0), 1000);
    EXPECT_EQ(MftRecordToSector(table, 15), 1030);
    EXPECT_EQ(MftRecordToSector(table, 16), 5000);
    EXPECT_EQ(MftRecordToSector(table, 23), 5014);
    EXPECT_EQ(MftRecordToSector(table, 24), -1);
    EXPECT_EQ(MftRecordToSector(table, -1), -1);
    EXPECT_EQ(MftRecordToSector({}, 0), -1);
}

TEST(MftRecordToSector, SectorsBeyond32Bits) {
    const TRunTable table{{0x100000000LL, 8}, {0x300000000LL, 8}};
    EXPECT_EQ(MftRecordToSector(table, 3), 0x100000006LL);
    EXPECT_EQ(MftRecordToSector(table, 5), 0x300000002LL);
}

// Extents of three sectors, as a table of one-sector clusters grows into
// holes: every other record begins in the last sector of one extent and
// ends in the first of the next.
TEST(MftSectorToRecord, CountsTheStreamAcrossOddExtents) {
    const TRunTable table{{100, 3}, {200, 3}, {0, 2, true}, {300, 3}};
    EXPECT_EQ(MftSectorToRecord(table, 100), 0);
    EXPECT_EQ(MftSectorToRecord(table, 102), 1);
    EXPECT_EQ(MftSectorToRecord(table, 201), 2);
    EXPECT_EQ(MftSectorToRecord(table, 300), 4);  // after the hole
    // Second halves, a hole's place and sectors outside the table.
    for (std::int64_t sector : {101, 200, 202, 0, 1, 301, 303, 99})
        EXPECT_EQ(MftSectorToRecord(table, sector), -1) << sector;
    EXPECT_EQ(MftRecordSectors(table, 1), (std::array<std::int64_t, 2>{102, 200}));
    EXPECT_EQ(MftRecordSectors(table, 3), std::nullopt);  // in the hole
}

// The head of a stream through its runs: a run shorter than the head is
// followed by the next, a hole reads as zeros, and so does everything past
// the initialized size or past the runs.
TEST(ReadStreamHead, FollowsRunsAndZerosPastTheInitializedSize) {
    std::vector<std::pair<std::int64_t, std::int64_t>> reads;
    auto read = [&](std::int64_t lcn, std::int64_t sectors, std::uint8_t* to) {
        reads.emplace_back(lcn, sectors);
        std::fill(to, to + sectors * 512, static_cast<std::uint8_t>(lcn));
        return true;
    };
    std::array<std::uint8_t, 2048> head{};
    // One-sector clusters: runs of one cluster at 7, a hole, then 9 on.
    ASSERT_TRUE(ReadStreamHead({{7, 1}, {0, 1, true}, {9, 40}}, 1, 1800, head, read));
    EXPECT_EQ(reads, (std::vector<std::pair<std::int64_t, std::int64_t>>{{7, 1}, {9, 2}}));
    for (std::size_t i = 0; i < head.size(); ++i) {
        const std::uint8_t want = i < 512 ? 7 : i < 1024 ? 0 : i < 1800 ? 9 : 0;
        ASSERT_EQ(head[i], want) << i;
    }
    // Runs that end before the head does; a read that fails leaves the
    // buffer as it was.
    reads.clear();
    ASSERT_TRUE(ReadStreamHead({{5, 1}}, 2, INT64_MAX, head, read));
    EXPECT_EQ(reads, (std::vector<std::pair<std::int64_t, std::int64_t>>{{5, 2}}));
    EXPECT_EQ(head[1023], 5);
    EXPECT_EQ(head[1024], 0);
    head.fill(0xCC);
    EXPECT_FALSE(ReadStreamHead({{5, 4}}, 8, INT64_MAX, head,
                                [](std::int64_t, std::int64_t, std::uint8_t*) { return false; }));
    EXPECT_EQ(head[0], 0xCC);
}

TEST(FileRefToInt64, TakesTheLowSixBytes) {
    vt::le64 ref;
    ref.b = {0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00};
    EXPECT_EQ(FileRefToInt64(ref), 5);
    EXPECT_EQ(FileRefToInt64(0xFFFFFFFFFFFFFFFFull), 0xFFFFFFFFFFFFLL);
}

TEST(IsNtfsFile, FolderFlagAndAbove) {
    tntfsfilerecord r;
    r.FileName.FileAttributes.set(0x10000000u);
    EXPECT_FALSE(IsNtfsFile(&r));
    r.FileName.FileAttributes.set(0xFFFFFFFFu);
    EXPECT_FALSE(IsNtfsFile(&r));
    r.FileName.FileAttributes.set(0x0FFFFFFFu);
    EXPECT_TRUE(IsNtfsFile(&r));
}

TEST(CompareNtfsRecords, ParentThenNameByBytes) {
    tntfsfilerecord a, b;
    a.FileName.ParentRef.set(0x0001000000000005ull);
    b.FileName.ParentRef.set(0x0002000000000005ull);  // same record, other sequence number
    a.Name = "abc";
    b.Name = "abd";
    EXPECT_EQ(CompareNtfsRecords(&a, &b), -1);
    b.Name = "abc";
    EXPECT_EQ(CompareNtfsRecords(&a, &b), 0);
    b.Name = "ABC";  // upper case first
    EXPECT_EQ(CompareNtfsRecords(&a, &b), 1);
    b.Name = "ab";   // the shorter first
    EXPECT_EQ(CompareNtfsRecords(&a, &b), 1);
    b.FileName.ParentRef.set(6);
    EXPECT_EQ(CompareNtfsRecords(&a, &b), -1);
    EXPECT_EQ(CompareNtfsRecords(&b, &a), 1);
}

// ---- fix-up and attribute extraction ----

TEST(RecordFixup, PutsTheSectorEndsBack) {
    RecordBuilder rb;
    rb.Bytes()[510] = 0xAB;
    rb.Bytes()[511] = 0xCD;
    rb.Bytes()[1022] = 0x12;
    rb.Bytes()[1023] = 0x34;
    Bytes rec = rb.Finish();
    ASSERT_EQ(rec[510], 0x07);
    EXPECT_TRUE(ApplyRecordFixup(rec));
    EXPECT_EQ(rec[510], 0xAB);
    EXPECT_EQ(rec[511], 0xCD);
    EXPECT_EQ(rec[1022], 0x12);
    EXPECT_EQ(rec[1023], 0x34);
    // Applied again it is refused (the ends no longer hold the number) and
    // changes nothing.
    EXPECT_FALSE(ApplyRecordFixup(rec));
    EXPECT_EQ(rec[511], 0xCD);
}

// A sector whose last word is not the update sequence number was written
// at another time than the rest of its record: the record is refused and
// left as read.
struct TornCase {
    const char* name;
    std::size_t at;
};
class TornRecord : public ::testing::TestWithParam<TornCase> {};

TEST_P(TornRecord, IsRefusedAndLeftAsRead) {
    RecordBuilder rb;
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    Bytes rec = rb.Finish();
    rec[GetParam().at] ^= 0x5A;
    const Bytes read = rec;
    EXPECT_FALSE(ApplyRecordFixup(rec));
    EXPECT_EQ(rec, read);
    Bytes shortRecord(512, 0);
    EXPECT_FALSE(ApplyRecordFixup(shortRecord));
}

INSTANTIATE_TEST_SUITE_P(RecordFixup, TornRecord,
                         ::testing::Values(TornCase{"FirstSectorEnd", 510}, TornCase{"FirstSectorEndHighByte", 511},
                                           TornCase{"SecondSectorEnd", 1022}, TornCase{"SecondSectorEndHighByte", 1023}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordFixup, UsesOnlyTheLowByteOfTheArrayOffset) {
    Bytes rec(1024, 0);
    rec[4] = 0x30;
    rec[5] = 0x01;  // 0x130: only 0x30 counts
    rec[0x32] = 0x11;
    rec[0x33] = 0x22;
    rec[0x34] = 0x33;
    rec[0x35] = 0x44;
    EXPECT_TRUE(ApplyRecordFixup(rec));
    EXPECT_EQ(rec[510], 0x11);
    EXPECT_EQ(rec[1023], 0x44);
}

// A 4096-byte record as mkntfs and libntfs-3g write it on a volume of
// 4096-byte sectors (tests/fixtures/ntfs-builder.c, bigrecords): its size
// comes from its header, all eight of its sector ends are checked and put
// back, and its $DATA after ten names (past byte 1024) is found. A record
// whose fifth sector end is not the number (a write torn after four of its
// sectors) is refused, and so are its first 1024 bytes alone.
TEST(RecordFixup, RecordOf4096BytesIsCheckedInEverySector) {
    const Bytes image = vt::test::ReadWholeFile(vt::test::ImagePath("ntfs-bigrecords.img"));
    ASSERT_GE(image.size(), 4096u);
    const std::size_t cluster = (image[0x0B] | (image[0x0C] << 8)) * image[0x0D];
    std::uint64_t mftLcn = 0;
    for (int i = 7; i >= 0; --i) mftLcn = (mftLcn << 8) | image[0x30 + static_cast<std::size_t>(i)];
    std::int64_t number = -1;
    std::int64_t size = 0;
    for (const auto& e : vt::test::ReadNtfsManifest("ntfs-bigrecords.manifest"))
        if (e.path == "/Links/a file of ten names.bin") number = e.record, size = e.size;
    ASSERT_GE(number, 0);
    const std::size_t at = mftLcn * cluster + static_cast<std::size_t>(number) * 4096;
    ASSERT_LE(at + 4096, image.size());
    const Bytes read(image.begin() + static_cast<std::ptrdiff_t>(at), image.begin() + static_cast<std::ptrdiff_t>(at + 4096));
    EXPECT_EQ(RecordBytes(read), 4096u);

    Bytes rec = read;
    ASSERT_TRUE(ApplyRecordFixup(rec));
    const std::size_t usa = read[4];
    for (std::size_t k = 1; k <= 8; ++k) {
        EXPECT_EQ(rec[512 * k - 2], read[usa + 2 * k]) << k;
        EXPECT_EQ(rec[512 * k - 1], read[usa + 2 * k + 1]) << k;
    }
    TAttribute data;
    ASSERT_TRUE(ExtractRecordAttribute(rec, kAttrData, data));
    ASSERT_TRUE(data.NonResident);
    EXPECT_EQ(static_cast<std::int64_t>(data.NonResident->RealSize.get()), size);

    Bytes torn = read;
    torn[4 * 512 + 510] ^= 0x5A;
    const Bytes tornRead = torn;
    EXPECT_FALSE(ApplyRecordFixup(torn));
    EXPECT_EQ(torn, tornRead);
    Bytes firstPart(read.begin(), read.begin() + 1024);
    EXPECT_FALSE(ApplyRecordFixup(firstPart));
}

TEST(ExtractRecordAttribute, ResidentUnnamedAndNamed) {
    RecordBuilder rb;
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    rb.Resident(0x80, Bytes{'a', 'b', 'c'}, u"ads");
    Bytes rec = rb.Finish();
    TAttribute attr;
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0x80, attr));
    EXPECT_TRUE(attr.Resident.has_value());
    EXPECT_FALSE(attr.NonResident.has_value());
    EXPECT_EQ(attr.Header.Type.get(), 0x80u);
    EXPECT_EQ(attr.Name, vt::test::Utf16(u"ads"));
    EXPECT_EQ(attr.Data, (Bytes{'a', 'b', 'c'}));
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0x10, attr));
    EXPECT_TRUE(attr.Name.empty());
    EXPECT_EQ(attr.Data.size(), 72u);
    EXPECT_EQ(attr.Data[0], 1);
}

TEST(ExtractRecordAttribute, NonResidentMappingPairs) {
    RecordBuilder rb;
    rb.NonResident(0x80, Bytes{0x21, 0x10, 0x00, 0x01, 0x00}, 8192, 5000);
    rb.NonResident(0xA0, Bytes{0x11, 0x01, 0x05, 0x00}, 4096, 4096, u"$I30");
    Bytes rec = rb.Finish();
    TAttribute attr;
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0x80, attr));
    ASSERT_TRUE(attr.NonResident.has_value());
    EXPECT_EQ(attr.NonResident->RealSize.get(), 5000u);
    // From offset 64 to the end of the attribute (padding included).
    ASSERT_EQ(attr.Data.size(), 8u);
    EXPECT_EQ(attr.Data[0], 0x21);
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0xA0, attr));
    EXPECT_EQ(attr.Name, vt::test::Utf16(u"$I30"));
    EXPECT_EQ(attr.Data[0], 0x11);
}

TEST(ExtractRecordAttribute, CompressedTakesTheMappingPairsOffset) {
    RecordBuilder rb;
    const std::size_t at = rb.NonResident(0x80, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x10, 0x20, 0x00}, 65536,
                                          40000, u"", 1);
    rb.Bytes()[at + 0x20] = 72;  // pairs after 8 bytes of compressed size
    Bytes rec = rb.Finish();
    TAttribute attr;
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0x80, attr));
    ASSERT_GE(attr.Data.size(), 4u);
    EXPECT_EQ(attr.Data[0], 0x11);
}

TEST(ExtractRecordAttribute, AbsentAttributes) {
    struct Case {
        const char* name;
        std::function<Bytes()> make;
    };
    const Case cases[] = {
        {"NotThere", [] { RecordBuilder rb; rb.Resident(0x10, StdInfoValue(1, 2, 3, 4)); return rb.Finish(); }},
        {"ZeroLength",
         [] {
             RecordBuilder rb;
             rb.Raw(Bytes{0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
             rb.Resident(0x80, Bytes{1});
             return rb.Finish();
         }},
        {"LengthLeavesTheRecord",
         [] {
             RecordBuilder rb;
             rb.Raw(Bytes{0x10, 0, 0, 0, 0xF0, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // to 0x428
             return rb.Finish(false);
         }},
        {"HeaderWithoutRoom",
         [] {
             RecordBuilder rb;
             rb.Raw(Bytes{0x10, 0, 0, 0, 0xC0, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // to 0x3F8
             rb.Bytes()[0x3F8] = 0x80;
             return rb.Finish(false);
         }},
        {"NonResidentPartPastTheRecord",
         [] {
             RecordBuilder rb;
             rb.Raw(Bytes{0x10, 0, 0, 0, 0xA8, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // to 0x3E0
             rb.Bytes()[0x3E0] = 0x80;
             rb.Bytes()[0x3E8] = 1;
             return rb.Finish(false);
         }},
    };
    for (const auto& c : cases) {
        Bytes rec = c.make();
        TAttribute attr;
        EXPECT_FALSE(ExtractRecordAttribute(rec, 0x80, attr)) << c.name;
    }
}

// A value longer than its attribute is cut at the attribute's end (what
// follows is the next attribute's), and is not whole.
TEST(ExtractRecordAttribute, ValuePastItsAttributeIsCutThere) {
    RecordBuilder rb;
    const std::size_t at = rb.Resident(0x80, Bytes(16, 0xAA));
    vt::test::PutLe(rb.Bytes(), at + 0x10, 0xFFFF, 4);  // claims 65535 bytes
    Bytes rec = rb.Finish();
    TAttribute attr;
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0x80, attr));
    EXPECT_EQ(attr.Data, Bytes(16, 0xAA));
    EXPECT_FALSE(ResidentValueWhole(attr));
}

// An attribute whose own length reaches past the record: its value is cut
// at the record's end.
TEST(ExtractRecordAttribute, ValuePastTheRecordIsCut) {
    RecordBuilder rb;
    const std::size_t at = rb.Resident(0x80, Bytes(16, 0xAA));
    vt::test::PutLe(rb.Bytes(), at + 0x10, 0xFFFF, 4);  // claims 65535 bytes
    vt::test::PutLe(rb.Bytes(), at + 4, 0xFFF0, 4);      // and an attribute of 65520
    Bytes rec = rb.Finish(false);
    TAttribute attr;
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0x80, attr));
    EXPECT_EQ(attr.Data.size(), 1024 - (at + 24));
    EXPECT_FALSE(ResidentValueWhole(attr));
}

TEST(ExtractRecordAttribute, NonResidentShorterThanItsHeaderHasNoPairs) {
    RecordBuilder rb;
    const std::size_t at = rb.NonResident(0x80, Bytes{0x11, 0x01, 0x05, 0x00}, 512, 512);
    vt::test::PutLe(rb.Bytes(), at + 4, 0x30, 4);
    Bytes rec = rb.Finish(false);
    TAttribute attr;
    ASSERT_TRUE(ExtractRecordAttribute(rec, 0x80, attr));
    EXPECT_TRUE(attr.Data.empty());
}

// ---- record decoding ----

namespace {

// A file record: $STANDARD_INFORMATION, $FILE_NAME(s), then what the
// caller adds.
RecordBuilder FileRecord(const std::u16string& name, std::uint64_t parent = 5, std::uint16_t flags = 1,
                         std::uint32_t fnAttributes = 0x20) {
    RecordBuilder rb(flags);
    rb.Resident(0x10, StdInfoValue(0x01D7000000000001ull, 0x01D7000000000002ull, 0x01D7000000000003ull,
                                   0x01D7000000000004ull, 0x0021));
    rb.Resident(0x30, FileNameValue(parent, name, fnAttributes));
    return rb;
}

struct Decoded {
    bool ok = false;
    std::uint16_t fnOffset = 0, flags = 0;
    std::int64_t real = 0, allocated = 0;
    TFoundRecordResult found = TFoundRecordResult::NoName;
    tntfsfilerecord rec;
};

Decoded DecodeAdvanced(Bytes rec, std::uint32_t spc = 8) {
    Decoded d;
    EXPECT_TRUE(ApplyRecordFixup(rec));
    d.ok = PhysParseMftRecord(rec, spc, d.fnOffset, d.flags, d.real, d.allocated);
    if (d.ok) d.found = BuildFoundRecord(rec, d.fnOffset, d.rec);
    return d;
}

}  // namespace

TEST(ParseMftRecord, NonResidentSizesAndTimes) {
    RecordBuilder rb = FileRecord(u"report.doc");
    rb.NonResident(0x80, Bytes{0x21, 0x10, 0x00, 0x01, 0x00}, 0xFFFF000000010000ull, 0xFFFF00000000C350ull);
    Decoded d = DecodeAdvanced(rb.Finish());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.fnOffset, 0x38 + 96);
    EXPECT_EQ(d.flags, 1);
    EXPECT_EQ(d.allocated, 0x10000);  // the low six bytes
    EXPECT_EQ(d.real, 50000);
    ASSERT_EQ(d.found, TFoundRecordResult::Accepted);
    EXPECT_EQ(d.rec.Name, "report.doc");
    EXPECT_EQ(FileRefToInt64(d.rec.FileName.ParentRef), 5);
    // Times and the low half of the attributes from $STANDARD_INFORMATION.
    EXPECT_EQ(d.rec.FileName.CreationTime.get(), 0x01D7000000000001ull);
    EXPECT_EQ(d.rec.FileName.ModificationTime.get(), 0x01D7000000000002ull);
    EXPECT_EQ(d.rec.FileName.MftChangeTime.get(), 0x01D7000000000003ull);
    EXPECT_EQ(d.rec.FileName.AccessTime.get(), 0x01D7000000000004ull);
    EXPECT_EQ(d.rec.FileName.FileAttributes.get(), 0x0021u);
}

TEST(ParseMftRecord, FolderFlagStaysFromTheFileName) {
    RecordBuilder rb = FileRecord(u"Docs", 5, 3, 0x10000010u);
    Decoded d = DecodeAdvanced(rb.Finish());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.rec.FileName.FileAttributes.get(), 0x10000021u);
    EXPECT_FALSE(IsNtfsFile(&d.rec));
    // No $DATA within seven attributes and no list: both sizes 0.
    EXPECT_EQ(d.real, 0);
    EXPECT_EQ(d.allocated, 0);
}

TEST(ParseMftRecord, ResidentDataAllocatesOneCluster) {
    RecordBuilder rb = FileRecord(u"readme.txt");
    rb.Resident(0x80, Bytes(300, 'x'));
    Decoded d = DecodeAdvanced(rb.Finish(), 4);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.real, 300);
    EXPECT_EQ(d.allocated, 2048);
}

TEST(ParseMftRecord, RejectsRecords) {
    struct Case {
        const char* name;
        Bytes rec;
    };
    RecordBuilder baad(1, "BAAD");
    baad.Resident(0x30, FileNameValue(5, u"x"));
    RecordBuilder fourth;
    fourth.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    fourth.Resident(0x40, Bytes(16));
    fourth.Resident(0x50, Bytes(16));
    fourth.Resident(0x30, FileNameValue(5, u"x"));
    RecordBuilder none;
    none.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    const Case cases[] = {{"Baad", baad.Finish()}, {"FileNameFourth", fourth.Finish()}, {"NoFileName", none.Finish()}};
    for (const auto& c : cases) EXPECT_FALSE(DecodeAdvanced(c.rec).ok) << c.name;
}

TEST(ParseMftRecord, FileNameAsThirdAttribute) {
    RecordBuilder rb;
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    rb.Resident(0x20, Bytes(32));
    const std::size_t fn = rb.Resident(0x30, FileNameValue(5, u"third"));
    Decoded d = DecodeAdvanced(rb.Finish());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.fnOffset, fn);
    EXPECT_EQ(d.rec.Name, "third");
}

struct NameCase {
    const char* name;
    std::u16string first;
    std::u16string second;  // empty: none
    TFoundRecordResult result;
    std::string listed;
};

class RecordNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(RecordNames, ListedName) {
    const NameCase& c = GetParam();
    RecordBuilder rb = FileRecord(c.first);
    if (!c.second.empty()) rb.Resident(0x30, FileNameValue(5, c.second));
    Decoded d = DecodeAdvanced(rb.Finish());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.found, c.result);
    if (c.result == TFoundRecordResult::Accepted) {
        EXPECT_EQ(d.rec.Name, c.listed);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BuildFoundRecord, RecordNames,
    ::testing::Values(
        NameCase{"TwelveCharacters", u"exactly12chr", u"", TFoundRecordResult::Accepted, "exactly12chr"},
        // A first name longer than twelve characters is listed under it.
        NameCase{"ThirteenCharacters", u"thirteen13chr", u"", TFoundRecordResult::Accepted, "thirteen13chr"},
        NameCase{"LongFirstNameOnly", u"A long file name without short name.txt", u"", TFoundRecordResult::Accepted,
                 "A long file name without short name.txt"},
        NameCase{"LongerSecondNameWins", u"LONGNA~1.TXT", u"Long name with short.txt", TFoundRecordResult::Accepted,
                 "Long name with short.txt"},
        NameCase{"LongerSecondAfterThirteen", u"thirteen13chr", u"and a longer second one",
                 TFoundRecordResult::Accepted, "and a longer second one"},
        NameCase{"SameLengthKeepsTheFirst", u"first.txt", u"other.txt", TFoundRecordResult::Accepted, "first.txt"},
        NameCase{"ShorterSecondKeepsTheFirst", u"Long name.txt", u"LONGNA~1.TXT", TFoundRecordResult::Accepted,
                 "Long name.txt"},
        NameCase{"Chinese", u"中文文档.txt", u"", TFoundRecordResult::Accepted, "中文文档.txt"},
        NameCase{"BlanksTrimmed", u" padded ", u"", TFoundRecordResult::Accepted, "padded"},
        NameCase{"BlanksOnly", u"   ", u"", TFoundRecordResult::EmptyName, ""},
        NameCase{"StopsAtZero", std::u16string(u"ab\0cd", 5), u"", TFoundRecordResult::Accepted, "ab"},
        NameCase{"EmptyName", u"", u"", TFoundRecordResult::NoName, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Names by namespace: an 8.3 name (DOS only) gives way to the file's own
// name, longer or not; the name and the folder come from one attribute.
struct NameSpaceCase {
    const char* name;
    std::u16string first, second;
    std::uint8_t firstSpace, secondSpace;
    std::string listed;
    std::uint64_t parent;
};
class RecordNameSpaces : public ::testing::TestWithParam<NameSpaceCase> {};

TEST_P(RecordNameSpaces, ListedNameAndFolder) {
    const NameSpaceCase& c = GetParam();
    RecordBuilder rb(1);
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    Bytes first = FileNameValue(40, c.first), second = FileNameValue(41, c.second);
    first[0x41] = c.firstSpace;
    second[0x41] = c.secondSpace;
    rb.Resident(0x30, first);
    rb.Resident(0x30, second);
    Decoded d = DecodeAdvanced(rb.Finish());
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.found, TFoundRecordResult::Accepted);
    EXPECT_EQ(d.rec.Name, c.listed);
    EXPECT_EQ(FileRefToInt64(d.rec.FileName.ParentRef), c.parent);
}

INSTANTIATE_TEST_SUITE_P(
    BuildFoundRecord, RecordNameSpaces,
    ::testing::Values(
        // Win32 0x01, DOS 0x02, Win32 and DOS 0x03, POSIX 0x00.
        NameSpaceCase{"Win32BeforeALongerDosName", u"a b.txt", u"AB~1.TXT", 1, 2, "a b.txt", 40},
        NameSpaceCase{"DosFirstGivesWayToWin32", u"AB~1.TXT", u"a b.txt", 2, 1, "a b.txt", 41},
        NameSpaceCase{"PosixBeforeDos", u"LONGER~1.TXT", u"x.txt", 2, 0, "x.txt", 41},
        NameSpaceCase{"Win32AndDosKeptBeforeDos", u"AB.TXT", u"ABCDEFGH.TXT", 3, 2, "AB.TXT", 40},
        // Two links of one namespace: the longer name, with its own folder.
        NameSpaceCase{"HardLinksTakeTheLongerWithItsFolder", u"linked.txt", u"other name.txt", 1, 1,
                      "other name.txt", 41},
        NameSpaceCase{"HardLinksOfOneLengthKeepTheFirst", u"one.txt", u"two.txt", 1, 1, "one.txt", 40}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildFoundRecord, NamePastTheRecordIsCut) {
    RecordBuilder rb;
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    // A $FILE_NAME near the end whose name claims 200 characters.
    rb.Raw(Bytes(0x3A0 - rb.Offset(), 0));
    vt::test::PutLe(rb.Bytes(), 0x38 + 4, 0x3A0 - 0x38, 4);
    std::size_t at = rb.Resident(0x30, FileNameValue(5, u"abcdefgh", 0x20, 0, 200));
    Bytes rec = rb.Finish(false);
    Decoded d = DecodeAdvanced(rec);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.fnOffset, at);
    ASSERT_EQ(d.found, TFoundRecordResult::Accepted);
    // The head ends 6 bytes before the record does: three characters.
    EXPECT_EQ(d.rec.Name, "abc");
}

TEST(ParseMftRecord, FileNameHeadPastTheRecordIsRejected) {
    RecordBuilder rb;
    rb.Raw(Bytes{0x10, 0, 0, 0, 0xB8, 0x03, 0, 0});  // next attribute at 0x3F0
    rb.Bytes()[0x3F0] = 0x30;
    Bytes rec = rb.Finish(false);
    EXPECT_FALSE(DecodeAdvanced(rec).ok);
}

TEST(ParseMftRecord, AdvancedStopsAtTypesAbove80) {
    // An attribute of type 0x90 before the $DATA: the advanced decoder
    // stops there; the standard one (0x80 exactly) walks on to the $DATA.
    RecordBuilder rb = FileRecord(u"f");
    rb.Resident(0x90, Bytes(8));
    rb.Resident(0x80, Bytes(100));
    Bytes rec = rb.Finish();
    Decoded adv = DecodeAdvanced(rec);
    ASSERT_TRUE(adv.ok);
    EXPECT_EQ(adv.real, 0);

    TRecordDecoderVariant standard;
    standard.ResidentAllocated = 4096;
    TMftRecordInfo info;
    EXPECT_TRUE(ApplyRecordFixup(rec));
    ASSERT_TRUE(DecodeMftRecord(rec, standard, info));
    EXPECT_EQ(info.RealSize, 100);
    EXPECT_EQ(info.AllocatedSize, 4096);
}

namespace {

Bytes ListEntry(std::uint32_t type, std::uint64_t ref, std::uint16_t length = 32) {
    Bytes e(length, 0);
    vt::test::PutLe(e, 0, type, 4);
    vt::test::PutLe(e, 4, length, 2);
    vt::test::PutLe(e, 0x10, ref, 8);
    return e;
}

}  // namespace

TEST(ParseMftRecord, SizesThroughTheAttributeList) {
    Bytes list = ListEntry(0x10, 40);
    Bytes data = ListEntry(0x80, 0x0003000000000029ull);
    list.insert(list.end(), data.begin(), data.end());
    RecordBuilder rb;
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    rb.Resident(0x20, list);
    rb.Resident(0x30, FileNameValue(5, u"big.bin"));
    Bytes rec = rb.Finish();
    EXPECT_TRUE(ApplyRecordFixup(rec));

    std::vector<std::int64_t> asked;
    TRecordDecoderVariant v;
    v.ListResidentAllocated = 512;
    v.GetList = [](std::span<std::uint8_t> r, std::vector<std::uint8_t>& value) {
        TAttribute a;
        if (!ExtractRecordAttribute(r, 0x20, a)) return false;
        value = a.Data;
        return true;
    };
    v.FetchListData = [&](std::span<std::uint8_t>, const TAttrListEntry& e, TAttribute& out) {
        asked.push_back(FileRefToInt64(e.FileRef));
        out = TAttribute{};
        out.NonResident.emplace();
        out.NonResident->AllocatedSize.set(0x7777000000020000ull);
        out.NonResident->RealSize.set(0x777700000001F000ull);
        return true;
    };
    TMftRecordInfo info;
    ASSERT_TRUE(DecodeMftRecord(rec, v, info));
    EXPECT_EQ(asked, (std::vector<std::int64_t>{41}));
    EXPECT_EQ(info.AllocatedSize, 0x20000);
    EXPECT_EQ(info.RealSize, 0x1F000);
}

TEST(ParseMftRecord, ShortAttributeListFails) {
    RecordBuilder rb;
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    rb.Resident(0x20, Bytes(20));
    rb.Resident(0x30, FileNameValue(5, u"x"));
    EXPECT_FALSE(DecodeAdvanced(rb.Finish()).ok);
}

TEST(ParseMftRecord, AdvancedTakesTheDataOfTheSameRecord) {
    Bytes list = ListEntry(0x80, 99);
    RecordBuilder rb;
    rb.Resident(0x10, StdInfoValue(1, 2, 3, 4));
    rb.Resident(0x20, list);
    rb.Resident(0x30, FileNameValue(5, u"x"));
    // Eight attributes after the name: the $DATA lies beyond the walk.
    for (int i = 0; i < 8; ++i) rb.Resident(0x40, Bytes(8));
    rb.Resident(0x80, Bytes(77));
    Decoded d = DecodeAdvanced(rb.Finish());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.real, 77);
    EXPECT_EQ(d.allocated, 0);  // a resident $DATA from the list: 0
}

TEST(Utf16LeToAnsi, ConvertsToUtf8) {
    EXPECT_EQ(Utf16LeToAnsi(vt::test::Utf16(u"a中€")), "a中€");
    EXPECT_EQ(Utf16LeToAnsi(vt::test::Utf16(u"\U0001F600")), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16LeToAnsi(Bytes{0x00, 0xD8, 0x41, 0x00}), "\xEF\xBF\xBD" "A");  // unpaired surrogate
    EXPECT_EQ(Utf16LeToAnsi(Bytes{0x41}), "");  // half a character
}
