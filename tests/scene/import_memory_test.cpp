// A model whose texture does not fit in memory still imports, the texture failing alone.

#include <gtest/gtest.h>

#include "demo/file_writers.h"
#include "formats/png_file.h"
#include "scene/import_results.h"
#include "tests/support/content_writers.h"
#include "tests/support/replaced_allocation.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

TEST(ImportMemoryTest, ATextureTooLargeForMemoryFailsAloneAndTheModelStays) {
    TempFolder folder;
    CapturedImage big;
    big.width = big.height = 2048;  // 16 MiB decoded
    big.rgba.assign(std::size_t{big.width} * big.height * 4, 200);
    ASSERT_EQ(WritePng(folder.path() / "big.png", big), S_OK);
    PmxModel model = SamplePmxModel();
    model.textures = {u"big.png"};
    for (PmxMaterial& material : model.materials) {
        material.textureIndex = 0;
    }
    const auto path = folder.Write("model.pmx", EncodePmx(model));

    ImportResults results;
    gLargestAllocation = 8u << 20;  // any one allocation over 8 MiB fails
    ImportFile(path, nullptr, results, true);
    gLargestAllocation = kNoAllocationLimit;
    ASSERT_EQ(results.models.size(), 1u);
    const ModelImport& entry = results.models[0];
    EXPECT_TRUE(entry.error.empty()) << entry.error;
    EXPECT_EQ(entry.model.materials.size(), model.materials.size());
    EXPECT_TRUE(entry.textures.loaded);
    // The user learns which file it was.
    EXPECT_NE(entry.textures.message.find("big.png (it does not fit in memory)"), std::string::npos)
        << entry.textures.message;
}

TEST(ImportMemoryTest, TexturesWhoseListDoesNotFitFailTogetherAndTheModelStays) {
    // The resolved paths take more room than the parsed names, so a limit just above the
    // names lets the model parse and fails the texture list itself.
    static_assert(sizeof(std::filesystem::path) > sizeof(std::u16string));
    TempFolder folder;
    PmxModel model = SamplePmxModel();
    constexpr std::size_t kTextures = 1 << 15;
    model.textures.assign(kTextures, u"absent.png");
    const auto path = folder.Write("model.pmx", EncodePmx(model));

    ImportResults results;
    gLargestAllocation = kTextures * sizeof(std::u16string) + 4096;
    ImportFile(path, nullptr, results, true);
    gLargestAllocation = kNoAllocationLimit;
    ASSERT_EQ(results.models.size(), 1u);
    const ModelImport& entry = results.models[0];
    EXPECT_TRUE(entry.error.empty()) << entry.error;
    EXPECT_EQ(entry.model.textures.size(), kTextures);
    EXPECT_TRUE(entry.textures.loaded);
    EXPECT_EQ(entry.textures.result, E_OUTOFMEMORY);
    EXPECT_EQ(entry.textures.message, "the textures do not fit in memory");
    EXPECT_TRUE(entry.textures.images.empty());
}

}  // namespace

}  // namespace qv
