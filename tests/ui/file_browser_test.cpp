// The file browser's listing and selection rules on real temporary folders, and one pick driven
// through Dear ImGui.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/mount_points.h"
#include "scene/scene.h"
#include "tests/support/temp_file.h"
#include "tests/ui/interface_driver.h"
#include "ui/file_browser.h"
#include "ui/main_windows.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

// A fresh folder tree, removed with the object.
class TempTree {
public:
    const fs::path& root() const { return folder_.path(); }
    fs::path File(const std::string& relative) const { return folder_.Write(relative, "x"); }
    fs::path Folder(const std::string& relative) const {
        fs::create_directories(root() / relative);
        return root() / relative;
    }

private:
    TempFolder folder_;
};

std::vector<std::string> ShownLabels(const FileBrowser& browser) {
    std::vector<std::string> labels;
    for (std::uint32_t index : browser.visible) {
        labels.push_back(browser.entries[index].label);
    }
    return labels;
}

std::uint32_t IndexOf(const FileBrowser& browser, const std::string& name) {
    for (std::uint32_t i = 0; i < browser.entries.size(); ++i) {
        if (browser.entries[i].name == name) {
            return i;
        }
    }
    ADD_FAILURE() << name << " is not listed";
    return FileBrowser::kNoAnchor;
}

std::vector<std::string> Selected(const FileBrowser& browser) {
    return {browser.selectedNames.begin(), browser.selectedNames.end()};
}

FileBrowser BrowserIn(const fs::path& folder) {
    FileBrowser browser(folder, {"/"});
    browser.SetExtensionFilters({".pmx", ".VMD", ".vmd", ".wav", ".hlsl"});
    return browser;
}

TEST(FileBrowserTest, FiltersAreLowerCasedOnceAndCombinedUnlessOneTakesAll) {
    FileBrowser browser("/", {"/"});
    browser.SetExtensionFilters({".pmx", ".VMD", ".vmd", ".wav", ".hlsl"});
    EXPECT_EQ(browser.filters,
              (std::vector<std::string>{".pmx,.vmd,.wav,.hlsl", ".pmx", ".vmd", ".wav", ".hlsl"}));
    EXPECT_TRUE(browser.combinedFilterFirst);
    browser.SetExtensionFilters({".pmx", ".*"});
    EXPECT_EQ(browser.filters, (std::vector<std::string>{".pmx", ".*"}));
    EXPECT_FALSE(browser.combinedFilterFirst);
    browser.SetExtensionFilters({".wav"});
    EXPECT_EQ(browser.filters, (std::vector<std::string>{".wav"}));
    EXPECT_FALSE(browser.combinedFilterFirst);
    // Only A to Z are lowered: the letters at the ends, and not the signs beside them.
    browser.SetExtensionFilters({".AZ@[`{"});
    EXPECT_EQ(browser.filters, (std::vector<std::string>{".az@[`{"}));
}

TEST(FileBrowserTest, ListsFoldersFirstCaseSensitivelyAndHidesDollarNames) {
    TempTree tree;
    for (const char* name : {"Dance.VMD", "readme.txt", "a.pmx", "A.pmx", "$hidden.pmx", "song.wav",
                             ".pmx", "star*.pmx", "line\nbreak.pmx"}) {
        tree.File(name);
    }
    tree.Folder("zfolder");
    tree.Folder("$RECYCLE.BIN");
    tree.Folder("Bfolder");
    // A named pipe is neither a file to open nor a folder: not listed.
    ASSERT_EQ(mkfifo((tree.root() / "pipe.pmx").c_str(), 0600), 0);
    FileBrowser browser = BrowserIn(tree.root());
    // A name of only a leading dot has no extension; a newline shows as U+FFFD.
    EXPECT_EQ(ShownLabels(browser),
              (std::vector<std::string>{"[D] ..", "[D] Bfolder", "[D] zfolder", "[F] A.pmx",
                                        "[F] Dance.VMD", "[F] a.pmx",
                                        "[F] line\xEF\xBF\xBD"
                                        "break.pmx",
                                        "[F] song.wav", "[F] star*.pmx"}));
    browser.SetFilterIndex(3);  // ".wav": every folder, only songs
    EXPECT_EQ(ShownLabels(browser),
              (std::vector<std::string>{"[D] ..", "[D] Bfolder", "[D] zfolder", "[F] song.wav"}));
    browser.SetFilterIndex(2);  // ".vmd" matches an upper-case extension
    EXPECT_EQ(ShownLabels(browser).back(), "[F] Dance.VMD");
    // An index past the filters filters nothing.
    browser.SetFilterIndex(static_cast<std::uint32_t>(browser.filters.size()));
    const auto all = ShownLabels(browser);
    EXPECT_NE(std::find(all.begin(), all.end(), "[F] readme.txt"), all.end());
    // A new list of filters starts again from its first.
    browser.SetExtensionFilters({".wav", ".pmx"});
    EXPECT_EQ(browser.filterIndex, 0u);
}

TEST(FileBrowserTest, ClicksCtrlClicksAndConfirmationFollowTheRules) {
    TempTree tree;
    for (const char* name : {"c.pmx", "a.pmx", "b.vmd", "d.wav"}) {
        tree.File(name);
    }
    tree.Folder("sub");
    FileBrowser browser = BrowserIn(tree.root());
    EXPECT_FALSE(browser.Confirm());  // nothing selected: the popup stays
    // Three files Ctrl-clicked out of order come back in name order.
    for (const char* name : {"c.pmx", "a.pmx", "d.wav"}) {
        browser.Click(IndexOf(browser, name), true, false);
    }
    ASSERT_TRUE(browser.Confirm());
    EXPECT_EQ(browser.GetSelectedPaths(),
              (std::vector<fs::path>{tree.root() / "a.pmx", tree.root() / "c.pmx",
                                     tree.root() / "d.wav"}));
    browser.ClearSelection();
    EXPECT_FALSE(browser.IsConfirmed());
    browser.Click(IndexOf(browser, "a.pmx"), false, false);
    browser.Click(IndexOf(browser, "b.vmd"), true, false);
    browser.Click(IndexOf(browser, "sub"), true, false);  // Ctrl on a folder changes nothing
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"a.pmx", "b.vmd"}));
    browser.Click(IndexOf(browser, "a.pmx"), true, false);  // Ctrl on a selected file drops it
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"b.vmd"}));
    browser.Click(IndexOf(browser, "c.pmx"), true, false);
    browser.Click(IndexOf(browser, "b.vmd"), false, false);  // a plain click keeps only it
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"b.vmd"}));
    browser.Click(IndexOf(browser, "sub"), false, false);  // a folder without Ctrl empties
    EXPECT_TRUE(browser.selectedNames.empty());
    // A row one past the listing is no row.
    const auto past = static_cast<std::uint32_t>(browser.entries.size());
    EXPECT_FALSE(browser.Pickable(past));
    browser.Click(past, false, false);
    EXPECT_FALSE(browser.DoubleClick(past));
    EXPECT_TRUE(browser.selectedNames.empty());
    // A double-click on a file confirms it alone.
    browser.Click(IndexOf(browser, "c.pmx"), false, false);
    ASSERT_TRUE(browser.DoubleClick(IndexOf(browser, "d.wav")));
    EXPECT_TRUE(browser.IsConfirmed());
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"d.wav"}));
}

TEST(FileBrowserTest, ShiftRangesSkipFoldersFilteredAndHiddenFiles) {
    TempTree tree;
    for (const char* name : {"1.pmx", "2.txt", "3.vmd", "$4.pmx", "5.wav", "6.pmx"}) {
        tree.File(name);
    }
    tree.Folder("f1");
    tree.Folder("f2");
    FileBrowser browser = BrowserIn(tree.root());
    // The anchor starts on the first file that passes the filter.
    EXPECT_EQ(browser.rangeAnchor, IndexOf(browser, "1.pmx"));
    browser.Click(IndexOf(browser, "5.wav"), false, true);
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"1.pmx", "3.vmd", "5.wav"}));
    // From a file back across both folders: the folders are not picked.
    browser.Click(IndexOf(browser, "3.vmd"), false, false);
    browser.Click(IndexOf(browser, "f1"), false, true);  // Shift on a folder: a plain folder click
    EXPECT_TRUE(browser.selectedNames.empty());
    browser.Click(IndexOf(browser, "6.pmx"), false, true);
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"3.vmd", "5.wav", "6.pmx"}));
    // After a Ctrl-click the range runs from the file Ctrl-clicked last, and
    // replaces what Ctrl picked.
    browser.Click(IndexOf(browser, "1.pmx"), false, false);
    browser.Click(IndexOf(browser, "6.pmx"), true, false);
    browser.Click(IndexOf(browser, "3.vmd"), false, true);
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"3.vmd", "5.wav", "6.pmx"}));
    // Ctrl+A takes every file the chosen filter shows, never a hidden one.
    browser.SetFilterIndex(1);  // ".pmx"
    browser.SelectAll();
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"1.pmx", "6.pmx"}));
    // Without a file that passes the filter there is no anchor: Shift acts as a click.
    TempTree other;
    other.File("x.wav");
    FileBrowser lone(other.root(), {"/"});
    lone.SetExtensionFilters({".pmx", ".wav"});
    lone.SetFilterIndex(1);
    ASSERT_TRUE(lone.ChangeDirectory(other.root()));
    EXPECT_EQ(lone.rangeAnchor, FileBrowser::kNoAnchor);
    lone.SetFilterIndex(2);
    lone.Click(IndexOf(lone, "x.wav"), false, true);
    EXPECT_EQ(Selected(lone), (std::vector<std::string>{"x.wav"}));
    // An anchor the listing no longer reaches starts no range.
    browser.rangeAnchor = static_cast<std::uint32_t>(browser.entries.size());
    browser.Click(IndexOf(browser, "1.pmx"), false, true);
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"1.pmx"}));
    // A browser that picks one file takes a Shift-click as a plain click.
    browser.multipleSelection = false;
    browser.Click(IndexOf(browser, "1.pmx"), false, false);
    browser.Click(IndexOf(browser, "6.pmx"), false, true);
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"6.pmx"}));
}

TEST(FileBrowserTest, DoubleClicksClimbAndEnterFoldersAndStopAtTheRoot) {
    TempTree tree;
    tree.File("sub/inner.pmx");
    tree.File("top.pmx");
    FileBrowser browser = BrowserIn(tree.root());
    browser.Click(IndexOf(browser, "top.pmx"), false, false);
    ASSERT_TRUE(browser.DoubleClick(IndexOf(browser, "sub")));
    EXPECT_EQ(browser.currentFolder, tree.root() / "sub");
    EXPECT_TRUE(browser.selectedNames.empty());
    ASSERT_TRUE(browser.DoubleClick(IndexOf(browser, "..")));
    EXPECT_EQ(browser.currentFolder, tree.root());
    // A typed path with trailing slashes names the same folder.
    ASSERT_TRUE(browser.ChangeDirectory(tree.root().string() + "/sub//"));
    EXPECT_EQ(browser.currentFolder, tree.root() / "sub");
    ASSERT_TRUE(browser.ChangeDirectory("/"));
    ASSERT_TRUE(browser.DoubleClick(IndexOf(browser, "..")));
    EXPECT_EQ(browser.currentFolder, fs::path("/"));
    EXPECT_EQ(browser.PathButtons().size(), 1u);
    // The path buttons lead back down, one folder per button.
    ASSERT_TRUE(browser.ChangeDirectory(tree.root() / "sub"));
    const auto buttons = browser.PathButtons();
    EXPECT_EQ(buttons.front().first, "/");
    EXPECT_EQ(buttons.back().first, "sub");
    EXPECT_EQ(buttons[buttons.size() - 2].second, tree.root());
}

TEST(FileBrowserTest, FailuresReportAndFallBackToTheStartingFolder) {
    TempTree tree;
    tree.File("start.pmx");
    tree.File("gone/soon.pmx");
    tree.File("gone/kept.pmx");
    FileBrowser browser = BrowserIn(tree.root());
    ASSERT_TRUE(browser.ChangeDirectory(tree.root() / "gone"));
    browser.Click(IndexOf(browser, "soon.pmx"), false, false);
    browser.Click(IndexOf(browser, "kept.pmx"), true, false);
    // A selected file deleted elsewhere leaves the selection on "*".
    fs::remove(tree.root() / "gone/soon.pmx");
    browser.Reload();
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"kept.pmx"}));
    EXPECT_EQ(browser.statusText, "");
    // The folder itself vanishes: the start folder is listed, with the reason.
    fs::remove_all(tree.root() / "gone");
    browser.Reload();
    EXPECT_EQ(browser.currentFolder, tree.root());
    EXPECT_TRUE(browser.selectedNames.empty());
    EXPECT_TRUE(browser.statusText.starts_with("last error: ")) << browser.statusText;
    EXPECT_NE(browser.statusText.find("gone"), std::string::npos) << browser.statusText;
    EXPECT_NE(IndexOf(browser, "start.pmx"), FileBrowser::kNoAnchor);
    // A path far longer than the system allows, and a missing drive, alike.
    EXPECT_FALSE(browser.ChangeDirectory(tree.root() / std::string(4000, 'x')));
    EXPECT_EQ(browser.currentFolder, tree.root());
    // Open clears the report of the last failure, lists the folder afresh
    // and forgets the last pick.
    tree.File("late.pmx");
    browser.Click(IndexOf(browser, "start.pmx"), false, false);
    ASSERT_TRUE(browser.Confirm());
    browser.Open();
    EXPECT_EQ(browser.statusText, "");
    EXPECT_TRUE(browser.openRequested);
    EXPECT_FALSE(browser.IsConfirmed());
    EXPECT_TRUE(browser.selectedNames.empty());
    EXPECT_NE(IndexOf(browser, "late.pmx"), FileBrowser::kNoAnchor);
    EXPECT_FALSE(browser.ChangeDirectory("/no/such/medium"));
    EXPECT_TRUE(browser.statusText.starts_with("last error: "));
    EXPECT_NE(browser.statusText.find("/no/such/medium"), std::string::npos) << browser.statusText;
    browser.Open();
    // A path the system cannot even make absolute is refused with its reason.
    EXPECT_FALSE(browser.ChangeDirectory(""));
    EXPECT_GT(browser.statusText.size(), std::string("last error: ").size()) << browser.statusText;
    EXPECT_EQ(browser.currentFolder, tree.root());
    // The starting folder gone too: only ".." is left, to climb out by.
    tree.File("sub/inner.pmx");
    ASSERT_TRUE(browser.ChangeDirectory(tree.root() / "sub"));
    fs::remove_all(tree.root());
    browser.Reload();
    ASSERT_EQ(browser.entries.size(), 1u);
    EXPECT_EQ(browser.entries[0].name, "..");
    EXPECT_EQ(ShownLabels(browser), (std::vector<std::string>{"[D] .."}));
    EXPECT_TRUE(browser.statusText.starts_with("last error: "));
}

TEST(FileBrowserTest, LinkLoopsAndForeignNamesListAndStillOpen) {
    TempTree tree;
    tree.File("model.pmx");
    for (const char* loop : {"loop", "loop-b", "loop-c"}) {
        fs::create_symlink(tree.root() / loop, tree.root() / loop);
    }
    fs::create_directory_symlink(tree.root(), tree.root() / "self");
    const std::string latin1 = "caf\xE9.pmx";  // not UTF-8
    tree.File(latin1);
    FileBrowser browser = BrowserIn(tree.root());
    // The loops are left out with a note on the first; the rest of the folder lists.
    EXPECT_TRUE(browser.statusText.starts_with("last error: ")) << browser.statusText;
    EXPECT_NE(browser.statusText.find("loop"), std::string::npos);
    EXPECT_TRUE(browser.statusText.ends_with(" (and 2 more)")) << browser.statusText;
    const std::uint32_t foreign = IndexOf(browser, latin1);
    EXPECT_EQ(browser.entries[foreign].label, "[F] caf\xEF\xBF\xBD.pmx");
    browser.Click(foreign, false, false);
    ASSERT_EQ(browser.GetSelectedPaths().size(), 1u);
    EXPECT_TRUE(fs::exists(browser.GetSelectedPaths()[0]));
    // A link to a folder is a folder; following it in a circle just goes deeper.
    ASSERT_TRUE(browser.DoubleClick(IndexOf(browser, "self")));
    EXPECT_EQ(browser.currentFolder, tree.root() / "self");
    EXPECT_NE(IndexOf(browser, "model.pmx"), FileBrowser::kNoAnchor);
    // One loop left is named alone, with no count of others.
    fs::remove(tree.root() / "loop-b");
    fs::remove(tree.root() / "loop-c");
    ASSERT_TRUE(browser.ChangeDirectory(tree.root()));
    EXPECT_TRUE(browser.statusText.starts_with("last error: ")) << browser.statusText;
    EXPECT_EQ(browser.statusText.find("more"), std::string::npos) << browser.statusText;
}

TEST(FileBrowserTest, DisplayNamesReplaceBrokenSequencesAndControls) {
    EXPECT_EQ(DisplayName("\xE3\x83\xA2\xE3\x83\x87\xE3\x83\xAB.pmx"),
              "\xE3\x83\xA2\xE3\x83\x87\xE3\x83\xAB.pmx");
    EXPECT_EQ(DisplayName("a\xC0\xAF"
                          "b"),
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");                                                                  // overlong "/"
    EXPECT_EQ(DisplayName("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(DisplayName("\xED\xBF\xBF"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // the last one
    EXPECT_EQ(DisplayName("tab\there"), "tab\xEF\xBF\xBDhere");
    // The last control character and DEL are replaced; a space is text.
    EXPECT_EQ(DisplayName("a\x1F\x7F b"), "a\xEF\xBF\xBD\xEF\xBF\xBD b");
    EXPECT_EQ(DisplayName("cut\xE3\x83"), "cut\xEF\xBF\xBD\xEF\xBF\xBD");
    // The smallest value of each length is not overlong, the largest character is text,
    // and one past it is not.
    EXPECT_EQ(DisplayName("\xC2\xA0\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"),
              "\xC2\xA0\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(DisplayName("\xF4\x90\x80\x80").rfind("\xEF\xBF\xBD", 0), 0u);
}

TEST(MountPointsTest, RealDevicesAndSharesOnlyWithEscapesDecoded) {
    const char* mounts =
        "proc /proc proc rw 0 0\n"
        "sysfs /sys sysfs rw 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n"
        "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
        "server:/export /mnt/nfs nfs4 rw 0 0\n"
        "//host/share /mnt/smb cifs rw 0 0\n"
        "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
        "overlay /var/lib/docker/x overlay rw 0 0\n"
        "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
        "broken-line\n";
    EXPECT_EQ(ParseMountPoints(mounts),
              (std::vector<fs::path>{"/", "/media/usb stick", "/mnt/nfs", "/mnt/smb"}));
    const auto drives = BrowserDrives("/home/someone/", mounts, [](const fs::path& path) {
        return path != "/mnt/smb";  // a share that is not reachable as a folder
    });
    EXPECT_EQ(drives,
              (std::vector<fs::path>{"/", "/home/someone", "/media/usb stick", "/mnt/nfs"}));
    FileBrowser browser("/", drives);
    browser.currentFolder = "/home/someone/models";
    EXPECT_EQ(browser.CurrentDrive(), 1u);
    browser.currentFolder = "/home/someoneelse";
    EXPECT_EQ(browser.CurrentDrive(), 0u);
    // The longest holder wins wherever it stands in the list.
    FileBrowser first("/", {"/home/someone", "/"});
    first.currentFolder = "/home/someone/models";
    EXPECT_EQ(first.CurrentDrive(), 0u);
    // A list that holds no drive of the folder still names one of its own.
    FileBrowser lone("/", {"/media/usb stick"});
    lone.currentFolder = "/home/someone";
    EXPECT_EQ(lone.CurrentDrive(), 0u);
}

TEST(FileBrowserTest, AThousandFilesGoAsOneBatchAndAFileDeletedMeanwhileIsReported) {
    TempTree tree;
    tree.File("m1.vmd");
    FileBrowser browser = BrowserIn(tree.root());
    // A listing of a thousand more, as a big folder would give it.
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "n" + std::to_string(i) + ".vmd";
        browser.entries.push_back({false, name, "[F] " + name, ".vmd"});
    }
    browser.SelectAll();
    EXPECT_EQ(browser.selectedNames.size(), 1001u);
    ASSERT_TRUE(browser.Confirm());
    {
        Scene busy;
        ASSERT_TRUE(HandOverBrowserSelection(browser, busy.importer));
        EXPECT_EQ(busy.importer.QueueSize(), 1001u);
        EXPECT_FALSE(browser.IsConfirmed());
        // While that batch runs, a new choice waits instead of being lost.
        browser.Click(IndexOf(browser, "m1.vmd"), false, false);
        ASSERT_TRUE(browser.Confirm());
        EXPECT_FALSE(HandOverBrowserSelection(browser, busy.importer));
        EXPECT_TRUE(browser.IsConfirmed());
    }
    fs::remove(tree.root() / "m1.vmd");  // gone between the pick and its import
    Scene scene;
    ASSERT_TRUE(HandOverBrowserSelection(browser, scene.importer));
    UiState ui;
    ModelSettingState setting;
    while (scene.importer.Busy()) {
        UpdateScene(scene, ui, setting, 0.0f);
        std::this_thread::yield();
    }
    EXPECT_NE(scene.importer.Status().find("m1.vmd"), std::string::npos) << scene.importer.Status();
    EXPECT_NE(scene.importer.Status().find("Failed to load VMD motion!"), std::string::npos);
}

// The browser drawn inside the tool windows' frame, picked from with the mouse.
TEST(FileBrowserTest, TwoFilesCtrlClickedAndConfirmedBecomeOneImportBatch) {
    TempTree tree;
    for (const char* name : {"a.pmx", "b.vmd", "c.wav"}) {
        tree.File(name);
    }
    Scene scene(std::make_unique<AudioEngine>());
    UiState ui;
    ui.showNavigator = false;
    ui.showStatistics = false;
    FileBrowser browser = BrowserIn(tree.root());
    InterfaceView view{scene, ui, {}, {}};
    view.fileBrowser = &browser;
    InterfaceDriver driver([&] { DrawInterface(view); });
    browser.Open();
    driver.Frames(3);
    const char* popup = browser.popupLabel.c_str();
    ASSERT_NE(driver.Window(popup), nullptr);
    EXPECT_NE(BrowserIn(tree.root()).popupLabel, browser.popupLabel);  // each popup its own id
    // A title bar names the popup; the filter combo beside the buttons shows
    // the chosen filter: at first all together.
    EXPECT_TRUE(driver.DrawnText(popup).starts_with("filebrowser")) << driver.DrawnText(popup);
    EXPECT_NE(driver.DrawnText(popup).find("cancel.pmx,.vmd,"), std::string::npos)
        << driver.DrawnText(popup);
    const ImGuiID list = InterfaceDriver::Id(popup, {"##list"});
    char childName[512];
    ImFormatString(childName, sizeof childName, "%s/%s_%08X", popup, "##list", list);
    const auto row = [&](const char* name) {
        return InterfaceDriver::Id(childName,
                                   {static_cast<int>(IndexOf(browser, name)), "##entry"});
    };
    // "*" lists again what the folder holds now.
    tree.File("d.pmx");
    ASSERT_TRUE(driver.Click(popup, InterfaceDriver::Id(popup, {"*"})));
    EXPECT_NE(IndexOf(browser, "d.pmx"), FileBrowser::kNoAnchor);
    // A double click on a folder's row enters it; the path buttons lead up,
    // and the drive combo to a drive's top.
    tree.Folder("sub");
    browser.Reload();
    driver.Frames(1);
    ImVec2 at;
    ASSERT_TRUE(driver.Find(childName, row("sub"), &at));
    driver.Io().MousePos = at;
    for (const bool down : {true, false, true, false}) {
        driver.Io().MouseDown[0] = down;
        driver.Frame();
    }
    driver.Io().MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    EXPECT_EQ(browser.currentFolder, tree.root() / "sub");
    driver.Frames(1);
    const auto buttons = browser.PathButtons();
    const int parent = static_cast<int>(buttons.size()) - 2;
    ASSERT_TRUE(
        driver.ClickIn(popup, {parent, buttons[static_cast<std::size_t>(parent)].first.c_str()}));
    EXPECT_EQ(browser.currentFolder, tree.root());
    // The drive combo shows the folder's drive as the selected one.
    ASSERT_TRUE(driver.ClickIn(popup, {"##select_drive"}));
    driver.Frame();
    {
        const std::string drives = GImGui->OpenPopupStack.back().Window->Name;
        ImVec2 root;
        ASSERT_TRUE(
            driver.Find(drives.c_str(), InterfaceDriver::Id(drives.c_str(), {0, "/"}), &root));
        driver.Io().MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        driver.Frame();
        EXPECT_TRUE(driver.Highlighted(drives.c_str(), root));
        ASSERT_TRUE(driver.ClickIn(drives.c_str(), {0, "/"}));
    }
    EXPECT_EQ(browser.currentFolder, fs::path("/"));
    // A folder that cannot be listed is reported beside the buttons.
    ASSERT_FALSE(browser.ChangeDirectory(tree.root() / "missing"));
    driver.Frame();
    std::string status = browser.statusText;
    std::erase(status, ' ');  // drawn text is read back without its spaces
    ASSERT_FALSE(status.empty());
    EXPECT_NE(driver.DrawnText(popup).find(status), std::string::npos) << driver.DrawnText(popup);
    ASSERT_TRUE(browser.ChangeDirectory(tree.root()));
    driver.Frames(1);
    // The filter combo offers every filter; a pick narrows the list.
    const auto chooseFilter = [&](int index, const char* filter) {
        return driver.Choose(popup, {"##type_filters"}, {index, filter});
    };
    ASSERT_TRUE(chooseFilter(3, ".wav"));
    EXPECT_EQ(browser.filterIndex, 3u);
    ASSERT_TRUE(chooseFilter(0, browser.filters[0].c_str()));
    EXPECT_EQ(browser.filterIndex, 0u);
    // Opened again, it shows the filter in use as the selected one.
    ASSERT_TRUE(driver.ClickIn(popup, {"##type_filters"}));
    driver.Frame();
    {
        const std::string filters = GImGui->OpenPopupStack.back().Window->Name;
        ImVec2 first, other;
        ASSERT_TRUE(driver.Find(
            filters.c_str(), InterfaceDriver::Id(filters.c_str(), {0, browser.filters[0].c_str()}),
            &first));
        ASSERT_TRUE(driver.Find(filters.c_str(), InterfaceDriver::Id(filters.c_str(), {3, ".wav"}),
                                &other));
        driver.Io().MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        driver.Frame();
        EXPECT_TRUE(driver.Highlighted(filters.c_str(), first));
        EXPECT_FALSE(driver.Highlighted(filters.c_str(), other));
        ASSERT_TRUE(driver.ClickIn(filters.c_str(), {0, browser.filters[0].c_str()}));
    }
    // Past the filters it shows none, and filters nothing.
    driver.Frame();
    const std::string shownFilter = browser.filters[0].substr(0, 9);  // as far as the combo shows
    ASSERT_EQ(shownFilter, ".pmx,.vmd");
    EXPECT_NE(driver.DrawnText(popup).find(shownFilter), std::string::npos);
    browser.SetFilterIndex(static_cast<std::uint32_t>(browser.filters.size()));
    driver.Frame();
    // An empty combo: the last error's report, then the list.
    EXPECT_NE(driver.DrawnText(popup).find(status + "[D].."), std::string::npos);
    browser.SetFilterIndex(0);
    // " ok " with nothing selected keeps the popup open.
    ASSERT_TRUE(driver.Click(popup, InterfaceDriver::Id(popup, {" ok "})));
    EXPECT_FALSE(browser.IsConfirmed());
    driver.Io().KeyCtrl = true;
    ASSERT_TRUE(driver.Click(childName, row("c.wav")));
    ASSERT_TRUE(driver.Click(childName, row("a.pmx")));
    driver.Io().KeyCtrl = false;
    EXPECT_EQ(Selected(browser), (std::vector<std::string>{"a.pmx", "c.wav"}));
    ASSERT_TRUE(driver.Click(popup, InterfaceDriver::Id(popup, {" ok "})));
    // The frame of the click handed the choice over and cleared it.
    EXPECT_FALSE(browser.IsConfirmed());
    EXPECT_TRUE(browser.selectedNames.empty());
    EXPECT_TRUE(scene.importer.Busy());
    EXPECT_EQ(scene.importer.QueueSize(), 2u);
    driver.Frames(2);
    EXPECT_EQ(driver.Window(popup)->Active, false);
}

// The drive combo is wide enough to show the whole name of the folder's drive.
TEST(FileBrowserTest, TheDriveComboShowsTheWholeNameOfALongDrive) {
    TempTree tree;
    const fs::path drive = tree.Folder("a-usb-stick-with-a-rather-long-name");
    FileBrowser browser(drive, {"/", drive});
    Scene scene(std::make_unique<AudioEngine>());
    UiState ui;
    ui.showNavigator = false;
    ui.showStatistics = false;
    InterfaceView view{scene, ui, {}, {}};
    view.fileBrowser = &browser;
    InterfaceDriver driver([&] { DrawInterface(view); });
    browser.Open();
    driver.Frames(3);
    std::string name = drive.string();
    std::erase(name, ' ');
    EXPECT_NE(driver.DrawnText(browser.popupLabel.c_str()).find(name), std::string::npos)
        << driver.DrawnText(browser.popupLabel.c_str());
    // The combo's width, measured by hovering along its row.
    const char* popup = browser.popupLabel.c_str();
    const ImGuiID combo = InterfaceDriver::Id(popup, {"##select_drive"});
    const auto comboWidth = [&] {
        ImVec2 at;
        if (!driver.Find(popup, combo, &at)) {
            return 0.0f;
        }
        const auto hovered = [&](float x) {
            driver.Io().MousePos = ImVec2(x, at.y);
            driver.Frame();
            return GImGui->HoveredId == combo;
        };
        float left = at.x;
        float right = at.x;
        while (left > 0.0f && hovered(left - 1.0f)) {
            left -= 1.0f;
        }
        while (right < 1280.0f && hovered(right + 1.0f)) {
            right += 1.0f;
        }
        return right - left + 1.0f;
    };
    // Just wide enough for the name beside the arrow, inside the frame's padding.
    const ImGuiStyle& style = ImGui::GetStyle();
    EXPECT_NEAR(comboWidth(),
                ImGui::CalcTextSize(drive.string().c_str()).x + ImGui::GetFrameHeight() +
                    2.0f * style.FramePadding.x,
                1.5f);

    // Opened, its list starts at the current drive, the second here.
    ASSERT_TRUE(driver.Click(popup, combo));
    driver.Frames(2);
    {
        const std::string list = GImGui->OpenPopupStack.back().Window->Name;
        EXPECT_EQ(GImGui->NavId, InterfaceDriver::Id(list.c_str(), {1, drive.string().c_str()}));
        ASSERT_TRUE(driver.ClickIn(list.c_str(), {1, drive.string().c_str()}));
    }

    // A short one keeps a width of its own, four font sizes.
    ASSERT_TRUE(browser.ChangeDirectory("/"));
    driver.Frames(2);
    EXPECT_NEAR(comboWidth(), 4.0f * ImGui::GetFontSize(), 1.5f);
}

}  // namespace

}  // namespace qv
