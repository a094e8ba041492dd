// The windows that only inform read back as drawn: the About text and the statistics overlay's
// figures, with the GPU pass lines in columns beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/version.h"
#include "tests/support/temp_file.h"
#include "tests/ui/interface_driver.h"

namespace qv {

namespace {

class InfoWindowsTest : public InterfaceSceneTest {
protected:
    InfoWindowsTest() { ui_.showNavigator = false; }

    // Each pass as "GPU <name>: <ms> ms", in order, spaces dropped as drawn.
    static std::string PassLines(int count) {
        std::string lines;
        for (int i = 0; i < count; ++i) {
            lines += "GPU" + std::string(kPasses[i]) + ":" + std::to_string(i) + ".250ms";
        }
        return lines;
    }

    void TimePasses(int count) {
        for (int i = 0; i < count; ++i) {
            view_.facts.gpuPasses[static_cast<std::size_t>(i)] = {kPasses[i], i + 0.25f};
        }
        view_.facts.gpuPassCount = static_cast<std::uint32_t>(count);
    }

    float StatisticsHeight() const { return driver_.Window("Statistics")->Size.y; }

    static constexpr const char* kPasses[] = {"skinning", "shadow", "main",     "edges",
                                              "ground",   "post",   "interface"};
};

// While a batch runs, the status window shows how far it got.
TEST_F(InfoWindowsTest, AnImportUnderWayShowsItsProgress) {
    // A batch long enough to be seen between its files: one large motion, twenty times.
    VmdFile file;
    for (std::uint32_t frame = 0; frame < 50000; ++frame) {
        file.bones.emplace_back("bone", frame);
    }
    TempFolder folder;
    const std::vector<std::filesystem::path> batch(20, folder.Write("big.vmd", EncodeVmd(file)));
    ASSERT_TRUE(scene_.importer.Request(batch));
    ui_.showImportStatus = true;
    bool progressShown = false;
    while (!scene_.importer.ResultsReady()) {
        driver_.Frame();
        const std::string text = driver_.DrawnText("Import resource status");
        progressShown = progressShown || text.find('%') != std::string::npos;
    }
    EXPECT_TRUE(progressShown);
    SceneUpdate();
    EXPECT_EQ(scene_.motions.size(), 20u);
    driver_.Frames(2);
    EXPECT_EQ(driver_.DrawnText("Import resource status").find('%'), std::string::npos);
}

TEST_F(InfoWindowsTest, AboutNamesTheProgramItsLibrariesAndItsVersion) {
    ui_.showStatistics = false;
    ui_.showAbout = true;
    driver_.Frames(2);
    const std::string expected =
        std::string("AboutQVENGINEPROJECT:") +
        "QVEngineisarealtime3Drenderengine.Assetsarenotpartofthisprogram." +
        "PMXmodelandVMDmotionaresupportedatthemoment.Moremodelandmotionformatwillbe" +
        "supportedinthefuture." + "MadebytheQVdevelopers" + "LIBRARIES&API:" + "3D:Vulkan1.3" +
        "Physics:Bullet" + "UI:DearImGui" + IMGUI_VERSION + "Window,inputandaudio:SDL2" +
        "Filebrowser:writtenforQVbytheQVdevelopers" + "Versioninfo:QVEdevelopmentversion" +
        kVersionMajor + "build" + kVersionBuild + "PoweredbyQVFramework(c)2024-2026theQVdevelopers";
    EXPECT_EQ(driver_.DrawnText("About"), expected);
}

// The pass lines stand in columns as tall as the figures beside them, so
// the overlay never grows down over the Navigator.
TEST_F(InfoWindowsTest, StatisticsShowEveryPassInColumnsNoTallerThanTheFigures) {
    view_.facts.framesPerSecond = 59.94f;
    view_.facts.meanMilliseconds = 16.683f;
    driver_.Frames(2);
    const float figuresHeight = StatisticsHeight();
    const std::string figures = std::string("QVEngineDevelopmentVersion") + kVersionMajor +
                                "build" + kVersionBuild + "FPS:59.94(16.683ms)";
    EXPECT_EQ(driver_.DrawnText("Statistics"), figures);
    // In the corner, where the Navigator leaves room for it, and with no
    // pass timed no wider than its own lines.
    const ImGuiWindow* overlay = driver_.Window("Statistics");
    EXPECT_EQ(overlay->Pos.x, 10.0f);
    EXPECT_EQ(overlay->Pos.y, 10.0f);
    float widest = 0.0f;
    for (const std::string& line :
         {std::string("QV Engine Development"),
          std::string("Version ") + kVersionMajor + " build " + kVersionBuild,
          std::string("FPS: 59.94 (16.683 ms)")}) {
        widest = std::max(widest, ImGui::CalcTextSize(line.c_str()).x);
    }
    EXPECT_NEAR(overlay->Size.x, widest + 2.0f * ImGui::GetStyle().WindowPadding.x, 1.0f);

    for (const int count : {1, 3, 4, 7}) {
        TimePasses(count);
        driver_.Frames(2);
        EXPECT_EQ(driver_.DrawnText("Statistics"), figures + PassLines(count)) << count;
        EXPECT_EQ(StatisticsHeight(), figuresHeight) << count;
        if (count == 3) {
            // Three passes fill one column beside the three rows of figures.
            float widestPass = 0.0f;
            for (const char* line :
                 {"GPU skinning: 0.250 ms", "GPU shadow: 1.250 ms", "GPU main: 2.250 ms"}) {
                widestPass = std::max(widestPass, ImGui::CalcTextSize(line).x);
            }
            const ImGuiStyle& style = ImGui::GetStyle();
            EXPECT_NEAR(
                driver_.Window("Statistics")->Size.x,
                widest + 2.0f * style.ItemSpacing.x + widestPass + 2.0f * style.WindowPadding.x,
                1.0f);
        }
    }
    const float threeColumns = driver_.Window("Statistics")->Size.x;

    // Where ray tracing can run, its state is a fourth row: seven passes
    // then fill two columns of four rows.
    view_.facts.rayTracingSupported = true;
    driver_.Frames(2);
    const std::string withRows = driver_.DrawnText("Statistics");
    EXPECT_NE(withRows.find("RTXOFFFPS:"), std::string::npos) << withRows;
    scene_.render.rayTracing = true;
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText("Statistics").find("RTXONFPS:"), std::string::npos);
    EXPECT_LT(driver_.Window("Statistics")->Size.x, threeColumns);
    EXPECT_GT(StatisticsHeight(), figuresHeight);
    const float fourRows = StatisticsHeight();
    TimePasses(0);
    driver_.Frames(2);
    EXPECT_EQ(StatisticsHeight(), fourRows);
}

}  // namespace

}  // namespace qv
