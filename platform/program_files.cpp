// Finds the program's own files whether it runs from the build folder or from an installed prefix.
#include "platform/program_files.h"

#include <system_error>

namespace qv {

std::filesystem::path RunningProgramFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path InstalledDataFolder(const std::filesystem::path& programFolder) {
    return (programFolder / QV_BIN_TO_DATA).lexically_normal();
}

std::filesystem::path InstalledHelperFolder(const std::filesystem::path& programFolder) {
    return (programFolder / QV_BIN_TO_HELPERS).lexically_normal();
}

std::filesystem::path BuildFolderAbove(const std::filesystem::path& programFolder) {
    std::error_code error;
    for (std::filesystem::path folder = programFolder; !folder.empty();
         folder = folder.parent_path()) {
        if (std::filesystem::is_regular_file(folder / "CMakeCache.txt", error)) {
            return folder;
        }
        if (folder == folder.parent_path()) {
            break;
        }
    }
    return {};
}

std::filesystem::path FindProgramFile(const std::filesystem::path& relative,
                                      const std::filesystem::path& programFolder) {
    std::error_code error;
    if (std::filesystem::is_regular_file(relative, error)) {
        return relative;
    }
    if (programFolder.empty()) {
        return {};
    }
    for (const auto& base : {programFolder, InstalledDataFolder(programFolder)}) {
        if (std::filesystem::is_regular_file(base / relative, error)) {
            return base / relative;
        }
    }
    return {};
}

}  // namespace qv
