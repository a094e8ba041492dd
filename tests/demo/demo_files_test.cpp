// The demo's files must load from disk, and the writers must lay out what readers take.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "demo/demo_content.h"
#include "formats/vmd_motion.h"
#include "platform/code_page.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

TEST(DemoFiles, WrittenFilesLoadAndTheTextureLiesBesideTheModel) {
    const TempFile scratch("unused", {});
    const std::filesystem::path folder = scratch.folder() / "nested" / "demo";
    std::vector<std::filesystem::path> imports;
    const Result written = WriteDemoContent(folder, &imports);
    ASSERT_EQ(written.code, S_OK) << written.message;
    ASSERT_EQ(imports.size(), 3u);
    EXPECT_EQ(imports[0], folder / kDemoModelFile);
    EXPECT_EQ(imports[1], folder / kDemoMotionFile);
    EXPECT_EQ(imports[2], folder / kDemoSongFile);

    PmxModel model;
    ASSERT_EQ(LoadPmxModel(model, imports[0]), S_OK);
    ASSERT_EQ(model.textures.size(), 1u);
    EXPECT_TRUE(
        std::filesystem::is_regular_file(model.folder / std::filesystem::path(model.textures[0])));
    VmdMotion motion;
    ASSERT_EQ(LoadVmdMotion(motion, imports[1]), S_OK);
    EXPECT_EQ(motion.modelName, u"QVデモ");
    EXPECT_GT(std::filesystem::file_size(imports[2]), 44u);
}

TEST(DemoFiles, AFolderThatCannotBeMadeIsReported) {
    const TempFile blocker("file", std::vector<std::uint8_t>{1});
    std::vector<std::filesystem::path> imports{"stale"};
    const Result written = WriteDemoContent(blocker.path() / "demo", &imports);
    EXPECT_EQ(written.code, E_FAIL);
    EXPECT_TRUE(imports.empty());
    EXPECT_NE(written.message.find(blocker.path().string()), std::string::npos) << written.message;
}

TEST(DemoFolder, BelongsToTheProcessReplacesLeftoversAndGoesAway) {
    std::filesystem::path folder;
    {
        DemoFolder demo;
        ASSERT_EQ(demo.Create().code, S_OK);
        folder = demo.Folder();
        EXPECT_EQ(folder.filename().string(), "qv-demo-" + std::to_string(::getpid()));
        // A file a former process of the same id left behind goes.
        std::ofstream(folder / "leftover") << "x";
        ASSERT_EQ(demo.Create().code, S_OK);
        EXPECT_FALSE(std::filesystem::exists(folder / "leftover"));
        ASSERT_EQ(demo.Imports().size(), 3u);
        for (const std::filesystem::path& file : demo.Imports()) {
            EXPECT_EQ(file.parent_path(), folder);
            EXPECT_TRUE(std::filesystem::is_regular_file(file));
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    // A process that ends without destructors removes it beforehand.
    DemoFolder demo;
    ASSERT_EQ(demo.Create().code, S_OK);
    demo.Remove();
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_TRUE(demo.Folder().empty());
}

// Where the motion reader takes each curve's control points from: X, Y, Z and
// rotation in that order, x1, y1, x2, y2 each.
TEST(FileWriters, BoneInterpolationIsLaidOutAsTheReaderTakesIt) {
    const std::array<std::uint8_t, 64> bytes = VmdBoneInterpolation(11, 22, 33, 44);
    const int offsets[4][4] = {{0, 4, 8, 12}, {1, 5, 9, 13}, {17, 6, 10, 14}, {18, 7, 11, 15}};
    for (const auto& curve : offsets) {
        EXPECT_EQ(bytes[curve[0]], 11);
        EXPECT_EQ(bytes[curve[1]], 22);
        EXPECT_EQ(bytes[curve[2]], 33);
        EXPECT_EQ(bytes[curve[3]], 44);
    }
}

TEST(FileWriters, Cp932RoundTripsNamesAndMarksWhatItCannotWrite) {
    Cp932Decoder decoder;
    for (const std::u16string name : {u"センター", u"左足ＩＫ", u"まばたき", u"arm"}) {
        const std::string bytes = EncodeCp932(name);
        EXPECT_EQ(
            decoder.Decode({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}),
            name);
    }
    EXPECT_EQ(EncodeCp932(u"センター"), "\x83\x5A\x83\x93\x83\x5E\x81\x5B");
    EXPECT_EQ(EncodeCp932(u"a\u00E9b"), "a?b");  // no é in the code page
}

}  // namespace

}  // namespace qv
