// Boxes, floors and a camera probe shared by the tests of the frame's passes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>
#include <utility>

#include "scene/camera.h"
#include "tests/render/scene_render_fixture.h"

namespace qv {

namespace render_test {

inline constexpr std::uint8_t kReceiveShadow = kPmxMaterialReceivesShadow;
inline constexpr std::uint8_t kCastShadow = kPmxMaterialCastsShadow;
inline constexpr std::uint8_t kDrawEdge = kPmxMaterialEdge;

inline Float3 Cross(const Float3& a, const Float3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Appends the faces of a box with the given outward normals (one material)
// with flat normals, front faces wound the way content is: clockwise seen
// from outside. A face's texture runs from u = 0 to 1 along +x (or +z for
// the faces across x).
inline void AddFaces(PmxModel& model, Float3 centre, Float3 half, std::span<const Float3> normals,
                     std::uint8_t flags, Float4 colour, std::int32_t texture = -1) {
    const auto firstIndex = static_cast<std::uint32_t>(model.indices.size());
    for (const Float3& n : normals) {
        const Float3 helper = std::abs(n.y) < 0.9f ? Float3{0, 1, 0} : Float3{1, 0, 0};
        const Float3 u = Cross(helper, n);
        const Float3 v = Cross(n, u);
        const auto base = static_cast<std::uint32_t>(model.vertices.size());
        for (auto [su, sv] : {std::pair{-1, -1}, {-1, 1}, {1, 1}, {1, -1}}) {
            PmxVertex vertex;
            vertex.position = {centre.x + half.x * (n.x + su * u.x + sv * v.x),
                               centre.y + half.y * (n.y + su * u.y + sv * v.y),
                               centre.z + half.z * (n.z + su * u.z + sv * v.z)};
            vertex.normal = n;
            vertex.uv = {(sv + 1) * 0.5f, (su + 1) * 0.5f};
            vertex.weight.weight = {1.0f, 0.0f, 0.0f, 0.0f};
            model.vertices.push_back(vertex);
        }
        for (std::uint32_t i : {0u, 2u, 1u, 0u, 3u, 2u}) {
            model.indices.push_back(base + i);
        }
    }
    PmxMaterial m = FlatMaterial(colour, 0.4f, flags,
                                 static_cast<std::uint32_t>(model.indices.size()) - firstIndex);
    m.edgeColor = {1.0f, 0.0f, 0.0f, 1.0f};
    m.edgeSize = 100.0f;  // a band of more than a unit, easy to find
    m.textureIndex = texture;
    model.materials.push_back(m);
}

inline void AddBox(PmxModel& model, Float3 centre, Float3 half, std::uint8_t flags, Float4 colour,
                   std::int32_t texture = -1) {
    const Float3 normals[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    AddFaces(model, centre, half, normals, flags, colour, texture);
}

// A floor that receives shadows and a block floating over it.
inline PmxModel FloorAndBlock(std::uint8_t blockFlags, std::uint8_t floorFlags) {
    PmxModel model = EmptyModel();
    AddBox(model, {0, -0.5f, 0}, {20, 0.5f, 20}, floorFlags, {0.8f, 0.8f, 0.8f, 1});
    AddBox(model, {0, 8, 0}, {1.5f, 1.5f, 1.5f}, blockFlags, {0.3f, 0.5f, 0.9f, 1});
    return model;
}

class RenderPassesTest : public SceneRenderTest {
protected:
    // Where a world point lands in a 1280 x 720 frame of the scene's camera.
    std::pair<std::uint32_t, std::uint32_t> ScreenOf(Float3 p) const {
        const Vector4 clip =
            TransformPoint(TransformPoint(Vector4{p.x, p.y, p.z, 1.0f}, scene_.stage.camera.view),
                           scene_.stage.camera.projection);
        const float x = (clip.x / clip.w * 0.5f + 0.5f) * 1280.0f;
        const float y = (0.5f - clip.y / clip.w * 0.5f) * 720.0f;
        return {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
    }

    static int Brightness(const CapturedImage& image, std::pair<std::uint32_t, std::uint32_t> at) {
        if (image.width != 1280 || image.height != 720 || at.first >= 1280 || at.second >= 720) {
            ADD_FAILURE() << "no pixel at " << at.first << "," << at.second;
            return -1;
        }
        const std::uint8_t* p = Pixel(image, at.first, at.second);
        return p[0] + p[1] + p[2];
    }

    CapturedImage RenderMode(std::int32_t mode) {
        scene_.render.antiAliasingMode = mode;
        return Frames(kFrameCount);
    }
};

// An 8 x 8 texture of one colour whose left half (u < 0.5) is cut out.
inline CapturedImage HalfCutOut(std::array<std::uint8_t, 3> rgb) {
    CapturedImage image;
    image.width = image.height = 8;
    for (std::uint32_t y = 0; y < 8; ++y) {
        for (std::uint32_t x = 0; x < 8; ++x) {
            image.rgba.insert(image.rgba.end(),
                              {rgb[0], rgb[1], rgb[2], static_cast<std::uint8_t>(x < 4 ? 0 : 255)});
        }
    }
    return image;
}

}  // namespace render_test

}  // namespace qv
