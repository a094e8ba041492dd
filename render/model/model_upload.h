// A new model's upload while it may still be under way: its copies on the GPU and its textures'
// views.
#pragma once

#include <vulkan/vulkan.h>

#include <future>
#include <vector>

#include "render/vk/upload_batch.h"

namespace qv {

struct ModelGpu;

// Some drivers make the creation of an image view wait for the frames their
// queue is running, so a model's texture views are made on a thread of their
// own while its copies run. Owned by the model's GPU half from its creation
// until both are done (UploadComplete, FinishUpload); made, polled and
// destroyed on the thread that submits frames. Destroying it waits for both.
struct ModelUpload {
    explicit ModelUpload(const GpuContext& gpu) : copies(gpu) {}

    UploadBatch copies;
    // One view per texture, in order, VK_NULL_HANDLE where one could not be
    // made; not valid() for a model without textures.
    std::future<std::vector<VkImageView>> views;
};

// Makes a view of each of `images` (RGBA8 colour) on a thread of its own,
// or, where no thread can be had, when the result is asked for.
std::future<std::vector<VkImageView>> MakeTextureViews(VkDevice device,
                                                       std::vector<VkImage> images);

// Whether the model's upload is done; once it is, its views are in place
// and its staging memory freed. Never blocks.
bool UploadComplete(ModelGpu& gpu);
// Waits until the model's upload is done.
void FinishUpload(ModelGpu& gpu);

}  // namespace qv
