// The places a file browser offers to jump to on Linux: the root, the home folder and the mounted
// file systems of real devices and network shares.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// The mount points listed in the text of /proc/self/mounts whose file
// system lives on a block device ("/dev/...") or a network share, in the
// order listed, without repeats. Kernel and memory file systems (proc,
// sysfs, tmpfs, cgroup, overlay and the like) and read-only images
// (squashfs) are left out. Octal escapes of the format ("\040" for a
// blank) are decoded. Lines that do not parse are skipped.
std::vector<std::filesystem::path> ParseMountPoints(std::string_view mountsText);

// The browser's drive list: "/", then `home` (when not empty), then the
// mount points, each once and only when `isFolder` accepts it (a mount
// point may be a single bind-mounted file).
std::vector<std::filesystem::path> BrowserDrives(
    const std::filesystem::path& home, std::string_view mountsText,
    const std::function<bool(const std::filesystem::path&)>& isFolder);

// The drives of this process: its home folder (from HOME) and
// /proc/self/mounts, checked against the file system.
std::vector<std::filesystem::path> SystemBrowserDrives();

}  // namespace qv
