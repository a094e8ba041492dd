// A failure the user must read: the result code callers act on and one line saying why.
#pragma once

#include <string>
#include <utility>

#include "platform/result_code.h"

namespace qv {

// What an operation that can fail for a reason the user must read returns.
// The code keeps the meaning it has everywhere (and becomes the exit code at
// start-up); the message is one line, empty on success. Returned by value,
// so no caller reads another caller's reason.
struct [[nodiscard]] Result {
    HRESULT code = S_OK;
    std::string message;

    bool ok() const { return Succeeded(code); }

    static Result Failure(HRESULT code, std::string message) {
        return Result{code, std::move(message)};
    }
};

}  // namespace qv
