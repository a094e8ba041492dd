// The shadow map drawn from the light, and the models' shadows flattened onto the ground.
#include "render/raster/pass_recording.h"
#include "render/raster/raster_passes.h"

namespace qv {

namespace {

// Index ranges that follow one another drawn as one. Only for casters with
// no test, where order changes nothing: the map keeps the nearest depth and
// the stencil lets each ground pixel darken once, whichever comes first.
class JoinedDraws {
public:
    explicit JoinedDraws(VkCommandBuffer cmd) : cmd_(cmd) {}
    JoinedDraws(const JoinedDraws&) = delete;
    JoinedDraws& operator=(const JoinedDraws&) = delete;
    ~JoinedDraws() { Flush(); }

    void Add(const MaterialDraw& draw) {
        if (count_ != 0 && draw.firstIndex == first_ + count_) {
            count_ += draw.indexCount;
            return;
        }
        Flush();
        first_ = draw.firstIndex;
        count_ = draw.indexCount;
    }
    void Flush() {
        if (count_ != 0) {
            vkCmdDrawIndexed(cmd_, count_, 1, first_, 0, 0);
            count_ = 0;
        }
    }

private:
    VkCommandBuffer cmd_;
    std::uint32_t first_ = 0;
    std::uint32_t count_ = 0;
};

void PushSceneConstants(VkCommandBuffer cmd, const RasterResources& r,
                        const VkDescriptorBufferInfo& scene) {
    const VkWriteDescriptorSet write =
        BufferWrite(kBindingB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &scene);
    r.pushDescriptors(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, r.layouts.raster, 0, 1, &write);
}

}  // namespace

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
    auto casts = [](const MaterialDraw& draw) { return draw.castShadow && draw.indexCount != 0; };
    for (const ModelGpu* m : models) {
        BindModelBuffers(cmd, *m);
        // Materials that cut nothing out write depth alone, joined by culling.
        bool pushed = false;
        for (std::size_t sides = 0; sides < 2; ++sides) {
            JoinedDraws joined(cmd);
            bool bound = false;
            for (std::size_t i = 0; i < m->materials.size(); ++i) {
                const MaterialDraw& draw = m->materials[i];
                if (!casts(draw) || (draw.doubleSided ? 1u : 0u) != sides ||
                    CutOf(*m, i) != CasterCut::Nothing) {
                    continue;
                }
                if (!bound) {
                    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS,
                                      r.solidShadowPipelines[sides]);
                    bound = true;
                }
                if (!pushed) {
                    PushSceneConstants(cmd, r, constants);
                    pushed = true;
                }
                joined.Add(draw);
            }
        }
        VkPipeline bound = VK_NULL_HANDLE;
        for (std::size_t i = 0; i < m->materials.size(); ++i) {
            const MaterialDraw& draw = m->materials[i];
            if (!casts(draw) || CutOf(*m, i) != CasterCut::ByTexel) {
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
    const VkPipeline solid = r.solidGroundShadowPipelines[samplesIndex];
    const VkPipeline tested = r.groundShadowPipelines[samplesIndex];
    if (solid == VK_NULL_HANDLE || tested == VK_NULL_HANDLE) {
        return;
    }
    const VkDescriptorBufferInfo scene{m.sceneConstants.buffer.buffer, m.sceneConstants.Offset(f),
                                       sizeof(SceneConstants)};
    VkPipeline bound = VK_NULL_HANDLE;
    auto bind = [&](VkPipeline pipeline) {
        if (bound == VK_NULL_HANDLE) {
            BindModelBuffers(cmd, m);
        }
        if (pipeline != bound) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
            vkCmdSetStencilReference(cmd, VK_STENCIL_FACE_FRONT_AND_BACK, reference);
            bound = pipeline;
        }
    };
    {
        JoinedDraws joined(cmd);
        for (std::size_t i = 0; i < m.materials.size(); ++i) {
            const MaterialDraw& draw = m.materials[i];
            if (!draw.groundShadow || draw.indexCount == 0 || CutOf(m, i) != CasterCut::Nothing) {
                continue;
            }
            if (bound == VK_NULL_HANDLE) {
                bind(solid);
                PushSceneConstants(cmd, r, scene);
            }
            joined.Add(draw);
        }
    }
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        if (!draw.groundShadow || draw.indexCount == 0 || CutOf(m, i) != CasterCut::ByTexel) {
            continue;
        }
        bind(tested);
        // As in the shadow map: cut-out texels and faded materials cast nothing.
        DrawCaster(cmd, f, r, m, i, scene);
    }
}

}  // namespace qv
