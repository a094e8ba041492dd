// An FFmpeg encoder's shared parts: allocating it and handing out its packets one by one.
#pragma once

#include <functional>
#include <string>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace qv {

// Allocates the context, frame and packet an encoder of `codec` works with;
// false with `error` set when `codec` is null (this FFmpeg lacks it) or memory
// runs out. `codecName` ("H.264") and `purpose` ("video") name it in the error.
// What was allocated stays with the caller, who frees it on failure as well.
bool AllocateEncoder(const AVCodec* codec, const char* codecName, const char* purpose,
                     AVCodecContext** context, AVFrame** frame, AVPacket** packet,
                     std::string* error);

// Called for every packet an encoder gives; false stops the encoding.
using PacketSink = std::function<bool(AVPacket* packet, std::string* error)>;

// Hands `sink` every packet `codec` has ready, reusing `packet`; true once the
// encoder wants more input or has ended. `encoderName` names it in the error.
bool DrainPackets(AVCodecContext* codec, AVPacket* packet, const PacketSink& sink,
                  const char* encoderName, std::string* error);

}  // namespace qv
