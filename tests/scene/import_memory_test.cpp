// A model whose texture does not fit in memory still imports, the texture failing alone.
// The global allocation functions are replaced in this executable only.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "demo/file_writers.h"
#include "formats/png_file.h"
#include "scene/import_results.h"
#include "tests/support/content_writers.h"
#include "tests/support/temp_file.h"

namespace {

// Any single allocation larger than this fails as a full machine would.
std::atomic<std::size_t> g_largest{~std::size_t{0}};

void* Allocate(std::size_t size) {
    if (size > g_largest.load(std::memory_order_relaxed)) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

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
    g_largest = 8u << 20;
    ImportFile(path, nullptr, results, true);
    g_largest = ~std::size_t{0};
    ASSERT_EQ(results.models.size(), 1u);
    const ModelImport& entry = results.models[0];
    EXPECT_TRUE(entry.error.empty()) << entry.error;
    EXPECT_EQ(entry.model.materials.size(), model.materials.size());
    EXPECT_TRUE(entry.textures.loaded);
    // The user learns which file it was.
    EXPECT_NE(entry.textures.message.find("big.png (it does not fit in memory)"), std::string::npos)
        << entry.textures.message;
}

}  // namespace

}  // namespace qv
