// The byte layouts and plans of the ray-traced frame: constants, geometry lists and shader records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/model/scene_light.h"
#include "runtime/pose_math.h"

namespace qv {

struct ModelGpu;

// The ray-tracing constants of one frame, 256 bytes in a per-frame slot.
// Matrices keep their row-vector form here, unlike the raster constants.
struct RaytracingConstants {
    float mView[16];
    float mInverseViewProjection[16];
    float cameraPos[4];   // w = 1
    float lightPos[4];    // w = 0
    float lightDir[4];    // w = 0
    float lightColor[4];  // rgb, colour factor
    std::uint32_t diffuseSamples;
    std::uint32_t shadowSamples;
    std::uint32_t shaderIndex;  // 0 the plain look, 1 the toon look
    std::uint32_t zero[13];
};
static_assert(sizeof(RaytracingConstants) == 256);
static_assert(offsetof(RaytracingConstants, mInverseViewProjection) == 64);
static_assert(offsetof(RaytracingConstants, cameraPos) == 128);
static_assert(offsetof(RaytracingConstants, lightPos) == 144);
static_assert(offsetof(RaytracingConstants, lightDir) == 160);
static_assert(offsetof(RaytracingConstants, lightColor) == 176);
static_assert(offsetof(RaytracingConstants, diffuseSamples) == 192);
static_assert(offsetof(RaytracingConstants, shadowSamples) == 196);
static_assert(offsetof(RaytracingConstants, shaderIndex) == 200);

// The inverse of a 4x4 matrix; false (and `out` untouched) when it has none.
bool InvertMatrix(const Matrix4& m, Matrix4* out);

// The frame's constants from the camera's row-vector view and projection.
// A shader index other than 0 or 1 draws the toon look, the default.
RaytracingConstants BuildRaytracingConstants(const Matrix4& view, const Matrix4& projection,
                                             const Vector4& eye, const SceneLight& light,
                                             std::uint32_t diffuseSamples,
                                             std::uint32_t shadowSamples, std::int32_t shaderIndex);

// One triangle geometry of a bottom-level structure: a material's faces.
struct RaytracingGeometry {
    std::uint32_t model = 0;     // index into the model list it was planned from
    std::uint32_t material = 0;  // in file order
    std::uint32_t firstIndex = 0;
    std::uint32_t triangleCount = 0;
    bool doubleSided = false;
};

// Every geometry of the scene: first those of the single-sided materials
// (structure 0), then the double-sided ones (structure 1), each part in
// model order, then material order. Materials with no whole triangle and
// models without vertices give none: they could never be hit.
struct GeometryPlan {
    std::vector<RaytracingGeometry> geometries;
    std::uint32_t singleSidedCount = 0;  // geometries of structure 0
};
GeometryPlan PlanGeometries(const std::vector<const ModelGpu*>& models);

// Shader records: a 32-byte program identifier, then for hit groups the
// local arguments (eight 32-bit geometry constants and eleven 8-byte
// handles), 160 bytes in all.
inline constexpr std::uint32_t kShaderIdentifierSize = 32;
inline constexpr std::uint32_t kMissRecordStride = 32;
inline constexpr std::uint32_t kHitRecordStride = 160;
inline constexpr std::uint32_t kRecursionLimit = 16;

// `value` rounded up to a multiple of `alignment`; 0 leaves it as it is.
inline std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

struct HitArguments {
    std::uint32_t cullMode = 0;  // 0 single-sided, 1 double-sided
    std::uint32_t firstIndex = 0;
    std::uint32_t materialIndex = 0;
    std::uint32_t vertexCount = 0;
    std::uint32_t maxDepth = 0;
    std::uint32_t castShadow = 0;  // 0: shadow rays pass through, as the raster shadow map
    std::uint32_t reserved[2] = {};
    std::uint64_t material = 0;  // address of the material's constants this frame
    std::uint64_t indices = 0;   // address of the model's ray-tracing index copy
    std::uint64_t vertices = 0;  // address of the model's ray-tracing vertex copy
    // Slots of the base, sphere and toon textures in the texture array; the
    // last five stay zero.
    std::array<std::uint64_t, 8> textures{};
};
static_assert(sizeof(HitArguments) == 120);

// Writes the two records (radiance, shadow) of one geometry at `out`.
void WriteHitRecords(std::byte* out, const std::byte* radianceId, const std::byte* shadowId,
                     const HitArguments& args);

}  // namespace qv
