// Morph weights and what they do to vertices, bones, UVs and materials in one frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/vector_types.h"

namespace qv {

struct ModelInstance;
struct PmxModel;

// One slider of the model setting window, bound to a morph weight.
struct MorphControl {
    std::string name;  // UTF-8
    // "Group", "Vertex", "Bone", "UV", "UV1" to "UV4", "Material", "Flip" or "Impulse"
    std::string kind;
    float* weight = nullptr;
};

// A morph that group and flip morphs reach, with the product of the weights
// on the way: a group at weight w adds w × factor to it.
struct MorphLink {
    std::uint32_t morph = 0;
    float factor = 0.0f;
};

// What the morphs of one frame do to one material: every value becomes
// value × multiply + add. Multiplies of several morphs compound.
struct MaterialMorphValues {
    Float4 diffuse{1, 1, 1, 1};
    Float3 specular{1, 1, 1};
    float specularPower = 1.0f;
    Float3 ambient{1, 1, 1};
    Float4 edgeColor{1, 1, 1, 1};
    float edgeSize = 1.0f;
    Float4 textureTint{1, 1, 1, 1};
    Float4 sphereTint{1, 1, 1, 1};
    Float4 toonTint{1, 1, 1, 1};
    friend bool operator==(const MaterialMorphValues&, const MaterialMorphValues&) = default;
};

struct MaterialMorphResult {
    MaterialMorphValues multiply;
    MaterialMorphValues add = Zero();
    static MaterialMorphValues Zero() {
        return {{0, 0, 0, 0}, {0, 0, 0},    0,           {0, 0, 0}, {0, 0, 0, 0}, 0,
                {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    }
};

struct BoneState;

struct BoneMorphTarget {
    BoneState* bone = nullptr;
    Float3 translation;
    Float4 rotation{0, 0, 0, 1};
};

// The runtime side of one PMX morph: what its weight drives.
struct MorphState {
    std::uint32_t type = 0;
    // Index into vertexMorphWeights, uvMorphWeights or additionalUvMorphWeights
    // for those kinds; -1 otherwise.
    std::int32_t slot = -1;
    std::vector<MorphLink> links;  // group and flip morphs
    std::vector<BoneMorphTarget> bones;
    std::vector<std::int32_t> materialIndices;  // -1: every material
    std::vector<MaterialMorphValues> materialValues;
    std::vector<std::uint8_t> materialAdds;  // 1 add, 0 multiply
    std::vector<std::int32_t> impulseBodies;
    std::vector<std::uint8_t> impulseLocal;
    std::vector<Float3> impulseVelocity;
    std::vector<Float3> impulseTorque;
};

// Builds one weight per morph of every kind, the name map and the controls,
// the slots of the vertex (kind 1) and UV (kind 3) morphs among their own
// kind (their offsets go to the GPU as they are in the model), and what
// group and flip morphs reach. A group that reaches itself, or nests deeper
// than kMaxMorphNesting, is refused: it does nothing.
void BuildMorphs(ModelInstance& instance, const PmxModel& model);

inline constexpr std::uint32_t kMaxMorphNesting = 64;

// Turns the morph weights of this frame into what they drive: the vertex and
// UV weights the GPU applies, the bones' morph pose (added before IK), the
// material values and the additional-UV weights. Runs in UpdateModel, after
// the motion is evaluated and before the skeleton is updated.
void ApplyMorphs(ModelInstance& instance);

}  // namespace qv
