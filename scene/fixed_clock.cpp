// The offline renderer's clock: whole physics steps per frame, none dropped.
#include "scene/fixed_clock.h"

#include <algorithm>
#include <cmath>

#include "runtime/physics_world.h"
#include "scene/scene_content.h"

namespace qv {

namespace {

// 3 s at 60 steps a second is 180 steps, not the 179 that float rounding of
// the step would give.
constexpr double kStepTolerance = PhysicsWorld::kStepTolerance;

void UpdateModelsTo(SceneContent& content, FixedClock& clock, double time) {
    // The delta comes from absolute times, so rounding never builds up
    // between the motion clock and the physics clock.
    const auto delta = static_cast<float>(time - clock.modelTime);
    for (auto& model : content.models) {
        UpdateModel(*model.instance, delta);
    }
    clock.modelTime = time;
}

}  // namespace

double FrameTime(const FixedClock& clock, std::uint64_t frame) {
    return static_cast<double>(frame) / clock.fps;
}

void SettleAtStart(SceneContent& content, FixedClock& clock, double seconds) {
    clock.stepsTaken = 0;
    clock.modelTime = 0.0;
    UpdateModelsTo(content, clock, clock.start);
    // Relative times from here on: the start pose is already in the motions.
    clock.modelTime = 0.0;
    SettlePhysics(content, seconds);
    // Accessories are drawn, not simulated: once where the frame stands.
    UpdateAccessories(content);
}

std::uint64_t SettlePhysics(SceneContent& content, double seconds) {
    if (!content.physics) {
        return 0;
    }
    const double step = content.physics->stepSeconds;
    const double wanted = std::floor(seconds / step + kStepTolerance);
    const std::uint64_t steps =
        wanted > 0.0 ? static_cast<std::uint64_t>(std::min(wanted, double(kMaxSettleSteps))) : 0;
    for (std::uint64_t i = 0; i < steps; ++i) {
        TakePhysicsStep(*content.physics);
        for (auto& model : content.models) {
            UpdateModel(*model.instance, 0.0f);
        }
    }
    content.physics->accumulator = 0.0f;
    return steps;
}

void AdvanceToFrame(SceneContent& content, FixedClock& clock, std::uint64_t frame) {
    const double target = FrameTime(clock, frame);
    if (target <= clock.modelTime) {
        return;
    }
    if (content.physics) {
        const double step = content.physics->stepSeconds;
        const auto due = static_cast<std::uint64_t>(std::floor(target / step + kStepTolerance));
        for (; clock.stepsTaken < due; ++clock.stepsTaken) {
            TakePhysicsStep(*content.physics);
            UpdateModelsTo(content, clock, static_cast<double>(clock.stepsTaken + 1) * step);
        }
    }
    if (target > clock.modelTime) {
        UpdateModelsTo(content, clock, target);
    }
    UpdateAccessories(content);
}

}  // namespace qv
