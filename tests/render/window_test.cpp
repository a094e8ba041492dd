// Runs under an X server (ctest starts it through xvfb-run): the real window,
// its swap chain, resizing and full screen, with the validation layer on.
#include <gtest/gtest.h>

#include <SDL.h>

#include "app/player.h"
#include "core/app_window.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "render/graphics_device.h"
#include "render/renderer.h"

namespace qv {

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        messagesBefore_ = ValidationMessageCount();
        ctx_.Initialize();
        ASSERT_EQ(RegisterPlayer(ctx_, graphics_), S_OK);
        // Too small a request falls back to the default client area.
        ASSERT_EQ(CreateAppWindow(ctx_, 100, 100), S_OK) << WindowError();
        ASSERT_EQ(CreateGraphicsDevice(ctx_, {PresentTarget::Window, true}), S_OK)
            << GraphicsDeviceError();
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
    Presenter* presenter() {
        return ctx_.Locked([](EngineState& s) { return s.presenter.get(); });
    }

    EngineContext ctx_;
    PlayerGraphics graphics_;
    std::uint32_t messagesBefore_ = 0;
};

TEST_F(WindowTest, OpensAt1280x720AndPresentsWhiteFrames) {
    int w = 0, h = 0;
    SDL_GetWindowSize(ctx_.GetWindow(), &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    EXPECT_EQ(CreateAppWindow(ctx_, 1280, 720), E_INVALIDARG);
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
