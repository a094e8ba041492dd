// Small recording steps the raster passes share: descriptor writes, attachments, viewport.
#pragma once

#include <vulkan/vulkan.h>

#include <cstddef>
#include <cstdint>

#include "render/model/model_resources.h"
#include "render/raster/frame_targets.h"
#include "render/raster/raster_resources.h"

namespace qv {

VkWriteDescriptorSet BufferWrite(std::uint32_t binding, VkDescriptorType type,
                                 const VkDescriptorBufferInfo* info);
VkWriteDescriptorSet ImageWrite(std::uint32_t binding, const VkDescriptorImageInfo* info);

// Cleared to white, and stored.
VkRenderingAttachmentInfo ColorAttachment(VkImageView view, VkAttachmentLoadOp load);
// Cleared to the far plane.
VkRenderingAttachmentInfo DepthAttachment(VkImageView view, VkAttachmentStoreOp store,
                                          VkImageLayout layout = kDepthRestLayout);
void BeginRendering(VkCommandBuffer cmd, std::uint32_t width, std::uint32_t height,
                    const VkRenderingAttachmentInfo* color, const VkRenderingAttachmentInfo* depth,
                    const VkRenderingAttachmentInfo* stencil = nullptr);
void SetViewport(VkCommandBuffer cmd, std::uint32_t width, std::uint32_t height);

// The skinned vertices and the extras beside them, and the indices.
void BindModelBuffers(VkCommandBuffer cmd, const ModelGpu& model);

// Which of the material's pixels its alpha test drops this frame; the full
// test before the model's first upload.
CasterCut CutOf(const ModelGpu& model, std::size_t material);

// Draws one material with its alpha and base texture bound, so that
// cut-out texels and faded materials cast nothing. `scene` holds the
// constants of the view the shadow is cast in.
void DrawCaster(VkCommandBuffer cmd, std::uint32_t frame, const RasterResources& r,
                const ModelGpu& model, std::size_t material, const VkDescriptorBufferInfo& scene);

}  // namespace qv
