// Brings up the Vulkan instance, device, queues and presenter, and reports why it could not.
#include "render/device/graphics_device.h"
#include "core/vk_struct.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/app_window.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "render/device/headless_presenter.h"
#include "render/device/swap_chain.h"
#include "render/device/vulkan_device.h"

namespace qv {

namespace {

constexpr const char* kValidationLayer = "VK_LAYER_KHRONOS_validation";

std::atomic<std::uint32_t> g_validationMessages{0};

VKAPI_ATTR VkBool32 VKAPI_CALL OnValidationMessage(VkDebugUtilsMessageSeverityFlagBitsEXT,
                                                   VkDebugUtilsMessageTypeFlagsEXT type,
                                                   const VkDebugUtilsMessengerCallbackDataEXT* data,
                                                   void*) {
    // Every raster program shares one vertex layout and one vertex-to-pixel
    // signature, so that any user program fits any pipeline; the layer's
    // note that a program leaves part of them unread is expected, not a fault.
    if ((type & VK_DEBUG_UTILS_MESSAGE_TYPE_PERFORMANCE_BIT_EXT) != 0 && data != nullptr &&
        data->pMessageIdName != nullptr &&
        std::strstr(data->pMessageIdName, "Shader-OutputNotConsumed") != nullptr) {
        return VK_FALSE;
    }
    g_validationMessages.fetch_add(1);
    std::fprintf(stderr, "Vulkan validation: %s\n", data && data->pMessage ? data->pMessage : "");
    return VK_FALSE;
}

VkDebugUtilsMessengerCreateInfoEXT MessengerInfo() {
    auto info = VkStruct<VkDebugUtilsMessengerCreateInfoEXT>(
        VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT);
    info.messageSeverity = VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT |
                           VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT;
    info.messageType = VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT |
                       VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT |
                       VK_DEBUG_UTILS_MESSAGE_TYPE_PERFORMANCE_BIT_EXT;
    info.pfnUserCallback = OnValidationMessage;
    return info;
}

bool LayerAvailable(const char* name) {
    std::uint32_t count = 0;
    vkEnumerateInstanceLayerProperties(&count, nullptr);
    std::vector<VkLayerProperties> layers(count);
    vkEnumerateInstanceLayerProperties(&count, layers.data());
    for (const VkLayerProperties& layer : layers) {
        if (std::strcmp(layer.layerName, name) == 0) {
            return true;
        }
    }
    return false;
}

Result Fail(HRESULT hr, std::string why) {
    return Result::Failure(hr, std::move(why));
}

}  // namespace

bool ValidationRequestedByEnvironment() {
    const char* value = std::getenv("QV_VALIDATION");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

std::uint32_t ValidationMessageCount() {
    return g_validationMessages.load();
}

namespace {

// Copies the handles made so far into the engine state, where readers find them.
void Publish(EngineContext& ctx, const DeviceHandles& h) {
    ctx.Locked([&](EngineState& s) {
        s.vkInstance = h.instance;
        s.debugMessenger = h.messenger;
        s.surface = h.surface;
        s.physicalDevice = h.physicalDevice;
        s.device = h.device;
        s.directQueue = h.directQueue;
        s.computeQueue = h.computeQueue;
        s.directQueueFamily = h.directFamily;
        s.computeQueueFamily = h.computeFamily;
        s.directQueueFence = h.directFence;
        s.computeQueueFence = h.computeFence;
    });
}

// The instance, with the window's surface extensions and, on request, the
// validation layer reporting into our counter from the first call on; then
// the window's surface.
Result CreateInstance(EngineContext& ctx, const GraphicsDeviceOptions& options, DeviceHandles& h) {
    const bool windowed = options.target == PresentTarget::Window;
    std::vector<const char*> extensions;
    if (windowed && Failed(WindowInstanceExtensions(ctx, &extensions))) {
        return Fail(E_FAIL, "the window offers no Vulkan surface");
    }
    std::vector<const char*> layers;
    VkDebugUtilsMessengerCreateInfoEXT messengerInfo = MessengerInfo();
    if (options.validation) {
        if (!LayerAvailable(kValidationLayer)) {
            return Fail(E_FAIL, "the Vulkan validation layer is not installed");
        }
        layers.push_back(kValidationLayer);
        extensions.push_back(VK_EXT_DEBUG_UTILS_EXTENSION_NAME);
    }
    auto app = VkStruct<VkApplicationInfo>(VK_STRUCTURE_TYPE_APPLICATION_INFO);
    app.pApplicationName = kAppTitle;
    app.pEngineName = "QV";
    app.apiVersion = VK_API_VERSION_1_3;
    auto instanceInfo = VkStruct<VkInstanceCreateInfo>(VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO);
    instanceInfo.pNext = options.validation ? &messengerInfo : nullptr;
    instanceInfo.pApplicationInfo = &app;
    instanceInfo.enabledLayerCount = static_cast<std::uint32_t>(layers.size());
    instanceInfo.ppEnabledLayerNames = layers.data();
    instanceInfo.enabledExtensionCount = static_cast<std::uint32_t>(extensions.size());
    instanceInfo.ppEnabledExtensionNames = extensions.data();
    if (vkCreateInstance(&instanceInfo, nullptr, &h.instance) != VK_SUCCESS) {
        return Fail(E_FAIL, "no usable Vulkan device (Vulkan 1.3 is not available)");
    }
    if (options.validation) {
        auto create = reinterpret_cast<PFN_vkCreateDebugUtilsMessengerEXT>(
            vkGetInstanceProcAddr(h.instance, "vkCreateDebugUtilsMessengerEXT"));
        if (create == nullptr ||
            create(h.instance, &messengerInfo, nullptr, &h.messenger) != VK_SUCCESS) {
            return Fail(E_FAIL, "the Vulkan validation layer cannot report");
        }
    }
    if (windowed && Failed(CreateWindowSurface(ctx, h.instance, &h.surface))) {
        return Fail(E_FAIL, "the window's Vulkan surface cannot be created");
    }
    return {};
}

Result ChoosePhysicalDevice(const DeviceHandles& h, PhysicalInfo* pick) {
    std::uint32_t count = 0;
    vkEnumeratePhysicalDevices(h.instance, &count, nullptr);
    std::vector<VkPhysicalDevice> devices(count);
    vkEnumeratePhysicalDevices(h.instance, &count, devices.data());
    std::vector<PhysicalInfo> infos;
    std::vector<AdapterCandidate> candidates;
    for (VkPhysicalDevice d : devices) {
        infos.push_back(InspectPhysicalDevice(d, h.surface));
        candidates.push_back({infos.back().props.deviceType, infos.back().usable});
    }
    const int chosen = ChooseAdapter(candidates);
    if (chosen < 0) {
        return Fail(E_FAIL, "no usable Vulkan device (Vulkan 1.3 with timeline semaphores)");
    }
    *pick = infos[static_cast<std::size_t>(chosen)];
    return {};
}

// The device with its two queues. Ray tracing's features are switched on only
// where all of them exist.
Result CreateLogicalDevice(const PhysicalInfo& pick, bool windowed, DeviceHandles& h) {
    const float priorities[2] = {1.0f, 1.0f};
    std::vector<VkDeviceQueueCreateInfo> queueInfos;
    auto queueInfo = VkStruct<VkDeviceQueueCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO);
    queueInfo.queueFamilyIndex = pick.directFamily;
    queueInfo.queueCount = pick.computeFamily == pick.directFamily ? pick.computeQueueIndex + 1 : 1;
    queueInfo.pQueuePriorities = priorities;
    queueInfos.push_back(queueInfo);
    if (pick.computeFamily != pick.directFamily) {
        queueInfo.queueFamilyIndex = pick.computeFamily;
        queueInfo.queueCount = 1;
        queueInfos.push_back(queueInfo);
    }
    auto f13 = VkStruct<VkPhysicalDeviceVulkan13Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES);
    f13.synchronization2 = VK_TRUE;
    f13.dynamicRendering = VK_TRUE;
    auto f12 = VkStruct<VkPhysicalDeviceVulkan12Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES);
    f12.timelineSemaphore = VK_TRUE;
    f12.pNext = &f13;
    std::vector<const char*> deviceExtensions{VK_KHR_PUSH_DESCRIPTOR_EXTENSION_NAME};
    auto rtPipeline = VkStruct<VkPhysicalDeviceRayTracingPipelineFeaturesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_PIPELINE_FEATURES_KHR);
    auto rtStructure = VkStruct<VkPhysicalDeviceAccelerationStructureFeaturesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_FEATURES_KHR);
    if (pick.raytracing) {
        rtPipeline.rayTracingPipeline = VK_TRUE;
        rtStructure.accelerationStructure = VK_TRUE;
        rtStructure.pNext = &rtPipeline;
        f13.pNext = &rtStructure;
        f12.bufferDeviceAddress = VK_TRUE;
        f12.runtimeDescriptorArray = VK_TRUE;
        f12.descriptorBindingVariableDescriptorCount = VK_TRUE;
        f12.shaderSampledImageArrayNonUniformIndexing = VK_TRUE;
        deviceExtensions.push_back(VK_KHR_RAY_TRACING_PIPELINE_EXTENSION_NAME);
        deviceExtensions.push_back(VK_KHR_ACCELERATION_STRUCTURE_EXTENSION_NAME);
        deviceExtensions.push_back(VK_KHR_DEFERRED_HOST_OPERATIONS_EXTENSION_NAME);
    }
    if (windowed) {
        deviceExtensions.push_back(VK_KHR_SWAPCHAIN_EXTENSION_NAME);
    }
    if (pick.hostImportAlignment != 0) {
        deviceExtensions.push_back(VK_EXT_EXTERNAL_MEMORY_HOST_EXTENSION_NAME);
    }
    auto deviceInfo = VkStruct<VkDeviceCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO);
    deviceInfo.pNext = &f12;
    deviceInfo.queueCreateInfoCount = static_cast<std::uint32_t>(queueInfos.size());
    deviceInfo.pQueueCreateInfos = queueInfos.data();
    deviceInfo.enabledExtensionCount = static_cast<std::uint32_t>(deviceExtensions.size());
    deviceInfo.ppEnabledExtensionNames = deviceExtensions.data();
    if (vkCreateDevice(pick.device, &deviceInfo, nullptr, &h.device) != VK_SUCCESS) {
        return Fail(E_FAIL,
                    std::string("the Vulkan device cannot be created on ") + pick.props.deviceName);
    }
    h.physicalDevice = pick.device;
    h.directFamily = pick.directFamily;
    h.computeFamily = pick.computeFamily;
    vkGetDeviceQueue(h.device, pick.directFamily, 0, &h.directQueue);
    vkGetDeviceQueue(h.device, pick.computeFamily, pick.computeQueueIndex, &h.computeQueue);
    return {};
}

// The two fences: timeline semaphores counting from 0.
Result CreateFences(DeviceHandles& h) {
    auto timeline =
        VkStruct<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
    timeline.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
    timeline.initialValue = 0;
    auto semInfo = VkStruct<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO);
    semInfo.pNext = &timeline;
    if (vkCreateSemaphore(h.device, &semInfo, nullptr, &h.directFence) != VK_SUCCESS) {
        return Fail(E_OUTOFMEMORY, "the direct-queue fence cannot be created");
    }
    if (vkCreateSemaphore(h.device, &semInfo, nullptr, &h.computeFence) != VK_SUCCESS) {
        return Fail(E_OUTOFMEMORY, "the compute-queue fence cannot be created");
    }
    return {};
}

bool TearingOffered(VkPhysicalDevice physical, VkSurfaceKHR surface) {
    std::uint32_t n = 0;
    vkGetPhysicalDeviceSurfacePresentModesKHR(physical, surface, &n, nullptr);
    std::vector<VkPresentModeKHR> modes(n);
    vkGetPhysicalDeviceSurfacePresentModesKHR(physical, surface, &n, modes.data());
    return std::find(modes.begin(), modes.end(), VK_PRESENT_MODE_IMMEDIATE_KHR) != modes.end();
}

// The window's swap chain or the offscreen images, with the first back
// buffer acquired, stored in the context with the frame's first fence values.
Result CreatePresenter(EngineContext& ctx, const DeviceHandles& h, const PhysicalInfo& pick) {
    const std::uint32_t width = ctx.GetWidth();
    const std::uint32_t height = ctx.GetHeight();
    bool tearing = false;
    std::unique_ptr<Presenter> presenter;
    if (h.surface != VK_NULL_HANDLE) {
        tearing = TearingOffered(h.physicalDevice, h.surface);
        auto chain = std::make_unique<SwapChainPresenter>(h.physicalDevice, h.device, h.surface,
                                                          h.directQueue, h.directFamily, tearing);
        if (const HRESULT hr = chain->Create(width, height, ctx.GetVsync()); Failed(hr)) {
            return Fail(hr, "the swap chain cannot be created");
        }
        presenter = std::move(chain);
    } else {
        auto headless = std::make_unique<HeadlessPresenter>(h.physicalDevice, h.device,
                                                            h.directQueue, h.directFamily);
        if (const HRESULT hr = headless->Create(width, height); Failed(hr)) {
            return Fail(hr, "the offscreen back buffers cannot be created");
        }
        presenter = std::move(headless);
    }
    const std::uint32_t frameIndex = presenter->CurrentBackBufferIndex() % kFrameCount;
    BackBuffer backBuffer;
    if (const HRESULT hr = presenter->BeginFrame(&backBuffer); Failed(hr)) {
        return Fail(hr, "the first back buffer cannot be acquired");
    }
    ctx.Locked([&](EngineState& s) {
        s.presenter = std::move(presenter);
        s.frameIndex = frameIndex;
        s.backBuffers = {};
        s.backBuffers[frameIndex] = backBuffer;
        s.directQueueFenceValues = {};
        s.computeQueueFenceValues = {};
        s.directQueueFenceValues[frameIndex] = 1;
        s.computeQueueFenceValues[frameIndex] = 1;
        s.deviceCreated = true;
        s.adapterDescription = pick.props.deviceName;
        s.raytracingSupported = pick.raytracing;
        s.hostImportAlignment = pick.hostImportAlignment;
        s.tearingSupported = tearing;
    });
    return {};
}

// Everything up to the presenter, in order, each step published as it is made.
Result CreateDeviceObjects(EngineContext& ctx, const GraphicsDeviceOptions& options,
                           VulkanDevice& device) {
    DeviceHandles& h = device.handles;
    Result result = CreateInstance(ctx, options, h);
    PhysicalInfo pick;
    if (result.ok()) {
        result = ChoosePhysicalDevice(h, &pick);
    }
    if (result.ok()) {
        result = CreateLogicalDevice(pick, options.target == PresentTarget::Window, h);
    }
    if (result.ok()) {
        result = CreateFences(h);
    }
    Publish(ctx, h);
    if (result.ok()) {
        result = CreatePresenter(ctx, h, pick);
    }
    return result;
}

}  // namespace

Result CreateGraphicsDevice(EngineContext& ctx, const GraphicsDeviceOptions& options) {
    const bool exists = ctx.Locked([](EngineState& s) { return s.graphicsDevice != nullptr; });
    if (exists || ctx.GetDevice() != VK_NULL_HANDLE) {
        return Fail(E_INVALIDARG, "the graphics device exists already");
    }
    if (options.target == PresentTarget::Window && !ctx.GetWindowCreated()) {
        return Fail(E_INVALIDARG, "no window to present to");
    }
    if (ctx.GetWidth() == 0 || ctx.GetHeight() == 0) {
        return Fail(E_INVALIDARG, "no back-buffer size");
    }
    // Held by the engine from here on, so that whatever a failing step
    // leaves made is released by the engine's teardown.
    auto owned = std::make_unique<VulkanDevice>(ctx);
    VulkanDevice& device = *owned;
    ctx.Locked([&](EngineState& s) { s.graphicsDevice = std::move(owned); });

    if (Result made = CreateDeviceObjects(ctx, options, device); !made.ok()) {
        return made;
    }
    if (const HRESULT hr = device.CreateStagePools(); Failed(hr)) {
        return Fail(hr, "the stages' command lists cannot be created");
    }
    DeviceCreatedCallback created = ctx.Locked([](EngineState& s) { return s.onDeviceCreated; });
    if (created) {
        if (const HRESULT hr = created(ctx, device.handles.device); Failed(hr)) {
            return Fail(hr, "the renderer cannot be set up");
        }
    }
    if (const HRESULT hr = StartStageThreads(ctx); Failed(hr)) {
        return Fail(hr, "the stage threads cannot be started");
    }
    return {};
}

HRESULT ResizeSwapChain(EngineContext& ctx, std::uint32_t width, std::uint32_t height) {
    Presenter* presenter = ctx.GetPresenter();
    if (ctx.GetDevice() == VK_NULL_HANDLE || presenter == nullptr ||
        ctx.GetCurrentBackBuffer().image == VK_NULL_HANDLE) {
        return E_FAIL;
    }
    std::uint32_t maxWidth = 0, maxHeight = 0;
    if (ctx.GetWindow() != nullptr) {
        WindowRect monitor;
        if (const HRESULT hr = GetOutputRect(ctx, &monitor); Failed(hr)) {
            return hr;
        }
        maxWidth = static_cast<std::uint32_t>(monitor.right - monitor.left);
        maxHeight = static_cast<std::uint32_t>(monitor.bottom - monitor.top);
    } else {
        presenter->MaxSize(&maxWidth, &maxHeight);
    }
    // A zero size has no image to draw into; it is refused like an oversized one.
    if (width == 0 || height == 0 || width > maxWidth || height > maxHeight) {
        return E_INVALIDARG;
    }
    ResizeAppWindow(ctx, width, height);

    for (std::uint32_t i = 0; i < kFrameCount; ++i) {
        ctx.SetBackBuffer(i, {});
    }
    if (const HRESULT hr = presenter->Resize(width, height); Failed(hr)) {
        return hr;
    }
    const std::uint32_t frameIndex = presenter->CurrentBackBufferIndex() % kFrameCount;
    BackBuffer backBuffer;
    const HRESULT hr = presenter->BeginFrame(&backBuffer);
    ctx.Locked([&](EngineState& s) {
        s.width = width;
        s.height = height;
        s.frameIndex = frameIndex;
        s.backBuffers[frameIndex] = backBuffer;
        s.directQueueFenceValues.fill(s.directQueueFenceValues[frameIndex]);
        s.computeQueueFenceValues.fill(s.computeQueueFenceValues[frameIndex]);
    });
    return hr;
}

}  // namespace qv
