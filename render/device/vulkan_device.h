// The Vulkan device and everything made on it, held in one object from creation to release.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <vector>

#include "core/engine_context.h"
#include "core/gpu_device.h"

namespace qv {

// The handles in the order of their creation. CreateGraphicsDevice fills them
// one by one, so that a creation that fails half way is released as far as
// it got.
struct DeviceHandles {
    VkInstance instance = VK_NULL_HANDLE;
    VkDebugUtilsMessengerEXT messenger = VK_NULL_HANDLE;
    VkSurfaceKHR surface = VK_NULL_HANDLE;
    VkPhysicalDevice physicalDevice = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    VkQueue directQueue = VK_NULL_HANDLE;
    VkQueue computeQueue = VK_NULL_HANDLE;
    std::uint32_t directFamily = 0;
    std::uint32_t computeFamily = 0;
    // Timeline semaphores, the queues' fences.
    VkSemaphore directFence = VK_NULL_HANDLE;
    VkSemaphore computeFence = VK_NULL_HANDLE;
};

// One command list per frame in flight and queue of a recording stage, each in
// a pool of its own, so a frame resets only its own pools.
struct StageCommandPools {
    std::array<VkCommandPool, kFrameCount> computePools{};
    std::array<VkCommandPool, kFrameCount> directPools{};
    std::array<VkCommandBuffer, kFrameCount> computeLists{};
    std::array<VkCommandBuffer, kFrameCount> directLists{};
};

// A stage's two lists of one frame, open for recording; the compute one is
// empty for a stage that records direct work only.
struct OpenStageLists {
    VkCommandBuffer compute = VK_NULL_HANDLE;
    VkCommandBuffer direct = VK_NULL_HANDLE;
};

// Made by CreateGraphicsDevice, which installs it in the engine state before
// it creates anything, and destroyed by the engine's teardown. Main thread
// only, except BeginStageLists, which each recording stage calls on its own
// thread for its own pools while the main thread waits for the stages.
class VulkanDevice final : public GpuDevice {
public:
    explicit VulkanDevice(EngineContext& ctx) : ctx_(ctx) {}
    ~VulkanDevice() override;
    VulkanDevice(const VulkanDevice&) = delete;
    VulkanDevice& operator=(const VulkanDevice&) = delete;

    HRESULT SubmitAndPresent() override;
    void WaitForGpu() override;
    void MoveToNextFrame() override;

    // Pools and lists for every CommandList stage registered so far; a stage
    // added later records nothing. E_OUTOFMEMORY when one cannot be made.
    HRESULT CreateStagePools();
    // Resets the stage's pools of `frame` and opens its lists. Empty lists for
    // a stage that has no pools.
    OpenStageLists BeginStageLists(std::uint64_t stage, std::uint32_t frame, bool compute);

    DeviceHandles handles;

private:
    void ReleaseStagePools();

    EngineContext& ctx_;
    std::vector<StageCommandPools> stages_;
};

}  // namespace qv
