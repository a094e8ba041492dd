// A mutex and a condition variable standing in for a one-waiter signal.
#include "platform/auto_reset_event.h"

#include <chrono>

namespace qv {

void AutoResetEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    signalled_.notify_one();
}

void AutoResetEvent::Wait() {
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [this] { return set_; });
    set_ = false;
}

bool AutoResetEvent::WaitFor(int milliseconds) {
    std::unique_lock lock(mutex_);
    if (!signalled_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return set_; })) {
        return false;
    }
    set_ = false;
    return true;
}

void WaitForAll(std::span<AutoResetEvent* const> events) {
    // Each event is auto-reset and set by exactly one owner, so waiting for
    // them one after another ends at the same moment as an all-at-once wait.
    for (AutoResetEvent* event : events) {
        if (event != nullptr) {
            event->Wait();
        }
    }
}

}  // namespace qv
