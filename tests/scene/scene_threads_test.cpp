// Every thread of a playing scene at once, the way the frame loop runs them, for the thread
// sanitizer to watch: import, audio callback, the scene stage and the interface stage.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <future>
#include <shared_mutex>
#include <thread>

#include "runtime/motion.h"
#include "scene/scene.h"
#include "scene/scene_requests.h"
#include "tests/support/content_writers.h"
#include "tests/support/scene_models.h"
#include "tests/support/temp_file.h"

namespace fs = std::filesystem;

namespace qv {

TEST(SceneThreads, ImportAudioAndStagesRunAlongsideFrames) {
    const TempFolder temp;
    const fs::path& folder = temp.path();
    WriteBytes(folder / "model.pmx", EncodePmx(SamplePmxModel()));
    VmdFile motion;
    motion.bones = {{EncodeCp932(u"センター"), 0}, {EncodeCp932(u"センター"), 30, {0, 1, 0}}};
    WriteBytes(folder / "motion.vmd", EncodeVmd(motion));
    WriteBytes(folder / "song.wav", SilentWav(48000 * 2));
    std::ofstream(folder / "effect.hlsl")
        << "float4 VS(float4 p : POSITION) : SV_POSITION { return p; }\n"
           "float4 PS(float4 p : SV_POSITION) : SV_TARGET { return 1; }\n";
    const std::vector<fs::path> batch = {folder / "model.pmx", folder / "motion.vmd",
                                         folder / "song.wav", folder / "effect.hlsl"};

    Scene scene(std::make_unique<AudioEngine>());
    UiState ui;
    ModelSettingState modelSetting;
    int batches = 0;
    bool playing = false;
    for (int frame = 0; frame < 400; ++frame) {
        // Main thread: the scene update, while no stage runs.
        UpdateScene(scene, ui, modelSetting, 1.0f / 60.0f);
        // Play as soon as the first batch has landed.
        if (!playing && !scene.models.empty() && !scene.motions.empty() && !scene.songs.empty()) {
            playing = true;
            AttachMotion(*scene.models[0].instance, scene.motions[0].motion);
            SelectSong(scene, 0);
            PressPlay(scene);
            modelSetting.modelRow = 0;
            modelSetting.model = scene.models[0].instance.get();
        }
        if (scene.models.size() > 3) {
            ui.requests.push_back({RequestKind::DeleteModel, 1});
            ui.requests.push_back({RequestKind::DeleteMotion, 1});
            ui.requests.push_back({RequestKind::DeleteSong, 1});
        }
        // The stages: one reads the poses as the renderer would, the other is the
        // interface, reading import progress and making requests of its own.
        std::thread sceneStage([&] {
            float sum = 0.0f;
            for (const auto& model : scene.models) {
                for (const BoneState& bone : model.instance->bones)
                    sum += bone.worldMatrix.m[3][1];
                sum += model.instance->motion.time;
            }
            EXPECT_TRUE(sum == sum);  // a NaN would show a torn pose
        });
        std::thread interfaceStage([&] {
            const std::string status = scene.importer.Status();
            EXPECT_EQ(status.find("Failed"), std::string::npos) << status;
            EXPECT_GE(scene.importer.Progress(), 0.0f);
            if (!scene.importer.Busy() && batches < 12 && scene.importer.Request(batch)) {
                ++batches;
            }
            if (frame % 97 == 50) {
                ui.requests.push_back({RequestKind::StopAndReset});
            } else if (frame % 97 == 60 && !scene.songs.empty()) {
                ui.requests.push_back({RequestKind::SelectSong, 0});
                ui.requests.push_back({RequestKind::PressPlay});
            }
            if (modelSetting.model != nullptr && frame % 7 == 0) {
                ModelEdit edit;
                edit.kind = ModelEdit::Kind::MorphWeight;
                edit.index = 0;
                edit.value = static_cast<float>(frame % 10) / 10.0f;
                modelSetting.edits.push_back(edit);
            }
        });
        sceneStage.join();
        interfaceStage.join();
        scene.audioEngine->Update();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(playing);
    EXPECT_GE(batches, 2);
}

// Whatever adds, removes or switches bodies waits for the physics world's
// lock: the physics stage may be stepping them on another thread.
TEST(SceneThreads, ChangesToTheBodiesWaitForThePhysicsLock) {
    using namespace std::chrono_literals;
    const auto waitsFor = [](std::shared_mutex& lock, const std::function<void()>& change) {
        std::unique_lock held(lock);
        std::future<void> done = std::async(std::launch::async, change);
        // A change that took no lock is done long before this.
        const bool waited = done.wait_for(200ms) == std::future_status::timeout;
        held.unlock();
        done.get();
        return waited;
    };
    auto scene = std::make_unique<Scene>(std::make_unique<AudioEngine>());
    UiState ui;
    ModelSettingState modelSetting;
    GpuIdle gpu(*scene);
    for (const char* name : {"a", "b"}) {
        ASSERT_EQ(AddSceneModel(*scene, name), S_OK);
    }
    const auto carryOut = [&](SceneRequest request) {
        return [&, request] {
            ui.requests = {request};
            CarryOutRequests(*scene, ui, modelSetting, gpu);
        };
    };
    EXPECT_TRUE(waitsFor(scene->physics->lock, carryOut({RequestKind::SwitchPhysics, 0, false})));
    EXPECT_FALSE(scene->models[0].entry.physicsOn);
    EXPECT_TRUE(waitsFor(scene->physics->lock, carryOut({RequestKind::DeleteModel, 0})));
    EXPECT_EQ(scene->models.size(), 1u);

    const TempFolder folder;
    WriteBytes(folder.path() / "model.pmx", EncodePmx(SamplePmxModel()));
    ASSERT_TRUE(scene->importer.Request({folder.path() / "model.pmx"}));
    while (!scene->importer.ResultsReady()) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(waitsFor(scene->physics->lock, [&] { CompleteImports(*scene, scene->importer); }));
    EXPECT_EQ(scene->models.size(), 2u);

    std::shared_mutex& lastLock = scene->physics->lock;
    EXPECT_TRUE(waitsFor(lastLock, [&] { scene.reset(); }));
}

}  // namespace qv
