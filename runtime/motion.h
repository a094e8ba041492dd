// Motion tracks bound to one model's bones and morphs, and their sampling by time.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "runtime/pose_math.h"

namespace qv {

struct BoneState;
struct ModelInstance;
struct VmdMotion;

// One key of a scalar curve: a translation component relative to rest, or a
// morph weight. The Bezier control points shape the segment that starts here.
struct CurveKey {
    float time = 0.0f;         // seconds
    std::uint8_t sampled = 0;  // 1 = inserted along a curved segment at attach time
    float x1 = 0.0f, y1 = 0.0f;
    float x2 = 0.0f, y2 = 0.0f;
    float value = 0.0f;
};

struct RotationKey {
    float time = 0.0f;
    std::uint8_t sampled = 0;
    float x1 = 0.0f, y1 = 0.0f;
    float x2 = 0.0f, y2 = 0.0f;
    Quaternion rotation;
};

// The result of a key search: the key at or before the time and, when there
// is one, the key after it.
template <typename Key>
struct KeySegment {
    std::uint8_t found = 0;
    std::uint8_t hasNext = 0;
    std::uint64_t index = 0;
    Key current{};
    Key next{};
};

struct BoneTrack {
    BoneState* bone = nullptr;
    // Further bones whose names the file cannot tell from bone's (they differ
    // only past its 15-byte field): they take the same values.
    std::vector<BoneState*> sameNamed;
    std::uint64_t cachedIndex[4] = {0, 0, 0, 0};  // X, Y, Z, rotation
    std::vector<CurveKey> xKeys;
    std::vector<CurveKey> yKeys;
    std::vector<CurveKey> zKeys;
    std::vector<RotationKey> rotationKeys;
};

struct MorphTrack {
    float* weight = nullptr;
    std::vector<float*> sameNamed;  // as for bones
    std::uint64_t cachedIndex = 0;
    std::vector<CurveKey> keys;
};

// The IK switches of one IK bone: from each key's time on, the chain is on or
// off as that key says, until the next key.
struct IkSwitchKey {
    float time = 0.0f;
    std::uint8_t enabled = 1;
};

struct IkSwitchTrack {
    BoneState* bone = nullptr;
    std::vector<IkSwitchKey> keys;  // by time
};

struct MotionState {
    float fps = 30.0f;
    float time = 0.0f;  // seconds
    float end = 0.0f;   // latest key time of all tracks
    std::map<std::u16string, BoneTrack> boneTracks;
    std::map<std::u16string, MorphTrack> morphTracks;
    std::map<std::u16string, IkSwitchTrack> ikSwitchTracks;
};

// Converts the keys of motion into tracks of the instance. Bone and morph
// names the instance lacks, bones driven by a simulated body and empty key
// lists are skipped. A name that already has a track gets the new one unless
// every new curve holds fewer than two keys. end only grows. Does nothing
// while fps is not a positive number, as no key could be given a time.
void AttachMotion(ModelInstance& instance, const VmdMotion& motion);

// Writes the tracks' values at the current time into the bones' translation
// and rotation, the morph weights and the IK bones' motion switches.
void EvaluateMotion(ModelInstance& instance);

// Returns to time 0, evaluates, updates the skeleton and solves enabled IK.
void RewindMotion(ModelInstance& instance);

// The same at `seconds`, held to 0..end (a time that is not a number is 0):
// playing or not, the pose is the motion's at that time.
void SeekMotion(ModelInstance& instance, float seconds);

// Finds the segment that holds time in keys sorted by time, starting from
// the cached index so that forward playback costs one step per frame.
template <typename Key>
KeySegment<Key> FindKeySegment(std::span<const Key> keys, float time, std::uint64_t cachedIndex);

// The eased fraction of a segment: the Bezier y-polynomial at t, or t itself
// for a linear curve.
float BezierWeight(const CurveKey& key, float t);
float BezierWeight(const RotationKey& key, float t);

}  // namespace qv
