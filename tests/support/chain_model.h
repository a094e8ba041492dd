// A chain of two simulated links hanging from a kinematic root, for physics tests and benchmarks.
#pragma once

#include <string>

#include "formats/pmx_model.h"
#include "tests/support/model_builders.h"

namespace qv {

inline PmxRigidBody MakeBody(std::u16string name, std::int32_t bone, Float3 position,
                             std::uint32_t mode, std::uint32_t shape = 0,
                             Float3 size = {0.2f, 0.2f, 0.2f}) {
    PmxRigidBody body;
    body.name = std::move(name);
    body.boneIndex = bone;
    body.position = position;
    body.physicsMode = mode;
    body.shape = shape;
    body.size = size;
    body.mass = 1.0f;
    body.linearDamping = 0.5f;
    body.angularDamping = 0.5f;
    body.friction = 0.5f;
    body.group = 0;
    body.noCollisionMask = 0;  // collides with no other body, only the ground
    return body;
}

inline PmxJoint MakeJoint(std::int32_t a, std::int32_t b, Float3 position, float swing) {
    PmxJoint joint;
    joint.rigidBodyA = a;
    joint.rigidBodyB = b;
    joint.position = position;
    joint.rotationLower = {-swing, 0.0f, -swing};
    joint.rotationUpper = {swing, 0.0f, swing};
    return joint;
}

// A horizontal chain of three bones: a kinematic root and two simulated
// links, joined by joints that let them swing down by at most `swing`.
inline PmxModel ChainModel(float swing) {
    PmxModel model;
    model.bones = {MakeBone(u"root", {0, 10, 0}, -1, {1, 0, 0}),
                   MakeBone(u"link1", {1, 10, 0}, 0, {1, 0, 0}),
                   MakeBone(u"link2", {2, 10, 0}, 1, {1, 0, 0})};
    model.rigidBodies = {MakeBody(u"anchor", 0, {0.5f, 10, 0}, 0),
                         MakeBody(u"b1", 1, {1.5f, 10, 0}, 1),
                         MakeBody(u"b2", 2, {2.5f, 10, 0}, 1)};
    model.joints = {MakeJoint(0, 1, {1, 10, 0}, swing), MakeJoint(1, 2, {2, 10, 0}, swing)};
    return model;
}

}  // namespace qv
