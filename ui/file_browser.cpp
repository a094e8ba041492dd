// The file browser's listing and selection rules, apart from the drawing so that they test without
// Dear ImGui.
#include "ui/file_browser.h"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace fs = std::filesystem;

namespace qv {

namespace {

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The length of the valid UTF-8 sequence at `at`, or 0 when none starts there.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t min = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text.
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// Unique per browser, so that two browsers' popups never share an id.
std::atomic<unsigned> gNextBrowserNumber{0};

std::string PathText(const fs::path& path) {
    return DisplayName(path.string());
}

fs::path WithoutTrailingSeparator(const fs::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool HiddenName(const std::string& name) {
    return !name.empty() && name.front() == '$';
}

std::string DisplayName(const std::string& name) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const std::size_t length = Utf8SequenceLength(name, i);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            out += kReplacement;
            i += length == 0 ? 1 : length;
        } else {
            out.append(name, i, length);
            i += length;
        }
    }
    return out;
}

FileBrowser::FileBrowser(fs::path start, std::vector<fs::path> driveList)
    : startFolder(WithoutTrailingSeparator(std::move(start))), drives(std::move(driveList)) {
    popupLabel = title + "##filebrowser_" + std::to_string(gNextBrowserNumber.fetch_add(1));
    currentFolder = startFolder;
    ChangeDirectory(startFolder);
}

void FileBrowser::SetExtensionFilters(const std::vector<std::string>& list) {
    filters.clear();
    std::vector<std::string> unique;
    for (const std::string& filter : list) {
        std::string lower = LowerAscii(filter);
        if (std::find(unique.begin(), unique.end(), lower) == unique.end()) {
            unique.push_back(std::move(lower));
        }
    }
    combinedFilterFirst =
        unique.size() >= 2 && std::find(unique.begin(), unique.end(), ".*") == unique.end();
    if (combinedFilterFirst) {
        std::string joined;
        for (const std::string& filter : unique) {
            joined += (joined.empty() ? "" : ",") + filter;
        }
        filters.push_back(std::move(joined));
    }
    filters.insert(filters.end(), unique.begin(), unique.end());
    filterIndex = 0;
    RebuildVisible();
}

void FileBrowser::SetFilterIndex(std::uint32_t index) {
    filterIndex = index;
    RebuildVisible();
}

void FileBrowser::Open() {
    // The status goes first, so that a folder that fails to list now says so.
    statusText.clear();
    RefreshListing();
    ClearSelection();
    openRequested = true;
}

std::vector<fs::path> FileBrowser::GetSelectedPaths() const {
    std::vector<fs::path> paths;
    paths.reserve(selectedNames.size());
    for (const std::string& name : selectedNames) {
        paths.push_back(currentFolder / name);
    }
    return paths;
}

void FileBrowser::ClearSelection() {
    selectedNames.clear();
    confirmed = false;
}

bool FileBrowser::ChangeDirectory(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error) {
        Fail(error.message());
        return false;
    }
    const fs::path folder = WithoutTrailingSeparator(absolute);
    std::string reason;
    if (!ListFolder(folder, &reason)) {
        Fail(reason);
        return false;
    }
    currentFolder = folder;
    selectedNames.clear();
    return true;
}

bool FileBrowser::RefreshListing() {
    std::string reason;
    if (!ListFolder(currentFolder, &reason)) {
        Fail(reason);
        return false;
    }
    return true;
}

void FileBrowser::Reload() {
    if (!RefreshListing()) {
        return;
    }
    std::set<std::string> present;
    for (const FileEntry& entry : entries) {
        if (!entry.isDirectory) {
            present.insert(entry.name);
        }
    }
    std::erase_if(selectedNames, [&](const std::string& name) { return !present.contains(name); });
}

bool FileBrowser::ExtensionMatches(const FileEntry& entry) const {
    if (filters.empty() || filterIndex >= filters.size()) {
        return true;
    }
    const std::string extension = LowerAscii(entry.extension);
    if (filterIndex == 0 && combinedFilterFirst) {
        return std::find(filters.begin() + 1, filters.end(), extension) != filters.end();
    }
    return filters[filterIndex] == ".*" || filters[filterIndex] == extension;
}

bool FileBrowser::Pickable(std::uint32_t index) const {
    if (index >= entries.size()) {
        return false;
    }
    const FileEntry& entry = entries.at(index);
    return !entry.isDirectory && !HiddenName(entry.name) && ExtensionMatches(entry);
}

void FileBrowser::Click(std::uint32_t index, bool ctrl, bool shift) {
    if (index >= entries.size()) {
        return;
    }
    const FileEntry& entry = entries.at(index);
    if (shift && !entry.isDirectory && multipleSelection && rangeAnchor < entries.size()) {
        selectedNames.clear();
        const std::uint32_t from = std::min(rangeAnchor, index);
        const std::uint32_t to = std::max(rangeAnchor, index);
        for (std::uint32_t i = from; i <= to; ++i) {
            if (Pickable(i)) {
                selectedNames.insert(entries[i].name);
            }
        }
        return;
    }
    const bool file = !entry.isDirectory;
    if (!selectedNames.contains(entry.name) || !file) {
        if (!file) {
            if (!ctrl) {
                selectedNames.clear();
            }
            return;
        }
        if (!ctrl) {
            selectedNames.clear();
        }
        selectedNames.insert(entry.name);
        rangeAnchor = index;
        return;
    }
    if (ctrl) {
        selectedNames.erase(entry.name);
    } else {
        selectedNames = {entry.name};
        rangeAnchor = index;
    }
}

bool FileBrowser::DoubleClick(std::uint32_t index) {
    if (index >= entries.size()) {
        return false;
    }
    const FileEntry entry = entries.at(index);
    if (entry.isDirectory) {
        const fs::path target =
            entry.name == ".." ? currentFolder.parent_path() : currentFolder / entry.name;
        return ChangeDirectory(target.empty() ? currentFolder : target);
    }
    selectedNames = {entry.name};
    confirmed = true;
    return true;
}

void FileBrowser::SelectAll() {
    selectedNames.clear();
    for (std::uint32_t i = 1; i < entries.size(); ++i) {
        if (Pickable(i)) {
            selectedNames.insert(entries[i].name);
        }
    }
}

bool FileBrowser::Confirm() {
    if (selectedNames.empty()) {
        return false;
    }
    confirmed = true;
    return true;
}

std::size_t FileBrowser::CurrentDrive() const {
    const std::string current = currentFolder.string();
    std::size_t best = 0;
    std::size_t bestLength = 0;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const std::string drive = drives[i].string();
        const bool prefix =
            current.starts_with(drive) &&
            (current.size() == drive.size() || drive.back() == '/' || current[drive.size()] == '/');
        if (prefix && drive.size() > bestLength) {
            best = i;
            bestLength = drive.size();
        }
    }
    return best;
}

std::vector<std::pair<std::string, fs::path>> FileBrowser::PathButtons() const {
    std::vector<std::pair<std::string, fs::path>> buttons;
    fs::path walked;
    for (const fs::path& part : currentFolder) {
        walked /= part;
        if (part.empty()) {
            continue;  // a trailing separator
        }
        buttons.emplace_back(PathText(part), walked);
    }
    return buttons;
}

bool FileBrowser::ListFolder(const fs::path& folder, std::string* error) {
    std::vector<FileEntry> list;
    list.push_back({true, "..", "[D] ..", ""});
    std::error_code code;
    fs::directory_iterator it(folder, code);
    if (code) {
        *error = code.message() + ": " + PathText(folder);
        return false;
    }
    std::string unreadable;
    std::size_t unreadableCount = 0;
    for (; it != fs::directory_iterator(); it.increment(code)) {
        // The type comes with the listing itself; only links cost a lookup
        // of what they point at.
        std::error_code typeError;
        const bool directory = it->is_directory(typeError);
        const bool regular = !typeError && !directory && it->is_regular_file(typeError);
        if (typeError) {
            // A dangling link or a loop of links: the rest of the folder still lists.
            if (unreadableCount++ == 0) {
                unreadable = typeError.message() + ": " + PathText(it->path().filename());
            }
            continue;
        }
        FileEntry entry;
        if (directory) {
            entry.isDirectory = true;
        } else if (!regular) {
            continue;
        }
        entry.name = it->path().filename().string();
        entry.label = (entry.isDirectory ? "[D] " : "[F] ") + DisplayName(entry.name);
        entry.extension = it->path().filename().extension().string();
        list.push_back(std::move(entry));
    }
    if (code) {
        *error = code.message() + ": " + PathText(folder);
        return false;
    }
    std::sort(list.begin(), list.end(), [](const FileEntry& a, const FileEntry& b) {
        if (a.isDirectory != b.isDirectory) {
            return a.isDirectory;
        }
        return a.name < b.name;
    });
    entries = std::move(list);
    rangeAnchor = kNoAnchor;
    RebuildVisible();
    for (std::uint32_t i = 1; i < entries.size(); ++i) {
        if (Pickable(i)) {
            rangeAnchor = i;
            break;
        }
    }
    if (unreadableCount > 0) {
        statusText = "last error: " + unreadable;
        if (unreadableCount > 1) {
            statusText += " (and " + std::to_string(unreadableCount - 1) + " more)";
        }
    }
    return true;
}

void FileBrowser::Fail(const std::string& error) {
    const std::string report = "last error: " + (error.empty() ? std::string("unknown") : error);
    currentFolder = startFolder;
    selectedNames.clear();
    std::string ignored;
    if (!ListFolder(startFolder, &ignored)) {
        // Even the starting folder is gone: only ".." remains to climb out.
        entries = {{true, "..", "[D] ..", ""}};
        rangeAnchor = kNoAnchor;
        RebuildVisible();
    }
    statusText = report;  // the error that sent the browser back, not a note of the fallback
}

void FileBrowser::RebuildVisible() {
    visible.clear();
    visible.reserve(entries.size());
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const FileEntry& entry = entries[i];
        if (HiddenName(entry.name) || (!entry.isDirectory && !ExtensionMatches(entry))) {
            continue;
        }
        visible.push_back(i);
    }
}

}  // namespace qv
