// Self shadows and ground shadows on the software device, checked on known pixels.
#include <gtest/gtest.h>

#include "formats/png_file.h"
#include "render/model/scene_light.h"
#include "tests/render/render_passes_fixture.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

using namespace render_test;

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

// Cards at height 8 that ask for a ground shadow, each lit from (20, 40, -20):
// the shadow of (x, 8, z) falls at (x - 4, 0, z + 4). Only textures with
// something to cut keep the texel test; the shadows are the same either way.
TEST_F(RenderPassesTest, GroundShadowsKeepTheCutOutOfTheirTexture) {
    TempFolder folder;
    auto uniform = [](std::uint8_t alpha) {
        CapturedImage image = HalfCutOut({40, 40, 40});
        for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
            image.rgba[i] = alpha;
        }
        return image;
    };
    ASSERT_EQ(WritePng(folder.path() / "cut.png", HalfCutOut({40, 40, 40})), S_OK);
    ASSERT_EQ(WritePng(folder.path() / "opaque.png", uniform(255)), S_OK);
    ASSERT_EQ(WritePng(folder.path() / "faint.png", uniform(2)), S_OK);  // under the cutoff
    const Float3 up[1] = {{0, 1, 0}};
    // Three cards in a row along z, 6 apart; `textures` and `alphas` by card.
    auto cards = [&](std::array<std::int32_t, 3> textures, std::array<float, 3> alphas) {
        PmxModel model = EmptyModel();
        model.folder = folder.path();
        model.textures = {u"cut.png", u"opaque.png", u"faint.png"};
        for (std::size_t i = 0; i < 3; ++i) {
            const float z = -6.0f + 6.0f * static_cast<float>(i);
            AddFaces(model, {0, 8, z}, {2, 0, 2}, up, kPmxMaterialGroundShadow,
                     {0.3f, 0.5f, 0.9f, alphas[i]}, textures[i]);
        }
        scene_.models.clear();
        ModelInstance* instance = AddModel(model, BuiltInShaderSet(0));
        return std::pair{Frames(kFrameCount), graphics_.sceneRenderer->Find(instance)};
    };
    scene_.render.antiAliasingMode = 0;
    // Under the opaque (u > 0.5) and the cut-out half of card i.
    auto opaqueHalf = [&](std::size_t i) { return ScreenOf({-3, 0, -2.0f + 6.0f * i}); };
    auto cutHalf = [&](std::size_t i) { return ScreenOf({-5, 0, -2.0f + 6.0f * i}); };
    auto shaded = [&](const CapturedImage& image, std::pair<std::uint32_t, std::uint32_t> at) {
        return Brightness(image, at) < 3 * 255 - 200;
    };

    // A plain card, a cut-out one between, a plain one: the plain ones cast
    // whole, and the cut-out one only where its texels stay.
    const auto [mixed, mixedGpu] = cards({-1, 0, -1}, {1, 1, 1});
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/ground_shadow_cut_out.png", mixed), S_OK);
    ASSERT_NE(mixedGpu, nullptr);
    EXPECT_EQ(mixedGpu->casterCuts,
              (std::vector<CasterCut>{CasterCut::Nothing, CasterCut::ByTexel, CasterCut::Nothing}));
    for (std::size_t i : {0u, 2u}) {
        EXPECT_TRUE(shaded(mixed, opaqueHalf(i)) && shaded(mixed, cutHalf(i))) << i;
    }
    EXPECT_TRUE(shaded(mixed, opaqueHalf(1)));
    EXPECT_FALSE(shaded(mixed, cutHalf(1)));

    // An opaque texture casts whole without the test; texels all under the
    // cutoff, or a faded material, cast nothing.
    const auto [others, othersGpu] = cards({1, 2, -1}, {1, 1, 0.005f});
    ASSERT_NE(othersGpu, nullptr);
    EXPECT_EQ(othersGpu->casterCuts, (std::vector<CasterCut>{CasterCut::Nothing, CasterCut::ByTexel,
                                                             CasterCut::Everything}));
    EXPECT_TRUE(shaded(others, opaqueHalf(0)) && shaded(others, cutHalf(0)));
    for (std::size_t i : {1u, 2u}) {
        EXPECT_TRUE(IsWhite(others, opaqueHalf(i).first, opaqueHalf(i).second)) << i;
        EXPECT_TRUE(IsWhite(others, cutHalf(i).first, cutHalf(i).second)) << i;
    }
}

// The cut decided on the CPU must never drop a pixel the program would keep,
// nor keep one it would drop.
TEST(CasterCutTest, SkipsTheTexelTestOnlyWhereNoTexelCanFallUnderTheCutoff) {
    MaterialConstants c{};
    c.baseColor[3] = kAlphaCutoff;  // the program drops at or under it
    EXPECT_EQ(CasterCutOf(c, 255), CasterCut::Everything);
    c.baseColor[3] = 0.0101f;
    EXPECT_EQ(CasterCutOf(c, 0), CasterCut::Nothing);  // no texture: the alpha alone
    c.textureBind[0] = 1;
    EXPECT_EQ(CasterCutOf(c, 255), CasterCut::Nothing);
    // One step of margin for the sampler's rounding: 0.0101 x 252/255 is under it.
    EXPECT_EQ(CasterCutOf(c, 254), CasterCut::Nothing);
    EXPECT_EQ(CasterCutOf(c, 253), CasterCut::ByTexel);
    c.baseColor[3] = 0.5f;
    EXPECT_EQ(CasterCutOf(c, 7), CasterCut::Nothing);
    EXPECT_EQ(CasterCutOf(c, 6), CasterCut::ByTexel);
    c.baseColor[3] = std::nanf("");
    EXPECT_EQ(CasterCutOf(c, 255), CasterCut::ByTexel);
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

}  // namespace

}  // namespace qv
