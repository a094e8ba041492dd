// The GPU device as the frame loop and teardown reach it, without knowing how it is made.
#pragma once

#include "platform/result_code.h"

namespace qv {

// One device and everything made on it: its queues' fences, the presenter and
// the stages' command pools. The engine state holds it from creation on and
// publishes its handles for readers; only this object releases them.
//
// Protocol, all on the main thread: per frame, after every stage has signalled
// done, SubmitAndPresent() once; WaitForGpu() whenever something a frame in
// flight may use is about to change; destruction last, after WaitForGpu() and
// after the stage threads have stopped.
class GpuDevice {
public:
    // Releases every object in the reverse order of its creation and empties
    // the handles the engine state published.
    virtual ~GpuDevice() = default;

    // Submits the lists the stages recorded for this frame, compute before
    // direct and ordered on the GPU, presents, and moves on with
    // MoveToNextFrame(). E_FAIL when the device was lost; other submission
    // and presentation results are not checked.
    virtual HRESULT SubmitAndPresent() = 0;
    // Returns once both queues have finished everything submitted so far.
    virtual void WaitForGpu() = 0;
    // Makes the slot the presenter names next current, once the GPU is done
    // with the frame that last used it, and hands out its image.
    virtual void MoveToNextFrame() = 0;
};

}  // namespace qv
