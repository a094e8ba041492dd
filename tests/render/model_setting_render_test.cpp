// The model setting window's edits as the GPU sees them: material constants, morphed vertices
// and a material's new shader, each from the frame after the edit.
#include <cstring>

#include "render/model/material_values.h"
#include "render/vk/vulkan_helpers.h"
#include "tests/render/scene_render_fixture.h"
#include "ui/interface_view.h"
#include "ui/model_setting.h"

namespace qv {

namespace render_test {
namespace {

// The one-triangle model with a vertex morph that lifts its first corner.
PmxModel MorphedTriangle() {
    PmxModel model = TriangleModel();
    PmxMorph lift;
    lift.name = u"lift";
    lift.type = 1;
    lift.vertexOffsets = {{0, {0.0f, 2.0f, 0.0f}}};
    model.morphs.push_back(lift);
    return model;
}

class ModelSettingRenderTest : public SceneRenderTest {
protected:
    void SetUp() override {
        SceneRenderTest::SetUp();
        scene_.hooks.writeMaterial = [this](ModelInstance& instance, std::int32_t material,
                                            const MaterialValues& values) {
            WriteMaterialValues(*graphics_.sceneRenderer->Find(&instance), material, values);
        };
        scene_.hooks.readMaterial = [this](const ModelInstance& instance, std::int32_t material,
                                           MaterialValues* out) {
            return ReadMaterialValues(*graphics_.sceneRenderer->Find(&instance), material, out);
        };
        scene_.hooks.applyShader = [this](ModelInstance& instance, std::int32_t material,
                                          std::int32_t shader) {
            EXPECT_EQ(graphics_.sceneRenderer->ApplyShader(instance, material,
                                                           SceneShaderSet(scene_, shader)),
                      S_OK);
        };
        model_ = AddModel(MorphedTriangle());
        OpenModelSetting(view_, 0);
        ASSERT_EQ(setting_.model, model_);
        ChooseMaterial(view_, 0);
    }

    ModelGpu& Gpu() { return *graphics_.sceneRenderer->Find(model_); }
    void SceneUpdate() { UpdateScene(scene_, ui_, setting_, 1.0f / 60.0f); }

    std::vector<VsInput> SkinnedVertices() {
        const GpuContext& context = graphics_.sceneRenderer->Gpu();
        const VkDeviceSize bytes = VkDeviceSize{Gpu().vertexCount} * sizeof(VsInput);
        GpuBuffer readBack;
        EXPECT_EQ(
            CreateGpuBuffer(context, bytes, VK_BUFFER_USAGE_TRANSFER_DST_BIT, true, &readBack),
            S_OK);
        EXPECT_EQ(RunOnce(context.device, context.queue, context.queueFamily,
                          [&](VkCommandBuffer cmd) {
                              const VkBufferCopy region{0, 0, bytes};
                              vkCmdCopyBuffer(cmd, Gpu().skinnedOutput.buffer, readBack.buffer, 1,
                                              &region);
                          }),
                  S_OK);
        std::vector<VsInput> out(Gpu().vertexCount);
        std::memcpy(out.data(), readBack.mapped, bytes);
        DestroyGpuBuffer(context.device, &readBack);
        return out;
    }

    // Material 0's constants as uploaded into each frame slot.
    std::vector<MaterialConstants> UploadedConstants() {
        std::vector<MaterialConstants> slots(kFrameCount);
        for (std::uint32_t f = 0; f < kFrameCount; ++f) {
            std::memcpy(&slots[f], Gpu().materialBuffer.Slot(f), sizeof(MaterialConstants));
        }
        return slots;
    }

    UiState ui_;
    ModelSettingState setting_;
    InterfaceView view_{scene_, ui_, {}, {}, &setting_, nullptr};
    ModelInstance* model_ = nullptr;
};

TEST_F(ModelSettingRenderTest, AMaterialValueReachesTheConstantsOfTheFramesAfterTheUpdate) {
    Frames(kFrameCount);
    MaterialValues values;
    ASSERT_TRUE(ReadMaterialValues(Gpu(), 0, &values));
    values.baseColor[1] = 0.25f;
    values.metallic = 0.5f;
    values.specularStrength = std::numeric_limits<float>::quiet_NaN();  // typed "nan"
    ModelEdit edit;
    edit.kind = ModelEdit::Kind::Material;
    edit.index = 0;
    edit.material = values;
    setting_.edits.push_back(edit);
    // Frames drawn while the edit waits keep the old values.
    Frames(1);
    for (const MaterialConstants& c : UploadedConstants()) {
        EXPECT_EQ(c.baseColor[1], 1.0f);
    }
    SceneUpdate();
    Frames(kFrameCount);
    for (const MaterialConstants& c : UploadedConstants()) {
        EXPECT_EQ(c.baseColor[1], 0.25f);
        EXPECT_EQ(c.metallic, 0.5f);
        EXPECT_TRUE(std::isfinite(c.specularStrength));
    }
}

TEST_F(ModelSettingRenderTest, AMorphWeightMovesTheVerticesOfTheNextFrame) {
    Frames(1);
    const std::vector<VsInput> before = SkinnedVertices();
    ASSERT_EQ(setting_.morphControls.size(), 1u);
    ModelEdit edit;
    edit.kind = ModelEdit::Kind::MorphWeight;
    edit.index = 0;
    edit.value = 0.5f;
    setting_.edits.push_back(edit);
    SceneUpdate();
    Frames(1);
    const std::vector<VsInput> after = SkinnedVertices();
    EXPECT_NEAR(after[0].pos[1] - before[0].pos[1], 1.0f, 1e-5f);
    EXPECT_EQ(after[1].pos[1], before[1].pos[1]);
}

TEST_F(ModelSettingRenderTest, UseThisShaderSwapsTheMaterialsPipelinesAtTheNextUpdate) {
    Frames(1);
    const auto toonPipelines = Gpu().materials[0].mainPipelines;
    setting_.shaderSelectIndex = 0;
    ui_.requests.push_back({RequestKind::ApplyShader});
    SceneUpdate();
    EXPECT_TRUE(ui_.requests.empty());
    EXPECT_NE(Gpu().materials[0].mainPipelines, toonPipelines);
    MaterialValues values;
    ASSERT_TRUE(ReadMaterialValues(Gpu(), 0, &values));
    EXPECT_EQ(values.shaderName, scene_.shaders[0].entry.name);
    Frames(2);  // and the frames draw with it, without validation messages
}

}  // namespace
}  // namespace render_test

}  // namespace qv
