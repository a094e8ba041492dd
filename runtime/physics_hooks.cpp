#include "runtime/physics_hooks.h"

#include "runtime/bone_state.h"

// No rigid bodies are simulated yet, so no bone has a body to move or to
// follow. The physics layer replaces these bodies.

void SyncKinematicBodies(BoneState& bone) {
    (void)bone;
}

void FollowDrivingBody(BoneState& bone, const Quaternion& blendedRotation) {
    (void)bone;
    (void)blendedRotation;
}
