// Polls and finishes a new model's upload, and makes its texture views off the frame's thread.
#include "render/model/model_upload.h"

#include <chrono>
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
    if (!gpu.upload->views.valid()) {
        return;
    }
    const std::vector<VkImageView> views = gpu.upload->views.get();
    for (std::size_t i = 0; i < gpu.textures.size() && i < views.size(); ++i) {
        gpu.textures[i].view = views[i];
        if (views[i] == VK_NULL_HANDLE) {
            ForgetTexture(gpu, static_cast<std::int32_t>(i));
        }
    }
}

}  // namespace

std::future<std::vector<VkImageView>> MakeTextureViews(VkDevice device,
                                                       std::vector<VkImage> images) {
    auto make = [device, images = std::move(images)] {
        std::vector<VkImageView> views(images.size(), VK_NULL_HANDLE);
        for (std::size_t i = 0; i < images.size(); ++i) {
            if (Failed(CreateColorView(device, images[i], VK_FORMAT_R8G8B8A8_UNORM, &views[i]))) {
                views[i] = VK_NULL_HANDLE;
            }
        }
        return views;
    };
    try {
        return std::async(std::launch::async, make);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, std::move(make));
    }
}

bool UploadComplete(ModelGpu& gpu) {
    if (gpu.upload == nullptr) {
        return true;
    }
    if (!gpu.upload->copies.Poll()) {
        return false;
    }
    // A deferred result counts as ready: asking for it makes the views here.
    if (gpu.upload->views.valid() &&
        gpu.upload->views.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
        return false;
    }
    TakeViews(gpu);
    gpu.upload.reset();
    return true;
}

void FinishUpload(ModelGpu& gpu) {
    if (gpu.upload != nullptr) {
        gpu.upload->copies.Finish();
        TakeViews(gpu);
        gpu.upload.reset();
    }
}

}  // namespace qv
