// Compressed songs must decode to what was encoded: the same length and loudness per side.
#include "platform/song_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/audio_engine.h"
#include "tests/support/song_writer.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

std::vector<std::uint8_t> ReadBack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Root mean square of one channel over the middle of the song, away from the
// encoders' fade-in and the last partial frame.
double Rms(const WavAudio& audio, int channel) {
    const std::size_t frames = audio.frameCount();
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t f = frames / 10; f < frames - frames / 10; ++f, ++n) {
        const double s = audio.samples[f * audio.channels + channel];
        sum += s * s;
    }
    return std::sqrt(sum / static_cast<double>(n));
}

std::vector<std::uint8_t> Encoded(const TempFolder& folder, const SongForm& form,
                                  const WavAudio& pcm) {
    const std::filesystem::path path = folder.path() / (std::string("song") + form.ending);
    std::string error;
    EXPECT_TRUE(WriteSong(path, form, pcm, &error)) << form.encoder << ": " << error;
    return ReadBack(path);
}

// An MP3 whose ID3 tag carries a cover picture, which the container shows as
// a second stream, as taggers write them.
std::vector<std::uint8_t> WithCoverPicture(const std::vector<std::uint8_t>& mp3) {
    std::vector<std::uint8_t> picture = {0, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 0};
    const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    picture.insert(picture.end(), std::begin(png), std::end(png));
    picture.resize(picture.size() + 64, 0x42);
    const auto size = static_cast<std::uint32_t>(picture.size());
    std::vector<std::uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
    const std::uint32_t tagSize = size + 10;  // under 128: one syncsafe byte holds it
    tag.insert(tag.end(), {0, 0, 0, static_cast<std::uint8_t>(tagSize)});
    tag.insert(tag.end(), {'A', 'P', 'I', 'C', 0, 0, 0, static_cast<std::uint8_t>(size), 0, 0});
    tag.insert(tag.end(), picture.begin(), picture.end());
    tag.insert(tag.end(), mp3.begin(), mp3.end());
    return tag;
}

std::mutex logMutex;
std::string logged;

void KeepLog(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    const std::lock_guard lock(logMutex);
    logged += std::string(context != nullptr ? av_default_item_name(context) : "") + ": " + line;
}

}  // namespace

TEST(SongDecoder, ACoverPictureIsNotDecodedButTheSongPlays) {
    TempFolder folder;
    const WavAudio source = TestTone(44100, 0.5);
    const std::vector<std::uint8_t> song =
        WithCoverPicture(Encoded(folder, SongForms().front(), source));
    av_log_set_callback(KeepLog);
    WavAudio decoded;
    const Result result = DecodeCompressedSong(song, decoded, 44100, 2);
    av_log_set_callback(av_log_default_callback);
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_NEAR(static_cast<double>(decoded.frameCount()) / 44100.0, 0.5, 0.1);
    // The picture's junk would make a picture decoder complain; the only
    // complaints allowed are the refusals to open one.
    std::size_t start = 0;
    for (std::size_t end; (end = logged.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = logged.substr(start, end - start);
        EXPECT_NE(line.find("whitelist"), std::string::npos) << line;
    }
}

TEST(SongDecoder, EveryFormKeepsTheSourceLengthAndLoudnessOfEachSide) {
    TempFolder folder;
    // Sources at the mixer's rate and at CD rate (Opus codes at 48 kHz only).
    for (const std::uint32_t rate : {48000u, 44100u}) {
        const WavAudio source = TestTone(rate, 2.5);
        const double seconds = static_cast<double>(source.frameCount()) / rate;
        for (const SongForm& form : SongForms()) {
            if (rate != 48000 && std::string(form.ending) == ".opus") {
                continue;
            }
            SCOPED_TRACE(std::string(form.ending) + " at " + std::to_string(rate));
            const std::vector<std::uint8_t> bytes = Encoded(folder, form, source);
            WavAudio decoded;
            const Result result = DecodeCompressedSong(bytes, decoded, 48000, 2);
            ASSERT_TRUE(result.ok()) << result.message;
            EXPECT_EQ(decoded.sampleRate, 48000u);
            ASSERT_EQ(decoded.channels, 2);
            EXPECT_NEAR(static_cast<double>(decoded.frameCount()) / 48000.0, seconds, 0.020);
            // Within a dB, the lossy codecs' own tolerance; a swap of the
            // sides, at twice and half the loudness, is far outside it.
            EXPECT_NEAR(Rms(decoded, 0), Rms(source, 0), 0.1 * Rms(source, 0));
            EXPECT_NEAR(Rms(decoded, 1), Rms(source, 1), 0.1 * Rms(source, 1));
        }
    }
}

TEST(SongDecoder, RawAacStreamsDecodeLikeThoseInM4a) {
    TempFolder folder;
    const WavAudio source = TestTone(48000, 1.5);
    const std::vector<std::uint8_t> bytes = Encoded(folder, {".aac", "adts", "aac"}, source);
    WavAudio decoded;
    const Result result = DecodeCompressedSong(bytes, decoded, 48000, 2);
    ASSERT_TRUE(result.ok()) << result.message;
    // A raw stream carries no trim for the encoder's lead-in: up to one
    // frame (1024 samples) longer, never shorter.
    EXPECT_GE(decoded.frameCount() + 1, source.frameCount());
    EXPECT_LE(decoded.frameCount(), source.frameCount() + 2 * 1024);
    EXPECT_NEAR(Rms(decoded, 0), Rms(source, 0), 0.1 * Rms(source, 0));
}

TEST(SongDecoder, KeepsTheFilesOwnFormatWhenAskedForNone) {
    TempFolder folder;
    const WavAudio stereo = TestTone(44100, 1.0);
    WavAudio mono = stereo;
    mono.channels = 1;
    mono.samples.resize(stereo.frameCount());
    for (std::size_t f = 0; f < stereo.frameCount(); ++f) {
        mono.samples[f] = stereo.samples[2 * f];
    }
    const std::vector<std::uint8_t> bytes = Encoded(folder, SongForms().back(), mono);
    WavAudio decoded;
    ASSERT_TRUE(DecodeCompressedSong(bytes, decoded).ok());
    EXPECT_EQ(decoded.sampleRate, 44100u);
    EXPECT_EQ(decoded.channels, 1);
    // FLAC is lossless: every sample comes back within the 16-bit step.
    ASSERT_EQ(decoded.samples.size(), mono.samples.size());
    for (std::size_t i = 0; i < mono.samples.size(); i += 997) {
        EXPECT_NEAR(decoded.samples[i], mono.samples[i], 1.0 / 32768) << i;
    }
}

TEST(SongDecoder, RefusesWhatHoldsNoSongWithTheReason) {
    WavAudio audio;
    const std::vector<std::uint8_t> empty;
    EXPECT_FALSE(DecodeCompressedSong(empty, audio).ok());
    std::vector<std::uint8_t> noise(4096);
    for (std::size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<std::uint8_t>((i * 7919u) >> 3);
    }
    const Result refused = DecodeCompressedSong(noise, audio);
    EXPECT_EQ(refused.code, E_FAIL);
    EXPECT_NE(refused.message.find("cannot decode the audio: "), std::string::npos)
        << refused.message;
    EXPECT_TRUE(audio.samples.empty());
}

TEST(SongDecoder, ACutFilePlaysWhatArrived) {
    TempFolder folder;
    const WavAudio source = TestTone(48000, 2.0);
    const std::vector<std::uint8_t> whole = Encoded(folder, SongForms().front(), source);
    const std::vector<std::uint8_t> half(whole.begin(), whole.begin() + whole.size() / 2);
    WavAudio decoded;
    ASSERT_TRUE(DecodeCompressedSong(half, decoded, 48000, 2).ok());
    EXPECT_NEAR(static_cast<double>(decoded.frameCount()) / 48000.0, 1.0, 0.1);
}

TEST(SongDecoder, EndingsAreMatchedExactlyLikeTheOtherKinds) {
    for (const char* ending : {".mp3", ".MP3", ".m4a", ".ogg", ".opus", ".FLAC", ".aac"}) {
        EXPECT_TRUE(IsCompressedSongExtension(ending)) << ending;
    }
    for (const char* ending : {".Mp3", ".wav", ".mp4", "mp3", ""}) {
        EXPECT_FALSE(IsCompressedSongExtension(ending)) << ending;
    }
}

TEST(SongDecoder, AnEffectLoadsACompressedFileByItsEnding) {
    AudioEngine engine;
    TempFolder folder;
    const std::filesystem::path path = folder.path() / "song.ogg";
    std::string error;
    ASSERT_TRUE(WriteSong(path, SongForms()[2], TestTone(44100, 1.5), &error)) << error;
    SoundEffect song(engine, path);
    EXPECT_NEAR(song.DurationSeconds(), 1.5, 0.020);
    // The same bytes under a WAV name go to the WAV reader, which refuses them.
    const std::filesystem::path wav = folder.path() / "song.wav";
    std::filesystem::copy_file(path, wav);
    EXPECT_THROW(SoundEffect(engine, wav), AudioError);
}

}  // namespace qv
