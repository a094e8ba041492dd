// qv-inspect: loads content files with the player's own readers and prints
// what they hold, so a user can see why a file does or does not play.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "formats/pmd_model.h"
#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "platform/version.h"
#include "tools/inspect_report.h"
#include "tools/x_report.h"

namespace qv {

namespace {

void PrintUsage(std::ostream& out) {
    out << "Usage: qv-inspect [--json] FILE...\n"
           "Loads each PMX or PMD model (.pmx, .pmd), VMD motion (.vmd) and accessory (.x)\n"
           "and prints a summary:\n"
           "header fields, section counts, morph counts by type and names, with a\n"
           "warning for every index that points outside its list.\n"
           "  --json      one JSON object per file and line\n"
           "  --help      show this text\n"
           "  --version   show the version\n"
           "Exit status: 0 when every file loaded, 1 when any failed, 2 on bad usage.\n";
}

std::string LowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// Loads `file` into a `Content` with `load` (returning a Result) and prints its
// report; on failure prints `failure`, the reader's reason and its code instead
// and returns false.
template <typename Content>
bool InspectFile(const std::string& file, bool json, const char* failure, const auto& load,
                 const auto& reportJson, const auto& reportText) {
    Content content;
    if (const Result loaded = load(content, file); !loaded.ok()) {
        const std::string error =
            loaded.message.empty() ? failure : std::string(failure) + " " + loaded.message;
        if (json) {
            std::cout << FailureJson(file, error, loaded.code).dump() << "\n";
        } else {
            std::cout << file << "\n  " << error << " (" << FormatResult(loaded.code) << ")\n";
        }
        return false;
    }
    std::cout << (json ? reportJson(file, content).dump() + "\n" : reportText(file, content));
    return true;
}

// The readers that say only a code, as loaders returning a Result without a reason.
template <auto Load>
constexpr auto CodeOnly = [](auto& content, const std::filesystem::path& file) {
    return Result{Load(content, file), {}};
};

}  // namespace

}  // namespace qv

using namespace qv;

int main(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(std::cout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "qv-inspect " << kVersion << "\n";
            return 0;
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) {
        PrintUsage(std::cerr);
        return 2;
    }
    bool anyFailed = false;
    for (const std::string& file : files) {
        const std::string ext = LowerExtension(file);
        if (ext == ".pmx") {
            anyFailed |=
                !InspectFile<PmxModel>(file, json, "Failed to load PMX model!",
                                       CodeOnly<LoadPmxModel>, PmxReportJson, PmxReportText);
        } else if (ext == ".pmd") {
            anyFailed |=
                !InspectFile<PmxModel>(file, json, "Failed to load PMD model!",
                                       CodeOnly<LoadPmdModel>, PmxReportJson, PmxReportText);
        } else if (ext == ".vmd") {
            anyFailed |=
                !InspectFile<VmdMotion>(file, json, "Failed to load VMD motion!",
                                        CodeOnly<LoadVmdMotion>, VmdReportJson, VmdReportText);
        } else if (ext == ".x") {
            anyFailed |= !InspectFile<XModel>(file, json, "Failed to load accessory!", LoadXModel,
                                              XReportJson, XReportText);
        } else {
            anyFailed = true;
            const std::string error =
                "Not a PMX or PMD model, VMD motion or accessory (expected .pmx, .pmd, .vmd or .x)";
            if (json) {
                std::cout << FailureJson(file, error, E_INVALIDARG).dump() << "\n";
            } else {
                std::cout << file << "\n  " << error << "\n";
            }
        }
    }
    return anyFailed ? 1 : 0;
}
