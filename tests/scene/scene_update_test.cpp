// A scene frame must apply requests once, keep lists parallel and play everything in step.
#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "formats/vmd_names.h"
#include "runtime/physics_bodies.h"
#include "scene/play_everything.h"
#include "scene/scene.h"
#include "tests/support/content_writers.h"
#include "tests/support/temp_file.h"

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
            scene_.motions.emplace_back();
            scene_.motionNames.push_back("motion" + std::to_string(i));
        }
        for (int i = 0; i < 3; ++i) {
            scene_.songs.push_back(
                std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(48000)));
            scene_.songNames.push_back("song" + std::to_string(i));
        }
        for (int i = 0; i < 2; ++i) {
            scene_.shaderPrograms.emplace_back();
            scene_.shaderEntries.push_back({false, "user" + std::to_string(i)});
        }
    }

    void AddModel(const std::string& name) {
        auto instance = std::make_unique<ModelInstance>();
        std::unique_lock writing(scene_.physics->lock);
        ASSERT_EQ(CreateModelInstance(*instance, SamplePmxModel(), scene_.physics.get()), S_OK);
        scene_.models.push_back(std::move(instance));
        ModelUiEntry row;
        row.name = name;
        scene_.modelEntries.push_back(row);
    }

    void Frame(float dt = 1.0f / 60.0f) { UpdateScene(scene_, ui_, modelSetting_, dt); }

    Scene scene_;
    UiState ui_;
    ModelSettingState modelSetting_;
    int gpuWaits_ = 0;
};

}  // namespace

TEST_F(SceneUpdateTest, RemovingAModelKeepsRowsParallelAndFreesItsBodies) {
    modelSetting_.modelRow = 1;
    modelSetting_.model = scene_.models[1].get();
    const ModelInstance* removed = scene_.models[1].get();
    std::vector<const ModelInstance*> released;
    scene_.releaseModelResources = [&](const ModelInstance& m) { released.push_back(&m); };
    const int objectsBefore = scene_.physics->world().getNumCollisionObjects();
    ui_.deleteModelIndex = 1;
    Frame();
    EXPECT_EQ(ui_.deleteModelIndex, -1);
    ASSERT_EQ(scene_.models.size(), 2u);
    ASSERT_EQ(scene_.modelEntries.size(), 2u);
    EXPECT_EQ(scene_.modelEntries[1].name, "model2");
    EXPECT_EQ(modelSetting_.model, nullptr);
    EXPECT_EQ(modelSetting_.modelRow, -1);
    EXPECT_EQ(scene_.physics->world().getNumCollisionObjects(), objectsBefore - 2);
    EXPECT_EQ(gpuWaits_, 1);
    EXPECT_EQ(released, (std::vector<const ModelInstance*>{removed}));  // its GPU half too
    ui_.deleteModelIndex = 7;  // out of range: nothing happens
    Frame();
    EXPECT_EQ(scene_.models.size(), 2u);
}

TEST_F(SceneUpdateTest, RemovingMotionsMovesTheSelectedOne) {
    modelSetting_.motionSelectIndex = 2;
    ui_.deleteMotionIndex = 0;
    Frame();
    EXPECT_EQ(modelSetting_.motionSelectIndex, 1);
    EXPECT_EQ(scene_.motionNames, (std::vector<std::string>{"motion1", "motion2"}));
    ui_.deleteMotionIndex = 1;
    Frame();
    EXPECT_EQ(modelSetting_.motionSelectIndex, -1);
    EXPECT_EQ(scene_.motions.size(), scene_.motionNames.size());
}

TEST_F(SceneUpdateTest, SongRemovalFollowsTheSelection) {
    SelectSong(scene_, 2);
    ASSERT_NE(scene_.songInstance, nullptr);
    ui_.deleteSongIndex = 0;  // before the selected one: the same song stays selected
    Frame();
    EXPECT_EQ(scene_.selectedSong, 1);
    EXPECT_EQ(scene_.songNames[scene_.selectedSong], "song2");
    EXPECT_NE(scene_.songInstance, nullptr);
    ui_.deleteSongIndex = 1;  // the selected one: no song, no instance
    Frame();
    EXPECT_EQ(scene_.selectedSong, -1);
    EXPECT_EQ(scene_.songInstance, nullptr);
    EXPECT_EQ(scene_.songNames, (std::vector<std::string>{"song1"}));
}

TEST_F(SceneUpdateTest, ShaderRemovalKeepsBuiltInsAndResetsTheDefault) {
    scene_.defaultShader = 3;
    modelSetting_.shaderSelectIndex = 3;
    ui_.deleteShaderIndex = 0;  // built in: stays
    Frame();
    EXPECT_EQ(scene_.shaderEntries.size(), 4u);
    ui_.deleteShaderIndex = 3;
    Frame();
    EXPECT_EQ(scene_.defaultShader, 1);  // the toon shader again
    EXPECT_EQ(modelSetting_.shaderSelectIndex, -1);
    EXPECT_EQ(scene_.shaderEntries.size(), scene_.shaderPrograms.size());
    EXPECT_EQ(scene_.shaderEntries[1].name, "QV Toon shader");
}

TEST_F(SceneUpdateTest, PlayPauseAndStopDriveSongAndModelsTogether) {
    SelectSong(scene_, 0);
    PressPlay(scene_);
    EXPECT_EQ(scene_.playState, PlayState::Playing);
    EXPECT_EQ(scene_.playLabel, "Pause");
    EXPECT_EQ(scene_.songInstance->GetState(), SoundState::Playing);
    for (auto& m : scene_.models)
        EXPECT_EQ(m->playing, 1);
    for (int i = 0; i < 5; ++i)
        Frame();
    PressPlay(scene_);
    EXPECT_EQ(scene_.playState, PlayState::Paused);
    EXPECT_EQ(scene_.playLabel, "Play");
    EXPECT_EQ(scene_.songInstance->GetState(), SoundState::Paused);
    for (auto& m : scene_.models)
        EXPECT_EQ(m->playing, 0);
    PressPlay(scene_);
    // Choosing another song while playing stops everything and rewinds.
    SelectSong(scene_, 1);
    EXPECT_EQ(scene_.playState, PlayState::Stopped);
    EXPECT_EQ(scene_.playLabel, "Play");
    EXPECT_EQ(scene_.songInstance->GetState(), SoundState::Stopped);
    for (auto& m : scene_.models) {
        EXPECT_EQ(m->playing, 0);
        EXPECT_EQ(m->motion.time, 0.0f);
    }
    // With no song selected the play button still plays the motions.
    scene_.songInstance.reset();
    scene_.selectedSong = -1;
    PressPlay(scene_);
    EXPECT_EQ(scene_.models[0]->playing, 1);
}

TEST_F(SceneUpdateTest, PhysicsSwitchAndSettings) {
    scene_.modelEntries[0].physicsOn = false;
    ui_.physicsToggledIndex = 0;
    Frame();
    EXPECT_EQ(ui_.physicsToggledIndex, -1);
    EXPECT_EQ(scene_.models[0]->physicsEnabled, 0);
    EXPECT_EQ(scene_.models[1]->physicsEnabled, 1);

    ui_.editStepTime = 1.0f / 120.0f;
    ui_.editGravity = {0, -20, 0, 0};
    ui_.applyPhysicsRequested = true;
    Frame();
    EXPECT_FALSE(ui_.applyPhysicsRequested);
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
    scene_.rayTracingAvailable = true;

    scene_.physics->accumulator = 0.01f;
    ui_.editVSync = false;
    ui_.editResolutionIndex = 3;
    ui_.editAntiAliasing = 4;
    ui_.editRayTracing = true;
    ui_.editDiffuseQuality = 2;
    ui_.applyGraphicsRequested = true;
    Frame(0.0f);
    EXPECT_FALSE(vsync);
    EXPECT_EQ(scene_.physics->accumulator, 0.0f);  // changing vsync restarts the accumulator
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0].width, 1920u);
    EXPECT_EQ(scene_.renderHeight, 1080u);
    EXPECT_EQ(scene_.antiAliasingMode, 4);
    EXPECT_TRUE(scene_.rayTracing);
    EXPECT_EQ(scene_.diffuseSamples, 12u);
    EXPECT_EQ(rebuilds, 1);   // in the same frame
    EXPECT_EQ(gpuWaits_, 1);  // once, however many changes wanted it

    // A failed rebuild falls back to rasterising.
    scene_.hooks.rebuildAccelerationStructures = [] { return false; };
    ui_.deleteModelIndex = 0;
    Frame();
    EXPECT_FALSE(scene_.rayTracing);
}

TEST_F(SceneUpdateTest, FramesPlayEveryModelAndStepPhysicsOnce) {
    for (auto& m : scene_.models)
        m->playing = 1;
    Frame(0.05f);
    EXPECT_NEAR(scene_.elapsedTime, 0.05f, 1e-6f);
    EXPECT_NEAR(scene_.physics->accumulator, 0.05f - 1.0f / 60.0f, 1e-6f);
}

TEST_F(SceneUpdateTest, AnImportBatchLandsAtTheStartOfAFrame) {
    const TempFolder folder;
    const auto path = folder.Write("another.pmx", EncodePmx(SamplePmxModel()));
    // Ray traced: the new model reaches the structures in the same frame.
    int rebuilds = 0;
    scene_.hooks.rebuildAccelerationStructures = [&] { return ++rebuilds, true; };
    scene_.rayTracingAvailable = scene_.rayTracing = true;
    ASSERT_TRUE(scene_.importer.Request({path}));
    for (int i = 0; i < 3000 && !scene_.importer.ResultsReady(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Frame();
    EXPECT_TRUE(ui_.showImportStatus);
    EXPECT_EQ(scene_.models.size(), 4u);
    EXPECT_EQ(scene_.importer.Status(), "Loaded 1 resource(s).");
    EXPECT_EQ(rebuilds, 1);
    EXPECT_TRUE(scene_.rayTracing);
}

TEST_F(SceneUpdateTest, PlayEverythingStartsAllMotionsWithTheFirstSong) {
    VmdNameCodec codec;
    const std::u16string center = codec.ModelNameKey(u"センター", kVmdKeyNameBytes);
    for (std::uint32_t frame : {0u, 30u}) {
        scene_.motions[0].boneKeys[center].push_back({center, frame, {1, 0, 0}, {0, 0, 0, 1}});
    }
    scene_.motions[1].cameraKeys.push_back({});
    scene_.motions[2].cameraKeys.push_back({});
    const std::vector<std::string> allMotions = {"motion0", "motion1", "motion2"};

    // Play pressed while the files were still loading: the content still starts.
    auto songs = std::move(scene_.songs);
    scene_.songs.clear();
    PressPlay(scene_);
    PlayEverything(scene_);
    EXPECT_EQ(scene_.playState, PlayState::Playing);
    EXPECT_EQ(scene_.selectedSong, -1);

    scene_.songs = std::move(songs);
    for (auto& row : scene_.modelEntries) {
        row.addedMotions.clear();
    }
    PlayEverything(scene_);
    EXPECT_EQ(scene_.playState, PlayState::Playing);
    EXPECT_EQ(scene_.selectedSong, 0);
    EXPECT_EQ(scene_.songInstance->GetState(), SoundState::Playing);
    EXPECT_EQ(scene_.cameraMotion, 1);
    for (std::size_t m = 0; m < scene_.models.size(); ++m) {
        const ModelInstance& model = *scene_.models[m];
        EXPECT_EQ(model.playing, 1);
        EXPECT_EQ(model.motion.time, 0.0f);
        EXPECT_FLOAT_EQ(model.motion.end, 1.0f);
        EXPECT_EQ(model.motion.boneTracks.count(center), 1u);
        EXPECT_EQ(scene_.modelEntries[m].addedMotions, allMotions);
    }
    Frame();
    EXPECT_FLOAT_EQ(scene_.models[2]->motion.time, 1.0f / 60.0f);
}

}  // namespace qv
