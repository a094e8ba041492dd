// Saves a captured frame as a picture, for screenshots and numbered frame output.
#pragma once

#include <filesystem>

#include "formats/captured_image.h"
#include "platform/result_code.h"

namespace qv {

// Writes the image as an 8-bit RGBA PNG. E_INVALIDARG for an empty image,
// E_FAIL when the file cannot be written.
HRESULT WritePng(const std::filesystem::path& path, const CapturedImage& image);

}  // namespace qv
