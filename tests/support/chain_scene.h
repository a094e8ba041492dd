// A scene of one swinging chain, and how far its tip strays played live from the render clock.
#pragma once

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "runtime/motion.h"
#include "scene/fixed_clock.h"
#include "scene/live_clock.h"
#include "scene/scene_content.h"
#include "tests/support/chain_model.h"

namespace qv {

// The chain's root swings a unit left and right twice a second, so its
// links trail behind it the way hair trails a dancing head.
inline VmdMotion SwingingRoot(float seconds) {
    VmdMotion motion;
    const auto frames = static_cast<std::uint32_t>(seconds * 30.0f);
    for (std::uint32_t frame = 0; frame <= frames; frame += 15) {
        const float x = (frame / 15) % 2 == 0 ? -1.0f : 1.0f;
        AddBoneKey(motion, u"root", frame, {x, 0.0f, 0.0f});
    }
    return motion;
}

// A scene of one swinging chain, posed at the motion's start; `made` says
// whether the chain could be built.
struct ChainScene {
    SceneContent content;
    HRESULT made = E_FAIL;

    explicit ChainScene(float seconds) {
        CreatePhysicsScene(content.physics);
        auto instance = std::make_unique<ModelInstance>();
        made = CreateModelInstance(*instance, ChainModel(0.6f), content.physics.get());
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
// the chain's tip played live and its place on the render clock; infinite
// when the chain cannot be built.
inline float LargestTipDistance(double fps, double seconds) {
    ChainScene live(static_cast<float>(seconds) + 1.0f);
    ChainScene fixed(static_cast<float>(seconds) + 1.0f);
    if (live.made != S_OK || fixed.made != S_OK) {
        return std::numeric_limits<float>::infinity();
    }
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

}  // namespace qv
