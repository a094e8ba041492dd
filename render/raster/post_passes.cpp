// After the main pass: the multisample resolve or FXAA into the scene colour, and the copy out.
#include "render/raster/pass_recording.h"
#include "render/raster/raster_passes.h"
#include "scene/anti_aliasing.h"

namespace qv {

namespace {

VkImageCopy WholeImageCopy(const FrameTargets& targets) {
    VkImageCopy region{};
    region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.dstSubresource = region.srcSubresource;
    region.extent = {targets.width, targets.height, 1};
    return region;
}

}  // namespace

void RecordResolve(VkCommandBuffer cmd, const FrameTargets& targets, const OwnedImage& source) {
    TransitionImage(cmd, targets.sceneColor.image, kColorRestLayout,
                    VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    VkImageResolve region{};
    region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.dstSubresource = region.srcSubresource;
    region.extent = {targets.width, targets.height, 1};
    vkCmdResolveImage(cmd, source.image, kColorRestLayout, targets.sceneColor.image,
                      VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    TransitionImage(cmd, targets.sceneColor.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                    kColorRestLayout);
}

void RecordFxaa(VkCommandBuffer cmd, const RasterResources& r, const FrameTargets& targets,
                std::int32_t mode, VkImageView inputView, VkImageLayout inputLayout) {
    TransitionImage(cmd, targets.sceneColor.image, kColorRestLayout,
                    VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    // The triangle covers every pixel: nothing of the old image is kept.
    const VkRenderingAttachmentInfo color =
        ColorAttachment(targets.sceneColor.view, VK_ATTACHMENT_LOAD_OP_DONT_CARE);
    BeginRendering(cmd, targets.width, targets.height, &color, nullptr);
    SetViewport(cmd, targets.width, targets.height);
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS,
                      mode == kFxaaHigh ? r.fxaaHighPipeline : r.fxaaLowPipeline);
    const VkDescriptorImageInfo input{VK_NULL_HANDLE, inputView, inputLayout};
    const VkWriteDescriptorSet write = ImageWrite(kBindingT0, &input);
    r.pushDescriptors(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, r.layouts.raster, 0, 1, &write);
    vkCmdDraw(cmd, 3, 1, 0, 0);
    vkCmdEndRendering(cmd);
    TransitionImage(cmd, targets.sceneColor.image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL,
                    kColorRestLayout);
}

void RecordFinishedImage(VkCommandBuffer cmd, const RasterResources& r, const FrameTargets& targets,
                         std::int32_t mode, const OwnedImage& image) {
    if (mode == kFxaaLow || mode == kFxaaHigh) {
        TransitionImage(cmd, image.image, VK_IMAGE_LAYOUT_GENERAL,
                        VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
        RecordFxaa(cmd, r, targets, mode, image.view, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
        TransitionImage(cmd, image.image, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                        VK_IMAGE_LAYOUT_GENERAL);
        return;
    }
    // Any other mode, multisampling included, takes the image as it is.
    TransitionImage(cmd, targets.sceneColor.image, kColorRestLayout,
                    VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    TransitionImage(cmd, image.image, VK_IMAGE_LAYOUT_GENERAL,
                    VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
    const VkImageCopy region = WholeImageCopy(targets);
    vkCmdCopyImage(cmd, image.image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, targets.sceneColor.image,
                   VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    TransitionImage(cmd, targets.sceneColor.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                    kColorRestLayout);
    TransitionImage(cmd, image.image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL,
                    VK_IMAGE_LAYOUT_GENERAL);
}

void CopyToBackBuffer(VkCommandBuffer cmd, const FrameTargets& targets, const BackBuffer& target) {
    TransitionImage(cmd, target.image, VK_IMAGE_LAYOUT_UNDEFINED,
                    VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    if (target.format == kSceneColorFormat) {
        const VkImageCopy region = WholeImageCopy(targets);
        vkCmdCopyImage(cmd, targets.sceneColor.image, kColorRestLayout, target.image,
                       VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    } else {
        // A surface that offers only BGRA gets the channels swapped by a blit.
        VkImageBlit region{};
        region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        region.dstSubresource = region.srcSubresource;
        region.srcOffsets[1] = {static_cast<std::int32_t>(targets.width),
                                static_cast<std::int32_t>(targets.height), 1};
        region.dstOffsets[1] = region.srcOffsets[1];
        vkCmdBlitImage(cmd, targets.sceneColor.image, kColorRestLayout, target.image,
                       VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region, VK_FILTER_NEAREST);
    }
    TransitionImage(cmd, target.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, target.presentLayout);
}

}  // namespace qv
