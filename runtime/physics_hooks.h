// The two points where physics touches the pose, kept separate so the pose needs no physics.
#pragma once

namespace qv {

// Where the physics layer joins the pose pipeline (physics_bodies.cpp). For a
// model built without a physics world no bone has a driving or follower body,
// and both do nothing.

struct BoneState;
struct Quaternion;

// Moves the bone's kinematic bodies to its current pose.
void SyncKinematicBodies(BoneState& bone);

// Replaces a body-driven bone's world values with the body's simulated pose.
// blendedRotation is the local rotation after the append blend.
void FollowDrivingBody(BoneState& bone, const Quaternion& blendedRotation);

}  // namespace qv
