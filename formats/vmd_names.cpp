// Names in VMD files: keys that keep every distinct byte string distinct, and model names in file
// terms.
#include "formats/vmd_names.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qv {

namespace {

const iconv_t kNoHandle = reinterpret_cast<iconv_t>(-1);
constexpr char16_t kEscapeBase = 0xDC00;

bool IsAscii(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

std::u16string EscapeAll(std::span<const std::uint8_t> bytes) {
    std::u16string key;
    key.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        key.push_back(b < 0x80 ? char16_t(b) : char16_t(kEscapeBase + b));
    }
    return key;
}

}  // namespace

VmdNameCodec::VmdNameCodec() : encoder_(iconv_open("CP932", "UTF-16LE")) {}

VmdNameCodec::~VmdNameCodec() {
    if (encoder_ != kNoHandle) {
        iconv_close(static_cast<iconv_t>(encoder_));
    }
}

std::string VmdNameCodec::Encode(std::u16string_view text) {
    std::string out;
    if (encoder_ == kNoHandle) {
        for (char16_t c : text) {
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    iconv_t cd = static_cast<iconv_t>(encoder_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string in(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        in[2 * i] = static_cast<char>(text[i] & 0xFF);
        in[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, sizeof buffer - outLeft);
        if (rc != static_cast<std::size_t>(-1)) {
            break;
        }
        if (err == E2BIG) {
            continue;
        }
        // A character the code page lacks, or a broken surrogate pair.
        out.push_back('?');
        const std::size_t skip = std::min<std::size_t>(2, inLeft);
        inPtr += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::u16string VmdNameCodec::KeyOf(std::span<const std::uint8_t> field) {
    const auto nul = std::find(field.begin(), field.end(), std::uint8_t{0});
    const std::span<const std::uint8_t> bytes =
        field.first(static_cast<std::size_t>(nul - field.begin()));
    if (IsAscii(bytes)) {
        return std::u16string(bytes.begin(), bytes.end());
    }
    auto roundTrips = [&](std::span<const std::uint8_t> part, std::u16string& text) {
        text = decoder_.Decode(part);
        const std::string back = Encode(text);
        return back.size() == part.size() &&
               std::memcmp(back.data(), part.data(), part.size()) == 0;
    };
    std::u16string text;
    if (roundTrips(bytes, text)) {
        return text;
    }
    if (roundTrips(bytes.first(bytes.size() - 1), text)) {
        text.push_back(char16_t(kEscapeBase + bytes.back()));
        return text;
    }
    return EscapeAll(bytes);
}

std::u16string VmdNameCodec::ModelNameKey(std::u16string_view name, std::size_t fieldBytes) {
    std::string bytes = Encode(name);
    if (bytes.size() > fieldBytes) {
        bytes.resize(fieldBytes);
    }
    return KeyOf(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace qv
