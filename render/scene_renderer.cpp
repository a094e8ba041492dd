// Records a frame: skinning, shadow map, main pass with outlines, resolve, copy to screen.
#include "render/scene_renderer.h"
#include "core/vk_struct.h"
#include "render/pipeline_cache_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "render/material_pipelines.h"
#include "scene/scene.h"

namespace qv {

namespace {

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

VkRenderingAttachmentInfo ColorAttachment(VkImageView view, VkAttachmentLoadOp load) {
    auto a = VkStruct<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
    a.imageView = view;
    a.imageLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    a.loadOp = load;
    a.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
    a.clearValue.color = {{1.0f, 1.0f, 1.0f, 1.0f}};
    return a;
}

VkRenderingAttachmentInfo DepthAttachment(VkImageView view, VkAttachmentStoreOp store,
                                          VkImageLayout layout = kDepthRestLayout) {
    auto a = VkStruct<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
    a.imageView = view;
    a.imageLayout = layout;
    a.loadOp = VK_ATTACHMENT_LOAD_OP_CLEAR;
    a.storeOp = store;
    a.clearValue.depthStencil = {1.0f, 0};
    return a;
}

void BeginRendering(VkCommandBuffer cmd, std::uint32_t width, std::uint32_t height,
                    const VkRenderingAttachmentInfo* color, const VkRenderingAttachmentInfo* depth,
                    const VkRenderingAttachmentInfo* stencil = nullptr) {
    auto info = VkStruct<VkRenderingInfo>(VK_STRUCTURE_TYPE_RENDERING_INFO);
    info.renderArea = {{0, 0}, {width, height}};
    info.layerCount = 1;
    info.colorAttachmentCount = color != nullptr ? 1 : 0;
    info.pColorAttachments = color;
    info.pDepthAttachment = depth;
    info.pStencilAttachment = stencil;
    vkCmdBeginRendering(cmd, &info);
}

// The skinned vertices and the extras beside them.
void BindVertexBuffers(VkCommandBuffer cmd, const ModelGpu& m) {
    const VkBuffer buffers[2] = {m.skinnedOutput.buffer, m.vertexExtras.buffer};
    const VkDeviceSize offsets[2] = {0, 0};
    vkCmdBindVertexBuffers(cmd, 0, 2, buffers, offsets);
}

// Whether any material of the model is drawn by a program that will read
// the shadow map this frame.
bool ReadsShadowMap(const ModelGpu& m) {
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        const MaterialConstants& c = m.materialConstants[i];
        if (draw.indexCount != 0 && c.receiveShadow != 0 &&
            (!draw.shadowNeedsToon || c.textureBind[2] != 0)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::int32_t EffectiveAntiAliasingMode(std::int32_t mode, bool eightSamples) {
    if (mode == kMsaa8x && !eightSamples) {
        return kMsaa4x;
    }
    return mode >= kAntiAliasingNone && mode <= kMsaa8x ? mode : kAntiAliasingNone;
}

ShaderSetCode SceneShaderSet(const SceneContent& scene, std::int32_t index) {
    if (index == 0 || index == 1) {
        return BuiltInShaderSet(index);
    }
    if (index > 1 && static_cast<std::size_t>(index) < scene.shaders.size()) {
        const ShaderProgram& program = scene.shaders[static_cast<std::size_t>(index)].program;
        ShaderSetCode set;
        set.name = static_cast<std::size_t>(index) < scene.shaders.size()
                       ? scene.shaders[static_cast<std::size_t>(index)].entry.name
                       : std::string();
        set.vertex = program.vertexCode;
        set.vertexEntry = "VS";
        set.pixel = program.pixelCode;
        set.pixelEntry = "PS";
        return set;
    }
    return BuiltInShaderSet(0);
}

SceneRenderer::~SceneRenderer() {
    Release();
}

HRESULT SceneRenderer::Initialize(const GpuContext& gpu, std::string* message) {
    std::string ignored;
    if (message == nullptr) {
        message = &ignored;
    }
    gpu_ = gpu;
    pushDescriptors_ = reinterpret_cast<PFN_vkCmdPushDescriptorSetKHR>(
        vkGetDeviceProcAddr(gpu.device, "vkCmdPushDescriptorSetKHR"));
    if (pushDescriptors_ == nullptr) {
        *message = "the device cannot push descriptors";
        return E_FAIL;
    }
    eightSamples_ = SupportsEightSamples(gpu.physical);
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
    HRESULT hr = LoadToonTextures(gpu_, &toons_, message);
    if (Succeeded(hr)) {
        const std::uint8_t white[4] = {255, 255, 255, 255};
        hr = CreateTexture(gpu_, 1, 1, white, &whiteTexture_);
    }
    if (Succeeded(hr)) {
        hr = CreateFrameBuffer(gpu_, kSceneSlotSize, VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT,
                               &shadowConstants_);
    }
    if (Succeeded(hr)) {
        // The light never moves: its constants are written once for every
        // frame slot.
        const SceneConstants shadow = BuildShadowConstants(light_);
        for (std::uint32_t f = 0; f < kFrameCount; ++f) {
            std::memcpy(shadowConstants_.Slot(f), &shadow, sizeof(shadow));
        }
        hr = CreateShadowMaps(gpu_, &shadowMaps_);
    }
    if (Succeeded(hr)) {
        hr = CreatePipelineLayouts(gpu_.device, samplers_, &layouts_);
    }
    if (Succeeded(hr)) {
        const std::filesystem::path folder = PipelineCacheFolder();
        pipelines_.Initialize(gpu_.physical, gpu_.device, &layouts_,
                              folder.empty() ? folder : folder / kPipelineCacheFileName);
        hr = CreateFixedPipelines();
    }
    if (Succeeded(hr) && gpu_.rayTracing) {
        // Without its pipeline the player still draws, rasterised.
        raytracing_ = std::make_unique<RaytracingRenderer>();
        if (Failed(raytracing_->Initialize(gpu_, samplers_[0], samplers_[1], &rayTracingError_))) {
            raytracing_.reset();
        }
    }
    return hr;
}

HRESULT SceneRenderer::RebuildRayTracing(const Scene& scene, std::string* message) {
    std::string ignored;
    if (message == nullptr) {
        message = &ignored;
    }
    if (raytracing_ == nullptr) {
        *message = rayTracingError_.empty() ? "the device offers no ray tracing" : rayTracingError_;
        return E_FAIL;
    }
    std::vector<const ModelGpu*> models;
    for (const auto& record : scene.models) {
        if (const ModelGpu* m = Find(record.instance.get()); m != nullptr) {
            models.push_back(m);
        }
    }
    const HRESULT hr = raytracing_->Rebuild(models, whiteTexture_.view, toons_, message);
    builtGeneration_ = Succeeded(hr) ? modelGeneration_ : ~std::uint64_t{0};
    return hr;
}

bool SceneRenderer::RayTracingReady(const Scene& scene) const {
    if (!scene.render.rayTracing || raytracing_ == nullptr || !raytracing_->Built() ||
        builtGeneration_ != modelGeneration_) {
        return false;
    }
    const std::vector<const ModelGpu*>& built = raytracing_->BuiltModels();
    return std::equal(built.begin(), built.end(), drawn_.begin(), drawn_.end());
}

HRESULT SceneRenderer::CreateFixedPipelines() {
    HRESULT hr =
        CreateSkinningPipeline(gpu_.device, layouts_, pipelines_.Cache(), &skinningPipeline_);
    if (Succeeded(hr)) {
        hr = pipelines_.Get(ShadowPipelineKey(VK_CULL_MODE_BACK_BIT), &shadowPipelines_[0]);
    }
    if (Succeeded(hr)) {
        hr = pipelines_.Get(ShadowPipelineKey(VK_CULL_MODE_NONE), &shadowPipelines_[1]);
    }
    for (int high = 0; high < 2 && Succeeded(hr); ++high) {
        RasterPipelineKey post;
        post.kind = RasterKind::Post;
        const auto vs = BuiltInPrograms::FullScreenVertex();
        const auto ps =
            high != 0 ? BuiltInPrograms::FxaaHighPixel() : BuiltInPrograms::FxaaLowPixel();
        post.vertex.assign(vs.begin(), vs.end());
        post.pixel.assign(ps.begin(), ps.end());
        hr = pipelines_.Get(post, high != 0 ? &fxaaHighPipeline_ : &fxaaLowPipeline_);
    }
    // Main and edge pipelines of the default shader set and the common
    // culling modes, ahead of the first model.
    for (std::size_t i = 0; i < kMaterialSampleCounts.size() && Succeeded(hr); ++i) {
        if (kMaterialSampleCounts[i] != VK_SAMPLE_COUNT_8_BIT || eightSamples_) {
            hr = pipelines_.Get(GroundShadowPipelineKey(kMaterialSampleCounts[i]),
                                &groundShadowPipelines_[i]);
        }
    }
    for (VkCullModeFlags cull : {VK_CULL_MODE_BACK_BIT, VK_CULL_MODE_NONE}) {
        for (VkSampleCountFlagBits samples : kMaterialSampleCounts) {
            if (Failed(hr) || (samples == VK_SAMPLE_COUNT_8_BIT && !eightSamples_)) {
                continue;
            }
            VkPipeline ignored = VK_NULL_HANDLE;
            hr = pipelines_.Get(MainPipelineKey(BuiltInShaderSet(1), cull, samples), &ignored);
            if (Succeeded(hr) && cull == VK_CULL_MODE_BACK_BIT) {
                hr = pipelines_.Get(EdgePipelineKey(samples), &ignored);
            }
        }
    }
    return hr;
}

HRESULT SceneRenderer::EnsureTargets(std::uint32_t width, std::uint32_t height) {
    if (targets_.sceneColor.image != VK_NULL_HANDLE && targets_.width == width &&
        targets_.height == height) {
        return S_OK;
    }
    // The back buffers change size only after a wait for the GPU, but the
    // old targets are still kept until every frame that could have used
    // them is known to be finished.
    if (targets_.sceneColor.image != VK_NULL_HANDLE) {
        retiredTargets_.emplace_back(recordedFrames_, targets_);
        targets_ = {};
    }
    return CreateFrameTargets(gpu_, width, height, eightSamples_, &targets_);
}

void SceneRenderer::Release() {
    if (gpu_.device == VK_NULL_HANDLE) {
        return;
    }
    vkDeviceWaitIdle(gpu_.device);
    raytracing_.reset();
    for (auto& [instance, model] : models_) {
        DestroyModelGpu(gpu_.device, model.get());
    }
    models_.clear();
    for (auto& model : retiredModels_) {
        DestroyModelGpu(gpu_.device, model.get());
    }
    retiredModels_.clear();
    DestroyFrameTargets(gpu_.device, &targets_);
    for (auto& [frame, t] : retiredTargets_) {
        DestroyFrameTargets(gpu_.device, &t);
    }
    retiredTargets_.clear();
    pipelines_.Release();
    if (skinningPipeline_ != VK_NULL_HANDLE) {
        vkDestroyPipeline(gpu_.device, skinningPipeline_, nullptr);
    }
    skinningPipeline_ = fxaaLowPipeline_ = fxaaHighPipeline_ = VK_NULL_HANDLE;
    shadowPipelines_ = {};
    groundShadowPipelines_ = {};
    DestroyPipelineLayouts(gpu_.device, &layouts_);
    for (VkSampler s : samplers_) {
        if (s != VK_NULL_HANDLE) {
            vkDestroySampler(gpu_.device, s, nullptr);
        }
    }
    samplers_ = {};
    DestroyColorImage(gpu_.device, &whiteTexture_);
    for (OwnedImage& toon : toons_) {
        DestroyColorImage(gpu_.device, &toon);
    }
    DestroyShadowMaps(gpu_.device, &shadowMaps_);
    DestroyGpuBuffer(gpu_.device, &shadowConstants_.buffer);
    gpu_ = {};
}

HRESULT SceneRenderer::CreateModel(const ModelInstance& instance, const PmxModel& model,
                                   const ShaderSetCode& set, std::string* message,
                                   ModelTextures* textures) {
    auto gpu = std::make_unique<ModelGpu>();
    ModelTextures decodedHere;
    HRESULT hr = CreateModelGpu(gpu_, model, instance,
                                textures != nullptr ? *textures : decodedHere, gpu.get(), message);
    if (hr != S_OK) {
        return hr;
    }
    hr = BuildMaterialPipelines(pipelines_, set, eightSamples_, gpu.get());
    if (Failed(hr)) {
        *message = "the shader \"" + set.name + "\" cannot draw this model's materials";
        DestroyModelGpu(gpu_.device, gpu.get());
        return hr;
    }
    // An address can come back for a new instance once an old one is gone;
    // the old GPU half may still be in flight, so it waits for release.
    if (auto it = models_.find(&instance); it != models_.end()) {
        retiredModels_.push_back(std::move(it->second));
    }
    models_[&instance] = std::move(gpu);
    ++modelGeneration_;
    return S_OK;
}

void SceneRenderer::ReleaseModel(const ModelInstance& instance) {
    if (auto it = models_.find(&instance); it != models_.end()) {
        DestroyModelGpu(gpu_.device, it->second.get());
        models_.erase(it);
        ++modelGeneration_;
    }
}

HRESULT SceneRenderer::ApplyShader(const ModelInstance& instance, std::int32_t material,
                                   const ShaderSetCode& set) {
    if (gpu_.device == VK_NULL_HANDLE) {
        return E_FAIL;
    }
    auto it = models_.find(&instance);
    return ApplyMaterialShader(it != models_.end() ? it->second.get() : nullptr, &pipelines_,
                               eightSamples_, material, set);
}

const ModelGpu* SceneRenderer::Find(const ModelInstance* instance) const {
    auto it = models_.find(instance);
    return it != models_.end() ? it->second.get() : nullptr;
}

ModelGpu* SceneRenderer::Find(const ModelInstance* instance) {
    auto it = models_.find(instance);
    return it != models_.end() ? it->second.get() : nullptr;
}

void SceneRenderer::SetViewport(VkCommandBuffer cmd, std::uint32_t width, std::uint32_t height) {
    // A negative height keeps Direct3D's clip space: y up, origin at the top.
    const VkViewport viewport{0.0f,
                              static_cast<float>(height),
                              static_cast<float>(width),
                              -static_cast<float>(height),
                              0.0f,
                              1.0f};
    const VkRect2D scissor{{0, 0}, {width, height}};
    vkCmdSetViewport(cmd, 0, 1, &viewport);
    vkCmdSetScissor(cmd, 0, 1, &scissor);
}

void SceneRenderer::RecordSkinning(VkCommandBuffer cmd, std::uint32_t f,
                                   const std::vector<ModelGpu*>& models) {
    // The previous frame's draws read the output before it is written again.
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT,
                  VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT, VK_ACCESS_2_SHADER_WRITE_BIT);
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, skinningPipeline_);
    for (const ModelGpu* model : models) {
        const ModelGpu& m = *model;
        const VkDescriptorBufferInfo constants{m.skinningConstants.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo output{m.skinnedOutput.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo bones{m.boneMatrices.buffer.buffer, m.boneMatrices.Offset(f),
                                           m.boneMatrices.slotSize};
        const VkDescriptorBufferInfo vertexWeights{m.vertexMorphWeights.buffer.buffer,
                                                   m.vertexMorphWeights.Offset(f),
                                                   m.vertexMorphWeights.slotSize};
        const VkDescriptorBufferInfo vertexOffsets{m.vertexMorphOffsets.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo uvWeights{
            m.uvMorphWeights.buffer.buffer, m.uvMorphWeights.Offset(f), m.uvMorphWeights.slotSize};
        const VkDescriptorBufferInfo uvOffsets{m.uvMorphOffsets.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo input{m.skinningInput.buffer, 0, VK_WHOLE_SIZE};
        const VkDescriptorBufferInfo sdef{m.sdefParams.buffer, 0, VK_WHOLE_SIZE};
        const VkWriteDescriptorSet writes[9] = {
            BufferWrite(kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &constants),
            BufferWrite(kBindingU0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &output),
            BufferWrite(kBindingT0 + 0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &bones),
            BufferWrite(kBindingT0 + 1, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &vertexWeights),
            BufferWrite(kBindingT0 + 2, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &vertexOffsets),
            BufferWrite(kBindingT0 + 3, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &uvWeights),
            BufferWrite(kBindingT0 + 4, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &uvOffsets),
            BufferWrite(kBindingT0 + 5, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &input),
            BufferWrite(kBindingT0 + 6, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, &sdef),
        };
        pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, layouts_.skinning, 0, 9, writes);
        vkCmdDispatch(cmd, (m.vertexCount + 127) / 128, 1, 1);
    }
    // Ray tracing reads its own copy of the skinned vertices.
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT, VK_ACCESS_2_SHADER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_COPY_BIT, VK_ACCESS_2_TRANSFER_READ_BIT);
    for (const ModelGpu* m : models) {
        if (m->vertexCount != 0) {
            const VkBufferCopy region{0, 0, VkDeviceSize{m->vertexCount} * sizeof(VsInput)};
            vkCmdCopyBuffer(cmd, m->skinnedOutput.buffer, m->rayTracingVertices.buffer, 1, &region);
        }
    }
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_2_COPY_BIT,
                  VK_ACCESS_2_SHADER_WRITE_BIT | VK_ACCESS_2_TRANSFER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT);
}

void SceneRenderer::DrawCaster(VkCommandBuffer cmd, std::uint32_t f, const ModelGpu& m,
                               std::size_t material, const VkDescriptorBufferInfo& scene) {
    const MaterialDraw& draw = m.materials[material];
    const VkDescriptorBufferInfo constants{
        m.materialBuffer.buffer.buffer, m.materialBuffer.Offset(f) + material * kMaterialSlotSize,
        sizeof(MaterialConstants)};
    const VkDescriptorImageInfo base{
        VK_NULL_HANDLE,
        draw.baseTexture >= 0 ? m.textures[static_cast<std::size_t>(draw.baseTexture)].view
                              : whiteTexture_.view,
        VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
    const VkWriteDescriptorSet writes[3] = {
        BufferWrite(kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &constants),
        BufferWrite(kBindingB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &scene),
        ImageWrite(kBindingT0, &base),
    };
    pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, layouts_.raster, 0, 3, writes);
    vkCmdDrawIndexed(cmd, draw.indexCount, 1, draw.firstIndex, 0, 0);
}

void SceneRenderer::RecordShadowPass(VkCommandBuffer cmd, std::uint32_t f,
                                     const std::vector<ModelGpu*>& models) {
    const OwnedImage& map = shadowMaps_.maps[f];
    const VkRenderingAttachmentInfo depth = DepthAttachment(map.view, VK_ATTACHMENT_STORE_OP_STORE);
    BeginRendering(cmd, kShadowMapSize, kShadowMapSize, nullptr, &depth);
    SetViewport(cmd, kShadowMapSize, kShadowMapSize);
    const VkDescriptorBufferInfo constants{shadowConstants_.buffer.buffer,
                                           shadowConstants_.Offset(f), sizeof(SceneConstants)};
    VkPipeline bound = VK_NULL_HANDLE;
    for (const ModelGpu* m : models) {
        BindVertexBuffers(cmd, *m);
        vkCmdBindIndexBuffer(cmd, m->indexBuffer.buffer, 0, VK_INDEX_TYPE_UINT32);
        for (std::size_t i = 0; i < m->materials.size(); ++i) {
            const MaterialDraw& draw = m->materials[i];
            if (!draw.castShadow || draw.indexCount == 0) {
                continue;
            }
            const VkPipeline pipeline = shadowPipelines_[draw.doubleSided ? 1 : 0];
            if (pipeline != bound) {
                vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
                bound = pipeline;
            }
            // The material's alpha and base texture decide which texels cast.
            DrawCaster(cmd, f, *m, i, constants);
        }
    }
    vkCmdEndRendering(cmd);
}

void SceneRenderer::RecordDraws(VkCommandBuffer cmd, std::uint32_t f, std::size_t samplesIndex,
                                const ModelGpu& m) {
    BindVertexBuffers(cmd, m);
    vkCmdBindIndexBuffer(cmd, m.indexBuffer.buffer, 0, VK_INDEX_TYPE_UINT32);
    const VkDescriptorBufferInfo scene{m.sceneConstants.buffer.buffer, m.sceneConstants.Offset(f),
                                       sizeof(SceneConstants)};
    const VkImageLayout read = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
    VkPipeline bound = VK_NULL_HANDLE;
    auto bind = [&](VkPipeline pipeline) {
        if (pipeline != bound) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
            bound = pipeline;
        }
    };
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        const VkPipeline main = draw.mainPipelines[samplesIndex];
        if (draw.indexCount == 0 || main == VK_NULL_HANDLE) {
            continue;
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
        std::array<VkDescriptorImageInfo, kTextureSlots> images;
        images.fill({VK_NULL_HANDLE, whiteTexture_.view, read});
        images[0].imageView = view(draw.baseTexture, false);
        images[1].imageView = view(draw.sphereTexture, false);
        images[2].imageView = view(draw.toonTexture, draw.sharedToon);
        images[8] = {VK_NULL_HANDLE, shadowMaps_.maps[f].view, read};
        std::array<VkWriteDescriptorSet, 2 + kTextureSlots> writes;
        writes[0] = BufferWrite(kBindingB0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &material);
        writes[1] = BufferWrite(kBindingB1, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, &scene);
        for (std::uint32_t t = 0; t < kTextureSlots; ++t) {
            writes[2 + t] = ImageWrite(kBindingT0 + t, &images[t]);
        }
        pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, layouts_.raster, 0,
                         static_cast<std::uint32_t>(writes.size()), writes.data());
        bind(main);
        vkCmdDrawIndexed(cmd, draw.indexCount, 1, draw.firstIndex, 0, 0);
        if (draw.drawEdge && draw.edgePipelines[samplesIndex] != VK_NULL_HANDLE) {
            bind(draw.edgePipelines[samplesIndex]);
            vkCmdDrawIndexed(cmd, draw.indexCount, 1, draw.firstIndex, 0, 0);
        }
    }
}

void SceneRenderer::RecordGroundShadow(VkCommandBuffer cmd, std::uint32_t f,
                                       std::size_t samplesIndex, const ModelGpu& m,
                                       std::uint32_t reference) {
    const VkPipeline pipeline = groundShadowPipelines_[samplesIndex];
    if (pipeline == VK_NULL_HANDLE) {
        return;
    }
    bool bound = false;
    const VkDescriptorBufferInfo scene{m.sceneConstants.buffer.buffer, m.sceneConstants.Offset(f),
                                       sizeof(SceneConstants)};
    for (std::size_t i = 0; i < m.materials.size(); ++i) {
        const MaterialDraw& draw = m.materials[i];
        if (!draw.groundShadow || draw.indexCount == 0) {
            continue;
        }
        if (!bound) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
            vkCmdSetStencilReference(cmd, VK_STENCIL_FACE_FRONT_AND_BACK, reference);
            BindVertexBuffers(cmd, m);
            vkCmdBindIndexBuffer(cmd, m.indexBuffer.buffer, 0, VK_INDEX_TYPE_UINT32);
            bound = true;
        }
        // As in the shadow map: cut-out texels and faded materials cast nothing.
        DrawCaster(cmd, f, m, i, scene);
    }
}

void SceneRenderer::RecordMainPass(VkCommandBuffer cmd, std::uint32_t f, std::int32_t mode,
                                   const std::vector<ModelGpu*>& models, bool groundShadow) {
    const OwnedImage* color = &targets_.sceneColor;
    const OwnedImage* depth = &targets_.depth1;
    VkImageLayout colorFrom = kColorRestLayout;
    std::size_t samplesIndex = 0;
    if (mode == kFxaaLow || mode == kFxaaHigh) {
        color = &targets_.postInput;
        colorFrom = kPostInputRestLayout;
    } else if (mode == kMsaa4x) {
        color = &targets_.msaa4Color;
        depth = &targets_.depth4;
        samplesIndex = 1;
    } else if (mode == kMsaa8x) {
        color = &targets_.msaa8Color;
        depth = &targets_.depth8;
        samplesIndex = 2;
    }
    TransitionImage(cmd, color->image, colorFrom, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    const VkRenderingAttachmentInfo colorAttachment =
        ColorAttachment(color->view, VK_ATTACHMENT_LOAD_OP_CLEAR);
    const VkRenderingAttachmentInfo depthAttachment =
        DepthAttachment(depth->view, VK_ATTACHMENT_STORE_OP_DONT_CARE, kDepthStencilRestLayout);
    BeginRendering(cmd, targets_.width, targets_.height, &colorAttachment, &depthAttachment,
                   &depthAttachment);
    SetViewport(cmd, targets_.width, targets_.height);
    for (const ModelGpu* m : models) {
        RecordDraws(cmd, f, samplesIndex, *m);
    }
    // Ground shadows after everything the models draw, each model marking
    // its own pixels in the stencil (1 to 255, then round again).
    if (groundShadow) {
        for (std::size_t k = 0; k < models.size(); ++k) {
            RecordGroundShadow(cmd, f, samplesIndex, *models[k],
                               static_cast<std::uint32_t>(k % 255) + 1);
        }
    }
    vkCmdEndRendering(cmd);
    TransitionImage(cmd, color->image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, colorFrom);
}

void SceneRenderer::RecordResolve(VkCommandBuffer cmd, const OwnedImage& source) {
    TransitionImage(cmd, targets_.sceneColor.image, kColorRestLayout,
                    VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    VkImageResolve region{};
    region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.dstSubresource = region.srcSubresource;
    region.extent = {targets_.width, targets_.height, 1};
    vkCmdResolveImage(cmd, source.image, kColorRestLayout, targets_.sceneColor.image,
                      VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    TransitionImage(cmd, targets_.sceneColor.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                    kColorRestLayout);
}

void SceneRenderer::RecordFxaa(VkCommandBuffer cmd, std::int32_t mode, VkImageView inputView,
                               VkImageLayout inputLayout) {
    TransitionImage(cmd, targets_.sceneColor.image, kColorRestLayout,
                    VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    // The triangle covers every pixel: nothing of the old image is kept.
    const VkRenderingAttachmentInfo color =
        ColorAttachment(targets_.sceneColor.view, VK_ATTACHMENT_LOAD_OP_DONT_CARE);
    BeginRendering(cmd, targets_.width, targets_.height, &color, nullptr);
    SetViewport(cmd, targets_.width, targets_.height);
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS,
                      mode == kFxaaHigh ? fxaaHighPipeline_ : fxaaLowPipeline_);
    const VkDescriptorImageInfo input{VK_NULL_HANDLE, inputView, inputLayout};
    const VkWriteDescriptorSet write = ImageWrite(kBindingT0, &input);
    pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, layouts_.raster, 0, 1, &write);
    vkCmdDraw(cmd, 3, 1, 0, 0);
    vkCmdEndRendering(cmd);
    TransitionImage(cmd, targets_.sceneColor.image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL,
                    kColorRestLayout);
}

void SceneRenderer::RecordRayTracedImage(VkCommandBuffer direct, std::int32_t mode) {
    const VkImage output = raytracing_->Output().image.image;
    if (mode == kFxaaLow || mode == kFxaaHigh) {
        TransitionImage(direct, output, VK_IMAGE_LAYOUT_GENERAL,
                        VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
        RecordFxaa(direct, mode, raytracing_->Output().image.view,
                   VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
        TransitionImage(direct, output, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                        VK_IMAGE_LAYOUT_GENERAL);
        return;
    }
    // Any other mode, multisampling included, takes the image as it is.
    TransitionImage(direct, targets_.sceneColor.image, kColorRestLayout,
                    VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    TransitionImage(direct, output, VK_IMAGE_LAYOUT_GENERAL, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
    VkImageCopy region{};
    region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.dstSubresource = region.srcSubresource;
    region.extent = {targets_.width, targets_.height, 1};
    vkCmdCopyImage(direct, output, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, targets_.sceneColor.image,
                   VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    TransitionImage(direct, targets_.sceneColor.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                    kColorRestLayout);
    TransitionImage(direct, output, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, VK_IMAGE_LAYOUT_GENERAL);
}

void SceneRenderer::CopyToBackBuffer(VkCommandBuffer cmd, const BackBuffer& target) {
    TransitionImage(cmd, target.image, VK_IMAGE_LAYOUT_UNDEFINED,
                    VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    if (target.format == kSceneColorFormat) {
        VkImageCopy region{};
        region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        region.dstSubresource = region.srcSubresource;
        region.extent = {targets_.width, targets_.height, 1};
        vkCmdCopyImage(cmd, targets_.sceneColor.image, kColorRestLayout, target.image,
                       VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    } else {
        // A surface that offers only BGRA gets the channels swapped by a blit.
        VkImageBlit region{};
        region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        region.dstSubresource = region.srcSubresource;
        region.srcOffsets[1] = {static_cast<std::int32_t>(targets_.width),
                                static_cast<std::int32_t>(targets_.height), 1};
        region.dstOffsets[1] = region.srcOffsets[1];
        vkCmdBlitImage(cmd, targets_.sceneColor.image, kColorRestLayout, target.image,
                       VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region, VK_FILTER_NEAREST);
    }
    TransitionImage(cmd, target.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, target.presentLayout);
}

void SceneRenderer::Record(const Scene& scene, VkCommandBuffer compute, VkCommandBuffer direct,
                           std::uint32_t f, const BackBuffer& target) {
    if (target.image == VK_NULL_HANDLE) {
        return;
    }
    // Recording frame f starts after the GPU finished that buffer's previous
    // frame, so everything recorded kFrameCount frames ago is done.
    ++recordedFrames_;
    std::erase_if(retiredTargets_, [&](std::pair<std::uint64_t, FrameTargets>& entry) {
        if (entry.first + kFrameCount < recordedFrames_) {
            DestroyFrameTargets(gpu_.device, &entry.second);
            return true;
        }
        return false;
    });
    if (Failed(EnsureTargets(target.width, target.height))) {
        // Without targets the frame still shows the background.
        ClearBackBuffer(direct, target, {{1.0f, 1.0f, 1.0f, 1.0f}});
        return;
    }

    // 1. This frame's slot of every model's per-frame buffers.
    // A camera motion's light keys colour and turn the light of the shading.
    SceneLight light = light_;
    if (scene.stage.motionLightActive) {
        light.color = scene.stage.motionLightColor;
        light.direction = scene.stage.motionLightDirection;
    }
    SceneConstants constants =
        BuildSceneConstants(scene.stage.camera.view, scene.stage.camera.projection,
                            scene.stage.camera.eye, light, scene.playback.elapsedTime);
    constants.viewportSize[0] = static_cast<float>(targets_.width);
    constants.viewportSize[1] = static_cast<float>(targets_.height);
    // Kept between frames so that a played frame allocates nothing.
    std::vector<ModelGpu*>& drawn = drawn_;
    drawn.clear();
    for (const auto& record : scene.models) {
        auto it = models_.find(record.instance.get());
        if (it != models_.end()) {
            UploadModelFrame(*it->second, *record.instance, f, constants);
            drawn.push_back(it->second.get());
        }
    }

    // 2. Skinning on the compute list, submitted before the direct list.
    if (!drawn.empty()) {
        RecordSkinning(compute, f, drawn);
    }

    if (targets_.fresh) {
        SetRestLayouts(direct, targets_);
    }
    const std::int32_t mode =
        EffectiveAntiAliasingMode(scene.render.antiAliasingMode, eightSamples_);

    // 3. Ray traced: the image on the compute list, filtered or copied on
    // the direct one.
    if (RayTracingReady(scene) &&
        Succeeded(raytracing_->EnsureOutput(targets_.width, targets_.height, recordedFrames_))) {
        raytracing_->Record(compute, f,
                            BuildRaytracingConstants(
                                scene.stage.camera.view, scene.stage.camera.projection,
                                scene.stage.camera.eye, light, scene.render.diffuseSamples,
                                scene.render.shadowSamples, scene.render.selectedRayTracingShader));
        RecordRayTracedImage(direct, mode);
        CopyToBackBuffer(direct, target);
        return;
    }

    // 4. Rasterised: shadow map, main pass, anti-aliasing and the copy out.
    const VkImage shadowMap = shadowMaps_.maps[f].image;
    // Drawing the map costs more than the rest of a frame on a software
    // device; when no program will read it, the map is left as it is.
    if (std::any_of(drawn.begin(), drawn.end(),
                    [](const ModelGpu* m) { return ReadsShadowMap(*m); })) {
        RecordShadowPass(direct, f, drawn);
    }
    TransitionImage(direct, shadowMap, kDepthRestLayout, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                    VK_IMAGE_ASPECT_DEPTH_BIT);
    RecordMainPass(direct, f, mode, drawn, scene.render.groundShadow);
    if (mode == kMsaa4x) {
        RecordResolve(direct, targets_.msaa4Color);
    } else if (mode == kMsaa8x) {
        RecordResolve(direct, targets_.msaa8Color);
    } else if (mode == kFxaaLow || mode == kFxaaHigh) {
        RecordFxaa(direct, mode, targets_.postInput.view, kPostInputRestLayout);
    }
    TransitionImage(direct, shadowMap, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, kDepthRestLayout,
                    VK_IMAGE_ASPECT_DEPTH_BIT);
    CopyToBackBuffer(direct, target);
}

}  // namespace qv
