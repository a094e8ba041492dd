// Reader throughput, next to memcpy of the same bytes as the ceiling.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_models.h"
#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "platform/file_read.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

const std::vector<std::uint8_t>& GeneBytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b;
        ReadWholeFile(std::filesystem::path(QV_CONTENT_DIR) / "gene" / "Gene_light.pmx", b);
        return b;
    }();
    return bytes;
}

// About 100 MB: a dense mesh as real models have, BDEF2 and BDEF4 skinning,
// three indices per triangle, a few hundred bones and vertex morphs.
const std::vector<std::uint8_t>& LargeModelBytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        PmxModel m = GridModel({1'400'000, 1000, 2'700'000, 4});
        for (std::size_t i = 0; i < m.vertices.size(); ++i) {
            PmxVertex& v = m.vertices[i];
            v.weight.deformType = i % 4 == 0 ? kPmxDeformBdef4 : kPmxDeformBdef2;
            v.weight.boneIndex[2] = 2;
            v.weight.boneIndex[3] = 3;
        }
        for (int k = 0; k < 100; ++k) {
            PmxMorph morph;
            morph.name = u"morph";
            morph.type = kPmxMorphVertex;
            morph.vertexOffsets.resize(2000, {7, {0.1f, 0.2f, 0.3f}});
            m.morphs.push_back(morph);
        }
        return EncodePmx(m);
    }();
    return bytes;
}

void ParsePmx(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
    for (auto _ : state) {
        PmxModel model;
        benchmark::DoNotOptimize(ParsePmxModel(model, bytes));
        benchmark::DoNotOptimize(model.vertices.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["MB"] = double(bytes.size()) / 1e6;
}

// The same parse into a model whose lists keep their memory from the last
// round: what is left once the system has handed out the pages.
void ParsePmxWarm(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
    PmxModel model;
    ParsePmxModel(model, bytes);
    for (auto _ : state) {
        model.vertices.clear(), model.indices.clear(), model.textures.clear();
        model.materials.clear(), model.bones.clear(), model.morphs.clear();
        model.displayFrames.clear(), model.rigidBodies.clear(), model.joints.clear();
        benchmark::DoNotOptimize(ParsePmxModel(model, bytes));
        benchmark::DoNotOptimize(model.vertices.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void Memcpy(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> copy(bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_PmxParseGene(benchmark::State& state) {
    if (GeneBytes().empty()) {
        state.SkipWithError("Gene_light.pmx not found in the content folder");
        return;
    }
    ParsePmx(state, GeneBytes());
}
void BM_MemcpyGene(benchmark::State& state) {
    Memcpy(state, GeneBytes());
}
void BM_PmxParseLarge(benchmark::State& state) {
    ParsePmx(state, LargeModelBytes());
}
void BM_PmxParseLargeWarm(benchmark::State& state) {
    ParsePmxWarm(state, LargeModelBytes());
}
void BM_MemcpyLarge(benchmark::State& state) {
    Memcpy(state, LargeModelBytes());
}

// A dance keys a couple of hundred bones; files store keys by bone. Names
// that fill the 15-byte field are as long as a key name gets, and longer
// than a string holds without a heap block.
std::vector<std::uint8_t> MillionKeyMotionNamed(const std::string& prefix) {
    VmdFile f;
    f.bones.reserve(1'000'000);
    for (int bone = 0; bone < 200; ++bone) {
        std::string name = prefix + std::to_string(bone);
        name.resize(std::min<std::size_t>(name.size(), 15));
        for (int k = 0; k < 5000; ++k)
            f.bones.emplace_back(name, k * 2);
    }
    return EncodeVmd(f);
}

void ParseVmd(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
    for (auto _ : state) {
        VmdMotion motion;
        benchmark::DoNotOptimize(ParseVmdMotion(motion, bytes));
    }
    state.SetItemsProcessed(state.iterations() * 1'000'000);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_VmdParseMillionBoneKeys(benchmark::State& state) {
    static const std::vector<std::uint8_t> bytes = MillionKeyMotionNamed("bone");
    ParseVmd(state, bytes);
}
void BM_VmdParseMillionBoneKeysLongNames(benchmark::State& state) {
    static const std::vector<std::uint8_t> bytes = MillionKeyMotionNamed("LeftShoulderP_");
    ParseVmd(state, bytes);
}

}  // namespace

BENCHMARK(BM_MemcpyGene);
BENCHMARK(BM_PmxParseGene);
BENCHMARK(BM_MemcpyLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PmxParseLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PmxParseLargeWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VmdParseMillionBoneKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VmdParseMillionBoneKeysLongNames)->Unit(benchmark::kMillisecond);

}  // namespace qv
