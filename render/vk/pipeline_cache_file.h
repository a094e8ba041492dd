// The driver's compiled pipelines kept on disk between runs, so that a second start compiles
// nothing.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace qv {

// Where the cache lives: $XDG_CACHE_HOME/qv, else ~/.cache/qv; empty when
// neither variable is set (the cache then stays in memory).
std::filesystem::path PipelineCacheFolder();
inline constexpr const char* kPipelineCacheFileName = "pipelines.bin";

// The identity a cache file must carry to be used: the device and driver
// that wrote it (the pipeline cache UUID changes with the driver build).
struct PipelineCacheIdentity {
    std::uint32_t vendorId = 0;
    std::uint32_t deviceId = 0;
    std::uint8_t uuid[VK_UUID_SIZE] = {};
};
PipelineCacheIdentity IdentityOf(const VkPhysicalDeviceProperties& properties);

// The file's bytes: a header with the identity, the size and a checksum of
// the driver's data, then that data.
std::vector<std::uint8_t> WrapPipelineCache(const PipelineCacheIdentity& identity,
                                            std::span<const std::uint8_t> driverData);
// The driver's data of a file written for this identity; empty for a file
// that is cut, damaged, of another format, or of another device or driver,
// which the next save replaces.
std::vector<std::uint8_t> UnwrapPipelineCache(const PipelineCacheIdentity& identity,
                                              std::span<const std::uint8_t> file);

// A pipeline cache object filled from `file` when it holds a valid cache for
// this device; `fromDisk` says whether it did. VK_NULL_HANDLE only when the
// driver cannot make even an empty cache.
VkPipelineCache LoadPipelineCache(VkPhysicalDevice physical, VkDevice device,
                                  const std::filesystem::path& file, bool* fromDisk);
// Writes the cache to `file` through a temporary file and a rename, so that a
// crash never leaves half a file. False when it cannot be written.
bool SavePipelineCache(VkPhysicalDevice physical, VkDevice device, VkPipelineCache cache,
                       const std::filesystem::path& file);

}  // namespace qv
