// Saves writing out the type tag each time a Vulkan structure is made.
#pragma once

#include <vulkan/vulkan.h>

namespace qv {

// A zeroed Vulkan structure with its type tag set.
template <class T>
T VkStruct(VkStructureType type) {
    T value{};
    value.sType = type;
    return value;
}

}  // namespace qv
