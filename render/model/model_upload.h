// A new model's upload while it is under way: its textures prepared off the frame's thread, then
// its copies on the GPU.
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
    VkImage image = VK_NULL_HANDLE;
    std::uint8_t* staging = nullptr;  // mapped, `size` bytes
    std::size_t size = 0;
    std::vector<std::uint8_t> pixels;  // short ones are padded with zeros
};

// Writing a model's textures into staging memory costs the frame's thread
// more than the rest of its GPU half, and some drivers make an image view
// wait for the frames their queue is running; so a task of its own does
// both, and the copies go to the GPU once it is done. Owned by the model's
// GPU half from its creation until the copies are done. Protocol, in this
// order: SendPreparedUpload on the main thread between frames, until it has
// sent; UploadComplete at each frame's start; FinishUpload or StopUpload on
// the main thread at any point.
struct ModelUpload {
    explicit ModelUpload(const GpuContext& gpu) : copies(gpu) {}

    UploadBatch copies;
    // One view per texture, in order, VK_NULL_HANDLE where one could not be
    // made; not valid() for a model without textures, or once taken.
    std::future<std::vector<VkImageView>> prepared;
    bool sent = false;  // the copies went to the GPU
};

// Writes each texture's pixels to its staging memory, frees them and makes
// the image's view (RGBA8 colour), on a thread of its own or, where no
// thread can be had, when the result is asked for.
std::future<std::vector<VkImageView>> PrepareTextures(VkDevice device,
                                                      std::vector<TextureFill> fills);

// Once the model's textures are prepared, puts their views in place and
// sends its copies. Never blocks. Main thread, between frames.
void SendPreparedUpload(ModelGpu& gpu);
// Whether the model's upload is done, freeing its staging memory once it
// is. Never blocks. At a frame's start, on the thread that records it.
bool UploadComplete(ModelGpu& gpu);
// Prepares, sends and waits for what is left of the model's upload, so that
// the next frame draws it. Main thread.
void FinishUpload(ModelGpu& gpu);
// Waits for what is under way and sends nothing more: for a GPU half about
// to be freed. Main thread.
void StopUpload(ModelGpu& gpu);

}  // namespace qv
