// The player's run loop, with hooks that tests use to record their own frames.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/player_options.h"
#include "core/engine_context.h"
#include "render/device/render_size.h"
#include "render/interface/interface_renderer.h"
#include "render/scene_renderer.h"

namespace qv {

struct InterfaceFacts;
class PlayerInterface;
struct Scene;

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

// Each pass's GPU time from the renderer that draws it: the interface pass
// from the interface's renderer, the rest from the scene's. Negative for a
// pass not timed.
GpuPassTimes PlayerPassTimes(const PlayerGraphics& graphics);
// The passes timed, in drawing order, into the statistics' facts.
void RefreshPassFigures(const PlayerGraphics& graphics, InterfaceFacts& facts);

// The scene's renderer side: model creation and release through the scene
// renderer, the GPU wait before replacements, and the scene stage's recording.
// `program` starts the lines printed for models that cannot be drawn.
void ConnectSceneRenderer(EngineContext& ctx, PlayerGraphics& graphics, Scene& scene,
                          const char* program);

// The whole program: start-up, frames, shutdown. Returns the exit code.
int RunPlayer(const PlayerOptions& options);

}  // namespace qv
