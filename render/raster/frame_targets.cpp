// Makes every anti-aliasing mode's targets at once, 8x only where the device can.
#include "render/raster/frame_targets.h"
#include "core/vk_struct.h"

#include "render/model/model_resources.h"
#include "render/raster/raster_pipelines.h"

namespace qv {

namespace {

constexpr VkImageUsageFlags kColorUsage =
    VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT;

std::array<OwnedImage*, 4> Colors(FrameTargets& t) {
    return {&t.sceneColor, &t.msaa4Color, &t.msaa8Color, &t.postInput};
}

std::array<OwnedImage*, 3> Depths(FrameTargets& t) {
    return {&t.depth1, &t.depth4, &t.depth8};
}

}  // namespace

bool SupportsEightSamples(VkPhysicalDevice physical) {
    VkPhysicalDeviceProperties properties;
    vkGetPhysicalDeviceProperties(physical, &properties);
    return (properties.limits.framebufferColorSampleCounts & VK_SAMPLE_COUNT_8_BIT) != 0 &&
           (properties.limits.framebufferDepthSampleCounts & VK_SAMPLE_COUNT_8_BIT) != 0 &&
           (properties.limits.framebufferStencilSampleCounts & VK_SAMPLE_COUNT_8_BIT) != 0;
}

HRESULT CreateFrameTargets(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                           bool msaa8, FrameTargets* out) {
    FrameTargets t;
    t.width = width;
    t.height = height;
    auto color = [&](VkImageUsageFlags usage, VkSampleCountFlagBits samples, OwnedImage* image) {
        return CreateColorImage(gpu.physical, gpu.device, width, height, kSceneColorFormat, usage,
                                image, VK_IMAGE_ASPECT_COLOR_BIT, samples);
    };
    auto depth = [&](VkSampleCountFlagBits samples, OwnedImage* image) {
        return CreateColorImage(gpu.physical, gpu.device, width, height, kSceneDepthStencilFormat,
                                VK_IMAGE_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT, image,
                                VK_IMAGE_ASPECT_DEPTH_BIT | VK_IMAGE_ASPECT_STENCIL_BIT, samples);
    };
    HRESULT hr =
        color(kColorUsage | VK_IMAGE_USAGE_TRANSFER_DST_BIT, VK_SAMPLE_COUNT_1_BIT, &t.sceneColor);
    if (Succeeded(hr)) {
        hr = color(kColorUsage, VK_SAMPLE_COUNT_4_BIT, &t.msaa4Color);
    }
    if (Succeeded(hr) && msaa8) {
        hr = color(kColorUsage, VK_SAMPLE_COUNT_8_BIT, &t.msaa8Color);
    }
    if (Succeeded(hr)) {
        hr = color(VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_SAMPLED_BIT,
                   VK_SAMPLE_COUNT_1_BIT, &t.postInput);
    }
    if (Succeeded(hr)) {
        hr = depth(VK_SAMPLE_COUNT_1_BIT, &t.depth1);
    }
    if (Succeeded(hr)) {
        hr = depth(VK_SAMPLE_COUNT_4_BIT, &t.depth4);
    }
    if (Succeeded(hr) && msaa8) {
        hr = depth(VK_SAMPLE_COUNT_8_BIT, &t.depth8);
    }
    if (Failed(hr)) {
        DestroyFrameTargets(gpu.device, &t);
        return hr;
    }
    *out = t;
    return S_OK;
}

void DestroyFrameTargets(VkDevice device, FrameTargets* targets) {
    for (OwnedImage* image : Colors(*targets)) {
        DestroyColorImage(device, image);
    }
    for (OwnedImage* image : Depths(*targets)) {
        DestroyColorImage(device, image);
    }
    *targets = {};
}

void SetRestLayouts(VkCommandBuffer cmd, FrameTargets& t) {
    for (OwnedImage* image : Colors(t)) {
        if (image->image != VK_NULL_HANDLE) {
            TransitionImage(cmd, image->image, VK_IMAGE_LAYOUT_UNDEFINED,
                            image == &t.postInput ? kPostInputRestLayout : kColorRestLayout,
                            VK_IMAGE_ASPECT_COLOR_BIT);
        }
    }
    for (OwnedImage* image : Depths(t)) {
        if (image->image != VK_NULL_HANDLE) {
            TransitionImage(cmd, image->image, VK_IMAGE_LAYOUT_UNDEFINED, kDepthStencilRestLayout,
                            VK_IMAGE_ASPECT_DEPTH_BIT | VK_IMAGE_ASPECT_STENCIL_BIT);
        }
    }
    t.fresh = false;
}

HRESULT CreateShadowMaps(const GpuContext& gpu, ShadowMaps* out) {
    for (OwnedImage& map : out->maps) {
        const HRESULT hr = CreateColorImage(
            gpu.physical, gpu.device, kShadowMapSize, kShadowMapSize, kSceneDepthFormat,
            VK_IMAGE_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT | VK_IMAGE_USAGE_SAMPLED_BIT, &map,
            VK_IMAGE_ASPECT_DEPTH_BIT);
        if (Failed(hr)) {
            DestroyShadowMaps(gpu.device, out);
            return hr;
        }
    }
    return RunOnce(gpu.device, gpu.queue, gpu.queueFamily, [&](VkCommandBuffer cmd) {
        for (OwnedImage& map : out->maps) {
            TransitionImage(cmd, map.image, VK_IMAGE_LAYOUT_UNDEFINED, kDepthRestLayout,
                            VK_IMAGE_ASPECT_DEPTH_BIT);
        }
    });
}

void DestroyShadowMaps(VkDevice device, ShadowMaps* maps) {
    for (OwnedImage& map : maps->maps) {
        DestroyColorImage(device, &map);
    }
}

}  // namespace qv
