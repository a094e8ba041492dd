// Resolves paths written on Windows against a case-sensitive file system.
#include "formats/content_path.h"

#include <system_error>
#include <vector>

#include "formats/text_decode.h"

namespace qv {

namespace {

// Windows drops trailing spaces and dots of every component when it opens
// a file, so authors' tools write them and the files still load there.
std::string WithoutTrailingSpacesAndDots(std::string part) {
    while (!part.empty() && (part.back() == ' ' || part.back() == '.')) {
        part.pop_back();
    }
    return part;
}

// The upper-to-lower mapping for the scripts found in content file names:
// Latin (with Latin-1), Greek, Cyrillic and the full-width Latin letters of
// Japanese text.
char32_t FoldCase(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    if (c >= 0xFF21 && c <= 0xFF3A) {
        return c + 0x20;
    }
    return c;
}

std::u32string Folded(const std::string& utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80    ? 1
                           : lead >= 0xF0 ? 4
                           : lead >= 0xE0 ? 3
                           : lead >= 0xC0 ? 2
                                          : 1;
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (int k = 1; k < length && i + k < utf8.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        out.push_back(FoldCase(c));
        i += static_cast<std::size_t>(length);
    }
    return out;
}

std::vector<std::string> Components(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\\/", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool IsDrive(const std::string& part) {
    return part.size() == 2 && part[1] == ':' &&
           ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'));
}

// The components from `first` on, looked up one by one under `folder`.
std::filesystem::path Walk(const std::filesystem::path& folder,
                           const std::vector<std::string>& parts, std::size_t first) {
    std::error_code ec;
    std::filesystem::path current = std::filesystem::absolute(folder, ec);
    for (std::size_t i = first; i < parts.size(); ++i) {
        if (parts[i] == "..") {
            // Lexically, as Windows does; the root is its own parent.
            if (current.has_relative_path()) {
                current = current.lexically_normal();
                if (!current.has_filename()) {
                    current = current.parent_path();  // a trailing separator
                }
                current = current.parent_path();
            }
            continue;
        }
        const std::string part = WithoutTrailingSpacesAndDots(parts[i]);
        if (part.empty()) {
            continue;  // "", "." and names of only dots and spaces stay here
        }
        if (std::filesystem::exists(current / part, ec)) {
            current /= part;
            continue;
        }
        std::filesystem::path match;
        for (std::filesystem::directory_iterator it(current, ec), last; !ec && it != last;
             it.increment(ec)) {
            if (SameWindowsName(it->path().filename().string(), part)) {
                match = it->path();
                break;
            }
        }
        if (match.empty()) {
            return {};
        }
        current = match;
    }
    return std::filesystem::is_regular_file(current, ec) ? current : std::filesystem::path{};
}

}  // namespace

bool SameWindowsName(const std::string& a, const std::string& b) {
    return Folded(WithoutTrailingSpacesAndDots(a)) == Folded(WithoutTrailingSpacesAndDots(b));
}

std::filesystem::path ResolveContentPath(const std::filesystem::path& folder,
                                         const std::u16string& relative) {
    const std::vector<std::string> parts = Components(ToUtf8(relative));
    // "C:\...", "\..." and "\\server\share\..." point at the author's disk,
    // never at ours.
    const bool absolute = IsDrive(parts.front()) || parts.front().empty();
    if (!absolute) {
        return Walk(folder, parts, 0);
    }
    for (std::size_t first = 1; first < parts.size(); ++first) {
        if (parts[first] == "..") {
            continue;  // a tail must stay inside the model's folder
        }
        std::filesystem::path found = Walk(folder, parts, first);
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

}  // namespace qv
