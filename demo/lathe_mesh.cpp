// Shapes of revolution and boxes made into a model's vertices, faces and materials.
#include "demo/lathe_mesh.h"

#include <algorithm>
#include <numbers>
#include <vector>

namespace qv::lathe {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

}  // namespace

Shape MeshBuilder::AddLathe(const Lathe& s) {
    const std::uint32_t first = Count();
    const Float3 span = s.end - s.start;
    const float length = std::sqrt(Dot(span, span));
    const Float3 t = length > 0.0f ? span * (1.0f / length) : Normalize(s.axis);
    Float3 reference{0, 0, -1};
    if (std::abs(Dot(reference, t)) > 0.7f) {
        reference = {1, 0, 0};
    }
    const Float3 u = Normalize(reference - t * Dot(reference, t));
    const Float3 v = Cross(t, u);  // u × v = t

    // Rings along the axis: offset h, radius r and the derivatives that
    // give the normal.
    struct Ring {
        float h, r, dh, dr;
    };
    std::vector<Ring> rings;
    constexpr int kCapSteps = 6;
    for (int i = 0; i <= kCapSteps; ++i) {
        const float a = 0.5f * kPi * static_cast<float>(i) / kCapSteps;
        rings.push_back(
            {-s.cap0 * std::cos(a), s.r0 * std::sin(a), s.cap0 * std::sin(a), s.r0 * std::cos(a)});
    }
    const int bodySteps = std::max(1, static_cast<int>(std::ceil(length / 0.8f)));
    if (length > 0.0f) {
        for (int i = 1; i <= bodySteps; ++i) {
            const float f = static_cast<float>(i) / static_cast<float>(bodySteps);
            rings.push_back({length * f, s.r0 + (s.r1 - s.r0) * f, length, s.r1 - s.r0});
        }
    }
    for (int i = 1; i <= kCapSteps; ++i) {
        const float a = 0.5f * kPi * (1.0f + static_cast<float>(i) / kCapSteps);
        rings.push_back({length - s.cap1 * std::cos(a), s.r1 * std::sin(a), s.cap1 * std::sin(a),
                         s.r1 * std::cos(a)});
    }

    const std::uint32_t columns = s.segments + 1;  // the seam is doubled for the UVs
    for (std::size_t i = 0; i < rings.size(); ++i) {
        const Ring& ring = rings[i];
        for (std::uint32_t j = 0; j < columns; ++j) {
            const float phi = 2.0f * kPi * static_cast<float>(j) / s.segments;
            const float c = std::cos(phi), sn = std::sin(phi);
            const Float3 radial = u * (c * s.scaleU) + v * (sn * s.scaleV);
            const Float3 position = s.start + t * ring.h + radial * ring.r;
            const Float3 alongPhi = u * (-sn * s.scaleU) + v * (c * s.scaleV);
            const Float3 alongAxis = t * ring.dh + radial * ring.dr;
            const Float3 normal = Normalize(Cross(alongPhi, alongAxis));
            const Float2 uv{static_cast<float>(j) / s.segments,
                            static_cast<float>(i) / static_cast<float>(rings.size() - 1)};
            AddVertex(position, normal, uv, s.bone);
        }
    }
    // A pole ring has all its vertices in one point: only one triangle
    // of each quad next to it has an area.
    for (std::uint32_t i = 0; i + 1 < rings.size(); ++i) {
        for (std::uint32_t j = 0; j < s.segments; ++j) {
            const std::uint32_t a = first + i * columns + j, b = a + 1;
            const std::uint32_t c = a + columns, d = c + 1;
            if (rings[i].r > 0.0f) {
                Triangle(a, b, c);
            }
            if (rings[i + 1].r > 0.0f) {
                Triangle(b, d, c);
            }
        }
    }
    return {first, Count()};
}

void MeshBuilder::AddBox(Float3 center, Float3 half, std::int32_t bone) {
    // Each face: its normal n and two in-plane axes with a × b = n.
    const Float3 x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    const Float3 faces[6][3] = {{x, y, z},      {x * -1, z, y}, {y, z, x},
                                {y * -1, x, z}, {z, x, y},      {z * -1, y, x}};
    auto extent = [&](Float3 axis) {
        return axis *
               (std::abs(axis.x) * half.x + std::abs(axis.y) * half.y + std::abs(axis.z) * half.z);
    };
    for (const auto& face : faces) {
        const Float3 n = face[0], a = extent(face[1]), b = extent(face[2]);
        const Float3 middle = center + extent(n);
        const std::uint32_t base = Count();
        AddVertex(middle - a - b, n, {0, 1}, bone);
        AddVertex(middle + a - b, n, {1, 1}, bone);
        AddVertex(middle - a + b, n, {0, 0}, bone);
        AddVertex(middle + a + b, n, {1, 0}, bone);
        Triangle(base, base + 1, base + 2);
        Triangle(base + 1, base + 3, base + 2);
    }
}

void MeshBuilder::AddVertex(Float3 position, Float3 normal, Float2 uv, std::int32_t bone) {
    PmxVertex vertex;
    vertex.position = position;
    vertex.normal = normal;
    vertex.uv = uv;
    vertex.weight.deformType = kPmxDeformBdef1;
    vertex.weight.boneIndex = {bone, 0, 0, 0};
    vertex.weight.weight = {1.0f, 0.0f, 0.0f, 0.0f};
    vertex.edgeScale = 1.0f;
    m_.vertices.push_back(vertex);
}

void MeshBuilder::Triangle(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    m_.indices.insert(m_.indices.end(), {a, b, c});
}

}  // namespace qv::lathe
