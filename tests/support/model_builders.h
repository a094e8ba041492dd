// Hand-made bones and motion keys, free of any test framework, for the tests and benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"

namespace qv {

inline constexpr float kPi = std::numbers::pi_v<float>;

inline PmxBone MakeBone(std::u16string name, Float3 position, std::int32_t parent,
                        Float3 tailOffset = {}) {
    PmxBone bone;
    bone.name = std::move(name);
    bone.position = position;
    bone.parentIndex = parent;
    bone.tailOffset = tailOffset;
    bone.appendParentIndex = -1;
    bone.ikTargetIndex = -1;
    return bone;
}

inline PmxBone TailToBone(PmxBone bone, std::int32_t tailIndex) {
    bone.flags |= kPmxBoneTailIsBone;
    bone.tailIndex = tailIndex;
    bone.tailOffset = {};
    return bone;
}

inline PmxBone IkBone(PmxBone bone, std::int32_t target, std::uint32_t loops, float limit,
                      std::vector<PmxIkLink> links) {
    bone.flags |= kPmxBoneIk;
    bone.ikTargetIndex = target;
    bone.ikLoopCount = loops;
    bone.ikLimitAngle = limit;
    bone.ikLinks = std::move(links);
    return bone;
}

// An interpolation block with the same control bytes for all four curves.
inline std::array<std::uint8_t, 64> Curve(std::uint8_t x1, std::uint8_t y1, std::uint8_t x2,
                                          std::uint8_t y2) {
    std::array<std::uint8_t, 64> b{};
    for (int c = 0; c < 4; ++c) {
        b[c] = x1;
        b[4 + c] = y1;
        b[8 + c] = x2;
        b[12 + c] = y2;
    }
    b[2] = b[3] = 0;  // Z and rotation take x1 from the second row
    b[17] = b[18] = x1;
    return b;
}

inline void AddBoneKey(VmdMotion& motion, const std::u16string& name, std::uint32_t frame,
                       Float3 position, Float4 rotation = {0, 0, 0, 1},
                       std::array<std::uint8_t, 64> curve = Curve(20, 20, 107, 107)) {
    motion.boneKeys[name].push_back({name, frame, position, rotation, curve});
}

inline void AddMorphKey(VmdMotion& motion, const std::u16string& name, std::uint32_t frame,
                        float weight) {
    motion.morphKeys[name].push_back({name, frame, weight});
}

}  // namespace qv
