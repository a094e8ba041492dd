// Float tuples that only carry values out of content files; the runtime has its own math.
#pragma once

namespace qv {

// Plain float tuples as they appear in content files. The model runtime has
// its own math types; these only carry values from the file.
struct Float2 {
    float x = 0.0f, y = 0.0f;
    friend bool operator==(const Float2&, const Float2&) = default;
};

struct Float3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    friend bool operator==(const Float3&, const Float3&) = default;
};

struct Float4 {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
    friend bool operator==(const Float4&, const Float4&) = default;
};

}  // namespace qv
