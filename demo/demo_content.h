// The built-in demo the player shows with no files at all: a figure, a dance and a beat.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/file_writers.h"
#include "formats/pmx_model.h"
#include "platform/result.h"

namespace qv {

// The built-in demo: a figure of simple shapes with a standard skeleton, leg
// IK, a hair chain on physics and two face morphs; a dance for it; a beat to
// dance to. Everything is made in memory, so the player can show itself with
// no files at all.

// File names of the demo content; the model refers to the texture by name.
inline constexpr const char* kDemoModelFile = "qv_demo.pmx";
inline constexpr const char* kDemoMotionFile = "qv_demo_dance.vmd";
inline constexpr const char* kDemoSongFile = "qv_demo_beat.wav";
inline constexpr const char* kDemoTextureFile = "qv_demo_shirt.png";

// The dance and the beat share one tempo and last this long. The scene has no
// repeat, so they run long enough to watch before the pose holds.
inline constexpr float kDemoBeatsPerMinute = 120.0f;
inline constexpr std::uint32_t kDemoBeats = 60;
inline constexpr std::uint32_t kDemoMotionFps = 30;

// The figure, about 20 units tall, standing on y = 0 and facing -z.
PmxModel DemoModel();
// The dance: a loop of eight beats repeated, rest pose at both ends.
VmdFile DemoMotion();
// 16-bit mono PCM WAV of kick, snare and hi-hat at the demo tempo.
std::vector<std::uint8_t> DemoSong();
// The PNG the shirt material samples.
std::vector<std::uint8_t> DemoTexture();

struct DemoFile {
    std::string name;
    std::vector<std::uint8_t> bytes;
};
// Every file of the demo: model, motion, song, texture.
std::vector<DemoFile> DemoFiles();

// Writes the demo files into folder (made if missing) and lists the ones to
// import: model, motion and song. E_FAIL with the reason when a file cannot
// be written.
Result WriteDemoContent(const std::filesystem::path& folder,
                        std::vector<std::filesystem::path>* imports);

// The demo written into a folder of its own under the system temp folder,
// named for the process, and removed with everything in it when this goes.
class DemoFolder {
public:
    DemoFolder() = default;
    DemoFolder(const DemoFolder&) = delete;
    DemoFolder& operator=(const DemoFolder&) = delete;
    ~DemoFolder();

    // Replaces whatever a former process of the same id left there.
    Result Create();
    // Removes the folder with everything in it now, for a process that ends
    // without running destructors; nothing is left for the destructor.
    void Remove();
    const std::filesystem::path& Folder() const { return folder_; }
    const std::vector<std::filesystem::path>& Imports() const { return imports_; }

private:
    std::filesystem::path folder_;
    std::vector<std::filesystem::path> imports_;
};

}  // namespace qv
