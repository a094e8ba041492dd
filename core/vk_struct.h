#pragma once

#include <vulkan/vulkan.h>

// A zeroed Vulkan structure with its type tag set.
template <class T>
T VkStruct(VkStructureType type) {
    T value{};
    value.sType = type;
    return value;
}
