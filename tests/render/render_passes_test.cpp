// The frame's passes on the software device: shadows, outlines, the
// anti-aliasing modes and shader sets, checked on known pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>

#include "formats/png_file.h"
#include "platform/hlsl_compiler.h"
#include "render/model/scene_light.h"
#include "scene/camera.h"
#include "scene_render_fixture.h"

namespace qv {

namespace {

using namespace render_test;

constexpr std::uint8_t kReceiveShadow = kPmxMaterialReceivesShadow;
constexpr std::uint8_t kCastShadow = kPmxMaterialCastsShadow;
constexpr std::uint8_t kDrawEdge = kPmxMaterialEdge;

Float3 Cross(const Float3& a, const Float3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Appends the faces of a box with the given outward normals (one material)
// with flat normals, front faces wound the way content is: clockwise seen
// from outside. A face's texture runs from u = 0 to 1 along +x (or +z for
// the faces across x).
void AddFaces(PmxModel& model, Float3 centre, Float3 half, std::span<const Float3> normals,
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

void AddBox(PmxModel& model, Float3 centre, Float3 half, std::uint8_t flags, Float4 colour,
            std::int32_t texture = -1) {
    const Float3 normals[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    AddFaces(model, centre, half, normals, flags, colour, texture);
}

PmxModel EmptyModel() {
    PmxModel model;
    PmxBone root;
    root.name = u"root";
    root.parentIndex = -1;
    model.bones.push_back(root);
    return model;
}

// A floor that receives shadows and a block floating over it.
PmxModel FloorAndBlock(std::uint8_t blockFlags, std::uint8_t floorFlags) {
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

// The block sits at (0, 8, 0); the light looks from (20, 40, -20) at the
// origin, so the block's shadow falls around (-4, 0, 4).
TEST_F(RenderPassesTest, ShadowsDarkenOnlyWhatLiesUnderACastingBlock) {
    const Float3 shaded{-4, 0, 4};
    const Float3 open{8, 0, 2};
    for (std::int32_t set : {0, 1}) {
        SCOPED_TRACE(set);
        scene_.models.clear();
        ModelInstance* model =
            AddModel(FloorAndBlock(kCastShadow, kReceiveShadow), BuiltInShaderSet(set));
        scene_.render.antiAliasingMode = 0;
        const CapturedImage withShadow = Frames(kFrameCount);
        ModelGpu* gpu = graphics_.sceneRenderer->Find(model);
        ASSERT_NE(gpu, nullptr);
        gpu->materialConstants[0].receiveShadow = 0;  // self-shadow off for the floor
        const CapturedImage without = Frames(kFrameCount);
        if (set == 1) {
            EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/shadow_on.png", withShadow), S_OK);
        }
        EXPECT_LT(Brightness(withShadow, ScreenOf(shaded)) + 20,
                  Brightness(without, ScreenOf(shaded)));
        EXPECT_EQ(Brightness(withShadow, ScreenOf(open)), Brightness(without, ScreenOf(open)));
    }

    // A block without the cast-shadow flag leaves the floor lit, though the
    // floor still receives shadows; the ground-shadow flag alone does not
    // put it into the self-shadow map (the ground shadow it asks for is off).
    scene_.render.groundShadow = false;
    for (std::uint8_t blockFlags : {std::uint8_t{0}, std::uint8_t{kPmxMaterialGroundShadow}}) {
        scene_.models.clear();
        AddModel(FloorAndBlock(blockFlags, kReceiveShadow | kCastShadow));
        const CapturedImage noCaster = Frames(kFrameCount);
        EXPECT_EQ(Brightness(noCaster, ScreenOf(shaded)), Brightness(noCaster, ScreenOf(open)))
            << int{blockFlags};
    }
}

// An 8 x 8 texture of one colour whose left half (u < 0.5) is cut out.
CapturedImage HalfCutOut(std::array<std::uint8_t, 3> rgb) {
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

// A card at height 8 over the floor, lit from (20, 40, -20): the shadow of
// its point (x, 8, z) falls at (x - 4, 0, z + 4).
TEST_F(RenderPassesTest, CardsCastTheShadowOfTheirCutOutFromEitherSideWhenDoubleSided) {
    TempFolder folder;
    ASSERT_EQ(WritePng(folder.path() / "card.png", HalfCutOut({40, 40, 40})), S_OK);
    const Float3 up[1] = {{0, 1, 0}};
    const Float3 down[1] = {{0, -1, 0}};
    auto scene = [&](std::span<const Float3> side, std::uint8_t cardFlags, std::int32_t texture) {
        PmxModel model = EmptyModel();
        model.folder = folder.path();
        model.textures = {u"card.png"};
        AddBox(model, {0, -0.5f, 0}, {20, 0.5f, 20}, kReceiveShadow, {0.8f, 0.8f, 0.8f, 1});
        AddFaces(model, {0, 8, 0}, {2, 0, 2}, side, cardFlags, {1, 1, 1, 1}, texture);
        scene_.models.clear();
        AddModel(model, BuiltInShaderSet(0));
        return Frames(kFrameCount);
    };
    const Float3 underOpaque{-3, 0, 4}, underCutOut{-5, 0, 4}, underMiddle{-4, 0, 4};
    scene_.render.antiAliasingMode = 0;

    const CapturedImage lit = scene(up, 0, 0);
    const CapturedImage cutOut = scene(up, kCastShadow, 0);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/shadow_cut_out.png", cutOut), S_OK);
    EXPECT_LT(Brightness(cutOut, ScreenOf(underOpaque)) + 20,
              Brightness(lit, ScreenOf(underOpaque)));
    EXPECT_EQ(Brightness(cutOut, ScreenOf(underCutOut)), Brightness(lit, ScreenOf(underCutOut)));

    // A card that turns its back to the light casts only when double-sided.
    const CapturedImage oneSided = scene(down, kCastShadow, -1);
    EXPECT_EQ(Brightness(oneSided, ScreenOf(underMiddle)), Brightness(lit, ScreenOf(underMiddle)));
    const CapturedImage twoSided = scene(down, kCastShadow | kPmxMaterialDoubleSided, -1);
    EXPECT_LT(Brightness(twoSided, ScreenOf(underMiddle)) + 20,
              Brightness(lit, ScreenOf(underMiddle)));
}

TEST_F(RenderPassesTest, MaterialAlphaScalesTheTextureAndAtZeroHidesTheEdgeToo) {
    TempFolder folder;
    CapturedImage opaque = HalfCutOut({30, 60, 200});
    for (std::size_t i = 3; i < opaque.rgba.size(); i += 4) {
        opaque.rgba[i] = 255;
    }
    ASSERT_EQ(WritePng(folder.path() / "blue.png", opaque), S_OK);
    auto render = [&](float alpha) {
        PmxModel block = EmptyModel();
        block.folder = folder.path();
        block.textures = {u"blue.png"};
        AddBox(block, {0, 10, 0}, {3, 3, 3}, kDrawEdge | kCastShadow, {1, 1, 1, alpha}, 0);
        scene_.models.clear();
        AddModel(block);
        return Frames(kFrameCount);
    };
    scene_.render.antiAliasingMode = 0;
    const CapturedImage full = render(1.0f);
    const CapturedImage half = render(0.5f);
    const int fullCentre = Brightness(full, {640, 360});
    const int halfCentre = Brightness(half, {640, 360});
    EXPECT_LT(fullCentre + 60, halfCentre);  // the white background shows through
    EXPECT_LT(halfCentre, 3 * 255 - 60);

    // Faded out, neither the block nor its outline leaves a pixel.
    const CapturedImage gone = render(0.0f);
    for (std::uint32_t y = 0; y < 720; ++y) {
        for (std::uint32_t x = 0; x < 1280; ++x) {
            ASSERT_TRUE(IsWhite(gone, x, y)) << x << "," << y;
        }
    }
}

// Blocks at height 8 that ask only for a ground shadow: it falls on y = 0 at
// (x - 4, 0, z + 4), darkens overlapping parts once, and the graphics
// setting turns it off. The flag puts nothing into the self-shadow map.
TEST_F(RenderPassesTest, GroundShadowsDarkenTheGroundOncePerModelUntilSwitchedOff) {
    PmxModel blocks = EmptyModel();
    AddBox(blocks, {0, 8, 0}, {1.5f, 1.5f, 1.5f}, kPmxMaterialGroundShadow, {0.3f, 0.5f, 0.9f, 1});
    AddBox(blocks, {1, 8, 0}, {1.5f, 1.5f, 1.5f}, kPmxMaterialGroundShadow, {0.3f, 0.5f, 0.9f, 1});
    AddModel(blocks);
    scene_.render.antiAliasingMode = 0;
    const Float3 underBoth{-3.5f, 0, 4}, underOne{-5, 0, 4}, open{6, 0, 4};
    const CapturedImage on = Frames(kFrameCount);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/ground_shadow.png", on), S_OK);
    EXPECT_TRUE(IsWhite(on, ScreenOf(open).first, ScreenOf(open).second));
    const int one = Brightness(on, ScreenOf(underOne));
    EXPECT_LT(one, 3 * 255 - 200);
    EXPECT_EQ(Brightness(on, ScreenOf(underBoth)), one);

    // A second model darkens its own shadow on top.
    AddModel(blocks);
    EXPECT_LT(Brightness(Frames(kFrameCount), ScreenOf(underOne)) + 40, one);

    for (std::int32_t mode : {3, 0}) {
        scene_.render.groundShadow = false;
        const CapturedImage off = RenderMode(mode);
        EXPECT_TRUE(IsWhite(off, ScreenOf(underOne).first, ScreenOf(underOne).second)) << mode;
        scene_.render.groundShadow = true;
        EXPECT_LT(Brightness(RenderMode(mode), ScreenOf(underOne)), 3 * 255 - 200) << mode;
    }
}

// A block standing on the floor: its shadow starts at its foot. The floor a
// quarter unit beside it lies half a unit under the block's side along the
// light, in shadow; the open floor shows no speck of self-shadow.
TEST_F(RenderPassesTest, ShadowsTouchTheFeetOfWhatCastsThem) {
    PmxModel model = EmptyModel();
    AddBox(model, {0, -0.5f, 0}, {20, 0.5f, 20}, kReceiveShadow, {0.8f, 0.8f, 0.8f, 1});
    AddBox(model, {0, 1.5f, 0}, {1.5f, 1.5f, 1.5f}, kCastShadow, {0.3f, 0.5f, 0.9f, 1});
    ModelInstance* instance = AddModel(model, BuiltInShaderSet(0));
    scene_.render.antiAliasingMode = 0;
    const CapturedImage shadowed = Frames(kFrameCount);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/shadow_at_the_foot.png", shadowed), S_OK);
    graphics_.sceneRenderer->Find(instance)->materialConstants[0].receiveShadow = 0;
    const CapturedImage plain = Frames(kFrameCount);
    const Float3 besideTheFoot{-1.75f, 0, 0};
    EXPECT_LT(Brightness(shadowed, ScreenOf(besideTheFoot)) + 20,
              Brightness(plain, ScreenOf(besideTheFoot)));
    for (const Float3& open : {Float3{5, 0, 0}, Float3{8, 0, 2}, Float3{-8, 0, 6}}) {
        EXPECT_EQ(Brightness(shadowed, ScreenOf(open)), Brightness(plain, ScreenOf(open)));
    }
}

TEST(ShadowBiasTest, IsAFixedDistanceWhateverTheLightsDepthRange) {
    SceneLight light;
    const float defaultBias = ShadowDepthBias(light) * (light.farPlane - light.nearPlane);
    light.farPlane = 100.0f;
    EXPECT_NEAR(ShadowDepthBias(light) * (light.farPlane - light.nearPlane), defaultBias, 1e-4f);
    EXPECT_LT(defaultBias, 0.1f);  // a tenth of a unit lifts no shadow off a foot
}

// The block's front face in the middle of the frame, drawn by the toon set:
// a ramp beside the model replaces the shared one of its number, and a
// sphere texture in mode 3 is laid on by the first additional UV.
TEST_F(RenderPassesTest, ModelToonsWinAndSubTextureSpheresFollowTheirUv) {
    TempFolder folder;
    CapturedImage red;
    red.width = red.height = 1;
    red.rgba = {255, 0, 0, 255};
    CapturedImage sphere = HalfCutOut({0, 255, 0});  // left half: alpha 0, green
    for (std::size_t i = 0; i < sphere.rgba.size(); i += 4) {
        const bool right = (i / 4) % 8 >= 4;
        sphere.rgba[i + 1] = right ? 0 : 255;
        sphere.rgba[i + 2] = right ? 255 : 0;
        sphere.rgba[i + 3] = 255;
    }
    ASSERT_EQ(WritePng(folder.path() / "sphere.png", sphere), S_OK);
    scene_.render.antiAliasingMode = 0;
    auto centre = [&](PmxModel model) {
        model.folder = folder.path();
        scene_.models.clear();
        AddModel(model);
        const CapturedImage image = Frames(kFrameCount);
        const std::uint8_t* p = Pixel(image, 640, 360);
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    PmxModel block = EmptyModel();
    AddBox(block, {0, 10, 0}, {3, 3, 3}, 0, {1, 1, 1, 1});
    const auto shared = centre(block);
    ASSERT_EQ(WritePng(folder.path() / "Toon01.bmp", red), S_OK);
    const auto own = centre(block);
    EXPECT_GT(shared[1], 100);
    EXPECT_LT(own[1], 20);
    EXPECT_GT(own[0], 100);
    std::filesystem::remove(folder.path() / "Toon01.bmp");

    block.textures = {u"sphere.png"};
    block.materials[0].sphereTextureIndex = 0;
    block.materials[0].sphereMode = 3;
    for (float u : {0.2f, 0.8f}) {
        for (PmxVertex& v : block.vertices) {
            v.additionalUv[0] = {u, 0.5f, 0.0f, 0.0f};
        }
        const auto rgb = centre(block);
        if (u < 0.5f) {
            EXPECT_GT(rgb[1], rgb[2] + 50) << "green half";
        } else {
            EXPECT_GT(rgb[2], rgb[1] + 50) << "blue half";
        }
    }
}

TEST_F(RenderPassesTest, OutlinesAddOnlyPixelsOfTheEdgeColour) {
    PmxModel block = EmptyModel();
    AddBox(block, {0, 10, 0}, {3, 3, 3}, 0, {0.3f, 0.5f, 0.9f, 1});
    scene_.render.antiAliasingMode = 0;
    AddModel(block);
    const CapturedImage plain = Frames(kFrameCount);
    scene_.models.clear();
    block.materials[0].drawFlags = kDrawEdge;
    AddModel(block);
    const CapturedImage outlined = Frames(kFrameCount);

    std::size_t changed = 0;
    for (std::uint32_t y = 0; y < 720; ++y) {
        for (std::uint32_t x = 0; x < 1280; ++x) {
            const std::uint8_t* a = Pixel(plain, x, y);
            const std::uint8_t* b = Pixel(outlined, x, y);
            if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2]) {
                ++changed;
                ASSERT_EQ((std::array{b[0], b[1], b[2]}), (std::array<std::uint8_t, 3>{255, 0, 0}))
                    << x << "," << y;
            }
        }
    }
    EXPECT_GT(changed, 1000u);
    // The band lies outside the block: its middle keeps the surface colour.
    EXPECT_FALSE(Pixel(outlined, 640, 360)[0] == 255 && Pixel(outlined, 640, 360)[1] == 0);
}

// An outline is so many pixels wide at any distance: edge size 4 times the
// vertices' edge scale 2 on a 720-line frame is a band of 8 pixels. A ball,
// since outlines follow smooth normals as real models have them.
TEST_F(RenderPassesTest, OutlinesKeepTheirWidthOnScreenAtEveryDistance) {
    PmxModel ball = EmptyModel();
    AddBox(ball, {0, 10, 0}, {3, 3, 3}, kDrawEdge, {0.3f, 0.5f, 0.9f, 1});
    ball.vertices.clear();
    ball.indices.clear();
    const Float3 centre{0, 10, 0};
    constexpr int kRings = 24, kSegments = 48;
    for (int i = 0; i <= kRings; ++i) {
        for (int j = 0; j <= kSegments; ++j) {
            const float theta = 3.14159265f * static_cast<float>(i) / kRings;
            const float phi = 6.2831853f * static_cast<float>(j) / kSegments;
            PmxVertex v;
            v.normal = {std::sin(theta) * std::cos(phi), std::cos(theta),
                        std::sin(theta) * std::sin(phi)};
            v.position = {centre.x + 3 * v.normal.x, centre.y + 3 * v.normal.y,
                          centre.z + 3 * v.normal.z};
            v.weight.weight = {1.0f, 0.0f, 0.0f, 0.0f};
            v.edgeScale = 2.0f;
            ball.vertices.push_back(v);
        }
    }
    auto at = [](int i, int j) { return static_cast<std::uint32_t>(i * (kSegments + 1) + j); };
    for (int i = 0; i < kRings; ++i) {
        for (int j = 0; j < kSegments; ++j) {
            for (auto [a, b, c] : {std::array{at(i, j), at(i + 1, j), at(i + 1, j + 1)},
                                   std::array{at(i, j), at(i + 1, j + 1), at(i, j + 1)}}) {
                // Clockwise seen from outside: the cross product points out.
                const Float3 pa = ball.vertices[a].position, pb = ball.vertices[b].position,
                             pc = ball.vertices[c].position;
                const Float3 n = Cross({pb.x - pa.x, pb.y - pa.y, pb.z - pa.z},
                                       {pc.x - pa.x, pc.y - pa.y, pc.z - pa.z});
                const bool outward =
                    n.x * (pa.x - centre.x) + n.y * (pa.y - centre.y) + n.z * (pa.z - centre.z) >
                    0.0f;
                ball.indices.insert(ball.indices.end(), {a, outward ? b : c, outward ? c : b});
            }
        }
    }
    ball.materials[0].indexCount = static_cast<std::uint32_t>(ball.indices.size());
    ball.materials[0].edgeSize = 4.0f;
    AddModel(ball);
    scene_.render.antiAliasingMode = 0;
    // The red run right of the block along the middle row.
    auto bandWidth = [&](float distance) {
        scene_.stage.camera.baseEye = {0.0f, 10.0f, -distance, 0.0f};
        UpdateCamera(scene_.stage.camera);
        const CapturedImage image = Frames(kFrameCount);
        int width = 0;
        for (std::uint32_t x = 640; x < 1280; ++x) {
            const std::uint8_t* p = Pixel(image, x, 360);
            width += p[0] == 255 && p[1] == 0 && p[2] == 0 ? 1 : 0;
        }
        return width;
    };
    const int near = bandWidth(20.0f);
    const int far = bandWidth(60.0f);
    EXPECT_NEAR(near, 8, 1);
    EXPECT_NEAR(far, near, 1);
}

// Anti-aliasing touches only pixels next to a contrast edge of the plain
// image; every mode draws without a validation message (checked on tear
// down).
TEST_F(RenderPassesTest, AntiAliasingModesChangeOnlyPixelsNearEdges) {
    REQUIRE_GENE();
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, Gene() / "Gene_light.pmx"), S_OK);
    AddModel(gene);
    const CapturedImage none = RenderMode(0);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/gene_mode0.png", none), S_OK);

    auto luma = [](const CapturedImage& image, std::uint32_t x, std::uint32_t y) {
        const std::uint8_t* p = Pixel(image, x, y);
        return 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2];
    };
    // Pixels within two of one whose neighbourhood has some contrast.
    std::vector<std::uint8_t> nearEdge(std::size_t{1280} * 720, 0);
    for (std::uint32_t y = 1; y + 1 < 720; ++y) {
        for (std::uint32_t x = 1; x + 1 < 1280; ++x) {
            float lo = 255.0f, hi = 0.0f;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const float l = luma(none, x + dx, y + dy);
                    lo = std::min(lo, l);
                    hi = std::max(hi, l);
                }
            }
            if (hi - lo > 8.0f) {
                for (int dy = -2; dy <= 2; ++dy) {
                    for (int dx = -2; dx <= 2; ++dx) {
                        const std::uint32_t nx = std::clamp<std::int64_t>(x + dx, 0, 1279);
                        const std::uint32_t ny = std::clamp<std::int64_t>(y + dy, 0, 719);
                        nearEdge[std::size_t{ny} * 1280 + nx] = 1;
                    }
                }
            }
        }
    }

    for (std::int32_t mode : {1, 2, 3}) {
        SCOPED_TRACE(mode);
        const CapturedImage image = RenderMode(mode);
        if (mode == 3) {
            EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/gene_mode3.png", image), S_OK);
        }
        std::size_t changed = 0, farFromEdges = 0;
        for (std::uint32_t y = 0; y < 720; ++y) {
            for (std::uint32_t x = 0; x < 1280; ++x) {
                const std::uint8_t* a = Pixel(none, x, y);
                const std::uint8_t* b = Pixel(image, x, y);
                const int difference =
                    std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
                if (difference > 4) {
                    ++changed;
                    farFromEdges += nearEdge[std::size_t{y} * 1280 + x] == 0 ? 1 : 0;
                }
            }
        }
        EXPECT_GT(changed, 500u);
        EXPECT_LE(farFromEdges, changed / 100) << "of " << changed;
    }

    // Without 8 samples on the device, MSAA 8x is drawn as MSAA 4x.
    if (!graphics_.sceneRenderer->EightSamplesAvailable()) {
        const CapturedImage four = RenderMode(3);
        const CapturedImage eight = RenderMode(4);
        EXPECT_EQ(eight.rgba, four.rgba);
    } else {
        RenderMode(4);
    }
}

// Content winds front faces clockwise as seen by the viewer; a face wound
// the other way is culled unless its material is double-sided.
TEST_F(RenderPassesTest, FacesWoundClockwiseOnScreenAreTheFrontOnes) {
    // The face of a box that looks at the camera (its last one, normal -z).
    PmxModel face = EmptyModel();
    AddBox(face, {0, 10, 0}, {3, 3, 3}, 0, {0.3f, 0.5f, 0.9f, 1});
    face.indices.erase(face.indices.begin(), face.indices.end() - 6);
    face.materials[0].indexCount = 6;
    AddModel(face);
    EXPECT_FALSE(IsWhite(RenderMode(0), 640, 360));

    std::swap(face.indices[1], face.indices[2]);
    std::swap(face.indices[4], face.indices[5]);
    scene_.models.clear();
    AddModel(face);
    EXPECT_TRUE(IsWhite(RenderMode(0), 640, 360));

    face.materials[0].drawFlags = kPmxMaterialDoubleSided;
    scene_.models.clear();
    AddModel(face);
    EXPECT_FALSE(IsWhite(RenderMode(0), 640, 360));
}

TEST(AntiAliasingModeTest, UnknownModesDrawPlainAndEightFallsBackToFour) {
    EXPECT_EQ(EffectiveAntiAliasingMode(4, false), 3);
    EXPECT_EQ(EffectiveAntiAliasingMode(4, true), 4);
    EXPECT_EQ(EffectiveAntiAliasingMode(2, false), 2);
    EXPECT_EQ(EffectiveAntiAliasingMode(-1, true), 0);
    EXPECT_EQ(EffectiveAntiAliasingMode(5, true), 0);
}

constexpr const char* kFlatShader = R"(
cbuffer MaterialConstants : register(b0) {
    float4 baseColor;
};
cbuffer SceneConstants : register(b1) {
    float4x4 mModel;
    float4x4 mView;
    float4x4 mProjection;
    float4x4 mMVP;
};
struct VS_INPUT {
    float3 pos : POSITION;
    float3 normal : NORMAL;
    float2 uv : TEXCOORD;
    uint4 boneRef : BONEREF;
    float4 boneWeight : BONEWEIGHT;
};
struct PS_INPUT {
    float4 pos : SV_POSITION;
};
PS_INPUT VS(VS_INPUT input) {
    PS_INPUT output;
    output.pos = mul(float4(input.pos, 1.0f), mMVP);
    return output;
}
float4 PS(PS_INPUT input) : SV_TARGET {
    return float4(0.0f, 1.0f, 0.0f, baseColor.a);
}
)";

TEST_F(RenderPassesTest, UserShaderSetsDrawAndCanBeSwappedPerMaterial) {
    const HlslCompileResult vs = CompileHlsl(kFlatShader, "flat.hlsl", "VS", HlslStage::Vertex);
    const HlslCompileResult ps = CompileHlsl(kFlatShader, "flat.hlsl", "PS", HlslStage::Pixel);
    ASSERT_TRUE(vs.ok) << vs.messages;
    ASSERT_TRUE(ps.ok) << ps.messages;
    scene_.shaders.push_back({{vs.spirv, ps.spirv}, {false, "flat.hlsl"}});
    const ShaderSetCode flat = SceneShaderSet(scene_, 2);
    EXPECT_EQ(flat.name, "flat.hlsl");

    PmxModel block = EmptyModel();
    AddBox(block, {0, 10, 0}, {3, 3, 3}, 0, {0.3f, 0.5f, 0.9f, 1});
    ModelInstance* model = AddModel(block, flat);
    const std::uint8_t* centre = nullptr;
    const CapturedImage green = RenderMode(3);
    centre = Pixel(green, 640, 360);
    EXPECT_EQ((std::array{centre[0], centre[1], centre[2]}),
              (std::array<std::uint8_t, 3>{0, 255, 0}));
    EXPECT_EQ(graphics_.sceneRenderer->Find(model)->materials[0].shaderSetName, "flat.hlsl");

    // Back to the built-in toon set for the one material.
    EXPECT_EQ(graphics_.sceneRenderer->ApplyShader(*model, 0, SceneShaderSet(scene_, 1)), S_OK);
    EXPECT_EQ(graphics_.sceneRenderer->Find(model)->materials[0].shaderSetName, "QV Toon shader");
    const CapturedImage toon = RenderMode(3);
    centre = Pixel(toon, 640, 360);
    EXPECT_NE(centre[1], 255);
    EXPECT_EQ(graphics_.sceneRenderer->ApplyShader(*model, 1, flat), E_FAIL);
    EXPECT_EQ(graphics_.sceneRenderer->ApplyShader(*model, -1, flat), E_FAIL);

    // No default set: the built-in vertex program with the experimental
    // pixel program.
    EXPECT_EQ(SceneShaderSet(scene_, -1).name, "QV shader(experimental)");
    EXPECT_EQ(SceneShaderSet(scene_, 7).name, "QV shader(experimental)");
}

TEST_F(RenderPassesTest, MaterialsShareTheirPipelines) {
    PmxModel blocks = EmptyModel();
    for (int i = 0; i < 8; ++i) {
        AddBox(blocks, {static_cast<float>(i) * 2.0f - 8.0f, 10, 0}, {0.5f, 0.5f, 0.5f},
               i % 2 == 0 ? kDrawEdge : 0x01, {0.5f, 0.5f, 0.5f, 1});
    }
    const std::size_t before = graphics_.sceneRenderer->PipelineCount();
    const ModelInstance* model = AddModel(blocks);
    // The start-up set covers both culling modes of the toon set.
    EXPECT_EQ(graphics_.sceneRenderer->PipelineCount(), before);
    const ModelGpu* gpu = graphics_.sceneRenderer->Find(model);
    EXPECT_EQ(gpu->materials[0].mainPipelines, gpu->materials[2].mainPipelines);
    EXPECT_NE(gpu->materials[0].mainPipelines[0], gpu->materials[1].mainPipelines[0]);
    EXPECT_EQ(gpu->materials[0].edgePipelines, gpu->materials[1].edgePipelines);
    EXPECT_EQ(gpu->materials[1].cull, VkCullModeFlags{VK_CULL_MODE_NONE});
    EXPECT_EQ(gpu->materials[0].mainPipelines[2] != VK_NULL_HANDLE,
              graphics_.sceneRenderer->EightSamplesAvailable());
}

}  // namespace

namespace {

using namespace render_test;

class GeneRenderTest : public SceneRenderTest {
protected:
    // Pixels that differ between two frames, as (x, y) pairs.
    static std::vector<std::pair<std::uint32_t, std::uint32_t>> Differences(
        const CapturedImage& a, const CapturedImage& b) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (std::uint32_t y = 0; y < a.height; ++y) {
            for (std::uint32_t x = 0; x < a.width; ++x) {
                if (std::memcmp(Pixel(a, x, y), Pixel(b, x, y), 3) != 0) {
                    out.emplace_back(x, y);
                }
            }
        }
        return out;
    }
};

TEST_F(GeneRenderTest, OutlinesCarryTheEdgeColourAndShadowsOnlyDarken) {
    REQUIRE_GENE();
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, Gene() / "Gene_light.pmx"), S_OK);
    scene_.render.antiAliasingMode = 0;
    ModelInstance* model = AddModel(gene);
    const CapturedImage outlined = Frames(kFrameCount);
    ModelGpu* gpu = graphics_.sceneRenderer->Find(model);
    std::vector<std::array<std::uint8_t, 3>> edgeColours;
    for (MaterialDraw& draw : gpu->materials) {
        draw.drawEdge = false;
    }
    for (const MaterialConstants& c : gpu->materialConstants) {
        edgeColours.push_back({static_cast<std::uint8_t>(c.edgeColor[0] * 255.0f + 0.5f),
                               static_cast<std::uint8_t>(c.edgeColor[1] * 255.0f + 0.5f),
                               static_cast<std::uint8_t>(c.edgeColor[2] * 255.0f + 0.5f)});
    }
    const CapturedImage plain = Frames(kFrameCount);
    const auto edges = Differences(outlined, plain);
    EXPECT_GT(edges.size(), 100u);
    for (auto [x, y] : edges) {
        const std::uint8_t* p = Pixel(outlined, x, y);
        const std::array<std::uint8_t, 3> rgb{p[0], p[1], p[2]};
        ASSERT_NE(std::find(edgeColours.begin(), edgeColours.end(), rgb), edgeColours.end())
            << x << "," << y;
    }

    // Gene's materials have no toon ramps, so the toon shader leaves the
    // shadow out; the experimental shader shows it.
    scene_.models.clear();
    model = AddModel(gene, BuiltInShaderSet(0));
    const CapturedImage shadowed = Frames(kFrameCount);
    gpu = graphics_.sceneRenderer->Find(model);
    for (MaterialConstants& c : gpu->materialConstants) {
        c.receiveShadow = 0;
    }
    const CapturedImage unshadowed = Frames(kFrameCount);
    const auto changed = Differences(shadowed, unshadowed);
    EXPECT_GT(changed.size(), 1000u);
    for (auto [x, y] : changed) {
        const std::uint8_t* a = Pixel(shadowed, x, y);
        const std::uint8_t* b = Pixel(unshadowed, x, y);
        ASSERT_LE(a[0] + a[1] + a[2], b[0] + b[1] + b[2]) << x << "," << y;
    }
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/gene_experimental.png", shadowed), S_OK);
}

}  // namespace

}  // namespace qv
