// qv-inspect: loads content files with the player's own readers and prints
// what they hold, so a user can see why a file does or does not play.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "tools/inspect_report.h"

namespace qv {

namespace {

void PrintUsage(std::ostream& out) {
    out << "usage: qv-inspect [--json] FILE...\n"
           "Loads each PMX model (.pmx) and VMD motion (.vmd) and prints a summary:\n"
           "header fields, section counts, morph counts by type and names, with a\n"
           "warning for every index that points outside its list.\n"
           "  --json   one JSON object per file and line\n"
           "Exit status: 0 when every file loaded, 1 when any failed, 2 on bad usage.\n";
}

std::string LowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

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
            PmxModel model;
            HRESULT hr = LoadPmxModel(model, file);
            if (Failed(hr)) {
                anyFailed = true;
                if (json) {
                    std::cout << FailureJson(file, "Failed to load PMX model!", hr).dump() << "\n";
                } else {
                    std::cout << file << "\n  Failed to load PMX model! (" << FormatResult(hr)
                              << ")\n";
                }
                continue;
            }
            std::cout << (json ? PmxReportJson(file, model).dump() + "\n"
                               : PmxReportText(file, model));
        } else if (ext == ".vmd") {
            VmdMotion motion;
            HRESULT hr = LoadVmdMotion(motion, file);
            if (Failed(hr)) {
                anyFailed = true;
                if (json) {
                    std::cout << FailureJson(file, "Failed to load VMD motion!", hr).dump() << "\n";
                } else {
                    std::cout << file << "\n  Failed to load VMD motion! (" << FormatResult(hr)
                              << ")\n";
                }
                continue;
            }
            std::cout << (json ? VmdReportJson(file, motion).dump() + "\n"
                               : VmdReportText(file, motion));
        } else {
            anyFailed = true;
            const std::string error = "Not a PMX model or VMD motion (expected .pmx or .vmd)";
            if (json) {
                std::cout << FailureJson(file, error, E_INVALIDARG).dump() << "\n";
            } else {
                std::cout << file << "\n  " << error << "\n";
            }
        }
    }
    return anyFailed ? 1 : 0;
}
