// The player's tool windows: the Dear ImGui context with its SDL2 back end, and the interface
// stage's frame.
#include "app/player_interface.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>

#include <chrono>

#include "render/interface/interface_renderer.h"
#include "ui/main_windows.h"

namespace qv {

namespace {

// Where Dear ImGui last asked the text input to be. It asks at the end of its
// frame on the interface stage; the window is told on the main thread.
std::atomic<std::int64_t> imeRequested{-1};
std::int64_t imeForwarded = -1;

std::int64_t PackPosition(int x, int y) {
    return (static_cast<std::int64_t>(static_cast<std::uint32_t>(x)) << 32) |
           static_cast<std::uint32_t>(y);
}

void RememberImePosition(int x, int y) {
    imeRequested.store(PackPosition(x, y));
}

}  // namespace

Result PlayerInterface::Start() {
    context_ = std::make_unique<InterfaceContext>();
    FontFace face;
    Result found = FindInterfaceFont(kInterfaceFontPath, &face);
    if (!found.ok()) {
        context_.reset();
        return found;
    }
    if (Result loaded = context_->LoadFont(face); !loaded.ok()) {
        context_.reset();
        return loaded;
    }
    // Dear ImGui points the input method at the window by itself on Windows
    // only; here the main thread forwards the position (BeginFrame).
    ImGui::GetIO().ImeSetInputScreenPosFn = RememberImePosition;
    return {};
}

HRESULT PlayerInterface::AttachWindow(SDL_Window* window) {
    if (!Started() || window == nullptr || !ImGui_ImplSDL2_InitForVulkan(window)) {
        return E_FAIL;
    }
    window_ = window;
    return S_OK;
}

void PlayerInterface::Shutdown() {
    if (window_ != nullptr) {
        ImGui_ImplSDL2_Shutdown();
        window_ = nullptr;
    }
    context_.reset();
}

void PlayerInterface::ProcessEvent(const SDL_Event& event) {
    if (window_ != nullptr) {
        ImGui_ImplSDL2_ProcessEvent(&event);
    }
}

bool PlayerInterface::WantsInput() const {
    if (!Started()) {
        return false;
    }
    const ImGuiIO& io = ImGui::GetIO();
    return io.WantCaptureMouse || io.WantCaptureKeyboard;
}

bool PlayerInterface::WantsKeyboard() const {
    // Without keyboard navigation, Dear ImGui sets this exactly while a
    // widget is active (typing included) or a modal popup is open.
    return Started() && ImGui::GetIO().WantCaptureKeyboard;
}

void PlayerInterface::BeginFrame() {
    if (window_ == nullptr) {
        return;
    }
    ImGui_ImplSDL2_NewFrame();
    const std::int64_t requested = imeRequested.load();
    if (requested != imeForwarded && requested >= 0) {
        imeForwarded = requested;
        SDL_Rect rect{static_cast<int>(requested >> 32), static_cast<int>(requested & 0xFFFFFFFF),
                      1, static_cast<int>(kInterfaceFontPixels)};
        SDL_SetTextInputRect(&rect);
    }
}

void PlayerInterface::RecordInterface(InterfaceView& view, InterfaceRenderer* renderer,
                                      VkCommandBuffer cmd, std::uint32_t frame,
                                      const BackBuffer& target, float frameSeconds) {
    if (!Started() || target.image == VK_NULL_HANDLE) {
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    ImGuiIO& io = ImGui::GetIO();
    // The windows lay out on the back buffer as it is now, whatever the
    // window system last reported.
    io.DisplaySize = ImVec2(static_cast<float>(target.width), static_cast<float>(target.height));
    io.DisplayFramebufferScale = ImVec2(1.0f, 1.0f);
    if (window_ == nullptr) {
        io.DeltaTime = frameSeconds > 0.0f ? frameSeconds : 1.0f / 60.0f;
    }
    ImGui::NewFrame();
    DrawInterface(view);
    ImGui::Render();
    if (renderer != nullptr) {
        renderer->Record(cmd, frame, target, ImGui::GetDrawData());
    }
    lastRecordSeconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace qv
