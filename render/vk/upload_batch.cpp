// Gathers staging copies into one submission that a frame can poll instead of waiting for.
#include "render/vk/upload_batch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/vk_struct.h"

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

void WriteMapped(void* mapped, const void* data, VkDeviceSize size) {
    PrefaultForWrite(mapped, size);
    if (data != nullptr) {
        std::memcpy(mapped, data, size);
    } else {
        std::memset(mapped, 0, size);
    }
}

HRESULT UploadBatch::Stage(const void* data, VkDeviceSize size, Copy* copy) {
    const HRESULT hr =
        CreateGpuBuffer(gpu_, size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true, &copy->staging);
    if (Succeeded(hr)) {
        WriteMapped(copy->staging.mapped, data, size);
    }
    return hr;
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

HRESULT UploadBatch::ReserveImage(VkImage target, std::uint32_t width, std::uint32_t height,
                                  std::uint8_t** pixels) {
    Copy copy;
    copy.image = target;
    copy.width = width;
    copy.height = height;
    const HRESULT hr = CreateGpuBuffer(gpu_, VkDeviceSize{width} * height * 4,
                                       VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true, &copy.staging);
    if (Succeeded(hr)) {
        *pixels = static_cast<std::uint8_t*>(copy.staging.mapped);
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
