// Builds an instance in order (skeleton, bodies, IK, joints, morphs), leaving nothing half made.
#include "runtime/model_instance.h"

#include <cmath>
#include <new>
#include <stdexcept>

#include "formats/pmx_model.h"
#include "runtime/ik.h"
#include "runtime/morphs.h"
#include "runtime/physics_bodies.h"
#include "runtime/skeleton.h"

namespace qv {

namespace {

// A half-built instance leaves nothing behind in the shared world.
void Discard(ModelInstance& instance, PhysicsWorld* physics) {
    if (physics != nullptr) {
        ReleaseBodies(instance, *physics);
    }
    instance = ModelInstance{};
}

}  // namespace

HRESULT CreateModelInstance(ModelInstance& instance, const PmxModel& model, PhysicsWorld* physics) {
    try {
        BuildSkeleton(instance, model);
        if (physics != nullptr) {
            // Before the IK data, which must know which bones a body drives.
            BuildBodies(instance, model, *physics);
        }
        BuildIk(instance, model);
        if (physics != nullptr) {
            BuildJoints(instance, model, *physics);
        }
        BuildMorphs(instance, model);
    } catch (const std::bad_alloc&) {
        Discard(instance, physics);
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        Discard(instance, physics);
        return E_OUTOFMEMORY;
    }
    ApplyMorphs(instance);
    UpdateSkeleton(instance);
    return S_OK;
}

void SolveEnabledIk(ModelInstance& instance) {
    for (BoneState* bone : instance.ikOrder) {
        if (bone->ikEnabled != 1 || bone->ikMotionEnabled == 0) {
            continue;
        }
        SolveIk(*bone, instance.ikRefresh);
        // A solve leaves the subtrees it turned current; bones that append a
        // link's new pose are all it leaves behind, and a later chain may
        // hang below one of them.
        for (BoneState* dependent : bone->ikAppendDependents) {
            ResolveAppend(*dependent);
            UpdateBoneSubtree(*dependent);
        }
    }
}

void UpdateModel(ModelInstance& instance, float deltaSeconds) {
    MotionState& motion = instance.motion;
    if (instance.playing != 0) {
        const float previous = motion.time;
        motion.time += std::isfinite(deltaSeconds) ? deltaSeconds : 0.0f;
        if (motion.time >= motion.end) {
            motion.time = motion.end;
            // The frame that reaches the end shows the final keys; after that
            // the clock stands and the last pose stays (IK still runs on it),
            // so edits made at the end are not overwritten.
            if (previous < motion.end) {
                EvaluateMotion(instance);
            }
        } else {
            EvaluateMotion(instance);
        }
        ApplyMorphs(instance);
        ApplyImpulseMorphs(instance);
        UpdateSkeletonBeforePhysics(instance);
        SolveEnabledIk(instance);
        UpdateBonesAfterPhysics(instance);
    } else {
        ApplyMorphs(instance);
        UpdateSkeleton(instance);
    }

    // Kinematic bodies follow every bone, parents before children.
    for (BoneState& bone : instance.bones) {
        if (bone.parent == nullptr) {
            for (BoneState* b = &bone; b != bone.subtreeEnd && b != nullptr; b = b->preorderNext) {
                SyncKinematicBodies(*b);
            }
        }
    }
}

}  // namespace qv
