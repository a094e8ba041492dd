// Changes the render size only once the back buffers have taken it.
#include "render/device/render_size.h"

#include "core/app_window.h"
#include "render/device/graphics_device.h"

namespace qv {

HRESULT SetRenderResolution(EngineContext& ctx, RenderSize& renderer, std::uint32_t width,
                            std::uint32_t height) {
    // The size is recorded only once the back buffers really have it, so a
    // refused size (larger than the monitor) leaves everything as it was.
    const HRESULT hr = ResizeSwapChain(ctx, width, height);
    if (Failed(hr)) {
        return hr;
    }
    for (std::uint32_t i = 0; i < kResolutions.size(); ++i) {
        if (kResolutions[i].width == width && kResolutions[i].height == height) {
            renderer.resolutionIndex = i;
        }
    }
    renderer.renderWidth = width;
    renderer.renderHeight = height;
    // The frame's own targets follow the back buffers' size when recorded.
    return S_OK;
}

HRESULT ApplyFullscreen(EngineContext& ctx, RenderSize& renderer, bool on) {
    if (on == ctx.GetFullscreen()) {
        return S_OK;
    }
    if (const HRESULT hr = SetFullscreen(ctx, on); Failed(hr)) {
        return hr;
    }
    if (on) {
        WindowRect monitor;
        if (const HRESULT hr = GetOutputRect(ctx, &monitor); Failed(hr)) {
            return hr;
        }
        const auto w = static_cast<std::uint32_t>(monitor.right - monitor.left);
        const auto h = static_cast<std::uint32_t>(monitor.bottom - monitor.top);
        if (w != renderer.renderWidth || h != renderer.renderHeight) {
            const std::uint32_t selected = renderer.resolutionIndex;
            const HRESULT hr = SetRenderResolution(ctx, renderer, w, h);
            renderer.resolutionIndex = selected;
            return hr;
        }
        return S_OK;
    }
    const Resolution r = kResolutions[renderer.resolutionIndex % kResolutions.size()];
    return SetRenderResolution(ctx, renderer, r.width, r.height);
}

}  // namespace qv
