// Compiles effect shaders at load time, their registers mapped onto one descriptor set.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Compiles HLSL effect shaders to SPIR-V for Vulkan, with the register
// numbers of the shader contract mapped onto one descriptor set:
//   b0, b1 -> bindings 0, 1;  t0..t8 -> 2..10;  s0..s2 -> 11..13;  u0 -> 14.
// Safe to call from any thread.

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

// Compiles one entry point of a source text. name appears in messages;
// #include "x" is resolved against includeFolder. Text with a UTF-8 or UTF-16
// byte-order mark is read as such; a source over 16 MiB fails with a message.
HlslCompileResult CompileHlsl(std::string_view source, std::string_view name,
                              std::string_view entryPoint, HlslStage stage,
                              const std::filesystem::path& includeFolder = {});

// Compiles one entry point of a file; includes are resolved beside it.
HlslCompileResult CompileHlslFile(const std::filesystem::path& path, std::string_view entryPoint,
                                  HlslStage stage);

}  // namespace qv
