#include "runtime/skeleton.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "formats/pmx_model.h"
#include "runtime/model_instance.h"
#include "runtime/physics_hooks.h"

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

}  // namespace

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

        if (valid(pmx.appendParentIndex) && pmx.appendRatio > 0.0f) {
            bone.appendParent = &instance.bones[static_cast<std::uint32_t>(pmx.appendParentIndex)];
            bone.appendRatio = pmx.appendRatio;
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
}

void UpdateBoneTransform(BoneState& bone) {
    Quaternion q = bone.rotation;
    if (bone.appendParent != nullptr && bone.appendRatio > 0.0f) {
        q = Slerp(bone.rotation, bone.appendParent->rotation, bone.appendRatio);
    }

    // localMatrix = T(pivot)·R(q)·T(translation), written in place: this runs
    // for every bone several times a frame, and temporaries cost more than
    // the arithmetic.
    Matrix4& local = bone.localMatrix;
    local = RotationMatrix(q);
    const Vector4 origin = TransformDirection(bone.pivot, local);
    local.m[3][0] = origin.x + bone.translation.x;
    local.m[3][1] = origin.y + bone.translation.y;
    local.m[3][2] = origin.z + bone.translation.z;

    const bool followsBody = bone.physicsEnabled != 0 && bone.drivingBody != nullptr;
    if (!followsBody) {
        bone.currentAxisX = TransformDirection(bone.localAxisX, local, 1.0f);
        bone.currentAxisZ = TransformDirection(bone.localAxisZ, local, 1.0f);
    }

    const BoneState* parent = bone.parent;
    if (parent == nullptr) {
        bone.worldMatrix = local;
        bone.jointPosition = {bone.translation.x, bone.translation.y, bone.translation.z, 1.0f};
        bone.worldRotation = bone.rotation;
    } else {
        // Bone matrices keep (0, 0, 0, 1) as their fourth column, so points
        // come out with w = 1 and need no division.
        const Matrix4& p = parent->worldMatrix;
        MultiplyAffine(local, p, bone.worldMatrix);
        const Vector4 joint = TransformPoint(bone.translation, p);
        bone.jointPosition = {joint.x, joint.y, joint.z, 1.0f};
        bone.worldRotation = Multiply(parent->worldRotation, bone.rotation);
    }
    const float* row = bone.worldMatrix.m[3];
    bone.framePosition = {row[0], row[1], row[2], 1.0f};

    if (followsBody) {
        FollowDrivingBody(bone, q);
    }
}

void UpdateBoneSubtree(BoneState& bone) {
    for (BoneState* b = &bone; b != bone.subtreeEnd && b != nullptr; b = b->preorderNext) {
        UpdateBoneTransform(*b);
    }
}

void UpdateSkeleton(ModelInstance& instance) {
    for (BoneState& bone : instance.bones) {
        if (bone.parent == nullptr) {
            UpdateBoneSubtree(bone);
        }
    }
}

Matrix4 SkinningMatrix(const BoneState& bone) {
    const Vector4 negativeTail{-bone.restTail.x, -bone.restTail.y, -bone.restTail.z, 0.0f};
    return Multiply(TranslationMatrix(negativeTail), bone.worldMatrix);
}
