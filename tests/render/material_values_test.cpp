// The model setting window's material values against the GPU record they are stored in.
#include <gtest/gtest.h>

#include "render/model/material_values.h"
#include "render/model/model_resources.h"

namespace qv {
namespace {

// A model of two materials, without any GPU object: the values live in the
// CPU copies the per-frame uploads read.
ModelGpu TwoMaterials() {
    ModelGpu model;
    model.materials.resize(2);
    model.materialConstants.resize(2);
    model.materials[1].shaderSetName = "QV shader";
    return model;
}

MaterialValues EveryValueChanged() {
    MaterialValues v;
    v.baseColor[0] = 0.1f;
    v.baseColor[3] = 0.5f;
    v.specularColor[1] = 0.2f;
    v.specularStrength = 7.0f;
    v.ambientColor[2] = 0.3f;
    v.drawEdge = true;
    v.edgeSize = 1.5f;
    v.edgeColor[0] = 0.4f;
    v.emissionColor[1] = 0.6f;
    v.emissionStrength = 0.7f;
    v.metallic = 0.8f;
    v.roughness = 0.25f;
    v.reflective = 0.9f;
    v.castShadow = true;
    v.receiveShadow = true;
    return v;
}

void ExpectSameValues(const MaterialValues& a, const MaterialValues& b) {
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(a.baseColor[i], b.baseColor[i]);
        EXPECT_EQ(a.edgeColor[i], b.edgeColor[i]);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a.specularColor[i], b.specularColor[i]);
        EXPECT_EQ(a.ambientColor[i], b.ambientColor[i]);
        EXPECT_EQ(a.emissionColor[i], b.emissionColor[i]);
    }
    EXPECT_EQ(a.specularStrength, b.specularStrength);
    EXPECT_EQ(a.drawEdge, b.drawEdge);
    EXPECT_EQ(a.edgeSize, b.edgeSize);
    EXPECT_EQ(a.emissionStrength, b.emissionStrength);
    EXPECT_EQ(a.metallic, b.metallic);
    EXPECT_EQ(a.roughness, b.roughness);
    EXPECT_EQ(a.reflective, b.reflective);
    EXPECT_EQ(a.castShadow, b.castShadow);
    EXPECT_EQ(a.receiveShadow, b.receiveShadow);
}

TEST(MaterialValuesTest, EveryWrittenValueReadsBackAndReachesItsRecord) {
    ModelGpu model = TwoMaterials();
    MaterialValues before;
    ASSERT_TRUE(ReadMaterialValues(model, 0, &before));
    const MaterialValues written = EveryValueChanged();
    WriteMaterialValues(model, 1, written);
    MaterialValues read;
    ASSERT_TRUE(ReadMaterialValues(model, 1, &read));
    ExpectSameValues(read, written);
    // The switches the draws test live in the draw record and the constants.
    EXPECT_TRUE(model.materials[1].drawEdge);
    EXPECT_TRUE(model.materials[1].castShadow);
    EXPECT_EQ(model.materialConstants[1].receiveShadow, 1u);
    EXPECT_EQ(model.materialConstants[1].metallic, 0.8f);
    // The shader name is shown, never written.
    EXPECT_EQ(read.shaderName, "QV shader");
    // The other material is untouched.
    MaterialValues other;
    ASSERT_TRUE(ReadMaterialValues(model, 0, &other));
    ExpectSameValues(other, before);
}

TEST(MaterialValuesTest, SwitchesTurnOffAgainAndIndicesOutOfRangeChangeNothing) {
    ModelGpu model = TwoMaterials();
    MaterialValues before;
    ASSERT_TRUE(ReadMaterialValues(model, 1, &before));
    WriteMaterialValues(model, 0, EveryValueChanged());
    MaterialValues off = EveryValueChanged();
    off.drawEdge = off.castShadow = off.receiveShadow = false;
    WriteMaterialValues(model, 0, off);
    EXPECT_FALSE(model.materials[0].drawEdge);
    EXPECT_FALSE(model.materials[0].castShadow);
    EXPECT_EQ(model.materialConstants[0].receiveShadow, 0u);

    MaterialValues ignored;
    EXPECT_FALSE(ReadMaterialValues(model, -1, &ignored));
    EXPECT_FALSE(ReadMaterialValues(model, 2, &ignored));
    WriteMaterialValues(model, 2, EveryValueChanged());
    WriteMaterialValues(model, -1, EveryValueChanged());
    MaterialValues second;
    ASSERT_TRUE(ReadMaterialValues(model, 1, &second));
    ExpectSameValues(second, before);
}

}  // namespace
}  // namespace qv
