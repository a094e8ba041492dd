// The window-size targets a frame draws into, kept for all modes so a switch only rebinds.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>

#include "platform/result_code.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

struct GpuContext;

// The window-size targets every anti-aliasing mode draws into. All of them
// exist at once, so that a mode switch only changes what is bound. Between
// frames each rests in one layout: the scene colour and the multisampled
// colours as copy sources, the post input as a shader resource, the depth
// targets as depth attachments.
struct FrameTargets {
    std::uint32_t width = 0, height = 0;
    OwnedImage sceneColor;  // 1 sample, copied into the back buffer
    OwnedImage msaa4Color;
    OwnedImage msaa8Color;  // absent where the device has no 8x
    OwnedImage postInput;   // the main pass of the FXAA modes
    OwnedImage depth1;
    OwnedImage depth4;
    OwnedImage depth8;
    bool fresh = true;  // layouts not yet set on the GPU
};

inline constexpr VkImageLayout kColorRestLayout = VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL;
inline constexpr VkImageLayout kPostInputRestLayout = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
inline constexpr VkImageLayout kDepthRestLayout = VK_IMAGE_LAYOUT_DEPTH_ATTACHMENT_OPTIMAL;
// The main pass's depth targets, which carry a stencil.
inline constexpr VkImageLayout kDepthStencilRestLayout =
    VK_IMAGE_LAYOUT_DEPTH_STENCIL_ATTACHMENT_OPTIMAL;

HRESULT CreateFrameTargets(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                           bool msaa8, FrameTargets* out);
void DestroyFrameTargets(VkDevice device, FrameTargets* targets);
// Brings fresh targets from their undefined start into their rest layouts.
void SetRestLayouts(VkCommandBuffer cmd, FrameTargets& targets);

// One depth map per frame in flight, drawn from the light and read by the
// main pass; rests as a depth attachment.
inline constexpr std::uint32_t kShadowMapSize = 2048;
struct ShadowMaps {
    std::array<OwnedImage, 3> maps{};
};
HRESULT CreateShadowMaps(const GpuContext& gpu, ShadowMaps* out);
void DestroyShadowMaps(VkDevice device, ShadowMaps* maps);

// Whether colour and depth targets can have 8 samples on this device.
bool SupportsEightSamples(VkPhysicalDevice physical);

}  // namespace qv
