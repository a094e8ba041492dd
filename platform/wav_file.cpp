// Decodes RIFF WAVE songs to float samples, refusing any chunk that does not add up.
#include "platform/wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qv {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

float Sample(const std::uint8_t* p, std::uint16_t bits, bool isFloat) {
    switch (bits) {
        case 8:
            return (static_cast<int>(p[0]) - 128) / 128.0f;  // 8-bit WAV is unsigned
        case 16:
            return static_cast<std::int16_t>(U16(p)) / 32768.0f;
        case 24: {
            const std::int32_t v =
                static_cast<std::int32_t>(p[0]) | static_cast<std::int32_t>(p[1]) << 8 |
                static_cast<std::int32_t>(static_cast<std::int8_t>(p[2])) * 65536;
            return v / 8388608.0f;
        }
        default:
            if (isFloat) {
                float f;
                std::memcpy(&f, p, 4);
                // Float files may hold anything: NaN would poison the mix and loud
                // values would wrap when the mixer converts to integers.
                if (!std::isfinite(f)) {
                    return 0.0f;
                }
                return std::clamp(f, -1.0f, 1.0f);
            }
            return static_cast<float>(static_cast<std::int32_t>(U32(p)) / 2147483648.0);
    }
}

Result DecodeWavBytes(std::span<const std::uint8_t> bytes, WavAudio& audio) {
    audio = {};
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return Result::Failure(E_FAIL, "not a WAV file (no RIFF WAVE header)");
    }
    std::uint16_t format = 0, channels = 0, blockAlign = 0, bits = 0;
    std::uint32_t rate = 0;
    bool haveFormat = false;
    std::span<const std::uint8_t> data;
    bool haveData = false;
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const std::uint8_t* chunk = bytes.data() + pos;
        const std::uint32_t size = U32(chunk + 4);
        if (size > bytes.size() - pos - 8) {
            return Result::Failure(E_FAIL, "the file is cut short inside its '" +
                                               std::string(chunk, chunk + 4) + "' chunk");
        }
        const std::uint8_t* body = chunk + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16) {
                return Result::Failure(E_FAIL, "its format chunk is too short");
            }
            format = U16(body);
            channels = U16(body + 2);
            rate = U32(body + 4);
            blockAlign = U16(body + 12);
            bits = U16(body + 14);
            if (format == kFormatExtensible) {
                if (size < 40) {
                    return Result::Failure(E_FAIL, "its extensible format chunk is too short");
                }
                format = U16(body + 24);  // the first two bytes of the sub-format GUID
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            data = {body, size};
            haveData = true;
        }
        // Chunks are padded to an even size.
        pos += 8 + static_cast<std::size_t>(size) + (size & 1);
    }
    if (!haveFormat) {
        return Result::Failure(E_FAIL, "it has no format chunk");
    }
    if (!haveData) {
        return Result::Failure(E_FAIL, "it has no sample data");
    }
    const bool isFloat = format == kFormatFloat;
    if (format != kFormatPcm && !isFloat) {
        return Result::Failure(
            E_FAIL, "its sample format " + std::to_string(format) + " is not PCM or float");
    }
    if ((isFloat && bits != 32) ||
        (!isFloat && bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        return Result::Failure(E_FAIL,
                               "its " + std::to_string(bits) + "-bit samples are not supported");
    }
    if (channels != 1 && channels != 2) {
        return Result::Failure(
            E_FAIL, "it has " + std::to_string(channels) + " channels (mono or stereo expected)");
    }
    if (rate == 0 || rate > 384000) {
        return Result::Failure(E_FAIL,
                               "its sample rate of " + std::to_string(rate) + " Hz is not usable");
    }
    const std::uint32_t frameBytes = channels * (bits / 8u);
    if (blockAlign != frameBytes) {
        return Result::Failure(E_FAIL, "its block size does not match its sample format");
    }
    if (data.size() % frameBytes != 0) {
        return Result::Failure(E_FAIL, "its sample data ends inside a sample frame");
    }
    audio.channels = channels;
    audio.sampleRate = rate;
    audio.bitsPerSample = bits;
    audio.floatingPoint = isFloat;
    const std::size_t count = data.size() / (bits / 8u);
    audio.samples.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        audio.samples[i] = Sample(data.data() + i * (bits / 8u), bits, isFloat);
    }
    return {};
}

}  // namespace

Result DecodeWav(std::span<const std::uint8_t> bytes, WavAudio& audio) {
    Result decoded = DecodeWavBytes(bytes, audio);
    if (!decoded.ok()) {
        decoded.message = "not a playable WAV file: " + decoded.message;
    }
    return decoded;
}

}  // namespace qv
