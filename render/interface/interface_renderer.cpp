// Draws the tool windows over the back buffer through Dear ImGui's Vulkan back end.
#include "render/interface/interface_renderer.h"

#include <imgui.h>
#include <imgui_impl_vulkan.h>

#include <atomic>

#include "core/vk_struct.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

namespace {

std::atomic<int> backendFailures{0};

void CountBackendFailure(VkResult result) {
    if (result != VK_SUCCESS) {
        backendFailures.fetch_add(1);
    }
}

}  // namespace

Result InterfaceRenderer::Initialize(VkInstance instance, const GpuContext& gpu, VkFormat format) {
    device_ = gpu.device;
    format_ = format;

    // The scene is already in the back buffer: load it, draw over it.
    VkAttachmentDescription attachment{};
    attachment.format = format;
    attachment.samples = VK_SAMPLE_COUNT_1_BIT;
    attachment.loadOp = VK_ATTACHMENT_LOAD_OP_LOAD;
    attachment.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
    attachment.stencilLoadOp = VK_ATTACHMENT_LOAD_OP_DONT_CARE;
    attachment.stencilStoreOp = VK_ATTACHMENT_STORE_OP_DONT_CARE;
    attachment.initialLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    attachment.finalLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    VkAttachmentReference reference{0, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL};
    VkSubpassDescription subpass{};
    subpass.pipelineBindPoint = VK_PIPELINE_BIND_POINT_GRAPHICS;
    subpass.colorAttachmentCount = 1;
    subpass.pColorAttachments = &reference;
    auto passInfo = VkStruct<VkRenderPassCreateInfo>(VK_STRUCTURE_TYPE_RENDER_PASS_CREATE_INFO);
    passInfo.attachmentCount = 1;
    passInfo.pAttachments = &attachment;
    passInfo.subpassCount = 1;
    passInfo.pSubpasses = &subpass;
    if (vkCreateRenderPass(device_, &passInfo, nullptr, &renderPass_) != VK_SUCCESS) {
        return Result::Failure(E_FAIL, "the interface's render pass cannot be created");
    }

    VkDescriptorPoolSize poolSize{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, 8};
    auto poolInfo =
        VkStruct<VkDescriptorPoolCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO);
    poolInfo.flags = VK_DESCRIPTOR_POOL_CREATE_FREE_DESCRIPTOR_SET_BIT;
    poolInfo.maxSets = 8;
    poolInfo.poolSizeCount = 1;
    poolInfo.pPoolSizes = &poolSize;
    if (vkCreateDescriptorPool(device_, &poolInfo, nullptr, &descriptorPool_) != VK_SUCCESS) {
        return Result::Failure(E_FAIL, "the interface's descriptor pool cannot be created");
    }

    ImGui_ImplVulkan_InitInfo init{};
    init.Instance = instance;
    init.PhysicalDevice = gpu.physical;
    init.Device = gpu.device;
    init.QueueFamily = gpu.queueFamily;
    init.Queue = gpu.queue;
    init.DescriptorPool = descriptorPool_;
    init.Subpass = 0;
    // Vertex buffers rotate with the frames in flight.
    init.MinImageCount = kFrameCount;
    init.ImageCount = kFrameCount;
    init.MSAASamples = VK_SAMPLE_COUNT_1_BIT;
    init.CheckVkResultFn = CountBackendFailure;
    backendFailures.store(0);
    if (!ImGui_ImplVulkan_Init(&init, renderPass_)) {
        return Result::Failure(E_FAIL, "the interface's Vulkan back end cannot start");
    }
    backendReady_ = true;
    // One pass, once a frame, on the direct queue.
    timer_.Initialize(gpu, 2, 0);
    const HRESULT uploaded =
        RunOnce(gpu.device, gpu.queue, gpu.queueFamily,
                [](VkCommandBuffer cmd) { ImGui_ImplVulkan_CreateFontsTexture(cmd); });
    ImGui_ImplVulkan_DestroyFontUploadObjects();
    if (Failed(uploaded) || backendFailures.load() != 0) {
        return Result::Failure(Failed(uploaded) ? uploaded : E_FAIL,
                               "the interface's font cannot be uploaded");
    }
    return {};
}

void InterfaceRenderer::Record(VkCommandBuffer cmd, std::uint32_t frame, const BackBuffer& target,
                               ImDrawData* drawData) {
    if (!backendReady_ || target.image == VK_NULL_HANDLE || target.format != format_ ||
        drawData == nullptr || drawData->CmdListsCount == 0) {
        return;
    }
    VkFramebuffer& framebuffer = framebuffers_[frame % kFrameCount];
    if (framebuffer != VK_NULL_HANDLE) {
        vkDestroyFramebuffer(device_, framebuffer, nullptr);
        framebuffer = VK_NULL_HANDLE;
    }
    auto info = VkStruct<VkFramebufferCreateInfo>(VK_STRUCTURE_TYPE_FRAMEBUFFER_CREATE_INFO);
    info.renderPass = renderPass_;
    info.attachmentCount = 1;
    info.pAttachments = &target.view;
    info.width = target.width;
    info.height = target.height;
    info.layers = 1;
    if (vkCreateFramebuffer(device_, &info, nullptr, &framebuffer) != VK_SUCCESS) {
        framebuffer = VK_NULL_HANDLE;
        return;
    }

    timer_.BeginFrame(frame);
    timer_.StartList(cmd, PassTimer::Queue::Direct);
    timer_.Begin(cmd, GpuPass::Interface);
    ImageBarrier(cmd, target.image, target.presentLayout, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL,
                 VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT,
                 VK_ACCESS_2_TRANSFER_WRITE_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT,
                 VK_PIPELINE_STAGE_2_COLOR_ATTACHMENT_OUTPUT_BIT,
                 VK_ACCESS_2_COLOR_ATTACHMENT_READ_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT);
    auto begin = VkStruct<VkRenderPassBeginInfo>(VK_STRUCTURE_TYPE_RENDER_PASS_BEGIN_INFO);
    begin.renderPass = renderPass_;
    begin.framebuffer = framebuffer;
    begin.renderArea = {{0, 0}, {target.width, target.height}};
    vkCmdBeginRenderPass(cmd, &begin, VK_SUBPASS_CONTENTS_INLINE);
    ImGui_ImplVulkan_RenderDrawData(drawData, cmd);
    vkCmdEndRenderPass(cmd);
    ImageBarrier(cmd, target.image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, target.presentLayout,
                 VK_PIPELINE_STAGE_2_COLOR_ATTACHMENT_OUTPUT_BIT,
                 VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT,
                 VK_ACCESS_2_MEMORY_READ_BIT);
    timer_.End(cmd, GpuPass::Interface);
    timer_.FinishList(cmd, PassTimer::Queue::Direct);
}

void InterfaceRenderer::Release() {
    if (device_ == VK_NULL_HANDLE) {
        return;
    }
    if (backendReady_) {
        ImGui_ImplVulkan_Shutdown();
        backendReady_ = false;
    }
    timer_.Release();
    for (VkFramebuffer& framebuffer : framebuffers_) {
        if (framebuffer != VK_NULL_HANDLE) {
            vkDestroyFramebuffer(device_, framebuffer, nullptr);
        }
        framebuffer = VK_NULL_HANDLE;
    }
    if (descriptorPool_ != VK_NULL_HANDLE) {
        vkDestroyDescriptorPool(device_, descriptorPool_, nullptr);
        descriptorPool_ = VK_NULL_HANDLE;
    }
    if (renderPass_ != VK_NULL_HANDLE) {
        vkDestroyRenderPass(device_, renderPass_, nullptr);
        renderPass_ = VK_NULL_HANDLE;
    }
    device_ = VK_NULL_HANDLE;
}

}  // namespace qv
