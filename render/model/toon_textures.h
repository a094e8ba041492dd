// The ten shared toon ramps that materials without their own toon texture use.
#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "platform/result.h"
#include "render/vk/vulkan_helpers.h"

namespace qv {

struct GpuContext;

inline constexpr std::uint32_t kToonCount = 10;

// The folder of the shared toon ramps: "Assets/Images/toon" under the working
// directory when it holds them, else beside the program, else under its
// installed data folder. Empty when none does.
std::filesystem::path FindToonFolder();

// Loads toon01.bmp to toon10.bmp. On failure nothing is left loaded and
// the message names the file and the reason.
Result LoadToonTextures(const GpuContext& gpu, std::array<OwnedImage, kToonCount>* out);

}  // namespace qv
