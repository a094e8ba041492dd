// The scene's own costs: a whole import of Gene and a motion, and a frame of
// many Genes playing with physics, on one spot and side by side.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "formats/vmd_motion.h"
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

// A frame of the scene, every model's motion rewound (untimed) at its end.
void PlayScene(benchmark::State& state, BenchScene& bench) {
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& model : bench.scene.models) {
            if (model.instance->motion.time >= model.instance->motion.end) {
                RewindMotion(*model.instance);
            }
        }
        state.ResumeTiming();
        bench.Update(1.0f / 60.0f);
    }
    state.counters["models"] = static_cast<double>(bench.scene.models.size());
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
    PlayScene(state, bench);
}

// The motion moved `x` units along the x axis: every key of the model's
// first root bone shifted, or one key placing it there when it has none.
VmdMotion MovedAlongX(VmdMotion motion, const std::u16string& root, float x) {
    std::vector<VmdBoneKey>& keys = motion.boneKeys[root];
    if (keys.empty()) {
        VmdBoneKey key;
        key.boneName = root;
        key.rotation = {0.0f, 0.0f, 0.0f, 1.0f};
        keys.push_back(key);
    }
    for (VmdBoneKey& key : keys) {
        key.position.x += x;
    }
    return motion;
}

// Ten Genes 20 units apart on x, each dancing its own motion: no body of one
// reaches another, so every model costs what it would alone.
void BM_UpdateSceneTenGenesSideBySide(benchmark::State& state) {
    if (!HaveGene(state)) {
        return;
    }
    constexpr int kModels = 10;
    const char* const kMotions[kModels] = {
        "00_normal.vmd",   "02_laugh.vmd",     "04_littlesmile.vmd", "06_embarassedsmile.vmd",
        "08_surprise.vmd", "10_impressed.vmd", "12_expectant.vmd",   "14_crisp.vmd",
        "16_thinking.vmd", "18_compassion.vmd"};
    BenchScene bench;
    Scene& scene = bench.scene;
    std::vector<std::filesystem::path> files(kModels, kGene / "Gene_light.pmx");
    for (const char* name : kMotions) {
        files.push_back(kGene / "motion" / name);
    }
    scene.importer.Request(files);
    while (!scene.importer.ResultsReady()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bench.Update(0.0f);
    if (scene.models.size() != kModels || scene.motions.size() != kModels) {
        state.SkipWithError("Gene motions not found");
        return;
    }
    for (std::size_t i = 0; i < scene.models.size(); ++i) {
        ModelInstance& instance = *scene.models[i].instance;
        AttachMotion(instance, MovedAlongX(scene.motions[i].motion, instance.bones[0].name,
                                           20.0f * static_cast<float>(i)));
    }
    PressPlay(scene);
    // The bodies are pulled from the origin to their places; a second lets
    // them settle before anything is timed.
    for (int frame = 0; frame < 60; ++frame) {
        bench.Update(1.0f / 60.0f);
    }
    PlayScene(state, bench);
}

}  // namespace

BENCHMARK(BM_ImportGeneAndMotion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UpdateSceneTwentyGenes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateSceneTenGenesSideBySide)->Unit(benchmark::kMillisecond);

}  // namespace qv
