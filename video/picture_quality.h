// How much encoding time a video spends for its size and fidelity: the --quality choices.
#pragma once

namespace qv {

// Fast spends the least time on each picture and pays for it in file size;
// Default keeps the fidelity of near-transparent toon shading at a speed
// well under a frame's drawing time; Best spends more time for a finer
// picture in a smaller file than Default's at that fidelity.
enum class PictureQuality { Fast, Default, Best };

}  // namespace qv
