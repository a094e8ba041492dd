// Timestamp queries around a frame's passes, read back one frame slot later.
#include "render/vk/pass_timer.h"

#include <algorithm>
#include <cstring>

#include "core/vk_struct.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

namespace {

constexpr std::array<const char*, kGpuPassCount> kPassNames = {
    "Skinning", "Shadow map", "Main", "Edges", "Ground shadow", "Post-process", "Interface",
};

std::size_t IndexOf(GpuPass pass) {
    return static_cast<std::size_t>(pass);
}

std::size_t IndexOf(PassTimer::Queue queue) {
    return queue == PassTimer::Queue::Direct ? 0 : 1;
}

std::uint64_t MaskOf(std::uint32_t validBits) {
    return validBits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << validBits) - 1;
}

}  // namespace

const char* GpuPassName(GpuPass pass) {
    return kPassNames[IndexOf(pass)];
}

PassTimer::Queue PassTimer::QueueOf(GpuPass pass) {
    return pass == GpuPass::Skinning ? Queue::Compute : Queue::Direct;
}

std::uint32_t PassTimer::CapacityOf(Queue queue) const {
    return capacity_[IndexOf(queue)];
}

std::uint32_t PassTimer::RangeStart(std::uint32_t slot, Queue queue) const {
    // Compute first, then direct.
    const std::uint32_t compute = capacity_[IndexOf(Queue::Compute)];
    return slot * (capacity_[0] + capacity_[1]) + (queue == Queue::Compute ? 0 : compute);
}

void PassTimer::Initialize(const GpuContext& gpu, std::uint32_t directQueries,
                           std::uint32_t computeQueries) {
    Release();
    // Whole intervals only: an odd query would never be written.
    capacity_[IndexOf(Queue::Direct)] = directQueries / 2 * 2;
    capacity_[IndexOf(Queue::Compute)] = computeQueries / 2 * 2;
    const std::uint32_t slotQueries = capacity_[0] + capacity_[1];
    std::uint32_t count = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(gpu.physical, &count, nullptr);
    std::vector<VkQueueFamilyProperties> families(count);
    vkGetPhysicalDeviceQueueFamilyProperties(gpu.physical, &count, families.data());
    const auto bitsOf = [&](std::uint32_t family) {
        return family < count ? families[family].timestampValidBits : 0u;
    };
    validMask_[IndexOf(Queue::Direct)] =
        capacity_[IndexOf(Queue::Direct)] != 0 ? MaskOf(bitsOf(gpu.queueFamily)) : 0;
    validMask_[IndexOf(Queue::Compute)] =
        capacity_[IndexOf(Queue::Compute)] != 0 ? MaskOf(bitsOf(gpu.computeFamily)) : 0;
    VkPhysicalDeviceProperties props;
    vkGetPhysicalDeviceProperties(gpu.physical, &props);
    nanosecondsPerTick_ = props.limits.timestampPeriod;
    if ((validMask_[0] == 0 && validMask_[1] == 0) || nanosecondsPerTick_ <= 0.0) {
        return;
    }
    auto info = VkStruct<VkQueryPoolCreateInfo>(VK_STRUCTURE_TYPE_QUERY_POOL_CREATE_INFO);
    info.queryType = VK_QUERY_TYPE_TIMESTAMP;
    info.queryCount = slotQueries * kFrameCount;
    if (vkCreateQueryPool(gpu.device, &info, nullptr, &pool_) != VK_SUCCESS) {
        pool_ = VK_NULL_HANDLE;
        return;
    }
    device_ = gpu.device;
    if (Failed(CreateGpuBuffer(gpu, VkDeviceSize{slotQueries} * kFrameCount * sizeof(std::uint64_t),
                               VK_BUFFER_USAGE_TRANSFER_DST_BIT, true, &results_))) {
        Release();
        return;
    }
    // A list recorded but never run leaves its queries unread: they read as
    // zero time rather than as whatever the new memory held.
    std::memset(results_.mapped, 0,
                VkDeviceSize{slotQueries} * kFrameCount * sizeof(std::uint64_t));
    // Sized once, so that a timed frame allocates nothing.
    for (Slot& slot : slots_) {
        slot = {};
        slot.intervals.reserve(slotQueries / 2);
    }
    open_.fill(-1);
    std::lock_guard lock(meansMutex_);
    cursor_ = {};
    filled_ = {};
}

void PassTimer::Release() {
    if (pool_ != VK_NULL_HANDLE) {
        vkDestroyQueryPool(device_, pool_, nullptr);
    }
    if (results_.buffer != VK_NULL_HANDLE) {
        DestroyGpuBuffer(device_, &results_);
    }
    pool_ = VK_NULL_HANDLE;
    device_ = VK_NULL_HANDLE;
    validMask_ = {};
}

void PassTimer::BeginFrame(std::uint32_t frame) {
    if (pool_ == VK_NULL_HANDLE) {
        return;
    }
    current_ = frame % kFrameCount;
    Slot& slot = slots_[current_];
    Gather(slot);
    slot.intervals.clear();
    slot.used = {};
    slot.copied = {};
    slot.begun = {};
    slot.overflow = {};
    open_.fill(-1);
}

void PassTimer::StartList(VkCommandBuffer cmd, Queue queue) {
    if (pool_ == VK_NULL_HANDLE || cmd == VK_NULL_HANDLE || validMask_[IndexOf(queue)] == 0) {
        return;
    }
    vkCmdResetQueryPool(cmd, pool_, RangeStart(current_, queue), CapacityOf(queue));
}

void PassTimer::Begin(VkCommandBuffer cmd, GpuPass pass) {
    const Queue queue = QueueOf(pass);
    if (pool_ == VK_NULL_HANDLE || validMask_[IndexOf(queue)] == 0) {
        return;
    }
    Slot& slot = slots_[current_];
    std::uint32_t& used = slot.used[IndexOf(queue)];
    // A repeat leaves a pair for every pass of the queue, so that a pass
    // drawn many times (an outline per material) cannot crowd out the others.
    std::uint32_t kept = 0;
    if (slot.begun[IndexOf(pass)]) {
        for (std::size_t p = 0; p < kGpuPassCount; ++p) {
            kept += QueueOf(static_cast<GpuPass>(p)) == queue ? 2 : 0;
        }
    }
    if (slot.overflow[IndexOf(pass)] || used + 2 + kept > CapacityOf(queue)) {
        slot.overflow[IndexOf(pass)] = true;
        return;
    }
    slot.begun[IndexOf(pass)] = true;
    const std::uint32_t query = RangeStart(current_, queue) + used;
    used += 2;
    open_[IndexOf(pass)] = static_cast<std::int64_t>(slot.intervals.size());
    slot.intervals.push_back({pass, query});
    vkCmdWriteTimestamp2(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, pool_, query);
}

void PassTimer::End(VkCommandBuffer cmd, GpuPass pass) {
    std::int64_t& open = open_[IndexOf(pass)];
    if (pool_ == VK_NULL_HANDLE || open < 0) {
        return;
    }
    const Interval& interval = slots_[current_].intervals[static_cast<std::size_t>(open)];
    vkCmdWriteTimestamp2(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, pool_, interval.query + 1);
    open = -1;
}

void PassTimer::FinishList(VkCommandBuffer cmd, Queue queue) {
    if (pool_ == VK_NULL_HANDLE || cmd == VK_NULL_HANDLE) {
        return;
    }
    // The copy waits for every query it reads: one left open would hold the
    // queue for ever, so it ends here.
    for (std::size_t p = 0; p < kGpuPassCount; ++p) {
        if (open_[p] >= 0 && QueueOf(static_cast<GpuPass>(p)) == queue) {
            End(cmd, static_cast<GpuPass>(p));
        }
    }
    Slot& slot = slots_[current_];
    const std::uint32_t used = slot.used[IndexOf(queue)];
    if (used == 0) {
        return;
    }
    const std::uint32_t first = RangeStart(current_, queue);
    vkCmdCopyQueryPoolResults(cmd, pool_, first, used, results_.buffer,
                              VkDeviceSize{first} * sizeof(std::uint64_t), sizeof(std::uint64_t),
                              VK_QUERY_RESULT_64_BIT | VK_QUERY_RESULT_WAIT_BIT);
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_COPY_BIT, VK_ACCESS_2_TRANSFER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_HOST_BIT, VK_ACCESS_2_HOST_READ_BIT);
    slot.copied[IndexOf(queue)] = true;
}

void PassTimer::Gather(const Slot& slot) {
    if (slot.intervals.empty()) {
        return;
    }
    std::array<double, kGpuPassCount> sums{};
    std::array<bool, kGpuPassCount> timed{};
    for (Queue queue : {Queue::Compute, Queue::Direct}) {
        const std::uint32_t used = slot.used[IndexOf(queue)];
        if (used == 0) {
            continue;
        }
        // The slot's frame is off the GPU, so what its lists copied is in
        // the buffer. A list that was not finished leaves the frame out.
        if (!slot.copied[IndexOf(queue)]) {
            return;
        }
        const auto* ticks = static_cast<const std::uint64_t*>(results_.mapped);
        const std::uint64_t mask = validMask_[IndexOf(queue)];
        for (const Interval& interval : slot.intervals) {
            if (QueueOf(interval.pass) != queue || slot.overflow[IndexOf(interval.pass)]) {
                continue;
            }
            const std::uint32_t i = interval.query;
            // Masked, so that a counter that wrapped between the two still
            // gives the time between them.
            const std::uint64_t elapsed = (ticks[i + 1] - ticks[i]) & mask;
            timed[IndexOf(interval.pass)] = true;
            sums[IndexOf(interval.pass)] +=
                static_cast<double>(elapsed) * nanosecondsPerTick_ * 1e-6;
        }
    }
    // The edges and the ground shadow are drawn inside the main pass's
    // rendering, between its draws: the main figure is what remains (with
    // the outlines in it when they ran out of queries).
    double& main = sums[IndexOf(GpuPass::Main)];
    main =
        std::max(0.0, main - sums[IndexOf(GpuPass::Edges)] - sums[IndexOf(GpuPass::GroundShadow)]);
    std::lock_guard lock(meansMutex_);
    for (std::size_t p = 0; p < kGpuPassCount; ++p) {
        if (!timed[p]) {
            continue;
        }
        history_[p][cursor_[p]] = static_cast<float>(sums[p]);
        cursor_[p] = (cursor_[p] + 1) % kPassTimerFrames;
        filled_[p] = std::min(filled_[p] + 1, kPassTimerFrames);
    }
}

GpuPassTimes PassTimer::Means() const {
    GpuPassTimes means;
    means.fill(-1.0f);
    std::lock_guard lock(meansMutex_);
    for (std::size_t p = 0; p < kGpuPassCount; ++p) {
        if (filled_[p] == 0) {
            continue;
        }
        float sum = 0.0f;
        for (std::size_t i = 0; i < filled_[p]; ++i) {
            sum += history_[p][i];
        }
        means[p] = sum / static_cast<float>(filled_[p]);
    }
    return means;
}

}  // namespace qv
