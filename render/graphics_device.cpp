// Brings up the Vulkan instance, device, queues and presenter, and reports why it could not.
#include "render/graphics_device.h"
#include "core/vk_struct.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/app_window.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "render/headless_presenter.h"
#include "render/raytracing/raytracing_renderer.h"
#include "render/swap_chain.h"

namespace qv {

namespace {

constexpr const char* kValidationLayer = "VK_LAYER_KHRONOS_validation";

std::atomic<std::uint32_t> g_validationMessages{0};
std::string g_deviceError;

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

bool HasDeviceExtension(const std::vector<VkExtensionProperties>& all, const char* name) {
    for (const VkExtensionProperties& e : all) {
        if (std::strcmp(e.extensionName, name) == 0) {
            return true;
        }
    }
    return false;
}

// Both ray-tracing extensions with what they depend on, and the features the
// ray-traced frame uses.
RaytracingSupport RaytracingSupportOf(VkPhysicalDevice device,
                                      const std::vector<VkExtensionProperties>& extensions) {
    RaytracingSupport support;
    support.extensions =
        HasDeviceExtension(extensions, VK_KHR_RAY_TRACING_PIPELINE_EXTENSION_NAME) &&
        HasDeviceExtension(extensions, VK_KHR_ACCELERATION_STRUCTURE_EXTENSION_NAME) &&
        HasDeviceExtension(extensions, VK_KHR_DEFERRED_HOST_OPERATIONS_EXTENSION_NAME);
    if (!support.extensions) {
        return support;
    }
    auto pipeline = VkStruct<VkPhysicalDeviceRayTracingPipelineFeaturesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_PIPELINE_FEATURES_KHR);
    auto structure = VkStruct<VkPhysicalDeviceAccelerationStructureFeaturesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_FEATURES_KHR);
    structure.pNext = &pipeline;
    auto f12 = VkStruct<VkPhysicalDeviceVulkan12Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES);
    f12.pNext = &structure;
    auto features =
        VkStruct<VkPhysicalDeviceFeatures2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2);
    features.pNext = &f12;
    vkGetPhysicalDeviceFeatures2(device, &features);
    support.accelerationStructure = structure.accelerationStructure == VK_TRUE;
    support.rayTracingPipeline = pipeline.rayTracingPipeline == VK_TRUE;
    support.bufferDeviceAddress = f12.bufferDeviceAddress == VK_TRUE;
    support.runtimeDescriptorArray = f12.runtimeDescriptorArray == VK_TRUE;
    support.variableDescriptorCount = f12.descriptorBindingVariableDescriptorCount == VK_TRUE;
    support.nonUniformSampledImages = f12.shaderSampledImageArrayNonUniformIndexing == VK_TRUE;
    return support;
}

struct PhysicalInfo {
    VkPhysicalDevice device = VK_NULL_HANDLE;
    VkPhysicalDeviceProperties props{};
    std::uint32_t directFamily = 0;
    std::uint32_t computeFamily = 0;
    std::uint32_t computeQueueIndex = 0;
    bool raytracing = false;
    bool usable = false;
};

PhysicalInfo Inspect(VkPhysicalDevice device, VkSurfaceKHR surface) {
    PhysicalInfo info;
    info.device = device;
    vkGetPhysicalDeviceProperties(device, &info.props);
    if (info.props.apiVersion < VK_API_VERSION_1_3) {
        return info;
    }
    auto f13 = VkStruct<VkPhysicalDeviceVulkan13Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES);
    auto f12 = VkStruct<VkPhysicalDeviceVulkan12Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES);
    f12.pNext = &f13;
    auto features =
        VkStruct<VkPhysicalDeviceFeatures2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2);
    features.pNext = &f12;
    vkGetPhysicalDeviceFeatures2(device, &features);
    if (!f12.timelineSemaphore || !f13.synchronization2 || !f13.dynamicRendering) {
        return info;
    }

    std::uint32_t count = 0;
    vkEnumerateDeviceExtensionProperties(device, nullptr, &count, nullptr);
    std::vector<VkExtensionProperties> extensions(count);
    vkEnumerateDeviceExtensionProperties(device, nullptr, &count, extensions.data());
    if (surface != VK_NULL_HANDLE &&
        !HasDeviceExtension(extensions, VK_KHR_SWAPCHAIN_EXTENSION_NAME)) {
        return info;
    }
    // The scene passes bind every table by pushing it.
    if (!HasDeviceExtension(extensions, VK_KHR_PUSH_DESCRIPTOR_EXTENSION_NAME)) {
        return info;
    }
    info.raytracing = RaytracingSupportOf(device, extensions).Complete();

    vkGetPhysicalDeviceQueueFamilyProperties(device, &count, nullptr);
    std::vector<VkQueueFamilyProperties> families(count);
    vkGetPhysicalDeviceQueueFamilyProperties(device, &count, families.data());
    bool haveDirect = false;
    for (std::uint32_t i = 0; i < count && !haveDirect; ++i) {
        if (!(families[i].queueFlags & VK_QUEUE_GRAPHICS_BIT)) {
            continue;
        }
        VkBool32 present = VK_TRUE;
        if (surface != VK_NULL_HANDLE) {
            vkGetPhysicalDeviceSurfaceSupportKHR(device, i, surface, &present);
        }
        if (present) {
            info.directFamily = i;
            haveDirect = true;
        }
    }
    if (!haveDirect) {
        return info;
    }
    // A compute queue of its own where the device has one; else a second
    // queue of the direct family; else the direct queue itself.
    info.computeFamily = info.directFamily;
    info.computeQueueIndex = families[info.directFamily].queueCount > 1 ? 1 : 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if ((families[i].queueFlags & VK_QUEUE_COMPUTE_BIT) &&
            !(families[i].queueFlags & VK_QUEUE_GRAPHICS_BIT)) {
            info.computeFamily = i;
            info.computeQueueIndex = 0;
            break;
        }
    }
    info.usable = true;
    return info;
}

HRESULT Fail(HRESULT hr, const std::string& why) {
    g_deviceError = why;
    return hr;
}

}  // namespace

bool ValidationRequestedByEnvironment() {
    const char* value = std::getenv("QV_VALIDATION");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

std::uint32_t ValidationMessageCount() {
    return g_validationMessages.load();
}

std::string GraphicsDeviceError() {
    return g_deviceError;
}

int ChooseAdapter(std::span<const AdapterCandidate> candidates) {
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].usable && candidates[i].type != VK_PHYSICAL_DEVICE_TYPE_CPU) {
            return static_cast<int>(i);
        }
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].usable) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

HRESULT CreateGraphicsDevice(EngineContext& ctx, const GraphicsDeviceOptions& options) {
    g_deviceError.clear();
    const bool windowed = options.target == PresentTarget::Window;
    if (ctx.GetDevice() != VK_NULL_HANDLE) {
        return Fail(E_INVALIDARG, "the graphics device exists already");
    }
    if (windowed && !ctx.GetWindowCreated()) {
        return Fail(E_INVALIDARG, "no window to present to");
    }
    const std::uint32_t width = ctx.GetWidth();
    const std::uint32_t height = ctx.GetHeight();
    if (width == 0 || height == 0) {
        return Fail(E_INVALIDARG, "no back-buffer size");
    }

    // Instance, with the window's surface extensions and, on request, the
    // validation layer reporting into our counter from the first call on.
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
    VkInstance instance = VK_NULL_HANDLE;
    if (vkCreateInstance(&instanceInfo, nullptr, &instance) != VK_SUCCESS) {
        return Fail(E_FAIL, "no usable Vulkan device (Vulkan 1.3 is not available)");
    }
    ctx.Locked([&](EngineState& s) { s.vkInstance = instance; });
    if (options.validation) {
        auto create = reinterpret_cast<PFN_vkCreateDebugUtilsMessengerEXT>(
            vkGetInstanceProcAddr(instance, "vkCreateDebugUtilsMessengerEXT"));
        VkDebugUtilsMessengerEXT messenger = VK_NULL_HANDLE;
        if (create == nullptr ||
            create(instance, &messengerInfo, nullptr, &messenger) != VK_SUCCESS) {
            return Fail(E_FAIL, "the Vulkan validation layer cannot report");
        }
        ctx.Locked([&](EngineState& s) { s.debugMessenger = messenger; });
    }
    VkSurfaceKHR surface = VK_NULL_HANDLE;
    if (windowed) {
        if (Failed(CreateWindowSurface(ctx, instance, &surface))) {
            return Fail(E_FAIL, "the window's Vulkan surface cannot be created");
        }
        ctx.Locked([&](EngineState& s) { s.surface = surface; });
    }

    // Adapter choice.
    std::uint32_t count = 0;
    vkEnumeratePhysicalDevices(instance, &count, nullptr);
    std::vector<VkPhysicalDevice> devices(count);
    vkEnumeratePhysicalDevices(instance, &count, devices.data());
    std::vector<PhysicalInfo> infos;
    std::vector<AdapterCandidate> candidates;
    for (VkPhysicalDevice d : devices) {
        infos.push_back(Inspect(d, surface));
        candidates.push_back({infos.back().props.deviceType, infos.back().usable});
    }
    const int chosen = ChooseAdapter(candidates);
    if (chosen < 0) {
        return Fail(E_FAIL, "no usable Vulkan device (Vulkan 1.3 with timeline semaphores)");
    }
    const PhysicalInfo& pick = infos[static_cast<std::size_t>(chosen)];

    // Device and its two queues.
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
    // Ray tracing's features are switched on only where all of them exist.
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
    auto deviceInfo = VkStruct<VkDeviceCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO);
    deviceInfo.pNext = &f12;
    deviceInfo.queueCreateInfoCount = static_cast<std::uint32_t>(queueInfos.size());
    deviceInfo.pQueueCreateInfos = queueInfos.data();
    deviceInfo.enabledExtensionCount = static_cast<std::uint32_t>(deviceExtensions.size());
    deviceInfo.ppEnabledExtensionNames = deviceExtensions.data();
    VkDevice device = VK_NULL_HANDLE;
    if (vkCreateDevice(pick.device, &deviceInfo, nullptr, &device) != VK_SUCCESS) {
        return Fail(E_FAIL,
                    std::string("the Vulkan device cannot be created on ") + pick.props.deviceName);
    }
    VkQueue directQueue = VK_NULL_HANDLE, computeQueue = VK_NULL_HANDLE;
    vkGetDeviceQueue(device, pick.directFamily, 0, &directQueue);
    vkGetDeviceQueue(device, pick.computeFamily, pick.computeQueueIndex, &computeQueue);
    ctx.Locked([&](EngineState& s) {
        s.physicalDevice = pick.device;
        s.device = device;
        s.directQueue = directQueue;
        s.computeQueue = computeQueue;
        s.directQueueFamily = pick.directFamily;
        s.computeQueueFamily = pick.computeFamily;
    });

    // The two fences: timeline semaphores counting from 0.
    auto timeline =
        VkStruct<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
    timeline.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
    timeline.initialValue = 0;
    auto semInfo = VkStruct<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO);
    semInfo.pNext = &timeline;
    VkSemaphore directFence = VK_NULL_HANDLE, computeFence = VK_NULL_HANDLE;
    if (vkCreateSemaphore(device, &semInfo, nullptr, &directFence) != VK_SUCCESS) {
        return Fail(E_OUTOFMEMORY, "the direct-queue fence cannot be created");
    }
    ctx.Locked([&](EngineState& s) { s.directQueueFence = directFence; });
    if (vkCreateSemaphore(device, &semInfo, nullptr, &computeFence) != VK_SUCCESS) {
        return Fail(E_OUTOFMEMORY, "the compute-queue fence cannot be created");
    }
    ctx.Locked([&](EngineState& s) { s.computeQueueFence = computeFence; });

    // Presentation.
    bool tearing = false;
    std::unique_ptr<Presenter> presenter;
    if (windowed) {
        std::uint32_t n = 0;
        vkGetPhysicalDeviceSurfacePresentModesKHR(pick.device, surface, &n, nullptr);
        std::vector<VkPresentModeKHR> modes(n);
        vkGetPhysicalDeviceSurfacePresentModesKHR(pick.device, surface, &n, modes.data());
        for (VkPresentModeKHR m : modes) {
            tearing = tearing || m == VK_PRESENT_MODE_IMMEDIATE_KHR;
        }
        auto chain = std::make_unique<SwapChainPresenter>(pick.device, device, surface, directQueue,
                                                          pick.directFamily, tearing);
        if (const HRESULT hr = chain->Create(width, height, ctx.GetVsync()); Failed(hr)) {
            return Fail(hr, "the swap chain cannot be created");
        }
        presenter = std::move(chain);
    } else {
        auto headless = std::make_unique<HeadlessPresenter>(pick.device, device, directQueue,
                                                            pick.directFamily);
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
        s.tearingSupported = tearing;
    });

    DeviceCreatedCallback created = ctx.Locked([](EngineState& s) { return s.onDeviceCreated; });
    if (created) {
        if (const HRESULT hr = created(ctx, device); Failed(hr)) {
            return Fail(hr, "the renderer cannot be set up");
        }
    }
    if (const HRESULT hr = StartStageThreads(ctx); Failed(hr)) {
        return Fail(hr, "the stage threads cannot be started");
    }
    return S_OK;
}

HRESULT ResizeSwapChain(EngineContext& ctx, std::uint32_t width, std::uint32_t height) {
    Presenter* presenter = ctx.Locked([](EngineState& s) { return s.presenter.get(); });
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
