// Builds the shared pipeline layouts, the skinning pipeline and raster pipelines on demand.
#include "render/raster/raster_pipelines.h"
#include "core/vk_struct.h"
#include "render/vk/pipeline_cache_file.h"

#include "render/model/model_resources.h"
#include "shaders/edge_ps.h"
#include "shaders/edge_vs.h"
#include "shaders/experimental_ps.h"
#include "shaders/fullscreen_vs.h"
#include "shaders/fxaa_high_ps.h"
#include "shaders/fxaa_low_ps.h"
#include "shaders/ground_shadow_ps.h"
#include "shaders/ground_shadow_vs.h"
#include "shaders/main_vs.h"
#include "shaders/shadow_ps.h"
#include "shaders/skinning_cs.h"
#include "shaders/toon_ps.h"

namespace qv {

namespace {

constexpr float kShadowSlopeBias = 1.5f;

template <std::size_t N>
std::span<const std::uint32_t> Code(const std::uint32_t (&words)[N]) {
    return {words, N};
}

VkShaderModule CreateModule(VkDevice device, std::span<const std::uint32_t> code) {
    if (code.empty()) {
        return VK_NULL_HANDLE;
    }
    auto info = VkStruct<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
    info.codeSize = code.size_bytes();
    info.pCode = code.data();
    VkShaderModule module = VK_NULL_HANDLE;
    if (vkCreateShaderModule(device, &info, nullptr, &module) != VK_SUCCESS) {
        return VK_NULL_HANDLE;
    }
    return module;
}

VkPipelineShaderStageCreateInfo Stage(VkShaderStageFlagBits stage, VkShaderModule module,
                                      const std::string& entry) {
    auto info = VkStruct<VkPipelineShaderStageCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
    info.stage = stage;
    info.module = module;
    info.pName = entry.c_str();
    return info;
}

// The skinned vertex and its extras, in two streams; the full-screen pass
// makes its triangle from the vertex index alone.
const VkVertexInputBindingDescription kVertexBindings[2] = {
    {0, sizeof(VsInput), VK_VERTEX_INPUT_RATE_VERTEX},
    {1, sizeof(VertexExtra), VK_VERTEX_INPUT_RATE_VERTEX},
};
const VkVertexInputAttributeDescription kVertexAttributes[6] = {
    {0, 0, VK_FORMAT_R32G32B32_SFLOAT, 0},     {1, 0, VK_FORMAT_R32G32B32_SFLOAT, 12},
    {2, 0, VK_FORMAT_R32G32_SFLOAT, 24},       {3, 0, VK_FORMAT_R32G32B32A32_UINT, 32},
    {4, 0, VK_FORMAT_R32G32B32A32_SFLOAT, 48}, {5, 1, VK_FORMAT_R32G32B32A32_SFLOAT, 0},
};

VkPipelineVertexInputStateCreateInfo VertexInputState(const RasterPipelineKey& key) {
    auto vertexInput = VkStruct<VkPipelineVertexInputStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_VERTEX_INPUT_STATE_CREATE_INFO);
    if (key.kind != RasterKind::Post) {
        vertexInput.vertexBindingDescriptionCount = 2;
        vertexInput.pVertexBindingDescriptions = kVertexBindings;
        vertexInput.vertexAttributeDescriptionCount = 6;
        vertexInput.pVertexAttributeDescriptions = kVertexAttributes;
    }
    return vertexInput;
}

void DestroyModules(VkDevice device, VkShaderModule vs, VkShaderModule ps) {
    for (VkShaderModule m : {vs, ps}) {
        if (m != VK_NULL_HANDLE) {
            vkDestroyShaderModule(device, m, nullptr);
        }
    }
}

VkPipelineRasterizationStateCreateInfo RasterizationState(const RasterPipelineKey& key) {
    auto raster = VkStruct<VkPipelineRasterizationStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_RASTERIZATION_STATE_CREATE_INFO);
    raster.polygonMode = VK_POLYGON_MODE_FILL;
    raster.cullMode = key.kind == RasterKind::Post ? VkCullModeFlags{VK_CULL_MODE_NONE} : key.cull;
    // With the flipped viewport the screen keeps Direct3D's orientation,
    // where front faces wind clockwise.
    raster.frontFace = VK_FRONT_FACE_CLOCKWISE;
    raster.lineWidth = 1.0f;
    if (key.kind == RasterKind::Shadow) {
        // Surfaces lit at a slant change depth quickly across one texel of
        // the map; pushing them back by their slope keeps them from
        // shadowing themselves in stripes. The fixed part of the bias is
        // the shadow test's own.
        raster.depthBiasEnable = VK_TRUE;
        raster.depthBiasSlopeFactor = kShadowSlopeBias;
    }
    return raster;
}

VkPipelineDepthStencilStateCreateInfo DepthStencilState(const RasterPipelineKey& key,
                                                        bool hasDepth) {
    auto depth = VkStruct<VkPipelineDepthStencilStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_DEPTH_STENCIL_STATE_CREATE_INFO);
    const bool ground = key.kind == RasterKind::GroundShadow;
    depth.depthTestEnable = hasDepth ? VK_TRUE : VK_FALSE;
    depth.depthWriteEnable = hasDepth && !ground ? VK_TRUE : VK_FALSE;
    depth.depthCompareOp = VK_COMPARE_OP_LESS_OR_EQUAL;
    depth.front = depth.back = {VK_STENCIL_OP_KEEP,
                                VK_STENCIL_OP_KEEP,
                                VK_STENCIL_OP_KEEP,
                                VK_COMPARE_OP_ALWAYS,
                                0xFF,
                                0xFF,
                                0};
    if (ground) {
        // A pixel already marked with this model's number is not darkened
        // again; the number is the dynamic stencil reference.
        depth.stencilTestEnable = VK_TRUE;
        depth.front = depth.back = {VK_STENCIL_OP_KEEP,
                                    VK_STENCIL_OP_REPLACE,
                                    VK_STENCIL_OP_KEEP,
                                    VK_COMPARE_OP_NOT_EQUAL,
                                    0xFF,
                                    0xFF,
                                    0};
    }
    return depth;
}

VkPipelineColorBlendAttachmentState BlendAttachment(const RasterPipelineKey& key) {
    VkPipelineColorBlendAttachmentState blendTarget{};
    // Scene passes blend by the source alpha and keep it; the post pass
    // replaces the pixel.
    blendTarget.blendEnable = key.kind == RasterKind::Post ? VK_FALSE : VK_TRUE;
    blendTarget.srcColorBlendFactor = VK_BLEND_FACTOR_SRC_ALPHA;
    blendTarget.dstColorBlendFactor = VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA;
    blendTarget.colorBlendOp = VK_BLEND_OP_ADD;
    blendTarget.srcAlphaBlendFactor = VK_BLEND_FACTOR_ONE;
    blendTarget.dstAlphaBlendFactor = VK_BLEND_FACTOR_ZERO;
    blendTarget.alphaBlendOp = VK_BLEND_OP_ADD;
    blendTarget.colorWriteMask = VK_COLOR_COMPONENT_R_BIT | VK_COLOR_COMPONENT_G_BIT |
                                 VK_COLOR_COMPONENT_B_BIT | VK_COLOR_COMPONENT_A_BIT;
    return blendTarget;
}

HRESULT CreateRasterPipeline(VkDevice device, VkPipelineLayout layout, VkPipelineCache cache,
                             const RasterPipelineKey& key, VkPipeline* out) {
    // The shadow pass writes depth only; its pixel program, when it has
    // one, decides which pixels cast.
    const bool hasColor = key.kind != RasterKind::Shadow;
    const bool hasPixel = hasColor || !key.pixel.empty();
    const bool hasDepth = key.kind != RasterKind::Post;
    VkShaderModule vs = CreateModule(device, key.vertex);
    VkShaderModule ps = hasPixel ? CreateModule(device, key.pixel) : VK_NULL_HANDLE;
    if (vs == VK_NULL_HANDLE || (hasPixel && ps == VK_NULL_HANDLE)) {
        DestroyModules(device, vs, ps);
        return E_FAIL;
    }
    const VkPipelineShaderStageCreateInfo stages[2] = {
        Stage(VK_SHADER_STAGE_VERTEX_BIT, vs, key.vertexEntry),
        Stage(VK_SHADER_STAGE_FRAGMENT_BIT, ps, key.pixelEntry),
    };

    const VkPipelineVertexInputStateCreateInfo vertexInput = VertexInputState(key);
    auto assembly = VkStruct<VkPipelineInputAssemblyStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_INPUT_ASSEMBLY_STATE_CREATE_INFO);
    assembly.topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    auto viewport = VkStruct<VkPipelineViewportStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_VIEWPORT_STATE_CREATE_INFO);
    viewport.viewportCount = 1;
    viewport.scissorCount = 1;
    const VkPipelineRasterizationStateCreateInfo raster = RasterizationState(key);
    auto multisample = VkStruct<VkPipelineMultisampleStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO);
    multisample.rasterizationSamples = key.samples;
    const VkPipelineDepthStencilStateCreateInfo depth = DepthStencilState(key, hasDepth);
    const VkPipelineColorBlendAttachmentState blendTarget = BlendAttachment(key);
    auto blend = VkStruct<VkPipelineColorBlendStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_COLOR_BLEND_STATE_CREATE_INFO);
    blend.attachmentCount = hasColor ? 1 : 0;
    blend.pAttachments = &blendTarget;
    const VkDynamicState dynamicStates[3] = {VK_DYNAMIC_STATE_VIEWPORT, VK_DYNAMIC_STATE_SCISSOR,
                                             VK_DYNAMIC_STATE_STENCIL_REFERENCE};
    auto dynamic = VkStruct<VkPipelineDynamicStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_DYNAMIC_STATE_CREATE_INFO);
    dynamic.dynamicStateCount = key.kind == RasterKind::GroundShadow ? 3 : 2;
    dynamic.pDynamicStates = dynamicStates;
    auto rendering =
        VkStruct<VkPipelineRenderingCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_RENDERING_CREATE_INFO);
    rendering.colorAttachmentCount = hasColor ? 1 : 0;
    rendering.pColorAttachmentFormats = &kSceneColorFormat;
    // The shadow map is depth alone; the main pass's depth has a stencil.
    const VkFormat depthFormat = key.kind == RasterKind::Shadow ? kSceneDepthFormat
                                 : hasDepth                     ? kSceneDepthStencilFormat
                                                                : VK_FORMAT_UNDEFINED;
    rendering.depthAttachmentFormat = depthFormat;
    rendering.stencilAttachmentFormat =
        depthFormat == kSceneDepthStencilFormat ? depthFormat : VK_FORMAT_UNDEFINED;

    auto info =
        VkStruct<VkGraphicsPipelineCreateInfo>(VK_STRUCTURE_TYPE_GRAPHICS_PIPELINE_CREATE_INFO);
    info.pNext = &rendering;
    info.stageCount = hasPixel ? 2 : 1;
    info.pStages = stages;
    info.pVertexInputState = &vertexInput;
    info.pInputAssemblyState = &assembly;
    info.pViewportState = &viewport;
    info.pRasterizationState = &raster;
    info.pMultisampleState = &multisample;
    info.pDepthStencilState = &depth;
    info.pColorBlendState = &blend;
    info.pDynamicState = &dynamic;
    info.layout = layout;
    const VkResult result = vkCreateGraphicsPipelines(device, cache, 1, &info, nullptr, out);
    DestroyModules(device, vs, ps);
    if (result != VK_SUCCESS) {
        *out = VK_NULL_HANDLE;
        return result == VK_ERROR_OUT_OF_HOST_MEMORY || result == VK_ERROR_OUT_OF_DEVICE_MEMORY
                   ? E_OUTOFMEMORY
                   : E_FAIL;
    }
    return S_OK;
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

HRESULT CreateSkinningPipeline(VkDevice device, const PipelineLayouts& layouts,
                               VkPipelineCache cache, VkPipeline* out) {
    VkShaderModule cs = CreateModule(device, BuiltInPrograms::Skinning());
    if (cs == VK_NULL_HANDLE) {
        return E_FAIL;
    }
    auto info =
        VkStruct<VkComputePipelineCreateInfo>(VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO);
    const std::string entry = "main";
    info.stage = Stage(VK_SHADER_STAGE_COMPUTE_BIT, cs, entry);
    info.layout = layouts.skinning;
    const VkResult result = vkCreateComputePipelines(device, cache, 1, &info, nullptr, out);
    vkDestroyShaderModule(device, cs, nullptr);
    return result == VK_SUCCESS ? S_OK : E_FAIL;
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

RasterPipelineKey ShadowPipelineKey(VkCullModeFlags cull) {
    RasterPipelineKey key;
    key.kind = RasterKind::Shadow;
    key.cull = cull;
    const auto vs = BuiltInPrograms::MainVertex();
    const auto ps = BuiltInPrograms::ShadowPixel();
    key.vertex.assign(vs.begin(), vs.end());
    key.pixel.assign(ps.begin(), ps.end());
    return key;
}

RasterPipelineKey GroundShadowPipelineKey(VkSampleCountFlagBits samples) {
    RasterPipelineKey key;
    key.kind = RasterKind::GroundShadow;
    // Flattening turns some faces over: both sides count.
    key.cull = VK_CULL_MODE_NONE;
    key.samples = samples;
    const auto vs = BuiltInPrograms::GroundShadowVertex();
    const auto ps = BuiltInPrograms::GroundShadowPixel();
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
