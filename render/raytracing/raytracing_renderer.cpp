// Builds the ray-tracing pipeline, shader tables and acceleration structures, and records the
// ray-traced image.
#include "render/raytracing/raytracing_renderer.h"

#include <algorithm>
#include <cstring>

#include "core/vk_struct.h"
#include "render/model/model_resources.h"
#include "shaders/rt_radiance_rchit.h"
#include "shaders/rt_radiance_rmiss.h"
#include "shaders/rt_raygen_rgen.h"
#include "shaders/rt_shadow_rchit.h"
#include "shaders/rt_shadow_rmiss.h"

namespace qv {

namespace {

// More textures than this in one scene fall back to white in ray-traced frames.
constexpr std::uint32_t kMaxTextureSlots = 8192;
constexpr std::uint32_t kGroupCount = 5;  // raygen, two misses, two hit groups

VkDeviceSize AlignUp(VkDeviceSize value, VkDeviceSize alignment) {
    return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

template <std::size_t N>
VkShaderModule CreateModule(VkDevice device, const std::uint32_t (&words)[N]) {
    auto info = VkStruct<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
    info.codeSize = N * 4;
    info.pCode = words;
    VkShaderModule module = VK_NULL_HANDLE;
    vkCreateShaderModule(device, &info, nullptr, &module);
    return module;
}

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

HRESULT RaytracingRenderer::Initialize(const GpuContext& gpu, VkSampler warp, VkSampler clamp,
                                       std::string* message) {
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
        *message = "the device lacks the ray-tracing entry points";
        return E_FAIL;
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
        *message = "the device's ray-tracing program identifiers do not fit the shader records";
        return E_FAIL;
    }
    scratchAlignment_ =
        std::max<VkDeviceSize>(1, structureProps.minAccelerationStructureScratchOffsetAlignment);
    recursionDepth_ = std::clamp<std::uint32_t>(props_.maxRayRecursionDepth, 1, kRecursionLimit);
    const VkPhysicalDeviceLimits& limits = props2.properties.limits;
    textureCapacity_ =
        std::min({kMaxTextureSlots, limits.maxPerStageDescriptorSampledImages,
                  limits.maxPerStageDescriptorSamplers, limits.maxDescriptorSetSampledImages,
                  limits.maxDescriptorSetSamplers});
    HRESULT hr = CreatePerFrameBuffer(gpu_, sizeof(RaytracingConstants),
                                      VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, &constants_);
    if (Succeeded(hr)) {
        hr = CreatePipeline(message);
    }
    return hr;
}

HRESULT RaytracingRenderer::CreatePipeline(std::string* message) {
    const VkDevice d = gpu_.device;
    const VkShaderStageFlags traced = VK_SHADER_STAGE_RAYGEN_BIT_KHR |
                                      VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR |
                                      VK_SHADER_STAGE_MISS_BIT_KHR;
    const VkDescriptorSetLayoutBinding global[3] = {
        {0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1, traced, nullptr},
        {1, VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR, 1, traced, nullptr},
        {2, VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, 1, VK_SHADER_STAGE_RAYGEN_BIT_KHR, nullptr},
    };
    auto globalInfo = VkStruct<VkDescriptorSetLayoutCreateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    globalInfo.flags = VK_DESCRIPTOR_SET_LAYOUT_CREATE_PUSH_DESCRIPTOR_BIT_KHR;
    globalInfo.bindingCount = 3;
    globalInfo.pBindings = global;
    const VkDescriptorSetLayoutBinding textures{0, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER,
                                                textureCapacity_,
                                                VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR, nullptr};
    const VkDescriptorBindingFlags variable = VK_DESCRIPTOR_BINDING_VARIABLE_DESCRIPTOR_COUNT_BIT;
    auto flags = VkStruct<VkDescriptorSetLayoutBindingFlagsCreateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_BINDING_FLAGS_CREATE_INFO);
    flags.bindingCount = 1;
    flags.pBindingFlags = &variable;
    auto textureInfo = VkStruct<VkDescriptorSetLayoutCreateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    textureInfo.pNext = &flags;
    textureInfo.bindingCount = 1;
    textureInfo.pBindings = &textures;
    if (vkCreateDescriptorSetLayout(d, &globalInfo, nullptr, &globalLayout_) != VK_SUCCESS ||
        vkCreateDescriptorSetLayout(d, &textureInfo, nullptr, &textureLayout_) != VK_SUCCESS) {
        *message = "the ray-tracing descriptor layouts cannot be created";
        return E_FAIL;
    }
    const VkDescriptorSetLayout sets[2] = {globalLayout_, textureLayout_};
    auto layoutInfo =
        VkStruct<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    layoutInfo.setLayoutCount = 2;
    layoutInfo.pSetLayouts = sets;
    if (vkCreatePipelineLayout(d, &layoutInfo, nullptr, &layout_) != VK_SUCCESS) {
        *message = "the ray-tracing pipeline layout cannot be created";
        return E_FAIL;
    }

    const VkShaderModule modules[kGroupCount] = {
        CreateModule(d, k_rt_raygen_rgen), CreateModule(d, k_rt_radiance_rmiss),
        CreateModule(d, k_rt_shadow_rmiss), CreateModule(d, k_rt_radiance_rchit),
        CreateModule(d, k_rt_shadow_rchit)};
    const VkShaderStageFlagBits stageBits[kGroupCount] = {
        VK_SHADER_STAGE_RAYGEN_BIT_KHR, VK_SHADER_STAGE_MISS_BIT_KHR, VK_SHADER_STAGE_MISS_BIT_KHR,
        VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR, VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR};
    std::array<VkPipelineShaderStageCreateInfo, kGroupCount> stages{};
    std::array<VkRayTracingShaderGroupCreateInfoKHR, kGroupCount> groups{};
    bool modulesMade = true;
    for (std::uint32_t i = 0; i < kGroupCount; ++i) {
        modulesMade = modulesMade && modules[i] != VK_NULL_HANDLE;
        stages[i] = VkStruct<VkPipelineShaderStageCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
        stages[i].stage = stageBits[i];
        stages[i].module = modules[i];
        stages[i].pName = "main";
        groups[i] = VkStruct<VkRayTracingShaderGroupCreateInfoKHR>(
            VK_STRUCTURE_TYPE_RAY_TRACING_SHADER_GROUP_CREATE_INFO_KHR);
        groups[i].generalShader = VK_SHADER_UNUSED_KHR;
        groups[i].closestHitShader = VK_SHADER_UNUSED_KHR;
        groups[i].anyHitShader = VK_SHADER_UNUSED_KHR;
        groups[i].intersectionShader = VK_SHADER_UNUSED_KHR;
        if (i < 3) {
            groups[i].type = VK_RAY_TRACING_SHADER_GROUP_TYPE_GENERAL_KHR;
            groups[i].generalShader = i;
        } else {
            groups[i].type = VK_RAY_TRACING_SHADER_GROUP_TYPE_TRIANGLES_HIT_GROUP_KHR;
            groups[i].closestHitShader = i;
        }
    }
    VkResult result = VK_ERROR_INITIALIZATION_FAILED;
    if (modulesMade) {
        auto info = VkStruct<VkRayTracingPipelineCreateInfoKHR>(
            VK_STRUCTURE_TYPE_RAY_TRACING_PIPELINE_CREATE_INFO_KHR);
        info.stageCount = kGroupCount;
        info.pStages = stages.data();
        info.groupCount = kGroupCount;
        info.pGroups = groups.data();
        info.maxPipelineRayRecursionDepth = recursionDepth_;
        info.layout = layout_;
        result = createPipelines_(d, VK_NULL_HANDLE, VK_NULL_HANDLE, 1, &info, nullptr, &pipeline_);
    }
    for (VkShaderModule module : modules) {
        if (module != VK_NULL_HANDLE) {
            vkDestroyShaderModule(d, module, nullptr);
        }
    }
    if (result != VK_SUCCESS) {
        pipeline_ = VK_NULL_HANDLE;
        *message = "the ray-tracing pipeline cannot be created";
        return E_FAIL;
    }
    handles_.resize(std::size_t{kGroupCount} * kShaderIdentifierSize);
    if (groupHandles_(d, pipeline_, 0, kGroupCount, handles_.size(), handles_.data()) !=
        VK_SUCCESS) {
        *message = "the ray-tracing program identifiers cannot be read";
        return E_FAIL;
    }
    return S_OK;
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

HRESULT RaytracingRenderer::CreateAddressedBuffer(VkDeviceSize size, VkBufferUsageFlags usage,
                                                  bool hostVisible, GpuBuffer* out) {
    const HRESULT hr =
        CreateGpuBuffer(gpu_, std::max<VkDeviceSize>(size, 16),
                        usage | VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT, hostVisible, out);
    if (Succeeded(hr) && hostVisible) {
        std::memset(out->mapped, 0, out->size);
    }
    return hr;
}

VkDeviceAddress RaytracingRenderer::Address(VkBuffer buffer) const {
    auto info = VkStruct<VkBufferDeviceAddressInfo>(VK_STRUCTURE_TYPE_BUFFER_DEVICE_ADDRESS_INFO);
    info.buffer = buffer;
    return vkGetBufferDeviceAddress(gpu_.device, &info);
}

VkAccelerationStructureBuildGeometryInfoKHR RaytracingRenderer::BuildInfo(
    VkAccelerationStructureTypeKHR type, const Structure& s) const {
    auto info = VkStruct<VkAccelerationStructureBuildGeometryInfoKHR>(
        VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_BUILD_GEOMETRY_INFO_KHR);
    info.type = type;
    info.flags = VK_BUILD_ACCELERATION_STRUCTURE_PREFER_FAST_TRACE_BIT_KHR;
    info.mode = VK_BUILD_ACCELERATION_STRUCTURE_MODE_BUILD_KHR;
    info.dstAccelerationStructure = s.handle;
    info.geometryCount = static_cast<std::uint32_t>(s.geometries.size());
    info.pGeometries = s.geometries.data();
    info.scratchData.deviceAddress = s.scratchAddress;
    return info;
}

HRESULT RaytracingRenderer::CreateStructure(VkAccelerationStructureTypeKHR type, Structure* s) {
    VkAccelerationStructureBuildGeometryInfoKHR info = BuildInfo(type, *s);
    std::vector<std::uint32_t> counts;
    for (const auto& range : s->ranges) {
        counts.push_back(range.primitiveCount);
    }
    auto sizes = VkStruct<VkAccelerationStructureBuildSizesInfoKHR>(
        VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_BUILD_SIZES_INFO_KHR);
    buildSizes_(gpu_.device, VK_ACCELERATION_STRUCTURE_BUILD_TYPE_DEVICE_KHR, &info, counts.data(),
                &sizes);
    HRESULT hr = CreateAddressedBuffer(sizes.accelerationStructureSize,
                                       VK_BUFFER_USAGE_ACCELERATION_STRUCTURE_STORAGE_BIT_KHR,
                                       false, &s->storage);
    if (Succeeded(hr)) {
        hr = CreateAddressedBuffer(sizes.buildScratchSize + scratchAlignment_,
                                   VK_BUFFER_USAGE_STORAGE_BUFFER_BIT, false, &s->scratch);
    }
    if (Failed(hr)) {
        return hr;
    }
    s->scratchAddress = AlignUp(Address(s->scratch.buffer), scratchAlignment_);
    auto create = VkStruct<VkAccelerationStructureCreateInfoKHR>(
        VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_CREATE_INFO_KHR);
    create.buffer = s->storage.buffer;
    create.size = sizes.accelerationStructureSize;
    create.type = type;
    if (createStructure_(gpu_.device, &create, nullptr, &s->handle) != VK_SUCCESS) {
        s->handle = VK_NULL_HANDLE;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT RaytracingRenderer::BuildAccelerationStructures(const std::vector<const ModelGpu*>& models,
                                                        const GeometryPlan& plan) {
    for (std::size_t i = 0; i < plan.geometries.size(); ++i) {
        const RaytracingGeometry& g = plan.geometries[i];
        const ModelGpu& model = *models[g.model];
        auto geometry = VkStruct<VkAccelerationStructureGeometryKHR>(
            VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_KHR);
        geometry.geometryType = VK_GEOMETRY_TYPE_TRIANGLES_KHR;
        geometry.flags = VK_GEOMETRY_OPAQUE_BIT_KHR;
        auto& t = geometry.geometry.triangles;
        t = VkStruct<VkAccelerationStructureGeometryTrianglesDataKHR>(
            VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_TRIANGLES_DATA_KHR);
        t.vertexFormat = VK_FORMAT_R32G32B32_SFLOAT;
        t.vertexData.deviceAddress = Address(model.rayTracingVertices.buffer);
        t.vertexStride = sizeof(VsInput);
        t.maxVertex = model.vertexCount - 1;
        t.indexType = VK_INDEX_TYPE_UINT32;
        t.indexData.deviceAddress =
            Address(model.rayTracingIndices.buffer) + VkDeviceAddress{g.firstIndex} * 4;
        Structure& s = bottom_[g.doubleSided ? 1 : 0];
        s.geometries.push_back(geometry);
        s.ranges.push_back({g.triangleCount, 0, 0, 0});
    }
    std::array<VkAccelerationStructureInstanceKHR, 2> instances{};
    for (std::uint32_t b = 0; b < 2; ++b) {
        Structure& s = bottom_[b];
        if (s.geometries.empty()) {
            continue;  // an empty structure would only be an instance that is never hit
        }
        if (const HRESULT hr = CreateStructure(VK_ACCELERATION_STRUCTURE_TYPE_BOTTOM_LEVEL_KHR, &s);
            Failed(hr)) {
            return hr;
        }
        VkAccelerationStructureInstanceKHR& instance = instances[instanceCount_++];
        instance.transform.matrix[0][0] = instance.transform.matrix[1][1] =
            instance.transform.matrix[2][2] = 1.0f;
        instance.instanceCustomIndex = 0;
        instance.mask = 1;
        instance.instanceShaderBindingTableRecordOffset = b == 0 ? 0 : 2 * plan.singleSidedCount;
        instance.flags = b == 0 ? 0 : VK_GEOMETRY_INSTANCE_TRIANGLE_FACING_CULL_DISABLE_BIT_KHR;
        auto where = VkStruct<VkAccelerationStructureDeviceAddressInfoKHR>(
            VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_DEVICE_ADDRESS_INFO_KHR);
        where.accelerationStructure = s.handle;
        instance.accelerationStructureReference = structureAddress_(gpu_.device, &where);
    }
    HRESULT hr = CreateAddressedBuffer(
        sizeof(instances), VK_BUFFER_USAGE_ACCELERATION_STRUCTURE_BUILD_INPUT_READ_ONLY_BIT_KHR,
        true, &instances_);
    if (Failed(hr)) {
        return hr;
    }
    std::memcpy(instances_.mapped, instances.data(), sizeof(instances));
    auto geometry = VkStruct<VkAccelerationStructureGeometryKHR>(
        VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_KHR);
    geometry.geometryType = VK_GEOMETRY_TYPE_INSTANCES_KHR;
    geometry.geometry.instances = VkStruct<VkAccelerationStructureGeometryInstancesDataKHR>(
        VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_INSTANCES_DATA_KHR);
    geometry.geometry.instances.data.deviceAddress = Address(instances_.buffer);
    top_.geometries.push_back(geometry);
    top_.ranges.push_back({instanceCount_, 0, 0, 0});
    return CreateStructure(VK_ACCELERATION_STRUCTURE_TYPE_TOP_LEVEL_KHR, &top_);
}

HRESULT RaytracingRenderer::BuildShaderTables(const std::vector<const ModelGpu*>& models,
                                              const GeometryPlan& plan, VkImageView white,
                                              const std::array<OwnedImage, kToonCount>& toons) {
    // Texture slots: white first (what a missing texture reads), the shared
    // toons, then every model's own images; past the array's capacity an
    // image reads as white.
    const VkImageLayout read = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
    std::vector<VkDescriptorImageInfo> images{{warp_, white, read}};
    for (const OwnedImage& toon : toons) {
        images.push_back({clamp_, toon.view != VK_NULL_HANDLE ? toon.view : white, read});
    }
    std::vector<std::uint32_t> firstSlot(models.size(), 0);
    for (std::size_t m = 0; m < models.size(); ++m) {
        firstSlot[m] = static_cast<std::uint32_t>(images.size());
        for (const OwnedImage& texture : models[m]->textures) {
            if (images.size() < textureCapacity_) {
                images.push_back({warp_, texture.view, read});
            }
        }
    }
    images.resize(std::min<std::size_t>(images.size(), textureCapacity_));
    const auto slotCount = static_cast<std::uint32_t>(images.size());
    const VkDescriptorPoolSize poolSize{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, slotCount};
    auto poolInfo =
        VkStruct<VkDescriptorPoolCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO);
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = 1;
    poolInfo.pPoolSizes = &poolSize;
    if (vkCreateDescriptorPool(gpu_.device, &poolInfo, nullptr, &texturePool_) != VK_SUCCESS) {
        texturePool_ = VK_NULL_HANDLE;
        return E_OUTOFMEMORY;
    }
    auto variable = VkStruct<VkDescriptorSetVariableDescriptorCountAllocateInfo>(
        VK_STRUCTURE_TYPE_DESCRIPTOR_SET_VARIABLE_DESCRIPTOR_COUNT_ALLOCATE_INFO);
    variable.descriptorSetCount = 1;
    variable.pDescriptorCounts = &slotCount;
    auto allocInfo =
        VkStruct<VkDescriptorSetAllocateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO);
    allocInfo.pNext = &variable;
    allocInfo.descriptorPool = texturePool_;
    allocInfo.descriptorSetCount = 1;
    allocInfo.pSetLayouts = &textureLayout_;
    if (vkAllocateDescriptorSets(gpu_.device, &allocInfo, &textureSet_) != VK_SUCCESS) {
        return E_OUTOFMEMORY;
    }
    auto write = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
    write.dstSet = textureSet_;
    write.descriptorCount = slotCount;
    write.descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
    write.pImageInfo = images.data();
    vkUpdateDescriptorSets(gpu_.device, 1, &write, 0, nullptr);

    // The tables start where the device wants a table to start.
    const VkDeviceSize base = std::max<VkDeviceSize>(1, props_.shaderGroupBaseAlignment);
    auto table = [&](VkDeviceSize size, GpuBuffer* buffer, std::byte** start,
                     VkDeviceAddress* address) {
        const HRESULT hr = CreateAddressedBuffer(
            size + base, VK_BUFFER_USAGE_SHADER_BINDING_TABLE_BIT_KHR, true, buffer);
        if (Succeeded(hr)) {
            const VkDeviceAddress raw = Address(buffer->buffer);
            *address = AlignUp(raw, base);
            *start = static_cast<std::byte*>(buffer->mapped) + (*address - raw);
        }
        return hr;
    };
    const std::byte* id = handles_.data();
    std::byte* start = nullptr;
    VkDeviceAddress address = 0;
    const VkDeviceSize raygenStride = AlignUp(kShaderIdentifierSize, base);
    HRESULT hr = table(raygenStride, &raygenTable_, &start, &address);
    if (Failed(hr)) {
        return hr;
    }
    std::memcpy(start, id, kShaderIdentifierSize);
    raygenRegion_ = {address, raygenStride, raygenStride};
    hr = table(2 * kMissRecordStride, &missTable_, &start, &address);
    if (Failed(hr)) {
        return hr;
    }
    std::memcpy(start, id + kShaderIdentifierSize, kShaderIdentifierSize);
    std::memcpy(start + kMissRecordStride, id + 2 * kShaderIdentifierSize, kShaderIdentifierSize);
    missRegion_ = {address, kMissRecordStride, 2 * kMissRecordStride};

    // Without geometry the table still holds one pair, with empty arguments.
    const std::size_t pairs = std::max<std::size_t>(1, plan.geometries.size());
    hitRecordCount_ = 2 * pairs;
    for (std::uint32_t f = 0; f < kFrameCount; ++f) {
        hr = table(hitRecordCount_ * kHitRecordStride, &hitTables_[f], &start, &address);
        if (Failed(hr)) {
            return hr;
        }
        hitRegions_[f] = {address, kHitRecordStride, hitRecordCount_ * kHitRecordStride};
        for (std::size_t i = 0; i < pairs; ++i) {
            HitArguments args;
            if (i < plan.geometries.size()) {
                const RaytracingGeometry& g = plan.geometries[i];
                const ModelGpu& model = *models[g.model];
                const MaterialDraw& draw = model.materials[g.material];
                auto slot = [&](std::int32_t index, bool shared) -> std::uint64_t {
                    if (index < 0) {
                        return 0;
                    }
                    const std::uint64_t s = shared ? 1 + static_cast<std::uint64_t>(index)
                                                   : firstSlot[g.model] + std::uint64_t(index);
                    return s < slotCount ? s : 0;
                };
                args.cullMode = g.doubleSided ? 1 : 0;
                args.firstIndex = g.firstIndex;
                args.materialIndex = g.material;
                args.vertexCount = model.vertexCount;
                args.maxDepth = recursionDepth_;
                args.castShadow = draw.castShadow ? 1 : 0;
                args.material = Address(model.materialBuffer.buffer.buffer) +
                                model.materialBuffer.Offset(f) + g.material * kMaterialSlotSize;
                args.indices = Address(model.rayTracingIndices.buffer);
                args.vertices = Address(model.rayTracingVertices.buffer);
                args.textures[0] = slot(draw.baseTexture, false);
                args.textures[1] = slot(draw.sphereTexture, false);
                args.textures[2] = slot(draw.toonTexture, draw.sharedToon);
            }
            WriteHitRecords(start + i * 2 * kHitRecordStride, id + 3 * kShaderIdentifierSize,
                            id + 4 * kShaderIdentifierSize, args);
        }
    }
    return S_OK;
}

HRESULT RaytracingRenderer::Rebuild(const std::vector<const ModelGpu*>& models, VkImageView white,
                                    const std::array<OwnedImage, kToonCount>& toons,
                                    std::string* message) {
    ReleaseBuild();
    if (pipeline_ == VK_NULL_HANDLE) {
        *message = "there is no ray-tracing pipeline";
        return E_FAIL;
    }
    const GeometryPlan plan = PlanGeometries(models);
    HRESULT hr = BuildAccelerationStructures(models, plan);
    if (Failed(hr)) {
        *message = "the acceleration structures cannot be built";
    } else if (hr = BuildShaderTables(models, plan, white, toons); Failed(hr)) {
        *message = "the shader tables cannot be built";
    }
    if (Failed(hr)) {
        ReleaseBuild();
        return hr;
    }
    builtModels_ = models;
    built_ = true;
    return S_OK;
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

void RaytracingRenderer::Record(VkCommandBuffer cmd, std::uint32_t f,
                                const RaytracingConstants& constants) {
    std::memcpy(constants_.Slot(f), &constants, sizeof(constants));

    // The previous frame's rays are done with the structures before they
    // are built again from this frame's vertices.
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT,
                  VK_ACCESS_2_MEMORY_READ_BIT | VK_ACCESS_2_MEMORY_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                  VK_ACCESS_2_ACCELERATION_STRUCTURE_WRITE_BIT_KHR |
                      VK_ACCESS_2_ACCELERATION_STRUCTURE_READ_BIT_KHR |
                      VK_ACCESS_2_SHADER_READ_BIT);
    if (timings_ != VK_NULL_HANDLE) {
        vkCmdResetQueryPool(cmd, timings_, 2 * f, 2);
        vkCmdWriteTimestamp2(cmd, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, timings_, 2 * f);
    }
    std::vector<VkAccelerationStructureBuildGeometryInfoKHR> infos;
    std::vector<const VkAccelerationStructureBuildRangeInfoKHR*> ranges;
    for (const Structure& s : bottom_) {
        if (s.handle != VK_NULL_HANDLE) {
            infos.push_back(BuildInfo(VK_ACCELERATION_STRUCTURE_TYPE_BOTTOM_LEVEL_KHR, s));
            ranges.push_back(s.ranges.data());
        }
    }
    if (!infos.empty()) {
        cmdBuild_(cmd, static_cast<std::uint32_t>(infos.size()), infos.data(), ranges.data());
        MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                      VK_ACCESS_2_ACCELERATION_STRUCTURE_WRITE_BIT_KHR,
                      VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                      VK_ACCESS_2_ACCELERATION_STRUCTURE_READ_BIT_KHR);
    }
    const VkAccelerationStructureBuildGeometryInfoKHR topInfo =
        BuildInfo(VK_ACCELERATION_STRUCTURE_TYPE_TOP_LEVEL_KHR, top_);
    const VkAccelerationStructureBuildRangeInfoKHR* topRange = top_.ranges.data();
    cmdBuild_(cmd, 1, &topInfo, &topRange);
    if (timings_ != VK_NULL_HANDLE) {
        vkCmdWriteTimestamp2(cmd, VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                             timings_, 2 * f + 1);
    }
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                  VK_ACCESS_2_ACCELERATION_STRUCTURE_WRITE_BIT_KHR,
                  VK_PIPELINE_STAGE_2_RAY_TRACING_SHADER_BIT_KHR,
                  VK_ACCESS_2_ACCELERATION_STRUCTURE_READ_BIT_KHR);

    if (output_.fresh) {
        TransitionImage(cmd, output_.image.image, VK_IMAGE_LAYOUT_UNDEFINED,
                        VK_IMAGE_LAYOUT_GENERAL);
        output_.fresh = false;
    } else {
        TransitionImage(cmd, output_.image.image, VK_IMAGE_LAYOUT_GENERAL, VK_IMAGE_LAYOUT_GENERAL);
    }
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, pipeline_);
    const VkDescriptorBufferInfo constantsInfo{constants_.buffer.buffer, constants_.Offset(f),
                                               sizeof(RaytracingConstants)};
    auto sceneInfo = VkStruct<VkWriteDescriptorSetAccelerationStructureKHR>(
        VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET_ACCELERATION_STRUCTURE_KHR);
    sceneInfo.accelerationStructureCount = 1;
    sceneInfo.pAccelerationStructures = &top_.handle;
    const VkDescriptorImageInfo outputInfo{VK_NULL_HANDLE, output_.image.view,
                                           VK_IMAGE_LAYOUT_GENERAL};
    std::array<VkWriteDescriptorSet, 3> writes{};
    for (std::uint32_t i = 0; i < 3; ++i) {
        writes[i] = VkStruct<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
        writes[i].dstBinding = i;
        writes[i].descriptorCount = 1;
    }
    writes[0].descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
    writes[0].pBufferInfo = &constantsInfo;
    writes[1].descriptorType = VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR;
    writes[1].pNext = &sceneInfo;
    writes[2].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_IMAGE;
    writes[2].pImageInfo = &outputInfo;
    pushDescriptors_(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, layout_, 0, 3, writes.data());
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, layout_, 1, 1,
                            &textureSet_, 0, nullptr);
    const VkStridedDeviceAddressRegionKHR noCallables{};
    cmdTraceRays_(cmd, &raygenRegion_, &missRegion_, &hitRegions_[f], &noCallables, output_.width,
                  output_.height, 1);
    MemoryBarrier(cmd, VK_PIPELINE_STAGE_2_RAY_TRACING_SHADER_BIT_KHR, VK_ACCESS_2_SHADER_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT);
}

}  // namespace qv
