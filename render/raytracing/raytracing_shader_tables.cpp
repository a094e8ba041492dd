// The shader tables and the texture array the hit programs read.
#include <algorithm>
#include <cstring>

#include "core/vk_struct.h"
#include "render/model/model_resources.h"
#include "render/raytracing/raytracing_renderer.h"

namespace qv {

HRESULT RaytracingRenderer::BuildTextureSet(const std::vector<const ModelGpu*>& models,
                                            VkImageView white,
                                            const std::array<OwnedImage, kToonCount>& toons,
                                            TextureSlots* slots) {
    // Texture slots: white first (what a missing texture reads), the shared
    // toons, then every model's own images; past the array's capacity an
    // image reads as white.
    const VkImageLayout read = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
    std::vector<VkDescriptorImageInfo> images{{warp_, white, read}};
    for (const OwnedImage& toon : toons) {
        images.push_back({clamp_, toon.view != VK_NULL_HANDLE ? toon.view : white, read});
    }
    slots->firstOfModel.assign(models.size(), 0);
    for (std::size_t m = 0; m < models.size(); ++m) {
        slots->firstOfModel[m] = static_cast<std::uint32_t>(images.size());
        for (const OwnedImage& texture : models[m]->textures) {
            if (images.size() < textureCapacity_) {
                images.push_back(
                    {warp_, texture.view != VK_NULL_HANDLE ? texture.view : white, read});
            }
        }
    }
    images.resize(std::min<std::size_t>(images.size(), textureCapacity_));
    const auto slotCount = static_cast<std::uint32_t>(images.size());
    slots->count = slotCount;
    const VkDescriptorPoolSize poolSize{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, slotCount};
    auto poolInfo =
        VkStruct<VkDescriptorPoolCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO);
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = 1;
    poolInfo.pPoolSizes = &poolSize;
    if (vkCreateDescriptorPool(gpu_.device, &poolInfo, nullptr, &texturePool_) != VK_SUCCESS) {
        texturePool_ = VK_NULL_HANDLE;
        return E_OUTOFMEMORY;
    }
    auto variable = VkStruct<VkDescriptorSetVariableDescriptorCountAllocateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_VARIABLE_DESCRIPTOR_COUNT_ALLOCATE_INFO);
    variable.descriptorSetCount = 1;
    variable.pDescriptorCounts = &slotCount;
    auto allocInfo =
        VkStruct<VkDescriptorSetAllocateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO);
    allocInfo.pNext = &variable;
    allocInfo.descriptorPool = texturePool_;
    allocInfo.descriptorSetCount = 1;
    allocInfo.pSetLayouts = &textureLayout_;
    if (vkAllocateDescriptorSets(gpu_.device, &allocInfo, &textureSet_) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    auto write = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
    write.dstSet = textureSet_;
    write.descriptorCount = slotCount;
    write.descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
    write.pImageInfo = images.data();
    vkUpdateDescriptorSets(gpu_.device, 1, &write, 0, nullptr);
    return S_OK;
}

HRESULT RaytracingRenderer::CreateTable(VkDeviceSize size, GpuBuffer* buffer, std::byte** start,
                                        VkDeviceAddress* address) {
    // The tables start where the device wants a table to start.
    const VkDeviceSize base = std::max<VkDeviceSize>(1, props_.shaderGroupBaseAlignment);
    const HRESULT hr = CreateAddressedBuffer(
        size + base, VK_BUFFER_USAGE_SHADER_BINDING_TABLE_BIT_KHR, true, buffer);
    if (Succeeded(hr)) {
        const VkDeviceAddress raw = Address(buffer->buffer);
        *address = AlignUp(raw, base);
        *start = static_cast<std::byte*>(buffer->mapped) + (*address - raw);
    }
    return hr;
}

HitArguments RaytracingRenderer::HitArgumentsOf(const ModelGpu& model, const RaytracingGeometry& g,
                                                std::uint32_t f, const TextureSlots& slots) const {
    const MaterialDraw& draw = model.materials[g.material];
    auto slot = [&](std::int32_t index, bool shared) -> std::uint64_t {
        if (index < 0) {
            return 0;
        }
        const std::uint64_t s = shared ? 1 + static_cast<std::uint64_t>(index)
                                       : slots.firstOfModel[g.model] + std::uint64_t(index);
        return s < slots.count ? s : 0;
    };
    HitArguments args;
    args.cullMode = g.doubleSided ? 1 : 0;
    args.firstIndex = g.firstIndex;
    args.materialIndex = g.material;
    args.vertexCount = model.vertexCount;
    args.maxDepth = recursionDepth_;
    args.castShadow = draw.castShadow ? 1 : 0;
    args.material = Address(model.materialBuffer.buffer.buffer) + model.materialBuffer.Offset(f) +
                    g.material * kMaterialSlotSize;
    args.indices = Address(model.rayTracingIndices.buffer);
    args.vertices = Address(model.rayTracingVertices.buffer);
    args.textures[0] = slot(draw.baseTexture, false);
    args.textures[1] = slot(draw.sphereTexture, false);
    args.textures[2] = slot(draw.toonTexture, draw.sharedToon);
    return args;
}

HRESULT RaytracingRenderer::BuildShaderTables(const std::vector<const ModelGpu*>& models,
                                              const GeometryPlan& plan, VkImageView white,
                                              const std::array<OwnedImage, kToonCount>& toons) {
    TextureSlots slots;
    HRESULT hr = BuildTextureSet(models, white, toons, &slots);
    if (Failed(hr)) {
        return hr;
    }
    const VkDeviceSize base = std::max<VkDeviceSize>(1, props_.shaderGroupBaseAlignment);
    const std::byte* id = handles_.data();
    std::byte* start = nullptr;
    VkDeviceAddress address = 0;
    const VkDeviceSize raygenStride = AlignUp(kShaderIdentifierSize, base);
    hr = CreateTable(raygenStride, &raygenTable_, &start, &address);
    if (Failed(hr)) {
        return hr;
    }
    std::memcpy(start, id, kShaderIdentifierSize);
    raygenRegion_ = {address, raygenStride, raygenStride};
    hr = CreateTable(2 * kMissRecordStride, &missTable_, &start, &address);
    if (Failed(hr)) {
        return hr;
    }
    std::memcpy(start, id + kShaderIdentifierSize, kShaderIdentifierSize);
    std::memcpy(start + kMissRecordStride, id + 2 * kShaderIdentifierSize, kShaderIdentifierSize);
    missRegion_ = {address, kMissRecordStride, 2 * kMissRecordStride};

    // Without geometry the table still holds one pair, with empty arguments.
    const std::size_t pairs = std::max<std::size_t>(1, plan.geometries.size());
    hitRecordCount_ = 2 * pairs;
    for (std::uint32_t f = 0; f < kFrameCount; ++f) {
        hr = CreateTable(hitRecordCount_ * kHitRecordStride, &hitTables_[f], &start, &address);
        if (Failed(hr)) {
            return hr;
        }
        hitRegions_[f] = {address, kHitRecordStride, hitRecordCount_ * kHitRecordStride};
        for (std::size_t i = 0; i < pairs; ++i) {
            HitArguments args;
            if (i < plan.geometries.size()) {
                const RaytracingGeometry& g = plan.geometries[i];
                args = HitArgumentsOf(*models[g.model], g, f, slots);
            }
            WriteHitRecords(start + i * 2 * kHitRecordStride, id + 3 * kShaderIdentifierSize,
                            id + 4 * kShaderIdentifierSize, args);
        }
    }
    return S_OK;
}

}  // namespace qv
