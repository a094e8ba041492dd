// Finding and decoding a model's texture files before the GPU sees them.
#include <gtest/gtest.h>

#include <fstream>

#include "formats/content_path.h"
#include "formats/model_textures.h"
#include "formats/png_file.h"
#include "formats/text_decode.h"
#include "tests/support/content_path.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

void WriteText(const std::filesystem::path& path, const char* text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

TEST(ContentPathTest, WindowsPathsResolveCaseInsensitivelyPerComponent) {
    const std::uint8_t byte = 'x';
    TempFile anchor("face.png", {&byte, 1});
    const std::filesystem::path folder = anchor.folder();
    WriteText(folder / "Tex" / "Sub" / "Skin.PNG", "x");
    const auto expected = folder / "Tex" / "Sub" / "Skin.PNG";
    EXPECT_EQ(ResolveContentPath(folder, u"tex\\sub\\skin.png"), expected);
    EXPECT_EQ(ResolveContentPath(folder, u"TEX/SUB\\SKIN.png"), expected);
    EXPECT_EQ(ResolveContentPath(folder, u".\\Face.png"), folder / "face.png");
    EXPECT_TRUE(ResolveContentPath(folder, u"tex\\sub\\none.png").empty());
    EXPECT_TRUE(ResolveContentPath(folder, u"nothing\\skin.png").empty());
    EXPECT_TRUE(ResolveContentPath(folder, u"tex\\sub").empty());  // a folder, not a file
    EXPECT_TRUE(ResolveContentPath(folder, u"").empty());
}

TEST(ContentPathTest, NamesMatchAsWindowsComparesThem) {
    EXPECT_TRUE(SameWindowsName("Tears.PNG", "tears.png"));
    EXPECT_TRUE(SameWindowsName("tears.png ", "tears.png"));
    EXPECT_TRUE(SameWindowsName("tears.png. .", "tears.png"));
    // Full-width Latin, Greek and Cyrillic letters fold too; kana stay as they are.
    EXPECT_TRUE(SameWindowsName("\xEF\xBC\xA1.png", "\xEF\xBD\x81.png"));  // Ａ, ａ
    EXPECT_TRUE(SameWindowsName("\xCE\x91\xD0\x96", "\xCE\xB1\xD0\xB6"));  // Αж, αж
    EXPECT_FALSE(SameWindowsName("\xE3\x82\xA2", "\xE3\x81\x82"));         // ア, あ
    EXPECT_FALSE(SameWindowsName("tears.png", "tear.png"));
    EXPECT_FALSE(SameWindowsName(" tears.png", "tears.png"));  // leading spaces count
}

TEST(ContentPathTest, TrailingSpacesDotsClimbsAndDrivesResolveAsOnWindows) {
    const std::uint8_t byte = 'x';
    TempFile anchor("anchor", {&byte, 1});
    const std::filesystem::path above = anchor.folder();
    const std::filesystem::path model = above / "model";
    WriteText(model / "tears.png", "x");
    WriteText(model / "Tex" / "Face.png", "x");
    WriteText(above / "shared" / "Toon.bmp", "x");

    EXPECT_EQ(ResolveContentPath(model, u"tears.png "), model / "tears.png");
    EXPECT_EQ(ResolveContentPath(model, u"tex. \\face.png."), model / "Tex" / "Face.png");
    EXPECT_EQ(ResolveContentPath(model, u"tex/./..\\TEARS.PNG"), model / "tears.png");
    // Climbing above the model's folder is allowed...
    EXPECT_EQ(ResolveContentPath(model, u"..\\Shared\\toon.bmp"), above / "shared" / "Toon.bmp");
    // ...but the root is its own parent: no number of ".." gets past it.
    std::u16string climb;
    for (auto part = model; part.has_relative_path(); part = part.parent_path()) {
        climb += u"..\\..\\";
    }
    const std::u16string back = climb + ToUtf16(model.relative_path().string()) + u"\\tears.png";
    EXPECT_EQ(ResolveContentPath(model, back), model / "tears.png");

    // A path of the author's disk is tried as its tails under the model's folder.
    EXPECT_EQ(ResolveContentPath(model, u"C:\\Users\\me\\Model\\Tex\\face.png"),
              model / "Tex" / "Face.png");
    EXPECT_EQ(ResolveContentPath(model, u"d:/tears.png"), model / "tears.png");
    EXPECT_EQ(ResolveContentPath(model, u"\\\\server\\share\\tears.png"), model / "tears.png");
    EXPECT_EQ(ResolveContentPath(model, u"\\tex\\face.png"), model / "Tex" / "Face.png");
    // Tails never start by climbing out of the folder, even towards a file that is there.
    EXPECT_TRUE(ResolveContentPath(model, u"C:\\..\\shared\\Toon.bmp").empty());
    EXPECT_TRUE(ResolveContentPath(model, u"C:\\Users\\me\\gone.png").empty());
    EXPECT_TRUE(ResolveContentPath(model, u"C:\\").empty());
}

TEST(ModelTexturesTest, GeneDecodesEveryTextureInListOrder) {
    QV_REQUIRE_CONTENT();
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, ContentDir() / "gene" / "Gene_light.pmx"), S_OK);
    const ModelTextures textures = LoadModelTextures(gene);
    EXPECT_TRUE(textures.loaded);
    ASSERT_EQ(textures.result, S_OK) << textures.message;
    ASSERT_EQ(textures.images.size(), gene.textures.size());
    for (std::size_t i = 0; i < gene.textures.size(); ++i) {
        // Each slot holds the file the model names there, not whichever
        // finished decoding first.
        RgbaImage alone;
        Result decoded;
        std::vector<std::uint8_t> bytes;
        const auto path = ResolveContentPath(gene.folder, gene.textures[i]);
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_TRUE((decoded = DecodeImage(bytes, alone)).ok()) << decoded.message;
        EXPECT_EQ(textures.images[i].width, alone.width);
        EXPECT_EQ(textures.images[i].height, alone.height);
        EXPECT_EQ(textures.images[i].pixels, alone.pixels) << path;
    }
}

TEST(ModelTexturesTest, ToonImagesBesideTheModelReplaceTheSharedRampsTheyName) {
    const std::uint8_t byte = 'x';
    TempFile anchor("anchor", {&byte, 1});
    const std::filesystem::path folder = anchor.folder();
    // A 1 x 1 PNG, whatever the extension says.
    const std::uint8_t png[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
        0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
        0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    std::ofstream(folder / "TOON03.BMP", std::ios::binary)
        .write(reinterpret_cast<const char*>(png), sizeof(png));
    std::ofstream(folder / "Tex.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png), sizeof(png));
    WriteText(folder / "toon04.bmp", "broken");
    PmxModel model;
    model.folder = folder.string() + "/";
    model.textures = {u"tex.png"};
    model.materials.resize(4);
    model.materials[0].sharedToon = 1;
    model.materials[0].toonIndex = 2;  // toon03.bmp
    model.materials[1].sharedToon = 1;
    model.materials[1].toonIndex = 3;  // toon04.bmp: broken, the shared ramp stays
    model.materials[2].sharedToon = 1;
    model.materials[2].toonIndex = 0;  // no toon01.bmp here
    model.materials[3].sharedToon = 0;
    model.materials[3].toonIndex = 4;  // a texture index, not a ramp number
    const ModelTextures textures = LoadModelTextures(model);
    ASSERT_EQ(textures.result, S_OK) << textures.message;
    ASSERT_EQ(textures.ownToons[2], 1);  // after the model's one texture
    for (std::size_t n : {0u, 1u, 3u, 4u, 9u}) {
        EXPECT_EQ(textures.ownToons[n], -1) << n;
    }
    ASSERT_EQ(textures.images.size(), 3u);  // the broken one as a placeholder
    EXPECT_EQ(textures.images[1].width, 1u);
    EXPECT_EQ(textures.images[2].width, 1u);
}

// The renderer skips the cut-out test of textures with no texel to cut, so
// the least alpha must be the image's own, texel for texel.
TEST(ModelTexturesTest, EachImageKeepsTheAlphaOfItsMostTransparentTexel) {
    TempFolder folder;
    CapturedImage image;
    image.width = 3;
    image.height = 1;
    image.rgba = {9, 9, 9, 255, 9, 9, 9, 17, 9, 9, 9, 200};
    ASSERT_EQ(WritePng(folder.path() / "lace.png", image), S_OK);
    image.rgba = {9, 9, 9, 255, 9, 9, 9, 255, 9, 9, 9, 255};
    ASSERT_EQ(WritePng(folder.path() / "skin.png", image), S_OK);
    PmxModel model;
    model.folder = folder.path().string() + "/";
    model.textures = {u"skin.png", u"lace.png"};
    const ModelTextures textures = LoadModelTextures(model);
    ASSERT_EQ(textures.result, S_OK) << textures.message;
    EXPECT_EQ(textures.leastAlpha, (std::vector<std::uint8_t>{255, 17}));
}

TEST(ModelTexturesTest, MissingAndBrokenFilesAreAbsentAndWarnedOnceEachByRole) {
    const std::uint8_t garbage[] = {1, 2, 3, 4};
    TempFile broken("broken.png", garbage);
    PmxModel model;
    model.folder = broken.folder().string() + "/";
    // The same missing file twice, a broken one, a missing sphere and toon.
    model.textures = {u"t\\罪.png", u"broken.png", u"s.sph", u"toon.bmp", u"t\\罪.png"};
    model.materials.resize(2);
    model.materials[0].textureIndex = 0;
    model.materials[0].sphereTextureIndex = 2;
    model.materials[0].sphereMode = 1;
    model.materials[0].sharedToon = 0;
    model.materials[0].toonIndex = 3;
    model.materials[1].textureIndex = 1;
    model.materials[1].sphereTextureIndex = 4;  // a sphere index, but a texture first
    model.materials[1].sphereMode = 2;
    const ModelTextures textures = LoadModelTextures(model);
    EXPECT_EQ(textures.result, S_OK) << textures.message;
    EXPECT_EQ(textures.absent, (std::vector<bool>{true, true, true, true, true}));
    ASSERT_EQ(textures.warnings.size(), 4u);
    EXPECT_EQ(textures.warnings[0], "texture not found: t\\\xE7\xBD\xAA.png");
    EXPECT_EQ(textures.warnings[1].rfind("texture cannot be read: broken.png (", 0), 0u)
        << textures.warnings[1];
    EXPECT_EQ(textures.warnings[2], "sphere not found: s.sph");
    EXPECT_EQ(textures.warnings[3], "toon not found: toon.bmp");
    // Every slot keeps its place, so the indices of the rest stay right.
    ASSERT_EQ(textures.images.size(), 5u);
    EXPECT_EQ(textures.leastAlpha, std::vector<std::uint8_t>(5, 255));
    for (const RgbaImage& image : textures.images) {
        EXPECT_EQ(image.width, 1u);
        EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{255, 255, 255, 255}));
    }

    model.textures.clear();  // no textures: nothing to do, and that is success
    model.materials.clear();
    const ModelTextures none = LoadModelTextures(model);
    EXPECT_EQ(none.result, S_OK);
    EXPECT_TRUE(none.loaded);
    EXPECT_TRUE(none.warnings.empty());
}

}  // namespace

}  // namespace qv
