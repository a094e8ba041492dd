// The byte layouts the shader programs read: vertices, constant buffers, slots.
#pragma once

#include <vulkan/vulkan.h>

#include <cstddef>
#include <cstdint>

#include "runtime/pose_math.h"

namespace qv {

// The GPU vertex: the element of the draw, skinning input and skinned output
// buffers. User shaders and the skinning program read it at these offsets.
struct VsInput {
    float pos[3];
    float normal[3];
    float uv[2];
    std::uint32_t boneRef[4];
    float boneWeight[4];
};
static_assert(sizeof(VsInput) == 64);
static_assert(offsetof(VsInput, normal) == 12);
static_assert(offsetof(VsInput, uv) == 24);
static_assert(offsetof(VsInput, boneRef) == 32);
static_assert(offsetof(VsInput, boneWeight) == 48);

// Constant buffer b0 of every raster program, 144 bytes in a 256-byte slot.
struct MaterialConstants {
    float baseColor[4];
    float specularColor[3];
    float specularStrength;
    float ambientColor[3];
    float edgeSize;
    float edgeColor[4];
    float emissionColor[3];
    float emissionStrength;
    float metallic;
    float roughness;
    float reflective;
    std::uint32_t receiveShadow;
    std::uint32_t sphereMode;
    std::uint32_t textureBind[8];
    std::uint32_t padding[3];  // the buffer's size rounds up to 16 bytes
};
static_assert(sizeof(MaterialConstants) == 144);
static_assert(offsetof(MaterialConstants, specularStrength) == 28);
static_assert(offsetof(MaterialConstants, edgeSize) == 44);
static_assert(offsetof(MaterialConstants, edgeColor) == 48);
static_assert(offsetof(MaterialConstants, emissionStrength) == 76);
static_assert(offsetof(MaterialConstants, receiveShadow) == 92);
static_assert(offsetof(MaterialConstants, sphereMode) == 96);
static_assert(offsetof(MaterialConstants, textureBind) == 100);

// Constant buffer b1: matrices are stored transposed (column-major packing),
// so that mul(v, M) in a shader applies the row-vector matrix M.
struct SceneConstants {
    float mModel[16];
    float mView[16];
    float mProjection[16];
    float mMVP[16];
    float cameraPos[4];
    float lightPos[4];
    float lightDir[4];
    float lightColor[4];
    float lightView[16];
    float lightProjection[16];
    float elapsedTime;
    // Depth the shadow test allows a receiver behind the stored caster: a
    // fixed distance in units, so it follows the light's depth range.
    float shadowBias;
    // The target's size in pixels: outlines keep their width on screen.
    float viewportSize[2];
};
static_assert(sizeof(SceneConstants) == 464);
static_assert(offsetof(SceneConstants, mMVP) == 192);
static_assert(offsetof(SceneConstants, cameraPos) == 256);
static_assert(offsetof(SceneConstants, lightView) == 320);
static_assert(offsetof(SceneConstants, elapsedTime) == 448);
static_assert(offsetof(SceneConstants, viewportSize) == 456);

// What a vertex carries beside the skinned 64 bytes, in a second vertex
// buffer that skinning never touches: the first additional UV (sphere maps
// used as a sub-texture) and the outline's per-vertex scale.
struct VertexExtra {
    float uv1[2];
    float edgeScale;
    float padding;
};
static_assert(sizeof(VertexExtra) == 16);

struct SkinningConstants {
    std::uint32_t maxBoneCount;
    std::uint32_t maxVertexCount;
};

inline constexpr VkDeviceSize kMaterialSlotSize = 256;
inline constexpr VkDeviceSize kSceneSlotSize = 512;

// Row-vector matrix to the 16 floats a shader's constant buffer expects.
inline void StoreTransposed(const Matrix4& m, float out[16]) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[4 * r + c] = m.m[c][r];
        }
    }
}

}  // namespace qv
