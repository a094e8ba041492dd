// Starting all the loaded content at once, as --play and `qv render` do.
#include "scene/play_everything.h"

#include "runtime/motion.h"
#include "scene/scene.h"

namespace qv {

void PlayEverything(Scene& scene) {
    for (ModelRecord& model : scene.models) {
        for (const MotionRecord& motion : scene.motions) {
            AttachMotion(*model.instance, motion.motion);
            model.entry.addedMotions.push_back(motion.name);
        }
    }
    // Stopping first means the play press below always starts, even when the
    // user pressed play while the files were still loading.
    if (!scene.songs.empty()) {
        SelectSong(scene, 0);
    } else {
        StopAndReset(scene);
    }
    scene.stage.cameraMotion = PickCameraMotion(scene);
    PressPlay(scene);
}

}  // namespace qv
