// Makes, rebuilds and checks the scene's ray tracing against the models drawn.
#include "render/raytracing/scene_raytracing.h"

#include <algorithm>

namespace qv {

void SceneRayTracing::Initialize(const GpuContext& gpu, VkSampler warp, VkSampler clamp) {
    renderer_ = std::make_unique<RaytracingRenderer>();
    if (Failed(renderer_->Initialize(gpu, warp, clamp, &error_))) {
        renderer_.reset();
    }
}

HRESULT SceneRayTracing::Rebuild(const std::vector<const ModelGpu*>& models, VkImageView white,
                                 const std::array<OwnedImage, kToonCount>& toons,
                                 std::string* message) {
    if (renderer_ == nullptr) {
        *message = error_.empty() ? "the device offers no ray tracing" : error_;
        return E_FAIL;
    }
    const HRESULT hr = renderer_->Rebuild(models, white, toons, message);
    builtGeneration_ = Succeeded(hr) ? modelGeneration_ : ~std::uint64_t{0};
    return hr;
}

bool SceneRayTracing::Ready(bool enabled, const std::vector<ModelGpu*>& drawn) const {
    if (!enabled || renderer_ == nullptr || !renderer_->Built() ||
        builtGeneration_ != modelGeneration_) {
        return false;
    }
    const std::vector<const ModelGpu*>& built = renderer_->BuiltModels();
    return std::equal(built.begin(), built.end(), drawn.begin(), drawn.end());
}

}  // namespace qv
