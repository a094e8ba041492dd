// Plays songs for the scene: one engine, one decoded effect per song, one voice each.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv {

// Song playback on SDL audio. The program keeps one engine, one effect per
// imported song (the whole file decoded in memory) and plays at most one
// instance of it at a time. Without a sound device the engine runs silently
// on SDL's dummy driver, and play, pause and stop still behave the same.

class SoundEffect;
class SoundEffectInstance;
struct WavAudio;

// Raised when a song cannot be loaded; what() is a sentence for the user.
class AudioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SoundState { Stopped, Playing, Paused };

class AudioEngine {
public:
    AudioEngine();
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Called once a frame; false when there is no usable output at all.
    bool Update();

    // False when playing silently because no sound device could be opened.
    bool IsAudioDevicePresent() const { return hasDevice_; }
    const std::string& DriverName() const { return driver_; }
    int SampleRate() const { return sampleRate_; }
    int Channels() const { return channels_; }
    // Frames the device holds between the mix and the speaker: what is
    // mixed is heard this much later.
    int LatencyFrames() const { return latencyFrames_; }

private:
    friend class SoundEffect;
    friend class SoundEffectInstance;
    static void MixCallback(void* engine, std::uint8_t* stream, int length);
    void Mix(float* out, std::size_t samplesOut);
    void Attach(SoundEffectInstance* voice);
    void Detach(SoundEffectInstance* voice);

    std::uint32_t device_ = 0;
    bool hasDevice_ = false;
    std::string driver_;
    int sampleRate_ = 48000;
    int channels_ = 2;
    int latencyFrames_ = 0;
    std::mutex voicesMutex_;
    std::vector<SoundEffectInstance*> voices_;
};

class SoundEffect {
public:
    // Reads and decodes a whole song file into the engine's output format: a
    // WAV file, or a compressed one by the endings IsCompressedSongExtension
    // takes. Throws AudioError when the file cannot be read or is not a song
    // the engine can play (truncated and malformed files included).
    SoundEffect(AudioEngine& engine, const std::filesystem::path& path);
    SoundEffect(AudioEngine& engine, std::span<const std::uint8_t> wavBytes);
    // A song already decoded, in any rate and one or two channels.
    SoundEffect(AudioEngine& engine, WavAudio audio);
    ~SoundEffect() = default;
    SoundEffect(const SoundEffect&) = delete;
    SoundEffect& operator=(const SoundEffect&) = delete;

    // A new, stopped instance at position 0. Destroy it before the effect.
    std::unique_ptr<SoundEffectInstance> CreateInstance();

    // Length in frames of the engine's output rate.
    std::size_t FrameCount() const { return samples_.size() / channels_; }
    double DurationSeconds() const { return double(FrameCount()) / sampleRate_; }

private:
    friend class AudioEngine;
    friend class SoundEffectInstance;
    void Decode(std::span<const std::uint8_t> wavBytes);
    void Adopt(WavAudio audio);

    AudioEngine& engine_;
    int channels_;
    int sampleRate_;
    std::vector<float> samples_;  // interleaved, engine format
};

class SoundEffectInstance {
public:
    ~SoundEffectInstance();
    SoundEffectInstance(const SoundEffectInstance&) = delete;
    SoundEffectInstance& operator=(const SoundEffectInstance&) = delete;

    // From Stopped: plays from the position (the start after a Stop or
    // when new); from Paused: continues where it was.
    void Play(bool loop = false);
    // Keeps the position.
    void Pause();
    // Ends at once and rewinds: the next Play starts from the beginning.
    void Stop(bool immediate = true);

    SoundState GetState() const { return state_.load(); }
    // Frames mixed since the start, at the engine's output rate.
    std::uint64_t GetPosition() const { return position_.load(); }
    // Moves to a time in the song (held to its length) in any state; a
    // playing instance goes on from there.
    void SetPositionSeconds(double seconds);
    // Where the listener is in the song, seconds: the mixed position less
    // the device's latency, moved on by the time since that mix so it runs
    // smoothly between the mixer's blocks. Never ahead of what was mixed.
    // Any thread.
    double PlayPositionSeconds() const;
    double DurationSeconds() const { return effect_.DurationSeconds(); }

private:
    friend class SoundEffect;
    friend class AudioEngine;
    explicit SoundEffectInstance(SoundEffect& effect);

    SoundEffect& effect_;
    std::atomic<SoundState> state_{SoundState::Stopped};
    std::atomic<std::uint64_t> position_{0};
    // The last mix of this voice: when (steady clock, ns; 0 for none since
    // the last change of state or position) and where it left the voice.
    std::int64_t mixedAtNanoseconds_ = 0;
    std::uint64_t mixedPosition_ = 0;
    bool loop_ = false;
};

}  // namespace qv
