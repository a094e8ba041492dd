// One install of the build into a temporary prefix, shared by the tests that read it.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/temp_file.h"

namespace qv {

// `cmake --install` of this build into a fresh prefix, done once per test
// program; the prefix goes when the program ends.
class InstalledTree {
public:
    // Null, with the reason in `failure`, when the install failed.
    static const InstalledTree* Get(std::string* failure);
    const std::filesystem::path& prefix() const { return prefix_; }

private:
    TempFolder folder_;
    std::filesystem::path prefix_;
};

// Single-quotes `text` for the shell.
std::string Quoted(const std::string& text);

#define REQUIRE_INSTALLED(tree)                                      \
    std::string installFailure;                                      \
    const InstalledTree* tree = InstalledTree::Get(&installFailure); \
    ASSERT_NE(tree, nullptr) << installFailure

}  // namespace qv
