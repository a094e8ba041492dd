// The CPU skinning reference: linear blending and SDEF.
#include "runtime/skinning.h"
#include "tests/runtime/test_models.h"

namespace qv {

namespace {

// An elbow: the upper arm along X from the origin, the forearm from (2, 0, 0).
// Skinning matrices for the forearm bent by angle about Z at the elbow.
std::vector<Matrix4> BentElbow(float angle) {
    const Matrix4 turn = RotationMatrix(AxisAngle(0, 0, 1, angle));
    Matrix4 forearm = Multiply(TranslationMatrix({-2, 0, 0, 0}), turn);
    forearm = Multiply(forearm, TranslationMatrix({2, 0, 0, 0}));
    return {Matrix4{}, forearm};
}

PmxBoneWeight Sdef(float w0, Float3 c, Float3 r0, Float3 r1) {
    PmxBoneWeight w;
    w.deformType = kPmxDeformSdef;
    w.boneIndex = {0, 1, 0, 0};
    w.weight = {w0, 1 - w0, 0, 0};
    w.sdefC = c;
    w.sdefR0 = r0;
    w.sdefR1 = r1;
    return w;
}

}  // namespace

TEST(Skinning, SdefTurnsAboutItsCentreWhereLinearBlendingCollapses) {
    const PmxBoneWeight w = Sdef(0.5f, {2, 0, 0}, {1.5f, 0, 0}, {2.5f, 0, 0});
    const SdefParams params = PrepareSdef(w);
    EXPECT_EQ(params.sdef, 1.0f);
    // The carried points average to C, so the rest pose is untouched.
    const Vector4 onTop{2, 1, 0, 1};
    const std::vector<Matrix4> rest = {Matrix4{}, Matrix4{}};
    ExpectNear(SkinVertex(onTop, {0, 1, 0, 0}, w, params, rest).position, onTop);

    // Bent by 90°: the carried points are (1.75, 0, 0) on the upper arm and
    // (2.25, 0, 0) turned to (2, 0.25, 0) on the forearm, so the centre goes
    // to their mean (1.875, 0.125, 0); the offset (0, 1, 0) from C turns by
    // half the bend. The vertex keeps its full distance 1 from the carried
    // centre, where linear blending pulls it in to 0.707 from the elbow.
    const std::vector<Matrix4> bent = BentElbow(kPi / 2);
    const SkinnedVertex s = SkinVertex(onTop, {0, 1, 0, 0}, w, params, bent);
    const float h = std::sqrt(0.5f);
    ExpectNear(s.position, {1.875f - h, 0.125f + h, 0, 1}, 1e-5f);
    ExpectNear(s.normal, {-h, h, 0, 0}, 1e-5f);
    PmxBoneWeight linear = w;
    linear.deformType = kPmxDeformBdef2;
    const SkinnedVertex b = SkinVertex(onTop, {0, 1, 0, 0}, linear, PrepareSdef(linear), bent);
    EXPECT_NEAR(Distance(b.position, {2, 0, 0, 1}), h, 1e-5f);

    // Fully on one bone, SDEF moves with that bone alone.
    const PmxBoneWeight forearmOnly = Sdef(0.0f, {2, 0, 0}, {1.5f, 0, 0}, {2.5f, 0, 0});
    const Vector4 onForearm{3, 0.5f, 0, 1};
    ExpectNear(SkinVertex(onForearm, {}, forearmOnly, PrepareSdef(forearmOnly), bent).position,
               TransformPoint(onForearm, bent[1]), 1e-5f);
    // Bones turned far apart (+100° and -100°, 200° between them): the blend
    // takes the short way round, through 180°, not back through no turn at all.
    const Quaternion up = AxisAngle(0, 0, 1, kPi * 100 / 180);
    const Quaternion down = AxisAngle(0, 0, 1, -kPi * 100 / 180);
    const std::vector<Matrix4> apart = {RotationMatrix(up), RotationMatrix(down)};
    ASSERT_LT(Dot(MatrixToQuaternion(apart[0]), MatrixToQuaternion(apart[1])), 0.0f);
    const SkinnedVertex far = SkinVertex(onTop, {0, 1, 0, 0}, w, params, apart);
    const Vector4 sum = Add3(Rotate({1.75f, 0, 0, 0}, up), Rotate({2.25f, 0, 0, 0}, down));
    ExpectNear(far.position, {0.5f * sum.x, 0.5f * sum.y - 1, 0, 1}, 1e-5f);
    ExpectNear(far.normal, {0, -1, 0, 0}, 1e-5f);
    // A bone outside the list falls back to what linear blending does.
    PmxBoneWeight broken = w;
    broken.boneIndex[1] = 7;
    ExpectNear(SkinVertex(onTop, {}, broken, PrepareSdef(broken), bent).position, {1, 0.5f, 0, 1});
}

}  // namespace qv
