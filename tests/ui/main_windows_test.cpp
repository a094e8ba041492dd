// The main tool windows clicked through Dear ImGui without a GPU, with the scene update between
// clicks.
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <map>
#include <string>
#include <thread>

#include <imgui_internal.h>

#include "formats/x_model.h"
#include "scene/camera_input.h"
#include "scene/import_accessory.h"
#include "scene/scene.h"
#include "tests/support/content_writers.h"
#include "tests/support/scene_models.h"
#include "tests/support/x_writer.h"
#include "tests/ui/interface_driver.h"
#include "ui/main_windows.h"
#include "ui/window_names.h"

namespace qv {

namespace {

const char* const kManager = "Resource manager";

// The windows over a scene with two models, two motions and two songs,
// clicked through Dear ImGui; the scene update runs between clicks where a
// request must be carried out.
class MainWindowsTest : public InterfaceSceneTest {
protected:
    MainWindowsTest() {
        view_.facts.renderDeviceName = "Test device";
        view_.facts.clientWidth = 1280;
        view_.facts.clientHeight = 720;
        view_.actions.openFileBrowser = [this] { ++browserOpened_; };
        AddTwoOfEach();
        ui_.showStatistics = false;
        driver_.Frames(2);
    }

    bool ClickIn(const char* window, std::initializer_list<IdPart> path) {
        return driver_.ClickIn(window, path);
    }
    int browserOpened_ = 0;
};

TEST_F(MainWindowsTest, PlayPausesOnTheSecondPressAndStopResetAlwaysStops) {
    ui_.showResourceManager = true;
    driver_.Frames(2);
    ASSERT_TRUE(ClickIn(kManager, {"Play###PlayButton"}));
    // The skeletons' playing flags are the scene stage's: the press waits for
    // the update, which runs before the window draws its label again.
    EXPECT_EQ(scene_.playback.state, PlayState::Stopped);
    SceneUpdate();
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Pause");
    EXPECT_EQ(scene_.models[0].instance->playing, 1u);
    ASSERT_TRUE(ClickIn(kManager, {"Play###PlayButton"}));
    SceneUpdate();
    EXPECT_EQ(scene_.playback.state, PlayState::Paused);
    EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Play");
    EXPECT_EQ(scene_.models[1].instance->playing, 0u);
    // The rewind poses the skeletons, which the scene stage may be reading
    // while the windows draw: it waits for the scene update.
    scene_.models[0].instance->motion.time = 5.0f;
    ASSERT_TRUE(ClickIn(kManager, {"Stop/Reset"}));
    EXPECT_FLOAT_EQ(scene_.models[0].instance->motion.time, 5.0f);
    EXPECT_EQ(Asked(ui_, RequestKind::StopAndReset).size(), 1u);
    SceneUpdate();
    EXPECT_FLOAT_EQ(scene_.models[0].instance->motion.time, 0.0f);
    EXPECT_TRUE(ui_.requests.empty());
    ASSERT_TRUE(ClickIn(kManager, {"Reset view"}));
    EXPECT_EQ(Asked(ui_, RequestKind::ResetView).size(), 1u);
    SceneUpdate();
    for (int press = 0; press < 2; ++press) {
        ASSERT_TRUE(ClickIn(kManager, {"Stop/Reset"}));
        SceneUpdate();
        EXPECT_EQ(scene_.playback.state, PlayState::Stopped);
        EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Play");
        ASSERT_TRUE(ClickIn(kManager, {"Play###PlayButton"}));  // from Stopped to Playing
        SceneUpdate();
        EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    }
}

TEST_F(MainWindowsTest, ModelDeleteActsOnlyOnATickedRowAndTheSceneUpdateCarriesItOut) {
    ui_.showResourceManager = true;
    driver_.Frames(2);
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(1, "Delete")));
    EXPECT_TRUE(Asked(ui_, RequestKind::DeleteModel).empty());
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(1, "##Select")));
    SceneUpdate();
    EXPECT_TRUE(scene_.models[1].entry.selected);
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(1, "Delete")));
    EXPECT_EQ(Asked(ui_, RequestKind::DeleteModel), (std::vector<std::int32_t>{1}));
    SceneUpdate();
    EXPECT_TRUE(ui_.requests.empty());
    ASSERT_EQ(scene_.models.size(), 1u);
    EXPECT_EQ(scene_.models[0].entry.name, "first");
    // The physics box asks for its model's switch to be applied.
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(0, "##PhysicOn")));
    EXPECT_TRUE(scene_.models[0].entry.physicsOn);
    EXPECT_EQ(Asked(ui_, RequestKind::SwitchPhysics), (std::vector<std::int32_t>{0}));
    SceneUpdate();
    EXPECT_FALSE(scene_.models[0].entry.physicsOn);
    EXPECT_EQ(scene_.models[0].instance->physicsEnabled, 0);
}

// A model that loaded without some files carries a mark on its row, and
// hovering the mark lists them; a row without warnings has no mark.
TEST_F(MainWindowsTest, AModelRowWithWarningsShowsThemInATooltip) {
    scene_.models[0].entry.warnings = {"texture not found: t\\a.png", "toon not found: b.bmp"};
    ui_.showResourceManager = true;
    driver_.Frames(2);
    auto tooltipAlongRow = [&](int row) {
        ImVec2 at;
        EXPECT_TRUE(driver_.Find(kManager, ModelListWidget(row, "##Select"), &at));
        // Across the number and name columns, a few pixels at a time, through
        // the middle of the row (the box was found at its upper edge).
        for (float x = at.x; x < at.x + 300.0f; x += 3.0f) {
            driver_.Io().MousePos = ImVec2(x, at.y + 6.0f);
            driver_.Frame();
            const ImGuiWindow* tip = ImGui::FindWindowByName("##Tooltip_00");
            if (tip != nullptr && tip->Active) {
                driver_.Io().MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
                return true;
            }
        }
        driver_.Io().MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        return false;
    };
    EXPECT_TRUE(tooltipAlongRow(0));
    EXPECT_FALSE(tooltipAlongRow(1));
}

TEST_F(MainWindowsTest, ClicksOnlyAskAndSeveralBeforeOneUpdateAllHappen) {
    ui_.showResourceManager = true;
    driver_.Frames(2);
    // Ticked and deleted before any update: the delete sees the tick, and a
    // second press on the same row finds it unticked.
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(1, "##Select")));
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(1, "Delete")));
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(1, "Delete")));
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(0, "##Select")));
    ASSERT_TRUE(driver_.Click(kManager, ModelListWidget(0, "Delete")));
    ASSERT_TRUE(ClickIn(kManager, {"ResourceManagerTabs", "Shader (effect)"}));
    ASSERT_TRUE(driver_.Click(
        kManager,
        InterfaceDriver::Id(kManager, {"ResourceManagerTabs", "Shader (effect)", "shader list",
                                       "shaderListTable", 0, "Set as default"})));
    EXPECT_EQ(Asked(ui_, RequestKind::DeleteModel), (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(scene_.models.size(), 2u);
    EXPECT_FALSE(scene_.models[0].entry.selected);
    EXPECT_EQ(scene_.defaultShader, 1);
    SceneUpdate();
    EXPECT_TRUE(scene_.models.empty());
    EXPECT_TRUE(scene_.models.empty());
    EXPECT_EQ(scene_.defaultShader, 0);
}

TEST_F(MainWindowsTest, DeletingThePlayingSongStopsItsSoundAndKeepsTheListsParallel) {
    ui_.showResourceManager = true;
    driver_.Frames(2);
    ASSERT_TRUE(ClickIn(kManager, {"ResourceManagerTabs", "Song"}));
    const auto row = [](int r, const char* widget) {
        return InterfaceDriver::Id(
            kManager, {"ResourceManagerTabs", "Song", "Song list", "songListTable", r, widget});
    };
    ASSERT_TRUE(driver_.Click(kManager, row(1, "Select this song")));
    SceneUpdate();
    EXPECT_EQ(scene_.playback.selectedSong, 1);
    ASSERT_NE(scene_.playback.songInstance, nullptr);
    driver_.Frame();
    EXPECT_NE(driver_.DrawnText(kManager).find("Selectedsong:song2.wav"), std::string::npos);
    // Each row is numbered and named; the selected one offers no select button.
    EXPECT_NE(driver_.DrawnText(kManager).find("1song1.wavSelectthissongDelete2song2.wavDelete"),
              std::string::npos)
        << driver_.DrawnText(kManager);
    ASSERT_TRUE(ClickIn(kManager, {"Play###PlayButton"}));
    SceneUpdate();
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    // The selected row has no select button: the first button of its row is Delete.
    ImVec2 unused;
    EXPECT_FALSE(driver_.Find(kManager, row(1, "Select this song"), &unused));
    ASSERT_TRUE(driver_.Click(kManager, row(1, "Delete")));
    EXPECT_EQ(Asked(ui_, RequestKind::DeleteSong), (std::vector<std::int32_t>{1}));
    SceneUpdate();
    EXPECT_EQ(scene_.playback.selectedSong, -1);
    EXPECT_EQ(scene_.playback.songInstance, nullptr);
    EXPECT_EQ(SongNames(scene_), (std::vector<std::string>{"song1.wav"}));
    driver_.Frame();
    EXPECT_EQ(driver_.DrawnText(kManager).find("song2.wav"), std::string::npos);
    EXPECT_EQ(scene_.songs.size(), 1u);
    driver_.Frames(2);  // the window draws the shorter list
    // Selecting another song while playing stops everything first.
    ASSERT_TRUE(driver_.Click(kManager, row(0, "Select this song")));
    SceneUpdate();
    EXPECT_EQ(scene_.playback.state, PlayState::Stopped);
}

TEST_F(MainWindowsTest, GraphicSettingCancelKeepsTheLiveValuesAndSaveAppliesThem) {
    view_.facts.renderDeviceName = "llvmpipe";
    view_.facts.clientWidth = 1920;
    view_.facts.clientHeight = 1080;
    ASSERT_TRUE(ClickIn("Navigator", {"Setting", "Graphic"}));
    ASSERT_TRUE(ui_.showGraphicSetting);
    driver_.Frames(1);
    EXPECT_NE(
        driver_.DrawnText("Graphic setting")
            .find("Renderdevice:llvmpipeRayTracingisnotsupported.Currentresolution:1920x1080"),
        std::string::npos)
        << driver_.DrawnText("Graphic setting");
    EXPECT_EQ(ui_.editAntiAliasing, 3);
    ui_.editAntiAliasing = 1;
    ui_.editResolutionIndex = scene_.render.resolutionIndex + 1;
    ui_.editShowStatistics = false;
    ui_.editRayTracing = !scene_.render.rayTracing;
    ASSERT_TRUE(ClickIn("Graphic setting", {"Cancel"}));
    EXPECT_FALSE(ui_.showGraphicSetting);
    EXPECT_TRUE(ui_.requests.empty());
    SceneUpdate();
    EXPECT_EQ(scene_.render.antiAliasing, 3);
    // Opening again shows the live values, not the abandoned edit.
    ASSERT_TRUE(ClickIn("Navigator", {"Setting", "Graphic"}));
    EXPECT_EQ(ui_.editAntiAliasing, 3);
    EXPECT_EQ(ui_.editResolutionIndex, scene_.render.resolutionIndex);
    EXPECT_TRUE(ui_.editShowStatistics);
    EXPECT_EQ(ui_.editRayTracing, scene_.render.rayTracing);
    // Where the device lacks 8 samples, MSAA 8x is greyed but still chosen.
    view_.facts.msaa8xAvailable = false;
    ASSERT_TRUE(ClickIn("Graphic setting", {"Anti-aliasing"}));
    driver_.Frame();
    const std::string list = GImGui->OpenPopupStack.back().Window->Name;
    const auto tooltipOver = [&](const char* entry) {
        ImVec2 at;
        EXPECT_TRUE(driver_.Find(list.c_str(), InterfaceDriver::Id(list.c_str(), {entry}), &at));
        driver_.Frame();
        return driver_.DrawnText("##Tooltip_00");
    };
    EXPECT_EQ(tooltipOver("MSAA 4x"), "");
    EXPECT_EQ(tooltipOver("MSAA 8x"), "Notavailableonthisdevice:drawnasMSAA4x");
    ASSERT_TRUE(driver_.ClickIn(list.c_str(), {"MSAA 8x"}));
    EXPECT_EQ(ui_.editAntiAliasing, kMsaa8x);
    ASSERT_TRUE(driver_.Choose("Graphic setting", {"Anti-aliasing"}, {"None"}));  // the first
    EXPECT_EQ(ui_.editAntiAliasing, 0);
    ui_.editAntiAliasing = 1;
    EXPECT_TRUE(ui_.editGroundShadow);
    ASSERT_TRUE(ClickIn("Graphic setting", {"Ground shadow"}));
    EXPECT_FALSE(ui_.editGroundShadow);
    EXPECT_TRUE(scene_.render.groundShadow);  // not before Save
    ASSERT_TRUE(ClickIn("Graphic setting", {"Save"}));
    EXPECT_FALSE(ui_.showGraphicSetting);
    EXPECT_EQ(Asked(ui_, RequestKind::ApplyGraphics).size(), 1u);
    SceneUpdate();
    EXPECT_TRUE(ui_.requests.empty());
    EXPECT_EQ(scene_.render.antiAliasing, 1);
    EXPECT_FALSE(scene_.render.groundShadow);
    // Opened again, every control starts from the live value.
    scene_.render.resolutionIndex = 2;
    scene_.render.diffuseQuality = 2;
    scene_.render.shadowQuality = 1;
    scene_.render.showStatistics = false;
    scene_.render.fullscreen = true;
    scene_.render.groundShadow = true;
    view_.facts.vsync = false;
    // With ray tracing ticked on a device that has it, every control is there.
    view_.facts.rayTracingSupported = true;
    ASSERT_TRUE(ClickIn("Navigator", {"Setting", "Graphic"}));
    EXPECT_EQ(ui_.editResolutionIndex, 2);
    EXPECT_EQ(ui_.editAntiAliasing, 1);
    EXPECT_FALSE(ui_.editRayTracing);
    EXPECT_EQ(ui_.editDiffuseQuality, 2);
    EXPECT_EQ(ui_.editShadowQuality, 1);
    EXPECT_FALSE(ui_.editShowStatistics);
    EXPECT_TRUE(ui_.editGroundShadow);
    EXPECT_TRUE(ui_.editFullscreen);
    EXPECT_FALSE(ui_.editVSync);
    ui_.editFullscreen = false;
    ui_.editRayTracing = true;
    ImGui::SetWindowSize("Graphic setting", ImVec2(500.0f, 400.0f));
    driver_.Frames(2);
    for (const char* control :
         {"Window resolution", "Anti-aliasing", "Ray Tracing", "Raytraced diffuse quality",
          "Raytraced shadow quality", "Ground shadow", "VSync", "Fullscreen",
          "Show frame statistics", "Save", "Cancel"}) {
        ImVec2 unused;
        EXPECT_TRUE(driver_.Find("Graphic setting",
                                 InterfaceDriver::Id("Graphic setting", {control}), &unused))
            << control;
    }
    // A quality dragged past either end of the slider is the highest or the lowest.
    const auto drag = [this](float dx) {
        ImVec2 at;
        ASSERT_TRUE(driver_.Find(
            "Graphic setting",
            InterfaceDriver::Id("Graphic setting", {"Raytraced diffuse quality"}), &at));
        ImGuiIO& io = driver_.Io();
        io.MousePos = at;
        io.MouseDown[0] = true;
        driver_.Frame();
        io.MousePos.x += dx;
        driver_.Frame();
        io.MouseDown[0] = false;
        driver_.Frame();
        io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        driver_.Frame();
    };
    drag(2000.0f);
    EXPECT_EQ(ui_.editDiffuseQuality, 3);
    drag(-2000.0f);
    EXPECT_EQ(ui_.editDiffuseQuality, 0);
    // Each quality shows by name; one out of range shows as the lowest.
    ui_.editDiffuseQuality = 3;
    ui_.editShadowQuality = 7;
    driver_.Frames(1);
    const std::string text = driver_.DrawnText("Graphic setting");
    EXPECT_NE(text.find("UltraRaytraceddiffuse"), std::string::npos) << text;
    EXPECT_NE(text.find("LowRaytracedshadow"), std::string::npos) << text;
    EXPECT_EQ(text.find("notsupported"), std::string::npos) << text;
    ui_.editShadowQuality = -1;  // below the range alike
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText("Graphic setting").find("LowRaytracedshadow"), std::string::npos)
        << driver_.DrawnText("Graphic setting");
}

TEST_F(MainWindowsTest, PhysicsSettingCancelKeepsTheWorldAndSaveChangesIt) {
    ASSERT_TRUE(ClickIn("Navigator", {"Setting", "Physics"}));
    ASSERT_TRUE(ui_.showPhysicsSetting);
    EXPECT_FLOAT_EQ(ui_.editGravity.y, -9.81f);
    ui_.editGravity = {0.0f, -3.0f, 0.0f, 0.0f};
    ASSERT_TRUE(ClickIn("Physics setting", {"Cancel"}));
    SceneUpdate();
    EXPECT_FLOAT_EQ(scene_.physics->Gravity().y, -9.81f);
    ASSERT_TRUE(ClickIn("Navigator", {"Setting", "Physics"}));
    EXPECT_FLOAT_EQ(ui_.editGravity.y, -9.81f);
    // Each component typed lands in its own axis.
    for (const auto& [axis, typed] : {std::pair{0, "0.5"}, {1, "-3"}, {2, "0.25"}}) {
        ASSERT_TRUE(driver_.Type("Physics setting",
                                 InterfaceDriver::Id("Physics setting", {"Gravity", axis, ""}),
                                 typed));
    }
    EXPECT_EQ(ui_.editGravity, (Vector4{0.5f, -3.0f, 0.25f, 0.0f}));
    // The step time is typed, not stepped by buttons beside it.
    ImVec2 at;
    EXPECT_FALSE(driver_.Find("Physics setting",
                              InterfaceDriver::Id("Physics setting", {"Simulation step time", "+"}),
                              &at));
    ui_.editStepTime = 1.0f / 120.0f;
    ASSERT_TRUE(ClickIn("Physics setting", {"Save"}));
    SceneUpdate();
    EXPECT_TRUE(ui_.requests.empty());
    EXPECT_EQ(scene_.physics->Gravity(), (Vector4{0.5f, -3.0f, 0.25f, 0.0f}));
    EXPECT_FLOAT_EQ(scene_.physics->stepSeconds, 1.0f / 120.0f);
    // Opened again, the window starts from what was saved, not from what it last showed.
    ui_.showPhysicsSetting = false;
    ui_.editGravity = {};
    ui_.editStepTime = 0.5f;
    ASSERT_TRUE(ClickIn("Navigator", {"Setting", "Physics"}));
    EXPECT_EQ(ui_.editGravity, (Vector4{0.5f, -3.0f, 0.25f, 0.0f}));
    EXPECT_FLOAT_EQ(ui_.editStepTime, 1.0f / 120.0f);
}

TEST_F(MainWindowsTest, ImportIsRefusedWhileFilesWaitAndClearsTheLastStatusOtherwise) {
    ASSERT_TRUE(scene_.importer.Request({"/nonexistent/model.pmx"}));
    ui_.showImportStatus = true;
    driver_.Frames(2);
    ASSERT_TRUE(ClickIn("Navigator", {"Asset", "Import"}));  // greyed: the press does nothing
    EXPECT_EQ(browserOpened_, 0);
    EXPECT_TRUE(ui_.showImportStatus);
    while (scene_.importer.Busy()) {
        SceneUpdate();
        std::this_thread::yield();
    }
    EXPECT_NE(scene_.importer.Status().find("Failed to load PMX model!"), std::string::npos);
    ASSERT_TRUE(ClickIn("Navigator", {"Asset", "Import"}));
    EXPECT_EQ(browserOpened_, 1);
    EXPECT_FALSE(ui_.showImportStatus);
    EXPECT_EQ(scene_.importer.Status(), "");
}

TEST_F(MainWindowsTest, F1IsLeftToATextFieldThatHasTheKeyboard) {
    InputEvent f1;
    f1.kind = InputKind::KeyDown;
    f1.key = InputKey::F1;
    const auto wants = [this] {
        return driver_.Io().WantCaptureMouse || driver_.Io().WantCaptureKeyboard;
    };
    HandleSceneInput(scene_, ui_, 0.016f, f1, wants());
    EXPECT_FALSE(ui_.showNavigator);
    HandleSceneInput(scene_, ui_, 0.016f, f1, wants());
    EXPECT_TRUE(ui_.showNavigator);
    driver_.Frames(2);
    EXPECT_EQ(driver_.DrawnText("Navigator"),
              "NavigatorF1forshowing/hidingnavigatorAssetImportManagerResourceManagerSetting"
              "GraphicPhysicsInformationAbout");
    ASSERT_TRUE(ClickIn("Navigator", {"Manager", "Resource Manager"}));
    EXPECT_TRUE(ui_.showResourceManager);
    ui_.showResourceManager = false;
    ASSERT_TRUE(ClickIn("Navigator", {"Information", "About"}));
    EXPECT_TRUE(ui_.showAbout);
    ui_.showAbout = false;
    ASSERT_TRUE(ClickIn("Navigator", {"Setting", "Physics"}));
    ASSERT_TRUE(ClickIn("Physics setting", {"Simulation step time"}));
    driver_.Frames(2);
    ASSERT_TRUE(driver_.Io().WantCaptureKeyboard);
    HandleSceneInput(scene_, ui_, 0.016f, f1, wants());
    EXPECT_TRUE(ui_.showNavigator);
    // Many presses in a row, each one a toggle, once the field lets go.
    ui_.showPhysicsSetting = false;
    driver_.Frames(3);
    ASSERT_FALSE(wants());
    for (int i = 0; i < 101; ++i) {
        HandleSceneInput(scene_, ui_, 0.016f, f1, wants());
        driver_.Frame();
    }
    EXPECT_FALSE(ui_.showNavigator);
}

TEST_F(MainWindowsTest, EveryWindowStaysReachableOnASmallDisplay) {
    ui_ = UiState{};
    for (bool* flag : {&ui_.showResourceManager, &ui_.showGraphicSetting, &ui_.showPhysicsSetting,
                       &ui_.showAbout, &ui_.showImportStatus}) {
        *flag = true;
    }
    constexpr std::array kNames = {
        "Navigator", "Resource manager", "Graphic setting",       "Physics setting",
        "About",     "Statistics",       "Import resource status"};
    // Left near the far corner of a large display, which then shrinks.
    driver_.Frames(2);
    for (const char* name : kNames) {
        ImGui::SetWindowPos(name, ImVec2(1100.0f, 650.0f));
    }
    driver_.SetDisplaySize(200.0f, 200.0f);
    driver_.Frames(4);
    for (const char* name : kNames) {
        const ImGuiWindow* window = driver_.Window(name);
        ASSERT_NE(window, nullptr) << name;
        EXPECT_GE(window->Pos.x, 0.0f) << name;
        EXPECT_GE(window->Pos.y, 0.0f) << name;
        EXPECT_LT(window->Pos.x, 200.0f - 20.0f) << name;
        EXPECT_LT(window->Pos.y, 200.0f - 10.0f) << name;
        // Along an axis it fits, a window is wholly on the display, not
        // just its corner (the overlay is pinned to its own corner instead).
        const bool pinned = std::string(name) == "Statistics";
        if (window->Size.x <= 200.0f && !pinned) {
            EXPECT_LE(window->Pos.x + window->Size.x, 200.0f) << name;
        }
        if (window->Size.y <= 200.0f && !pinned) {
            EXPECT_LE(window->Pos.y + window->Size.y, 200.0f) << name;
        }
    }
    // Growing again leaves them where they can be seen.
    driver_.SetDisplaySize(1280.0f, 720.0f);
    driver_.Frames(2);
    EXPECT_LT(driver_.Window("Resource manager")->Pos.x, 200.0f);
    // A minimised window has no height (or no width) for a while: nothing moves.
    ImGui::SetWindowPos("About", ImVec2(300.0f, 400.0f));
    for (const ImVec2 size : {ImVec2(1280.0f, 0.0f), ImVec2(0.0f, 720.0f)}) {
        driver_.SetDisplaySize(size.x, size.y);
        driver_.Frames(2);
        EXPECT_EQ(driver_.Window("About")->Pos.x, 300.0f);
        EXPECT_EQ(driver_.Window("About")->Pos.y, 400.0f);
    }
    // A display one pixel high or wide is still a display: the window goes to its edge.
    driver_.SetDisplaySize(1280.0f, 1.0f);
    driver_.Frames(2);
    EXPECT_EQ(driver_.Window("About")->Pos.y, 0.0f);
    driver_.SetDisplaySize(1.0f, 720.0f);
    driver_.Frames(2);
    EXPECT_EQ(driver_.Window("About")->Pos.x, 0.0f);
}

TEST(GraphicEditTest, RayTracingDropsMultisamplingForGood) {
    UiState ui;
    ui.editAntiAliasing = 4;
    ApplyRayTracingEdit(ui);
    EXPECT_EQ(ui.editAntiAliasing, 4);  // ray tracing still off
    ui.editRayTracing = true;
    ApplyRayTracingEdit(ui);
    EXPECT_EQ(ui.editAntiAliasing, 0);
    ui.editRayTracing = false;
    ApplyRayTracingEdit(ui);
    EXPECT_EQ(ui.editAntiAliasing, 0);  // not restored
    ui.editRayTracing = true;
    ui.editAntiAliasing = 2;  // FXAA goes along with ray tracing
    ApplyRayTracingEdit(ui);
    EXPECT_EQ(ui.editAntiAliasing, 2);
}

TEST(ImportStatusTest, TheProgressBarShowsOnlyWhileABatchRuns) {
    EXPECT_FALSE(ImportProgressShown(0.0f));
    EXPECT_TRUE(ImportProgressShown(0.25f));
    EXPECT_TRUE(ImportProgressShown(0.999f));
    EXPECT_FALSE(ImportProgressShown(1.0f));
}

TEST(WindowNamesTest, ShowOpensNamedWindowsAndNamesTheUnknownOne) {
    UiState ui;
    std::string unknown;
    EXPECT_TRUE(OpenWindowsByName("resources,about,,import-status", &ui, &unknown));
    EXPECT_TRUE(ui.showResourceManager);
    EXPECT_TRUE(ui.showAbout);
    EXPECT_TRUE(ui.showImportStatus);
    EXPECT_FALSE(ui.showGraphicSetting);
    EXPECT_FALSE(OpenWindowsByName("graphics,Navigator", &ui, &unknown));
    EXPECT_EQ(unknown, "Navigator");  // names are exact
    EXPECT_TRUE(ui.showGraphicSetting);
    EXPECT_TRUE(OpenWindowsByName("", &ui, &unknown));
    // The browser and the model setting window are left to the caller to open.
    ShownWindows shown;
    EXPECT_TRUE(OpenWindowsByName("file-browser,model-setting", &ui, &unknown, &shown));
    EXPECT_TRUE(shown.fileBrowser);
    EXPECT_TRUE(shown.modelSetting);
    EXPECT_TRUE(ui.showModelSetting);
    EXPECT_EQ(shown.modelSettingTab, -1);
    EXPECT_TRUE(OpenWindowsByName("model-setting:morph", &ui, &unknown, &shown));
    EXPECT_EQ(shown.modelSettingTab, 3);
    EXPECT_TRUE(OpenWindowsByName("model-setting:general", &ui, &unknown, &shown));
    EXPECT_EQ(shown.modelSettingTab, 0);  // the first tab is a tab too
    EXPECT_FALSE(OpenWindowsByName("model-setting:nose", &ui, &unknown, &shown));
    EXPECT_EQ(unknown, "model-setting:nose");
}

}  // namespace

TEST_F(MainWindowsTest, TheAccessoryTabHidesAndDeletesThroughTheSceneUpdate) {
    const std::string text = XTexturedCube();
    XModel mesh;
    ASSERT_TRUE(
        ParseXModel(mesh, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}).ok());
    for (const char* name : {"cube.x", "hat.x"}) {
        auto instance = std::make_unique<ModelInstance>();
        ASSERT_EQ(CreateModelInstance(*instance, AccessoryModel(mesh)), S_OK);
        scene_.accessories.push_back({std::move(instance), name, {}});
    }
    ui_.showResourceManager = true;
    driver_.Frames(2);
    ASSERT_TRUE(ClickIn(kManager, {"ResourceManagerTabs", "Accessory"}));
    driver_.Frames(1);
    const auto show = [](int r) {
        return InterfaceDriver::Id(kManager, {"ResourceManagerTabs", "Accessory", "Accessory list",
                                              r, "##Accessory", "Show"});
    };
    const auto remove = [](int r) {
        return InterfaceDriver::Id(
            kManager, {"ResourceManagerTabs", "Accessory", "Accessory list", r, "Delete"});
    };
    ASSERT_TRUE(driver_.Click(kManager, show(0)));
    // Only asked: the scene's row changes at the next update.
    EXPECT_TRUE(scene_.accessories[0].settings.visible);
    ASSERT_EQ(ui_.accessoryEdits.size(), 1u);
    EXPECT_EQ(ui_.accessoryEdits[0].row, 0);
    SceneUpdate();
    EXPECT_FALSE(scene_.accessories[0].settings.visible);
    EXPECT_TRUE(scene_.accessories[1].settings.visible);
    EXPECT_TRUE(ui_.accessoryEdits.empty());
    EXPECT_EQ(scene_.accessories[0].instance->materialMorphs[0].multiply.diffuse.w, 0.0f);
    // The hidden row goes; the other moves up with its own settings.
    ASSERT_TRUE(driver_.Click(kManager, remove(0)));
    EXPECT_EQ(Asked(ui_, RequestKind::DeleteAccessory), (std::vector<std::int32_t>{0}));
    SceneUpdate();
    ASSERT_EQ(scene_.accessories.size(), 1u);
    EXPECT_EQ(scene_.accessories[0].name, "hat.x");
    EXPECT_TRUE(scene_.accessories[0].settings.visible);
    EXPECT_EQ(scene_.accessories[0].instance->materialMorphs[0].multiply.diffuse.w, 1.0f);
    // Following a model starts at its first bone; choosing it again changes nothing.
    const auto follow = [this](std::initializer_list<IdPart> entry) {
        return driver_.Choose(
            kManager,
            {"ResourceManagerTabs", "Accessory", "Accessory list", 0, "##Accessory", "Follows"},
            entry);
    };
    ASSERT_TRUE(follow({1, "second"}));
    ASSERT_EQ(ui_.accessoryEdits.size(), 1u);
    EXPECT_EQ(ui_.accessoryEdits[0].settings.model, 1);
    EXPECT_EQ(ui_.accessoryEdits[0].settings.bone, 0);
    SceneUpdate();
    EXPECT_EQ(scene_.accessories[0].settings.model, 1);
    // Then a bone of it; the same bone again asks nothing.
    const std::vector<std::string>& bones = scene_.models[1].entry.boneNames;
    ASSERT_GE(bones.size(), 2u);
    const auto bone = [&](int b) {
        return driver_.Choose(
            kManager,
            {"ResourceManagerTabs", "Accessory", "Accessory list", 0, "##Accessory", "Bone"},
            {b, bones[static_cast<std::size_t>(b)].c_str()});
    };
    ASSERT_TRUE(bone(1));
    ASSERT_EQ(ui_.accessoryEdits.size(), 1u);
    EXPECT_EQ(ui_.accessoryEdits[0].settings.bone, 1);
    SceneUpdate();
    EXPECT_EQ(scene_.accessories[0].settings.bone, 1);
    ASSERT_TRUE(bone(1));
    EXPECT_TRUE(ui_.accessoryEdits.empty());
    ASSERT_TRUE(bone(0));  // the first bone is a bone like any other
    ASSERT_EQ(ui_.accessoryEdits.size(), 1u);
    EXPECT_EQ(ui_.accessoryEdits[0].settings.bone, 0);
    SceneUpdate();
    ASSERT_TRUE(follow({1, "second"}));
    EXPECT_TRUE(ui_.accessoryEdits.empty());
    ASSERT_TRUE(follow({"World"}));
    SceneUpdate();
    EXPECT_EQ(scene_.accessories[0].settings.model, -1);
    EXPECT_EQ(scene_.accessories[0].settings.bone, -1);
}

TEST_F(MainWindowsTest, TheCameraMotionComboChoosesAMotionAndNoneGivesTheCameraBack) {
    ui_.showResourceManager = true;
    driver_.Frames(2);
    ASSERT_TRUE(ClickIn(kManager, {"ResourceManagerTabs", "Motion"}));
    driver_.Frames(1);
    const auto choose = [this](std::initializer_list<IdPart> entry) {
        return driver_.Choose(kManager, {"ResourceManagerTabs", "Motion", "Camera motion"}, entry);
    };
    ASSERT_TRUE(choose({1, "walk.vmd"}));
    EXPECT_EQ(Asked(ui_, RequestKind::ChooseCameraMotion), (std::vector<std::int32_t>{1}));
    SceneUpdate();
    EXPECT_EQ(scene_.stage.cameraMotion, 1);
    // Opened again, the list shows the chosen motion as selected, and only it.
    ASSERT_TRUE(ClickIn(kManager, {"ResourceManagerTabs", "Motion", "Camera motion"}));
    driver_.Frames(1);
    const std::string list = GImGui->OpenPopupStack.back().Window->Name;
    std::map<std::string, ImVec2> rows;
    for (const auto& [label, entry] :
         {std::pair{"None", InterfaceDriver::Id(list.c_str(), {"None"})},
          {"dance.vmd", InterfaceDriver::Id(list.c_str(), {0, "dance.vmd"})},
          {"walk.vmd", InterfaceDriver::Id(list.c_str(), {1, "walk.vmd"})}}) {
        ASSERT_TRUE(driver_.Find(list.c_str(), entry, &rows[label])) << label;
    }
    driver_.Io().MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    driver_.Frames(1);
    EXPECT_FALSE(driver_.Highlighted(list.c_str(), rows["None"]));
    EXPECT_FALSE(driver_.Highlighted(list.c_str(), rows["dance.vmd"]));
    EXPECT_TRUE(driver_.Highlighted(list.c_str(), rows["walk.vmd"]));
    ASSERT_TRUE(driver_.ClickIn(list.c_str(), {"None"}));
    EXPECT_EQ(Asked(ui_, RequestKind::ChooseCameraMotion), (std::vector<std::int32_t>{-1}));
    SceneUpdate();
    EXPECT_EQ(scene_.stage.cameraMotion, -1);
}

}  // namespace qv
