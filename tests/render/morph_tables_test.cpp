// Sparse morph tables: per vertex the morphs that move it, in morph order, with their offsets.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "formats/pmx_model.h"
#include "render/model/morph_tables.h"

namespace qv {
namespace {

float F(std::uint32_t word) {
    return std::bit_cast<float>(word);
}
std::uint32_t W(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

PmxModel ModelOf(std::size_t vertices) {
    PmxModel model;
    model.vertices.resize(vertices);
    return model;
}

PmxMorph UvMorph(std::vector<PmxUvMorphOffset> offsets) {
    PmxMorph morph;
    morph.type = kPmxMorphUv;
    morph.uvOffsets = std::move(offsets);
    return morph;
}

PmxMorph VertexMorph(std::vector<PmxVertexMorphOffset> offsets) {
    PmxMorph morph;
    morph.type = kPmxMorphVertex;
    morph.vertexOffsets = std::move(offsets);
    return morph;
}

TEST(SparseMorphTable, KeepsOnlyMovingEntriesPerVertexInMorphOrder) {
    // Three UV morphs over three vertices: vertex 0 moved by morphs 0 and 2,
    // vertex 1 by none, vertex 2 by 1 and 2 (one component zero, one not,
    // still moves it). A morph of another type between them takes no index.
    PmxModel model = ModelOf(3);
    model.morphs = {
        UvMorph({{0, {1.0f, 2.0f, 7.0f, 7.0f}}}),
        VertexMorph({{0, {5.0f, 5.0f, 5.0f}}}),
        UvMorph({{1, {0.0f, -0.0f, 0, 0}}, {2, {0.0f, 5.0f, 0, 0}}}),
        UvMorph({{2, {6.0f, 0.0f, 0, 0}}, {0, {3.0f, 4.0f, 0, 0}}}),
    };
    const std::vector<std::uint32_t> expected = {
        0, 2,       2,       4,  // starts: -0 moves nothing
        0, W(1.0f), W(2.0f),     // vertex 0: morph 0
        2, W(3.0f), W(4.0f),     //           morph 2
        1, W(0.0f), W(5.0f),     // vertex 2: morph 1
        2, W(6.0f), W(0.0f),     //           morph 2
    };
    EXPECT_EQ(SparseMorphTable(model, kPmxMorphUv), expected);
}

TEST(SparseMorphTable, RepeatedAndOutsideVerticesAreResolvedAsTheFileSays) {
    PmxModel model = ModelOf(4);
    model.morphs = {
        VertexMorph({{1, {1, 2, 3}}, {3, {0, 0, -1}}}),
        // Vertex indices outside the model are dropped, not written elsewhere;
        // a vertex listed twice takes its last offset, zero or not.
        VertexMorph({{0, {4, 4, 4}},
                     {-1, {7, 7, 7}},
                     {4, {8, 8, 8}},
                     {1 << 30, {9, 9, 9}},
                     {2, {5, 5, 5}},
                     {0, {6, 6, 6}},
                     {2, {0, 0, 0}}}),
    };
    const std::vector<std::uint32_t> expected = {
        0, 1,    2,    2,        3,  // starts
        1, W(6), W(6), W(6),         // vertex 0: morph 1, its last offset
        0, W(1), W(2), W(3),         // vertex 1: morph 0
        0, W(0), W(0), W(-1.0f),     // vertex 3: morph 0
    };
    EXPECT_EQ(SparseMorphTable(model, kPmxMorphVertex), expected);
    // The same model twice gives the same table: nothing is left marked.
    EXPECT_EQ(SparseMorphTable(model, kPmxMorphVertex), expected);
    EXPECT_EQ(SparseMorphTable(model, kPmxMorphUv), std::vector<std::uint32_t>(5, 0u));
}

TEST(SparseMorphTable, EmptyShortAndNonFiniteTablesStayReadable) {
    // No morphs: the starts alone, every vertex with an empty range.
    EXPECT_EQ(SparseMorphTable(ModelOf(4), kPmxMorphVertex), std::vector<std::uint32_t>(5, 0u));
    // No vertices: one start, and nothing read from the offsets.
    PmxModel none = ModelOf(0);
    none.morphs = {VertexMorph({{0, {1, 0, 0}}})};
    EXPECT_EQ(SparseMorphTable(none, kPmxMorphVertex), std::vector<std::uint32_t>(1, 0u));
    // Morphs without offsets add nothing.
    PmxModel few = ModelOf(2);
    few.morphs = {VertexMorph({{0, {1, 0, 0}}, {1, {2, 0, 0}}}), VertexMorph({}), VertexMorph({}),
                  VertexMorph({}), VertexMorph({})};
    const std::vector<std::uint32_t> t = SparseMorphTable(few, kPmxMorphVertex);
    ASSERT_EQ(t.size(), 3u + 2u * 4u);
    EXPECT_EQ(t[2], 2u);
    // A NaN offset still reaches its vertex.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    PmxModel odd = ModelOf(1);
    odd.morphs = {UvMorph({{0, {nan, 0.0f, 0, 0}}})};
    const std::vector<std::uint32_t> n = SparseMorphTable(odd, kPmxMorphUv);
    ASSERT_EQ(n.size(), 2u + 3u);
    EXPECT_TRUE(std::isnan(F(n[3])));
}

}  // namespace
}  // namespace qv
