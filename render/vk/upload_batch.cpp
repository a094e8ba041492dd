// Gathers staging copies into one submission that a frame can poll instead of waiting for.
#include "render/vk/upload_batch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "core/vk_struct.h"
#include "platform/memory_advice.h"

namespace qv {

namespace {

bool DeviceMemoryIsHostVisible(VkPhysicalDevice physical) {
    if (physical == VK_NULL_HANDLE) {
        return false;
    }
    VkPhysicalDeviceMemoryProperties memory;
    vkGetPhysicalDeviceMemoryProperties(physical, &memory);
    bool anyDeviceLocal = false;
    for (std::uint32_t i = 0; i < memory.memoryTypeCount; ++i) {
        const VkMemoryPropertyFlags flags = memory.memoryTypes[i].propertyFlags;
        if ((flags & VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT) != 0) {
            anyDeviceLocal = true;
            if ((flags & VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT) == 0) {
                return false;
            }
        }
    }
    return anyDeviceLocal;
}

constexpr VkFormat kTextureFormat = VK_FORMAT_R8G8B8A8_UNORM;
// Both kinds of texture can be read back.
constexpr VkImageUsageFlags kTextureUsage =
    VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT;

// Textures are sampled with linear filtering, and can be read back.
bool SamplesLinearTextures(VkPhysicalDevice physical) {
    if (physical == VK_NULL_HANDLE) {
        return false;
    }
    VkFormatProperties properties;
    vkGetPhysicalDeviceFormatProperties(physical, kTextureFormat, &properties);
    const VkFormatFeatureFlags needed = VK_FORMAT_FEATURE_SAMPLED_IMAGE_BIT |
                                        VK_FORMAT_FEATURE_SAMPLED_IMAGE_FILTER_LINEAR_BIT |
                                        VK_FORMAT_FEATURE_TRANSFER_SRC_BIT;
    return (properties.linearTilingFeatures & needed) == needed;
}

// A texture laid out in rows, in host-visible memory that stays mapped, and
// where its pixels start there; nothing where the device does not offer
// this one, or would pad its rows.
std::optional<HRESULT> CreateLinearTexture(const GpuContext& gpu, std::uint32_t width,
                                           std::uint32_t height, OwnedImage* out,
                                           std::uint8_t** pixels) {
    VkImageFormatProperties limits;
    if (vkGetPhysicalDeviceImageFormatProperties(gpu.physical, kTextureFormat, VK_IMAGE_TYPE_2D,
                                                 VK_IMAGE_TILING_LINEAR, kTextureUsage, 0,
                                                 &limits) != VK_SUCCESS ||
        width > limits.maxExtent.width || height > limits.maxExtent.height) {
        return std::nullopt;
    }
    VkImageCreateInfo info = ImageInfo2D(width, height, kTextureFormat, kTextureUsage);
    info.tiling = VK_IMAGE_TILING_LINEAR;
    info.initialLayout = VK_IMAGE_LAYOUT_PREINITIALIZED;
    if (vkCreateImage(gpu.device, &info, nullptr, &out->image) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    const VkImageSubresource whole{VK_IMAGE_ASPECT_COLOR_BIT, 0, 0};
    VkSubresourceLayout layout;
    vkGetImageSubresourceLayout(gpu.device, out->image, &whole, &layout);
    if (layout.rowPitch != VkDeviceSize{width} * 4) {
        DestroyColorImage(gpu.device, out);
        return std::nullopt;
    }
    VkMemoryRequirements req;
    vkGetImageMemoryRequirements(gpu.device, out->image, &req);
    auto alloc = VkStruct<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
    alloc.allocationSize = req.size;
    void* mapped = nullptr;
    if (!FindMemoryType(gpu.physical, req.memoryTypeBits,
                        VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT,
                        &alloc.memoryTypeIndex) ||
        vkAllocateMemory(gpu.device, &alloc, nullptr, &out->memory) != VK_SUCCESS ||
        vkBindImageMemory(gpu.device, out->image, out->memory, 0) != VK_SUCCESS ||
        vkMapMemory(gpu.device, out->memory, 0, VK_WHOLE_SIZE, 0, &mapped) != VK_SUCCESS) {
        DestroyColorImage(gpu.device, out);
        return E_OUTOFMEMORY;
    }
    *pixels = static_cast<std::uint8_t*>(mapped) + layout.offset;
    return S_OK;
}

}  // namespace

UploadBatch::UploadBatch(const GpuContext& gpu)
    : gpu_(gpu),
      writesInPlace_(DeviceMemoryIsHostVisible(gpu.physical)),
      writesTexturesInPlace_(writesInPlace_ && SamplesLinearTextures(gpu.physical)) {}

UploadBatch::~UploadBatch() {
    Finish();
    Release(gpu_.device, copies_);
}

void UploadBatch::Release(VkDevice device, std::vector<Copy>& copies) {
    for (Copy& copy : copies) {
        DestroyGpuBuffer(device, &copy.staging);
    }
    copies.clear();
}

void UploadBatch::ReleaseSent() {
    Release(gpu_.device, sent_);
    if (fence_ != VK_NULL_HANDLE) {
        vkDestroyFence(gpu_.device, fence_, nullptr);
        fence_ = VK_NULL_HANDLE;
    }
    if (pool_ != VK_NULL_HANDLE) {
        vkDestroyCommandPool(gpu_.device, pool_, nullptr);
        pool_ = VK_NULL_HANDLE;
    }
}

void WriteMapped(void* mapped, VkDeviceSize room, const void* data, VkDeviceSize size) {
    PrefaultForWriting(mapped, room);
    const VkDeviceSize given = data != nullptr ? std::min(size, room) : 0;
    if (given != 0) {
        std::memcpy(mapped, data, given);
    }
    std::memset(static_cast<std::byte*>(mapped) + given, 0, room - given);
}

HRESULT UploadBatch::Reserve(VkDeviceSize size, Copy copy, std::uint8_t** bytes) {
    const HRESULT hr =
        CreateGpuBuffer(gpu_, size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true, &copy.staging);
    if (Succeeded(hr)) {
        *bytes = static_cast<std::uint8_t*>(copy.staging.mapped);
        copies_.push_back(copy);
    }
    return hr;
}

HRESULT UploadBatch::ReserveBuffer(const GpuBuffer& target, VkDeviceSize size,
                                   std::uint8_t** bytes) {
    Copy copy;
    copy.buffer = target.buffer;
    return Reserve(size, copy, bytes);
}

HRESULT UploadBatch::ReserveImage(VkImage target, std::uint32_t width, std::uint32_t height,
                                  std::uint8_t** pixels) {
    Copy copy;
    copy.image = target;
    copy.width = width;
    copy.height = height;
    return Reserve(VkDeviceSize{width} * height * 4, copy, pixels);
}

void UploadBatch::AddWrittenImage(VkImage target) {
    Copy copy;
    copy.image = target;
    copies_.push_back(copy);
}

HRESULT UploadBatch::BeginSubmission(VkCommandBuffer* cmd) {
    if (const HRESULT hr = BeginOneTimeCommands(gpu_.device, gpu_.queueFamily, &pool_, cmd);
        Failed(hr)) {
        return hr;
    }
    const auto fenceInfo = VkStruct<VkFenceCreateInfo>(VK_STRUCTURE_TYPE_FENCE_CREATE_INFO);
    return vkCreateFence(gpu_.device, &fenceInfo, nullptr, &fence_) == VK_SUCCESS ? S_OK
                                                                                  : E_OUTOFMEMORY;
}

HRESULT UploadBatch::Send() {
    if (copies_.empty()) {
        return S_OK;
    }
    Finish();
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    if (const HRESULT hr = BeginSubmission(&cmd); Failed(hr)) {
        ReleaseSent();
        return hr;
    }
    for (const Copy& copy : copies_) {
        if (copy.buffer != VK_NULL_HANDLE) {
            const VkBufferCopy region{0, 0, copy.staging.size};
            vkCmdCopyBuffer(cmd, copy.staging.buffer, copy.buffer, 1, &region);
            continue;
        }
        if (copy.staging.buffer == VK_NULL_HANDLE) {
            TransitionImage(cmd, copy.image, VK_IMAGE_LAYOUT_PREINITIALIZED,
                            VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
            continue;
        }
        TransitionImage(cmd, copy.image, VK_IMAGE_LAYOUT_UNDEFINED,
                        VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
        VkBufferImageCopy region{};
        region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        region.imageExtent = {copy.width, copy.height, 1};
        vkCmdCopyBufferToImage(cmd, copy.staging.buffer, copy.image,
                               VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
        TransitionImage(cmd, copy.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                        VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
    }
    sent_ = std::move(copies_);
    copies_.clear();
    if (EndAndSubmit(gpu_.queue, cmd, fence_) != VK_SUCCESS) {
        // Nothing went to the GPU: the fence would never signal.
        copies_ = std::move(sent_);
        ReleaseSent();
        return E_FAIL;
    }
    return S_OK;
}

bool UploadBatch::Poll() {
    if (fence_ == VK_NULL_HANDLE) {
        return true;
    }
    if (vkGetFenceStatus(gpu_.device, fence_) == VK_NOT_READY) {
        return false;
    }
    ReleaseSent();
    return true;
}

void UploadBatch::Finish() {
    if (fence_ == VK_NULL_HANDLE) {
        return;
    }
    vkWaitForFences(gpu_.device, 1, &fence_, VK_TRUE, UINT64_MAX);
    ++waits_;
    ReleaseSent();
}

HRESULT UploadBatch::Submit() {
    const HRESULT hr = Send();
    Finish();
    return hr;
}

HRESULT CreateBufferToFill(const GpuContext& gpu, UploadBatch& batch, VkDeviceSize size,
                           VkBufferUsageFlags usage, GpuBuffer* out, std::uint8_t** bytes,
                           VkDeviceSize* room) {
    const VkDeviceSize allocated = std::max<VkDeviceSize>(size, 16);
    *room = allocated;
    // Still a copy target where written in place: some buffers are rewritten
    // on the GPU later.
    usage |= VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    if (batch.WritesInPlace()) {
        const HRESULT hr = CreateGpuBuffer(gpu, allocated, usage, true, out);
        if (Succeeded(hr)) {
            *bytes = static_cast<std::uint8_t*>(out->mapped);
        }
        return hr;
    }
    HRESULT hr = CreateGpuBuffer(gpu, allocated, usage, false, out);
    if (Succeeded(hr)) {
        hr = batch.ReserveBuffer(*out, allocated, bytes);
    }
    return hr;
}

HRESULT CreateFilledBuffer(const GpuContext& gpu, UploadBatch& batch, const void* data,
                           VkDeviceSize size, VkBufferUsageFlags usage, GpuBuffer* out) {
    std::uint8_t* bytes = nullptr;
    VkDeviceSize room = 0;
    const HRESULT hr = CreateBufferToFill(gpu, batch, size, usage, out, &bytes, &room);
    if (Succeeded(hr)) {
        WriteMapped(bytes, room, data, size);
    }
    return hr;
}

HRESULT CreateTextureToFill(const GpuContext& gpu, UploadBatch& batch, std::uint32_t width,
                            std::uint32_t height, OwnedImage* out, std::uint8_t** pixels) {
    if (batch.WritesTexturesInPlace()) {
        if (const std::optional<HRESULT> hr =
                CreateLinearTexture(gpu, width, height, out, pixels)) {
            if (Succeeded(*hr)) {
                batch.AddWrittenImage(out->image);
            }
            return *hr;
        }
    }
    HRESULT hr = CreateImageWithMemory(gpu.physical, gpu.device, width, height, kTextureFormat,
                                       kTextureUsage | VK_IMAGE_USAGE_TRANSFER_DST_BIT, out);
    if (Succeeded(hr)) {
        hr = batch.ReserveImage(out->image, width, height, pixels);
        if (Failed(hr)) {
            DestroyColorImage(gpu.device, out);
        }
    }
    return hr;
}

HRESULT CreateTexture(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                      const std::uint8_t* rgba, OwnedImage* out) {
    UploadBatch batch(gpu);
    std::uint8_t* pixels = nullptr;
    HRESULT hr = CreateTextureToFill(gpu, batch, width, height, out, &pixels);
    if (Failed(hr)) {
        return hr;
    }
    const VkDeviceSize size = VkDeviceSize{width} * height * 4;
    WriteMapped(pixels, size, rgba, size);
    hr = batch.Submit();
    if (Succeeded(hr)) {
        hr = CreateColorView(gpu.device, out->image, kTextureFormat, &out->view);
    }
    if (Failed(hr)) {
        DestroyColorImage(gpu.device, out);
    }
    return hr;
}

}  // namespace qv
