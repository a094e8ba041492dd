// Makes and frees the samplers, layouts, fixed pipelines and shared images of the raster passes.
#include "render/raster/raster_resources.h"

#include <cstdint>
#include <cstring>

#include "core/vk_struct.h"
#include "render/raster/material_pipelines.h"

namespace qv {

namespace {

HRESULT CreateSamplers(VkDevice device, std::array<VkSampler, 3>* out) {
    const VkSamplerAddressMode modes[3] = {VK_SAMPLER_ADDRESS_MODE_REPEAT,
                                           VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE,
                                           VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_BORDER};
    for (int i = 0; i < 3; ++i) {
        auto info = VkStruct<VkSamplerCreateInfo>(VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO);
        info.magFilter = VK_FILTER_LINEAR;
        info.minFilter = VK_FILTER_LINEAR;
        info.mipmapMode = VK_SAMPLER_MIPMAP_MODE_LINEAR;
        info.addressModeU = info.addressModeV = info.addressModeW = modes[i];
        info.maxAnisotropy = 1.0f;
        info.compareOp = VK_COMPARE_OP_NEVER;
        info.maxLod = VK_LOD_CLAMP_NONE;
        info.borderColor = VK_BORDER_COLOR_FLOAT_OPAQUE_WHITE;
        if (vkCreateSampler(device, &info, nullptr, &(*out)[i]) != VK_SUCCESS) {
            return E_FAIL;
        }
    }
    return S_OK;
}

}  // namespace

Result CreateRasterResources(const GpuContext& gpu, const SceneLight& light, RasterResources* out) {
    RasterResources& r = *out;
    r.pushDescriptors = reinterpret_cast<PFN_vkCmdPushDescriptorSetKHR>(
        vkGetDeviceProcAddr(gpu.device, "vkCmdPushDescriptorSetKHR"));
    if (r.pushDescriptors == nullptr) {
        return Result::Failure(E_FAIL, "the device cannot push descriptors");
    }
    HRESULT hr = CreateSamplers(gpu.device, &r.samplers);
    if (Succeeded(hr)) {
        if (Result toons = LoadToonTextures(gpu, &r.toons); !toons.ok()) {
            return toons;
        }
    }
    if (Succeeded(hr)) {
        const std::uint8_t white[4] = {255, 255, 255, 255};
        hr = CreateTexture(gpu, 1, 1, white, &r.whiteTexture);
    }
    if (Succeeded(hr)) {
        hr = CreatePerFrameBuffer(gpu, kSceneSlotSize, VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT,
                                  &r.shadowConstants);
    }
    if (Succeeded(hr)) {
        // The light never moves: its constants are written once for every
        // frame slot.
        const SceneConstants shadow = BuildShadowConstants(light);
        for (std::uint32_t f = 0; f < kFrameCount; ++f) {
            std::memcpy(r.shadowConstants.Slot(f), &shadow, sizeof(shadow));
        }
        hr = CreateShadowMaps(gpu, &r.shadowMaps);
    }
    if (Succeeded(hr)) {
        hr = CreatePipelineLayouts(gpu.device, r.samplers, &r.layouts);
    }
    return Result{hr, {}};
}

HRESULT CreateFixedPipelines(PipelinePool& pool, bool eightSamples, VkDevice device,
                             RasterResources* out) {
    RasterResources& r = *out;
    HRESULT hr = CreateSkinningPipeline(device, r.layouts, pool.Cache(), &r.skinningPipeline);
    for (std::size_t i = 0; i < 2 && Succeeded(hr); ++i) {
        const VkCullModeFlags cull = i == 0 ? VK_CULL_MODE_BACK_BIT : VK_CULL_MODE_NONE;
        hr = pool.Get(ShadowPipelineKey(cull, true), &r.shadowPipelines[i]);
        if (Succeeded(hr)) {
            hr = pool.Get(ShadowPipelineKey(cull, false), &r.solidShadowPipelines[i]);
        }
    }
    for (int high = 0; high < 2 && Succeeded(hr); ++high) {
        RasterPipelineKey post;
        post.kind = RasterKind::Post;
        const auto vs = BuiltInPrograms::FullScreenVertex();
        const auto ps =
            high != 0 ? BuiltInPrograms::FxaaHighPixel() : BuiltInPrograms::FxaaLowPixel();
        post.vertex.assign(vs.begin(), vs.end());
        post.pixel.assign(ps.begin(), ps.end());
        hr = pool.Get(post, high != 0 ? &r.fxaaHighPipeline : &r.fxaaLowPipeline);
    }
    // Main and edge pipelines of the default shader set and the common
    // culling modes, ahead of the first model.
    for (std::size_t i = 0; i < kMaterialSampleCounts.size() && Succeeded(hr); ++i) {
        if (kMaterialSampleCounts[i] != VK_SAMPLE_COUNT_8_BIT || eightSamples) {
            hr = pool.Get(GroundShadowPipelineKey(kMaterialSampleCounts[i], true),
                          &r.groundShadowPipelines[i]);
            if (Succeeded(hr)) {
                hr = pool.Get(GroundShadowPipelineKey(kMaterialSampleCounts[i], false),
                              &r.solidGroundShadowPipelines[i]);
            }
        }
    }
    for (VkCullModeFlags cull : {VK_CULL_MODE_BACK_BIT, VK_CULL_MODE_NONE}) {
        for (VkSampleCountFlagBits samples : kMaterialSampleCounts) {
            if (Failed(hr) || (samples == VK_SAMPLE_COUNT_8_BIT && !eightSamples)) {
                continue;
            }
            VkPipeline ignored = VK_NULL_HANDLE;
            hr = pool.Get(MainPipelineKey(BuiltInShaderSet(1), cull, samples), &ignored);
            if (Succeeded(hr) && cull == VK_CULL_MODE_BACK_BIT) {
                hr = pool.Get(EdgePipelineKey(samples), &ignored);
            }
        }
    }
    return hr;
}

void DestroyRasterResources(VkDevice device, RasterResources* resources) {
    RasterResources& r = *resources;
    // The pool owns every pipeline but the compute one.
    if (r.skinningPipeline != VK_NULL_HANDLE) {
        vkDestroyPipeline(device, r.skinningPipeline, nullptr);
    }
    r.skinningPipeline = r.fxaaLowPipeline = r.fxaaHighPipeline = VK_NULL_HANDLE;
    r.shadowPipelines = r.solidShadowPipelines = {};
    r.groundShadowPipelines = r.solidGroundShadowPipelines = {};
    DestroyPipelineLayouts(device, &r.layouts);
    for (VkSampler s : r.samplers) {
        if (s != VK_NULL_HANDLE) {
            vkDestroySampler(device, s, nullptr);
        }
    }
    r.samplers = {};
    DestroyColorImage(device, &r.whiteTexture);
    for (OwnedImage& toon : r.toons) {
        DestroyColorImage(device, &toon);
    }
    DestroyShadowMaps(device, &r.shadowMaps);
    DestroyGpuBuffer(device, &r.shadowConstants.buffer);
}

}  // namespace qv
