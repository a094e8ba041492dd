// Draws the scene's models each frame, in whichever anti-aliasing mode and shader set is chosen.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/engine_context.h"
#include "render/model/model_resources.h"
#include "render/model/scene_light.h"
#include "render/model/toon_textures.h"
#include "render/raster/frame_targets.h"
#include "render/raster/raster_pipelines.h"
#include "render/raytracing/raytracing_renderer.h"
#include "scene/anti_aliasing.h"

namespace qv {

struct Scene;
struct SceneContent;

// The mode a frame is drawn with: 8x falls back to 4x on a device without
// it, anything unknown to no anti-aliasing.
std::int32_t EffectiveAntiAliasingMode(std::int32_t mode, bool eightSamples);

// Shader set `index` of the scene: the two built-ins, then the imported
// programs. An index that names none (no default chosen) gives the built-in
// vertex program with the "QV shader(experimental)" pixel program.
ShaderSetCode SceneShaderSet(const SceneContent& scene, std::int32_t index);

// Draws the scene's models each frame: GPU skinning on the compute list; on
// the direct list the shadow map from the light, the main pass with outlines
// into the target of the anti-aliasing mode, the resolve or FXAA pass, and
// the copy into the back buffer.
class SceneRenderer {
public:
    SceneRenderer() = default;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;
    ~SceneRenderer();

    // `message` says what failed, where there is more to say than the code.
    HRESULT Initialize(const GpuContext& gpu, std::string* message = nullptr);
    // Waits for the device, then releases every model and target.
    void Release();

    // The model hook: 0, 2 for a missing texture, or the failing code; the
    // reason of a failure is in `message`. The main pipelines use `set`.
    // `textures` are the model's images decoded by the import thread; without
    // them they are decoded here, on the calling thread.
    HRESULT CreateModel(const ModelInstance& instance, const PmxModel& model,
                        const ShaderSetCode& set, std::string* message,
                        ModelTextures* textures = nullptr);
    HRESULT CreateModel(const ModelInstance& instance, const PmxModel& model,
                        std::string* message) {
        return CreateModel(instance, model, BuiltInShaderSet(1), message);
    }
    const ModelGpu* Find(const ModelInstance* instance) const;
    // The model's GPU half for the material editors: its constants are
    // uploaded again every frame.
    ModelGpu* Find(const ModelInstance* instance);
    // Frees a removed model's GPU half at once: the scene waits for the GPU
    // before it removes a model.
    void ReleaseModel(const ModelInstance& instance);
    // Gives one material of a model the main pipelines of another shader
    // set. Called between frames.
    HRESULT ApplyShader(const ModelInstance& instance, std::int32_t material,
                        const ShaderSetCode& set);

    // Records frame `frame`; the back buffer ends in its present layout.
    void Record(const Scene& scene, VkCommandBuffer compute, VkCommandBuffer direct,
                std::uint32_t frame, const BackBuffer& target);

    // Whether frames can be ray traced: the device offers it and the
    // pipeline was made. Why not, where it was tried, is in the error.
    bool RayTracingAvailable() const { return raytracing_ != nullptr; }
    const std::string& RayTracingError() const { return rayTracingError_; }
    // Rebuilds the ray-tracing structures and tables for the scene's models.
    // The caller has waited for the GPU. Until the next successful rebuild
    // after a model came or went, frames are rasterised.
    HRESULT RebuildRayTracing(const Scene& scene, std::string* message);
    const RaytracingRenderer* RayTracing() const { return raytracing_.get(); }
    RaytracingRenderer* RayTracing() { return raytracing_.get(); }

    const GpuContext& Gpu() const { return gpu_; }
    bool EightSamplesAvailable() const { return eightSamples_; }
    std::size_t PipelineCount() const { return pipelines_.Size(); }
    // Whether the compiled pipelines of an earlier run were there to reuse.
    bool PipelineCacheLoaded() const { return pipelines_.CacheLoadedFromDisk(); }

private:
    HRESULT CreateFixedPipelines();
    HRESULT EnsureTargets(std::uint32_t width, std::uint32_t height);
    void RecordSkinning(VkCommandBuffer cmd, std::uint32_t frame,
                        const std::vector<ModelGpu*>& models);
    // Draws one material with its alpha and base texture bound, so that
    // cut-out texels and faded materials cast nothing.
    void DrawCaster(VkCommandBuffer cmd, std::uint32_t frame, const ModelGpu& model,
                    std::size_t material, const VkDescriptorBufferInfo& scene);
    void RecordShadowPass(VkCommandBuffer cmd, std::uint32_t frame,
                          const std::vector<ModelGpu*>& models);
    void RecordMainPass(VkCommandBuffer cmd, std::uint32_t frame, std::int32_t mode,
                        const std::vector<ModelGpu*>& models, bool groundShadow);
    void RecordGroundShadow(VkCommandBuffer cmd, std::uint32_t frame, std::size_t samplesIndex,
                            const ModelGpu& model, std::uint32_t reference);
    void RecordDraws(VkCommandBuffer cmd, std::uint32_t frame, std::size_t samplesIndex,
                     const ModelGpu& model);
    void RecordFxaa(VkCommandBuffer cmd, std::int32_t mode, VkImageView input,
                    VkImageLayout inputLayout);
    bool RayTracingReady(const Scene& scene) const;
    void RecordRayTracedImage(VkCommandBuffer direct, std::int32_t mode);
    void RecordResolve(VkCommandBuffer cmd, const OwnedImage& source);
    void CopyToBackBuffer(VkCommandBuffer cmd, const BackBuffer& target);
    void SetViewport(VkCommandBuffer cmd, std::uint32_t width, std::uint32_t height);

    GpuContext gpu_;
    PFN_vkCmdPushDescriptorSetKHR pushDescriptors_ = nullptr;
    bool eightSamples_ = false;
    std::array<VkSampler, 3> samplers_{};
    PipelineLayouts layouts_;
    PipelinePool pipelines_;
    VkPipeline skinningPipeline_ = VK_NULL_HANDLE;
    // Back faces culled, and none culled for double-sided materials.
    std::array<VkPipeline, 2> shadowPipelines_{};
    std::array<VkPipeline, 3> groundShadowPipelines_{};  // by sample count, as the main pass
    VkPipeline fxaaLowPipeline_ = VK_NULL_HANDLE;
    VkPipeline fxaaHighPipeline_ = VK_NULL_HANDLE;
    OwnedImage whiteTexture_;
    std::array<OwnedImage, kToonCount> toons_{};
    ShadowMaps shadowMaps_;
    PerFrameBuffer shadowConstants_;
    SceneLight light_;

    FrameTargets targets_;
    // Targets replaced after a resize, with the frame count at which they
    // went: frames recorded before that may still be on the GPU.
    std::vector<std::pair<std::uint64_t, FrameTargets>> retiredTargets_;
    std::uint64_t recordedFrames_ = 0;
    std::map<const ModelInstance*, std::unique_ptr<ModelGpu>> models_;
    std::vector<ModelGpu*> drawn_;  // this frame's models, in scene order
    std::vector<std::unique_ptr<ModelGpu>> retiredModels_;

    std::unique_ptr<RaytracingRenderer> raytracing_;
    std::string rayTracingError_;
    // Counts model creations and releases; a ray-tracing build is good for
    // the count it was made at.
    std::uint64_t modelGeneration_ = 0;
    std::uint64_t builtGeneration_ = ~std::uint64_t{0};
};

}  // namespace qv
