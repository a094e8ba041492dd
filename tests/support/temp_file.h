// Files and folders on disk for the length of one test, so tests never share or leave files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace qv {

// Writes bytes to path, replacing what was there.
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// A fresh folder of its own under the system's temporary one, removed with
// everything in it when the object goes. Its name is unique, so tests that
// run at once, in one process or several, never meet.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Writes a file at `relative` under the folder, making the folders on the
    // way; returns its full path.
    std::filesystem::path Write(const std::filesystem::path& relative,
                                std::span<const std::uint8_t> bytes) const;
    std::filesystem::path Write(const std::filesystem::path& relative, std::string_view text) const;

private:
    std::filesystem::path path_;
};

// A file in a fresh temporary folder, removed with the object.
class TempFile {
public:
    TempFile(std::string_view name, std::span<const std::uint8_t> bytes);
    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& folder() const { return folder_.path(); }

private:
    TempFolder folder_;
    std::filesystem::path path_;
};

}  // namespace qv
