// One model as it plays: pose, motion, morph weights and physics, built once and never copied.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "formats/vector_types.h"
#include "platform/result_code.h"
#include "runtime/bone_state.h"
#include "runtime/ik.h"
#include "runtime/morphs.h"
#include "runtime/motion.h"

class btTypedConstraint;

namespace qv {

struct PmxModel;
class PhysicsWorld;

// One loaded model: its pose, motion, morph weights and physics links.
// Bones, weights and tracks point at each other, so an instance is never
// copied. Moving keeps every heap block in place and is allowed; the bone and
// weight vectors are never resized after creation.
struct ModelInstance {
    ModelInstance() = default;
    ModelInstance(const ModelInstance&) = delete;
    ModelInstance& operator=(const ModelInstance&) = delete;
    ModelInstance(ModelInstance&&) = default;
    ModelInstance& operator=(ModelInstance&&) = default;

    std::vector<BoneState> bones;
    std::uint8_t physicsEnabled = 1;
    std::uint8_t playing = 0;

    MotionState motion;
    std::vector<IkControl> ikControls;
    // How the solves refresh the bones they turn; Everything only to check
    // that the default leaves the same pose.
    IkRefresh ikRefresh = IkRefresh::WhatTheSolveReads;
    // Transform order (skeleton.h): appending bones, IK bones, and the
    // topmost after-physics bones.
    std::vector<BoneState*> appendOrder;
    std::vector<BoneState*> ikOrder;
    std::vector<BoneState*> afterPhysicsBones;
    std::vector<BoneState*> afterPhysicsAppends;  // appending bones among them

    // One weight per PMX morph, of every kind: what motions and the
    // interface set. ApplyMorphs turns them into the weights below.
    std::vector<float> morphWeights;
    std::vector<MorphState> morphStates;
    std::vector<float> morphEffective;  // scratch of ApplyMorphs, one per morph
    std::vector<BoneState*> morphedBones;
    // Per material, what material morphs do to it this frame (value ×
    // multiply + add); neutral without material morphs.
    std::vector<MaterialMorphResult> materialMorphs;
    std::uint32_t materialMorphCount = 0;
    // Weights of the additional-UV morphs (kinds 4 to 7), in morph order.
    std::vector<float> additionalUvMorphWeights;

    std::uint32_t vertexCount = 0;
    std::uint32_t vertexMorphCount = 0;
    std::uint32_t uvMorphCount = 0;
    // The weights the GPU applies, derived every frame from morphWeights
    // (group and flip morphs included).
    std::vector<float> vertexMorphWeights;
    std::vector<float> uvMorphWeights;
    // Points into morphWeights; of two morphs with one name the later wins.
    std::map<std::u16string, float*> morphWeightByName;
    std::vector<MorphControl> morphControls;

    // Simulated bodies in rigid-body order; filled by the physics layer.
    std::vector<btRigidBody*> bodies;
    // The joints between them, released with the bodies.
    std::vector<btTypedConstraint*> joints;
};

// Builds the skeleton, the rigid bodies (when a physics world is given), the
// IK data, the joints and the morphs of a fresh instance, and poses it at
// rest. The caller holds the physics world's write lock.
// E_OUTOFMEMORY (instance left empty) when the model's tables do not fit in
// memory.
HRESULT CreateModelInstance(ModelInstance& instance, const PmxModel& model,
                            PhysicsWorld* physics = nullptr);

// The per-frame pipeline. While playing: advance the clock (clamped to the
// end; the frame reaching it evaluates there, later ones keep that pose),
// evaluate, apply the morphs (impulse morphs too), update the skeleton in
// transform order, solve every enabled IK chain whose motion switch is on,
// then refresh the after-physics bones. Paused: apply the morphs and update
// the skeleton. Always: move kinematic bodies. A delta that is not a finite
// number counts as 0.
void UpdateModel(ModelInstance& instance, float deltaSeconds);

// Solves every enabled IK chain (the interface's switch and the motion's
// both on) in transform order, keeping the bones that append a link's pose
// current after each solve.
void SolveEnabledIk(ModelInstance& instance);

}  // namespace qv
