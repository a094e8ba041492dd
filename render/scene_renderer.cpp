#include "render/scene_renderer.h"
#include "core/vk_struct.h"

#include <cmath>
#include <cstdint>

#include "scene/scene.h"
#include "shaders/main_vs.h"
#include "shaders/skinning_cs.h"
#include "shaders/toon_ps.h"

namespace {

constexpr VkFormat kColorFormat = VK_FORMAT_R8G8B8A8_UNORM;
constexpr VkFormat kDepthFormat = VK_FORMAT_D32_SFLOAT;

// Bindings of the register mapping shared with the shader compiler.
constexpr std::uint32_t kB0 = 0, kB1 = 1, kT0 = 2, kU0 = 14, kS0 = 11;

Vector4 Normalize3(const Vector4& v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return length > 0.0f ? Vector4{v.x / length, v.y / length, v.z / length, 0.0f} : v;
}

Vector4 Cross3(const Vector4& a, const Vector4& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f};
}

float Dot3(const Vector4& a, const Vector4& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

VkShaderModule CreateModule(VkDevice device, const std::uint32_t* code, std::size_t bytes) {
    auto info = VkStruct<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
    info.codeSize = bytes;
    info.pCode = code;
    VkShaderModule module = VK_NULL_HANDLE;
    vkCreateShaderModule(device, &info, nullptr, &module);
    return module;
}

void Barrier(VkCommandBuffer cmd, VkImage image, VkImageAspectFlags aspect, VkImageLayout from,
             VkImageLayout to) {
    auto barrier = VkStruct<VkImageMemoryBarrier2>(VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER_2);
    barrier.srcStageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
    barrier.srcAccessMask = VK_ACCESS_2_MEMORY_WRITE_BIT;
    barrier.dstStageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
    barrier.dstAccessMask = VK_ACCESS_2_MEMORY_READ_BIT | VK_ACCESS_2_MEMORY_WRITE_BIT;
    barrier.oldLayout = from;
    barrier.newLayout = to;
    barrier.srcQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.image = image;
    barrier.subresourceRange = {aspect, 0, 1, 0, 1};
    auto dep = VkStruct<VkDependencyInfo>(VK_STRUCTURE_TYPE_DEPENDENCY_INFO);
    dep.imageMemoryBarrierCount = 1;
    dep.pImageMemoryBarriers = &barrier;
    vkCmdPipelineBarrier2(cmd, &dep);
}

void MemoryBarrier(VkCommandBuffer cmd, VkPipelineStageFlags2 srcStage, VkAccessFlags2 srcAccess,
                   VkPipelineStageFlags2 dstStage, VkAccessFlags2 dstAccess) {
    auto barrier = VkStruct<VkMemoryBarrier2>(VK_STRUCTURE_TYPE_MEMORY_BARRIER_2);
    barrier.srcStageMask = srcStage;
    barrier.srcAccessMask = srcAccess;
    barrier.dstStageMask = dstStage;
    barrier.dstAccessMask = dstAccess;
    auto dep = VkStruct<VkDependencyInfo>(VK_STRUCTURE_TYPE_DEPENDENCY_INFO);
    dep.memoryBarrierCount = 1;
    dep.pMemoryBarriers = &barrier;
    vkCmdPipelineBarrier2(cmd, &dep);
}

VkWriteDescriptorSet BufferWrite(std::uint32_t binding, VkDescriptorType type,
                                 const VkDescriptorBufferInfo* info) {
    auto write = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
    write.dstBinding = binding;
    write.descriptorCount = 1;
    write.descriptorType = type;
    write.pBufferInfo = info;
    return write;
}

VkWriteDescriptorSet ImageWrite(std::uint32_t binding, const VkDescriptorImageInfo* info) {
    auto write = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
    write.dstBinding = binding;
    write.descriptorCount = 1;
    write.descriptorType = VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE;
    write.pImageInfo = info;
    return write;
}

// Without targets the frame still shows the background.
void ClearBackBuffer(VkCommandBuffer cmd, const BackBuffer& target) {
    Barrier(cmd, target.image, VK_IMAGE_ASPECT_COLOR_BIT, VK_IMAGE_LAYOUT_UNDEFINED,
            VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    const VkClearColorValue white{{1.0f, 1.0f, 1.0f, 1.0f}};
    const VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(cmd, target.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &white, 1,
                         &range);
    Barrier(cmd, target.image, VK_IMAGE_ASPECT_COLOR_BIT, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
            target.presentLayout);
}

}  // namespace

Matrix4 LookAtLeftHanded(const Vector4& eye, const Vector4& target, const Vector4& up) {
    const Vector4 z = Normalize3(Subtract3(target, eye));
    const Vector4 x = Normalize3(Cross3(up, z));
    const Vector4 y = Cross3(z, x);
    Matrix4 m;
    const Vector4 axes[3] = {x, y, z};
    for (int c = 0; c < 3; ++c) {
        m.m[0][c] = axes[c].x;
        m.m[1][c] = axes[c].y;
        m.m[2][c] = axes[c].z;
        m.m[3][c] = -Dot3(axes[c], eye);
    }
    return m;
}

Matrix4 PerspectiveLeftHanded(float fovY, float aspect, float nearZ, float farZ) {
    const float h = 1.0f / std::tan(fovY * 0.5f);
    const float range = farZ / (farZ - nearZ);
    Matrix4 m;
    m.m[0][0] = h / aspect;
    m.m[1][1] = h;
    m.m[2][2] = range;
    m.m[2][3] = 1.0f;
    m.m[3][2] = -range * nearZ;
    m.m[3][3] = 0.0f;
    return m;
}

Matrix4 OrthographicLeftHanded(float width, float height, float nearZ, float farZ) {
    Matrix4 m;
    m.m[0][0] = 2.0f / width;
    m.m[1][1] = 2.0f / height;
    m.m[2][2] = 1.0f / (farZ - nearZ);
    m.m[3][2] = -nearZ / (farZ - nearZ);
    return m;
}

SceneConstants BuildSceneConstants(const Camera& camera, const SceneLight& light, float aspect,
                                   float elapsedTime) {
    SceneConstants c{};
    const Matrix4 identity;
    const Matrix4 view = LookAtLeftHanded(camera.eye, camera.target, camera.up);
    const float fovY = camera.fieldOfViewDegrees * 3.14159265f / 180.0f;
    const Matrix4 projection =
        PerspectiveLeftHanded(fovY, aspect, camera.nearPlane, camera.farPlane);
    StoreTransposed(identity, c.mModel);
    StoreTransposed(view, c.mView);
    StoreTransposed(projection, c.mProjection);
    StoreTransposed(Multiply(view, projection), c.mMVP);
    // w = 1 for points and 0 for the direction, so that differences with a
    // world position (w = 1) are plain 3-D vectors.
    const float cameraPos[4] = {camera.eye.x, camera.eye.y, camera.eye.z, 1.0f};
    const float lightPos[4] = {light.position.x, light.position.y, light.position.z, 1.0f};
    const float lightDir[4] = {light.direction.x, light.direction.y, light.direction.z, 0.0f};
    const float lightColor[4] = {light.color.x, light.color.y, light.color.z, 1.0f};
    for (int i = 0; i < 4; ++i) {
        c.cameraPos[i] = cameraPos[i];
        c.lightPos[i] = lightPos[i];
        c.lightDir[i] = lightDir[i];
        c.lightColor[i] = lightColor[i];
    }
    StoreTransposed(LookAtLeftHanded(light.position, light.target, Vector4{0, 1, 0, 0}),
                    c.lightView);
    StoreTransposed(
        OrthographicLeftHanded(light.width, light.height, light.nearPlane, light.farPlane),
        c.lightProjection);
    c.elapsedTime = elapsedTime;
    return c;
}

SceneRenderer::~SceneRenderer() {
    Release();
}

HRESULT SceneRenderer::Initialize(const GpuContext& gpu) {
    gpu_ = gpu;
    pushDescriptors_ = reinterpret_cast<PFN_vkCmdPushDescriptorSetKHR>(
        vkGetDeviceProcAddr(gpu.device, "vkCmdPushDescriptorSetKHR"));
    if (pushDescriptors_ == nullptr) {
        return E_FAIL;
    }
    const VkSamplerAddressMode modes[3] = {VK_SAMPLER_ADDRESS_MODE_REPEAT,
                                           VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE,
                                           VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_BORDER};
    for (int i = 0; i < 3; ++i) {
        auto info = VkStruct<VkSamplerCreateInfo>(VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO);
        info.magFilter = VK_FILTER_LINEAR;
        info.minFilter = VK_FILTER_LINEAR;
        info.mipmapMode = VK_SAMPLER_MIPMAP_MODE_LINEAR;
        info.addressModeU = info.addressModeV = info.addressModeW = modes[i];
        info.maxAnisotropy = 1.0f;
        info.compareOp = VK_COMPARE_OP_NEVER;
        info.maxLod = VK_LOD_CLAMP_NONE;
        info.borderColor = VK_BORDER_COLOR_FLOAT_OPAQUE_WHITE;
        if (vkCreateSampler(gpu.device, &info, nullptr, &samplers_[i]) != VK_SUCCESS) {
            return E_FAIL;
        }
    }
    const std::uint8_t white[4] = {255, 255, 255, 255};
    HRESULT hr = CreateTexture(gpu_, 1, 1, white, &whiteTexture_);
    for (std::uint32_t n = 0; Succeeded(hr) && n < kToonCount; ++n) {
        std::uint32_t w = 0, h = 0;
        const std::vector<std::uint8_t> ramp = DrawToonRamp(n + 1, &w, &h);
        hr = CreateTexture(gpu_, w, h, ramp.data(), &toons_[n]);
    }
    return Succeeded(hr) ? CreatePipelines() : hr;
}

HRESULT SceneRenderer::CreatePipelines() {
    VkDevice device = gpu_.device;
    // Raster: b0, b1, t0..t2, and the three samplers fixed in the layout.
    std::vector<VkDescriptorSetLayoutBinding> raster = {
        {kB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1,
         VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT, nullptr},
        {kB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1,
         VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT, nullptr},
    };
    for (std::uint32_t t = 0; t < 3; ++t) {
        raster.push_back(
            {kT0 + t, VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE, 1, VK_SHADER_STAGE_FRAGMENT_BIT, nullptr});
    }
    for (std::uint32_t s = 0; s < 3; ++s) {
        raster.push_back(
            {kS0 + s, VK_DESCRIPTOR_TYPE_SAMPLER, 1, VK_SHADER_STAGE_FRAGMENT_BIT, &samplers_[s]});
    }
    std::vector<VkDescriptorSetLayoutBinding> skinning = {
        {kB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr},
        {kU0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr},
    };
    for (std::uint32_t t = 0; t < 6; ++t) {
        skinning.push_back(
            {kT0 + t, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr});
    }
    auto makeLayout = [&](const std::vector<VkDescriptorSetLayoutBinding>& bindings,
                          VkDescriptorSetLayout* set, VkPipelineLayout* layout) {
        auto info = VkStruct<VkDescriptorSetLayoutCreateInfo>(
            VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
        info.flags = VK_DESCRIPTOR_SET_LAYOUT_CREATE_PUSH_DESCRIPTOR_BIT_KHR;
        info.bindingCount = static_cast<std::uint32_t>(bindings.size());
        info.pBindings = bindings.data();
        if (vkCreateDescriptorSetLayout(device, &info, nullptr, set) != VK_SUCCESS) {
            return false;
        }
        auto layoutInfo =
            VkStruct<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
        layoutInfo.setLayoutCount = 1;
        layoutInfo.pSetLayouts = set;
        return vkCreatePipelineLayout(device, &layoutInfo, nullptr, layout) == VK_SUCCESS;
    };
    if (!makeLayout(raster, &rasterSetLayout_, &rasterLayout_) ||
        !makeLayout(skinning, &skinningSetLayout_, &skinningLayout_)) {
        return E_FAIL;
    }

    VkShaderModule cs = CreateModule(device, k_skinning_cs, sizeof(k_skinning_cs));
    VkShaderModule vs = CreateModule(device, k_main_vs, sizeof(k_main_vs));
    VkShaderModule ps = CreateModule(device, k_toon_ps, sizeof(k_toon_ps));
    HRESULT hr = cs && vs && ps ? S_OK : E_FAIL;

    if (Succeeded(hr)) {
        auto info =
            VkStruct<VkComputePipelineCreateInfo>(VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO);
        info.stage = VkStruct<VkPipelineShaderStageCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
        info.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
        info.stage.module = cs;
        info.stage.pName = "main";
        info.layout = skinningLayout_;
        if (vkCreateComputePipelines(device, VK_NULL_HANDLE, 1, &info, nullptr,
                                     &skinningPipeline_) != VK_SUCCESS) {
            hr = E_FAIL;
        }
    }

    for (VkCullModeFlags cull : {VK_CULL_MODE_BACK_BIT, VK_CULL_MODE_NONE}) {
        if (Failed(hr)) {
            break;
        }
        VkPipelineShaderStageCreateInfo stages[2];
        for (int i = 0; i < 2; ++i) {
            stages[i] = VkStruct<VkPipelineShaderStageCreateInfo>(
                VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
            stages[i].pName = "main";
        }
        stages[0].stage = VK_SHADER_STAGE_VERTEX_BIT;
        stages[0].module = vs;
        stages[1].stage = VK_SHADER_STAGE_FRAGMENT_BIT;
        stages[1].module = ps;

        const VkVertexInputBindingDescription binding{0, sizeof(VsInput),
                                                      VK_VERTEX_INPUT_RATE_VERTEX};
        const VkVertexInputAttributeDescription attributes[5] = {
            {0, 0, VK_FORMAT_R32G32B32_SFLOAT, 0},     {1, 0, VK_FORMAT_R32G32B32_SFLOAT, 12},
            {2, 0, VK_FORMAT_R32G32_SFLOAT, 24},       {3, 0, VK_FORMAT_R32G32B32A32_UINT, 32},
            {4, 0, VK_FORMAT_R32G32B32A32_SFLOAT, 48},
        };
        auto vertexInput = VkStruct<VkPipelineVertexInputStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_VERTEX_INPUT_STATE_CREATE_INFO);
        vertexInput.vertexBindingDescriptionCount = 1;
        vertexInput.pVertexBindingDescriptions = &binding;
        // The built-in vertex program reads only the first three.
        vertexInput.vertexAttributeDescriptionCount = 3;
        vertexInput.pVertexAttributeDescriptions = attributes;
        auto assembly = VkStruct<VkPipelineInputAssemblyStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_INPUT_ASSEMBLY_STATE_CREATE_INFO);
        assembly.topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
        auto viewport = VkStruct<VkPipelineViewportStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_VIEWPORT_STATE_CREATE_INFO);
        viewport.viewportCount = 1;
        viewport.scissorCount = 1;
        auto rasterState = VkStruct<VkPipelineRasterizationStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_RASTERIZATION_STATE_CREATE_INFO);
        rasterState.polygonMode = VK_POLYGON_MODE_FILL;
        rasterState.cullMode = cull;
        // With the flipped viewport the screen keeps Direct3D's orientation,
        // where front faces wind clockwise.
        rasterState.frontFace = VK_FRONT_FACE_CLOCKWISE;
        rasterState.lineWidth = 1.0f;
        auto multisample = VkStruct<VkPipelineMultisampleStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO);
        multisample.rasterizationSamples = VK_SAMPLE_COUNT_1_BIT;
        auto depth = VkStruct<VkPipelineDepthStencilStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_DEPTH_STENCIL_STATE_CREATE_INFO);
        depth.depthTestEnable = VK_TRUE;
        depth.depthWriteEnable = VK_TRUE;
        depth.depthCompareOp = VK_COMPARE_OP_LESS_OR_EQUAL;
        VkPipelineColorBlendAttachmentState blendTarget{};
        blendTarget.blendEnable = VK_TRUE;
        blendTarget.srcColorBlendFactor = VK_BLEND_FACTOR_SRC_ALPHA;
        blendTarget.dstColorBlendFactor = VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA;
        blendTarget.colorBlendOp = VK_BLEND_OP_ADD;
        blendTarget.srcAlphaBlendFactor = VK_BLEND_FACTOR_ONE;
        blendTarget.dstAlphaBlendFactor = VK_BLEND_FACTOR_ZERO;
        blendTarget.alphaBlendOp = VK_BLEND_OP_ADD;
        blendTarget.colorWriteMask = VK_COLOR_COMPONENT_R_BIT | VK_COLOR_COMPONENT_G_BIT |
                                     VK_COLOR_COMPONENT_B_BIT | VK_COLOR_COMPONENT_A_BIT;
        auto blend = VkStruct<VkPipelineColorBlendStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_COLOR_BLEND_STATE_CREATE_INFO);
        blend.attachmentCount = 1;
        blend.pAttachments = &blendTarget;
        const VkDynamicState dynamicStates[2] = {VK_DYNAMIC_STATE_VIEWPORT,
                                                 VK_DYNAMIC_STATE_SCISSOR};
        auto dynamic = VkStruct<VkPipelineDynamicStateCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_DYNAMIC_STATE_CREATE_INFO);
        dynamic.dynamicStateCount = 2;
        dynamic.pDynamicStates = dynamicStates;
        auto rendering = VkStruct<VkPipelineRenderingCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_RENDERING_CREATE_INFO);
        rendering.colorAttachmentCount = 1;
        rendering.pColorAttachmentFormats = &kColorFormat;
        rendering.depthAttachmentFormat = kDepthFormat;

        auto info =
            VkStruct<VkGraphicsPipelineCreateInfo>(VK_STRUCTURE_TYPE_GRAPHICS_PIPELINE_CREATE_INFO);
        info.pNext = &rendering;
        info.stageCount = 2;
        info.pStages = stages;
        info.pVertexInputState = &vertexInput;
        info.pInputAssemblyState = &assembly;
        info.pViewportState = &viewport;
        info.pRasterizationState = &rasterState;
        info.pMultisampleState = &multisample;
        info.pDepthStencilState = &depth;
        info.pColorBlendState = &blend;
        info.pDynamicState = &dynamic;
        info.layout = rasterLayout_;
        VkPipeline* out = cull == VK_CULL_MODE_NONE ? &mainCullNone_ : &mainCullBack_;
        if (vkCreateGraphicsPipelines(device, VK_NULL_HANDLE, 1, &info, nullptr, out) !=
            VK_SUCCESS) {
            hr = E_FAIL;
        }
    }
    for (VkShaderModule module : {cs, vs, ps}) {
        if (module != VK_NULL_HANDLE) {
            vkDestroyShaderModule(device, module, nullptr);
        }
    }
    return hr;
}

void SceneRenderer::DestroyTargets(Targets* t) {
    DestroyColorImage(gpu_.device, &t->color);
    DestroyColorImage(gpu_.device, &t->depth);
    *t = {};
}

HRESULT SceneRenderer::EnsureTargets(std::uint32_t width, std::uint32_t height) {
    if (targets_.color.image != VK_NULL_HANDLE && targets_.width == width &&
        targets_.height == height) {
        return S_OK;
    }
    // The back buffers change size only after a wait for the GPU, but the
    // old targets are still kept until every frame that could have used
    // them is known to be finished.
    if (targets_.color.image != VK_NULL_HANDLE) {
        retiredTargets_.emplace_back(recordedFrames_, targets_);
        targets_ = {};
    }
    Targets t;
    t.width = width;
    t.height = height;
    HRESULT hr = CreateColorImage(
        gpu_.physical, gpu_.device, width, height, kColorFormat,
        VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT, &t.color);
    if (Failed(hr)) {
        return hr;
    }
    hr = CreateColorImage(gpu_.physical, gpu_.device, width, height, kDepthFormat,
                          VK_IMAGE_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT, &t.depth,
                          VK_IMAGE_ASPECT_DEPTH_BIT);
    if (Failed(hr)) {
        DestroyTargets(&t);
        return hr;
    }
    targets_ = t;
    return S_OK;
}

void SceneRenderer::Release() {
    if (gpu_.device == VK_NULL_HANDLE) {
        return;
    }
    vkDeviceWaitIdle(gpu_.device);
    for (auto& [instance, model] : models_) {
        DestroyModelGpu(gpu_.device, model.get());
    }
    models_.clear();
    for (auto& model : retiredModels_) {
        DestroyModelGpu(gpu_.device, model.get());
    }
    retiredModels_.clear();
    DestroyTargets(&targets_);
    for (auto& [frame, t] : retiredTargets_) {
        DestroyTargets(&t);
    }
    retiredTargets_.clear();
    for (VkPipeline p : {skinningPipeline_, mainCullBack_, mainCullNone_}) {
        if (p != VK_NULL_HANDLE) {
            vkDestroyPipeline(gpu_.device, p, nullptr);
        }
    }
    for (VkPipelineLayout l : {rasterLayout_, skinningLayout_}) {
        if (l != VK_NULL_HANDLE) {
            vkDestroyPipelineLayout(gpu_.device, l, nullptr);
        }
    }
    for (VkDescriptorSetLayout l : {rasterSetLayout_, skinningSetLayout_}) {
        if (l != VK_NULL_HANDLE) {
            vkDestroyDescriptorSetLayout(gpu_.device, l, nullptr);
        }
    }
    for (VkSampler s : samplers_) {
        if (s != VK_NULL_HANDLE) {
            vkDestroySampler(gpu_.device, s, nullptr);
        }
    }
    DestroyColorImage(gpu_.device, &whiteTexture_);
    for (OwnedImage& toon : toons_) {
        DestroyColorImage(gpu_.device, &toon);
    }
    skinningPipeline_ = mainCullBack_ = mainCullNone_ = VK_NULL_HANDLE;
    rasterLayout_ = skinningLayout_ = VK_NULL_HANDLE;
    rasterSetLayout_ = skinningSetLayout_ = VK_NULL_HANDLE;
    samplers_ = {};
    gpu_ = {};
}

HRESULT SceneRenderer::CreateModel(const ModelInstance& instance, const PmxModel& model,
                                   std::string* message) {
    auto gpu = std::make_unique<ModelGpu>();
    const HRESULT hr = CreateModelGpu(gpu_, model, instance, gpu.get(), message);
    if (hr != S_OK) {
        return hr;
    }
    // An address can come back for a new instance once an old one is gone;
    // the old GPU half may still be in flight, so it waits for release.
    if (auto it = models_.find(&instance); it != models_.end()) {
        retiredModels_.push_back(std::move(it->second));
    }
    models_[&instance] = std::move(gpu);
    return S_OK;
}

void SceneRenderer::ReleaseModel(const ModelInstance& instance) {
    if (auto it = models_.find(&instance); it != models_.end()) {
        DestroyModelGpu(gpu_.device, it->second.get());
        models_.erase(it);
    }
}

const ModelGpu* SceneRenderer::Find(const ModelInstance* instance) const {
    auto it = models_.find(instance);
    return it != models_.end() ? it->second.get() : nullptr;
}

void SceneRenderer::RecordSkinning(VkCommandBuffer cmd, std::uint32_t f, ModelGpu& m) {
    const VkDescriptorBufferInfo constants{m.skinningConstants.buffer, 0, VK_WHOLE_SIZE};
    const VkDescriptorBufferInfo output{m.skinnedOutput.buffer, 0, VK_WHOLE_SIZE};
    const VkDescriptorBufferInfo bones{m.boneMatrices.buffer.buffer, m.boneMatrices.Offset(f),
                                       m.boneMatrices.slotSize};
    const VkDescriptorBufferInfo vertexWeights{m.vertexMorphWeights.buffer.buffer,
                                               m.vertexMorphWeights.Offset(f),
                                               m.vertexMorphWeights.slotSize};
    const VkDescriptorBufferInfo vertexOffsets{m.vertexMorphOffsets.buffer, 0, VK_WHOLE_SIZE};
    const VkDescriptorBufferInfo uvWeights{m.uvMorphWeights.buffer.buffer,
                                           m.uvMorphWeights.Offset(f), m.uvMorphWeights.slotSize};
    const VkDescriptorBufferInfo uvOffsets{m.uvMorphOffsets.buffer, 0, VK_WHOLE_SIZE};
    const VkDescriptorBufferInfo input{m.skinningInput.buffer, 0, VK_WHOLE_SIZE};
    const VkWriteDescriptorSet writes[8] = {
        BufferWrite(kB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &constants),
        BufferWrite(kU0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &output),
        BufferWrite(kT0 + 0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &bones),
        BufferWrite(kT0 + 1, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &vertexWeights),
        BufferWrite(kT0 + 2, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &vertexOffsets),
        BufferWrite(kT0 + 3, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &uvWeights),
        BufferWrite(kT0 + 4, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &uvOffsets),
        BufferWrite(kT0 + 5, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &input),
    };
    pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, skinningLayout_, 0, 8, writes);
    vkCmdDispatch(cmd, (m.vertexCount + 127) / 128, 1, 1);
}

void SceneRenderer::RecordDraws(VkCommandBuffer cmd, std::uint32_t f, ModelGpu& m) {
    const VkDeviceSize zero = 0;
    vkCmdBindVertexBuffers(cmd, 0, 1, &m.skinnedOutput.buffer, &zero);
    vkCmdBindIndexBuffer(cmd, m.indexBuffer.buffer, 0, VK_INDEX_TYPE_UINT32);
    const VkDescriptorBufferInfo scene{m.sceneConstants.buffer.buffer, m.sceneConstants.Offset(f),
                                       sizeof(SceneConstants)};
    VkPipeline bound = VK_NULL_HANDLE;
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        if (draw.indexCount == 0) {
            continue;
        }
        VkPipeline pipeline = draw.doubleSided ? mainCullNone_ : mainCullBack_;
        if (pipeline != bound) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
            bound = pipeline;
        }
        const VkDescriptorBufferInfo material{m.materialBuffer.buffer.buffer,
                                              m.materialBuffer.Offset(f) + i * kMaterialSlotSize,
                                              sizeof(MaterialConstants)};
        // Every texture slot holds an image: the flags in the constants say
        // which of them are real.
        auto view = [&](std::int32_t index, bool shared) {
            if (index < 0) {
                return whiteTexture_.view;
            }
            return shared ? toons_[static_cast<std::size_t>(index)].view
                          : m.textures[static_cast<std::size_t>(index)].view;
        };
        const VkDescriptorImageInfo images[3] = {
            {VK_NULL_HANDLE, view(draw.baseTexture, false),
             VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL},
            {VK_NULL_HANDLE, view(draw.sphereTexture, false),
             VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL},
            {VK_NULL_HANDLE, view(draw.toonTexture, draw.sharedToon),
             VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL},
        };
        const VkWriteDescriptorSet writes[5] = {
            BufferWrite(kB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &material),
            BufferWrite(kB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &scene),
            ImageWrite(kT0 + 0, &images[0]),
            ImageWrite(kT0 + 1, &images[1]),
            ImageWrite(kT0 + 2, &images[2]),
        };
        pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, rasterLayout_, 0, 5, writes);
        vkCmdDrawIndexed(cmd, draw.indexCount, 1, draw.firstIndex, 0, 0);
    }
}

void SceneRenderer::Record(const Scene& scene, VkCommandBuffer compute, VkCommandBuffer direct,
                           std::uint32_t f, const BackBuffer& target) {
    if (target.image == VK_NULL_HANDLE) {
        return;
    }
    // Recording frame f starts after the GPU finished that buffer's previous
    // frame, so everything recorded kFrameCount frames ago is done.
    ++recordedFrames_;
    std::erase_if(retiredTargets_, [&](std::pair<std::uint64_t, Targets>& entry) {
        if (entry.first + kFrameCount < recordedFrames_) {
            DestroyTargets(&entry.second);
            return true;
        }
        return false;
    });
    if (Failed(EnsureTargets(target.width, target.height))) {
        ClearBackBuffer(direct, target);
        return;
    }
    const float aspect = static_cast<float>(target.width) / static_cast<float>(target.height);
    const SceneConstants constants =
        BuildSceneConstants(scene.camera, light_, aspect, scene.elapsedTime);

    std::vector<ModelGpu*> drawn;
    for (const auto& instance : scene.models) {
        auto it = models_.find(instance.get());
        if (it != models_.end()) {
            UploadModelFrame(*it->second, *instance, f, constants);
            drawn.push_back(it->second.get());
        }
    }

    // Skinning: the previous frame's draws read the output before it is
    // written again.
    if (!drawn.empty()) {
        MemoryBarrier(compute, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT,
                      VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT, VK_ACCESS_2_SHADER_WRITE_BIT);
        vkCmdBindPipeline(compute, VK_PIPELINE_BIND_POINT_COMPUTE, skinningPipeline_);
        for (ModelGpu* m : drawn) {
            RecordSkinning(compute, f, *m);
        }
        MemoryBarrier(compute, VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT, VK_ACCESS_2_SHADER_WRITE_BIT,
                      VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT);
    }

    // The scene colour rests in the copy-source layout between frames.
    const VkImageLayout colorRest = VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL;
    const VkImageLayout depthRest = VK_IMAGE_LAYOUT_DEPTH_ATTACHMENT_OPTIMAL;
    Barrier(direct, targets_.color.image, VK_IMAGE_ASPECT_COLOR_BIT,
            targets_.fresh ? VK_IMAGE_LAYOUT_UNDEFINED : colorRest,
            VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    Barrier(direct, targets_.depth.image, VK_IMAGE_ASPECT_DEPTH_BIT,
            targets_.fresh ? VK_IMAGE_LAYOUT_UNDEFINED : depthRest, depthRest);
    targets_.fresh = false;

    auto colorAttachment =
        VkStruct<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
    colorAttachment.imageView = targets_.color.view;
    colorAttachment.imageLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    colorAttachment.loadOp = VK_ATTACHMENT_LOAD_OP_CLEAR;
    colorAttachment.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
    colorAttachment.clearValue.color = {{1.0f, 1.0f, 1.0f, 1.0f}};
    auto depthAttachment =
        VkStruct<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
    depthAttachment.imageView = targets_.depth.view;
    depthAttachment.imageLayout = depthRest;
    depthAttachment.loadOp = VK_ATTACHMENT_LOAD_OP_CLEAR;
    depthAttachment.storeOp = VK_ATTACHMENT_STORE_OP_DONT_CARE;
    depthAttachment.clearValue.depthStencil = {1.0f, 0};
    auto rendering = VkStruct<VkRenderingInfo>(VK_STRUCTURE_TYPE_RENDERING_INFO);
    rendering.renderArea = {{0, 0}, {targets_.width, targets_.height}};
    rendering.layerCount = 1;
    rendering.colorAttachmentCount = 1;
    rendering.pColorAttachments = &colorAttachment;
    rendering.pDepthAttachment = &depthAttachment;
    vkCmdBeginRendering(direct, &rendering);
    // A negative height keeps Direct3D's clip space: y up, origin at the top.
    const VkViewport viewport{0.0f,
                              static_cast<float>(targets_.height),
                              static_cast<float>(targets_.width),
                              -static_cast<float>(targets_.height),
                              0.0f,
                              1.0f};
    const VkRect2D scissor{{0, 0}, {targets_.width, targets_.height}};
    vkCmdSetViewport(direct, 0, 1, &viewport);
    vkCmdSetScissor(direct, 0, 1, &scissor);
    for (ModelGpu* m : drawn) {
        RecordDraws(direct, f, *m);
    }
    vkCmdEndRendering(direct);
    Barrier(direct, targets_.color.image, VK_IMAGE_ASPECT_COLOR_BIT,
            VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, colorRest);

    Barrier(direct, target.image, VK_IMAGE_ASPECT_COLOR_BIT, VK_IMAGE_LAYOUT_UNDEFINED,
            VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    if (target.format == kColorFormat) {
        VkImageCopy region{};
        region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        region.dstSubresource = region.srcSubresource;
        region.extent = {targets_.width, targets_.height, 1};
        vkCmdCopyImage(direct, targets_.color.image, colorRest, target.image,
                       VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    } else {
        // A surface that offers only BGRA gets the channels swapped by a blit.
        VkImageBlit region{};
        region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        region.dstSubresource = region.srcSubresource;
        region.srcOffsets[1] = {static_cast<std::int32_t>(targets_.width),
                                static_cast<std::int32_t>(targets_.height), 1};
        region.dstOffsets[1] = region.srcOffsets[1];
        vkCmdBlitImage(direct, targets_.color.image, colorRest, target.image,
                       VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region, VK_FILTER_NEAREST);
    }
    Barrier(direct, target.image, VK_IMAGE_ASPECT_COLOR_BIT, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
            target.presentLayout);
}
