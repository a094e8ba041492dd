// The player's options and run loop, with hooks that tests use to record their own frames.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/engine_context.h"
#include "render/device/render_size.h"
#include "render/interface_renderer.h"
#include "render/scene_renderer.h"

namespace qv {

class PlayerInterface;
struct Scene;

struct PlayerOptions {
    bool help = false;
    // Files imported as one batch at start, as if picked in the file browser.
    std::vector<std::filesystem::path> files;
    // Once that batch is in: every motion on every model, the first song, play.
    bool play = false;
    // Adds the built-in demo (a figure, a dance, a beat) to the batch and plays.
    bool demo = false;
    bool headless = false;
    std::uint64_t frames = 0;  // 0: until the window closes (one frame headless)
    std::filesystem::path screenshot;
    // Tool windows open at start, by name (navigator, resources, ...).
    std::string showWindows;
    // No tool windows at all: the scene alone, as in a video.
    bool hideInterface = false;
    // Ray-traced frames from the start, at this quality (0 "Low" to 3
    // "Ultra") for both diffuse light and shadows.
    bool rayTracing = false;
    std::int32_t rayTracingQuality = 0;
};

// Switches ray tracing on as the Graphic setting window would, at `quality`
// for diffuse light and shadows; a multisampled mode becomes "None". The
// structures are built by the next scene update. False, with nothing
// changed, when the device offers no ray tracing.
bool SwitchOnRayTracing(Scene& scene, std::int32_t quality);
// "LOW", "MEDIUM", "HIGH" or "ULTRA" in any case to 0..3; false for
// anything else.
bool ParseRayTracingQuality(std::string level, std::int32_t* quality);

extern const char* const kUsage;

// E_INVALIDARG with a one-line reason for an unknown option or a bad value.
HRESULT ParseOptions(int argc, const char* const* argv, PlayerOptions* options, std::string* error);

// Records the 3-D scene of one frame into the scene stage's lists. The default
// clears the back buffer to white and leaves it in its present layout.
using SceneRecorder = std::function<void(VkCommandBuffer compute, VkCommandBuffer direct,
                                         std::uint32_t frameIndex, const BackBuffer& target)>;
void ClearToWhite(VkCommandBuffer compute, VkCommandBuffer direct, std::uint32_t frameIndex,
                  const BackBuffer& target);
// Records the tool windows of one frame over the back buffer, into the
// interface stage's list. The default records nothing.
using InterfaceRecorder =
    std::function<void(VkCommandBuffer direct, std::uint32_t frameIndex, const BackBuffer& target)>;

// What the two recording stages draw with: the renderers set up with the
// device and released before it.
struct PlayerGraphics {
    VkDevice device = VK_NULL_HANDLE;
    RenderSize renderer;
    // Models, their skinning and the main pass; made with the device.
    std::unique_ptr<SceneRenderer> sceneRenderer;
    SceneRecorder recordScene = ClearToWhite;
    // The tool windows' GPU side, made with the device when `interface` has
    // started (not with --hide-ui).
    PlayerInterface* interface = nullptr;
    std::unique_ptr<InterfaceRenderer> interfaceRenderer;
    InterfaceRecorder recordInterface;
};

// Registers the callbacks and the two recording stages of the player (scene,
// then interface) on a context that has no device yet.
HRESULT RegisterPlayer(EngineContext& ctx, PlayerGraphics& graphics);
// The device-created callback body: the scene renderer, then the tool
// windows' renderer.
HRESULT RenderSetUp(EngineContext& ctx, PlayerGraphics& graphics, VkDevice device);
void ReleasePlayerGraphics(PlayerGraphics& graphics);

// The scene's renderer side: model creation and release through the scene
// renderer, the GPU wait before replacements, and the scene stage's recording.
// `program` starts the lines printed for models that cannot be drawn.
void ConnectSceneRenderer(EngineContext& ctx, PlayerGraphics& graphics, Scene& scene,
                          const char* program);

// The whole program: start-up, frames, shutdown. Returns the exit code.
int RunPlayer(const PlayerOptions& options);

}  // namespace qv
