// Frames must show the model centred, skin as on the CPU and draw without broken textures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "app/player.h"
#include "core/frame_loop.h"
#include "formats/pmx_model.h"
#include "formats/png_file.h"
#include "formats/vmd_motion.h"
#include "render/device/graphics_device.h"
#include "render/model/model_resources.h"
#include "render/scene_renderer.h"
#include "runtime/model_instance.h"
#include "runtime/motion.h"
#include "runtime/skeleton.h"
#include "runtime/skinning.h"
#include "scene/scene.h"
#include "scene_render_fixture.h"

namespace qv {

namespace {

using namespace render_test;

TEST(MaterialTest, TextureFlagsToonsAndIndexRangesFollowTheModel) {
    PmxModel model = TriangleModel();
    model.textures = {u"a.png", u"b.png"};
    model.materials.resize(4, model.materials[0]);
    model.materials[0].textureIndex = 1;
    model.materials[0].sphereTextureIndex = 0;
    model.materials[0].sphereMode = 2;
    model.materials[0].sharedToon = 1;
    model.materials[0].toonIndex = 0;  // shared toon 0 is the first ramp
    model.materials[0].drawFlags = kPmxMaterialDoubleSided | kPmxMaterialReceivesShadow |
                                   kPmxMaterialEdge | kPmxMaterialGroundShadow;
    model.materials[2].drawFlags = kPmxMaterialCastsShadow;
    model.materials[1].textureIndex = 2;  // past the texture list
    model.materials[1].sphereTextureIndex = 0;
    model.materials[1].sphereMode = 0;  // no sphere: index ignored
    model.materials[1].sharedToon = 1;
    model.materials[1].toonIndex = 10;    // no such ramp
    model.materials[2].toonIndex = 1;     // the model's own texture
    model.materials[3].indexCount = 100;  // runs past the index list

    ModelGpu gpu;
    BuildMaterials(model, {}, &gpu.materials, &gpu.materialConstants);
    ASSERT_EQ(gpu.materials.size(), 4u);
    const MaterialConstants& c0 = gpu.materialConstants[0];
    EXPECT_EQ(gpu.materials[0].baseTexture, 1);
    EXPECT_EQ(gpu.materials[0].sphereTexture, 0);
    EXPECT_EQ(c0.sphereMode, 2u);
    EXPECT_TRUE(gpu.materials[0].sharedToon);
    EXPECT_EQ(gpu.materials[0].toonTexture, 0);
    EXPECT_TRUE(gpu.materials[0].doubleSided);
    EXPECT_TRUE(gpu.materials[0].drawEdge);
    // Ground shadow and self-shadow casting are separate flags.
    EXPECT_FALSE(gpu.materials[0].castShadow);
    EXPECT_TRUE(gpu.materials[0].groundShadow);
    EXPECT_TRUE(gpu.materials[2].castShadow);
    EXPECT_FALSE(gpu.materials[2].groundShadow);
    EXPECT_EQ(c0.receiveShadow, 1u);
    EXPECT_EQ((std::array{c0.textureBind[0], c0.textureBind[1], c0.textureBind[2]}),
              (std::array{1u, 1u, 1u}));

    const MaterialConstants& c1 = gpu.materialConstants[1];
    EXPECT_EQ((std::array{c1.textureBind[0], c1.textureBind[1], c1.textureBind[2]}),
              (std::array{0u, 0u, 0u}));
    EXPECT_EQ(c1.sphereMode, 0u);
    EXPECT_FALSE(gpu.materials[2].sharedToon);
    EXPECT_EQ(gpu.materials[2].toonTexture, 1);

    // Ranges run on from each other and stop at the end of the list.
    EXPECT_EQ(gpu.materials[1].firstIndex, 3u);
    EXPECT_EQ(gpu.materials[1].indexCount, 0u);
    EXPECT_EQ(gpu.materials[3].indexCount, 0u);
    EXPECT_EQ(gpu.materials[3].firstIndex, 3u);

    // A texture file that is not there draws as no texture: the first
    // material keeps its sphere and shared ramp, the third loses its own ramp.
    BuildMaterials(model, {false, true}, &gpu.materials, &gpu.materialConstants);
    const MaterialConstants& absent0 = gpu.materialConstants[0];
    EXPECT_EQ(gpu.materials[0].baseTexture, -1);
    EXPECT_EQ(gpu.materials[0].sphereTexture, 0);
    EXPECT_EQ((std::array{absent0.textureBind[0], absent0.textureBind[1], absent0.textureBind[2]}),
              (std::array{0u, 1u, 1u}));
    EXPECT_EQ(absent0.sphereMode, 2u);
    EXPECT_EQ(gpu.materials[2].toonTexture, -1);
    EXPECT_EQ(gpu.materialConstants[2].textureBind[2], 0u);
}

TEST(SceneConstantsTest, CarryTheCameraTransposedWithPointsAtWOne) {
    const Camera camera;
    const Matrix4& view = camera.view;
    SceneConstants c = BuildSceneConstants(view, camera.projection, camera.eye, SceneLight{}, 2.5f);
    // Stored transposed: the first four floats are the first column.
    EXPECT_FLOAT_EQ(c.mView[3], view.m[3][0]);
    EXPECT_FLOAT_EQ(c.mView[12], view.m[0][3]);
    EXPECT_FLOAT_EQ(c.mProjection[11], camera.projection.m[3][2]);
    EXPECT_FLOAT_EQ(c.cameraPos[2], -20.0f);
    EXPECT_EQ(c.cameraPos[3], 1.0f);
    EXPECT_EQ(c.lightPos[3], 1.0f);
    EXPECT_EQ(c.lightDir[3], 0.0f);
    EXPECT_EQ(c.elapsedTime, 2.5f);
}

TEST_F(SceneRenderTest, WithNoModelTheFrameIsWhite) {
    const CapturedImage image = Frames(3);
    ASSERT_EQ(image.rgba.size(), std::size_t{1280} * 720 * 4);
    EXPECT_TRUE(
        std::all_of(image.rgba.begin(), image.rgba.end(), [](std::uint8_t b) { return b == 255; }));
}

TEST_F(SceneRenderTest, GeneAtRestShowsInTheMiddleOfAWhiteFrame) {
    REQUIRE_GENE();
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, Gene() / "Gene_light.pmx"), S_OK);
    AddModel(gene);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/gene_ground_shadow.png", Frames(3)), S_OK);
    // The ground shadow falls to one side; the model alone is symmetric.
    scene_.render.groundShadow = false;
    const CapturedImage image = Frames(3);
    ASSERT_EQ(image.width, 1280u);
    ASSERT_EQ(image.height, 720u);
    EXPECT_EQ(WritePng(QV_TEST_OUTPUT "/gene_front.png", image), S_OK);

    for (auto [x, y] : {std::pair{0u, 0u}, {1279u, 0u}, {0u, 719u}, {1279u, 719u}}) {
        EXPECT_TRUE(IsWhite(image, x, y)) << x << "," << y;
    }
    // Face, chest and hips sit on the vertical centre line.
    for (std::uint32_t y : {110u, 200u, 330u}) {
        EXPECT_FALSE(IsWhite(image, 640, y)) << y;
    }
    // Front view: the model faces the camera, so its left and right halves
    // are nearly mirror images in coverage.
    std::size_t left = 0, right = 0;
    for (std::uint32_t y = 0; y < 720; ++y) {
        for (std::uint32_t x = 0; x < 640; ++x) {
            left += !IsWhite(image, x, y);
            right += !IsWhite(image, 1279 - x, y);
        }
    }
    EXPECT_GT(left, 20000u);
    EXPECT_NEAR(static_cast<double>(left) / static_cast<double>(right), 1.0, 0.1);
}

TEST_F(SceneRenderTest, AResizeRebuildsTheTargetsAndKeepsTheModelCentred) {
    REQUIRE_GENE();
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, Gene() / "Gene_light.pmx"), S_OK);
    AddModel(gene);
    Frames(2);
    WaitForGpu(ctx_);
    ASSERT_EQ(SetRenderResolution(ctx_, graphics_.renderer, 640, 360), S_OK);
    const CapturedImage small = Frames(kFrameCount + 2);
    ASSERT_EQ(small.width, 640u);
    ASSERT_EQ(small.height, 360u);
    EXPECT_TRUE(IsWhite(small, 0, 0));
    EXPECT_TRUE(IsWhite(small, 639, 359));
    EXPECT_FALSE(IsWhite(small, 320, 165));  // the hips, at half the size
}

// A material morph on every material (index -1), read back from the
// constants the frames uploaded: multiplied values at the morph's weight, and
// the model's own values again once the weight is 0.
TEST_F(SceneRenderTest, MaterialMorphsReachTheMaterialConstantsOfEveryMaterial) {
    PmxModel model = TriangleModel();
    model.materials.push_back(model.materials[0]);
    model.materials[0].indexCount = 3;
    model.materials[1].indexCount = 0;
    model.materials[1].diffuse = {0.5f, 0.25f, 1.0f, 1.0f};
    model.materials[1].edgeSize = 2.0f;
    PmxMorph fade;
    fade.name = u"fade";
    fade.type = kPmxMorphMaterial;
    PmxMaterialMorphOffset all;
    all.materialIndex = -1;
    all.operation = 0;
    all.diffuse = {0.0f, 1.0f, 1.0f, 0.0f};
    all.specular = all.ambient = {1, 1, 1, 1};
    all.specularPower = 1.0f;
    all.edgeColor = {1, 1, 1, 1};
    all.edgeSize = 3.0f;
    all.textureTint = all.sphereTint = all.toonTint = {1, 1, 1, 1};
    fade.materialOffsets = {all};
    model.morphs = {fade};
    ModelInstance* instance = AddModel(model);
    const ModelGpu* gpu = graphics_.sceneRenderer->Find(instance);
    ASSERT_NE(gpu, nullptr);
    auto uploaded = [&](std::uint32_t slot, std::size_t material) {
        MaterialConstants c;
        std::memcpy(&c,
                    static_cast<const std::byte*>(gpu->materialBuffer.Slot(slot)) +
                        material * kMaterialSlotSize,
                    sizeof c);
        return c;
    };

    instance->morphWeights[0] = 0.5f;
    UpdateModel(*instance, 0.0f);
    Frames(kFrameCount);
    for (std::uint32_t slot = 0; slot < kFrameCount; ++slot) {
        const MaterialConstants first = uploaded(slot, 0);
        const MaterialConstants second = uploaded(slot, 1);
        EXPECT_EQ(first.baseColor[0], 0.5f);  // x 0 at half weight
        EXPECT_EQ(first.baseColor[1], 1.0f);
        EXPECT_EQ(first.baseColor[3], 0.5f);
        EXPECT_EQ(second.baseColor[0], 0.25f);
        EXPECT_EQ(second.baseColor[1], 0.25f);
        EXPECT_EQ(second.edgeSize, 2.0f * 2.0f);  // x 3 at half weight
    }
    instance->morphWeights[0] = 0.0f;
    UpdateModel(*instance, 0.0f);
    Frames(kFrameCount);
    for (std::uint32_t slot = 0; slot < kFrameCount; ++slot) {
        EXPECT_EQ(uploaded(slot, 1).baseColor[0], 0.5f);
        EXPECT_EQ(uploaded(slot, 1).edgeSize, 2.0f);
    }
}

// An elbow of SDEF and linear vertices, bent: the GPU pass against the CPU
// reference, vertex by vertex.
TEST_F(SceneRenderTest, SdefSkinningOnTheGpuMatchesTheCpuReference) {
    PmxModel model = TriangleModel();
    PmxBone forearm = model.bones[0];
    forearm.name = u"forearm";
    forearm.position = {2, 0, 0};
    forearm.parentIndex = 0;
    model.bones.push_back(forearm);
    model.vertices.clear();
    for (int i = 0; i < 30; ++i) {
        PmxVertex v;
        const float t = static_cast<float>(i) / 29.0f;
        v.position = {1.0f + 2.0f * t, 0.3f + 0.5f * std::sin(7.0f * t), 0.2f * std::cos(5.0f * t)};
        v.normal = {0, 1, 0};
        v.weight.boneIndex = {0, 1, 0, 0};
        v.weight.weight = {1 - t, t, 0, 0};
        v.weight.deformType = i % 3 == 0 ? kPmxDeformBdef2 : kPmxDeformSdef;
        v.weight.sdefC = {2, 0.1f * t, 0};
        v.weight.sdefR0 = {1.6f, 0, 0.05f};
        v.weight.sdefR1 = {2.4f, 0, -0.05f};
        model.vertices.push_back(v);
    }
    model.indices = {0, 1, 2};
    ModelInstance* instance = AddModel(model);
    const ModelGpu* gpu = graphics_.sceneRenderer->Find(instance);
    ASSERT_NE(gpu, nullptr);
    // A bend, then the bones turned 200° apart (+100° and, in the world, -100°
    // about a tilted Z), where the sign of the turns' quaternions decides the blend.
    const auto turn = [](float x, float y, float z, float degrees) {
        const float length = std::sqrt(x * x + y * y + z * z);
        const float half = degrees * std::numbers::pi_v<float> / 360.0f;
        const float s = std::sin(half) / length;
        return Quaternion{x * s, y * s, z * s, std::cos(half)};
    };
    const float n = std::sqrt(std::sin(0.1f) * std::sin(0.1f) + std::sin(0.6f) * std::sin(0.6f) +
                              std::cos(0.6f) * std::cos(0.6f));
    const Quaternion poses[][2] = {
        {{0.0f, 0.0f, std::sin(0.2f), std::cos(0.2f)},
         {std::sin(0.1f) / n, 0.0f, std::sin(0.6f) / n, std::cos(0.6f) / n}},
        {turn(0, 0, 1, 100), turn(0.2f, 0, 1, -200)}};
    for (const auto& pose : poses) {
        instance->bones[0].rotation = pose[0];
        instance->bones[1].rotation = pose[1];
        UpdateModel(*instance, 0.0f);
        Frames(2);
        const std::vector<VsInput> out = SkinnedVertices(*gpu);
        ASSERT_EQ(out.size(), gpu->vertexCount);

        const std::vector<Matrix4> skinning = {SkinningMatrix(instance->bones[0]),
                                               SkinningMatrix(instance->bones[1])};
        const bool apart = &pose == &poses[1];
        if (apart) {
            ASSERT_LT(Dot(MatrixToQuaternion(skinning[0]), MatrixToQuaternion(skinning[1])), 0.0f);
        }
        float worst = 0.0f, moved = 0.0f;
        for (std::size_t v = 0; v < model.vertices.size(); ++v) {
            const PmxVertex& in = model.vertices[v];
            const SkinnedVertex cpu = SkinVertex({in.position.x, in.position.y, in.position.z, 1},
                                                 {in.normal.x, in.normal.y, in.normal.z, 0},
                                                 in.weight, PrepareSdef(in.weight), skinning);
            const float errors[] = {std::abs(out[v].pos[0] - cpu.position.x),
                                    std::abs(out[v].pos[1] - cpu.position.y),
                                    std::abs(out[v].pos[2] - cpu.position.z),
                                    std::abs(out[v].normal[0] - cpu.normal.x),
                                    std::abs(out[v].normal[1] - cpu.normal.y),
                                    std::abs(out[v].normal[2] - cpu.normal.z)};
            worst = std::max(worst, *std::max_element(std::begin(errors), std::end(errors)));
            moved = std::max(moved, std::abs(cpu.position.y - in.position.y));
        }
        EXPECT_LE(worst, 1e-4f) << (apart ? "bones apart" : "bent");
        EXPECT_GT(moved, 0.5f);  // the pose really moved the vertices
    }
}

TEST_F(SceneRenderTest, GpuSkinningMatchesTheCpuReferenceWithMorphs) {
    REQUIRE_GENE();
    PmxModel gene;
    VmdMotion motion;
    ASSERT_EQ(LoadPmxModel(gene, Gene() / "Gene_light.pmx"), S_OK);
    ASSERT_EQ(LoadVmdMotion(motion, Gene() / "motion" / "stand.vmd"), S_OK);
    ModelInstance* model = AddModel(gene);
    AttachMotion(*model, motion);
    model->playing = 1;
    for (int i = 0; i < 20; ++i) {
        UpdateModel(*model, 1.0f / 30.0f);
    }
    model->playing = 0;
    ASSERT_GT(model->vertexMorphCount, 1u);
    ASSERT_GT(model->uvMorphCount, 0u);
    model->vertexMorphWeights[0] = 0.7f;
    model->vertexMorphWeights[1] = -0.5f;  // negative weights are skipped
    model->uvMorphWeights[0] = 0.5f;
    Frames(2);

    const ModelGpu* gpu = graphics_.sceneRenderer->Find(model);
    ASSERT_NE(gpu, nullptr);
    const std::vector<VsInput> out = SkinnedVertices(*gpu);
    ASSERT_EQ(out.size(), gpu->vertexCount);

    std::vector<Matrix4> skinning;
    for (const BoneState& bone : model->bones) {
        skinning.push_back(SkinningMatrix(bone));
    }
    const std::uint32_t vc = gpu->vertexCount;
    // The first vertex and UV morphs' offsets per vertex, a later offset for
    // a vertex replacing an earlier one.
    std::vector<Float3> moveBy(vc);
    std::vector<Float2> uvBy(vc);
    const auto first = [&](std::uint32_t type) {
        return *std::find_if(gene.morphs.begin(), gene.morphs.end(),
                             [type](const PmxMorph& morph) { return morph.type == type; });
    };
    for (const PmxVertexMorphOffset& o : first(kPmxMorphVertex).vertexOffsets) {
        if (o.vertexIndex >= 0 && static_cast<std::uint32_t>(o.vertexIndex) < vc) {
            moveBy[static_cast<std::size_t>(o.vertexIndex)] = o.offset;
        }
    }
    for (const PmxUvMorphOffset& o : first(kPmxMorphUv).uvOffsets) {
        if (o.vertexIndex >= 0 && static_cast<std::uint32_t>(o.vertexIndex) < vc) {
            uvBy[static_cast<std::size_t>(o.vertexIndex)] = {o.offset.x, o.offset.y};
        }
    }
    float worst = 0.0f;
    for (std::uint32_t v = 0; v < vc; ++v) {
        const PmxVertex& in = gene.vertices[v];
        Vector4 p{in.position.x, in.position.y, in.position.z, 1.0f};
        Float2 uv = in.uv;
        const Float3& d = moveBy[v];
        p = {p.x + 0.7f * d.x, p.y + 0.7f * d.y, p.z + 0.7f * d.z, 1.0f};
        uv = {uv.x + 0.5f * uvBy[v].x, uv.y + 0.5f * uvBy[v].y};
        Vector4 pos{}, normal{};
        for (int k = 0; k < 4; ++k) {
            const auto bone = static_cast<std::uint32_t>(in.weight.boneIndex[k]);
            const float w = in.weight.weight[k];
            if (bone >= skinning.size() || !(w > 0.0f)) {
                continue;
            }
            const Vector4 q = TransformPoint(p, skinning[bone]);
            const Vector4 n =
                TransformDirection({in.normal.x, in.normal.y, in.normal.z, 0.0f}, skinning[bone]);
            pos = {pos.x + w * q.x, pos.y + w * q.y, pos.z + w * q.z, 0.0f};
            normal = {normal.x + w * n.x, normal.y + w * n.y, normal.z + w * n.z, 0.0f};
        }
        const float errors[] = {
            std::abs(out[v].pos[0] - pos.x),       std::abs(out[v].pos[1] - pos.y),
            std::abs(out[v].pos[2] - pos.z),       std::abs(out[v].normal[0] - normal.x),
            std::abs(out[v].normal[1] - normal.y), std::abs(out[v].normal[2] - normal.z),
            std::abs(out[v].uv[0] - uv.x),         std::abs(out[v].uv[1] - uv.y)};
        worst = std::max(worst, *std::max_element(std::begin(errors), std::end(errors)));
        // The bone data is copied through unchanged.
        ASSERT_EQ(out[v].boneRef[0], static_cast<std::uint32_t>(in.weight.boneIndex[0]));
    }
    EXPECT_LE(worst, 1e-4f);
}

TEST_F(SceneRenderTest, MissingAndCorruptTexturesLeaveTheirSlotsEmpty) {
    TempFolder folder;
    folder.Write("Tex/Broken.png", "not an image");
    PmxModel model = TriangleModel();
    model.folder = folder.path();
    model.textures = {u"tex\\missing.png", u"TEX\\broken.PNG"};
    model.materials[0].textureIndex = 1;
    model.materials[0].sphereTextureIndex = 0;
    model.materials[0].sphereMode = 2;
    model.materials[0].sharedToon = 0;
    model.materials[0].toonIndex = 0;
    const ModelInstance* lacking = AddModel(model, S_OK);
    const ModelGpu* gpu = graphics_.sceneRenderer->Find(lacking);
    ASSERT_NE(gpu, nullptr);
    ASSERT_EQ(gpu->textures.size(), 2u);  // placeholders keep the slots in order
    EXPECT_EQ(gpu->materials[0].baseTexture, -1);
    EXPECT_EQ(gpu->materials[0].sphereTexture, -1);
    EXPECT_EQ(gpu->materials[0].toonTexture, -1);
    const MaterialConstants& c = gpu->materialConstants[0];
    EXPECT_EQ((std::array{c.textureBind[0], c.textureBind[1], c.textureBind[2], c.sphereMode}),
              (std::array{0u, 0u, 0u, 0u}));
}

TEST_F(SceneRenderTest, FaceIndicesPastTheVerticesArePinnedAndTheFrameStillRenders) {
    PmxModel model = TriangleModel();
    model.indices = {0, 1, 100000};
    AddModel(model);
    const CapturedImage image = Frames(2);
    EXPECT_TRUE(IsWhite(image, 0, 0));
}

}  // namespace

}  // namespace qv
