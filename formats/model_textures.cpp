// Finds and decodes a model's texture files, in parallel across images.
#include "formats/model_textures.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <new>
#include <set>
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
    bool overLimit = false;         // the budget or memory ran out: that refuses the model
    std::uint8_t leastAlpha = 255;  // of the decoded image, measured while it is warm
    std::string reason = "the file cannot be read";
};

std::uint8_t LeastAlpha(const RgbaImage& image) {
    std::uint8_t least = 255;
    for (std::size_t i = 3; i < image.pixels.size(); i += 4) {
        least = std::min(least, image.pixels[i]);
    }
    return least;
}

// Decoding is most of a model's import time; the images are independent, so
// they are decoded side by side on every core. Once the decoded pixels pass
// the budget, or memory runs out, for one of the first `required` images, the
// rest is skipped: the model is refused. Any other failure is the image's alone.
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
                    out[i].leastAlpha = out[i].ok ? LeastAlpha(images[i]) : 255;
                }
            } catch (const std::bad_alloc&) {
                images[i] = {};
                out[i].ok = false;
                out[i].overLimit = true;
                out[i].reason = "it does not fit in memory";
            }
            if (out[i].ok && (decodedBytes += images[i].pixels.size()) > kMaxModelTextureBytes) {
                images[i] = {};
                out[i].ok = false;
                out[i].overLimit = true;
                out[i].reason = "the model's textures take more than " +
                                std::to_string(kMaxModelTextureBytes >> 20) + " MiB once decoded";
            }
            if (out[i].overLimit && i < required) {
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

// What each listed texture is to the model, for the warning that names it:
// the first use a material makes of it, in material order.
std::vector<const char*> RolesOf(const PmxModel& model) {
    std::vector<const char*> roles(model.textures.size(), nullptr);
    auto note = [&](std::int32_t index, const char* role) {
        const auto i = static_cast<std::size_t>(static_cast<std::uint32_t>(index));
        if (i < roles.size() && roles[i] == nullptr) {
            roles[i] = role;
        }
    };
    for (const PmxMaterial& m : model.materials) {
        note(m.textureIndex, "texture");
        if (m.sphereMode >= 1 && m.sphereMode <= 3) {
            note(m.sphereTextureIndex, "sphere");
        }
        if (m.sharedToon == 0) {
            note(m.toonIndex, "toon");
        }
    }
    for (const char*& role : roles) {
        role = role == nullptr ? "texture" : role;
    }
    return roles;
}

RgbaImage WhiteTexel() {
    RgbaImage image;
    image.width = image.height = 1;
    image.pixels = {255, 255, 255, 255};
    return image;
}

}  // namespace

ModelTextures LoadModelTextures(const PmxModel& model) {
    ModelTextures textures;
    textures.loaded = true;
    const std::size_t listed = model.textures.size();
    textures.absent.assign(listed, false);
    const std::vector<const char*> roles = RolesOf(model);
    std::set<std::u16string> warned;  // a file named twice is warned about once
    auto warn = [&](std::size_t i, const std::string& what) {
        textures.absent[i] = true;
        if (warned.insert(model.textures[i]).second) {
            textures.warnings.push_back(std::string(roles[i]) + " " + what);
        }
    };
    std::vector<std::filesystem::path> paths;
    for (const std::u16string& texturePath : model.textures) {
        paths.push_back(ResolveContentPath(model.folder, texturePath));
    }
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
    for (std::size_t i = 0; i < listed; ++i) {
        if (decoded[i].ran && decoded[i].overLimit) {
            textures.result = E_FAIL;
            textures.message =
                "texture cannot be read: " + paths[i].string() + " (" + decoded[i].reason + ")";
            textures.images.clear();
            textures.absent.assign(listed, false);
            textures.warnings.clear();
            return textures;
        }
    }
    for (std::size_t i = 0; i < listed; ++i) {
        if (paths[i].empty()) {
            warn(i, "not found: " + ToUtf8(model.textures[i]));
        } else if (!decoded[i].ok) {
            warn(i,
                 "cannot be read: " + ToUtf8(model.textures[i]) + " (" + decoded[i].reason + ")");
        }
        if (textures.absent[i]) {
            textures.images[i] = WhiteTexel();
        }
    }
    for (std::size_t n = 0; n < toonPaths.size(); ++n) {
        if (toonPaths[n] < 0) {
            continue;
        }
        const auto slot = static_cast<std::size_t>(toonPaths[n]);
        if (decoded[slot].ok) {
            textures.ownToons[n] = toonPaths[n];
        } else {
            // Kept so that image slots stay in order; no material uses it.
            textures.images[slot] = WhiteTexel();
        }
    }
    // The white texel of an image that failed is opaque.
    for (const Decoded& image : decoded) {
        textures.leastAlpha.push_back(image.ok ? image.leastAlpha : 255);
    }
    return textures;
}

}  // namespace qv
