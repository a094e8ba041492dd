// Creates a model's GPU buffers and textures and writes its per-frame slots.
#include "render/model/model_resources.h"

#include <algorithm>
#include <cstring>

#include "formats/pmx_model.h"
#include "render/model/morph_tables.h"
#include "runtime/model_instance.h"
#include "runtime/skeleton.h"
#include "runtime/skinning.h"

namespace qv {

namespace {

// What a model's vertices and faces become on the GPU.
struct VertexStreams {
    std::vector<VsInput> vertices;
    std::vector<VertexExtra> extras;
    // The SDEF parameters, C with a flag and the two carried points, as the
    // skinning program reads them: three float4 per vertex.
    std::vector<float> sdef;
    std::vector<std::uint32_t> indices;
};

VertexStreams BuildVertexStreams(const PmxModel& model) {
    VertexStreams s;
    s.vertices.resize(model.vertices.size());
    s.extras.resize(model.vertices.size());
    s.sdef.assign(model.vertices.size() * 12, 0.0f);
    for (std::size_t i = 0; i < model.vertices.size(); ++i) {
        const PmxVertex& v = model.vertices[i];
        VsInput& g = s.vertices[i];
        g = {{v.position.x, v.position.y, v.position.z},
             {v.normal.x, v.normal.y, v.normal.z},
             {v.uv.x, v.uv.y},
             {},
             {}};
        for (int k = 0; k < 4; ++k) {
            // Negative indices become huge and so count as no bone.
            g.boneRef[k] = static_cast<std::uint32_t>(v.weight.boneIndex[k]);
            g.boneWeight[k] = v.weight.weight[k];
        }
        s.extras[i] = {{v.additionalUv[0].x, v.additionalUv[0].y}, v.edgeScale, 0.0f};
        const SdefParams p = PrepareSdef(v.weight);
        const float values[12] = {p.c.x,   p.c.y, p.c.z,   p.sdef,  p.cr0.x, p.cr0.y,
                                  p.cr0.z, 0.0f,  p.cr1.x, p.cr1.y, p.cr1.z, 0.0f};
        std::copy(std::begin(values), std::end(values), s.sdef.data() + i * 12);
    }
    // A face index past the last vertex would make the GPU read outside the
    // vertex buffer; such corners are pinned to vertex 0.
    s.indices = model.indices;
    for (std::uint32_t& index : s.indices) {
        if (index >= model.vertices.size()) {
            index = 0;
        }
    }
    return s;
}

// The buffers filled once: faces, vertices in their three copies, the
// extras, SDEF parameters, skinning constants and morph offsets. `fills`
// write their contents off this thread (see model_upload.h).
HRESULT CreateFilledBuffers(const GpuContext& gpu, UploadBatch& batch, VertexStreams s,
                            const PmxModel& model, VkBufferUsageFlags addressed, ModelGpu& m,
                            std::vector<MappedFill>* fills) {
    const auto filled = [&](MappedFill fill, VkBufferUsageFlags usage, GpuBuffer* out) {
        VkDeviceSize room = 0;
        const HRESULT hr =
            CreateBufferToFill(gpu, batch, fill.bytes.size(), usage, out, &fill.mapped, &room);
        if (Succeeded(hr)) {
            fill.size = room;
            fills->push_back(std::move(fill));
        }
        return hr;
    };
    const VkBufferUsageFlags storage = VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;
    const auto indices = std::make_shared<const std::vector<std::uint32_t>>(std::move(s.indices));
    const auto vertices = std::make_shared<const std::vector<VsInput>>(std::move(s.vertices));
    HRESULT hr = filled(FillFrom(indices), VK_BUFFER_USAGE_INDEX_BUFFER_BIT, &m.indexBuffer);
    if (Succeeded(hr)) {
        hr = filled(FillFrom(indices), storage | addressed, &m.rayTracingIndices);
    }
    if (Succeeded(hr)) {
        hr = filled(FillFrom(vertices), storage | addressed, &m.rayTracingVertices);
    }
    if (Succeeded(hr)) {
        hr = filled(FillFrom(vertices), storage, &m.skinningInput);
    }
    if (Succeeded(hr)) {
        hr = filled(FillFrom(vertices),
                    storage | VK_BUFFER_USAGE_VERTEX_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
                    &m.skinnedOutput);
    }
    if (Succeeded(hr)) {
        hr = filled(FillFrom(std::make_shared<const std::vector<VertexExtra>>(std::move(s.extras))),
                    VK_BUFFER_USAGE_VERTEX_BUFFER_BIT, &m.vertexExtras);
    }
    if (Succeeded(hr)) {
        hr = filled(FillFrom(std::make_shared<const std::vector<float>>(std::move(s.sdef))),
                    storage, &m.sdefParams);
    }
    if (Succeeded(hr)) {
        hr = filled(FillFrom(std::make_shared<const std::vector<SkinningConstants>>(
                        1, SkinningConstants{m.boneCount, m.vertexCount})),
                    VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, &m.skinningConstants);
    }
    // A face morph moves a few hundred of a model's vertices: the GPU gets
    // per vertex only the morphs that move it.
    const auto morphs = [&](std::uint32_t morphType, GpuBuffer* out) {
        return filled(FillFrom(std::make_shared<const std::vector<std::uint32_t>>(
                          SparseMorphTable(model, morphType))),
                      storage, out);
    };
    if (Succeeded(hr)) {
        hr = morphs(kPmxMorphVertex, &m.vertexMorphOffsets);
    }
    if (Succeeded(hr)) {
        hr = morphs(kPmxMorphUv, &m.uvMorphOffsets);
    }
    return hr;
}

// The buffers written every frame, one slot per frame in flight.
HRESULT CreateFrameSlots(const GpuContext& gpu, VkBufferUsageFlags addressed, ModelGpu& m) {
    const VkBufferUsageFlags storage = VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;
    HRESULT hr =
        CreatePerFrameBuffer(gpu, VkDeviceSize{m.boneCount} * 64, storage, &m.boneMatrices);
    if (Succeeded(hr)) {
        hr = CreatePerFrameBuffer(gpu, VkDeviceSize{m.vertexMorphCount} * 4, storage,
                                  &m.vertexMorphWeights);
    }
    if (Succeeded(hr)) {
        hr =
            CreatePerFrameBuffer(gpu, VkDeviceSize{m.uvMorphCount} * 4, storage, &m.uvMorphWeights);
    }
    if (Succeeded(hr)) {
        hr = CreatePerFrameBuffer(gpu, kSceneSlotSize, VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT,
                                  &m.sceneConstants);
    }
    if (Succeeded(hr)) {
        hr = CreatePerFrameBuffer(gpu,
                                  kMaterialSlotSize * std::max<std::size_t>(1, m.materials.size()),
                                  VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT |
                                      (addressed & VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT),
                                  &m.materialBuffer);
    }
    return hr;
}

// The textures' images, and room for their pixels in the batch: `fills`
// take the pixels there off this thread (see model_upload.h).
HRESULT CreateTextures(const GpuContext& gpu, UploadBatch& batch, ModelTextures& textures,
                       ModelGpu& m, std::vector<MappedFill>* fills) {
    for (RgbaImage& image : textures.images) {
        OwnedImage texture;
        std::uint8_t* pixels = nullptr;
        const HRESULT hr =
            CreateTextureToFill(gpu, batch, image.width, image.height, &texture, &pixels);
        if (Failed(hr)) {
            return hr;
        }
        m.textures.push_back(texture);
        MappedFill fill =
            FillFrom(std::make_shared<const std::vector<std::uint8_t>>(std::move(image.pixels)));
        fill.mapped = pixels;
        fill.size = std::size_t{image.width} * image.height * 4;
        image = {};
        fills->push_back(std::move(fill));
    }
    m.textureLeastAlpha = textures.leastAlpha;
    // Images the loader did not measure keep their test.
    m.textureLeastAlpha.resize(m.textures.size(), 0);
    return S_OK;
}

}  // namespace

Result CreateModelGpu(const GpuContext& gpu, const PmxModel& model, const ModelInstance& instance,
                      ModelTextures& textures, ModelGpu* out) {
    if (!textures.loaded) {
        textures = LoadModelTextures(model);
    }
    if (textures.result != S_OK) {
        return Result{textures.result, textures.message};
    }
    ModelGpu m;
    m.vertexCount = static_cast<std::uint32_t>(model.vertices.size());
    m.indexCount = static_cast<std::uint32_t>(model.indices.size());
    m.boneCount = static_cast<std::uint32_t>(instance.bones.size());
    m.vertexMorphCount = instance.vertexMorphCount;
    m.uvMorphCount = instance.uvMorphCount;
    BuildMaterials(model, textures.absent, &m.materials, &m.materialConstants);
    UseModelToons(textures.ownToons, &m.materials);

    // The ray-tracing copies feed the acceleration structures and, with the
    // material constants, are read by the hit program through their addresses.
    const VkBufferUsageFlags addressed =
        gpu.rayTracing ? VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT |
                             VK_BUFFER_USAGE_ACCELERATION_STRUCTURE_BUILD_INPUT_READ_ONLY_BIT_KHR
                       : 0;
    m.upload = std::make_unique<ModelUpload>(gpu);
    UploadBatch& batch = m.upload->copies;
    std::vector<MappedFill> fills;
    HRESULT hr =
        CreateFilledBuffers(gpu, batch, BuildVertexStreams(model), model, addressed, m, &fills);
    if (Succeeded(hr)) {
        hr = CreateFrameSlots(gpu, addressed, m);
    }
    if (Succeeded(hr)) {
        hr = CreateTextures(gpu, batch, textures, m, &fills);
    }
    if (Succeeded(hr)) {
        m.upload->filled = FillMapped(std::move(fills));
    }
    if (Succeeded(hr) && !m.textures.empty()) {
        std::vector<VkImage> images;
        for (const OwnedImage& texture : m.textures) {
            images.push_back(texture.image);
        }
        m.upload->views = MakeTextureViews(gpu.device, std::move(images));
    }
    if (Failed(hr)) {
        DestroyModelGpu(gpu.device, &m);
        return Result{hr, {}};
    }
    for (std::uint32_t f = 0; f < kFrameCount; ++f) {
        for (std::size_t i = 0; i < m.materialConstants.size(); ++i) {
            std::memcpy(static_cast<std::byte*>(m.materialBuffer.Slot(f)) + i * kMaterialSlotSize,
                        &m.materialConstants[i], sizeof(MaterialConstants));
        }
    }
    *out = std::move(m);
    return {};
}

void DestroyModelGpu(VkDevice device, ModelGpu* gpu) {
    // The copies write into the buffers and images freed below.
    StopUpload(*gpu);
    for (GpuBuffer* b :
         {&gpu->indexBuffer, &gpu->rayTracingIndices, &gpu->rayTracingVertices, &gpu->skinningInput,
          &gpu->sdefParams, &gpu->skinnedOutput, &gpu->vertexExtras, &gpu->skinningConstants,
          &gpu->vertexMorphOffsets, &gpu->uvMorphOffsets, &gpu->boneMatrices.buffer,
          &gpu->vertexMorphWeights.buffer, &gpu->uvMorphWeights.buffer, &gpu->sceneConstants.buffer,
          &gpu->materialBuffer.buffer}) {
        DestroyGpuBuffer(device, b);
    }
    for (OwnedImage& image : gpu->textures) {
        DestroyColorImage(device, &image);
    }
    gpu->textures.clear();
}

void UploadModelFrame(ModelGpu& gpu, const ModelInstance& instance, std::uint32_t frame,
                      const SceneConstants& scene) {
    auto* bones = static_cast<float*>(gpu.boneMatrices.Slot(frame));
    const std::size_t boneCount = std::min<std::size_t>(gpu.boneCount, instance.bones.size());
    for (std::size_t b = 0; b < boneCount; ++b) {
        // Rows 0 to 2 dotted with (position, 1) give the skinned position.
        StoreTransposed(SkinningMatrix(instance.bones[b]), bones + b * 16);
    }
    if (gpu.vertexMorphCount != 0) {
        std::memcpy(
            gpu.vertexMorphWeights.Slot(frame), instance.vertexMorphWeights.data(),
            std::min<std::size_t>(gpu.vertexMorphCount, instance.vertexMorphWeights.size()) *
                sizeof(float));
    }
    if (gpu.uvMorphCount != 0) {
        std::memcpy(gpu.uvMorphWeights.Slot(frame), instance.uvMorphWeights.data(),
                    std::min<std::size_t>(gpu.uvMorphCount, instance.uvMorphWeights.size()) *
                        sizeof(float));
    }
    std::memcpy(gpu.sceneConstants.Slot(frame), &scene, sizeof(scene));
    const bool morphed = instance.materialMorphCount != 0;
    gpu.casterCuts.resize(gpu.materialConstants.size());
    for (std::size_t i = 0; i < gpu.materialConstants.size(); ++i) {
        MaterialConstants c = gpu.materialConstants[i];
        if (morphed && i < instance.materialMorphs.size()) {
            c = MorphedMaterialConstants(c, instance.materialMorphs[i]);
        }
        const std::int32_t base = gpu.materials[i].baseTexture;
        gpu.casterCuts[i] =
            CasterCutOf(c, base >= 0 ? gpu.textureLeastAlpha[static_cast<std::size_t>(base)] : 255);
        std::memcpy(static_cast<std::byte*>(gpu.materialBuffer.Slot(frame)) + i * kMaterialSlotSize,
                    &c, sizeof(MaterialConstants));
    }
}

}  // namespace qv
