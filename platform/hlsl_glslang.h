// The compile itself, run only inside the effect-compiler helper where a crash harms no one.
#pragma once

#include "platform/effect_compile_frames.h"

namespace qv {

// Compiles one request with the register mapping of hlsl_compiler.h. The
// library crashes on some malformed sources, so only the helper program may
// call this; the player goes through CompileHlsl.
HlslCompileResult CompileHlslInThisProcess(const EffectCompileRequest& request);

}  // namespace qv
