// Saves writing out the type tag each time a Vulkan structure is made.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>

namespace qv {

// A zeroed Vulkan structure with its type tag set.
template <class T>
T VkStruct(VkStructureType type) {
    T value{};
    value.sType = type;
    return value;
}

// One semaphore that a vkQueueSubmit2 waits on or signals, at every pipeline
// stage: the queues here are ordered whole, never by stage. `value` is read
// for timeline semaphores only.
inline VkSemaphoreSubmitInfo SemaphoreSubmit(VkSemaphore semaphore, std::uint64_t value = 0) {
    auto info = VkStruct<VkSemaphoreSubmitInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_SUBMIT_INFO);
    info.semaphore = semaphore;
    info.value = value;
    info.stageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
    return info;
}

}  // namespace qv
