// Records a ray-traced frame: constants, structure builds from this frame's vertices, the rays.
#include <array>
#include <cstring>
#include <tuple>

#include "core/vk_struct.h"
#include "render/model/model_resources.h"
#include "render/raytracing/raytracing_renderer.h"

namespace qv {

void RaytracingRenderer::RecordStructureBuilds(VkCommandBuffer cmd, std::uint32_t f) {
    // The previous frame's rays are done with the structures before they
    // are built again from this frame's vertices.
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT,
                  VK_ACCESS_2_MEMORY_READ_BIT | VK_ACCESS_2_MEMORY_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                  VK_ACCESS_2_ACCELERATION_STRUCTURE_WRITE_BIT_KHR |
                      VK_ACCESS_2_ACCELERATION_STRUCTURE_READ_BIT_KHR |
                      VK_ACCESS_2_SHADER_READ_BIT);
    if (timings_ != VK_NULL_HANDLE) {
        vkCmdResetQueryPool(cmd, timings_, 2 * f, 2);
        vkCmdWriteTimestamp2(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, timings_, 2 * f);
    }
    // One entry per bottom structure, on the stack: a played frame allocates nothing.
    std::array<VkAccelerationStructureBuildGeometryInfoKHR, std::tuple_size_v<decltype(bottom_)>>
        infos{};
    std::array<const VkAccelerationStructureBuildRangeInfoKHR*, infos.size()> ranges{};
    std::uint32_t count = 0;
    for (const Structure& s : bottom_) {
        if (s.handle != VK_NULL_HANDLE) {
            infos[count] = BuildInfo(VK_ACCELERATION_STRUCTURE_TYPE_BOTTOM_LEVEL_KHR, s);
            ranges[count++] = s.ranges.data();
        }
    }
    if (count != 0) {
        cmdBuild_(cmd, count, infos.data(), ranges.data());
        MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                      VK_ACCESS_2_ACCELERATION_STRUCTURE_WRITE_BIT_KHR,
                      VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                      VK_ACCESS_2_ACCELERATION_STRUCTURE_READ_BIT_KHR);
    }
    const VkAccelerationStructureBuildGeometryInfoKHR topInfo =
        BuildInfo(VK_ACCELERATION_STRUCTURE_TYPE_TOP_LEVEL_KHR, top_);
    const VkAccelerationStructureBuildRangeInfoKHR* topRange = top_.ranges.data();
    cmdBuild_(cmd, 1, &topInfo, &topRange);
    if (timings_ != VK_NULL_HANDLE) {
        vkCmdWriteTimestamp2(cmd, VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                             timings_, 2 * f + 1);
    }
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                  VK_ACCESS_2_ACCELERATION_STRUCTURE_WRITE_BIT_KHR,
                  VK_PIPELINE_STAGE_2_RAY_TRACING_SHADER_BIT_KHR,
                  VK_ACCESS_2_ACCELERATION_STRUCTURE_READ_BIT_KHR);
}

void RaytracingRenderer::Record(VkCommandBuffer cmd, std::uint32_t f,
                                const RaytracingConstants& constants) {
    std::memcpy(constants_.Slot(f), &constants, sizeof(constants));

    RecordStructureBuilds(cmd, f);

    if (output_.fresh) {
        TransitionImage(cmd, output_.image.image, VK_IMAGE_LAYOUT_UNDEFINED,
                        VK_IMAGE_LAYOUT_GENERAL);
        output_.fresh = false;
    } else {
        TransitionImage(cmd, output_.image.image, VK_IMAGE_LAYOUT_GENERAL, VK_IMAGE_LAYOUT_GENERAL);
    }
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, pipeline_);
    const VkDescriptorBufferInfo constantsInfo{constants_.buffer.buffer, constants_.Offset(f),
                                               sizeof(RaytracingConstants)};
    auto sceneInfo = VkStruct<VkWriteDescriptorSetAccelerationStructureKHR>(
        VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET_ACCELERATION_STRUCTURE_KHR);
    sceneInfo.accelerationStructureCount = 1;
    sceneInfo.pAccelerationStructures = &top_.handle;
    const VkDescriptorImageInfo outputInfo{VK_NULL_HANDLE, output_.image.view,
                                           VK_IMAGE_LAYOUT_GENERAL};
    std::array<VkWriteDescriptorSet, 3> writes{};
    for (std::uint32_t i = 0; i < 3; ++i) {
        writes[i] = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
        writes[i].dstBinding = i;
        writes[i].descriptorCount = 1;
    }
    writes[0].descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
    writes[0].pBufferInfo = &constantsInfo;
    writes[1].descriptorType = VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR;
    writes[1].pNext = &sceneInfo;
    writes[2].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_IMAGE;
    writes[2].pImageInfo = &outputInfo;
    pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, layout_, 0, 3, writes.data());
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, layout_, 1, 1,
                            &textureSet_, 0, nullptr);
    const VkStridedDeviceAddressRegionKHR noCallables{};
    cmdTraceRays_(cmd, &raygenRegion_, &missRegion_, &hitRegions_[f], &noCallables, output_.width,
                  output_.height, 1);
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_RAY_TRACING_SHADER_BIT_KHR, VK_ACCESS_2_SHADER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT);
}

}  // namespace qv
