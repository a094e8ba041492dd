// Shapes of revolution and boxes made into a model's vertices, faces and materials.
#pragma once

#include <cmath>
#include <cstdint>

#include "formats/pmx_model.h"

namespace qv::lathe {

inline Float3 operator+(Float3 a, Float3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Float3 operator-(Float3 a, Float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Float3 operator*(Float3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline float Dot(Float3 a, Float3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Float3 Cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Float3 Normalize(Float3 v) {
    const float length = std::sqrt(Dot(v, v));
    return length > 0.0f ? v * (1.0f / length) : v;
}
inline Float3 MirrorX(Float3 v) {
    return {-v.x, v.y, v.z};
}

// A surface of revolution around the segment start..end: a cylinder whose
// radius runs from r0 to r1, closed by a dome at each end that reaches cap0
// before start and cap1 beyond end. Domes as deep as the radius make a
// capsule, shallow ones a rounded drum, a zero-length segment an ellipsoid.
// The cross-section is scaled by scaleU along u, the front (-z) or, for
// segments along z, x, and by scaleV along v = axis × u.
struct Lathe {
    Float3 start;
    Float3 end;
    Float3 axis{0, 1, 0};  // used only when start == end
    float r0 = 1.0f, r1 = 1.0f;
    float cap0 = 1.0f, cap1 = 1.0f;
    float scaleU = 1.0f, scaleV = 1.0f;
    std::int32_t bone = 0;
    std::uint32_t segments = 24;
};

// Rounded ends centred on the joints, so that limbs turning about them stay
// closed.
inline Lathe Capsule(Float3 from, Float3 to, float r0, float r1, std::int32_t bone,
                     std::uint32_t segments = 16) {
    return {.start = from,
            .end = to,
            .r0 = r0,
            .r1 = r1,
            .cap0 = r0,
            .cap1 = r1,
            .bone = bone,
            .segments = segments};
}

inline Lathe Ellipsoid(Float3 center, float radius, std::int32_t bone,
                       std::uint32_t segments = 16) {
    return Capsule(center, center, radius, radius, bone, segments);
}

// Vertices first to end - 1 of a shape.
struct Shape {
    std::uint32_t first = 0;
    std::uint32_t end = 0;
};

// Builds the figure's vertices, faces (front faces clockwise seen from
// outside, with the usual cross product of the first two edges pointing out)
// and materials.
class MeshBuilder {
public:
    explicit MeshBuilder(PmxModel& model) : m_(model) {}

    void BeginMaterial() { materialStart_ = m_.indices.size(); }
    void EndMaterial(PmxMaterial material) {
        material.indexCount = static_cast<std::uint32_t>(m_.indices.size() - materialStart_);
        m_.materials.push_back(std::move(material));
    }

    // Adds the shape and returns its vertices.
    Shape AddLathe(const Lathe& s);
    // An axis-aligned box with a flat normal per face.
    void AddBox(Float3 center, Float3 half, std::int32_t bone);

    std::uint32_t Count() const { return static_cast<std::uint32_t>(m_.vertices.size()); }

private:
    void AddVertex(Float3 position, Float3 normal, Float2 uv, std::int32_t bone);
    void Triangle(std::uint32_t a, std::uint32_t b, std::uint32_t c);

    PmxModel& m_;
    std::size_t materialStart_ = 0;
};

}  // namespace qv::lathe
