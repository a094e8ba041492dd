// The signal that hands each frame between the main thread and the stage threads.
#pragma once

#include <condition_variable>
#include <mutex>
#include <span>

namespace qv {

// An event that releases exactly one waiter per Set() and then closes again by
// itself. A Set() with nobody waiting is kept until the next Wait(), so a
// signal can never be lost between two threads running in lock-step.
class AutoResetEvent {
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    void Wait();
    // false when the time ran out before a signal came.
    bool WaitFor(int milliseconds);

private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
};

// Waits until every event has been signalled once. Null entries are skipped so
// that a stage whose event was never created cannot block the caller forever.
void WaitForAll(std::span<AutoResetEvent* const> events);

}  // namespace qv
