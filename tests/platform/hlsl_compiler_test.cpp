// Effect shaders must compile onto the bindings the layouts expect, errors kept verbatim.
#include "platform/hlsl_compiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "tests/support/effect_shader.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

// SPIR-V binding numbers by variable id: enough reflection to check that the
// registers of the contract land on the bindings the pipeline layouts expect.
std::vector<std::uint32_t> Bindings(const std::vector<std::uint32_t>& spirv) {
    constexpr std::uint32_t kOpDecorate = 71, kDecorationBinding = 33;
    std::vector<std::uint32_t> bindings;
    for (std::size_t i = 5; i < spirv.size();) {
        const std::uint32_t words = spirv[i] >> 16, op = spirv[i] & 0xFFFF;
        if (words == 0)
            break;
        if (op == kOpDecorate && words >= 4 && spirv[i + 2] == kDecorationBinding) {
            bindings.push_back(spirv[i + 3]);
        }
        i += words;
    }
    std::sort(bindings.begin(), bindings.end());
    return bindings;
}

// The textured effect with a pixel entry that reads one resource of each kind,
// including registers the built-in passes leave unbound.
const std::string kEffect = std::string(kTexturedEffect) + R"(
cbuffer MaterialConstants : register(b1) { float4 baseColor; };
Texture2D g_toon : register(t8);
StructuredBuffer<float4> g_extra : register(t3);
SamplerState g_samClamp : register(s2);
float4 PSAll(VS_OUT i) : SV_TARGET {
    return g_texture.Sample(g_samWarp, i.uv) * baseColor * g_extra[0]
         + g_toon.Sample(g_samClamp, i.uv);
}
)";

}  // namespace

TEST(HlslCompiler, MapsContractRegistersToBindings) {
    const HlslCompileResult vs = CompileHlsl(kEffect, "effect.hlsl", "VS", HlslStage::Vertex);
    ASSERT_TRUE(vs.ok) << vs.messages;
    EXPECT_EQ(vs.spirv.at(0), 0x07230203u);  // SPIR-V magic
    EXPECT_EQ(Bindings(vs.spirv), (std::vector<std::uint32_t>{0}));

    const HlslCompileResult ps = CompileHlsl(kEffect, "effect.hlsl", "PSAll", HlslStage::Pixel);
    ASSERT_TRUE(ps.ok) << ps.messages;
    // b1 -> 1, t0 -> 2, t3 -> 5, t8 -> 10, s0 -> 11, s2 -> 13
    EXPECT_EQ(Bindings(ps.spirv), (std::vector<std::uint32_t>{1, 2, 5, 10, 11, 13}));
}

TEST(HlslCompiler, UnorderedAccessViewsBindAt14) {
    const char* cs = R"(
RWStructuredBuffer<float> g_out : register(u0);
StructuredBuffer<float> g_in : register(t0);
[numthreads(128, 1, 1)] void CSMain(uint3 id : SV_DispatchThreadID) { g_out[id.x] = g_in[id.x] * 2; }
)";
    const HlslCompileResult r = CompileHlsl(cs, "skin.hlsl", "CSMain", HlslStage::Compute);
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(Bindings(r.spirv), (std::vector<std::uint32_t>{2, 14}));
}

TEST(HlslCompiler, ErrorsCarryTheCompilersOwnText) {
    const HlslCompileResult r =
        CompileHlsl("float4 VS() : SV_POSITION { return undefined_thing; }\n", "broken.hlsl", "VS",
                    HlslStage::Vertex);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.spirv.empty());
    EXPECT_NE(r.messages.find("undefined_thing"), std::string::npos) << r.messages;
    EXPECT_NE(r.messages.find("broken.hlsl"), std::string::npos) << r.messages;

    const HlslCompileResult missing =
        CompileHlsl(kEffect, "effect.hlsl", "NoSuchEntry", HlslStage::Pixel);
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.messages.empty());
}

TEST(HlslCompiler, ByteOrderMarksAndHugeSources) {
    // Saved by Windows editors: UTF-8 with a mark, UTF-16 either way round, a comment in
    // Japanese and a character beyond the basic plane included.
    const std::u16string text =
        u"// \u8272\U0001F3B5\n" + std::u16string(kEffect.begin(), kEffect.end());
    std::string utf8 = "\xEF\xBB\xBF// \xE8\x89\xB2\xF0\x9F\x8E\xB5\n" + kEffect;
    std::string little = "\xFF\xFE", big = "\xFE\xFF";
    for (char16_t c : text) {
        little += static_cast<char>(c & 0xFF), little += static_cast<char>(c >> 8);
        big += static_cast<char>(c >> 8), big += static_cast<char>(c & 0xFF);
    }
    for (const std::string& source : {utf8, little, big}) {
        const HlslCompileResult r = CompileHlsl(source, "marked.hlsl", "PS", HlslStage::Pixel);
        EXPECT_TRUE(r.ok) << r.messages;
    }

    const std::string huge(17u << 20, ' ');
    const HlslCompileResult r = CompileHlsl(huge, "huge.hlsl", "PS", HlslStage::Pixel);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.messages.find("more than an effect shader may be"), std::string::npos);
}

TEST(HlslCompiler, ACompilerCrashIsTheFilesErrorNotOurs) {
    // A declaration cut off at the end of a file crashes the compiler library itself.
    const HlslCompileResult r = CompileHlsl("float n n[", "cut.hlsl", "PS", HlslStage::Pixel);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.messages.find("cut.hlsl: the shader compiler crashed on this file"),
              std::string::npos)
        << r.messages;
    // And the compiler still works afterwards.
    EXPECT_TRUE(CompileHlsl(kEffect, "effect.hlsl", "PS", HlslStage::Pixel).ok);
}

TEST(HlslCompiler, FilesResolveIncludesBesideThemselves) {
    const std::string common = "float4 Tint() { return float4(1, 0.5, 0.25, 1); }\n";
    const std::vector<std::uint8_t> bytes(common.begin(), common.end());
    TempFile header("common.hlsli", bytes);
    const std::string main =
        "#include \"common.hlsli\"\nfloat4 PS() : SV_TARGET { return Tint(); }\n";
    const auto shaderPath = header.folder() / "main.hlsl";
    {
        std::ofstream out(shaderPath);
        out << main;
    }
    const HlslCompileResult r = CompileHlslFile(shaderPath, "PS", HlslStage::Pixel);
    EXPECT_TRUE(r.ok) << r.messages;
    const HlslCompileResult gone =
        CompileHlslFile(header.folder() / "nothing.hlsl", "PS", HlslStage::Pixel);
    EXPECT_FALSE(gone.ok);
    EXPECT_NE(gone.messages.find("cannot open"), std::string::npos);
}

}  // namespace qv
