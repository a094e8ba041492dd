// The scene's own costs: a whole import of Gene and a motion, and a frame of
// twenty Genes playing with physics.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "runtime/motion.h"
#include "scene/scene.h"

namespace qv {

namespace {

const std::filesystem::path kGene = std::filesystem::path(QV_CONTENT_DIR) / "gene";

// A scene with the interface state its update reads, none of it shown.
struct BenchScene {
    Scene scene;
    UiState ui;
    ModelSettingState modelSetting;

    void Update(float seconds) { UpdateScene(scene, ui, modelSetting, seconds); }
};

// Whether the shared model is there; without it the benchmark is skipped.
bool HaveGene(benchmark::State& state) {
    if (!std::filesystem::exists(kGene / "Gene_light.pmx")) {
        state.SkipWithError("Gene content not found");
        return false;
    }
    return true;
}

// From the request to the model being in the scene: parsing on the import
// thread, then the CPU half of model creation at the start of a frame.
void BM_ImportGeneAndMotion(benchmark::State& state) {
    if (!HaveGene(state)) {
        return;
    }
    BenchScene bench;
    Scene& scene = bench.scene;
    for (auto _ : state) {
        scene.importer.Request({kGene / "Gene_light.pmx", kGene / "motion" / "stand.vmd"});
        while (!scene.importer.ResultsReady()) {
            std::this_thread::yield();
        }
        bench.Update(0.0f);
        state.PauseTiming();
        bench.ui.requests.push_back({RequestKind::DeleteModel, 0});
        bench.ui.requests.push_back({RequestKind::DeleteMotion, 0});
        bench.Update(0.0f);
        state.ResumeTiming();
    }
}

void BM_UpdateSceneTwentyGenes(benchmark::State& state) {
    if (!HaveGene(state)) {
        return;
    }
    BenchScene bench;
    Scene& scene = bench.scene;
    std::vector<std::filesystem::path> files(20, kGene / "Gene_light.pmx");
    files.push_back(kGene / "motion" / "10_impressed.vmd");
    scene.importer.Request(files);
    while (!scene.importer.ResultsReady()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bench.Update(0.0f);
    for (auto& model : scene.models) {
        AttachMotion(*model.instance, scene.motions[0].motion);
    }
    PressPlay(scene);
    for (auto _ : state) {
        for (auto& model : scene.models) {
            if (model.instance->motion.time >= model.instance->motion.end)
                RewindMotion(*model.instance);
        }
        bench.Update(1.0f / 60.0f);
    }
    state.counters["models"] = static_cast<double>(scene.models.size());
}

}  // namespace

BENCHMARK(BM_ImportGeneAndMotion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UpdateSceneTwentyGenes)->Unit(benchmark::kMillisecond);

}  // namespace qv
