// The shared play position: the song's clock while it plays, frame time otherwise.
#include "scene/playback_clock.h"

#include <algorithm>
#include <cmath>

#include "runtime/motion.h"
#include "scene/fixed_clock.h"
#include "scene/scene.h"

namespace qv {

namespace {

bool SongPlays(const Scene& scene) {
    const SoundEffectInstance* song = scene.playback.songInstance.get();
    return song != nullptr && song->GetState() == SoundState::Playing;
}

}  // namespace

double PlaybackLength(const Scene& scene) {
    double length = 0.0;
    for (const ModelRecord& model : scene.models) {
        length = std::max(length, static_cast<double>(model.instance->motion.end));
    }
    if (InRange(scene.stage.cameraMotion, scene.motions.size())) {
        for (const VmdCameraKey& key : scene.motions[scene.stage.cameraMotion].motion.cameraKeys) {
            length = std::max(length, key.frame / kTimelineFps);
        }
    }
    if (InRange(scene.playback.selectedSong, scene.songs.size())) {
        length =
            std::max(length, scene.songs[scene.playback.selectedSong].sound->DurationSeconds());
    }
    return length;
}

double AdvancePlayback(Scene& scene, float frameSeconds) {
    Playback& playback = scene.playback;
    if (playback.state != PlayState::Playing) {
        // The play position holds; a model set playing by hand, outside
        // the play button, still runs on frame time as it always has.
        return std::isfinite(frameSeconds) ? frameSeconds : 0.0;
    }
    const double before = playback.time;
    if (SongPlays(scene)) {
        // The device's clock: it ran on through whatever held this frame up.
        playback.time = playback.songInstance->PlayPositionSeconds();
    } else if (std::isfinite(frameSeconds) && frameSeconds > 0.0f) {
        playback.time += frameSeconds;
    }
    return playback.time - before;
}

void SeekPlayback(Scene& scene, double seconds, bool settle) {
    Playback& playback = scene.playback;
    const double t = std::isfinite(seconds) ? std::clamp(seconds, 0.0, PlaybackLength(scene)) : 0.0;
    playback.time = t;
    for (ModelRecord& model : scene.models) {
        SeekMotion(*model.instance, static_cast<float>(t));
    }
    scene.stage.stageMotionTime = static_cast<float>(t);
    if (playback.state == PlayState::Stopped && t > 0.0) {
        // A stopped scene away from the start holds its place like a pause.
        playback.state = PlayState::Paused;
    }
    if (SoundEffectInstance* song = playback.songInstance.get()) {
        if (t < song->DurationSeconds()) {
            song->SetPositionSeconds(t);
            if (playback.state == PlayState::Playing && song->GetState() != SoundState::Playing) {
                song->Play(false);
            }
        } else {
            song->Stop(true);  // past its end: the song has finished
        }
    }
    if (settle) {
        SettlePhysics(scene, kSeekSettleSeconds);
    }
}

void FinishPlaybackFrame(Scene& scene) {
    Playback& playback = scene.playback;
    if (playback.state != PlayState::Playing) {
        return;
    }
    for (ModelRecord& model : scene.models) {
        MotionState& motion = model.instance->motion;
        if (model.instance->playing != 0) {
            motion.time = static_cast<float>(std::min(playback.time, double{motion.end}));
        }
    }
    const double length = PlaybackLength(scene);
    if (length <= 0.0) {
        // Nothing on the timeline (no motion, or a pose alone): the play
        // state stays as pressed, the position at its only point. Treated as
        // an end, a loop would settle physics every frame for nothing.
        playback.time = 0.0;
        return;
    }
    if (playback.time < length) {
        return;
    }
    if (playback.loop) {
        SeekPlayback(scene, 0.0);
        return;
    }
    playback.time = length;
    PressPlay(scene);  // pauses: the last frame holds
}

}  // namespace qv
