// Finds a file named inside a model (Windows style paths) on this file system.
#pragma once

#include <filesystem>
#include <string>

namespace qv {

// Resolves a texture path as written in a model against the model's folder,
// the way Windows would find it: `\` and `/` both separate components; each
// component matches regardless of letter case and of its trailing spaces and
// dots; ".." climbs, but never above the file system root. A path written
// with a drive letter, a leading separator or a network share named the
// author's own disk: it is tried as its longest tail that exists under the
// model's folder. Empty when nothing matches, or when the match is no file.
std::filesystem::path ResolveContentPath(const std::filesystem::path& folder,
                                         const std::u16string& relative);

// Whether two path components name the same file on Windows: equal after
// case folding, trailing spaces and dots ignored.
bool SameWindowsName(const std::string& a, const std::string& b);

}  // namespace qv
