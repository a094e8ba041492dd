// The built-in programs, the shared pipeline layouts and the pool that makes raster pipelines once.
#include "render/raster/raster_pipelines.h"
#include "core/vk_struct.h"
#include "render/raster/raster_pipeline_state.h"
#include "render/vk/pipeline_cache_file.h"

#include "shaders/edge_ps.h"
#include "shaders/edge_vs.h"
#include "shaders/experimental_ps.h"
#include "shaders/fullscreen_vs.h"
#include "shaders/fxaa_high_ps.h"
#include "shaders/fxaa_low_ps.h"
#include "shaders/ground_shadow_ps.h"
#include "shaders/ground_shadow_solid_ps.h"
#include "shaders/ground_shadow_solid_vs.h"
#include "shaders/ground_shadow_vs.h"
#include "shaders/main_vs.h"
#include "shaders/shadow_ps.h"
#include "shaders/skinning_cs.h"
#include "shaders/toon_ps.h"

namespace qv {

namespace {

template <std::size_t N>
std::span<const std::uint32_t> Code(const std::uint32_t (&words)[N]) {
    return {words, N};
}

bool CreateLayout(VkDevice device, const std::vector<VkDescriptorSetLayoutBinding>& bindings,
                  VkDescriptorSetLayout* set, VkPipelineLayout* layout) {
    auto info = VkStruct<VkDescriptorSetLayoutCreateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    info.flags = VK_DESCRIPTOR_SET_LAYOUT_CREATE_PUSH_DESCRIPTOR_BIT_KHR;
    info.bindingCount = static_cast<std::uint32_t>(bindings.size());
    info.pBindings = bindings.data();
    if (vkCreateDescriptorSetLayout(device, &info, nullptr, set) != VK_SUCCESS) {
        return false;
    }
    auto layoutInfo =
        VkStruct<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    layoutInfo.setLayoutCount = 1;
    layoutInfo.pSetLayouts = set;
    return vkCreatePipelineLayout(device, &layoutInfo, nullptr, layout) == VK_SUCCESS;
}

}  // namespace

std::span<const std::uint32_t> BuiltInPrograms::MainVertex() {
    return Code(k_main_vs);
}
std::span<const std::uint32_t> BuiltInPrograms::EdgeVertex() {
    return Code(k_edge_vs);
}
std::span<const std::uint32_t> BuiltInPrograms::EdgePixel() {
    return Code(k_edge_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::ShadowPixel() {
    return Code(k_shadow_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::GroundShadowVertex() {
    return Code(k_ground_shadow_vs);
}
std::span<const std::uint32_t> BuiltInPrograms::GroundShadowPixel() {
    return Code(k_ground_shadow_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::SolidGroundShadowVertex() {
    return Code(k_ground_shadow_solid_vs);
}
std::span<const std::uint32_t> BuiltInPrograms::SolidGroundShadowPixel() {
    return Code(k_ground_shadow_solid_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::ExperimentalPixel() {
    return Code(k_experimental_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::ToonPixel() {
    return Code(k_toon_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::FullScreenVertex() {
    return Code(k_fullscreen_vs);
}
std::span<const std::uint32_t> BuiltInPrograms::FxaaLowPixel() {
    return Code(k_fxaa_low_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::FxaaHighPixel() {
    return Code(k_fxaa_high_ps);
}
std::span<const std::uint32_t> BuiltInPrograms::Skinning() {
    return Code(k_skinning_cs);
}

ShaderSetCode BuiltInShaderSet(std::int32_t index) {
    ShaderSetCode set;
    set.vertex = BuiltInPrograms::MainVertex();
    if (index == 1) {
        set.name = kToonShaderName;
        set.pixel = BuiltInPrograms::ToonPixel();
        set.shadowNeedsToon = true;
    } else {
        set.name = kExperimentalShaderName;
        set.pixel = BuiltInPrograms::ExperimentalPixel();
    }
    return set;
}

HRESULT CreatePipelineLayouts(VkDevice device, const std::array<VkSampler, 3>& samplers,
                              PipelineLayouts* out) {
    constexpr VkShaderStageFlags kAll = VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT;
    std::vector<VkDescriptorSetLayoutBinding> raster = {
        {kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1, kAll, nullptr},
        {kBindingB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1, kAll, nullptr},
    };
    for (std::uint32_t t = 0; t < kTextureSlots; ++t) {
        raster.push_back({kBindingT0 + t, VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE, 1,
                          VK_SHADER_STAGE_FRAGMENT_BIT, nullptr});
    }
    for (std::uint32_t s = 0; s < 3; ++s) {
        raster.push_back({kBindingS0 + s, VK_DESCRIPTOR_TYPE_SAMPLER, 1,
                          VK_SHADER_STAGE_FRAGMENT_BIT, &samplers[s]});
    }
    std::vector<VkDescriptorSetLayoutBinding> skinning = {
        {kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr},
        {kBindingU0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr},
    };
    for (std::uint32_t t = 0; t < 7; ++t) {
        skinning.push_back({kBindingT0 + t, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1,
                            VK_SHADER_STAGE_COMPUTE_BIT, nullptr});
    }
    if (!CreateLayout(device, raster, &out->rasterSet, &out->raster) ||
        !CreateLayout(device, skinning, &out->skinningSet, &out->skinning)) {
        DestroyPipelineLayouts(device, out);
        return E_FAIL;
    }
    return S_OK;
}

void DestroyPipelineLayouts(VkDevice device, PipelineLayouts* layouts) {
    for (VkPipelineLayout l : {layouts->raster, layouts->skinning}) {
        if (l != VK_NULL_HANDLE) {
            vkDestroyPipelineLayout(device, l, nullptr);
        }
    }
    for (VkDescriptorSetLayout l : {layouts->rasterSet, layouts->skinningSet}) {
        if (l != VK_NULL_HANDLE) {
            vkDestroyDescriptorSetLayout(device, l, nullptr);
        }
    }
    *layouts = {};
}

void PipelinePool::Initialize(VkPhysicalDevice physical, VkDevice device,
                              const PipelineLayouts* layouts, std::filesystem::path cacheFile) {
    physical_ = physical;
    device_ = device;
    layouts_ = layouts;
    cacheFile_ = std::move(cacheFile);
    // A null cache works too, only slower.
    cache_ = LoadPipelineCache(physical, device, cacheFile_, &cacheFromDisk_);
}

HRESULT PipelinePool::Get(const RasterPipelineKey& key, VkPipeline* out) {
    if (auto it = pipelines_.find(key); it != pipelines_.end()) {
        *out = it->second;
        return S_OK;
    }
    VkPipeline pipeline = VK_NULL_HANDLE;
    const HRESULT hr = CreateRasterPipeline(device_, layouts_->raster, cache_, key, &pipeline);
    if (Failed(hr)) {
        return hr;
    }
    pipelines_.emplace(key, pipeline);
    *out = pipeline;
    return S_OK;
}

void PipelinePool::Release() {
    for (auto& [key, pipeline] : pipelines_) {
        vkDestroyPipeline(device_, pipeline, nullptr);
    }
    pipelines_.clear();
    if (cache_ != VK_NULL_HANDLE) {
        // What this run compiled is there for the next start.
        SavePipelineCache(physical_, device_, cache_, cacheFile_);
        vkDestroyPipelineCache(device_, cache_, nullptr);
        cache_ = VK_NULL_HANDLE;
    }
}

RasterPipelineKey MainPipelineKey(const ShaderSetCode& set, VkCullModeFlags cull,
                                  VkSampleCountFlagBits samples) {
    RasterPipelineKey key;
    key.kind = RasterKind::Main;
    key.cull = cull;
    key.samples = samples;
    key.vertex.assign(set.vertex.begin(), set.vertex.end());
    key.vertexEntry = set.vertexEntry;
    key.pixel.assign(set.pixel.begin(), set.pixel.end());
    key.pixelEntry = set.pixelEntry;
    return key;
}

RasterPipelineKey ShadowPipelineKey(VkCullModeFlags cull, bool texelTest) {
    RasterPipelineKey key;
    key.kind = RasterKind::Shadow;
    key.cull = cull;
    const auto vs = BuiltInPrograms::MainVertex();
    key.vertex.assign(vs.begin(), vs.end());
    if (texelTest) {
        const auto ps = BuiltInPrograms::ShadowPixel();
        key.pixel.assign(ps.begin(), ps.end());
    }
    return key;
}

RasterPipelineKey GroundShadowPipelineKey(VkSampleCountFlagBits samples, bool texelTest) {
    RasterPipelineKey key;
    key.kind = RasterKind::GroundShadow;
    // Flattening turns some faces over: both sides count.
    key.cull = VK_CULL_MODE_NONE;
    key.samples = samples;
    const auto vs = texelTest ? BuiltInPrograms::GroundShadowVertex()
                              : BuiltInPrograms::SolidGroundShadowVertex();
    const auto ps = texelTest ? BuiltInPrograms::GroundShadowPixel()
                              : BuiltInPrograms::SolidGroundShadowPixel();
    key.vertex.assign(vs.begin(), vs.end());
    key.pixel.assign(ps.begin(), ps.end());
    return key;
}

RasterPipelineKey EdgePipelineKey(VkSampleCountFlagBits samples) {
    RasterPipelineKey key;
    key.kind = RasterKind::Edge;
    key.cull = VK_CULL_MODE_FRONT_BIT;
    key.samples = samples;
    const auto vs = BuiltInPrograms::EdgeVertex();
    const auto ps = BuiltInPrograms::EdgePixel();
    key.vertex.assign(vs.begin(), vs.end());
    key.pixel.assign(ps.begin(), ps.end());
    return key;
}

}  // namespace qv
