// Files a user might pick that are broken or made to break the readers: every
// one must load or fail cleanly, quickly, and without unbounded memory.
#include <gtest/gtest.h>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

std::size_t CountRecords(const PmxModel& m) {
    return m.vertices.size() + m.indices.size() + m.textures.size() + m.materials.size() +
           m.bones.size() + m.morphs.size() + m.displayFrames.size() + m.rigidBodies.size() +
           m.joints.size();
}

// Offsets of each section's count in an encoded sample, found by re-encoding
// with the sections that follow emptied: the count sits where the shorter file ends.
std::vector<std::size_t> SectionCountOffsets(const PmxModel& sample) {
    std::vector<std::size_t> offsets;
    PmxModel m = sample;
    m.vertices.clear(), m.indices.clear(), m.textures.clear(), m.materials.clear();
    m.bones.clear(), m.morphs.clear(), m.displayFrames.clear(), m.rigidBodies.clear();
    m.joints.clear();
    // The empty file is header + 9 zero counts; each count is 4 bytes.
    const std::size_t headerEnd = EncodePmx(m).size() - 9 * 4;
    PmxModel grow = m;
    offsets.push_back(headerEnd);
    auto next = [&](auto fill) {
        fill(grow);
        const std::size_t trailing = 4 * (9 - offsets.size());
        offsets.push_back(EncodePmx(grow).size() - trailing);
    };
    next([&](PmxModel& g) { g.vertices = sample.vertices; });
    next([&](PmxModel& g) { g.indices = sample.indices; });
    next([&](PmxModel& g) { g.textures = sample.textures; });
    next([&](PmxModel& g) { g.materials = sample.materials; });
    next([&](PmxModel& g) { g.bones = sample.bones; });
    next([&](PmxModel& g) { g.morphs = sample.morphs; });
    next([&](PmxModel& g) { g.displayFrames = sample.displayFrames; });
    next([&](PmxModel& g) { g.rigidBodies = sample.rigidBodies; });
    return offsets;
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(HostilePmx, TruncatedAtEveryByteLoadsWhatIsThere) {
    const PmxModel sample = SamplePmxModel();
    const std::vector<std::uint8_t> full = EncodePmx(sample);
    const std::size_t fullRecords = CountRecords(sample);
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        std::vector<std::uint8_t> bytes(full.begin(), full.begin() + cut);
        PmxModel m;
        const HRESULT hr = ParsePmxModel(m, bytes);
        if (cut < 4) {
            EXPECT_EQ(hr, E_FAIL);
            continue;
        }
        // A cut inside a morph can make its type byte read as zero, never as
        // garbage; nothing else may fail.
        ASSERT_EQ(hr, S_OK) << "cut at " << cut;
        ASSERT_LE(CountRecords(m), fullRecords) << "cut at " << cut;
        ASSERT_LE(CountRecords(m), cut);
    }
}

TEST(HostilePmx, TruncatedInsideVerticesKeepsWholeOnesAndEmptiesTheRest) {
    PmxModel sample = SamplePmxModel();
    sample.additionalUvCount = 0;
    for (PmxVertex& v : sample.vertices) {
        v.weight = {};
        v.weight.deformType = kPmxDeformBdef1;
        v.weight.weight[0] = 1.0f;
        v.additionalUv = {};
    }
    const std::vector<std::uint8_t> full = EncodePmx(sample);
    const std::size_t vertexStart = SectionCountOffsets(sample)[0] + 4;
    const std::size_t vertexSize = 32 + 1 + 2 + 4;
    std::vector<std::uint8_t> bytes(full.begin(), full.begin() + vertexStart + 2 * vertexSize + 10);
    PmxModel m;
    ASSERT_EQ(ParsePmxModel(m, bytes), S_OK);
    ASSERT_EQ(m.vertices.size(), 2u);
    EXPECT_EQ(m.vertices[0], sample.vertices[0]);
    EXPECT_EQ(m.vertices[1], sample.vertices[1]);
    EXPECT_TRUE(m.indices.empty());
    EXPECT_TRUE(m.bones.empty());
    EXPECT_TRUE(m.joints.empty());
}

TEST(HostilePmx, HugeCountsInEverySectionStayBounded) {
    const PmxModel sample = SamplePmxModel();
    const std::vector<std::uint8_t> full = EncodePmx(sample);
    for (std::size_t at : SectionCountOffsets(sample)) {
        std::vector<std::uint8_t> bytes = full;
        PutU32(bytes, at, 0xFFFFFFFFu);
        PmxModel m;
        const HRESULT hr = ParsePmxModel(m, bytes);
        // Garbage read as records may include a morph type the reader
        // refuses; either way the work is bounded by the file size.
        EXPECT_TRUE(hr == S_OK || hr == E_FAIL);
        EXPECT_LE(CountRecords(m), full.size()) << "count at offset " << at;
    }
}

TEST(HostilePmx, HugeCountsAfterPlentyOfDataAreCappedByTheBytes) {
    // A megabyte of zeros after a face count of 2^32 - 1: the faces take what
    // the bytes can hold and no more.
    PmxModel sample = SamplePmxModel();
    sample.vertices.clear();
    sample.indices.clear();
    std::vector<std::uint8_t> bytes = EncodePmx(sample);
    const std::size_t facesAt = SectionCountOffsets(sample)[1];
    PutU32(bytes, facesAt, 0xFFFFFFFFu);
    bytes.insert(bytes.begin() + facesAt + 4, 1 << 20, 0);
    PmxModel m;
    ASSERT_EQ(ParsePmxModel(m, bytes), S_OK);
    EXPECT_LE(m.indices.size(), bytes.size() / 2);
    EXPECT_GE(m.indices.size(), (1u << 20) / 2);
}

TEST(HostilePmx, IndexWidthOfThreeReadsNothingAndStaysBounded) {
    PmxModel sample = SamplePmxModel();
    std::vector<std::uint8_t> bytes = EncodePmx(sample);
    bytes[11] = 3;  // vertex index width
    bytes[14] = 3;  // bone index width
    PmxModel m;
    const HRESULT hr = ParsePmxModel(m, bytes);
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL);
    // Faces of width 3 would be zero-byte records; none may be invented.
    EXPECT_TRUE(m.indices.empty());
    EXPECT_LE(CountRecords(m), bytes.size());
}

TEST(HostilePmx, TextLengthsPastTheEndAndOddUtf16) {
    PmxModel sample = SamplePmxModel();
    sample.bones[0].name = u"abc";
    std::vector<std::uint8_t> bytes = EncodePmx(sample);
    // A model name length far past the end: the name is empty, only its length
    // is consumed, and whatever follows is read from there without harm.
    const std::size_t nameAt = 17;
    PutU32(bytes, nameAt, 0x7FFFFFFFu);
    PmxModel m;
    ASSERT_EQ(ParsePmxModel(m, bytes), S_OK);
    EXPECT_EQ(m.name, u"");
    EXPECT_LE(CountRecords(m), bytes.size());
}

TEST(HostileVmd, TruncatedAtEveryByteAndHugeCounts) {
    VmdFile f;
    f.bones = {{"a", 1}, {"b", 2}, {"a", 3}};
    f.morphs = {{"m", 0, 1.0f}};
    f.cameras.resize(2);
    f.lights.resize(1);
    f.shadows.resize(3);
    const std::vector<std::uint8_t> full = EncodeVmd(f);
    for (std::size_t cut = 1; cut < full.size(); ++cut) {
        VmdMotion m;
        ASSERT_EQ(ParseVmdMotion(m, {full.data(), cut}), S_OK);
        std::size_t keys = 0;
        for (const auto& [name, list] : m.boneKeys)
            keys += list.size();
        ASSERT_LE(keys, 3u);
        ASSERT_EQ(m.boneKeys.count(u""), 0u) << "an empty key was invented at cut " << cut;
    }
    for (std::size_t at : {50u, 50u + 4 + 3 * 111, 50u + 8 + 3 * 111 + 23}) {
        std::vector<std::uint8_t> bytes = full;
        PutU32(bytes, at, 0xFFFFFFFFu);
        VmdMotion m;
        ASSERT_EQ(ParseVmdMotion(m, bytes), S_OK);
        EXPECT_LE(m.cameraKeys.size() + m.lightKeys.size() + m.shadowKeys.size(), bytes.size());
    }
}

TEST(HostileVmd, NamesCutInsideACharacterOrHoldingNuls) {
    VmdFile f;
    // 15 bytes ending in the lead byte of a double-byte character.
    f.bones = {{"\x89\x45\x82\xD0\x82\xB4\x82\xBD\x82\xA2\x82\xB5\x82\xA0\x82", 0},
               {std::string("\0\0abc", 5), 1}};
    f.morphs = {{"\xFF\xFE\xFD", 0, 1.0f}};
    VmdMotion m;
    ASSERT_EQ(ParseVmdMotion(m, EncodeVmd(f)), S_OK);
    // The cut lead byte stays part of the name, so it cannot meet the uncut prefix.
    EXPECT_EQ(m.boneKeys.count(std::u16string(u"右ひざたいしあ") + char16_t(0xDC82)), 1u);
    EXPECT_EQ(m.boneKeys.count(u"右ひざたいしあ"), 0u);
    // A name starting with NUL is empty: the key is kept under "".
    EXPECT_EQ(m.boneKeys.count(u""), 1u);
    EXPECT_EQ(m.morphKeys.size(), 1u);
}

}  // namespace qv
