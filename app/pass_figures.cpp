// Each pass's GPU time, gathered from the two renderers for the statistics and the benchmarks.
#include <tuple>

#include "app/player.h"
#include "ui/interface_view.h"

namespace qv {

GpuPassTimes PlayerPassTimes(const PlayerGraphics& graphics) {
    GpuPassTimes times;
    times.fill(-1.0f);
    if (graphics.sceneRenderer) {
        times = graphics.sceneRenderer->PassTimes();
    }
    const auto interface = static_cast<std::size_t>(GpuPass::Interface);
    times[interface] =
        graphics.interfaceRenderer ? graphics.interfaceRenderer->PassTimes()[interface] : -1.0f;
    return times;
}

// The passes the renderers timed.
void RefreshPassFigures(const PlayerGraphics& graphics, InterfaceFacts& facts) {
    static_assert(kGpuPassCount <= std::tuple_size_v<decltype(InterfaceFacts::gpuPasses)>,
                  "every pass needs its line in the facts");
    const GpuPassTimes times = PlayerPassTimes(graphics);
    facts.gpuPassCount = 0;
    for (std::size_t p = 0; p < kGpuPassCount; ++p) {
        if (times[p] >= 0.0f) {
            facts.gpuPasses[facts.gpuPassCount++] = {GpuPassName(static_cast<GpuPass>(p)),
                                                     times[p]};
        }
    }
}

}  // namespace qv
