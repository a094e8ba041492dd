// Small hand-made models and motions that make each runtime test easy to read.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "runtime/model_instance.h"
#include "runtime/skeleton.h"
#include "tests/support/model_builders.h"

namespace qv {

// Comparisons and instances for the runtime tests; the builders are in model_builders.h.

inline ModelInstance MakeInstance(const PmxModel& model) {
    ModelInstance instance;
    EXPECT_EQ(CreateModelInstance(instance, model), S_OK);
    return instance;
}

inline Float4 TurnY(float angle) {
    return {0, std::sin(angle / 2), 0, std::cos(angle / 2)};
}

inline float Distance(const Vector4& a, const Vector4& b) {
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

inline void ExpectNear(const Vector4& a, const Vector4& b, float tolerance = 1e-5f) {
    EXPECT_LT(Distance(a, b), tolerance) << "(" << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                         << b.x << ", " << b.y << ", " << b.z << ")";
}

inline void ExpectNear(const Matrix4& a, const Matrix4& b, float tolerance = 1e-5f) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << "row " << r << " column " << c;
        }
    }
}

// Same rotation: q and -q included.
inline void ExpectSameRotation(const Quaternion& a, const Quaternion& b, float tolerance = 1e-5f) {
    EXPECT_NEAR(std::abs(Dot(a, b)), 1.0f, tolerance);
}

inline Quaternion AxisAngle(float x, float y, float z, float angle) {
    const float n = std::sqrt(x * x + y * y + z * z), s = std::sin(angle / 2) / n;
    return {x * s, y * s, z * s, std::cos(angle / 2)};
}

}  // namespace qv
