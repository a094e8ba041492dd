// Choosing and creating the GPU device the engine runs on, window or headless.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <span>
#include <string>

#include "core/engine_context.h"
#include "platform/result.h"
#include "platform/result_code.h"
#include "render/device/adapter_choice.h"

namespace qv {

enum class PresentTarget { Window, Headless };

struct GraphicsDeviceOptions {
    PresentTarget target = PresentTarget::Window;
    // Loads the validation layer and counts each message it reports.
    bool validation = false;
};

// True when QV_VALIDATION is set to anything but "0" or empty.
bool ValidationRequestedByEnvironment();
// Validation messages (warnings and errors) reported since start.
std::uint32_t ValidationMessageCount();

// Creates the instance, device, queues, fences and presenter, stores them in
// the context, calls onDeviceCreated and starts the stage threads. A window
// target needs the window (E_INVALIDARG without it); a headless one needs a
// width and height in the context. E_FAIL when no usable device exists.
Result CreateGraphicsDevice(EngineContext& ctx, const GraphicsDeviceOptions& options);

// New back-buffer size. The caller has waited for the GPU. E_FAIL without a
// device or presenter, E_INVALIDARG for a size larger than the monitor (or,
// headless, than the largest image).
HRESULT ResizeSwapChain(EngineContext& ctx, std::uint32_t width, std::uint32_t height);

}  // namespace qv
