// The ray-tracing pipeline: its descriptor layouts, its five programs and their identifiers.
#include <algorithm>
#include <array>
#include <iterator>

#include "core/vk_struct.h"
#include "render/raytracing/raytracing_renderer.h"
#include "shaders/rt_radiance_rchit.h"
#include "shaders/rt_radiance_rmiss.h"
#include "shaders/rt_raygen_rgen.h"
#include "shaders/rt_shadow_rchit.h"
#include "shaders/rt_shadow_rmiss.h"

namespace qv {

namespace {

constexpr std::uint32_t kGroupCount = 5;  // raygen, two misses, two hit groups

// Raygen and the two misses are general groups; the two hit groups have
// only a closest-hit program.
void DescribeGroups(const VkShaderModule (&modules)[kGroupCount],
                    std::array<VkPipelineShaderStageCreateInfo, kGroupCount>* stages,
                    std::array<VkRayTracingShaderGroupCreateInfoKHR, kGroupCount>* groups) {
    const VkShaderStageFlagBits stageBits[kGroupCount] = {
        VK_SHADER_STAGE_RAYGEN_BIT_KHR, VK_SHADER_STAGE_MISS_BIT_KHR, VK_SHADER_STAGE_MISS_BIT_KHR,
        VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR, VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR};
    for (std::uint32_t i = 0; i < kGroupCount; ++i) {
        VkPipelineShaderStageCreateInfo& stage = (*stages)[i];
        stage = VkStruct<VkPipelineShaderStageCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
        stage.stage = stageBits[i];
        stage.module = modules[i];
        stage.pName = "main";
        VkRayTracingShaderGroupCreateInfoKHR& group = (*groups)[i];
        group = VkStruct<VkRayTracingShaderGroupCreateInfoKHR>(
            VK_STRUCTURE_TYPE_RAY_TRACING_SHADER_GROUP_CREATE_INFO_KHR);
        group.generalShader = VK_SHADER_UNUSED_KHR;
        group.closestHitShader = VK_SHADER_UNUSED_KHR;
        group.anyHitShader = VK_SHADER_UNUSED_KHR;
        group.intersectionShader = VK_SHADER_UNUSED_KHR;
        if (i < 3) {
            group.type = VK_RAY_TRACING_SHADER_GROUP_TYPE_GENERAL_KHR;
            group.generalShader = i;
        } else {
            group.type = VK_RAY_TRACING_SHADER_GROUP_TYPE_TRIANGLES_HIT_GROUP_KHR;
            group.closestHitShader = i;
        }
    }
}

}  // namespace

Result RaytracingRenderer::CreateLayouts() {
    const VkDevice d = gpu_.device;
    const VkShaderStageFlags traced = VK_SHADER_STAGE_RAYGEN_BIT_KHR |
                                      VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR |
                                      VK_SHADER_STAGE_MISS_BIT_KHR;
    const VkDescriptorSetLayoutBinding global[3] = {
        {0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1, traced, nullptr},
        {1, VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR, 1, traced, nullptr},
        {2, VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, 1, VK_SHADER_STAGE_RAYGEN_BIT_KHR, nullptr},
    };
    auto globalInfo = VkStruct<VkDescriptorSetLayoutCreateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    globalInfo.flags = VK_DESCRIPTOR_SET_LAYOUT_CREATE_PUSH_DESCRIPTOR_BIT_KHR;
    globalInfo.bindingCount = 3;
    globalInfo.pBindings = global;
    const VkDescriptorSetLayoutBinding textures{0, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER,
                                                textureCapacity_,
                                                VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR, nullptr};
    const VkDescriptorBindingFlags variable = VK_DESCRIPTOR_BINDING_VARIABLE_DESCRIPTOR_COUNT_BIT;
    auto flags = VkStruct<VkDescriptorSetLayoutBindingFlagsCreateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_BINDING_FLAGS_CREATE_INFO);
    flags.bindingCount = 1;
    flags.pBindingFlags = &variable;
    auto textureInfo = VkStruct<VkDescriptorSetLayoutCreateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    textureInfo.pNext = &flags;
    textureInfo.bindingCount = 1;
    textureInfo.pBindings = &textures;
    if (vkCreateDescriptorSetLayout(d, &globalInfo, nullptr, &globalLayout_) != VK_SUCCESS ||
        vkCreateDescriptorSetLayout(d, &textureInfo, nullptr, &textureLayout_) != VK_SUCCESS) {
        return Result::Failure(E_FAIL, "the ray-tracing descriptor layouts cannot be created");
    }
    const VkDescriptorSetLayout sets[2] = {globalLayout_, textureLayout_};
    auto layoutInfo =
        VkStruct<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    layoutInfo.setLayoutCount = 2;
    layoutInfo.pSetLayouts = sets;
    if (vkCreatePipelineLayout(d, &layoutInfo, nullptr, &layout_) != VK_SUCCESS) {
        return Result::Failure(E_FAIL, "the ray-tracing pipeline layout cannot be created");
    }
    return {};
}

Result RaytracingRenderer::CreatePipeline() {
    if (Result layouts = CreateLayouts(); !layouts.ok()) {
        return layouts;
    }
    const VkDevice d = gpu_.device;
    const VkShaderModule modules[kGroupCount] = {
        CreateModule(d, k_rt_raygen_rgen), CreateModule(d, k_rt_radiance_rmiss),
        CreateModule(d, k_rt_shadow_rmiss), CreateModule(d, k_rt_radiance_rchit),
        CreateModule(d, k_rt_shadow_rchit)};
    std::array<VkPipelineShaderStageCreateInfo, kGroupCount> stages{};
    std::array<VkRayTracingShaderGroupCreateInfoKHR, kGroupCount> groups{};
    DescribeGroups(modules, &stages, &groups);
    const bool modulesMade =
        std::find(std::begin(modules), std::end(modules), VK_NULL_HANDLE) == std::end(modules);
    VkResult result = VK_ERROR_INITIALIZATION_FAILED;
    if (modulesMade) {
        auto info = VkStruct<VkRayTracingPipelineCreateInfoKHR>(
            VK_STRUCTURE_TYPE_RAY_TRACING_PIPELINE_CREATE_INFO_KHR);
        info.stageCount = kGroupCount;
        info.pStages = stages.data();
        info.groupCount = kGroupCount;
        info.pGroups = groups.data();
        info.maxPipelineRayRecursionDepth = recursionDepth_;
        info.layout = layout_;
        result = createPipelines_(d, VK_NULL_HANDLE, VK_NULL_HANDLE, 1, &info, nullptr, &pipeline_);
    }
    for (VkShaderModule module : modules) {
        if (module != VK_NULL_HANDLE) {
            vkDestroyShaderModule(d, module, nullptr);
        }
    }
    if (result != VK_SUCCESS) {
        pipeline_ = VK_NULL_HANDLE;
        return Result::Failure(E_FAIL, "the ray-tracing pipeline cannot be created");
    }
    handles_.resize(std::size_t{kGroupCount} * kShaderIdentifierSize);
    if (groupHandles_(d, pipeline_, 0, kGroupCount, handles_.size(), handles_.data()) !=
        VK_SUCCESS) {
        return Result::Failure(E_FAIL, "the ray-tracing program identifiers cannot be read");
    }
    return {};
}

}  // namespace qv
