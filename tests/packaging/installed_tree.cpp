// Installs the build once for the tests that look at an installed QV.
#include "tests/packaging/installed_tree.h"

#include <memory>

#include "tests/support/command_output.h"

namespace qv {

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

const InstalledTree* InstalledTree::Get(std::string* failure) {
    static std::unique_ptr<InstalledTree> tree;
    static std::string reason;
    static bool tried = false;
    if (!tried) {
        tried = true;
        auto made = std::make_unique<InstalledTree>();
        made->prefix_ = made->folder_.path() / "prefix";
        const CommandRun run = RunCommand(Quoted(QV_CMAKE) + " --install " + Quoted(QV_BUILD_DIR) +
                                          " --prefix " + Quoted(made->prefix_.string()) + " 2>&1");
        if (run.status == 0) {
            tree = std::move(made);
        } else {
            reason = "cmake --install failed (" + std::to_string(run.status) + "):\n" + run.output;
        }
    }
    *failure = reason;
    return tree.get();
}

}  // namespace qv
