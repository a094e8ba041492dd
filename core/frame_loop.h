// Stages that record a frame's work on their own threads, and the frame that waits for them all.
#pragma once

#include <cstdint>
#include <functional>

#include "core/engine_context.h"
#include "platform/result_code.h"

namespace qv {

// Appends a stage of the given kind. E_INVALIDARG for an empty function, a
// kind other than CommandList or Overlay, or a kind that already holds
// kMaxStagesPerKind stages; nothing changes then.
HRESULT AddStage(EngineContext& ctx, StageFunction function, StageKind kind);
HRESULT AddStage(EngineContext& ctx, StageFunction function, std::uint32_t kind);

// The body of every stage thread: runs the function registered for the
// descriptor and returns 0 when it ends, or at once when there is none.
unsigned StageThreadEntry(EngineContext& ctx, const StageDescriptor* descriptor);

// Creates the start and done events of every stage and starts its thread,
// CommandList stages first. E_OUTOFMEMORY when an event or thread cannot be made.
HRESULT StartStageThreads(EngineContext& ctx);
// Releases every stage thread from its wait, lets it return and joins it.
void StopStageThreads(EngineContext& ctx);

// The loop every stage runs: waits for the frame to start the stage, calls
// `work` and reports the stage done, until the engine stops the stage
// threads. Call it from the stage function, on the stage's own thread.
void RunStageLoop(EngineContext& ctx, std::uint64_t index, StageKind kind,
                  const std::function<void()>& work);

// The stage with nothing to do: answers every start with a done.
void IdleStage(EngineContext& ctx, std::uint64_t index, StageKind kind);

// How long a player with a hidden window waits between frames: the scene
// keeps moving in step with the song, at a pace that costs next to nothing.
inline constexpr std::uint32_t kHiddenFrameMilliseconds = 33;

// True while a frame could not be seen: the window is minimised or hidden,
// or the presenter has no image to give (a zero-sized surface).
bool FrameIsHidden(EngineContext& ctx);
// While frames are hidden, waits for a window event or kHiddenFrameMilliseconds,
// so a minimised player sleeps instead of spinning; returns at once otherwise.
void PaceHiddenFrames(EngineContext& ctx);

// One frame, on the main thread. Returns E_FAIL only when the device was lost;
// other submission and presentation results are not checked. A hidden frame
// runs the frame update only: no stage records, nothing is submitted or
// presented, and the presenter is asked again for an image. Submission and
// presentation are the device's (GpuDevice), once every stage is done.
HRESULT RunFrame(EngineContext& ctx);
// The device's fence routines, for callers that hold only the engine; they do
// nothing before the device exists.
void WaitForGpu(EngineContext& ctx);
void MoveToNextFrame(EngineContext& ctx);

}  // namespace qv
