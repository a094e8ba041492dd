// Materials, toons, spheres and outlines on the software device, checked on known pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/png_file.h"
#include "tests/render/render_passes_fixture.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

using namespace render_test;

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

// A model whose texture, sphere and toon files are all missing (or broken)
// draws exactly as if its materials named none: the diffuse colour.
TEST_F(RenderPassesTest, MissingTextureSphereAndToonDrawAsTheUntexturedMaterial) {
    TempFolder folder;
    folder.Write("broken.png", "not an image");
    scene_.render.antiAliasingMode = 0;
    auto render = [&](PmxModel model) {
        model.folder = folder.path();
        scene_.models.clear();
        AddModel(model);
        return Frames(kFrameCount);
    };
    PmxModel plain = EmptyModel();
    AddBox(plain, {0, 10, 0}, {3, 3, 3}, kDrawEdge, {0.9f, 0.3f, 0.2f, 1});
    plain.materials[0].sharedToon = 0;
    plain.materials[0].toonIndex = -1;
    PmxModel lacking = plain;
    lacking.textures = {u"t\\罪.png", u"s.sph", u"toon.bmp", u"broken.png"};
    lacking.materials[0].textureIndex = 0;
    lacking.materials[0].sphereTextureIndex = 1;
    lacking.materials[0].sphereMode = 1;
    lacking.materials[0].toonIndex = 2;
    const CapturedImage expected = render(plain);
    const CapturedImage drawn = render(lacking);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/missing_textures.png", drawn), S_OK);
    const std::uint8_t* centre = Pixel(drawn, 640, 360);
    EXPECT_GT(centre[0], centre[1] + 60);  // the red of the diffuse colour
    EXPECT_TRUE(drawn.rgba == expected.rgba);
    lacking.materials[0].textureIndex = 3;  // a file that is there but broken
    EXPECT_TRUE(render(lacking).rgba == expected.rgba);
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
