// Gathers staging copies so that a model's upload waits for the GPU once.
#include "render/vk/upload_batch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

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

// Fresh mapped memory costs a page fault per page on first write; asking the
// kernel to populate a large range at once is several times cheaper than
// taking those faults one by one inside the copy. Where the kernel cannot, the
// copy simply faults as before.
void PrefaultForWrite(void* mapped, VkDeviceSize size) {
    constexpr VkDeviceSize kWorthIt = VkDeviceSize{1} << 20;
#ifdef MADV_POPULATE_WRITE
    if (mapped == nullptr || size < kWorthIt) {
        return;
    }
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + size) / page * page;
    if (last > first) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    }
#else
    (void)mapped;
    (void)size;
    (void)kWorthIt;
#endif
}

}  // namespace

UploadBatch::UploadBatch(const GpuContext& gpu)
    : gpu_(gpu), writesInPlace_(DeviceMemoryIsHostVisible(gpu.physical)) {}

UploadBatch::~UploadBatch() {
    Release();
}

void UploadBatch::Release() {
    for (Copy& copy : copies_) {
        DestroyGpuBuffer(gpu_.device, &copy.staging);
    }
    copies_.clear();
}

HRESULT UploadBatch::Stage(const void* data, VkDeviceSize size, Copy* copy) {
    const HRESULT hr =
        CreateGpuBuffer(gpu_, size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true, &copy->staging);
    if (Failed(hr)) {
        return hr;
    }
    PrefaultForWrite(copy->staging.mapped, size);
    if (data != nullptr) {
        std::memcpy(copy->staging.mapped, data, size);
    } else {
        std::memset(copy->staging.mapped, 0, size);
    }
    return S_OK;
}

HRESULT UploadBatch::AddBuffer(const GpuBuffer& target, const void* data, VkDeviceSize size) {
    if (size == 0) {
        return S_OK;
    }
    Copy copy;
    copy.buffer = target.buffer;
    const HRESULT hr = Stage(data, size, &copy);
    if (Succeeded(hr)) {
        copies_.push_back(copy);
    }
    return hr;
}

HRESULT UploadBatch::AddImage(VkImage target, std::uint32_t width, std::uint32_t height,
                              const std::uint8_t* rgba) {
    Copy copy;
    copy.image = target;
    copy.width = width;
    copy.height = height;
    const HRESULT hr = Stage(rgba, VkDeviceSize{width} * height * 4, &copy);
    if (Succeeded(hr)) {
        copies_.push_back(copy);
    }
    return hr;
}

HRESULT UploadBatch::Submit() {
    if (copies_.empty()) {
        return S_OK;
    }
    const HRESULT hr = RunOnce(gpu_.device, gpu_.queue, gpu_.queueFamily, [&](VkCommandBuffer cmd) {
        for (const Copy& copy : copies_) {
            if (copy.buffer != VK_NULL_HANDLE) {
                const VkBufferCopy region{0, 0, copy.staging.size};
                vkCmdCopyBuffer(cmd, copy.staging.buffer, copy.buffer, 1, &region);
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
    });
    ++waits_;
    Release();
    return hr;
}

HRESULT CreateFilledBuffer(const GpuContext& gpu, UploadBatch& batch, const void* data,
                           VkDeviceSize size, VkBufferUsageFlags usage, GpuBuffer* out) {
    const VkDeviceSize allocated = std::max<VkDeviceSize>(size, 16);
    if (batch.WritesInPlace()) {
        // Still a copy target: some buffers are rewritten on the GPU later.
        const HRESULT hr =
            CreateGpuBuffer(gpu, allocated, usage | VK_BUFFER_USAGE_TRANSFER_DST_BIT, true, out);
        if (Succeeded(hr)) {
            // Each byte is written once.
            PrefaultForWrite(out->mapped, allocated);
            const VkDeviceSize copied = data != nullptr ? size : 0;
            if (copied != 0) {
                std::memcpy(out->mapped, data, copied);
            }
            std::memset(static_cast<std::byte*>(out->mapped) + copied, 0, allocated - copied);
        }
        return hr;
    }
    HRESULT hr =
        CreateGpuBuffer(gpu, allocated, usage | VK_BUFFER_USAGE_TRANSFER_DST_BIT, false, out);
    if (Succeeded(hr)) {
        // A buffer left short of its data is zeroed in full, not left undefined.
        hr = data != nullptr && size != 0 ? batch.AddBuffer(*out, data, size)
                                          : batch.AddBuffer(*out, nullptr, allocated);
    }
    return hr;
}

HRESULT CreateTexture(const GpuContext& gpu, UploadBatch& batch, std::uint32_t width,
                      std::uint32_t height, const std::uint8_t* rgba, OwnedImage* out) {
    HRESULT hr =
        CreateColorImage(gpu.physical, gpu.device, width, height, VK_FORMAT_R8G8B8A8_UNORM,
                         VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT, out);
    if (Succeeded(hr)) {
        hr = batch.AddImage(out->image, width, height, rgba);
        if (Failed(hr)) {
            DestroyColorImage(gpu.device, out);
        }
    }
    return hr;
}

HRESULT CreateTexture(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                      const std::uint8_t* rgba, OwnedImage* out) {
    UploadBatch batch(gpu);
    HRESULT hr = CreateTexture(gpu, batch, width, height, rgba, out);
    if (Succeeded(hr)) {
        hr = batch.Submit();
        if (Failed(hr)) {
            DestroyColorImage(gpu.device, out);
        }
    }
    return hr;
}

}  // namespace qv
