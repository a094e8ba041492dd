// Presented images copied into host memory on the GPU, queued behind the frame that drew each.
#include "render/device/presented_copies.h"

#include <cstring>

#include "core/vk_struct.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

namespace {

// The pixels are read by the CPU: cached memory reads at memory speed where
// the device offers it, uncached memory can be many times slower.
bool FindReadBackMemory(VkPhysicalDevice physical, std::uint32_t typeBits, std::uint32_t* index) {
    constexpr VkMemoryPropertyFlags kVisible =
        VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
    return FindMemoryType(physical, typeBits, kVisible | VK_MEMORY_PROPERTY_HOST_CACHED_BIT,
                          index) ||
           FindMemoryType(physical, typeBits, kVisible, index);
}

HRESULT FromVk(VkResult result) {
    if (result == VK_SUCCESS) {
        return S_OK;
    }
    return result == VK_ERROR_DEVICE_LOST ? kDeviceLost : E_FAIL;
}

void RecordCopy(VkCommandBuffer cmd, VkImage image, VkImageLayout layout, VkBuffer buffer,
                std::uint32_t width, std::uint32_t height) {
    // Everything the queue ran before, the frame included, has written the
    // image; the next frame into this slot starts with a barrier on all
    // commands, so it waits for this read in turn.
    ImageBarrier(cmd, image, layout, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL,
                 VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_WRITE_BIT,
                 VK_PIPELINE_STAGE_2_COPY_BIT, VK_ACCESS_2_TRANSFER_READ_BIT);
    VkBufferImageCopy region{};
    region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.imageExtent = {width, height, 1};
    vkCmdCopyImageToBuffer(cmd, image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, buffer, 1, &region);
    if (layout != VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL) {
        ImageBarrier(cmd, image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, layout,
                     VK_PIPELINE_STAGE_2_COPY_BIT, VK_ACCESS_2_NONE,
                     VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_NONE);
    }
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_COPY_BIT, VK_ACCESS_2_TRANSFER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_HOST_BIT, VK_ACCESS_2_HOST_READ_BIT);
}

}  // namespace

PresentedCopies::PresentedCopies(VkPhysicalDevice physical, VkDevice device,
                                 std::uint32_t queueFamily)
    : physical_(physical), device_(device), queueFamily_(queueFamily) {}

PresentedCopies::~PresentedCopies() {
    Destroy();
}

void PresentedCopies::Destroy() {
    for (Slot& slot : slots_) {
        if (slot.submitted) {
            vkWaitForFences(device_, 1, &slot.fence, VK_TRUE, UINT64_MAX);
        }
        if (slot.fence != VK_NULL_HANDLE) {
            vkDestroyFence(device_, slot.fence, nullptr);
        }
        if (slot.buffer != VK_NULL_HANDLE) {
            vkDestroyBuffer(device_, slot.buffer, nullptr);
        }
        if (slot.memory != VK_NULL_HANDLE) {
            vkFreeMemory(device_, slot.memory, nullptr);  // unmaps too
        }
        slot = {};
    }
    if (pool_ != VK_NULL_HANDLE) {
        vkDestroyCommandPool(device_, pool_, nullptr);  // frees the copies
        pool_ = VK_NULL_HANDLE;
    }
}

HRESULT PresentedCopies::CreateSlot(VkImage image, VkImageLayout layout, Slot* slot) {
    auto info = VkStruct<VkBufferCreateInfo>(VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO);
    info.size = VkDeviceSize{width_} * height_ * 4;
    info.usage = VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    if (vkCreateBuffer(device_, &info, nullptr, &slot->buffer) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    VkMemoryRequirements req;
    vkGetBufferMemoryRequirements(device_, slot->buffer, &req);
    auto alloc = VkStruct<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
    alloc.allocationSize = req.size;
    void* mapped = nullptr;
    if (!FindReadBackMemory(physical_, req.memoryTypeBits, &alloc.memoryTypeIndex) ||
        vkAllocateMemory(device_, &alloc, nullptr, &slot->memory) != VK_SUCCESS ||
        vkBindBufferMemory(device_, slot->buffer, slot->memory, 0) != VK_SUCCESS ||
        vkMapMemory(device_, slot->memory, 0, VK_WHOLE_SIZE, 0, &mapped) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    slot->pixels = static_cast<const std::uint8_t*>(mapped);
    auto fenceInfo = VkStruct<VkFenceCreateInfo>(VK_STRUCTURE_TYPE_FENCE_CREATE_INFO);
    if (vkCreateFence(device_, &fenceInfo, nullptr, &slot->fence) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    auto cmdInfo =
        VkStruct<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
    cmdInfo.commandPool = pool_;
    cmdInfo.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    cmdInfo.commandBufferCount = 1;
    if (vkAllocateCommandBuffers(device_, &cmdInfo, &slot->copy) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    // Recorded once: the image and the buffer stay the same for every present.
    auto begin = VkStruct<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    vkBeginCommandBuffer(slot->copy, &begin);
    RecordCopy(slot->copy, image, layout, slot->buffer, width_, height_);
    return vkEndCommandBuffer(slot->copy) == VK_SUCCESS ? S_OK : E_OUTOFMEMORY;
}

HRESULT PresentedCopies::Create(const std::array<VkImage, kFrameCount>& images,
                                VkImageLayout layout, std::uint32_t width, std::uint32_t height) {
    Destroy();
    width_ = width;
    height_ = height;
    auto poolInfo = VkStruct<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
    poolInfo.queueFamilyIndex = queueFamily_;
    if (vkCreateCommandPool(device_, &poolInfo, nullptr, &pool_) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    for (std::uint32_t i = 0; i < kFrameCount; ++i) {
        if (const HRESULT hr = CreateSlot(images[i], layout, &slots_[i]); Failed(hr)) {
            Destroy();
            return hr;
        }
    }
    return S_OK;
}

HRESULT PresentedCopies::Submit(VkQueue queue, std::uint32_t slotIndex) {
    Slot& slot = slots_[slotIndex % kFrameCount];
    if (slot.copy == VK_NULL_HANDLE) {
        return E_FAIL;
    }
    // The slot's previous copy has normally been read and is long done.
    if (const HRESULT hr = Wait(slotIndex); Failed(hr) && hr != E_FAIL) {
        return hr;
    }
    vkResetFences(device_, 1, &slot.fence);
    slot.submitted = false;
    auto cmdInfo =
        VkStruct<VkCommandBufferSubmitInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_SUBMIT_INFO);
    cmdInfo.commandBuffer = slot.copy;
    auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
    submit.commandBufferInfoCount = 1;
    submit.pCommandBufferInfos = &cmdInfo;
    const VkResult result = vkQueueSubmit2(queue, 1, &submit, slot.fence);
    slot.submitted = result == VK_SUCCESS;
    return FromVk(result);
}

HRESULT PresentedCopies::Wait(std::uint32_t slotIndex) {
    const Slot& slot = slots_[slotIndex % kFrameCount];
    if (!slot.submitted) {
        return E_FAIL;
    }
    return FromVk(vkWaitForFences(device_, 1, &slot.fence, VK_TRUE, UINT64_MAX));
}

HRESULT PresentedCopies::Read(std::uint32_t slotIndex, CapturedImage* out) {
    if (const HRESULT hr = Wait(slotIndex); Failed(hr)) {
        return hr;
    }
    const Slot& slot = slots_[slotIndex % kFrameCount];
    out->width = width_;
    out->height = height_;
    out->rgba.resize(std::size_t{width_} * height_ * 4);
    std::memcpy(out->rgba.data(), slot.pixels, out->rgba.size());
    return S_OK;
}

}  // namespace qv
