// A model's materials as the renderer draws them: ranges, flags, textures, constants.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "render/model/shader_layouts.h"
#include "runtime/morphs.h"

namespace qv {

struct PmxModel;

struct MaterialDraw {
    std::u16string name;
    std::uint32_t indexCount = 0;
    std::uint32_t firstIndex = 0;
    bool drawEdge = false;
    bool castShadow = false;    // into the self-shadow map
    bool groundShadow = false;  // onto the ground plane
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

// The draw list and the constants of every material, in file order.
// Materials whose texture, sphere or toon names a file the model lacks
// (`absent`, as ModelTextures::absent) draw as if they named none there: the
// diffuse colour, no sphere, no toon ramp of their own.
void BuildMaterials(const PmxModel& model, const std::vector<bool>& absent,
                    std::vector<MaterialDraw>* draws, std::vector<MaterialConstants>* constants);

// Materials on a shared toon ramp that the model brings its own image of
// (ModelTextures::ownToons, indices into the model's textures) use that
// image instead.
void UseModelToons(const std::array<std::int32_t, 10>& ownToons, std::vector<MaterialDraw>* draws);

// A material's constants as this frame's material morphs leave them: each
// value × multiply + add.
MaterialConstants MorphedMaterialConstants(const MaterialConstants& base,
                                           const MaterialMorphResult& morph);

// Below this alpha a material or texel draws nothing, in every pass; the
// pixel programs hold the same number.
inline constexpr float kAlphaCutoff = 0.01f;

// Which of a caster's pixels the alpha test drops this frame: all of them
// (the material is faded out), none (so no pixel program is needed), or
// those of cut-out texels, which only the texture knows.
enum class CasterCut : std::uint8_t { Everything, Nothing, ByTexel };

// From the material's constants this frame and `leastAlpha`, the smallest
// alpha among the texels of its base texture (255 when it has none).
CasterCut CasterCutOf(const MaterialConstants& c, std::uint8_t leastAlpha);

}  // namespace qv
