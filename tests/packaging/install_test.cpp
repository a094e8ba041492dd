// cmake --install puts every file where a Linux user expects it, and the installed player runs from
// anywhere.
#include <gtest/gtest.h>
#include <stb_image.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/version.h"
#include "tests/packaging/installed_tree.h"
#include "tests/support/command_output.h"
#include "tests/support/effect_shader.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

// Every file below the folder, as paths relative to it.
std::set<std::string> FilesUnder(const std::filesystem::path& folder) {
    std::set<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (entry.is_regular_file()) {
            files.insert(std::filesystem::relative(entry.path(), folder).string());
        }
    }
    return files;
}

}  // namespace

TEST(InstalledQv, EveryFileLandsUnderThePrefixAndEveryProgramKnowsItsVersion) {
    REQUIRE_INSTALLED(tree);
    const std::set<std::string> files = FilesUnder(tree->prefix());
    std::vector<std::string> expected = {
        "bin/qv",
        "bin/qv-inspect",
        "bin/qv-pose",
        "libexec/qv/qv-effect-compiler",
        "share/applications/qv.desktop",
        "share/mime/packages/qv.xml",
        "share/icons/hicolor/scalable/apps/qv.svg",
        "share/man/man1/qv.1.gz",
        "share/man/man1/qv-inspect.1.gz",
        "share/man/man1/qv-pose.1.gz",
        "share/doc/qv/copyright",
        "share/doc/qv/changelog.gz",
    };
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        expected.push_back("share/icons/hicolor/" + name + "/apps/qv.png");
    }
    for (int n = 1; n <= 10; ++n) {
        expected.push_back("share/qv/Assets/Images/toon/toon" + std::string(n < 10 ? "0" : "") +
                           std::to_string(n) + ".bmp");
    }
    for (const std::string& file : expected) {
        EXPECT_TRUE(files.contains(file)) << file << " was not installed";
    }
    for (const char* program : {"bin/qv", "bin/qv-inspect", "bin/qv-pose"}) {
        const std::filesystem::path path = tree->prefix() / program;
        const CommandRun run = RunCommand(Quoted(path.string()) + " --version 2>&1");
        EXPECT_EQ(run.status, 0) << program;
        EXPECT_EQ(run.output, path.filename().string() + " " + kVersion + "\n");
    }
    // Each hicolor icon has the size its folder names.
    for (int size : {16, 48, 256}) {
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        int width = 0, height = 0, channels = 0;
        const std::string png = (tree->prefix() / "share/icons/hicolor" / name / "apps/qv.png");
        ASSERT_TRUE(stbi_info(png.c_str(), &width, &height, &channels)) << png;
        EXPECT_EQ(width, size);
        EXPECT_EQ(height, size);
    }
}

// The desktop starts the player in the user's home or wherever the file
// manager stands: it must find its toon ramps and its effect compiler under
// its own prefix, and write nothing there, nor beside itself.
TEST(InstalledQv, ThePlayerStartedFromAnotherFolderDrawsTheDemoAndWritesOnlyItsCache) {
    REQUIRE_INSTALLED(tree);
    const TempFolder home;
    const std::filesystem::path elsewhere = home.path() / "elsewhere";
    const std::filesystem::path effect = home.Write("elsewhere/effect.hlsl", kTexturedEffect);
    const std::filesystem::path runtime = home.path() / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::set<std::string> before = FilesUnder(tree->prefix());

    const std::string command =
        "cd " + Quoted(elsewhere.string()) + " && env HOME=" + Quoted(home.path().string()) +
        " XDG_CACHE_HOME=" + Quoted((home.path() / "cache").string()) +
        " XDG_RUNTIME_DIR=" + Quoted(runtime.string()) + " SDL_AUDIODRIVER=dummy " +
        Quoted((tree->prefix() / "bin/qv").string()) +
        " --headless --demo --frames 30 --screenshot shot.png effect.hlsl 2>&1";
    const CommandRun run = RunCommand(command);
    ASSERT_EQ(run.status, 0) << run.output;
    // The demo's three files and the effect: the helper ran from libexec.
    EXPECT_NE(run.output.find("Loaded 4 resource(s)."), std::string::npos) << run.output;

    int width = 0, height = 0, channels = 0;
    const std::string shot = (elsewhere / "shot.png").string();
    unsigned char* pixels = stbi_load(shot.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(pixels, nullptr) << "no screenshot in the working folder";
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 720);
    // The figure stands in the middle of a light background: a good share of
    // the picture is drawn, not all of it.
    std::size_t drawn = 0;
    for (int i = 0; i < width * height; ++i) {
        const unsigned char* p = pixels + 3 * i;
        drawn += (p[0] < 200 || p[1] < 200 || p[2] < 200) ? 1 : 0;
    }
    const unsigned char* centre = pixels + 3 * (height / 3 * width + width / 2);
    EXPECT_FALSE(centre[0] > 240 && centre[1] > 240 && centre[2] > 240)
        << "no figure at the centre";
    stbi_image_free(pixels);
    EXPECT_GT(drawn, static_cast<std::size_t>(width * height) / 20);
    EXPECT_LT(drawn, static_cast<std::size_t>(width * height) * 3 / 4);

    EXPECT_EQ(FilesUnder(tree->prefix()), before) << "the player wrote under its prefix";
    EXPECT_EQ(FilesUnder(elsewhere), (std::set<std::string>{"effect.hlsl", "shot.png"}));
    EXPECT_TRUE(std::filesystem::is_regular_file(home.path() / "cache/qv/pipelines.bin"));
}

}  // namespace qv
