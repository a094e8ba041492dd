// The live player's physics must follow the render clock's at any frame rate, not fall behind.
#include <gtest/gtest.h>

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "runtime/motion.h"
#include "scene/fixed_clock.h"
#include "scene/live_clock.h"
#include "scene/scene_content.h"
#include "tests/runtime/chain_model.h"

namespace qv {

namespace {

// The chain's root swings a unit left and right twice a second, so its
// links trail behind it the way hair trails a dancing head.
VmdMotion SwingingRoot(float seconds) {
    VmdMotion motion;
    const auto frames = static_cast<std::uint32_t>(seconds * 30.0f);
    for (std::uint32_t frame = 0; frame <= frames; frame += 15) {
        const float x = (frame / 15) % 2 == 0 ? -1.0f : 1.0f;
        AddBoneKey(motion, u"root", frame, {x, 0.0f, 0.0f});
    }
    return motion;
}

// A scene of one swinging chain, posed at the motion's start.
struct ChainScene {
    SceneContent content;

    explicit ChainScene(float seconds) {
        CreatePhysicsScene(content.physics);
        auto instance = std::make_unique<ModelInstance>();
        EXPECT_EQ(CreateModelInstance(*instance, ChainModel(0.6f), content.physics.get()), S_OK);
        AttachMotion(*instance, SwingingRoot(seconds));
        instance->playing = 1;
        UpdateModel(*instance, 0.0f);
        content.models.push_back({std::move(instance), {}});
    }

    btVector3 Tip() const {
        return content.models[0].instance->bodies[2]->getWorldTransform().getOrigin();
    }
};

// The largest distance, over `seconds` at `fps` frames a second, between
// the chain's tip played live and its place on the render clock.
float LargestTipDistance(double fps, double seconds) {
    ChainScene live(static_cast<float>(seconds) + 1.0f);
    ChainScene fixed(static_cast<float>(seconds) + 1.0f);
    FixedClock clock;
    clock.fps = fps;
    const auto frameSeconds = static_cast<float>(1.0 / fps);
    float largest = 0.0f;
    const auto frames = static_cast<std::uint64_t>(std::llround(seconds * fps));
    for (std::uint64_t frame = 1; frame <= frames; ++frame) {
        AdvanceLiveFrame(live.content, frameSeconds, frameSeconds);
        AdvanceToFrame(fixed.content, clock, frame);
        largest = std::max(largest, live.Tip().distance(fixed.Tip()));
    }
    return largest;
}

}  // namespace

// The two clocks take the same steps with the bones at the same moments,
// so only float rounding of the motion time may part them. One step at
// the wrong moment, or a frame's steps short, puts the swinging tip tenths
// of a unit off within a second (one step a frame at 30 fps: over 3 units).
TEST(LiveClockTest, AChainSwingsAsOnTheRenderClockAtThirtySixtyAndHundredFortyFourFps) {
    for (const double fps : {30.0, 60.0, 144.0}) {
        EXPECT_LT(LargestTipDistance(fps, 4.0), 0.01f) << fps << " fps";
    }
}

TEST(LiveClockTest, MotionsMoveByTheirOwnTimeAndAStallOwesPhysicsNothing) {
    ChainScene scene(2.0f);
    ModelInstance& chain = *scene.content.models[0].instance;
    // The motion's time is the caller's (a song's position), not the frame's.
    AdvanceLiveFrame(scene.content, 1.0f / 30.0f, 0.5f);
    EXPECT_NEAR(chain.motion.time, 0.5f, 1e-6f);
    // The anchor ends the frame where the root stands at that time, at its
    // rest offset half a unit before the root's tail.
    const float rootX = chain.bones[0].framePosition.x;
    EXPECT_NEAR(chain.bodies[0]->getWorldTransform().getOrigin().x(), rootX - 0.5f, 1e-4f);
    // Paused, a model stays put however many steps run; a stall runs the
    // cap and leaves less than a step for the next frame.
    chain.playing = 0;
    AdvanceLiveFrame(scene.content, 0.5f, 0.5f);
    EXPECT_NEAR(chain.motion.time, 0.5f, 1e-6f);
    EXPECT_LT(scene.content.physics->accumulator, scene.content.physics->stepSeconds);
}

}  // namespace qv
