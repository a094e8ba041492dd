// The frame loop's own cost: empty frames (a white clear) on the headless
// presenter, validation off. On the software device the figure includes the
// driver's work for the clear and the submissions.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "app/player.h"
#include "bench/headless_player.h"
#include "core/frame_loop.h"
#include "render/device/graphics_device.h"

namespace qv {

namespace {

void BM_EmptyHeadlessFrame(benchmark::State& state) {
    EngineContext ctx;
    ctx.Initialize();
    ctx.SetWidth(static_cast<std::uint32_t>(state.range(0)));
    ctx.SetHeight(static_cast<std::uint32_t>(state.range(1)));
    PlayerGraphics graphics;
    const Result device = StartHeadlessPlayer(ctx, graphics);
    if (!device.ok()) {
        state.SkipWithError(device.message.c_str());
        return;
    }
    for (int i = 0; i < 10; ++i) {
        RunFrame(ctx);  // first use of the driver's paths
    }
    for (auto _ : state) {
        RunFrame(ctx);
    }
    WaitForGpu(ctx);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    ctx.Teardown();
}
BENCHMARK(BM_EmptyHeadlessFrame)
    ->Args({1280, 720})
    ->Args({64, 64})
    ->Iterations(1000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Start-up to the first presented frame: device, pipelines, one frame. Arg
// 0 starts with an empty pipeline cache every time (a first run), 1 with the
// cache the previous start left (every later run). The driver's own shader
// cache is switched off so that only ours counts.
void BM_StartUpToFirstFrame(benchmark::State& state) {
    const bool warm = state.range(0) != 0;
    const auto folder =
        std::filesystem::temp_directory_path() / ("qv-bench-cache-" + std::to_string(::getpid()));
    setenv("XDG_CACHE_HOME", folder.c_str(), 1);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    std::filesystem::remove_all(folder);
    auto start = [] {
        EngineContext ctx;
        ctx.Initialize();
        ctx.SetWidth(1280);
        ctx.SetHeight(720);
        PlayerGraphics graphics;
        Result started = StartHeadlessPlayer(ctx, graphics);
        if (started.ok() && Failed(RunFrame(ctx))) {
            started = Result::Failure(E_FAIL, "the first frame was not presented");
        }
        WaitForGpu(ctx);
        ctx.Teardown();
        return started;
    };
    if (const Result started = warm ? start() : Result{}; !started.ok()) {
        state.SkipWithError(started.message.c_str());
        return;
    }
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            std::filesystem::remove_all(folder);
            state.ResumeTiming();
        }
        if (const Result started = start(); !started.ok()) {
            state.SkipWithError(started.message.c_str());
            break;
        }
    }
    std::filesystem::remove_all(folder);
    state.SetLabel(warm ? "pipeline cache warm" : "first run");
}
BENCHMARK(BM_StartUpToFirstFrame)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

}  // namespace qv
