// Presenting to the window, independent of how many images the driver hands out.
#pragma once

#include <array>
#include <vector>

#include "core/presenter.h"

struct SDL_Window;

namespace qv {

// Present mode for a vsync setting: FIFO with vsync; without it IMMEDIATE
// where tearing is allowed, else MAILBOX, else FIFO.
VkPresentModeKHR ChoosePresentMode(bool vsync, bool allowTearing,
                                   const std::vector<VkPresentModeKHR>& offered);

// The window's swap chain. Frames use a ring of kFrameCount slots; each slot
// acquires whichever swap chain image is free, so a driver that gives more
// images than asked for changes nothing for the frame loop.
class SwapChainPresenter final : public Presenter {
public:
    SwapChainPresenter(VkPhysicalDevice physical, VkDevice device, VkSurfaceKHR surface,
                       VkQueue queue, std::uint32_t queueFamily, bool tearingSupported);
    ~SwapChainPresenter() override;

    HRESULT Create(std::uint32_t width, std::uint32_t height, bool vsync);

    std::uint32_t CurrentBackBufferIndex() const override { return slot_; }
    HRESULT BeginFrame(BackBuffer* backBuffer) override;
    VkSemaphore AcquiredSemaphore() const override;
    VkSemaphore RenderedSemaphore() const override;
    HRESULT Present(bool vsync, bool allowTearing) override;
    HRESULT Resize(std::uint32_t width, std::uint32_t height) override;
    void MaxSize(std::uint32_t* width, std::uint32_t* height) const override;
    void SetCapture(bool on) override { capture_ = on; }
    HRESULT ReadBackLastPresented(CapturedImage* out) override;

    VkFormat Format() const { return format_; }
    VkPresentModeKHR PresentMode() const { return mode_; }
    std::size_t ImageCount() const { return images_.size(); }

private:
    HRESULT Recreate();
    // For the images of a chain just made: their views and fresh semaphores.
    HRESULT CreateViewsAndSemaphores();
    void ReleaseAcquire();
    void DestroySync();

    VkPhysicalDevice physical_;
    VkDevice device_;
    VkSurfaceKHR surface_;
    VkQueue queue_;
    std::uint32_t queueFamily_;
    bool tearingSupported_;

    VkSwapchainKHR swapChain_ = VK_NULL_HANDLE;
    VkFormat format_ = VK_FORMAT_UNDEFINED;
    VkPresentModeKHR mode_ = VK_PRESENT_MODE_FIFO_KHR;
    bool vsync_ = true;
    std::uint32_t width_ = 0, height_ = 0;
    std::vector<VkImage> images_;
    std::vector<VkImageView> views_;
    std::vector<VkSemaphore> rendered_;  // one per image
    std::array<VkSemaphore, kFrameCount> acquiredSemaphores_{};
    std::uint32_t slot_ = 0;
    std::uint32_t imageIndex_ = 0;
    bool acquired_ = false;
    bool outOfDate_ = false;
    bool capture_ = false;
    bool canCapture_ = false;
    CapturedImage lastCapture_;
    bool hasCapture_ = false;
};

}  // namespace qv
