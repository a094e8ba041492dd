// Frame stages that record the GPU work of a frame into the device's command lists.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <functional>

#include "core/engine_context.h"

namespace qv {

// Records one frame into the stage's open lists; `compute` is empty for a
// stage that records direct work only. Runs on the stage's own thread.
using StageRecorder = std::function<void(VkCommandBuffer compute, VkCommandBuffer direct,
                                         std::uint32_t frameIndex, const BackBuffer& target)>;

enum class StageQueues { Direct, ComputeAndDirect };

// A CommandList stage function: every frame it opens its lists of the frame
// in the device's pools, lets `record` fill them, closes them and leaves them
// in its slots for submission. A direct-only stage leaves its compute slot
// empty, so nothing is submitted for it there.
StageFunction RecordingStage(StageRecorder record, StageQueues queues);

}  // namespace qv
