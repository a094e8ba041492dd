// The readers against real files made by other people.
#include <gtest/gtest.h>

#include <algorithm>

#include "formats/pmx_model.h"
#include "formats/rgba_image.h"
#include "formats/text_decode.h"
#include "formats/vmd_motion.h"
#include "platform/file_read.h"
#include "tests/support/content_path.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

std::vector<std::filesystem::path> FilesWithExtension(const std::string& ext) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(ContentDir())) {
        std::string e = entry.path().extension().string();
        std::transform(e.begin(), e.end(), e.begin(), ::tolower);
        if (entry.is_regular_file() && e == ext)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(ContentFiles, GeneModelHasItsPublishedShape) {
    QV_REQUIRE_CONTENT();
    PmxModel m;
    ASSERT_EQ(LoadPmxModel(m, ContentDir() / "gene" / "Gene_light.pmx"), S_OK);
    EXPECT_FLOAT_EQ(m.version, 2.0f);
    EXPECT_EQ(m.textEncoding, 0u);
    EXPECT_EQ(m.vertices.size(), 28646u);
    EXPECT_EQ(m.bones.size(), 224u);
    EXPECT_EQ(m.morphs.size(), 184u);
    EXPECT_EQ(m.rigidBodies.size(), 87u);
    EXPECT_EQ(m.joints.size(), 92u);
    EXPECT_EQ(m.indices.size() % 3, 0u);
    EXPECT_EQ(m.folder, (ContentDir() / "gene").string() + "/");

    // Every index lands inside its list, and the materials draw exactly the faces.
    std::uint64_t drawn = 0;
    for (const PmxMaterial& mat : m.materials)
        drawn += mat.indexCount;
    EXPECT_EQ(drawn, m.indices.size());
    for (std::uint32_t i : m.indices)
        ASSERT_LT(i, m.vertices.size());
    std::set<std::uint32_t> deforms;
    for (const PmxVertex& v : m.vertices) {
        deforms.insert(v.weight.deformType);
        for (int k = 0; k < 4; ++k)
            ASSERT_LT(v.weight.boneIndex[k], 224);
    }
    EXPECT_TRUE(deforms.count(kPmxDeformBdef1) && deforms.count(kPmxDeformBdef2) &&
                deforms.count(kPmxDeformBdef4));
    std::size_t ik = 0;
    for (const PmxBone& b : m.bones) {
        EXPECT_LT(b.parentIndex, 224);
        if (b.flags & kPmxBoneIk) {
            ++ik;
            EXPECT_GE(b.ikTargetIndex, 0);
            EXPECT_FALSE(b.ikLinks.empty());
        }
    }
    EXPECT_GE(ik, 2u);  // at least both legs
    for (const PmxJoint& j : m.joints) {
        EXPECT_LT(j.rigidBodyA, 87);
        EXPECT_LT(j.rigidBodyB, 87);
    }
    // Names are real text: the center bone a motion drives by name is there.
    EXPECT_TRUE(std::any_of(m.bones.begin(), m.bones.end(),
                            [](const PmxBone& b) { return b.name == u"センター"; }));
}

TEST(ContentFiles, EveryModelLoadsAndSurvivesARoundTrip) {
    QV_REQUIRE_CONTENT();
    const auto files = FilesWithExtension(".pmx");
    ASSERT_GE(files.size(), 2u);
    for (const auto& file : files) {
        PmxModel m;
        ASSERT_EQ(LoadPmxModel(m, file), S_OK) << file;
        EXPECT_FALSE(m.vertices.empty()) << file;
        // Our writer and reader agree on the real content, record for record.
        PmxModel again;
        ASSERT_EQ(ParsePmxModel(again, EncodePmx(m)), S_OK);
        again.filePath = m.filePath, again.fileName = m.fileName, again.folder = m.folder;
        EXPECT_TRUE(again == m) << file;
    }
}

TEST(ContentFiles, EveryMotionLoadsWithNamesOfTheModel) {
    QV_REQUIRE_CONTENT();
    PmxModel gene;
    ASSERT_EQ(LoadPmxModel(gene, ContentDir() / "gene" / "Gene_light.pmx"), S_OK);
    std::set<std::u16string> boneNames, morphNames;
    for (const PmxBone& b : gene.bones)
        boneNames.insert(b.name);
    for (const PmxMorph& m : gene.morphs)
        morphNames.insert(m.name);

    const auto files = FilesWithExtension(".vmd");
    ASSERT_GE(files.size(), 21u);
    for (const auto& file : files) {
        VmdMotion motion;
        ASSERT_EQ(LoadVmdMotion(motion, file), S_OK) << file;
        if (file.parent_path().filename() != "motion")
            continue;
        ASSERT_FALSE(motion.boneKeys.empty() && motion.morphKeys.empty()) << file;
        // Shift-JIS names decode to the very names the model uses.
        std::size_t known = 0;
        for (const auto& [name, keys] : motion.boneKeys) {
            known += boneNames.count(name);
            for (const VmdBoneKey& k : keys) {
                ASSERT_EQ(k.boneName, name);
                const float len = k.rotation.x * k.rotation.x + k.rotation.y * k.rotation.y +
                                  k.rotation.z * k.rotation.z + k.rotation.w * k.rotation.w;
                EXPECT_NEAR(len, 1.0f, 1e-3f) << ToUtf8(name) << " in " << file;
            }
        }
        EXPECT_GE(known * 10, motion.boneKeys.size() * 9) << file;
        // VMD names hold 15 bytes: a longer morph name arrives cut, as a
        // prefix. The light model lacks a few morphs the motions key.
        std::size_t knownMorphs = 0;
        for (const auto& [name, keys] : motion.morphKeys) {
            knownMorphs +=
                std::any_of(morphNames.begin(), morphNames.end(), [&](const std::u16string& full) {
                    return full == name || (name.size() == 15 && full.starts_with(name));
                });
        }
        EXPECT_GE(knownMorphs * 3, motion.morphKeys.size() * 2) << file;
    }
}

TEST(ImageFile, EveryTextureOfTheContentDecodes) {
    QV_REQUIRE_CONTENT();
    std::size_t decoded = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(ContentDir())) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".png" && ext != ".sph" && ext != ".spa" && ext != ".bmp")
            continue;
        std::vector<std::uint8_t> bytes;
        ASSERT_EQ(ReadWholeFile(entry.path(), bytes), S_OK);
        RgbaImage image;
        const Result result = DecodeImage(bytes, image);
        EXPECT_TRUE(result.ok()) << entry.path() << ": " << result.message;
        EXPECT_EQ(image.pixels.size(), std::size_t{image.width} * image.height * 4);
        ++decoded;
    }
    EXPECT_GE(decoded, 15u);
}

}  // namespace qv
