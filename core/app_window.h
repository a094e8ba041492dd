// The main window as the engine sees it: its surface, its size, full screen and its events.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/engine_context.h"
#include "platform/result.h"
#include "platform/result_code.h"

namespace qv {

inline constexpr std::uint32_t kDefaultClientWidth = 1280;
inline constexpr std::uint32_t kDefaultClientHeight = 720;

// Opens the main window with a client area of w x h; sizes below 200 fall back
// to 1280 x 720. E_INVALIDARG when the window exists already, E_FAIL when
// there is no display or the window cannot be made, each with its reason.
Result CreateAppWindow(EngineContext& ctx, std::uint32_t w, std::uint32_t h);

// The client size CreateAppWindow gives for a requested size.
void EffectiveClientSize(std::uint32_t w, std::uint32_t h, std::uint32_t* outW,
                         std::uint32_t* outH);

// Instance extensions the window's surface needs, and the surface itself.
HRESULT WindowInstanceExtensions(EngineContext& ctx, std::vector<const char*>* extensions);
HRESULT CreateWindowSurface(EngineContext& ctx, VkInstance instance, VkSurfaceKHR* surface);

// Desktop rectangle of the monitor that holds the window. E_FAIL without a
// window or a swap chain.
HRESULT GetOutputRect(EngineContext& ctx, WindowRect* rect);
// Borderless desktop full screen on or off. Setting the current state does
// nothing and returns S_OK; E_FAIL without a window or a swap chain.
HRESULT SetFullscreen(EngineContext& ctx, bool on);
// Window side of a resize: gives the window a client area of w x h, except in
// full screen, where the window stays as it is.
void ResizeAppWindow(EngineContext& ctx, std::uint32_t w, std::uint32_t h);

// Handles the waiting window events; false once the window was closed.
bool PumpWindowEvents(EngineContext& ctx);

// True while the window is minimised or hidden: nothing drawn would be seen.
bool WindowIsHidden(EngineContext& ctx);
// Sleeps until a window event arrives or the given time has passed, so a
// loop with nothing to draw waits instead of spinning.
void WaitForWindowEvent(EngineContext& ctx, std::uint32_t milliseconds);

}  // namespace qv
