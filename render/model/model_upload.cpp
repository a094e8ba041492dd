// Prepares a new model's textures off the frame's thread, then sends, polls and finishes its
// copies.
#include "render/model/model_upload.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

#include "render/model/model_resources.h"

namespace qv {

namespace {

// A texture without a view draws as none: the same as a file the model lacks.
void ForgetTexture(ModelGpu& gpu, std::int32_t index) {
    for (MaterialDraw& draw : gpu.materials) {
        if (draw.baseTexture == index) {
            draw.baseTexture = -1;
        }
        if (draw.sphereTexture == index) {
            draw.sphereTexture = -1;
        }
        if (!draw.sharedToon && draw.toonTexture == index) {
            draw.toonTexture = -1;
        }
    }
}

void TakeViews(ModelGpu& gpu) {
    if (!gpu.upload->prepared.valid()) {
        return;
    }
    const std::vector<VkImageView> views = gpu.upload->prepared.get();
    for (std::size_t i = 0; i < gpu.textures.size() && i < views.size(); ++i) {
        gpu.textures[i].view = views[i];
        if (views[i] == VK_NULL_HANDLE) {
            ForgetTexture(gpu, static_cast<std::int32_t>(i));
        }
    }
}

}  // namespace

std::future<std::vector<VkImageView>> PrepareTextures(VkDevice device,
                                                      std::vector<TextureFill> fills) {
    // Shared, so that the fallback below still has the pixels.
    auto shared = std::make_shared<std::vector<TextureFill>>(std::move(fills));
    auto prepare = [device, shared] {
        std::vector<VkImageView> views(shared->size(), VK_NULL_HANDLE);
        for (std::size_t i = 0; i < shared->size(); ++i) {
            TextureFill& fill = (*shared)[i];
            const std::size_t given = std::min(fill.size, fill.pixels.size());
            WriteMapped(fill.staging, fill.pixels.data(), given);
            std::memset(fill.staging + given, 0, fill.size - given);
            fill.pixels = {};  // a model's images can be large: free each once staged
            if (Failed(CreateColorView(device, fill.image, VK_FORMAT_R8G8B8A8_UNORM, &views[i]))) {
                views[i] = VK_NULL_HANDLE;
            }
        }
        return views;
    };
    try {
        return std::async(std::launch::async, prepare);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, prepare);
    }
}

void SendPreparedUpload(ModelGpu& gpu) {
    ModelUpload* upload = gpu.upload.get();
    if (upload == nullptr || upload->sent) {
        return;
    }
    // A deferred result counts as ready: asking for it prepares here.
    if (upload->prepared.valid() &&
        upload->prepared.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
        return;
    }
    TakeViews(gpu);
    // Where sending fails, the model stays out of the frames and the next
    // update tries again.
    upload->sent = Succeeded(upload->copies.Send());
}

bool UploadComplete(ModelGpu& gpu) {
    if (gpu.upload == nullptr) {
        return true;
    }
    if (!gpu.upload->sent || !gpu.upload->copies.Poll()) {
        return false;
    }
    gpu.upload.reset();
    return true;
}

void FinishUpload(ModelGpu& gpu) {
    if (gpu.upload == nullptr) {
        return;
    }
    if (!gpu.upload->sent) {
        TakeViews(gpu);
        gpu.upload->sent = Succeeded(gpu.upload->copies.Send());
    }
    if (gpu.upload->sent) {
        gpu.upload->copies.Finish();
        gpu.upload.reset();
    }
}

void StopUpload(ModelGpu& gpu) {
    if (gpu.upload != nullptr) {
        TakeViews(gpu);  // the views go with the textures
        gpu.upload->copies.Finish();
        gpu.upload.reset();
    }
}

}  // namespace qv
