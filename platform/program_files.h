// Where the program's own files are: beside it when built, under its prefix once installed.
#pragma once

#include <filesystem>

namespace qv {

// The folder of the running executable; empty when the system cannot say.
std::filesystem::path RunningProgramFolder();

// For a program installed in PREFIX/bin: PREFIX/share/qv, which holds the
// files the player reads at run time, and PREFIX/libexec/qv, which holds the
// helper programs it starts. Both follow the install layout of the build.
std::filesystem::path InstalledDataFolder(const std::filesystem::path& programFolder);
std::filesystem::path InstalledHelperFolder(const std::filesystem::path& programFolder);

// The CMake build folder (the one with CMakeCache.txt) that holds
// `programFolder`, for programs run where they were built; empty for an
// installed program.
std::filesystem::path BuildFolderAbove(const std::filesystem::path& programFolder);

// The first regular file among `relative` under the working folder, beside
// the program and under its installed data folder, in that order: the
// working folder lets a user override a shipped file, and the program's own
// places make the result independent of where it was started. Empty when
// none holds it.
std::filesystem::path FindProgramFile(const std::filesystem::path& relative,
                                      const std::filesystem::path& programFolder);

}  // namespace qv
