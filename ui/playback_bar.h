// The timeline along the bottom of the window: play, stop, the time, seeking and the loop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/interface_view.h"

namespace qv {

// The bar's window name: it has no title, only this id.
inline constexpr const char* kPlaybackBarWindow = "##PlaybackBar";

// One frame of the bar, across the bottom of the display, behind the tool
// windows: the play button, "Stop", the "Loop" switch, the time as
// "m:ss.ff / m:ss.ff" with the frame number at 30 a second, and a slider
// seeking over the timeline's length. Every control asks through a request.
// Interface stage; drawn while ui.showPlaybackBar is set.
void DrawPlaybackBar(InterfaceView& view);

// "m:ss.ff" for a time in seconds, rounded to the hundredth; minutes run on
// past an hour ("61:05.00"). Negative or not-a-number times read as 0.
// Writes at most `size` bytes, always terminated.
void FormatPlaybackTime(double seconds, char* out, std::size_t size);

// The frame a time falls in, at 30 frames a second (0 for times before 0).
std::int64_t TimelineFrame(double seconds);

}  // namespace qv
