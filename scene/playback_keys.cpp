// Playback keys turned into the same requests the timeline's controls make.
#include "scene/playback_keys.h"

#include <algorithm>
#include <cmath>

#include "scene/camera_input.h"
#include "scene/playback_clock.h"
#include "scene/scene.h"

namespace qv {

namespace {

void Step(const Scene& scene, UiState& ui, bool forward, bool wholeSecond, bool settle) {
    if (scene.playback.state == PlayState::Playing) {
        return;
    }
    const double now = PendingPlayTime(scene, ui);
    double target = 0.0;
    if (wholeSecond) {
        target = now + (forward ? 1.0 : -1.0);
    } else {
        // To the neighbouring frame, so steps land on frames whatever the
        // position was.
        const double frame = std::round(now * kTimelineFps);
        target = (frame + (forward ? 1.0 : -1.0)) / kTimelineFps;
    }
    ui.requests.push_back({RequestKind::Seek, -1, false, std::max(target, 0.0), settle});
}

}  // namespace

double PendingPlayTime(const Scene& scene, const UiState& ui) {
    double time = scene.playback.time;
    for (const SceneRequest& request : ui.requests) {
        if (request.kind == RequestKind::Seek) {
            time = request.seconds;
        } else if (request.kind == RequestKind::StopAndReset) {
            time = 0.0;
        }
    }
    return time;
}

bool PendingLoop(const Scene& scene, const UiState& ui) {
    bool loop = scene.playback.loop;
    for (const SceneRequest& request : ui.requests) {
        if (request.kind == RequestKind::SwitchLoop) {
            loop = request.on;
        }
    }
    return loop;
}

void HandlePlaybackKeys(const Scene& scene, UiState& ui, const InputEvent& event,
                        bool keyboardTaken) {
    if (event.kind != InputKind::KeyDown || keyboardTaken) {
        return;
    }
    const bool shift = (event.buttons & kInputShift) != 0;
    if (event.key == InputKey::Left || event.key == InputKey::Right) {
        // A held key poses only: settling at every repeat would cost a
        // frame's worth of physics steps each time.
        Step(scene, ui, event.key == InputKey::Right, shift, !event.repeat);
        return;
    }
    if (event.repeat) {
        return;  // a held Space would play and pause on every repeat
    }
    switch (event.key) {
        case InputKey::Space:
            ui.requests.push_back({RequestKind::PressPlay});
            break;
        case InputKey::Home:
            ui.requests.push_back({RequestKind::Seek, -1, false, 0.0});
            break;
        case InputKey::L:
            ui.requests.push_back({RequestKind::SwitchLoop, -1, !PendingLoop(scene, ui)});
            break;
        case InputKey::R:
            ui.requests.push_back({RequestKind::ResetView});
            break;
        default:
            break;
    }
}

}  // namespace qv
