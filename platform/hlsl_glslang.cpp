// Runs the HLSL front end on one request, resolving includes beside the file.
#include "platform/hlsl_glslang.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include <cstdint>
#include <filesystem>
#include <mutex>

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

}  // namespace

HlslCompileResult CompileHlslInThisProcess(const EffectCompileRequest& request) {
    InitializeOnce();
    HlslCompileResult result;
    // The library takes a source's length as an int; a request frame is capped below that.
    static_assert(kMaxEffectFrameBytes < INT32_MAX);
    const EShLanguage language = ToLanguage(request.stage);
    glslang::TShader shader(language);
    const char* text = request.source.data();
    const int length = static_cast<int>(request.source.size());
    const char* names = request.name.c_str();
    shader.setStringsWithLengthsAndNames(&text, &length, &names, 1);
    shader.setEntryPoint(request.entryPoint.c_str());
    shader.setSourceEntryPoint(request.entryPoint.c_str());
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

    FolderIncluder includer(request.includeFolder.empty()
                                ? std::filesystem::path(".")
                                : std::filesystem::path(request.includeFolder));
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

}  // namespace qv
