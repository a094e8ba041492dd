// Bodies must hang, collide by mask, recover from blow-ups and leave nothing behind.
#include <gtest/gtest.h>

#include <btBulletDynamicsCommon.h>

#include <cmath>

#include "runtime/physics_bodies.h"
#include "runtime/physics_world.h"
#include "tests/runtime/test_models.h"
#include "tests/support/chain_model.h"

namespace qv {

namespace {

struct PhysicsModel {
    PhysicsWorld world;
    ModelInstance instance;

    explicit PhysicsModel(const PmxModel& model) {
        EXPECT_EQ(CreateModelInstance(instance, model, &world), S_OK);
    }
    ~PhysicsModel() { ReleaseBodies(instance, world); }

    void Run(float seconds) {
        for (int i = 0; i < static_cast<int>(seconds * 60.0f); ++i) {
            StepPhysics(world, 1.0f / 60.0f);
            UpdateModel(instance, 1.0f / 60.0f);
        }
    }
};

btTransform Pose(const btRigidBody* body) {
    return body->getWorldTransform();
}

Quaternion FromBody(const btRigidBody* body) {
    const btQuaternion q = body->getWorldTransform().getRotation();
    return {q.x(), q.y(), q.z(), q.w()};
}

float AngleBetween(const btRigidBody* a, const btRigidBody* b) {
    return Pose(a).getRotation().angleShortestPath(Pose(b).getRotation());
}

}  // namespace

TEST(Physics, AChainHangsFromItsKinematicRootWithinItsLimits) {
    const float swing = 0.6f;
    PhysicsModel m(ChainModel(swing));
    ASSERT_EQ(m.instance.bodies.size(), 3u);
    m.Run(6.0f);
    const auto& bodies = m.instance.bodies;
    // The anchor follows the root bone, which no motion moves.
    EXPECT_NEAR(Pose(bodies[0]).getOrigin().y(), 10.0f, 1e-4f);
    // The links fell, as far as the joints allow, and came to rest.
    EXPECT_LT(Pose(bodies[2]).getOrigin().y(), 9.5f);
    EXPECT_LE(AngleBetween(bodies[0], bodies[1]), swing + 0.08f);
    EXPECT_LE(AngleBetween(bodies[1], bodies[2]), swing + 0.08f);
    for (const btRigidBody* b : bodies) {
        EXPECT_LT(b->getLinearVelocity().length(), 0.05f);
    }
    // The bones follow their bodies: the second link's tail hangs low too.
    const BoneState& link2 = m.instance.bones[2];
    EXPECT_LT(link2.framePosition.y, 9.5f);
    // The bone keeps its rest offset to its body.
    const btVector3 bodyAt = Pose(bodies[2]).getOrigin();
    const btVector3 restOffset(3.0f - 2.5f, 0.0f, 0.0f);  // tail minus body, at rest
    const btVector3 expected = bodyAt + quatRotate(Pose(bodies[2]).getRotation(), restOffset);
    EXPECT_NEAR(link2.framePosition.x, expected.x(), 1e-3f);
    EXPECT_NEAR(link2.framePosition.y, expected.y(), 1e-3f);
}

TEST(Physics, SwitchedOffTheBonesReturnAndTheBodiesTrackThem) {
    PhysicsModel m(ChainModel(0.6f));
    m.Run(2.0f);
    SetPhysicsEnabled(m.instance, false);
    m.Run(0.5f);
    for (const BoneState& bone : m.instance.bones) {
        // No motion: every bone back at rest, T(restTail).
        EXPECT_NEAR(bone.framePosition.x, bone.restTail.x, 1e-5f) << bone.index;
        EXPECT_NEAR(bone.framePosition.y, bone.restTail.y, 1e-5f) << bone.index;
    }
    // Driving bodies are kinematic now and sit exactly where they were built.
    EXPECT_TRUE(m.instance.bodies[1]->isKinematicObject());
    EXPECT_NEAR(Pose(m.instance.bodies[1]).getOrigin().x(), 1.5f, 1e-5f);
    EXPECT_NEAR(Pose(m.instance.bodies[2]).getOrigin().y(), 10.0f, 1e-5f);

    // Turn a bone by a motion-free edit: the body follows it exactly.
    m.instance.bones[0].rotation = {0, 0, std::sin(0.25f), std::cos(0.25f)};
    m.Run(1.0f / 60.0f);
    const BoneState& link1 = m.instance.bones[1];
    const btVector3 at = Pose(m.instance.bodies[1]).getOrigin();
    // The body sits half a unit before link1's tail, along the bone.
    const float dx = link1.framePosition.x - at.x(), dy = link1.framePosition.y - at.y();
    EXPECT_NEAR(std::sqrt(dx * dx + dy * dy), 0.5f, 1e-4f);

    m.instance.bones[0].rotation = {};  // level again
    SetPhysicsEnabled(m.instance, true);
    EXPECT_FALSE(m.instance.bodies[1]->isKinematicObject());
    m.Run(1.0f);
    EXPECT_LT(Pose(m.instance.bodies[2]).getOrigin().y(), 9.5f);  // falls again
}

TEST(Physics, MasksDecideWhoTouchesAndTheGroundTouchesAll) {
    // Two balls dropped one above the other.
    auto drop = [](std::uint16_t lowerMask, std::uint16_t upperMask) {
        PmxModel model;
        PmxRigidBody lower = MakeBody(u"lower", -1, {0, 1, 0}, 1, 0, {0.5f, 0, 0});
        lower.group = 0;
        lower.noCollisionMask = lowerMask;
        PmxRigidBody upper = MakeBody(u"upper", -1, {0, 3, 0}, 1, 0, {0.5f, 0, 0});
        upper.group = 1;
        upper.noCollisionMask = upperMask;
        model.rigidBodies = {lower, upper};
        PhysicsModel m(model);
        m.Run(4.0f);
        return Pose(m.instance.bodies[1]).getOrigin().y();
    };
    // Each in the other's mask: the upper ball rests on the lower one.
    EXPECT_NEAR(drop(0x0002, 0x0001), 1.5f, 0.1f);
    // One side excludes the other's group: it falls through to the ground.
    EXPECT_NEAR(drop(0x0000, 0x0001), 0.5f, 0.1f);
    EXPECT_NEAR(drop(0xFFFD, 0xFFFF), 0.5f, 0.1f);
}

TEST(Physics, UnboundKinematicBodiesStayAndBadRecordsAreSkipped) {
    PmxModel model;
    model.bones = {MakeBone(u"root", {0, 1, 0}, -1)};
    model.rigidBodies = {MakeBody(u"still", -1, {0, 5, 0}, 0),
                         MakeBody(u"odd shape", 0, {0, 5, 0}, 1, 7),
                         MakeBody(u"ball", 0, {2, 5, 0}, 1)};
    model.rigidBodies[2].position.x = NAN;
    model.joints = {MakeJoint(0, 1, {0, 5, 0}, 0.1f), MakeJoint(0, 9, {0, 5, 0}, 0.1f),
                    MakeJoint(-1, 0, {0, 5, 0}, 0.1f)};
    PhysicsModel m(model);
    ASSERT_EQ(m.instance.bodies.size(), 3u);  // aligned with the records
    EXPECT_NE(m.instance.bodies[0], nullptr);
    EXPECT_EQ(m.instance.bodies[1], nullptr);
    EXPECT_EQ(m.instance.bodies[2], nullptr);
    EXPECT_TRUE(m.instance.joints.empty());
    m.Run(1.0f);
    EXPECT_NEAR(Pose(m.instance.bodies[0]).getOrigin().y(), 5.0f, 1e-6f);
}

TEST(Physics, AFrameTakesTheStepsItsTimeHoldsUpToACap) {
    PhysicsWorld world;
    const float step = world.stepSeconds;
    // 40 ms holds two whole steps; the rest waits for the next frame.
    EXPECT_EQ(StepPhysics(world, 0.04f), 2);
    EXPECT_NEAR(world.accumulator, 0.04f - 2.0f * step, 1e-6f);
    EXPECT_EQ(StepPhysics(world, step), 1);
    // At the step rate: one step every frame, never two, nothing piling up.
    world.accumulator = 0.0f;
    for (int i = 0; i < 600; ++i) {
        ASSERT_EQ(DueSteps(world, 1.0f / 60.0f), 1) << "frame " << i;
    }
    EXPECT_LT(world.accumulator, step);
    // Faster frames take a step only once a whole one has built up.
    int steps = 0;
    for (int i = 0; i < 144; ++i) {
        const int due = DueSteps(world, 1.0f / 144.0f);
        ASSERT_LE(due, 1);
        steps += due;
    }
    EXPECT_NEAR(steps, 60, 1);
    // A stall: the cap, and the backlog past it is gone, not owed.
    world.accumulator = 0.0f;
    EXPECT_EQ(DueSteps(world, 2.5f), PhysicsWorld::kMaxStepsPerFrame);
    EXPECT_LT(world.accumulator, step);
    EXPECT_LE(DueSteps(world, 0.0f), 1);
    EXPECT_EQ(DueSteps(world, 0.0f), 0);
    EXPECT_EQ(DueSteps(world, NAN), 0);
    EXPECT_EQ(DueSteps(world, -1.0f), 0);
}

TEST(Physics, SavedSettingsChangeGravityAndRestartTheAccumulator) {
    PhysicsWorld world;
    world.accumulator = 0.01f;
    LoadPhysicsSettings(world);
    EXPECT_FLOAT_EQ(world.gravitySetting.y, -9.81f);
    world.stepSetting = 1.0f / 30.0f;
    world.gravitySetting = {0, -1, 0, 0};
    ApplyPhysicsSettings(world);  // not saved yet: nothing changes
    EXPECT_FLOAT_EQ(world.stepSeconds, 1.0f / 60.0f);
    world.settingsSaved = true;
    ApplyPhysicsSettings(world);
    EXPECT_FLOAT_EQ(world.stepSeconds, 1.0f / 30.0f);
    EXPECT_EQ(world.accumulator, 0.0f);
    EXPECT_FLOAT_EQ(world.Gravity().y, -1.0f);
    // A step of zero or less would step every frame forever: refused.
    world.stepSetting = 0.0f;
    ApplyPhysicsSettings(world);
    EXPECT_FLOAT_EQ(world.stepSeconds, 1.0f / 30.0f);
    // A step far too short to run in real time is raised to the shortest.
    world.stepSetting = 1e-9f;
    ApplyPhysicsSettings(world);
    EXPECT_FLOAT_EQ(world.stepSeconds, PhysicsWorld::kMinStep);
}

TEST(Physics, ABodyThatBlowsUpIsPutBackAndNoBoneSeesIt) {
    PhysicsModel m(ChainModel(0.6f));
    m.Run(0.5f);
    btRigidBody* body = m.instance.bodies[2];
    body->setWorldTransform(btTransform(btQuaternion(0, 0, 0, 1), btVector3(NAN, 0, 0)));
    UpdateModel(m.instance, 1.0f / 60.0f);
    const BoneState& link2 = m.instance.bones[2];
    for (const auto& row : link2.worldMatrix.m) {
        for (float v : row)
            ASSERT_TRUE(std::isfinite(v));
    }
    // Back where the bone's kinematic pose puts it.
    const btVector3 at = body->getWorldTransform().getOrigin();
    const BodyPose expected = KinematicBodyPose(link2, link2.drivingBodyRestPose);
    EXPECT_NEAR(at.x(), expected.position.x, 1e-4f);
    EXPECT_NEAR(at.y(), expected.position.y, 1e-4f);
    EXPECT_EQ(body->getLinearVelocity().length(), 0.0f);
    m.Run(1.0f);  // and the simulation goes on from there
    EXPECT_TRUE(std::isfinite(body->getWorldTransform().getOrigin().y()));
}

TEST(Physics, ReleasingAnInstanceLeavesOnlyTheGround) {
    PhysicsWorld world;
    {
        ModelInstance a, b;
        ASSERT_EQ(CreateModelInstance(a, ChainModel(0.5f), &world), S_OK);
        ASSERT_EQ(CreateModelInstance(b, ChainModel(0.5f), &world), S_OK);
        EXPECT_EQ(world.world().getNumCollisionObjects(), 7);
        EXPECT_EQ(world.world().getNumConstraints(), 4);
        ReleaseBodies(a, world);
        EXPECT_TRUE(a.bodies.empty());
        EXPECT_EQ(a.bones[1].drivingBody, nullptr);
        EXPECT_EQ(world.world().getNumCollisionObjects(), 4);
        ReleaseBodies(b, world);
    }
    EXPECT_EQ(world.world().getNumCollisionObjects(), 1);
    EXPECT_EQ(world.world().getNumConstraints(), 0);
}

// Mode 2: the bone's head stays where its parent puts it, however fast the
// parent moves, and only the bone's turn comes from the body (which is moved
// along), so the bone keeps its length. Mode 1 lets the bone's frame trail
// its body away from the head.
TEST(Physics, ModeTwoBodiesKeepTheBonesPositionAndTakeTheirTurn) {
    for (const std::uint32_t mode : {2u, 1u}) {
        SCOPED_TRACE(mode);
        PmxModel model = ChainModel(0.6f);
        model.rigidBodies[1].physicsMode = mode;
        PhysicsModel m(model);
        BoneState& root = m.instance.bones[0];
        const BoneState& link1 = m.instance.bones[1];
        float worstStretch = 0.0f;
        for (int frame = 0; frame < 60; ++frame) {
            // Along x and z, so no axis of the bodies' places stays at zero.
            const float t = static_cast<float>(frame);
            root.translation = Add3(root.restOffset, {0.2f * t, 0, -0.15f * t});
            StepPhysics(m.world, 1.0f / 60.0f);
            UpdateModel(m.instance, 1.0f / 60.0f);
            const float length = Distance(link1.framePosition, link1.jointPosition);
            worstStretch = std::max(worstStretch, std::abs(length - 1.0f));
            // Either way the body carries the bone's frame where it had it at rest,
            // 0.5 beyond its centre along the link, turned with it.
            const btVector3 centre = Pose(m.instance.bodies[1]).getOrigin();
            const Quaternion turn = FromBody(m.instance.bodies[1]);
            ExpectNear(
                link1.framePosition,
                Add3({centre.x(), centre.y(), centre.z(), 1}, Rotate({0.5f, 0, 0, 0}, turn), 1.0f),
                1e-4f);
            if (mode == 2) {
                ExpectNear(link1.jointPosition, root.framePosition, 1e-4f);
                ExpectNear(link1.framePosition,
                           Add3(link1.jointPosition, Rotate({1, 0, 0, 0}, turn), 1.0f), 1e-4f);
                ExpectSameRotation(MatrixToQuaternion(link1.worldMatrix),
                                   FromBody(m.instance.bodies[1]), 1e-4f);
            }
        }
        if (mode == 2) {
            EXPECT_LT(worstStretch, 1e-4f);
        } else {
            EXPECT_GT(worstStretch, 0.05f);
        }
    }
}

}  // namespace qv
