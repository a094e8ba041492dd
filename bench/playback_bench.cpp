// How far physics and the dance stray: chain tip against the render clock, dance against the song.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "runtime/motion.h"
#include "scene/scene.h"
#include "tests/support/chain_scene.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

const std::filesystem::path kGene = std::filesystem::path(QV_CONTENT_DIR) / "gene";

// The largest distance over 10 s at 30 fps between the chain's tip played
// live and its place on the render clock.
void BM_ChainTipAtThirtyFps(benchmark::State& state) {
    float largest = 0.0f;
    for (auto _ : state) {
        largest = LargestTipDistance(30.0, 10.0);
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

BENCHMARK(BM_ChainTipAtThirtyFps)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DriftAfterTenGeneImports)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace qv
