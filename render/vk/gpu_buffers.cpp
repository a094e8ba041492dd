// Creation and release of GPU buffers and per-frame slot buffers.
#include "render/vk/gpu_buffers.h"

#include <algorithm>
#include <cstring>

#include "core/vk_struct.h"
#include "render/vk/host_memory.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

namespace {

// Storage and uniform offsets of every device we meet are multiples of this.
constexpr VkDeviceSize kSlotAlignment = 256;

VkDeviceSize AlignSlot(VkDeviceSize size) {
    return std::max<VkDeviceSize>(kSlotAlignment,
                                  (size + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment);
}

}  // namespace

GpuContext GpuContextOf(const EngineState& s, VkDevice device) {
    GpuContext gpu;
    gpu.physical = s.physicalDevice;
    gpu.device = device;
    gpu.queue = s.directQueue;
    gpu.queueFamily = s.directQueueFamily;
    gpu.computeFamily = s.computeQueueFamily;
    gpu.rayTracing = s.raytracingSupported;
    gpu.hostImportAlignment = s.hostImportAlignment;
    return gpu;
}

HRESULT CreatePerFrameBuffer(const GpuContext& gpu, VkDeviceSize slotSize, VkBufferUsageFlags usage,
                             PerFrameBuffer* out) {
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
    const bool lend = hostVisible && LendsHostMemoryToBuffers(gpu, usage);
    const VkExternalMemoryBufferCreateInfo external = LentMemoryBufferInfo();
    if (lend) {
        info.pNext = &external;
    }
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
    auto addressed =
        VkStruct<VkMemoryAllocateFlagsInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_FLAGS_INFO);
    addressed.flags = VK_MEMORY_ALLOCATE_DEVICE_ADDRESS_BIT;
    if ((usage & VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT) != 0) {
        alloc.pNext = &addressed;
    }
    const bool lent = lend && LendHostMemory(gpu, req, alloc.pNext, &out->memory, &out->hostBlock);
    if ((!lent &&
         (!FindMemoryType(gpu.physical, req.memoryTypeBits, wanted, &alloc.memoryTypeIndex) ||
          vkAllocateMemory(gpu.device, &alloc, nullptr, &out->memory) != VK_SUCCESS)) ||
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
    FreeLentMemory(device, buffer->memory, buffer->hostBlock);
    *buffer = {};
}

}  // namespace qv
