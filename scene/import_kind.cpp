// Sorts picked files by the exact extension of their name.
#include "scene/import_kind.h"

#include "platform/song_decoder.h"

namespace qv {

std::string ExtensionOf(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name == "..") {
        return {};
    }
    return name.substr(dot);
}

ImportKind ImportKindOf(const std::filesystem::path& path) {
    const std::string ext = ExtensionOf(path);
    if (ext == ".pmx" || ext == ".PMX" || ext == ".pmd" || ext == ".PMD")
        return ImportKind::Model;
    // A pose is a motion of one key.
    if (ext == ".vmd" || ext == ".VMD" || ext == ".vpd" || ext == ".VPD")
        return ImportKind::Motion;
    if (ext == ".wav" || ext == ".WAV" || IsCompressedSongExtension(ext))
        return ImportKind::Song;
    if (ext == ".hlsl" || ext == ".HLSL")
        return ImportKind::Shader;
    if (ext == ".x" || ext == ".X")
        return ImportKind::Accessory;
    return ImportKind::None;
}

}  // namespace qv
