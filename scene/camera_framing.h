// "Reset view": the orbit camera turned to the front and drawn back until every model fits.
#pragma once

namespace qv {

struct Camera;
struct SceneContent;

// Turns the camera to the front (no yaw, pitch or roll), aims it at the
// centre of the box around every model's posed bones, widened by a margin
// for the hair, clothes and limbs around them, and sets the distance so the
// box fits the view vertically and horizontally. Without a model the
// camera goes back to where it starts. Main thread.
void FrameModels(Camera& camera, const SceneContent& content);

}  // namespace qv
