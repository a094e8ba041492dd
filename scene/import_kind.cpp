// Sorts picked files by the exact extension of their name.
#include "scene/import_kind.h"

#include <cctype>
#include <iterator>

namespace qv {

std::string ExtensionOf(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name == "..") {
        return {};
    }
    return name.substr(dot);
}

namespace {

// Compressed songs are the ones the song decoder takes.
constexpr ImportEnding kEndings[] = {
    {".pmx", ImportKind::Model},  {".pmd", ImportKind::Model},   {".x", ImportKind::Accessory},
    {".vmd", ImportKind::Motion}, {".vpd", ImportKind::Motion},  {".wav", ImportKind::Song},
    {".mp3", ImportKind::Song},   {".m4a", ImportKind::Song},    {".aac", ImportKind::Song},
    {".ogg", ImportKind::Song},   {".oga", ImportKind::Song},    {".opus", ImportKind::Song},
    {".flac", ImportKind::Song},  {".hlsl", ImportKind::Shader},
};

bool SameInEitherCase(const std::string& ext, const char* lower) {
    std::string upper = lower;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return ext == lower || ext == upper;
}

}  // namespace

std::span<const ImportEnding> ImportEndings() {
    return kEndings;
}

ImportKind ImportKindOf(const std::filesystem::path& path) {
    const std::string ext = ExtensionOf(path);
    for (const ImportEnding& e : kEndings) {
        if (SameInEitherCase(ext, e.ending)) {
            return e.kind;
        }
    }
    return ImportKind::None;
}

std::string ImportEndingsText() {
    std::string text;
    const std::size_t count = std::size(kEndings);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += i + 1 == count ? " or " : ", ";
        }
        text += kEndings[i].ending;
    }
    return text;
}

}  // namespace qv
