// The constant buffers as the compiled built-in programs see them must match
// the records the CPU writes, byte for byte: a shifted field would still
// compile and draw, only wrongly.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <span>
#include <string>

#include "render/model/model_resources.h"
#include "render/raster/raster_pipelines.h"

namespace qv {

namespace {

// Member offsets of every struct in a SPIR-V module, by member name.
std::map<std::string, std::uint32_t> MemberOffsets(std::span<const std::uint32_t> code) {
    constexpr std::uint32_t kOpMemberName = 6, kOpMemberDecorate = 72, kOffset = 35;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> names;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> offsets;
    for (std::size_t i = 5; i < code.size();) {
        const std::uint32_t op = code[i] & 0xFFFF;
        const std::uint32_t count = code[i] >> 16;
        if (count == 0 || i + count > code.size()) {
            break;
        }
        if (op == kOpMemberName && count >= 4) {
            names[{code[i + 1], code[i + 2]}] =
                std::string(reinterpret_cast<const char*>(&code[i + 3]));
        } else if (op == kOpMemberDecorate && count >= 5 && code[i + 3] == kOffset) {
            offsets[{code[i + 1], code[i + 2]}] = code[i + 4];
        }
        i += count;
    }
    std::map<std::string, std::uint32_t> out;
    for (const auto& [member, offset] : offsets) {
        if (auto it = names.find(member); it != names.end()) {
            out[it->second] = offset;
        }
    }
    return out;
}

TEST(ShaderInterfaceTest, ConstantBuffersMatchTheCpuRecords) {
    // The toon program reads nearly every field of both buffers.
    const auto toon = MemberOffsets(BuiltInPrograms::ToonPixel());
    const std::map<std::string, std::size_t> material = {
        {"baseColor", offsetof(MaterialConstants, baseColor)},
        {"specularColor", offsetof(MaterialConstants, specularColor)},
        {"specularStrength", offsetof(MaterialConstants, specularStrength)},
        {"ambientColor", offsetof(MaterialConstants, ambientColor)},
        {"edgeSize", offsetof(MaterialConstants, edgeSize)},
        {"edgeColor", offsetof(MaterialConstants, edgeColor)},
        {"emissionColor", offsetof(MaterialConstants, emissionColor)},
        {"emissionStrength", offsetof(MaterialConstants, emissionStrength)},
        {"receiveShadow", offsetof(MaterialConstants, receiveShadow)},
        {"sphereMode", offsetof(MaterialConstants, sphereMode)},
        {"textureBind0", offsetof(MaterialConstants, textureBind)},
        {"textureBind2", offsetof(MaterialConstants, textureBind) + 8},
        {"textureBind7", offsetof(MaterialConstants, textureBind) + 28},
    };
    const std::map<std::string, std::size_t> scene = {
        {"mModel", offsetof(SceneConstants, mModel)},
        {"mView", offsetof(SceneConstants, mView)},
        {"mMVP", offsetof(SceneConstants, mMVP)},
        {"cameraPos", offsetof(SceneConstants, cameraPos)},
        {"lightPos", offsetof(SceneConstants, lightPos)},
        {"lightColor", offsetof(SceneConstants, lightColor)},
        {"lightView", offsetof(SceneConstants, lightView)},
        {"lightProjection", offsetof(SceneConstants, lightProjection)},
        {"elapsedTime", offsetof(SceneConstants, elapsedTime)},
        {"shadowBias", offsetof(SceneConstants, shadowBias)},
    };
    for (const auto* fields : {&material, &scene}) {
        for (const auto& [name, offset] : *fields) {
            ASSERT_TRUE(toon.contains(name)) << name;
            EXPECT_EQ(toon.at(name), offset) << name;
        }
    }
    const auto edge = MemberOffsets(BuiltInPrograms::EdgeVertex());
    EXPECT_EQ(edge.at("edgeSize"), offsetof(MaterialConstants, edgeSize));
    EXPECT_EQ(edge.at("mMVP"), offsetof(SceneConstants, mMVP));
    EXPECT_EQ(edge.at("viewportSize"), offsetof(SceneConstants, viewportSize));
}

TEST(ShaderInterfaceTest, BuiltInSetsPairTheMainVertexProgramWithTheirPixelProgram) {
    const ShaderSetCode experimental = BuiltInShaderSet(0);
    const ShaderSetCode toon = BuiltInShaderSet(1);
    EXPECT_EQ(experimental.name, "QV shader(experimental)");
    EXPECT_EQ(toon.name, "QV Toon shader");
    EXPECT_EQ(experimental.vertex.data(), toon.vertex.data());
    EXPECT_NE(experimental.pixel.data(), toon.pixel.data());
    // SPIR-V magic number: the embedded arrays are whole modules.
    for (auto code : {BuiltInPrograms::MainVertex(), BuiltInPrograms::FxaaLowPixel(),
                      BuiltInPrograms::FxaaHighPixel(), BuiltInPrograms::Skinning()}) {
        ASSERT_FALSE(code.empty());
        EXPECT_EQ(code[0], 0x07230203u);
    }
}

}  // namespace

}  // namespace qv
