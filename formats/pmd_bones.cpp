// What the older model format leaves implicit about bones, made explicit in newer terms.
#include <cmath>
#include <string_view>

#include "formats/pmd_model.h"

namespace qv {

namespace {

constexpr float kPi = 3.14159265358979f;
// The knee's usual limit: it bends one way only and never quite straight.
constexpr Float3 kKneeLower{-kPi, 0.0f, 0.0f};
constexpr Float3 kKneeUpper{-0.5f * kPi / 180.0f, 0.0f, 0.0f};
// "ひざ" (knee): links whose bone name holds it get the knee's limit.
constexpr std::u16string_view kKnee = u"\u3072\u3056";

}  // namespace

void FinishPmdBones(PmxModel& model, std::span<const std::uint8_t> types) {
    for (std::size_t i = 0; i < model.bones.size(); ++i) {
        PmxBone& bone = model.bones[i];
        const auto tail = static_cast<std::size_t>(bone.tailIndex);
        if (i < types.size() && types[i] == kPmdBoneTwist && bone.tailIndex >= 0 &&
            tail < model.bones.size()) {
            const Float3& to = model.bones[tail].position;
            const Float3 d{to.x - bone.position.x, to.y - bone.position.y, to.z - bone.position.z};
            const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (length > 0.0f && std::isfinite(length)) {
                bone.flags |= kPmxBoneFixedAxis;
                bone.fixedAxis = {d.x / length, d.y / length, d.z / length};
            }
        }
        for (PmxIkLink& link : bone.ikLinks) {
            const auto linked = static_cast<std::size_t>(link.boneIndex);
            if (link.boneIndex >= 0 && linked < model.bones.size() &&
                model.bones[linked].name.find(kKnee) != std::u16string::npos) {
                link.hasLimit = 1;
                link.lowerLimit = kKneeLower;
                link.upperLimit = kKneeUpper;
            }
        }
    }
}

}  // namespace qv
