// The GPU half of a model: its buffers, textures and materials, and each frame's upload.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/model_textures.h"
#include "platform/result.h"
#include "render/model/material_table.h"
#include "render/model/model_upload.h"
#include "render/model/shader_layouts.h"
#include "render/vk/gpu_buffers.h"
#include "render/vk/upload_batch.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

struct PmxModel;
struct ModelInstance;

// The GPU half of one model.
struct ModelGpu {
    std::uint32_t vertexCount = 0;
    std::uint32_t indexCount = 0;
    std::uint32_t boneCount = 0;
    std::uint32_t vertexMorphCount = 0;
    std::uint32_t uvMorphCount = 0;

    GpuBuffer indexBuffer;
    GpuBuffer skinningInput;
    GpuBuffer sdefParams;     // 48 bytes per vertex: SdefParams (runtime/skinning.h)
    GpuBuffer skinnedOutput;  // also the vertex buffer of every draw
    GpuBuffer vertexExtras;   // VertexExtra per vertex: the draws' second vertex buffer
    // Copies for ray tracing: the indices once, the skinned vertices each
    // frame after skinning.
    GpuBuffer rayTracingIndices;
    GpuBuffer rayTracingVertices;
    GpuBuffer skinningConstants;
    // Per vertex the morphs that move it (see morph_tables.h).
    GpuBuffer vertexMorphOffsets;
    GpuBuffer uvMorphOffsets;

    PerFrameBuffer boneMatrices;
    PerFrameBuffer vertexMorphWeights;
    PerFrameBuffer uvMorphWeights;
    PerFrameBuffer sceneConstants;
    PerFrameBuffer materialBuffer;  // one 256-byte block per material in each slot

    std::vector<OwnedImage> textures;
    std::vector<std::uint8_t> textureLeastAlpha;  // by texture, as ModelTextures::leastAlpha
    std::vector<MaterialDraw> materials;          // in file order
    std::vector<MaterialConstants> materialConstants;
    // By material, for the frame last uploaded: which pixels its alpha test
    // drops, so that casters that drop none skip the test.
    std::vector<CasterCut> casterCuts;

    // The copies that fill the buffers and textures and the textures' views,
    // while they may still be under way; null once they are known to be
    // done. No frame may read the model before then.
    std::unique_ptr<ModelUpload> upload;
};

// Builds every GPU object of a model and submits its upload without waiting
// for it: `out->upload` holds it, and the textures have no views, until
// UploadComplete finds it done.
// `textures` are the model's decoded images (LoadModelTextures, done by the
// import thread); when they were not loaded they are loaded here. Their
// pixels are freed as they go up. A texture file that does not exist is
// drawn as no texture; one that cannot be decoded fails with E_FAIL and a
// message; otherwise a failure carries the failing creation's code. On
// failure nothing is left behind.
Result CreateModelGpu(const GpuContext& gpu, const PmxModel& model, const ModelInstance& instance,
                      ModelTextures& textures, ModelGpu* out);
// The caller has waited for the frames that drew the model; an upload still
// in flight is waited for here.
void DestroyModelGpu(VkDevice device, ModelGpu* gpu);

// Writes slot `frame` of the model's per-frame buffers: bone matrices, morph
// weights, scene constants and material constants.
void UploadModelFrame(ModelGpu& gpu, const ModelInstance& instance, std::uint32_t frame,
                      const SceneConstants& scene);

}  // namespace qv
