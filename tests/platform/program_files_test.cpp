// The player's own files are found from the build folder, from an installed prefix, and from
// anywhere it starts.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/program_files.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

// Runs in `folder` for its lifetime, then returns to where it was.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::filesystem::path& folder)
        : before_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(before_); }

private:
    std::filesystem::path before_;
};

const std::filesystem::path kRamp = std::filesystem::path("Assets/Images/toon/toon01.bmp");

}  // namespace

TEST(ProgramFiles, InstalledFoldersSitBesideBinUnderTheSamePrefix) {
    EXPECT_EQ(InstalledDataFolder("/opt/qv/bin"), "/opt/qv/share/qv");
    EXPECT_EQ(InstalledHelperFolder("/opt/qv/bin"), "/opt/qv/libexec/qv");
    EXPECT_EQ(InstalledDataFolder("/usr/bin/"), "/usr/share/qv");
}

TEST(ProgramFiles, TheWorkingFolderThenBesideTheProgramThenTheInstalledData) {
    const TempFolder root;
    const std::filesystem::path bin = root.path() / "prefix/bin";
    std::filesystem::create_directories(bin);
    const std::filesystem::path elsewhere = root.path() / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    const WorkingFolder here(elsewhere);

    EXPECT_TRUE(FindProgramFile(kRamp, bin).empty());
    EXPECT_TRUE(FindProgramFile(kRamp, {}).empty());

    const std::filesystem::path installed = root.Write("prefix/share/qv" / kRamp, "ramp");
    EXPECT_EQ(FindProgramFile(kRamp, bin), installed);

    const std::filesystem::path beside = root.Write("prefix/bin" / kRamp, "ramp");
    EXPECT_EQ(FindProgramFile(kRamp, bin), beside);

    root.Write("elsewhere" / kRamp, "ramp");
    EXPECT_EQ(FindProgramFile(kRamp, bin), kRamp);
}

TEST(ProgramFiles, AFolderOfTheFilesNameIsNotTheFile) {
    const TempFolder root;
    std::filesystem::create_directories(root.path() / "prefix/share/qv" / kRamp);
    EXPECT_TRUE(FindProgramFile(kRamp, root.path() / "prefix/bin").empty());
}

TEST(ProgramFiles, AProgramInABuildFolderFindsThatFolder) {
    const TempFolder root;
    root.Write("build/CMakeCache.txt", "");
    std::filesystem::create_directories(root.path() / "build/tests/render");
    EXPECT_EQ(BuildFolderAbove(root.path() / "build/tests/render"), root.path() / "build");
    EXPECT_EQ(BuildFolderAbove(root.path() / "build"), root.path() / "build");
    std::filesystem::create_directories(root.path() / "prefix/bin");
    EXPECT_TRUE(BuildFolderAbove(root.path() / "prefix/bin").empty());
    EXPECT_TRUE(BuildFolderAbove({}).empty());
}

TEST(ProgramFiles, TheRunningProgramKnowsItsFolder) {
    const std::filesystem::path folder = RunningProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    // This test runs where it was built.
    EXPECT_FALSE(BuildFolderAbove(folder).empty());
}

}  // namespace qv
