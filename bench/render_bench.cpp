// The renderer on the headless presenter with Gene playing: frames per
// second by anti-aliasing mode, the CPU time of recording a frame, and the
// GPU half of creating Gene. Validation off. On the software device the
// frame figures are bound by the driver's rasterisation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "app/player.h"
#include "app/player_interface.h"
#include "bench/headless_player.h"
#include "core/frame_loop.h"
#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "render/device/graphics_device.h"
#include "render/scene_renderer.h"
#include "render/vk/pass_timer.h"
#include "runtime/model_instance.h"
#include "runtime/motion.h"
#include "scene/scene.h"

namespace qv {

namespace {

const std::filesystem::path kGene = std::filesystem::path(QV_CONTENT_DIR) / "gene";

// A headless player whose scene holds Gene playing stand.vmd, with or
// without the tool windows drawn over it.
struct GeneStage {
    PlayerInterface interface;
    EngineContext ctx;
    PlayerGraphics graphics;
    Scene scene;
    UiState ui;
    InterfaceView view{scene, ui, {}, {}};
    PmxModel model;
    double recordSeconds = 0.0;
    std::uint64_t recorded = 0;
    double interfaceSeconds = 0.0;

    // `shaderSet` 1 is the toon set, which reads no shadow map for Gene (its
    // materials have no toon ramps); 0 draws and reads the map every frame.
    bool Start(benchmark::State& state, std::int32_t shaderSet = 1, bool withInterface = false,
               std::uint32_t width = 1280, std::uint32_t height = 720) {
        VmdMotion motion;
        if (Failed(LoadPmxModel(model, kGene / "Gene_light.pmx")) ||
            Failed(LoadVmdMotion(motion, kGene / "motion" / "stand.vmd"))) {
            state.SkipWithError("the shared content folder is missing");
            return false;
        }
        if (Result started; withInterface && !(started = interface.Start()).ok()) {
            state.SkipWithError(started.message.c_str());
            return false;
        }
        ctx.Initialize();
        ctx.SetWidth(width);
        ctx.SetHeight(height);
        if (withInterface) {
            graphics.interface = &interface;
            graphics.recordInterface = [this](VkCommandBuffer direct, std::uint32_t f,
                                              const BackBuffer& target) {
                interface.RecordInterface(view, graphics.interfaceRenderer.get(), direct, f, target,
                                          1.0f / 60.0f);
                interfaceSeconds += interface.LastRecordSeconds();
            };
        }
        const Result device = StartHeadlessPlayer(ctx, graphics);
        if (!device.ok()) {
            state.SkipWithError(device.message.c_str());
            return false;
        }
        graphics.recordScene = [this](VkCommandBuffer compute, VkCommandBuffer direct,
                                      std::uint32_t f, const BackBuffer& target) {
            const auto start = std::chrono::steady_clock::now();
            graphics.sceneRenderer->Record(scene, compute, direct, f, target);
            recordSeconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ++recorded;
        };
        auto instance = std::make_unique<ModelInstance>();
        if (Failed(CreateModelInstance(*instance, model))) {
            state.SkipWithError("the model instance cannot be made");
            return false;
        }
        if (const Result made =
                graphics.sceneRenderer->CreateModel(*instance, model, BuiltInShaderSet(shaderSet));
            !made.ok()) {
            state.SkipWithError(made.message.c_str());
            return false;
        }
        graphics.sceneRenderer->FinishUploads();
        AttachMotion(*instance, motion);
        instance->playing = 1;
        ModelUiEntry row;
        row.name = "Gene";
        scene.models.push_back({std::move(instance), row});
        scene.motions.push_back({motion, "stand.vmd"});
        view.facts.renderDeviceName = ctx.GetAdapterDescription();
        return true;
    }

    void Frame() {
        UpdateModel(*scene.models[0].instance, 1.0f / 60.0f);
        RunFrame(ctx);
    }

    GpuPassTimes PassTimes() const { return PlayerPassTimes(graphics); }

    ~GeneStage() {
        ctx.Teardown();
        interface.Shutdown();
    }
};

// The GPU milliseconds of each pass the frames drew, as counters named
// gpu_<pass>_ms, means over the last frames; none where the device keeps no
// time.
void ReportPassTimes(benchmark::State& state, const GpuPassTimes& times) {
    for (std::size_t p = 0; p < kGpuPassCount; ++p) {
        if (times[p] < 0.0f) {
            continue;
        }
        std::string name = GpuPassName(static_cast<GpuPass>(p));
        std::transform(name.begin(), name.end(), name.begin(), [](char c) {
            return c == ' ' || c == '-' ? '_' : static_cast<char>(std::tolower(c));
        });
        state.counters["gpu_" + name + "_ms"] = times[p];
    }
}

void BM_GenePlayingFrame(benchmark::State& state) {
    GeneStage stage;
    if (!stage.Start(state, static_cast<std::int32_t>(state.range(1)))) {
        return;
    }
    stage.scene.render.antiAliasingMode = static_cast<std::int32_t>(state.range(0));
    state.SetLabel(state.range(1) == 1 ? "toon set" : "experimental set, shadow map drawn");
    for (int i = 0; i < 10; ++i) {
        stage.Frame();  // first use of the driver's paths
    }
    stage.recordSeconds = 0.0;
    stage.recorded = 0;
    for (auto _ : state) {
        stage.Frame();
    }
    WaitForGpu(stage.ctx);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["record_us"] =
        stage.recorded != 0 ? stage.recordSeconds * 1e6 / static_cast<double>(stage.recorded) : 0;
    ReportPassTimes(state, stage.PassTimes());
    if (!stage.graphics.sceneRenderer->EightSamplesAvailable() && state.range(0) == 4) {
        state.SetLabel("toon set, drawn as MSAA 4x");
    }
}
BENCHMARK(BM_GenePlayingFrame)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1}})
    ->Args({0, 0})
    ->Args({3, 0})
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Gene ray traced at a size and quality (0 "Low", 3 "Ultra"), next to the
// rasterised frame (quality -1) of the same run and size: frames per second
// and the GPU time of rebuilding the acceleration structures each frame.
void BM_GeneRayTracedFrame(benchmark::State& state) {
    GeneStage stage;
    const auto width = static_cast<std::uint32_t>(state.range(0));
    const auto height = width * 9 / 16;
    const auto quality = static_cast<std::int32_t>(state.range(1));
    if (!stage.Start(state, 1, false, width, height)) {
        return;
    }
    stage.scene.stage.camera.viewportWidth = width;
    stage.scene.stage.camera.viewportHeight = height;
    UpdateCamera(stage.scene.stage.camera);
    SceneRenderer& renderer = *stage.graphics.sceneRenderer;
    stage.scene.render.antiAliasingMode = 0;
    if (quality >= 0) {
        if (!renderer.RayTracingAvailable() || !renderer.RebuildRayTracing(stage.scene).ok() ||
            !renderer.RayTracing()->EnableBuildTimings()) {
            state.SkipWithError("no ray tracing on this device");
            return;
        }
        stage.scene.render.rayTracing = true;
        stage.scene.render.diffuseSamples = stage.scene.render.shadowSamples =
            SamplesForQuality(quality);
    }
    const char* names[] = {"Low", "Medium", "High", "Ultra"};
    state.SetLabel(quality < 0 ? "rasterised, no anti-aliasing" : names[quality]);
    for (int i = 0; i < 3; ++i) {
        stage.Frame();
    }
    double buildMs = 0.0;
    for (auto _ : state) {
        const std::uint32_t f = stage.ctx.GetFrameIndex() % kFrameCount;
        stage.Frame();
        if (quality >= 0) {
            buildMs += renderer.RayTracing()->BuildMilliseconds(f);
        }
    }
    WaitForGpu(stage.ctx);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["as_build_ms"] = buildMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_GeneRayTracedFrame)
    ->ArgsProduct({{640, 1280}, {-1, 0, 3}})
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Gene at MSAA 4x with no shadow at all, the ground shadow alone, the
// self-shadow map alone, and both: what each shadow costs a frame.
void BM_GeneShadowFrame(benchmark::State& state) {
    const bool ground = state.range(0) != 0;
    const bool map = state.range(1) != 0;
    GeneStage stage;
    // The toon set reads no shadow map for Gene, so the map is not drawn.
    if (!stage.Start(state, map ? 0 : 1)) {
        return;
    }
    stage.scene.render.antiAliasingMode = 3;
    stage.scene.render.groundShadow = ground;
    state.SetLabel(std::string(ground ? "ground shadow" : "no ground shadow") +
                   (map ? ", shadow map" : ", no shadow map"));
    for (int i = 0; i < 10; ++i) {
        stage.Frame();
    }
    for (auto _ : state) {
        stage.Frame();
    }
    WaitForGpu(stage.ctx);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    ReportPassTimes(state, stage.PassTimes());
}
BENCHMARK(BM_GeneShadowFrame)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Frames with every tool window of the main interface open (navigator,
// resource manager, both settings, About, statistics, import status) against
// frames without any: the interface stage's CPU time next to the scene
// stage's, and the frame rate.
void BM_GeneFrameWithInterface(benchmark::State& state) {
    GeneStage stage;
    const bool withInterface = state.range(0) != 0;
    if (!stage.Start(state, 1, withInterface)) {
        return;
    }
    UiState& ui = stage.ui;
    ui.showResourceManager = ui.showGraphicSetting = ui.showPhysicsSetting = ui.showAbout =
        ui.showImportStatus = withInterface;
    ui.showNavigator = ui.showStatistics = withInterface;
    state.SetLabel(withInterface ? "every main window open" : "no interface");
    for (int i = 0; i < 10; ++i) {
        stage.Frame();
    }
    stage.recordSeconds = stage.interfaceSeconds = 0.0;
    stage.recorded = 0;
    for (auto _ : state) {
        stage.Frame();
    }
    WaitForGpu(stage.ctx);
    const double frames = static_cast<double>(stage.recorded != 0 ? stage.recorded : 1);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["scene_record_us"] = stage.recordSeconds * 1e6 / frames;
    state.counters["interface_record_us"] = stage.interfaceSeconds * 1e6 / frames;
    ReportPassTimes(state, stage.PassTimes());
}
BENCHMARK(BM_GeneFrameWithInterface)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Creating the GPU half again with the pipelines already made, as for every
// model after the first.
void BM_CreateGeneGpu(benchmark::State& state) {
    GeneStage stage;
    if (!stage.Start(state)) {
        return;
    }
    ModelInstance instance;
    if (Failed(CreateModelInstance(instance, stage.model))) {
        state.SkipWithError("no instance");
        return;
    }
    // The call returns with the model's bytes still being written on a task
    // of their own; the second figure runs until its upload is done.
    double untilDrawable = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (const Result made = stage.graphics.sceneRenderer->CreateModel(instance, stage.model);
            !made.ok()) {
            state.SkipWithError(made.message.c_str());
            break;
        }
        state.PauseTiming();
        stage.graphics.sceneRenderer->FinishUploads();
        untilDrawable +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        stage.graphics.sceneRenderer->ReleaseModel(instance);
        state.ResumeTiming();
    }
    state.counters["until_uploaded_ms"] =
        1000.0 * untilDrawable /
        static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}
BENCHMARK(BM_CreateGeneGpu)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

// A second Gene imported while the first plays, as a user drops one in: the
// CPU half on the import thread (parsing and, when asked, texture decoding),
// the GPU half inside the frame's scene update, the time from the request to
// the first frame that shows the model, and the longest frame meanwhile next
// to the frames before. Argument: textures decoded on the import thread (1)
// or in the scene update (0, where they were decoded before).
void BM_ImportGeneWhilePlaying(benchmark::State& state) {
    EngineContext ctx;
    PlayerGraphics graphics;
    Scene scene;
    UiState ui;
    ModelSettingState modelSetting;
    ctx.Initialize();
    ctx.SetWidth(1280);
    ctx.SetHeight(720);
    const Result device = StartHeadlessPlayer(ctx, graphics);
    if (!device.ok()) {
        state.SkipWithError(device.message.c_str());
        return;
    }
    ConnectSceneRenderer(ctx, graphics, scene, "bench");
    scene.importer.SetDecodeTextures(state.range(0) != 0);
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point from) {
        return std::chrono::duration<double>(Clock::now() - from).count();
    };
    // The main thread's own CPU time, apart from its waits for the device.
    auto threadCpuSeconds = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    };
    double updateSeconds = 0.0;
    double updateCpuSeconds = 0.0;
    auto frame = [&] {
        const auto start = Clock::now();
        const double cpuStart = threadCpuSeconds();
        UpdateScene(scene, ui, modelSetting, 1.0f / 60.0f);
        updateSeconds = seconds(start);
        updateCpuSeconds = threadCpuSeconds() - cpuStart;
        RunFrame(ctx);
        return seconds(start);
    };
    scene.importer.Request({kGene / "Gene_light.pmx", kGene / "motion" / "stand.vmd"});
    while (scene.models.empty() && scene.importer.Busy()) {
        frame();
    }
    if (scene.models.size() != 1 || scene.motions.empty()) {
        state.SkipWithError("Gene did not load");
        ctx.Teardown();
        return;
    }
    AttachMotion(*scene.models[0].instance, scene.motions[0].motion);
    PressPlay(scene);
    double cpuHalf = 0.0, gpuHalf = 0.0, gpuHalfCpu = 0.0, toFrame = 0.0, longest = 0.0,
           before = 0.0;
    for (auto _ : state) {
        double slowestBefore = 0.0;
        for (int i = 0; i < 5; ++i) {
            slowestBefore = std::max(slowestBefore, frame());
        }
        const auto request = Clock::now();
        scene.importer.Request({kGene / "Gene_light.pmx"});
        double slowest = 0.0;
        while (scene.models.size() < 2) {
            slowest = std::max(slowest, frame());
            if (!scene.importer.Busy() && scene.models.size() < 2) {
                state.SkipWithError("the second Gene did not load");
                break;
            }
        }
        gpuHalf += updateSeconds;
        gpuHalfCpu += updateCpuSeconds;
        // The model joins the frames once its upload is found done.
        while (scene.models.size() == 2 &&
               graphics.sceneRenderer->AwaitsUpload(*scene.models[1].instance)) {
            slowest = std::max(slowest, frame());
        }
        WaitForGpu(ctx);  // the frame that shows the model has been drawn
        toFrame += seconds(request);
        cpuHalf += scene.importer.LastBatchSeconds();
        longest += slowest;
        before += slowestBefore;
        state.PauseTiming();
        ui.requests.push_back({RequestKind::DeleteModel, 1});
        frame();
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["cpu_half_ms"] = 1000.0 * cpuHalf / n;
    state.counters["gpu_half_ms"] = 1000.0 * gpuHalf / n;
    state.counters["gpu_half_main_thread_cpu_ms"] = 1000.0 * gpuHalfCpu / n;
    state.counters["request_to_frame_ms"] = 1000.0 * toFrame / n;
    state.counters["longest_frame_ms"] = 1000.0 * longest / n;
    state.counters["longest_frame_before_ms"] = 1000.0 * before / n;
    ctx.Teardown();
}
BENCHMARK(BM_ImportGeneWhilePlaying)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

}  // namespace qv
