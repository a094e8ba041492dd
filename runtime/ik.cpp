// Solves IK chains link by link in double precision, within limits and an iteration cap.
#include "runtime/ik.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/pmx_model.h"
#include "formats/text_decode.h"
#include "runtime/model_instance.h"
#include "runtime/skeleton.h"

namespace qv {

namespace {

// Content asks for a few dozen iterations; a file asking for billions would
// stall every frame, so a solve stops here at the latest.
constexpr std::uint32_t kMaxIterations = 4096;

struct Double3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

double Dot(const Double3& a, const Double3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Double3 Cross(const Double3& a, const Double3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Normalises v in place; false (v unchanged) for a zero vector.
bool Normalize(Double3& v) {
    const double length = std::sqrt(Dot(v, v));
    if (!(length > 0.0)) {
        return false;
    }
    v = {v.x / length, v.y / length, v.z / length};
    return true;
}

// The direction from one joint to another: a single-precision difference
// widened to double.
Double3 Direction(const Vector4& from, const Vector4& to) {
    const float x = to.x - from.x, y = to.y - from.y, z = to.z - from.z;
    return {x, y, z};
}

// Reads the candidate's Euler angles as qX ⊗ qY ⊗ qZ, clamps each to the
// link's range and rebuilds the rotation with EulerToQuaternion (qY ⊗ qX ⊗
// qZ). The two orders agree whenever X or Y is zero, which covers the
// single-axis limits of knees.
Quaternion ApplyLimits(const Quaternion& candidate, const IkLink& link) {
    const double x = candidate.x, y = candidate.y, z = candidate.z, w = candidate.w;
    const double s = 2.0 * (x * z + y * w);
    const bool regular = std::abs(s) < 0.9999999;
    // An axis whose range is a single value (a knee's Y and Z) clamps to it
    // whatever the angle, so its angle need not be computed.
    auto limit = [&link](int axis, auto angle) {
        const double lower = link.lowerLimit[axis];
        const double upper = link.upperLimit[axis];
        if (lower >= upper) {
            return static_cast<float>(upper);
        }
        return static_cast<float>(std::min(std::max(angle(), lower), upper));
    };
    const float ex = limit(0, [&] {
        return regular ? std::atan2(-2.0 * (y * z - x * w), 1.0 - 2.0 * (x * x + y * y))
                       : std::atan2(2.0 * (y * z + x * w), 1.0 - 2.0 * (x * x + z * z));
    });
    const float ey = limit(1, [&] { return std::asin(std::clamp(s, -1.0, 1.0)); });
    const float ez = limit(2, [&] {
        return regular ? std::atan2(-2.0 * (x * y - z * w), 1.0 - 2.0 * (y * y + z * z)) : 0.0;
    });
    return EulerToQuaternion(ex, ey, ez);
}

// True when ancestor is bone or one of its ancestors.
bool IsInSubtree(const BoneState* bone, const BoneState* ancestor) {
    for (const BoneState* b = bone; b != nullptr; b = b->parent) {
        if (b == ancestor) {
            return true;
        }
    }
    return false;
}

// Lists, for each link, the bones whose world values the solve reads after
// that link turns: everything between the link and the target, the IK bone
// or another link. Updating only those keeps every value the solve reads
// exactly as a full subtree update would.
void PlanChainUpdates(BoneState& ikBone, std::vector<std::uint8_t>& onPath) {
    constexpr std::uint8_t kOnPath = 1, kReadWhole = 2;
    std::vector<BoneState*> marked;
    auto markUpwards = [&](BoneState* bone) {
        for (BoneState* b = bone; b != nullptr && !onPath[b->index]; b = b->parent) {
            onPath[b->index] = kOnPath;
            marked.push_back(b);
        }
    };
    markUpwards(&ikBone);
    markUpwards(ikBone.ikTarget);
    for (const IkLink& link : ikBone.ikLinks) {
        markUpwards(link.bone);
    }
    // A link's world rotation is read, and so is the world matrix of every
    // bone with a child on the way.
    for (BoneState* b : marked) {
        if (b->parent != nullptr) {
            onPath[b->parent->index] |= kReadWhole;
        }
    }
    for (const IkLink& link : ikBone.ikLinks) {
        if (link.bone != nullptr) {
            onPath[link.bone->index] |= kReadWhole;
        }
    }
    for (IkLink& link : ikBone.ikLinks) {
        link.chainBones.clear();
        link.topmost = 1;
        if (link.bone == nullptr) {
            continue;
        }
        for (BoneState* b = link.bone; b != link.bone->subtreeEnd && b != nullptr;
             b = b->preorderNext) {
            if (onPath[b->index]) {
                const bool jointOnly = (onPath[b->index] & kReadWhole) == 0;
                link.chainBones.push_back({b, static_cast<std::uint8_t>(jointOnly)});
            }
        }
        for (const IkLink& other : ikBone.ikLinks) {
            if (other.bone != nullptr && other.bone != link.bone &&
                IsInSubtree(link.bone, other.bone)) {
                link.topmost = 0;
            }
        }
    }
    // A link listed twice is refreshed once.
    for (std::size_t i = 0; i < ikBone.ikLinks.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (ikBone.ikLinks[j].bone == ikBone.ikLinks[i].bone) {
                ikBone.ikLinks[i].topmost = 0;
            }
        }
    }
    for (BoneState* b : marked) {
        onPath[b->index] = 0;
    }
}

}  // namespace

void BuildIk(ModelInstance& instance, const PmxModel& model) {
    const std::size_t count = std::min(model.bones.size(), instance.bones.size());
    auto boneAt = [&](std::int32_t index) -> BoneState* {
        return static_cast<std::uint32_t>(index) < count
                   ? &instance.bones[static_cast<std::uint32_t>(index)]
                   : nullptr;
    };
    instance.ikControls.clear();
    std::vector<std::uint8_t> onPath(instance.bones.size(), 0);
    for (std::size_t i = 0; i < count; ++i) {
        const PmxBone& pmx = model.bones[i];
        if ((pmx.flags & kPmxBoneIk) == 0) {
            continue;
        }
        BoneState& bone = instance.bones[i];
        bone.ikTarget = boneAt(pmx.ikTargetIndex);
        bone.ikLoopCount = pmx.ikLoopCount;
        bone.ikLimitAngle = pmx.ikLimitAngle;
        bone.ikLinks.clear();
        bone.ikLinks.reserve(pmx.ikLinks.size());
        bool usable = !pmx.ikLinks.empty();
        for (const PmxIkLink& source : pmx.ikLinks) {
            IkLink link;
            link.bone = boneAt(source.boneIndex);
            link.hasLimit = source.hasLimit;
            link.lowerLimit[0] = source.lowerLimit.x;
            link.lowerLimit[1] = source.lowerLimit.y;
            link.lowerLimit[2] = source.lowerLimit.z;
            link.upperLimit[0] = source.upperLimit.x;
            link.upperLimit[1] = source.upperLimit.y;
            link.upperLimit[2] = source.upperLimit.z;
            // A link that a simulated body moves cannot also be posed by IK.
            if (link.bone == nullptr || link.bone->drivingBody != nullptr) {
                usable = false;
            }
            bone.ikLinks.push_back(link);
        }
        bone.ikEnabled = usable ? 1 : 0;
        PlanChainUpdates(bone, onPath);
        if (usable) {
            instance.ikControls.push_back({ToUtf8(bone.name), &bone.ikEnabled});
        }
    }

    PlanTransformOrder(instance);

    // For each chain, the bones whose pose its solve can change besides its
    // links and their subtrees: every bone that appends one of its links,
    // directly or through a chain of appends, in transform order.
    std::vector<std::uint8_t> moved(instance.bones.size(), 0);
    for (BoneState* ik : instance.ikOrder) {
        std::fill(moved.begin(), moved.end(), std::uint8_t{0});
        for (const IkLink& link : ik->ikLinks) {
            if (link.bone != nullptr) {
                moved[link.bone->index] = 1;
            }
        }
        std::vector<BoneState*>& dependents = ik->ikAppendDependents;
        dependents.clear();
        for (bool grew = true; grew;) {
            grew = false;
            for (BoneState* b : instance.appendOrder) {
                if (!moved[b->index] && moved[b->appendParent->index]) {
                    moved[b->index] = 1;
                    grew = true;
                }
            }
        }
        for (BoneState* b : instance.appendOrder) {
            bool isLink = false;
            for (const IkLink& link : ik->ikLinks) {
                isLink = isLink || link.bone == b;
            }
            if (moved[b->index] && !isLink) {
                dependents.push_back(b);
            }
        }
    }
}

void SolveIk(BoneState& ikBone, IkRefresh refresh) {
    BoneState* effector = ikBone.ikTarget;
    if (effector == nullptr || ikBone.ikEnabled == 0 || ikBone.ikLoopCount == 0) {
        return;
    }
    const float limit = ikBone.ikLimitAngle;
    const std::uint32_t loops = std::min(ikBone.ikLoopCount, kMaxIterations);
    bool anyRotated = false;
    for (std::uint32_t iteration = 0; iteration < loops; ++iteration) {
        bool rotated = false;
        bool changed = false;
        for (const IkLink& link : ikBone.ikLinks) {
            BoneState* joint = link.bone;
            if (joint == nullptr) {
                continue;
            }
            Double3 toEffector = Direction(joint->jointPosition, effector->jointPosition);
            Double3 toGoal = Direction(joint->jointPosition, ikBone.jointPosition);
            // An effector or goal on the joint itself gives no direction to
            // turn; the link is left as it is for this step.
            if (!Normalize(toEffector) || !Normalize(toGoal)) {
                continue;
            }
            float angle =
                static_cast<float>(std::acos(std::clamp(Dot(toEffector, toGoal), -1.0, 1.0)));
            if (angle < 1e-6f) {
                continue;
            }
            // Opposite directions leave the axis undefined; a zero axis ends
            // the iteration below like any other degenerate axis.
            Double3 axisDouble = Cross(toEffector, toGoal);
            Normalize(axisDouble);
            const Vector4 axis{static_cast<float>(axisDouble.x), static_cast<float>(axisDouble.y),
                               static_cast<float>(axisDouble.z), 0.0f};

            const Quaternion world = joint->worldRotation;
            const Quaternion turned = Multiply(
                Multiply(Conjugate(world), Quaternion{axis.x, axis.y, axis.z, 0.0f}), world);
            Vector4 localAxis{turned.x, turned.y, turned.z, 0.0f};
            if (localAxis.x == 0.0f && localAxis.y == 0.0f && localAxis.z == 0.0f) {
                break;
            }
            angle = std::min(std::max(angle, -limit), limit);
            const float length = std::sqrt(localAxis.x * localAxis.x + localAxis.y * localAxis.y +
                                           localAxis.z * localAxis.z);
            if (length > 0.0f) {
                localAxis = {localAxis.x / length, localAxis.y / length, localAxis.z / length,
                             0.0f};
            }
            const float s = std::sin(angle * 0.5f);
            const Quaternion delta{localAxis.x * s, localAxis.y * s, localAxis.z * s,
                                   std::cos(angle * 0.5f)};
            Quaternion candidate = Multiply(joint->rotation, delta);
            if (link.hasLimit) {
                candidate = ApplyLimits(candidate, link);
            }
            if (!IsZero(candidate)) {
                changed =
                    changed || std::memcmp(&candidate, &joint->rotation, sizeof(Quaternion)) != 0;
                joint->rotation = candidate;
            }
            rotated = true;
            for (const ChainBone& c : link.chainBones) {
                if (refresh == IkRefresh::Everything) {
                    UpdateBoneTransform(*c.bone);
                } else if (c.jointOnly) {
                    UpdateChainJointPosition(*c.bone);
                } else {
                    UpdateChainBoneTransform(*c.bone);
                }
            }
        }
        anyRotated = anyRotated || rotated;
        // An iteration that wrote back the very rotations it started from
        // (a goal out of reach, a link held at its limit) has reached a fixed
        // point: every further iteration would repeat it bit for bit.
        if (!rotated || !changed) {
            break;
        }
    }
    // Bring the rest of the turned subtrees up to date, as the chain's own
    // bones already are.
    if (anyRotated) {
        for (const IkLink& link : ikBone.ikLinks) {
            if (link.topmost && link.bone != nullptr) {
                UpdateBoneSubtree(*link.bone);
            }
        }
    }
}

}  // namespace qv
