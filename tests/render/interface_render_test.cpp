// The tool windows drawn over the scene on the software device, with the validation layer on.
#include "app/player_interface.h"
#include "formats/png_file.h"
#include "tests/render/scene_render_fixture.h"
#include "ui/interface_view.h"

namespace qv {

namespace render_test {
namespace {

class InterfaceRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const Result started = interface_.Start(); !started.ok()) {
            GTEST_SKIP() << started.message;
        }
        messagesBefore_ = ValidationMessageCount();
        ctx_.Initialize();
        ctx_.SetWidth(1280);
        ctx_.SetHeight(720);
        ASSERT_EQ(RegisterPlayer(ctx_, graphics_), S_OK);
        graphics_.interface = &interface_;
        graphics_.recordScene = [this](VkCommandBuffer compute, VkCommandBuffer direct,
                                       std::uint32_t f, const BackBuffer& target) {
            graphics_.sceneRenderer->Record(scene_, compute, direct, f, target);
        };
        graphics_.recordInterface = [this](VkCommandBuffer direct, std::uint32_t f,
                                           const BackBuffer& target) {
            interface_.RecordInterface(view_, graphics_.interfaceRenderer.get(), direct, f, target,
                                       1.0f / 60.0f);
        };
        const Result device = CreateGraphicsDevice(ctx_, {PresentTarget::Headless, true});
        ASSERT_EQ(device.code, S_OK) << device.message;
        ASSERT_NE(graphics_.interfaceRenderer, nullptr);
        view_.facts.renderDeviceName = ctx_.GetAdapterDescription();
        started_ = true;
    }
    void TearDown() override {
        if (!started_) {
            return;
        }
        ctx_.Teardown();
        interface_.Shutdown();
        EXPECT_EQ(ValidationMessageCount(), messagesBefore_);
    }

    CapturedImage Frames(int count) { return RunAndCapture(ctx_, count); }

    static bool Dark(const CapturedImage& image, std::uint32_t x, std::uint32_t y) {
        const std::uint8_t* p = &image.rgba[(std::size_t{y} * image.width + x) * 4];
        return p[0] < 80 && p[1] < 80 && p[2] < 80;
    }
    static bool White(const CapturedImage& image, std::uint32_t x, std::uint32_t y) {
        const std::uint8_t* p = &image.rgba[(std::size_t{y} * image.width + x) * 4];
        return p[0] == 255 && p[1] == 255 && p[2] == 255;
    }

    PlayerInterface interface_;
    Scene scene_;
    UiState ui_;
    InterfaceView view_{scene_, ui_, {}, {}};
    EngineContext ctx_;
    PlayerGraphics graphics_;
    std::uint32_t messagesBefore_ = 0;
    bool started_ = false;
};

TEST_F(InterfaceRenderTest, WindowsDrawOverTheSceneInEveryAntiAliasingMode) {
    ui_.showResourceManager = true;
    for (std::int32_t mode = 0; mode <= 4; ++mode) {
        scene_.render.antiAliasingMode = mode;
        const CapturedImage image = Frames(3);
        ASSERT_EQ(image.width, 1280u);
        // The navigator's dark body at (10, 120) and the resource manager's at
        // (670, 10); the white scene between and below them, down to the
        // playback bar along the bottom.
        EXPECT_TRUE(Dark(image, 14, 250)) << "mode " << mode;
        EXPECT_TRUE(Dark(image, 900, 200)) << "mode " << mode;
        EXPECT_TRUE(White(image, 500, 600)) << "mode " << mode;
        EXPECT_TRUE(White(image, 5, 650)) << "mode " << mode;
        EXPECT_TRUE(Dark(image, 5, 715)) << "mode " << mode;
        EXPECT_EQ(ValidationMessageCount(), messagesBefore_) << "mode " << mode;
    }
}

TEST_F(InterfaceRenderTest, ClosedWindowsLeaveTheSceneUntouchedAndFollowAResize) {
    ui_.showNavigator = false;
    ui_.showStatistics = false;
    ui_.showPlaybackBar = false;
    CapturedImage image = Frames(3);
    std::size_t notWhite = 0;
    for (std::size_t i = 0; i < image.rgba.size(); ++i) {
        notWhite += image.rgba[i] != 255;
    }
    EXPECT_EQ(notWhite, 0u);
    // The windows lay out on the new back buffer at once, inside it.
    ui_.showNavigator = true;
    WaitForGpu(ctx_);
    ASSERT_EQ(SetRenderResolution(ctx_, graphics_.renderer, 320, 240), S_OK);
    image = Frames(3);
    ASSERT_EQ(image.width, 320u);
    EXPECT_TRUE(Dark(image, 14, 100));
}

TEST_F(InterfaceRenderTest, ImportStatusShowsItsProgressWhileABatchRuns) {
    REQUIRE_GENE();
    ui_.showNavigator = false;
    ui_.showImportStatus = true;
    // Enough copies of Gene to keep the import thread busy for many frames.
    std::vector<std::filesystem::path> batch(40, Gene() / "Gene_light.pmx");
    ASSERT_TRUE(scene_.importer.Request(batch));
    const auto barColour = [](const std::uint8_t* p) {
        return p[0] > 200 && p[1] > 150 && p[1] < 210 && p[2] < 40;  // the progress bar's amber
    };
    bool seen = false;
    CapturedImage image;
    while (!seen && !scene_.importer.ResultsReady()) {
        image = Frames(1);
        for (std::uint32_t y = 620; y < 710 && !seen; ++y) {
            for (std::uint32_t x = 770; x < 1270 && !seen; x += 4) {
                seen = barColour(&image.rgba[(std::size_t{y} * image.width + x) * 4]);
            }
        }
    }
    EXPECT_TRUE(seen);
    if (seen) {
        WritePng(std::filesystem::path(QV_TEST_OUTPUT) / "import-status-during-batch.png", image);
    }
}

}  // namespace
}  // namespace render_test

}  // namespace qv
