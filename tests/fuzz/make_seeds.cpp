// Writes the seed inputs of a fuzzer: generated files with every record kind
// and, when given the shared content folder, the real files of that kind.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "tests/support/content_writers.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

void Write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

}  // namespace qv

using namespace qv;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: qv-fuzz-seeds pmx|vmd OUTDIR [CONTENTDIR]\n";
        return 2;
    }
    const std::string kind = argv[1];
    const fs::path out = argv[2];
    fs::create_directories(out);
    if (kind == "pmx") {
        PmxModel sample = SamplePmxModel();
        Write(out / "sample-utf16.pmx", EncodePmx(sample));
        sample.textEncoding = 1;
        sample.version = 2.1f;
        sample.vertexIndexSize = sample.boneIndexSize = 4;
        Write(out / "sample-utf8.pmx", EncodePmx(sample));
    } else {
        VmdFile f;
        f.bones = {{"\x83\x5A\x83\x93\x83\x5E\x81\x5B", 0}, {"arm", 10}};
        f.morphs = {{"\x82\xA0", 0, 1.0f}};
        f.cameras.resize(1);
        f.lights.resize(1);
        f.shadows.resize(1);
        Write(out / "sample.vmd", EncodeVmd(f));
    }
    if (argc > 3 && fs::is_directory(argv[3])) {
        // Real files up to 512 KiB: larger ones slow every run to a crawl.
        for (const auto& entry : fs::recursive_directory_iterator(argv[3])) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
            if (entry.is_regular_file() && ext == "." + kind && entry.file_size() <= 512 * 1024) {
                fs::copy_file(entry.path(), out / entry.path().filename(),
                              fs::copy_options::overwrite_existing);
            }
        }
    }
    return 0;
}
