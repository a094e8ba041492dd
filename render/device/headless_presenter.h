// Frames with no window or display, for tests, screenshots and rendering to video.
#pragma once

#include <array>
#include <memory>

#include "core/presenter.h"
#include "render/device/presented_copies.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

// Presents into three offscreen R8G8B8A8 images, in order, with no window or
// display. The last presented image can be read back at any time.
//
// For frames in flight, CopyEveryPresent(true) has each present queue a copy
// of its image into memory behind the frame; ReadBackPresented then takes any
// of the last kFrameCount presents by number once that frame alone is done,
// while later frames are still drawn. Presents are numbered from 0 since the
// last Create or Resize; PresentedCount() - 1 is the last one's number.
class HeadlessPresenter final : public Presenter {
public:
    HeadlessPresenter(VkPhysicalDevice physical, VkDevice device, VkQueue queue,
                      std::uint32_t queueFamily);
    ~HeadlessPresenter() override;

    HRESULT Create(std::uint32_t width, std::uint32_t height);

    std::uint32_t CurrentBackBufferIndex() const override { return slot_; }
    HRESULT BeginFrame(BackBuffer* backBuffer) override;
    VkSemaphore AcquiredSemaphore() const override { return VK_NULL_HANDLE; }
    VkSemaphore RenderedSemaphore() const override { return VK_NULL_HANDLE; }
    HRESULT Present(bool vsync, bool allowTearing) override;
    HRESULT Resize(std::uint32_t width, std::uint32_t height) override;
    void MaxSize(std::uint32_t* width, std::uint32_t* height) const override;
    void SetCapture(bool) override {}
    HRESULT ReadBackLastPresented(CapturedImage* out) override;

    std::uint64_t PresentedCount() const { return presentedCount_; }
    // Starts (or stops) copying each present's image into memory; the caller
    // has waited for the GPU when it stops.
    HRESULT CopyEveryPresent(bool on);
    // Waits until present `number` is in memory: E_FAIL for one not copied
    // or no longer kept, kDeviceLost when the device is gone.
    HRESULT WaitForPresented(std::uint64_t number);
    HRESULT ReadBackPresented(std::uint64_t number, CapturedImage* out);

    static constexpr VkFormat kFormat = VK_FORMAT_R8G8B8A8_UNORM;
    static constexpr VkImageLayout kPresentLayout = VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL;

private:
    void DestroyImages();
    HRESULT CreateCopies();
    // The slot holding present `number`'s copy, or kFrameCount for none.
    std::uint32_t SlotOfPresent(std::uint64_t number) const;

    VkPhysicalDevice physical_;
    VkDevice device_;
    VkQueue queue_;
    std::uint32_t queueFamily_;
    std::uint32_t width_ = 0, height_ = 0;
    std::array<OwnedImage, kFrameCount> images_{};
    std::uint32_t slot_ = 0;
    std::uint32_t lastPresented_ = 0;
    std::uint64_t presentedCount_ = 0;
    std::unique_ptr<PresentedCopies> copies_;  // only while copying every present
    static constexpr std::uint64_t kNoPresent = ~std::uint64_t{0};
    std::array<std::uint64_t, kFrameCount> copiedPresent_{};  // per slot
};

}  // namespace qv
