// Packets out of an FFmpeg encoder, handed one by one to whoever writes them.
#pragma once

#include <functional>
#include <string>

struct AVCodecContext;
struct AVPacket;

namespace qv {

// Called for every packet an encoder gives; false stops the encoding.
using PacketSink = std::function<bool(AVPacket* packet, std::string* error)>;

// Hands `sink` every packet `codec` has ready, reusing `packet`; true once the
// encoder wants more input or has ended. `encoderName` names it in the error.
bool DrainPackets(AVCodecContext* codec, AVPacket* packet, const PacketSink& sink,
                  const char* encoderName, std::string* error);

}  // namespace qv
