// A model's GPU half made and freed with the scene's models, and its materials' pipelines.
#include <algorithm>

#include "render/raster/material_pipelines.h"
#include "render/scene_renderer.h"

namespace qv {

Result SceneRenderer::CreateModel(const ModelInstance& instance, const PmxModel& model,
                                  const ShaderSetCode& set, ModelTextures* textures) {
    auto gpu = std::make_unique<ModelGpu>();
    ModelTextures decodedHere;
    Result made = CreateModelGpu(gpu_, model, instance,
                                 textures != nullptr ? *textures : decodedHere, gpu.get());
    if (!made.ok()) {
        return made;
    }
    if (const HRESULT hr = BuildMaterialPipelines(pipelines_, set, eightSamples_, gpu.get());
        Failed(hr)) {
        DestroyModelGpu(gpu_.device, gpu.get());
        return Result::Failure(
            hr, "the shader \"" + set.name + "\" cannot draw this model's materials");
    }
    // An address can come back for a new instance once an old one is gone;
    // the old GPU half may still be in flight, so it waits for release.
    if (auto it = models_.find(&instance); it != models_.end()) {
        retiredModels_.push_back(std::move(it->second));
    }
    models_[&instance] = std::move(gpu);
    rayTracing_.ModelsChanged();
    return {};
}

void SceneRenderer::ReleaseModel(const ModelInstance& instance) {
    if (auto it = models_.find(&instance); it != models_.end()) {
        DestroyModelGpu(gpu_.device, it->second.get());
        models_.erase(it);
        rayTracing_.ModelsChanged();
    }
}

bool SceneRenderer::AwaitsUpload(const ModelInstance& instance) const {
    const ModelGpu* model = Find(&instance);
    return model != nullptr && model->upload != nullptr;
}

bool SceneRenderer::UploadsUnderWay() const {
    return std::any_of(models_.begin(), models_.end(),
                       [](const auto& entry) { return entry.second->upload != nullptr; });
}

void SceneRenderer::AdvanceUploads() {
    for (auto& [instance, model] : models_) {
        AdvanceUpload(*model);
    }
}

void SceneRenderer::FinishUploads() {
    for (auto& [instance, model] : models_) {
        FinishUpload(*model);
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

}  // namespace qv
