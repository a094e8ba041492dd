// AAC sound from a decoded song: resampling by libswresample, then FFmpeg's AAC.
#pragma once

#include <cstdint>
#include <string>

#include "video/encoder_packets.h"

struct AVAudioFifo;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace qv {

struct WavAudio;

// Protocol: Open, EncodeUntil with growing times as frames are done, Finish
// once. The song must outlive the encoder. One thread uses it.
class SoundEncoder {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kBitRate = 192000;

    SoundEncoder() = default;
    SoundEncoder(const SoundEncoder&) = delete;
    SoundEncoder& operator=(const SoundEncoder&) = delete;
    ~SoundEncoder();

    // The sound starts `startSeconds` into the song; past its end comes silence.
    bool Open(const WavAudio& song, double startSeconds, bool globalHeader, std::string* error);
    const AVCodecContext& Context() const { return *codec_; }
    // Encodes the sound up to `seconds` after the start, in whole AAC frames.
    bool EncodeUntil(double seconds, const PacketSink& sink, std::string* error);
    // Ends the sound at exactly `seconds` after the start and drains the encoder.
    bool Finish(double seconds, const PacketSink& sink, std::string* error);

private:
    bool Resample(std::int64_t outputSamples, std::string* error);
    bool EncodeFrames(bool last, const PacketSink& sink, std::string* error);
    bool Send(AVFrame* frame, const PacketSink& sink, std::string* error);

    const WavAudio* song_ = nullptr;
    std::int64_t nextInput_ = 0;  // the song's next frame to resample
    std::int64_t resampled_ = 0;  // output samples made so far
    std::int64_t encoded_ = 0;    // output samples sent to the encoder
    AVCodecContext* codec_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
};

}  // namespace qv
