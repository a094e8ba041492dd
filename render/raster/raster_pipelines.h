// Shader sets, pipeline layouts and a pool that makes each raster pipeline only once.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "platform/result_code.h"

namespace qv {

inline constexpr VkFormat kSceneColorFormat = VK_FORMAT_R8G8B8A8_UNORM;
inline constexpr VkFormat kSceneDepthFormat = VK_FORMAT_D32_SFLOAT;  // the shadow maps
// The main pass's depth, with the stencil that keeps a model's ground shadow
// from darkening a pixel twice.
inline constexpr VkFormat kSceneDepthStencilFormat = VK_FORMAT_D32_SFLOAT_S8_UINT;

// Bindings of the register mapping shared with the shader compiler: b0, b1,
// t0 to t8, s0 to s2, u0.
inline constexpr std::uint32_t kBindingB0 = 0, kBindingB1 = 1, kBindingT0 = 2, kBindingS0 = 11,
                               kBindingU0 = 14;
inline constexpr std::uint32_t kTextureSlots = 9;  // t0 to t8

// One vertex and one pixel program: a shader set of the scene. The code is
// SPIR-V; the entry names are those the programs were compiled with.
struct ShaderSetCode {
    std::string name;
    std::span<const std::uint32_t> vertex;
    std::string vertexEntry = "main";
    std::span<const std::uint32_t> pixel;
    std::string pixelEntry = "main";
    // The pixel program reads the shadow map only for materials with a toon
    // texture; other programs may read it for any material that receives
    // shadows.
    bool shadowNeedsToon = false;
};

// The built-in programs, embedded at build time.
struct BuiltInPrograms {
    static std::span<const std::uint32_t> MainVertex();
    static std::span<const std::uint32_t> EdgeVertex();
    static std::span<const std::uint32_t> EdgePixel();
    static std::span<const std::uint32_t> ShadowPixel();
    static std::span<const std::uint32_t> GroundShadowVertex();
    static std::span<const std::uint32_t> GroundShadowPixel();
    static std::span<const std::uint32_t> SolidGroundShadowVertex();
    static std::span<const std::uint32_t> SolidGroundShadowPixel();
    static std::span<const std::uint32_t> ExperimentalPixel();
    static std::span<const std::uint32_t> ToonPixel();
    static std::span<const std::uint32_t> FullScreenVertex();
    static std::span<const std::uint32_t> FxaaLowPixel();
    static std::span<const std::uint32_t> FxaaHighPixel();
    static std::span<const std::uint32_t> Skinning();
};

inline constexpr const char* kExperimentalShaderName = "QV shader(experimental)";
inline constexpr const char* kToonShaderName = "QV Toon shader";

// The shader sets every scene starts with: 0 "QV shader(experimental)" and
// 1 "QV Toon shader".
ShaderSetCode BuiltInShaderSet(std::int32_t index);

// What kind of raster pipeline: the fixed-function state follows from it.
enum class RasterKind : std::uint8_t {
    Main,          // blended colour with depth
    Edge,          // as Main, outlines
    Shadow,        // depth only; a pixel program may drop cut-out texels
    Post,          // full-screen triangle into a colour target, no depth
    GroundShadow,  // blended onto the ground, depth tested, once per pixel by stencil
};

// Everything that tells two raster pipelines apart.
struct RasterPipelineKey {
    RasterKind kind = RasterKind::Main;
    VkCullModeFlags cull = VK_CULL_MODE_BACK_BIT;
    VkSampleCountFlagBits samples = VK_SAMPLE_COUNT_1_BIT;
    std::vector<std::uint32_t> vertex;
    std::string vertexEntry = "main";
    std::vector<std::uint32_t> pixel;
    std::string pixelEntry = "main";

    friend bool operator<(const RasterPipelineKey& a, const RasterPipelineKey& b) {
        return std::tie(a.kind, a.cull, a.samples, a.vertexEntry, a.pixelEntry, a.vertex, a.pixel) <
               std::tie(b.kind, b.cull, b.samples, b.vertexEntry, b.pixelEntry, b.vertex, b.pixel);
    }
};

// The two pipeline layouts every program is bound with. The raster layout
// holds b0, b1, t0 to t8 and the three samplers (fixed in the layout); the
// skinning layout b0, u0 and t0 to t6. Both take push descriptors.
struct PipelineLayouts {
    VkDescriptorSetLayout rasterSet = VK_NULL_HANDLE;
    VkPipelineLayout raster = VK_NULL_HANDLE;
    VkDescriptorSetLayout skinningSet = VK_NULL_HANDLE;
    VkPipelineLayout skinning = VK_NULL_HANDLE;
};

HRESULT CreatePipelineLayouts(VkDevice device, const std::array<VkSampler, 3>& samplers,
                              PipelineLayouts* out);
void DestroyPipelineLayouts(VkDevice device, PipelineLayouts* layouts);

HRESULT CreateSkinningPipeline(VkDevice device, const PipelineLayouts& layouts,
                               VkPipelineCache cache, VkPipeline* out);

// Raster pipelines shared by every material and pass that asks for the same
// state and programs: a model's materials mostly differ only in their
// constants, and compiling a pipeline is the slow part of loading a model.
// Lives as long as the renderer; used from the main thread only.
class PipelinePool {
public:
    // `cacheFile` holds the driver's compiled pipelines of earlier runs; it
    // is read here when valid and written back by Release. Empty: memory only.
    void Initialize(VkPhysicalDevice physical, VkDevice device, const PipelineLayouts* layouts,
                    std::filesystem::path cacheFile = {});
    // The pipeline for `key`, created on first use. E_FAIL when a program
    // does not fit the layout or the driver refuses it.
    HRESULT Get(const RasterPipelineKey& key, VkPipeline* out);
    void Release();
    std::size_t Size() const { return pipelines_.size(); }
    // For the pipelines made outside the pool (compute).
    VkPipelineCache Cache() const { return cache_; }
    bool CacheLoadedFromDisk() const { return cacheFromDisk_; }

private:
    VkPhysicalDevice physical_ = VK_NULL_HANDLE;
    std::filesystem::path cacheFile_;
    bool cacheFromDisk_ = false;
    VkDevice device_ = VK_NULL_HANDLE;
    const PipelineLayouts* layouts_ = nullptr;
    VkPipelineCache cache_ = VK_NULL_HANDLE;
    std::map<RasterPipelineKey, VkPipeline> pipelines_;
};

// The key of the main (or edge) pipeline of a material drawn with `set`.
RasterPipelineKey MainPipelineKey(const ShaderSetCode& set, VkCullModeFlags cull,
                                  VkSampleCountFlagBits samples);
RasterPipelineKey EdgePipelineKey(VkSampleCountFlagBits samples);
// The shadow map's pipeline for materials culled by `cull`: double-sided
// ones cast from both sides. With `texelTest` a pixel program drops the
// pixels of cut-out texels; without, the pipeline writes depth alone.
RasterPipelineKey ShadowPipelineKey(VkCullModeFlags cull, bool texelTest);
// The ground shadow's pipeline with `samples`, the main pass's sample count,
// with the texel test or, without, the position alone and a fixed colour.
RasterPipelineKey GroundShadowPipelineKey(VkSampleCountFlagBits samples, bool texelTest);

}  // namespace qv
