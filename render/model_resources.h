#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/engine_context.h"
#include "platform/result_code.h"
#include "render/toon_textures.h"
#include "render/vulkan_helpers.h"
#include "runtime/morphs.h"
#include "runtime/pose_math.h"

namespace qv {

struct PmxModel;
struct ModelInstance;

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
    float padding[3];
};
static_assert(sizeof(SceneConstants) == 464);
static_assert(offsetof(SceneConstants, mMVP) == 192);
static_assert(offsetof(SceneConstants, cameraPos) == 256);
static_assert(offsetof(SceneConstants, lightView) == 320);
static_assert(offsetof(SceneConstants, elapsedTime) == 448);

struct SkinningConstants {
    std::uint32_t maxBoneCount;
    std::uint32_t maxVertexCount;
    std::uint32_t vertexMorphCount;
    std::uint32_t uvMorphCount;
    std::uint32_t morphOffset;
};

inline constexpr VkDeviceSize kMaterialSlotSize = 256;
inline constexpr VkDeviceSize kSceneSlotSize = 512;

// What creating GPU objects needs of the device.
struct GpuContext {
    VkPhysicalDevice physical = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    VkQueue queue = VK_NULL_HANDLE;  // the direct queue, for uploads
    std::uint32_t queueFamily = 0;
    // Buffers written by the compute queue and read by the direct queue are
    // shared between the two families when they differ.
    std::uint32_t computeFamily = 0;
};

struct GpuBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkDeviceSize size = 0;
    void* mapped = nullptr;  // host-visible buffers stay mapped for life
};

// A buffer of kFrameCount equal slots, one per frame in flight, written by the
// CPU while the GPU reads the other slots.
struct FrameBuffer {
    GpuBuffer buffer;
    VkDeviceSize slotSize = 0;
    VkDeviceSize Offset(std::uint32_t frame) const { return slotSize * frame; }
    void* Slot(std::uint32_t frame) const {
        return static_cast<std::byte*>(buffer.mapped) + Offset(frame);
    }
};

HRESULT CreateGpuBuffer(const GpuContext& gpu, VkDeviceSize size, VkBufferUsageFlags usage,
                        bool hostVisible, GpuBuffer* out);
void DestroyGpuBuffer(VkDevice device, GpuBuffer* buffer);
// A mapped buffer of kFrameCount zeroed slots of at least `slotSize` bytes.
HRESULT CreateFrameBuffer(const GpuContext& gpu, VkDeviceSize slotSize, VkBufferUsageFlags usage,
                          FrameBuffer* out);
// Copies data into a device-local buffer through a staging buffer; waits.
HRESULT UploadToBuffer(const GpuContext& gpu, const GpuBuffer& target, const void* data,
                       VkDeviceSize size);
// A sampled RGBA8 texture with the given pixels (width x height x 4 bytes).
HRESULT CreateTexture(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                      const std::uint8_t* rgba, OwnedImage* out);

// Resolves a texture path as written in a model (Windows style, `\` between
// components, any letter case) against the model's folder, the way a
// case-insensitive file system would. Empty when nothing matches.
std::filesystem::path ResolveContentPath(const std::filesystem::path& folder,
                                         const std::u16string& relative);

struct MaterialDraw {
    std::u16string name;
    std::uint32_t indexCount = 0;
    std::uint32_t firstIndex = 0;
    bool drawEdge = false;
    bool castShadow = false;
    bool doubleSided = false;
    // Indices into the model's textures, or into the shared toons for
    // sharedToon; -1 for none.
    std::int32_t baseTexture = -1;
    std::int32_t sphereTexture = -1;
    std::int32_t toonTexture = -1;
    bool sharedToon = false;

    // The main pipelines follow the material's own culling; the edge ones
    // always cull front faces.
    VkCullModeFlags cull = VK_CULL_MODE_BACK_BIT;
    std::string shaderSetName;
    bool shadowNeedsToon = false;  // of the shader set, see ShaderSetCode
    // By sample count: 1, 4 and 8 (null where the device has no 8x). Owned
    // by the renderer's pipeline pool, shared between materials.
    std::array<VkPipeline, 3> mainPipelines{};
    std::array<VkPipeline, 3> edgePipelines{};
};

// The GPU half of one model.
struct ModelGpu {
    std::uint32_t vertexCount = 0;
    std::uint32_t indexCount = 0;
    std::uint32_t boneCount = 0;
    std::uint32_t vertexMorphCount = 0;
    std::uint32_t uvMorphCount = 0;

    GpuBuffer indexBuffer;
    GpuBuffer skinningInput;
    GpuBuffer sdefParams;     // 48 bytes per vertex: SdefParams (runtime/skinning.h)
    GpuBuffer skinnedOutput;  // also the vertex buffer of every draw
    // Copies for ray tracing: the indices once, the skinned vertices each
    // frame after skinning.
    GpuBuffer rayTracingIndices;
    GpuBuffer rayTracingVertices;
    GpuBuffer skinningConstants;
    GpuBuffer vertexMorphOffsets;  // empty without vertex morphs
    GpuBuffer uvMorphOffsets;      // empty without UV morphs

    FrameBuffer boneMatrices;
    FrameBuffer vertexMorphWeights;
    FrameBuffer uvMorphWeights;
    FrameBuffer sceneConstants;
    FrameBuffer materialBuffer;  // one 256-byte block per material in each slot

    std::vector<OwnedImage> textures;
    std::vector<MaterialDraw> materials;
    std::vector<MaterialConstants> materialConstants;
};

// Fills the material list and constants from the model's materials.
void BuildMaterials(const PmxModel& model, ModelGpu* gpu);

// Builds every GPU object of a model. 0 on success; 2 when a texture file
// does not exist; E_FAIL for a texture that cannot be decoded (message set);
// otherwise the failing creation's code. On failure nothing is left behind.
HRESULT CreateModelGpu(const GpuContext& gpu, const PmxModel& model, const ModelInstance& instance,
                       ModelGpu* out, std::string* message);
// The caller has waited for the GPU.
void DestroyModelGpu(VkDevice device, ModelGpu* gpu);

// Row-vector matrix to the 16 floats a shader's constant buffer expects.
void StoreTransposed(const Matrix4& m, float out[16]);

// Writes slot `frame` of the model's per-frame buffers: bone matrices, morph
// weights, scene constants and material constants.
// A material's constants as this frame's material morphs leave them: each
// value × multiply + add.
MaterialConstants MorphedMaterialConstants(const MaterialConstants& base,
                                           const MaterialMorphResult& morph);

void UploadModelFrame(ModelGpu& gpu, const ModelInstance& instance, std::uint32_t frame,
                      const SceneConstants& scene);

}  // namespace qv
