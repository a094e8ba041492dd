// AAC sound from a decoded song: resampling by libswresample, then FFmpeg's AAC.
#include "video/sound_encoder.h"

#include <algorithm>
#include <cmath>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "platform/wav_file.h"
#include "platform/av_error.h"
#include "video/encoder_packets.h"

namespace qv {

namespace {

// Song frames fed to the resampler at once: small enough to keep the
// buffers small, large enough to keep the calls few.
constexpr std::int64_t kInputChunk = 4096;

std::int64_t SamplesAt(double seconds, int rate) {
    return static_cast<std::int64_t>(std::llround(std::max(seconds, 0.0) * rate));
}

}  // namespace

SoundEncoder::~SoundEncoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    if (fifo_ != nullptr) {
        av_audio_fifo_free(fifo_);
    }
    swr_free(&resampler_);
    avcodec_free_context(&codec_);
}

bool SoundEncoder::Open(const WavAudio& song, double startSeconds, bool globalHeader,
                        std::string* error) {
    if (song.channels == 0 || song.sampleRate == 0) {
        *error = "the song has no sound to encode";
        return false;
    }
    song_ = &song;
    nextInput_ = std::min<std::int64_t>(SamplesAt(startSeconds, static_cast<int>(song.sampleRate)),
                                        static_cast<std::int64_t>(song.frameCount()));
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!AllocateEncoder(codec, "AAC", "sound", &codec_, &frame_, &packet_, error)) {
        return false;
    }
    codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec_->sample_rate = kSampleRate;
    codec_->bit_rate = kBitRate;
    av_channel_layout_default(&codec_->ch_layout, 2);
    codec_->time_base = AVRational{1, kSampleRate};
    if (globalHeader) {
        codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (const int rc = avcodec_open2(codec_, codec, nullptr); rc < 0) {
        *error = "cannot start the AAC encoder: " + AvErrorText(rc);
        return false;
    }
    AVChannelLayout input;
    av_channel_layout_default(&input, song.channels);
    const int rc = swr_alloc_set_opts2(&resampler_, &codec_->ch_layout, AV_SAMPLE_FMT_FLTP,
                                       kSampleRate, &input, AV_SAMPLE_FMT_FLT,
                                       static_cast<int>(song.sampleRate), 0, nullptr);
    av_channel_layout_uninit(&input);
    if (rc < 0 || swr_init(resampler_) < 0) {
        *error = "cannot resample the song to " + std::to_string(kSampleRate) + " Hz";
        return false;
    }
    fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, codec_->frame_size);
    if (fifo_ == nullptr) {
        *error = "out of memory for the sound encoder";
        return false;
    }
    return true;
}

bool SoundEncoder::Resample(std::int64_t outputSamples, std::string* error) {
    const int channels = song_->channels;
    const auto songFrames = static_cast<std::int64_t>(song_->frameCount());
    std::vector<float> silence;
    std::vector<float> left, right;
    while (resampled_ < outputSamples) {
        // What the song gives for this chunk, or silence past its end.
        const std::int64_t count = kInputChunk;
        const float* in = nullptr;
        if (nextInput_ < songFrames) {
            in = song_->samples.data() + nextInput_ * channels;
        } else {
            silence.assign(static_cast<std::size_t>(count * channels), 0.0f);
            in = silence.data();
        }
        const std::int64_t available =
            nextInput_ < songFrames ? std::min(count, songFrames - nextInput_) : count;
        const int room = swr_get_out_samples(resampler_, static_cast<int>(available));
        left.resize(static_cast<std::size_t>(room));
        right.resize(static_cast<std::size_t>(room));
        std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(left.data()),
                                reinterpret_cast<std::uint8_t*>(right.data())};
        const auto* input = reinterpret_cast<const std::uint8_t*>(in);
        const int made = swr_convert(resampler_, out, room, &input, static_cast<int>(available));
        if (made < 0) {
            *error = "the song cannot be resampled: " + AvErrorText(made);
            return false;
        }
        nextInput_ += available;
        // Never more than asked for: the sound ends exactly with the video.
        const int keep = static_cast<int>(std::min<std::int64_t>(made, outputSamples - resampled_));
        void* planes[2] = {left.data(), right.data()};
        if (keep > 0 && av_audio_fifo_write(fifo_, planes, keep) < keep) {
            *error = "out of memory for the sound";
            return false;
        }
        resampled_ += keep;
    }
    return true;
}

bool SoundEncoder::EncodeUntil(double seconds, const PacketSink& sink, std::string* error) {
    return Resample(SamplesAt(seconds, kSampleRate), error) && EncodeFrames(false, sink, error);
}

bool SoundEncoder::Finish(double seconds, const PacketSink& sink, std::string* error) {
    return Resample(SamplesAt(seconds, kSampleRate), error) && EncodeFrames(true, sink, error) &&
           Send(nullptr, sink, error);
}

bool SoundEncoder::EncodeFrames(bool last, const PacketSink& sink, std::string* error) {
    const int frameSize = codec_->frame_size;
    for (;;) {
        const int queued = av_audio_fifo_size(fifo_);
        if (queued == 0 || (queued < frameSize && !last)) {
            return true;
        }
        const int count = std::min(queued, frameSize);
        av_frame_unref(frame_);
        frame_->nb_samples = count;
        frame_->format = codec_->sample_fmt;
        frame_->sample_rate = codec_->sample_rate;
        if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0 ||
            av_frame_get_buffer(frame_, 0) < 0) {
            *error = "out of memory for the sound";
            return false;
        }
        av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), count);
        frame_->pts = encoded_;
        encoded_ += count;
        if (!Send(frame_, sink, error)) {
            return false;
        }
    }
}

bool SoundEncoder::Send(AVFrame* frame, const PacketSink& sink, std::string* error) {
    if (const int rc = avcodec_send_frame(codec_, frame); rc < 0 && rc != AVERROR_EOF) {
        *error = "the AAC encoder refused the sound: " + AvErrorText(rc);
        return false;
    }
    return DrainPackets(codec_, packet_, sink, "AAC", error);
}

}  // namespace qv
