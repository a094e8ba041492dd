// Keeps the window's swap chain: present mode, acquire and present, rebuilt on resize.
#include "render/device/swap_chain.h"
#include "core/vk_struct.h"

#include <algorithm>

#include "render/vk/vulkan_helpers.h"

namespace qv {

VkPresentModeKHR ChoosePresentMode(bool vsync, bool allowTearing,
                                   const std::vector<VkPresentModeKHR>& offered) {
    auto has = [&](VkPresentModeKHR m) {
        return std::find(offered.begin(), offered.end(), m) != offered.end();
    };
    if (vsync) {
        return VK_PRESENT_MODE_FIFO_KHR;
    }
    if (allowTearing && has(VK_PRESENT_MODE_IMMEDIATE_KHR)) {
        return VK_PRESENT_MODE_IMMEDIATE_KHR;
    }
    if (has(VK_PRESENT_MODE_MAILBOX_KHR)) {
        return VK_PRESENT_MODE_MAILBOX_KHR;
    }
    return VK_PRESENT_MODE_FIFO_KHR;
}

SwapChainPresenter::SwapChainPresenter(VkPhysicalDevice physical, VkDevice device,
                                       VkSurfaceKHR surface, VkQueue queue,
                                       std::uint32_t queueFamily, bool tearingSupported)
    : physical_(physical),
      device_(device),
      surface_(surface),
      queue_(queue),
      queueFamily_(queueFamily),
      tearingSupported_(tearingSupported) {}

SwapChainPresenter::~SwapChainPresenter() {
    ReleaseAcquire();
    vkDeviceWaitIdle(device_);
    DestroySync();
    for (VkImageView view : views_) {
        vkDestroyImageView(device_, view, nullptr);
    }
    if (swapChain_ != VK_NULL_HANDLE) {
        vkDestroySwapchainKHR(device_, swapChain_, nullptr);
    }
}

void SwapChainPresenter::DestroySync() {
    for (VkSemaphore s : rendered_) {
        vkDestroySemaphore(device_, s, nullptr);
    }
    rendered_.clear();
    for (VkSemaphore& s : acquiredSemaphores_) {
        if (s != VK_NULL_HANDLE) {
            vkDestroySemaphore(device_, s, nullptr);
        }
        s = VK_NULL_HANDLE;
    }
}

HRESULT SwapChainPresenter::Create(std::uint32_t width, std::uint32_t height, bool vsync) {
    width_ = width;
    height_ = height;
    vsync_ = vsync;
    return Recreate();
}

void SwapChainPresenter::ReleaseAcquire() {
    if (!acquired_) {
        return;
    }
    // An image acquired but never presented leaves its semaphore with a
    // signal pending; an empty submission waits on it, so the semaphore is
    // idle before it is destroyed with the old chain.
    const VkSemaphoreSubmitInfo wait = SemaphoreSubmit(acquiredSemaphores_[slot_]);
    auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
    submit.waitSemaphoreInfoCount = 1;
    submit.pWaitSemaphoreInfos = &wait;
    vkQueueSubmit2(queue_, 1, &submit, VK_NULL_HANDLE);
    acquired_ = false;
}

namespace {

// RGBA or BGRA with 8 bits each where the surface offers one, else its first.
bool ChooseSurfaceFormat(VkPhysicalDevice physical, VkSurfaceKHR surface,
                         VkSurfaceFormatKHR* chosen) {
    std::uint32_t count = 0;
    vkGetPhysicalDeviceSurfaceFormatsKHR(physical, surface, &count, nullptr);
    std::vector<VkSurfaceFormatKHR> formats(count);
    vkGetPhysicalDeviceSurfaceFormatsKHR(physical, surface, &count, formats.data());
    if (formats.empty()) {
        return false;
    }
    *chosen = formats[0];
    for (VkFormat wanted : {VK_FORMAT_R8G8B8A8_UNORM, VK_FORMAT_B8G8R8A8_UNORM}) {
        auto it = std::find_if(formats.begin(), formats.end(),
                               [&](const VkSurfaceFormatKHR& f) { return f.format == wanted; });
        if (it != formats.end()) {
            *chosen = *it;
            break;
        }
    }
    return true;
}

}  // namespace

HRESULT SwapChainPresenter::Recreate() {
    ReleaseAcquire();
    vkDeviceWaitIdle(device_);
    VkSurfaceCapabilitiesKHR caps;
    if (vkGetPhysicalDeviceSurfaceCapabilitiesKHR(physical_, surface_, &caps) != VK_SUCCESS) {
        return kDeviceLost;
    }
    VkSurfaceFormatKHR chosen{};
    if (!ChooseSurfaceFormat(physical_, surface_, &chosen)) {
        return E_FAIL;
    }
    std::uint32_t count = 0;
    vkGetPhysicalDeviceSurfacePresentModesKHR(physical_, surface_, &count, nullptr);
    std::vector<VkPresentModeKHR> modes(count);
    vkGetPhysicalDeviceSurfacePresentModesKHR(physical_, surface_, &count, modes.data());

    VkExtent2D extent = caps.currentExtent;
    if (extent.width == UINT32_MAX) {
        extent.width = std::clamp(width_, caps.minImageExtent.width, caps.maxImageExtent.width);
        extent.height = std::clamp(height_, caps.minImageExtent.height, caps.maxImageExtent.height);
    }
    if (extent.width == 0 || extent.height == 0) {
        return E_FAIL;  // minimised; tried again at the next frame
    }
    std::uint32_t imageCount = std::max(kFrameCount, caps.minImageCount);
    if (caps.maxImageCount != 0) {
        imageCount = std::min(imageCount, caps.maxImageCount);
    }
    VkImageUsageFlags usage = VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT;
    usage |= caps.supportedUsageFlags & VK_IMAGE_USAGE_TRANSFER_SRC_BIT;
    canCapture_ = (usage & VK_IMAGE_USAGE_TRANSFER_SRC_BIT) != 0;

    auto info = VkStruct<VkSwapchainCreateInfoKHR>(VK_STRUCTURE_TYPE_SWAPCHAIN_CREATE_INFO_KHR);
    info.surface = surface_;
    info.minImageCount = imageCount;
    info.imageFormat = chosen.format;
    info.imageColorSpace = chosen.colorSpace;
    info.imageExtent = extent;
    info.imageArrayLayers = 1;
    info.imageUsage = usage;
    info.imageSharingMode = VK_SHARING_MODE_EXCLUSIVE;
    info.preTransform = caps.currentTransform;
    info.compositeAlpha = (caps.supportedCompositeAlpha & VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR)
                              ? VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR
                              : static_cast<VkCompositeAlphaFlagBitsKHR>(
                                    caps.supportedCompositeAlpha & -caps.supportedCompositeAlpha);
    info.presentMode = ChoosePresentMode(vsync_, tearingSupported_, modes);
    info.clipped = VK_TRUE;
    info.oldSwapchain = swapChain_;
    VkSwapchainKHR created = VK_NULL_HANDLE;
    if (vkCreateSwapchainKHR(device_, &info, nullptr, &created) != VK_SUCCESS) {
        return E_FAIL;
    }
    for (VkImageView view : views_) {
        vkDestroyImageView(device_, view, nullptr);
    }
    views_.clear();
    if (swapChain_ != VK_NULL_HANDLE) {
        vkDestroySwapchainKHR(device_, swapChain_, nullptr);
    }
    swapChain_ = created;
    format_ = chosen.format;
    mode_ = info.presentMode;
    width_ = extent.width;
    height_ = extent.height;

    return CreateViewsAndSemaphores();
}

HRESULT SwapChainPresenter::CreateViewsAndSemaphores() {
    std::uint32_t count = 0;
    vkGetSwapchainImagesKHR(device_, swapChain_, &count, nullptr);
    images_.resize(count);
    vkGetSwapchainImagesKHR(device_, swapChain_, &count, images_.data());
    views_.assign(count, VK_NULL_HANDLE);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (Failed(CreateColorView(device_, images_[i], format_, &views_[i]))) {
            return E_FAIL;
        }
    }
    // Semaphores still signalled by an acquire of the old chain cannot be
    // reused; every one starts afresh with the new chain.
    DestroySync();
    auto semInfo = VkStruct<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO);
    rendered_.assign(count, VK_NULL_HANDLE);
    for (VkSemaphore& s : rendered_) {
        if (vkCreateSemaphore(device_, &semInfo, nullptr, &s) != VK_SUCCESS) {
            return E_OUTOFMEMORY;
        }
    }
    for (VkSemaphore& s : acquiredSemaphores_) {
        if (vkCreateSemaphore(device_, &semInfo, nullptr, &s) != VK_SUCCESS) {
            return E_OUTOFMEMORY;
        }
    }
    acquired_ = false;
    outOfDate_ = false;
    return S_OK;
}

HRESULT SwapChainPresenter::BeginFrame(BackBuffer* backBuffer) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (outOfDate_ || swapChain_ == VK_NULL_HANDLE) {
            if (const HRESULT hr = Recreate(); Failed(hr)) {
                return hr;
            }
        }
        const VkResult r =
            vkAcquireNextImageKHR(device_, swapChain_, UINT64_MAX, acquiredSemaphores_[slot_],
                                  VK_NULL_HANDLE, &imageIndex_);
        if (r == VK_ERROR_OUT_OF_DATE_KHR) {
            outOfDate_ = true;
            continue;
        }
        if (r == VK_ERROR_DEVICE_LOST || r == VK_ERROR_SURFACE_LOST_KHR) {
            return kDeviceLost;
        }
        if (r != VK_SUCCESS && r != VK_SUBOPTIMAL_KHR) {
            return E_FAIL;
        }
        outOfDate_ = r == VK_SUBOPTIMAL_KHR;
        acquired_ = true;
        *backBuffer = {images_[imageIndex_],
                       views_[imageIndex_],
                       format_,
                       VK_IMAGE_LAYOUT_PRESENT_SRC_KHR,
                       width_,
                       height_};
        return S_OK;
    }
    return E_FAIL;
}

VkSemaphore SwapChainPresenter::AcquiredSemaphore() const {
    return acquired_ ? acquiredSemaphores_[slot_] : VK_NULL_HANDLE;
}

VkSemaphore SwapChainPresenter::RenderedSemaphore() const {
    return acquired_ ? rendered_[imageIndex_] : VK_NULL_HANDLE;
}

HRESULT SwapChainPresenter::Present(bool vsync, bool) {
    HRESULT hr = S_OK;
    if (acquired_) {
        if (capture_ && canCapture_) {
            CapturedImage copy;
            if (Succeeded(ReadImage(physical_, device_, queue_, queueFamily_, images_[imageIndex_],
                                    VK_IMAGE_LAYOUT_PRESENT_SRC_KHR, format_, width_, height_,
                                    &copy))) {
                lastCapture_ = std::move(copy);
                hasCapture_ = true;
            }
        }
        auto info = VkStruct<VkPresentInfoKHR>(VK_STRUCTURE_TYPE_PRESENT_INFO_KHR);
        info.waitSemaphoreCount = 1;
        info.pWaitSemaphores = &rendered_[imageIndex_];
        info.swapchainCount = 1;
        info.pSwapchains = &swapChain_;
        info.pImageIndices = &imageIndex_;
        const VkResult r = vkQueuePresentKHR(queue_, &info);
        if (r == VK_ERROR_OUT_OF_DATE_KHR || r == VK_SUBOPTIMAL_KHR) {
            outOfDate_ = true;
        } else if (r == VK_ERROR_DEVICE_LOST || r == VK_ERROR_SURFACE_LOST_KHR) {
            hr = kDeviceLost;
        } else if (r != VK_SUCCESS) {
            hr = E_FAIL;
        }
    } else {
        hr = E_FAIL;
    }
    acquired_ = false;
    if (vsync != vsync_) {
        // The mode is part of the chain; the switch takes effect at the next
        // acquire.
        vsync_ = vsync;
        outOfDate_ = true;
    }
    slot_ = (slot_ + 1) % kFrameCount;
    return hr;
}

HRESULT SwapChainPresenter::Resize(std::uint32_t width, std::uint32_t height) {
    width_ = width;
    height_ = height;
    hasCapture_ = false;
    return Recreate();
}

void SwapChainPresenter::MaxSize(std::uint32_t* width, std::uint32_t* height) const {
    VkPhysicalDeviceProperties props;
    vkGetPhysicalDeviceProperties(physical_, &props);
    *width = *height = props.limits.maxImageDimension2D;
}

HRESULT SwapChainPresenter::ReadBackLastPresented(CapturedImage* out) {
    if (!hasCapture_) {
        return E_FAIL;
    }
    *out = lastCapture_;
    return S_OK;
}

}  // namespace qv
