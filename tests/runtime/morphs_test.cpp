#include "tests/runtime/test_models.h"

namespace {

PmxMorph Morph(std::u16string name, std::uint32_t type) {
    PmxMorph morph;
    morph.name = std::move(name);
    morph.type = type;
    return morph;
}

TEST(BuildMorphs, DenseTablesHoldOffsetsPerMorphAndVertex) {
    PmxModel model;
    model.vertices.resize(4);
    model.morphs.push_back(Morph(u"a", kPmxMorphVertex));
    model.morphs[0].vertexOffsets = {{1, {1, 2, 3}}, {3, {0, 0, -1}}};
    model.morphs.push_back(Morph(u"group", kPmxMorphGroup));
    model.morphs.push_back(Morph(u"scroll", kPmxMorphUv));
    model.morphs[2].uvOffsets = {{2, {0.5f, 0.25f, 9, 9}}};
    // Vertex indices outside the model are dropped, not written elsewhere.
    model.morphs.push_back(Morph(u"b", kPmxMorphVertex));
    model.morphs[3].vertexOffsets = {
        {0, {4, 4, 4}}, {-1, {7, 7, 7}}, {4, {8, 8, 8}}, {1 << 30, {9, 9, 9}}};
    ModelInstance instance = MakeInstance(model);

    EXPECT_EQ(instance.vertexMorphCount, 2u);
    EXPECT_EQ(instance.uvMorphCount, 1u);
    EXPECT_EQ(instance.vertexMorphOffsets, (std::vector<Float3>{{0, 0, 0},
                                                                {1, 2, 3},
                                                                {0, 0, 0},
                                                                {0, 0, -1},
                                                                {4, 4, 4},
                                                                {0, 0, 0},
                                                                {0, 0, 0},
                                                                {0, 0, 0}}));
    EXPECT_EQ(instance.uvMorphOffsets,
              (std::vector<Float2>{{0, 0}, {0, 0}, {0.5f, 0.25f}, {0, 0}}));
    EXPECT_EQ(instance.morphWeightByName.at(u"b"), &instance.vertexMorphWeights[1]);
    EXPECT_EQ(instance.morphWeightByName.at(u"scroll"), &instance.uvMorphWeights[0]);
    EXPECT_EQ(instance.morphWeightByName.count(u"group"), 0u);
    ASSERT_EQ(instance.morphControls.size(), 3u);
    EXPECT_EQ(instance.morphControls[1].name, "scroll");
    EXPECT_EQ(instance.morphControls[1].kind, "UV");
    EXPECT_EQ(instance.morphControls[2].kind, "Vertex");

    // A model with no vertex or UV morphs has nothing at all.
    model.morphs = {Morph(u"group", kPmxMorphGroup), Morph(u"uv1", kPmxMorphAdditionalUv1)};
    ModelInstance none = MakeInstance(model);
    EXPECT_EQ(none.vertexMorphCount + none.uvMorphCount, 0u);
    EXPECT_TRUE(none.vertexMorphWeights.empty() && none.vertexMorphOffsets.empty());
    EXPECT_TRUE(none.morphWeightByName.empty() && none.morphControls.empty());
}

TEST(BuildMorphs, SameNamedMorphsShareTheNameButKeepTheirControls) {
    PmxModel model;
    model.morphs = {Morph(u"blink", kPmxMorphVertex), Morph(u"blink", kPmxMorphMaterial),
                    Morph(u"blink", kPmxMorphUv)};
    ModelInstance instance = MakeInstance(model);
    // The later morph owns the name, so motions drive it; each supported
    // morph keeps a control of its own; the material morph gets none.
    EXPECT_EQ(instance.morphWeightByName.at(u"blink"), &instance.uvMorphWeights[0]);
    ASSERT_EQ(instance.morphControls.size(), 2u);
    EXPECT_EQ(instance.morphControls[0].weight, &instance.vertexMorphWeights[0]);
    EXPECT_EQ(instance.morphControls[1].weight, &instance.uvMorphWeights[0]);
}

}  // namespace
