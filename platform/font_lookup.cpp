// Finds the interface font on this system: the file beside the program or the fontconfig face.
#include "platform/font_lookup.h"

#include <fontconfig/fontconfig.h>

#include <system_error>

namespace qv {

namespace {

// Fontconfig answers every query with its nearest match; a face of another
// family would draw boxes for every Japanese name.
bool HasFamily(FcPattern* pattern, const std::string& family) {
    FcChar8* value = nullptr;
    for (int i = 0; FcPatternGetString(pattern, FC_FAMILY, i, &value) == FcResultMatch; ++i) {
        if (family == reinterpret_cast<const char*>(value)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool FindInstalledFont(const std::string& family, const std::string& style, FontFace* face) {
    // A configuration of our own, destroyed after the one question: the
    // library's default one would stay allocated for the life of the process.
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (config == nullptr) {
        return false;
    }
    FcPattern* query = FcPatternCreate();
    if (query == nullptr) {
        FcConfigDestroy(config);
        return false;
    }
    FcPatternAddString(query, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    if (!style.empty()) {
        FcPatternAddString(query, FC_STYLE, reinterpret_cast<const FcChar8*>(style.c_str()));
    }
    FcConfigSubstitute(config, query, FcMatchPattern);
    FcDefaultSubstitute(query);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, query, &result);
    FcPatternDestroy(query);
    bool found = false;
    if (match != nullptr && result == FcResultMatch && HasFamily(match, family)) {
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
            FcPatternGetInteger(match, FC_INDEX, 0, &index);
            face->file = reinterpret_cast<const char*>(file);
            face->index = index;
            found = true;
        }
    }
    if (match != nullptr) {
        FcPatternDestroy(match);
    }
    FcConfigDestroy(config);
    return found;
}

Result FindInterfaceFont(const std::filesystem::path& preferred, FontFace* face) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(preferred, ec)) {
        *face = {preferred, 0};
        return {};
    }
    if (FindInstalledFont("Noto Sans CJK JP", "Medium", face)) {
        return {};
    }
    return Result::Failure(
        E_FAIL, "no interface font: neither " + preferred.string() +
                    " nor an installed Noto Sans CJK JP face (Debian package fonts-noto-cjk) "
                    "was found");
}

}  // namespace qv
