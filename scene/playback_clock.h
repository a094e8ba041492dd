// The one play position song, motions and camera share: its clock, seeking, the end of the dance.
#pragma once

namespace qv {

struct Scene;

// The frames a second the timeline counts in: motion files are keyed at 30.
inline constexpr double kTimelineFps = 30.0;

// How long physics settles at a pose reached by a seek, seconds: long
// enough for hair and skirts to hang instead of flying from the old pose,
// short enough that a drag along the timeline stays responsive.
inline constexpr double kSeekSettleSeconds = 0.5;

// The timeline's length, seconds: the longest motion on any model, the
// camera motion, or the selected song, whichever ends last; 0 when nothing
// has a length.
double PlaybackLength(const Scene& scene);

// Moves the play position on for a frame of `frameSeconds` (already capped
// by the frame timing) and returns how far the motions move. While the
// selected song plays the position is the song's, so a stalled frame costs
// the dance nothing; without a playing song it runs on the frame time.
// The play position moves only while the scene plays; otherwise the frame
// time comes back, for models set playing by hand (the play button clears
// every model's flag when it pauses or stops). Main thread, in the scene
// update.
double AdvancePlayback(Scene& scene, float frameSeconds);

// Sets song, every motion and the camera motion to `seconds` (held to
// 0..length), poses every model there and, with `settle`, lets physics
// settle at that pose. Playing or paused, the state stays; a playing song
// that the seek takes past its end stays silent. Main thread, in the scene
// update.
void SeekPlayback(Scene& scene, double seconds, bool settle = true);

// After the models' update of a playing scene: pins every playing motion
// to the play position (the frames' float steps would otherwise wander
// from it over a long song), and once the length is reached starts
// everything again from 0 with the loop on (song too), or else pauses on
// the last frame, which the dance holds. A timeline of length 0 holds the
// position at 0, playing or not. Main thread.
void FinishPlaybackFrame(Scene& scene);

}  // namespace qv
