// The live player's clock: a frame's physics steps, each seeing the bones of its own moment.
#pragma once

namespace qv {

struct SceneContent;

// Advances a frame of the live player: physics by `frameSeconds` of real
// time, in the fixed steps the world's accumulator says are due (at most
// PhysicsWorld::kMaxStepsPerFrame), and every playing model's motion by
// `motionSeconds`. Before each step after the first the models are brought
// to that step's moment in the frame, so the kinematic bodies a step sees
// stand where the bones were then, as the offline clock does; the first
// step sees the pose the previous frame ended on. At the step rate and above
// (one step or none a frame) this is the old order: step, then the models.
// Main thread, inside the scene update.
void AdvanceLiveFrame(SceneContent& content, float frameSeconds, float motionSeconds);

}  // namespace qv
