// Older model files against newer ones of the same content and size, and a large pose file.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_models.h"
#include "demo/pmd_writer.h"
#include "formats/pmd_model.h"
#include "formats/pmx_model.h"
#include "formats/vpd_pose.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

// About 10 MB either way: as many vertices as 16-bit indices reach, on two
// bones each, a dense index list, a few hundred bones and face morphs.
PmxModel DenseModel() {
    PmxModel m = GridModel({65'000, 250, 1'000'000, 2});
    for (PmxBone& b : m.bones) {
        b.flags &= ~std::uint32_t{kPmxBoneAppendRotation};
    }
    m.morphs.clear();
    for (int k = 0; k < 60; ++k) {
        PmxMorph morph;
        morph.name = u"morph";
        morph.type = kPmxMorphVertex;
        morph.panel = 1;
        for (std::int32_t v = 0; v < 2000; ++v)
            morph.vertexOffsets.push_back({v * 7 + k, {0.1f, 0.2f, 0.3f}});
        m.morphs.push_back(morph);
    }
    m.displayFrames.resize(2);
    m.materials.resize(1);
    m.materials[0].indexCount = static_cast<std::uint32_t>(m.indices.size());
    return m;
}

const std::vector<std::uint8_t>& PmdBytes() {
    static const std::vector<std::uint8_t> bytes = EncodePmd(PmdFileOf(DenseModel()));
    return bytes;
}

const std::vector<std::uint8_t>& PmxBytes() {
    static const std::vector<std::uint8_t> bytes = EncodePmx(DenseModel());
    return bytes;
}

template <typename Parse>
void ParseModel(benchmark::State& state, const std::vector<std::uint8_t>& bytes, Parse parse) {
    for (auto _ : state) {
        PmxModel model;
        benchmark::DoNotOptimize(parse(model, bytes));
        benchmark::DoNotOptimize(model.vertices.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["MB"] = double(bytes.size()) / 1e6;
}

void BM_PmdParseDense(benchmark::State& state) {
    ParseModel(state, PmdBytes(), ParsePmdModel);
}
void BM_PmxParseDense(benchmark::State& state) {
    ParseModel(state, PmxBytes(), ParsePmxModel);
}

// A pose of 1,000 bones as editors write it: CRLF lines, comments, names in
// code page 932.
const std::string& ThousandBonePose() {
    static const std::string text = [] {
        std::string t = "\x56\x6f\x63\x61\x6c\x6f\x69\x64\x20" + std::string(kVpdSignature) +
                        "\r\n\r\nmodel.osm;\t\t// parent file\r\n1000;\t\t// bones\r\n\r\n";
        const std::string name = "\x89\x45\x98\x72";  // "右腕"
        for (int i = 0; i < 1000; ++i) {
            const std::string n = std::to_string(i);
            t += "Bone" + n + "{" + name + n +
                 "\r\n  0.125000,-1.500000,0.000000;\t\t// trans\r\n"
                 "  0.000000,0.707107,0.000000,0.707107;\t\t// Quaternion x,y,z,w\r\n}\r\n\r\n";
        }
        return t;
    }();
    return text;
}

void BM_VpdParseThousandBones(benchmark::State& state) {
    const std::string& text = ThousandBonePose();
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size());
    for (auto _ : state) {
        VmdMotion pose;
        VpdWarnings warnings;
        benchmark::DoNotOptimize(ParseVpdPose(pose, bytes, warnings));
        if (pose.boneKeys.size() != 1000 || warnings.count != 0) {
            state.SkipWithError("the pose did not read back whole");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["KB"] = double(text.size()) / 1e3;
}

}  // namespace

BENCHMARK(BM_PmdParseDense)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PmxParseDense)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VpdParseThousandBones)->Unit(benchmark::kMicrosecond);

}  // namespace qv
