// A frame output that encodes and writes on a thread of its own, so the next frames draw meanwhile.
#include "app/queued_frame_output.h"

#include <algorithm>
#include <chrono>

#include "platform/perf_counter.h"

namespace qv {

QueuedFrameOutput::QueuedFrameOutput(std::unique_ptr<FrameOutput> inner, std::size_t depth)
    : inner_(std::move(inner)), depth_(std::max<std::size_t>(depth, 1)) {}

QueuedFrameOutput::~QueuedFrameOutput() {
    Stop(true);
}

Result QueuedFrameOutput::Open() {
    Result opened = inner_->Open();
    if (opened.ok() && !writer_.joinable()) {
        writer_ = std::thread([this] { Run(); });
    }
    return opened;
}

Result QueuedFrameOutput::WaitForRoom(CapturedImage* spare) {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    if (!writer_.joinable() || stopping_) {
        return Result::Failure(E_FAIL, "a frame was written to an output that is not open");
    }
    changed_.wait(lock, [&] { return inFlight_ < depth_ || !failure_.ok(); });
    if (!failure_.ok()) {
        return failure_;
    }
    if (!spare_.empty()) {
        *spare = std::move(spare_.back());
        spare_.pop_back();
    }
    lock.unlock();
    waitSeconds_ += SecondsSince(started);
    return {};
}

Result QueuedFrameOutput::Push(Frame frame) {
    std::lock_guard lock(mutex_);
    if (!failure_.ok()) {
        return failure_;
    }
    queue_.push_back(std::move(frame));
    ++inFlight_;
    changed_.notify_all();
    return {};
}

Result QueuedFrameOutput::Write(const CapturedImage& image, std::uint64_t index) {
    Frame frame;
    if (Result room = WaitForRoom(&frame.image); !room.ok()) {
        return room;
    }
    // Copied outside the lock, so the writer never waits for it; assigning
    // into a reused picture allocates nothing.
    frame.image.width = image.width;
    frame.image.height = image.height;
    frame.image.rgba.assign(image.rgba.begin(), image.rgba.end());
    frame.index = index;
    return Push(std::move(frame));
}

Result QueuedFrameOutput::WriteTaking(CapturedImage& image, std::uint64_t index) {
    Frame frame;
    if (Result room = WaitForRoom(&frame.image); !room.ok()) {
        return room;
    }
    std::swap(frame.image, image);
    frame.index = index;
    return Push(std::move(frame));
}

void QueuedFrameOutput::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || stopping_; });
        if (queue_.empty() || dropping_) {
            break;
        }
        Frame frame = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const auto started = std::chrono::steady_clock::now();
        Result wrote = inner_->Write(frame.image, frame.index);
        const double seconds = SecondsSince(started);
        lock.lock();
        writeSeconds_ += seconds;
        --inFlight_;
        spare_.push_back(std::move(frame.image));
        if (!wrote.ok()) {
            // Nothing after a failed frame is written, so the output never
            // skips a frame; the caller learns of it at its next call.
            failure_ = std::move(wrote);
            inFlight_ -= queue_.size();
            queue_.clear();
            changed_.notify_all();
            break;
        }
        ++written_;
        changed_.notify_all();
    }
}

void QueuedFrameOutput::Stop(bool drop) {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropping_ = dropping_ || drop;
    }
    changed_.notify_all();
    if (writer_.joinable()) {
        writer_.join();
    }
}

Result QueuedFrameOutput::Finish(std::uint64_t frames) {
    Stop(false);
    // The writer has ended: the inner output is this thread's again.
    const Result finished = inner_->Finish(std::min(frames, written_));
    return failure_.ok() ? finished : failure_;
}

void QueuedFrameOutput::Discard() {
    Stop(true);
    inner_->Discard();
}

std::uintmax_t QueuedFrameOutput::BytesWritten() const {
    return inner_->BytesWritten();
}

std::uint64_t QueuedFrameOutput::FramesWritten() const {
    std::lock_guard lock(mutex_);
    return written_;
}

double QueuedFrameOutput::WriteSeconds() const {
    std::lock_guard lock(mutex_);
    return writeSeconds_;
}

}  // namespace qv
