// The tool windows drawn on their own thread beside a reader of the scene, with the scene update
// between frames as the frame loop runs them: under the thread sanitizer a window that writes
// what the scene stage reads shows up as a race.
#include <gtest/gtest.h>

#include <thread>

#include "scene/scene.h"
#include "tests/support/scene_models.h"
#include "tests/ui/interface_driver.h"
#include "ui/main_windows.h"

namespace qv {

namespace {

const char* const kManager = "Resource manager";

TEST(InterfaceThreadTest, WindowsDrawnBesideTheSceneStageOnlyAsk) {
    Scene scene(std::make_unique<AudioEngine>());
    for (const char* name : {"first", "second"}) {
        ASSERT_EQ(AddSceneModel(scene, name), S_OK);
    }
    UiState ui;
    ui.showResourceManager = true;
    ui.showStatistics = false;
    ModelSettingState modelSetting;
    InterfaceView view{scene, ui, {}, {}};
    InterfaceDriver driver([&view] { DrawInterface(view); });
    driver.Frames(2);

    // One press a frame, in rounds of four: every switch ends where it began.
    const ImGuiID presses[] = {
        InterfaceDriver::Id(kManager, {"Play###PlayButton"}),
        ModelListWidget(0, "##Select"),
        ModelListWidget(1, "##PhysicOn"),
        InterfaceDriver::Id(kManager, {"Stop/Reset"}),
    };
    constexpr int kRounds = 6;
    int framesSeenPlaying = 0;
    for (int frame = 0; frame < 4 * kRounds; ++frame) {
        UpdateScene(scene, ui, modelSetting, 1.0f / 60.0f);
        // Reads what the renderer reads while it records.
        std::thread sceneStage([&] {
            float sum = scene.stage.camera.eye.y + static_cast<float>(scene.render.rayTracing);
            for (const ModelRecord& record : scene.models) {
                for (const BoneState& bone : record.instance->bones) {
                    sum += bone.worldMatrix.m[3][1];
                }
                sum += record.instance->playing != 0 ? 1.0f : 0.0f;
            }
            framesSeenPlaying += scene.playback.state == PlayState::Playing ? 1 : 0;
            EXPECT_TRUE(sum == sum);
        });
        std::thread interfaceStage(
            [&] { EXPECT_TRUE(driver.Click(kManager, presses[frame % 4])) << frame; });
        sceneStage.join();
        interfaceStage.join();
    }
    UpdateScene(scene, ui, modelSetting, 1.0f / 60.0f);
    EXPECT_TRUE(ui.requests.empty());
    EXPECT_EQ(framesSeenPlaying, 3 * kRounds);  // from the frame after Play to Stop/Reset's
    EXPECT_EQ(scene.playback.state, PlayState::Stopped);
    EXPECT_FALSE(scene.models[0].entry.selected);
    EXPECT_TRUE(scene.models[1].entry.physicsOn);
}

}  // namespace

}  // namespace qv
