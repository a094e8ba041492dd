// Model files must round-trip in every encoding and width, and fail only when foreign.
#include <gtest/gtest.h>

#include "formats/pmx_model.h"
#include "tests/support/content_writers.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

PmxModel Parse(const std::vector<std::uint8_t>& bytes, HRESULT expected = S_OK) {
    PmxModel model;
    EXPECT_EQ(ParsePmxModel(model, bytes), expected);
    return model;
}

// The sample with its path fields as a parse leaves them.
PmxModel Sample() {
    return SamplePmxModel();
}

}  // namespace

TEST(PmxReader, RoundTripsEveryRecordKind) {
    const PmxModel sample = Sample();
    const PmxModel parsed = Parse(EncodePmx(sample));
    // Compare section by section first for readable failures.
    EXPECT_EQ(parsed.name, sample.name);
    EXPECT_EQ(parsed.comment, sample.comment);
    EXPECT_EQ(parsed.vertices, sample.vertices);
    EXPECT_EQ(parsed.indices, sample.indices);
    EXPECT_EQ(parsed.textures, sample.textures);
    EXPECT_EQ(parsed.materials, sample.materials);
    EXPECT_EQ(parsed.bones, sample.bones);
    EXPECT_EQ(parsed.morphs, sample.morphs);
    EXPECT_EQ(parsed.displayFrames, sample.displayFrames);
    EXPECT_EQ(parsed.rigidBodies, sample.rigidBodies);
    EXPECT_EQ(parsed.joints, sample.joints);
    EXPECT_EQ(parsed, sample);
}

TEST(PmxReader, RoundTripsInUtf8AndWithEveryIndexWidth) {
    for (std::uint32_t width : {1u, 2u, 4u}) {
        PmxModel sample = Sample();
        sample.textEncoding = 1;
        sample.vertexIndexSize = sample.textureIndexSize = sample.materialIndexSize = width;
        sample.boneIndexSize = sample.morphIndexSize = sample.rigidBodyIndexSize = width;
        EXPECT_EQ(Parse(EncodePmx(sample)), sample) << "index width " << width;
    }
}

TEST(PmxReader, VersionsDifferOnlyInTheVersionField) {
    PmxModel v20 = Sample();
    PmxModel v21 = Sample();
    v21.version = 2.1f;
    PmxModel a = Parse(EncodePmx(v20));
    PmxModel b = Parse(EncodePmx(v21));
    EXPECT_FLOAT_EQ(b.version, 2.1f);
    b.version = a.version;
    EXPECT_EQ(a, b);
}

TEST(PmxReader, GlobalCountDoesNotMoveTheEightGlobals) {
    // A writer that claims 10 globals but writes only 8: the reader must still
    // take exactly 8 and find the name right after them.
    PmxModel sample = Sample();
    std::vector<std::uint8_t> bytes = EncodePmx(sample);
    bytes[8] = 10;
    EXPECT_EQ(Parse(bytes), sample);
}

TEST(PmxReader, FieldsFilledByTheFileLayoutRules) {
    const PmxModel m = Parse(EncodePmx(Sample()));
    // BDEF1 gets weight 1; BDEF2 derives the second weight.
    EXPECT_EQ(m.vertices[0].weight.weight[0], 1.0f);
    EXPECT_EQ(m.vertices[1].weight.weight[1], 0.75f);
    // Shared toon: one byte, whatever the texture index width.
    EXPECT_EQ(m.materials[1].sharedToon, 1);
    EXPECT_EQ(m.materials[1].toonIndex, 3);
    EXPECT_EQ(m.materials[0].specular.w, 1.0f);
    // A bone without the tail-is-bone flag keeps tailIndex at 0, not -1.
    EXPECT_EQ(m.bones[0].tailIndex, 0);
    EXPECT_EQ(m.bones[0].tailOffset, (Float3{0, 1, 0}));
    EXPECT_EQ(m.bones[0].appendParentIndex, 0);
    // An unlimited IK link consumed no limit vectors: the next link is intact.
    ASSERT_EQ(m.bones[2].ikLinks.size(), 2u);
    EXPECT_EQ(m.bones[2].ikLinks[1].boneIndex, 0);
    EXPECT_EQ(m.bones[2].ikLinks[1].lowerLimit, Float3{});
    // Display-frame element of kind 1 is a morph index.
    EXPECT_EQ(m.displayFrames[1].elements[1].index, 10);
    EXPECT_EQ(m.rigidBodies[1].physicsMode, 2u);
}

TEST(PmxReader, SharedToonByteIgnoresAWideTextureIndex) {
    PmxModel sample = Sample();
    sample.textureIndexSize = 4;
    sample.materials[1].toonIndex = -1;  // byte 0xFF
    const PmxModel m = Parse(EncodePmx(sample));
    EXPECT_EQ(m.materials[1].toonIndex, -1);
    EXPECT_EQ(m.materials[1].memo, u"memo");
    EXPECT_EQ(m.bones, sample.bones);
}

TEST(PmxReader, TextLengthsAndNuls) {
    ByteWriter w;
    w.Raw("PMX ");
    w.F32(2.0f);
    w.U8(8), w.U8(0), w.U8(0), w.U8(1), w.U8(1), w.U8(1), w.U8(1), w.U8(1), w.U8(1);
    w.U32(0);                                       // empty name
    w.U32(6), w.Raw(std::string("A\0\0\0B\0", 6));  // cut at the NUL code unit
    w.U32(3), w.Raw(std::string("C\0D", 3));        // odd length: the last byte is dropped
    w.U32(1000);  // longer than what remains: empty, only length consumed
    w.U32(2);     // vertex count read right after that length
    const PmxModel m = Parse(w.bytes);
    EXPECT_EQ(m.name, u"");
    EXPECT_EQ(m.nameEnglish, u"A");
    EXPECT_EQ(m.comment, u"C");
    EXPECT_EQ(m.commentEnglish, u"");
    EXPECT_TRUE(m.vertices.empty());  // 2 declared, no bytes for them
}

TEST(PmxReader, LoadsFromDiskWithPathFields) {
    const std::vector<std::uint8_t> bytes = EncodePmx(Sample());
    TempFile file("m.pmx", bytes);
    PmxModel m;
    ASSERT_EQ(LoadPmxModel(m, file.path()), S_OK);
    EXPECT_EQ(m.filePath, file.path());
    EXPECT_EQ(m.fileName, "m.pmx");
    EXPECT_EQ(m.folder, file.folder().string() + "/");
    EXPECT_EQ(m.bones.size(), 3u);
}

TEST(PmxReader, FailsOnlyForUnreadableOrForeignFiles) {
    PmxModel m;
    EXPECT_EQ(LoadPmxModel(m, ""), E_INVALIDARG);
    EXPECT_EQ(LoadPmxModel(m, "/nonexistent/folder/m.pmx"), E_FAIL);
    {
        TempFile empty("empty.pmx", {});
        PmxModel e;
        EXPECT_EQ(LoadPmxModel(e, empty.path()), E_FAIL);
        EXPECT_EQ(e.fileName, "empty.pmx");  // path fields may already be set
    }
    {
        TempFile dir("dir.pmx", {});
        PmxModel d;
        EXPECT_EQ(LoadPmxModel(d, dir.folder()), E_FAIL);  // a folder is no file
    }
    const std::vector<std::uint8_t> pmd = {'P', 'm', 'd', 0, 0, 0, 0x80, 0x3F};
    Parse(pmd, E_FAIL);
    Parse({'P', 'M', 'X'}, E_FAIL);
    // Just the signature: everything else reads as zero and empty.
    const PmxModel bare = Parse({'P', 'M', 'X', ' '});
    EXPECT_EQ(bare.signature, u"PMX ");
    EXPECT_TRUE(bare.vertices.empty());
}

TEST(PmxReader, HeaderValuesThatMeanACorruptFileFailTheLoad) {
    PmxModel badEncoding = Sample();
    std::vector<std::uint8_t> bytes = EncodePmx(badEncoding);
    bytes[9] = 2;
    Parse(bytes, E_FAIL);
    bytes = EncodePmx(Sample());
    bytes[10] = 5;  // more additional UV sets than a vertex can hold
    Parse(bytes, E_FAIL);
    PmxModel badMorph = Sample();
    badMorph.morphs[4].type = 11;
    Parse(EncodePmx(badMorph), E_FAIL);
}

TEST(PmxReader, JointTypesOfVersion21ShareTheSpringLayout) {
    PmxModel sample = Sample();
    sample.version = 2.1f;
    PmxJoint hinge = sample.joints[0];
    hinge.type = 5;
    hinge.name = u"hinge";
    PmxJoint last = sample.joints[0];
    last.name = u"after";
    sample.joints = {hinge, sample.joints[0], last};
    const PmxModel m = Parse(EncodePmx(sample));
    EXPECT_EQ(m.joints, sample.joints);
}

}  // namespace qv
