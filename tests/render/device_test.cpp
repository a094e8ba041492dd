// The headless device must fill the context, keep fences in step and refuse bad sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "app/player.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "core/vk_struct.h"
#include "render/device/graphics_device.h"
#include "render/device/headless_presenter.h"
#include "render/device/render_size.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

namespace {

// A headless player on the software device with the validation layer on.
// Any validation message fails the test that caused it.
class HeadlessDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        messagesBefore_ = ValidationMessageCount();
        ctx_.Initialize();
        ctx_.SetWidth(1280);
        ctx_.SetHeight(720);
        ASSERT_EQ(RegisterPlayer(ctx_, graphics_), S_OK);
        const Result device = CreateGraphicsDevice(ctx_, {PresentTarget::Headless, true});
        ASSERT_EQ(device.code, S_OK) << device.message;
    }
    void TearDown() override {
        ctx_.Teardown();
        EXPECT_EQ(ValidationMessageCount(), messagesBefore_);
    }

    Presenter* presenter() { return ctx_.GetPresenter(); }
    std::uint64_t Completed(VkSemaphore fence) {
        std::uint64_t value = 0;
        vkGetSemaphoreCounterValue(ctx_.GetDevice(), fence, &value);
        return value;
    }
    VkSemaphore DirectFence() {
        return ctx_.Locked([](EngineState& s) { return s.directQueueFence; });
    }
    VkSemaphore ComputeFence() {
        return ctx_.Locked([](EngineState& s) { return s.computeQueueFence; });
    }
    std::array<std::uint64_t, 3> DirectValues() {
        return ctx_.Locked([](EngineState& s) { return s.directQueueFenceValues; });
    }
    std::array<std::uint64_t, 3> ComputeValues() {
        return ctx_.Locked([](EngineState& s) { return s.computeQueueFenceValues; });
    }
    // True when every pixel of the last presented image has this colour.
    void ExpectLastFrame(std::uint32_t w, std::uint32_t h, std::array<std::uint8_t, 4> rgba) {
        WaitForGpu(ctx_);
        CapturedImage image;
        ASSERT_EQ(presenter()->ReadBackLastPresented(&image), S_OK);
        ASSERT_EQ(image.width, w);
        ASSERT_EQ(image.height, h);
        ASSERT_EQ(image.rgba.size(), std::size_t{w} * h * 4);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
            wrong += !std::equal(rgba.begin(), rgba.end(), image.rgba.begin() + i);
        }
        EXPECT_EQ(wrong, 0u);
    }

    EngineContext ctx_;
    PlayerGraphics graphics_;
    std::uint32_t messagesBefore_ = 0;
};

TEST_F(HeadlessDeviceTest, DeviceCreationFillsTheContext) {
    EXPECT_TRUE(ctx_.GetDeviceCreated());
    EXPECT_FALSE(ctx_.GetAdapterDescription().empty());
    EXPECT_FALSE(ctx_.GetTearingSupported());
    EXPECT_EQ(ctx_.GetFrameIndex(), 0u);
    EXPECT_EQ(DirectValues(), (std::array<std::uint64_t, 3>{1, 0, 0}));
    EXPECT_EQ(ComputeValues(), (std::array<std::uint64_t, 3>{1, 0, 0}));
    EXPECT_NE(ctx_.GetCurrentBackBuffer().image, VK_NULL_HANDLE);
    CapturedImage none;
    EXPECT_EQ(presenter()->ReadBackLastPresented(&none), E_FAIL);  // nothing presented yet
    const Result second = CreateGraphicsDevice(ctx_, {PresentTarget::Headless, true});
    EXPECT_EQ(second.code, E_INVALIDARG);
    EXPECT_EQ(second.message, "the graphics device exists already");
}

TEST_F(HeadlessDeviceTest, FenceValuesFollowEveryFrameAndBuffersWaitForTheirFence) {
    // The same bookkeeping, played out by hand.
    std::array<std::uint64_t, 3> expected{1, 0, 0};
    std::array<std::uint64_t, 3> signalled{0, 0, 0};
    std::uint32_t f = 0;
    for (int frame = 0; frame < 8; ++frame) {
        ASSERT_EQ(RunFrame(ctx_), S_OK);
        signalled[f] = expected[f];
        const std::uint32_t n = (f + 1) % 3;
        expected[n] = expected[f] + 1;
        f = n;
        EXPECT_EQ(ctx_.GetFrameIndex(), f);
        EXPECT_EQ(DirectValues(), expected);
        EXPECT_EQ(ComputeValues(), expected);
        // The buffer about to be drawn has left the GPU.
        EXPECT_GE(Completed(DirectFence()), signalled[f]);
    }
    EXPECT_EQ(static_cast<HeadlessPresenter*>(presenter())->PresentedCount(), 8u);
    ExpectLastFrame(1280, 720, {255, 255, 255, 255});
}

TEST_F(HeadlessDeviceTest, WaitForGpuLeavesConsistentValues) {
    for (int i = 0; i < 4; ++i) {
        RunFrame(ctx_);
    }
    const std::uint32_t f = ctx_.GetFrameIndex();
    const std::uint64_t before = DirectValues()[f];
    WaitForGpu(ctx_);
    EXPECT_GE(Completed(DirectFence()), before);
    EXPECT_GE(Completed(ComputeFence()), before);
    EXPECT_EQ(DirectValues()[f], before + 1);
    EXPECT_EQ(ComputeValues()[f], before + 1);
    for (std::uint32_t i = 0; i < 3; ++i) {
        if (i != f) {
            EXPECT_LT(DirectValues()[i], DirectValues()[f]);
        }
    }
    WaitForGpu(ctx_);  // twice in a row signals fresh values only
    EXPECT_EQ(DirectValues()[f], before + 2);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(RunFrame(ctx_), S_OK);
    }
    ExpectLastFrame(1280, 720, {255, 255, 255, 255});
}

TEST_F(HeadlessDeviceTest, ResizeResetsFrameIndexAndFenceValues) {
    for (int i = 0; i < 2; ++i) {
        RunFrame(ctx_);
    }
    WaitForGpu(ctx_);
    ASSERT_EQ(ResizeSwapChain(ctx_, 640, 360), S_OK);
    EXPECT_EQ(ctx_.GetFrameIndex(), presenter()->CurrentBackBufferIndex());
    const auto values = DirectValues();
    EXPECT_EQ(values[0], values[1]);
    EXPECT_EQ(values[1], values[2]);
    EXPECT_EQ(ComputeValues()[0], ComputeValues()[2]);
    EXPECT_EQ(ctx_.GetWidth(), 640u);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(RunFrame(ctx_), S_OK);
    }
    ExpectLastFrame(640, 360, {255, 255, 255, 255});
}

TEST_F(HeadlessDeviceTest, RefusedSizesChangeNothing) {
    RunFrame(ctx_);
    WaitForGpu(ctx_);
    EXPECT_EQ(ResizeSwapChain(ctx_, 0, 360), E_INVALIDARG);
    EXPECT_EQ(ResizeSwapChain(ctx_, 1u << 20, 720), E_INVALIDARG);
    EXPECT_EQ(SetRenderResolution(ctx_, graphics_.renderer, 1u << 20, 1u << 20), E_INVALIDARG);
    EXPECT_EQ(graphics_.renderer.renderWidth, 1280u);
    EXPECT_EQ(graphics_.renderer.resolutionIndex, 0u);
    EXPECT_EQ(ctx_.GetWidth(), 1280u);

    ASSERT_EQ(SetRenderResolution(ctx_, graphics_.renderer, 1920, 1080), S_OK);
    EXPECT_EQ(graphics_.renderer.resolutionIndex, 3u);
    EXPECT_EQ(graphics_.renderer.renderHeight, 1080u);
    RunFrame(ctx_);
    ExpectLastFrame(1920, 1080, {255, 255, 255, 255});
}

TEST_F(HeadlessDeviceTest, TheSceneHookDrawsTheFrame) {
    WaitForGpu(ctx_);
    graphics_.recordScene = [](VkCommandBuffer, VkCommandBuffer direct, std::uint32_t,
                               const BackBuffer& target) {
        ClearBackBuffer(direct, target, {{1.0f, 0.0f, 0.0f, 1.0f}});
    };
    for (int i = 0; i < 3; ++i) {
        RunFrame(ctx_);
    }
    ExpectLastFrame(1280, 720, {255, 0, 0, 255});
}

// Every pixel of `image` has this colour.
bool AllPixels(const CapturedImage& image, std::array<std::uint8_t, 4> rgba) {
    for (std::size_t i = 0; i + 4 <= image.rgba.size(); i += 4) {
        if (!std::equal(rgba.begin(), rgba.end(), image.rgba.begin() + i)) {
            return false;
        }
    }
    return !image.rgba.empty();
}

// Frames in flight: each present's copy is taken once its own frame is done,
// while the frames after it are still drawn, and holds that frame's picture,
// the one the old read-back gives; a present no longer kept is refused,
// never read from a slot a later frame has filled.
TEST_F(HeadlessDeviceTest, EveryPresentsCopyHoldsItsOwnFrameWhileLaterFramesDraw) {
    auto* headless = static_cast<HeadlessPresenter*>(presenter());
    ASSERT_EQ(headless->CopyEveryPresent(true), S_OK);
    std::uint8_t drawn = 0;
    auto colour = [](std::uint8_t frame) -> std::array<std::uint8_t, 4> {
        return {static_cast<std::uint8_t>(frame * 50), 0, static_cast<std::uint8_t>(255 - frame),
                255};
    };
    graphics_.recordScene = [&](VkCommandBuffer, VkCommandBuffer direct, std::uint32_t,
                                const BackBuffer& target) {
        const auto c = colour(drawn++);
        ClearBackBuffer(direct, target, {{c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, 1.0f}});
    };
    CapturedImage image;
    for (std::uint8_t frame = 0; frame < 10; ++frame) {
        ASSERT_EQ(RunFrame(ctx_), S_OK);
        EXPECT_EQ(headless->PresentedCount(), frame + 1u);
        if (frame >= 2) {
            ASSERT_EQ(headless->ReadBackPresented(frame - 2, &image), S_OK);
            EXPECT_TRUE(AllPixels(image, colour(frame - 2))) << int(frame - 2);
        }
    }
    EXPECT_EQ(headless->ReadBackPresented(6, &image), E_FAIL);  // its slot holds frame 9
    EXPECT_EQ(headless->WaitForPresented(10), E_FAIL);          // not drawn yet
    ASSERT_EQ(headless->ReadBackPresented(8, &image), S_OK);
    EXPECT_TRUE(AllPixels(image, colour(8)));
    ASSERT_EQ(headless->ReadBackPresented(9, &image), S_OK);
    ASSERT_EQ(image.width, 1280u);
    EXPECT_TRUE(AllPixels(image, colour(9)));
    ExpectLastFrame(1280, 720, colour(9));

    // A new size keeps copying, into memory of the new size, numbered anew.
    WaitForGpu(ctx_);
    ASSERT_EQ(ResizeSwapChain(ctx_, 640, 360), S_OK);
    ASSERT_EQ(RunFrame(ctx_), S_OK);
    ASSERT_EQ(headless->ReadBackPresented(0, &image), S_OK);
    EXPECT_EQ(image.width, 640u);
    EXPECT_EQ(image.rgba.size(), 640u * 360u * 4u);
    EXPECT_TRUE(AllPixels(image, colour(10)));

    WaitForGpu(ctx_);
    ASSERT_EQ(headless->CopyEveryPresent(false), S_OK);
    ASSERT_EQ(RunFrame(ctx_), S_OK);
    EXPECT_EQ(headless->ReadBackPresented(1, &image), E_FAIL);  // copying has stopped
}

TEST_F(HeadlessDeviceTest, OnlyTheSceneStageRecordsComputeWorkAndNoOverlayStageRuns) {
    EXPECT_EQ(ctx_.GetStageCount(StageKind::CommandList), 2u);
    EXPECT_EQ(ctx_.GetStageCount(StageKind::Overlay), 0u);
    ASSERT_EQ(RunFrame(ctx_), S_OK);
    EXPECT_NE(ctx_.GetComputeList(0), VK_NULL_HANDLE);
    EXPECT_NE(ctx_.GetDirectList(0), VK_NULL_HANDLE);
    // An empty compute list would be submitted for nothing every frame.
    EXPECT_EQ(ctx_.GetComputeList(1), VK_NULL_HANDLE);
    EXPECT_NE(ctx_.GetDirectList(1), VK_NULL_HANDLE);
}

// A creation that fails after the device exists leaves everything it made to
// teardown, which must release all of it (the validation layer reports any
// object left behind) and allow a new device afterwards.
TEST(GraphicsDeviceTest, AFailedRendererSetUpIsReleasedWholeAndANewDeviceCanFollow) {
    const std::uint32_t messagesBefore = ValidationMessageCount();
    EngineContext ctx;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ctx.Initialize();
        ctx.SetWidth(320);
        ctx.SetHeight(240);
        PlayerGraphics graphics;
        ASSERT_EQ(RegisterPlayer(ctx, graphics), S_OK);
        if (attempt == 0) {
            ctx.Locked([](EngineState& s) {
                s.onDeviceCreated = [](EngineContext&, VkDevice) { return E_OUTOFMEMORY; };
            });
            const Result failed = CreateGraphicsDevice(ctx, {PresentTarget::Headless, true});
            EXPECT_EQ(failed.code, E_OUTOFMEMORY);
            EXPECT_EQ(failed.message, "the renderer cannot be set up");
            EXPECT_NE(ctx.GetDevice(), VK_NULL_HANDLE);  // kept for teardown
        } else {
            const Result device = CreateGraphicsDevice(ctx, {PresentTarget::Headless, true});
            ASSERT_TRUE(device.ok()) << device.message;
            EXPECT_TRUE(device.message.empty());
            EXPECT_EQ(RunFrame(ctx), S_OK);
        }
        ctx.Teardown();
        EXPECT_EQ(ctx.GetDevice(), VK_NULL_HANDLE);
        EXPECT_FALSE(ctx.GetDeviceCreated());
        EXPECT_EQ(ctx.GetCurrentBackBuffer().image, VK_NULL_HANDLE);
    }
    EXPECT_EQ(ValidationMessageCount(), messagesBefore);
}

TEST(GraphicsDeviceTest, WindowTargetNeedsAWindow) {
    EngineContext ctx;
    ctx.Initialize();
    ctx.SetWidth(1280);
    ctx.SetHeight(720);
    const Result device = CreateGraphicsDevice(ctx, {PresentTarget::Window, false});
    EXPECT_EQ(device.code, E_INVALIDARG);
    EXPECT_EQ(device.message, "no window to present to");
    EXPECT_FALSE(ctx.GetDeviceCreated());
    EXPECT_EQ(ResizeSwapChain(ctx, 640, 360), E_FAIL);
}

}  // namespace

}  // namespace qv
