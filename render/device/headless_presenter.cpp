// A ring of offscreen images standing in for a swap chain, readable after each present.
#include "render/device/headless_presenter.h"

namespace qv {

HeadlessPresenter::HeadlessPresenter(VkPhysicalDevice physical, VkDevice device, VkQueue queue,
                                     std::uint32_t queueFamily)
    : physical_(physical), device_(device), queue_(queue), queueFamily_(queueFamily) {}

HeadlessPresenter::~HeadlessPresenter() {
    copies_.reset();  // waits for copies that still read the images
    DestroyImages();
}

void HeadlessPresenter::DestroyImages() {
    for (OwnedImage& image : images_) {
        DestroyColorImage(device_, &image);
    }
}

HRESULT HeadlessPresenter::Create(std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0) {
        return E_INVALIDARG;
    }
    const bool copying = copies_ != nullptr;
    copies_.reset();
    DestroyImages();
    for (OwnedImage& image : images_) {
        const HRESULT hr =
            CreateColorImage(physical_, device_, width, height, kFormat,
                             VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT |
                                 VK_IMAGE_USAGE_TRANSFER_DST_BIT | VK_IMAGE_USAGE_SAMPLED_BIT,
                             &image);
        if (Failed(hr)) {
            DestroyImages();
            return hr;
        }
    }
    // Every image starts in the layout a presented one has, so a read-back
    // or a frame may begin on any of them.
    const HRESULT hr = RunOnce(device_, queue_, queueFamily_, [&](VkCommandBuffer cmd) {
        for (OwnedImage& image : images_) {
            TransitionImage(cmd, image.image, VK_IMAGE_LAYOUT_UNDEFINED, kPresentLayout);
        }
    });
    if (Failed(hr)) {
        DestroyImages();
        return hr;
    }
    width_ = width;
    height_ = height;
    presentedCount_ = 0;
    return copying ? CreateCopies() : S_OK;
}

HRESULT HeadlessPresenter::CreateCopies() {
    copiedPresent_.fill(kNoPresent);
    auto copies = std::make_unique<PresentedCopies>(physical_, device_, queueFamily_);
    std::array<VkImage, kFrameCount> images{};
    for (std::uint32_t i = 0; i < kFrameCount; ++i) {
        images[i] = images_[i].image;
    }
    if (const HRESULT hr = copies->Create(images, kPresentLayout, width_, height_); Failed(hr)) {
        return hr;
    }
    copies_ = std::move(copies);
    return S_OK;
}

HRESULT HeadlessPresenter::CopyEveryPresent(bool on) {
    if (!on) {
        copies_.reset();
        return S_OK;
    }
    if (copies_ != nullptr) {
        return S_OK;
    }
    return images_[0].image != VK_NULL_HANDLE ? CreateCopies() : E_FAIL;
}

HRESULT HeadlessPresenter::BeginFrame(BackBuffer* backBuffer) {
    const OwnedImage& image = images_[slot_];
    if (image.image == VK_NULL_HANDLE) {
        return E_FAIL;
    }
    *backBuffer = {image.image, image.view, kFormat, kPresentLayout, width_, height_};
    return S_OK;
}

HRESULT HeadlessPresenter::Present(bool, bool) {
    HRESULT copied = S_OK;
    if (copies_ != nullptr) {
        // Queued behind the frame's own submission, never waited for here.
        copied = copies_->Submit(queue_, slot_);
        copiedPresent_[slot_] = Succeeded(copied) ? presentedCount_ : kNoPresent;
    }
    lastPresented_ = slot_;
    ++presentedCount_;
    slot_ = (slot_ + 1) % kFrameCount;
    return copied == kDeviceLost ? kDeviceLost : S_OK;
}

HRESULT HeadlessPresenter::Resize(std::uint32_t width, std::uint32_t height) {
    return Create(width, height);
}

void HeadlessPresenter::MaxSize(std::uint32_t* width, std::uint32_t* height) const {
    VkPhysicalDeviceProperties props;
    vkGetPhysicalDeviceProperties(physical_, &props);
    *width = *height = props.limits.maxImageDimension2D;
}

HRESULT HeadlessPresenter::ReadBackLastPresented(CapturedImage* out) {
    if (presentedCount_ == 0) {
        return E_FAIL;
    }
    // The frame may still be on the GPU; RunOnce waits behind it on the same
    // queue before copying.
    return ReadImage(physical_, device_, queue_, queueFamily_, images_[lastPresented_].image,
                     kPresentLayout, kFormat, width_, height_, out);
}

std::uint32_t HeadlessPresenter::SlotOfPresent(std::uint64_t number) const {
    for (std::uint32_t i = 0; i < kFrameCount; ++i) {
        if (copies_ != nullptr && copiedPresent_[i] == number) {
            return i;
        }
    }
    return kFrameCount;
}

HRESULT HeadlessPresenter::WaitForPresented(std::uint64_t number) {
    const std::uint32_t slot = SlotOfPresent(number);
    return slot < kFrameCount ? copies_->Wait(slot) : E_FAIL;
}

HRESULT HeadlessPresenter::ReadBackPresented(std::uint64_t number, CapturedImage* out) {
    const std::uint32_t slot = SlotOfPresent(number);
    return slot < kFrameCount ? copies_->Read(slot, out) : E_FAIL;
}

}  // namespace qv
