// qv render's command line and progress line, without a device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/player.h"
#include "app/render_options.h"
#include "app/render_progress.h"
#include "scene/scene.h"

namespace qv {

namespace {

struct Parsed {
    HRESULT hr = E_FAIL;
    RenderOptions options;
    std::string error;
};

Parsed Parse(std::vector<const char*> args) {
    Parsed p;
    const Result r = ParseRenderOptions(static_cast<int>(args.size()), args.data(), &p.options);
    p.hr = r.code;
    p.error = r.message;
    return p;
}

TEST(RenderOptionsTest, DefaultsAndEveryOption) {
    Parsed p = Parse({"out.mp4", "a.pmx", "b.vmd"});
    ASSERT_EQ(p.hr, S_OK) << p.error;
    EXPECT_EQ(p.options.kind, RenderOutputKind::Mp4);
    EXPECT_EQ(p.options.width, 1920u);
    EXPECT_EQ(p.options.height, 1080u);
    EXPECT_EQ(p.options.fps, 30u);
    EXPECT_EQ(p.options.from, 0.0);
    EXPECT_FALSE(p.options.to.has_value());
    EXPECT_EQ(p.options.files.size(), 2u);
    EXPECT_FALSE(p.options.camera.has_value());
    EXPECT_FALSE(p.options.rayTracing);
    EXPECT_EQ(p.options.rayTracingQuality, 0);
    EXPECT_EQ(p.options.quality, PictureQuality::Default);
    EXPECT_EQ(p.options.framesInFlight, 3u);

    p = Parse({"--size",    "320x240",      "clip.mkv",     "--demo",         "--fps",
               "60",        "--from",       "1.5",          "--to",           "4",
               "--aa",      "fxaa-high",    "--shader",     "QV Toon shader", "--camera",
               "30,45,-10", "--raytracing", "--rt-quality", "Ultra",          "--quality",
               "best"});
    ASSERT_EQ(p.hr, S_OK) << p.error;
    EXPECT_EQ(p.options.kind, RenderOutputKind::Mkv);
    EXPECT_EQ(p.options.width, 320u);
    EXPECT_EQ(p.options.height, 240u);
    EXPECT_EQ(p.options.fps, 60u);
    EXPECT_EQ(p.options.from, 1.5);
    EXPECT_EQ(*p.options.to, 4.0);
    EXPECT_EQ(p.options.antiAliasingMode, 2);
    EXPECT_EQ(p.options.shader, "QV Toon shader");
    ASSERT_TRUE(p.options.camera.has_value());
    EXPECT_EQ(p.options.camera->distance, 30.0f);
    EXPECT_EQ(p.options.camera->yawDegrees, 45.0f);
    EXPECT_EQ(p.options.camera->pitchDegrees, -10.0f);
    EXPECT_EQ(p.options.camera->targetY, 10.0f);
    EXPECT_TRUE(p.options.rayTracing);
    EXPECT_EQ(p.options.rayTracingQuality, 3);
    EXPECT_EQ(p.options.quality, PictureQuality::Best);

    p = Parse({"frames/f%04d.png", "m.pmx", "--size", "161x121", "--camera", "5,0,0,1,2,3"});
    ASSERT_EQ(p.hr, S_OK) << p.error;  // odd sides are fine for pictures
    EXPECT_EQ(p.options.kind, RenderOutputKind::PngSequence);
    EXPECT_EQ(p.options.camera->targetZ, 3.0f);
    EXPECT_EQ(Parse({"out.mp4", "m.pmx", "--quality", "fast"}).options.quality,
              PictureQuality::Fast);
    EXPECT_EQ(Parse({"out.mp4", "m.pmx", "--quality", "default"}).options.quality,
              PictureQuality::Default);
    EXPECT_EQ(Parse({"out.mp4", "m.pmx", "--frames-in-flight", "1"}).options.framesInFlight, 1u);
}

TEST(RenderOptionsTest, BadInputIsOneLineBeforeAnythingStarts) {
    const std::vector<std::vector<const char*>> bad = {
        {},                       // no output
        {"out.avi", "a.pmx"},     // unknown extension
        {"out", "a.pmx"},         // no extension
        {"frames.png", "a.pmx"},  // PNG without a number
        {"f%s.png", "a.pmx"},     // not a number conversion
        {"f%d%d.png", "a.pmx"},   // two numbers
        {"out.mp4"},              // nothing to render
        {"out.mp4", "a.pmx", "--from", "3", "--to", "2"},
        {"out.mp4", "a.pmx", "--to", "0"},  // ends where it starts
        {"out.mp4", "a.pmx", "--from", "-1"},
        {"out.mp4", "a.pmx", "--to", "nan"},
        {"out.mp4", "a.pmx", "--size", "321x240"},  // odd for yuv420p
        {"out.mp4", "a.pmx", "--size", "0x240"},
        {"out.mp4", "a.pmx", "--size", "1280*720"},
        {"out.mp4", "a.pmx", "--size", "99999x99999"},
        {"out.mp4", "a.pmx", "--fps", "0"},
        {"out.mp4", "a.pmx", "--fps", "1000"},
        {"out.mp4", "a.pmx", "--aa", "ssaa"},
        {"out.mp4", "a.pmx", "--camera", "10,20"},
        {"out.mp4", "a.pmx", "--camera", "0,0,0"},
        {"out.mp4", "a.pmx", "--camera", "10,x,0"},
        {"out.mp4", "a.pmx", "--rt-quality", "extreme"},
        {"out.mp4", "a.pmx", "--quality", "Best"},  // the names are lower case
        {"out.mp4", "a.pmx", "--quality", ""},
        {"out.mp4", "a.pmx", "--quality"},
        {"out.mp4", "a.pmx", "--fps"},  // value missing
        {"out.mp4", "a.pmx", "--frames-in-flight", "0"},
        {"out.mp4", "a.pmx", "--frames-in-flight", "4"},  // more than the back buffers
        {"out.mp4", "a.pmx", "--wat"},
    };
    for (const auto& args : bad) {
        const Parsed p = Parse(args);
        std::string shown;
        for (const char* a : args) {
            shown += std::string(a) + " ";
        }
        EXPECT_EQ(p.hr, E_INVALIDARG) << shown;
        EXPECT_FALSE(p.error.empty()) << shown;
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << shown;
    }
    EXPECT_NE(Parse({"out.mp4", "a.pmx", "--rt-quality"}).error.find("ULTRA"), std::string::npos);
    EXPECT_NE(Parse({"out.mp4", "a.pmx", "--quality", "ultra"}).error.find("fast, default, best"),
              std::string::npos);
    EXPECT_NE(Parse({"out.mp4", "a.pmx", "--from", "3", "--to", "2"}).error.find("--to"),
              std::string::npos);
}

TEST(RenderOptionsTest, FrameNamesFollowTheOneNumberInThePattern) {
    EXPECT_EQ(FrameFileName("f%05d.png", 42), "f00042.png");
    EXPECT_EQ(FrameFileName("%d.png", 1234567), "1234567.png");
    EXPECT_EQ(FrameFileName("x%02d.png", 123), "x123.png");  // wider numbers are kept whole
    EXPECT_FALSE(FrameFileName("f%5d.png", 1));
    EXPECT_FALSE(FrameFileName("f%00d.png", 1));
    EXPECT_FALSE(FrameFileName("f%n.png", 1));
    EXPECT_FALSE(FrameFileName("100%.png", 1));
    EXPECT_FALSE(FrameFileName("f%d%%.png", 1));
}

TEST(RenderProgressTest, LineCountsFramesRateAndTimeLeft) {
    EXPECT_EQ(ProgressLine(0, 60, 0.0), "frame 0/60  0%  -- fps  --:-- left");
    // 45 of 60 in 3 s: 15 fps, 15 frames left take 1 s.
    EXPECT_EQ(ProgressLine(45, 60, 3.0), "frame 45/60  75%  15.0 fps  0:01 left");
    // 100 of 9100 at 1 fps: 9000 s left, 150 minutes.
    EXPECT_EQ(ProgressLine(100, 9100, 100.0), "frame 100/9100  1%  1.0 fps  150:00 left");
    EXPECT_EQ(FormatLength(2.0), "0:02.00");
    EXPECT_EQ(FormatLength(3723.456), "1:02:03.46");
    EXPECT_EQ(FormatSize(999), "999 bytes");
    EXPECT_EQ(FormatSize(45300), "45.3 KB");
    EXPECT_EQ(FormatSize(12800000), "12.8 MB");
}

TEST(RenderProgressTest, TerminalRedrawsInPlaceAndLogsGetAPeriodicLine) {
    ProgressPacer terminal(true);
    const std::string redraw = terminal.Update(1, 10, 0.1);
    EXPECT_EQ(redraw.front(), '\r');
    EXPECT_EQ(redraw.find('\n'), std::string::npos);

    ProgressPacer log(false);
    EXPECT_EQ(log.Update(1, 100, 1.0), "");
    const std::string first = log.Update(2, 100, ProgressPacer::kPlainLineSeconds);
    EXPECT_EQ(first, ProgressLine(2, 100, ProgressPacer::kPlainLineSeconds) + "\n");
    EXPECT_EQ(log.Update(3, 100, ProgressPacer::kPlainLineSeconds + 1.0), "");
    // The last frame always gets its line.
    EXPECT_NE(log.Update(100, 100, ProgressPacer::kPlainLineSeconds + 1.5), "");
}

// What --raytracing does to the scene: as the Graphic setting window, with
// multisampling dropped for good and FXAA kept.
TEST(RenderOptionsTest, SwitchingRayTracingOnDropsMultisamplingAndSetsTheSamples) {
    Scene scene;
    EXPECT_FALSE(SwitchOnRayTracing(scene, 3));  // the device offers none
    EXPECT_FALSE(scene.render.rayTracing);
    EXPECT_EQ(scene.render.antiAliasing, kMsaa4x);

    scene.render.rayTracingAvailable = true;
    scene.render.antiAliasing = scene.render.antiAliasingMode = kMsaa8x;
    EXPECT_TRUE(SwitchOnRayTracing(scene, 3));
    EXPECT_TRUE(scene.render.rayTracing);
    EXPECT_TRUE(scene.render.rebuildAccelerationStructures);
    EXPECT_EQ(scene.render.antiAliasing, kAntiAliasingNone);
    EXPECT_EQ(scene.render.antiAliasingMode, kAntiAliasingNone);
    EXPECT_EQ(scene.render.diffuseSamples, 16u);
    EXPECT_EQ(scene.render.shadowSamples, 16u);

    scene.render.antiAliasing = scene.render.antiAliasingMode = kFxaaHigh;
    EXPECT_TRUE(SwitchOnRayTracing(scene, 9));  // clamped to Ultra
    EXPECT_EQ(scene.render.antiAliasingMode, kFxaaHigh);
    EXPECT_EQ(scene.render.shadowQuality, 3);

    std::int32_t quality = -1;
    EXPECT_TRUE(ParseRayTracingQuality("medium", &quality));
    EXPECT_EQ(quality, 1);
    EXPECT_FALSE(ParseRayTracingQuality("", &quality));
    EXPECT_EQ(quality, 1);
}

}  // namespace

}  // namespace qv
