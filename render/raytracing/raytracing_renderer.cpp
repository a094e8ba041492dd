// Starts and frees the ray-tracing renderer, rebuilds it for a scene and keeps its output image.
#include "render/raytracing/raytracing_renderer.h"

#include <algorithm>

#include "core/vk_struct.h"
#include "render/model/model_resources.h"

namespace qv {

namespace {

// More textures than this in one scene fall back to white in ray-traced frames.
constexpr std::uint32_t kMaxTextureSlots = 8192;

template <class T>
T Load(VkDevice device, const char* name) {
    return reinterpret_cast<T>(vkGetDeviceProcAddr(device, name));
}

// The output image, shared by the compute queue that writes it and the
// direct queue that reads it.
HRESULT CreateOutputImage(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                          OwnedImage* out) {
    const std::uint32_t families[] = {gpu.queueFamily, gpu.computeFamily};
    return CreateColorImage(
        gpu.physical, gpu.device, width, height, VK_FORMAT_R8G8B8A8_UNORM,
        VK_IMAGE_USAGE_STORAGE_BIT | VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT,
        out, VK_IMAGE_ASPECT_COLOR_BIT, VK_SAMPLE_COUNT_1_BIT, families);
}

}  // namespace

Result RaytracingRenderer::Initialize(const GpuContext& gpu, VkSampler warp, VkSampler clamp) {
    gpu_ = gpu;
    warp_ = warp;
    clamp_ = clamp;
    const VkDevice d = gpu.device;
    pushDescriptors_ = Load<PFN_vkCmdPushDescriptorSetKHR>(d, "vkCmdPushDescriptorSetKHR");
    createStructure_ =
        Load<PFN_vkCreateAccelerationStructureKHR>(d, "vkCreateAccelerationStructureKHR");
    destroyStructure_ =
        Load<PFN_vkDestroyAccelerationStructureKHR>(d, "vkDestroyAccelerationStructureKHR");
    buildSizes_ = Load<PFN_vkGetAccelerationStructureBuildSizesKHR>(
        d, "vkGetAccelerationStructureBuildSizesKHR");
    structureAddress_ = Load<PFN_vkGetAccelerationStructureDeviceAddressKHR>(
        d, "vkGetAccelerationStructureDeviceAddressKHR");
    cmdBuild_ =
        Load<PFN_vkCmdBuildAccelerationStructuresKHR>(d, "vkCmdBuildAccelerationStructuresKHR");
    createPipelines_ =
        Load<PFN_vkCreateRayTracingPipelinesKHR>(d, "vkCreateRayTracingPipelinesKHR");
    groupHandles_ =
        Load<PFN_vkGetRayTracingShaderGroupHandlesKHR>(d, "vkGetRayTracingShaderGroupHandlesKHR");
    cmdTraceRays_ = Load<PFN_vkCmdTraceRaysKHR>(d, "vkCmdTraceRaysKHR");
    if (pushDescriptors_ == nullptr || createStructure_ == nullptr ||
        destroyStructure_ == nullptr || buildSizes_ == nullptr || structureAddress_ == nullptr ||
        cmdBuild_ == nullptr || createPipelines_ == nullptr || groupHandles_ == nullptr ||
        cmdTraceRays_ == nullptr) {
        return Result::Failure(E_FAIL, "the device lacks the ray-tracing entry points");
    }

    props_ = VkStruct<VkPhysicalDeviceRayTracingPipelinePropertiesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_PIPELINE_PROPERTIES_KHR);
    auto structureProps = VkStruct<VkPhysicalDeviceAccelerationStructurePropertiesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_PROPERTIES_KHR);
    props_.pNext = &structureProps;
    auto props2 =
        VkStruct<VkPhysicalDeviceProperties2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2);
    props2.pNext = &props_;
    vkGetPhysicalDeviceProperties2(gpu.physical, &props2);
    props_.pNext = nullptr;
    if (props_.shaderGroupHandleSize != kShaderIdentifierSize ||
        kHitRecordStride % std::max(1u, props_.shaderGroupHandleAlignment) != 0 ||
        kHitRecordStride > props_.maxShaderGroupStride) {
        return Result::Failure(
            E_FAIL, "the device's ray-tracing program identifiers do not fit the shader records");
    }
    scratchAlignment_ =
        std::max<VkDeviceSize>(1, structureProps.minAccelerationStructureScratchOffsetAlignment);
    recursionDepth_ = std::clamp<std::uint32_t>(props_.maxRayRecursionDepth, 1, kRecursionLimit);
    const VkPhysicalDeviceLimits& limits = props2.properties.limits;
    textureCapacity_ =
        std::min({kMaxTextureSlots, limits.maxPerStageDescriptorSampledImages,
                  limits.maxPerStageDescriptorSamplers, limits.maxDescriptorSetSampledImages,
                  limits.maxDescriptorSetSamplers});
    if (const HRESULT hr = CreatePerFrameBuffer(gpu_, sizeof(RaytracingConstants),
                                                VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, &constants_);
        Failed(hr)) {
        return Result::Failure(hr, "the ray-tracing constants cannot be created");
    }
    return CreatePipeline();
}

bool RaytracingRenderer::EnableBuildTimings() {
    if (timings_ != VK_NULL_HANDLE) {
        return true;
    }
    std::uint32_t count = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(gpu_.physical, &count, nullptr);
    std::vector<VkQueueFamilyProperties> families(count);
    vkGetPhysicalDeviceQueueFamilyProperties(gpu_.physical, &count, families.data());
    if (gpu_.computeFamily >= count || families[gpu_.computeFamily].timestampValidBits == 0) {
        return false;
    }
    VkPhysicalDeviceProperties props;
    vkGetPhysicalDeviceProperties(gpu_.physical, &props);
    timestampPeriod_ = props.limits.timestampPeriod;
    auto info = VkStruct<VkQueryPoolCreateInfo>(VK_STRUCTURE_TYPE_QUERY_POOL_CREATE_INFO);
    info.queryType = VK_QUERY_TYPE_TIMESTAMP;
    info.queryCount = 2 * kFrameCount;
    if (vkCreateQueryPool(gpu_.device, &info, nullptr, &timings_) != VK_SUCCESS) {
        timings_ = VK_NULL_HANDLE;
        return false;
    }
    return true;
}

double RaytracingRenderer::BuildMilliseconds(std::uint32_t frame) const {
    std::uint64_t ticks[2] = {};
    if (timings_ == VK_NULL_HANDLE ||
        vkGetQueryPoolResults(gpu_.device, timings_, 2 * frame, 2, sizeof(ticks), ticks,
                              sizeof(std::uint64_t),
                              VK_QUERY_RESULT_64_BIT | VK_QUERY_RESULT_WAIT_BIT) != VK_SUCCESS) {
        return -1.0;
    }
    return static_cast<double>(ticks[1] - ticks[0]) * timestampPeriod_ * 1e-6;
}

void RaytracingRenderer::Release() {
    if (gpu_.device == VK_NULL_HANDLE) {
        return;
    }
    if (timings_ != VK_NULL_HANDLE) {
        vkDestroyQueryPool(gpu_.device, timings_, nullptr);
        timings_ = VK_NULL_HANDLE;
    }
    ReleaseBuild();
    DestroyColorImage(gpu_.device, &output_.image);
    output_ = {};
    for (auto& [frame, out] : retiredOutputs_) {
        DestroyColorImage(gpu_.device, &out.image);
    }
    retiredOutputs_.clear();
    if (pipeline_ != VK_NULL_HANDLE) {
        vkDestroyPipeline(gpu_.device, pipeline_, nullptr);
    }
    if (layout_ != VK_NULL_HANDLE) {
        vkDestroyPipelineLayout(gpu_.device, layout_, nullptr);
    }
    for (VkDescriptorSetLayout l : {globalLayout_, textureLayout_}) {
        if (l != VK_NULL_HANDLE) {
            vkDestroyDescriptorSetLayout(gpu_.device, l, nullptr);
        }
    }
    pipeline_ = VK_NULL_HANDLE;
    layout_ = VK_NULL_HANDLE;
    globalLayout_ = textureLayout_ = VK_NULL_HANDLE;
    DestroyGpuBuffer(gpu_.device, &constants_.buffer);
    gpu_ = {};
}

void RaytracingRenderer::ReleaseBuild() {
    built_ = false;
    builtModels_.clear();
    hitRecordCount_ = 0;
    for (Structure* s : {&bottom_[0], &bottom_[1], &top_}) {
        if (s->handle != VK_NULL_HANDLE) {
            destroyStructure_(gpu_.device, s->handle, nullptr);
        }
        DestroyGpuBuffer(gpu_.device, &s->storage);
        DestroyGpuBuffer(gpu_.device, &s->scratch);
        *s = {};
    }
    DestroyGpuBuffer(gpu_.device, &instances_);
    instanceCount_ = 0;
    if (texturePool_ != VK_NULL_HANDLE) {
        vkDestroyDescriptorPool(gpu_.device, texturePool_, nullptr);
    }
    texturePool_ = VK_NULL_HANDLE;
    textureSet_ = VK_NULL_HANDLE;
    for (GpuBuffer* b :
         {&raygenTable_, &missTable_, &hitTables_[0], &hitTables_[1], &hitTables_[2]}) {
        DestroyGpuBuffer(gpu_.device, b);
    }
}

Result RaytracingRenderer::Rebuild(const std::vector<const ModelGpu*>& models, VkImageView white,
                                   const std::array<OwnedImage, kToonCount>& toons) {
    ReleaseBuild();
    if (pipeline_ == VK_NULL_HANDLE) {
        return Result::Failure(E_FAIL, "there is no ray-tracing pipeline");
    }
    const GeometryPlan plan = PlanGeometries(models);
    Result result;
    if (HRESULT hr = BuildAccelerationStructures(models, plan); Failed(hr)) {
        result = Result::Failure(hr, "the acceleration structures cannot be built");
    } else if (hr = BuildShaderTables(models, plan, white, toons); Failed(hr)) {
        result = Result::Failure(hr, "the shader tables cannot be built");
    }
    if (!result.ok()) {
        ReleaseBuild();
        return result;
    }
    builtModels_ = models;
    built_ = true;
    return {};
}

HRESULT RaytracingRenderer::EnsureOutput(std::uint32_t width, std::uint32_t height,
                                         std::uint64_t recordedFrames) {
    std::erase_if(retiredOutputs_, [&](std::pair<std::uint64_t, RaytracingOutput>& entry) {
        if (entry.first + kFrameCount < recordedFrames) {
            DestroyColorImage(gpu_.device, &entry.second.image);
            return true;
        }
        return false;
    });
    if (output_.image.image != VK_NULL_HANDLE && output_.width == width &&
        output_.height == height) {
        return S_OK;
    }
    if (output_.image.image != VK_NULL_HANDLE) {
        retiredOutputs_.emplace_back(recordedFrames, output_);
    }
    output_ = {};
    const HRESULT hr = CreateOutputImage(gpu_, width, height, &output_.image);
    if (Succeeded(hr)) {
        output_.width = width;
        output_.height = height;
    }
    return hr;
}

}  // namespace qv
