// Importing a model while another plays: decoding stays off the main thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "render/vk/upload_batch.h"
#include "runtime/motion.h"
#include "scene_render_fixture.h"

namespace qv {

namespace {

using namespace render_test;

class ImportFramesTest : public SceneRenderTest {
protected:
    // One played frame as the player runs it: the scene update (which adopts
    // finished imports) and the recorded frame. Returns its wall time.
    double PlayFrame() {
        const auto start = std::chrono::steady_clock::now();
        UpdateScene(scene_, ui_, modelSetting_, 1.0f / 60.0f);
        EXPECT_EQ(RunFrame(ctx_), S_OK);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    UiState ui_;
    ModelSettingState modelSetting_;
};

TEST_F(ImportFramesTest, TexturesAreDecodedOnTheImportThreadWhileAModelPlays) {
    REQUIRE_GENE();
    ctx_.SetWidth(320);  // small frames: the import is what is measured
    ctx_.SetHeight(180);
    ConnectSceneRenderer(ctx_, graphics_, scene_, "test");
    struct Handover {
        bool texturesLoaded = false;
        std::size_t images = 0;
        std::thread::id thread;
    };
    std::vector<Handover> handovers;
    auto create = scene_.createModelResources;
    scene_.createModelResources = [&](ModelInstance& instance, const PmxModel& model,
                                      ModelTextures& textures) {
        handovers.push_back({textures.loaded, textures.images.size(), std::this_thread::get_id()});
        return create(instance, model, textures);
    };

    ASSERT_TRUE(
        scene_.importer.Request({Gene() / "Gene_light.pmx", Gene() / "motion" / "stand.vmd"}));
    while (!scene_.importer.ResultsReady()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    PlayFrame();
    ASSERT_EQ(scene_.models.size(), 1u);
    AttachMotion(*scene_.models[0].instance, scene_.motions[0].motion);
    PressPlay(scene_);
    for (int i = 0; i < 3; ++i) {
        PlayFrame();
    }

    // The second Gene arrives while the first plays: frames go on during the
    // import, and the main thread only creates and uploads.
    ASSERT_TRUE(scene_.importer.Request({Gene() / "Gene_light.pmx"}));
    int framesDuringImport = 0;
    while (scene_.models.size() < 2 && framesDuringImport < 2000) {
        PlayFrame();
        ++framesDuringImport;
    }
    ASSERT_EQ(scene_.models.size(), 2u) << scene_.importer.Status();
    EXPECT_EQ(scene_.importer.Status(), "Loaded 1 resource(s).");
    // It joins the frames once a frame's start finds its upload done; the
    // fixture counts the validation layer's messages of every frame.
    for (int i = 0; i < 100 && graphics_.sceneRenderer->AwaitsUpload(*scene_.models[1].instance);
         ++i) {
        PlayFrame();
    }
    EXPECT_FALSE(graphics_.sceneRenderer->AwaitsUpload(*scene_.models[1].instance));

    ASSERT_EQ(handovers.size(), 2u);
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, Gene() / "Gene_light.pmx"), S_OK);
    for (const Handover& h : handovers) {
        EXPECT_TRUE(h.texturesLoaded) << "textures reached the main thread undecoded";
        EXPECT_EQ(h.images, gene.textures.size());
        EXPECT_EQ(h.thread, std::this_thread::get_id());
    }
    const CapturedImage image = Frames(1);
    EXPECT_FALSE(IsWhite(image, image.width / 2, image.height / 2));
}

TEST_F(SceneRenderTest, AnUploadBatchWaitsOnceAndEveryCopyArrives) {
    const GpuContext gpu =
        ctx_.Locked([](const EngineState& s) { return GpuContextOf(s, s.device); });
    UploadBatch batch(gpu);
    std::vector<std::uint8_t> pixels(4 * 3 * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i * 7);
    }
    // Images that can also be read back.
    OwnedImage images[2];
    for (OwnedImage& image : images) {
        ASSERT_EQ(CreateColorImage(gpu.physical, gpu.device, 4, 3, VK_FORMAT_R8G8B8A8_UNORM,
                                   VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT |
                                       VK_IMAGE_USAGE_TRANSFER_SRC_BIT,
                                   &image),
                  S_OK);
    }
    auto stage = [&](VkImage image, const std::vector<std::uint8_t>& rgba) {
        std::uint8_t* room = nullptr;
        const HRESULT hr = batch.ReserveImage(image, 4, 3, &room);
        if (Succeeded(hr)) {
            WriteMapped(room, rgba.size(), rgba.data(), rgba.size());
        }
        return hr;
    };
    ASSERT_EQ(stage(images[0].image, pixels), S_OK);
    std::vector<std::uint8_t> second(pixels.rbegin(), pixels.rend());
    ASSERT_EQ(stage(images[1].image, second), S_OK);
    second.assign(second.size(), 0);  // staged at once: the caller's copy may go
    const std::uint32_t words[5] = {1, 2, 3, 4, 5};
    GpuBuffer filled, zeroed;
    ASSERT_EQ(CreateFilledBuffer(
                  gpu, batch, words, sizeof words,
                  VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT, &filled),
              S_OK);
    ASSERT_EQ(CreateFilledBuffer(
                  gpu, batch, nullptr, 0,
                  VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT, &zeroed),
              S_OK);
    EXPECT_EQ(zeroed.size, 16u);  // empty lists still bind
    // On a device that draws on the CPU, buffers written in place sit in
    // memory of the program's own, which the copies below read and write.
    EXPECT_EQ(filled.hostBlock != nullptr, gpu.hostImportAlignment != 0 && batch.WritesInPlace());
    // Short contents are padded with zeros, not left as whatever was there.
    const std::uint32_t pair[2] = {7, 8};
    GpuBuffer padded;
    ASSERT_EQ(CreateFilledBuffer(
                  gpu, batch, pair, sizeof pair,
                  VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT, &padded),
              S_OK);
    // A buffer whose bytes another thread writes after it is made, before
    // the batch is sent.
    GpuBuffer later;
    std::uint8_t* room = nullptr;
    VkDeviceSize roomSize = 0;
    ASSERT_EQ(
        CreateBufferToFill(gpu, batch, 12,
                           VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
                           &later, &room, &roomSize),
        S_OK);
    EXPECT_EQ(roomSize, 16u);
    std::memset(room, 0xAB, roomSize);  // what a reused block may hold
    const std::uint32_t three[3] = {9, 10, 11};
    std::thread([&] { WriteMapped(room, roomSize, three, sizeof three); }).join();
    // A texture written likewise: in its own memory where the device allows
    // (rows as wide as these are not padded).
    OwnedImage texture;
    std::uint8_t* texels = nullptr;
    ASSERT_EQ(CreateTextureToFill(gpu, batch, 64, 3, &texture, &texels), S_OK);
    std::vector<std::uint8_t> rows(64 * 3 * 4);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
    }
    std::memset(texels, 0xAB, rows.size());
    std::thread([&] { WriteMapped(texels, rows.size(), rows.data(), rows.size()); }).join();
    ASSERT_EQ(batch.Submit(), S_OK);
    EXPECT_EQ(batch.Waits(), 1u);
    EXPECT_EQ(batch.Submit(), S_OK);  // nothing left: no second wait
    EXPECT_EQ(batch.Waits(), 1u);

    for (int i = 0; i < 2; ++i) {
        CapturedImage read;
        ASSERT_EQ(ReadImage(gpu.physical, gpu.device, gpu.queue, gpu.queueFamily, images[i].image,
                            VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, VK_FORMAT_R8G8B8A8_UNORM, 4,
                            3, &read),
                  S_OK);
        std::vector<std::uint8_t> expected = pixels;
        if (i == 1) {
            expected.assign(pixels.rbegin(), pixels.rend());
        }
        EXPECT_EQ(read.rgba, expected) << "image " << i;
        DestroyColorImage(gpu.device, &images[i]);
    }
    CapturedImage read;
    ASSERT_EQ(
        ReadImage(gpu.physical, gpu.device, gpu.queue, gpu.queueFamily, texture.image,
                  VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, VK_FORMAT_R8G8B8A8_UNORM, 64, 3, &read),
        S_OK);
    EXPECT_EQ(read.rgba, rows) << "written in place: " << batch.WritesTexturesInPlace();
    DestroyColorImage(gpu.device, &texture);
    // The buffers' bytes, read back through a host-visible copy.
    GpuBuffer readBack;
    ASSERT_EQ(CreateGpuBuffer(gpu, 68, VK_BUFFER_USAGE_TRANSFER_DST_BIT, true, &readBack), S_OK);
    ASSERT_EQ(RunOnce(gpu.device, gpu.queue, gpu.queueFamily,
                      [&](VkCommandBuffer cmd) {
                          const VkBufferCopy words{0, 0, 20};
                          vkCmdCopyBuffer(cmd, filled.buffer, readBack.buffer, 1, &words);
                          const VkBufferCopy zeros{0, 20, 16};
                          vkCmdCopyBuffer(cmd, zeroed.buffer, readBack.buffer, 1, &zeros);
                          const VkBufferCopy pair{0, 36, 16};
                          vkCmdCopyBuffer(cmd, padded.buffer, readBack.buffer, 1, &pair);
                          const VkBufferCopy three{0, 52, 16};
                          vkCmdCopyBuffer(cmd, later.buffer, readBack.buffer, 1, &three);
                      }),
              S_OK);
    std::uint32_t got[17];
    std::memcpy(got, readBack.mapped, sizeof got);
    EXPECT_EQ(std::vector<std::uint32_t>(got, got + 17),
              (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 0, 0, 0, 0, 7, 8, 0, 0, 9, 10, 11, 0}));
    for (GpuBuffer* b : {&filled, &zeroed, &padded, &later, &readBack}) {
        DestroyGpuBuffer(gpu.device, b);
    }
}

}  // namespace

}  // namespace qv
