// The playback bar: a titleless strip along the bottom that shows and moves the play position.
#include "ui/playback_bar.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "scene/playback_clock.h"
#include "scene/playback_keys.h"
#include "scene/scene.h"
#include "ui/widgets.h"

namespace qv {

namespace {

void DrawControls(InterfaceView& view) {
    DrawPlayButton(view, "###BarPlay");
    ImGui::SameLine();
    if (ImGui::Button("Stop")) {
        view.ui.requests.push_back({RequestKind::StopAndReset});
    }
    ImGui::SameLine();
    // The switch before the slider: the import status window, where it
    // opens, covers the bar's right end.
    bool loop = PendingLoop(view.scene, view.ui);
    if (ImGui::Checkbox("Loop", &loop)) {
        view.ui.requests.push_back({RequestKind::SwitchLoop, -1, loop});
    }
    ImGui::SameLine();
    const double length = PlaybackLength(view.scene);
    const double time = PendingPlayTime(view.scene, view.ui);
    char now[32];
    char total[32];
    FormatPlaybackTime(time, now, sizeof(now));
    FormatPlaybackTime(length, total, sizeof(total));
    ImGui::Text("%s / %s", now, total);
    ImGui::SameLine();
    ImGui::Text("frame %lld", static_cast<long long>(TimelineFrame(time)));
    ImGui::SameLine();

    ImGui::SetNextItemWidth(std::max(ImGui::GetContentRegionAvail().x, 40.0f));
    double position = time;
    const double low = 0.0;
    const double high = length;
    ImGui::BeginDisabled(length <= 0.0);
    // While dragged the slider poses only; physics settles once, where the
    // drag ends.
    if (ImGui::SliderScalar("##Seek", ImGuiDataType_Double, &position, &low, &high, "")) {
        view.ui.requests.push_back({RequestKind::Seek, -1, false, position, false});
    }
    if (ImGui::IsItemDeactivatedAfterEdit()) {
        view.ui.requests.push_back({RequestKind::Seek, -1, false, position, true});
    }
    ImGui::EndDisabled();
}

}  // namespace

void FormatPlaybackTime(double seconds, char* out, std::size_t size) {
    if (!std::isfinite(seconds) || seconds < 0.0) {
        seconds = 0.0;
    }
    // Whole hundredths first, so 59.999 s reads "1:00.00", never "0:60.00".
    const auto hundredths = static_cast<long long>(std::llround(seconds * 100.0));
    std::snprintf(out, size, "%lld:%02lld.%02lld", hundredths / 6000, hundredths / 100 % 60,
                  hundredths % 100);
}

std::int64_t TimelineFrame(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        return 0;
    }
    // A time a hair under a frame (float keys) still counts as that frame.
    return static_cast<std::int64_t>(std::floor(seconds * kTimelineFps + 1e-6));
}

void DrawPlaybackBar(InterfaceView& view) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const ImGuiStyle& style = ImGui::GetStyle();
    const float height = ImGui::GetFrameHeight() + style.WindowPadding.y * 2.0f;
    ImGui::SetNextWindowPos(
        ImVec2(viewport->WorkPos.x, viewport->WorkPos.y + viewport->WorkSize.y - height));
    ImGui::SetNextWindowSize(ImVec2(viewport->WorkSize.x, height));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings |
                                   ImGuiWindowFlags_NoBringToFrontOnFocus |
                                   ImGuiWindowFlags_NoFocusOnAppearing;
    // Square corners: a strip flush with the window's edges.
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    const bool open = ImGui::Begin(kPlaybackBarWindow, nullptr, flags);
    ImGui::PopStyleVar();
    if (open) {
        DrawControls(view);
    }
    ImGui::End();
}

}  // namespace qv
