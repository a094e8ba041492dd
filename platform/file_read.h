// The one way content reaches memory: a whole file in a single read, before any parsing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/result_code.h"

namespace qv {

// Reads a whole regular file into memory in one go. E_FAIL when the file is
// missing, not a regular file, unreadable, empty, or too large for the 32-bit
// sizes the content formats use.
HRESULT ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);

}  // namespace qv
