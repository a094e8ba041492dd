// Random users through Dear ImGui's IO: windows opened and closed, clicks on the widgets they show,
// drags, wheel turns, keys and text, and imports finishing at random frames, seed by seed.
#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <random>
#include <set>

#include "scene/scene.h"
#include "tests/support/scene_models.h"
#include "tests/support/temp_file.h"
#include "tests/ui/interface_driver.h"
#include "ui/file_browser.h"
#include "ui/main_windows.h"
#include "ui/model_setting.h"

namespace qv {

namespace {

constexpr bool UiState::*kWindowFlags[] = {
    &UiState::showNavigator,  &UiState::showResourceManager, &UiState::showModelSetting,
    &UiState::showStatistics, &UiState::showGraphicSetting,  &UiState::showPhysicsSetting,
    &UiState::showAbout,      &UiState::showImportStatus,
};

// The keys a user reaches for; Dear ImGui's own key numbers double as the
// driver's key codes.
constexpr ImGuiKey_ kKeys[] = {
    ImGuiKey_Tab,       ImGuiKey_LeftArrow, ImGuiKey_RightArrow, ImGuiKey_UpArrow,
    ImGuiKey_DownArrow, ImGuiKey_PageUp,    ImGuiKey_Home,       ImGuiKey_End,
    ImGuiKey_Delete,    ImGuiKey_Backspace, ImGuiKey_Space,      ImGuiKey_Enter,
    ImGuiKey_Escape,    ImGuiKey_A,         ImGuiKey_C,          ImGuiKey_V,
};

// The last events of the running seed, printed when it fails or aborts so
// that the run can be read back.
std::deque<std::string> gRecentEvents;
unsigned gRunningSeed = 0;

void PrintRecentEvents() {
    std::fprintf(stderr, "seed %u, last %zu events:\n", gRunningSeed, gRecentEvents.size());
    for (const std::string& event : gRecentEvents) {
        std::fprintf(stderr, "  %s\n", event.c_str());
    }
}

extern "C" void PrintEventsOnAbort(int) {
    PrintRecentEvents();
    std::signal(SIGABRT, SIG_DFL);
}

// The player's windows over a scene with two models, a motion and a song,
// and a browser over a folder of files to import (some that load, some that
// fail), driven by one seed.
class RandomUser : protected InterfaceScene {
public:
    explicit RandomUser(unsigned seed)
        : rng_(seed), browser_(folder_.path(), {"/", folder_.path()}) {
        for (const char* name : {"first", "second"}) {
            EXPECT_EQ(AddSceneModel(scene_, name), S_OK);
        }
        scene_.motions.push_back({{}, "dance.vmd"});
        scene_.songs.push_back(
            {std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(4800)), "song.wav"});
        files_ = {folder_.Write("model.pmx", EncodePmx(SamplePmxModel())),
                  folder_.Write("walk.vmd", EncodeVmd({})),
                  folder_.Write("song.wav", SilentWav(4800)),
                  folder_.Write("broken.pmx", "not a model"),
                  folder_.Write("effect.hlsl", "not a shader"),
                  folder_.Write("notes.txt", "x")};
        folder_.Write("sub/inner.vmd", EncodeVmd({}));
        browser_.SetExtensionFilters({".pmx", ".vmd", ".wav", ".hlsl"});
        view_.fileBrowser = &browser_;
        view_.modelSetting = &modelSetting_;
        view_.actions.openFileBrowser = [this] { browser_.Open(); };
        view_.actions.openModelSetting = [this](std::int32_t row) {
            OpenModelSetting(view_, row);
            ui_.showModelSetting = true;
        };
        // Only the navigator at first, so that windows first appear at random
        // moments, the browser's opening among them.
        ui_.showStatistics = false;
    }

    ~RandomUser() {
        // The last batch ends before the scene goes.
        while (scene_.importer.Busy()) {
            Update();
        }
    }

    // One random event, then the frames it takes.
    void Step() {
        const int pick = Uniform(0, 99);
        if (pick < 30) {
            Hover();
        } else if (pick < 55) {
            Click();
        } else if (pick < 62) {
            Drag();
        } else if (pick < 67) {
            Wheel();
        } else if (pick < 80) {
            Key();
        } else if (pick < 84) {
            Type();
        } else if (pick < 90) {
            ToggleWindow();
        } else if (pick < 93) {
            Note("import window");
            OpenImport(view_);
            MaybeUpdate();
        } else if (pick < 96) {
            Drop();
        } else if (pick < 98) {
            Note("bind model setting");
            view_.actions.openModelSetting(Uniform(-1, static_cast<int>(scene_.models.size())));
            MaybeUpdate();
        } else {
            const float w = static_cast<float>(Uniform(320, 1920));
            const float h = static_cast<float>(Uniform(200, 1080));
            Note("resize " + std::to_string(w) + "x" + std::to_string(h));
            driver_.SetDisplaySize(w, h);
        }
    }

    int frames() const { return frames_; }
    // Every widget the pointer rested on, by id: ids are hashes of labels,
    // so they compare across seeds.
    void AddWidgetsSeen(std::set<ImGuiID>& seen) const {
        for (const auto& [id, at] : widgets_) {
            seen.insert(id);
        }
    }

    void CheckInvariants() const {
        for (std::uint32_t index : browser_.visible) {
            ASSERT_LT(index, browser_.entries.size());
        }
        if (modelSetting_.model != nullptr) {
            EXPECT_NE(BoundModelRow(view_), nullptr);
        }
    }

private:
    int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

    void Note(std::string event) {
        gRecentEvents.push_back("frame " + std::to_string(frames_) + ": " + std::move(event));
        if (gRecentEvents.size() > 50) {
            gRecentEvents.pop_front();
        }
    }

    // The scene update runs on most frames, as the player's does between its
    // interface frames; a batch the import thread finished is completed then.
    void Update() {
        if (Uniform(0, 9) < 8) {
            SceneUpdate();
        }
        driver_.Frame();
        ++frames_;
        // What the pointer rests on is a widget to click later.
        if (const ImGuiID hovered = ImGui::GetCurrentContext()->HoveredId; hovered != 0) {
            widgets_[hovered] = driver_.Io().MousePos;
        }
    }

    // Changes that do not go through the IO may pile up before one frame,
    // as when an import ends in the frame a window opens.
    void MaybeUpdate() {
        if (Uniform(0, 1) == 0) {
            Update();
        }
    }

    // A point inside a shown window, or anywhere now and then.
    ImVec2 Somewhere() {
        std::vector<const ImGuiWindow*> shown;
        for (const ImGuiWindow* window : ImGui::GetCurrentContext()->Windows) {
            if (window->WasActive && !window->Hidden &&
                (window->Flags & ImGuiWindowFlags_ChildWindow) == 0) {
                shown.push_back(window);
            }
        }
        const ImVec2 display = driver_.Io().DisplaySize;
        // The front window half the time: the open browser, say, which
        // takes every click while it is open.
        if (!shown.empty() && Uniform(0, 1) == 0) {
            shown.erase(shown.begin(), shown.end() - 1);
        }
        if (shown.empty() || Uniform(0, 9) == 0) {
            return ImVec2(static_cast<float>(Uniform(0, static_cast<int>(display.x))),
                          static_cast<float>(Uniform(0, static_cast<int>(display.y))));
        }
        const ImGuiWindow* w = shown[static_cast<std::size_t>(Uniform(0, int(shown.size()) - 1))];
        return ImVec2(w->Pos.x + static_cast<float>(Uniform(0, std::max(1, int(w->Size.x)))),
                      w->Pos.y + static_cast<float>(Uniform(0, std::max(1, int(w->Size.y)))));
    }

    // Mostly a widget seen before, else a point in some window.
    ImVec2 Target() {
        if (!widgets_.empty() && Uniform(0, 2) != 0) {
            auto it = widgets_.begin();
            std::advance(it, Uniform(0, static_cast<int>(widgets_.size()) - 1));
            return it->second;
        }
        return Somewhere();
    }

    void Hover() {
        driver_.Io().MousePos = Somewhere();
        Note("hover " + Where());
        Update();
    }

    std::string Where() const {
        const ImVec2 at = ImGui::GetIO().MousePos;
        return std::to_string(int(at.x)) + "," + std::to_string(int(at.y));
    }

    // Left most often; a double click is two in quick succession. The button
    // is held for a frame or a few, as a hand holds it.
    void Click() {
        ImGuiIO& io = driver_.Io();
        const int button = Uniform(0, 9) < 7 ? 0 : Uniform(1, 2);
        const int times = Uniform(0, 5) == 0 ? 2 : 1;
        io.MousePos = Target();
        Note("click " + std::to_string(button) + " x" + std::to_string(times) + " at " + Where());
        Update();
        for (int i = 0; i < times; ++i) {
            io.MouseDown[button] = true;
            for (int held = Uniform(1, 3); held > 0; --held) {
                Update();
            }
            io.MouseDown[button] = false;
            Update();
        }
    }

    void Drag() {
        ImGuiIO& io = driver_.Io();
        const int button = Uniform(0, 3) == 0 ? 1 : 0;
        io.MousePos = Target();
        Note("drag " + std::to_string(button) + " from " + Where());
        Update();
        io.MouseDown[button] = true;
        for (int step = Uniform(2, 8); step > 0; --step) {
            io.MousePos.x += static_cast<float>(Uniform(-60, 60));
            io.MousePos.y += static_cast<float>(Uniform(-60, 60));
            Update();
        }
        io.MouseDown[button] = false;
        Update();
    }

    void Wheel() {
        ImGuiIO& io = driver_.Io();
        io.MousePos = Target();
        io.MouseWheel = static_cast<float>(Uniform(0, 1) * 2 - 1);
        Note("wheel " + std::to_string(int(io.MouseWheel)) + " at " + Where());
        Update();
    }

    void Key() {
        ImGuiIO& io = driver_.Io();
        const int key = kKeys[Uniform(0, static_cast<int>(std::size(kKeys)) - 1)];
        io.KeyCtrl = Uniform(0, 3) == 0;
        io.KeyShift = Uniform(0, 5) == 0;
        Note("key " + std::to_string(key) + (io.KeyCtrl ? " ctrl" : "") +
             (io.KeyShift ? " shift" : ""));
        io.KeysDown[io.KeyMap[key]] = true;
        Update();
        io.KeysDown[io.KeyMap[key]] = false;
        io.KeyCtrl = false;
        io.KeyShift = false;
        Update();
    }

    void Type() {
        static constexpr std::array<ImWchar, 8> kChars{'a', 'Z', '0', '9', '-', '.', 0x3042, ' '};
        const ImWchar c = kChars[static_cast<std::size_t>(Uniform(0, int(kChars.size()) - 1))];
        Note("type " + std::to_string(c));
        driver_.Io().AddInputCharacter(c);
        Update();
    }

    void ToggleWindow() {
        const int which = Uniform(0, static_cast<int>(std::size(kWindowFlags)) - 1);
        bool& shown = ui_.*kWindowFlags[which];
        shown = !shown;
        Note(std::string(shown ? "open" : "close") + " window " + std::to_string(which));
        MaybeUpdate();
    }

    // What a drop on the window does: a batch straight to the importer,
    // waiting while another runs.
    void Drop() {
        std::vector<std::filesystem::path> batch;
        for (const std::filesystem::path& file : files_) {
            if (Uniform(0, 2) == 0) {
                batch.push_back(file);
            }
        }
        Note("drop " + std::to_string(batch.size()) + " files" +
             (scene_.importer.Busy() ? " (import running)" : ""));
        scene_.importer.Request(std::move(batch));
        MaybeUpdate();
    }

    std::mt19937 rng_;
    const TempFolder folder_;
    std::vector<std::filesystem::path> files_;
    FileBrowser browser_;
    std::map<ImGuiID, ImVec2> widgets_;
    int frames_ = 0;
};

TEST(RandomUserTest, NoSequenceOfInputEndsTheInterface) {
    std::signal(SIGABRT, PrintEventsOnAbort);
    constexpr int kFramesPerSeed = 2000;
    // Longer campaigns: QV_RANDOM_USER_SEEDS seeds from QV_RANDOM_USER_FIRST.
    const char* count = std::getenv("QV_RANDOM_USER_SEEDS");
    const char* first = std::getenv("QV_RANDOM_USER_FIRST");
    const unsigned from = first != nullptr ? static_cast<unsigned>(std::atoi(first)) : 1u;
    const unsigned seeds = count != nullptr ? static_cast<unsigned>(std::atoi(count)) : 5u;
    std::set<ImGuiID> widgetsSeen;
    for (unsigned seed = from; seed < from + seeds; ++seed) {
        gRunningSeed = seed;
        gRecentEvents.clear();
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomUser user(seed);
        while (user.frames() < kFramesPerSeed && !::testing::Test::HasFatalFailure()) {
            user.Step();
            user.CheckInvariants();
        }
        user.AddWidgetsSeen(widgetsSeen);
        if (::testing::Test::HasFailure()) {
            PrintRecentEvents();
            break;
        }
    }
    std::signal(SIGABRT, SIG_DFL);
    // The windows were really reached, not only the empty background.
    EXPECT_GT(widgetsSeen.size(), 60u);
    std::printf("%u seeds of %d frames, %zu widgets reached\n", seeds, kFramesPerSeed,
                widgetsSeen.size());
}

}  // namespace

}  // namespace qv
