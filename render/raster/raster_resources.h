// The device objects every raster pass records with, made once when the renderer starts.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <string>

#include "platform/result.h"
#include "render/model/scene_light.h"
#include "render/model/toon_textures.h"
#include "render/raster/frame_targets.h"
#include "render/raster/raster_pipelines.h"
#include "render/vk/gpu_buffers.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

// What the passes share for the renderer's whole life: samplers and
// layouts, the pipelines that do not depend on a model, the images that
// stand in for missing textures, and the light's shadow maps.
struct RasterResources {
    PFN_vkCmdPushDescriptorSetKHR pushDescriptors = nullptr;
    // Wrapping, clamped to the edge and clamped to a white border.
    std::array<VkSampler, 3> samplers{};
    PipelineLayouts layouts;
    VkPipeline skinningPipeline = VK_NULL_HANDLE;
    // Back faces culled, and none culled for double-sided materials. The
    // solid ones skip the texel test, for materials that cut nothing out.
    std::array<VkPipeline, 2> shadowPipelines{};
    std::array<VkPipeline, 2> solidShadowPipelines{};
    // By sample count, as the main pass.
    std::array<VkPipeline, 3> groundShadowPipelines{};
    std::array<VkPipeline, 3> solidGroundShadowPipelines{};
    VkPipeline fxaaLowPipeline = VK_NULL_HANDLE;
    VkPipeline fxaaHighPipeline = VK_NULL_HANDLE;
    OwnedImage whiteTexture;
    std::array<OwnedImage, kToonCount> toons{};
    ShadowMaps shadowMaps;
    PerFrameBuffer shadowConstants;
};

// Everything but the pipelines, which need the pool made on `out->layouts`.
// The message says what failed, where there is more to say than the code.
Result CreateRasterResources(const GpuContext& gpu, const SceneLight& light, RasterResources* out);
// The skinning, shadow, ground shadow and FXAA pipelines, and ahead of the
// first model the main and edge pipelines of the default shader set.
HRESULT CreateFixedPipelines(PipelinePool& pool, bool eightSamples, VkDevice device,
                             RasterResources* out);
// After the pool that made the pipelines is released.
void DestroyRasterResources(VkDevice device, RasterResources* resources);

}  // namespace qv
