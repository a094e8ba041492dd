// Everything one bone carries through a frame: pose, IK links, the bodies it drives or follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/pose_math.h"

// The rigid-body type of the physics engine; bones only hold pointers to it.
class btRigidBody;

namespace qv {

struct BoneState;

// A body's pose in model space: rotation, then position.
struct BodyPose {
    Quaternion rotation;
    Vector4 position;
};

// A bone a solve refreshes after turning a link. Where no link is it and
// nothing on the way hangs below it, its joint position is all the solve reads.
struct ChainBone {
    BoneState* bone = nullptr;
    std::uint8_t jointOnly = 0;
};

// One link of an IK chain. Limits are Euler angles X, Y, Z in radians.
struct IkLink {
    BoneState* bone = nullptr;
    std::uint8_t hasLimit = 0;
    float lowerLimit[3] = {0.0f, 0.0f, 0.0f};
    float upperLimit[3] = {0.0f, 0.0f, 0.0f};

    // What a solve must refresh after turning this link: the bones of its
    // subtree that lie on the way to the target, the IK bone or another link,
    // in hierarchy order. The rest of the subtree is refreshed once, after
    // the solve, from the links that no other link holds in its subtree
    // (topmost).
    std::vector<ChainBone> chainBones;
    std::uint8_t topmost = 1;
};

// The runtime pose of one bone. A bone's frame sits at its tail: at rest,
// worldMatrix is T(restTail), so the skinning matrix T(-restTail)·worldMatrix
// is the identity.
struct BoneState {
    std::uint64_t index = 0;
    std::u16string name;
    BoneState* parent = nullptr;
    // Append (inherited) motion: the bone turns and moves by its own pose and,
    // on top of it, by appendRatio of its append parent's (a negative ratio
    // turns the other way). Local append takes the parent's own local pose;
    // otherwise the parent's own append result is chained in.
    BoneState* appendParent = nullptr;
    float appendRatio = 0.0f;
    std::uint8_t appendRotation = 0;
    std::uint8_t appendTranslation = 0;
    std::uint8_t appendLocal = 0;
    // Transform order: after-physics bones last, then by deform layer, then
    // by index. It orders appends and IK; world matrices follow the hierarchy.
    std::int32_t deformLayer = 0;
    std::uint8_t afterPhysics = 0;
    std::vector<BoneState*> children;
    Vector4 tailVector;
    Vector4 restHead;
    Vector4 restOffset;
    Vector4 restTail;
    Vector4 localAxisX{1.0f, 0.0f, 0.0f, 0.0f};
    Vector4 localAxisZ{0.0f, 0.0f, 1.0f, 0.0f};
    Vector4 pivot;
    Vector4 translation;
    Quaternion rotation;
    // What bone morphs add to the local pose, before IK; morphPosed is 0
    // while both are neutral.
    Vector4 morphTranslation;
    Quaternion morphRotation;
    std::uint8_t morphPosed = 0;
    // The local rotation and motion translation (relative to rest) the bone
    // last took, its append included: what bones that append it chain in.
    Quaternion appendedRotation;
    Vector4 appendedTranslation;
    // The append alone, as resolved in transform order: the share of the
    // append parent's turn and move this bone adds to its own pose.
    Quaternion appendTurn;
    Vector4 appendMove;
    Vector4 currentAxisX{1.0f, 0.0f, 0.0f, 0.0f};
    Vector4 currentAxisZ{0.0f, 0.0f, 1.0f, 0.0f};
    Matrix4 localMatrix;
    Vector4 jointPosition;
    Vector4 framePosition;
    Quaternion worldRotation;
    Matrix4 worldMatrix;

    // Physics binding. Filled by the physics layer; null and empty until then.
    std::uint8_t physicsEnabled = 1;
    BodyPose drivingBodyRestPose;
    btRigidBody* drivingBody = nullptr;
    // Physics mode 2: the bone keeps the position its parents give it and
    // takes only its rotation from the body.
    std::uint8_t drivingBodyKeepsBonePosition = 0;
    std::vector<BodyPose> followerRestPoses;
    std::vector<btRigidBody*> followerBodies;

    // Inverse kinematics, for bones that carry an IK chain.
    std::uint8_t ikEnabled = 0;
    // The motion's IK switch at the current time (1 without switch keys). A
    // chain is solved only while both this and ikEnabled, the interface's
    // switch, are on: the user's "off" always holds.
    std::uint8_t ikMotionEnabled = 1;
    BoneState* ikTarget = nullptr;
    std::uint32_t ikLoopCount = 0;
    float ikLimitAngle = 0.0f;
    std::vector<IkLink> ikLinks;
    // Bones that append one of this chain's links, directly or through other
    // appends, in transform order: after a solve they and their subtrees are
    // all that it leaves out of date.
    std::vector<BoneState*> ikAppendDependents;

    // The hierarchy flattened in depth-first order (children in index order,
    // roots in index order), so that a subtree is walked without recursion:
    // from this bone along preorderNext until subtreeEnd. Deep chains in
    // content therefore cannot exhaust the stack.
    BoneState* preorderNext = nullptr;
    BoneState* subtreeEnd = nullptr;
};

}  // namespace qv
