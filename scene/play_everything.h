// Starting all the loaded content at once, as --play and `qv render` do.
#pragma once

namespace qv {

struct Scene;

// What a user would do by hand once the files are in: every motion on every
// model, the first song selected, song and motions rewound so they start
// together, the first motion with camera keys filming, and play pressed.
// Main thread, between scene updates.
void PlayEverything(Scene& scene);

}  // namespace qv
