// Finds the toon ramps by the working directory or the program, and uploads all or none.
#include "render/model/toon_textures.h"

#include <cstdio>
#include <vector>

#include "formats/rgba_image.h"
#include "platform/file_read.h"
#include "platform/program_files.h"
#include "render/model/model_resources.h"

namespace qv {

namespace {

const std::filesystem::path kToonFolder = std::filesystem::path("Assets") / "Images" / "toon";

}  // namespace

std::filesystem::path FindToonFolder() {
    return FindProgramFile(kToonFolder / "toon01.bmp", RunningProgramFolder()).parent_path();
}

Result LoadToonTextures(const GpuContext& gpu, std::array<OwnedImage, kToonCount>* out) {
    const std::filesystem::path folder = FindToonFolder();
    if (folder.empty()) {
        return Result::Failure(E_FAIL, "the toon textures (" + kToonFolder.string() +
                                           "/toon01.bmp ...) are neither in the working directory "
                                           "nor beside the program nor in its installed data "
                                           "folder");
    }
    Result result;
    for (std::uint32_t n = 0; n < kToonCount && result.ok(); ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "toon%02u.bmp", n + 1);
        const std::filesystem::path path = folder / name;
        std::vector<std::uint8_t> bytes;
        RgbaImage image;
        Result decoded = Result::Failure(E_FAIL, "the file cannot be read");
        if (Failed(ReadWholeFile(path, bytes)) || !(decoded = DecodeImage(bytes, image)).ok()) {
            result = Result::Failure(E_FAIL, "toon texture " + path.string() +
                                                 " cannot be loaded (" + decoded.message + ")");
            break;
        }
        result.code =
            CreateTexture(gpu, image.width, image.height, image.pixels.data(), &(*out)[n]);
    }
    if (!result.ok()) {
        for (OwnedImage& toon : *out) {
            DestroyColorImage(gpu.device, &toon);
        }
    }
    return result;
}

}  // namespace qv
