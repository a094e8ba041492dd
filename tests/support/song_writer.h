// Songs encoded with FFmpeg's own encoders, for tests and fuzz seeds of the song decoder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/wav_file.h"

namespace qv {

// One of the compressed forms users bring songs in.
struct SongForm {
    const char* ending;     // ".mp3"
    const char* container;  // FFmpeg's muxer name
    const char* encoder;    // FFmpeg's encoder name
};

// MP3, AAC in M4A, Ogg Vorbis, Opus and FLAC.
const std::vector<SongForm>& SongForms();

// Encodes `pcm` (float, one or two channels) into `path` in `form`, at the
// encoder's default quality. False, with FFmpeg's reason in `error`, when the
// encoder is missing or fails.
bool WriteSong(const std::filesystem::path& path, const SongForm& form, const WavAudio& pcm,
               std::string* error);

// A stereo test tone: 440 Hz on the left at `amplitude`, 660 Hz on the right at half of it.
WavAudio TestTone(std::uint32_t sampleRate, double seconds, float amplitude = 0.5f);

}  // namespace qv
