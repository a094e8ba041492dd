// The container of a video file: streams, interleaved packets, a clean close.
#include "video/video_muxer.h"

#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "platform/av_error.h"

namespace qv {

std::string ContainerForName(const std::filesystem::path& path) {
    const std::string ext = path.extension().string();
    if (ext == ".mp4") {
        return "mp4";
    }
    if (ext == ".mkv") {
        return "matroska";
    }
    return "";
}

VideoMuxer::~VideoMuxer() {
    std::string ignored;
    Finish(&ignored);
}

bool VideoMuxer::Open(const std::filesystem::path& path, std::string* error) {
    // The encoders' own statistics and notes would bury the progress line,
    // and every failure is reported by us in one line of its own.
    av_log_set_level(AV_LOG_QUIET);
    const std::string container = ContainerForName(path);
    if (container.empty()) {
        *error = "cannot tell the video format from the name " + path.string();
        return false;
    }
    int rc = avformat_alloc_output_context2(&format_, nullptr, container.c_str(), nullptr);
    if (rc < 0 || format_ == nullptr) {
        *error = "no " + container + " writer: " + AvErrorText(rc);
        return false;
    }
    rc = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        *error = "cannot write " + path.string() + ": " + AvErrorText(rc);
        avformat_free_context(format_);
        format_ = nullptr;
        return false;
    }
    path_ = path;
    return true;
}

bool VideoMuxer::WantsGlobalHeader() const {
    return format_ != nullptr && (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

AVStream* VideoMuxer::AddStream(const AVCodecContext& encoder, std::string* error) {
    AVStream* stream = avformat_new_stream(format_, nullptr);
    if (stream == nullptr) {
        *error = "cannot add a stream to the video file";
        return nullptr;
    }
    stream->time_base = encoder.time_base;
    if (const int rc = avcodec_parameters_from_context(stream->codecpar, &encoder); rc < 0) {
        *error = "cannot describe a stream of the video file: " + AvErrorText(rc);
        return nullptr;
    }
    return stream;
}

bool VideoMuxer::Begin(std::string* error) {
    if (const int rc = avformat_write_header(format_, nullptr); rc < 0) {
        *error = "cannot start " + path_.string() + ": " + AvErrorText(rc);
        return false;
    }
    begun_ = true;
    return true;
}

bool VideoMuxer::WritePacket(AVPacket* packet, const AVCodecContext& encoder, AVStream* stream,
                             std::string* error) {
    av_packet_rescale_ts(packet, encoder.time_base, stream->time_base);
    packet->stream_index = stream->index;
    if (const int rc = av_interleaved_write_frame(format_, packet); rc < 0) {
        *error = "cannot write " + path_.string() + ": " + AvErrorText(rc);
        return false;
    }
    return true;
}

bool VideoMuxer::Finish(std::string* error) {
    if (format_ == nullptr) {
        return true;
    }
    bool ok = true;
    if (begun_) {
        if (const int rc = av_write_trailer(format_); rc < 0) {
            *error = "cannot finish " + path_.string() + ": " + AvErrorText(rc);
            ok = false;
        }
    }
    if (const int rc = avio_closep(&format_->pb); rc < 0 && ok) {
        *error = "cannot close " + path_.string() + ": " + AvErrorText(rc);
        ok = false;
    }
    avformat_free_context(format_);
    format_ = nullptr;
    begun_ = false;
    return ok;
}

void VideoMuxer::Discard() {
    if (format_ == nullptr) {
        return;
    }
    begun_ = false;  // no trailer for a file that is going away
    std::string ignored;
    Finish(&ignored);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

}  // namespace qv
