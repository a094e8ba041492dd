// The GPU time of each pass: figures for the passes a frame draws, none for the rest.
#include <vulkan/vulkan.h>

#include <vector>

#include "render/vk/pass_timer.h"
#include "tests/render/scene_render_fixture.h"

namespace qv {
namespace {

using render_test::SceneRenderTest;

float Figure(const GpuPassTimes& times, GpuPass pass) {
    return times[static_cast<std::size_t>(pass)];
}

bool KeepsTime(const GpuContext& gpu, std::uint32_t family) {
    std::uint32_t count = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(gpu.physical, &count, nullptr);
    std::vector<VkQueueFamilyProperties> families(count);
    vkGetPhysicalDeviceQueueFamilyProperties(gpu.physical, &count, families.data());
    return family < count && families[family].timestampValidBits != 0;
}

TEST_F(SceneRenderTest, PassTimesCoverTheDrawnPassesAndNothingElse) {
    SceneRenderer& renderer = *graphics_.sceneRenderer;
    if (!KeepsTime(renderer.Gpu(), renderer.Gpu().queueFamily)) {
        GTEST_SKIP() << "the device keeps no time on its direct queue";
    }
    for (float figure : renderer.PassTimes()) {
        EXPECT_LT(figure, 0.0f) << "a figure before any frame was drawn";
    }

    // A triangle with an outline and a ground shadow, drawn with the ground
    // shadow on: every pass but the shadow map (the toon set reads none for
    // it) and the interface, which this renderer does not draw.
    PmxModel model = render_test::TriangleModel();
    model.materials[0].drawFlags = kPmxMaterialEdge | kPmxMaterialGroundShadow;
    model.materials[0].edgeSize = 1.0f;
    AddModel(model);
    scene_.render.groundShadow = true;
    Frames(2 * kFrameCount + 2);

    const GpuPassTimes times = renderer.PassTimes();
    for (GpuPass pass :
         {GpuPass::Main, GpuPass::Edges, GpuPass::GroundShadow, GpuPass::PostProcess}) {
        EXPECT_GE(Figure(times, pass), 0.0f) << GpuPassName(pass);
    }
    if (KeepsTime(renderer.Gpu(), renderer.Gpu().computeFamily)) {
        EXPECT_GE(Figure(times, GpuPass::Skinning), 0.0f);
    }
    EXPECT_LT(Figure(times, GpuPass::Interface), 0.0f);
    EXPECT_LT(Figure(times, GpuPass::ShadowMap), 0.0f);
    // Real time passed while the frame drew.
    float total = 0.0f;
    for (float figure : times) {
        total += figure > 0.0f ? figure : 0.0f;
    }
    EXPECT_GT(total, 0.0f);
    EXPECT_LT(total, 10'000.0f) << "ticks read from the wrong queries or unmasked";
}

TEST_F(SceneRenderTest, AFrameWithoutOutlinesLeavesTheOutlinePassUntimed) {
    const GpuContext& gpu = graphics_.sceneRenderer->Gpu();
    if (!KeepsTime(gpu, gpu.queueFamily)) {
        GTEST_SKIP() << "the device keeps no time on its direct queue";
    }
    AddModel(render_test::TriangleModel());
    scene_.render.groundShadow = false;
    Frames(2 * kFrameCount + 2);
    const GpuPassTimes times = graphics_.sceneRenderer->PassTimes();
    EXPECT_GE(Figure(times, GpuPass::Main), 0.0f);
    EXPECT_LT(Figure(times, GpuPass::Edges), 0.0f);
    EXPECT_LT(Figure(times, GpuPass::GroundShadow), 0.0f);
}

TEST_F(SceneRenderTest, MoreOutlinesThanQueriesCostOnlyTheOutlineFigure) {
    const GpuContext& gpu = graphics_.sceneRenderer->Gpu();
    if (!KeepsTime(gpu, gpu.queueFamily)) {
        GTEST_SKIP() << "the device keeps no time on its direct queue";
    }
    // Each outline is timed on its own: 600 outlined materials ask for more
    // queries than a frame holds. The other passes keep their figures.
    PmxModel model = render_test::TriangleModel();
    model.materials[0].drawFlags = kPmxMaterialEdge | kPmxMaterialGroundShadow;
    model.materials[0].edgeSize = 1.0f;
    model.materials.resize(600, model.materials[0]);
    model.indices.resize(3 * model.materials.size());
    for (std::size_t i = 0; i < model.indices.size(); ++i) {
        model.indices[i] = static_cast<std::uint32_t>(i % 3);
    }
    AddModel(model);
    scene_.render.groundShadow = true;
    Frames(2 * kFrameCount + 2);
    const GpuPassTimes times = graphics_.sceneRenderer->PassTimes();
    for (GpuPass pass : {GpuPass::Main, GpuPass::GroundShadow, GpuPass::PostProcess}) {
        EXPECT_GE(Figure(times, pass), 0.0f) << GpuPassName(pass);
    }
}

TEST_F(SceneRenderTest, FramesWithoutAPassLeaveItsMeanAlone) {
    const GpuContext& gpu = graphics_.sceneRenderer->Gpu();
    if (!KeepsTime(gpu, gpu.queueFamily)) {
        GTEST_SKIP() << "the device keeps no time on its direct queue";
    }
    PmxModel model = render_test::TriangleModel();
    model.materials[0].drawFlags = kPmxMaterialGroundShadow;
    AddModel(model);
    scene_.render.groundShadow = true;
    Frames(2 * kFrameCount + 2);
    // Once the frames drawn with the ground shadow are read, more frames
    // without it must not pull its mean towards zero.
    scene_.render.groundShadow = false;
    Frames(kFrameCount + 2);
    const float before = Figure(graphics_.sceneRenderer->PassTimes(), GpuPass::GroundShadow);
    Frames(6);
    EXPECT_GT(before, 0.0f);
    EXPECT_EQ(Figure(graphics_.sceneRenderer->PassTimes(), GpuPass::GroundShadow), before);
}

TEST_F(SceneRenderTest, AHiddenAccessoryIsNeitherSkinnedNorDrawn) {
    const GpuContext& gpu = graphics_.sceneRenderer->Gpu();
    if (!KeepsTime(gpu, gpu.queueFamily)) {
        GTEST_SKIP() << "the device keeps no time on its direct queue";
    }
    // An outlined triangle as the scene's only accessory: hidden, nothing of
    // it is recorded, so no pass of it is timed.
    PmxModel model = render_test::TriangleModel();
    model.materials[0].drawFlags = kPmxMaterialEdge;
    model.materials[0].edgeSize = 1.0f;
    AddModel(model);
    scene_.accessories.push_back({std::move(scene_.models.back().instance), "a.x", {}});
    scene_.models.pop_back();
    scene_.accessories.back().settings.visible = false;
    Frames(2 * kFrameCount + 2);
    const GpuPassTimes hidden = graphics_.sceneRenderer->PassTimes();
    EXPECT_LT(Figure(hidden, GpuPass::Edges), 0.0f);
    EXPECT_LT(Figure(hidden, GpuPass::Skinning), 0.0f);

    scene_.accessories.back().settings.visible = true;
    Frames(2 * kFrameCount + 2);
    EXPECT_GE(Figure(graphics_.sceneRenderer->PassTimes(), GpuPass::Edges), 0.0f);
}

}  // namespace
}  // namespace qv
