// Starting all the loaded content at once, as --play and `qv render` do.
#include "scene/play_everything.h"

#include "runtime/motion.h"
#include "scene/scene.h"

namespace qv {

void PlayEverything(Scene& scene) {
    for (std::size_t m = 0; m < scene.models.size(); ++m) {
        for (std::size_t k = 0; k < scene.motions.size(); ++k) {
            AttachMotion(*scene.models[m], scene.motions[k]);
            scene.modelEntries[m].addedMotions.push_back(scene.motionNames[k]);
        }
    }
    // Stopping first means the play press below always starts, even when the
    // user pressed play while the files were still loading.
    if (!scene.songs.empty()) {
        SelectSong(scene, 0);
    } else {
        StopAndReset(scene);
    }
    scene.cameraMotion = PickCameraMotion(scene);
    PressPlay(scene);
}

}  // namespace qv
