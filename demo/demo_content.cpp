// Hands out the demo's files from memory, or writes them to a folder for a normal import.
#include "demo/demo_content.h"

#include <unistd.h>

#include <fstream>
#include <system_error>

namespace qv {

std::vector<DemoFile> DemoFiles() {
    return {
        {kDemoModelFile, EncodePmx(DemoModel())},
        {kDemoMotionFile, EncodeVmd(DemoMotion())},
        {kDemoSongFile, DemoSong()},
        {kDemoTextureFile, DemoTexture()},
    };
}

Result WriteDemoContent(const std::filesystem::path& folder,
                        std::vector<std::filesystem::path>* imports) {
    imports->clear();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return Result::Failure(E_FAIL,
                               "cannot make the folder " + folder.string() + ": " + ec.message());
    }
    for (const DemoFile& file : DemoFiles()) {
        const std::filesystem::path path = folder / file.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.bytes.data()),
                  static_cast<std::streamsize>(file.bytes.size()));
        out.close();
        if (!out) {
            imports->clear();
            return Result::Failure(E_FAIL, "cannot write " + path.string());
        }
        if (file.name != kDemoTextureFile) {
            imports->push_back(path);
        }
    }
    return {};
}

DemoFolder::~DemoFolder() {
    Remove();
}

void DemoFolder::Remove() {
    if (!folder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        folder_.clear();
    }
}

Result DemoFolder::Create() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        base = "/tmp";
    }
    folder_ = base / ("qv-demo-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_, ec);
    return WriteDemoContent(folder_, &imports_);
}

}  // namespace qv
