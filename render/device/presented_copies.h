// Presented images copied into host memory on the GPU, queued behind the frame that drew each.
#pragma once

#include <array>
#include <cstdint>

#include "core/presenter.h"
#include "formats/captured_image.h"
#include "platform/result_code.h"

namespace qv {

// One host-visible buffer, one recorded copy and one fence per back-buffer
// slot. Submit() queues the copy of a slot's image into the slot's buffer on
// the queue that drew it, right behind the frame, and returns without
// waiting; Wait() and Read() wait for that one copy alone, so the frames
// after it stay on the GPU meanwhile.
//
// Protocol: Create once per set of images; per present Submit(slot), then
// Read(slot) before the next Submit to that slot (a Submit waits for the
// slot's previous copy, never for its reader). The frame loop's thread calls
// everything; the destructor waits for copies still on the GPU.
class PresentedCopies {
public:
    PresentedCopies(VkPhysicalDevice physical, VkDevice device, std::uint32_t queueFamily);
    ~PresentedCopies();
    PresentedCopies(const PresentedCopies&) = delete;
    PresentedCopies& operator=(const PresentedCopies&) = delete;

    // For these images of `width` x `height` R8G8B8A8 pixels, each in
    // `layout` whenever a frame is done with it (and left in it).
    HRESULT Create(const std::array<VkImage, kFrameCount>& images, VkImageLayout layout,
                   std::uint32_t width, std::uint32_t height);
    HRESULT Submit(VkQueue queue, std::uint32_t slot);
    // E_FAIL for a slot with no copy submitted; kDeviceLost when the GPU is gone.
    HRESULT Wait(std::uint32_t slot);
    HRESULT Read(std::uint32_t slot, CapturedImage* out);

private:
    struct Slot {
        VkBuffer buffer = VK_NULL_HANDLE;
        VkDeviceMemory memory = VK_NULL_HANDLE;
        const std::uint8_t* pixels = nullptr;  // mapped for the slot's whole life
        VkCommandBuffer copy = VK_NULL_HANDLE;
        VkFence fence = VK_NULL_HANDLE;
        bool submitted = false;  // the fence belongs to a copy sent to the GPU
    };

    HRESULT CreateSlot(VkImage image, VkImageLayout layout, Slot* slot);
    void Destroy();

    VkPhysicalDevice physical_;
    VkDevice device_;
    std::uint32_t queueFamily_;
    VkCommandPool pool_ = VK_NULL_HANDLE;
    std::array<Slot, kFrameCount> slots_{};
    std::uint32_t width_ = 0, height_ = 0;
};

}  // namespace qv
