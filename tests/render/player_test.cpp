// The player as a user runs it: options, screenshots, imports and one-line failures.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/result_code.h"
#include "tests/support/command_output.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

// Runs the player with the validation layer on and collects what it printed.
// SDL wants a private runtime folder of its own.
CommandRun RunQv(const std::string& arguments, const std::string& prefix = "") {
    const std::string runtime = std::filesystem::temp_directory_path() / "qv-player-runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string command = prefix + " env QV_VALIDATION=1 XDG_RUNTIME_DIR='" + runtime +
                                "' '" QV_BINARY "' " + arguments + " 2>&1";
    return RunCommand(command);
}

// A run that ended with status 0 and printed no validation message.
::testing::AssertionResult RanCleanly(const CommandRun& run) {
    if (run.status != 0 || run.output.find("validation") != std::string::npos) {
        return ::testing::AssertionFailure() << "status " << run.status << ":\n" << run.output;
    }
    return ::testing::AssertionSuccess();
}

int ExitCodeOf(HRESULT hr) {
    return static_cast<int>(static_cast<unsigned>(hr) & 0xFF);
}

// A PNG the player wrote, as R, G, B, A bytes; empty when it cannot be read.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;

    explicit Picture(const std::filesystem::path& png) {
        int channels = 0;
        unsigned char* pixels = stbi_load(png.string().c_str(), &width, &height, &channels, 4);
        if (pixels != nullptr) {
            rgba.assign(pixels, pixels + static_cast<std::size_t>(width) * height * 4);
            stbi_image_free(pixels);
        }
    }
    bool Loaded() const { return !rgba.empty(); }
    const unsigned char* At(int x, int y) const {
        return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
    }
    bool IsWhite(int x, int y) const {
        const unsigned char* p = At(x, y);
        return p[0] == 255 && p[1] == 255 && p[2] == 255;
    }
};

std::filesystem::path GeneFolder() {
    const char* content = std::getenv("QV_CONTENT_DIR");
    return std::filesystem::path(content != nullptr ? content : QV_CONTENT) / "gene";
}

#define REQUIRE_GENE()                                                          \
    if (!std::filesystem::exists(GeneFolder() / "Gene_light.pmx")) {            \
        GTEST_SKIP() << "shared content folder not found (set QV_CONTENT_DIR)"; \
    }

class PlayerTest : public ::testing::Test {
protected:
    const TempFolder temp_;
    const std::filesystem::path& folder_ = temp_.path();
};

TEST_F(PlayerTest, HeadlessScreenshotWithoutToolWindowsIsAWhite1280x720Frame) {
    const auto png = folder_ / "out.png";
    const CommandRun run =
        RunQv("--headless --hide-ui --frames 10 --screenshot '" + png.string() + "'");
    ASSERT_TRUE(RanCleanly(run));
    const Picture picture(png);
    ASSERT_TRUE(picture.Loaded());
    EXPECT_EQ(picture.width, 1280);
    EXPECT_EQ(picture.height, 720);
    EXPECT_EQ(std::count(picture.rgba.begin(), picture.rgba.end(), 255), 1280 * 720 * 4);
}

TEST_F(PlayerTest, FailuresPrintOneLineAndReturnTheStepsCode) {
    const auto unwritable = folder_ / "missing-folder" / "out.png";
    CommandRun run = RunQv("--headless --frames 2 --screenshot '" + unwritable.string() + "'");
    EXPECT_EQ(run.status, ExitCodeOf(E_FAIL));
    EXPECT_NE(run.output.find("cannot write the screenshot"), std::string::npos) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;

    run = RunQv("--headless --frames 0");
    EXPECT_EQ(run.status, ExitCodeOf(E_INVALIDARG));
    run = RunQv("--no-such-option");
    EXPECT_EQ(run.status, ExitCodeOf(E_INVALIDARG));
    EXPECT_NE(run.output.find("--no-such-option"), std::string::npos);

    // A loader that finds no driver at all: no usable device.
    run = RunQv("--headless",
                "env VK_ICD_FILENAMES=/nonexistent.json VK_DRIVER_FILES=/nonexistent.json");
    EXPECT_EQ(run.status, ExitCodeOf(E_FAIL));
    EXPECT_NE(run.output.find("no usable Vulkan device"), std::string::npos) << run.output;

    // A system where fontconfig knows no font at all: no interface font.
    const auto fonts = folder_ / "fonts.conf";
    std::ofstream(fonts) << "<?xml version=\"1.0\"?><fontconfig><dir>"
                         << (folder_ / "none").string() << "</dir><cachedir>" << folder_.string()
                         << "</cachedir></fontconfig>";
    run = RunQv("--headless", "env FONTCONFIG_FILE='" + fonts.string() + "'");
    EXPECT_EQ(run.status, ExitCodeOf(E_FAIL));
    EXPECT_NE(run.output.find("no interface font"), std::string::npos) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    run = RunQv("--headless --hide-ui --frames 1", "env FONTCONFIG_FILE='" + fonts.string() + "'");
    EXPECT_EQ(run.status, 0) << run.output;  // without windows no font is needed

    run = RunQv("--frames 1", "env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=");
    EXPECT_EQ(run.status, ExitCodeOf(E_FAIL));
    EXPECT_NE(run.output.find("no display"), std::string::npos) << run.output;
}

TEST_F(PlayerTest, HelpNamesTheAutomationOptions) {
    const CommandRun run = RunQv("--help");
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--headless", "--frames", "--screenshot", "--show", "--hide-ui",
                               "--raytracing", "--rt-quality"}) {
        EXPECT_NE(run.output.find(option), std::string::npos) << option;
    }
}

TEST_F(PlayerTest, ScreenshotsShowTheToolWindowsThatShowOpens) {
    const auto png = folder_ / "windows.png";
    CommandRun run =
        RunQv("--headless --frames 4 --show resources,about --screenshot '" + png.string() + "'");
    ASSERT_TRUE(RanCleanly(run));
    const Picture picture(png);
    ASSERT_TRUE(picture.Loaded());
    auto dark = [&](int x, int y) {
        const unsigned char* p = picture.At(x, y);
        return p[0] < 80 && p[1] < 80 && p[2] < 80;
    };
    EXPECT_TRUE(dark(14, 250));    // the navigator, open at start, beside its buttons
    EXPECT_TRUE(dark(1200, 290));  // the resource manager
    EXPECT_TRUE(dark(640, 360));   // About, in the middle

    run = RunQv("--headless --show navigator,nothing");
    EXPECT_EQ(run.status, ExitCodeOf(E_INVALIDARG));
    EXPECT_NE(run.output.find("\"nothing\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("import-status"), std::string::npos) << run.output;
}

// Needs an X server, which xvfb-run provides where it is installed.
TEST_F(PlayerTest, WindowUnderXvfbPresentsAndExits) {
    if (std::system("command -v xvfb-run > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    const auto png = folder_ / "window.png";
    const CommandRun run = RunQv("--frames 120 --screenshot '" + png.string() + "'", "xvfb-run -a");
    ASSERT_TRUE(RanCleanly(run));
    const Picture picture(png);
    ASSERT_TRUE(picture.Loaded());
    EXPECT_EQ(picture.width, 1280);
    EXPECT_EQ(picture.height, 720);
    EXPECT_EQ(picture.At(0, 0)[0], 255);
    // The right edge of the scene above the playback bar, which takes the
    // bottom rows.
    EXPECT_EQ(picture.At(1279, 650)[2], 255);
    EXPECT_LT(picture.At(1279, 719)[2], 80);
}

}  // namespace

TEST_F(PlayerTest, FilesOnTheCommandLineImportAndPlay) {
    REQUIRE_GENE();
    const std::filesystem::path gene = GeneFolder();
    const auto png = folder_ / "gene.png";
    const CommandRun run = RunQv("--headless --frames 5 --screenshot '" + png.string() +
                                 "' --play '" + (gene / "Gene_light.pmx").string() + "' '" +
                                 (gene / "motion" / "stand.vmd").string() + "' missing.pmx");
    EXPECT_TRUE(RanCleanly(run));
    EXPECT_NE(run.output.find("Loaded 2 resource(s).\nFailed: 1\nError detail:\nmissing.pmx\n"
                              "Failed to load PMX model!"),
              std::string::npos)
        << run.output;
    // The model stands in the middle of a white frame.
    const Picture picture(png);
    ASSERT_TRUE(picture.Loaded());
    const int w = picture.width, h = picture.height;
    EXPECT_TRUE(picture.IsWhite(0, 0));
    EXPECT_TRUE(picture.IsWhite(w - 1, h * 650 / 720));  // above the playback bar
    EXPECT_FALSE(picture.IsWhite(w / 2, h * 110 / 720));  // the face
}

// The import's status window opens in the frames the browser is open: it
// appears behind the browser, and the player runs on.
TEST_F(PlayerTest, AnImportEndingUnderTheOpenFileBrowserKeepsThePlayerRunning) {
    REQUIRE_GENE();
    const CommandRun run = RunQv("--headless --frames 2 --show file-browser,import-status '" +
                                 (GeneFolder() / "Gene_light.pmx").string() + "'");
    EXPECT_TRUE(RanCleanly(run));
    EXPECT_NE(run.output.find("Loaded 1 resource(s)."), std::string::npos) << run.output;
}

TEST_F(PlayerTest, RayTracingFromTheCommandLineDrawsTheModel) {
    REQUIRE_GENE();
    const std::filesystem::path gene = GeneFolder();
    CommandRun run = RunQv("--headless --raytracing --rt-quality extreme");
    EXPECT_EQ(run.status, ExitCodeOf(E_INVALIDARG));
    EXPECT_NE(run.output.find("LOW, MEDIUM, HIGH or ULTRA"), std::string::npos) << run.output;

    const auto png = folder_ / "traced.png";
    run = RunQv("--headless --hide-ui --frames 2 --raytracing --rt-quality medium --screenshot '" +
                png.string() + "' '" + (gene / "Gene_light.pmx").string() + "'");
    ASSERT_TRUE(RanCleanly(run));
    EXPECT_EQ(run.output.find("switched off"), std::string::npos) << run.output;
    const Picture picture(png);
    ASSERT_TRUE(picture.Loaded());
    const int w = picture.width, h = picture.height;
    EXPECT_TRUE(picture.IsWhite(0, 0));
    EXPECT_FALSE(picture.IsWhite(w / 2, h * 110 / 720));  // the face
}

TEST_F(PlayerTest, AModelWhoseTexturesAreMissingLoadsWithWarnings) {
    REQUIRE_GENE();
    const std::filesystem::path gene = GeneFolder();
    // The model without its texture folder beside it.
    std::filesystem::copy_file(gene / "Gene_light.pmx", folder_ / "Gene_light.pmx");
    const CommandRun run =
        RunQv("--headless --frames 2 '" + (folder_ / "Gene_light.pmx").string() + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("Failed to create graphic resource for this model!"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("texture not found"), std::string::npos) << run.output;
}

}  // namespace qv
