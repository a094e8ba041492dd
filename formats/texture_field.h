// The texture field of older models and meshes: "texture*sphere", split by the sphere map's ending.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace qv {

// ASCII letters in either case, as file names' endings are written both ways.
inline bool EndsWithNoCase(std::u16string_view text, std::u16string_view ending) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    return text.size() >= ending.size() &&
           std::equal(ending.begin(), ending.end(), text.end() - ending.size(),
                      [&](char16_t a, char16_t b) { return lower(a) == lower(b); });
}

struct TextureField {
    std::u16string texture;
    std::u16string sphere;
    int sphereMode = 0;  // 0 none, 1 multiply (".sph"), 2 add (".spa")
};

// A texture, a sphere map, or both, joined by '*' in either order: a part
// ending in ".sph" or ".spa" is the sphere map, any other the texture. When
// one kind is named twice the later part wins; empty parts are skipped.
inline TextureField SplitTextureField(std::u16string_view field) {
    TextureField result;
    std::size_t start = 0;
    while (start <= field.size()) {
        const std::size_t star = std::min(field.find(u'*', start), field.size());
        const std::u16string_view part = field.substr(start, star - start);
        start = star + 1;
        if (part.empty()) {
            continue;
        }
        const bool multiply = EndsWithNoCase(part, u".sph");
        if (multiply || EndsWithNoCase(part, u".spa")) {
            result.sphere = part;
            result.sphereMode = multiply ? 1 : 2;
        } else {
            result.texture = part;
        }
    }
    return result;
}

}  // namespace qv
