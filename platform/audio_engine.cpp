// Mixes the playing song in one fixed format on the audio thread, silently where no device.
#include "platform/audio_engine.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/file_read.h"
#include "platform/song_decoder.h"
#include "platform/wav_file.h"
#include "platform/wav_file.h"

namespace qv {

namespace {

bool OpenDevice(SDL_AudioDeviceID& device, SDL_AudioSpec& have, void* engine,
                SDL_AudioCallback callback) {
    SDL_AudioSpec want{};
    want.freq = 48000;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = callback;
    want.userdata = engine;
    // No changes allowed: SDL converts to whatever the device really takes,
    // so mixing always happens in one known format.
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    return device != 0;
}

// The sound system's own libraries print their failed probes (no card, no
// server) straight to the standard error stream; SDL reports the outcome
// itself, so their lines are only noise on a machine without sound.
class QuietStandardError {
public:
    QuietStandardError() : saved_(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) {
            dup2(null, STDERR_FILENO);
        }
        if (null >= 0) {
            close(null);
        }
    }
    ~QuietStandardError() {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
        }
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_;
};

std::int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

AudioEngine::AudioEngine() {
    QuietStandardError quiet;
    SDL_AudioSpec have{};
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0 &&
        OpenDevice(device_, have, this, &AudioEngine::MixCallback)) {
        hasDevice_ = std::strcmp(SDL_GetCurrentAudioDriver(), "dummy") != 0;
    } else {
        // No sound device (a server, a container, CI): run silently so that
        // songs still import and play, only unheard.
        if (SDL_WasInit(SDL_INIT_AUDIO)) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            OpenDevice(device_, have, this, &AudioEngine::MixCallback);
        }
        SDL_SetHint(SDL_HINT_AUDIODRIVER, nullptr);
        hasDevice_ = false;
    }
    if (device_ != 0) {
        driver_ = SDL_GetCurrentAudioDriver();
        {
            std::lock_guard lock(voicesMutex_);
            sampleRate_ = have.freq;
            channels_ = have.channels;
            latencyFrames_ = have.samples;
        }
        SDL_PauseAudioDevice(device_, 0);
    } else {
        driver_ = "none";
    }
}

AudioEngine::~AudioEngine() {
    if (device_ != 0) {
        SDL_CloseAudioDevice(device_);
    }
    if (SDL_WasInit(SDL_INIT_AUDIO)) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

bool AudioEngine::Update() {
    return device_ != 0 && SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_STOPPED;
}

void AudioEngine::MixCallback(void* engine, std::uint8_t* stream, int length) {
    auto* self = static_cast<AudioEngine*>(engine);
    std::memset(stream, 0, static_cast<std::size_t>(length));
    self->Mix(reinterpret_cast<float*>(stream), static_cast<std::size_t>(length) / sizeof(float));
}

void AudioEngine::Mix(float* out, std::size_t samplesOut) {
    // The format is read under the lock the constructor wrote it under: the
    // device's own start-up ordering lives in the sound library, where the
    // thread checker cannot see it.
    std::lock_guard lock(voicesMutex_);
    const std::size_t frames = samplesOut / static_cast<std::size_t>(channels_);
    for (SoundEffectInstance* voice : voices_) {
        if (voice->state_.load() != SoundState::Playing) {
            continue;
        }
        const std::vector<float>& samples = voice->effect_.samples_;
        const std::size_t total = samples.size() / channels_;
        std::size_t pos = voice->position_.load();
        for (std::size_t f = 0; f < frames; ++f) {
            if (pos >= total) {
                if (!voice->loop_ || total == 0) {
                    // A song that ends stops and rewinds, like a stop.
                    voice->state_.store(SoundState::Stopped);
                    pos = 0;
                    break;
                }
                pos = 0;
            }
            for (int c = 0; c < channels_; ++c) {
                out[f * channels_ + c] += samples[pos * channels_ + c];
            }
            ++pos;
        }
        voice->position_.store(pos);
        voice->mixedPosition_ = pos;
        voice->mixedAtNanoseconds_ = SteadyNanoseconds();
    }
}

void AudioEngine::Attach(SoundEffectInstance* voice) {
    std::lock_guard lock(voicesMutex_);
    voices_.push_back(voice);
}

void AudioEngine::Detach(SoundEffectInstance* voice) {
    std::lock_guard lock(voicesMutex_);
    voices_.erase(std::remove(voices_.begin(), voices_.end(), voice), voices_.end());
}

SoundEffect::SoundEffect(AudioEngine& engine, const std::filesystem::path& path)
    : engine_(engine), channels_(engine.Channels()), sampleRate_(engine.SampleRate()) {
    std::vector<std::uint8_t> bytes;
    if (Failed(ReadWholeFile(path, bytes))) {
        throw AudioError("cannot read the file " + path.string());
    }
    WavAudio audio;
    if (const Result decoded = DecodeSongFile(path, bytes, audio, sampleRate_, channels_);
        !decoded.ok()) {
        throw AudioError(decoded.message);
    }
    bytes = {};
    Adopt(std::move(audio));
}

SoundEffect::SoundEffect(AudioEngine& engine, WavAudio audio)
    : engine_(engine), channels_(engine.Channels()), sampleRate_(engine.SampleRate()) {
    Adopt(std::move(audio));
}

SoundEffect::SoundEffect(AudioEngine& engine, std::span<const std::uint8_t> wavBytes)
    : engine_(engine), channels_(engine.Channels()), sampleRate_(engine.SampleRate()) {
    Decode(wavBytes);
}

void SoundEffect::Decode(std::span<const std::uint8_t> wavBytes) {
    WavAudio audio;
    if (const Result decoded = DecodeWav(wavBytes, audio); !decoded.ok()) {
        throw AudioError(decoded.message);
    }
    Adopt(std::move(audio));
}

void SoundEffect::Adopt(WavAudio audio) {
    if (audio.channels == 0 || audio.sampleRate == 0) {
        throw AudioError("the song has no channels or no sample rate");
    }
    if (audio.channels == channels_ && static_cast<int>(audio.sampleRate) == sampleRate_) {
        samples_ = std::move(audio.samples);
        return;
    }
    SDL_AudioStream* stream =
        SDL_NewAudioStream(AUDIO_F32SYS, audio.channels, static_cast<int>(audio.sampleRate),
                           AUDIO_F32SYS, channels_, sampleRate_);
    if (stream == nullptr) {
        throw AudioError(std::string("cannot convert the song to the output format: ") +
                         SDL_GetError());
    }
    // The resampler holds back the last few milliseconds as filter history;
    // feeding silence after the song pushes its real end out, and the result
    // is then cut to the song's exact length.
    const std::size_t frames = audio.frameCount();
    const std::size_t expectedFrames = static_cast<std::size_t>(
        (static_cast<std::uint64_t>(frames) * sampleRate_ + audio.sampleRate / 2) /
        audio.sampleRate);
    audio.samples.resize(audio.samples.size() + audio.sampleRate / 10 * audio.channels, 0.0f);
    const bool put =
        SDL_AudioStreamPut(stream, audio.samples.data(),
                           static_cast<int>(audio.samples.size() * sizeof(float))) == 0;
    if (!put || SDL_AudioStreamFlush(stream) != 0) {
        SDL_FreeAudioStream(stream);
        throw AudioError("cannot convert the song to the output format");
    }
    samples_.resize(static_cast<std::size_t>(SDL_AudioStreamAvailable(stream)) / sizeof(float));
    const int got = SDL_AudioStreamGet(stream, samples_.data(),
                                       static_cast<int>(samples_.size() * sizeof(float)));
    SDL_FreeAudioStream(stream);
    samples_.resize(got > 0 ? static_cast<std::size_t>(got) / sizeof(float) : 0);
    samples_.resize(std::min(samples_.size() - samples_.size() % channels_,
                             expectedFrames * static_cast<std::size_t>(channels_)));
}

std::unique_ptr<SoundEffectInstance> SoundEffect::CreateInstance() {
    std::unique_ptr<SoundEffectInstance> instance(new SoundEffectInstance(*this));
    engine_.Attach(instance.get());
    return instance;
}

SoundEffectInstance::SoundEffectInstance(SoundEffect& effect) : effect_(effect) {}

SoundEffectInstance::~SoundEffectInstance() {
    effect_.engine_.Detach(this);
}

// State changes take the mixer's lock so a rewind never races a mix step.
void SoundEffectInstance::Play(bool loop) {
    std::lock_guard lock(effect_.engine_.voicesMutex_);
    loop_ = loop;
    if (state_.load() != SoundState::Playing) {
        mixedAtNanoseconds_ = 0;
    }
    state_.store(SoundState::Playing);
}

void SoundEffectInstance::Pause() {
    std::lock_guard lock(effect_.engine_.voicesMutex_);
    if (state_.load() == SoundState::Playing) {
        state_.store(SoundState::Paused);
    }
}

void SoundEffectInstance::Stop(bool /*immediate: every stop is immediate here*/) {
    std::lock_guard lock(effect_.engine_.voicesMutex_);
    state_.store(SoundState::Stopped);
    position_.store(0);
    mixedAtNanoseconds_ = 0;
}

void SoundEffectInstance::SetPositionSeconds(double seconds) {
    const double frames = std::isfinite(seconds) ? std::round(seconds * effect_.sampleRate_) : 0.0;
    const auto last = static_cast<double>(effect_.FrameCount());
    std::lock_guard lock(effect_.engine_.voicesMutex_);
    position_.store(static_cast<std::uint64_t>(std::clamp(frames, 0.0, last)));
    mixedAtNanoseconds_ = 0;
}

double SoundEffectInstance::PlayPositionSeconds() const {
    std::lock_guard lock(effect_.engine_.voicesMutex_);
    const double rate = effect_.sampleRate_;
    const std::uint64_t position = position_.load();
    if (state_.load() != SoundState::Playing || mixedAtNanoseconds_ == 0) {
        // Nothing mixed since the last change: the listener is where it left.
        return static_cast<double>(position) / rate;
    }
    const double mixed = static_cast<double>(mixedPosition_) / rate;
    const double latency = effect_.engine_.latencyFrames_ / rate;
    const double since = static_cast<double>(SteadyNanoseconds() - mixedAtNanoseconds_) * 1e-9;
    return std::clamp(mixed - latency + since, 0.0, mixed);
}

}  // namespace qv
