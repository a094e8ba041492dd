// Resolves paths written on Windows against a case-sensitive file system.
#include "formats/content_path.h"

#include <algorithm>
#include <system_error>

#include "formats/text_decode.h"

namespace qv {

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

}  // namespace

std::filesystem::path ResolveContentPath(const std::filesystem::path& folder,
                                         const std::u16string& relative) {
    std::string text = ToUtf8(relative);
    std::replace(text.begin(), text.end(), '\\', '/');
    std::filesystem::path current = folder;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            current /= part;
            continue;
        }
        std::error_code ec;
        if (std::filesystem::exists(current / part, ec)) {
            current /= part;
            continue;
        }
        std::filesystem::path match;
        for (std::filesystem::directory_iterator it(current, ec), last; !ec && it != last;
             it.increment(ec)) {
            if (SameNameIgnoringCase(it->path().filename().string(), part)) {
                match = it->path();
                break;
            }
        }
        if (match.empty()) {
            return {};
        }
        current = match;
    }
    std::error_code ec;
    return std::filesystem::is_regular_file(current, ec) ? current : std::filesystem::path{};
}

}  // namespace qv
