// Imports must sort files by name, fail bad files alone and land while models play.
#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "demo/pmd_writer.h"
#include "formats/text_decode.h"
#include "formats/vpd_pose.h"
#include "platform/song_decoder.h"
#include "scene/import_kind.h"
#include "scene/import_results.h"
#include "scene/scene_content.h"
#include "tests/support/content_writers.h"
#include "tests/support/song_writer.h"
#include "tests/support/temp_file.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override { content_.physics = std::make_unique<PhysicsWorld>(); }

    fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return folder_.Write(name, bytes);
    }
    fs::path WriteText(const std::string& name, const std::string& text) {
        return folder_.Write(name, text);
    }

    // Runs one batch to its end, as the frame loop would.
    std::string Import(std::vector<fs::path> files) {
        EXPECT_TRUE(worker_.Request(std::move(files)));
        EXPECT_TRUE(WaitForResults());
        CompleteImports(content_, worker_);
        EXPECT_FALSE(worker_.Busy());
        return worker_.Status();
    }
    bool WaitForResults() {
        for (int i = 0; i < 3000 && !worker_.ResultsReady(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return worker_.ResultsReady();
    }

    TempFolder folder_;
    AudioEngine audio_;
    SceneContent content_;
    ImportWorker worker_{&audio_};
};

std::vector<std::uint8_t> Wav() {
    ByteWriter w;
    w.Raw("RIFF");
    w.U32(36 + 8);
    w.Raw("WAVEfmt ");
    w.U32(16), w.U16(1), w.U16(2), w.U32(48000), w.U32(48000 * 4), w.U16(4), w.U16(16);
    w.Raw("data");
    w.U32(8), w.U32(0), w.U32(0);
    return w.bytes;
}

}  // namespace

TEST(ImportKind, ExtensionsAreMatchedExactlyInOneCaseOrTheOther) {
    EXPECT_EQ(ImportKindOf("a/model.pmx"), ImportKind::Model);
    EXPECT_EQ(ImportKindOf("a/MODEL.PMX"), ImportKind::Model);
    EXPECT_EQ(ImportKindOf("a/model.Pmx"), ImportKind::None);
    EXPECT_EQ(ImportKindOf("a/old.pmd"), ImportKind::Model);
    EXPECT_EQ(ImportKindOf("a/OLD.PMD"), ImportKind::Model);
    EXPECT_EQ(ImportKindOf("dance.tar.vmd"), ImportKind::Motion);
    EXPECT_EQ(ImportKindOf("smile.vpd"), ImportKind::Motion);  // a pose: a motion of one key
    EXPECT_EQ(ImportKindOf("SMILE.VPD"), ImportKind::Motion);
    EXPECT_EQ(ImportKindOf("song.WAV"), ImportKind::Song);
    EXPECT_EQ(ImportKindOf("toon.hlsl"), ImportKind::Shader);
    EXPECT_EQ(ImportKindOf("x/.pmx"), ImportKind::None);  // a leading dot opens no extension
    EXPECT_EQ(ImportKindOf("x/pmx"), ImportKind::None);
    EXPECT_EQ(ImportKindOf("x.pmx/"), ImportKind::None);
    EXPECT_EQ(ExtensionOf("a.b.c"), ".c");
    EXPECT_EQ(ExtensionOf(".."), "");
}

TEST(ImportKind, EveryEndingTakenSortsAndIsNamedToTheUser) {
    // The sentence's words, in order: ".pmx, .pmd, ... or .hlsl".
    std::string text = ImportEndingsText();
    ASSERT_NE(text.rfind(" or "), std::string::npos);
    text.replace(text.rfind(" or "), 4, ", ");
    std::vector<std::string> named;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(", ", at), text.size());
        named.push_back(text.substr(at, comma - at));
        at = comma + 2;
    }
    ASSERT_EQ(named.size(), ImportEndings().size());
    std::size_t i = 0;
    for (const ImportEnding& e : ImportEndings()) {
        SCOPED_TRACE(e.ending);
        EXPECT_EQ(ImportKindOf(std::string("a") + e.ending), e.kind);
        EXPECT_NE(e.kind, ImportKind::None);
        EXPECT_EQ(named[i++], e.ending);
        // The compressed songs the list takes are the ones the decoder reads.
        if (e.kind == ImportKind::Song && std::string(e.ending) != ".wav") {
            EXPECT_TRUE(IsCompressedSongExtension(e.ending));
        }
    }
}

TEST_F(ImportTest, MixedCaseFilesArePassedOverWithoutAMessage) {
    const fs::path model = Write("m.PMX", EncodePmx(SamplePmxModel()));
    VmdFile vmd;
    vmd.bones = {{"a", 0}};
    const fs::path motion = Write("d.Vmd", EncodeVmd(vmd));
    EXPECT_EQ(Import({model, motion}), "Loaded 1 resource(s).");
    ASSERT_EQ(content_.models.size(), 1u);
    ASSERT_EQ(content_.models.size(), 1u);
    EXPECT_EQ(content_.models[0].entry.name, "テストモデル");
    EXPECT_EQ(content_.models[0].entry.boneNames,
              (std::vector<std::string>{"センター", "左足", "左足ＩＫ"}));
    EXPECT_TRUE(content_.models[0].entry.physicsOn);
    EXPECT_EQ(content_.models[0].entry.yRotationBone, -1);
    EXPECT_EQ(content_.models[0].instance->bodies.size(), 2u);  // built into the shared world
    EXPECT_TRUE(content_.motions.empty());
    EXPECT_EQ(worker_.Progress(), 0.0f);
}

TEST_F(ImportTest, OneFailingModelAmongThreeFiles) {
    const fs::path good = Write("good.pmx", EncodePmx(SamplePmxModel()));
    const fs::path bad = Write("bad.pmx", {'P', 'm', 'd', 0});
    VmdFile vmd;
    vmd.morphs = {{"m", 0, 1.0f}};
    const fs::path motion = Write("dance.vmd", EncodeVmd(vmd));
    EXPECT_EQ(Import({good, bad, motion}), "Loaded 2 resource(s).\nFailed: 1\nError detail:\n" +
                                               bad.string() + "\nFailed to load PMX model!\n");
    ASSERT_EQ(content_.motions.size(), 1u);
    EXPECT_EQ(content_.motions[0].name, "dance.vmd");
    EXPECT_EQ(content_.motions.size(), content_.motions.size());
}

TEST_F(ImportTest, MissingTexturesLoadTheModelWithOneWarningEachAtMostTen) {
    PmxModel model = SamplePmxModel();
    model.nameEnglish = u"Textured";
    model.textures = {u"Tex\\gone.png", u"s.spa", u"toon.bmp", u"Tex\\gone.png"};
    model.materials.resize(1);
    model.materials[0].textureIndex = 0;
    model.materials[0].sphereTextureIndex = 1;
    model.materials[0].sphereMode = 2;
    model.materials[0].sharedToon = 0;
    model.materials[0].toonIndex = 2;
    const fs::path path = Write("tex.pmx", EncodePmx(model));
    // As the renderer does: find the textures unless the import thread did.
    content_.createModelResources = [](ModelInstance&, const PmxModel& m, ModelTextures& t) {
        if (!t.loaded) {
            t = LoadModelTextures(m);
        }
        return t.result;
    };
    const std::string lines =
        "texture not found: Tex\\gone.png\nsphere not found: s.spa\ntoon not found: toon.bmp\n";
    EXPECT_EQ(Import({path}), "Loaded 1 resource(s).\nWarnings:\n" + path.string() + "\n" + lines);
    ASSERT_EQ(content_.models.size(), 1u);
    EXPECT_EQ(content_.models[0].entry.englishName, "Textured");
    EXPECT_EQ(content_.models[0].entry.warnings,
              (std::vector<std::string>{"texture not found: Tex\\gone.png",
                                        "sphere not found: s.spa", "toon not found: toon.bmp"}));

    // Twelve missing files: ten lines, then how many more.
    model.textures.clear();
    for (int i = 0; i < 12; ++i) {
        model.textures.push_back(u"t" + ToUtf16(std::to_string(i)) + u".png");
    }
    const fs::path many = Write("many.pmx", EncodePmx(model));
    const std::string status = Import({many});
    EXPECT_NE(status.find("texture not found: t9.png\nand 2 more\n"), std::string::npos) << status;
    EXPECT_EQ(status.find("t10.png"), std::string::npos) << status;
    ASSERT_EQ(content_.models.size(), 2u);
    EXPECT_EQ(content_.models[1].entry.warnings.size(), 11u);

    // The player has the import thread decode the textures, so that the GPU
    // half only uploads; the warnings come out the same.
    ImportResults decoded;
    ImportFile(path, nullptr, decoded, true);
    ASSERT_EQ(decoded.models.size(), 1u);
    EXPECT_TRUE(decoded.models[0].textures.loaded);
    EXPECT_EQ(decoded.models[0].textures.warnings,
              (std::vector<std::string>{"texture not found: Tex\\gone.png",
                                        "sphere not found: s.spa", "toon not found: toon.bmp"}));
    ImportResults plain;
    ImportFile(path, nullptr, plain);
    EXPECT_FALSE(plain.models.at(0).textures.loaded);

    // Textures that do fail the model's GPU half are the reason given for it,
    // and the bodies the model had in the world go with it.
    const int bodies = content_.physics->world().getNumCollisionObjects();
    content_.createModelResources = [](ModelInstance&, const PmxModel&, ModelTextures& t) {
        t.result = E_OUTOFMEMORY;
        t.message = "the textures do not fit in memory";
        return t.result;
    };
    const std::string failed = Import({path});
    EXPECT_NE(failed.find("Failed to create graphic resource for this model!\n"
                          "the textures do not fit in memory\n"),
              std::string::npos)
        << failed;
    EXPECT_EQ(content_.models.size(), 2u);
    EXPECT_EQ(content_.physics->world().getNumCollisionObjects(), bodies);
}

TEST_F(ImportTest, APoseIsListedAsAMotionWithItsBadLinesAndANonPoseIsRefused) {
    const std::string first = kVpdFirstLine + "\n";
    const fs::path pose =
        WriteText("smile.vpd", first + "m.osm;\n1;\nBone0{a\n1,2;\n0,0,0,1;\n}\n");
    const fs::path notPose = WriteText("notes.VPD", "just some text\n");
    EXPECT_EQ(Import({pose, notPose}),
              "Loaded 1 resource(s).\nFailed: 1\nError detail:\n" + notPose.string() +
                  "\nFailed to load VPD pose!\nThe file cannot be read or is not a pose file.\n"
                  "Warnings:\n" +
                  pose.string() + "\nline 5: not a position x,y,z of bone \"a\": 1,2;\n");
    ASSERT_EQ(content_.motions.size(), 1u);
    EXPECT_EQ(content_.motions[0].name, "smile.vpd");
    EXPECT_EQ(content_.motions[0].motion.boneKeys.at(u"a").size(), 1u);
}

TEST_F(ImportTest, OlderModelsLoadAsModelsAndABrokenOneSaysWhichFormat) {
    PmdFile file = PmdFileOf(SamplePmxModel());
    const fs::path older = Write("old.PMD", EncodePmd(file));
    const fs::path broken = Write("broken.pmd", {'P', 'M', 'X', ' '});
    EXPECT_EQ(Import({older, broken}), "Loaded 1 resource(s).\nFailed: 1\nError detail:\n" +
                                           broken.string() + "\nFailed to load PMD model!\n");
    ASSERT_EQ(content_.models.size(), 1u);
    EXPECT_EQ(content_.models[0].instance->bones.size(), SamplePmxModel().bones.size());
}

TEST_F(ImportTest, ShaderErrorsCarryBothHeadingsAndTheCompilersText) {
    const fs::path broken = WriteText("broken.hlsl",
                                      "float4 VS() : SV_POSITION { return nope; }\n"
                                      "float4 PS() : SV_TARGET { return nada; }\n");
    const fs::path good = WriteText("tint.hlsl",
                                    "float4 VS(float3 p : POSITION) : SV_POSITION "
                                    "{ return float4(p, 1); }\n"
                                    "float4 PS() : SV_TARGET { return float4(1, 0, 0, 1); }\n");
    const std::string status = Import({broken, good});
    EXPECT_EQ(status.rfind("Loaded 1 resource(s).\nFailed: 1\nError detail:\n", 0), 0u) << status;
    const auto vs = status.find("Vertex shader compile error:\n");
    const auto ps = status.find("Pixel shader compile error:\n");
    ASSERT_NE(vs, std::string::npos) << status;
    ASSERT_NE(ps, std::string::npos) << status;
    EXPECT_LT(vs, ps);
    // Each heading is followed by the compiler's own report.
    EXPECT_NE(status.find("nope", vs), std::string::npos);
    EXPECT_NE(status.find("ERROR", ps), std::string::npos);
    ASSERT_EQ(content_.shaders.size(), 3u);
    EXPECT_FALSE(content_.shaders[2].entry.builtIn);
    EXPECT_EQ(content_.shaders[2].entry.name, "tint.hlsl");
    EXPECT_FALSE(content_.shaders[2].program.pixelCode.empty());
}

TEST_F(ImportTest, HostileFilesFailAloneAndTheNextBatchStillWorks) {
    PmxModel sample = SamplePmxModel();
    sample.name = sample.nameEnglish = sample.comment = sample.commentEnglish = u"";
    std::vector<std::uint8_t> huge = EncodePmx(sample);
    // Header (17 bytes) and four empty texts, then a vertex count of 2^32 - 1.
    for (int i = 0; i < 4; ++i)
        huge[33 + i] = 0xFF;
    std::vector<std::uint8_t> cut = EncodePmx(sample);
    cut.resize(cut.size() / 2);
    fs::create_directory(folder_.path() / "folder.pmx");
    std::vector<std::uint8_t> wav = Wav();
    wav.resize(wav.size() - 4);  // cut inside its samples
    const std::vector<fs::path> files = {
        Write("empty.pmx", {}),        Write("cut.pmx", cut),          Write("huge.pmx", huge),
        folder_.path() / "folder.pmx", folder_.path() / "missing.vmd", Write("cut.wav", wav),
        Write("notes.txt", {'x'})};
    const std::string status = Import(files);
    // The cut and huge models still load what they hold; the rest fail.
    EXPECT_EQ(status.rfind("Loaded 2 resource(s).\nFailed: 5\nError detail:\n", 0), 0u) << status;
    for (const char* expected :
         {"empty.pmx\nFailed to load PMX model!\n", "folder.pmx\nFailed to load PMX model!\n",
          "missing.vmd\nFailed to load VMD motion!\n", "cut.wav\nFailed to load WAV song!\n"}) {
        EXPECT_NE(status.find(expected), std::string::npos) << expected << " in\n" << status;
    }
    EXPECT_EQ(status.find("notes.txt"), std::string::npos);  // an unknown kind has no message

    EXPECT_EQ(Import({Write("song.wav", Wav())}), "Loaded 1 resource(s).");
    ASSERT_EQ(content_.songs.size(), 1u);
    EXPECT_EQ(content_.songs[0].name, "song.wav");
    // A batch's note shows under its own summary, not under the next one's.
    ASSERT_TRUE(worker_.Request({folder_.path() / "song.wav"}, "Not imported: notes.txt"));
    ASSERT_TRUE(WaitForResults());
    CompleteImports(content_, worker_);
    EXPECT_EQ(worker_.Status(), "Loaded 1 resource(s).\nNot imported: notes.txt");
    EXPECT_EQ(Import({folder_.path() / "song.wav"}), "Loaded 1 resource(s).");
    // Without an audio engine a song cannot be made ready to play.
    ImportResults silent;
    ImportFile(folder_.path() / "song.wav", nullptr, silent);
    ASSERT_EQ(silent.songs.size(), 1u);
    EXPECT_EQ(silent.songs[0].error, "Failed to load WAV song!\nThere is no audio engine.");
}

TEST_F(ImportTest, CompressedSongsImportBesideWavAndABrokenOneSaysWhy) {
    std::vector<fs::path> files;
    for (const SongForm& form : SongForms()) {
        files.push_back(folder_.path() / (std::string("tone") + form.ending));
        std::string error;
        ASSERT_TRUE(WriteSong(files.back(), form, TestTone(48000, 0.5), &error)) << error;
    }
    files.push_back(WriteText("broken.flac", "fLaC but nothing after it"));
    files.push_back(WriteText("mixed.Mp3", "skipped by its ending"));
    const std::string status = Import(files);
    EXPECT_EQ(status.rfind("Loaded 5 resource(s).\nFailed: 2\nError detail:\n", 0), 0u) << status;
    EXPECT_NE(status.find("broken.flac\nFailed to load song!\ncannot decode the audio: "),
              std::string::npos)
        << status;
    ASSERT_EQ(content_.songs.size(), 5u);
    EXPECT_EQ(content_.songs[0].name, "tone.mp3");
    for (const auto& song : content_.songs) {
        EXPECT_NEAR(song.sound->DurationSeconds(), 0.5, 0.020) << song.name;
    }
}

TEST_F(ImportTest, ABatchCompletesWhileModelsPlay) {
    Import({Write("first.pmx", EncodePmx(SamplePmxModel()))});
    ASSERT_EQ(content_.models.size(), 1u);
    content_.models[0].instance->playing = 1;

    std::vector<fs::path> second;
    for (int i = 0; i < 5; ++i) {
        second.push_back(Write("m" + std::to_string(i) + ".pmx", EncodePmx(SamplePmxModel())));
    }
    ASSERT_TRUE(worker_.Request(second));
    EXPECT_FALSE(worker_.Request(second));  // one batch at a time
    int frames = 0;
    while (!worker_.ResultsReady() && frames < 20000) {
        StepPhysics(*content_.physics, 1.0f / 60.0f);
        for (auto& model : content_.models)
            UpdateModel(*model.instance, 1.0f / 60.0f);
        ++frames;
    }
    ASSERT_TRUE(worker_.ResultsReady());
    EXPECT_EQ(worker_.Progress(), 1.0f);
    EXPECT_EQ(worker_.Status(), "Importing resource(s). Please wait...(5/5)");
    EXPECT_TRUE(worker_.showImportStatus.load());
    CompleteImports(content_, worker_);
    EXPECT_EQ(worker_.Status(), "Loaded 5 resource(s).");
    EXPECT_EQ(content_.models.size(), 6u);
    EXPECT_EQ(content_.models.size(), 6u);
}

}  // namespace qv
