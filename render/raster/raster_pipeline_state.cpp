// Compiles one pipeline from its key: programs, vertex input and fixed-function state.
#include <string>

#include "core/vk_struct.h"
#include "render/model/model_resources.h"
#include "render/raster/raster_pipeline_state.h"
#include "render/raster/raster_pipelines.h"

namespace qv {

namespace {

constexpr float kShadowSlopeBias = 1.5f;

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

}  // namespace

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

}  // namespace qv
