// Costs of the pose pipeline on the shared model: one played frame, attaching
// a large motion, and the leg IK solve on its own.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "runtime/model_instance.h"
#include "runtime/skeleton.h"

namespace qv {

namespace {

const std::filesystem::path kGene = std::filesystem::path(QV_CONTENT_DIR) / "gene";

const PmxModel* Gene() {
    static const std::unique_ptr<PmxModel> model = [] {
        auto m = std::make_unique<PmxModel>();
        if (Failed(LoadPmxModel(*m, kGene / "Gene_light.pmx"))) {
            m.reset();
        }
        return m;
    }();
    return model.get();
}

std::array<std::uint8_t, 64> CurvedInterpolation() {
    std::array<std::uint8_t, 64> b{};
    const std::uint8_t points[4] = {90, 10, 40, 120};  // x1, y1, x2, y2
    for (int p = 0; p < 4; ++p) {
        for (int c = 0; c < 4; ++c) {
            b[p * 4 + c] = points[p];
        }
    }
    b[17] = points[0];
    b[18] = points[0];
    return b;
}

VmdBoneKey Key(const std::u16string& name, std::uint32_t frame, float phase) {
    VmdBoneKey key;
    key.boneName = name;
    key.frame = frame;
    const float s = std::sin(phase), c = std::cos(phase * 1.3f);
    key.position = {0.2f * s, 0.1f * c, 0.2f * s * c};
    const float angle = 0.3f * s;
    const float ax = 0.6f, ay = 0.64f * c, az = 0.48f;
    const float length = std::sqrt(ax * ax + ay * ay + az * az);
    const float h = std::sin(angle / 2) / length;
    key.rotation = {ax * h, ay * h, az * h, std::cos(angle / 2)};
    key.interpolation = CurvedInterpolation();
    return key;
}

// A motion of the given length that keys every bone and every morph of the
// model every `step` frames.
VmdMotion EveryBoneMotion(const PmxModel& model, std::uint32_t frames, std::uint32_t step) {
    VmdMotion motion;
    for (std::size_t b = 0; b < model.bones.size(); ++b) {
        const std::u16string& name = model.bones[b].name;
        for (std::uint32_t f = 0; f <= frames; f += step) {
            motion.boneKeys[name].push_back(Key(name, f, 0.05f * f + 0.3f * b));
        }
    }
    for (std::size_t m = 0; m < model.morphs.size(); ++m) {
        const std::u16string& name = model.morphs[m].name;
        for (std::uint32_t f = 0; f <= frames; f += step) {
            VmdMorphKey key;
            key.morphName = name;
            key.frame = f;
            key.weight = 0.5f + 0.5f * std::sin(0.1f * f + m);
            motion.morphKeys[name].push_back(key);
        }
    }
    return motion;
}

// Plays the instance's motion frame after frame, rewinding (untimed) at its end.
void PlayFrames(benchmark::State& state, ModelInstance& instance) {
    instance.playing = 1;
    RewindMotion(instance);
    for (auto _ : state) {
        UpdateModel(instance, 1.0f / 60);
        if (instance.motion.time >= instance.motion.end) {
            state.PauseTiming();
            RewindMotion(instance);
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(instance.bones.back().worldMatrix);
}

// Whether the shared model is there; without it the benchmark is skipped.
bool HaveGene(benchmark::State& state) {
    if (Gene() == nullptr) {
        state.SkipWithError("shared content not found");
        return false;
    }
    return true;
}

// Gene as an instance; false (and the benchmark skipped) without content.
bool GeneInstance(benchmark::State& state, ModelInstance& instance) {
    if (!HaveGene(state)) {
        return false;
    }
    CreateModelInstance(instance, *Gene());
    return true;
}

// Gene with stand.vmd attached; false (and the benchmark skipped) without content.
bool StandInstance(benchmark::State& state, ModelInstance& instance) {
    VmdMotion motion;
    if (Failed(LoadVmdMotion(motion, kGene / "motion" / "stand.vmd"))) {
        state.SkipWithError("shared content not found");
        return false;
    }
    if (!GeneInstance(state, instance)) {
        return false;
    }
    AttachMotion(instance, motion);
    return true;
}

void BM_UpdateModel_Stand(benchmark::State& state) {
    ModelInstance instance;
    if (!StandInstance(state, instance)) {
        return;
    }
    PlayFrames(state, instance);
}
BENCHMARK(BM_UpdateModel_Stand)->Unit(benchmark::kMicrosecond);

// The parts of a played frame, for reading the figure above.
void BM_EvaluateMotion_Stand(benchmark::State& state) {
    ModelInstance instance;
    if (!StandInstance(state, instance)) {
        return;
    }
    for (auto _ : state) {
        const float next = instance.motion.time + 1.0f / 60;
        instance.motion.time = next < instance.motion.end ? next : 0.0f;
        EvaluateMotion(instance);
    }
}
BENCHMARK(BM_EvaluateMotion_Stand)->Unit(benchmark::kMicrosecond);

// A generated model with 200 morphs (group, bone and material, a third
// each, the groups reaching the other two kinds) on 50 bones and 20
// materials, every morph keyed: one played frame.
void BM_UpdateModel_200KeyedMorphs(benchmark::State& state) {
    PmxModel model;
    for (int b = 0; b < 50; ++b) {
        PmxBone bone;
        const std::string name = "bone" + std::to_string(b);
        bone.name.assign(name.begin(), name.end());
        bone.position = {0.0f, static_cast<float>(b), 0.0f};
        bone.parentIndex = b - 1;
        bone.tailOffset = {0.0f, 1.0f, 0.0f};
        model.bones.push_back(bone);
    }
    model.materials.resize(20);
    for (int m = 0; m < 200; ++m) {
        PmxMorph morph;
        const std::string name = "morph" + std::to_string(m);
        morph.name.assign(name.begin(), name.end());
        switch (m % 3) {
            case 0:
                morph.type = kPmxMorphGroup;
                morph.groupOffsets = {{(m + 1) % 200, 0.5f}, {(m + 2) % 200, 0.25f}};
                break;
            case 1:
                morph.type = kPmxMorphBone;
                morph.boneOffsets = {
                    {m % 50, {0.0f, 0.1f, 0.0f}, {0.0f, 0.0f, 0.0998f, 0.995f}},
                    {(m + 7) % 50, {0.1f, 0.0f, 0.0f}, {0.0998f, 0.0f, 0.0f, 0.995f}}};
                break;
            default:
                morph.type = kPmxMorphMaterial;
                PmxMaterialMorphOffset offset;
                offset.materialIndex = m % 7 == 0 ? -1 : m % 20;
                offset.operation = m % 2;
                offset.diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
                morph.materialOffsets = {offset};
                break;
        }
        model.morphs.push_back(morph);
    }
    VmdMotion motion;
    for (const PmxMorph& morph : model.morphs) {
        for (std::uint32_t frame = 0; frame <= 600; frame += 15) {
            motion.morphKeys[morph.name].push_back(
                {morph.name, frame, 0.5f + 0.5f * std::sin(0.1f * static_cast<float>(frame))});
        }
    }
    ModelInstance instance;
    CreateModelInstance(instance, model);
    AttachMotion(instance, motion);
    if (instance.motion.morphTracks.size() != model.morphs.size()) {
        state.SkipWithError("not every morph is keyed");
        return;
    }
    PlayFrames(state, instance);
}
BENCHMARK(BM_UpdateModel_200KeyedMorphs)->Unit(benchmark::kMicrosecond);

void BM_UpdateSkeleton_Gene(benchmark::State& state) {
    ModelInstance instance;
    if (!GeneInstance(state, instance)) {
        return;
    }
    for (auto _ : state) {
        UpdateSkeleton(instance);
    }
    benchmark::DoNotOptimize(instance.bones.back().worldMatrix);
}
BENCHMARK(BM_UpdateSkeleton_Gene)->Unit(benchmark::kMicrosecond);

void BM_UpdateModel_EveryBone300Frames(benchmark::State& state) {
    ModelInstance instance;
    if (!GeneInstance(state, instance)) {
        return;
    }
    AttachMotion(instance, EveryBoneMotion(*Gene(), 300, 5));
    PlayFrames(state, instance);
}
BENCHMARK(BM_UpdateModel_EveryBone300Frames)->Unit(benchmark::kMicrosecond);

void BM_AttachMotion_100kBoneKeys(benchmark::State& state) {
    if (!HaveGene(state)) {
        return;
    }
    // 100,000 keys spread over all bones, three frames apart, all curved.
    VmdMotion motion;
    const std::size_t bones = Gene()->bones.size();
    for (std::uint32_t k = 0; k < 100000; ++k) {
        const std::u16string& name = Gene()->bones[k % bones].name;
        const auto frame = static_cast<std::uint32_t>(3 * (k / bones));
        motion.boneKeys[name].push_back(Key(name, frame, 0.01f * k));
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto instance = std::make_unique<ModelInstance>();
        CreateModelInstance(*instance, *Gene());
        state.ResumeTiming();
        AttachMotion(*instance, motion);
        benchmark::DoNotOptimize(instance->motion.end);
        state.PauseTiming();
        instance.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AttachMotion_100kBoneKeys)->Unit(benchmark::kMillisecond);

// The legs of a crouching pose, solved from the same start every time. The
// restore costs are measured alone by the baseline below.
struct LegSolve {
    ModelInstance instance;
    std::vector<BoneState*> legs;
    std::vector<std::pair<BoneState*, Quaternion>> start;

    bool Prepare() {
        if (Gene() == nullptr) {
            return false;
        }
        CreateModelInstance(instance, *Gene());
        for (BoneState& bone : instance.bones) {
            if (bone.name == u"センター") {
                bone.translation = Add3(bone.restOffset, {0, -1.5f, 0, 0});
            }
            if (bone.ikEnabled == 1 && bone.ikLinks.size() == 2) {
                legs.push_back(&bone);
                bone.translation = Add3(bone.restOffset, {0, 0.5f, -0.5f, 0});
                for (const IkLink& link : bone.ikLinks) {
                    start.emplace_back(link.bone, link.bone->rotation);
                }
            }
        }
        UpdateSkeleton(instance);
        return !legs.empty();
    }

    void Restore() {
        for (auto& [bone, rotation] : start) {
            bone->rotation = rotation;
        }
        for (BoneState* leg : legs) {
            UpdateBoneSubtree(*leg->ikLinks.back().bone);
        }
    }
};

void BM_SolveIk_Legs(benchmark::State& state) {
    LegSolve solve;
    if (!solve.Prepare()) {
        state.SkipWithError("shared content not found");
        return;
    }
    for (auto _ : state) {
        solve.Restore();
        for (BoneState* leg : solve.legs) {
            SolveIk(*leg);
        }
    }
    benchmark::DoNotOptimize(solve.legs.front()->ikTarget->jointPosition);
}
BENCHMARK(BM_SolveIk_Legs)->Unit(benchmark::kMicrosecond);

void BM_SolveIk_LegsRestoreOnly(benchmark::State& state) {
    LegSolve solve;
    if (!solve.Prepare()) {
        state.SkipWithError("shared content not found");
        return;
    }
    for (auto _ : state) {
        solve.Restore();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SolveIk_LegsRestoreOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

}  // namespace qv
