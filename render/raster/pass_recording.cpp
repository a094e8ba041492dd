// Small recording steps the raster passes share.
#include "render/raster/pass_recording.h"

#include "core/vk_struct.h"

namespace qv {

VkWriteDescriptorSet BufferWrite(std::uint32_t binding, VkDescriptorType type,
                                 const VkDescriptorBufferInfo* info) {
    auto write = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
    write.dstBinding = binding;
    write.descriptorCount = 1;
    write.descriptorType = type;
    write.pBufferInfo = info;
    return write;
}

VkWriteDescriptorSet ImageWrite(std::uint32_t binding, const VkDescriptorImageInfo* info) {
    auto write = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
    write.dstBinding = binding;
    write.descriptorCount = 1;
    write.descriptorType = VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE;
    write.pImageInfo = info;
    return write;
}

VkRenderingAttachmentInfo ColorAttachment(VkImageView view, VkAttachmentLoadOp load) {
    auto a = VkStruct<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
    a.imageView = view;
    a.imageLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    a.loadOp = load;
    a.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
    a.clearValue.color = {{1.0f, 1.0f, 1.0f, 1.0f}};
    return a;
}

VkRenderingAttachmentInfo DepthAttachment(VkImageView view, VkAttachmentStoreOp store,
                                          VkImageLayout layout) {
    auto a = VkStruct<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
    a.imageView = view;
    a.imageLayout = layout;
    a.loadOp = VK_ATTACHMENT_LOAD_OP_CLEAR;
    a.storeOp = store;
    a.clearValue.depthStencil = {1.0f, 0};
    return a;
}

void BeginRendering(VkCommandBuffer cmd, std::uint32_t width, std::uint32_t height,
                    const VkRenderingAttachmentInfo* color, const VkRenderingAttachmentInfo* depth,
                    const VkRenderingAttachmentInfo* stencil) {
    auto info = VkStruct<VkRenderingInfo>(VK_STRUCTURE_TYPE_RENDERING_INFO);
    info.renderArea = {{0, 0}, {width, height}};
    info.layerCount = 1;
    info.colorAttachmentCount = color != nullptr ? 1 : 0;
    info.pColorAttachments = color;
    info.pDepthAttachment = depth;
    info.pStencilAttachment = stencil;
    vkCmdBeginRendering(cmd, &info);
}

void SetViewport(VkCommandBuffer cmd, std::uint32_t width, std::uint32_t height) {
    // A negative height keeps Direct3D's clip space: y up, origin at the top.
    const VkViewport viewport{0.0f,
                              static_cast<float>(height),
                              static_cast<float>(width),
                              -static_cast<float>(height),
                              0.0f,
                              1.0f};
    const VkRect2D scissor{{0, 0}, {width, height}};
    vkCmdSetViewport(cmd, 0, 1, &viewport);
    vkCmdSetScissor(cmd, 0, 1, &scissor);
}

void BindModelBuffers(VkCommandBuffer cmd, const ModelGpu& m) {
    const VkBuffer buffers[2] = {m.skinnedOutput.buffer, m.vertexExtras.buffer};
    const VkDeviceSize offsets[2] = {0, 0};
    vkCmdBindVertexBuffers(cmd, 0, 2, buffers, offsets);
    vkCmdBindIndexBuffer(cmd, m.indexBuffer.buffer, 0, VK_INDEX_TYPE_UINT32);
}

CasterCut CutOf(const ModelGpu& m, std::size_t material) {
    return material < m.casterCuts.size() ? m.casterCuts[material] : CasterCut::ByTexel;
}

void DrawCaster(VkCommandBuffer cmd, std::uint32_t f, const RasterResources& r, const ModelGpu& m,
                std::size_t material, const VkDescriptorBufferInfo& scene) {
    const MaterialDraw& draw = m.materials[material];
    const VkDescriptorBufferInfo constants{
        m.materialBuffer.buffer.buffer, m.materialBuffer.Offset(f) + material * kMaterialSlotSize,
        sizeof(MaterialConstants)};
    const VkDescriptorImageInfo base{
        VK_NULL_HANDLE,
        draw.baseTexture >= 0 ? m.textures[static_cast<std::size_t>(draw.baseTexture)].view
                              : r.whiteTexture.view,
        VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
    const VkWriteDescriptorSet writes[3] = {
        BufferWrite(kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &constants),
        BufferWrite(kBindingB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &scene),
        ImageWrite(kBindingT0, &base),
    };
    r.pushDescriptors(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, r.layouts.raster, 0, 3, writes);
    vkCmdDrawIndexed(cmd, draw.indexCount, 1, draw.firstIndex, 0, 0);
}

}  // namespace qv
