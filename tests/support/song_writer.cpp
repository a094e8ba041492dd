// Songs encoded with FFmpeg's own encoders, for tests and fuzz seeds of the song decoder.
#include "tests/support/song_writer.h"

#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include "platform/av_error.h"

namespace qv {

namespace {

struct Writer {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* convert = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVStream* stream = nullptr;
    ~Writer() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&convert);
        avcodec_free_context(&codec);
        if (format != nullptr) {
            avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

bool Drain(Writer& w, std::string* error) {
    for (;;) {
        int rc = avcodec_receive_packet(w.codec, w.packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return true;
        }
        if (rc < 0) {
            *error = AvErrorText(rc);
            return false;
        }
        av_packet_rescale_ts(w.packet, w.codec->time_base, w.stream->time_base);
        w.packet->stream_index = 0;
        if ((rc = av_interleaved_write_frame(w.format, w.packet)) < 0) {
            *error = AvErrorText(rc);
            return false;
        }
    }
}

bool Open(Writer& w, const std::filesystem::path& path, const SongForm& form, const WavAudio& pcm,
          std::string* error) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(form.encoder);
    if (encoder == nullptr) {
        *error = std::string("no encoder ") + form.encoder;
        return false;
    }
    int rc =
        avformat_alloc_output_context2(&w.format, nullptr, form.container, path.string().c_str());
    if (rc < 0) {
        *error = AvErrorText(rc);
        return false;
    }
    w.stream = avformat_new_stream(w.format, nullptr);
    w.codec = avcodec_alloc_context3(encoder);
    w.codec->sample_rate = static_cast<int>(pcm.sampleRate);
    av_channel_layout_default(&w.codec->ch_layout, pcm.channels);
    w.codec->sample_fmt = encoder->sample_fmts[0];
    w.codec->time_base = {1, w.codec->sample_rate};
    w.codec->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (w.format->oformat->flags & AVFMT_GLOBALHEADER) {
        w.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    w.stream->time_base = w.codec->time_base;
    if ((rc = avcodec_open2(w.codec, encoder, nullptr)) < 0 ||
        (rc = avcodec_parameters_from_context(w.stream->codecpar, w.codec)) < 0 ||
        (rc = avio_open(&w.format->pb, path.string().c_str(), AVIO_FLAG_WRITE)) < 0 ||
        (rc = avformat_write_header(w.format, nullptr)) < 0) {
        *error = AvErrorText(rc);
        return false;
    }
    rc = swr_alloc_set_opts2(&w.convert, &w.codec->ch_layout, w.codec->sample_fmt,
                             w.codec->sample_rate, &w.codec->ch_layout, AV_SAMPLE_FMT_FLT,
                             w.codec->sample_rate, 0, nullptr);
    if (rc < 0 || swr_init(w.convert) < 0) {
        *error = "cannot convert the samples for the encoder";
        return false;
    }
    w.frame = av_frame_alloc();
    w.packet = av_packet_alloc();
    return true;
}

}  // namespace

const std::vector<SongForm>& SongForms() {
    static const std::vector<SongForm> forms = {
        {".mp3", "mp3", "libmp3lame"}, {".m4a", "ipod", "aac"},   {".ogg", "ogg", "libvorbis"},
        {".opus", "ogg", "libopus"},   {".flac", "flac", "flac"},
    };
    return forms;
}

bool WriteSong(const std::filesystem::path& path, const SongForm& form, const WavAudio& pcm,
               std::string* error) {
    Writer w;
    if (!Open(w, path, form, pcm, error)) {
        return false;
    }
    const int chunk = w.codec->frame_size > 0 ? w.codec->frame_size : 1024;
    const std::int64_t frames = static_cast<std::int64_t>(pcm.frameCount());
    for (std::int64_t at = 0; at < frames; at += chunk) {
        const int n = static_cast<int>(std::min<std::int64_t>(chunk, frames - at));
        av_frame_unref(w.frame);
        w.frame->nb_samples = n;
        w.frame->format = w.codec->sample_fmt;
        w.frame->sample_rate = w.codec->sample_rate;
        av_channel_layout_copy(&w.frame->ch_layout, &w.codec->ch_layout);
        int rc = av_frame_get_buffer(w.frame, 0);
        const auto* in =
            reinterpret_cast<const std::uint8_t*>(pcm.samples.data() + at * pcm.channels);
        if (rc < 0 || swr_convert(w.convert, w.frame->extended_data, n, &in, n) != n) {
            *error = "cannot convert the samples for the encoder";
            return false;
        }
        w.frame->pts = at;
        if ((rc = avcodec_send_frame(w.codec, w.frame)) < 0) {
            *error = AvErrorText(rc);
            return false;
        }
        if (!Drain(w, error)) {
            return false;
        }
    }
    avcodec_send_frame(w.codec, nullptr);
    if (!Drain(w, error)) {
        return false;
    }
    if (const int rc = av_write_trailer(w.format); rc < 0) {
        *error = AvErrorText(rc);
        return false;
    }
    return true;
}

WavAudio TestTone(std::uint32_t sampleRate, double seconds, float amplitude) {
    // The right side is quieter, so a swap of the channels shows.
    WavAudio tone;
    tone.channels = 2;
    tone.sampleRate = sampleRate;
    tone.bitsPerSample = 32;
    tone.floatingPoint = true;
    const auto frames = static_cast<std::size_t>(std::llround(seconds * sampleRate));
    tone.samples.resize(frames * 2);
    constexpr double kTwoPi = 6.283185307179586;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        tone.samples[2 * i] = amplitude * static_cast<float>(std::sin(kTwoPi * 440.0 * t));
        tone.samples[2 * i + 1] =
            0.5f * amplitude * static_cast<float>(std::sin(kTwoPi * 660.0 * t));
    }
    return tone;
}

}  // namespace qv
