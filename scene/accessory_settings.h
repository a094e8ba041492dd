// Where an accessory stands and how it shows: the values its row in the resource manager edits.
#pragma once

#include <cstdint>

#include "formats/vector_types.h"

namespace qv {

// The smallest scale an accessory takes: at 0 or below it would vanish or
// draw mirrored, inside out.
inline constexpr float kMinAccessoryScale = 0.001f;

// An accessory follows a bone of a model (both indices valid) or stands in
// the world (either one -1). Its own offset applies in the followed frame:
// scaled, then turned (degrees, the same axis order as the models' Euler
// angles), then moved.
struct AccessorySettings {
    bool visible = true;
    std::int32_t model = -1;  // model row
    std::int32_t bone = -1;   // bone of that model
    Float3 position;
    Float3 rotationDegrees;
    float scale = 1.0f;
    float opacity = 1.0f;  // 0 to 1
    friend bool operator==(const AccessorySettings&, const AccessorySettings&) = default;
};

// An edit the interface made to one accessory row since the last scene
// update: the row's whole settings as they should become.
struct AccessoryEdit {
    std::int32_t row = -1;
    AccessorySettings settings;
};

}  // namespace qv
