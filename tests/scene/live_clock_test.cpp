// The live player's physics must follow the render clock's at any frame rate, not fall behind.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/chain_scene.h"

namespace qv {

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
    ASSERT_EQ(scene.made, S_OK);
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
    // A bone posed by hand while paused shows at the end of the next frame.
    chain.playing = 0;
    const float rootY = chain.bones[0].framePosition.y;
    chain.bones[0].translation.y += 2.0f;
    AdvanceLiveFrame(scene.content, 0.5f, 0.5f);
    EXPECT_NEAR(chain.motion.time, 0.5f, 1e-6f);
    EXPECT_NEAR(chain.bones[0].framePosition.y, rootY + 2.0f, 1e-4f);
    EXPECT_LT(scene.content.physics->accumulator, scene.content.physics->stepSeconds);
    // Two frames at one moment (a zero-length frame) still move a playing
    // motion to the time it is given.
    chain.playing = 1;
    AdvanceLiveFrame(scene.content, 0.0f, 0.25f);
    EXPECT_NEAR(chain.motion.time, 0.75f, 1e-6f);
    // A motion time that is no number moves nothing; a frame time that is
    // none runs no step and still moves the motion by its own time.
    AdvanceLiveFrame(scene.content, 1.0f / 30.0f, std::nanf(""));
    EXPECT_NEAR(chain.motion.time, 0.75f, 1e-6f);
    const float owed = scene.content.physics->accumulator;
    AdvanceLiveFrame(scene.content, std::nanf(""), 0.25f);
    EXPECT_NEAR(chain.motion.time, 1.0f, 1e-6f);
    EXPECT_EQ(scene.content.physics->accumulator, owed);
    // Nor does a frame that ends before it starts.
    AdvanceLiveFrame(scene.content, -1.0f, 0.0f);
    EXPECT_EQ(scene.content.physics->accumulator, owed);
}

}  // namespace qv
