// Hands a captured frame to the PNG encoder.
#include "formats/png_file.h"

#include <stb_image_write.h>

namespace qv {

HRESULT WritePng(const std::filesystem::path& path, const CapturedImage& image) {
    if (image.width == 0 || image.height == 0 ||
        image.rgba.size() < std::size_t{image.width} * image.height * 4) {
        return E_INVALIDARG;
    }
    const int ok = stbi_write_png(path.string().c_str(), static_cast<int>(image.width),
                                  static_cast<int>(image.height), 4, image.rgba.data(),
                                  static_cast<int>(image.width * 4));
    return ok != 0 ? S_OK : E_FAIL;
}

}  // namespace qv
