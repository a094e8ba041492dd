// The bytes between the player and its effect-compiler helper: one request in, one answer out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/hlsl_compiler.h"

namespace qv {

// One compile as the helper reads it on standard input. All texts are UTF-8.
struct EffectCompileRequest {
    HlslStage stage = HlslStage::Pixel;
    std::string entryPoint;
    std::string name;           // the file's name, as messages show it
    std::string includeFolder;  // #include "x" resolves against it
    std::string source;
};

// Neither side takes a frame larger than this: a source is at most 16 MiB, and
// an answer (SPIR-V and messages) is far smaller than its source allows.
inline constexpr std::size_t kMaxEffectFrameBytes = std::size_t{64} << 20;

// A request frame: the signature "QVEQ", then five 32-bit little-endian words
// (stage, then the byte lengths of entry point, name, include folder and
// source), then those four texts back to back.
std::string EncodeEffectRequest(const EffectCompileRequest& request);
// False unless the bytes are exactly one well-formed request.
bool DecodeEffectRequest(std::string_view bytes, EffectCompileRequest& request);

// An answer frame: the signature "QVEA", then three 32-bit words (1 when it
// compiled else 0, the message's byte length, the SPIR-V word count), then the
// message and the words.
std::string EncodeEffectAnswer(const HlslCompileResult& result);
// False unless the bytes are exactly one well-formed answer; a compiled answer
// must carry SPIR-V.
bool DecodeEffectAnswer(std::string_view bytes, HlslCompileResult& result);

}  // namespace qv
