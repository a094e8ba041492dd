// A model's rigid bodies and joints: which follow their bone and which drive it.
#pragma once

#include "runtime/physics_hooks.h"

#include "runtime/bone_state.h"

namespace qv {

struct ModelInstance;
struct PmxModel;
class PhysicsWorld;

// A model's rigid bodies and joints in the shared physics world.
//
// Bodies start where the PMX file puts them (position and rotation), as
// spheres, boxes or capsules along their local Y axis. Mode 0 bodies follow
// their bone kinematically; modes 1 and 2 are simulated and drive their bone,
// which keeps its rest offset to the body. instance.bodies stays aligned with
// the PMX rigid-body indices: a record that makes no body leaves a null slot.
// Both run under the world's write lock, which the caller holds.
void BuildBodies(ModelInstance& instance, const PmxModel& model, PhysicsWorld& world);

// Spring 6-DOF joints between the bodies, framed by the joint's position and
// rotation. A joint naming a body that does not exist is skipped.
void BuildJoints(ModelInstance& instance, const PmxModel& model, PhysicsWorld& world);

// Removes and frees the instance's joints and bodies; the caller holds the
// world's write lock.
void ReleaseBodies(ModelInstance& instance, PhysicsWorld& world);

// Where a body whose rest pose is rest belongs when its bone is posed as now:
// the body keeps its rest offset to the bone's rest frame T(restTail).
BodyPose KinematicBodyPose(const BoneState& bone, const BodyPose& rest);

// Impulse morphs at a weight other than 0 set the velocity of their bodies
// (weight × velocity) and push them round (weight × torque, as an impulse),
// every frame, in the body's own frame for local offsets. Simulated bodies
// only; does nothing for an instance without bodies.
void ApplyImpulseMorphs(ModelInstance& instance);

// Physics on: driving bodies are simulated and bones follow them. Off: they
// turn kinematic and follow their bones. The caller holds the write lock.
void SetPhysicsEnabled(ModelInstance& instance, bool on);

}  // namespace qv
