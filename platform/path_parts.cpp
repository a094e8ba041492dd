// Splits a path the way files named inside content are later resolved against it.
#include "platform/path_parts.h"

namespace qv {

std::filesystem::path FileNameOf(const std::filesystem::path& path) {
    return path.filename();
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
    std::filesystem::path parent = path.parent_path();
    if (parent.empty()) {
        // A bare name lives in the working directory; an empty folder would
        // otherwise turn into the file system root once '/' is appended.
        return "./";
    }
    std::string text = parent.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    if (text != "/") {
        text.push_back('/');
    }
    return text;
}

}  // namespace qv
