// The offline renderer's clock: every frame at exactly its own time, physics
// stepped as often as the time needs, however long the frame took to draw.
#pragma once

#include <cstdint>

namespace qv {

struct SceneContent;

// Frame i of a render shows time `start + i / fps`. Models advance with the
// physics world one step at a time, so each step sees the bones of its own
// instant and a render matches a scene played at the step rate; a frame
// time between two steps is reached by a model update without physics.
//
// Plain data, owned by the render loop and used on its one thread. The
// content's models must already be playing their motions.
struct FixedClock {
    double start = 0.0;  // seconds of motion time at frame 0
    double fps = 30.0;
    // Where the content stands: physics steps taken since `start`, and the
    // motion time every model has been advanced to.
    std::uint64_t stepsTaken = 0;
    double modelTime = 0.0;
};

// The seconds a settle lasts before the first frame.
inline constexpr double kSettleSeconds = 1.0;

// The most steps one settle takes: a second at twice the default rate. A
// settle runs inside one frame (every seek, loop and arrow step), so a tiny
// step time must shorten the settle rather than freeze the player.
inline constexpr std::uint64_t kMaxSettleSteps = 120;

// Poses every model at `clock.start`, then lets physics settle for `seconds`
// with the motions held there, so hair and cloth hang at rest when the
// first frame is drawn. Resets the clock's counts.
void SettleAtStart(SceneContent& content, FixedClock& clock, double seconds = kSettleSeconds);

// Steps physics for `seconds` with every model held where it stands, so
// bodies come to rest at the current pose; restarts the accumulator. For a
// render's first frame and for the player's seeks. Takes at most
// kMaxSettleSteps steps; returns the number taken.
std::uint64_t SettlePhysics(SceneContent& content, double seconds);

// Advances physics and models to the time of frame `frame`. Frames must come
// in increasing order; a frame already reached changes nothing.
void AdvanceToFrame(SceneContent& content, FixedClock& clock, std::uint64_t frame);

// The time of frame `frame` on this clock.
double FrameTime(const FixedClock& clock, std::uint64_t frame);

}  // namespace qv
