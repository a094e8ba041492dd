// Skins and morphs every drawn model's vertices on the compute queue.
#include "render/raster/pass_recording.h"
#include "render/raster/raster_passes.h"

namespace qv {

void RecordSkinning(VkCommandBuffer cmd, std::uint32_t f, const RasterResources& r,
                    const std::vector<ModelGpu*>& models) {
    // The previous frame's draws read the output before it is written again.
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT,
                  VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT, VK_ACCESS_2_SHADER_WRITE_BIT);
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.skinningPipeline);
    for (const ModelGpu* model : models) {
        const ModelGpu& m = *model;
        const VkDescriptorBufferInfo constants{m.skinningConstants.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo output{m.skinnedOutput.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo bones{m.boneMatrices.buffer.buffer, m.boneMatrices.Offset(f),
                                           m.boneMatrices.slotSize};
        const VkDescriptorBufferInfo vertexWeights{m.vertexMorphWeights.buffer.buffer,
                                                   m.vertexMorphWeights.Offset(f),
                                                   m.vertexMorphWeights.slotSize};
        const VkDescriptorBufferInfo vertexOffsets{m.vertexMorphOffsets.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo uvWeights{
            m.uvMorphWeights.buffer.buffer, m.uvMorphWeights.Offset(f), m.uvMorphWeights.slotSize};
        const VkDescriptorBufferInfo uvOffsets{m.uvMorphOffsets.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo input{m.skinningInput.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo sdef{m.sdefParams.buffer, 0, VK_WHOLE_SIZE};
        const VkWriteDescriptorSet writes[9] = {
            BufferWrite(kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &constants),
            BufferWrite(kBindingU0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &output),
            BufferWrite(kBindingT0 + 0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &bones),
            BufferWrite(kBindingT0 + 1, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &vertexWeights),
            BufferWrite(kBindingT0 + 2, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &vertexOffsets),
            BufferWrite(kBindingT0 + 3, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &uvWeights),
            BufferWrite(kBindingT0 + 4, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &uvOffsets),
            BufferWrite(kBindingT0 + 5, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &input),
            BufferWrite(kBindingT0 + 6, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &sdef),
        };
        r.pushDescriptors(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.layouts.skinning, 0, 9, writes);
        vkCmdDispatch(cmd, (m.vertexCount + 127) / 128, 1, 1);
    }
    // Ray tracing reads its own copy of the skinned vertices.
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT, VK_ACCESS_2_SHADER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_COPY_BIT, VK_ACCESS_2_TRANSFER_READ_BIT);
    for (const ModelGpu* m : models) {
        if (m->vertexCount != 0) {
            const VkBufferCopy region{0, 0, VkDeviceSize{m->vertexCount} * sizeof(VsInput)};
            vkCmdCopyBuffer(cmd, m->skinnedOutput.buffer, m->rayTracingVertices.buffer, 1, &region);
        }
    }
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_2_COPY_BIT,
                  VK_ACCESS_2_SHADER_WRITE_BIT | VK_ACCESS_2_TRANSFER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT);
}

}  // namespace qv
