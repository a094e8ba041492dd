// The player's tool windows: the Dear ImGui context with its SDL2 back end, and the interface
// stage's frame.
#pragma once

#include <vulkan/vulkan.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/engine_context.h"
#include "platform/result.h"
#include "ui/interface_context.h"
#include "ui/interface_view.h"

union SDL_Event;
struct SDL_Window;

namespace qv {

class InterfaceRenderer;

// Protocol: Start on the main thread before the engine exists; AttachWindow
// once the window is open (a headless player has none); then, per frame,
// ProcessEvent and BeginFrame on the main thread between frames and RecordInterface
// on the interface stage thread; Shutdown after the engine has released the
// GPU side (the Vulkan back end goes with the renderer).
class PlayerInterface {
public:
    PlayerInterface() = default;
    ~PlayerInterface() { Shutdown(); }
    PlayerInterface(const PlayerInterface&) = delete;
    PlayerInterface& operator=(const PlayerInterface&) = delete;

    // The context, its style and the font: the one beside the program, else
    // the installed Noto Sans CJK JP face. E_FAIL with a one-line reason.
    Result Start();
    // The SDL2 back end on the window. E_FAIL when it refuses.
    HRESULT AttachWindow(SDL_Window* window);
    void Shutdown();

    bool Started() const { return context_ != nullptr; }

    // Main thread: passes a window event to Dear ImGui.
    void ProcessEvent(const SDL_Event& event);
    // Whether the tool windows want the mouse or the keyboard (as of the
    // last frame): the camera and the models then get nothing.
    bool WantsInput() const;
    // Whether the tool windows hold the keyboard (as of the last frame): a
    // text field types, a widget is in use or a modal popup is open. Keys
    // that act everywhere else then belong to them.
    bool WantsKeyboard() const;

    // Main thread, before the stages start: the platform's new-frame step,
    // and the text-input rectangle moved to where Dear ImGui types.
    void BeginFrame();

    // Interface stage: draws one frame of the tool windows over `target`.
    // The facts are the engine's, gathered by the caller.
    void RecordInterface(InterfaceView& view, InterfaceRenderer* renderer, VkCommandBuffer cmd,
                         std::uint32_t frame, const BackBuffer& target, float frameSeconds);

    // CPU time of the last RecordInterface, for the benchmarks.
    double LastRecordSeconds() const { return lastRecordSeconds_; }

private:
    std::unique_ptr<InterfaceContext> context_;
    SDL_Window* window_ = nullptr;
    double lastRecordSeconds_ = 0.0;
};

}  // namespace qv
