// Every morph kind must reach what it changes, through any nesting of groups.
#include <btBulletDynamicsCommon.h>

#include "runtime/physics_bodies.h"
#include "runtime/physics_world.h"
#include "tests/runtime/test_models.h"

namespace qv {

namespace {

PmxMorph Morph(std::u16string name, std::uint32_t type) {
    PmxMorph morph;
    morph.name = std::move(name);
    morph.type = type;
    return morph;
}

PmxMorph Group(std::u16string name, std::vector<PmxGroupMorphOffset> children,
               std::uint32_t type = kPmxMorphGroup) {
    PmxMorph morph = Morph(std::move(name), type);
    morph.groupOffsets = std::move(children);
    return morph;
}

PmxMaterialMorphOffset MaterialOffset(std::int32_t material, std::uint32_t operation, float value) {
    PmxMaterialMorphOffset o;
    o.materialIndex = material;
    o.operation = operation;
    o.diffuse = {value, value, value, value};
    o.specular = {value, value, value, 1};
    o.specularPower = value;
    o.ambient = {value, value, value, 1};
    o.edgeColor = {value, value, value, value};
    o.edgeSize = value;
    o.textureTint = o.sphereTint = o.toonTint = {value, value, value, value};
    return o;
}

}  // namespace

TEST(BuildMorphs, EveryKindGetsItsSlotWeightNameAndControl) {
    PmxModel model;
    model.vertices.resize(4);
    model.morphs.push_back(Morph(u"a", kPmxMorphVertex));
    model.morphs[0].vertexOffsets = {{1, {1, 2, 3}}, {3, {0, 0, -1}}};
    model.morphs.push_back(Morph(u"group", kPmxMorphGroup));
    model.morphs.push_back(Morph(u"scroll", kPmxMorphUv));
    model.morphs[2].uvOffsets = {{2, {0.5f, 0.25f, 9, 9}}};
    model.morphs.push_back(Morph(u"b", kPmxMorphVertex));
    model.morphs[3].vertexOffsets = {
        {0, {4, 4, 4}}, {-1, {7, 7, 7}}, {4, {8, 8, 8}}, {1 << 30, {9, 9, 9}}};
    ModelInstance instance = MakeInstance(model);

    EXPECT_EQ(instance.vertexMorphCount, 2u);
    EXPECT_EQ(instance.uvMorphCount, 1u);
    EXPECT_EQ(instance.morphStates[3].slot, 1);
    EXPECT_EQ(instance.morphStates[2].slot, 0);
    // Every kind has a weight, a name and a control.
    EXPECT_EQ(instance.morphWeightByName.at(u"b"), &instance.morphWeights[3]);
    EXPECT_EQ(instance.morphWeightByName.at(u"group"), &instance.morphWeights[1]);
    ASSERT_EQ(instance.morphControls.size(), 4u);
    EXPECT_EQ(instance.morphControls[1].kind, "Group");
    EXPECT_EQ(instance.morphControls[2].name, "scroll");
    EXPECT_EQ(instance.morphControls[2].kind, "UV");
    EXPECT_EQ(instance.morphControls[3].kind, "Vertex");

    // The weights the GPU reads follow the controls when the model updates.
    instance.morphWeights[3] = 0.5f;
    instance.morphWeights[2] = 0.25f;
    UpdateModel(instance, 0);
    EXPECT_EQ(instance.vertexMorphWeights, (std::vector<float>{0, 0.5f}));
    EXPECT_EQ(instance.uvMorphWeights, (std::vector<float>{0.25f}));

    model.morphs = {Morph(u"uv1", kPmxMorphAdditionalUv1)};
    ModelInstance none = MakeInstance(model);
    EXPECT_EQ(none.vertexMorphCount + none.uvMorphCount, 0u);
    EXPECT_TRUE(none.vertexMorphWeights.empty() && none.uvMorphWeights.empty());
    none.morphWeights[0] = 0.75f;
    UpdateModel(none, 0);
    EXPECT_EQ(none.additionalUvMorphWeights, (std::vector<float>{0.75f}));
}

TEST(BuildMorphs, SameNamedMorphsShareTheNameButKeepTheirControls) {
    PmxModel model;
    model.morphs = {Morph(u"blink", kPmxMorphVertex), Morph(u"blink", kPmxMorphMaterial),
                    Morph(u"blink", kPmxMorphUv)};
    ModelInstance instance = MakeInstance(model);
    // The later morph owns the name, so motions drive it; each keeps its control.
    EXPECT_EQ(instance.morphWeightByName.at(u"blink"), &instance.morphWeights[2]);
    ASSERT_EQ(instance.morphControls.size(), 3u);
    EXPECT_EQ(instance.morphControls[0].weight, &instance.morphWeights[0]);
    EXPECT_EQ(instance.morphControls[1].kind, "Material");
}

TEST(ApplyMorphs, GroupsAndFlipsScaleTheirChildrenThroughNesting) {
    PmxModel model;
    model.vertices.resize(1);
    model.morphs = {Morph(u"v0", kPmxMorphVertex), Morph(u"v1", kPmxMorphVertex),
                    Group(u"inner", {{0, 0.5f}, {1, 1.0f}}),
                    Group(u"outer", {{2, 2.0f}, {0, 0.25f}}),
                    Group(u"flip", {{1, -1.0f}}, kPmxMorphFlip),
                    // A cycle (a -> b -> a) and a self-reference are refused.
                    Group(u"a", {{6, 1.0f}, {0, 1.0f}}), Group(u"b", {{5, 1.0f}, {1, 1.0f}}),
                    Group(u"self", {{7, 1.0f}, {0, 1.0f}}),
                    // A group of a refused group still drives its other children.
                    Group(u"above", {{5, 1.0f}, {1, 3.0f}}),
                    // The same leaf directly before and after the same nested group, twice.
                    Group(u"twice", {{0, 0.25f}, {2, 2.0f}, {0, 0.5f}, {2, 1.0f}})};
    ModelInstance instance = MakeInstance(model);
    auto weightsWith = [&](std::size_t morph, float w) {
        std::fill(instance.morphWeights.begin(), instance.morphWeights.end(), 0.0f);
        instance.morphWeights[morph] = w;
        UpdateModel(instance, 0);
        return instance.vertexMorphWeights;
    };
    EXPECT_EQ(weightsWith(2, 0.5f), (std::vector<float>{0.25f, 0.5f}));
    // outer reaches v0 by 2 × 0.5 through inner and by 0.25 itself, v1 by 2 × 1.
    EXPECT_EQ(weightsWith(3, 0.5f), (std::vector<float>{0.5f * (2.0f * 0.5f + 0.25f), 1.0f}));
    EXPECT_EQ(weightsWith(4, 0.5f), (std::vector<float>{0.0f, -0.5f}));
    EXPECT_EQ(weightsWith(5, 1.0f), (std::vector<float>{0, 0}));
    EXPECT_EQ(weightsWith(6, 1.0f), (std::vector<float>{0, 0}));
    EXPECT_EQ(weightsWith(7, 1.0f), (std::vector<float>{0, 0}));
    // Every path adds: v0 by 0.25 + 2 × 0.5 + 0.5 + 1 × 0.5, v1 by 2 × 1 + 1 × 1.
    EXPECT_EQ(weightsWith(9, 1.0f), (std::vector<float>{2.25f, 3.0f}));
    EXPECT_EQ(weightsWith(8, 1.0f), (std::vector<float>{0, 3.0f}));
    // A group's own weight adds to the child's own.
    instance.morphWeights[0] = 0.25f;
    instance.morphWeights[2] = 1.0f;
    UpdateModel(instance, 0);
    EXPECT_EQ(instance.vertexMorphWeights[0], 0.75f);
}

TEST(ApplyMorphs, BoneMorphsAddToTheLocalPoseBeforeIk) {
    PmxModel model;
    model.bones.push_back(MakeBone(u"arm", {0, 0, 0}, -1, {1, 0, 0}));
    PmxMorph pose = Morph(u"pose", kPmxMorphBone);
    const Float4 quarter{0, 0, std::sin(kPi / 4), std::cos(kPi / 4)};       // 90° about Z
    pose.boneOffsets = {{0, {0, 2, 0}, quarter}, {9, {5, 5, 5}, quarter}};  // bone 9: none
    model.morphs = {pose, Group(u"half pose", {{0, 0.5f}})};
    ModelInstance instance = MakeInstance(model);
    BoneState& arm = instance.bones[0];
    arm.rotation = AxisAngle(0, 1, 0, kPi / 2);  // its own pose stays
    instance.morphWeights[1] = 1.0f;
    UpdateModel(instance, 0);
    // Half the morph: 45° about Z within the bone's own 90° about Y, raised by 1.
    ExpectNear(arm.jointPosition, {0, 1, 0, 1});
    const float h = std::sqrt(0.5f);
    ExpectNear(arm.framePosition, {0, 1 + h, -h, 1});
    EXPECT_EQ(arm.rotation, AxisAngle(0, 1, 0, kPi / 2));
    // Back to no weight: back to the own pose, nothing accumulated.
    instance.morphWeights[1] = 0.0f;
    UpdateModel(instance, 0);
    ExpectNear(arm.framePosition, {0, 0, -1, 1});
}

TEST(ApplyMorphs, MaterialMorphsMultiplyAndAddOnEveryValue) {
    PmxModel model;
    model.materials.resize(3);
    PmxMorph all = Morph(u"all dark", kPmxMorphMaterial);
    all.materialOffsets = {MaterialOffset(-1, 0, 0.0f)};
    PmxMorph glow = Morph(u"glow", kPmxMorphMaterial);
    glow.materialOffsets = {MaterialOffset(1, 1, 0.5f), MaterialOffset(7, 1, 9.0f)};
    model.morphs = {all, glow};
    ModelInstance instance = MakeInstance(model);
    for (const MaterialMorphResult& r : instance.materialMorphs) {
        EXPECT_EQ(r.multiply, MaterialMorphValues{});
        EXPECT_EQ(r.add, MaterialMorphResult::Zero());
    }
    instance.morphWeights = {0.5f, 0.5f};
    UpdateModel(instance, 0);
    for (std::size_t i = 0; i < 3; ++i) {
        const MaterialMorphResult& r = instance.materialMorphs[i];
        // Multiplying by 0 at half weight halves every value.
        EXPECT_EQ(r.multiply.diffuse, (Float4{0.5f, 0.5f, 0.5f, 0.5f}));
        EXPECT_EQ(r.multiply.edgeSize, 0.5f);
        EXPECT_EQ(r.multiply.toonTint.w, 0.5f);
        EXPECT_EQ(r.multiply.specular.x, 0.5f);
        const float added = i == 1 ? 0.25f : 0.0f;
        EXPECT_EQ(r.add.diffuse.x, added);
        EXPECT_EQ(r.add.specularPower, added);
        EXPECT_EQ(r.add.sphereTint.y, added);
    }
}

TEST(ApplyMorphs, ImpulseMorphsPushTheirBodies) {
    PmxModel model;
    model.bones.push_back(MakeBone(u"b", {0, 10, 0}, -1, {0, 1, 0}));
    PmxRigidBody body;
    body.boneIndex = 0;
    body.position = {0, 10, 0};
    body.size = {0.5f, 0.5f, 0.5f};
    body.mass = 1;
    body.physicsMode = 1;
    body.rotation = {0, kPi / 2, 0};
    model.rigidBodies = {body, body};
    PmxMorph push = Morph(u"push", kPmxMorphImpulse);
    push.impulseOffsets = {{0, 0, {0, 0, 4}, {}}, {1, 1, {0, 0, 4}, {}}, {5, 0, {1, 1, 1}, {}}};
    model.morphs = {push};
    PhysicsWorld world;
    ModelInstance instance;
    ASSERT_EQ(CreateModelInstance(instance, model, &world), S_OK);
    instance.morphWeights[0] = 0.5f;
    instance.playing = 1;
    instance.motion.end = 10;
    UpdateModel(instance, 1.0f / 60);
    const btVector3 world0 = instance.bodies[0]->getLinearVelocity();
    const btVector3 local1 = instance.bodies[1]->getLinearVelocity();
    EXPECT_NEAR(world0.z(), 2.0f, 1e-5f);
    // The second body is turned 90° about Y: its own Z is the world's X.
    EXPECT_NEAR(local1.x(), 2.0f, 1e-4f);
    EXPECT_NEAR(local1.z(), 0.0f, 1e-4f);
    ReleaseBodies(instance, world);
}

}  // namespace qv
