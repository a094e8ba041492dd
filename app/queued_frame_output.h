// A frame output that encodes and writes on a thread of its own, so the next frames draw meanwhile.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/frame_output.h"
#include "formats/captured_image.h"

namespace qv {

// Wraps the output that does the work. Open runs the inner Open on the
// caller's thread and starts the writer thread; Write copies the picture into
// a queue of at most `depth` frames (waiting while it is full) and returns;
// the writer hands each frame to the inner Write in the order given.
//
// When an inner Write fails, the writer stops: the frames before it stay
// written, the ones queued after it are dropped, and the next Write and
// Finish report that failure. Finish waits for the queue to empty, stops the
// thread and finishes the inner output with the count actually written, so
// what was done stays playable; Discard drops what waits and discards it.
// The destructor stops the thread on any path that called neither.
//
// One thread calls it, as the protocol says; BytesWritten and FramesWritten
// are for after Finish or Discard.
class QueuedFrameOutput final : public FrameOutput {
public:
    QueuedFrameOutput(std::unique_ptr<FrameOutput> inner, std::size_t depth);
    ~QueuedFrameOutput() override;
    QueuedFrameOutput(const QueuedFrameOutput&) = delete;
    QueuedFrameOutput& operator=(const QueuedFrameOutput&) = delete;

    Result Open() override;
    Result Write(const CapturedImage& image, std::uint64_t index) override;
    // Write without the copy: the queue takes `image` whole and leaves in it
    // a picture the writer is done with, of any size and content, for the
    // caller to fill next.
    Result WriteTaking(CapturedImage& image, std::uint64_t index);
    Result Finish(std::uint64_t frames) override;
    void Discard() override;
    std::uintmax_t BytesWritten() const override;

    // Frames the inner output took without failing.
    std::uint64_t FramesWritten() const;
    // Time the writer spent in the inner Write, and time the caller's Write
    // waited for room in the queue.
    double WriteSeconds() const;
    double WaitSeconds() const { return waitSeconds_; }

private:
    struct Frame {
        CapturedImage image;
        std::uint64_t index = 0;
    };

    // Waits for room in the queue; `spare` receives a picture to reuse.
    Result WaitForRoom(CapturedImage* spare);
    Result Push(Frame frame);
    void Run();
    // Ends the writer after the queue empties, or at once when `drop`.
    void Stop(bool drop);

    std::unique_ptr<FrameOutput> inner_;
    const std::size_t depth_;
    mutable std::mutex mutex_;  // guards everything below up to writeSeconds_
    std::condition_variable changed_;
    std::deque<Frame> queue_;
    // Pictures the writer is done with, reused so a frame costs no allocation.
    std::vector<CapturedImage> spare_;
    std::size_t inFlight_ = 0;  // queued plus the one being written
    bool stopping_ = false;
    bool dropping_ = false;
    Result failure_;
    std::uint64_t written_ = 0;
    double writeSeconds_ = 0.0;
    double waitSeconds_ = 0.0;  // the caller's thread's own
    std::thread writer_;
};

}  // namespace qv
