// Device memory for a device that draws on the CPU, taken from blocks the program allocates itself.
#pragma once

#include <vulkan/vulkan.h>

#include "render/vk/gpu_buffers.h"

namespace qv {

// A device that draws on the CPU hands out its memory as shared-memory
// files, which the system never backs with huge pages: on a virtual machine
// faulting in a new model's buffers then costs more than writing them.
// Memory the program allocates itself and lends to the device can have huge
// pages, and is then filled several times faster. Images are left out: one
// made for such memory starts with undefined contents, so that pixels
// written in place before its first layout change would not count.
//
// Whether `gpu` lends memory of its own to buffers with `usage`.
bool LendsHostMemoryToBuffers(const GpuContext& gpu, VkBufferUsageFlags usage);

// The external-memory description a buffer must be created with for
// LendHostMemory to back it.
VkExternalMemoryBufferCreateInfo LentMemoryBufferInfo();

// Host-visible, coherent memory of at least req.size bytes on a block of the
// program's own, preferring huge pages; `next` is chained into the
// allocation. false, with nothing allocated, where the device refuses it:
// the caller then allocates as usual. The block outlives the memory:
// release both with FreeLentMemory.
bool LendHostMemory(const GpuContext& gpu, const VkMemoryRequirements& req, const void* next,
                    VkDeviceMemory* memory, void** block);
// Frees the device memory (which unmaps it), then the block behind it, if any.
void FreeLentMemory(VkDevice device, VkDeviceMemory memory, void* block);

}  // namespace qv
