// A scene frame must apply requests once, keep lists parallel and play everything in step.
#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "formats/vmd_names.h"
#include "formats/vpd_pose.h"
#include "runtime/physics_bodies.h"
#include "scene/play_everything.h"
#include "scene/scene.h"
#include "tests/support/content_writers.h"
#include "tests/support/scene_models.h"
#include "tests/support/temp_file.h"
#include "tests/support/x_writer.h"

namespace qv {

namespace {

// A scene with a few of everything, built the way a finished import leaves it.
class SceneUpdateTest : public ::testing::Test {
protected:
    SceneUpdateTest() : scene_(std::make_unique<AudioEngine>()) {}

    void SetUp() override {
        scene_.waitForGpu = [this] { ++gpuWaits_; };
        for (int i = 0; i < 3; ++i)
            AddModel("model" + std::to_string(i));
        for (int i = 0; i < 3; ++i) {
            scene_.motions.push_back({{}, "motion" + std::to_string(i)});
        }
        for (int i = 0; i < 3; ++i) {
            scene_.songs.push_back(
                {std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(48000)),
                 "song" + std::to_string(i)});
        }
        for (int i = 0; i < 2; ++i) {
            scene_.shaders.push_back({{}, {false, "user" + std::to_string(i)}});
        }
    }

    void AddModel(const std::string& name) { ASSERT_EQ(AddSceneModel(scene_, name), S_OK); }

    void Frame(float dt = 1.0f / 60.0f) { UpdateScene(scene_, ui_, modelSetting_, dt); }

    Scene scene_;
    UiState ui_;
    ModelSettingState modelSetting_;
    int gpuWaits_ = 0;
};

}  // namespace

TEST_F(SceneUpdateTest, RemovingAModelKeepsRowsParallelAndFreesItsBodies) {
    modelSetting_.modelRow = 1;
    modelSetting_.model = scene_.models[1].instance.get();
    const ModelInstance* removed = scene_.models[1].instance.get();
    std::vector<const ModelInstance*> released;
    scene_.releaseModelResources = [&](const ModelInstance& m) { released.push_back(&m); };
    const int objectsBefore = scene_.physics->world().getNumCollisionObjects();
    ui_.requests.push_back({RequestKind::DeleteModel, 1});
    Frame();
    EXPECT_TRUE(ui_.requests.empty());
    ASSERT_EQ(scene_.models.size(), 2u);
    EXPECT_EQ(scene_.models[1].entry.name, "model2");
    EXPECT_EQ(modelSetting_.model, nullptr);
    EXPECT_EQ(modelSetting_.modelRow, -1);
    EXPECT_EQ(scene_.physics->world().getNumCollisionObjects(), objectsBefore - 2);
    EXPECT_EQ(gpuWaits_, 1);
    EXPECT_EQ(released, (std::vector<const ModelInstance*>{removed}));  // its GPU half too
    ui_.requests.push_back({RequestKind::DeleteModel, 7});  // out of range: nothing happens
    Frame();
    EXPECT_EQ(scene_.models.size(), 2u);
}

TEST_F(SceneUpdateTest, RemovingMotionsMovesTheSelectedOne) {
    modelSetting_.motionSelectIndex = 2;
    ui_.requests.push_back({RequestKind::DeleteMotion, 0});
    Frame();
    EXPECT_EQ(modelSetting_.motionSelectIndex, 1);
    EXPECT_EQ(MotionNames(scene_), (std::vector<std::string>{"motion1", "motion2"}));
    ui_.requests.push_back({RequestKind::DeleteMotion, 1});
    Frame();
    EXPECT_EQ(modelSetting_.motionSelectIndex, -1);
    EXPECT_EQ(scene_.motions.size(), scene_.motions.size());
}

TEST_F(SceneUpdateTest, SongRemovalFollowsTheSelection) {
    SelectSong(scene_, 2);
    ASSERT_NE(scene_.playback.songInstance, nullptr);
    ui_.requests.push_back(
        {RequestKind::DeleteSong, 0});  // before the selected one: the same song stays selected
    Frame();
    EXPECT_EQ(scene_.playback.selectedSong, 1);
    EXPECT_EQ(scene_.songs[scene_.playback.selectedSong].name, "song2");
    EXPECT_NE(scene_.playback.songInstance, nullptr);
    ui_.requests.push_back({RequestKind::DeleteSong, 1});  // the selected one: no song, no instance
    Frame();
    EXPECT_EQ(scene_.playback.selectedSong, -1);
    EXPECT_EQ(scene_.playback.songInstance, nullptr);
    EXPECT_EQ(SongNames(scene_), (std::vector<std::string>{"song1"}));
}

TEST_F(SceneUpdateTest, ShaderRemovalKeepsBuiltInsAndResetsTheDefault) {
    scene_.defaultShader = 3;
    modelSetting_.shaderSelectIndex = 3;
    ui_.requests.push_back({RequestKind::DeleteShader, 0});  // built in: stays
    ui_.requests.push_back({RequestKind::DeleteShader, 4});  // past the list: nothing
    Frame();
    EXPECT_EQ(scene_.shaders.size(), 4u);
    ui_.requests.push_back({RequestKind::DeleteShader, 3});
    Frame();
    EXPECT_EQ(scene_.defaultShader, 1);  // the toon shader again
    EXPECT_EQ(modelSetting_.shaderSelectIndex, -1);
    EXPECT_EQ(scene_.shaders.size(), 3u);
    EXPECT_EQ(scene_.shaders[1].entry.name, "QV Toon shader");
}

TEST_F(SceneUpdateTest, PlayPauseAndStopDriveSongAndModelsTogether) {
    SelectSong(scene_, 0);
    PressPlay(scene_);
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Pause");
    EXPECT_EQ(scene_.playback.songInstance->GetState(), SoundState::Playing);
    for (auto& m : scene_.models)
        EXPECT_EQ(m.instance->playing, 1);
    for (int i = 0; i < 5; ++i)
        Frame();
    PressPlay(scene_);
    EXPECT_EQ(scene_.playback.state, PlayState::Paused);
    EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Play");
    EXPECT_EQ(scene_.playback.songInstance->GetState(), SoundState::Paused);
    for (auto& m : scene_.models)
        EXPECT_EQ(m.instance->playing, 0);
    PressPlay(scene_);
    // Choosing another song while playing stops everything and rewinds.
    SelectSong(scene_, 1);
    EXPECT_EQ(scene_.playback.state, PlayState::Stopped);
    EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Play");
    EXPECT_EQ(scene_.playback.songInstance->GetState(), SoundState::Stopped);
    for (auto& m : scene_.models) {
        EXPECT_EQ(m.instance->playing, 0);
        EXPECT_EQ(m.instance->motion.time, 0.0f);
    }
    // With no song selected the play button still plays the motions.
    scene_.playback.songInstance.reset();
    scene_.playback.selectedSong = -1;
    PressPlay(scene_);
    EXPECT_EQ(scene_.models[0].instance->playing, 1);
}

TEST_F(SceneUpdateTest, PhysicsSwitchAndSettings) {
    ui_.requests.push_back({RequestKind::SwitchPhysics, 0, false});
    Frame();
    EXPECT_TRUE(ui_.requests.empty());
    EXPECT_FALSE(scene_.models[0].entry.physicsOn);
    EXPECT_EQ(scene_.models[0].instance->physicsEnabled, 0);
    EXPECT_EQ(scene_.models[1].instance->physicsEnabled, 1);

    ui_.editStepTime = 1.0f / 120.0f;
    ui_.editGravity = {0, -20, 0, 0};
    ui_.requests.push_back({RequestKind::ApplyPhysics});
    Frame();
    EXPECT_TRUE(ui_.requests.empty());
    EXPECT_FLOAT_EQ(scene_.physics->stepSeconds, 1.0f / 120.0f);
    EXPECT_FLOAT_EQ(scene_.physics->Gravity().y, -20.0f);
}

TEST_F(SceneUpdateTest, GraphicsSettingsApplyOnce) {
    bool vsync = true;
    std::vector<Resolution> resizes;
    int rebuilds = 0;
    scene_.hooks.getVsync = [&] { return vsync; };
    scene_.hooks.setVsync = [&](bool on) { vsync = on; };
    scene_.hooks.resize = [&](std::uint32_t w, std::uint32_t h) { resizes.push_back({w, h}); };
    scene_.hooks.rebuildAccelerationStructures = [&] { return ++rebuilds, true; };
    scene_.render.rayTracingAvailable = true;

    scene_.physics->accumulator = 0.01f;
    ui_.editVSync = false;
    ui_.editResolutionIndex = 3;
    ui_.editAntiAliasing = 4;
    ui_.editRayTracing = true;
    ui_.editDiffuseQuality = 2;
    ui_.editShadowQuality = 7;  // past the highest
    ui_.editShowStatistics = false;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_FALSE(scene_.render.showStatistics);
    EXPECT_FALSE(ui_.showStatistics) << "the overlay follows at once";
    EXPECT_FALSE(vsync);
    EXPECT_EQ(scene_.physics->accumulator, 0.0f);  // changing vsync restarts the accumulator
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0].width, 1920u);
    EXPECT_EQ(scene_.render.renderWidth, 1920u);
    EXPECT_EQ(scene_.render.renderHeight, 1080u);
    EXPECT_EQ(scene_.render.antiAliasingMode, 4);
    EXPECT_TRUE(scene_.render.rayTracing);
    EXPECT_EQ(scene_.render.diffuseSamples, 12u);
    EXPECT_EQ(scene_.render.shadowQuality, 3);
    EXPECT_EQ(scene_.render.shadowSamples, 16u);
    EXPECT_EQ(rebuilds, 1);   // in the same frame
    EXPECT_EQ(gpuWaits_, 1);  // once, however many changes wanted it

    // Only what changed is applied again; a quality below the lowest is the lowest.
    ui_.editShadowQuality = 1;
    ui_.editDiffuseQuality = -2;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_EQ(scene_.render.shadowSamples, 8u);
    EXPECT_EQ(scene_.render.diffuseQuality, 0);
    EXPECT_EQ(scene_.render.diffuseSamples, 4u);
    ui_.editDiffuseQuality = 9;  // past the highest: the highest
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_EQ(scene_.render.diffuseQuality, 3);
    ui_.editDiffuseQuality = 2;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_EQ(scene_.render.diffuseSamples, 12u);
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(resizes.size(), 1u);  // the size did not change: no new swapchain
    // Ray tracing switched on again alone: nothing else waited, the rebuild does.
    for (const bool on : {false, true}) {
        ui_.editRayTracing = on;
        ui_.requests.push_back({RequestKind::ApplyGraphics});
        Frame(0.0f);
        EXPECT_EQ(scene_.render.rayTracing, on);
    }
    EXPECT_EQ(rebuilds, 2);
    EXPECT_EQ(gpuWaits_, 2);

    // A failed rebuild falls back to rasterising.
    scene_.hooks.rebuildAccelerationStructures = [] { return false; };
    ui_.requests.push_back({RequestKind::DeleteModel, 0});
    Frame();
    EXPECT_FALSE(scene_.render.rayTracing);
    // Where the device cannot ray trace, asking for it leaves the frames
    // rasterised, with nothing to build.
    scene_.hooks.rebuildAccelerationStructures = [&] { return ++rebuilds, true; };
    scene_.render.rayTracingAvailable = false;
    ui_.editRayTracing = true;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_FALSE(scene_.render.rayTracing);
    EXPECT_EQ(rebuilds, 2);
    scene_.render.rayTracingAvailable = true;
    ui_.editRayTracing = false;

    // Fullscreen renders at the desktop's size; a resolution chosen meanwhile
    // waits for the window, and a switch the system refuses changes nothing.
    bool switchWorks = false;
    scene_.hooks.setFullscreen = [&](bool) { return switchWorks; };
    scene_.hooks.desktopSize = [] { return Resolution{2560, 1440}; };
    ui_.editFullscreen = true;
    for (const bool works : {false, true}) {
        switchWorks = works;
        ui_.requests.push_back({RequestKind::ApplyGraphics});
        Frame(0.0f);
        EXPECT_EQ(scene_.render.fullscreen, works);
        EXPECT_EQ(resizes.back().width, works ? 2560u : 1920u);
    }
    const std::size_t resized = resizes.size();
    ui_.editResolutionIndex = 0;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_EQ(resizes.size(), resized);
    ui_.editFullscreen = false;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_FALSE(scene_.render.fullscreen);
    EXPECT_EQ(resizes.back().width, 1280u);
    EXPECT_EQ(scene_.render.resolutionIndex, 0);
    // A resolution past the list is its last entry.
    ui_.editResolutionIndex = 99;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_EQ(resizes.back().width, 3840u);
    EXPECT_EQ(scene_.render.resolutionIndex, 5);
    // Fullscreen and a new resolution saved together: one resize, to the
    // desktop, here as tall as the window and only wider.
    scene_.hooks.desktopSize = [] { return Resolution{2560, 2160}; };
    const std::size_t windowed = resizes.size();
    ui_.editResolutionIndex = 2;
    ui_.editFullscreen = true;
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    Frame(0.0f);
    EXPECT_TRUE(scene_.render.fullscreen);
    ASSERT_EQ(resizes.size(), windowed + 1);
    EXPECT_EQ(resizes.back().width, 2560u);
}

TEST_F(SceneUpdateTest, FramesPlayEveryModelAndTakeTheStepsTheirTimeHolds) {
    for (auto& m : scene_.models)
        m.instance->playing = 1;
    Frame(0.04f);
    EXPECT_NEAR(scene_.playback.elapsedTime, 0.04f, 1e-6f);
    // Two whole steps; the rest waits for the next frame.
    EXPECT_NEAR(scene_.physics->accumulator, 0.04f - 2.0f / 60.0f, 1e-6f);
}

// The frames in flight never touch a new model's GPU half: rasterised, a
// batch of models joins the scene without a wait for the GPU.
TEST_F(SceneUpdateTest, ModelsImportedWithoutRayTracingWaitForNoFrame) {
    const TempFolder folder;
    std::vector<const ModelInstance*> created;
    scene_.createModelResources = [&](ModelInstance& m, const PmxModel&, ModelTextures&) {
        created.push_back(&m);
        return S_OK;
    };
    ASSERT_TRUE(scene_.importer.Request({folder.Write("another.pmx", EncodePmx(SamplePmxModel())),
                                         folder.Write("cube.x", XTexturedCube())}));
    for (int i = 0; i < 3000 && !scene_.importer.ResultsReady(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Frame();
    ASSERT_EQ(scene_.models.size(), 4u);
    ASSERT_EQ(scene_.accessories.size(), 1u);
    EXPECT_EQ(created, (std::vector<const ModelInstance*>{scene_.models[3].instance.get(),
                                                          scene_.accessories[0].instance.get()}));
    EXPECT_EQ(gpuWaits_, 0);
}

TEST_F(SceneUpdateTest, AnImportBatchLandsAtTheStartOfAFrame) {
    const TempFolder folder;
    const auto path = folder.Write("another.pmx", EncodePmx(SamplePmxModel()));
    // Ray traced: the new model reaches the structures in the same frame.
    int rebuilds = 0;
    scene_.hooks.rebuildAccelerationStructures = [&] { return ++rebuilds, true; };
    scene_.render.rayTracingAvailable = scene_.render.rayTracing = true;
    const auto import = [&](const auto& file) {
        ASSERT_TRUE(scene_.importer.Request({file}));
        for (int i = 0; i < 3000 && !scene_.importer.ResultsReady(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    import(path);
    Frame();
    EXPECT_TRUE(ui_.showImportStatus);
    EXPECT_EQ(scene_.models.size(), 4u);
    EXPECT_EQ(scene_.importer.Status(), "Loaded 1 resource(s).");
    // A note of the player's own takes the status line while no batch waits.
    EXPECT_TRUE(scene_.importer.ShowMessage("Ray Tracing was switched off."));
    EXPECT_EQ(scene_.importer.Status(), "Ray Tracing was switched off.");
    EXPECT_EQ(rebuilds, 1);
    EXPECT_TRUE(scene_.render.rayTracing);
    EXPECT_EQ(gpuWaits_, 1);
    // An accessory alone and a removal in the same frame: one wait for the
    // GPU and one rebuild serve both.
    import(folder.Write("cube.x", XTexturedCube()));
    ui_.requests.push_back({RequestKind::DeleteModel, 0});
    Frame();
    EXPECT_EQ(scene_.accessories.size(), 1u);
    EXPECT_EQ(scene_.models.size(), 3u);
    EXPECT_EQ(gpuWaits_, 2);
    EXPECT_EQ(rebuilds, 2);
    // A batch that adds nothing leaves the structures as they are.
    import(folder.Write("broken.pmx", std::string_view("not a model")));
    Frame();
    EXPECT_EQ(rebuilds, 2);
    // A batch without models or accessories does not wait for the GPU.
    const int waits = gpuWaits_;
    import(folder.Write("broken.vmd", std::string_view("not a motion")));
    Frame();
    EXPECT_EQ(gpuWaits_, waits);
    // A double click on an accessory's Delete removes it alone, and the
    // structures are rebuilt without it.
    import(folder.Write("ball.x", XTexturedCube()));
    Frame();
    ASSERT_EQ(scene_.accessories.size(), 2u);
    const int before = rebuilds;
    const ModelInstance* cube = scene_.accessories[0].instance.get();
    std::vector<const ModelInstance*> released;
    scene_.releaseModelResources = [&](const ModelInstance& m) { released.push_back(&m); };
    ui_.requests.push_back({RequestKind::DeleteAccessory, 0});
    ui_.requests.push_back({RequestKind::DeleteAccessory, 0});
    ui_.requests.push_back({RequestKind::DeleteAccessory, 5});
    Frame();
    ASSERT_EQ(scene_.accessories.size(), 1u);
    EXPECT_EQ(scene_.accessories[0].name, "ball.x");
    EXPECT_EQ(rebuilds, before + 1);
    EXPECT_EQ(released, (std::vector<const ModelInstance*>{cube}));  // its GPU half too
}

TEST_F(SceneUpdateTest, PlayEverythingStartsAllMotionsWithTheFirstSong) {
    VmdNameCodec codec;
    const std::u16string center = codec.ModelNameKey(u"センター", kVmdKeyNameBytes);
    for (std::uint32_t frame : {0u, 30u}) {
        scene_.motions[0].motion.boneKeys[center].push_back(
            {center, frame, {1, 0, 0}, {0, 0, 0, 1}});
    }
    scene_.motions[1].motion.cameraKeys.push_back({});
    scene_.motions[2].motion.cameraKeys.push_back({});
    const std::vector<std::string> allMotions = {"motion0", "motion1", "motion2"};

    // Play pressed while the files were still loading: the content still starts.
    auto songs = std::move(scene_.songs);
    scene_.songs.clear();
    PressPlay(scene_);
    PlayEverything(scene_);
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_EQ(scene_.playback.selectedSong, -1);

    scene_.songs = std::move(songs);
    for (ModelRecord& model : scene_.models) {
        model.entry.addedMotions.clear();
    }
    PlayEverything(scene_);
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_EQ(scene_.playback.selectedSong, 0);
    EXPECT_EQ(scene_.playback.songInstance->GetState(), SoundState::Playing);
    EXPECT_EQ(scene_.stage.cameraMotion, 1);
    for (std::size_t m = 0; m < scene_.models.size(); ++m) {
        const ModelInstance& model = *scene_.models[m].instance;
        EXPECT_EQ(model.playing, 1);
        EXPECT_EQ(model.motion.time, 0.0f);
        EXPECT_FLOAT_EQ(model.motion.end, 1.0f);
        EXPECT_EQ(model.motion.boneTracks.count(center), 1u);
        EXPECT_EQ(scene_.models[m].entry.addedMotions, allMotions);
    }
    // The song plays, so the motions are where the song is.
    Frame();
    EXPECT_NEAR(scene_.models[2].instance->motion.time, scene_.playback.time, 1e-6);
    EXPECT_NEAR(scene_.playback.time, scene_.playback.songInstance->PlayPositionSeconds(),
                1.0 / 60.0);
}

TEST_F(SceneUpdateTest, RequestsOfOneFrameAreAllCarriedOutInTheOrderAsked) {
    // Rows as the interface saw them: deleting rows 0 and 1 leaves the third model.
    ui_.requests.push_back({RequestKind::DeleteModel, 0});
    ui_.requests.push_back({RequestKind::DeleteModel, 1});
    // A select after a delete reaches the model that was on that row.
    ui_.requests.push_back({RequestKind::SelectModel, 2, true});
    ui_.requests.push_back({RequestKind::DeleteMotion, 0});
    ui_.requests.push_back({RequestKind::ChooseCameraMotion, 2});
    ui_.requests.push_back({RequestKind::DeleteShader, 2});
    ui_.requests.push_back({RequestKind::ChooseDefaultShader, 3});
    ui_.requests.push_back({RequestKind::SelectSong, 1});
    ui_.requests.push_back({RequestKind::PressPlay});
    Frame();
    EXPECT_TRUE(ui_.requests.empty());
    ASSERT_EQ(scene_.models.size(), 1u);
    EXPECT_EQ(scene_.models[0].entry.name, "model2");
    EXPECT_TRUE(scene_.models[0].entry.selected);
    ASSERT_EQ(scene_.stage.cameraMotion, 1);
    EXPECT_EQ(scene_.motions[scene_.stage.cameraMotion].name, "motion2");
    ASSERT_EQ(scene_.defaultShader, 2);
    EXPECT_EQ(scene_.shaders[scene_.defaultShader].entry.name, "user1");
    EXPECT_EQ(scene_.playback.selectedSong, 1);
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_EQ(scene_.playback.songInstance->GetState(), SoundState::Playing);

    // Play then stop in one frame ends stopped; stop then play ends playing.
    ui_.requests.push_back({RequestKind::PressPlay});
    ui_.requests.push_back({RequestKind::StopAndReset});
    Frame();
    EXPECT_EQ(scene_.playback.state, PlayState::Stopped);
    EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Play");
    ui_.requests.push_back({RequestKind::StopAndReset});
    ui_.requests.push_back({RequestKind::PressPlay});
    Frame();
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_EQ(scene_.models[0].instance->playing, 1);
}

TEST_F(SceneUpdateTest, ARequestForAnEntryAnEarlierRemovalTookIsDropped) {
    // A double click on Delete removes one model, not its neighbour too.
    ui_.requests.push_back({RequestKind::DeleteModel, 1});
    ui_.requests.push_back({RequestKind::DeleteModel, 1});
    ui_.requests.push_back({RequestKind::SwitchPhysics, 1, false});
    // The camera motion chosen is deleted after: no camera motion is left.
    ui_.requests.push_back({RequestKind::ChooseCameraMotion, 1});
    ui_.requests.push_back({RequestKind::DeleteMotion, 1});
    // Chosen, deleted, chosen again: the last choice names a motion that is gone.
    ui_.requests.push_back({RequestKind::ChooseCameraMotion, 2});
    ui_.requests.push_back({RequestKind::DeleteMotion, 2});
    ui_.requests.push_back({RequestKind::ChooseCameraMotion, 2});
    ui_.requests.push_back({RequestKind::DeleteSong, 0});
    ui_.requests.push_back({RequestKind::SelectSong, 0});
    // A removal from one list leaves the rows of the others as they are.
    ui_.requests.push_back({RequestKind::SwitchPhysics, 0, false});
    Frame();
    EXPECT_FALSE(scene_.models[0].entry.physicsOn);
    ASSERT_EQ(scene_.models.size(), 2u);
    EXPECT_EQ(scene_.models[1].entry.name, "model2");
    EXPECT_TRUE(scene_.models[1].entry.physicsOn);
    EXPECT_EQ(scene_.models[1].instance->physicsEnabled, 1);
    EXPECT_EQ(scene_.stage.cameraMotion, -1);
    EXPECT_EQ(MotionNames(scene_), (std::vector<std::string>{"motion0"}));
    EXPECT_EQ(scene_.playback.selectedSong, -1);
    EXPECT_EQ(scene_.playback.songInstance, nullptr);
}

TEST_F(SceneUpdateTest, ChoicesArriveOnlyThroughTheUpdateAndOutOfRangeOnesAreIgnored) {
    ui_.requests.push_back({RequestKind::ChooseRayTracingShader, 0});
    ui_.requests.push_back({RequestKind::ChooseCameraMotion, 2});
    ui_.requests.push_back({RequestKind::ChooseDefaultShader, 0});
    EXPECT_EQ(scene_.render.selectedRayTracingShader, 1);  // nothing before the update
    Frame();
    EXPECT_EQ(scene_.render.selectedRayTracingShader, 0);
    EXPECT_EQ(scene_.stage.cameraMotion, 2);
    EXPECT_EQ(scene_.defaultShader, 0);
    for (const std::int32_t bad : {-1, 2, 99}) {
        ui_.requests.push_back({RequestKind::ChooseRayTracingShader, bad});
        ui_.requests.push_back({RequestKind::ChooseDefaultShader, bad == -1 ? -2 : bad + 2});
        ui_.requests.push_back({RequestKind::SelectModel, bad + 2, true});
        ui_.requests.push_back({RequestKind::SelectSong, bad + 2});
    }
    ui_.requests.push_back({RequestKind::ChooseCameraMotion, 3});
    Frame();
    EXPECT_EQ(scene_.render.selectedRayTracingShader, 0);
    EXPECT_EQ(scene_.defaultShader, 0);
    EXPECT_EQ(scene_.stage.cameraMotion, 2);
    EXPECT_TRUE(scene_.models[1].entry.selected);  // row 1 (bad = -1) is the one in range
    EXPECT_EQ(scene_.playback.selectedSong, 1);
    ui_.requests.push_back({RequestKind::ChooseCameraMotion, -1});
    Frame();
    EXPECT_EQ(scene_.stage.cameraMotion, -1);
}

TEST_F(SceneUpdateTest, ModelSettingChoicesReachTheBoundRowWithTheEdits) {
    modelSetting_.modelRow = 1;
    modelSetting_.model = scene_.models[1].instance.get();
    scene_.models[1].entry.yRotationAngle = 30.0f;
    const auto edit = [](ModelEdit::Kind kind, std::int32_t index) {
        ModelEdit e;
        e.kind = kind;
        e.index = index;
        return e;
    };
    modelSetting_.edits = {edit(ModelEdit::Kind::ChooseYRotationBone, 2),
                           edit(ModelEdit::Kind::ChooseTransformBone, 1),
                           edit(ModelEdit::Kind::ChooseMaterial, 0),
                           edit(ModelEdit::Kind::AttachMotion, 0),
                           edit(ModelEdit::Kind::ClearMotions, -1),
                           edit(ModelEdit::Kind::AttachMotion, 2),
                           edit(ModelEdit::Kind::AttachMotion, 9)};
    // A bone position for a bone the model lacks is dropped.
    for (const std::int32_t bone : {-1, 1 << 30}) {
        modelSetting_.edits.push_back(edit(ModelEdit::Kind::BonePosition, bone));
        modelSetting_.edits.back().position = {1.0f, 2.0f, 3.0f, 0.0f};
    }
    Frame();
    const ModelUiEntry& row = scene_.models[1].entry;
    EXPECT_EQ(row.yRotationBone, 2);
    EXPECT_EQ(row.yRotationAngle, 0.0f);
    EXPECT_EQ(row.transformBone, 1);
    EXPECT_EQ(row.materialIndex, 0);
    EXPECT_EQ(row.addedMotions, (std::vector<std::string>{"motion2"}));
    EXPECT_EQ(scene_.models[0].entry.yRotationBone, -1);  // other rows stay
    // A model that plays refuses a motion, and its row does not list it.
    scene_.models[1].instance->playing = 1;
    modelSetting_.edits = {edit(ModelEdit::Kind::AttachMotion, 1)};
    Frame();
    EXPECT_EQ(row.addedMotions, (std::vector<std::string>{"motion2"}));
}

// A pose is a motion of one key: attached to a paused model it poses it at
// once, and a playing model holds the pose however long it plays.
TEST_F(SceneUpdateTest, APoseAttachedToAPausedModelPosesItAndPlayingHoldsIt) {
    const std::string text = kVpdFirstLine + "\nm.osm;\n1;\nBone0{" + EncodeCp932(u"センター") +
                             "\n1,2,3;\n0,0.6,0,0.8;\n}\n";
    VmdMotion pose;
    VpdWarnings warnings;
    ASSERT_EQ(ParseVpdPose(pose, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                           warnings),
              S_OK);
    scene_.motions[0] = {std::move(pose), "pose.vpd"};
    modelSetting_.modelRow = 0;
    modelSetting_.model = scene_.models[0].instance.get();
    ModelEdit attach;
    attach.kind = ModelEdit::Kind::AttachMotion;
    attach.index = 0;
    modelSetting_.edits = {attach};
    Frame();
    const BoneState& centre = scene_.models[0].instance->bones[0];
    ASSERT_EQ(centre.name, u"センター");
    auto expectPosed = [&] {
        EXPECT_NEAR(centre.translation.x - centre.restOffset.x, 1.0f, 1e-6f);
        EXPECT_NEAR(centre.translation.z - centre.restOffset.z, 3.0f, 1e-6f);
        EXPECT_NEAR(centre.rotation.y, 0.6f, 1e-6f);
        EXPECT_NEAR(centre.rotation.w, 0.8f, 1e-6f);
    };
    expectPosed();
    PressPlay(scene_);
    for (int i = 0; i < 120; ++i) {
        Frame(0.1f);
    }
    expectPosed();
}

}  // namespace qv
