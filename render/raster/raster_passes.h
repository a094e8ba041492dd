// The passes of a rasterised frame, in the order a frame records them.
#pragma once

#include <vulkan/vulkan.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/engine_context.h"
#include "render/model/model_resources.h"
#include "render/raster/frame_targets.h"
#include "render/raster/raster_resources.h"
#include "render/vk/pass_timer.h"

namespace qv {

// On the compute list: every model's vertices skinned and morphed, and the
// copy ray tracing reads.
void RecordSkinning(VkCommandBuffer cmd, std::uint32_t frame, const RasterResources& r,
                    const std::vector<ModelGpu*>& models);

// Whether any material of the model is drawn by a program that will read
// the shadow map this frame.
bool ReadsShadowMap(const ModelGpu& model);
// The depth seen from the light, into this frame's shadow map.
void RecordShadowPass(VkCommandBuffer cmd, std::uint32_t frame, const RasterResources& r,
                      const std::vector<ModelGpu*>& models);

// The models' materials with their outlines into the target of `mode`,
// then, with `groundShadow`, each model's shadow on the ground. `timer`
// times the outlines and the ground shadows apart.
void RecordMainPass(VkCommandBuffer cmd, std::uint32_t frame, const RasterResources& r,
                    const FrameTargets& targets, std::int32_t mode,
                    const std::vector<ModelGpu*>& models, bool groundShadow, PassTimer& timer);
// One model's shadow flattened onto the ground, its pixels marked in the
// stencil with `reference` so that overlapping triangles darken once.
void RecordGroundShadow(VkCommandBuffer cmd, std::uint32_t frame, const RasterResources& r,
                        std::size_t samplesIndex, const ModelGpu& model, std::uint32_t reference);

// A multisampled colour resolved into the scene colour.
void RecordResolve(VkCommandBuffer cmd, const FrameTargets& targets, const OwnedImage& source);
// `input` filtered into the scene colour by the low or high FXAA program.
void RecordFxaa(VkCommandBuffer cmd, const RasterResources& r, const FrameTargets& targets,
                std::int32_t mode, VkImageView input, VkImageLayout inputLayout);
// A finished image in the general layout, such as a ray-traced one, into
// the scene colour: filtered in the FXAA modes, copied in any other.
void RecordFinishedImage(VkCommandBuffer cmd, const RasterResources& r, const FrameTargets& targets,
                         std::int32_t mode, const OwnedImage& image);
// The scene colour into the back buffer, which ends in its present layout.
void CopyToBackBuffer(VkCommandBuffer cmd, const FrameTargets& targets, const BackBuffer& target);

}  // namespace qv
