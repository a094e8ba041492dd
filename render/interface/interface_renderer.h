// Draws the tool windows over the back buffer through Dear ImGui's Vulkan back end.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <string>

#include "core/engine_context.h"
#include "platform/result.h"
#include "render/model/model_resources.h"
#include "render/vk/pass_timer.h"

struct ImDrawData;

namespace qv {

// The GPU side of the interface. Protocol: Initialize once on the main thread
// with the Dear ImGui context current and its font atlas built; Record once
// per frame on the interface stage thread; Release on the main thread with the
// GPU idle and the stage threads stopped.
class InterfaceRenderer {
public:
    InterfaceRenderer() = default;
    InterfaceRenderer(const InterfaceRenderer&) = delete;
    InterfaceRenderer& operator=(const InterfaceRenderer&) = delete;
    ~InterfaceRenderer() { Release(); }

    // Sets up the back end for back buffers of `format` (a render pass that
    // keeps what the scene drew beneath) and uploads the font atlas, waiting
    // for the GPU once. The message says what failed.
    Result Initialize(VkInstance instance, const GpuContext& gpu, VkFormat format);
    // Records the draw data over `target` for frame slot `frame`. The target
    // is in its present layout and is left in it. Nothing is recorded for an
    // empty frame or a missing target.
    void Record(VkCommandBuffer cmd, std::uint32_t frame, const BackBuffer& target,
                ImDrawData* drawData);
    void Release();

    bool Ready() const { return backendReady_; }
    // GPU milliseconds of drawing the windows, a mean over the last frames
    // (the Interface entry; negative where not timed). Any thread.
    GpuPassTimes PassTimes() const { return timer_.Means(); }

private:
    VkDevice device_ = VK_NULL_HANDLE;
    VkFormat format_ = VK_FORMAT_UNDEFINED;
    VkRenderPass renderPass_ = VK_NULL_HANDLE;
    VkDescriptorPool descriptorPool_ = VK_NULL_HANDLE;
    // One per frame slot, made anew each frame for that frame's back buffer:
    // a slot is reused only after its last frame has left the GPU, and swap
    // chain images change with every resize.
    std::array<VkFramebuffer, kFrameCount> framebuffers_{};
    bool backendReady_ = false;
    PassTimer timer_;
};

}  // namespace qv
