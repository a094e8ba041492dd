// The driver's compiled pipelines kept on disk between runs, so that a second start compiles
// nothing.
#include "render/vk/pipeline_cache_file.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include <unistd.h>

#include "core/vk_struct.h"
#include "platform/file_read.h"

namespace qv {

namespace {

constexpr char kMagic[4] = {'Q', 'V', 'P', 'C'};
constexpr std::uint32_t kFormatVersion = 1;
// magic, version, vendor, device, UUID, data size, checksum
constexpr std::size_t kHeaderSize = 4 + 4 + 4 + 4 + VK_UUID_SIZE + 8 + 8;

std::uint64_t Checksum(std::span<const std::uint8_t> data) {
    std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
    for (std::uint8_t byte : data) {
        hash = (hash ^ byte) * 0x100000001B3ull;
    }
    return hash;
}

template <typename T>
void Put(std::vector<std::uint8_t>& out, T value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

template <typename T>
T Take(std::span<const std::uint8_t> in, std::size_t at) {
    T value;
    std::memcpy(&value, in.data() + at, sizeof value);
    return value;
}

}  // namespace

std::filesystem::path PipelineCacheFolder() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/') {
        return std::filesystem::path(xdg) / "qv";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return std::filesystem::path(home) / ".cache" / "qv";
    }
    return {};
}

PipelineCacheIdentity IdentityOf(const VkPhysicalDeviceProperties& properties) {
    PipelineCacheIdentity identity;
    identity.vendorId = properties.vendorID;
    identity.deviceId = properties.deviceID;
    std::memcpy(identity.uuid, properties.pipelineCacheUUID, VK_UUID_SIZE);
    return identity;
}

std::vector<std::uint8_t> WrapPipelineCache(const PipelineCacheIdentity& identity,
                                            std::span<const std::uint8_t> driverData) {
    std::vector<std::uint8_t> out(kMagic, kMagic + 4);
    Put(out, kFormatVersion);
    Put(out, identity.vendorId);
    Put(out, identity.deviceId);
    out.insert(out.end(), identity.uuid, identity.uuid + VK_UUID_SIZE);
    Put(out, static_cast<std::uint64_t>(driverData.size()));
    Put(out, Checksum(driverData));
    out.insert(out.end(), driverData.begin(), driverData.end());
    return out;
}

std::vector<std::uint8_t> UnwrapPipelineCache(const PipelineCacheIdentity& identity,
                                              std::span<const std::uint8_t> file) {
    if (file.size() < kHeaderSize || std::memcmp(file.data(), kMagic, 4) != 0 ||
        Take<std::uint32_t>(file, 4) != kFormatVersion ||
        Take<std::uint32_t>(file, 8) != identity.vendorId ||
        Take<std::uint32_t>(file, 12) != identity.deviceId ||
        std::memcmp(file.data() + 16, identity.uuid, VK_UUID_SIZE) != 0) {
        return {};
    }
    const auto size = Take<std::uint64_t>(file, 16 + VK_UUID_SIZE);
    const auto checksum = Take<std::uint64_t>(file, 24 + VK_UUID_SIZE);
    const std::span<const std::uint8_t> data = file.subspan(kHeaderSize);
    if (size != data.size() || Checksum(data) != checksum) {
        return {};
    }
    return {data.begin(), data.end()};
}

VkPipelineCache LoadPipelineCache(VkPhysicalDevice physical, VkDevice device,
                                  const std::filesystem::path& file, bool* fromDisk) {
    *fromDisk = false;
    VkPhysicalDeviceProperties properties{};
    vkGetPhysicalDeviceProperties(physical, &properties);
    std::vector<std::uint8_t> bytes, data;
    if (!file.empty() && Succeeded(ReadWholeFile(file, bytes))) {
        data = UnwrapPipelineCache(IdentityOf(properties), bytes);
    }
    auto info = VkStruct<VkPipelineCacheCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_CACHE_CREATE_INFO);
    info.initialDataSize = data.size();
    info.pInitialData = data.empty() ? nullptr : data.data();
    VkPipelineCache cache = VK_NULL_HANDLE;
    if (vkCreatePipelineCache(device, &info, nullptr, &cache) == VK_SUCCESS) {
        *fromDisk = !data.empty();
        return cache;
    }
    // The driver refused the data after all: start empty.
    info.initialDataSize = 0;
    info.pInitialData = nullptr;
    if (vkCreatePipelineCache(device, &info, nullptr, &cache) != VK_SUCCESS) {
        return VK_NULL_HANDLE;
    }
    return cache;
}

bool SavePipelineCache(VkPhysicalDevice physical, VkDevice device, VkPipelineCache cache,
                       const std::filesystem::path& file) {
    if (file.empty() || cache == VK_NULL_HANDLE) {
        return false;
    }
    std::size_t size = 0;
    if (vkGetPipelineCacheData(device, cache, &size, nullptr) != VK_SUCCESS || size == 0) {
        return false;
    }
    std::vector<std::uint8_t> data(size);
    if (vkGetPipelineCacheData(device, cache, &size, data.data()) != VK_SUCCESS) {
        return false;
    }
    data.resize(size);
    VkPhysicalDeviceProperties properties{};
    vkGetPhysicalDeviceProperties(physical, &properties);
    const std::vector<std::uint8_t> bytes = WrapPipelineCache(IdentityOf(properties), data);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::filesystem::path temporary = file;
    temporary += ".tmp" + std::to_string(static_cast<unsigned long>(::getpid()));
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.good()) {
            out.close();
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace qv
