// The CPU reference of vertex skinning (linear blending and SDEF), which the GPU pass matches.
#pragma once

#include <span>

#include "formats/pmx_model.h"
#include "runtime/pose_math.h"

namespace qv {

// What SDEF needs of a vertex beyond its bones and weights, worked out once:
// the centre C and the two points the bones carry, halfway between C and
// each reference point corrected so that the weighted points meet at C.
// sdef is 0 for every other deform type.
struct SdefParams {
    Float3 c;
    Float3 cr0;
    Float3 cr1;
    float sdef = 0.0f;
};

SdefParams PrepareSdef(const PmxBoneWeight& weight);

struct SkinnedVertex {
    Vector4 position;
    Vector4 normal;
};

// Skins one vertex with the bones' skinning matrices (T(-restTail)·world).
// BDEF1/2/4 and QDEF blend the matrices linearly; SDEF turns the vertex
// about C by the blend of the two bones' rotations (their quaternions,
// aligned to the same hemisphere, weighted and normalised) and carries C by
// the bones' weighted matrices. Bones outside skinning and weights that are
// not above 0 take no part.
SkinnedVertex SkinVertex(const Vector4& position, const Vector4& normal,
                         const PmxBoneWeight& weight, const SdefParams& sdef,
                         std::span<const Matrix4> skinning);

}  // namespace qv
