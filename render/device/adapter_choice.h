// Which physical device the engine runs on, and what it needs to know of each.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <span>

namespace qv {

// What adapter choice needs to know of one physical device.
struct AdapterCandidate {
    VkPhysicalDeviceType type = VK_PHYSICAL_DEVICE_TYPE_OTHER;
    bool usable = false;  // Vulkan 1.3, the features and queues the engine needs
};
// A hardware device first; the software one only when no hardware device is
// usable. -1 when none is.
int ChooseAdapter(std::span<const AdapterCandidate> candidates);

// One physical device as device creation sees it: its queue families and
// whether it can do all the engine needs, ray tracing apart.
struct PhysicalInfo {
    VkPhysicalDevice device = VK_NULL_HANDLE;
    VkPhysicalDeviceProperties props{};
    std::uint32_t directFamily = 0;
    std::uint32_t computeFamily = 0;
    std::uint32_t computeQueueIndex = 0;
    bool raytracing = false;
    // Nonzero for a device that draws on the CPU and can take memory the
    // program allocates: the alignment that memory needs.
    VkDeviceSize hostImportAlignment = 0;
    bool usable = false;
};
// `surface` may be empty (headless): presentation support is then not asked.
PhysicalInfo InspectPhysicalDevice(VkPhysicalDevice device, VkSurfaceKHR surface);

}  // namespace qv
