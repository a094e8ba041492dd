// Where rendered frames go: numbered PNG pictures or a video file with the song.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/render_options.h"

namespace qv {

struct CapturedImage;
struct WavAudio;

// Protocol: Open before any frame is drawn (a path that cannot be written
// fails here), Write for frames 0, 1, 2, ... in order, then Finish with the
// count of frames written, or Discard when the render ends before its first
// frame. A failed Write leaves the output ready for Finish, so what was done
// stays playable. One thread at a time uses it (QueuedFrameOutput hands it
// from the caller to its writer thread and back).
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    // Each fails with E_FAIL and the line that says why.
    virtual Result Open() = 0;
    virtual Result Write(const CapturedImage& image, std::uint64_t index) = 0;
    virtual Result Finish(std::uint64_t frames) = 0;
    virtual void Discard() = 0;
    // The size of what was written so far, for the summary.
    virtual std::uintmax_t BytesWritten() const = 0;
};

// The output the options name. `song` (may be null) must outlive it; its
// sound from options.from on goes into a video file with the pictures.
std::unique_ptr<FrameOutput> MakeFrameOutput(const RenderOptions& options, const WavAudio* song);

}  // namespace qv
