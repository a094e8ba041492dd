// The acceleration structures: the materials' triangles by culling mode and the instances over
// them.
#include <algorithm>
#include <cstring>

#include "core/vk_struct.h"
#include "render/model/model_resources.h"
#include "render/raytracing/raytracing_renderer.h"

namespace qv {

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

}  // namespace qv
