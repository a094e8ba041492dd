// H.264 pictures from RGBA frames: colour conversion by libswscale, then x264.
#include "video/picture_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "core/presenter.h"
#include "platform/av_error.h"
#include "video/encoder_packets.h"

namespace qv {

namespace {

struct EncoderSettings {
    const char* preset;
    const char* crf;
};

// Measured on a dancing model at 1280x720 against the drawn pictures. Default
// matches the structural similarity that "fast" at CRF 18 gave, in half the
// encoder time, for files about a fifth larger. Fast takes a quarter of that
// time with no loss of similarity but files about twice as large. Best takes
// twice the old time for a clearly finer picture at about a third more size.
constexpr EncoderSettings SettingsFor(PictureQuality quality) {
    switch (quality) {
        case PictureQuality::Fast:
            return {"ultrafast", "22"};
        case PictureQuality::Best:
            return {"slow", "15"};
        case PictureQuality::Default:
            break;
    }
    return {"veryfast", "14"};
}
// A key frame every two seconds lets players seek in long dances.
constexpr int kKeyFrameSeconds = 2;

}  // namespace

PictureEncoder::~PictureEncoder() {
    sws_freeContext(scaler_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&codec_);
}

bool PictureEncoder::Open(std::uint32_t width, std::uint32_t height, std::uint32_t fps,
                          bool globalHeader, PictureQuality quality, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    }
    if (!AllocateEncoder(codec, "H.264", "video", &codec_, &frame_, &packet_, error)) {
        return false;
    }
    codec_->width = static_cast<int>(width);
    codec_->height = static_cast<int>(height);
    codec_->time_base = AVRational{1, static_cast<int>(fps)};
    codec_->framerate = AVRational{static_cast<int>(fps), 1};
    codec_->pix_fmt = AV_PIX_FMT_YUV420P;
    codec_->gop_size = static_cast<int>(fps) * kKeyFrameSeconds;
    // Players assume BT.709 for high-definition video; say so in the stream.
    codec_->colorspace = AVCOL_SPC_BT709;
    codec_->color_primaries = AVCOL_PRI_BT709;
    codec_->color_trc = AVCOL_TRC_BT709;
    codec_->color_range = AVCOL_RANGE_MPEG;
    if (globalHeader) {
        codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const EncoderSettings settings = SettingsFor(quality);
    av_opt_set(codec_->priv_data, "preset", settings.preset, 0);
    av_opt_set(codec_->priv_data, "crf", settings.crf, 0);
    if (const int rc = avcodec_open2(codec_, codec, nullptr); rc < 0) {
        *error = "cannot start the H.264 encoder: " + AvErrorText(rc);
        return false;
    }
    frame_->format = codec_->pix_fmt;
    frame_->width = codec_->width;
    frame_->height = codec_->height;
    if (const int rc = av_frame_get_buffer(frame_, 0); rc < 0) {
        *error = "out of memory for the video frames: " + AvErrorText(rc);
        return false;
    }
    scaler_ =
        sws_getContext(codec_->width, codec_->height, AV_PIX_FMT_RGBA, codec_->width,
                       codec_->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) {
        *error = "cannot convert RGBA frames to yuv420p";
        return false;
    }
    // Full-range RGB in, limited-range BT.709 out, as the stream declares.
    sws_setColorspaceDetails(scaler_, sws_getCoefficients(SWS_CS_ITU709), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    return true;
}

bool PictureEncoder::Encode(const CapturedImage& image, std::int64_t index, const PacketSink& sink,
                            std::string* error) {
    if (image.width != static_cast<std::uint32_t>(codec_->width) ||
        image.height != static_cast<std::uint32_t>(codec_->height) ||
        image.rgba.size() != std::size_t{image.width} * image.height * 4) {
        *error = "a frame came back at another size than the video's";
        return false;
    }
    // The encoder may still hold the previous frame's planes.
    if (const int rc = av_frame_make_writable(frame_); rc < 0) {
        *error = "out of memory for the video frames: " + AvErrorText(rc);
        return false;
    }
    const std::uint8_t* source[1] = {image.rgba.data()};
    const int stride[1] = {static_cast<int>(image.width * 4)};
    sws_scale(scaler_, source, stride, 0, codec_->height, frame_->data, frame_->linesize);
    frame_->pts = index;
    if (const int rc = avcodec_send_frame(codec_, frame_); rc < 0) {
        *error = "the H.264 encoder refused a frame: " + AvErrorText(rc);
        return false;
    }
    return DrainPackets(codec_, packet_, sink, "H.264", error);
}

bool PictureEncoder::Flush(const PacketSink& sink, std::string* error) {
    if (const int rc = avcodec_send_frame(codec_, nullptr); rc < 0 && rc != AVERROR_EOF) {
        *error = "the H.264 encoder cannot finish: " + AvErrorText(rc);
        return false;
    }
    return DrainPackets(codec_, packet_, sink, "H.264", error);
}

}  // namespace qv
