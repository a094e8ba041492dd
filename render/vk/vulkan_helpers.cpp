// Memory type choice, images with their memory and views, and their release.
#include "render/vk/vulkan_helpers.h"
#include "core/vk_struct.h"

#include <cstring>

namespace qv {

bool FindMemoryType(VkPhysicalDevice physical, std::uint32_t typeBits, VkMemoryPropertyFlags wanted,
                    std::uint32_t* index) {
    VkPhysicalDeviceMemoryProperties props;
    vkGetPhysicalDeviceMemoryProperties(physical, &props);
    for (std::uint32_t i = 0; i < props.memoryTypeCount; ++i) {
        if ((typeBits & (1u << i)) && (props.memoryTypes[i].propertyFlags & wanted) == wanted) {
            *index = i;
            return true;
        }
    }
    return false;
}

HRESULT CreateColorView(VkDevice device, VkImage image, VkFormat format, VkImageView* view,
                        VkImageAspectFlags aspect) {
    auto info = VkStruct<VkImageViewCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO);
    info.image = image;
    info.viewType = VK_IMAGE_VIEW_TYPE_2D;
    info.format = format;
    info.subresourceRange = {aspect, 0, 1, 0, 1};
    return vkCreateImageView(device, &info, nullptr, view) == VK_SUCCESS ? S_OK : E_FAIL;
}

VkImageCreateInfo ImageInfo2D(std::uint32_t width, std::uint32_t height, VkFormat format,
                              VkImageUsageFlags usage, VkSampleCountFlagBits samples) {
    auto info = VkStruct<VkImageCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO);
    info.imageType = VK_IMAGE_TYPE_2D;
    info.format = format;
    info.extent = {width, height, 1};
    info.mipLevels = 1;
    info.arrayLayers = 1;
    info.samples = samples;
    info.tiling = VK_IMAGE_TILING_OPTIMAL;
    info.usage = usage;
    info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    info.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    return info;
}

HRESULT CreateImageWithMemory(VkPhysicalDevice physical, VkDevice device, std::uint32_t width,
                              std::uint32_t height, VkFormat format, VkImageUsageFlags usage,
                              OwnedImage* out, VkSampleCountFlagBits samples,
                              std::span<const std::uint32_t> sharedBy) {
    VkImageCreateInfo info = ImageInfo2D(width, height, format, usage, samples);
    if (sharedBy.size() == 2 && sharedBy[0] != sharedBy[1]) {
        info.sharingMode = VK_SHARING_MODE_CONCURRENT;
        info.queueFamilyIndexCount = 2;
        info.pQueueFamilyIndices = sharedBy.data();
    }
    if (vkCreateImage(device, &info, nullptr, &out->image) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    VkMemoryRequirements req;
    vkGetImageMemoryRequirements(device, out->image, &req);
    auto alloc = VkStruct<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
    alloc.allocationSize = req.size;
    if (!FindMemoryType(physical, req.memoryTypeBits, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT,
                        &alloc.memoryTypeIndex) &&
        !FindMemoryType(physical, req.memoryTypeBits, 0, &alloc.memoryTypeIndex)) {
        DestroyColorImage(device, out);
        return E_FAIL;
    }
    if (vkAllocateMemory(device, &alloc, nullptr, &out->memory) != VK_SUCCESS ||
        vkBindImageMemory(device, out->image, out->memory, 0) != VK_SUCCESS) {
        DestroyColorImage(device, out);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CreateColorImage(VkPhysicalDevice physical, VkDevice device, std::uint32_t width,
                         std::uint32_t height, VkFormat format, VkImageUsageFlags usage,
                         OwnedImage* out, VkImageAspectFlags aspect, VkSampleCountFlagBits samples,
                         std::span<const std::uint32_t> sharedBy) {
    HRESULT hr = CreateImageWithMemory(physical, device, width, height, format, usage, out, samples,
                                       sharedBy);
    if (Succeeded(hr)) {
        hr = CreateColorView(device, out->image, format, &out->view, aspect);
        if (Failed(hr)) {
            DestroyColorImage(device, out);
        }
    }
    return hr;
}

void DestroyColorImage(VkDevice device, OwnedImage* image) {
    if (image->view != VK_NULL_HANDLE) {
        vkDestroyImageView(device, image->view, nullptr);
    }
    if (image->image != VK_NULL_HANDLE) {
        vkDestroyImage(device, image->image, nullptr);
    }
    if (image->memory != VK_NULL_HANDLE) {
        vkFreeMemory(device, image->memory, nullptr);
    }
    *image = {};
}

HRESULT BeginOneTimeCommands(VkDevice device, std::uint32_t queueFamily, VkCommandPool* pool,
                             VkCommandBuffer* cmd) {
    auto poolInfo = VkStruct<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
    poolInfo.flags = VK_COMMAND_POOL_CREATE_TRANSIENT_BIT;
    poolInfo.queueFamilyIndex = queueFamily;
    if (vkCreateCommandPool(device, &poolInfo, nullptr, pool) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    auto alloc =
        VkStruct<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
    alloc.commandPool = *pool;
    alloc.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    alloc.commandBufferCount = 1;
    if (vkAllocateCommandBuffers(device, &alloc, cmd) != VK_SUCCESS) {
        return E_FAIL;
    }
    auto begin = VkStruct<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    vkBeginCommandBuffer(*cmd, &begin);
    return S_OK;
}

VkResult EndAndSubmit(VkQueue queue, VkCommandBuffer cmd, VkFence fence) {
    vkEndCommandBuffer(cmd);
    auto cmdInfo =
        VkStruct<VkCommandBufferSubmitInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_SUBMIT_INFO);
    cmdInfo.commandBuffer = cmd;
    auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
    submit.commandBufferInfoCount = 1;
    submit.pCommandBufferInfos = &cmdInfo;
    return vkQueueSubmit2(queue, 1, &submit, fence);
}

HRESULT RunOnce(VkDevice device, VkQueue queue, std::uint32_t queueFamily,
                const std::function<void(VkCommandBuffer)>& record) {
    VkCommandPool pool = VK_NULL_HANDLE;
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    HRESULT hr = BeginOneTimeCommands(device, queueFamily, &pool, &cmd);
    if (Succeeded(hr)) {
        record(cmd);
        hr = EndAndSubmit(queue, cmd, VK_NULL_HANDLE) == VK_SUCCESS &&
                     vkQueueWaitIdle(queue) == VK_SUCCESS
                 ? S_OK
                 : E_FAIL;
    }
    if (pool != VK_NULL_HANDLE) {
        vkDestroyCommandPool(device, pool, nullptr);
    }
    return hr;
}

VkShaderModule CreateModule(VkDevice device, std::span<const std::uint32_t> code) {
    if (code.empty()) {
        return VK_NULL_HANDLE;
    }
    auto info = VkStruct<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
    info.codeSize = code.size_bytes();
    info.pCode = code.data();
    VkShaderModule module = VK_NULL_HANDLE;
    if (vkCreateShaderModule(device, &info, nullptr, &module) != VK_SUCCESS) {
        return VK_NULL_HANDLE;
    }
    return module;
}

void MemoryBarrier(VkCommandBuffer cmd, VkPipelineStageFlags2 srcStage, VkAccessFlags2 srcAccess,
                   VkPipelineStageFlags2 dstStage, VkAccessFlags2 dstAccess) {
    auto barrier = VkStruct<VkMemoryBarrier2>(VK_STRUCTURE_TYPE_MEMORY_BARRIER_2);
    barrier.srcStageMask = srcStage;
    barrier.srcAccessMask = srcAccess;
    barrier.dstStageMask = dstStage;
    barrier.dstAccessMask = dstAccess;
    auto dep = VkStruct<VkDependencyInfo>(VK_STRUCTURE_TYPE_DEPENDENCY_INFO);
    dep.memoryBarrierCount = 1;
    dep.pMemoryBarriers = &barrier;
    vkCmdPipelineBarrier2(cmd, &dep);
}

void ImageBarrier(VkCommandBuffer cmd, VkImage image, VkImageLayout from, VkImageLayout to,
                  VkPipelineStageFlags2 srcStage, VkAccessFlags2 srcAccess,
                  VkPipelineStageFlags2 dstStage, VkAccessFlags2 dstAccess,
                  VkImageAspectFlags aspect) {
    auto barrier = VkStruct<VkImageMemoryBarrier2>(VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER_2);
    barrier.srcStageMask = srcStage;
    barrier.srcAccessMask = srcAccess;
    barrier.dstStageMask = dstStage;
    barrier.dstAccessMask = dstAccess;
    barrier.oldLayout = from;
    barrier.newLayout = to;
    barrier.srcQueueFamilyIndex = barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.image = image;
    barrier.subresourceRange = {aspect, 0, 1, 0, 1};
    auto dep = VkStruct<VkDependencyInfo>(VK_STRUCTURE_TYPE_DEPENDENCY_INFO);
    dep.imageMemoryBarrierCount = 1;
    dep.pImageMemoryBarriers = &barrier;
    vkCmdPipelineBarrier2(cmd, &dep);
}

void TransitionImage(VkCommandBuffer cmd, VkImage image, VkImageLayout from, VkImageLayout to,
                     VkImageAspectFlags aspect) {
    ImageBarrier(cmd, image, from, to, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT,
                 VK_ACCESS_2_MEMORY_WRITE_BIT, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT,
                 VK_ACCESS_2_MEMORY_READ_BIT | VK_ACCESS_2_MEMORY_WRITE_BIT, aspect);
}

HRESULT ReadImage(VkPhysicalDevice physical, VkDevice device, VkQueue queue,
                  std::uint32_t queueFamily, VkImage image, VkImageLayout layout, VkFormat format,
                  std::uint32_t width, std::uint32_t height, CapturedImage* out) {
    const bool bgra = format == VK_FORMAT_B8G8R8A8_UNORM || format == VK_FORMAT_B8G8R8A8_SRGB;
    const bool rgba = format == VK_FORMAT_R8G8B8A8_UNORM || format == VK_FORMAT_R8G8B8A8_SRGB;
    if (!bgra && !rgba) {
        return E_INVALIDARG;
    }
    const VkDeviceSize size = VkDeviceSize{width} * height * 4;
    auto info = VkStruct<VkBufferCreateInfo>(VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO);
    info.size = size;
    info.usage = VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    VkBuffer buffer = VK_NULL_HANDLE;
    if (vkCreateBuffer(device, &info, nullptr, &buffer) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    VkMemoryRequirements req;
    vkGetBufferMemoryRequirements(device, buffer, &req);
    auto alloc = VkStruct<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
    alloc.allocationSize = req.size;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    HRESULT hr = E_FAIL;
    if (FindMemoryType(physical, req.memoryTypeBits,
                       VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT,
                       &alloc.memoryTypeIndex) &&
        vkAllocateMemory(device, &alloc, nullptr, &memory) == VK_SUCCESS &&
        vkBindBufferMemory(device, buffer, memory, 0) == VK_SUCCESS) {
        hr = RunOnce(device, queue, queueFamily, [&](VkCommandBuffer cmd) {
            TransitionImage(cmd, image, layout, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
            VkBufferImageCopy region{};
            region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
            region.imageExtent = {width, height, 1};
            vkCmdCopyImageToBuffer(cmd, image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, buffer, 1,
                                   &region);
            TransitionImage(cmd, image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, layout);
        });
        void* mapped = nullptr;
        if (Succeeded(hr) && vkMapMemory(device, memory, 0, size, 0, &mapped) == VK_SUCCESS) {
            out->width = width;
            out->height = height;
            out->rgba.resize(static_cast<std::size_t>(size));
            std::memcpy(out->rgba.data(), mapped, out->rgba.size());
            vkUnmapMemory(device, memory);
            if (bgra) {
                for (std::size_t i = 0; i + 3 < out->rgba.size(); i += 4) {
                    std::swap(out->rgba[i], out->rgba[i + 2]);
                }
            }
        } else if (Succeeded(hr)) {
            hr = E_FAIL;
        }
    }
    if (memory != VK_NULL_HANDLE) {
        vkFreeMemory(device, memory, nullptr);
    }
    vkDestroyBuffer(device, buffer, nullptr);
    return hr;
}

void ClearBackBuffer(VkCommandBuffer cmd, const BackBuffer& target,
                     const VkClearColorValue& colour) {
    TransitionImage(cmd, target.image, VK_IMAGE_LAYOUT_UNDEFINED,
                    VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    const VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(cmd, target.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &colour, 1,
                         &range);
    TransitionImage(cmd, target.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, target.presentLayout);
}

}  // namespace qv
