// Finds the interface font on this system: the file beside the program or the fontconfig face.
#pragma once

#include <filesystem>
#include <string>

#include "platform/result.h"

namespace qv {

// One face of a font file; a collection (.ttc) holds several, by index.
struct FontFace {
    std::filesystem::path file;
    int index = 0;
};

// The face that fontconfig knows for a family and style ("Noto Sans CJK JP",
// "Medium"). Fontconfig always answers with something; only a face whose
// family is the one asked for counts. False when there is none.
bool FindInstalledFont(const std::string& family, const std::string& style, FontFace* face);

// The interface font: `preferred` when that file exists, otherwise the
// installed Noto Sans CJK JP face (Medium where installed, else the nearest
// weight). E_FAIL with a one-line reason when neither is there.
Result FindInterfaceFont(const std::filesystem::path& preferred, FontFace* face);

}  // namespace qv
