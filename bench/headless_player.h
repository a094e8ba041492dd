// The player's frame stages and device on the headless presenter, as the benchmarks start them.
#pragma once

#include "app/player.h"
#include "render/device/graphics_device.h"

namespace qv {

// Registers the player's frame stages on `ctx` and creates the device drawing
// headless with validation off; on failure, what the skipped benchmark shows.
inline Result StartHeadlessPlayer(EngineContext& ctx, PlayerGraphics& graphics) {
    if (Failed(RegisterPlayer(ctx, graphics))) {
        return Result::Failure(E_FAIL, "the frame stages cannot be registered");
    }
    return CreateGraphicsDevice(ctx, {PresentTarget::Headless, false});
}

}  // namespace qv
