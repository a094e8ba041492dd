// The tool windows' CPU costs: listing a folder of 100,000 files, a frame of the file browser
// showing it, and frames of the model setting window on Gene's bone and morph tabs.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "scene/scene.h"
#include "ui/file_browser.h"
#include "ui/interface_context.h"
#include "ui/main_windows.h"
#include "ui/model_setting.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

const fs::path kGene = fs::path(QV_CONTENT_DIR) / "gene";

// A folder of empty files, made once per run: a few in each imported type
// among many others, as a download folder might hold.
class BigFolder {
public:
    explicit BigFolder(int files) {
        std::string pattern = (fs::temp_directory_path() / "qv-bench-folder-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        root_ = pattern;
        const char* kinds[] = {".pmx", ".vmd", ".wav", ".txt", ".png", ".hlsl", ".zip", ".VMD"};
        for (int i = 0; i < files; ++i) {
            std::ofstream(root_ / ("file" + std::to_string(i * 7919 % files) + kinds[i % 8]));
        }
        for (int i = 0; i < 100; ++i) {
            fs::create_directory(root_ / ("folder" + std::to_string(i)));
        }
    }
    ~BigFolder() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

BigFolder& HundredThousandFiles() {
    static BigFolder folder(100000);
    return folder;
}

// One frame of the tool windows as the interface stage runs it, minus the
// GPU recording: new frame, the windows, the draw lists.
void InterfaceFrame(InterfaceView& view) {
    ImGui::NewFrame();
    DrawInterface(view);
    ImGui::Render();
}

// The process's one Dear ImGui context, with the built-in font.
void Context() {
    static InterfaceContext context;
    static bool ready = false;
    if (ready) {
        return;
    }
    context.UseBuiltInFont();
    unsigned char* pixels = nullptr;
    int w = 0, h = 0;
    ImGui::GetIO().Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    ImGui::GetIO().DisplaySize = ImVec2(1280.0f, 720.0f);
    ImGui::GetIO().DeltaTime = 1.0f / 60.0f;
    ready = true;
}

void BM_ListHundredThousandFiles(benchmark::State& state) {
    const fs::path& root = HundredThousandFiles().root();
    FileBrowser browser(root, {"/"});
    browser.SetExtensionFilters({".pmx", ".vmd", ".wav", ".hlsl"});
    for (auto _ : state) {
        benchmark::DoNotOptimize(browser.RefreshListing());
    }
    state.counters["entries"] = static_cast<double>(browser.entries.size());
    state.counters["shown"] = static_cast<double>(browser.visible.size());
}

// Choosing another type in the filter combo: the shown rows are found again.
void BM_FilterHundredThousandFiles(benchmark::State& state) {
    FileBrowser browser(HundredThousandFiles().root(), {"/"});
    browser.SetExtensionFilters({".pmx", ".vmd", ".wav", ".hlsl"});
    std::uint32_t filter = 0;
    for (auto _ : state) {
        filter = (filter + 1) % static_cast<std::uint32_t>(browser.filters.size());
        browser.SetFilterIndex(filter);
    }
}

void BM_BrowserFrameOverHundredThousandFiles(benchmark::State& state) {
    Context();
    Scene scene;
    UiState ui;
    FileBrowser browser(HundredThousandFiles().root(), {"/"});
    browser.SetExtensionFilters({".pmx", ".vmd", ".wav", ".hlsl"});
    InterfaceView view{scene, ui, {}, {}};
    view.fileBrowser = &browser;
    browser.Open();
    for (int i = 0; i < 3; ++i) {
        InterfaceFrame(view);
    }
    for (auto _ : state) {
        // Scrolling the list, so that every frame draws other rows.
        ImGui::GetIO().MouseWheel = -1.0f;
        ImGui::GetIO().MousePos = ImVec2(640.0f, 360.0f);
        InterfaceFrame(view);
    }
    state.counters["shown"] = static_cast<double>(browser.visible.size());
}

// Gene bound to the model setting window with one tab chosen.
void ModelSettingFrames(benchmark::State& state, std::int32_t tab) {
    if (!fs::exists(kGene / "Gene_light.pmx")) {
        state.SkipWithError("Gene content not found");
        return;
    }
    Context();
    Scene scene;
    UiState ui;
    ModelSettingState modelSetting;
    scene.importer.Request({kGene / "Gene_light.pmx"});
    while (!scene.importer.ResultsReady()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    UpdateScene(scene, ui, modelSetting, 0.0f);
    InterfaceView view{scene, ui, {}, {}};
    view.modelSetting = &modelSetting;
    OpenModelSetting(view, 0);
    ui.showModelSetting = true;
    modelSetting.tabRequest = tab;
    InterfaceFrame(view);
    ImGui::SetWindowSize("Model setting", ImVec2(600.0f, 700.0f));
    InterfaceFrame(view);
    for (auto _ : state) {
        InterfaceFrame(view);
    }
    state.counters["bones"] = static_cast<double>(modelSetting.boneNames.size());
    state.counters["morphs"] = static_cast<double>(modelSetting.morphControls.size());
}

void BM_ModelSettingBoneTabFrame(benchmark::State& state) {
    ModelSettingFrames(state, kModelSettingBone);
}

void BM_ModelSettingMorphTabFrame(benchmark::State& state) {
    ModelSettingFrames(state, kModelSettingMorph);
}

}  // namespace

BENCHMARK(BM_ListHundredThousandFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterHundredThousandFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrowserFrameOverHundredThousandFiles)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModelSettingBoneTabFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModelSettingMorphTabFrame)->Unit(benchmark::kMicrosecond);

}  // namespace qv
