// The places a file browser offers to jump to on Linux: the root, the home folder and the mounted
// file systems of real devices and network shares.
#include "platform/mount_points.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qv {

namespace {

// File systems that reach another machine; they name no "/dev" device.
constexpr std::array<std::string_view, 10> kNetworkTypes{
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "ceph", "9p", "fuse.sshfs", "fuse.glusterfs", "afs"};

// Images mounted from a device that hold no user files worth browsing to.
constexpr std::array<std::string_view, 1> kImageTypes{"squashfs"};

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The fields of /proc/self/mounts write a blank, tab, newline and
// backslash as a backslash and three octal digits.
std::string DecodeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(),
                            [](char c) { return c >= '0' && c <= '7'; })) {
                out.push_back(static_cast<char>(((digits[0] - '0') << 6) |
                                                ((digits[1] - '0') << 3) | (digits[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

}  // namespace

std::vector<std::filesystem::path> ParseMountPoints(std::string_view mountsText) {
    std::vector<std::filesystem::path> points;
    while (!mountsText.empty()) {
        const std::size_t end = mountsText.find('\n');
        std::string_view line = mountsText.substr(0, end);
        mountsText =
            end == std::string_view::npos ? std::string_view{} : mountsText.substr(end + 1);
        std::array<std::string_view, 3> fields{};
        std::size_t found = 0;
        while (found < fields.size()) {
            const std::size_t start = line.find_first_not_of(' ');
            if (start == std::string_view::npos) {
                break;
            }
            line.remove_prefix(start);
            const std::size_t stop = line.find(' ');
            fields[found++] = line.substr(0, stop);
            line = stop == std::string_view::npos ? std::string_view{} : line.substr(stop);
        }
        if (found < fields.size()) {
            continue;
        }
        const std::string_view device = fields[0];
        const std::string_view type = fields[2];
        const bool blockDevice = device.starts_with("/dev/") && !OneOf(kImageTypes, type);
        if (!blockDevice && !OneOf(kNetworkTypes, type)) {
            continue;
        }
        std::filesystem::path point = DecodeMountField(fields[1]);
        if (point.is_absolute() && std::find(points.begin(), points.end(), point) == points.end()) {
            points.push_back(std::move(point));
        }
    }
    return points;
}

std::vector<std::filesystem::path> BrowserDrives(
    const std::filesystem::path& home, std::string_view mountsText,
    const std::function<bool(const std::filesystem::path&)>& isFolder) {
    std::vector<std::filesystem::path> drives{"/"};
    std::vector<std::filesystem::path> candidates;
    if (!home.empty()) {
        candidates.push_back(home.lexically_normal());
    }
    for (std::filesystem::path& point : ParseMountPoints(mountsText)) {
        candidates.push_back(point.lexically_normal());
    }
    for (std::filesystem::path& candidate : candidates) {
        std::string text = candidate.string();
        while (text.size() > 1 && text.back() == '/') {
            text.pop_back();
        }
        candidate = text;
        if (std::find(drives.begin(), drives.end(), candidate) == drives.end() &&
            candidate.is_absolute() && isFolder(candidate)) {
            drives.push_back(std::move(candidate));
        }
    }
    return drives;
}

std::vector<std::filesystem::path> SystemBrowserDrives() {
    std::ifstream file("/proc/self/mounts");
    std::stringstream text;
    text << file.rdbuf();
    const char* home = std::getenv("HOME");
    return BrowserDrives(home != nullptr ? home : "", text.str(),
                         [](const std::filesystem::path& path) {
                             std::error_code error;
                             return std::filesystem::is_directory(path, error);
                         });
}

}  // namespace qv
