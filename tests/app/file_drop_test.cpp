// Files dropped on the window: one drop, one batch; refusals named; a drop during an import waits.
#include <gtest/gtest.h>

#include <thread>

#include "app/file_drop.h"
#include "app/input_hook.h"
#include "scene/import_worker.h"
#include "scene/scene_content.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

class FileDropTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder_ / "models");
        for (const char* name : {"a.pmx", "b.vmd", "notes.txt", "song.WAV"}) {
            temp_.Write(name, "x");
        }
    }

    void WaitAndComplete(ImportWorker& worker) {
        SceneContent content;
        while (!worker.ResultsReady()) {
            std::this_thread::yield();
        }
        CompleteImports(content, worker);
    }

    const TempFolder temp_;
    const std::filesystem::path& folder_ = temp_.path();
};

SDL_Event DropEvent(std::uint32_t type, char* file = nullptr) {
    SDL_Event e{};
    e.type = type;
    e.drop.file = file;
    return e;
}

TEST_F(FileDropTest, OneDropIsOneBatchAndWhatCannotBeImportedIsNamed) {
    FileDrop drop;
    std::vector<std::string> paths;
    for (const char* name : {"a.pmx", "models", "notes.txt", "b.vmd", "song.WAV"}) {
        paths.push_back((folder_ / name).string());
    }
    EXPECT_TRUE(HandleDropEvent(DropEvent(SDL_DROPBEGIN), drop));
    for (std::string& path : paths) {
        EXPECT_TRUE(HandleDropEvent(DropEvent(SDL_DROPFILE, path.data()), drop));
    }
    EXPECT_EQ(drop.WaitingBatches(), 0u);  // not before the drop ends
    EXPECT_TRUE(HandleDropEvent(DropEvent(SDL_DROPCOMPLETE), drop));
    EXPECT_FALSE(HandleDropEvent(DropEvent(SDL_MOUSEMOTION), drop));
    ASSERT_EQ(drop.WaitingBatches(), 1u);

    ImportWorker worker;
    drop.HandOver(worker);
    EXPECT_EQ(drop.WaitingBatches(), 0u);
    EXPECT_EQ(worker.QueueSize(), 3u);  // the model, the motion and the song
    WaitAndComplete(worker);
    const std::string status = worker.Status();
    EXPECT_NE(status.find("Failed to load PMX model!"), std::string::npos) << status;
    EXPECT_NE(status.find("Not imported: " + (folder_ / "models").string() + " (a folder"),
              std::string::npos)
        << status;
    EXPECT_NE(
        status.find(
            "notes.txt (not a .pmx, .pmd, .x, .vmd, .vpd, .wav, .mp3, .m4a, .aac, .ogg, .oga, "
            ".opus, .flac or .hlsl file)"),
        std::string::npos)
        << status;
}

TEST_F(FileDropTest, ADropDuringAnImportWaitsForItAndADropOfNothingUsableSaysSo) {
    ImportWorker worker;
    ASSERT_TRUE(worker.Request({folder_ / "a.pmx"}));
    FileDrop drop;
    drop.Begin();
    drop.Add(folder_ / "b.vmd");
    drop.Complete();
    drop.Begin();
    drop.Add(folder_ / "notes.txt");
    drop.Complete();
    drop.HandOver(worker);
    EXPECT_EQ(drop.WaitingBatches(), 2u);  // nothing lost while busy
    WaitAndComplete(worker);
    drop.HandOver(worker);
    EXPECT_EQ(drop.WaitingBatches(), 1u);
    EXPECT_EQ(worker.QueueSize(), 1u);
    WaitAndComplete(worker);
    worker.showImportStatus.store(false);
    drop.HandOver(worker);
    EXPECT_EQ(drop.WaitingBatches(), 0u);
    EXPECT_TRUE(worker.showImportStatus.load());
    EXPECT_NE(worker.Status().find("notes.txt (not a .pmx"), std::string::npos) << worker.Status();
}

TEST_F(FileDropTest, AHugeDropIsOneBatchWithAShortRefusalList) {
    FileDrop drop;
    drop.Begin();
    for (int i = 0; i < 500; ++i) {
        drop.Add(folder_ / ("m" + std::to_string(i) + (i % 2 == 0 ? ".vmd" : ".txt")));
    }
    drop.Complete();
    ImportWorker worker;
    drop.HandOver(worker);
    EXPECT_EQ(worker.QueueSize(), 250u);
    WaitAndComplete(worker);
    const std::string status = worker.Status();
    EXPECT_NE(status.find("... and 240 more not imported"), std::string::npos) << status;
    EXPECT_LT(status.size(), 30000u);
}

}  // namespace

}  // namespace qv
