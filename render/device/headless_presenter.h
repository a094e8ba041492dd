// Frames with no window or display, for tests, screenshots and rendering to video.
#pragma once

#include <array>

#include "core/presenter.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

// Presents into three offscreen R8G8B8A8 images, in order, with no window or
// display. The last presented image can be read back at any time.
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

    static constexpr VkFormat kFormat = VK_FORMAT_R8G8B8A8_UNORM;
    static constexpr VkImageLayout kPresentLayout = VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL;

private:
    void DestroyImages();

    VkPhysicalDevice physical_;
    VkDevice device_;
    VkQueue queue_;
    std::uint32_t queueFamily_;
    std::uint32_t width_ = 0, height_ = 0;
    std::array<OwnedImage, kFrameCount> images_{};
    std::uint32_t slot_ = 0;
    std::uint32_t lastPresented_ = 0;
    std::uint64_t presentedCount_ = 0;
};

}  // namespace qv
