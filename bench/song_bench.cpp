// Accessory parsing and song decoding against their size and length.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "formats/x_model.h"
#include "platform/song_decoder.h"
#include "tests/support/song_writer.h"
#include "tests/support/x_writer.h"

namespace qv {

namespace {

constexpr double kSongSeconds = 240.0;

// A four-minute song in one form, encoded once per run into a temporary file.
const std::vector<std::uint8_t>& SongBytes(const char* ending) {
    static std::map<std::string, std::vector<std::uint8_t>> songs;
    std::vector<std::uint8_t>& bytes = songs[ending];
    if (bytes.empty()) {
        for (const SongForm& form : SongForms()) {
            if (std::string(form.ending) != ending) {
                continue;
            }
            const auto path =
                std::filesystem::temp_directory_path() / ("qv-bench-song" + std::string(ending));
            std::string error;
            WriteSong(path, form, TestTone(44100, kSongSeconds), &error);
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            std::filesystem::remove(path);
        }
    }
    return bytes;
}

// Decodes to the mixer's format; the counter says how many times faster than
// the song plays.
void DecodeSong(benchmark::State& state, const char* ending) {
    const std::vector<std::uint8_t>& bytes = SongBytes(ending);
    for (auto _ : state) {
        WavAudio audio;
        if (!DecodeCompressedSong(bytes, audio, 48000, 2).ok()) {
            state.SkipWithError("the song does not decode");
            break;
        }
        benchmark::DoNotOptimize(audio.samples.data());
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSongSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeMp3FourMinutes(benchmark::State& state) {
    DecodeSong(state, ".mp3");
}
void BM_DecodeFlacFourMinutes(benchmark::State& state) {
    DecodeSong(state, ".flac");
}

void BM_XParseOneMegabyte(benchmark::State& state) {
    const std::string text = XLargeGrid(1 << 20);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size());
    for (auto _ : state) {
        XModel model;
        if (!ParseXModel(model, bytes).ok()) {
            state.SkipWithError("the mesh does not parse");
            break;
        }
        benchmark::DoNotOptimize(model.meshes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

}  // namespace

BENCHMARK(BM_XParseOneMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMp3FourMinutes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFlacFourMinutes)->Unit(benchmark::kMillisecond);

}  // namespace qv
