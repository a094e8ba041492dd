// `qv render`: a video of the content, every frame made exactly at its time.
#pragma once

#include <cstdint>

#include "app/render_options.h"

namespace qv {

// Where the time of a render went, summed over its frames.
struct RenderTimings {
    std::uint64_t frames = 0;
    double sceneSeconds = 0.0;       // clock, physics, models, recording, submission
    double gpuWaitSeconds = 0.0;     // until the GPU finished the frame handed over
    double readBackSeconds = 0.0;    // taking the picture the GPU copied to memory
    double encodeSeconds = 0.0;      // PNG or video encoding and writing, on its own thread
    double encodeWaitSeconds = 0.0;  // the frame loop handing frames to it, waits included
    double totalSeconds = 0.0;       // from the first frame until the last is in the file
};

// The whole command: checks, import, settle, frames, summary. Returns the
// exit code; `timings` (optional) receives where the time went.
int RunRender(const RenderOptions& options, RenderTimings* timings = nullptr);

// The entry from main: argv[0] is "render".
int RunRenderCommand(int argc, const char* const* argv);

}  // namespace qv
