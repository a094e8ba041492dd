// Runs a recording stage's frames against the device's per-frame command pools.
#include "render/device/stage_recording.h"

#include <utility>

#include "core/frame_loop.h"
#include "render/device/vulkan_device.h"

namespace qv {

StageFunction RecordingStage(StageRecorder record, StageQueues queues) {
    const bool compute = queues == StageQueues::ComputeAndDirect;
    return [record = std::move(record), compute](EngineContext& ctx, std::uint64_t index,
                                                 StageKind kind) {
        // The device is made before the stage threads start and released
        // after they stop, so it stays for the whole loop.
        auto* device = dynamic_cast<VulkanDevice*>(ctx.GetGraphicsDevice());
        RunStageLoop(ctx, index, kind, [&] {
            if (device == nullptr) {
                return;
            }
            const std::uint32_t f = ctx.GetFrameIndex() % kFrameCount;
            const OpenStageLists lists = device->BeginStageLists(index, f, compute);
            if (lists.direct == VK_NULL_HANDLE) {
                return;
            }
            record(lists.compute, lists.direct, f, ctx.GetCurrentBackBuffer());
            if (lists.compute != VK_NULL_HANDLE) {
                vkEndCommandBuffer(lists.compute);
            }
            vkEndCommandBuffer(lists.direct);
            ctx.SetComputeList(index, lists.compute);
            ctx.SetDirectList(index, lists.direct);
        });
    };
}

}  // namespace qv
