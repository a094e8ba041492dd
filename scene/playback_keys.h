// The keys that drive playback: play and pause, back to the start, frame steps, loop, reset view.
#pragma once

namespace qv {

struct InputEvent;
struct Scene;
struct UiState;

// Queues what a key asks of playback, as the timeline's controls do:
// Space plays or pauses, Home seeks to 0, Left and Right step one frame
// (at 30 a second) back or forward while not playing (with Shift held, one
// second), L switches the loop, R resets the view. Steps count from the
// last seek still waiting, so quick presses before a frame all count.
// Nothing happens while the tool windows hold the keyboard
// (`keyboardTaken`: a text field types, a widget is in use, or a modal
// popup such as the file browser is open), and a held key repeats only the
// steps. Main thread, between frames.
void HandlePlaybackKeys(const Scene& scene, UiState& ui, const InputEvent& event,
                        bool keyboardTaken);

// The play position and the loop switch as they will be once the requests
// still waiting are carried out: what the user last asked this frame.
double PendingPlayTime(const Scene& scene, const UiState& ui);
bool PendingLoop(const Scene& scene, const UiState& ui);

}  // namespace qv
