#include "render/model_resources.h"
#include "core/vk_struct.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

#include "formats/pmx_model.h"
#include "formats/rgba_image.h"
#include "formats/text_decode.h"
#include "platform/file_read.h"
#include "runtime/model_instance.h"
#include "runtime/skeleton.h"
#include "runtime/skinning.h"

namespace qv {

namespace {

// Storage and uniform offsets of every device we meet are multiples of this.
constexpr VkDeviceSize kSlotAlignment = 256;

VkDeviceSize AlignSlot(VkDeviceSize size) {
    return std::max<VkDeviceSize>(kSlotAlignment,
                                  (size + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment);
}

// A device-local buffer filled once from `data` (zeros when null).
HRESULT CreateFilledBuffer(const GpuContext& gpu, const void* data, VkDeviceSize size,
                           VkBufferUsageFlags usage, GpuBuffer* out) {
    const VkDeviceSize allocated = std::max<VkDeviceSize>(size, 16);
    HRESULT hr =
        CreateGpuBuffer(gpu, allocated, usage | VK_BUFFER_USAGE_TRANSFER_DST_BIT, false, out);
    if (Succeeded(hr) && data != nullptr && size != 0) {
        hr = UploadToBuffer(gpu, *out, data, size);
    } else if (Succeeded(hr)) {
        std::vector<std::uint8_t> zeros(allocated);
        hr = UploadToBuffer(gpu, *out, zeros.data(), allocated);
    }
    return hr;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

struct DecodedTexture {
    bool ok = false;
    RgbaImage image;
    std::string reason = "the file cannot be read";
};

// Decoding is most of a model's creation time; the images are independent,
// so they are decoded side by side on every core.
std::vector<DecodedTexture> DecodeTextures(const std::vector<std::filesystem::path>& paths) {
    std::vector<DecodedTexture> out(paths.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            std::vector<std::uint8_t> bytes;
            out[i].ok = Succeeded(ReadWholeFile(paths[i], bytes)) &&
                        DecodeImage(bytes, out[i].image, out[i].reason);
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), paths.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < helpers; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads only take longer
        }
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return out;
}

void Copy3(const Float4& v, float out[3]) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

}  // namespace

HRESULT CreateFrameBuffer(const GpuContext& gpu, VkDeviceSize slotSize, VkBufferUsageFlags usage,
                          FrameBuffer* out) {
    out->slotSize = AlignSlot(slotSize);
    const HRESULT hr = CreateGpuBuffer(gpu, out->slotSize * kFrameCount, usage, true, &out->buffer);
    if (Succeeded(hr)) {
        std::memset(out->buffer.mapped, 0, out->buffer.size);
    }
    return hr;
}

HRESULT CreateGpuBuffer(const GpuContext& gpu, VkDeviceSize size, VkBufferUsageFlags usage,
                        bool hostVisible, GpuBuffer* out) {
    *out = {};
    auto info = VkStruct<VkBufferCreateInfo>(VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO);
    info.size = size;
    info.usage = usage;
    const std::uint32_t families[] = {gpu.queueFamily, gpu.computeFamily};
    if (gpu.queueFamily != gpu.computeFamily) {
        info.sharingMode = VK_SHARING_MODE_CONCURRENT;
        info.queueFamilyIndexCount = 2;
        info.pQueueFamilyIndices = families;
    }
    if (vkCreateBuffer(gpu.device, &info, nullptr, &out->buffer) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    VkMemoryRequirements req;
    vkGetBufferMemoryRequirements(gpu.device, out->buffer, &req);
    const VkMemoryPropertyFlags wanted =
        hostVisible ? VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT
                    : VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
    auto alloc = VkStruct<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
    alloc.allocationSize = req.size;
    if (!FindMemoryType(gpu.physical, req.memoryTypeBits, wanted, &alloc.memoryTypeIndex) ||
        vkAllocateMemory(gpu.device, &alloc, nullptr, &out->memory) != VK_SUCCESS ||
        vkBindBufferMemory(gpu.device, out->buffer, out->memory, 0) != VK_SUCCESS ||
        (hostVisible &&
         vkMapMemory(gpu.device, out->memory, 0, VK_WHOLE_SIZE, 0, &out->mapped) != VK_SUCCESS)) {
        DestroyGpuBuffer(gpu.device, out);
        return E_OUTOFMEMORY;
    }
    out->size = size;
    return S_OK;
}

void DestroyGpuBuffer(VkDevice device, GpuBuffer* buffer) {
    if (buffer->buffer != VK_NULL_HANDLE) {
        vkDestroyBuffer(device, buffer->buffer, nullptr);
    }
    if (buffer->memory != VK_NULL_HANDLE) {
        vkFreeMemory(device, buffer->memory, nullptr);  // unmaps as well
    }
    *buffer = {};
}

HRESULT UploadToBuffer(const GpuContext& gpu, const GpuBuffer& target, const void* data,
                       VkDeviceSize size) {
    GpuBuffer staging;
    HRESULT hr = CreateGpuBuffer(gpu, size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true, &staging);
    if (Failed(hr)) {
        return hr;
    }
    std::memcpy(staging.mapped, data, size);
    hr = RunOnce(gpu.device, gpu.queue, gpu.queueFamily, [&](VkCommandBuffer cmd) {
        const VkBufferCopy region{0, 0, size};
        vkCmdCopyBuffer(cmd, staging.buffer, target.buffer, 1, &region);
    });
    DestroyGpuBuffer(gpu.device, &staging);
    return hr;
}

HRESULT CreateTexture(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                      const std::uint8_t* rgba, OwnedImage* out) {
    HRESULT hr =
        CreateColorImage(gpu.physical, gpu.device, width, height, VK_FORMAT_R8G8B8A8_UNORM,
                         VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT, out);
    if (Failed(hr)) {
        return hr;
    }
    const VkDeviceSize size = VkDeviceSize{width} * height * 4;
    GpuBuffer staging;
    hr = CreateGpuBuffer(gpu, size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true, &staging);
    if (Succeeded(hr)) {
        std::memcpy(staging.mapped, rgba, size);
        hr = RunOnce(gpu.device, gpu.queue, gpu.queueFamily, [&](VkCommandBuffer cmd) {
            TransitionImage(cmd, out->image, VK_IMAGE_LAYOUT_UNDEFINED,
                            VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
            VkBufferImageCopy region{};
            region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
            region.imageExtent = {width, height, 1};
            vkCmdCopyBufferToImage(cmd, staging.buffer, out->image,
                                   VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
            TransitionImage(cmd, out->image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                            VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
        });
        DestroyGpuBuffer(gpu.device, &staging);
    }
    if (Failed(hr)) {
        DestroyColorImage(gpu.device, out);
    }
    return hr;
}

std::filesystem::path ResolveContentPath(const std::filesystem::path& folder,
                                         const std::u16string& relative) {
    std::string text = ToUtf8(relative);
    std::replace(text.begin(), text.end(), '\\', '/');
    std::filesystem::path current = folder;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            current /= part;
            continue;
        }
        std::error_code ec;
        if (std::filesystem::exists(current / part, ec)) {
            current /= part;
            continue;
        }
        std::filesystem::path match;
        for (std::filesystem::directory_iterator it(current, ec), last; !ec && it != last;
             it.increment(ec)) {
            if (SameNameIgnoringCase(it->path().filename().string(), part)) {
                match = it->path();
                break;
            }
        }
        if (match.empty()) {
            return {};
        }
        current = match;
    }
    std::error_code ec;
    return std::filesystem::is_regular_file(current, ec) ? current : std::filesystem::path{};
}

void BuildMaterials(const PmxModel& model, ModelGpu* gpu) {
    const auto textureCount = static_cast<std::uint32_t>(model.textures.size());
    auto modelTexture = [&](std::int32_t index) {
        return static_cast<std::uint32_t>(index) < textureCount ? index : -1;
    };
    gpu->materials.clear();
    gpu->materialConstants.clear();
    std::uint32_t firstIndex = 0;
    for (const PmxMaterial& m : model.materials) {
        MaterialDraw draw;
        draw.name = m.name;
        // A range past the end of the index list would read outside the
        // index buffer: it is cut to what the list holds.
        const auto available = static_cast<std::uint32_t>(
            model.indices.size() - std::min<std::size_t>(firstIndex, model.indices.size()));
        draw.indexCount = std::min(m.indexCount, available);
        draw.firstIndex = std::min<std::size_t>(firstIndex, model.indices.size());
        firstIndex = draw.firstIndex + draw.indexCount;
        draw.doubleSided = (m.drawFlags & 0x01) != 0;
        draw.cull = draw.doubleSided ? VK_CULL_MODE_NONE : VK_CULL_MODE_BACK_BIT;
        draw.castShadow = (m.drawFlags & 0x02) != 0;
        draw.drawEdge = (m.drawFlags & 0x10) != 0;
        draw.baseTexture = modelTexture(m.textureIndex);
        const bool hasSphere = m.sphereMode >= 1 && m.sphereMode <= 3;
        draw.sphereTexture = hasSphere ? modelTexture(m.sphereTextureIndex) : -1;
        draw.sharedToon = m.sharedToon != 0;
        if (draw.sharedToon) {
            // Shared toon n (0 to 9) is the ramp toon{n+1}; other numbers have none.
            draw.toonTexture =
                static_cast<std::uint32_t>(m.toonIndex) < kToonCount ? m.toonIndex : -1;
        } else {
            draw.toonTexture = modelTexture(m.toonIndex);
        }

        MaterialConstants c{};
        c.baseColor[0] = m.diffuse.x;
        c.baseColor[1] = m.diffuse.y;
        c.baseColor[2] = m.diffuse.z;
        c.baseColor[3] = m.diffuse.w;
        Copy3(m.specular, c.specularColor);
        c.specularStrength = m.specularPower;
        Copy3(m.ambient, c.ambientColor);
        c.edgeSize = m.edgeSize;
        c.edgeColor[0] = m.edgeColor.x;
        c.edgeColor[1] = m.edgeColor.y;
        c.edgeColor[2] = m.edgeColor.z;
        c.edgeColor[3] = m.edgeColor.w;
        c.receiveShadow = (m.drawFlags & 0x08) != 0 ? 1 : 0;
        c.sphereMode = draw.sphereTexture >= 0 ? m.sphereMode : 0;
        c.textureBind[0] = draw.baseTexture >= 0 ? 1 : 0;
        c.textureBind[1] = draw.sphereTexture >= 0 ? 1 : 0;
        c.textureBind[2] = draw.toonTexture >= 0 ? 1 : 0;
        gpu->materials.push_back(std::move(draw));
        gpu->materialConstants.push_back(c);
    }
}

HRESULT CreateModelGpu(const GpuContext& gpu, const PmxModel& model, const ModelInstance& instance,
                       ModelGpu* out, std::string* message) {
    ModelGpu m;
    m.vertexCount = static_cast<std::uint32_t>(model.vertices.size());
    m.indexCount = static_cast<std::uint32_t>(model.indices.size());
    m.boneCount = static_cast<std::uint32_t>(instance.bones.size());
    m.vertexMorphCount = instance.vertexMorphCount;
    m.uvMorphCount = instance.uvMorphCount;
    BuildMaterials(model, &m);

    std::vector<VsInput> vertices(model.vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const PmxVertex& v = model.vertices[i];
        VsInput& g = vertices[i];
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
    }
    // The SDEF parameters, C with a flag and the two carried points, as the
    // skinning program reads them: three float4 per vertex.
    std::vector<float> sdef(vertices.size() * 12, 0.0f);
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const SdefParams p = PrepareSdef(model.vertices[i].weight);
        float* out = sdef.data() + i * 12;
        const float values[12] = {p.c.x,   p.c.y, p.c.z,   p.sdef,  p.cr0.x, p.cr0.y,
                                  p.cr0.z, 0.0f,  p.cr1.x, p.cr1.y, p.cr1.z, 0.0f};
        std::copy(std::begin(values), std::end(values), out);
    }
    const SkinningConstants skinning{m.boneCount, m.vertexCount, m.vertexMorphCount, m.uvMorphCount,
                                     m.vertexCount};
    const VkBufferUsageFlags storage = VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;
    auto fail = [&](HRESULT hr) {
        DestroyModelGpu(gpu.device, &m);
        return hr;
    };

    // A face index past the last vertex would make the GPU read outside the
    // vertex buffer; such corners are pinned to vertex 0.
    std::vector<std::uint32_t> indices = model.indices;
    for (std::uint32_t& index : indices) {
        if (index >= m.vertexCount) {
            index = 0;
        }
    }
    HRESULT hr = CreateFilledBuffer(gpu, indices.data(), indices.size() * 4,
                                    VK_BUFFER_USAGE_INDEX_BUFFER_BIT, &m.indexBuffer);
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(gpu, indices.data(), indices.size() * 4, storage,
                                &m.rayTracingIndices);
    }
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(gpu, vertices.data(), vertices.size() * sizeof(VsInput), storage,
                                &m.rayTracingVertices);
    }
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(gpu, vertices.data(), vertices.size() * sizeof(VsInput), storage,
                                &m.skinningInput);
    }
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(
            gpu, vertices.data(), vertices.size() * sizeof(VsInput),
            storage | VK_BUFFER_USAGE_VERTEX_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
            &m.skinnedOutput);
    }
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(gpu, sdef.data(), sdef.size() * sizeof(float), storage,
                                &m.sdefParams);
    }
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(gpu, &skinning, sizeof(skinning),
                                VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, &m.skinningConstants);
    }
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(gpu, instance.vertexMorphOffsets.data(),
                                instance.vertexMorphOffsets.size() * sizeof(Float3), storage,
                                &m.vertexMorphOffsets);
    }
    if (Succeeded(hr)) {
        hr = CreateFilledBuffer(gpu, instance.uvMorphOffsets.data(),
                                instance.uvMorphOffsets.size() * sizeof(Float2), storage,
                                &m.uvMorphOffsets);
    }
    if (Succeeded(hr)) {
        hr = CreateFrameBuffer(gpu, VkDeviceSize{m.boneCount} * 64, storage, &m.boneMatrices);
    }
    if (Succeeded(hr)) {
        hr = CreateFrameBuffer(gpu, VkDeviceSize{m.vertexMorphCount} * 4, storage,
                               &m.vertexMorphWeights);
    }
    if (Succeeded(hr)) {
        hr = CreateFrameBuffer(gpu, VkDeviceSize{m.uvMorphCount} * 4, storage, &m.uvMorphWeights);
    }
    if (Succeeded(hr)) {
        hr = CreateFrameBuffer(gpu, kSceneSlotSize, VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT,
                               &m.sceneConstants);
    }
    if (Succeeded(hr)) {
        hr =
            CreateFrameBuffer(gpu, kMaterialSlotSize * std::max<std::size_t>(1, m.materials.size()),
                              VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, &m.materialBuffer);
    }
    if (Failed(hr)) {
        return fail(hr);
    }

    // Every path is checked before any image is decoded: a missing file is
    // reported as such even when an earlier one is also broken.
    std::vector<std::filesystem::path> paths;
    for (const std::u16string& texturePath : model.textures) {
        paths.push_back(ResolveContentPath(model.folder, texturePath));
        if (paths.back().empty()) {
            *message = "texture not found: " + ToUtf8(texturePath);
            return fail(2);
        }
    }
    std::vector<DecodedTexture> decoded = DecodeTextures(paths);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        if (!decoded[i].ok) {
            *message =
                "texture cannot be read: " + paths[i].string() + " (" + decoded[i].reason + ")";
            return fail(E_FAIL);
        }
    }
    for (DecodedTexture& texture : decoded) {
        OwnedImage image;
        hr = CreateTexture(gpu, texture.image.width, texture.image.height,
                           texture.image.pixels.data(), &image);
        if (Failed(hr)) {
            return fail(hr);
        }
        m.textures.push_back(image);
        texture.image = {};  // a model's images can be large: free each once uploaded
    }
    for (std::uint32_t f = 0; f < kFrameCount; ++f) {
        for (std::size_t i = 0; i < m.materialConstants.size(); ++i) {
            std::memcpy(static_cast<std::byte*>(m.materialBuffer.Slot(f)) + i * kMaterialSlotSize,
                        &m.materialConstants[i], sizeof(MaterialConstants));
        }
    }
    *out = std::move(m);
    return S_OK;
}

void DestroyModelGpu(VkDevice device, ModelGpu* gpu) {
    for (GpuBuffer* b :
         {&gpu->indexBuffer, &gpu->rayTracingIndices, &gpu->rayTracingVertices, &gpu->skinningInput,
          &gpu->sdefParams, &gpu->skinnedOutput, &gpu->skinningConstants, &gpu->vertexMorphOffsets,
          &gpu->uvMorphOffsets, &gpu->boneMatrices.buffer, &gpu->vertexMorphWeights.buffer,
          &gpu->uvMorphWeights.buffer, &gpu->sceneConstants.buffer, &gpu->materialBuffer.buffer}) {
        DestroyGpuBuffer(device, b);
    }
    for (OwnedImage& image : gpu->textures) {
        DestroyColorImage(device, &image);
    }
    gpu->textures.clear();
}

void StoreTransposed(const Matrix4& m, float out[16]) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[4 * r + c] = m.m[c][r];
        }
    }
}

MaterialConstants MorphedMaterialConstants(const MaterialConstants& base,
                                           const MaterialMorphResult& morph) {
    MaterialConstants c = base;
    const MaterialMorphValues& mul = morph.multiply;
    const MaterialMorphValues& add = morph.add;
    auto apply = [](float* values, const float* m, const float* a, int n) {
        for (int i = 0; i < n; ++i) {
            values[i] = values[i] * m[i] + a[i];
        }
    };
    apply(c.baseColor, &mul.diffuse.x, &add.diffuse.x, 4);
    apply(c.specularColor, &mul.specular.x, &add.specular.x, 3);
    apply(&c.specularStrength, &mul.specularPower, &add.specularPower, 1);
    apply(c.ambientColor, &mul.ambient.x, &add.ambient.x, 3);
    apply(c.edgeColor, &mul.edgeColor.x, &add.edgeColor.x, 4);
    apply(&c.edgeSize, &mul.edgeSize, &add.edgeSize, 1);
    return c;
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
    for (std::size_t i = 0; i < gpu.materialConstants.size(); ++i) {
        MaterialConstants c = gpu.materialConstants[i];
        if (morphed && i < instance.materialMorphs.size()) {
            c = MorphedMaterialConstants(c, instance.materialMorphs[i]);
        }
        std::memcpy(static_cast<std::byte*>(gpu.materialBuffer.Slot(frame)) + i * kMaterialSlotSize,
                    &c, sizeof(MaterialConstants));
    }
}

}  // namespace qv
