// Anti-aliasing, face winding and user shader sets on the software device.
#include <gtest/gtest.h>

#include <cstdlib>

#include "formats/png_file.h"
#include "platform/hlsl_compiler.h"
#include "tests/render/render_passes_fixture.h"

namespace qv {

namespace {

using namespace render_test;

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

}  // namespace

}  // namespace qv
