// Places a model's bodies and joints in the world and moves bones and bodies each step.
#include "runtime/physics_bodies.h"

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>

#include "formats/pmx_model.h"
#include "runtime/bone_state.h"
#include "runtime/model_instance.h"
#include "runtime/physics_world.h"

namespace qv {

namespace {

// Generic 6-DOF constraints describe rotations as X-Y-Z Euler angles whose
// middle angle must stay inside (-90°, 90°).
constexpr float kMaxMiddleAngle = 1.5533430f;  // 89°
// PMX dynamic bodies of zero mass would become static in the world.
constexpr float kMinimumMass = 1e-3f;

btQuaternion ToBullet(const Quaternion& q) {
    return {q.x, q.y, q.z, q.w};
}
Quaternion FromBullet(const btQuaternion& q) {
    return {q.x(), q.y(), q.z(), q.w()};
}
btVector3 ToBullet(const Float3& v) {
    return {v.x, v.y, v.z};
}
btVector3 ToBullet(const Vector4& v) {
    return {v.x, v.y, v.z};
}

BodyPose PoseOf(const btTransform& t) {
    const btVector3& p = t.getOrigin();
    return {FromBullet(t.getRotation()), {p.x(), p.y(), p.z(), 1.0f}};
}

btTransform TransformOf(const BodyPose& pose) {
    return btTransform(ToBullet(pose.rotation), ToBullet(pose.position));
}

bool IsFinite(const btTransform& t) {
    const btVector3& p = t.getOrigin();
    const btQuaternion q = t.getRotation();
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z()) &&
           std::isfinite(q.x()) && std::isfinite(q.y()) && std::isfinite(q.z()) &&
           std::isfinite(q.w());
}

void MoveKinematic(btRigidBody* body, const BodyPose& pose) {
    const btTransform t = TransformOf(pose);
    body->getMotionState()->setWorldTransform(t);
    body->setWorldTransform(t);
}

// What a body needs to turn from kinematic back into a simulated one.
struct BodyMass {
    float mass;
    btVector3 inertia;
    PhysicsWorld* world;
};

void MakeKinematic(btRigidBody* body) {
    body->setMassProps(0.0f, btVector3(0, 0, 0));
    body->setCollisionFlags(body->getCollisionFlags() | btCollisionObject::CF_KINEMATIC_OBJECT);
    body->setLinearVelocity(btVector3(0, 0, 0));
    body->setAngularVelocity(btVector3(0, 0, 0));
    body->setActivationState(DISABLE_DEACTIVATION);
    body->updateInertiaTensor();
}

void MakeDynamic(btRigidBody* body) {
    const auto* mass = static_cast<const BodyMass*>(body->getUserPointer());
    body->setCollisionFlags(body->getCollisionFlags() & ~btCollisionObject::CF_KINEMATIC_OBJECT);
    body->setMassProps(mass->mass, mass->inertia);
    body->updateInertiaTensor();
    // The world hands out gravity only to bodies that were dynamic when added.
    body->setGravity(mass->world->world().getGravity());
    body->setLinearVelocity(btVector3(0, 0, 0));
    body->setAngularVelocity(btVector3(0, 0, 0));
    body->forceActivationState(DISABLE_DEACTIVATION);
}

btCollisionShape* MakeShape(const PmxRigidBody& record) {
    const Float3& s = record.size;
    switch (record.shape) {
        case 0:
            return new btSphereShape(std::max(s.x, 1e-4f));
        case 1:
            return new btBoxShape(
                btVector3(std::max(s.x, 1e-4f), std::max(s.y, 1e-4f), std::max(s.z, 1e-4f)));
        case 2:
            return new btCapsuleShape(std::max(s.x, 1e-4f), std::max(s.y, 0.0f));
        default:
            return nullptr;
    }
}

bool IsFiniteRecord(const PmxRigidBody& r) {
    const float values[] = {r.size.x,     r.size.y,     r.size.z,     r.position.x, r.position.y,
                            r.position.z, r.rotation.x, r.rotation.y, r.rotation.z, r.mass};
    for (float v : values) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return true;
}

float Finite(float v, float fallback = 0.0f) {
    return std::isfinite(v) ? v : fallback;
}

}  // namespace

BodyPose KinematicBodyPose(const BoneState& bone, const BodyPose& rest) {
    const Matrix4& w = bone.worldMatrix;
    const Quaternion boneRotation = MatrixToQuaternion(w);
    const Vector4 offset = Subtract3(rest.position, bone.restTail);
    const Vector4 turned = TransformDirection(offset, w);
    return {Multiply(boneRotation, rest.rotation),
            {turned.x + w.m[3][0], turned.y + w.m[3][1], turned.z + w.m[3][2], 1.0f}};
}

void BuildBodies(ModelInstance& instance, const PmxModel& model, PhysicsWorld& world) {
    instance.bodies.assign(model.rigidBodies.size(), nullptr);
    for (std::size_t i = 0; i < model.rigidBodies.size(); ++i) {
        const PmxRigidBody& record = model.rigidBodies[i];
        if (!IsFiniteRecord(record)) {
            continue;
        }
        btCollisionShape* shape = MakeShape(record);
        if (shape == nullptr) {
            continue;
        }
        const Quaternion rotation =
            EulerToQuaternion(record.rotation.x, record.rotation.y, record.rotation.z);
        const btTransform start(ToBullet(rotation), ToBullet(record.position));
        const bool kinematic = record.physicsMode == 0;
        const float mass = std::max(record.mass, kMinimumMass);
        btVector3 inertia(0, 0, 0);
        shape->calculateLocalInertia(mass, inertia);

        auto* motionState = new btDefaultMotionState(start);
        btRigidBody::btRigidBodyConstructionInfo info(mass, motionState, shape, inertia);
        info.m_linearDamping = Finite(record.linearDamping);
        info.m_angularDamping = Finite(record.angularDamping);
        info.m_friction = Finite(record.friction);
        info.m_restitution = Finite(record.restitution);
        auto* body = new btRigidBody(info);
        body->setUserPointer(new BodyMass{mass, inertia, &world});
        if (kinematic) {
            MakeKinematic(body);
        } else {
            body->forceActivationState(DISABLE_DEACTIVATION);
        }
        btVector3 low, high;
        shape->getAabb(start, low, high);
        const int group =
            (1 << (record.group & 15)) | (high.y() < 0.0f ? PhysicsWorld::kBelowGroundGroup : 0);
        world.world().addRigidBody(body, group, record.noCollisionMask);
        instance.bodies[i] = body;

        const std::uint32_t boneIndex = static_cast<std::uint32_t>(record.boneIndex);
        if (boneIndex < instance.bones.size()) {
            BoneState& bone = instance.bones[boneIndex];
            const BodyPose rest = PoseOf(start);
            if (!kinematic) {
                // A later simulated body of the same bone takes over.
                bone.drivingBody = body;
                bone.drivingBodyRestPose = rest;
                bone.drivingBodyKeepsBonePosition = record.physicsMode == 2 ? 1 : 0;
            } else {
                bone.followerBodies.push_back(body);
                bone.followerRestPoses.push_back(rest);
            }
        }
    }
}

void BuildJoints(ModelInstance& instance, const PmxModel& model, PhysicsWorld& world) {
    const std::size_t bodyCount = instance.bodies.size();
    for (const PmxJoint& record : model.joints) {
        const auto a = static_cast<std::uint32_t>(record.rigidBodyA);
        const auto b = static_cast<std::uint32_t>(record.rigidBodyB);
        if (record.type > 5 || a >= bodyCount || b >= bodyCount || a == b ||
            instance.bodies[a] == nullptr || instance.bodies[b] == nullptr) {
            continue;
        }
        btRigidBody* bodyA = instance.bodies[a];
        btRigidBody* bodyB = instance.bodies[b];
        const Quaternion rotation = EulerToQuaternion(
            Finite(record.rotation.x), Finite(record.rotation.y), Finite(record.rotation.z));
        const Float3 p = record.position;
        const btTransform frame(ToBullet(rotation),
                                btVector3(Finite(p.x), Finite(p.y), Finite(p.z)));
        const btTransform frameA = bodyA->getWorldTransform().inverse() * frame;
        const btTransform frameB = bodyB->getWorldTransform().inverse() * frame;
        auto* joint = new btGeneric6DofSpringConstraint(*bodyA, *bodyB, frameA, frameB, true);

        const Float3& tl = record.translationLower;
        const Float3& tu = record.translationUpper;
        joint->setLinearLowerLimit(btVector3(Finite(tl.x), Finite(tl.y), Finite(tl.z)));
        joint->setLinearUpperLimit(btVector3(Finite(tu.x), Finite(tu.y), Finite(tu.z)));
        const Float3& rl = record.rotationLower;
        const Float3& ru = record.rotationUpper;
        auto middle = [](float v) {
            return std::clamp(Finite(v), -kMaxMiddleAngle, kMaxMiddleAngle);
        };
        joint->setAngularLowerLimit(btVector3(Finite(rl.x), middle(rl.y), Finite(rl.z)));
        joint->setAngularUpperLimit(btVector3(Finite(ru.x), middle(ru.y), Finite(ru.z)));

        const float springs[6] = {record.springTranslation.x, record.springTranslation.y,
                                  record.springTranslation.z, record.springRotation.x,
                                  record.springRotation.y,    record.springRotation.z};
        for (int axis = 0; axis < 6; ++axis) {
            const float k = Finite(springs[axis]);
            if (k != 0.0f) {
                joint->enableSpring(axis, true);
                joint->setStiffness(axis, k);
            }
        }
        // Springs pull back to the pose the bodies were authored in.
        joint->setEquilibriumPoint();
        // Jointed bodies overlap by design: a skirt's segments, a hair strand.
        world.world().addConstraint(joint, true);
        instance.joints.push_back(joint);
    }
}

void ReleaseBodies(ModelInstance& instance, PhysicsWorld& world) {
    for (btTypedConstraint* joint : instance.joints) {
        world.world().removeConstraint(joint);
        delete joint;
    }
    instance.joints.clear();
    for (btRigidBody*& body : instance.bodies) {
        if (body == nullptr) {
            continue;
        }
        world.world().removeRigidBody(body);
        delete static_cast<BodyMass*>(body->getUserPointer());
        delete body->getMotionState();
        delete body->getCollisionShape();
        delete body;
        body = nullptr;
    }
    instance.bodies.clear();
    for (BoneState& bone : instance.bones) {
        bone.drivingBody = nullptr;
        bone.followerBodies.clear();
        bone.followerRestPoses.clear();
    }
}

void ApplyImpulseMorphs(ModelInstance& instance) {
    if (instance.bodies.empty()) {
        return;
    }
    for (std::size_t m = 0; m < instance.morphStates.size(); ++m) {
        const MorphState& state = instance.morphStates[m];
        const float w = instance.morphEffective[m];
        if (state.type != kPmxMorphImpulse || w == 0.0f) {
            continue;
        }
        for (std::size_t k = 0; k < state.impulseBodies.size(); ++k) {
            const auto index = static_cast<std::uint32_t>(state.impulseBodies[k]);
            if (index >= instance.bodies.size() || instance.bodies[index] == nullptr) {
                continue;
            }
            btRigidBody* body = instance.bodies[index];
            if (body->isKinematicObject()) {
                continue;
            }
            btVector3 velocity = ToBullet(state.impulseVelocity[k]) * w;
            btVector3 torque = ToBullet(state.impulseTorque[k]) * w;
            if (state.impulseLocal[k]) {
                const btMatrix3x3& basis = body->getWorldTransform().getBasis();
                velocity = basis * velocity;
                torque = basis * torque;
            }
            body->setLinearVelocity(velocity);
            body->applyTorqueImpulse(torque);
        }
    }
}

void SetPhysicsEnabled(ModelInstance& instance, bool on) {
    instance.physicsEnabled = on ? 1 : 0;
    for (BoneState& bone : instance.bones) {
        bone.physicsEnabled = on ? 1 : 0;
        if (bone.drivingBody != nullptr) {
            if (on) {
                MakeDynamic(bone.drivingBody);
            } else {
                MakeKinematic(bone.drivingBody);
            }
        }
    }
}

void SyncKinematicBodies(BoneState& bone) {
    if (bone.physicsEnabled == 0 && bone.drivingBody != nullptr) {
        MoveKinematic(bone.drivingBody, KinematicBodyPose(bone, bone.drivingBodyRestPose));
    }
    for (std::size_t k = 0; k < bone.followerBodies.size(); ++k) {
        MoveKinematic(bone.followerBodies[k], KinematicBodyPose(bone, bone.followerRestPoses[k]));
    }
}

void FollowDrivingBody(BoneState& bone, const Quaternion& blendedRotation) {
    btRigidBody* body = bone.drivingBody;
    btTransform now = body->getWorldTransform();
    if (!IsFinite(now)) {
        // The simulation blew up for this body: put it back where its bone's
        // kinematic pose says, at rest, and keep that pose for the bone.
        MoveKinematic(body, KinematicBodyPose(bone, bone.drivingBodyRestPose));
        body->setLinearVelocity(btVector3(0, 0, 0));
        body->setAngularVelocity(btVector3(0, 0, 0));
        body->clearForces();
        bone.currentAxisX = TransformDirection(bone.localAxisX, bone.localMatrix, 1.0f);
        bone.currentAxisZ = TransformDirection(bone.localAxisZ, bone.localMatrix, 1.0f);
        bone.appendedRotation = blendedRotation;
        return;
    }
    // boneWorld = bodyNow · inverse(bodyRest) · boneRest, in row-vector form:
    // the bone keeps its rest offset to the body.
    const BodyPose& rest = bone.drivingBodyRestPose;
    const Quaternion nowRotation = FromBullet(now.getRotation());
    const Quaternion turn = Multiply(nowRotation, Conjugate(rest.rotation));
    const Vector4 offset = Rotate(Subtract3(bone.restTail, rest.position), turn);
    Matrix4& world = bone.worldMatrix;
    if (bone.drivingBodyKeepsBonePosition) {
        // Mode 2: the bone stays where its parents put it and only turns with
        // the body, and the body is moved along to that place, so a hair root
        // or a skirt top cannot stretch away from the body it hangs from.
        // The head is where the kinematic update put it; the frame, at the
        // tail, turns about it with the body.
        const Vector4 tail = Rotate(bone.pivot, turn);
        const Vector4 origin = Add3(bone.jointPosition, tail);
        world = RotationMatrix(turn);
        world.m[3][0] = origin.x;
        world.m[3][1] = origin.y;
        world.m[3][2] = origin.z;
        now.setOrigin(btVector3(origin.x - offset.x, origin.y - offset.y, origin.z - offset.z));
        body->setWorldTransform(now);
        body->getMotionState()->setWorldTransform(now);
        // Its place is the bone's, not the simulation's: a velocity kept from
        // the step would only build up against the place it is put back to.
        body->setLinearVelocity(btVector3(0, 0, 0));
    } else {
        const btVector3& p = now.getOrigin();
        world = RotationMatrix(turn);
        world.m[3][0] = offset.x + p.x();
        world.m[3][1] = offset.y + p.y();
        world.m[3][2] = offset.z + p.z();
    }
    bone.worldRotation = turn;
    bone.framePosition = {world.m[3][0], world.m[3][1], world.m[3][2], 1.0f};

    if (bone.parent == nullptr) {
        bone.localMatrix = world;
    } else {
        // localMatrix = worldMatrix · inverse(parent.worldMatrix); the parent
        // is a rigid transform, so its inverse is its transposed rotation.
        const Matrix4& pw = bone.parent->worldMatrix;
        Matrix4 inverse;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                inverse.m[r][c] = pw.m[c][r];
            }
        }
        const Vector4 t = TransformDirection({pw.m[3][0], pw.m[3][1], pw.m[3][2], 0.0f}, inverse);
        inverse.m[3][0] = -t.x;
        inverse.m[3][1] = -t.y;
        inverse.m[3][2] = -t.z;
        MultiplyAffine(world, inverse, bone.localMatrix);
    }
    bone.currentAxisX = TransformDirection(bone.localAxisX, bone.localMatrix, 1.0f);
    bone.currentAxisZ = TransformDirection(bone.localAxisZ, bone.localMatrix, 1.0f);
    // Bones that append this one take the turn the body gave it.
    bone.appendedRotation = MatrixToQuaternion(bone.localMatrix);
}

}  // namespace qv
