// H.264 pictures from RGBA frames: colour conversion by libswscale, then x264.
#pragma once

#include <cstdint>
#include <string>

#include "video/encoder_packets.h"
#include "video/picture_quality.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace qv {

struct CapturedImage;

// Protocol: Open, Encode once per frame in order, Flush once at the end.
// One thread uses it.
class PictureEncoder {
public:
    PictureEncoder() = default;
    PictureEncoder(const PictureEncoder&) = delete;
    PictureEncoder& operator=(const PictureEncoder&) = delete;
    ~PictureEncoder();

    // yuv420p needs even sides; the caller checks them first.
    bool Open(std::uint32_t width, std::uint32_t height, std::uint32_t fps, bool globalHeader,
              PictureQuality quality, std::string* error);
    const AVCodecContext& Context() const { return *codec_; }
    // Frame `index` of the video, at time index / fps.
    bool Encode(const CapturedImage& image, std::int64_t index, const PacketSink& sink,
                std::string* error);
    // Drains the frames the encoder still holds.
    bool Flush(const PacketSink& sink, std::string* error);

private:
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
};

}  // namespace qv
