// Turns effect shader source into SPIR-V in process, resolving includes beside the file.
#include "platform/hlsl_compiler.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/file_read.h"

namespace qv {

namespace {

void InitializeOnce() {
    static std::once_flag once;
    std::call_once(once, [] { glslang::InitializeProcess(); });
}

EShLanguage ToLanguage(HlslStage stage) {
    switch (stage) {
        case HlslStage::Vertex:
            return EShLangVertex;
        case HlslStage::Pixel:
            return EShLangFragment;
        case HlslStage::Compute:
        default:
            return EShLangCompute;
    }
}

// Resolves #include "name" against the including file's folder, then the
// shader's own folder, as a file-based compiler would.
class FolderIncluder : public glslang::TShader::Includer {
public:
    explicit FolderIncluder(std::filesystem::path root) : root_(std::move(root)) {}

    IncludeResult* includeLocal(const char* headerName, const char* includerName,
                                std::size_t depth) override {
        if (depth > 32) {
            return nullptr;  // an include cycle
        }
        std::vector<std::filesystem::path> candidates;
        if (includerName != nullptr && *includerName != '\0') {
            candidates.push_back(std::filesystem::path(includerName).parent_path() / headerName);
        }
        candidates.push_back(root_ / headerName);
        for (const auto& path : candidates) {
            std::vector<std::uint8_t> bytes;
            if (Succeeded(ReadWholeFile(path, bytes))) {
                auto* text = new std::string(bytes.begin(), bytes.end());
                return new IncludeResult(path.string(), text->data(), text->size(), text);
            }
        }
        return nullptr;
    }

    IncludeResult* includeSystem(const char* headerName, const char* includerName,
                                 std::size_t depth) override {
        return includeLocal(headerName, includerName, depth);
    }

    void releaseInclude(IncludeResult* result) override {
        if (result != nullptr) {
            delete static_cast<std::string*>(result->userData);
            delete result;
        }
    }

private:
    std::filesystem::path root_;
};

// Effect files are kilobytes; the compiler takes a source's length as an int.
constexpr std::size_t kMaxSourceBytes = std::size_t{16} << 20;

// Editors on Windows save with a byte-order mark, often in UTF-16; the compiler
// reads UTF-8 only, and a mark would be a stray token to it.
std::string SourceAsUtf8(std::string_view source) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(source[i]); };
    if (source.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        return std::string(source.substr(3));
    }
    const bool little = source.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
    const bool big = source.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
    if (!little && !big) {
        return std::string(source);
    }
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return little ? byte(i) | byte(i + 1) << 8 : byte(i) << 8 | byte(i + 1);
    };
    std::string out;
    out.reserve(source.size());
    for (std::size_t i = 2; i + 1 < source.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < source.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

HlslCompileResult CompileInProcess(std::string_view source, std::string_view name,
                                   std::string_view entryPoint, HlslStage stage,
                                   const std::filesystem::path& includeFolder) {
    InitializeOnce();
    HlslCompileResult result;
    if (source.size() > kMaxSourceBytes) {
        result.messages = std::string(name) + ": the source is " + std::to_string(source.size()) +
                          " bytes, more than an effect shader may be (" +
                          std::to_string(kMaxSourceBytes) + ")\n";
        return result;
    }
    const std::string utf8 = SourceAsUtf8(source);
    const EShLanguage language = ToLanguage(stage);
    glslang::TShader shader(language);
    const char* text = utf8.data();
    const int length = static_cast<int>(utf8.size());
    const std::string fileName(name);
    const char* names = fileName.c_str();
    shader.setStringsWithLengthsAndNames(&text, &length, &names, 1);
    const std::string entry(entryPoint);
    shader.setEntryPoint(entry.c_str());
    shader.setSourceEntryPoint(entry.c_str());
    shader.setEnvInput(glslang::EShSourceHlsl, language, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_3);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_6);
    shader.setHlslIoMapping(true);
    shader.setAutoMapBindings(true);
    shader.setShiftBinding(glslang::EResUbo, kHlslConstantBufferBinding);
    shader.setShiftBinding(glslang::EResTexture, kHlslTextureBinding);
    shader.setShiftBinding(glslang::EResSampler, kHlslSamplerBinding);
    shader.setShiftBinding(glslang::EResUav, kHlslUnorderedBinding);
    shader.setShiftBinding(glslang::EResImage, kHlslUnorderedBinding);
    shader.setShiftBinding(glslang::EResSsbo, kHlslTextureBinding);

    FolderIncluder includer(includeFolder.empty() ? std::filesystem::path(".") : includeFolder);
    const auto messages = static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules |
                                                   EShMsgReadHlsl | EShMsgHlslOffsets);
    const bool parsed = shader.parse(GetDefaultResources(), 100, false, messages, includer);
    result.messages = shader.getInfoLog();
    if (!parsed) {
        return result;
    }
    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(messages) || !program.mapIO()) {
        result.messages += program.getInfoLog();
        return result;
    }
    glslang::SpvOptions options;
    // The optimizer legalises HLSL (resources passed to functions, and so on).
    options.disableOptimizer = false;
    options.validate = true;
    spv::SpvBuildLogger logger;
    glslang::GlslangToSpv(*program.getIntermediate(language), result.spirv, &logger, &options);
    const std::string log = logger.getAllMessages();
    if (result.spirv.empty()) {
        result.messages += log.empty() ? std::string("SPIR-V generation failed\n") : log;
        return result;
    }
    result.messages += log;
    result.ok = true;
    return result;
}

// The child's answer on the pipe: ok, the message text, the SPIR-V words.
void WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void SendResult(int fd, const HlslCompileResult& result) {
    const std::uint64_t header[3] = {result.ok ? 1u : 0u, result.messages.size(),
                                     result.spirv.size()};
    WriteAll(fd, header, sizeof header);
    WriteAll(fd, result.messages.data(), result.messages.size());
    WriteAll(fd, result.spirv.data(), result.spirv.size() * sizeof(std::uint32_t));
}

bool ParseResult(const std::string& bytes, HlslCompileResult& result) {
    std::uint64_t header[3];
    if (bytes.size() < sizeof header) {
        return false;
    }
    std::memcpy(header, bytes.data(), sizeof header);
    if (header[1] > bytes.size() || header[2] > bytes.size() / sizeof(std::uint32_t) ||
        bytes.size() != sizeof header + header[1] + header[2] * sizeof(std::uint32_t)) {
        return false;
    }
    result.ok = header[0] == 1;
    result.messages.assign(bytes.data() + sizeof header, header[1]);
    result.spirv.resize(header[2]);
    if (header[2] != 0) {  // an empty vector's data() may be null, which memcpy may not take
        std::memcpy(result.spirv.data(), bytes.data() + sizeof header + header[1],
                    header[2] * sizeof(std::uint32_t));
    }
    return true;
}

// The compiler is a large parser fed files from anywhere, and some malformed
// sources crash it (a declaration cut off at the end of the file is enough).
// Each compile therefore runs in a forked child: a crash or a hang there
// becomes this file's compile error instead of the player's end.
constexpr int kCompileSeconds = 60;

HlslCompileResult CompileIsolated(std::string_view source, std::string_view name,
                                  std::string_view entryPoint, HlslStage stage,
                                  const std::filesystem::path& includeFolder) {
    // One fork at a time, and no other compile in this process: a child must
    // not start with the compiler's locks held by a thread it did not inherit.
    static std::mutex forkMutex;
    std::lock_guard lock(forkMutex);
    // The compiler builds its tables of built-in functions on first use, which
    // costs more than a compile; built once here, every child inherits them.
    // Only this known source is compiled in this process, under the same lock.
    static bool warm = false;
    if (!warm) {
        warm = true;
        const char* known =
            "float4 VS(float4 p : POSITION) : SV_POSITION { return p; }\n"
            "float4 PS() : SV_TARGET { return 1; }\n";
        CompileInProcess(known, "warm-up", "VS", HlslStage::Vertex, {});
        CompileInProcess(known, "warm-up", "PS", HlslStage::Pixel, {});
    }
    HlslCompileResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.messages = std::string(name) + ": cannot start the shader compiler\n";
        return result;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        result.messages = std::string(name) + ": cannot start the shader compiler\n";
        return result;
    }
    if (child == 0) {
        ::close(fds[0]);
        // A crash here is the answer, not the program's: the parent's crash
        // handlers (reports, dumps) must not run for it.
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
            ::signal(sig, SIG_DFL);
        }
        HlslCompileResult inChild;
        try {
            inChild = CompileInProcess(source, name, entryPoint, stage, includeFolder);
        } catch (const std::exception& e) {
            inChild = {};
            inChild.messages =
                std::string(name) + ": the shader compiler failed (" + e.what() + ")\n";
        }
        SendResult(fds[1], inChild);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kCompileSeconds);
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd wait{fds[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char chunk[65536];
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (timedOut) {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        result.messages = std::string(name) + ": the shader compiler gave no answer in " +
                          std::to_string(kCompileSeconds) + " seconds\n";
    } else if (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) {
        // A crash handler (a sanitizer's, say) may turn the signal into an exit code.
        const std::string how = WIFSIGNALED(status)
                                    ? std::string(strsignal(WTERMSIG(status)))
                                    : "exit code " + std::to_string(WEXITSTATUS(status));
        result.messages = std::string(name) + ": the shader compiler crashed on this file (" + how +
                          "); check it for unfinished code\n";
    } else if (!ParseResult(bytes, result)) {
        result = {};
        result.messages = std::string(name) + ": the shader compiler ended without an answer\n";
    }
    return result;
}

}  // namespace

HlslCompileResult CompileHlsl(std::string_view source, std::string_view name,
                              std::string_view entryPoint, HlslStage stage,
                              const std::filesystem::path& includeFolder) {
    return CompileIsolated(source, name, entryPoint, stage, includeFolder);
}

HlslCompileResult CompileHlslFile(const std::filesystem::path& path, std::string_view entryPoint,
                                  HlslStage stage) {
    std::vector<std::uint8_t> bytes;
    if (Failed(ReadWholeFile(path, bytes))) {
        HlslCompileResult result;
        result.messages = path.string() + ": cannot open the file\n";
        return result;
    }
    const std::string source(bytes.begin(), bytes.end());
    return CompileHlsl(source, path.string(), entryPoint, stage, path.parent_path());
}

}  // namespace qv
