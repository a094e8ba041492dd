// The live clock: as many fixed steps as a frame's time holds, the models moved between them.
#include "scene/live_clock.h"

#include <algorithm>
#include <cmath>

#include "scene/scene_content.h"

namespace qv {

namespace {

// Moves every model on by the part of the frame's motion that lies before
// `moment` (seconds into the frame) and has not been moved yet. Between two
// steps only a model whose motion runs has a new pose for the bodies to
// follow; the frame's last update poses every model.
void UpdateModelsTo(SceneContent& content, float moment, float frameSeconds, float motionSeconds,
                    float& moved, bool betweenSteps) {
    const float fraction =
        frameSeconds > 0.0f ? std::clamp(moment / frameSeconds, 0.0f, 1.0f) : 1.0f;
    const float delta = fraction * motionSeconds - moved;
    if (betweenSteps && delta == 0.0f) {
        return;
    }
    for (auto& model : content.models) {
        if (!betweenSteps || model.instance->playing != 0) {
            UpdateModel(*model.instance, delta);
        }
    }
    moved += delta;
}

}  // namespace

void AdvanceLiveFrame(SceneContent& content, float frameSeconds, float motionSeconds) {
    if (!std::isfinite(frameSeconds) || frameSeconds < 0.0f) {
        frameSeconds = 0.0f;
    }
    if (!std::isfinite(motionSeconds)) {
        motionSeconds = 0.0f;
    }
    float moved = 0.0f;
    if (content.physics) {
        PhysicsWorld& world = *content.physics;
        const int steps = DueSteps(world, frameSeconds);
        // Step k of n ends where the time left in the accumulator begins,
        // counted back from the frame's end.
        const float lastEnd = frameSeconds - world.accumulator;
        for (int k = 0; k < steps; ++k) {
            if (k > 0) {
                const float moment = lastEnd - static_cast<float>(steps - k) * world.stepSeconds;
                UpdateModelsTo(content, moment, frameSeconds, motionSeconds, moved, true);
            }
            TakePhysicsStep(world);
        }
    }
    UpdateModelsTo(content, frameSeconds, frameSeconds, motionSeconds, moved, false);
}

}  // namespace qv
