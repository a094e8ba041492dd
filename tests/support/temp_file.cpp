// Makes private temporary folders and removes them afterwards.
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

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempFolder::Write(const std::filesystem::path& relative,
                                        std::span<const std::uint8_t> bytes) const {
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    WriteBytes(file, bytes);
    return file;
}

std::filesystem::path TempFolder::Write(const std::filesystem::path& relative,
                                        std::string_view text) const {
    return Write(relative,
                 std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TempFile::TempFile(std::string_view name, std::span<const std::uint8_t> bytes)
    : path_(folder_.path() / name) {
    WriteBytes(path_, bytes);
}

}  // namespace qv
