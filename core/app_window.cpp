// The one main window: made, sized, switched to full screen, and its events handled.
#include "core/app_window.h"

#include <SDL.h>
#include <SDL_vulkan.h>

#include <cstring>

#include "core/presenter.h"

namespace qv {

namespace {

bool HasSwapChain(EngineContext& ctx) {
    return ctx.Locked([](EngineState& s) { return s.presenter != nullptr; });
}

}  // namespace

void EffectiveClientSize(std::uint32_t w, std::uint32_t h, std::uint32_t* outW,
                         std::uint32_t* outH) {
    *outW = w < 200 ? kDefaultClientWidth : w;
    *outH = h < 200 ? kDefaultClientHeight : h;
}

Result CreateAppWindow(EngineContext& ctx, std::uint32_t w, std::uint32_t h) {
    if (ctx.GetWindowCreated()) {
        return Result::Failure(E_INVALIDARG, "the window exists already");
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        return Result::Failure(E_FAIL,
                               std::string("no display available (") + SDL_GetError() + ")");
    }
    // Without an X server or Wayland compositor SDL falls back to drivers
    // that draw nowhere; a window there could never be seen.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
        std::strcmp(driver, "dummy") == 0) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return Result::Failure(E_FAIL, "no display available");
    }
    EffectiveClientSize(w, h, &w, &h);
    SDL_Window* window = SDL_CreateWindow(
        kAppTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, static_cast<int>(w),
        static_cast<int>(h), SDL_WINDOW_VULKAN | SDL_WINDOW_SHOWN);
    if (window == nullptr) {
        return Result::Failure(
            E_FAIL, std::string("the window cannot be created (") + SDL_GetError() + ")");
    }
    int x = 0, y = 0;
    SDL_GetWindowPosition(window, &x, &y);
    int top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right);
    ctx.Locked([&](EngineState& s) {
        s.window = window;
        s.windowRect = {x - left, y - top, x + static_cast<int>(w) + right,
                        y + static_cast<int>(h) + bottom};
        s.dpiX = s.dpiY = 96.0f;
        s.width = w;
        s.height = h;
        s.windowCreated = true;
    });
    return {};
}

HRESULT WindowInstanceExtensions(EngineContext& ctx, std::vector<const char*>* extensions) {
    SDL_Window* window = ctx.GetWindow();
    unsigned count = 0;
    if (window == nullptr || !SDL_Vulkan_GetInstanceExtensions(window, &count, nullptr)) {
        return E_FAIL;
    }
    std::vector<const char*> names(count);
    if (!SDL_Vulkan_GetInstanceExtensions(window, &count, names.data())) {
        return E_FAIL;
    }
    extensions->insert(extensions->end(), names.begin(), names.end());
    return S_OK;
}

HRESULT CreateWindowSurface(EngineContext& ctx, VkInstance instance, VkSurfaceKHR* surface) {
    SDL_Window* window = ctx.GetWindow();
    if (window == nullptr || !SDL_Vulkan_CreateSurface(window, instance, surface)) {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT GetOutputRect(EngineContext& ctx, WindowRect* rect) {
    SDL_Window* window = ctx.GetWindow();
    if (window == nullptr || !HasSwapChain(ctx)) {
        return E_FAIL;
    }
    SDL_Rect bounds{};
    const int display = SDL_GetWindowDisplayIndex(window);
    if (display < 0 || SDL_GetDisplayBounds(display, &bounds) != 0) {
        return E_FAIL;
    }
    *rect = {bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
    return S_OK;
}

HRESULT SetFullscreen(EngineContext& ctx, bool on) {
    SDL_Window* window = ctx.GetWindow();
    if (window == nullptr || !HasSwapChain(ctx)) {
        return E_FAIL;
    }
    if (on == ctx.GetFullscreen()) {
        return S_OK;
    }
    if (on) {
        int x = 0, y = 0, w = 0, h = 0;
        SDL_GetWindowPosition(window, &x, &y);
        SDL_GetWindowSize(window, &w, &h);
        if (SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
            return E_FAIL;
        }
        ctx.Locked([&](EngineState& s) { s.windowRect = {x, y, x + w, y + h}; });
    } else {
        if (SDL_SetWindowFullscreen(window, 0) != 0) {
            return E_FAIL;
        }
        const WindowRect r = ctx.Locked([](EngineState& s) { return s.windowRect; });
        SDL_SetWindowSize(window, r.right - r.left, r.bottom - r.top);
        SDL_SetWindowPosition(window, r.left, r.top);
    }
    ctx.SetFullscreen(on);
    return S_OK;
}

void ResizeAppWindow(EngineContext& ctx, std::uint32_t w, std::uint32_t h) {
    SDL_Window* window = ctx.GetWindow();
    if (window == nullptr || ctx.GetFullscreen()) {
        return;
    }
    // SDL sizes the client area and keeps the top-left corner.
    SDL_SetWindowSize(window, static_cast<int>(w), static_cast<int>(h));
}

bool PumpWindowEvents(EngineContext& ctx) {
    SDL_Event event;
    bool open = ctx.GetWindow() != nullptr;
    while (SDL_PollEvent(&event)) {
        // Taken under the lock, called outside it: the hook reads the engine
        // state itself.
        const MessageHook hook = ctx.Locked([](EngineState& s) { return s.messageHook; });
        const bool used = hook && hook(ctx, event);
        // SDL hands over the dropped path; whoever looked at it is done now.
        if (event.type == SDL_DROPFILE || event.type == SDL_DROPTEXT) {
            SDL_free(event.drop.file);
        }
        if (used) {
            continue;
        }
        if (event.type == SDL_QUIT ||
            (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
            open = false;
        }
    }
    return open;
}

bool WindowIsHidden(EngineContext& ctx) {
    SDL_Window* window = ctx.GetWindow();
    return window != nullptr &&
           (SDL_GetWindowFlags(window) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN)) != 0;
}

void WaitForWindowEvent(EngineContext& ctx, std::uint32_t milliseconds) {
    if (ctx.GetWindow() != nullptr) {
        // A null event leaves the event queued for PumpWindowEvents.
        SDL_WaitEventTimeout(nullptr, static_cast<int>(milliseconds));
    }
}

}  // namespace qv
