// The desktop's own tools accept what QV installs: its menu entry, MIME types and manual pages.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/file_writers.h"
#include "tests/packaging/installed_tree.h"
#include "tests/support/command_output.h"
#include "tests/support/content_writers.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string Text(const std::vector<std::uint8_t>& bytes, const std::string& tail = "") {
    return std::string(bytes.begin(), bytes.end()) + tail;
}

// The content types the desktop entry offers to open, as the MIME file names them.
const char* const kContentTypes[] = {"model/x-pmx", "model/x-pmd", "application/x-vmd",
                                     "application/x-vpd", "model/x-directx"};

}  // namespace

TEST(InstalledDesktopFiles, TheMenuEntryValidatesAndOpensEveryContentType) {
    REQUIRE_INSTALLED(tree);
    const std::filesystem::path entry = tree->prefix() / "share/applications/qv.desktop";
    const CommandRun validate = RunCommand("desktop-file-validate " + Quoted(entry) + " 2>&1");
    EXPECT_EQ(validate.status, 0) << validate.output;
    EXPECT_EQ(validate.output, "");

    const CommandRun text = RunCommand("cat " + Quoted(entry));
    EXPECT_NE(text.output.find("\nExec=qv %F\n"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("\nIcon=qv\n"), std::string::npos) << text.output;
    const CommandRun mime =
        RunCommand("cat " + Quoted(tree->prefix() / "share/mime/packages/qv.xml"));
    for (const char* type : kContentTypes) {
        EXPECT_NE(text.output.find(std::string(type) + ";"), std::string::npos) << type;
        EXPECT_NE(mime.output.find(std::string("<mime-type type=\"") + type + "\">"),
                  std::string::npos)
            << type;
    }
}

TEST(InstalledDesktopFiles, TheMimeFileIsWellFormedXml) {
    REQUIRE_INSTALLED(tree);
    const CommandRun run = RunCommand(
        "xmllint --noout " + Quoted(tree->prefix() / "share/mime/packages/qv.xml") + " 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "");
}

// The pages come from each program's --help, so each lists that program's options.
TEST(InstalledDesktopFiles, EveryManualPageRendersWithItsOptions) {
    REQUIRE_INSTALLED(tree);
    const struct {
        const char* page;
        const char* name;
        const char* option;
    } pages[] = {{"qv.1.gz", "qv - realtime 3D player", "--play"},
                 {"qv-inspect.1.gz", "qv-inspect - show what", "--json"},
                 {"qv-pose.1.gz", "qv-pose - print a model's pose", "--physics"}};
    for (const auto& page : pages) {
        const std::filesystem::path file = tree->prefix() / "share/man/man1" / page.page;
        const std::string man = "MANWIDTH=100 man --warnings -l " + Quoted(file);
        const CommandRun run = RunCommand(man + " 2>/dev/null | col -b");
        EXPECT_EQ(run.status, 0) << page.page;
        EXPECT_NE(run.output.find(page.name), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(page.option), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("--version"), std::string::npos) << run.output;
        // troff's own complaints go to the error stream.
        EXPECT_EQ(RunCommand(man + " 2>&1 >/dev/null").output, "") << page.page;
    }
}

// A file manager names a file's type by its leading bytes as well as its
// name: every kind is recognised with its extension and without one, and a
// .pmd model is not taken for the page-layout document of the same extension.
TEST(InstalledDesktopFiles, TheMimeMagicRecognisesEveryContentTypeWithoutItsName) {
    REQUIRE_INSTALLED(tree);
    const TempFolder home;
    const std::filesystem::path data = home.path() / "data";
    std::filesystem::create_directories(data / "mime/packages");
    std::filesystem::copy_file(tree->prefix() / "share/mime/packages/qv.xml",
                               data / "mime/packages/qv.xml");
    // Only the freedesktop.org variables: a desktop session would bring its own lookup.
    const std::string env = "env -i PATH=/usr/bin:/bin HOME=" + Quoted(home.path()) +
                            " XDG_DATA_HOME=" + Quoted(data) + " ";
    const CommandRun update =
        RunCommand(env + "update-mime-database " + Quoted(data / "mime") + " 2>&1");
    ASSERT_EQ(update.status, 0) << update.output;

    // The format's fixed signatures, as bytes.
    const std::vector<std::uint8_t> pmd = {0x50, 0x6d, 0x64, 0x00, 0x00, 0x80, 0x3f};
    const std::vector<std::uint8_t> vpd = {0x56, 0x6f, 0x63, 0x61, 0x6c, 0x6f, 0x69, 0x64,
                                           0x20, 0x50, 0x6f, 0x73, 0x65, 0x20, 0x44, 0x61,
                                           0x74, 0x61, 0x20, 0x66, 0x69, 0x6c, 0x65};
    const struct {
        const char* name;
        std::string bytes;
        const char* type;
    } files[] = {
        {"model.pmx", Text(EncodePmx(SamplePmxModel())), "model/x-pmx"},
        {"model.pmd", Text(pmd, std::string(20 + 256, '\0') + std::string(4, '\0')), "model/x-pmd"},
        {"dance.vmd", Text(EncodeVmd(VmdFile{})), "application/x-vmd"},
        {"pose.vpd", Text(vpd, "\r\n\r\nmodel.osm;\r\n0;\r\n"), "application/x-vpd"},
        {"stage.x", "xof 0303txt 0032\nHeader {\n 1;\n 0;\n 1;\n}\n", "model/x-directx"},
    };
    for (const auto& file : files) {
        const std::vector<std::uint8_t> bytes = Bytes(file.bytes);
        const std::filesystem::path named = home.Write(file.name, bytes);
        const std::filesystem::path bare =
            home.Write(std::filesystem::path(file.name).stem().string() + "-copy", bytes);
        for (const auto& path : {named, bare}) {
            const CommandRun query =
                RunCommand(env + "xdg-mime query filetype " + Quoted(path) + " 2>&1");
            EXPECT_EQ(query.status, 0) << query.output;
            EXPECT_EQ(query.output, std::string(file.type) + "\n") << path.filename();
        }
    }
}

}  // namespace qv
