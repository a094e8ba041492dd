// The resource manager's lists read back as drawn: row numbers, the names its combos and status
// line show for the first entries, and the requests its controls may and may not make.
#include <gtest/gtest.h>

#include <imgui_internal.h>

#include "formats/x_model.h"
#include "scene/accessory_settings.h"
#include "scene/import_accessory.h"
#include "scene/scene.h"
#include "tests/support/content_writers.h"
#include "tests/support/scene_models.h"
#include "tests/support/x_writer.h"
#include "tests/ui/interface_driver.h"
#include "ui/main_windows.h"

namespace qv {

namespace {

const char* const kManager = "Resource manager";

// Two models, two motions and two songs, with only the resource manager open.
class ResourceManagerTest : public InterfaceSceneTest {
protected:
    ResourceManagerTest() {
        AddTwoOfEach();
        ui_.showNavigator = false;
        ui_.showStatistics = false;
        ui_.showResourceManager = true;
        driver_.Frames(2);
    }

    bool ClickIn(std::initializer_list<IdPart> path) { return driver_.ClickIn(kManager, path); }
};

TEST_F(ResourceManagerTest, ModelRowsCountFromOneAndDeleteOutsideTheListAsksNothing) {
    scene_.models[1].entry.englishName = "Second one";
    driver_.Frames(1);
    const std::string text = driver_.DrawnText(kManager);
    EXPECT_NE(text.find("1first"), std::string::npos) << text;
    EXPECT_NE(text.find("2secondSecondone"), std::string::npos) << text;  // and its English name
    // The play status above the tabs follows the play button.
    for (const auto& [state, shown] : {std::pair{PlayState::Stopped, "Playingstatus:stopped"},
                                       {PlayState::Playing, "Playingstatus:playing"},
                                       {PlayState::Paused, "Playingstatus:paused"}}) {
        scene_.playback.state = state;
        driver_.Frames(1);
        EXPECT_NE(driver_.DrawnText(kManager).find(shown), std::string::npos) << shown;
    }
    scene_.playback.state = PlayState::Stopped;
    // The row's buttons sit in the last column, under "Action".
    const ImGuiTable* table = ImGui::TableFindByID(InterfaceDriver::Id(
        kManager, {"ResourceManagerTabs", "Model", "Model list", "ModelListTable"}));
    ASSERT_NE(table, nullptr);
    ImVec2 at;
    ASSERT_TRUE(driver_.Find(kManager, ModelListWidget(0, "Model setting"), &at));
    EXPECT_GE(at.x, table->Columns[5].MinX);
    // Ticking two rows in one frame asks a tick for each: one row's pending
    // tick is not another's.
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(0, "##Select")));
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(1, "##Select")));
    ASSERT_EQ(ui_.requests.size(), 2u);
    for (const SceneRequest& request : ui_.requests) {
        EXPECT_EQ(request.kind, RequestKind::SelectModel);
        EXPECT_TRUE(request.on) << request.index;
    }
    ui_.requests.clear();
    // Even with a tick asked for them, rows before and past the list are never deleted.
    for (const std::int32_t row : {-1, 2}) {
        ui_.requests.push_back({RequestKind::SelectModel, row, true});
        RequestModelDelete(view_, row);
        EXPECT_TRUE(Asked(ui_, RequestKind::DeleteModel).empty()) << row;
    }
}

TEST_F(ResourceManagerTest, TheFirstCameraMotionAndTheFirstSongShowByName) {
    scene_.stage.cameraMotion = 0;
    scene_.playback.selectedSong = 0;
    ASSERT_TRUE(ClickIn({"ResourceManagerTabs", "Motion"}));
    driver_.Frames(1);
    const std::string text = driver_.DrawnText(kManager);
    EXPECT_NE(text.find("Selectedsong:song1.wav"), std::string::npos) << text;
    EXPECT_NE(text.find("dance.vmdCameramotion"), std::string::npos) << text;
}

TEST_F(ResourceManagerTest, MotionAndShaderRowsOfferOnlyTheActionsThatApply) {
    ASSERT_TRUE(ClickIn({"ResourceManagerTabs", "Motion"}));
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText(kManager).find("1dance.vmdDelete2walk.vmdDelete"),
              std::string::npos)
        << driver_.DrawnText(kManager);
    ASSERT_TRUE(
        ClickIn({"ResourceManagerTabs", "Motion", "Motion list", "MotionListTable", 1, "Delete"}));
    EXPECT_EQ(Asked(ui_, RequestKind::DeleteMotion), (std::vector<std::int32_t>{1}));

    // The default shader offers no "Set as default"; a built-in one no "Delete".
    scene_.shaders.push_back({{}, {false, "mine.hlsl"}});
    scene_.shaders.push_back({{}, {false, "other.hlsl"}});
    scene_.defaultShader = 2;
    ASSERT_TRUE(ClickIn({"ResourceManagerTabs", "Shader (effect)"}));
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText(kManager).find(
                  "Defaultshader:mine.hlslshaderlist#NameAction1QVshader(experimental)Setasdefault"
                  "2QVToonshaderSetasdefault3mine.hlslDelete4other.hlslSetasdefaultDelete"),
              std::string::npos)
        << driver_.DrawnText(kManager);
    const auto clickShader = [this](int row, const char* widget) {
        return ClickIn({"ResourceManagerTabs", "Shader (effect)", "shader list", "shaderListTable",
                        row, widget});
    };
    ASSERT_TRUE(clickShader(3, "Delete"));
    ASSERT_TRUE(clickShader(2, "Delete"));
    EXPECT_EQ(Asked(ui_, RequestKind::DeleteShader), (std::vector<std::int32_t>{3, 2}));
    EXPECT_FALSE(clickShader(1, "Delete"));
    // None, or one past the list: the line names nothing.
    scene_.defaultShader = 0;  // the first is a shader like any other
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText(kManager).find("Defaultshader:QVshader(experimental)shaderlist"),
              std::string::npos)
        << driver_.DrawnText(kManager);
    for (const std::int32_t none : {-1, static_cast<std::int32_t>(scene_.shaders.size())}) {
        scene_.defaultShader = none;
        driver_.Frames(1);
        EXPECT_NE(driver_.DrawnText(kManager).find("Defaultshader:shaderlist"), std::string::npos)
            << driver_.DrawnText(kManager);
    }
    scene_.defaultShader = -1;

    // The help mark explains the default and the functions a shader file needs.
    EXPECT_EQ(driver_.FirstTooltip(kManager),
              "Defaultshaderwillbeusedwhenyouloadnewmodel.Vertexshaderfunctionname:VSPixel"
              "shaderfunctionname:PS");
    // With ray tracing on, the tab chooses among the ray tracing shaders.
    scene_.render.rayTracing = true;
    scene_.render.selectedRayTracingShader = 0;
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText(kManager).find(
                  "-Raytraceddiffuse/shadow/reflection-Reflectionisconfiguredbymaterialspecular"
                  "colorandreflectiveQVRaytracingshader(experimental)Raytracingshaderselection"),
              std::string::npos)
        << driver_.DrawnText(kManager);
    scene_.render.selectedRayTracingShader = 1;
    driver_.Frames(1);
    std::string second = scene_.render.rayTracingShaderNames[1];
    std::erase(second, ' ');
    EXPECT_NE(driver_.DrawnText(kManager).find("reflective" + second + "Raytracingshaderselection"),
              std::string::npos)
        << driver_.DrawnText(kManager);
    scene_.render.selectedRayTracingShader = 2;  // none of them: an empty field
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText(kManager).find("reflective"
                                               "Raytracingshaderselection"),
              std::string::npos)
        << driver_.DrawnText(kManager);
    for (const std::string& name : scene_.render.rayTracingShaderNames) {
        ASSERT_TRUE(driver_.Choose(
            kManager, {"ResourceManagerTabs", "Shader (effect)", "Raytracing shader selection"},
            {name.c_str()}))
            << name;
    }
    EXPECT_EQ(Asked(ui_, RequestKind::ChooseRayTracingShader), (std::vector<std::int32_t>{0, 1}));
}

TEST_F(ResourceManagerTest, AClickOnTheOpacitySliderAsksAValueBelowFull) {
    const std::string text = XTexturedCube();
    XModel mesh;
    ASSERT_TRUE(
        ParseXModel(mesh, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}).ok());
    auto instance = std::make_unique<ModelInstance>();
    ASSERT_EQ(CreateModelInstance(*instance, AccessoryModel(mesh)), S_OK);
    scene_.accessories.push_back({std::move(instance), "cube.x", {}});
    ASSERT_TRUE(ClickIn({"ResourceManagerTabs", "Accessory"}));
    driver_.Frames(1);
    // Hidden earlier in the same frame: the opacity edit keeps it hidden.
    AccessorySettings hidden;
    hidden.visible = false;
    ui_.accessoryEdits.push_back({0, hidden});
    ASSERT_TRUE(ClickIn(
        {"ResourceManagerTabs", "Accessory", "Accessory list", 0, "##Accessory", "Opacity"}));
    ASSERT_EQ(ui_.accessoryEdits.size(), 2u);
    EXPECT_LT(ui_.accessoryEdits[1].settings.opacity, 0.9f);
    EXPECT_FALSE(ui_.accessoryEdits[1].settings.visible);
    SceneUpdate();
    EXPECT_LT(scene_.accessories[0].settings.opacity, 0.9f);

    // A scale or an opacity typed past either end is held inside them.
    const auto control = [](const char* label) {
        return InterfaceDriver::Id(kManager, {"ResourceManagerTabs", "Accessory", "Accessory list",
                                              0, "##Accessory", label});
    };
    for (const auto& [typed, held] : {std::pair{"5000", 1000.0f}, {"0", kMinAccessoryScale}}) {
        ASSERT_TRUE(driver_.Type(kManager, control("Scale"), typed, true));
        ASSERT_FALSE(ui_.accessoryEdits.empty()) << typed;
        EXPECT_EQ(ui_.accessoryEdits.back().settings.scale, held) << typed;
        SceneUpdate();
    }
    for (const auto& [typed, held] : {std::pair{"1.5", 1.0f}, {"-1", 0.0f}}) {
        ASSERT_TRUE(driver_.Type(kManager, control("Opacity"), typed, true));
        ASSERT_FALSE(ui_.accessoryEdits.empty()) << typed;
        EXPECT_EQ(ui_.accessoryEdits.back().settings.opacity, held) << typed;
        SceneUpdate();
    }
    // A position typed in lands on its own axis.
    ASSERT_TRUE(driver_.Type(
        kManager,
        InterfaceDriver::Id(kManager, {"ResourceManagerTabs", "Accessory", "Accessory list", 0,
                                       "##Accessory", "Position", 1, ""}),
        "2.5", true));
    ASSERT_FALSE(ui_.accessoryEdits.empty());
    EXPECT_EQ(ui_.accessoryEdits.back().settings.position, (Float3{0.0f, 2.5f, 0.0f}));
    SceneUpdate();
    // A drag of 20 pixels moves by one unit, turns by ten degrees, scales by 0.2.
    const auto drag = [this](ImGuiID control) {
        ImVec2 at;
        ASSERT_TRUE(driver_.Find(kManager, control, &at));
        ImGuiIO& io = driver_.Io();
        io.MousePos = at;
        io.MouseDown[0] = true;
        driver_.Frame();
        io.MousePos = ImVec2(at.x + 20.0f, at.y);
        driver_.Frame();
        io.MouseDown[0] = false;
        driver_.Frame();
        io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        driver_.Frame();
        ASSERT_FALSE(ui_.accessoryEdits.empty());
        SceneUpdate();
    };
    const auto axis = [](const char* label, int k) {
        return InterfaceDriver::Id(kManager, {"ResourceManagerTabs", "Accessory", "Accessory list",
                                              0, "##Accessory", label, k, ""});
    };
    const AccessorySettings before = scene_.accessories[0].settings;
    drag(axis("Position", 0));
    drag(axis("Rotation (degrees)", 0));
    drag(control("Scale"));
    const AccessorySettings& after = scene_.accessories[0].settings;
    EXPECT_FLOAT_EQ(after.position.x, before.position.x + 1.0f);
    EXPECT_FLOAT_EQ(after.rotationDegrees.x, before.rotationDegrees.x + 10.0f);
    EXPECT_NEAR(after.scale, before.scale + 0.2f, 1e-5f);
}

}  // namespace

}  // namespace qv
