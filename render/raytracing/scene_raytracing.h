// Keeps the ray-traced frame in step with the scene's models.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/result.h"
#include "render/model/toon_textures.h"
#include "render/raytracing/raytracing_renderer.h"

namespace qv {

struct ModelGpu;

// Made where the device offers ray tracing, rebuilt on request, and used
// for a frame only while its build matches the models drawn: a model that
// came or went since makes frames rasterised until the next rebuild.
class SceneRayTracing {
public:
    // Without its pipeline the player still draws, rasterised; why is kept
    // in Error().
    void Initialize(const GpuContext& gpu, VkSampler warp, VkSampler clamp);
    void Release() { renderer_.reset(); }

    // A model's GPU half was made or freed.
    void ModelsChanged() { ++modelGeneration_; }
    // The caller has waited for the GPU.
    Result Rebuild(const std::vector<const ModelGpu*>& models, VkImageView white,
                   const std::array<OwnedImage, kToonCount>& toons);
    // Whether this frame, with ray tracing `enabled`, is traced: the build
    // is of the current models and of `drawn`, in order.
    bool Ready(bool enabled, const std::vector<ModelGpu*>& drawn) const;

    bool Available() const { return renderer_ != nullptr; }
    const std::string& Error() const { return error_; }
    const RaytracingRenderer* Renderer() const { return renderer_.get(); }
    RaytracingRenderer* Renderer() { return renderer_.get(); }

private:
    std::unique_ptr<RaytracingRenderer> renderer_;
    std::string error_;
    // Counts model creations and releases; a build is good for the count it
    // was made at.
    std::uint64_t modelGeneration_ = 0;
    std::uint64_t builtGeneration_ = ~std::uint64_t{0};
};

}  // namespace qv
