// A content file's folder must be one that the files it names resolve against.
#include "platform/path_parts.h"

#include <gtest/gtest.h>

namespace qv {

TEST(PathParts, FolderAlwaysEndsWithOneSlash) {
    EXPECT_EQ(FolderOf("/models/a/m.pmx"), "/models/a/");
    EXPECT_EQ(FileNameOf("/models/a/m.pmx"), "m.pmx");
    EXPECT_EQ(FolderOf("/m.pmx"), "/");
    // A bare name lives in the working folder, not in the root.
    EXPECT_EQ(FolderOf("m.pmx"), "./");
    EXPECT_EQ(FolderOf("models/a//m.pmx"), "models/a/");
}

}  // namespace qv
