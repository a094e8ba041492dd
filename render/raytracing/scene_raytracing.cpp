// Makes, rebuilds and checks the scene's ray tracing against the models drawn.
#include "render/raytracing/scene_raytracing.h"

#include <algorithm>

namespace qv {

void SceneRayTracing::Initialize(const GpuContext& gpu, VkSampler warp, VkSampler clamp) {
    renderer_ = std::make_unique<RaytracingRenderer>();
    if (Result made = renderer_->Initialize(gpu, warp, clamp); !made.ok()) {
        error_ = std::move(made.message);
        renderer_.reset();
    }
}

Result SceneRayTracing::Rebuild(const std::vector<const ModelGpu*>& models, VkImageView white,
                                const std::array<OwnedImage, kToonCount>& toons) {
    if (renderer_ == nullptr) {
        return Result::Failure(E_FAIL,
                               error_.empty() ? "the device offers no ray tracing" : error_);
    }
    Result built = renderer_->Rebuild(models, white, toons);
    builtGeneration_ = built.ok() ? modelGeneration_ : ~std::uint64_t{0};
    return built;
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
