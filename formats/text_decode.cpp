// Converts between the text encodings of content files without ever failing on bad bytes.
#include "formats/text_decode.h"

namespace qv {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    const std::size_t units = bytes.size() / 2;
    text.resize(units);
    std::size_t n = 0;
    for (; n < units; ++n) {
        char16_t unit = static_cast<char16_t>(bytes[2 * n] | (bytes[2 * n + 1] << 8));
        if (unit == 0) {
            break;
        }
        text[n] = unit;
    }
    text.resize(n);
    return text;
}

std::u16string DecodeUtf8(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t lead = bytes[i];
        if (lead == 0) {
            break;
        }
        if (lead < 0x80) {
            text.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length;
        char32_t cp;
        char32_t minimum;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, minimum = 0x10000;
        } else {
            text.push_back(kReplacement);
            ++i;
            continue;
        }
        // Take as many continuation bytes as are there; a short or broken
        // sequence is replaced once and decoding resumes at the offending byte.
        std::size_t k = 1;
        for (; k < length && i + k < n && (bytes[i + k] & 0xC0) == 0x80; ++k) {
            cp = (cp << 6) | (bytes[i + k] & 0x3F);
        }
        if (k < length || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            text.push_back(kReplacement);
            i += k;
            continue;
        }
        AppendCodePoint(text, cp);
        i += length;
    }
    return text;
}

std::u16string ToUtf16(std::string_view text) {
    std::u16string out =
        DecodeUtf8(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return out;
}

}  // namespace qv
