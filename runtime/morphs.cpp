// Flattens group and flip morphs into weighted leaves, breaking cycles, and applies each frame.
#include "runtime/morphs.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "formats/pmx_model.h"
#include "formats/text_decode.h"
#include "runtime/model_instance.h"

namespace qv {

namespace {

const char* KindName(std::uint32_t type) {
    static const char* const kNames[] = {"Group", "Vertex", "Bone",     "UV",   "UV1",    "UV2",
                                         "UV3",   "UV4",    "Material", "Flip", "Impulse"};
    return type < std::size(kNames) ? kNames[type] : "";
}

bool IsGroup(std::uint32_t type) {
    return type == kPmxMorphGroup || type == kPmxMorphFlip;
}

bool IsAdditionalUv(std::uint32_t type) {
    return type >= kPmxMorphAdditionalUv1 && type <= kPmxMorphAdditionalUv4;
}

// What every group and flip morph reaches, as leaf morphs with the product
// of the weights on the way (a leaf reached twice adds up). Each group is
// expanded once, its nested groups first; a group met again while its own
// expansion is under way closes a cycle, and every group on that cycle is
// refused.
class GroupExpansion {
public:
    GroupExpansion(const PmxModel& model, std::vector<MorphState>& states)
        : model_(model),
          states_(states),
          state_(model.morphs.size(), 0),
          refused_(model.morphs.size(), 0) {}

    // A group is only ever refused while its own expansion is under way, so
    // groups expanded later never take in what a refused one reached.
    void Run() {
        for (std::size_t m = 0; m < model_.morphs.size(); ++m) {
            if (IsGroup(model_.morphs[m].type) && state_[m] == 0) {
                Visit(static_cast<std::uint32_t>(m));
            }
        }
    }

private:
    void Visit(std::uint32_t g) {
        state_[g] = 1;
        stack_.push_back(g);
        std::map<std::uint32_t, float> reached;
        for (const PmxGroupMorphOffset& o : model_.morphs[g].groupOffsets) {
            const auto child = static_cast<std::uint32_t>(o.morphIndex);
            if (child >= model_.morphs.size()) {
                continue;
            }
            if (!IsGroup(model_.morphs[child].type)) {
                reached[child] += o.weight;
                continue;
            }
            if (state_[child] == 1 || (state_[child] == 0 && stack_.size() >= kMaxMorphNesting)) {
                RefuseCycleFrom(child);
                continue;
            }
            if (state_[child] == 0) {
                Visit(child);
            }
            for (const MorphLink& link : states_[child].links) {
                reached[link.morph] += o.weight * link.factor;
            }
        }
        std::vector<MorphLink>& links = states_[g].links;
        if (!refused_[g]) {
            for (const auto& [morph, factor] : reached) {
                links.push_back({morph, factor});
            }
        }
        stack_.pop_back();
        state_[g] = 2;
    }

    // Every group on the stack from child up (all of it when nesting ran too
    // deep and child is not on it).
    void RefuseCycleFrom(std::uint32_t child) {
        bool on = std::find(stack_.begin(), stack_.end(), child) == stack_.end();
        for (std::uint32_t m : stack_) {
            on = on || m == child;
            if (on) {
                refused_[m] = 1;
            }
        }
    }

    const PmxModel& model_;
    std::vector<MorphState>& states_;
    std::vector<std::uint8_t> state_;  // 0 not seen, 1 expanding, 2 done
    std::vector<std::uint8_t> refused_;
    std::vector<std::uint32_t> stack_;
};

MaterialMorphValues ValuesOf(const PmxMaterialMorphOffset& o) {
    return {o.diffuse,       {o.specular.x, o.specular.y, o.specular.z},
            o.specularPower, {o.ambient.x, o.ambient.y, o.ambient.z},
            o.edgeColor,     o.edgeSize,
            o.textureTint,   o.sphereTint,
            o.toonTint};
}

// Applies f(target, value) to every number of two material value sets.
template <typename F>
void EachValue(MaterialMorphValues& target, const MaterialMorphValues& value, F f) {
    auto each = [&](auto& t, const auto& v) {
        float* a = &t.x;
        const float* b = &v.x;
        for (std::size_t i = 0; i < sizeof(t) / sizeof(float); ++i) {
            f(a[i], b[i]);
        }
    };
    each(target.diffuse, value.diffuse);
    each(target.specular, value.specular);
    f(target.specularPower, value.specularPower);
    each(target.ambient, value.ambient);
    each(target.edgeColor, value.edgeColor);
    f(target.edgeSize, value.edgeSize);
    each(target.textureTint, value.textureTint);
    each(target.sphereTint, value.sphereTint);
    each(target.toonTint, value.toonTint);
}

Quaternion Normalized(const Quaternion& q) {
    const float length = std::sqrt(Dot(q, q));
    if (!(length > 0.0f)) {
        return {};
    }
    return {q.x / length, q.y / length, q.z / length, q.w / length};
}

}  // namespace

void BuildMorphs(ModelInstance& instance, const PmxModel& model) {
    const std::size_t vertexCount = model.vertices.size();
    const std::size_t morphCount = model.morphs.size();
    std::uint32_t vertexMorphs = 0;
    std::uint32_t uvMorphs = 0;
    std::uint32_t additionalUvMorphs = 0;
    for (const PmxMorph& morph : model.morphs) {
        vertexMorphs += morph.type == kPmxMorphVertex ? 1 : 0;
        uvMorphs += morph.type == kPmxMorphUv ? 1 : 0;
        additionalUvMorphs += IsAdditionalUv(morph.type) ? 1 : 0;
    }

    instance.vertexCount = static_cast<std::uint32_t>(vertexCount);
    instance.vertexMorphCount = vertexMorphs;
    instance.uvMorphCount = uvMorphs;
    instance.vertexMorphWeights.assign(vertexMorphs, 0.0f);
    instance.uvMorphWeights.assign(uvMorphs, 0.0f);
    instance.additionalUvMorphWeights.assign(additionalUvMorphs, 0.0f);
    instance.morphWeights.assign(morphCount, 0.0f);
    instance.morphEffective.assign(morphCount, 0.0f);
    instance.morphStates.assign(morphCount, MorphState{});
    instance.materialMorphs.assign(model.materials.size(), MaterialMorphResult{});
    instance.materialMorphCount = 0;
    instance.morphedBones.clear();
    instance.morphWeightByName.clear();
    instance.morphControls.clear();

    std::vector<std::uint8_t> boneMorphed(instance.bones.size(), 0);
    std::uint32_t vertexK = 0;
    std::uint32_t uvK = 0;
    std::uint32_t additionalK = 0;
    for (std::size_t m = 0; m < morphCount; ++m) {
        const PmxMorph& morph = model.morphs[m];
        MorphState& state = instance.morphStates[m];
        state.type = morph.type;
        instance.morphWeightByName[morph.name] = &instance.morphWeights[m];
        if (morph.type == kPmxMorphVertex) {
            state.slot = static_cast<std::int32_t>(vertexK++);
        } else if (morph.type == kPmxMorphUv) {
            state.slot = static_cast<std::int32_t>(uvK++);
        } else if (IsAdditionalUv(morph.type)) {
            state.slot = static_cast<std::int32_t>(additionalK++);
        } else if (morph.type == kPmxMorphBone) {
            for (const PmxBoneMorphOffset& o : morph.boneOffsets) {
                const auto b = static_cast<std::uint32_t>(o.boneIndex);
                if (b < instance.bones.size()) {
                    state.bones.push_back({&instance.bones[b], o.translation, o.rotation});
                    if (!boneMorphed[b]) {
                        boneMorphed[b] = 1;
                        instance.morphedBones.push_back(&instance.bones[b]);
                    }
                }
            }
        } else if (morph.type == kPmxMorphMaterial) {
            for (const PmxMaterialMorphOffset& o : morph.materialOffsets) {
                if (o.materialIndex != -1 &&
                    static_cast<std::uint32_t>(o.materialIndex) >= model.materials.size()) {
                    continue;
                }
                state.materialIndices.push_back(o.materialIndex);
                state.materialValues.push_back(ValuesOf(o));
                state.materialAdds.push_back(o.operation == 1 ? 1 : 0);
            }
            ++instance.materialMorphCount;
        } else if (morph.type == kPmxMorphImpulse) {
            for (const PmxImpulseMorphOffset& o : morph.impulseOffsets) {
                state.impulseBodies.push_back(o.rigidBodyIndex);
                state.impulseLocal.push_back(o.local);
                state.impulseVelocity.push_back(o.velocity);
                state.impulseTorque.push_back(o.torque);
            }
        }
    }
    GroupExpansion(model, instance.morphStates).Run();

    for (std::size_t m = 0; m < morphCount; ++m) {
        const PmxMorph& morph = model.morphs[m];
        instance.morphControls.push_back(
            {ToUtf8(morph.name), KindName(morph.type), &instance.morphWeights[m]});
    }
}

void ApplyMorphs(ModelInstance& instance) {
    const std::size_t count = instance.morphStates.size();
    if (count == 0) {
        return;
    }
    std::vector<float>& weight = instance.morphEffective;
    for (std::size_t m = 0; m < count; ++m) {
        weight[m] = IsGroup(instance.morphStates[m].type) ? 0.0f : instance.morphWeights[m];
    }
    for (std::size_t m = 0; m < count; ++m) {
        const MorphState& state = instance.morphStates[m];
        const float w = instance.morphWeights[m];
        if (w == 0.0f || state.links.empty()) {
            continue;
        }
        for (const MorphLink& link : state.links) {
            weight[link.morph] += w * link.factor;
        }
    }

    for (BoneState* bone : instance.morphedBones) {
        bone->morphTranslation = {};
        bone->morphRotation = {};
        bone->morphPosed = 0;
    }
    const bool materials = instance.materialMorphCount != 0;
    if (materials) {
        std::fill(instance.materialMorphs.begin(), instance.materialMorphs.end(),
                  MaterialMorphResult{});
    }
    for (std::size_t m = 0; m < count; ++m) {
        const MorphState& state = instance.morphStates[m];
        const float w = weight[m];
        switch (state.type) {
            case kPmxMorphVertex:
                instance.vertexMorphWeights[static_cast<std::size_t>(state.slot)] = w;
                break;
            case kPmxMorphUv:
                instance.uvMorphWeights[static_cast<std::size_t>(state.slot)] = w;
                break;
            case kPmxMorphAdditionalUv1:
            case kPmxMorphAdditionalUv2:
            case kPmxMorphAdditionalUv3:
            case kPmxMorphAdditionalUv4:
                instance.additionalUvMorphWeights[static_cast<std::size_t>(state.slot)] = w;
                break;
            case kPmxMorphBone:
                if (w == 0.0f) {
                    break;
                }
                for (const BoneMorphTarget& target : state.bones) {
                    BoneState& bone = *target.bone;
                    bone.morphTranslation = {bone.morphTranslation.x + w * target.translation.x,
                                             bone.morphTranslation.y + w * target.translation.y,
                                             bone.morphTranslation.z + w * target.translation.z,
                                             0.0f};
                    const Quaternion q = Normalized({target.rotation.x, target.rotation.y,
                                                     target.rotation.z, target.rotation.w});
                    const Quaternion part = Normalized(Slerp(Quaternion{}, q, w));
                    bone.morphRotation = Multiply(bone.morphRotation, part);
                    bone.morphPosed = 1;
                }
                break;
            case kPmxMorphMaterial:
                if (w == 0.0f) {
                    break;
                }
                for (std::size_t k = 0; k < state.materialIndices.size(); ++k) {
                    const std::int32_t index = state.materialIndices[k];
                    const std::size_t first = index < 0 ? 0 : static_cast<std::size_t>(index);
                    const std::size_t last = index < 0 ? instance.materialMorphs.size() : first + 1;
                    for (std::size_t i = first; i < last; ++i) {
                        MaterialMorphResult& result = instance.materialMorphs[i];
                        if (state.materialAdds[k]) {
                            EachValue(result.add, state.materialValues[k],
                                      [w](float& t, float v) { t += w * v; });
                        } else {
                            // Multiplying by v at weight w: 1 at 0, v at 1.
                            EachValue(result.multiply, state.materialValues[k],
                                      [w](float& t, float v) { t *= 1.0f + w * (v - 1.0f); });
                        }
                    }
                }
                break;
            default:
                break;
        }
    }
}

}  // namespace qv
