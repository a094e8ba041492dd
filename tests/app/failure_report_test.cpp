// Command-line and output failures reach the user as a code and the one line that says why.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/frame_output.h"
#include "app/player_options.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

TEST(PlayerOptionsTest, EveryRefusalIsABadArgumentWithTheLineTheUserReads) {
    struct Case {
        std::vector<const char*> args;
        const char* says;
    };
    const Case cases[] = {
        {{"qv", "--frames", "0"}, "--frames needs a whole number above 0"},
        {{"qv", "--frames", "12x"}, "--frames needs a whole number above 0"},
        {{"qv", "--screenshot"}, "--screenshot needs a file name"},
        {{"qv", "--show"}, "--show needs window names: "},
        {{"qv", "--show", "Nowhere"}, "--show knows no window \"Nowhere\""},
        {{"qv", "--rt-quality", "extreme"}, "--rt-quality needs LOW, MEDIUM, HIGH or ULTRA"},
        {{"qv", "a.pmx", "--fast"}, "unknown option --fast (see qv --help)"},
    };
    for (const Case& c : cases) {
        PlayerOptions options;
        const Result parsed =
            ParseOptions(static_cast<int>(c.args.size()), c.args.data(), &options);
        EXPECT_EQ(parsed.code, E_INVALIDARG) << c.says;
        EXPECT_EQ(parsed.message.rfind(c.says, 0), 0u) << parsed.message;
    }
    PlayerOptions options;
    const std::vector<const char*> good = {"qv", "--frames", "3", "--rt-quality", "high", "a.pmx"};
    const Result parsed = ParseOptions(static_cast<int>(good.size()), good.data(), &options);
    EXPECT_EQ(parsed.code, S_OK);
    EXPECT_TRUE(parsed.message.empty()) << parsed.message;
    EXPECT_EQ(options.frames, 3u);
    EXPECT_EQ(options.rayTracingQuality, 2);
}

// Each kind of output, asked to write into a folder that does not exist,
// fails before any frame with E_FAIL and a line naming where.
TEST(FrameOutputTest, AnOutputThatCannotBeOpenedSaysWhere) {
    const TempFolder scratch;
    for (const char* name : {"frame%03d.png", "clip.mp4", "clip.mkv"}) {
        RenderOptions options;
        options.output = scratch.path() / "missing" / name;
        options.kind = options.output.extension() == ".png"   ? RenderOutputKind::PngSequence
                       : options.output.extension() == ".mp4" ? RenderOutputKind::Mp4
                                                              : RenderOutputKind::Mkv;
        options.width = 64;
        options.height = 64;
        const std::unique_ptr<FrameOutput> output = MakeFrameOutput(options, nullptr);
        const Result opened = output->Open();
        output->Discard();
        EXPECT_EQ(opened.code, E_FAIL) << name;
        EXPECT_NE(opened.message.find((scratch.path() / "missing").string()), std::string::npos)
            << name << ": " << opened.message;
    }
}

}  // namespace

}  // namespace qv
