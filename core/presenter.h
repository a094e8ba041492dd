// What frames present to, a window or offscreen images, behind one interface.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <vector>

#include "core/engine_context.h"
#include "formats/captured_image.h"
#include "platform/result_code.h"

namespace qv {

// A lost device or presentation surface: the one presentation failure the
// frame loop does not ignore.
inline constexpr HRESULT kDeviceLost = static_cast<HRESULT>(0x887A0005u);

// What the frame loop presents to: a window's swap chain or a set of offscreen
// images. Both hand out back buffers in a fixed ring of kFrameCount slots.
class Presenter {
public:
    virtual ~Presenter() = default;

    // The slot that the next frame draws into; after Present() it is the
    // following one.
    virtual std::uint32_t CurrentBackBufferIndex() const = 0;
    // Makes the image of the current slot ready to be drawn (a swap chain
    // acquires it here) and describes it. Called once per frame after the
    // slot's previous frame has left the GPU.
    virtual HRESULT BeginFrame(BackBuffer* backBuffer) = 0;
    // Semaphores the frame's direct submission waits on and signals; either
    // may be empty.
    virtual VkSemaphore AcquiredSemaphore() const = 0;
    virtual VkSemaphore RenderedSemaphore() const = 0;
    virtual HRESULT Present(bool vsync, bool allowTearing) = 0;
    // New image size; the caller has waited for the GPU.
    virtual HRESULT Resize(std::uint32_t width, std::uint32_t height) = 0;
    // Largest size Resize() accepts, the monitor's size for a window.
    virtual void MaxSize(std::uint32_t* width, std::uint32_t* height) const = 0;
    // Keeps a copy of every presented image from now on, for ReadBackLastPresented.
    virtual void SetCapture(bool on) = 0;
    // The most recently presented image. E_FAIL before the first present.
    virtual HRESULT ReadBackLastPresented(CapturedImage* out) = 0;
};

}  // namespace qv
