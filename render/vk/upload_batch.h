// Uploads of buffers and textures gathered into one submission, waited for or polled.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <vector>

#include "platform/result_code.h"
#include "render/vk/gpu_buffers.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

// Protocol: Reserve* hand out staging memory for the caller to fill before
// Send, and AddWrittenImage notes an image already written in place; Send
// records every copy (and those images' move to the shader-read layout) into
// one command buffer and submits it on the direct queue with a fence of its
// own, behind whatever frames are queued there, without waiting; Poll asks
// the fence without blocking and Finish waits for it, and either frees the
// staging memory once the copies are done. Submit is Send then Finish. The
// destructor waits for a batch still in flight. Images end in the
// shader-read layout. One thread at a time, the one that submits frames; the
// targets must outlive the copies: until Poll returns true or Finish returns.
class UploadBatch {
public:
    explicit UploadBatch(const GpuContext& gpu);
    ~UploadBatch();
    UploadBatch(const UploadBatch&) = delete;
    UploadBatch& operator=(const UploadBatch&) = delete;

    // Room for `size` bytes to the start of `target`: the caller writes them
    // to `*bytes` (from any thread, with WriteMapped) before the batch is sent.
    HRESULT ReserveBuffer(const GpuBuffer& target, VkDeviceSize size, std::uint8_t** bytes);
    // Room for a whole RGBA8 image, width x height x 4 bytes, to a
    // single-level image: the caller writes the pixels to `*pixels` (from
    // any thread, with WriteMapped) before the batch is sent.
    HRESULT ReserveImage(VkImage target, std::uint32_t width, std::uint32_t height,
                         std::uint8_t** pixels);
    // An image written in place, in the preinitialized layout, to be moved to
    // the shader-read layout with the batch's copies.
    void AddWrittenImage(VkImage target);
    // Submits the copies gathered since the last Send or Submit and returns
    // at once; S_OK with none. A batch still in flight is waited for first.
    // On failure the copies stay gathered, to be sent again.
    HRESULT Send();
    // True when nothing sent is still on the GPU, freeing what is done.
    // Never blocks. A lost device counts as done: nothing will read the
    // staging memory again.
    bool Poll();
    // Waits for what was sent, then frees it.
    void Finish();
    // Runs the copies gathered since the last Submit and waits for them;
    // S_OK with none.
    HRESULT Submit();

    // How many times this batch has waited for the GPU.
    std::uint32_t Waits() const { return waits_; }
    // True where all of the device's own memory is visible to the CPU (software
    // and integrated devices): buffers are then written in place, with no
    // staging copy and no GPU copy.
    bool WritesInPlace() const { return writesInPlace_; }
    // True where, besides, the device samples RGBA8 images laid out in rows,
    // so that textures too are written in place.
    bool WritesTexturesInPlace() const { return writesTexturesInPlace_; }

private:
    struct Copy {
        GpuBuffer staging;
        VkBuffer buffer = VK_NULL_HANDLE;
        VkImage image = VK_NULL_HANDLE;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
    };
    // Staging memory of `size` bytes for `copy`, which joins the batch.
    HRESULT Reserve(VkDeviceSize size, Copy copy, std::uint8_t** bytes);
    // A fresh command pool, command buffer (begun) and fence for one Send.
    HRESULT BeginSubmission(VkCommandBuffer* cmd);
    static void Release(VkDevice device, std::vector<Copy>& copies);
    void ReleaseSent();

    GpuContext gpu_;
    std::vector<Copy> copies_;  // gathered, not yet sent
    std::vector<Copy> sent_;    // on the GPU until fence_ signals
    VkCommandPool pool_ = VK_NULL_HANDLE;
    VkFence fence_ = VK_NULL_HANDLE;
    std::uint32_t waits_ = 0;
    bool writesInPlace_ = false;
    bool writesTexturesInPlace_ = false;
};

// Fills `room` bytes of freshly mapped memory, its pages faulted in at once:
// `size` bytes of `data` (none when null), then zeros. Any thread.
void WriteMapped(void* mapped, VkDeviceSize room, const void* data, VkDeviceSize size);

// A device-local buffer of `size` bytes whose contents go up with `batch`:
// the caller writes `*room` bytes to `*bytes` (from any thread, with
// WriteMapped) before the batch is sent. That is the buffer itself where the
// device writes in place, staging memory otherwise. Tiny sizes are raised to
// 16 bytes so that empty lists still bind.
HRESULT CreateBufferToFill(const GpuContext& gpu, UploadBatch& batch, VkDeviceSize size,
                           VkBufferUsageFlags usage, GpuBuffer* out, std::uint8_t** bytes,
                           VkDeviceSize* room);
// The same, filled at once from `data` (zeros when null) and padded with zeros.
HRESULT CreateFilledBuffer(const GpuContext& gpu, UploadBatch& batch, const void* data,
                           VkDeviceSize size, VkBufferUsageFlags usage, GpuBuffer* out);
// A sampled RGBA8 texture of its own memory (no view) whose pixels go up with
// `batch`: the caller writes width x height x 4 bytes to `*pixels` (from any
// thread, with WriteMapped) before the batch is sent. That is the image's own
// memory, rows packed, where the device samples such images and writes in
// place; staging memory otherwise.
HRESULT CreateTextureToFill(const GpuContext& gpu, UploadBatch& batch, std::uint32_t width,
                            std::uint32_t height, OwnedImage* out, std::uint8_t** pixels);
// A sampled RGBA8 texture with its view, uploaded on its own and waited for.
HRESULT CreateTexture(const GpuContext& gpu, std::uint32_t width, std::uint32_t height,
                      const std::uint8_t* rgba, OwnedImage* out);

}  // namespace qv
