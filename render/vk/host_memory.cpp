// Lends the device blocks of host memory that the system can back with huge pages.
#include "render/vk/host_memory.h"

#include <algorithm>
#include <cstdlib>

#include "core/vk_struct.h"
#include "platform/memory_advice.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

namespace {

constexpr VkExternalMemoryHandleTypeFlagBits kHostAllocation =
    VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT;
constexpr VkDeviceSize kHugePage = VkDeviceSize{2} << 20;

bool Importable(const VkExternalMemoryProperties& properties) {
    return (properties.externalMemoryFeatures & VK_EXTERNAL_MEMORY_FEATURE_IMPORTABLE_BIT) != 0 &&
           (properties.compatibleHandleTypes & kHostAllocation) != 0;
}

VkDeviceSize RoundUp(VkDeviceSize value, VkDeviceSize unit) {
    return (value + unit - 1) / unit * unit;
}

}  // namespace

bool LendsHostMemoryToBuffers(const GpuContext& gpu, VkBufferUsageFlags usage) {
    if (gpu.hostImportAlignment == 0) {
        return false;
    }
    auto info = VkStruct<VkPhysicalDeviceExternalBufferInfo>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_BUFFER_INFO);
    info.usage = usage;
    info.handleType = kHostAllocation;
    auto properties =
        VkStruct<VkExternalBufferProperties>(VK_STRUCTURE_TYPE_EXTERNAL_BUFFER_PROPERTIES);
    vkGetPhysicalDeviceExternalBufferProperties(gpu.physical, &info, &properties);
    return Importable(properties.externalMemoryProperties);
}

VkExternalMemoryBufferCreateInfo LentMemoryBufferInfo() {
    auto info = VkStruct<VkExternalMemoryBufferCreateInfo>(
        VK_STRUCTURE_TYPE_EXTERNAL_MEMORY_BUFFER_CREATE_INFO);
    info.handleTypes = kHostAllocation;
    return info;
}

bool LendHostMemory(const GpuContext& gpu, const VkMemoryRequirements& req, const void* next,
                    VkDeviceMemory* memory, void** block) {
    *memory = VK_NULL_HANDLE;
    *block = nullptr;
    const auto properties = reinterpret_cast<PFN_vkGetMemoryHostPointerPropertiesEXT>(
        vkGetDeviceProcAddr(gpu.device, "vkGetMemoryHostPointerPropertiesEXT"));
    if (gpu.hostImportAlignment == 0 || properties == nullptr || req.size == 0) {
        return false;
    }
    // Blocks of a huge page or more start on one and fill whole ones, so
    // that all of it can be backed by them.
    const VkDeviceSize alignment =
        std::max({gpu.hostImportAlignment, req.alignment, req.size >= kHugePage ? kHugePage : 0});
    const VkDeviceSize bytes = RoundUp(req.size, alignment);
    void* data = std::aligned_alloc(alignment, bytes);
    if (data == nullptr) {
        return false;
    }
    PreferHugePages(data, bytes);
    auto pointer = VkStruct<VkMemoryHostPointerPropertiesEXT>(
        VK_STRUCTURE_TYPE_MEMORY_HOST_POINTER_PROPERTIES_EXT);
    auto import = VkStruct<VkImportMemoryHostPointerInfoEXT>(
        VK_STRUCTURE_TYPE_IMPORT_MEMORY_HOST_POINTER_INFO_EXT);
    import.pNext = next;
    import.handleType = kHostAllocation;
    import.pHostPointer = data;
    auto alloc = VkStruct<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
    alloc.pNext = &import;
    alloc.allocationSize = bytes;
    if (properties(gpu.device, kHostAllocation, data, &pointer) != VK_SUCCESS ||
        !FindMemoryType(gpu.physical, req.memoryTypeBits & pointer.memoryTypeBits,
                        VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT,
                        &alloc.memoryTypeIndex) ||
        vkAllocateMemory(gpu.device, &alloc, nullptr, memory) != VK_SUCCESS) {
        *memory = VK_NULL_HANDLE;
        std::free(data);
        return false;
    }
    *block = data;
    return true;
}

void FreeLentMemory(VkDevice device, VkDeviceMemory memory, void* block) {
    if (memory != VK_NULL_HANDLE) {
        vkFreeMemory(device, memory, nullptr);
    }
    std::free(block);
}

}  // namespace qv
