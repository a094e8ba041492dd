// A new model's upload while it is under way: its textures readied off the frame's thread, then its
// copies on the GPU.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <future>
#include <vector>

#include "render/vk/upload_batch.h"

namespace qv {

struct ModelGpu;

// One texture's decoded pixels on their way to its staging memory.
struct TextureFill {
    std::uint8_t* staging = nullptr;  // mapped, `size` bytes
    std::size_t size = 0;
    std::vector<std::uint8_t> pixels;  // short ones are padded with zeros
};

// Writing a model's textures into staging memory costs the frame's thread
// more than the rest of its GPU half, and some drivers make an image view
// wait for the frames their queue is running; so tasks of their own do
// both, the copies go to the GPU once the pixels are written, and the
// frames take the model in once the copies and the views are done. Owned by
// the model's GPU half from its creation until then. Protocol:
// AdvanceUpload on the main thread between frames, UploadComplete at each
// frame's start, FinishUpload or StopUpload on the main thread at any point.
struct ModelUpload {
    explicit ModelUpload(const GpuContext& gpu) : copies(gpu) {}

    // Declared first, so destroyed last: after both tasks are done with the
    // staging memory and the images.
    UploadBatch copies;
    bool sent = false;  // the copies went to the GPU
    // The textures' pixels in their staging memory; not valid() for a model
    // without textures, or once waited for.
    std::future<void> filled;
    // One view per texture, in order, VK_NULL_HANDLE where one could not be
    // made; not valid() for a model without textures, or once taken.
    std::future<std::vector<VkImageView>> views;
};

// Writes each texture's pixels to its staging memory and frees them, on a
// thread of its own or, where none can be had, when the result is waited for.
std::future<void> FillStaging(std::vector<TextureFill> fills);
// Makes a view of each of `images` (RGBA8 colour), likewise.
std::future<std::vector<VkImageView>> MakeTextureViews(VkDevice device,
                                                       std::vector<VkImage> images);

// Sends the model's copies once its pixels are written and puts its views
// in place once they are made. Never blocks. Main thread, between frames.
void AdvanceUpload(ModelGpu& gpu);
// Whether the model's upload is done, freeing its staging memory once it
// is. Never blocks. At a frame's start, on the thread that records it.
bool UploadComplete(ModelGpu& gpu);
// Finishes what is left of the model's upload and waits for it, so that
// the next frame draws it. Main thread.
void FinishUpload(ModelGpu& gpu);
// Waits for what is under way and sends nothing more: for a GPU half about
// to be freed. Main thread.
void StopUpload(ModelGpu& gpu);

}  // namespace qv
