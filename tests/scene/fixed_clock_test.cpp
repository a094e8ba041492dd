// The render clock: whole physics steps for every frame's time, none dropped,
// and Gene's hair where a scene played at the step rate puts it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <nlohmann/json.hpp>

#include "formats/pmx_model.h"
#include "formats/text_decode.h"
#include "formats/vmd_motion.h"
#include "formats/vmd_names.h"
#include "runtime/model_instance.h"
#include "runtime/motion.h"
#include "runtime/physics_bodies.h"
#include "scene/fixed_clock.h"
#include "scene/scene_content.h"
#include "tests/support/command_output.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

TEST(FixedClockTest, EveryFrameTimeGetsItsWholeStepsHoweverFarItJumps) {
    SceneContent content;
    CreatePhysicsScene(content.physics);
    auto accessory = std::make_unique<ModelInstance>();
    accessory->bones.resize(1);
    AccessorySettings placed;
    placed.position = {1.0f, 2.0f, 3.0f};
    content.accessories.push_back({std::move(accessory), "hat.x", placed});
    FixedClock clock;
    clock.fps = 30.0;
    // 60 steps a second: two a frame at 30 fps, the frame time on a step.
    AdvanceToFrame(content, clock, 1);
    EXPECT_EQ(clock.stepsTaken, 2u);
    // Each frame's accessories stand where that frame puts them.
    const Matrix4& frame = content.accessories[0].instance->bones[0].worldMatrix;
    EXPECT_EQ((Vector4{frame.m[3][0], frame.m[3][1], frame.m[3][2], 0.0f}),
              (Vector4{1.0f, 2.0f, 3.0f, 0.0f}));
    EXPECT_DOUBLE_EQ(clock.modelTime, 2.0 * content.physics->stepSeconds);
    // 3 s is 180 steps although 180 float steps overshoot 3 s by a hair.
    AdvanceToFrame(content, clock, 90);
    EXPECT_EQ(clock.stepsTaken, 180u);
    // A frame already reached changes nothing.
    AdvanceToFrame(content, clock, 90);
    AdvanceToFrame(content, clock, 3);
    EXPECT_EQ(clock.stepsTaken, 180u);

    // 24 fps: 2.5 steps a frame; the half step is reached by the models alone.
    FixedClock film;
    film.fps = 24.0;
    AdvanceToFrame(content, film, 1);
    EXPECT_EQ(film.stepsTaken, 2u);
    EXPECT_DOUBLE_EQ(film.modelTime, 1.0 / 24.0);
    AdvanceToFrame(content, film, 2);
    EXPECT_EQ(film.stepsTaken, 5u);
    AdvanceToFrame(content, film, 240);
    EXPECT_EQ(film.stepsTaken, 600u);
}

TEST(FixedClockTest, ASettleIsCappedHoweverShortTheStep) {
    SceneContent content;
    CreatePhysicsScene(content.physics);
    EXPECT_EQ(SettlePhysics(content, 0.5), 30u);
    EXPECT_EQ(SettlePhysics(content, content.physics->stepSeconds), 1u);
    // 50,000 steps uncapped: a seek would freeze the player.
    content.physics->stepSeconds = 1e-5f;
    EXPECT_EQ(SettlePhysics(content, 0.5), kMaxSettleSteps);
    EXPECT_EQ(SettlePhysics(content, NAN), 0u);
    content.physics.reset();  // nothing to settle
    EXPECT_EQ(SettlePhysics(content, 0.5), 0u);
    EXPECT_EQ(SettlePhysics(content, -1.0), 0u);
}

TEST(FixedClockTest, SettlingTakesASecondOfStepsAndLeavesTheClockAtTheStart) {
    SceneContent content;
    CreatePhysicsScene(content.physics);
    FixedClock clock;
    clock.start = 12.5;
    clock.stepsTaken = 7;
    clock.modelTime = 3.0;
    // An accessory stands where its settings put it from the first frame.
    auto accessory = std::make_unique<ModelInstance>();
    accessory->bones.resize(1);
    AccessorySettings placed;
    placed.position = {1.0f, 2.0f, 3.0f};
    content.accessories.push_back({std::move(accessory), "hat.x", placed});
    // A dance set playing from its start goes to the clock's start, wherever the clock stood.
    content.models.push_back({std::make_unique<ModelInstance>(), {}});
    ModelInstance& dancer = *content.models.back().instance;
    ASSERT_TRUE(Succeeded(CreateModelInstance(dancer, SamplePmxModel(), content.physics.get())));
    const std::u16string center = VmdNameCodec().ModelNameKey(u"センター", kVmdKeyNameBytes);
    VmdMotion motion;
    motion.boneKeys[center].push_back({center, 600, {1, 0, 0}, {0, 0, 0, 1}});
    AttachMotion(dancer, motion);
    RewindMotion(dancer);
    dancer.playing = 1;
    SettleAtStart(content, clock);
    EXPECT_FLOAT_EQ(dancer.motion.time, 12.5f);
    const Matrix4& frame = content.accessories[0].instance->bones[0].worldMatrix;
    EXPECT_EQ((Vector4{frame.m[3][0], frame.m[3][1], frame.m[3][2], 0.0f}),
              (Vector4{1.0f, 2.0f, 3.0f, 0.0f}));
    EXPECT_EQ(clock.stepsTaken, 0u);
    EXPECT_EQ(clock.modelTime, 0.0);
    EXPECT_DOUBLE_EQ(FrameTime(clock, 25), 25.0 / 30.0);
}

// qv-pose with physics plays one 60 Hz frame per step, as the live player
// does when it keeps pace: the render clock must land on the same pose
// whatever its frame rate, after the same second of settling.
nlohmann::json PoseFromTool(const std::string& arguments) {
    const std::string command = "'" QV_POSE "' " + arguments + " --json";
    const CommandRun run = RunCommand(command);
    if (run.status != 0) {
        return {};
    }
    return nlohmann::json::parse(run.output);
}

TEST(FixedClockTest, GenesHairAtThreeSecondsMatchesTheStepByStepPlayAtAnyFrameRate) {
    const std::filesystem::path content(QV_CONTENT);
    const auto model = content / "gene" / "Gene_light.pmx";
    const auto motion = content / "gene" / "motion" / "10_impressed.vmd";
    if (!std::filesystem::exists(model)) {
        GTEST_SKIP() << "shared content not found at " << content;
    }
    const nlohmann::json expected = PoseFromTool("'" + model.string() + "' '" + motion.string() +
                                                 "' --physics --settle 1 --time 3");
    ASSERT_TRUE(expected.contains("bones"));

    PmxModel pmx;
    VmdMotion vmd;
    ASSERT_TRUE(Succeeded(LoadPmxModel(pmx, model)));
    ASSERT_TRUE(Succeeded(LoadVmdMotion(vmd, motion)));
    // At 30 fps every frame time is a step: the very same floats. At 24 fps
    // the half steps add the motion time in other pieces, which moves the
    // long-levered cloak weights by float rounding (Gene is 20 units tall).
    struct Rate {
        double fps;
        float tolerance;
    };
    for (const Rate rate : {Rate{30.0, 1e-5f}, Rate{24.0, 1e-3f}}) {
        const double fps = rate.fps;
        const float tolerance = rate.tolerance;
        SCOPED_TRACE(fps);
        SceneContent content;
        CreatePhysicsScene(content.physics);
        content.models.push_back({std::make_unique<ModelInstance>(), {}});
        ModelInstance& gene = *content.models.back().instance;
        ASSERT_TRUE(Succeeded(CreateModelInstance(gene, pmx, content.physics.get())));
        AttachMotion(gene, vmd);
        RewindMotion(gene);
        gene.playing = 1;
        FixedClock clock;
        clock.fps = fps;
        SettleAtStart(content, clock);
        // Frame by frame to 3 s, then one more jump: the clock never looks
        // at how long frames take, so a slow frame is the same as a quick one.
        const auto frames = static_cast<std::uint64_t>(3.0 * fps);
        for (std::uint64_t f = 1; f < frames - 10; ++f) {
            AdvanceToFrame(content, clock, f);
        }
        AdvanceToFrame(content, clock, frames);

        std::size_t simulated = 0;
        for (std::size_t b = 0; b < gene.bones.size(); ++b) {
            const auto& want = expected["bones"][b]["frame"];
            const Vector4& got = gene.bones[b].framePosition;
            ASSERT_EQ(expected["bones"][b]["name"], ToUtf8(gene.bones[b].name));
            EXPECT_NEAR(got.x, want[0].get<float>(), tolerance) << ToUtf8(gene.bones[b].name);
            EXPECT_NEAR(got.y, want[1].get<float>(), tolerance) << ToUtf8(gene.bones[b].name);
            EXPECT_NEAR(got.z, want[2].get<float>(), tolerance) << ToUtf8(gene.bones[b].name);
            simulated += gene.bones[b].name.find(u"髪") != std::u16string::npos;
        }
        EXPECT_GT(simulated, 0u) << "no hair bone compared";
    }
}

}  // namespace

}  // namespace qv
