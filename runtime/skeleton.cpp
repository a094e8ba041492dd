// Links bones into trees, dropping cycles, and orders their updates for appends and IK.
#include "runtime/skeleton.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "formats/pmx_model.h"
#include "runtime/model_instance.h"
#include "runtime/physics_hooks.h"

namespace qv {

namespace {

Vector4 ToVector(const Float3& v) {
    return {v.x, v.y, v.z, 0.0f};
}

bool IsZero(const Float3& v) {
    return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}

// The trees of the hierarchy built so far, as disjoint sets, so that a link
// that would close a cycle is found in near-constant time.
class TreeSets {
public:
    explicit TreeSets(std::size_t count) : parent_(count), rank_(count, 0) {
        for (std::size_t i = 0; i < count; ++i) {
            parent_[i] = i;
        }
    }
    std::size_t Find(std::size_t i) {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];
            i = parent_[i];
        }
        return i;
    }
    void Join(std::size_t a, std::size_t b) {
        a = Find(a);
        b = Find(b);
        if (rank_[a] < rank_[b]) {
            std::swap(a, b);
        }
        parent_[b] = a;
        if (rank_[a] == rank_[b]) {
            ++rank_[a];
        }
    }

private:
    std::vector<std::size_t> parent_;
    std::vector<std::uint8_t> rank_;
};

// Links the bones into one depth-first order over all roots, so that subtree
// walks need neither recursion nor allocation.
void LinkPreorder(std::vector<BoneState>& bones) {
    const std::size_t count = bones.size();
    std::vector<BoneState*> order;
    order.reserve(count);
    std::vector<BoneState*> stack;
    for (BoneState& root : bones) {
        if (root.parent != nullptr) {
            continue;
        }
        stack.push_back(&root);
        while (!stack.empty()) {
            BoneState* bone = stack.back();
            stack.pop_back();
            order.push_back(bone);
            for (auto it = bone->children.rbegin(); it != bone->children.rend(); ++it) {
                stack.push_back(*it);
            }
        }
    }
    // Subtree sizes, children before parents.
    std::vector<std::size_t> subtreeSize(count, 1);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if ((*it)->parent != nullptr) {
            subtreeSize[(*it)->parent->index] += subtreeSize[(*it)->index];
        }
    }
    for (std::size_t position = 0; position < order.size(); ++position) {
        BoneState* bone = order[position];
        bone->preorderNext = position + 1 < order.size() ? order[position + 1] : nullptr;
        const std::size_t end = position + subtreeSize[bone->index];
        bone->subtreeEnd = end < order.size() ? order[end] : nullptr;
    }
}

// Which bones a simulated body moves: those driven by one, and every bone
// below or appending such a bone, however the two chains mix.
std::vector<std::uint8_t> ReachedByBodies(const std::vector<BoneState>& bones) {
    std::vector<std::uint8_t> reached(bones.size(), 0);
    // Bones in file order mostly come after their parents, so a pass or two
    // settles real models; a hostile order that would need many more passes
    // is taken as reached everywhere, which only costs a refresh.
    int passes = 0;
    for (bool grew = true; grew; ++passes) {
        if (passes == 64) {
            std::fill(reached.begin(), reached.end(), std::uint8_t{1});
            break;
        }
        grew = false;
        for (const BoneState& b : bones) {
            if (reached[b.index]) {
                continue;
            }
            if (b.drivingBody != nullptr || (b.parent != nullptr && reached[b.parent->index]) ||
                (b.appendParent != nullptr && reached[b.appendParent->index])) {
                reached[b.index] = 1;
                grew = true;
            }
        }
    }
    return reached;
}

bool TransformsBefore(const BoneState* a, const BoneState* b) {
    if (a->afterPhysics != b->afterPhysics) {
        return a->afterPhysics < b->afterPhysics;
    }
    if (a->deformLayer != b->deformLayer) {
        return a->deformLayer < b->deformLayer;
    }
    return a->index < b->index;
}

// The bone's own local pose: its rotation and its motion translation
// (relative to rest), with what bone morphs add.
Quaternion OwnRotation(const BoneState& bone) {
    return bone.morphPosed ? Multiply(bone.rotation, bone.morphRotation) : bone.rotation;
}
Vector4 OwnTranslation(const BoneState& bone) {
    Vector4 t = Subtract3(bone.translation, bone.restOffset);
    return bone.morphPosed ? Add3(t, bone.morphTranslation) : t;
}

bool FollowsBody(const BoneState& bone) {
    return bone.physicsEnabled != 0 && bone.drivingBody != nullptr;
}

// The slice of a rotation that an append ratio hands on: ratio of the way
// from no turn to it, past it above 1 and the other way below 0.
Quaternion Scaled(const Quaternion& q, float ratio) {
    if (ratio == 1.0f) {
        return q;
    }
    Quaternion r = Slerp(Quaternion{}, q, ratio);
    const float length = std::sqrt(Dot(r, r));
    if (!(length > 0.0f)) {
        return {};
    }
    return {r.x / length, r.y / length, r.z / length, r.w / length};
}

}  // namespace

void PlanTransformOrder(ModelInstance& instance) {
    instance.appendOrder.clear();
    instance.afterPhysicsBones.clear();
    instance.ikOrder.clear();
    for (BoneState& bone : instance.bones) {
        if (bone.appendParent != nullptr) {
            instance.appendOrder.push_back(&bone);
        }
        if (bone.afterPhysics) {
            instance.afterPhysicsBones.push_back(&bone);
        }
        if (bone.ikTarget != nullptr || !bone.ikLinks.empty()) {
            instance.ikOrder.push_back(&bone);
        }
    }
    std::stable_sort(instance.appendOrder.begin(), instance.appendOrder.end(), TransformsBefore);
    std::stable_sort(instance.ikOrder.begin(), instance.ikOrder.end(), TransformsBefore);
    // An after-physics bone below another one is refreshed with it, and one
    // whose pose no simulated body reaches (through its parents or the bones
    // it appends) has nothing to wait for.
    const std::vector<std::uint8_t> reached = ReachedByBodies(instance.bones);
    std::erase_if(instance.afterPhysicsBones, [&reached](const BoneState* bone) {
        for (const BoneState* p = bone->parent; p != nullptr; p = p->parent) {
            if (p->afterPhysics) {
                return true;
            }
        }
        return !reached[bone->index];
    });
    std::stable_sort(instance.afterPhysicsBones.begin(), instance.afterPhysicsBones.end(),
                     TransformsBefore);
    instance.afterPhysicsAppends.clear();
    for (BoneState* bone : instance.appendOrder) {
        for (const BoneState* b = bone; b != nullptr; b = b->parent) {
            if (std::find(instance.afterPhysicsBones.begin(), instance.afterPhysicsBones.end(),
                          b) != instance.afterPhysicsBones.end()) {
                instance.afterPhysicsAppends.push_back(bone);
                break;
            }
        }
    }
}

void ResolveAppend(BoneState& bone) {
    const BoneState& source = *bone.appendParent;
    bone.appendTurn = {};
    bone.appendMove = {};
    if (bone.appendRotation) {
        Quaternion from;
        if (FollowsBody(source)) {
            from = source.appendedRotation;  // the body's turn, set as the source followed it
        } else if (bone.appendLocal || source.appendParent == nullptr) {
            from = OwnRotation(source);
        } else {
            from = source.appendedRotation;
        }
        bone.appendTurn = Scaled(from, bone.appendRatio);
    }
    if (bone.appendTranslation) {
        const Vector4 from = bone.appendLocal || source.appendParent == nullptr
                                 ? OwnTranslation(source)
                                 : source.appendedTranslation;
        const float r = bone.appendRatio;
        bone.appendMove = {r * from.x, r * from.y, r * from.z, 0.0f};
    }
    bone.appendedRotation = Multiply(OwnRotation(bone), bone.appendTurn);
    bone.appendedTranslation = Add3(OwnTranslation(bone), bone.appendMove);
}

void BuildSkeleton(ModelInstance& instance, const PmxModel& model) {
    const std::size_t count = model.bones.size();
    instance.bones.clear();
    instance.bones.resize(count);
    auto valid = [count](std::int32_t index) { return static_cast<std::uint32_t>(index) < count; };
    for (std::size_t i = 0; i < count; ++i) {
        instance.bones[i].index = i;
    }
    TreeSets trees(count);
    for (std::size_t i = 0; i < count; ++i) {
        const PmxBone& pmx = model.bones[i];
        BoneState& bone = instance.bones[i];
        bone.name = pmx.name;

        const Vector4 position = ToVector(pmx.position);
        bone.restOffset = position;
        if (valid(pmx.parentIndex)) {
            const auto parentIndex = static_cast<std::uint32_t>(pmx.parentIndex);
            BoneState* parent = &instance.bones[parentIndex];
            // Links are made in file order, so the hierarchy built so far is a
            // forest in which this bone is still a root; a parent in its own
            // tree would close a cycle, and that link is left out.
            if (trees.Find(parentIndex) != trees.Find(i)) {
                trees.Join(parentIndex, i);
                bone.parent = parent;
                if (std::find(parent->children.begin(), parent->children.end(), &bone) ==
                    parent->children.end()) {
                    parent->children.push_back(&bone);
                }
                // Offsets are measured from the parent's tail, where its frame sits.
                const PmxBone& p = model.bones[static_cast<std::uint32_t>(pmx.parentIndex)];
                if (p.tailIndex == 0 || !valid(p.tailIndex)) {
                    bone.restOffset =
                        Subtract3(position, Add3(ToVector(p.position), ToVector(p.tailOffset)));
                } else {
                    bone.restOffset = Subtract3(
                        position,
                        ToVector(model.bones[static_cast<std::uint32_t>(p.tailIndex)].position));
                }
            }
        }
        bone.translation = bone.restOffset;

        bone.deformLayer = pmx.deformLayer;
        bone.afterPhysics = (pmx.flags & kPmxBonePhysicsAfterDeform) != 0 ? 1 : 0;
        const bool appendsRotation = (pmx.flags & kPmxBoneAppendRotation) != 0;
        const bool appendsTranslation = (pmx.flags & kPmxBoneAppendTranslation) != 0;
        if ((appendsRotation || appendsTranslation) && valid(pmx.appendParentIndex) &&
            static_cast<std::size_t>(pmx.appendParentIndex) != i && pmx.appendRatio != 0.0f) {
            bone.appendParent = &instance.bones[static_cast<std::uint32_t>(pmx.appendParentIndex)];
            bone.appendRatio = pmx.appendRatio;
            bone.appendRotation = appendsRotation ? 1 : 0;
            bone.appendTranslation = appendsTranslation ? 1 : 0;
            bone.appendLocal = (pmx.flags & kPmxBoneLocalAppend) != 0 ? 1 : 0;
        }

        if (pmx.tailIndex == 0 || !valid(pmx.tailIndex)) {
            bone.tailVector = ToVector(pmx.tailOffset);
        } else {
            bone.tailVector =
                Subtract3(ToVector(model.bones[static_cast<std::uint32_t>(pmx.tailIndex)].position),
                          position);
        }
        bone.pivot = bone.tailVector;
        bone.restHead = position;
        bone.restTail = Add3(position, bone.tailVector);

        if ((pmx.flags & kPmxBoneLocalAxes) != 0) {
            if (!IsZero(pmx.localAxisX)) {
                bone.localAxisX = ToVector(pmx.localAxisX);
                bone.currentAxisX = bone.localAxisX;
            }
            if (!IsZero(pmx.localAxisZ)) {
                bone.localAxisZ = ToVector(pmx.localAxisZ);
                bone.currentAxisZ = bone.localAxisZ;
            }
        }
    }
    LinkPreorder(instance.bones);
    PlanTransformOrder(instance);
}

namespace {

// How much of a bone's transform to bring up to date.
enum class Refresh {
    Complete,
    Chain,      // what an IK iteration reads of a bone (world matrix, joint, world rotation)
    JointOnly,  // where the parent puts the bone, all it reads of an effector below the links
};

template <Refresh refresh>
void TransformBone(BoneState& bone) {
    constexpr bool complete = refresh == Refresh::Complete;
    Quaternion q;
    Vector4 translation;
    if (bone.appendParent != nullptr) {
        // The append itself was resolved in transform order; the bone's own
        // pose may have changed since (IK turns links), so it is taken now.
        q = Multiply(OwnRotation(bone), bone.appendTurn);
        bone.appendedRotation = q;
        bone.appendedTranslation = Add3(OwnTranslation(bone), bone.appendMove);
        translation = Add3(bone.restOffset, bone.appendedTranslation);
    } else if (bone.morphPosed) {
        q = OwnRotation(bone);
        translation = Add3(bone.translation, bone.morphTranslation);
    } else {
        q = bone.rotation;
        translation = bone.translation;
    }

    const bool followsBody = bone.physicsEnabled != 0 && bone.drivingBody != nullptr;
    // A bone that follows its body also moves the body, so it is never cut short.
    if (refresh == Refresh::JointOnly && !followsBody) {
        if (bone.parent == nullptr) {
            bone.jointPosition = {translation.x, translation.y, translation.z, 1.0f};
        } else {
            const Vector4 joint = TransformPoint(translation, bone.parent->worldMatrix);
            bone.jointPosition = {joint.x, joint.y, joint.z, 1.0f};
        }
        return;
    }

    // localMatrix = T(pivot)·R(q)·T(translation), written in place: this runs
    // for every bone several times a frame, and temporaries cost more than
    // the arithmetic.
    Matrix4& local = bone.localMatrix;
    local = RotationMatrix(q);
    const Vector4 origin = TransformDirection(bone.pivot, local);
    local.m[3][0] = origin.x + translation.x;
    local.m[3][1] = origin.y + translation.y;
    local.m[3][2] = origin.z + translation.z;

    if (complete && !followsBody) {
        bone.currentAxisX = TransformDirection(bone.localAxisX, local, 1.0f);
        bone.currentAxisZ = TransformDirection(bone.localAxisZ, local, 1.0f);
    }

    const BoneState* parent = bone.parent;
    // worldRotation is the rotation the bone really has, append included:
    // IK turns its axes into a link's frame with it, and a chain below a bone
    // that cancels another's turn (ratio -1) must see the cancelled frame.
    if (parent == nullptr) {
        bone.worldMatrix = local;
        bone.jointPosition = {translation.x, translation.y, translation.z, 1.0f};
        bone.worldRotation = q;
    } else {
        // Bone matrices keep (0, 0, 0, 1) as their fourth column, so points
        // come out with w = 1 and need no division.
        const Matrix4& p = parent->worldMatrix;
        MultiplyAffine(local, p, bone.worldMatrix);
        const Vector4 joint = TransformPoint(translation, p);
        bone.jointPosition = {joint.x, joint.y, joint.z, 1.0f};
        bone.worldRotation = Multiply(parent->worldRotation, q);
    }
    if (complete) {
        const float* row = bone.worldMatrix.m[3];
        bone.framePosition = {row[0], row[1], row[2], 1.0f};
    }

    if (followsBody) {
        FollowDrivingBody(bone, q);
    }
}

}  // namespace

void UpdateBoneTransform(BoneState& bone) {
    TransformBone<Refresh::Complete>(bone);
}

void UpdateChainBoneTransform(BoneState& bone) {
    TransformBone<Refresh::Chain>(bone);
}

void UpdateChainJointPosition(BoneState& bone) {
    TransformBone<Refresh::JointOnly>(bone);
}

void UpdateBoneSubtree(BoneState& bone) {
    for (BoneState* b = &bone; b != bone.subtreeEnd && b != nullptr; b = b->preorderNext) {
        UpdateBoneTransform(*b);
    }
}

void UpdateSkeletonBeforePhysics(ModelInstance& instance) {
    // Appends first, in transform order, so that a chain of appends sees
    // each link's result of this frame.
    for (BoneState* bone : instance.appendOrder) {
        ResolveAppend(*bone);
    }
    for (BoneState& bone : instance.bones) {
        if (bone.parent == nullptr) {
            UpdateBoneSubtree(bone);
        }
    }
}

void UpdateBonesAfterPhysics(ModelInstance& instance) {
    for (BoneState* bone : instance.afterPhysicsAppends) {
        ResolveAppend(*bone);
    }
    for (BoneState* bone : instance.afterPhysicsBones) {
        UpdateBoneSubtree(*bone);
    }
}

void UpdateSkeleton(ModelInstance& instance) {
    UpdateSkeletonBeforePhysics(instance);
    UpdateBonesAfterPhysics(instance);
}

Matrix4 SkinningMatrix(const BoneState& bone) {
    const Vector4 negativeTail{-bone.restTail.x, -bone.restTail.y, -bone.restTail.z, 0.0f};
    return Multiply(TranslationMatrix(negativeTail), bone.worldMatrix);
}

}  // namespace qv
