// The shadow map drawn from the light, and the models' shadows flattened onto the ground.
#include "render/raster/pass_recording.h"
#include "render/raster/raster_passes.h"

namespace qv {

bool ReadsShadowMap(const ModelGpu& m) {
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        const MaterialConstants& c = m.materialConstants[i];
        if (draw.indexCount != 0 && c.receiveShadow != 0 &&
            (!draw.shadowNeedsToon || c.textureBind[2] != 0)) {
            return true;
        }
    }
    return false;
}

void RecordShadowPass(VkCommandBuffer cmd, std::uint32_t f, const RasterResources& r,
                      const std::vector<ModelGpu*>& models) {
    const OwnedImage& map = r.shadowMaps.maps[f];
    const VkRenderingAttachmentInfo depth = DepthAttachment(map.view, VK_ATTACHMENT_STORE_OP_STORE);
    BeginRendering(cmd, kShadowMapSize, kShadowMapSize, nullptr, &depth);
    SetViewport(cmd, kShadowMapSize, kShadowMapSize);
    const VkDescriptorBufferInfo constants{r.shadowConstants.buffer.buffer,
                                           r.shadowConstants.Offset(f), sizeof(SceneConstants)};
    VkPipeline bound = VK_NULL_HANDLE;
    for (const ModelGpu* m : models) {
        BindModelBuffers(cmd, *m);
        for (std::size_t i = 0; i < m->materials.size(); ++i) {
            const MaterialDraw& draw = m->materials[i];
            if (!draw.castShadow || draw.indexCount == 0) {
                continue;
            }
            const VkPipeline pipeline = r.shadowPipelines[draw.doubleSided ? 1 : 0];
            if (pipeline != bound) {
                vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
                bound = pipeline;
            }
            // The material's alpha and base texture decide which texels cast.
            DrawCaster(cmd, f, r, *m, i, constants);
        }
    }
    vkCmdEndRendering(cmd);
}

void RecordGroundShadow(VkCommandBuffer cmd, std::uint32_t f, const RasterResources& r,
                        std::size_t samplesIndex, const ModelGpu& m, std::uint32_t reference) {
    const VkPipeline pipeline = r.groundShadowPipelines[samplesIndex];
    if (pipeline == VK_NULL_HANDLE) {
        return;
    }
    bool bound = false;
    const VkDescriptorBufferInfo scene{m.sceneConstants.buffer.buffer, m.sceneConstants.Offset(f),
                                       sizeof(SceneConstants)};
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        if (!draw.groundShadow || draw.indexCount == 0) {
            continue;
        }
        if (!bound) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
            vkCmdSetStencilReference(cmd, VK_STENCIL_FACE_FRONT_AND_BACK, reference);
            BindModelBuffers(cmd, m);
            bound = true;
        }
        // As in the shadow map: cut-out texels and faded materials cast nothing.
        DrawCaster(cmd, f, r, m, i, scene);
    }
}

}  // namespace qv
