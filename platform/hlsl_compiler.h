// Compiles effect shaders at load time, their registers mapped onto one descriptor set.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/program_files.h"

namespace qv {

// Compiles HLSL effect shaders to SPIR-V for Vulkan, with the register
// numbers of the shader contract mapped onto one descriptor set:
//   b0, b1 -> bindings 0, 1;  t0..t8 -> 2..10;  s0..s2 -> 11..13;  u0 -> 14.
// The compiler is a large parser fed files from anywhere, and some malformed
// sources crash it, so every compile runs in a helper program of its own: a
// crash or a hang there becomes that file's compile error. Safe to call from
// any thread; compiles on different threads run side by side.

enum class HlslStage { Vertex, Pixel, Compute };

struct HlslCompileResult {
    bool ok = false;
    std::vector<std::uint32_t> spirv;
    // The compiler's own message text (errors and warnings), as it wrote it.
    std::string messages;
};

// Binding numbers of the mapping above, for the pipeline layouts.
inline constexpr std::uint32_t kHlslConstantBufferBinding = 0;  // + b register
inline constexpr std::uint32_t kHlslTextureBinding = 2;         // + t register
inline constexpr std::uint32_t kHlslSamplerBinding = 11;        // + s register
inline constexpr std::uint32_t kHlslUnorderedBinding = 14;      // + u register

// The helper program that compiles, and how long one compile may take
// before the helper is killed. The defaults are the player's.
struct HlslCompilerProcess {
    std::filesystem::path program;  // empty: the one FindEffectCompiler finds
    std::chrono::milliseconds timeLimit{60000};
};

// The helper's file name, and the variable that overrides where it is.
inline constexpr const char* kEffectCompilerProgram = "qv-effect-compiler";
inline constexpr const char* kEffectCompilerVariable = "QV_EFFECT_COMPILER";

// The helper: the program kEffectCompilerVariable names when it is set (even
// when that does not exist, so that a wrong setting shows), else the one beside
// the running executable, else the one in its installed helper folder, else the
// one built in the build folder that holds the executable (programFolder, which tests
// set). Empty when none is there; looked, when given, then lists the places tried.
std::filesystem::path FindEffectCompiler(
    std::string* looked = nullptr,
    const std::filesystem::path& programFolder = RunningProgramFolder());

// Compiles one entry point of a source text. name appears in messages;
// #include "x" is resolved against includeFolder. Text with a UTF-8 or UTF-16
// byte-order mark is read as such; a source over 16 MiB fails with a message.
HlslCompileResult CompileHlsl(std::string_view source, std::string_view name,
                              std::string_view entryPoint, HlslStage stage,
                              const std::filesystem::path& includeFolder = {},
                              const HlslCompilerProcess& process = {});

// Compiles one entry point of a file; includes are resolved beside it.
HlslCompileResult CompileHlslFile(const std::filesystem::path& path, std::string_view entryPoint,
                                  HlslStage stage);

}  // namespace qv
