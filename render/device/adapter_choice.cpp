// What each physical device offers the engine, and which one it runs on.
#include "render/device/adapter_choice.h"

#include <cstring>
#include <vector>

#include "core/vk_struct.h"

namespace qv {

namespace {

// Whether a device has what ray tracing needs: both extensions, the
// features they depend on, and the texture-array features the hit program
// uses.
struct RaytracingSupport {
    bool extensions = false;
    bool accelerationStructure = false;
    bool rayTracingPipeline = false;
    bool bufferDeviceAddress = false;
    bool runtimeDescriptorArray = false;
    bool variableDescriptorCount = false;
    bool nonUniformSampledImages = false;
    bool Complete() const {
        return extensions && accelerationStructure && rayTracingPipeline && bufferDeviceAddress &&
               runtimeDescriptorArray && variableDescriptorCount && nonUniformSampledImages;
    }
};

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

}  // namespace

PhysicalInfo InspectPhysicalDevice(VkPhysicalDevice device, VkSurfaceKHR surface) {
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
    if (info.props.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU &&
        HasDeviceExtension(extensions, VK_EXT_EXTERNAL_MEMORY_HOST_EXTENSION_NAME)) {
        auto host = VkStruct<VkPhysicalDeviceExternalMemoryHostPropertiesEXT>(
            VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_MEMORY_HOST_PROPERTIES_EXT);
        auto properties =
            VkStruct<VkPhysicalDeviceProperties2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2);
        properties.pNext = &host;
        vkGetPhysicalDeviceProperties2(device, &properties);
        info.hostImportAlignment = host.minImportedHostPointerAlignment;
    }

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

}  // namespace qv
