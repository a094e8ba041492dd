// The Debian package made from this build: its files, its dependencies, no trace of the build, and
// lintian's verdict.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "platform/version.h"
#include "tests/packaging/installed_tree.h"
#include "tests/support/command_output.h"
#include "tests/support/temp_file.h"

namespace qv {

TEST(DebianPackage, ShipsTheInstalledFilesWithComputedDependenciesAndPassesLintian) {
    const TempFolder out;
    const CommandRun pack =
        RunCommand("cd " + Quoted(out.path()) + " && " + Quoted(QV_CPACK) + " -G DEB --config " +
                   Quoted(std::string(QV_BUILD_DIR) + "/CPackConfig.cmake") + " 2>&1");
    ASSERT_EQ(pack.status, 0) << pack.output;
    const std::filesystem::path deb = out.path() / (std::string("qv_") + kVersion + "_amd64.deb");
    ASSERT_TRUE(std::filesystem::is_regular_file(deb)) << pack.output;

    const CommandRun info = RunCommand("dpkg-deb --info " + Quoted(deb) + " 2>&1");
    ASSERT_EQ(info.status, 0) << info.output;
    for (const std::string& field : std::initializer_list<std::string>{
             "Package: qv\n", std::string("Version: ") + kVersion + "\n", "Architecture: amd64\n",
             "Section: graphics\n", "Maintainer: ", "Description: realtime 3D player"}) {
        EXPECT_NE(info.output.find(field), std::string::npos) << field << "\n" << info.output;
    }
    // Computed from the programs, plus the font and a Vulkan driver that only
    // show at run time.
    const std::size_t depends = info.output.find("Depends: ");
    ASSERT_NE(depends, std::string::npos) << info.output;
    const std::string line = info.output.substr(depends, info.output.find('\n', depends) - depends);
    for (const char* package : {"libc6", "libstdc++6", "libvulkan1", "libsdl2-2.0-0", "libbullet3",
                                "libfontconfig1", "fonts-noto-cjk", "vulkan-icd"}) {
        EXPECT_NE(line.find(package), std::string::npos) << package << " missing from " << line;
    }

    const CommandRun contents = RunCommand("dpkg-deb --contents " + Quoted(deb) + " 2>&1");
    ASSERT_EQ(contents.status, 0) << contents.output;
    for (const char* file :
         {"./usr/bin/qv\n", "./usr/bin/qv-inspect\n", "./usr/bin/qv-pose\n",
          "./usr/libexec/qv/qv-effect-compiler\n", "./usr/share/qv/Assets/Images/toon/toon10.bmp\n",
          "./usr/share/applications/qv.desktop\n", "./usr/share/mime/packages/qv.xml\n",
          "./usr/share/icons/hicolor/256x256/apps/qv.png\n", "./usr/share/man/man1/qv.1.gz\n",
          "./usr/share/doc/qv/copyright\n", "./usr/share/doc/qv/changelog.gz\n"}) {
        EXPECT_NE(contents.output.find(file), std::string::npos) << file;
    }
    EXPECT_EQ(contents.output.find("Fonts/"), std::string::npos) << "the font is not shipped";

    // No file carries the folder it was built in. A sanitizer build cannot
    // pass this and is never shipped: its instrumentation records the full
    // path of every generated header that defines a global.
    EXPECT_EQ(contents.output.find(QV_BUILD_DIR), std::string::npos);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const std::filesystem::path unpacked = out.path() / "unpacked";
    ASSERT_EQ(RunCommand("dpkg-deb -x " + Quoted(deb) + " " + Quoted(unpacked)).status, 0);
    const CommandRun traces =
        RunCommand("grep -rlF " + Quoted(QV_BUILD_DIR) + " " + Quoted(unpacked) + " 2>&1");
    EXPECT_EQ(traces.output, "") << "build paths in the package";
#endif

    // Errors and warnings fail; notes stay in the log for whoever reads it.
    const CommandRun lint = RunCommand("lintian --tag-display-limit 0 " + Quoted(deb) + " 2>&1");
    std::printf("lintian:\n%s", lint.output.c_str());
    for (const char* tag : {"E: ", "W: "}) {
        EXPECT_EQ(lint.output.find(std::string("\n") + tag), std::string::npos) << lint.output;
        EXPECT_NE(lint.output.rfind(tag, 0), 0u) << lint.output;
    }
}

}  // namespace qv
