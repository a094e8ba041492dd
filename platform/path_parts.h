// A content file's name and folder, the folder being where the files it names are looked for.
#pragma once

#include <filesystem>

namespace qv {

// The last component of a path ("m.pmx" for "/models/a/m.pmx").
std::filesystem::path FileNameOf(const std::filesystem::path& path);

// The folder that holds a file, always ending with exactly one '/'
// ("/models/a/" for "/models/a/m.pmx"; "./" for a bare file name; "/" for a
// file in the root). Files the content names are resolved against it.
std::filesystem::path FolderOf(const std::filesystem::path& path);

}  // namespace qv
