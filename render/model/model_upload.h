// A new model's upload under way: its bytes written off the frame's thread, then its GPU copies.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <future>
#include <memory>
#include <span>
#include <vector>

#include "render/vk/upload_batch.h"

namespace qv {

struct ModelGpu;

// Bytes on their way to mapped memory: a texture's pixels to its staging
// memory, a buffer's contents to the buffer or its staging memory.
struct MappedFill {
    std::uint8_t* mapped = nullptr;  // `size` bytes
    std::size_t size = 0;
    std::span<const std::uint8_t> bytes;  // short ones are padded with zeros
    std::shared_ptr<const void> owner;    // keeps `bytes` until they are written
};

// The bytes of `owner`'s list, kept alive with it.
template <typename T>
MappedFill FillFrom(std::shared_ptr<const std::vector<T>> owner) {
    MappedFill fill;
    fill.bytes = {reinterpret_cast<const std::uint8_t*>(owner->data()), owner->size() * sizeof(T)};
    fill.owner = std::move(owner);
    return fill;
}

// Writing a model's buffers and textures into fresh mapped memory costs the
// frame's thread more than the rest of its GPU half (each new page is
// faulted in on first touch), and some drivers make an image view wait for
// the frames their queue is running; so tasks of their own do both, the
// copies go to the GPU once the bytes are written, and the frames take the
// model in once the copies and the views are done. Owned by
// the model's GPU half from its creation until then. Protocol:
// AdvanceUpload on the main thread between frames, UploadComplete at each
// frame's start, FinishUpload or StopUpload on the main thread at any point.
struct ModelUpload {
    explicit ModelUpload(const GpuContext& gpu) : copies(gpu) {}

    // Declared first, so destroyed last: after both tasks are done with the
    // staging memory and the images.
    UploadBatch copies;
    bool sent = false;  // the copies went to the GPU
    // The buffers' and textures' bytes in their mapped memory; not valid()
    // once waited for.
    std::future<void> filled;
    // One view per texture, in order, VK_NULL_HANDLE where one could not be
    // made; not valid() for a model without textures, or once taken.
    std::future<std::vector<VkImageView>> views;
};

// Writes each fill's bytes to its mapped memory and lets them go, on a thread
// of its own or, where none can be had, when the result is waited for.
std::future<void> FillMapped(std::vector<MappedFill> fills);
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
