// Makes a private temporary folder per file and removes it afterwards.
#include "tests/support/temp_file.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>
#include <string>

namespace qv {

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

TempFile::TempFile(std::string_view name, std::span<const std::uint8_t> bytes) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    folder_ = pattern;
    path_ = folder_ / name;
    WriteBytes(path_, bytes);
}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

}  // namespace qv
