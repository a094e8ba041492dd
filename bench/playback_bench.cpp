// How far physics and the dance stray: chain tip against the render clock, dance against the song.
#include <benchmark/benchmark.h>

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "runtime/motion.h"
#include "scene/fixed_clock.h"
#include "scene/live_clock.h"
#include "scene/scene.h"
#include "tests/runtime/chain_model.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

const std::filesystem::path kGene = std::filesystem::path(QV_CONTENT_DIR) / "gene";

// The chain's root swings a unit left and right twice a second.
void AddSwingingChain(SceneContent& content, float seconds) {
    CreatePhysicsScene(content.physics);
    VmdMotion motion;
    for (std::uint32_t frame = 0; frame <= seconds * 30.0f; frame += 15) {
        AddBoneKey(motion, u"root", frame, {(frame / 15) % 2 == 0 ? -1.0f : 1.0f, 0.0f, 0.0f});
    }
    auto instance = std::make_unique<ModelInstance>();
    CreateModelInstance(*instance, ChainModel(0.6f), content.physics.get());
    AttachMotion(*instance, motion);
    instance->playing = 1;
    UpdateModel(*instance, 0.0f);
    content.models.push_back({std::move(instance), {}});
}

btVector3 Tip(const SceneContent& content) {
    return content.models[0].instance->bodies[2]->getWorldTransform().getOrigin();
}

// The largest distance over 10 s at 30 fps between the chain's tip and its
// place on the render clock: state.range(0) 1 plays the live clock, 0 the
// rule the player had before (at most one step a frame, then the models).
void BM_ChainTipAtThirtyFps(benchmark::State& state) {
    const bool live = state.range(0) != 0;
    float largest = 0.0f;
    for (auto _ : state) {
        SceneContent played;
        SceneContent reference;
        AddSwingingChain(played, 11.0f);
        AddSwingingChain(reference, 11.0f);
        FixedClock clock;
        clock.fps = 30.0;
        const float dt = 1.0f / 30.0f;
        for (std::uint64_t frame = 1; frame <= 300; ++frame) {
            if (live) {
                AdvanceLiveFrame(played, dt, dt);
            } else {
                PhysicsWorld& world = *played.physics;
                world.accumulator += dt;
                if (world.accumulator >= world.stepSeconds) {
                    world.accumulator -= world.stepSeconds;
                    TakePhysicsStep(world);
                }
                UpdateModel(*played.models[0].instance, dt);
            }
            AdvanceToFrame(reference, clock, frame);
            largest = std::max(largest, Tip(played).distance(Tip(reference)));
        }
    }
    state.counters["largest_tip_distance"] = largest;
}

// Gene dancing to a two-minute song while Gene is imported ten times over,
// each import holding the main thread for its model's creation. Reports,
// once the imports are in, how far the motion is behind the song: as
// played, and as the frame-time clock the player had before would have it
// (the frames' seconds, each capped at 0.1 s, added up).
void BM_DriftAfterTenGeneImports(benchmark::State& state) {
    if (!std::filesystem::exists(kGene / "Gene_light.pmx")) {
        state.SkipWithError("Gene content not found");
        return;
    }
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    for (auto _ : state) {
        Scene scene(std::make_unique<AudioEngine>());
        UiState ui;
        ModelSettingState modelSetting;
        scene.songs.push_back(
            {std::make_unique<SoundEffect>(*scene.audioEngine, SilentWav(48000 * 120)), "song"});
        auto frame = [&, last = std::chrono::steady_clock::now()]() mutable {
            const auto now = std::chrono::steady_clock::now();
            const float dt = std::min(std::chrono::duration<float>(now - last).count(), 0.1f);
            last = now;
            UpdateScene(scene, ui, modelSetting, dt);
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
            return dt;
        };
        scene.importer.Request({kGene / "Gene_light.pmx"});
        while (scene.importer.Busy()) {
            frame();
        }
        VmdMotion motion;  // the centre bone, for the two minutes
        const std::u16string center = u"センター";
        motion.boneKeys[center].push_back({center, 0, {0, 0, 0}, {0, 0, 0, 1}});
        motion.boneKeys[center].push_back({center, 3600, {1, 0, 0}, {0, 0, 0, 1}});
        AttachMotion(*scene.models[0].instance, motion);
        SelectSong(scene, 0);
        PressPlay(scene);
        double frameClock = 0.0;
        for (int i = 0; i < 10; ++i) {
            scene.importer.Request({kGene / "Gene_light.pmx"});
            while (scene.importer.Busy()) {
                frameClock += frame();
            }
            for (int k = 0; k < 5; ++k) {
                frameClock += frame();
            }
        }
        // The song where a frame starts, against the motion that frame
        // poses (a frame of eleven Genes takes long enough on a small
        // machine that a later reading would count its own work as drift).
        const double song = scene.playback.songInstance->PlayPositionSeconds();
        frameClock += frame();
        state.counters["song_seconds"] = song;
        state.counters["drift_seconds"] = song - scene.models[0].instance->motion.time;
        state.counters["frame_clock_drift_seconds"] = song - frameClock;
    }
}

}  // namespace

BENCHMARK(BM_ChainTipAtThirtyFps)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DriftAfterTenGeneImports)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace qv
