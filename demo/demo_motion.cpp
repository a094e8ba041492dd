// Keys the demo dance beat by beat, so it stays in time with the demo song.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "demo/demo_content.h"
#include "runtime/pose_math.h"

namespace qv {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr std::uint32_t kFramesPerBeat =
    static_cast<std::uint32_t>(kDemoMotionFps * 60.0f / kDemoBeatsPerMinute);
constexpr std::uint32_t kLastFrame = kDemoBeats * kFramesPerBeat;

Quaternion Euler(float xDegrees, float yDegrees, float zDegrees) {
    const float toRadians = kPi / 180.0f;
    return EulerToQuaternion(xDegrees * toRadians, yDegrees * toRadians, zDegrees * toRadians);
}

Quaternion AxisAngle(Float3 axis, float degrees) {
    const float length = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    const float half = 0.5f * degrees * kPi / 180.0f;
    const float s = std::sin(half) / length;
    return {axis.x * s, axis.y * s, axis.z * s, std::cos(half)};
}

// Keys of one bone at increasing frames; every key eases in and out.
class MotionBuilder {
public:
    void Bone(const std::u16string& name, std::uint32_t frame, Float3 position,
              Quaternion rotation = {}) {
        VmdRawBoneKey key(EncodeCp932(name), frame, position,
                          {rotation.x, rotation.y, rotation.z, rotation.w});
        key.interpolation = VmdBoneInterpolation(40, 0, 88, 127);
        file_.bones.push_back(std::move(key));
    }
    void Morph(const std::u16string& name, std::uint32_t frame, float weight) {
        file_.morphs.push_back({EncodeCp932(name), frame, weight});
    }
    VmdFile Take() {
        file_.modelName = EncodeCp932(u"QVデモ");
        return std::move(file_);
    }

private:
    VmdFile file_;
};

// The forward bend of an elbow: a turn about the axis across the forearm,
// which hangs 40 degrees below horizontal, outwards (+x on the left).
Quaternion ElbowBend(float side, float degrees) {
    return AxisAngle({0.643f, 0.766f * side, 0}, degrees);
}

}  // namespace

VmdFile DemoMotion() {
    MotionBuilder motion;
    const std::u16string bones[] = {u"センター", u"上半身", u"頭",       u"左腕",    u"右腕",
                                    u"左ひじ",   u"右ひじ", u"左足ＩＫ", u"右足ＩＫ"};
    for (const std::u16string& bone : bones) {
        motion.Bone(bone, 0, {});
        motion.Bone(bone, kLastFrame, {});
    }
    for (const char16_t* morph : {u"あ", u"まばたき"}) {
        motion.Morph(morph, 0, 0.0f);
        motion.Morph(morph, kLastFrame, 0.0f);
    }

    // Eight-beat phrases. The hips never rise to full height, so the legs
    // stay bent and the feet can always reach their IK goals.
    for (std::uint32_t beat = 1; beat < kDemoBeats; ++beat) {
        const std::uint32_t onBeat = beat * kFramesPerBeat;
        const std::uint32_t offBeat = onBeat + kFramesPerBeat / 2 + 1;
        const std::uint32_t inPhrase = (beat - 1) % 8;
        const float side = inPhrase % 2 == 0 ? 1.0f : -1.0f;
        if (inPhrase < 4) {
            // Sway from side to side, arms swinging, dipping on the beat.
            motion.Bone(u"センター", onBeat, {0.7f * side, -0.75f, 0});
            motion.Bone(u"センター", offBeat, {0, -0.25f, 0});
            motion.Bone(u"上半身", onBeat, {}, Euler(0, -6.0f * side, 5.0f * side));
            motion.Bone(u"上半身", offBeat, {}, Euler(0, 0, 0));
            motion.Bone(u"頭", onBeat, {}, Euler(0, 0, -9.0f * side));
            motion.Bone(u"頭", offBeat, {}, Euler(4.0f, 0, 0));
            motion.Bone(u"左腕", onBeat, {}, Euler(28.0f * side, 0, 0));
            motion.Bone(u"右腕", onBeat, {}, Euler(-28.0f * side, 0, 0));
            motion.Bone(u"左腕", offBeat, {}, Euler(0, 0, 0));
            motion.Bone(u"右腕", offBeat, {}, Euler(0, 0, 0));
            motion.Bone(u"左ひじ", onBeat, {}, ElbowBend(1, 35.0f));
            motion.Bone(u"右ひじ", onBeat, {}, ElbowBend(-1, 35.0f));
            motion.Bone(u"左ひじ", offBeat, {}, ElbowBend(1, 15.0f));
            motion.Bone(u"右ひじ", offBeat, {}, ElbowBend(-1, 15.0f));
            motion.Bone(u"左足ＩＫ", onBeat, {});
            motion.Bone(u"右足ＩＫ", onBeat, {});
            motion.Morph(u"あ", onBeat, 0.0f);
        } else {
            // Kick a foot forward on the beat, the weight on the other leg,
            // arms up and waving, singing along.
            const std::u16string lifted = side > 0 ? u"左足ＩＫ" : u"右足ＩＫ";
            const std::u16string standing = side > 0 ? u"右足ＩＫ" : u"左足ＩＫ";
            motion.Bone(u"センター", onBeat, {-0.6f * side, -0.7f, 0});
            motion.Bone(u"センター", offBeat, {0, -0.3f, 0});
            motion.Bone(lifted, onBeat, {0.1f * side, 1.4f, -0.6f});
            motion.Bone(lifted, offBeat, {});
            motion.Bone(standing, onBeat, {});
            motion.Bone(standing, offBeat, {});
            motion.Bone(u"上半身", onBeat, {}, Euler(-4.0f, 10.0f * side, 0));
            motion.Bone(u"上半身", offBeat, {}, Euler(0, 0, 0));
            motion.Bone(u"頭", onBeat, {}, Euler(8.0f, 0, 6.0f * side));
            motion.Bone(u"頭", offBeat, {}, Euler(0, 0, 0));
            motion.Bone(u"左腕", onBeat, {}, Euler(0, 0, 60.0f + 15.0f * side));
            motion.Bone(u"右腕", onBeat, {}, Euler(0, 0, -60.0f + 15.0f * side));
            motion.Bone(u"左腕", offBeat, {}, Euler(0, 0, 60.0f));
            motion.Bone(u"右腕", offBeat, {}, Euler(0, 0, -60.0f));
            motion.Bone(u"左ひじ", onBeat, {}, ElbowBend(1, 45.0f));
            motion.Bone(u"右ひじ", onBeat, {}, ElbowBend(-1, 45.0f));
            motion.Bone(u"左ひじ", offBeat, {}, ElbowBend(1, 25.0f));
            motion.Bone(u"右ひじ", offBeat, {}, ElbowBend(-1, 25.0f));
            motion.Morph(u"あ", onBeat, 0.9f);
            motion.Morph(u"あ", offBeat, 0.1f);
        }
    }
    // A blink every two and a half seconds.
    for (std::uint32_t frame = 45; frame + 6 < kLastFrame; frame += 75) {
        motion.Morph(u"まばたき", frame, 0.0f);
        motion.Morph(u"まばたき", frame + 3, 1.0f);
        motion.Morph(u"まばたき", frame + 6, 0.0f);
    }
    return motion.Take();
}

std::vector<std::uint8_t> DemoSong() {
    constexpr std::uint32_t kRate = 22050;
    const float beatSeconds = 60.0f / kDemoBeatsPerMinute;
    const auto total = static_cast<std::uint32_t>(kDemoBeats * beatSeconds * kRate);
    const auto perBeat = static_cast<std::uint32_t>(beatSeconds * kRate);
    std::vector<float> mix(total, 0.0f);
    std::uint32_t noise = 0x2545F491u;
    auto white = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<float>(noise >> 8) / static_cast<float>(1u << 23) - 1.0f;
    };
    auto add = [&](std::uint32_t start, float seconds, auto voice) {
        const auto length = static_cast<std::uint32_t>(seconds * kRate);
        for (std::uint32_t i = 0; i < length && start + i < total; ++i) {
            mix[start + i] += voice(static_cast<float>(i) / kRate);
        }
    };
    for (std::uint32_t beat = 0; beat < kDemoBeats; ++beat) {
        const std::uint32_t at = beat * perBeat;
        // Kick: a sine falling from 150 Hz to 50 Hz.
        float phase = 0.0f;
        add(at, 0.3f, [&phase](float t) {
            phase += 2.0f * kPi * (50.0f + 100.0f * std::exp(-t / 0.03f)) / kRate;
            return 0.9f * std::sin(phase) * std::exp(-t / 0.12f);
        });
        // Snare on the second and fourth beat of the bar.
        if (beat % 2 == 1) {
            add(at, 0.25f, [&white](float t) {
                return (0.35f * white() + 0.25f * std::sin(2.0f * kPi * 185.0f * t)) *
                       std::exp(-t / 0.06f);
            });
        }
        // Hi-hat between the beats.
        add(at + perBeat / 2, 0.06f,
            [&white](float t) { return 0.18f * white() * std::exp(-t / 0.015f); });
    }
    ByteWriter samples;
    for (float s : mix) {
        const float clipped = std::clamp(s, -1.0f, 1.0f) * 0.8f;
        samples.U16(static_cast<std::uint16_t>(static_cast<std::int16_t>(clipped * 32767.0f)));
    }
    WavHeader header;
    header.channels = 1;
    header.sampleRate = kRate;
    header.bitsPerSample = 16;
    return EncodeWav(header, samples.bytes);
}

}  // namespace qv
