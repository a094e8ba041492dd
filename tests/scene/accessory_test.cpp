// Accessories must import as drawable one-bone models, follow their bone each frame and obey
// their row.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "demo/demo_content.h"
#include "demo/file_writers.h"
#include "formats/model_textures.h"
#include "formats/x_model.h"
#include "runtime/motion.h"
#include "runtime/pose_math.h"
#include "runtime/skeleton.h"
#include "runtime/skinning.h"
#include "scene/import_accessory.h"
#include "scene/import_results.h"
#include "scene/scene.h"
#include "tests/support/temp_file.h"
#include "tests/support/x_writer.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

XModel ParsedX(const std::string& text) {
    XModel mesh;
    EXPECT_TRUE(
        ParseXModel(mesh, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}).ok());
    return mesh;
}

void ExpectNear(const Vector4& a, const Vector4& b, const char* what) {
    EXPECT_NEAR(a.x, b.x, 1e-3f) << what;
    EXPECT_NEAR(a.y, b.y, 1e-3f) << what;
    EXPECT_NEAR(a.z, b.z, 1e-3f) << what;
}

class AccessoryTest : public ::testing::Test {
protected:
    std::string Import(std::vector<fs::path> files) {
        EXPECT_TRUE(worker_.Request(std::move(files)));
        for (int i = 0; i < 3000 && !worker_.ResultsReady(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        CompleteImports(content_, worker_);
        return worker_.Status();
    }

    TempFolder folder_;
    SceneContent content_;
    ImportWorker worker_{nullptr};
};

}  // namespace

TEST(AccessoryModel, MeshesBecomeOneRigidBoneWithTheAccessoryMaterialRules) {
    TempFolder folder;
    folder.Write("base.png", std::string_view("present"));
    XModel mesh = ParsedX(XSphereMapped());
    mesh.folder = folder.path().string() + "/";
    // Lifted off the origin, so no corner's coordinates are zero, and its
    // frame turned about all three axes at once and moved.
    const Quaternion spin = EulerToQuaternion(0.9f, -0.4f, 0.2f);  // no edge along an axis
    for (Float3& p : mesh.meshes.at(0).positions) {
        const Vector4 spun = Rotate({p.x, p.y, p.z, 0.0f}, spin);
        p = {spun.x + 5.0f, spun.y + 3.0f, spun.z + 4.0f};
    }
    const Quaternion turn = EulerToQuaternion(0.3f, 0.5f, 0.7f);
    const Vector4 move{0.5f, 0.25f, 0.125f, 0.0f};
    XMatrix& frame = mesh.frames.at(static_cast<std::size_t>(mesh.meshes[0].frame)).transform;
    for (int row = 0; row < 4; ++row) {
        const Vector4 axis = row < 3 ? Rotate({row == 0 ? 1.0f : 0.0f, row == 1 ? 1.0f : 0.0f,
                                               row == 2 ? 1.0f : 0.0f, 0.0f},
                                              turn)
                                     : move;
        frame[4 * row] = axis.x, frame[4 * row + 1] = axis.y, frame[4 * row + 2] = axis.z;
    }
    const Vector4 centre = Add3(Rotate({5.0f, 3.0f, 4.0f, 0.0f}, turn), move);
    const PmxModel model = AccessoryModel(mesh);
    ASSERT_EQ(model.bones.size(), 1u);
    EXPECT_EQ(model.bones[0].name, u"root");
    EXPECT_EQ(model.bones[0].parentIndex, -1);
    EXPECT_EQ(model.bones[0].tailIndex, -1);  // no tail bone to point at
    // Six positions without normals: one vertex each, with smooth normals
    // pointing out of the octahedron.
    ASSERT_EQ(model.vertices.size(), 6u);
    for (const PmxVertex& v : model.vertices) {
        EXPECT_EQ(v.weight.deformType, kPmxDeformBdef1);
        EXPECT_EQ(v.weight.boneIndex[0], 0);
        EXPECT_EQ(v.edgeScale, 0.0f);  // accessories draw no outline
        // Each corner lies a unit from the turned centre, and by symmetry
        // its normal points straight out from it.
        const Float3 out{v.position.x - centre.x, v.position.y - centre.y, v.position.z - centre.z};
        EXPECT_NEAR(out.x * out.x + out.y * out.y + out.z * out.z, 1.0f, 1e-5f);
        EXPECT_NEAR(v.normal.x * out.x + v.normal.y * out.y + v.normal.z * out.z, 1.0f, 1e-5f);
    }
    ASSERT_EQ(model.materials.size(), 2u);
    EXPECT_EQ(model.indices.size(), 24u);
    const PmxMaterial& skin = model.materials[0];
    EXPECT_EQ(skin.indexCount, 12u);
    EXPECT_EQ(skin.drawFlags & kPmxMaterialEdge, 0);
    EXPECT_EQ(skin.drawFlags,
              kPmxMaterialGroundShadow | kPmxMaterialCastsShadow | kPmxMaterialReceivesShadow);
    EXPECT_EQ(skin.ambient, (Float4{0.3f, 0.3f, 0.3f, 1.0f}));  // the emissive colour
    EXPECT_EQ(skin.diffuse, (Float4{1.0f, 1.0f, 1.0f, 1.0f}));  // the face colour
    EXPECT_EQ(model.materials[1].diffuse, (Float4{0.8f, 0.8f, 1.0f, 1.0f}));
    EXPECT_EQ(skin.name, u"Skin");  // the names the renderer keeps for its records
    EXPECT_EQ(model.materials[1].name, u"Glow");
    EXPECT_EQ(skin.specularPower, 5.0f);
    // Every file named is listed once; base.png is there but no image, env.sph
    // and glow.spa are not there: their slots draw empty, one warning each.
    ASSERT_EQ(model.textures, (std::vector<std::u16string>{u"base.png", u"env.sph", u"glow.spa"}));
    EXPECT_EQ(skin.textureIndex, 0);
    EXPECT_EQ(skin.sphereTextureIndex, 1);
    EXPECT_EQ(skin.toonIndex, -1);  // no toon ramp, shared or own: lit plainly
    EXPECT_EQ(skin.sharedToon, 0);
    EXPECT_EQ(skin.specular.w, 1.0f);
    EXPECT_EQ(model.materials[1].textureIndex, -1);
    EXPECT_EQ(model.materials[1].sphereTextureIndex, 2);
    const ModelTextures textures = LoadModelTextures(model);
    EXPECT_EQ(textures.absent, (std::vector<bool>{true, true, true}));
    ASSERT_EQ(textures.warnings.size(), 3u);
    EXPECT_EQ(textures.warnings[0].rfind("texture cannot be read: base.png (", 0), 0u);
    EXPECT_EQ(textures.warnings[1], "sphere not found: env.sph");
    EXPECT_EQ(textures.warnings[2], "sphere not found: glow.spa");
    // A sphere map that takes the first slot is one all the same.
    XModel sphereFirst = mesh;
    sphereFirst.meshes.at(0).materials.at(0).texture.clear();
    const PmxModel spheres = AccessoryModel(sphereFirst);
    ASSERT_EQ(spheres.materials.at(0).sphereTextureIndex, 0);
    EXPECT_EQ(spheres.materials[0].sphereMode, sphereFirst.meshes[0].materials[0].sphereMode);
    EXPECT_NE(spheres.materials[0].sphereMode, kXSphereNone);
}

TEST(AccessoryModel, FramesPlaceTheirMeshesAndNormalsSplitVertices) {
    const PmxModel frames = AccessoryModel(ParsedX(XFrameHierarchy()));
    ASSERT_EQ(frames.vertices.size(), 6u);
    // The inner triangle is scaled by 2 and moved up by 1.
    EXPECT_EQ(frames.vertices[1].position, (Float3{2, 1, 0}));
    EXPECT_EQ(frames.vertices[4].position, (Float3{1, 0, 0}));
    // A lone triangle without normals gives each corner its face's, first corner too.
    for (const PmxVertex& v : frames.vertices) {
        EXPECT_NEAR(v.normal.x, 0.0f, 1e-6f);
        EXPECT_NEAR(v.normal.y, 0.0f, 1e-6f);
        EXPECT_NEAR(v.normal.z, 1.0f, 1e-6f);
    }
    // Each vertex is carried whole by the one bone: moved, it moves as far.
    const Matrix4 moved[] = {TranslationMatrix({5, 0, 0, 0})};
    for (const PmxVertex& v : frames.vertices) {
        const Vector4 skinned = SkinVertex({v.position.x, v.position.y, v.position.z, 1},
                                           {v.normal.x, v.normal.y, v.normal.z, 0}, v.weight,
                                           PrepareSdef(v.weight), moved)
                                    .position;
        EXPECT_EQ(skinned.x, v.position.x + 5.0f);
        EXPECT_EQ(skinned.y, v.position.y);
    }
    // The cube's corners are shared by three sides with three normals.
    const PmxModel cube = AccessoryModel(ParsedX(XTexturedCube()));
    EXPECT_EQ(cube.vertices.size(), 24u);
    EXPECT_EQ(cube.indices.size(), 36u);
    // A normal of no length points up rather than nowhere.
    XModel flat = ParsedX(XTexturedCube());
    for (XMesh& part : flat.meshes) {
        std::fill(part.normals.begin(), part.normals.end(), Float3{});
    }
    for (const PmxVertex& v : AccessoryModel(flat).vertices) {
        EXPECT_EQ(v.normal, (Float3{0, 1, 0}));
    }
    // What is made is a model like any read from a file: written out, it reads back whole.
    PmxModel read;
    ASSERT_EQ(ParsePmxModel(read, EncodePmx(cube)), S_OK);
    ASSERT_EQ(read.vertices.size(), 24u);
    EXPECT_EQ(read.indices, cube.indices);
    EXPECT_EQ(read.materials.size(), cube.materials.size());
    ASSERT_EQ(read.bones.size(), 1u);
    EXPECT_EQ(read.bones[0].name, u"root");
    EXPECT_EQ(read.bones[0].parentIndex, -1);
}

TEST_F(AccessoryTest, AnAccessoryImportsWithAMissingTextureNamedAndABrokenOneSaysWhy) {
    // As the renderer does: find the textures unless the import thread did.
    content_.createModelResources = [](ModelInstance&, const PmxModel& m, ModelTextures& t) {
        if (!t.loaded) {
            t = LoadModelTextures(m);
        }
        return t.result;
    };
    const fs::path cube = folder_.Write("cube.x", XTexturedCube("missing.png"));
    // A texture that is there but no image: drawn blank, and said so.
    const fs::path ball = folder_.Write("ball.x", XTexturedCube("noise.png"));
    folder_.Write("noise.png", std::string_view("not an image"));
    const fs::path broken = folder_.Write("broken.x", std::string_view("xof 0303bin 0032...."));
    const fs::path empty = folder_.Write("empty.x", std::string_view("xof 0303txt 0032 Frame {}"));
    const std::string status = Import({cube, broken, empty, ball});
    EXPECT_EQ(status.rfind("Loaded 2 resource(s).\nFailed: 2\nError detail:\n", 0), 0u) << status;
    // Warnings follow the failures, as a model's do.
    EXPECT_NE(status.find("Warnings:\n" + cube.string() + "\ntexture not found: missing.png\n"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find(ball.string() + "\ntexture cannot be read: noise.png ("),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("broken.x\nFailed to load accessory!\nthe binary form"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("empty.x\nFailed to load accessory!\nthe file holds no triangles"),
              std::string::npos)
        << status;
    // Decoded on the import thread, as the player has it, an accessory's
    // textures give the same warning.
    ImportResults decoded;
    ImportFile(cube, nullptr, decoded, true);
    ASSERT_EQ(decoded.accessories.size(), 1u);
    EXPECT_TRUE(decoded.accessories[0].textures.loaded);
    EXPECT_EQ(decoded.accessories[0].textures.warnings,
              (std::vector<std::string>{"texture not found: missing.png"}));
    ASSERT_EQ(content_.accessories.size(), 2u);
    EXPECT_EQ(content_.accessories[0].name, "cube.x");
    EXPECT_EQ(content_.accessories[1].name, "ball.x");
    EXPECT_TRUE(content_.models.empty());
    // One whose GPU half fails is named as an accessory and not added.
    content_.createModelResources = [](ModelInstance&, const PmxModel&, ModelTextures&) {
        return E_OUTOFMEMORY;
    };
    const std::string failed = Import({cube});
    EXPECT_NE(
        failed.find(cube.string() + "\n\nFailed to create graphic resource for this accessory!"),
        std::string::npos)
        << failed;
    EXPECT_EQ(content_.accessories.size(), 2u);
}

TEST_F(AccessoryTest, AnAccessoryFollowsItsBoneThroughADanceAndObeysItsRow) {
    content_.physics = std::make_unique<PhysicsWorld>();
    {
        auto figure = std::make_unique<ModelInstance>();
        ASSERT_EQ(CreateModelInstance(*figure, DemoModel(), content_.physics.get()), S_OK);
        content_.models.push_back({std::move(figure), {}});
    }
    static VmdMotion dance;
    ASSERT_EQ(ParseVmdMotion(dance, EncodeVmd(DemoMotion())), S_OK);
    ModelInstance& figure = *content_.models[0].instance;
    AttachMotion(figure, dance);
    figure.playing = 1;
    Import({folder_.Write("cube.x", XTexturedCube())});
    ASSERT_EQ(content_.accessories.size(), 1u);
    AccessoryRecord& cube = content_.accessories[0];
    const std::int32_t hand = static_cast<std::int32_t>(figure.bones.size() / 2);
    std::vector<AccessoryEdit> edits = {{0, {true, 0, hand, {0.5f, 1.0f, -0.25f}, {}, 1, 1}}};
    ApplyAccessoryEdits(content_, edits);
    EXPECT_TRUE(edits.empty());

    const Vector4 offset{0.5f, 1.0f, -0.25f, 1.0f};
    for (int frame = 0; frame < 90; ++frame) {
        StepPhysics(*content_.physics, 1.0f / 30.0f);
        UpdateModel(figure, 1.0f / 30.0f);
        UpdateAccessories(content_);
        const BoneState& bone = figure.bones[static_cast<std::size_t>(hand)];
        // The bone's posed head, and the offset turned with the bone.
        const Vector4 head = TransformPoint(bone.restHead, SkinningMatrix(bone));
        const Vector4 expected = Add3(head, Rotate(offset, bone.worldRotation));
        const Vector4 origin =
            TransformPoint({0, 0, 0, 1}, SkinningMatrix(cube.instance->bones[0]));
        ExpectNear(origin, expected, "the accessory's origin");
    }
    // The dance moved the bone: the test followed something that moves.
    EXPECT_GT(figure.motion.time, 2.0f);

    // Hidden, then half faded: the diffuse alpha multiplier says so.
    edits = {{0, {false, 0, hand, {}, {}, 1, 0.5f}}};
    ApplyAccessoryEdits(content_, edits);
    UpdateAccessories(content_);
    EXPECT_EQ(cube.instance->materialMorphs.at(0).multiply.diffuse.w, 0.0f);
    EXPECT_NE(cube.instance->materialMorphCount, 0u);  // else the renderer skips the multiplier
    edits = {{0, {true, 0, hand, {}, {}, 1, 7.0f}}, {5, {}}};  // out of range: clamped, dropped
    ApplyAccessoryEdits(content_, edits);
    UpdateAccessories(content_);
    EXPECT_EQ(cube.instance->materialMorphs.at(0).multiply.diffuse.w, 1.0f);

    // In the world: scaled, then turned 90 degrees about y, then moved.
    edits = {{0, {true, -1, -1, {1, 2, 3}, {0, 90, 0}, 2, 1}}};
    ApplyAccessoryEdits(content_, edits);
    UpdateAccessories(content_);
    const Vector4 corner = TransformPoint({1, 0, 0, 1}, SkinningMatrix(cube.instance->bones[0]));
    ExpectNear(corner, {1, 2, 3 - 2, 1}, "a turned and moved corner");
    const Vector4 front = TransformPoint({0, 0, 1, 1}, SkinningMatrix(cube.instance->bones[0]));
    ExpectNear(front, {1 + 2, 2, 3, 1}, "a turned and moved point on z");
    // A scale typed at 0 or below would mirror it inside out: held small.
    for (const float typed : {0.0f, -2.0f}) {
        edits = {{0, {true, -1, -1, {}, {}, typed, 1}}};
        ApplyAccessoryEdits(content_, edits);
        EXPECT_EQ(cube.settings.scale, kMinAccessoryScale) << typed;
    }
    // One that is no number is the natural size.
    edits = {{0, {true, -1, -1, {}, {}, std::nanf(""), 1}}};
    ApplyAccessoryEdits(content_, edits);
    EXPECT_EQ(cube.settings.scale, 1.0f);

    // A model before the followed one goes: the accessory follows the same
    // model on its new row; one after it changes nothing.
    edits = {{0, {true, 2, hand, {}, {}, 1, 1}}};
    ApplyAccessoryEdits(content_, edits);
    ForgetRemovedModel(content_, 3);
    EXPECT_EQ(cube.settings.model, 2);
    ForgetRemovedModel(content_, 0);
    EXPECT_EQ(cube.settings.model, 1);
    EXPECT_EQ(cube.settings.bone, hand);

    // The followed model goes: the accessory stays where it was, in the world.
    edits = {{0, {true, 0, hand, {}, {}, 1, 1}}};
    ApplyAccessoryEdits(content_, edits);
    UpdateAccessories(content_);
    const Vector4 before = TransformPoint({0, 0, 0, 1}, SkinningMatrix(cube.instance->bones[0]));
    ForgetRemovedModel(content_, 0);
    EXPECT_EQ(cube.settings.model, -1);
    UpdateAccessories(content_);
    ExpectNear(TransformPoint({0, 0, 0, 1}, SkinningMatrix(cube.instance->bones[0])), before,
               "the place after the model went");
    // Removing a row removes that row and no other.
    Import({folder_.Write("frames.x", XFrameHierarchy())});
    ASSERT_EQ(content_.accessories.size(), 2u);
    const ModelInstance* first = content_.accessories[0].instance.get();
    EXPECT_TRUE(RemoveAccessory(content_, 1));
    ASSERT_EQ(content_.accessories.size(), 1u);
    EXPECT_EQ(content_.accessories[0].instance.get(), first);
    EXPECT_TRUE(RemoveAccessory(content_, 0));
    EXPECT_FALSE(RemoveAccessory(content_, 0));
}

}  // namespace qv
