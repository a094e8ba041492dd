// Non-finite numbers in content files: replaced by a neutral value as records are built, and noted.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/vector_types.h"

namespace qv {

// One NaN or infinity reaching a bone, a body or the GPU spreads to everything
// computed from it (every bone below a NaN tail, every vertex it skins), so
// readers never let one into a record. What was replaced is listed for
// qv-inspect; a hostile file full of them lists the first few and counts all.
struct NonFiniteFields {
    static constexpr std::size_t kMaxListed = 100;
    std::uint32_t count = 0;
    std::vector<std::string> fields;  // "bone 0 tail offset", at most kMaxListed

    void Note(const std::string& where) {
        ++count;
        if (fields.size() < kMaxListed) {
            fields.push_back(where);
        }
    }
    friend bool operator==(const NonFiniteFields&, const NonFiniteFields&) = default;
};

inline bool IsFinite(const Float2& v) {
    return std::isfinite(v.x) && std::isfinite(v.y);
}
inline bool IsFinite(const Float3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
inline bool IsFinite(const Float4& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

// Each non-finite component becomes fallback; true when the value was finite.
inline bool MakeFinite(float& v, float fallback = 0.0f) {
    if (std::isfinite(v)) {
        return true;
    }
    v = fallback;
    return false;
}
template <typename V>
bool MakeFiniteEach(V& v, float fallback = 0.0f) {
    if (IsFinite(v)) {
        return true;
    }
    float* c = &v.x;
    for (std::size_t i = 0; i < sizeof(V) / sizeof(float); ++i) {
        MakeFinite(c[i], fallback);
    }
    return false;
}

// A rotation with any non-finite component is no rotation at all.
inline bool MakeFiniteRotation(Float4& q) {
    if (IsFinite(q)) {
        return true;
    }
    q = {0.0f, 0.0f, 0.0f, 1.0f};
    return false;
}

}  // namespace qv
