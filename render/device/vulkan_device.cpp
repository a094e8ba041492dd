// Owns the device's objects and the stages' command pools, and releases them in reverse order.
#include "render/device/vulkan_device.h"

#include <algorithm>
#include <memory>

#include "core/presenter.h"
#include "core/vk_struct.h"

namespace qv {

namespace {

HRESULT CreatePool(VkDevice device, std::uint32_t family, VkCommandPool* pool,
                   VkCommandBuffer* list) {
    auto info = VkStruct<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
    info.flags = VK_COMMAND_POOL_CREATE_TRANSIENT_BIT;
    info.queueFamilyIndex = family;
    if (vkCreateCommandPool(device, &info, nullptr, pool) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    auto alloc =
        VkStruct<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
    alloc.commandPool = *pool;
    alloc.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    alloc.commandBufferCount = 1;
    return vkAllocateCommandBuffers(device, &alloc, list) == VK_SUCCESS ? S_OK : E_OUTOFMEMORY;
}

VkCommandBuffer BeginList(VkDevice device, VkCommandPool pool, VkCommandBuffer list) {
    vkResetCommandPool(device, pool, 0);
    auto begin = VkStruct<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    vkBeginCommandBuffer(list, &begin);
    return list;
}

void DestroyMessenger(VkInstance instance, VkDebugUtilsMessengerEXT messenger) {
    auto destroy = reinterpret_cast<PFN_vkDestroyDebugUtilsMessengerEXT>(
        vkGetInstanceProcAddr(instance, "vkDestroyDebugUtilsMessengerEXT"));
    if (destroy != nullptr) {
        destroy(instance, messenger, nullptr);
    }
}

}  // namespace

VulkanDevice::~VulkanDevice() {
    DeviceHandles& h = handles;
    if (h.device != VK_NULL_HANDLE) {
        vkDeviceWaitIdle(h.device);
    }
    ReleaseStagePools();
    std::unique_ptr<Presenter> presenter;
    ctx_.Locked([&](EngineState& s) {
        presenter = std::move(s.presenter);
        s.backBuffers = {};
    });
    presenter.reset();
    if (h.device != VK_NULL_HANDLE) {
        for (VkSemaphore fence : {h.computeFence, h.directFence}) {
            if (fence != VK_NULL_HANDLE) {
                vkDestroySemaphore(h.device, fence, nullptr);
            }
        }
        vkDestroyDevice(h.device, nullptr);
    }
    if (h.instance != VK_NULL_HANDLE) {
        if (h.surface != VK_NULL_HANDLE) {
            vkDestroySurfaceKHR(h.instance, h.surface, nullptr);
        }
        if (h.messenger != VK_NULL_HANDLE) {
            DestroyMessenger(h.instance, h.messenger);
        }
        vkDestroyInstance(h.instance, nullptr);
    }
    ctx_.Locked([](EngineState& s) {
        s.directQueueFence = s.computeQueueFence = VK_NULL_HANDLE;
        s.device = VK_NULL_HANDLE;
        s.directQueue = s.computeQueue = VK_NULL_HANDLE;
        s.surface = VK_NULL_HANDLE;
        s.debugMessenger = VK_NULL_HANDLE;
        s.vkInstance = VK_NULL_HANDLE;
        s.physicalDevice = VK_NULL_HANDLE;
        s.directQueueFenceValues = {};
        s.computeQueueFenceValues = {};
        s.deviceCreated = false;
        for (StageList& list : s.stages) {
            std::fill(list.directLists.begin(), list.directLists.end(), VK_NULL_HANDLE);
            std::fill(list.computeLists.begin(), list.computeLists.end(), VK_NULL_HANDLE);
        }
    });
}

HRESULT VulkanDevice::CreateStagePools() {
    const std::size_t count = ctx_.GetStageCount(StageKind::CommandList);
    for (std::size_t i = 0; i < count; ++i) {
        StageCommandPools& pools = stages_.emplace_back();
        for (std::uint32_t f = 0; f < kFrameCount; ++f) {
            HRESULT hr = CreatePool(handles.device, handles.computeFamily, &pools.computePools[f],
                                    &pools.computeLists[f]);
            if (Succeeded(hr)) {
                hr = CreatePool(handles.device, handles.directFamily, &pools.directPools[f],
                                &pools.directLists[f]);
            }
            if (Failed(hr)) {
                return hr;
            }
        }
    }
    return S_OK;
}

OpenStageLists VulkanDevice::BeginStageLists(std::uint64_t stage, std::uint32_t frame,
                                             bool compute) {
    if (stage >= stages_.size() || frame >= kFrameCount) {
        return {};
    }
    StageCommandPools& pools = stages_[stage];
    OpenStageLists lists;
    if (compute) {
        lists.compute =
            BeginList(handles.device, pools.computePools[frame], pools.computeLists[frame]);
    }
    lists.direct = BeginList(handles.device, pools.directPools[frame], pools.directLists[frame]);
    return lists;
}

void VulkanDevice::ReleaseStagePools() {
    for (StageCommandPools& pools : stages_) {
        for (auto* kind : {&pools.computePools, &pools.directPools}) {
            for (VkCommandPool pool : *kind) {
                if (pool != VK_NULL_HANDLE) {
                    vkDestroyCommandPool(handles.device, pool, nullptr);
                }
            }
        }
    }
    stages_.clear();
}

}  // namespace qv
