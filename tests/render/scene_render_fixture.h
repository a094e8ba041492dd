// A headless player drawing a scene, shared by the renderer tests.
#pragma once
// What the renderer tests share: the content folder, a temporary folder, a
// one-triangle model and a headless player drawing a scene.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/player.h"
#include "core/frame_loop.h"
#include "formats/pmx_model.h"
#include "render/device/graphics_device.h"
#include "render/model/shader_layouts.h"
#include "render/scene_renderer.h"
#include "render/vk/gpu_buffers.h"
#include "render/vk/vulkan_helpers.h"
#include "runtime/model_instance.h"
#include "scene/scene.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace render_test {

inline std::filesystem::path Gene() {
    const char* content = std::getenv("QV_CONTENT_DIR");
    return std::filesystem::path(content != nullptr && *content != '\0' ? content : QV_CONTENT) /
           "gene";
}

#define REQUIRE_GENE()                                                          \
    if (!std::filesystem::exists(Gene() / "Gene_light.pmx")) {                  \
        GTEST_SKIP() << "shared content folder not found (set QV_CONTENT_DIR)"; \
    }

// A model of one root bone and nothing to draw.
inline PmxModel EmptyModel() {
    PmxModel model;
    PmxBone root;
    root.name = u"root";
    root.parentIndex = -1;
    model.bones.push_back(root);
    return model;
}

inline PmxModel TriangleModel() {
    PmxModel model = EmptyModel();
    for (int i = 0; i < 3; ++i) {
        PmxVertex v;
        v.position = {static_cast<float>(i), static_cast<float>(i == 2), 0.0f};
        v.weight.weight = {1.0f, 0.0f, 0.0f, 0.0f};
        model.vertices.push_back(v);
    }
    model.indices = {0, 1, 2};
    PmxMaterial m;
    m.diffuse = {1, 1, 1, 1};
    m.textureIndex = -1;
    m.sphereTextureIndex = -1;
    m.indexCount = 3;
    model.materials.push_back(m);
    return model;
}

// An untextured material of `indexCount` indices, shaded with the first
// shared toon ramp.
inline PmxMaterial FlatMaterial(Float4 colour, float ambient, std::uint8_t flags,
                                std::uint32_t indexCount) {
    PmxMaterial m;
    m.diffuse = colour;
    m.ambient = {ambient, ambient, ambient, 1.0f};
    m.drawFlags = flags;
    m.textureIndex = -1;
    m.sphereTextureIndex = -1;
    m.sharedToon = 1;
    m.toonIndex = 0;
    m.indexCount = indexCount;
    return m;
}

// Runs `count` frames of a headless player and reads back the last one it
// presented.
inline CapturedImage RunAndCapture(EngineContext& ctx, int count) {
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(RunFrame(ctx), S_OK);
    }
    WaitForGpu(ctx);
    CapturedImage image;
    Presenter* presenter = ctx.GetPresenter();
    EXPECT_EQ(presenter->ReadBackLastPresented(&image), S_OK);
    return image;
}

// A headless player on the software device with the validation layer on; the
// scene renderer draws `scene_`.
class SceneRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        messagesBefore_ = ValidationMessageCount();
        ctx_.Initialize();
        ctx_.SetWidth(width_);
        ctx_.SetHeight(height_);
        ASSERT_EQ(RegisterPlayer(ctx_, graphics_), S_OK);
        graphics_.recordScene = [this](VkCommandBuffer compute, VkCommandBuffer direct,
                                       std::uint32_t f, const BackBuffer& target) {
            graphics_.sceneRenderer->Record(scene_, compute, direct, f, target);
        };
        const Result device = CreateGraphicsDevice(ctx_, {PresentTarget::Headless, true});
        ASSERT_EQ(device.code, S_OK) << device.message;
        ASSERT_NE(graphics_.sceneRenderer, nullptr);
    }
    void TearDown() override {
        ctx_.Teardown();
        EXPECT_EQ(ValidationMessageCount(), messagesBefore_);
    }

    ModelInstance* AddModel(const PmxModel& model, HRESULT expected = S_OK) {
        return AddModel(model, BuiltInShaderSet(1), expected);
    }
    ModelInstance* AddModel(const PmxModel& model, const ShaderSetCode& set,
                            HRESULT expected = S_OK) {
        auto instance = std::make_unique<ModelInstance>();
        EXPECT_EQ(CreateModelInstance(*instance, model), S_OK);
        const Result made = graphics_.sceneRenderer->CreateModel(*instance, model, set);
        EXPECT_EQ(made.code, expected) << made.message;
        graphics_.sceneRenderer->FinishUploads();  // the next frame draws it
        scene_.models.push_back({std::move(instance), {}});
        return scene_.models.back().instance.get();
    }

    CapturedImage Frames(int count) { return RunAndCapture(ctx_, count); }

    // The vertices the skinning pass wrote for `gpu`, read back from the
    // device; empty when the read-back failed.
    std::vector<VsInput> SkinnedVertices(const ModelGpu& gpu) {
        const GpuContext& context = graphics_.sceneRenderer->Gpu();
        GpuBuffer readBack;
        const VkDeviceSize bytes = VkDeviceSize{gpu.vertexCount} * sizeof(VsInput);
        if (CreateGpuBuffer(context, bytes, VK_BUFFER_USAGE_TRANSFER_DST_BIT, true, &readBack) !=
            S_OK) {
            ADD_FAILURE() << "no read-back buffer";
            return {};
        }
        const HRESULT copied =
            RunOnce(context.device, context.queue, context.queueFamily, [&](VkCommandBuffer cmd) {
                const VkBufferCopy region{0, 0, bytes};
                vkCmdCopyBuffer(cmd, gpu.skinnedOutput.buffer, readBack.buffer, 1, &region);
            });
        std::vector<VsInput> out;
        if (copied == S_OK) {
            out.resize(gpu.vertexCount);
            std::memcpy(out.data(), readBack.mapped, bytes);
        } else {
            ADD_FAILURE() << "the read-back copy failed";
        }
        DestroyGpuBuffer(context.device, &readBack);
        return out;
    }

    static const std::uint8_t* Pixel(const CapturedImage& image, std::uint32_t x, std::uint32_t y) {
        return &image.rgba[(std::size_t{y} * image.width + x) * 4];
    }

    static bool IsWhite(const CapturedImage& image, std::uint32_t x, std::uint32_t y) {
        const std::uint8_t* p = &image.rgba[(std::size_t{y} * image.width + x) * 4];
        return p[0] == 255 && p[1] == 255 && p[2] == 255;
    }

    // The back-buffer size, for fixtures that set it before SetUp.
    std::uint32_t width_ = 1280;
    std::uint32_t height_ = 720;
    Scene scene_;
    EngineContext ctx_;
    PlayerGraphics graphics_;
    std::uint32_t messagesBefore_ = 0;
};

}  // namespace render_test

}  // namespace qv
