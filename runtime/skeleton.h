// The bone hierarchy of an instance and how a bone's world pose is brought up to date.
#pragma once

#include "runtime/pose_math.h"

namespace qv {

struct BoneState;
struct ModelInstance;
struct PmxModel;

// Fills instance.bones from the model's bones. Out-of-range parent, append
// and tail indices count as absent. A parent link that would close a cycle is
// dropped, making that bone a root.
void BuildSkeleton(ModelInstance& instance, const PmxModel& model);

// Recomputes one bone from its rotation and translation and its parent's
// world values; the parent must be current.
void UpdateBoneTransform(BoneState& bone);

// UpdateBoneTransform less the bone's current axes and frame position: what
// an IK iteration needs of the bones it moves. The solve brings the whole
// bone up to date once it ends.
void UpdateChainBoneTransform(BoneState& bone);

// Less still: the bone's joint position alone, where its parent puts it. An
// effector below the links needs no more until the solve ends, as nothing
// the iterations read hangs below it.
void UpdateChainJointPosition(BoneState& bone);

// The bone, then its descendants depth first in children order.
void UpdateBoneSubtree(BoneState& bone);

// Orders the bones for transforming (appends, IK, after-physics bones); run
// by BuildSkeleton, and again once the IK data exists.
void PlanTransformOrder(ModelInstance& instance);

// Works out the share of its append parent's current pose that a bone adds
// to its own (appendTurn, appendMove) and the result (appendedRotation and
// appendedTranslation). Runs in transform order before the hierarchy walk,
// and again for a bone whose append parent changed since (IK, bodies).
void ResolveAppend(BoneState& bone);

// Every root in index order, each with its subtree, after resolving every
// append in transform order.
void UpdateSkeletonBeforePhysics(ModelInstance& instance);

// Refreshes the bones flagged to transform after physics, with their
// subtrees, once the bones driven by bodies have taken the bodies' poses.
void UpdateBonesAfterPhysics(ModelInstance& instance);

// Both of the above: the whole skeleton.
void UpdateSkeleton(ModelInstance& instance);

// T(-restTail)·worldMatrix: the bone's deformation relative to rest.
Matrix4 SkinningMatrix(const BoneState& bone);

}  // namespace qv
