// The render size and full screen, changed in one place so the targets follow.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <string>

#include "core/engine_context.h"
#include "platform/result_code.h"
#include "scene/resolutions.h"

namespace qv {

// The render size and the list entry it was chosen from, which full screen
// returns to.
struct RendererState {
    std::uint32_t resolutionIndex = 0;
    std::uint32_t renderWidth = 1280;
    std::uint32_t renderHeight = 720;
};

// Renderer set-up, run once from the device-created callback.
HRESULT InitializeRenderer(EngineContext& ctx, RendererState& renderer, VkDevice device);
// Targets that follow the window size; none exist yet besides the back buffers.
HRESULT CreateWindowSizeTargets(EngineContext& ctx, RendererState& renderer, VkDevice device);
// The one way to change the rendering size. The caller has waited for the GPU.
// On failure the window-size targets keep their size.
HRESULT SetRenderResolution(EngineContext& ctx, RendererState& renderer, std::uint32_t width,
                            std::uint32_t height);
// Full screen on or off, with the render size following the monitor in full
// screen and the selected entry after it.
HRESULT ApplyFullscreen(EngineContext& ctx, RendererState& renderer, bool on);

}  // namespace qv
