// The files `qv render` is given, sorted before the device starts: imports, and the song apart.
#include "app/render_inputs.h"

#include <algorithm>

#include "platform/file_read.h"
#include "platform/song_decoder.h"
#include "scene/import_kind.h"

namespace qv {

namespace {

// The song is read here, not by the importer: it goes into the file, not to
// a sound device. A song that fails stops the render before it starts.
Result ReadSong(const std::filesystem::path& file, RenderInputs* inputs) {
    if (inputs->song) {
        return Result::Failure(E_INVALIDARG,
                               "one song at most: " + file.string() + " is a second one");
    }
    std::vector<std::uint8_t> bytes;
    inputs->song = std::make_unique<WavAudio>();
    if (Failed(ReadWholeFile(file, bytes))) {
        return Result::Failure(E_FAIL, "cannot read the song " + file.string());
    }
    if (const Result decoded = DecodeSongFile(file, bytes, *inputs->song); !decoded.ok()) {
        return Result::Failure(
            E_FAIL, "the song " + file.string() + " cannot be loaded: " + decoded.message);
    }
    return {};
}

}  // namespace

Result GatherInputs(const RenderOptions& options, DemoFolder& demo, RenderInputs* inputs) {
    std::vector<std::filesystem::path> files = options.files;
    if (options.demo) {
        if (const Result created = demo.Create(); !created.ok()) {
            return Result::Failure(created.code, "the demo cannot be written: " + created.message);
        }
        files.insert(files.end(), demo.Imports().begin(), demo.Imports().end());
    }
    for (const auto& file : files) {
        if (ImportKindOf(file) != ImportKind::Song) {
            inputs->imports.push_back(file);
        } else if (Result read = ReadSong(file, inputs); !read.ok()) {
            return read;
        }
    }
    if (std::none_of(inputs->imports.begin(), inputs->imports.end(), [](const auto& f) {
            return ImportKindOf(f) == ImportKind::Model || ImportKindOf(f) == ImportKind::Accessory;
        })) {
        return Result::Failure(E_INVALIDARG, "nothing to render: give a model (.pmx or .x)");
    }
    return {};
}

}  // namespace qv
