// GPU buffers: device-local ones filled by uploads, and mapped per-frame slots.
#pragma once

#include <vulkan/vulkan.h>

#include <cstddef>
#include <cstdint>

#include "core/engine_context.h"
#include "platform/result_code.h"

namespace qv {

// What creating GPU objects needs of the device.
struct GpuContext {
    VkPhysicalDevice physical = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    VkQueue queue = VK_NULL_HANDLE;  // the direct queue, for uploads
    std::uint32_t queueFamily = 0;
    // Buffers written by the compute queue and read by the direct queue are
    // shared between the two families when they differ.
    std::uint32_t computeFamily = 0;
    // Ray tracing is enabled on the device: the buffers it reads by address
    // are made with device addresses.
    bool rayTracing = false;
    // Nonzero where the device draws on the CPU and takes memory the
    // program allocates itself: the alignment that memory needs
    // (host_memory.h).
    VkDeviceSize hostImportAlignment = 0;
};

// What the engine published of its device, with `device` as the device.
GpuContext GpuContextOf(const EngineState& s, VkDevice device);

struct GpuBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkDeviceSize size = 0;
    void* mapped = nullptr;     // host-visible buffers stay mapped for life
    void* hostBlock = nullptr;  // the program's own memory behind `memory`, where lent
};

// A buffer of kFrameCount equal slots, one per frame in flight, written by the
// CPU while the GPU reads the other slots.
struct PerFrameBuffer {
    GpuBuffer buffer;
    VkDeviceSize slotSize = 0;
    VkDeviceSize Offset(std::uint32_t frame) const { return slotSize * frame; }
    void* Slot(std::uint32_t frame) const {
        return static_cast<std::byte*>(buffer.mapped) + Offset(frame);
    }
};

HRESULT CreateGpuBuffer(const GpuContext& gpu, VkDeviceSize size, VkBufferUsageFlags usage,
                        bool hostVisible, GpuBuffer* out);
void DestroyGpuBuffer(VkDevice device, GpuBuffer* buffer);
// A mapped buffer of kFrameCount zeroed slots of at least `slotSize` bytes,
// each slot aligned for storage and uniform offsets.
HRESULT CreatePerFrameBuffer(const GpuContext& gpu, VkDeviceSize slotSize, VkBufferUsageFlags usage,
                             PerFrameBuffer* out);

}  // namespace qv
