// The ray-traced frame: the pipeline and its shader tables, the acceleration structures and the
// dispatch.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"
#include "render/model/toon_textures.h"
#include "render/raytracing/raytracing_layout.h"
#include "render/vk/gpu_buffers.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

struct ModelGpu;

// The image of every ray-traced frame: one pixel per ray-generation thread,
// written on the compute queue and read by the direct one. Rests in the
// general layout.
struct RaytracingOutput {
    OwnedImage image;
    std::uint32_t width = 0, height = 0;
    bool fresh = true;  // layout not yet set on the GPU
};

class RaytracingRenderer {
public:
    RaytracingRenderer() = default;
    RaytracingRenderer(const RaytracingRenderer&) = delete;
    RaytracingRenderer& operator=(const RaytracingRenderer&) = delete;
    ~RaytracingRenderer() { Release(); }

    // The pipeline, its layouts and the per-frame constants. The message
    // says what failed.
    Result Initialize(const GpuContext& gpu, VkSampler warp, VkSampler clamp);
    void Release();

    // Recreates the structures and the shader tables for `models` in scene
    // order, with their textures and the shared toons. The caller has waited
    // for the GPU. On failure nothing of the old build is left and
    // Built() is false.
    Result Rebuild(const std::vector<const ModelGpu*>& models, VkImageView white,
                   const std::array<OwnedImage, kToonCount>& toons);
    bool Built() const { return built_; }
    // The models of the last successful build, in order.
    const std::vector<const ModelGpu*>& BuiltModels() const { return builtModels_; }
    std::size_t HitRecordCount() const { return hitRecordCount_; }
    const RaytracingConstants& Constants(std::uint32_t frame) const {
        return *static_cast<const RaytracingConstants*>(constants_.Slot(frame));
    }

    // An output of this size; an old one is kept until the frames that may
    // use it are done. `recordedFrames` counts the frames recorded so far.
    HRESULT EnsureOutput(std::uint32_t width, std::uint32_t height, std::uint64_t recordedFrames);
    RaytracingOutput& Output() { return output_; }

    // Timestamps around each frame's structure builds, for measurements;
    // false where the compute queue keeps no time.
    bool EnableBuildTimings();
    // Milliseconds the GPU spent building the structures of the frame last
    // recorded in slot `frame`; waits for it. Negative without timings.
    double BuildMilliseconds(std::uint32_t frame) const;

    // On the compute list, after the skinning: the constants into slot f,
    // the structures rebuilt from this frame's vertices, and the rays.
    void Record(VkCommandBuffer cmd, std::uint32_t frame, const RaytracingConstants& constants);

private:
    // The first slot of each model's textures in the texture array, and how
    // many slots the array has.
    struct TextureSlots {
        std::vector<std::uint32_t> firstOfModel;
        std::uint32_t count = 0;
    };

    Result CreateLayouts();
    Result CreatePipeline();
    HRESULT BuildAccelerationStructures(const std::vector<const ModelGpu*>& models,
                                        const GeometryPlan& plan);
    HRESULT BuildShaderTables(const std::vector<const ModelGpu*>& models, const GeometryPlan& plan,
                              VkImageView white, const std::array<OwnedImage, kToonCount>& toons);
    HRESULT BuildTextureSet(const std::vector<const ModelGpu*>& models, VkImageView white,
                            const std::array<OwnedImage, kToonCount>& toons, TextureSlots* slots);
    // A mapped table of `size` bytes from an address the device accepts as a
    // table start: `start` on the CPU, `address` on the GPU.
    HRESULT CreateTable(VkDeviceSize size, GpuBuffer* buffer, std::byte** start,
                        VkDeviceAddress* address);
    // What geometry `g` of `model` hands its hit programs in frame slot f.
    HitArguments HitArgumentsOf(const ModelGpu& model, const RaytracingGeometry& g, std::uint32_t f,
                                const TextureSlots& slots) const;
    void ReleaseBuild();
    // The structures rebuilt from this frame's skinned vertices, between
    // the build timestamps of slot f.
    void RecordStructureBuilds(VkCommandBuffer cmd, std::uint32_t frame);
    HRESULT CreateAddressedBuffer(VkDeviceSize size, VkBufferUsageFlags usage, bool hostVisible,
                                  GpuBuffer* out);
    VkDeviceAddress Address(VkBuffer buffer) const;

    struct Structure {
        GpuBuffer storage;
        GpuBuffer scratch;
        VkAccelerationStructureKHR handle = VK_NULL_HANDLE;
        VkDeviceAddress scratchAddress = 0;
        std::vector<VkAccelerationStructureGeometryKHR> geometries;
        std::vector<VkAccelerationStructureBuildRangeInfoKHR> ranges;
        VkBuildAccelerationStructureFlagsKHR flags = 0;
    };
    HRESULT CreateStructure(VkAccelerationStructureTypeKHR type, Structure* s);
    VkAccelerationStructureBuildGeometryInfoKHR BuildInfo(VkAccelerationStructureTypeKHR type,
                                                          const Structure& s) const;

    GpuContext gpu_;
    VkPhysicalDeviceRayTracingPipelinePropertiesKHR props_{};
    VkDeviceSize scratchAlignment_ = 256;
    std::uint32_t recursionDepth_ = 1;
    VkSampler warp_ = VK_NULL_HANDLE, clamp_ = VK_NULL_HANDLE;
    std::uint32_t textureCapacity_ = 0;

    PFN_vkCmdPushDescriptorSetKHR pushDescriptors_ = nullptr;
    PFN_vkCreateAccelerationStructureKHR createStructure_ = nullptr;
    PFN_vkDestroyAccelerationStructureKHR destroyStructure_ = nullptr;
    PFN_vkGetAccelerationStructureBuildSizesKHR buildSizes_ = nullptr;
    PFN_vkGetAccelerationStructureDeviceAddressKHR structureAddress_ = nullptr;
    PFN_vkCmdBuildAccelerationStructuresKHR cmdBuild_ = nullptr;
    PFN_vkCreateRayTracingPipelinesKHR createPipelines_ = nullptr;
    PFN_vkGetRayTracingShaderGroupHandlesKHR groupHandles_ = nullptr;
    PFN_vkCmdTraceRaysKHR cmdTraceRays_ = nullptr;

    VkDescriptorSetLayout globalLayout_ = VK_NULL_HANDLE;   // pushed: constants, scene, output
    VkDescriptorSetLayout textureLayout_ = VK_NULL_HANDLE;  // the texture array
    VkPipelineLayout layout_ = VK_NULL_HANDLE;
    VkPipeline pipeline_ = VK_NULL_HANDLE;
    std::vector<std::byte> handles_;  // the five group identifiers
    PerFrameBuffer constants_;

    // Of the current build.
    bool built_ = false;
    std::vector<const ModelGpu*> builtModels_;
    std::array<Structure, 2> bottom_{};
    Structure top_{};
    GpuBuffer instances_;
    std::uint32_t instanceCount_ = 0;
    VkDescriptorPool texturePool_ = VK_NULL_HANDLE;
    VkDescriptorSet textureSet_ = VK_NULL_HANDLE;
    GpuBuffer raygenTable_, missTable_;
    std::array<GpuBuffer, 3> hitTables_{};
    VkStridedDeviceAddressRegionKHR raygenRegion_{}, missRegion_{};
    std::array<VkStridedDeviceAddressRegionKHR, 3> hitRegions_{};
    std::size_t hitRecordCount_ = 0;

    VkQueryPool timings_ = VK_NULL_HANDLE;
    float timestampPeriod_ = 1.0f;  // nanoseconds per tick

    RaytracingOutput output_;
    std::vector<std::pair<std::uint64_t, RaytracingOutput>> retiredOutputs_;
};

}  // namespace qv
