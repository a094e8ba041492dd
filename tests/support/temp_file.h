// A file on disk for the length of one test, so tests never share or leave files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace qv {

// Writes bytes to path, replacing what was there.
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// A file in a fresh temporary folder, removed with the object.
class TempFile {
public:
    TempFile(std::string_view name, std::span<const std::uint8_t> bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
};

}  // namespace qv
