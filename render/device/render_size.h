// The render size and full screen, changed in one place so the targets follow.
#pragma once

#include <cstdint>

#include "core/engine_context.h"
#include "platform/result_code.h"
#include "scene/resolutions.h"

namespace qv {

// The render size and the list entry it was chosen from, which full screen
// returns to.
struct RenderSize {
    std::uint32_t resolutionIndex = 0;
    std::uint32_t renderWidth = 1280;
    std::uint32_t renderHeight = 720;
};

// The one way to change the rendering size. The caller has waited for the GPU.
// On failure the size stays as it was.
HRESULT SetRenderResolution(EngineContext& ctx, RenderSize& renderer, std::uint32_t width,
                            std::uint32_t height);
// Full screen on or off, with the render size following the monitor in full
// screen and the selected entry after it.
HRESULT ApplyFullscreen(EngineContext& ctx, RenderSize& renderer, bool on);

}  // namespace qv
