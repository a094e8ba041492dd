// The model setting window's material tab: the values typed or stepped through the window are
// checked before they reach the renderer, and its shader is applied between frames.
#include <gtest/gtest.h>

#include <limits>
#include <span>

#include "tests/ui/model_setting_fixture.h"

namespace qv {

namespace {

// Every number of the material, one at a time: each is checked against its own
// previous value and its own range.
TEST(MaterialValuesTest, EachFieldAloneIsRefusedOrClampedInItsOwnRange) {
    MaterialValues before;
    std::vector<std::pair<float MaterialValues::*, float>> scalars = {
        {&MaterialValues::specularStrength, std::numeric_limits<float>::max()},
        {&MaterialValues::edgeSize, std::numeric_limits<float>::max()},
        {&MaterialValues::emissionStrength, 1.0f},
        {&MaterialValues::metallic, 1.0f},
        {&MaterialValues::roughness, 1.0f},
        {&MaterialValues::reflective, 1.0f}};
    for (const auto& [field, high] : scalars) {
        before.*field = 0.25f;
        for (const auto& [typed, expected] :
             std::vector<std::pair<float, float>>{{std::numeric_limits<float>::quiet_NaN(), 0.25f},
                                                  {-2.0f, 0.0f},
                                                  {7.0f, std::min(7.0f, high)}}) {
            MaterialValues edited = before;
            edited.*field = typed;
            SanitizeMaterialValues(edited, before);
            EXPECT_EQ(edited.*field, expected) << typed;
        }
    }
    const auto colours = [](MaterialValues& v) {
        return std::vector<std::span<float>>{v.baseColor, v.specularColor, v.ambientColor,
                                             v.edgeColor, v.emissionColor};
    };
    for (std::size_t c = 0; c < colours(before).size(); ++c) {
        for (std::size_t i = 0; i < colours(before)[c].size(); ++i) {
            colours(before)[c][i] = 0.5f;
            for (const auto& [typed, expected] : std::vector<std::pair<float, float>>{
                     {std::numeric_limits<float>::infinity(), 0.5f}, {-0.5f, 0.0f}, {1.5f, 1.0f}}) {
                MaterialValues edited = before;
                colours(edited)[c][i] = typed;
                SanitizeMaterialValues(edited, before);
                EXPECT_EQ(colours(edited)[c][i], expected) << "colour " << c << " part " << i;
            }
        }
    }
}

TEST(MaterialValuesTest, TypedValuesAreRefusedOrClampedAndUntouchedOnesStay) {
    MaterialValues before;
    before.ambientColor[0] = 1.5f;  // as the content gave it
    before.specularStrength = 12.0f;
    MaterialValues typed = before;
    typed.specularStrength = -3.0f;
    typed.edgeSize = std::numeric_limits<float>::quiet_NaN();
    typed.baseColor[3] = 1.7f;
    typed.metallic = std::numeric_limits<float>::infinity();
    typed.emissionColor[1] = -0.5f;
    SanitizeMaterialValues(typed, before);
    EXPECT_EQ(typed.specularStrength, 0.0f);
    EXPECT_EQ(typed.edgeSize, before.edgeSize);
    EXPECT_EQ(typed.baseColor[3], 1.0f);
    EXPECT_EQ(typed.metallic, before.metallic);
    EXPECT_EQ(typed.emissionColor[1], 0.0f);
    EXPECT_EQ(typed.ambientColor[0], 1.5f);
    // A content value that is no number gives way to 0 once edited.
    before.roughness = std::numeric_limits<float>::quiet_NaN();
    typed = before;
    typed.roughness = std::numeric_limits<float>::quiet_NaN();
    SanitizeMaterialValues(typed, before);
    EXPECT_EQ(typed.roughness, 0.0f);
}

TEST_F(ModelSettingTest, UseThisShaderIsCarriedOutByTheSceneUpdateAndRayTracingHidesIt) {
    OpenSecondModel();
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Material"}));
    ASSERT_TRUE(ChooseIn({"ModelSettingTabs", "Material", "Material select"}, {0, "skin"}));
    EXPECT_EQ(modelSetting_.materialIndex, 0);
    // Every control of the material is there, the colours by their swatch.
    for (const char* colour :
         {"Base color", "Specular color", "Ambient color", "Edge color", "Emission color"}) {
        EXPECT_TRUE(
            Shown({"ModelSettingTabs", "Material", "Material data", colour, "##ColorButton"}))
            << colour;
    }
    for (const char* control :
         {"Specular strength", "Draw Edge", "Edge size", "Emission strength", "Metallic",
          "Roughness", "Reflective", "Cast shadow", "Receive shadow"}) {
        EXPECT_TRUE(Shown({"ModelSettingTabs", "Material", "Material data", control})) << control;
    }
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Material", "Shader"}));
    ASSERT_TRUE(ChooseIn({"ModelSettingTabs", "Material", "Shader", "Shader select"},
                         {0, scene_.shaders[0].entry.name.c_str()}));
    EXPECT_EQ(modelSetting_.shaderSelectIndex, 0);
    driver_.Frames(1);
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Material", "Shader", "Use this shader"}));
    EXPECT_EQ(Asked(ui_, RequestKind::ApplyShader).size(), 1u);
    EXPECT_EQ(appliedShader_[0], -1);
    SceneUpdate();
    EXPECT_TRUE(ui_.requests.empty());
    EXPECT_EQ(appliedShader_, (std::array<std::int32_t, 3>{1, 0, 0}));
    // With no material chosen (a model without materials) there is no button,
    // and a request that comes anyway applies nothing.
    appliedShader_ = {-1, -1, -1};
    modelSetting_.materialIndex = -1;
    driver_.Frames(1);
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Material", "Shader", "Use this shader"}));
    ui_.requests.push_back({RequestKind::ApplyShader});
    SceneUpdate();
    EXPECT_EQ(appliedShader_[0], -1);
    modelSetting_.materialIndex = 0;
    // Nor does one for a shader past the list.
    modelSetting_.shaderSelectIndex = static_cast<std::int32_t>(scene_.shaders.size());
    ui_.requests.push_back({RequestKind::ApplyShader});
    SceneUpdate();
    EXPECT_EQ(appliedShader_[0], -1);
    modelSetting_.shaderSelectIndex = 0;
    // Nor, with no model bound, one that names a material and a shader.
    OpenModelSetting(view_, 7);
    ASSERT_EQ(modelSetting_.model, nullptr);
    modelSetting_.materialIndex = 0;
    modelSetting_.shaderSelectIndex = 0;
    ui_.requests.push_back({RequestKind::ApplyShader});
    SceneUpdate();
    EXPECT_EQ(appliedShader_[0], -1);
    OpenModelSetting(view_, 1);
    // With ray tracing on, the raster-only controls and the shader node go.
    EXPECT_TRUE(Shown({"ModelSettingTabs", "Material", "Material data", "Draw Edge"}));
    scene_.render.rayTracing = true;
    driver_.Frames(2);
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Material", "Material data", "Draw Edge"}));
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Material", "Shader"}));
    EXPECT_TRUE(Shown({"ModelSettingTabs", "Material", "Material data", "Receive shadow"}));
}

// The step buttons change a value by its own step, and one stepped or typed
// out of its range is brought back before it is queued.
TEST_F(ModelSettingTest, SteppedValuesMoveByTheirStepAndStayInRange) {
    OpenSecondModel();
    ChooseMaterial(view_, 0);
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Material"}));
    const auto step = [this](const char* control, const char* button) {
        return ClickIn({"ModelSettingTabs", "Material", "Material data", control, button});
    };
    ASSERT_TRUE(step("Edge size", "-"));
    ASSERT_TRUE(step("Specular strength", "-"));
    int stepped = 0;
    for (const ModelEdit& edit : modelSetting_.edits) {
        if (edit.kind == ModelEdit::Kind::Material) {
            ++stepped;
            EXPECT_EQ(edit.material.edgeSize, 0.0f);
            EXPECT_EQ(edit.material.specularStrength, 0.0f);
        }
    }
    EXPECT_EQ(stepped, 2);
    SceneUpdate();
    ASSERT_TRUE(step("Edge size", "+"));
    SceneUpdate();
    EXPECT_FLOAT_EQ(materials_[0].edgeSize, 0.01f);
    EXPECT_EQ(materials_[0].specularStrength, 0.0f);
    // The specular strength steps by a hundredth, and by one with Ctrl held.
    ASSERT_TRUE(step("Specular strength", "+"));
    SceneUpdate();
    driver_.Io().KeyCtrl = true;
    ASSERT_TRUE(step("Specular strength", "+"));
    driver_.Io().KeyCtrl = false;
    SceneUpdate();
    EXPECT_FLOAT_EQ(materials_[0].specularStrength, 1.01f);
    // A fraction runs from 0 to 1 along its slider; one typed past either
    // end is held at that end.
    ASSERT_TRUE(ClickSlider({"ModelSettingTabs", "Material", "Material data", "Roughness"}, 0.5f));
    SceneUpdate();
    EXPECT_NEAR(materials_[0].roughness, 0.5f, 0.05f);
    for (const auto& [typed, held] : {std::pair{"1.5", 1.0f}, {"-0.5", 0.0f}}) {
        ASSERT_TRUE(driver_.Type(kWindow,
                                 InterfaceDriver::Id(kWindow, {"ModelSettingTabs", "Material",
                                                               "Material data", "Metallic"}),
                                 typed, true));
        SceneUpdate();
        EXPECT_EQ(materials_[0].metallic, held) << typed;
    }
}

}  // namespace

}  // namespace qv
