// The read cursor must yield zeros, never overrun, when the bytes run out.
#include "formats/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {

TEST(ByteReader, ReadsLittleEndianAndAdvances) {
    const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x80, 0x3F};
    ByteReader r(bytes);
    EXPECT_EQ(r.ReadU16(), 0x0201);
    EXPECT_EQ(r.ReadU16(), 0x0403);
    EXPECT_EQ(r.ReadF32(), 1.0f);
    EXPECT_EQ(r.position(), 8u);
    EXPECT_EQ(r.remaining(), 0u);
}

TEST(ByteReader, ReadThatDoesNotFitYieldsZeroAndConsumesNothing) {
    const std::vector<std::uint8_t> bytes = {0xAA, 0xBB, 0xCC};
    ByteReader r(bytes);
    EXPECT_EQ(r.ReadU32(), 0u);
    EXPECT_EQ(r.position(), 0u);
    // The smaller field that still fits is read normally afterwards.
    EXPECT_EQ(r.ReadU16(), 0xBBAA);
    EXPECT_TRUE(r.Take(2).empty());
    EXPECT_EQ(r.ReadU8(), 0xCC);
    EXPECT_EQ(r.ReadU8(), 0);
    EXPECT_EQ(r.position(), 3u);
}

TEST(ByteReader, EmptyBufferReadsNothing) {
    ByteReader none;
    EXPECT_EQ(none.ReadU32(), 0u);
    EXPECT_FALSE(none.CanRead(0));
    std::vector<std::uint8_t> empty;
    ByteReader r(empty);
    EXPECT_EQ(r.ReadU8(), 0);
    EXPECT_EQ(r.position(), 0u);
}

TEST(ByteReader, IndexWidthsWidenByTheAllOnesRule) {
    const std::vector<std::uint8_t> bytes = {0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x00};
    ByteReader r(bytes);
    EXPECT_EQ(r.ReadIndex(1), -1);
    EXPECT_EQ(r.ReadIndex(1), 254);
    EXPECT_EQ(r.ReadIndex(2), -1);
    EXPECT_EQ(r.ReadIndex(2), 65534);
    EXPECT_EQ(r.ReadIndex(4), -1);
    // Widths the format does not define read nothing at all.
    const std::uint32_t before = r.position();
    EXPECT_EQ(r.ReadIndex(3), 0);
    EXPECT_EQ(r.ReadIndex(0), 0);
    EXPECT_EQ(r.position(), before);
    EXPECT_EQ(r.ReadIndex(2), 7);
}

}  // namespace qv
