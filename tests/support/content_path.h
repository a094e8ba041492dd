// Lets tests that need real content skip cleanly where it is absent.
#pragma once

#include <filesystem>

namespace qv {

// The shared content folder beside the project (real files made by other
// people). Tests that need it call QV_REQUIRE_CONTENT first, which skips the
// test with a clear message when the folder is absent.
std::filesystem::path ContentDir();
bool HasContent();

#define QV_REQUIRE_CONTENT()                                                               \
    do {                                                                                   \
        if (!HasContent()) {                                                               \
            GTEST_SKIP() << "shared content folder not found at " << ContentDir().string() \
                         << " (set QV_CONTENT_DIR)";                                       \
        }                                                                                  \
    } while (0)

}  // namespace qv
