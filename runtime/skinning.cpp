// The CPU reference of vertex skinning (linear blending and SDEF), which the GPU pass matches.
#include "runtime/skinning.h"

#include <cmath>

namespace qv {

namespace {

Vector4 Scale(const Vector4& v, float s) {
    return {v.x * s, v.y * s, v.z * s, 0.0f};
}

Vector4 ToPoint(const Float3& v) {
    return {v.x, v.y, v.z, 1.0f};
}

}  // namespace

SdefParams PrepareSdef(const PmxBoneWeight& weight) {
    SdefParams p;
    if (weight.deformType != kPmxDeformSdef) {
        return p;
    }
    const float w0 = weight.weight[0], w1 = weight.weight[1];
    const Float3 &c = weight.sdefC, &r0 = weight.sdefR0, &r1 = weight.sdefR1;
    // Corrected so that w0·r0' + w1·r1' = C.
    const Float3 rw{r0.x * w0 + r1.x * w1, r0.y * w0 + r1.y * w1, r0.z * w0 + r1.z * w1};
    const Float3 q0{c.x + r0.x - rw.x, c.y + r0.y - rw.y, c.z + r0.z - rw.z};
    const Float3 q1{c.x + r1.x - rw.x, c.y + r1.y - rw.y, c.z + r1.z - rw.z};
    p.c = c;
    p.cr0 = {(c.x + q0.x) * 0.5f, (c.y + q0.y) * 0.5f, (c.z + q0.z) * 0.5f};
    p.cr1 = {(c.x + q1.x) * 0.5f, (c.y + q1.y) * 0.5f, (c.z + q1.z) * 0.5f};
    p.sdef = 1.0f;
    return p;
}

SkinnedVertex SkinVertex(const Vector4& position, const Vector4& normal,
                         const PmxBoneWeight& weight, const SdefParams& sdef,
                         std::span<const Matrix4> skinning) {
    const Vector4 p{position.x, position.y, position.z, 1.0f};
    const Vector4 n{normal.x, normal.y, normal.z, 0.0f};
    const auto b0 = static_cast<std::uint32_t>(weight.boneIndex[0]);
    const auto b1 = static_cast<std::uint32_t>(weight.boneIndex[1]);
    if (sdef.sdef != 0.0f && b0 < skinning.size() && b1 < skinning.size()) {
        const float w0 = weight.weight[0], w1 = weight.weight[1];
        const Matrix4& m0 = skinning[b0];
        const Matrix4& m1 = skinning[b1];
        Quaternion q0 = MatrixToQuaternion(m0);
        const Quaternion q1 = MatrixToQuaternion(m1);
        if (Dot(q0, q1) < 0.0f) {
            q0 = {-q0.x, -q0.y, -q0.z, -q0.w};
        }
        Quaternion q{q0.x * w0 + q1.x * w1, q0.y * w0 + q1.y * w1, q0.z * w0 + q1.z * w1,
                     q0.w * w0 + q1.w * w1};
        const float length = std::sqrt(Dot(q, q));
        q = length > 0.0f ? Quaternion{q.x / length, q.y / length, q.z / length, q.w / length}
                          : Quaternion{};
        const Matrix4 r = RotationMatrix(q);
        const Vector4 local =
            TransformDirection({p.x - sdef.c.x, p.y - sdef.c.y, p.z - sdef.c.z, 0.0f}, r);
        const Vector4 c0 = TransformPoint(ToPoint(sdef.cr0), m0);
        const Vector4 c1 = TransformPoint(ToPoint(sdef.cr1), m1);
        return {{local.x + c0.x * w0 + c1.x * w1, local.y + c0.y * w0 + c1.y * w1,
                 local.z + c0.z * w0 + c1.z * w1, 1.0f},
                TransformDirection(n, r)};
    }
    SkinnedVertex out{{0, 0, 0, 1}, {}};
    for (int k = 0; k < 4; ++k) {
        const auto bone = static_cast<std::uint32_t>(weight.boneIndex[k]);
        const float w = weight.weight[k];
        if (bone >= skinning.size() || !(w > 0.0f)) {
            continue;
        }
        const Vector4 q = TransformPoint(p, skinning[bone]);
        const Vector4 m = TransformDirection(n, skinning[bone]);
        out.position = Add3(out.position, Scale(q, w), 1.0f);
        out.normal = Add3(out.normal, Scale(m, w));
    }
    return out;
}

}  // namespace qv
