// Finds and decodes a model's texture files, in parallel across images.
#include "formats/model_textures.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>
#include <thread>

#include "formats/content_path.h"
#include "formats/text_decode.h"
#include "platform/file_read.h"

namespace qv {

namespace {

struct Decoded {
    bool ran = false;  // false for images skipped once the model was refused
    bool ok = false;
    std::string reason = "the file cannot be read";
};

// Decoding is most of a model's import time; the images are independent, so
// they are decoded side by side on every core. Once the decoded pixels pass
// the budget, or memory runs out, or one of the first `required` images
// fails, the rest is skipped: the model is refused. Images after those are
// optional and fail alone.
std::vector<Decoded> DecodeAll(const std::vector<std::filesystem::path>& paths,
                               std::size_t required, std::vector<RgbaImage>& images) {
    std::vector<Decoded> out(paths.size());
    images.resize(paths.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> decodedBytes{0};
    std::atomic<bool> refused{false};
    auto work = [&] {
        for (std::size_t i = next++; i < paths.size() && !refused.load(); i = next++) {
            out[i].ran = true;
            // An exception must not leave a helper thread: that would end the program.
            try {
                std::vector<std::uint8_t> bytes;
                if (Succeeded(ReadWholeFile(paths[i], bytes))) {
                    Result decoded = DecodeImage(bytes, images[i]);
                    out[i].ok = decoded.ok();
                    out[i].reason = std::move(decoded.message);
                }
            } catch (const std::bad_alloc&) {
                images[i] = {};
                out[i].ok = false;
                out[i].reason = "it does not fit in memory";
            }
            if (out[i].ok && (decodedBytes += images[i].pixels.size()) > kMaxModelTextureBytes) {
                images[i] = {};
                out[i].ok = false;
                out[i].reason = "the model's textures take more than " +
                                std::to_string(kMaxModelTextureBytes >> 20) + " MiB once decoded";
            }
            if (!out[i].ok && i < required) {
                refused.store(true);
            }
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), paths.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < helpers; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads only take longer
        }
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return out;
}

}  // namespace

ModelTextures LoadModelTextures(const PmxModel& model) {
    ModelTextures textures;
    textures.loaded = true;
    std::vector<std::filesystem::path> paths;
    for (const std::u16string& texturePath : model.textures) {
        paths.push_back(ResolveContentPath(model.folder, texturePath));
        if (paths.back().empty()) {
            textures.result = 2;
            textures.message = "texture not found: " + ToUtf8(texturePath);
            return textures;
        }
    }
    const std::size_t listed = paths.size();
    // The shared toon numbers the materials use, looked for beside the model.
    std::array<std::int32_t, 10> toonPaths{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    for (const PmxMaterial& m : model.materials) {
        const auto n = static_cast<std::uint32_t>(m.toonIndex);
        if (m.sharedToon == 0 || n >= toonPaths.size() || toonPaths[n] != -1) {
            continue;
        }
        char name[16];
        std::snprintf(name, sizeof(name), "toon%02u.bmp", n + 1);
        std::filesystem::path found = ResolveContentPath(model.folder, ToUtf16(name));
        toonPaths[n] = -2;  // looked for
        if (!found.empty()) {
            toonPaths[n] = static_cast<std::int32_t>(paths.size());
            paths.push_back(std::move(found));
        }
    }
    const std::vector<Decoded> decoded = DecodeAll(paths, listed, textures.images);
    for (std::size_t n = 0; n < toonPaths.size(); ++n) {
        if (toonPaths[n] < 0) {
            continue;
        }
        const auto slot = static_cast<std::size_t>(toonPaths[n]);
        if (decoded[slot].ok) {
            textures.ownToons[n] = toonPaths[n];
        } else {
            // Kept as a white texel so that image slots stay in order; no
            // material uses it.
            textures.images[slot] = {};
            textures.images[slot].width = textures.images[slot].height = 1;
            textures.images[slot].pixels = {255, 255, 255, 255};
        }
    }
    // The first failure in texture order; images skipped after a refusal never ran.
    for (std::size_t i = 0; i < listed; ++i) {
        if (decoded[i].ran && !decoded[i].ok) {
            textures.result = E_FAIL;
            textures.message =
                "texture cannot be read: " + paths[i].string() + " (" + decoded[i].reason + ")";
            textures.images.clear();
            textures.ownToons.fill(-1);
            return textures;
        }
    }
    return textures;
}

}  // namespace qv
