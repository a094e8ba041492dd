// Models of the older format: every section into the newer record, and hostile files handled.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "demo/file_writers.h"
#include "demo/pmd_writer.h"
#include "formats/pmd_model.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

std::string Sjis(const std::u16string& text) {
    return EncodeCp932(text);
}

// A file with every section and the variants each one has.
PmdFile EverySection() {
    PmdFile f;
    f.name = Sjis(u"旧モデル");
    f.comment = Sjis(u"コメント\n二行目");
    f.vertices.resize(4);
    f.vertices[0] = {{1, 2, 3}, {0, 1, 0}, {0.25f, 0.5f}, {{1, 2}}, 30, 0};
    f.vertices[1] = {{4, 5, 6}, {0, 0, -1}, {1, 1}, {{2, 0}}, 100, 1};  // all of bone 2
    f.vertices[2] = {{7, 8, 9}, {1, 0, 0}, {0, 0}, {{0, 3}}, 0, 0};     // all of bone 3
    f.vertices[3] = {{0, 0, 0}, {1, 0, 0}, {0, 0}, {{0xFFFF, 0xFFFF}}, 250, 0};
    f.indices = {0, 1, 2, 2, 1, 3};
    f.materials.resize(3);
    f.materials[0] = {{1, 0.5f, 0.25f, 1}, 5, {0.1f, 0.2f, 0.3f}, {0.4f, 0.5f, 0.6f}, 3, 1, 3,
                      "tex.bmp*shine.SPH"};
    f.materials[1] = {{1, 1, 1, 0.98f}, 0, {}, {}, 0xFF, 0, 3, "glow.spa"};
    f.materials[2] = {{1, 1, 1, 0.5f}, 0, {}, {}, 0, 0, 0, "tex.bmp"};
    const std::u16string names[10] = {u"センター", u"左足", u"左ひざ", u"左足首", u"左足ＩＫ",
                                      u"両目",     u"左目", u"左腕捩", u"捩先",   u"左手捩"};
    const std::uint8_t types[10] = {1, 4, 4, 6, 2, 0, 5, 8, 7, 9};
    for (int i = 0; i < 10; ++i) {
        PmdFile::Bone& b = f.bones.emplace_back();
        b.name = Sjis(names[i]);
        b.parent = i == 0 ? 0xFFFF : 0;
        b.type = types[i];
        b.position = {static_cast<float>(i), 1, 0};
    }
    f.bones[1].tail = 2;
    f.bones[6].influence = 5;
    f.bones[7].tail = 8;
    f.bones[8].position = {7, 4, 0};  // the twist axis points straight up
    f.bones[9].influence = 7;
    f.bones[9].tail = 25;  // a linked bone's share, in percent
    f.iks.push_back({4, 3, 40, 0.5f, {2, 1}});
    f.skins.push_back({"base", 0, {{2, {7, 8, 9}}, {0, {1, 2, 3}}}});
    f.skins.push_back({Sjis(u"まばたき"), 2, {{0, {0, -0.5f, 0}}, {1, {0.5f, 0, 0}}, {9, {}}}});
    f.skins.push_back({Sjis(u"あ"), 3, {{1, {0, 1, 0}}}});
    f.skinDisplay = {2, 1, 0, 7};  // the base and a skin past the end are not shown
    f.frameNames = {Sjis(u"足") + "\n", Sjis(u"目") + "\n"};
    f.boneDisplay = {{1, 1}, {2, 1}, {6, 2}, {9, 3}};  // frame 3 does not exist
    f.english = PmdFile::English{"old model", "comment", {}, {"blink", "a"}, {"legs\n", "eyes"}};
    for (int i = 0; i < 10; ++i) {
        f.english->bones.push_back("bone" + std::to_string(i));
    }
    f.toonNames.emplace();
    for (int n = 0; n < 10; ++n) {
        (*f.toonNames)[n] = (n < 9 ? "TOON0" : "toon") + std::to_string(n + 1) + ".BMP";
    }
    (*f.toonNames)[3] = "mine\\toon.png";  // toon 3 is the model's own image
    f.physics = true;
    PmdFile::RigidBody head{"head",       0, 2,    0xFFFD, 1,      {1, 2, 3}, {0.5f, 1, 0},
                            {0.1f, 0, 0}, 1, 0.5f, 0.25f,  0.125f, 0.75f,     2};
    PmdFile::RigidBody loose = head;
    loose.bone = 0xFFFF;
    f.bodies = {head, loose};
    PmxJoint joint;
    joint.name = u"首";
    joint.rigidBodyA = 0;
    joint.rigidBodyB = -1;
    joint.position = {1, 2, 3};
    joint.rotationUpper = {0.5f, 0, 0};
    joint.springRotation = {8, 8, 8};
    f.joints = {joint};
    return f;
}

PmxModel Parse(const std::vector<std::uint8_t>& bytes, HRESULT expected = S_OK) {
    PmxModel model;
    EXPECT_EQ(ParsePmdModel(model, bytes), expected);
    return model;
}

TEST(PmdReaderTest, HeaderVerticesFacesAndMaterialsTakeTheNewerFormsTerms) {
    const PmxModel m = Parse(EncodePmd(EverySection()));
    EXPECT_EQ(m.signature, u"Pmd");
    EXPECT_EQ(m.version, 1.0f);
    EXPECT_EQ(m.name, u"旧モデル");
    EXPECT_EQ(m.comment, u"コメント\n二行目");
    ASSERT_EQ(m.vertices.size(), 4u);
    const PmxBoneWeight& two = m.vertices[0].weight;
    EXPECT_EQ(two.deformType, kPmxDeformBdef2);
    EXPECT_EQ((std::array{two.boneIndex[0], two.boneIndex[1]}), (std::array{1, 2}));
    EXPECT_FLOAT_EQ(two.weight[0], 0.3f);
    EXPECT_FLOAT_EQ(two.weight[1], 0.7f);
    EXPECT_EQ(m.vertices[0].position, (Float3{1, 2, 3}));
    EXPECT_EQ(m.vertices[0].uv, (Float2{0.25f, 0.5f}));
    EXPECT_EQ(m.vertices[0].edgeScale, 1.0f);
    EXPECT_EQ(m.vertices[1].weight.deformType, kPmxDeformBdef1);
    EXPECT_EQ(m.vertices[1].weight.boneIndex[0], 2);
    EXPECT_EQ(m.vertices[1].weight.weight[0], 1.0f);
    EXPECT_EQ(m.vertices[1].edgeScale, 0.0f);  // the edge-off flag
    EXPECT_EQ(m.vertices[2].weight.boneIndex[0], 3);
    EXPECT_EQ(m.vertices[3].weight.boneIndex[0], -1);  // 250 % is all of the first
    EXPECT_EQ(m.indices, (std::vector<std::uint32_t>{0, 1, 2, 2, 1, 3}));

    // Textures once each, in order of first use; the model's own toon after them.
    EXPECT_EQ(m.textures, (std::vector<std::u16string>{u"tex.bmp", u"shine.SPH", u"glow.spa",
                                                       u"mine\\toon.png"}));
    ASSERT_EQ(m.materials.size(), 3u);
    const PmxMaterial& a = m.materials[0];
    EXPECT_EQ(a.diffuse, (Float4{1, 0.5f, 0.25f, 1}));
    EXPECT_EQ(a.specular, (Float4{0.1f, 0.2f, 0.3f, 1}));
    EXPECT_EQ(a.specularPower, 5.0f);
    EXPECT_EQ(a.ambient, (Float4{0.4f, 0.5f, 0.6f, 1}));
    EXPECT_EQ((std::array{a.textureIndex, a.sphereTextureIndex}), (std::array{0, 1}));
    EXPECT_EQ(a.sphereMode, 1u);
    EXPECT_EQ(a.sharedToon, 0);  // toon 3 names the model's own image
    EXPECT_EQ(a.toonIndex, 3);
    EXPECT_EQ(a.drawFlags, kPmxMaterialGroundShadow | kPmxMaterialCastsShadow |
                               kPmxMaterialReceivesShadow | kPmxMaterialEdge);
    EXPECT_EQ(a.indexCount, 3u);
    const PmxMaterial& b = m.materials[1];
    EXPECT_EQ((std::array{b.textureIndex, b.sphereTextureIndex}), (std::array{-1, 2}));
    EXPECT_EQ(b.sphereMode, 2u);
    EXPECT_EQ((std::array<int, 2>{b.sharedToon, b.toonIndex}), (std::array<int, 2>{1, -1}));
    // Alpha 0.98 keeps a material out of the self-shadow; below 1 it has two sides.
    EXPECT_EQ(b.drawFlags, kPmxMaterialGroundShadow | kPmxMaterialDoubleSided);
    const PmxMaterial& c = m.materials[2];
    EXPECT_EQ((std::array<int, 3>{c.textureIndex, c.sharedToon, c.toonIndex}),
              (std::array<int, 3>{0, 1, 0}));
}

TEST(PmdReaderTest, BonesIkMorphsAndFramesTakeTheNewerFormsTerms) {
    const PmxModel m = Parse(EncodePmd(EverySection()));
    ASSERT_EQ(m.bones.size(), 10u);
    const std::uint32_t shown = kPmxBoneVisible | kPmxBoneOperable;
    const std::uint32_t base = kPmxBoneTailIsBone | kPmxBoneRotatable;
    EXPECT_EQ(m.bones[0].flags, base | shown | kPmxBoneMovable);
    EXPECT_EQ(m.bones[0].parentIndex, -1);
    EXPECT_EQ(m.bones[0].tailIndex, -1);  // tail 0 is none
    EXPECT_EQ(m.bones[1].tailIndex, 2);
    EXPECT_EQ(m.bones[3].flags, base);  // an IK target is hidden
    EXPECT_EQ(m.bones[8].flags, base);  // hidden
    EXPECT_EQ(m.bones[4].flags, base | shown | kPmxBoneMovable | kPmxBoneIk);
    EXPECT_EQ(m.bones[6].flags, base | shown | kPmxBoneAppendRotation);
    EXPECT_EQ(m.bones[6].appendParentIndex, 5);
    EXPECT_EQ(m.bones[6].appendRatio, 1.0f);
    EXPECT_EQ(m.bones[7].flags, base | shown | kPmxBoneFixedAxis);
    EXPECT_EQ(m.bones[7].fixedAxis, (Float3{0, 1, 0}));
    EXPECT_EQ(m.bones[9].appendParentIndex, 7);
    EXPECT_FLOAT_EQ(m.bones[9].appendRatio, 0.25f);
    EXPECT_EQ(m.bones[9].tailIndex, -1);
    EXPECT_EQ(m.bones[9].nameEnglish, u"bone9");

    const PmxBone& ik = m.bones[4];
    EXPECT_EQ(ik.ikTargetIndex, 3);
    EXPECT_EQ(ik.ikLoopCount, 40u);
    EXPECT_EQ(ik.ikLimitAngle, 2.0f);  // four times the stored 0.5
    ASSERT_EQ(ik.ikLinks.size(), 2u);
    EXPECT_EQ(ik.ikLinks[0].boneIndex, 2);
    EXPECT_EQ(ik.ikLinks[0].hasLimit, 1);  // "左ひざ", a knee: forward only
    EXPECT_FLOAT_EQ(ik.ikLinks[0].lowerLimit.x, -3.14159265f);
    EXPECT_FLOAT_EQ(ik.ikLinks[0].upperLimit.x, -0.5f * 3.14159265f / 180.0f);
    EXPECT_EQ(ik.ikLinks[1].hasLimit, 0);

    // The base is no morph; the others move the vertices the base names.
    ASSERT_EQ(m.morphs.size(), 2u);
    EXPECT_EQ(m.morphs[0].name, u"まばたき");
    EXPECT_EQ(m.morphs[0].nameEnglish, u"blink");
    EXPECT_EQ(m.morphs[0].type, kPmxMorphVertex);
    EXPECT_EQ(m.morphs[0].panel, 2u);
    ASSERT_EQ(m.morphs[0].vertexOffsets.size(), 2u);  // entry 9 is past the base
    EXPECT_EQ(m.morphs[0].vertexOffsets[0].vertexIndex, 2);
    EXPECT_EQ(m.morphs[0].vertexOffsets[0].offset, (Float3{0, -0.5f, 0}));
    EXPECT_EQ(m.morphs[0].vertexOffsets[1].vertexIndex, 0);
    EXPECT_EQ(m.morphs[1].vertexOffsets[0].vertexIndex, 0);

    ASSERT_EQ(m.displayFrames.size(), 4u);
    EXPECT_EQ(m.displayFrames[0].name, u"Root");
    EXPECT_EQ(m.displayFrames[0].elements, (std::vector<PmxDisplayFrameElement>{{0, 0}}));
    EXPECT_EQ(m.displayFrames[1].special, 1u);
    EXPECT_EQ(m.displayFrames[1].elements, (std::vector<PmxDisplayFrameElement>{{1, 1}, {1, 0}}));
    EXPECT_EQ(m.displayFrames[2].name, u"足");
    EXPECT_EQ(m.displayFrames[2].nameEnglish, u"legs");
    EXPECT_EQ(m.displayFrames[2].elements, (std::vector<PmxDisplayFrameElement>{{0, 1}, {0, 2}}));
    EXPECT_EQ(m.displayFrames[3].elements, (std::vector<PmxDisplayFrameElement>{{0, 6}}));
    EXPECT_EQ(m.nameEnglish, u"old model");
}

TEST(PmdReaderTest, BodiesMoveIntoModelSpaceAndJointsKeepTheirValues) {
    const PmxModel m = Parse(EncodePmd(EverySection()));
    ASSERT_EQ(m.rigidBodies.size(), 2u);
    const PmxRigidBody& head = m.rigidBodies[0];
    EXPECT_EQ(head.name, u"head");
    EXPECT_EQ(head.boneIndex, 0);
    EXPECT_EQ(head.group, 2);
    EXPECT_EQ(head.noCollisionMask, 0xFFFD);
    EXPECT_EQ(head.shape, 1u);
    EXPECT_EQ(head.size, (Float3{1, 2, 3}));
    EXPECT_EQ(head.position, (Float3{0.5f, 2, 0}));  // bone 0 stands at (0, 1, 0)
    EXPECT_EQ(head.rotation, (Float3{0.1f, 0, 0}));
    EXPECT_EQ((std::array{head.mass, head.linearDamping, head.angularDamping, head.restitution,
                          head.friction}),
              (std::array{1.0f, 0.5f, 0.25f, 0.125f, 0.75f}));
    EXPECT_EQ(head.physicsMode, 2u);
    EXPECT_EQ(m.rigidBodies[1].boneIndex, -1);
    EXPECT_EQ(m.rigidBodies[1].position, (Float3{0.5f, 2, 0}));  // as if on the first bone
    ASSERT_EQ(m.joints.size(), 1u);
    EXPECT_EQ(m.joints[0].name, u"首");
    EXPECT_EQ((std::array{m.joints[0].rigidBodyA, m.joints[0].rigidBodyB}), (std::array{0, -1}));
    EXPECT_EQ(m.joints[0].position, (Float3{1, 2, 3}));
    EXPECT_EQ(m.joints[0].rotationUpper, (Float3{0.5f, 0, 0}));
    EXPECT_EQ(m.joints[0].springRotation, (Float3{8, 8, 8}));
}

TEST(PmdReaderTest, OptionalSectionsMayEndTheFileAnywhereBetweenThem) {
    PmdFile f = EverySection();
    f.english.reset();
    f.toonNames.reset();
    f.physics = false;
    const PmxModel bare = Parse(EncodePmd(f));
    EXPECT_TRUE(bare.nameEnglish.empty());
    EXPECT_TRUE(bare.rigidBodies.empty());
    EXPECT_EQ(bare.materials[0].sharedToon, 1);  // no names: every toon is shared
    EXPECT_EQ(bare.materials[0].toonIndex, 3);
    f.physics = true;  // toon names are written as the shared ones, then bodies
    const PmxModel physical = Parse(EncodePmd(f));
    EXPECT_EQ(physical.rigidBodies.size(), 2u);
    EXPECT_EQ(physical.materials[0].sharedToon, 1);
}

TEST(PmdReaderTest, HostileFilesLoadWhatTheyHoldAndNeverMore) {
    const std::vector<std::uint8_t> good = EncodePmd(EverySection());
    // Cut at every byte: a record is made only from bytes that hold it.
    for (std::size_t cut = 0; cut <= good.size(); ++cut) {
        PmxModel m;
        const std::vector<std::uint8_t> part(good.begin(), good.begin() + cut);
        ASSERT_EQ(ParsePmdModel(m, part), cut >= 3 ? S_OK : E_FAIL) << cut;
        EXPECT_LE(m.vertices.size() * 38 + m.bones.size() * 39 + m.materials.size() * 70, cut);
    }
    // All ones over every four bytes in turn hits every count of every
    // section: none may make records the bytes could not have carried.
    for (std::size_t at = 3; at + 4 <= good.size(); ++at) {
        std::vector<std::uint8_t> bytes = good;
        std::memset(bytes.data() + at, 0xFF, 4);
        PmxModel m;
        ASSERT_EQ(ParsePmdModel(m, bytes), S_OK);
        std::size_t carried =
            m.vertices.size() * kPmdVertexSize + m.indices.size() * 2 +
            m.materials.size() * kPmdMaterialSize + m.bones.size() * kPmdBoneSize +
            m.rigidBodies.size() * kPmdRigidBodySize + m.joints.size() * kPmdJointSize;
        for (const PmxMorph& morph : m.morphs) {
            carried += morph.vertexOffsets.size() * 16;
        }
        ASSERT_LE(carried, bytes.size()) << at;
    }
    Parse({'P', 'M', 'X', ' '}, E_FAIL);
    Parse({'p', 'm', 'd', 0}, E_FAIL);

    // Counts of 2^32 - 1 (and 2^16 - 1) make nothing up and reserve nothing.
    PmdFile f;
    f.vertices.resize(1);
    std::vector<std::uint8_t> bytes = EncodePmd(f);
    const std::size_t vertexCount = 3 + 4 + kPmdNameBytes + kPmdCommentBytes;
    std::memset(bytes.data() + vertexCount, 0xFF, 4);
    PmxModel m = Parse(bytes);
    EXPECT_EQ(m.vertices.size(), 1u);
    EXPECT_TRUE(m.indices.empty());  // the file ends inside the vertices
    f.vertices.clear();
    f.bones.resize(1);
    bytes = EncodePmd(f);
    const std::size_t boneCount = vertexCount + 4 + 4 + 4;
    bytes[boneCount] = bytes[boneCount + 1] = 0xFF;
    EXPECT_EQ(Parse(bytes).bones.size(), 1u);

    // Names that fill their field with no terminator, one cut inside a
    // double-byte character: the cut character is dropped.
    f = {};
    f.name = std::string(20, 'n');
    f.bones.push_back({Sjis(u"あ") + std::string(17, 'x') + "\x82", 0xFFFF, 0, 0, 0, {}});
    m = Parse(EncodePmd(f));
    EXPECT_EQ(m.name, std::u16string(20, u'n'));
    EXPECT_EQ(m.bones[0].name, u"あ" + std::u16string(17, u'x'));
}

TEST(PmdReaderTest, FilesLoadWithTheirPathsAndUnreadableOnesFail) {
    TempFile file("old.pmd", EncodePmd(EverySection()));
    PmxModel m;
    ASSERT_EQ(LoadPmdModel(m, file.path()), S_OK);
    EXPECT_EQ(m.fileName, "old.pmd");
    EXPECT_EQ(m.bones.size(), 10u);
    PmxModel missing;
    EXPECT_EQ(LoadPmdModel(missing, file.folder() / "none.pmd"), E_FAIL);
    EXPECT_EQ(LoadPmdModel(missing, ""), E_INVALIDARG);
}

}  // namespace

}  // namespace qv
