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
#include "render/model_resources.h"

struct Scene;
struct Camera;

// The scene's light, fixed for the program's life.
struct SceneLight {
    Vector4 position{20.0f, 40.0f, -20.0f, 1.0f};
    Vector4 target{0.0f, 0.0f, 0.0f, 1.0f};
    Vector4 direction{-0.41f, -0.82f, 0.41f, 0.0f};
    Vector4 color{0.6039216f, 0.6039216f, 0.6039216f, 1.0f};
    float nearPlane = 1.0f;
    float farPlane = 15000.0f;
    float width = 64.0f;
    float height = 64.0f;
};

// Left-handed view and projection (depth 0 at the near plane, 1 at the far
// one), as row-vector matrices.
Matrix4 LookAtLeftHanded(const Vector4& eye, const Vector4& target, const Vector4& up);
Matrix4 PerspectiveLeftHanded(float fovY, float aspect, float nearZ, float farZ);
Matrix4 OrthographicLeftHanded(float width, float height, float nearZ, float farZ);

// The scene constants every model shares in a frame (mModel is identity).
SceneConstants BuildSceneConstants(const Camera& camera, const SceneLight& light, float aspect,
                                   float elapsedTime);

// Draws the scene's models: GPU skinning on the compute list, the main pass
// into a window-size colour and depth target on the direct list, then a copy
// into the back buffer.
class SceneRenderer {
public:
    SceneRenderer() = default;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;
    ~SceneRenderer();

    HRESULT Initialize(const GpuContext& gpu);
    // Waits for the device, then releases every model and target.
    void Release();

    // The model hook: 0, 2 for a missing texture, or the failing code; the
    // reason of a failure is in `message`.
    HRESULT CreateModel(const ModelInstance& instance, const PmxModel& model, std::string* message);
    const ModelGpu* Find(const ModelInstance* instance) const;
    // Frees a removed model's GPU half at once: the scene waits for the GPU
    // before it removes a model.
    void ReleaseModel(const ModelInstance& instance);

    // Records frame `frame`; the back buffer ends in its present layout.
    void Record(const Scene& scene, VkCommandBuffer compute, VkCommandBuffer direct,
                std::uint32_t frame, const BackBuffer& target);

    const GpuContext& Gpu() const { return gpu_; }

private:
    struct Targets {
        std::uint32_t width = 0, height = 0;
        OwnedImage color;
        OwnedImage depth;
        bool fresh = true;  // layouts not yet set on the GPU
    };

    HRESULT CreatePipelines();
    HRESULT EnsureTargets(std::uint32_t width, std::uint32_t height);
    void DestroyTargets(Targets* targets);
    void RecordSkinning(VkCommandBuffer cmd, std::uint32_t frame, ModelGpu& model);
    void RecordDraws(VkCommandBuffer cmd, std::uint32_t frame, ModelGpu& model);

    GpuContext gpu_;
    PFN_vkCmdPushDescriptorSetKHR pushDescriptors_ = nullptr;
    std::array<VkSampler, 3> samplers_{};
    VkDescriptorSetLayout rasterSetLayout_ = VK_NULL_HANDLE;
    VkDescriptorSetLayout skinningSetLayout_ = VK_NULL_HANDLE;
    VkPipelineLayout rasterLayout_ = VK_NULL_HANDLE;
    VkPipelineLayout skinningLayout_ = VK_NULL_HANDLE;
    VkPipeline skinningPipeline_ = VK_NULL_HANDLE;
    VkPipeline mainCullBack_ = VK_NULL_HANDLE;
    VkPipeline mainCullNone_ = VK_NULL_HANDLE;
    OwnedImage whiteTexture_;
    std::array<OwnedImage, kToonCount> toons_{};
    SceneLight light_;

    Targets targets_;
    // Targets replaced after a resize, with the frame count at which they
    // went: frames recorded before that may still be on the GPU.
    std::vector<std::pair<std::uint64_t, Targets>> retiredTargets_;
    std::uint64_t recordedFrames_ = 0;
    std::map<const ModelInstance*, std::unique_ptr<ModelGpu>> models_;
    std::vector<std::unique_ptr<ModelGpu>> retiredModels_;
};
