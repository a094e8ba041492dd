// Runs under an X server (ctest starts it through xvfb-run): the real window,
// its swap chain, resizing and full screen, with the validation layer on.
#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <ctime>

#include "app/player.h"
#include "core/app_window.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "render/device/graphics_device.h"
#include "render/device/render_size.h"

namespace qv {

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        messagesBefore_ = ValidationMessageCount();
        ctx_.Initialize();
        ASSERT_EQ(RegisterPlayer(ctx_, graphics_), S_OK);
        // Too small a request falls back to the default client area.
        const Result window = CreateAppWindow(ctx_, 100, 100);
        ASSERT_EQ(window.code, S_OK) << window.message;
        const Result device = CreateGraphicsDevice(ctx_, {PresentTarget::Window, true});
        ASSERT_EQ(device.code, S_OK) << device.message;
    }
    void TearDown() override {
        ctx_.Teardown();
        SDL_Quit();
        EXPECT_EQ(ValidationMessageCount(), messagesBefore_);
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(PumpWindowEvents(ctx_));
            ASSERT_EQ(RunFrame(ctx_), S_OK);
        }
    }
    Presenter* presenter() { return ctx_.GetPresenter(); }

    EngineContext ctx_;
    PlayerGraphics graphics_;
    std::uint32_t messagesBefore_ = 0;
};

TEST_F(WindowTest, OpensAt1280x720AndPresentsWhiteFrames) {
    int w = 0, h = 0;
    SDL_GetWindowSize(ctx_.GetWindow(), &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    const Result second = CreateAppWindow(ctx_, 1280, 720);
    EXPECT_EQ(second.code, E_INVALIDARG);
    EXPECT_FALSE(second.message.empty());
    presenter()->SetCapture(true);
    Frames(10);
    WaitForGpu(ctx_);
    CapturedImage image;
    ASSERT_EQ(presenter()->ReadBackLastPresented(&image), S_OK);
    ASSERT_EQ(image.width, 1280u);
    std::size_t notWhite = 0;
    for (std::uint8_t byte : image.rgba) {
        notWhite += byte != 255;
    }
    EXPECT_EQ(notWhite, 0u);
}

TEST_F(WindowTest, ResizeKeepsTheFramesGoing) {
    Frames(3);
    WaitForGpu(ctx_);
    // The X server's screen is 1920 x 1080: a larger entry is refused whole.
    EXPECT_EQ(SetRenderResolution(ctx_, graphics_.renderer, 2560, 1440), E_INVALIDARG);
    EXPECT_EQ(graphics_.renderer.resolutionIndex, 0u);
    EXPECT_EQ(ctx_.GetWidth(), 1280u);
    ASSERT_EQ(SetRenderResolution(ctx_, graphics_.renderer, 1366, 768), S_OK);
    EXPECT_EQ(ctx_.GetFrameIndex(), presenter()->CurrentBackBufferIndex());
    EXPECT_EQ(ctx_.GetDirectFenceValue(0), ctx_.GetDirectFenceValue(1));
    EXPECT_EQ(ctx_.GetDirectFenceValue(1), ctx_.GetDirectFenceValue(2));
    EXPECT_EQ(ctx_.GetWidth(), 1366u);
    Frames(10);
}

TEST_F(WindowTest, RapidResizesNeverLoseTheSwapChain) {
    // The Graphic setting's sizes one after another, some without a frame in
    // between, and the window resized behind the renderer's back as a window
    // manager would.
    const Resolution sizes[] = {{1366, 768}, {1920, 1080}, {1280, 720}, {1600, 900}};
    Frames(2);
    for (int i = 0; i < 24; ++i) {
        const Resolution r = sizes[i % 4];
        if (i % 3 == 2) {
            SDL_SetWindowSize(ctx_.GetWindow(), static_cast<int>(r.width) - 100,
                              static_cast<int>(r.height) - 60);
        } else {
            WaitForGpu(ctx_);
            ASSERT_EQ(SetRenderResolution(ctx_, graphics_.renderer, r.width, r.height), S_OK) << i;
        }
        Frames(i % 3);
    }
    Frames(3);
    int w = 0, h = 0;
    SDL_GetWindowSize(ctx_.GetWindow(), &w, &h);
    presenter()->SetCapture(true);
    Frames(2);
    WaitForGpu(ctx_);
    CapturedImage image;
    ASSERT_EQ(presenter()->ReadBackLastPresented(&image), S_OK);
    EXPECT_EQ(image.width, static_cast<std::uint32_t>(w));
    EXPECT_EQ(image.height, static_cast<std::uint32_t>(h));
}

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TEST_F(WindowTest, AHiddenWindowSleepsWhileTheSceneMovesOn) {
    int updates = 0;
    ctx_.Locked(
        [&](EngineState& s) { s.onFrameUpdate = [&updates](EngineContext&) { ++updates; }; });
    Frames(3);
    EXPECT_FALSE(FrameIsHidden(ctx_));
    SDL_HideWindow(ctx_.GetWindow());
    ASSERT_TRUE(FrameIsHidden(ctx_));
    const std::uint32_t slot = presenter()->CurrentBackBufferIndex();
    const std::uint64_t fence = ctx_.GetDirectFenceValue(slot);
    updates = 0;

    constexpr int kHiddenFrames = 15;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = ThreadSeconds();
    for (int i = 0; i < kHiddenFrames; ++i) {
        PaceHiddenFrames(ctx_);
        ASSERT_TRUE(PumpWindowEvents(ctx_));
        ASSERT_EQ(RunFrame(ctx_), S_OK);
    }
    const double cpu = ThreadSeconds() - cpuStart;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    // Every frame moved the scene on; none drew or presented, and the loop
    // slept between them instead of spinning.
    EXPECT_EQ(updates, kHiddenFrames);
    EXPECT_EQ(presenter()->CurrentBackBufferIndex(), slot);
    EXPECT_EQ(ctx_.GetDirectFenceValue(slot), fence);
    // A few waits end early on the events of hiding; a spinning loop would
    // take a few milliseconds for all of them.
    EXPECT_GE(wall, kHiddenFrames / 3 * kHiddenFrameMilliseconds * 1e-3);
    EXPECT_LT(cpu, wall / 4);

    SDL_ShowWindow(ctx_.GetWindow());
    EXPECT_FALSE(FrameIsHidden(ctx_));
    presenter()->SetCapture(true);
    Frames(4);
    EXPECT_NE(ctx_.GetDirectFenceValue(slot), fence);
    WaitForGpu(ctx_);
    CapturedImage image;
    EXPECT_EQ(presenter()->ReadBackLastPresented(&image), S_OK);
}

TEST_F(WindowTest, FullScreenGoesBothWaysAndVsyncCanBeSwitched) {
    Frames(2);
    WaitForGpu(ctx_);
    EXPECT_EQ(SetFullscreen(ctx_, false), S_OK);  // already windowed: nothing to do
    ASSERT_EQ(ApplyFullscreen(ctx_, graphics_.renderer, true), S_OK);
    EXPECT_TRUE(ctx_.GetFullscreen());
    EXPECT_EQ(graphics_.renderer.renderWidth, 1920u);  // the monitor's size
    Frames(5);
    WaitForGpu(ctx_);
    ASSERT_EQ(ApplyFullscreen(ctx_, graphics_.renderer, false), S_OK);
    EXPECT_FALSE(ctx_.GetFullscreen());
    EXPECT_EQ(graphics_.renderer.renderWidth, 1280u);
    ctx_.SetVsync(false);
    Frames(5);
    ctx_.SetVsync(true);
    Frames(5);
}

}  // namespace

}  // namespace qv
