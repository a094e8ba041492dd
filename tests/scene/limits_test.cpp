// The largest content a user can meet: each case loads, or is refused with a clear message and
// gives back what it took.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "formats/model_textures.h"
#include "runtime/motion.h"
#include "scene/scene_content.h"
#include "tests/support/content_path.h"
#include "tests/support/content_writers.h"
#include "tests/support/resident_memory.h"
#include "tests/support/temp_file.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

class LimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Songs play on the silent driver: no sound device is needed.
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        content_.physics = std::make_unique<PhysicsWorld>();
    }

    fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return folder_.Write(name, bytes);
    }

    std::string Import(std::vector<fs::path> files) {
        EXPECT_TRUE(worker_.Request(std::move(files)));
        for (int i = 0; i < 60000 && !worker_.ResultsReady(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(worker_.ResultsReady());
        CompleteImports(content_, worker_);
        return worker_.Status();
    }

    TempFolder folder_;
    AudioEngine audio_;
    SceneContent content_;
    ImportWorker worker_{&audio_};
};

// A grey PNG of the given size whose rows are all zero: a few hundred KiB on disk that
// decode to width * height * 4 bytes.
std::vector<std::uint8_t> BlankPng(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> raw(std::size_t{width + 1} * height, 0);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    EXPECT_EQ(compress2(packed.data(), &packedSize, raw.data(), raw.size(), 1), Z_OK);
    packed.resize(packedSize);
    ByteWriter w;
    w.Raw("\x89PNG\r\n\x1a\n");
    auto be32 = [](std::vector<std::uint8_t>& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
        be32(w.bytes, static_cast<std::uint32_t>(data.size()));
        std::vector<std::uint8_t> body(type, type + 4);
        body.resize(4 + data.size());
        std::copy(data.begin(), data.end(), body.begin() + 4);
        w.Raw(std::string(body.begin(), body.end()));
        be32(w.bytes, static_cast<std::uint32_t>(crc32(0, body.data(), body.size())));
    };
    std::vector<std::uint8_t> header;
    be32(header, width), be32(header, height);
    for (std::uint8_t b : {8, 0, 0, 0, 0})  // 8-bit grey
        header.push_back(b);
    chunk("IHDR", header);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return w.bytes;
}

}  // namespace

TEST_F(LimitsTest, TwoMillionVerticesLoad) {
    PmxModel model = SamplePmxModel();
    const PmxVertex first = model.vertices.front();
    model.vertices.resize(2'000'000, first);
    // Every new vertex in a triangle of the last material, as a dense scanned mesh would be.
    const std::size_t added = (model.vertices.size() - 3) / 3 * 3;
    for (std::size_t i = 0; i < added; ++i)
        model.indices.push_back(static_cast<std::uint32_t>(3 + i));
    model.materials.back().indexCount += static_cast<std::uint32_t>(added);
    model.vertexIndexSize = 4;
    const fs::path path = Write("dense.pmx", EncodePmx(model));
    model = {};
    ASSERT_EQ(Import({path}), "Loaded 1 resource(s).");
    ASSERT_EQ(content_.models.size(), 1u);
}

TEST_F(LimitsTest, FourGibibytesOfTexturesAreRefusedAndFreed) {
    // Sixteen 8192 x 8192 textures: 4 GiB once decoded, twice the budget.
    const std::vector<std::uint8_t> png = BlankPng(8192, 8192);
    PmxModel model = SamplePmxModel();
    model.folder = folder_.path().string() + "/";
    model.textures.clear();
    for (int i = 0; i < 16; ++i) {
        const std::string name = "huge" + std::to_string(i) + ".png";
        Write(name, png);
        model.textures.emplace_back(name.begin(), name.end());
    }
    const double before = ResidentMegabytes();
    {
        const ModelTextures textures = LoadModelTextures(model);
        EXPECT_EQ(textures.result, E_FAIL);
        EXPECT_NE(textures.message.find("textures take more than 2048 MiB once decoded"),
                  std::string::npos)
            << textures.message;
        EXPECT_TRUE(textures.images.empty());
    }
    EXPECT_LT(ResidentMegabytes() - before, 64.0);

    // Half as many fit and load.
    model.textures.resize(7);
    const ModelTextures fitting = LoadModelTextures(model);
    EXPECT_EQ(fitting.result, S_OK) << fitting.message;
    EXPECT_EQ(fitting.images.size(), 7u);
}

TEST_F(LimitsTest, FortyModelsAtOnce) {
    fs::path model = ContentDir() / "gene" / "Gene_light.pmx";
    if (!fs::exists(model)) {
        model = Write("sample.pmx", EncodePmx(SamplePmxModel()));
    }
    std::vector<fs::path> batch(40, model);
    ASSERT_EQ(Import(batch), "Loaded 40 resource(s).");
    EXPECT_EQ(content_.models.size(), 40u);
    EXPECT_EQ(content_.models.size(), 40u);
}

TEST_F(LimitsTest, TenMinuteSongLoadsWhole) {
    // CD rate, so it is resampled to the output rate on load as well.
    WavHeader spec;
    spec.sampleRate = 44100;
    const std::uint32_t frames = 44100 * 600;
    const fs::path path =
        Write("long.wav", EncodeWav(spec, std::vector<std::uint8_t>(std::size_t{frames} * 4, 0)));
    ASSERT_EQ(Import({path}), "Loaded 1 resource(s).");
    ASSERT_EQ(content_.songs.size(), 1u);
}

TEST_F(LimitsTest, FiveMillionMotionKeysLoadAndAttach) {
    // One million bone keys and four million morph keys: a long dance with lip sync.
    ByteWriter w;
    w.Fixed(std::string(kVmdSignature), 30);
    w.Fixed("model", 20);
    const std::uint32_t boneKeys = 1'000'000, morphKeys = 4'000'000;
    w.bytes.reserve(std::size_t{boneKeys} * 111 + std::size_t{morphKeys} * 23 + 100);
    w.U32(boneKeys);
    const std::string center = EncodeCp932(u"センター");
    for (std::uint32_t i = 0; i < boneKeys; ++i) {
        w.Fixed(center, 15);
        w.U32(i);
        w.F3({0.0f, static_cast<float>(i % 100) * 0.01f, 0.0f});
        w.F4({0.0f, 0.0f, 0.0f, 1.0f});
        for (int b = 0; b < 64; ++b)
            w.U8(20 + b % 108);
    }
    w.U32(morphKeys);
    const std::string morphs[4] = {EncodeCp932(u"あ"), EncodeCp932(u"い"), EncodeCp932(u"う"),
                                   EncodeCp932(u"え")};
    for (std::uint32_t i = 0; i < morphKeys; ++i) {
        w.Fixed(morphs[i % 4], 15);
        w.U32(i / 4);
        w.F32(static_cast<float>(i % 10) * 0.1f);
    }
    w.U32(0), w.U32(0), w.U32(0);
    const fs::path path = Write("long.vmd", w.bytes);
    w = {};
    ASSERT_EQ(Import({path}), "Loaded 1 resource(s).");
    ASSERT_EQ(content_.motions.size(), 1u);
    std::size_t keys = 0;
    for (const auto& [name, list] : content_.motions[0].motion.boneKeys)
        keys += list.size();
    for (const auto& [name, list] : content_.motions[0].motion.morphKeys)
        keys += list.size();
    EXPECT_EQ(keys, 5'000'000u);

    auto instance = std::make_unique<ModelInstance>();
    ASSERT_EQ(CreateModelInstance(*instance, SamplePmxModel(), nullptr), S_OK);
    AttachMotion(*instance, content_.motions[0].motion);
    instance->playing = 1;
    EXPECT_GT(instance->motion.end, 0.0f);
}

}  // namespace qv
