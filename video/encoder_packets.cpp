// An FFmpeg encoder's shared parts: allocating it and handing out its packets one by one.
#include "video/encoder_packets.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/av_error.h"

namespace qv {

bool AllocateEncoder(const AVCodec* codec, const char* codecName, const char* purpose,
                     AVCodecContext** context, AVFrame** frame, AVPacket** packet,
                     std::string* error) {
    if (codec == nullptr) {
        *error = std::string("this FFmpeg has no ") + codecName + " encoder";
        return false;
    }
    *context = avcodec_alloc_context3(codec);
    *frame = av_frame_alloc();
    *packet = av_packet_alloc();
    if (*context == nullptr || *frame == nullptr || *packet == nullptr) {
        *error = std::string("out of memory for the ") + purpose + " encoder";
        return false;
    }
    return true;
}

bool DrainPackets(AVCodecContext* codec, AVPacket* packet, const PacketSink& sink,
                  const char* encoderName, std::string* error) {
    for (;;) {
        const int rc = avcodec_receive_packet(codec, packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return true;
        }
        if (rc < 0) {
            *error = std::string("the ") + encoderName + " encoder failed: " + AvErrorText(rc);
            return false;
        }
        // The sink may fail; the packet is released either way so the next one can reuse it.
        const bool ok = sink(packet, error);
        av_packet_unref(packet);
        if (!ok) {
            return false;
        }
    }
}

}  // namespace qv
