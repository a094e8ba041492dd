// Records a frame: skinning, shadow map, main pass with outlines, resolve, copy to screen.
#include "render/scene_renderer.h"

#include <algorithm>
#include <cstdint>

#include "render/raster/raster_passes.h"
#include "render/vk/pipeline_cache_file.h"
#include "scene/scene.h"

namespace qv {

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
        const ShaderRecord& shader = scene.shaders[static_cast<std::size_t>(index)];
        const ShaderProgram& program = shader.program;
        ShaderSetCode set;
        set.name = shader.entry.name;
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

Result SceneRenderer::Initialize(const GpuContext& gpu) {
    gpu_ = gpu;
    eightSamples_ = SupportsEightSamples(gpu.physical);
    if (Result raster = CreateRasterResources(gpu_, light_, &raster_); !raster.ok()) {
        return raster;
    }
    const std::filesystem::path folder = PipelineCacheFolder();
    pipelines_.Initialize(gpu_.physical, gpu_.device, &raster_.layouts,
                          folder.empty() ? folder : folder / kPipelineCacheFileName);
    if (const HRESULT hr = CreateFixedPipelines(pipelines_, eightSamples_, gpu_.device, &raster_);
        Failed(hr)) {
        return Result{hr, {}};
    }
    timer_.Initialize(gpu_);
    if (gpu_.rayTracing) {
        rayTracing_.Initialize(gpu_, raster_.samplers[0], raster_.samplers[1]);
    }
    return {};
}

namespace {

// Accessories are one-bone models to the renderer, drawn after the models.
// visit(instance, shown): a hidden accessory is not shown.
template <typename Visit>
void ForEachInstance(const Scene& scene, Visit&& visit) {
    for (const auto& record : scene.models) {
        visit(*record.instance, true);
    }
    for (const auto& record : scene.accessories) {
        visit(*record.instance, record.settings.visible);
    }
}

}  // namespace

Result SceneRenderer::RebuildRayTracing(const Scene& scene) {
    // The structures are built from the models' vertices. After the
    // caller's wait every upload is done, so this costs nothing.
    FinishUploads();
    std::vector<const ModelGpu*> models;
    if (rayTracing_.Available()) {
        ForEachInstance(scene, [&](const ModelInstance& instance, bool) {
            if (const ModelGpu* m = Find(&instance); m != nullptr) {
                models.push_back(m);
            }
        });
    }
    return rayTracing_.Rebuild(models, raster_.whiteTexture.view, raster_.toons);
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

void SceneRenderer::ReleaseRetiredTargets() {
    // Recording frame f starts after the GPU finished that buffer's previous
    // frame, so everything recorded kFrameCount frames ago is done.
    std::erase_if(retiredTargets_, [&](std::pair<std::uint64_t, FrameTargets>& entry) {
        if (entry.first + kFrameCount < recordedFrames_) {
            DestroyFrameTargets(gpu_.device, &entry.second);
            return true;
        }
        return false;
    });
}

void SceneRenderer::Release() {
    if (gpu_.device == VK_NULL_HANDLE) {
        return;
    }
    vkDeviceWaitIdle(gpu_.device);
    rayTracing_.Release();
    timer_.Release();
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
    DestroyRasterResources(gpu_.device, &raster_);
    gpu_ = {};
}

void SceneRenderer::UploadFrame(const Scene& scene, std::uint32_t f, const SceneLight& light) {
    SceneConstants constants =
        BuildSceneConstants(scene.stage.camera.view, scene.stage.camera.projection,
                            scene.stage.camera.eye, light, scene.playback.elapsedTime);
    constants.viewportSize[0] = static_cast<float>(targets_.width);
    constants.viewportSize[1] = static_cast<float>(targets_.height);
    // Kept between frames so that a played frame allocates nothing.
    drawn_.clear();
    shown_.clear();
    ForEachInstance(scene, [&](const ModelInstance& instance, bool shown) {
        auto it = models_.find(&instance);
        if (it != models_.end() && UploadComplete(*it->second)) {
            UploadModelFrame(*it->second, instance, f, constants);
            drawn_.push_back(it->second.get());
            if (shown) {
                shown_.push_back(it->second.get());
            }
        }
    });
}

void SceneRenderer::Record(const Scene& scene, VkCommandBuffer compute, VkCommandBuffer direct,
                           std::uint32_t f, const BackBuffer& target) {
    if (target.image == VK_NULL_HANDLE) {
        return;
    }
    ++recordedFrames_;
    ReleaseRetiredTargets();
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
    UploadFrame(scene, f, light);
    // The ray-traced scene holds every model built into it, hidden
    // accessories too (their materials fade to nothing); the rasterised one
    // leaves those out, skinning included.
    const bool rayTraced = rayTracing_.Ready(scene.render.rayTracing, drawn_);
    const std::vector<ModelGpu*>& drawn = shown_;
    timer_.BeginFrame(f);
    timer_.StartList(compute, PassTimer::Queue::Compute);
    timer_.StartList(direct, PassTimer::Queue::Direct);

    // 2. Skinning on the compute list, submitted before the direct list.
    if (const std::vector<ModelGpu*>& skinned = rayTraced ? drawn_ : shown_; !skinned.empty()) {
        timer_.Begin(compute, GpuPass::Skinning);
        RecordSkinning(compute, f, raster_, skinned);
        timer_.End(compute, GpuPass::Skinning);
        timer_.FinishList(compute, PassTimer::Queue::Compute);
    }

    if (targets_.fresh) {
        SetRestLayouts(direct, targets_);
    }
    const std::int32_t mode =
        EffectiveAntiAliasingMode(scene.render.antiAliasingMode, eightSamples_);

    // 3. Ray traced: the image on the compute list, filtered or copied on
    // the direct one.
    RaytracingRenderer* traced = rayTracing_.Renderer();
    if (rayTraced &&
        Succeeded(traced->EnsureOutput(targets_.width, targets_.height, recordedFrames_))) {
        traced->Record(compute, f,
                       BuildRaytracingConstants(
                           scene.stage.camera.view, scene.stage.camera.projection,
                           scene.stage.camera.eye, light, scene.render.diffuseSamples,
                           scene.render.shadowSamples, scene.render.selectedRayTracingShader));
        RecordFinishedImage(direct, raster_, targets_, mode, traced->Output().image);
        CopyToBackBuffer(direct, targets_, target);
        return;
    }

    // 4. Rasterised: shadow map, main pass, anti-aliasing and the copy out.
    const VkImage shadowMap = raster_.shadowMaps.maps[f].image;
    // Drawing the map costs more than the rest of a frame on a software
    // device; when no program will read it, the map is left as it is.
    if (std::any_of(drawn.begin(), drawn.end(),
                    [](const ModelGpu* m) { return ReadsShadowMap(*m); })) {
        timer_.Begin(direct, GpuPass::ShadowMap);
        RecordShadowPass(direct, f, raster_, drawn);
        timer_.End(direct, GpuPass::ShadowMap);
    }
    TransitionImage(direct, shadowMap, kDepthRestLayout, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                    VK_IMAGE_ASPECT_DEPTH_BIT);
    timer_.Begin(direct, GpuPass::Main);
    RecordMainPass(direct, f, raster_, targets_, mode, drawn, scene.render.groundShadow, timer_);
    timer_.End(direct, GpuPass::Main);
    timer_.Begin(direct, GpuPass::PostProcess);
    if (mode == kMsaa4x) {
        RecordResolve(direct, targets_, targets_.msaa4Color);
    } else if (mode == kMsaa8x) {
        RecordResolve(direct, targets_, targets_.msaa8Color);
    } else if (mode == kFxaaLow || mode == kFxaaHigh) {
        RecordFxaa(direct, raster_, targets_, mode, targets_.postInput.view, kPostInputRestLayout);
    }
    TransitionImage(direct, shadowMap, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, kDepthRestLayout,
                    VK_IMAGE_ASPECT_DEPTH_BIT);
    CopyToBackBuffer(direct, targets_, target);
    timer_.End(direct, GpuPass::PostProcess);
    timer_.FinishList(direct, PassTimer::Queue::Direct);
}

}  // namespace qv
