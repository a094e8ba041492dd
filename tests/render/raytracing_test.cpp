// Ray-traced frames on the software device: misses, looks, shadows, mirrors, quality and bad
// geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "formats/png_file.h"
#include "render/raytracing/raytracing_layout.h"
#include "scene_render_fixture.h"

namespace qv {

namespace {

using namespace render_test;

constexpr std::uint32_t kWidth = 320;
constexpr std::uint32_t kHeight = 180;

// One quad as one material: corners a, b, c, d wound as content winds its
// front faces (clockwise seen from the front), normal n.
void AddQuad(PmxModel& model, Float3 a, Float3 b, Float3 c, Float3 d, Float3 n, Float4 colour,
             std::uint8_t flags = kPmxMaterialReceivesShadow) {
    const auto base = static_cast<std::uint32_t>(model.vertices.size());
    for (const Float3& p : {a, b, c, d}) {
        PmxVertex v;
        v.position = p;
        v.normal = n;
        v.weight.weight = {1.0f, 0.0f, 0.0f, 0.0f};
        model.vertices.push_back(v);
    }
    for (std::uint32_t i : {0u, 1u, 2u, 0u, 2u, 3u}) {
        model.indices.push_back(base + i);
    }
    model.materials.push_back(FlatMaterial(colour, 0.3f, flags, 6));
}

// A quad facing the default camera (which looks along +z from z = -20).
void AddFacingQuad(PmxModel& model, float x, float y, float z, float half, Float4 colour,
                   std::uint8_t flags = kPmxMaterialReceivesShadow) {
    AddQuad(model, {x - half, y - half, z}, {x - half, y + half, z}, {x + half, y + half, z},
            {x + half, y - half, z}, {0, 0, -1}, colour, flags);
}

class RaytracingTest : public SceneRenderTest {
protected:
    RaytracingTest() {
        width_ = kWidth;
        height_ = kHeight;
    }
    void SetUp() override {
        SceneRenderTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        if (!graphics_.sceneRenderer->RayTracingAvailable()) {
            GTEST_SKIP() << "no ray tracing on this device: "
                         << graphics_.sceneRenderer->RayTracingError();
        }
        scene_.render.rayTracing = true;
        scene_.render.antiAliasingMode = 0;
    }

    void Rebuild() {
        WaitForGpu(ctx_);
        const Result built = graphics_.sceneRenderer->RebuildRayTracing(scene_);
        ASSERT_EQ(built.code, S_OK) << built.message;
    }

    // The sum of the channels of the pixel a world point lands on.
    int Brightness(const CapturedImage& image, Float3 p) const {
        const Vector4 clip =
            TransformPoint(TransformPoint(Vector4{p.x, p.y, p.z, 1.0f}, scene_.stage.camera.view),
                           scene_.stage.camera.projection);
        const auto x = static_cast<std::uint32_t>((clip.x / clip.w * 0.5f + 0.5f) * kWidth);
        const auto y = static_cast<std::uint32_t>((0.5f - clip.y / clip.w * 0.5f) * kHeight);
        if (x >= image.width || y >= image.height) {
            ADD_FAILURE() << "no pixel at " << x << "," << y;
            return -1;
        }
        const std::uint8_t* px = Pixel(image, x, y);
        return px[0] + px[1] + px[2];
    }
    static std::size_t Coloured(const CapturedImage& image) {
        std::size_t n = 0;
        for (std::uint32_t y = 0; y < image.height; ++y) {
            for (std::uint32_t x = 0; x < image.width; ++x) {
                n += !IsWhite(image, x, y);
            }
        }
        return n;
    }
};

TEST(RaytracingLayoutTest, ConstantsKeepRowVectorMatricesAndTheInverseUndoesViewProjection) {
    Camera camera;
    UpdateCamera(camera);
    const SceneLight light;
    const RaytracingConstants c =
        BuildRaytracingConstants(camera.view, camera.projection, camera.eye, light, 8, 12, 0);
    EXPECT_EQ(c.mView[12], camera.view.m[3][0]);  // translation in the fourth row
    EXPECT_EQ(c.diffuseSamples, 8u);
    EXPECT_EQ(c.shadowSamples, 12u);
    EXPECT_EQ(c.shaderIndex, 0u);
    EXPECT_EQ(c.cameraPos[3], 1.0f);
    EXPECT_EQ(c.lightPos[3], 0.0f);
    EXPECT_FLOAT_EQ(c.lightColor[3], light.colorFactor);
    for (std::uint32_t z : c.zero) {
        EXPECT_EQ(z, 0u);
    }
    // A point through view x projection and back.
    const Matrix4 vp = Multiply(camera.view, camera.projection);
    const Vector4 clip = TransformPoint(Vector4{1.0f, 12.0f, 3.0f, 1.0f}, vp);
    float back[4] = {};
    for (int col = 0; col < 4; ++col) {
        const float in[4] = {clip.x, clip.y, clip.z, clip.w};
        for (int row = 0; row < 4; ++row) {
            back[col] += in[row] * c.mInverseViewProjection[4 * row + col];
        }
    }
    EXPECT_NEAR(back[0] / back[3], 1.0f, 1e-3f);
    EXPECT_NEAR(back[1] / back[3], 12.0f, 1e-3f);
    EXPECT_NEAR(back[2] / back[3], 3.0f, 1e-3f);
    // Only 0 picks the plain look; anything else is the default toon look.
    EXPECT_EQ(BuildRaytracingConstants(camera.view, camera.projection, camera.eye, light, 4, 4, 7)
                  .shaderIndex,
              1u);
    // A singular camera leaves the inverse zero: every ray then misses.
    const RaytracingConstants flat =
        BuildRaytracingConstants(Matrix4{{}}, camera.projection, camera.eye, light, 4, 4, 1);
    for (float v : flat.mInverseViewProjection) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST(RaytracingLayoutTest, GeometriesGoSingleSidedFirstAndSkipWhatCannotBeHit) {
    ModelGpu a, b, empty;
    a.vertexCount = b.vertexCount = 10;
    auto material = [](std::uint32_t first, std::uint32_t count, bool doubleSided) {
        MaterialDraw d;
        d.firstIndex = first;
        d.indexCount = count;
        d.doubleSided = doubleSided;
        return d;
    };
    a.materials = {material(0, 6, true), material(6, 0, false), material(6, 7, false)};
    b.materials = {material(0, 3, false), material(3, 2, true), material(5, 3, true)};
    empty.materials = {material(0, 3, false)};  // faces, but no vertices
    const GeometryPlan plan = PlanGeometries({&a, &empty, &b});
    ASSERT_EQ(plan.geometries.size(), 4u);
    EXPECT_EQ(plan.singleSidedCount, 2u);
    const std::pair<std::uint32_t, std::uint32_t> order[] = {{0, 2}, {2, 0}, {0, 0}, {2, 2}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(plan.geometries[i].model, order[i].first) << i;
        EXPECT_EQ(plan.geometries[i].material, order[i].second) << i;
    }
    EXPECT_EQ(plan.geometries[0].triangleCount, 2u);  // 7 indices: two whole triangles
    EXPECT_TRUE(plan.geometries[3].doubleSided);

    std::byte records[2 * kHitRecordStride];
    std::byte radiance[kShaderIdentifierSize], shadow[kShaderIdentifierSize];
    std::memset(radiance, 0xAA, sizeof(radiance));
    std::memset(shadow, 0xBB, sizeof(shadow));
    HitArguments args;
    args.cullMode = 1;
    args.firstIndex = 42;
    args.textures[2] = 7;
    WriteHitRecords(records, radiance, shadow, args);
    std::uint32_t word = 0;
    std::memcpy(&word, records + 32 + 4, 4);
    EXPECT_EQ(word, 42u);
    EXPECT_EQ(records[kHitRecordStride], std::byte{0xBB});
    std::memcpy(&word, records + kHitRecordStride + 32, 4);
    EXPECT_EQ(word, 1u);
    std::uint64_t toon = 0;
    std::memcpy(&toon, records + kHitRecordStride + 32 + 32 + 3 * 8 + 2 * 8, 8);
    EXPECT_EQ(toon, 7u);
    EXPECT_EQ(records[2 * kHitRecordStride - 1], std::byte{0});
}

TEST_F(RaytracingTest, WithNoModelEveryPixelIsTheMissResultAndTheTablesHoldOnePair) {
    Rebuild();
    const CapturedImage image = Frames(3);
    ASSERT_EQ(image.width, kWidth);
    EXPECT_EQ(Coloured(image), 0u);
    EXPECT_EQ(graphics_.sceneRenderer->RayTracing()->HitRecordCount(), 2u);
}

TEST_F(RaytracingTest, QualityChangesTheSampleCountsAtTheNextFrame) {
    Rebuild();
    Frames(3);
    const RaytracingRenderer& rt = *graphics_.sceneRenderer->RayTracing();
    for (std::uint32_t f = 0; f < kFrameCount; ++f) {
        EXPECT_EQ(rt.Constants(f).diffuseSamples, 4u);
        EXPECT_EQ(rt.Constants(f).shadowSamples, 4u);
        EXPECT_EQ(rt.Constants(f).shaderIndex, 1u);
    }
    scene_.render.diffuseSamples = 16;
    scene_.render.shadowSamples = 12;
    scene_.render.selectedRayTracingShader = 0;
    const std::uint32_t next = ctx_.GetFrameIndex() % kFrameCount;
    Frames(1);
    EXPECT_EQ(rt.Constants(next).diffuseSamples, 16u);
    EXPECT_EQ(rt.Constants(next).shadowSamples, 12u);
    EXPECT_EQ(rt.Constants(next).shaderIndex, 0u);
}

TEST_F(RaytracingTest, FacesWoundClockwiseOnScreenAreTheFrontOnesUnlessDoubleSided) {
    PmxModel face = EmptyModel();
    AddFacingQuad(face, 0, 10, 0, 3, {0.3f, 0.5f, 0.9f, 1});
    AddModel(face);
    Rebuild();
    EXPECT_FALSE(IsWhite(Frames(1), kWidth / 2, kHeight / 2));

    std::swap(face.indices[1], face.indices[2]);
    std::swap(face.indices[4], face.indices[5]);
    scene_.models.clear();
    AddModel(face);
    Rebuild();
    EXPECT_TRUE(IsWhite(Frames(1), kWidth / 2, kHeight / 2));

    face.materials[0].drawFlags = kPmxMaterialDoubleSided;
    scene_.models.clear();
    AddModel(face);
    Rebuild();
    EXPECT_FALSE(IsWhite(Frames(1), kWidth / 2, kHeight / 2));
}

// A floor, and a block floating over it: the light from above and in front
// of the stage throws the block's shadow onto the floor.
TEST_F(RaytracingTest, TheBlockShadowsTheFloorUnderIt) {
    PmxModel model = EmptyModel();
    AddQuad(model, {-20, 0, -20}, {-20, 0, 20}, {20, 0, 20}, {20, 0, -20}, {0, 1, 0},
            {0.8f, 0.8f, 0.8f, 1});
    AddFacingQuad(model, 0, 8, 0, 2, {0.3f, 0.5f, 0.9f, 1},
                  kPmxMaterialDoubleSided | kPmxMaterialCastsShadow | kPmxMaterialReceivesShadow);
    AddModel(model);
    Rebuild();
    scene_.render.selectedRayTracingShader = 0;
    const CapturedImage image = Frames(1);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/rt_shadow.png", image), S_OK);
    // The light travels along (-0.41, -0.82, 0.41): the block's shadow
    // lies about 4 units towards -x and +z of the point under it.
    const int shadowed = Brightness(image, {-4, 0, 4});
    const int lit = Brightness(image, {8, 0, 4});
    EXPECT_LT(shadowed + 60, lit) << shadowed << " vs " << lit;

    // Without its cast-shadow flag the block throws none, as in raster frames.
    WaitForGpu(ctx_);
    graphics_.sceneRenderer->Find(scene_.models[0].instance.get())->materials[1].castShadow = false;
    Rebuild();
    const CapturedImage unshadowed = Frames(1);
    EXPECT_NEAR(Brightness(unshadowed, {-4, 0, 4}), Brightness(unshadowed, {8, 0, 4}), 30);
}

TEST_F(RaytracingTest, MissingTexturesDrawAsTheUntexturedMaterial) {
    TempFolder folder;
    auto render = [&](PmxModel model) {
        WaitForGpu(ctx_);
        model.folder = folder.path();
        scene_.models.clear();
        AddModel(model);
        Rebuild();
        return Frames(1);
    };
    PmxModel plain = EmptyModel();
    AddFacingQuad(plain, 0, 8, 0, 4, {0.9f, 0.3f, 0.2f, 1});
    PmxModel lacking = plain;
    lacking.textures = {u"t.png", u"s.sph", u"toon.bmp"};
    lacking.materials[0].textureIndex = 0;
    lacking.materials[0].sphereTextureIndex = 1;
    lacking.materials[0].sphereMode = 1;
    lacking.materials[0].sharedToon = 0;
    lacking.materials[0].toonIndex = 2;
    plain.materials[0].sharedToon = 0;
    plain.materials[0].toonIndex = -1;
    for (int look : {0, 1}) {
        scene_.render.selectedRayTracingShader = look;
        const CapturedImage expected = render(plain);
        const CapturedImage drawn = render(lacking);
        EXPECT_GT(Brightness(drawn, {0, 8, 0}), 0);
        EXPECT_TRUE(drawn.rgba == expected.rgba) << look;
    }
}

// A mirror behind a red card that faces it: the camera sees the card's back,
// which single-sided culling lets rays through, so any red seen there has
// come back from the mirror.
TEST_F(RaytracingTest, AMirrorMaterialReflectsTheObjectInFrontOfIt) {
    PmxModel model = EmptyModel();
    AddFacingQuad(model, 0, 10, 5, 8, {0.9f, 0.9f, 0.9f, 1});  // mirror
    // The card, wound to face +z (towards the mirror).
    AddQuad(model, {-2, 8, 0}, {2, 8, 0}, {2, 12, 0}, {-2, 12, 0}, {0, 0, 1},
            {1.0f, 0.0f, 0.0f, 1});
    ModelInstance* instance = AddModel(model);
    Rebuild();
    auto red = [](const CapturedImage& image) {
        const std::uint8_t* p = Pixel(image, kWidth / 2, kHeight / 2);
        return static_cast<int>(p[0]) - static_cast<int>(p[1]);
    };
    const int plain = red(Frames(1));
    ModelGpu* gpu = graphics_.sceneRenderer->Find(instance);
    ASSERT_NE(gpu, nullptr);
    gpu->materialConstants[0].reflective = 1.0f;
    gpu->materialConstants[0].specularColor[0] = gpu->materialConstants[0].specularColor[1] =
        gpu->materialConstants[0].specularColor[2] = 1.0f;
    const CapturedImage mirrored = Frames(1);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/rt_mirror.png", mirrored), S_OK);
    EXPECT_LT(plain, 20);
    EXPECT_GT(red(mirrored), 120);
}

TEST_F(RaytracingTest, GeneUnderBothLooksIsPlausibleAndFxaaFilters) {
    REQUIRE_GENE();
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, Gene() / "Gene_light.pmx"), S_OK);
    AddModel(gene);
    Rebuild();
    for (std::int32_t look : {0, 1}) {
        scene_.render.selectedRayTracingShader = look;
        const CapturedImage image = Frames(1);
        EXPECT_EQ(
            WritePng(std::string(QV_TEST_OUTPUT "/rt_gene_look") + std::to_string(look) + ".png",
                     image),
            S_OK);
        EXPECT_TRUE(IsWhite(image, 0, 0));
        EXPECT_FALSE(IsWhite(image, kWidth / 2, kHeight * 110 / 720)) << look;  // the face
        EXPECT_GT(Coloured(image), std::size_t{kWidth} * kHeight / 20) << look;
    }
    scene_.render.antiAliasingMode = 2;
    EXPECT_GT(Coloured(Frames(1)), std::size_t{kWidth} * kHeight / 20);
}

TEST_F(RaytracingTest, HostileGeometryStillDrawsAndRemovalFallsBackUntilTheRebuild) {
    PmxModel noFaces = EmptyModel();
    PmxVertex v;
    v.weight.weight = {1.0f, 0.0f, 0.0f, 0.0f};
    noFaces.vertices.push_back(v);
    AddModel(noFaces);

    PmxModel odd = EmptyModel();
    AddFacingQuad(odd, -6, 10, 0, 2, {0.2f, 0.8f, 0.2f, 1});
    odd.materials.push_back(odd.materials[0]);
    odd.materials.back().indexCount = 0;  // a material with no faces
    // A degenerate triangle and one with NaN corners.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (Float3 p : {Float3{1, 1, 0}, Float3{1, 1, 0}, Float3{1, 1, 0}, Float3{nan, 0, 0},
                     Float3{0, nan, 0}, Float3{0, 0, nan}}) {
        PmxVertex corner = v;
        corner.position = p;
        odd.vertices.push_back(corner);
    }
    for (std::uint32_t i = 4; i < 10; ++i) {
        odd.indices.push_back(i);
    }
    odd.materials.back().indexCount = 6;
    AddModel(odd);
    for (int i = 0; i < 18; ++i) {
        PmxModel quad = EmptyModel();
        AddFacingQuad(quad, static_cast<float>(i % 6) * 2.0f - 5.0f,
                      4.0f + static_cast<float>(i / 6) * 3.0f, 0, 0.8f, {0.9f, 0.4f, 0.1f, 1},
                      i % 2 != 0 ? kPmxMaterialDoubleSided : kPmxMaterialReceivesShadow);
        AddModel(quad);
    }
    ASSERT_EQ(scene_.models.size(), 20u);
    Rebuild();
    const CapturedImage image = Frames(2);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/rt_twenty.png", image), S_OK);
    EXPECT_GT(Coloured(image), 500u);

    // Removed while on: rasterised frames until the rebuild, then traced.
    WaitForGpu(ctx_);
    graphics_.sceneRenderer->ReleaseModel(*scene_.models[1].instance);
    scene_.models.erase(scene_.models.begin() + 1);
    EXPECT_GT(Coloured(Frames(1)), 500u);
    Rebuild();
    EXPECT_GT(Coloured(Frames(1)), 500u);
}

}  // namespace

}  // namespace qv
