// The frame loop's own cost: empty frames (a white clear) on the headless
// presenter, validation off. On the software device the figure includes the
// driver's work for the clear and the submissions.
#include <benchmark/benchmark.h>

#include "app/player.h"
#include "core/frame_loop.h"
#include "render/graphics_device.h"

namespace {

void BM_EmptyHeadlessFrame(benchmark::State& state) {
    EngineContext ctx;
    ctx.Initialize();
    ctx.SetWidth(static_cast<std::uint32_t>(state.range(0)));
    ctx.SetHeight(static_cast<std::uint32_t>(state.range(1)));
    PlayerGraphics graphics;
    if (Failed(RegisterPlayer(ctx, graphics)) ||
        Failed(CreateGraphicsDevice(ctx, {PresentTarget::Headless, false}))) {
        state.SkipWithError(GraphicsDeviceError().c_str());
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

}  // namespace
