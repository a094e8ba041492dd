// Compressed songs decoded from memory by FFmpeg, resampled to the mixer's float format.
#include "platform/song_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/av_error.h"

namespace qv {

namespace {

// Only the containers and codecs songs come in: the library knows hundreds,
// and every one left out is one less parser exposed to a downloaded file.
// Probing the streams opens a decoder for each (cover art, video in .mp4), so
// the decoders are limited by name before the container is opened.
constexpr const char* kContainers = "mp3,mov,mp4,m4a,ogg,flac,aac";
constexpr std::array kCodecs = {AV_CODEC_ID_MP3, AV_CODEC_ID_AAC, AV_CODEC_ID_VORBIS,
                                AV_CODEC_ID_OPUS, AV_CODEC_ID_FLAC};
constexpr const char* kDecoders = "mp3float,mp3,aac,aac_fixed,vorbis,libvorbis,opus,libopus,flac";
constexpr int kIoBufferBytes = 64 * 1024;

Result Refuse(const std::string& what) {
    return Result::Failure(E_FAIL, "cannot decode the audio: " + what);
}

// The file's bytes as FFmpeg's input: reads and seeks within the span.
struct MemoryInput {
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;

    static int Read(void* opaque, std::uint8_t* buffer, int size) {
        auto* in = static_cast<MemoryInput*>(opaque);
        const std::size_t left = in->bytes.size() - in->position;
        const std::size_t n = std::min(left, static_cast<std::size_t>(std::max(size, 0)));
        if (n == 0) {
            return AVERROR_EOF;
        }
        std::memcpy(buffer, in->bytes.data() + in->position, n);
        in->position += n;
        return static_cast<int>(n);
    }

    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
        auto* in = static_cast<MemoryInput*>(opaque);
        const auto size = static_cast<std::int64_t>(in->bytes.size());
        std::int64_t base = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return size;
            case SEEK_SET:
                break;
            case SEEK_CUR:
                base = static_cast<std::int64_t>(in->position);
                break;
            case SEEK_END:
                base = size;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (offset < -base || offset > size - base) {
            return AVERROR(EINVAL);
        }
        in->position = static_cast<std::size_t>(base + offset);
        return base + offset;
    }
};

// Everything one decode holds, released in the right order whatever way it ends.
struct DecodeSession {
    MemoryInput input;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    // What the resampler was set up for; a stream may change mid-way.
    AVChannelLayout inLayout{};
    int inRate = 0;
    int inFormat = -1;
    AVChannelLayout outLayout{};
    int outRate = 0;
    std::size_t outChannels = 0;
    std::vector<float> samples;

    ~DecodeSession() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        if (io != nullptr) {
            av_freep(&io->buffer);
        }
        avio_context_free(&io);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
    }
};

Result OpenInput(DecodeSession& s) {
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
    if (buffer == nullptr) {
        return Refuse("out of memory");
    }
    s.io = avio_alloc_context(buffer, kIoBufferBytes, 0, &s.input, &MemoryInput::Read, nullptr,
                              &MemoryInput::Seek);
    s.format = avformat_alloc_context();
    if (s.io == nullptr || s.format == nullptr) {
        if (s.io == nullptr) {
            av_free(buffer);
        }
        return Refuse("out of memory");
    }
    s.format->pb = s.io;
    s.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kContainers, 0);
    // A container may name other files to open; a song never needs one.
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    av_dict_set(&options, "codec_whitelist", kDecoders, 0);
    int rc = avformat_open_input(&s.format, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) {
        return Refuse(AvErrorText(rc));
    }
    if ((rc = avformat_find_stream_info(s.format, nullptr)) < 0) {
        return Refuse(AvErrorText(rc));
    }
    const AVCodec* decoder = nullptr;
    s.streamIndex = av_find_best_stream(s.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (s.streamIndex < 0) {
        return Refuse(AvErrorText(s.streamIndex));
    }
    const AVCodecParameters* params = s.format->streams[s.streamIndex]->codecpar;
    if (std::find(kCodecs.begin(), kCodecs.end(), params->codec_id) == kCodecs.end()) {
        return Refuse(std::string("the codec ") + avcodec_get_name(params->codec_id) +
                      " is not one songs are read in");
    }
    s.codec = avcodec_alloc_context3(decoder);
    if (s.codec == nullptr) {
        return Refuse("out of memory");
    }
    AVDictionary* codecOptions = nullptr;
    av_dict_set(&codecOptions, "codec_whitelist", kDecoders, 0);
    if ((rc = avcodec_parameters_to_context(s.codec, params)) < 0 ||
        (rc = avcodec_open2(s.codec, decoder, &codecOptions)) < 0) {
        av_dict_free(&codecOptions);
        return Refuse(AvErrorText(rc));
    }
    av_dict_free(&codecOptions);
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (s.packet == nullptr || s.frame == nullptr) {
        return Refuse("out of memory");
    }
    return {};
}

// Appends what the resampler gives for `frame` (or its held-back tail when
// null), growing the output within the song limit.
Result Convert(DecodeSession& s, const AVFrame* frame) {
    const int inSamples = frame != nullptr ? frame->nb_samples : 0;
    const int room = swr_get_out_samples(s.resampler, inSamples);
    if (room < 0) {
        return Refuse(AvErrorText(room));
    }
    const std::size_t used = s.samples.size();
    if (used + static_cast<std::size_t>(room) * s.outChannels > kMaxSongSamples) {
        return Result::Failure(E_FAIL, "the song is too long to hold in memory");
    }
    s.samples.resize(used + static_cast<std::size_t>(room) * s.outChannels);
    std::uint8_t* out = reinterpret_cast<std::uint8_t*>(s.samples.data() + used);
    const int made = swr_convert(
        s.resampler, &out, room,
        frame != nullptr ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr,
        inSamples);
    if (made < 0) {
        s.samples.resize(used);
        return Refuse(AvErrorText(made));
    }
    s.samples.resize(used + static_cast<std::size_t>(made) * s.outChannels);
    return {};
}

// Sets the resampler up for the frame's format, first draining the old one
// when the stream changed its rate, layout or sample format.
Result PrepareResampler(DecodeSession& s, const AVFrame* frame) {
    if (s.resampler != nullptr && frame->sample_rate == s.inRate && frame->format == s.inFormat &&
        av_channel_layout_compare(&frame->ch_layout, &s.inLayout) == 0) {
        return {};
    }
    if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0) {
        return Refuse("a frame without a sample rate or channels");
    }
    if (s.resampler != nullptr) {
        if (Result drained = Convert(s, nullptr); !drained.ok()) {
            return drained;
        }
        swr_free(&s.resampler);
    }
    av_channel_layout_uninit(&s.inLayout);
    if (av_channel_layout_copy(&s.inLayout, &frame->ch_layout) < 0) {
        return Refuse("out of memory");
    }
    // A layout the file left unnamed is read as the usual one for its count.
    if (s.inLayout.order == AV_CHANNEL_ORDER_UNSPEC) {
        const int count = s.inLayout.nb_channels;
        av_channel_layout_uninit(&s.inLayout);
        av_channel_layout_default(&s.inLayout, count);
    }
    s.inRate = frame->sample_rate;
    s.inFormat = frame->format;
    if (s.outRate == 0) {
        s.outRate = s.inRate;
    }
    if (s.outChannels == 0) {
        s.outChannels = std::min(s.inLayout.nb_channels, 2);
    }
    if (s.outLayout.nb_channels == 0) {
        av_channel_layout_default(&s.outLayout, static_cast<int>(s.outChannels));
    }
    const int rc =
        swr_alloc_set_opts2(&s.resampler, &s.outLayout, AV_SAMPLE_FMT_FLT, s.outRate, &s.inLayout,
                            static_cast<AVSampleFormat>(s.inFormat), s.inRate, 0, nullptr);
    if (rc < 0 || (rc == 0 && swr_init(s.resampler) < 0)) {
        return Refuse(AvErrorText(rc < 0 ? rc : AVERROR(EINVAL)));
    }
    return {};
}

// Takes every frame the decoder has ready. Returns the decoder's last error
// in `failure` (0 when none) so a file that never decodes can say why.
Result ReceiveFrames(DecodeSession& s, int& failure) {
    for (;;) {
        const int rc = avcodec_receive_frame(s.codec, s.frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return {};
        }
        if (rc < 0) {
            failure = rc;
            return {};
        }
        Result step = PrepareResampler(s, s.frame);
        if (step.ok()) {
            step = Convert(s, s.frame);
        }
        av_frame_unref(s.frame);
        if (!step.ok()) {
            return step;
        }
    }
}

Result DecodeAll(DecodeSession& s) {
    int failure = 0;
    int rc = 0;
    while ((rc = av_read_frame(s.format, s.packet)) >= 0) {
        if (s.packet->stream_index == s.streamIndex) {
            // A damaged frame is skipped, as players do; the rest still plays.
            if (const int sent = avcodec_send_packet(s.codec, s.packet); sent < 0) {
                failure = sent;
            }
        }
        av_packet_unref(s.packet);
        if (Result step = ReceiveFrames(s, failure); !step.ok()) {
            return step;
        }
    }
    if (rc != AVERROR_EOF) {
        failure = rc;
    }
    avcodec_send_packet(s.codec, nullptr);
    if (Result step = ReceiveFrames(s, failure); !step.ok()) {
        return step;
    }
    if (s.resampler != nullptr) {
        if (Result drained = Convert(s, nullptr); !drained.ok()) {
            return drained;
        }
    }
    if (s.samples.empty()) {
        return Refuse(failure < 0 ? AvErrorText(failure) : "the file holds no sound");
    }
    // Lossy codecs overshoot a little on loud passages, and a damaged frame
    // can decode to anything: the mixer is promised samples in range.
    for (float& sample : s.samples) {
        sample = std::isnan(sample) ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
    }
    return {};
}

}  // namespace

bool IsCompressedSongExtension(const std::string& extension) {
    static constexpr std::array kEndings = {".mp3",  ".MP3",  ".m4a",  ".M4A", ".aac",
                                            ".AAC",  ".ogg",  ".OGG",  ".oga", ".OGA",
                                            ".opus", ".OPUS", ".flac", ".FLAC"};
    return std::find(kEndings.begin(), kEndings.end(), extension) != kEndings.end();
}

Result DecodeCompressedSong(std::span<const std::uint8_t> bytes, WavAudio& audio, int sampleRate,
                            int channels) {
    audio = {};
    if (sampleRate < 0 || channels < 0 || channels > 2) {
        return Result::Failure(E_INVALIDARG, "the output format is not one the mixer plays");
    }
    // The decoders warn on the standard error stream about things a song
    // plays fine with (timestamps of trimmed samples); only errors remain.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_ERROR) {
            av_log_set_level(AV_LOG_ERROR);
        }
    });
    Result result;
    try {
        DecodeSession session;
        session.input.bytes = bytes;
        session.outRate = sampleRate;
        session.outChannels = static_cast<std::size_t>(channels);
        result = OpenInput(session);
        if (result.ok()) {
            result = DecodeAll(session);
        }
        if (result.ok()) {
            audio.channels = static_cast<std::uint16_t>(session.outChannels);
            audio.sampleRate = static_cast<std::uint32_t>(session.outRate);
            audio.bitsPerSample = 32;
            audio.floatingPoint = true;
            audio.samples = std::move(session.samples);
        }
    } catch (const std::bad_alloc&) {
        result = Result::Failure(E_FAIL, "the song is too large for memory");
    }
    return result;
}

Result DecodeSongFile(const std::filesystem::path& name, std::span<const std::uint8_t> bytes,
                      WavAudio& audio, int sampleRate, int channels) {
    if (IsCompressedSongExtension(name.extension().string())) {
        return DecodeCompressedSong(bytes, audio, sampleRate, channels);
    }
    return DecodeWav(bytes, audio);
}

}  // namespace qv
