// GPU time of each pass of a frame, from timestamp queries, as means over the last 60 frames.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/engine_context.h"
#include "render/vk/gpu_buffers.h"

namespace qv {

// The passes a frame is timed by, in the order a frame draws them.
enum class GpuPass : std::uint32_t {
    Skinning,
    ShadowMap,
    Main,
    Edges,
    GroundShadow,
    PostProcess,
    Interface,
};
inline constexpr std::size_t kGpuPassCount = 7;
inline constexpr std::size_t kPassTimerFrames = 60;

const char* GpuPassName(GpuPass pass);

// Milliseconds per pass; negative for a pass this recorder has not timed,
// which is every pass of a queue that keeps no time.
using GpuPassTimes = std::array<float, kGpuPassCount>;

// Timestamp queries around the passes that one recorder draws, summed per
// frame and averaged, pass by pass, over the last kPassTimerFrames frames
// that timed it: a frame that does not draw a pass leaves its figure alone.
//
// Protocol, all on the one recording thread but Means: Initialize once; each
// frame BeginFrame(f) once slot f's previous frame is off the GPU, then
// StartList on each list before its first pass and outside any render pass,
// Begin/End pairs around the passes, and FinishList after the last pass of
// each list, outside any render pass. A pass timed several times in one frame
// adds up; the first interval of every pass always finds its queries, so a
// pass repeated past what the queue holds loses only its own figure for that
// frame. Means may be read from any thread. Release with the GPU idle.
// Without timestamps on a queue, its passes are never timed.
//
// The lists copy their timestamps into a mapped buffer, read when the slot
// comes round again: asking the driver for query results instead can wait on
// the frame the GPU is drawing now, which would hold up the recording.
class PassTimer {
public:
    enum class Queue { Direct, Compute };

    PassTimer() = default;
    PassTimer(const PassTimer&) = delete;
    PassTimer& operator=(const PassTimer&) = delete;
    ~PassTimer() { Release(); }

    // Each frame holds up to `directQueries` and `computeQueries` timestamps
    // (two per interval) on the two queues.
    void Initialize(const GpuContext& gpu, std::uint32_t directQueries = 1024,
                    std::uint32_t computeQueries = 16);
    void Release();

    void BeginFrame(std::uint32_t frame);
    void StartList(VkCommandBuffer cmd, Queue queue);
    void Begin(VkCommandBuffer cmd, GpuPass pass);
    void End(VkCommandBuffer cmd, GpuPass pass);
    void FinishList(VkCommandBuffer cmd, Queue queue);

    GpuPassTimes Means() const;

private:
    struct Interval {
        GpuPass pass;
        std::uint32_t query;  // its start; the end is the next query
    };
    struct Slot {
        std::vector<Interval> intervals;
        std::array<std::uint32_t, 2> used{};  // queries taken, per queue
        std::array<bool, 2> copied{};         // per queue, into results_
        std::array<bool, kGpuPassCount> begun{};
        std::array<bool, kGpuPassCount> overflow{};  // such a pass adds no figure
    };

    static Queue QueueOf(GpuPass pass);
    std::uint32_t CapacityOf(Queue queue) const;
    std::uint32_t RangeStart(std::uint32_t slot, Queue queue) const;
    // This slot's figures into the history, when every query of it was read.
    void Gather(const Slot& slot);

    VkDevice device_ = VK_NULL_HANDLE;
    VkQueryPool pool_ = VK_NULL_HANDLE;
    double nanosecondsPerTick_ = 0.0;
    std::array<std::uint64_t, 2> validMask_{};  // per queue; 0 keeps no time
    std::array<std::uint32_t, 2> capacity_{};   // queries per frame, per queue
    std::array<Slot, kFrameCount> slots_;
    std::uint32_t current_ = 0;
    std::array<std::int64_t, kGpuPassCount> open_{};  // interval index, -1 when none
    GpuBuffer results_;                               // a tick per query, at the query's index

    mutable std::mutex meansMutex_;
    // Per pass, the figures of the last frames that timed it.
    std::array<std::array<float, kPassTimerFrames>, kGpuPassCount> history_{};
    std::array<std::size_t, kGpuPassCount> cursor_{};
    std::array<std::size_t, kGpuPassCount> filled_{};
};

}  // namespace qv
