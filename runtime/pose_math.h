// Vectors, quaternions and matrices in the conventions the whole pose pipeline shares.
#pragma once

#include <cmath>

namespace qv {

// Math of the pose pipeline. Points and directions are row vectors (p·M);
// matrices are stored row by row with the translation in the fourth row;
// quaternions are (x, y, z, w) and compose with the Hamilton product, so that
// a child's world rotation is parentWorld ⊗ local, matching local·parentWorld
// for matrices.

struct Vector4 {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
    friend bool operator==(const Vector4&, const Vector4&) = default;
};

struct Quaternion {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 1.0f;
    friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

struct Matrix4 {
    float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    friend bool operator==(const Matrix4&, const Matrix4&) = default;
};

inline Vector4 Add3(const Vector4& a, const Vector4& b, float w = 0.0f) {
    return {a.x + b.x, a.y + b.y, a.z + b.z, w};
}

inline Vector4 Subtract3(const Vector4& a, const Vector4& b, float w = 0.0f) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, w};
}

inline bool IsZero(const Quaternion& q) {
    return q.x == 0.0f && q.y == 0.0f && q.z == 0.0f && q.w == 0.0f;
}

inline float Dot(const Quaternion& a, const Quaternion& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

inline Quaternion Conjugate(const Quaternion& q) {
    return {-q.x, -q.y, -q.z, q.w};
}

// Hamilton product a ⊗ b.
inline Quaternion Multiply(const Quaternion& a, const Quaternion& b) {
    return {
        a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
        a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
        a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
        a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
    };
}

// R(q): the rotation of a unit quaternion, for row vectors.
inline Matrix4 RotationMatrix(const Quaternion& q) {
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    Matrix4 r;
    r.m[0][0] = 1.0f - 2.0f * (y * y + z * z);
    r.m[0][1] = 2.0f * (x * y + z * w);
    r.m[0][2] = 2.0f * (x * z - y * w);
    r.m[1][0] = 2.0f * (x * y - z * w);
    r.m[1][1] = 1.0f - 2.0f * (x * x + z * z);
    r.m[1][2] = 2.0f * (y * z + x * w);
    r.m[2][0] = 2.0f * (x * z + y * w);
    r.m[2][1] = 2.0f * (y * z - x * w);
    r.m[2][2] = 1.0f - 2.0f * (x * x + y * y);
    return r;
}

// T(v): v in the fourth row.
inline Matrix4 TranslationMatrix(const Vector4& v) {
    Matrix4 t;
    t.m[3][0] = v.x;
    t.m[3][1] = v.y;
    t.m[3][2] = v.z;
    return t;
}

inline Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
        }
    }
    return r;
}

// out = a·b for matrices whose fourth column is (0, 0, 0, 1), as every bone
// matrix is: the same result as Multiply with a quarter of the work left out.
// out must not be a or b.
inline void MultiplyAffine(const Matrix4& a, const Matrix4& b, Matrix4& out) {
    for (int i = 0; i < 4; ++i) {
        const float a0 = a.m[i][0], a1 = a.m[i][1], a2 = a.m[i][2];
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = a0 * b.m[0][j] + a1 * b.m[1][j] + a2 * b.m[2][j];
        }
        out.m[i][3] = 0.0f;
    }
    for (int j = 0; j < 3; ++j) {
        out.m[3][j] += b.m[3][j];
    }
    out.m[3][3] = 1.0f;
}

// (x, y, z, 1)·M, all four result components.
inline Vector4 TransformPoint(const Vector4& p, const Matrix4& m) {
    return {
        p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
        p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
        p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2],
        p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3],
    };
}

// (x, y, z)·upper 3x3 of M; w of the result is w.
inline Vector4 TransformDirection(const Vector4& v, const Matrix4& m, float w = 0.0f) {
    return {
        v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
        v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
        v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2],
        w,
    };
}

// Turns a direction by a unit quaternion: the vector part of q ⊗ (v, 0) ⊗ conj(q).
inline Vector4 Rotate(const Vector4& v, const Quaternion& q) {
    const Quaternion r = Multiply(Multiply(q, Quaternion{v.x, v.y, v.z, 0.0f}), Conjugate(q));
    return {r.x, r.y, r.z, 0.0f};
}

// Spherical interpolation along the shorter arc; the result is not
// renormalised. Nearly equal inputs fall back to a straight blend, which also
// keeps sin ω away from zero.
inline Quaternion Slerp(const Quaternion& q0, const Quaternion& q1, float t) {
    const float c = Dot(q0, q1);
    const float s = c < 0.0f ? -1.0f : 1.0f;
    const float cs = c * s;
    float w0 = 1.0f - t;
    float w1 = t;
    if (cs < 0.99999f) {
        const float omega = std::atan2(std::sqrt(1.0f - cs * cs), cs);
        const float sinOmega = std::sin(omega);
        w0 = std::sin((1.0f - t) * omega) / sinOmega;
        w1 = std::sin(t * omega) / sinOmega;
    }
    w1 *= s;
    return {w0 * q0.x + w1 * q1.x, w0 * q0.y + w1 * q1.y, w0 * q0.z + w1 * q1.z,
            w0 * q0.w + w1 * q1.w};
}

// Euler angles in radians to the quaternion qY ⊗ qX ⊗ qZ.
inline Quaternion EulerToQuaternion(float x, float y, float z) {
    const float sx = std::sin(x * 0.5f), cx = std::cos(x * 0.5f);
    const float sy = std::sin(y * 0.5f), cy = std::cos(y * 0.5f);
    const float sz = std::sin(z * 0.5f), cz = std::cos(z * 0.5f);
    return {
        sx * cy * cz + cx * sy * sz,
        cx * sy * cz - sx * cy * sz,
        cx * cy * sz - sx * sy * cz,
        cx * cy * cz + sx * sy * sz,
    };
}

// The unit quaternion q with R(q) equal to the upper 3x3 of m (assumed a
// rotation). Branches on the largest diagonal term for accuracy; the sign of
// the result is not defined.
inline Quaternion MatrixToQuaternion(const Matrix4& m) {
    const float m00 = m.m[0][0], m11 = m.m[1][1], m22 = m.m[2][2];
    const float trace = m00 + m11 + m22;
    Quaternion q;
    if (trace > 0.0f) {
        const float s = std::sqrt(trace + 1.0f) * 2.0f;  // 4w
        q.w = 0.25f * s;
        q.x = (m.m[1][2] - m.m[2][1]) / s;
        q.y = (m.m[2][0] - m.m[0][2]) / s;
        q.z = (m.m[0][1] - m.m[1][0]) / s;
    } else if (m00 > m11 && m00 > m22) {
        const float s = std::sqrt(1.0f + m00 - m11 - m22) * 2.0f;  // 4x
        q.w = (m.m[1][2] - m.m[2][1]) / s;
        q.x = 0.25f * s;
        q.y = (m.m[0][1] + m.m[1][0]) / s;
        q.z = (m.m[0][2] + m.m[2][0]) / s;
    } else if (m11 > m22) {
        const float s = std::sqrt(1.0f + m11 - m00 - m22) * 2.0f;  // 4y
        q.w = (m.m[2][0] - m.m[0][2]) / s;
        q.x = (m.m[0][1] + m.m[1][0]) / s;
        q.y = 0.25f * s;
        q.z = (m.m[1][2] + m.m[2][1]) / s;
    } else {
        const float s = std::sqrt(1.0f + m22 - m00 - m11) * 2.0f;  // 4z
        q.w = (m.m[0][1] - m.m[1][0]) / s;
        q.x = (m.m[0][2] + m.m[2][0]) / s;
        q.y = (m.m[1][2] + m.m[2][1]) / s;
        q.z = 0.25f * s;
    }
    return q;
}

}  // namespace qv
