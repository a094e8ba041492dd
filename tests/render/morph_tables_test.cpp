// Sparse morph tables: per vertex the morphs that move it, in morph order, with their offsets.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "render/model/morph_tables.h"

namespace qv {
namespace {

float F(std::uint32_t word) {
    return std::bit_cast<float>(word);
}
std::uint32_t W(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

TEST(SparseMorphTable, KeepsOnlyMovingEntriesPerVertexInMorphOrder) {
    // Three morphs over three vertices, two floats per entry (as UV morphs):
    // vertex 0 moved by morphs 0 and 2, vertex 1 by none, vertex 2 by 1 and 2
    // (one component zero, one not, still moves it).
    const std::vector<float> dense = {
        1.0f, 2.0f, 0.0f, 0.0f,  0.0f, 0.0f,  // morph 0
        0.0f, 0.0f, 0.0f, -0.0f, 0.0f, 5.0f,  // morph 1
        3.0f, 4.0f, 0.0f, 0.0f,  6.0f, 0.0f,  // morph 2
    };
    const std::vector<std::uint32_t> expected = {
        0, 2,       2,       4,  // starts: -0 moves nothing
        0, W(1.0f), W(2.0f),     // vertex 0: morph 0
        2, W(3.0f), W(4.0f),     //           morph 2
        1, W(0.0f), W(5.0f),     // vertex 2: morph 1
        2, W(6.0f), W(0.0f),     //           morph 2
    };
    EXPECT_EQ(SparseMorphTable(dense, 3, 3, 2), expected);
}

TEST(SparseMorphTable, EmptyShortAndNonFiniteTablesStayReadable) {
    // No morphs: the starts alone, every vertex with an empty range.
    EXPECT_EQ(SparseMorphTable({}, 0, 4, 3), std::vector<std::uint32_t>(5, 0u));
    // No vertices: one start, and nothing read from the offsets.
    EXPECT_EQ(SparseMorphTable(std::vector<float>{1.0f}, 1, 0, 3),
              std::vector<std::uint32_t>(1, 0u));
    // A table shorter than its morph count claims: only whole morphs count.
    const std::vector<float> shortTable = {1.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f, 9.0f};
    const std::vector<std::uint32_t> t = SparseMorphTable(shortTable, 5, 2, 3);
    ASSERT_EQ(t.size(), 3u + 2u * 4u);
    EXPECT_EQ(t[2], 2u);
    // A NaN offset still reaches its vertex, as over the dense table.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::uint32_t> n = SparseMorphTable(std::vector<float>{nan, 0.0f}, 1, 1, 2);
    ASSERT_EQ(n.size(), 2u + 3u);
    EXPECT_TRUE(std::isnan(F(n[3])));
}

}  // namespace
}  // namespace qv
