// The file browser in which the user picks files to import: its listing and selection rules, and
// the modal window that draws them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace qv {

// One row of the listing. Names keep the bytes the file system gave, so a
// name that is not valid UTF-8 still opens; labels are for display only.
struct FileEntry {
    bool isDirectory = false;
    std::string name;       // the file name as stored on disk
    std::string label;      // "[D] " or "[F] " and the name as displayable UTF-8
    std::string extension;  // from the last dot; a leading dot does not count
};

// A modal browser over one folder at a time. Plain state plus the rules
// that change it; Draw is the only part that needs Dear ImGui. Only the
// interface stage thread touches a browser.
//
// Protocol: Open() raises the open request; Draw() runs every frame, open or
// not; when IsConfirmed(), the caller takes GetSelectedPaths() and calls
// ClearSelection().
struct FileBrowser {
    static constexpr std::uint32_t kNoAnchor = 9999999;

    // Starts in `startFolder` (the fallback after every error) and offers
    // `drives` in the drive combo.
    FileBrowser(std::filesystem::path startFolder, std::vector<std::filesystem::path> drives);

    int width = 700;
    int height = 450;
    bool multipleSelection = true;
    std::string title = "file browser";
    std::string popupLabel;
    bool openRequested = false;
    bool confirmed = false;
    std::string statusText;
    std::vector<std::string> filters;
    std::uint32_t filterIndex = 0;
    bool combinedFilterFirst = false;
    std::filesystem::path startFolder;
    std::filesystem::path currentFolder;
    std::set<std::string> selectedNames;  // ordered by bytes: case-sensitive
    std::vector<FileEntry> entries;
    std::uint32_t rangeAnchor = kNoAnchor;
    // Root, home folder and mount points, fixed at construction.
    std::vector<std::filesystem::path> drives;
    // Indices of the entries the list shows (filter passed, not hidden),
    // rebuilt when the listing or the filter changes rather than per frame.
    std::vector<std::uint32_t> visible;

    void SetExtensionFilters(const std::vector<std::string>& list);
    void SetFilterIndex(std::uint32_t index);
    // Lists the current folder again, empties the selection and the status
    // text, and asks Draw to open the popup.
    void Open();
    bool IsConfirmed() const { return confirmed; }
    // currentFolder joined with each selected name, in name order.
    std::vector<std::filesystem::path> GetSelectedPaths() const;
    void ClearSelection();
    // False after an error, which statusText reports; the starting folder is
    // listed instead.
    bool ChangeDirectory(const std::filesystem::path& path);
    // False after an error (reported, starting folder listed).
    bool RefreshListing();
    // The "*" button: lists again and keeps only the names still there.
    void Reload();

    // Whether a file's extension passes the chosen filter.
    bool ExtensionMatches(const FileEntry& entry) const;
    // A file the user may pick here: passes the filter and is not hidden.
    bool Pickable(std::uint32_t index) const;

    // A click on entry `index` with the modifier keys held.
    void Click(std::uint32_t index, bool ctrl, bool shift);
    // A double-click: a folder is entered (false: the listing failed and the
    // starting folder is shown), a file becomes the confirmed selection.
    bool DoubleClick(std::uint32_t index);
    // Ctrl+A: every pickable file.
    void SelectAll();
    // " ok ": confirms a selection that is not empty.
    bool Confirm();

    // The folder that holds currentFolder among `drives`: the longest one
    // that is a prefix of it ("/" when none other is).
    std::size_t CurrentDrive() const;
    // The path buttons: "/" and then each folder name of currentFolder, with
    // the path each one leads to.
    std::vector<std::pair<std::string, std::filesystem::path>> PathButtons() const;

    // Draws the popup, when open, and acts on what the user does.
    void Draw();

private:
    bool ListFolder(const std::filesystem::path& folder, std::string* error);
    void Fail(const std::string& error);
    void RebuildVisible();
};

// Hidden from the listing (a recycle-bin folder, say).
bool HiddenName(const std::string& name);
// The name as UTF-8 that draws on one line: invalid sequences and control
// characters become U+FFFD.
std::string DisplayName(const std::string& name);

}  // namespace qv
