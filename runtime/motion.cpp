// Turns a motion's keys into per-bone tracks at attach time and samples them each frame.
#include "runtime/motion.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "formats/vmd_motion.h"
#include "formats/vmd_names.h"
#include "runtime/ik.h"
#include "runtime/model_instance.h"
#include "runtime/morphs.h"
#include "runtime/skeleton.h"

namespace qv {

namespace {

constexpr float kControlScale = 1.0f / 127.0f;

// Samples inserted into one segment at most. Ordinary motions stay far below
// (a curved gap of 17 s on the densest curve); a file whose keys lie billions
// of frames apart would otherwise ask for billions of samples.
constexpr std::int64_t kMaxSamplesPerSegment = 1024;

bool IsLinear(float x1, float y1, float x2, float y2) {
    return x1 == y1 && x2 == y2;
}

float BezierPolynomial(float p1, float p2, float u) {
    const float v = 1.0f - u;
    return 3.0f * v * v * u * p1 + 3.0f * v * u * u * p2 + u * u * u;
}

float Lerp(float a, float b, float t) {
    return a + (b - a) * t;
}

CurveKey MakeCurveKey(float time, const std::uint8_t* b, int x1, int y1, int x2, int y2,
                      float value) {
    CurveKey key;
    key.time = time;
    key.x1 = b[x1] * kControlScale;
    key.y1 = b[y1] * kControlScale;
    key.x2 = b[x2] * kControlScale;
    key.y2 = b[y2] * kControlScale;
    key.value = value;
    return key;
}

float SampleValue(const CurveKey& from, const CurveKey& to, float eased) {
    return Lerp(from.value, to.value, eased);
}

Quaternion SampleValue(const RotationKey& from, const RotationKey& to, float eased) {
    return Slerp(from.rotation, to.rotation, eased);
}

void SetValue(CurveKey& key, float value) {
    key.value = value;
}
void SetValue(RotationKey& key, const Quaternion& value) {
    key.rotation = value;
}

// Appends key to curve, first inserting samples along the previous key's
// Bezier curve when the gap is longer than one frame. Evaluation eases each
// segment with the y-polynomial at the raw time fraction and never inverts
// the x-polynomial; samples timed by Bx and valued by By carry the curve's
// timing instead. samplesPerSecond sets their density.
template <typename Key>
void AppendWithSamples(std::vector<Key>& curve, const Key& key, float fps, float samplesPerSecond) {
    if (!curve.empty()) {
        const Key prev = curve.back();
        const float gap = key.time - prev.time;
        if (gap > 1.0f / fps && !IsLinear(prev.x1, prev.y1, prev.x2, prev.y2)) {
            const auto n = static_cast<std::int64_t>(
                std::min(samplesPerSecond * gap, static_cast<float>(kMaxSamplesPerSegment)));
            for (std::int64_t i = 1; i < n; ++i) {
                const float u = static_cast<float>(i) / static_cast<float>(n);
                Key sample = prev;
                // Control bytes above 127 could push a sample outside the
                // segment; keeping it inside keeps the curve sorted by time.
                sample.time = std::clamp(prev.time + gap * BezierPolynomial(prev.x1, prev.x2, u),
                                         curve.back().time, key.time);
                SetValue(sample, SampleValue(prev, key, BezierPolynomial(prev.y1, prev.y2, u)));
                sample.sampled = 1;
                curve.push_back(sample);
            }
        }
    }
    curve.push_back(key);
}

BoneTrack ConvertKeys(const std::vector<VmdBoneKey>& source, float fps) {
    std::vector<const VmdBoneKey*> sorted;
    sorted.reserve(source.size());
    for (const VmdBoneKey& key : source) {
        sorted.push_back(&key);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const VmdBoneKey* a, const VmdBoneKey* b) { return a->frame < b->frame; });

    BoneTrack track;
    for (const VmdBoneKey* key : sorted) {
        const float time = static_cast<float>(key->frame) / fps;
        const std::uint8_t* b = key->interpolation.data();
        AppendWithSamples(track.xKeys, MakeCurveKey(time, b, 0, 4, 8, 12, key->position.x), fps,
                          fps + 30.0f);
        AppendWithSamples(track.yKeys, MakeCurveKey(time, b, 1, 5, 9, 13, key->position.y), fps,
                          fps);
        AppendWithSamples(track.zKeys, MakeCurveKey(time, b, 17, 6, 10, 14, key->position.z), fps,
                          fps);
        RotationKey rotation;
        rotation.time = time;
        rotation.x1 = b[18] * kControlScale;
        rotation.y1 = b[7] * kControlScale;
        rotation.x2 = b[11] * kControlScale;
        rotation.y2 = b[15] * kControlScale;
        rotation.rotation = {key->rotation.x, key->rotation.y, key->rotation.z, key->rotation.w};
        AppendWithSamples(track.rotationKeys, rotation, fps, fps);
    }
    return track;
}

MorphTrack ConvertKeys(const std::vector<VmdMorphKey>& source, float fps) {
    std::vector<const VmdMorphKey*> sorted;
    sorted.reserve(source.size());
    for (const VmdMorphKey& key : source) {
        sorted.push_back(&key);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const VmdMorphKey* a, const VmdMorphKey* b) {
        return a->frame < b->frame;
    });
    MorphTrack track;
    track.keys.reserve(sorted.size());
    for (const VmdMorphKey* key : sorted) {
        CurveKey curveKey;
        curveKey.time = static_cast<float>(key->frame) / fps;
        curveKey.value = key->weight;
        track.keys.push_back(curveKey);
    }
    return track;
}

template <typename Key>
float LatestTime(const std::vector<Key>& keys) {
    float latest = 0.0f;
    for (const Key& key : keys) {
        latest = std::max(latest, key.time);
    }
    return latest;
}

// Whether a track changes its target over time; a single key only holds a pose.
bool Moves(const BoneTrack& track) {
    return track.xKeys.size() >= 2 || track.yKeys.size() >= 2 || track.zKeys.size() >= 2 ||
           track.rotationKeys.size() >= 2;
}
bool Moves(const MorphTrack& track) {
    return track.keys.size() >= 2;
}

void Bind(BoneTrack& track, const std::vector<BoneState*>& bones) {
    track.bone = bones.front();
    track.sameNamed.assign(bones.begin() + 1, bones.end());
}
void Bind(MorphTrack& track, const std::vector<float*>& weights) {
    track.weight = weights.front();
    track.sameNamed.assign(weights.begin() + 1, weights.end());
}

// Adds a motion's keys to the tracks of the targets the model has. A name
// another motion already drives changes hands only to a track that moves, so
// a later single key cannot freeze a moving track.
template <typename Key, typename Target, typename Track>
void MergeTracks(const std::map<std::u16string, std::vector<Key>>& keysByName,
                 const std::unordered_map<std::u16string, std::vector<Target>>& targetsByName,
                 float fps, std::map<std::u16string, Track>& tracks) {
    for (const auto& [name, keys] : keysByName) {
        if (keys.empty()) {
            continue;
        }
        const auto targets = targetsByName.find(name);
        if (targets == targetsByName.end()) {
            continue;
        }
        Track track = ConvertKeys(keys, fps);
        Bind(track, targets->second);
        auto existing = tracks.find(name);
        if (existing == tracks.end()) {
            tracks.emplace(name, std::move(track));
        } else if (Moves(track)) {
            existing->second = std::move(track);
        }
    }
}

// The eased fraction of time between two keys, for a time before the later
// key.
template <typename Key>
float SegmentWeight(const Key& k0, const Key& k1, float time, bool eased) {
    const float f = std::clamp((time - k0.time) / (k1.time - k0.time), 0.0f, 1.0f);
    return eased ? BezierWeight(k0, f) : f;
}

// A time at or past the segment's later key lands on that key; of several
// keys at that same time the last one holds.
template <typename Key>
const Key* KeyReached(const std::vector<Key>& keys, const KeySegment<Key>& seg, float time) {
    if (time < seg.next.time) {
        return nullptr;
    }
    std::size_t j = seg.index + 1;
    while (j + 1 < keys.size() && keys[j + 1].time <= time) {
        ++j;
    }
    return &keys[j];
}

// The value of a scalar curve at time; 0 before its first key.
float EvaluateCurve(const std::vector<CurveKey>& keys, float time, std::uint64_t& cache,
                    bool eased) {
    // Most tracks of a pose-like motion hold one key: its value, found at once.
    if (keys.size() == 1 && time >= keys[0].time) {
        cache = 0;
        return keys[0].value;
    }
    const KeySegment<CurveKey> seg = FindKeySegment(std::span<const CurveKey>(keys), time, cache);
    if (!seg.found) {
        return 0.0f;
    }
    cache = seg.index;
    if (!seg.hasNext) {
        return seg.current.value;
    }
    if (const CurveKey* reached = KeyReached(keys, seg, time)) {
        return reached->value;
    }
    const float w = SegmentWeight(seg.current, seg.next, time, eased);
    return seg.current.value + w * (seg.next.value - seg.current.value);
}

// The rotation of a curve at time; identity before its first key.
Quaternion EvaluateRotation(const std::vector<RotationKey>& keys, float time,
                            std::uint64_t& cache) {
    if (keys.size() == 1 && time >= keys[0].time) {
        cache = 0;
        return keys[0].rotation;
    }
    const KeySegment<RotationKey> seg =
        FindKeySegment(std::span<const RotationKey>(keys), time, cache);
    if (!seg.found) {
        return {};
    }
    cache = seg.index;
    if (!seg.hasNext) {
        return seg.current.rotation;
    }
    if (const RotationKey* reached = KeyReached(keys, seg, time)) {
        return reached->rotation;
    }
    return Slerp(seg.current.rotation, seg.next.rotation,
                 SegmentWeight(seg.current, seg.next, time, true));
}

}  // namespace

template <typename Key>
KeySegment<Key> FindKeySegment(std::span<const Key> keys, float time, std::uint64_t cachedIndex) {
    KeySegment<Key> seg;
    const std::uint64_t count = keys.size();
    if (count == 0) {
        return seg;
    }
    if (cachedIndex >= count) {
        cachedIndex = 0;
    }
    auto found = [&](std::uint64_t index, bool hasNext) {
        seg.found = 1;
        seg.hasNext = hasNext ? 1 : 0;
        seg.index = index;
        seg.current = keys[index];
        if (hasNext) {
            seg.next = keys[index + 1];
        }
        return seg;
    };
    if (time >= keys[cachedIndex].time) {
        for (std::uint64_t i = cachedIndex;; ++i) {
            if (time >= keys[i].time && i + 1 < count && keys[i + 1].time >= time) {
                return found(i, true);
            }
            if (i == count - 1) {
                return found(i, false);
            }
        }
    }
    for (std::uint64_t j = cachedIndex; j >= 1; --j) {
        if (keys[j - 1].time <= time && time <= keys[j].time) {
            return found(j - 1, true);
        }
    }
    return seg;
}

template KeySegment<CurveKey> FindKeySegment(std::span<const CurveKey>, float, std::uint64_t);
template KeySegment<RotationKey> FindKeySegment(std::span<const RotationKey>, float, std::uint64_t);

float BezierWeight(const CurveKey& key, float t) {
    if (IsLinear(key.x1, key.y1, key.x2, key.y2)) {
        return t;
    }
    return BezierPolynomial(key.y1, key.y2, t);
}

float BezierWeight(const RotationKey& key, float t) {
    if (IsLinear(key.x1, key.y1, key.x2, key.y2)) {
        return t;
    }
    return BezierPolynomial(key.y1, key.y2, t);
}

void AttachMotion(ModelInstance& instance, const VmdMotion& motion) {
    MotionState& state = instance.motion;
    const float fps = state.fps;
    if (!(fps > 0.0f) || !std::isfinite(fps)) {
        return;
    }

    // Names are matched in the file's terms: a model name, in Shift-JIS and
    // cut to the key's field, against the field's bytes (both as keys that
    // stand for exactly those bytes). Names that only differ past the field
    // ("brow_angry_geo_L" and "_R") look the same there, and the file's keys
    // drive all of them.
    VmdNameCodec codec;
    std::unordered_map<std::u16string, std::vector<BoneState*>> boneByName;
    boneByName.reserve(instance.bones.size());
    for (BoneState& bone : instance.bones) {
        if (bone.drivingBody == nullptr) {
            boneByName[codec.ModelNameKey(bone.name, kVmdKeyNameBytes)].push_back(&bone);
        }
    }
    std::unordered_map<std::u16string, std::vector<float*>> weightByName;
    weightByName.reserve(instance.morphWeightByName.size());
    for (const auto& [name, weight] : instance.morphWeightByName) {
        weightByName[codec.ModelNameKey(name, kVmdKeyNameBytes)].push_back(weight);
    }

    MergeTracks(motion.boneKeys, boneByName, fps, state.boneTracks);
    MergeTracks(motion.morphKeys, weightByName, fps, state.morphTracks);

    // IK switches: the 20-byte names of IK bones. A motion that switches a
    // chain replaces the switches another motion gave it.
    std::unordered_map<std::u16string, BoneState*> ikBoneByName;
    for (BoneState& bone : instance.bones) {
        if (!bone.ikLinks.empty()) {
            ikBoneByName.emplace(codec.ModelNameKey(bone.name, kVmdIkNameBytes), &bone);
        }
    }
    std::map<std::u16string, IkSwitchTrack> switches;
    for (const VmdIkKey& key : motion.ikKeys) {
        for (const VmdIkSwitch& s : key.switches) {
            const auto bone = ikBoneByName.find(s.name);
            if (bone == ikBoneByName.end()) {
                continue;
            }
            IkSwitchTrack& track = switches[s.name];
            track.bone = bone->second;
            track.keys.push_back({static_cast<float>(key.frame) / fps,
                                  s.enabled != 0 ? std::uint8_t{1} : std::uint8_t{0}});
        }
    }
    for (auto& [name, track] : switches) {
        std::stable_sort(
            track.keys.begin(), track.keys.end(),
            [](const IkSwitchKey& a, const IkSwitchKey& b) { return a.time < b.time; });
        state.end = std::max(state.end, track.keys.back().time);
        state.ikSwitchTracks[name] = std::move(track);
    }

    for (const auto& [name, track] : state.boneTracks) {
        state.end = std::max({state.end, LatestTime(track.xKeys), LatestTime(track.yKeys),
                              LatestTime(track.zKeys), LatestTime(track.rotationKeys)});
    }
    for (const auto& [name, track] : state.morphTracks) {
        state.end = std::max(state.end, LatestTime(track.keys));
    }
}

void EvaluateMotion(ModelInstance& instance) {
    MotionState& state = instance.motion;
    const float time = state.time;
    for (auto& [name, track] : state.boneTracks) {
        const float x = EvaluateCurve(track.xKeys, time, track.cachedIndex[0], true);
        const float y = EvaluateCurve(track.yKeys, time, track.cachedIndex[1], true);
        const float z = EvaluateCurve(track.zKeys, time, track.cachedIndex[2], true);

        const Quaternion q = EvaluateRotation(track.rotationKeys, time, track.cachedIndex[3]);

        auto pose = [&](BoneState& bone) {
            bone.translation = {bone.restOffset.x + x, bone.restOffset.y + y, bone.restOffset.z + z,
                                0.0f};
            if (!IsZero(q)) {
                bone.rotation = q;
            }
        };
        pose(*track.bone);
        for (BoneState* bone : track.sameNamed) {
            pose(*bone);
        }
    }
    for (auto& [name, track] : state.morphTracks) {
        if (track.keys.empty()) {
            continue;
        }
        const float w = EvaluateCurve(track.keys, time, track.cachedIndex, false);
        *track.weight = w;
        for (float* weight : track.sameNamed) {
            *weight = w;
        }
    }
    // A chain is on before its first switch key; from a key on it stays as
    // that key says until the next one.
    for (auto& [name, track] : state.ikSwitchTracks) {
        std::uint8_t enabled = 1;
        for (const IkSwitchKey& key : track.keys) {
            if (key.time > time) {
                break;
            }
            enabled = key.enabled;
        }
        track.bone->ikMotionEnabled = enabled;
    }
}

void RewindMotion(ModelInstance& instance) {
    SeekMotion(instance, 0.0f);
}

void SeekMotion(ModelInstance& instance, float seconds) {
    MotionState& state = instance.motion;
    // 0 / fps is 0 for any usable rate; a rate of 0 would make it undefined.
    state.time = std::min(std::isfinite(seconds) ? std::max(seconds, 0.0f) : 0.0f, state.end);
    for (auto& [name, track] : state.boneTracks) {
        std::fill(std::begin(track.cachedIndex), std::end(track.cachedIndex), 0);
    }
    for (auto& [name, track] : state.morphTracks) {
        track.cachedIndex = 0;
    }
    EvaluateMotion(instance);
    ApplyMorphs(instance);
    UpdateSkeletonBeforePhysics(instance);
    SolveEnabledIk(instance);
    UpdateBonesAfterPhysics(instance);
}

}  // namespace qv
