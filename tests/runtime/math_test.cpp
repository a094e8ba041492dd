// Quaternions and matrices must agree, and slerp must take the short arc.
#include "tests/runtime/test_models.h"

namespace qv {

namespace {

TEST(PoseMath, QuaternionsAndMatricesAgree) {
    // A quarter turn about +Z takes +X to +Y, through the matrix and the quaternion alike.
    const Quaternion z90 = AxisAngle(0, 0, 1, kPi / 2);
    ExpectNear(TransformDirection({1, 0, 0, 0}, RotationMatrix(z90)), {0, 1, 0, 0});
    ExpectNear(Rotate({1, 0, 0, 0}, z90), {0, 1, 0, 0});

    // Row vectors apply b first in p·R(b)·R(a), which is R(a ⊗ b).
    const Quaternion a = AxisAngle(3, 0, 4, 0.7f), b = AxisAngle(0, 1, 0, -1.2f);
    Matrix4 ra = RotationMatrix(a), rb = RotationMatrix(b);
    ExpectNear(Multiply(rb, ra), RotationMatrix(Multiply(a, b)));
    rb.m[3][0] = 2.5f;
    ra.m[3][2] = -1.0f;
    Matrix4 affine;
    MultiplyAffine(rb, ra, affine);
    ExpectNear(affine, Multiply(rb, ra), 1e-6f);

    // Matrix back to quaternion, through each largest-diagonal branch.
    for (const Quaternion& q :
         {AxisAngle(1, 2, 3, 0.5f), AxisAngle(1, 0, 0, 3), AxisAngle(0, 1, 0, 3),
          AxisAngle(0, 0, 1, 3), AxisAngle(1, 1, -1, 2.9f)}) {
        ExpectSameRotation(MatrixToQuaternion(RotationMatrix(q)), q, 1e-4f);
    }
    // Euler angles compose as Y, then X, then Z.
    ExpectSameRotation(EulerToQuaternion(0.4f, -0.7f, 1.3f),
                       Multiply(Multiply(AxisAngle(0, 1, 0, -0.7f), AxisAngle(1, 0, 0, 0.4f)),
                                AxisAngle(0, 0, 1, 1.3f)));
}

TEST(PoseMath, SlerpHitsItsEndsAndTakesTheShortArc) {
    const Quaternion q0 = AxisAngle(0, 1, 0, 0.3f), q1 = AxisAngle(1, 0, 0, 1.1f);
    EXPECT_NEAR(Slerp(q0, q1, 0).y, q0.y, 1e-6f);
    EXPECT_NEAR(Slerp(q0, q1, 1).x, q1.x, 1e-6f);
    // The negated end is the same rotation and gives the same path.
    const Quaternion negated{-q1.x, -q1.y, -q1.z, -q1.w};
    ExpectSameRotation(Slerp(q0, negated, 0.5f), Slerp(q0, q1, 0.5f));
    EXPECT_GT(Dot(Slerp(q0, negated, 0.5f), q0), 0.0f);
    ExpectSameRotation(Slerp({}, AxisAngle(0, 0, 1, 1), 0.5f), AxisAngle(0, 0, 1, 0.5f));
    EXPECT_EQ(Slerp({}, {}, 0.25f).w, 1.0f);  // equal ends: no division by sin 0
}

}  // namespace

}  // namespace qv
