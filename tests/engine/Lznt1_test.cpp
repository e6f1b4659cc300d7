#include "Lznt1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "TestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using vt::RunExtent;
using vt::RunWalkResult;

TEST(LzntSplitToken, NarrowsTheLengthFieldAsTheChunkGrows) {
    struct Case {
        std::int32_t p, mask, shift;
    };
    for (Case c : {Case{0, 0xFFF, 12}, Case{16, 0xFFF, 12}, Case{17, 0x7FF, 11}, Case{32, 0x7FF, 11},
                   Case{33, 0x3FF, 10}, Case{2048, 0x1F, 5}, Case{2049, 0xF, 4}, Case{4096, 0xF, 4}}) {
        std::int32_t mask = 0, shift = 0;
        vt::LzntSplitToken(c.p, mask, shift);
        EXPECT_EQ(mask, c.mask) << c.p;
        EXPECT_EQ(shift, c.shift) << c.p;
    }
    EXPECT_EQ(vt::LzntGroupLength(0x00), 8);
    EXPECT_EQ(vt::LzntGroupLength(0xFF), 16);
    EXPECT_EQ(vt::LzntGroupLength(0x12), 10);
}

TEST(LzntDecodeChunk, DecodesTokensLiteralsAndStoredChunks) {
    struct Case {
        const char* name;
        std::uint16_t header;
        Bytes data;
        Bytes prefix;  // output already produced (for token cases)
        Bytes expected;
    };
    Bytes abc8(8, 0x61);
    for (std::uint8_t c = 0x62; c <= 0x67; ++c) abc8.push_back(c);
    Bytes stored(4096);
    std::iota(stored.begin(), stored.end(), 0);
    std::vector<Case> cases = {
        {"token with offset 1 fills", 0xB000, {0x02, 0x61, 0x04, 0x00, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67}, {}, abc8},
        {"stored chunk copied as it is", 0x3FFF, stored, {}, stored},
    };
    for (const auto& c : cases) {
        Bytes out;
        ASSERT_TRUE(vt::LzntDecodeChunk(c.header, c.data, out)) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(LzntDecodeGroup, TokensCopyFromTheRightDistance) {
    // Token 0x1002 after 16 bytes: 5 bytes from 2 back; after 17: 5 from 3 back.
    Bytes out16(16);
    std::iota(out16.begin(), out16.end(), 0);
    ASSERT_TRUE(vt::LzntDecodeGroup(0x01, Bytes{0x02, 0x10}, out16));
    EXPECT_EQ(Bytes(out16.begin() + 16, out16.end()), (Bytes{14, 15, 14, 15, 14}));
    Bytes out17(17);
    std::iota(out17.begin(), out17.end(), 0);
    ASSERT_TRUE(vt::LzntDecodeGroup(0x01, Bytes{0x02, 0x10}, out17));
    EXPECT_EQ(Bytes(out17.begin() + 17, out17.end()), (Bytes{14, 15, 16, 14, 15}));
    // Offset smaller than length repeats the last bytes.
    Bytes xy{0x78, 0x79};
    ASSERT_TRUE(vt::LzntDecodeGroup(0x01, Bytes{0x02, 0x10}, xy));  // P=2: offset 2, length 5
    EXPECT_EQ(xy, (Bytes{0x78, 0x79, 0x78, 0x79, 0x78, 0x79, 0x78}));
}

TEST(LzntDecodeGroup, MalformedDataReadsNothingOutsideItsBuffers) {
    Bytes out;
    EXPECT_FALSE(vt::LzntDecodeGroup(0x01, Bytes{0x00, 0x10}, out));  // reference before the start
    Bytes one{1};
    EXPECT_TRUE(vt::LzntDecodeGroup(0x01, Bytes{0x00}, one));  // token cut off: ends the group
    EXPECT_EQ(one, Bytes{1});
}

class MemoryStream {
public:
    MemoryStream() : path_(dir_.Path() + "/out"), stream_(vt::TargetFolder::Open(dir_.Path()), "out") {}
    vt::TFileStream& Stream() { return stream_; }
    Bytes Contents() {
        stream_.Close();
        return vt::test::ReadWholeFile(path_);
    }

private:
    vt::test::TempDir dir_;
    std::string path_;
    vt::TFileStream stream_;
};

TEST(LzntDecompressUnit, UnitEndRules) {
    // Header 0 first: nothing. A chunk of size field 0 ends its unit.
    {
        MemoryStream m;
        Bytes unit(64, 0);
        EXPECT_TRUE(vt::LzntDecompressUnit(unit, m.Stream(), 1000));
        EXPECT_TRUE(m.Contents().empty());
    }
    {
        MemoryStream m;
        Bytes unit{0x00, 0x30, 0x41, 0x02, 0x30, 0x42};  // stored one-byte chunk, then another
        EXPECT_TRUE(vt::LzntDecompressUnit(unit, m.Stream(), 1000));
        EXPECT_EQ(m.Contents(), Bytes{0x41});
    }
    {
        // The stream reaching the file size ends the unit mid-way.
        MemoryStream m;
        Bytes unit{0x02, 0x30, 1, 2, 3, 0x02, 0x30, 4, 5, 6};
        EXPECT_TRUE(vt::LzntDecompressUnit(unit, m.Stream(), 2));
        EXPECT_EQ(m.Contents(), (Bytes{1, 2, 3}));
    }
    {
        // A stated size past the unit's end is cut at its end.
        MemoryStream m;
        Bytes unit{0xFF, 0x3F, 9, 8, 7};
        EXPECT_TRUE(vt::LzntDecompressUnit(unit, m.Stream(), 1000));
        EXPECT_EQ(m.Contents(), (Bytes{9, 8, 7}));
    }
}

TEST(LzntDecompressUnit, ChunkOutputIsCutAt4096Bytes) {
    // Flag 0x02: literal, then the token 0xFFF, offset 1, length 4098.
    MemoryStream m;
    Bytes unit{0x03, 0xB0, 0x02, 0x5A, 0xFF, 0x0F};
    EXPECT_TRUE(vt::LzntDecompressUnit(unit, m.Stream(), 1 << 20));
    EXPECT_EQ(m.Contents(), Bytes(4096, 0x5A));
}

// A volume of numbered clusters (512 bytes each); compressed units are made
// of stored chunks, which the decoder treats like any other chunk.
class RunWalk : public ::testing::Test {
protected:
    static constexpr std::uint32_t kCluster = 512;
    RunWalk() : volume_(200 * kCluster) {
        for (std::size_t i = 0; i < volume_.size(); ++i) volume_[i] = static_cast<std::uint8_t>(i / kCluster + i % 7);
        source_.bytesPerCluster = kCluster;
        source_.readClusters = [this](std::int64_t lcn, std::int64_t n, std::uint8_t* buf) {
            reads_.push_back({lcn, n});
            if (lcn < 0 || (lcn + n) * kCluster > static_cast<std::int64_t>(volume_.size()) || lcn == failAt_) return false;
            std::memcpy(buf, volume_.data() + lcn * kCluster, static_cast<std::size_t>(n) * kCluster);
            return true;
        };
    }
    Bytes Clusters(std::int64_t lcn, std::int64_t n) const {
        return Bytes(volume_.begin() + lcn * kCluster, volume_.begin() + (lcn + n) * kCluster);
    }
    // Writes a unit of stored chunks holding `payload` into clusters from lcn.
    void PutCompressedUnit(std::int64_t lcn, const Bytes& payload) {
        Bytes unit;
        for (std::size_t at = 0; at < payload.size(); at += 4096) {
            std::size_t n = std::min<std::size_t>(4096, payload.size() - at);
            std::uint16_t header = static_cast<std::uint16_t>(n - 1);  // stored
            unit.push_back(header & 0xFF);
            unit.push_back(header >> 8);
            unit.insert(unit.end(), payload.begin() + at, payload.begin() + at + n);
        }
        unit.push_back(0);
        unit.push_back(0);
        std::memcpy(volume_.data() + lcn * kCluster, unit.data(), unit.size());
    }
    Bytes volume_;
    vt::CompressedRunSource source_;
    std::vector<std::pair<std::int64_t, std::int64_t>> reads_;
    std::int64_t failAt_ = -1;
};

TEST_F(RunWalk, CompressedPlainAndShortLastUnits) {
    // [10 at 20][6 sparse] [16 at 40] [3 at 60][13 sparse]
    Bytes first(5000, 0x11);  // decodes to less than a unit: zero-filled to 16 clusters
    PutCompressedUnit(20, first);
    Bytes third(1000, 0x33);
    PutCompressedUnit(60, third);
    std::vector<RunExtent> runs = {{20, 10}, {0, 6}, {40, 16}, {60, 3}, {0, 13}};
    const std::int64_t size = 32 * kCluster + 1000;
    MemoryStream m;
    ASSERT_EQ(vt::WriteCompressedExtents(m.Stream(), runs, size, source_), RunWalkResult::Done);
    Bytes expected = first;
    expected.resize(16 * kCluster, 0);
    Bytes plain = Clusters(40, 16);
    expected.insert(expected.end(), plain.begin(), plain.end());
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(m.Contents(), expected);
}

TEST_F(RunWalk, LongRunsAreCopiedAndSplitAtUnitBounds) {
    // A run of 40 clusters: two plain units, then 8 clusters that begin a
    // compressed unit completed by the sparse run that follows.
    Bytes tail(2000, 0x44);
    PutCompressedUnit(132, tail);
    std::vector<RunExtent> runs = {{100, 40}, {0, 8}};
    MemoryStream m;
    ASSERT_EQ(vt::WriteCompressedExtents(m.Stream(), runs, 32 * kCluster + 2000, source_), RunWalkResult::Done);
    Bytes expected = Clusters(100, 32);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(m.Contents(), expected);
}

TEST_F(RunWalk, SparseRunsSpanningUnitsGiveZeros) {
    // [4 at 20][44 sparse]: a compressed unit, then two all-zero units.
    Bytes data(2000, 0x55);
    PutCompressedUnit(20, data);
    std::vector<RunExtent> runs = {{20, 4}, {0, 44}};
    const std::int64_t size = 48 * kCluster;
    MemoryStream m;
    ASSERT_EQ(vt::WriteCompressedExtents(m.Stream(), runs, size, source_), RunWalkResult::Done);
    Bytes expected = data;
    expected.resize(static_cast<std::size_t>(size), 0);
    EXPECT_EQ(m.Contents(), expected);
}

TEST_F(RunWalk, ListsWithoutSparseEndAndEmptyLists) {
    {
        MemoryStream m;
        std::vector<RunExtent> runs = {{70, 5}};
        ASSERT_EQ(vt::WriteCompressedExtents(m.Stream(), runs, 5 * kCluster, source_), RunWalkResult::Done);
        EXPECT_EQ(m.Contents(), Clusters(70, 5));
    }
    {
        // Runs that map less than the file leave it as far as they reach:
        // an empty list writes nothing and says so.
        MemoryStream m;
        ASSERT_EQ(vt::WriteCompressedExtents(m.Stream(), {}, 1234, source_), RunWalkResult::RunsEndEarly);
        EXPECT_EQ(m.Contents(), Bytes());
        MemoryStream n;
        const std::vector<RunExtent> runs = {{70, 5}};
        ASSERT_EQ(vt::WriteCompressedExtents(n.Stream(), runs, 5 * kCluster + 1, source_), RunWalkResult::RunsEndEarly);
        EXPECT_EQ(n.Contents(), Clusters(70, 5));
    }
    {
        MemoryStream m;
        ASSERT_EQ(vt::WriteCompressedExtents(m.Stream(), {}, 0, source_), RunWalkResult::Done);
        EXPECT_EQ(m.Contents(), Bytes());
    }
}

TEST_F(RunWalk, EachUnitDecodesFromItsOwnClustersOnly) {
    // The first unit's chunks fill its 15 clusters; the second unit has one
    // data cluster with a single chunk and no end mark after it: the
    // decoder must not run on into what the first unit left in the buffer.
    Bytes big(15 * kCluster - 2 * 2 - 2, 0x66);
    PutCompressedUnit(20, big);
    Bytes small(kCluster - 2, 0x77);  // one stored chunk filling the cluster
    volume_[80 * kCluster] = static_cast<std::uint8_t>((small.size() - 1) & 0xFF);
    volume_[80 * kCluster + 1] = static_cast<std::uint8_t>((small.size() - 1) >> 8);
    std::memcpy(volume_.data() + 80 * kCluster + 2, small.data(), small.size());
    std::vector<RunExtent> runs = {{20, 15}, {0, 1}, {80, 1}, {0, 15}};
    const std::int64_t size = 16 * kCluster + static_cast<std::int64_t>(small.size()) + 100;
    MemoryStream m;
    ASSERT_EQ(vt::WriteCompressedExtents(m.Stream(), runs, size, source_), RunWalkResult::Done);
    Bytes expected = big;
    expected.resize(16 * kCluster, 0);
    expected.insert(expected.end(), small.begin(), small.end());
    expected.resize(static_cast<std::size_t>(size), 0);
    EXPECT_EQ(m.Contents(), expected);
}

TEST_F(RunWalk, AFailedReadOrAStopEndsTheWalk) {
    failAt_ = 60;
    {
        MemoryStream m;
        std::vector<RunExtent> runs = {{40, 16}, {60, 3}, {0, 13}};
        EXPECT_EQ(vt::WriteCompressedExtents(m.Stream(), runs, 32 * kCluster, source_), RunWalkResult::ReadFailed);
        EXPECT_EQ(m.Contents(), Clusters(40, 16));  // what was written stays; no size set
    }
    {
        MemoryStream m;
        int calls = 0;
        source_.beforeRun = [&] { return ++calls < 2; };
        std::vector<RunExtent> runs = {{40, 16}, {70, 16}};
        EXPECT_EQ(vt::WriteCompressedExtents(m.Stream(), runs, 32 * kCluster, source_), RunWalkResult::Stopped);
        EXPECT_EQ(m.Contents(), Clusters(40, 16));
    }
}

}  // namespace
