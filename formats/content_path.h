// Finds a file named inside a model (Windows style paths) on this file system.
#pragma once

#include <filesystem>
#include <string>

namespace qv {

// Resolves a texture path as written in a model (Windows style, `\` between
// components, any letter case) against the model's folder, the way a
// case-insensitive file system would. Empty when nothing matches.
std::filesystem::path ResolveContentPath(const std::filesystem::path& folder,
                                         const std::u16string& relative);

}  // namespace qv
