// The main pass: every material with its textures and the shadow map, its outline, then the
// ground shadows.
#include <array>

#include "render/raster/pass_recording.h"
#include "render/raster/raster_passes.h"
#include "scene/anti_aliasing.h"

namespace qv {

namespace {

// Every texture slot holds an image: the flags in the material's constants
// say which of them are real.
std::array<VkDescriptorImageInfo, kTextureSlots> MaterialImages(const RasterResources& r,
                                                                const ModelGpu& m,
                                                                const MaterialDraw& draw,
                                                                std::uint32_t f) {
    const VkImageLayout read = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
    auto view = [&](std::int32_t index, bool shared) {
        if (index < 0) {
            return r.whiteTexture.view;
        }
        return shared ? r.toons[static_cast<std::size_t>(index)].view
                      : m.textures[static_cast<std::size_t>(index)].view;
    };
    std::array<VkDescriptorImageInfo, kTextureSlots> images;
    images.fill({VK_NULL_HANDLE, r.whiteTexture.view, read});
    images[0].imageView = view(draw.baseTexture, false);
    images[1].imageView = view(draw.sphereTexture, false);
    images[2].imageView = view(draw.toonTexture, draw.sharedToon);
    images[8] = {VK_NULL_HANDLE, r.shadowMaps.maps[f].view, read};
    return images;
}

void RecordDraws(VkCommandBuffer cmd, std::uint32_t f, const RasterResources& r,
                 std::size_t samplesIndex, const ModelGpu& m, PassTimer& timer) {
    BindModelBuffers(cmd, m);
    const VkDescriptorBufferInfo scene{m.sceneConstants.buffer.buffer, m.sceneConstants.Offset(f),
                                       sizeof(SceneConstants)};
    VkPipeline bound = VK_NULL_HANDLE;
    auto bind = [&](VkPipeline pipeline) {
        if (pipeline != bound) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
            bound = pipeline;
        }
    };
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        const VkPipeline main = draw.mainPipelines[samplesIndex];
        if (draw.indexCount == 0 || main == VK_NULL_HANDLE) {
            continue;
        }
        const VkDescriptorBufferInfo material{m.materialBuffer.buffer.buffer,
                                              m.materialBuffer.Offset(f) + i * kMaterialSlotSize,
                                              sizeof(MaterialConstants)};
        const std::array<VkDescriptorImageInfo, kTextureSlots> images =
            MaterialImages(r, m, draw, f);
        std::array<VkWriteDescriptorSet, 2 + kTextureSlots> writes;
        writes[0] = BufferWrite(kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &material);
        writes[1] = BufferWrite(kBindingB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &scene);
        for (std::uint32_t t = 0; t < kTextureSlots; ++t) {
            writes[2 + t] = ImageWrite(kBindingT0 + t, &images[t]);
        }
        r.pushDescriptors(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, r.layouts.raster, 0,
                          static_cast<std::uint32_t>(writes.size()), writes.data());
        bind(main);
        vkCmdDrawIndexed(cmd, draw.indexCount, 1, draw.firstIndex, 0, 0);
        // A material faded out takes its outline along.
        if (draw.drawEdge && draw.edgePipelines[samplesIndex] != VK_NULL_HANDLE &&
            CutOf(m, i) != CasterCut::Everything) {
            // Each outline follows its material, as the picture depends on
            // that order, so the outlines are timed one by one.
            timer.Begin(cmd, GpuPass::Edges);
            bind(draw.edgePipelines[samplesIndex]);
            vkCmdDrawIndexed(cmd, draw.indexCount, 1, draw.firstIndex, 0, 0);
            timer.End(cmd, GpuPass::Edges);
        }
    }
}

}  // namespace

void RecordMainPass(VkCommandBuffer cmd, std::uint32_t f, const RasterResources& r,
                    const FrameTargets& targets, std::int32_t mode,
                    const std::vector<ModelGpu*>& models, bool groundShadow, PassTimer& timer) {
    const OwnedImage* color = &targets.sceneColor;
    const OwnedImage* depth = &targets.depth1;
    VkImageLayout colorFrom = kColorRestLayout;
    std::size_t samplesIndex = 0;
    if (mode == kFxaaLow || mode == kFxaaHigh) {
        color = &targets.postInput;
        colorFrom = kPostInputRestLayout;
    } else if (mode == kMsaa4x) {
        color = &targets.msaa4Color;
        depth = &targets.depth4;
        samplesIndex = 1;
    } else if (mode == kMsaa8x) {
        color = &targets.msaa8Color;
        depth = &targets.depth8;
        samplesIndex = 2;
    }
    TransitionImage(cmd, color->image, colorFrom, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    const VkRenderingAttachmentInfo colorAttachment =
        ColorAttachment(color->view, VK_ATTACHMENT_LOAD_OP_CLEAR);
    const VkRenderingAttachmentInfo depthAttachment =
        DepthAttachment(depth->view, VK_ATTACHMENT_STORE_OP_DONT_CARE, kDepthStencilRestLayout);
    BeginRendering(cmd, targets.width, targets.height, &colorAttachment, &depthAttachment,
                   &depthAttachment);
    SetViewport(cmd, targets.width, targets.height);
    for (const ModelGpu* m : models) {
        RecordDraws(cmd, f, r, samplesIndex, *m, timer);
    }
    // Ground shadows after everything the models draw, each model marking
    // its own pixels in the stencil (1 to 255, then round again).
    if (groundShadow) {
        timer.Begin(cmd, GpuPass::GroundShadow);
        for (std::size_t k = 0; k < models.size(); ++k) {
            RecordGroundShadow(cmd, f, r, samplesIndex, *models[k],
                               static_cast<std::uint32_t>(k % 255) + 1);
        }
        timer.End(cmd, GpuPass::GroundShadow);
    }
    vkCmdEndRendering(cmd);
    TransitionImage(cmd, color->image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, colorFrom);
}

}  // namespace qv
