// Which kind of content a picked file is, decided by its name alone.
#pragma once

#include <filesystem>
#include <string>

namespace qv {

// What a picked file is, by the extension of its name: the text from the last
// "." of the file name on, compared exactly. A dot that starts the name opens
// no extension (".pmx" has none), and mixed case such as ".Pmx" is not
// recognised: such files are passed over without a message.
enum class ImportKind { None, Model, Motion, Song, Shader, Accessory };

std::string ExtensionOf(const std::filesystem::path& path);
ImportKind ImportKindOf(const std::filesystem::path& path);

}  // namespace qv
