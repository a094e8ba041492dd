// The version the windows show is the one the package and --version give.
#include <gtest/gtest.h>

#include <string>

#include "platform/version.h"

namespace qv {

TEST(Version, TheWindowsPartsMakeUpTheWholeVersion) {
    EXPECT_EQ(std::string(kVersionMajor) + "." + kVersionBuild, kVersion);
    // "Version 0 build 2024.10.27": the build keeps every part after the first.
    EXPECT_EQ(std::string(kVersionMajor).find('.'), std::string::npos);
}

}  // namespace qv
