// A helper that crashes, hangs, babbles or vanishes costs one file its effect, never the player.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/effect_compile_frames.h"
#include "platform/hlsl_compiler.h"
#include "tests/support/effect_shader.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

// A stand-in helper: a shell script, made executable.
std::unique_ptr<TempFile> Script(const std::string& body) {
    const std::string text = "#!/bin/sh\n" + body + "\n";
    auto file = std::make_unique<TempFile>(
        "helper.sh", std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    std::filesystem::permissions(file->path(), std::filesystem::perms::owner_all);
    return file;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

bool RealHelperCompiles() {
    return CompileHlsl(kTexturedEffect, "effect.hlsl", "PS", HlslStage::Pixel).ok;
}

}  // namespace

TEST(EffectCompilerProcess, EveryMisbehaviourIsTheFilesErrorAndTheNextCompileWorks) {
    struct Case {
        const char* script;
        std::size_t sourceBytes;  // large ones fill the pipe before the helper reads
        const char* expected;
    };
    const Case cases[] = {
        {"kill -SEGV $$", 100, "bad.hlsl: the shader compiler crashed on this file (Segmentation"},
        {"cat >/dev/null; exit 3", 100,
         "bad.hlsl: the shader compiler crashed on this file (exit code 3)"},
        {"exec sleep 30", 100, "bad.hlsl: the shader compiler gave no answer in 500 milliseconds"},
        {"exec sleep 30", 4u << 20,
         "bad.hlsl: the shader compiler gave no answer in 500 milliseconds"},
        {"cat >/dev/null; echo this is no frame", 100,
         "bad.hlsl: the shader compiler's answer cannot be read (17 bytes)"},
        {"cat >/dev/null", 100, "bad.hlsl: the shader compiler ended without an answer"},
        // Leaves without reading: writing the rest must not raise SIGPIPE here.
        {"exit 0", 4u << 20, "bad.hlsl: the shader compiler ended without an answer"},
    };
    const int descriptors = OpenDescriptors();
    for (const Case& c : cases) {
        const auto helper = Script(c.script);
        const std::string source = "// " + std::string(c.sourceBytes, 'x') + "\n";
        const auto start = std::chrono::steady_clock::now();
        const HlslCompileResult r = CompileHlsl(source, "bad.hlsl", "PS", HlslStage::Pixel, {},
                                                {helper->path(), std::chrono::milliseconds(500)});
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(r.ok) << c.script;
        EXPECT_TRUE(r.spirv.empty()) << c.script;
        EXPECT_EQ(r.messages.rfind(c.expected, 0), 0u) << c.script << "\n" << r.messages;
        EXPECT_LT(took, std::chrono::seconds(5)) << c.script;
        EXPECT_TRUE(RealHelperCompiles()) << c.script;
    }
    // Neither our ends of the pipes nor a killed helper's stay behind.
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(EffectCompilerProcess, TheHelperIsFoundOrNamed) {
    const HlslCompileResult missing =
        CompileHlsl(kTexturedEffect, "effect.hlsl", "PS", HlslStage::Pixel, {},
                    {"/nonexistent/qv-effect-compiler", std::chrono::milliseconds(500)});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.messages.rfind("effect.hlsl: cannot start the shader compiler "
                                     "/nonexistent/qv-effect-compiler (No such file",
                                     0),
              0u)
        << missing.messages;

    const std::filesystem::path found = FindEffectCompiler();
    EXPECT_EQ(found.filename(), kEffectCompilerProgram);
    EXPECT_TRUE(std::filesystem::exists(found)) << found;

    // The variable wins over every other place, even when it names nothing.
    const auto babbler = Script("cat >/dev/null; echo hello");
    ASSERT_EQ(::setenv(kEffectCompilerVariable, babbler->path().c_str(), 1), 0);
    const HlslCompileResult overridden =
        CompileHlsl(kTexturedEffect, "effect.hlsl", "PS", HlslStage::Pixel);
    ASSERT_EQ(::setenv(kEffectCompilerVariable, "/nonexistent/helper", 1), 0);
    const std::filesystem::path wrong = FindEffectCompiler();
    ::unsetenv(kEffectCompilerVariable);
    EXPECT_NE(overridden.messages.find("answer cannot be read (6 bytes)"), std::string::npos)
        << overridden.messages;
    EXPECT_EQ(wrong, "/nonexistent/helper");
    EXPECT_EQ(FindEffectCompiler(), found);
}

// An installed player keeps its helper in PREFIX/libexec/qv, away from the
// programs on the PATH; one beside the program (a build folder) still wins.
TEST(EffectCompilerProcess, AnInstalledPlayerFindsItsHelperUnderItsPrefix) {
    const TempFolder prefix;
    const std::filesystem::path bin = prefix.path() / "bin";
    std::filesystem::create_directories(bin);
    const std::filesystem::path installed =
        prefix.Write(std::filesystem::path("libexec/qv") / kEffectCompilerProgram, "#!/bin/sh\n");
    std::filesystem::permissions(installed, std::filesystem::perms::owner_all);
    EXPECT_EQ(FindEffectCompiler(nullptr, bin), installed);

    const std::filesystem::path beside = prefix.Write(bin / kEffectCompilerProgram, "#!/bin/sh\n");
    std::filesystem::permissions(beside, std::filesystem::perms::owner_all);
    EXPECT_EQ(FindEffectCompiler(nullptr, bin), beside);

    // Neither executable: the places tried are named, the installed one among them.
    std::filesystem::permissions(beside, std::filesystem::perms::owner_read);
    std::filesystem::permissions(installed, std::filesystem::perms::owner_read);
    std::string looked;
    const std::filesystem::path fallback = FindEffectCompiler(&looked, bin);
    EXPECT_NE(fallback, installed);
    EXPECT_NE(fallback, beside);
    EXPECT_NE(looked.find(installed.string()), std::string::npos) << looked;
}

TEST(EffectCompilerProcess, CompilesOnSeveralThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> ok(6, 0);
    for (std::size_t i = 0; i < ok.size(); ++i) {
        threads.emplace_back([&, i] {
            const HlslStage stage = i % 2 == 0 ? HlslStage::Vertex : HlslStage::Pixel;
            ok[i] = CompileHlsl(kTexturedEffect, "effect.hlsl", i % 2 == 0 ? "VS" : "PS", stage).ok;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(ok, std::vector<int>(ok.size(), 1));
}

TEST(EffectCompilerFrames, AnswersSurviveTheTripAndDamagedOnesAreRefused) {
    HlslCompileResult compiled;
    compiled.ok = true;
    compiled.spirv = {0x07230203u, 0x00010600u, 0xDEADBEEFu};
    compiled.messages = "warning: something\n";
    const std::string frame = EncodeEffectAnswer(compiled);
    HlslCompileResult back;
    ASSERT_TRUE(DecodeEffectAnswer(frame, back));
    EXPECT_TRUE(back.ok);
    EXPECT_EQ(back.spirv, compiled.spirv);
    EXPECT_EQ(back.messages, compiled.messages);

    // Every cut, and one byte too many, is refused, and the result is left alone.
    for (std::size_t size = 0; size < frame.size(); ++size) {
        HlslCompileResult untouched;
        EXPECT_FALSE(DecodeEffectAnswer(frame.substr(0, size), untouched)) << size;
        EXPECT_TRUE(untouched.messages.empty() && untouched.spirv.empty()) << size;
    }
    EXPECT_FALSE(DecodeEffectAnswer(frame + '\0', back));
    // A word count far beyond the bytes there, and success without SPIR-V.
    std::string huge = frame;
    huge[12] = '\xFF', huge[13] = '\xFF', huge[14] = '\xFF', huge[15] = '\x7F';
    EXPECT_FALSE(DecodeEffectAnswer(huge, back));
    HlslCompileResult empty;
    empty.ok = true;
    EXPECT_FALSE(DecodeEffectAnswer(EncodeEffectAnswer(empty), back));
}

TEST(EffectCompilerFrames, RequestsSurviveTheTripAndDamagedOnesAreRefused) {
    EffectCompileRequest request;
    request.stage = HlslStage::Compute;
    request.entryPoint = "CSMain";
    request.name = "\xE8\x89\xB2.hlsl";
    request.includeFolder = "/some/folder";
    request.source = std::string("float4 x;\0 after a NUL", 22);
    const std::string frame = EncodeEffectRequest(request);
    EffectCompileRequest back;
    ASSERT_TRUE(DecodeEffectRequest(frame, back));
    EXPECT_EQ(back.stage, request.stage);
    EXPECT_EQ(back.entryPoint, request.entryPoint);
    EXPECT_EQ(back.name, request.name);
    EXPECT_EQ(back.includeFolder, request.includeFolder);
    EXPECT_EQ(back.source, request.source);

    EXPECT_FALSE(DecodeEffectRequest(frame.substr(0, frame.size() - 1), back));
    std::string badStage = frame;
    badStage[4] = 9;
    EXPECT_FALSE(DecodeEffectRequest(badStage, back));
    EXPECT_FALSE(DecodeEffectRequest("QVEA" + frame.substr(4), back));
}

}  // namespace qv
