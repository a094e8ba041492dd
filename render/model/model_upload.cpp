// Fills a new model's mapped memory off the frame's thread, then sends and polls its copies.
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

// Runs `work` on a thread of its own or, where none can be had, when its
// result is waited for. Copied, not moved, into the thread: the fallback
// still needs it.
template <typename Work>
auto RunApart(const Work& work) {
    try {
        return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, work);
    }
}

// Ready, or deferred to whoever waits: either way waiting costs this thread
// no frame.
template <typename T>
bool Ready(const std::future<T>& result) {
    return !result.valid() ||
           result.wait_for(std::chrono::seconds(0)) != std::future_status::timeout;
}

void Send(ModelUpload& upload) {
    if (upload.filled.valid()) {
        upload.filled.get();
    }
    // Where sending fails, the model stays out of the frames and the next
    // update tries again.
    upload.sent = Succeeded(upload.copies.Send());
}

}  // namespace

std::future<void> FillMapped(std::vector<MappedFill> fills) {
    auto shared = std::make_shared<std::vector<MappedFill>>(std::move(fills));
    return RunApart([shared] {
        for (MappedFill& fill : *shared) {
            WriteMapped(fill.mapped, fill.size, fill.bytes.data(), fill.bytes.size());
            fill.owner.reset();  // a model's images can be large: free each once written
        }
    });
}

std::future<std::vector<VkImageView>> MakeTextureViews(VkDevice device,
                                                       std::vector<VkImage> images) {
    return RunApart([device, images = std::move(images)] {
        std::vector<VkImageView> views(images.size(), VK_NULL_HANDLE);
        for (std::size_t i = 0; i < images.size(); ++i) {
            if (Failed(CreateColorView(device, images[i], VK_FORMAT_R8G8B8A8_UNORM, &views[i]))) {
                views[i] = VK_NULL_HANDLE;
            }
        }
        return views;
    });
}

void AdvanceUpload(ModelGpu& gpu) {
    ModelUpload* upload = gpu.upload.get();
    if (upload == nullptr) {
        return;
    }
    if (!upload->sent && Ready(upload->filled)) {
        Send(*upload);
    }
    if (Ready(upload->views)) {
        TakeViews(gpu);
    }
}

bool UploadComplete(ModelGpu& gpu) {
    if (gpu.upload == nullptr) {
        return true;
    }
    if (!gpu.upload->sent || gpu.upload->views.valid() || !gpu.upload->copies.Poll()) {
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
        Send(*gpu.upload);
    }
    TakeViews(gpu);
    if (gpu.upload->sent) {
        gpu.upload->copies.Finish();
        gpu.upload.reset();
    }
}

void StopUpload(ModelGpu& gpu) {
    if (gpu.upload == nullptr) {
        return;
    }
    if (gpu.upload->filled.valid()) {
        gpu.upload->filled.wait();  // it writes the staging memory freed below
    }
    TakeViews(gpu);  // the views go with the textures
    gpu.upload->copies.Finish();
    gpu.upload.reset();
}

}  // namespace qv
