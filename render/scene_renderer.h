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
#include "platform/result.h"
#include "render/model/model_resources.h"
#include "render/model/scene_light.h"
#include "render/raster/frame_targets.h"
#include "render/raster/raster_pipelines.h"
#include "render/raster/raster_resources.h"
#include "render/raytracing/scene_raytracing.h"
#include "render/vk/pass_timer.h"
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

    // The message says what failed, where there is more to say than the code.
    Result Initialize(const GpuContext& gpu);
    // Waits for the device, then releases every model and target.
    void Release();

    // The model hook: success, or the failing code with the reason. A
    // texture file that does not exist is drawn as no texture. The main
    // pipelines use `set`. `textures`
    // are the model's images decoded by the import thread; without them they
    // are decoded here, on the calling thread. The upload goes to the GPU
    // behind the frames in flight and is not waited for: frames draw the
    // model from the first one whose start finds the upload done.
    Result CreateModel(const ModelInstance& instance, const PmxModel& model,
                       const ShaderSetCode& set, ModelTextures* textures = nullptr);
    Result CreateModel(const ModelInstance& instance, const PmxModel& model) {
        return CreateModel(instance, model, BuiltInShaderSet(1));
    }
    const ModelGpu* Find(const ModelInstance* instance) const;
    // The model's GPU half for the material editors: its constants are
    // uploaded again every frame.
    ModelGpu* Find(const ModelInstance* instance);
    // Frees a removed model's GPU half at once: the scene waits for the GPU
    // before it removes a model. An upload still in flight is waited for.
    void ReleaseModel(const ModelInstance& instance);
    // True while the model's upload has not been found done at a frame's
    // start: frames leave it out until then.
    bool AwaitsUpload(const ModelInstance& instance) const;
    // Whether any model still awaits its upload.
    bool UploadsUnderWay() const;
    // Moves every model's upload on (see AdvanceUpload). Never blocks. Main
    // thread, between frames: the scene update calls it.
    void AdvanceUploads();
    // Finishes and waits for every upload still under way, so that the next
    // frame draws every model: for callers that must not show a frame
    // without one. Main thread.
    void FinishUploads();
    // Gives one material of a model the main pipelines of another shader
    // set. Called between frames.
    HRESULT ApplyShader(const ModelInstance& instance, std::int32_t material,
                        const ShaderSetCode& set);

    // Records frame `frame`; the back buffer ends in its present layout.
    void Record(const Scene& scene, VkCommandBuffer compute, VkCommandBuffer direct,
                std::uint32_t frame, const BackBuffer& target);

    // Whether frames can be ray traced: the device offers it and the
    // pipeline was made. Why not, where it was tried, is in the error.
    bool RayTracingAvailable() const { return rayTracing_.Available(); }
    const std::string& RayTracingError() const { return rayTracing_.Error(); }
    // Rebuilds the ray-tracing structures and tables for the scene's models.
    // The caller has waited for the GPU. Until the next successful rebuild
    // after a model came or went, frames are rasterised.
    Result RebuildRayTracing(const Scene& scene);
    const RaytracingRenderer* RayTracing() const { return rayTracing_.Renderer(); }
    RaytracingRenderer* RayTracing() { return rayTracing_.Renderer(); }

    // GPU milliseconds of each pass the frames drew, means over the last
    // frames; negative for a pass not timed. May be read from any thread.
    GpuPassTimes PassTimes() const { return timer_.Means(); }

    const GpuContext& Gpu() const { return gpu_; }
    bool EightSamplesAvailable() const { return eightSamples_; }
    std::size_t PipelineCount() const { return pipelines_.Size(); }
    // Whether the compiled pipelines of an earlier run were there to reuse.
    bool PipelineCacheLoaded() const { return pipelines_.CacheLoadedFromDisk(); }

private:
    HRESULT EnsureTargets(std::uint32_t width, std::uint32_t height);
    // Frees the targets that no frame still on the GPU can use.
    void ReleaseRetiredTargets();
    // This frame's slot of every drawn model's per-frame buffers; the models
    // drawn, in scene order, into drawn_, and those of them shown into shown_.
    // A model whose upload is still in flight is not drawn.
    void UploadFrame(const Scene& scene, std::uint32_t frame, const SceneLight& light);

    GpuContext gpu_;
    bool eightSamples_ = false;
    RasterResources raster_;
    PipelinePool pipelines_;
    SceneLight light_;

    FrameTargets targets_;
    // Targets replaced after a resize, with the frame count at which they
    // went: frames recorded before that may still be on the GPU.
    std::vector<std::pair<std::uint64_t, FrameTargets>> retiredTargets_;
    std::uint64_t recordedFrames_ = 0;
    std::map<const ModelInstance*, std::unique_ptr<ModelGpu>> models_;
    std::vector<ModelGpu*> drawn_;  // this frame's models, in scene order
    std::vector<ModelGpu*> shown_;  // drawn_ without the hidden accessories
    std::vector<std::unique_ptr<ModelGpu>> retiredModels_;

    SceneRayTracing rayTracing_;
    PassTimer timer_;
};

}  // namespace qv
