// Packets out of an FFmpeg encoder, handed one by one to whoever writes them.
#include "video/encoder_packets.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "video/av_error.h"

namespace qv {

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
