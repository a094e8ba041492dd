// The files `qv render` is given, sorted before the device starts: imports, and the song apart.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "app/render_options.h"
#include "demo/demo_content.h"
#include "platform/result.h"
#include "platform/wav_file.h"

namespace qv {

// The files of a render: the song apart, everything else for the importer.
struct RenderInputs {
    std::vector<std::filesystem::path> imports;
    std::unique_ptr<WavAudio> song;
};

// The options' files and the demo's (written into `demo` first), sorted
// into imports and the song. A song that fails stops the render before it
// starts, as does a render with no model or accessory.
Result GatherInputs(const RenderOptions& options, DemoFolder& demo, RenderInputs* inputs);

}  // namespace qv
