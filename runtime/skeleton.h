#pragma once

#include "runtime/pose_math.h"

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

// The bone, then its descendants depth first in children order.
void UpdateBoneSubtree(BoneState& bone);

// Every root in index order, each with its subtree.
void UpdateSkeleton(ModelInstance& instance);

// T(-restTail)·worldMatrix: the bone's deformation relative to rest.
Matrix4 SkinningMatrix(const BoneState& bone);
