// Small Vulkan chores the render code repeats: memory types, images and their views.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <functional>
#include <span>

#include "core/presenter.h"
#include "platform/result_code.h"

namespace qv {

// A 2-D colour image with its own memory and a full view.
struct OwnedImage {
    VkImage image = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkImageView view = VK_NULL_HANDLE;
};

// The first memory type allowed by typeBits that has every wanted property.
bool FindMemoryType(VkPhysicalDevice physical, std::uint32_t typeBits, VkMemoryPropertyFlags wanted,
                    std::uint32_t* index);

// A single-level 2D image's description: optimal tiling, one queue family,
// contents undefined.
VkImageCreateInfo ImageInfo2D(std::uint32_t width, std::uint32_t height, VkFormat format,
                              VkImageUsageFlags usage,
                              VkSampleCountFlagBits samples = VK_SAMPLE_COUNT_1_BIT);
// A device-local 2-D image with its memory and a view of the given aspect
// (colour unless said otherwise: depth targets take the same path), with
// one sample per pixel unless said otherwise. An image that queues of two
// different families use in turn without hand-over names both in
// `sharedBy`; it is then shared concurrently.
HRESULT CreateColorImage(VkPhysicalDevice physical, VkDevice device, std::uint32_t width,
                         std::uint32_t height, VkFormat format, VkImageUsageFlags usage,
                         OwnedImage* out, VkImageAspectFlags aspect = VK_IMAGE_ASPECT_COLOR_BIT,
                         VkSampleCountFlagBits samples = VK_SAMPLE_COUNT_1_BIT,
                         std::span<const std::uint32_t> sharedBy = {});
// The same without the view, for a caller that makes it elsewhere.
HRESULT CreateImageWithMemory(VkPhysicalDevice physical, VkDevice device, std::uint32_t width,
                              std::uint32_t height, VkFormat format, VkImageUsageFlags usage,
                              OwnedImage* out,
                              VkSampleCountFlagBits samples = VK_SAMPLE_COUNT_1_BIT,
                              std::span<const std::uint32_t> sharedBy = {});
void DestroyColorImage(VkDevice device, OwnedImage* image);
HRESULT CreateColorView(VkDevice device, VkImage image, VkFormat format, VkImageView* view,
                        VkImageAspectFlags aspect = VK_IMAGE_ASPECT_COLOR_BIT);

// A fresh transient command pool for `queueFamily` with one primary command
// buffer, begun for one submission. The caller destroys the pool (where it
// was made) whatever the result.
HRESULT BeginOneTimeCommands(VkDevice device, std::uint32_t queueFamily, VkCommandPool* pool,
                             VkCommandBuffer* cmd);
// Ends `cmd` and submits it alone on `queue`, signalling `fence` (may be
// VK_NULL_HANDLE) when done.
VkResult EndAndSubmit(VkQueue queue, VkCommandBuffer cmd, VkFence fence);
// Records with `record` into a fresh command buffer, submits it on `queue`
// and waits until the queue is idle.
HRESULT RunOnce(VkDevice device, VkQueue queue, std::uint32_t queueFamily,
                const std::function<void(VkCommandBuffer)>& record);

// Copies a whole colour image, currently in `layout` (and left in it), into
// memory as R, G, B, A bytes.
HRESULT ReadImage(VkPhysicalDevice physical, VkDevice device, VkQueue queue,
                  std::uint32_t queueFamily, VkImage image, VkImageLayout layout, VkFormat format,
                  std::uint32_t width, std::uint32_t height, CapturedImage* out);

// Fills a back buffer with one colour; it ends in its present layout.
void ClearBackBuffer(VkCommandBuffer cmd, const BackBuffer& target,
                     const VkClearColorValue& colour);

// A shader module of SPIR-V words; VK_NULL_HANDLE for no code or when the
// device refuses it.
VkShaderModule CreateModule(VkDevice device, std::span<const std::uint32_t> code);

// A barrier on all memory between the given stages and accesses.
void MemoryBarrier(VkCommandBuffer cmd, VkPipelineStageFlags2 srcStage, VkAccessFlags2 srcAccess,
                   VkPipelineStageFlags2 dstStage, VkAccessFlags2 dstAccess);

// A layout change of a whole single-level image between the given stages
// and accesses.
void ImageBarrier(VkCommandBuffer cmd, VkImage image, VkImageLayout from, VkImageLayout to,
                  VkPipelineStageFlags2 srcStage, VkAccessFlags2 srcAccess,
                  VkPipelineStageFlags2 dstStage, VkAccessFlags2 dstAccess,
                  VkImageAspectFlags aspect = VK_IMAGE_ASPECT_COLOR_BIT);

// A full-image layout change with the widest scopes: for set-up work and
// transitions that happen once per frame at most.
void TransitionImage(VkCommandBuffer cmd, VkImage image, VkImageLayout from, VkImageLayout to,
                     VkImageAspectFlags aspect = VK_IMAGE_ASPECT_COLOR_BIT);

}  // namespace qv
