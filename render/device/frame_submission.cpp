// Each frame's submission, presentation and fence waits on the device's two queues.
#include <array>
#include <span>
#include <vector>

#include "core/presenter.h"
#include "core/vk_struct.h"
#include "render/device/vulkan_device.h"

namespace qv {

namespace {

VkResult Submit(VkQueue queue, std::span<const VkSemaphoreSubmitInfo> waits,
                std::span<const VkCommandBufferSubmitInfo> lists,
                std::span<const VkSemaphoreSubmitInfo> signals) {
    auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
    submit.waitSemaphoreInfoCount = static_cast<std::uint32_t>(waits.size());
    submit.pWaitSemaphoreInfos = waits.data();
    submit.commandBufferInfoCount = static_cast<std::uint32_t>(lists.size());
    submit.pCommandBufferInfos = lists.data();
    submit.signalSemaphoreInfoCount = static_cast<std::uint32_t>(signals.size());
    submit.pSignalSemaphoreInfos = signals.data();
    return vkQueueSubmit2(queue, 1, &submit, VK_NULL_HANDLE);
}

void WaitOnHost(VkDevice device, VkSemaphore fence, std::uint64_t value) {
    auto wait = VkStruct<VkSemaphoreWaitInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_WAIT_INFO);
    wait.semaphoreCount = 1;
    wait.pSemaphores = &fence;
    wait.pValues = &value;
    vkWaitSemaphores(device, &wait, UINT64_MAX);
}

// The lists of one queue that the stages recorded this frame, in a fixed
// array so that a played frame allocates nothing; an empty slot is skipped.
struct ListsToSubmit {
    std::array<VkCommandBufferSubmitInfo, kMaxStagesPerKind> infos{};
    std::uint32_t count = 0;

    void Take(const std::vector<VkCommandBuffer>& lists) {
        for (VkCommandBuffer list : lists) {
            if (list != VK_NULL_HANDLE && count < infos.size()) {
                infos[count] = VkStruct<VkCommandBufferSubmitInfo>(
                    VK_STRUCTURE_TYPE_COMMAND_BUFFER_SUBMIT_INFO);
                infos[count++].commandBuffer = list;
            }
        }
    }
    std::span<const VkCommandBufferSubmitInfo> Span() const { return {infos.data(), count}; }
};

// What one frame's submission reads from the engine state, taken in one go.
struct FrameSubmission {
    bool allowTearing = false;
    bool vsync = true;
    std::uint64_t computeValue = 0;
    std::uint64_t directValue = 0;
    Presenter* presenter = nullptr;
    ListsToSubmit computeLists;
    ListsToSubmit directLists;
};

void ReadFrame(EngineContext& ctx, FrameSubmission& f) {
    ctx.Locked([&](EngineState& s) {
        const std::uint32_t slot = s.frameIndex % kFrameCount;
        const StageList& stages = s.stages[static_cast<std::uint32_t>(StageKind::CommandList)];
        f.allowTearing = s.tearingSupported;
        f.vsync = s.vsync;
        f.computeValue = s.computeQueueFenceValues[slot];
        f.directValue = s.directQueueFenceValues[slot];
        f.presenter = s.presenter.get();
        f.computeLists.Take(stages.computeLists);
        f.directLists.Take(stages.directLists);
    });
}

}  // namespace

HRESULT VulkanDevice::SubmitAndPresent() {
    const DeviceHandles& h = handles;
    FrameSubmission f;
    ReadFrame(ctx_, f);
    if (h.device == VK_NULL_HANDLE || f.presenter == nullptr) {
        return S_OK;
    }
    // Compute first; the direct queue waits for it on the GPU, not the CPU.
    const VkSemaphoreSubmitInfo computeDone = SemaphoreSubmit(h.computeFence, f.computeValue);
    const VkSemaphoreSubmitInfo directDone = SemaphoreSubmit(h.directFence, f.directValue);
    Submit(h.computeQueue, {}, f.computeLists.Span(), {&computeDone, 1});

    std::array<VkSemaphoreSubmitInfo, 2> waits{computeDone};
    std::array<VkSemaphoreSubmitInfo, 2> signals{directDone};
    std::size_t waitCount = 1, signalCount = 1;
    if (VkSemaphore acquired = f.presenter->AcquiredSemaphore(); acquired != VK_NULL_HANDLE) {
        waits[waitCount++] = SemaphoreSubmit(acquired);
    }
    if (VkSemaphore rendered = f.presenter->RenderedSemaphore(); rendered != VK_NULL_HANDLE) {
        signals[signalCount++] = SemaphoreSubmit(rendered);
    }
    // The one submission result looked at: a lost device would otherwise let
    // the loop spin on without ever drawing again.
    if (Submit(h.directQueue, {waits.data(), waitCount}, f.directLists.Span(),
               {signals.data(), signalCount}) == VK_ERROR_DEVICE_LOST) {
        return E_FAIL;
    }
    // The next frame's compute work must not overtake this frame's direct work.
    Submit(h.computeQueue, {&directDone, 1}, {}, {});

    // Overlay stages stay idle here: they fill no image, so there is nothing
    // to compose over the back buffer.
    if (f.presenter->Present(f.vsync, !f.vsync && f.allowTearing) == kDeviceLost) {
        return E_FAIL;
    }
    MoveToNextFrame();
    return S_OK;
}

void VulkanDevice::WaitForGpu() {
    const DeviceHandles& h = handles;
    if (h.device == VK_NULL_HANDLE || h.computeFence == VK_NULL_HANDLE ||
        h.directFence == VK_NULL_HANDLE) {
        return;
    }
    const std::uint32_t f = ctx_.GetFrameIndex() % kFrameCount;
    const std::uint64_t computeValue = ctx_.GetComputeFenceValue(f);
    const std::uint64_t directValue = ctx_.GetDirectFenceValue(f);
    const VkSemaphoreSubmitInfo computeSignal = SemaphoreSubmit(h.computeFence, computeValue);
    Submit(h.computeQueue, {}, {}, {&computeSignal, 1});
    WaitOnHost(h.device, h.computeFence, computeValue);
    const VkSemaphoreSubmitInfo directSignal = SemaphoreSubmit(h.directFence, directValue);
    Submit(h.directQueue, {}, {}, {&directSignal, 1});
    WaitOnHost(h.device, h.directFence, directValue);
    ctx_.SetComputeFenceValue(f, computeValue + 1);
    ctx_.SetDirectFenceValue(f, directValue + 1);
}

void VulkanDevice::MoveToNextFrame() {
    const std::uint32_t f = ctx_.GetFrameIndex() % kFrameCount;
    const std::uint64_t computeValue = ctx_.GetComputeFenceValue(f);
    const std::uint64_t directValue = ctx_.GetDirectFenceValue(f);
    Presenter* presenter = ctx_.GetPresenter();
    if (presenter == nullptr) {
        return;
    }
    const std::uint32_t n = presenter->CurrentBackBufferIndex() % kFrameCount;
    const std::uint64_t needed = ctx_.GetDirectFenceValue(n);
    std::uint64_t completed = 0;
    if (handles.device != VK_NULL_HANDLE && handles.directFence != VK_NULL_HANDLE) {
        vkGetSemaphoreCounterValue(handles.device, handles.directFence, &completed);
        if (completed < needed) {
            WaitOnHost(handles.device, handles.directFence, needed);
        }
    }
    ctx_.SetFrameIndex(n);
    ctx_.SetComputeFenceValue(n, computeValue + 1);
    ctx_.SetDirectFenceValue(n, directValue + 1);

    // Only now, with the slot's last frame off the GPU, may its image be
    // handed out again. A slot whose image could not be had (a zero-sized
    // surface) stays empty: the frames after it are hidden frames until one
    // is had.
    BackBuffer backBuffer;
    ctx_.SetBackBuffer(n,
                       Succeeded(presenter->BeginFrame(&backBuffer)) ? backBuffer : BackBuffer{});
}

}  // namespace qv
