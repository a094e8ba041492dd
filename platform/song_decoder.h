// Compressed songs (MP3, AAC, Ogg Vorbis, Opus, FLAC) decoded to float samples by FFmpeg.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "platform/result.h"
#include "platform/wav_file.h"

namespace qv {

// The most samples (frames times channels) a decoded song may hold: what the
// largest WAV file the readers take could hold as 32-bit floats, so a small
// compressed file cannot ask for more memory than a WAV of any size.
inline constexpr std::size_t kMaxSongSamples = std::size_t{1} << 30;

// True for the endings of the songs DecodeCompressedSong takes (".mp3",
// ".m4a", ".aac", ".ogg", ".oga", ".opus", ".flac"), each in lower or upper
// case, exactly as the other content kinds are matched.
bool IsCompressedSongExtension(const std::string& extension);

// Decodes the first audio stream of an MP3, AAC (raw or in MP4/M4A), Ogg
// Vorbis, Opus (in Ogg) or FLAC file held in memory to interleaved floats.
// sampleRate and channels pick the output format; 0 keeps the file's own
// rate, and more than two channels are mixed down to stereo. Frames that do
// not decode are skipped; a file with no decodable audio, another codec, or a
// decoded length over kMaxSongSamples is refused with E_FAIL and the reason,
// FFmpeg's own where it gave one. Any thread may call it.
Result DecodeCompressedSong(std::span<const std::uint8_t> bytes, WavAudio& audio,
                            int sampleRate = 0, int channels = 0);

// A song file's bytes by the ending of its name: the compressed forms above
// through DecodeCompressedSong (in the format asked for), anything else
// through the WAV reader (in the file's own format).
Result DecodeSongFile(const std::filesystem::path& name, std::span<const std::uint8_t> bytes,
                      WavAudio& audio, int sampleRate = 0, int channels = 0);

}  // namespace qv
