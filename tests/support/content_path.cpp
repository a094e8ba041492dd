// Finds the shared content folder from the environment or beside the project.
#include "tests/support/content_path.h"

#include <cstdlib>

namespace qv {

std::filesystem::path ContentDir() {
    if (const char* dir = std::getenv("QV_CONTENT_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return std::filesystem::path("..") / "shared" / "content";
}

bool HasContent() {
    std::error_code ec;
    return std::filesystem::is_directory(ContentDir() / "gene", ec);
}

}  // namespace qv
