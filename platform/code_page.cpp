// Decodes Shift-JIS names through the system converter, skipping it for plain ASCII.
#include "platform/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace qv {

namespace {
const iconv_t kNoHandle = reinterpret_cast<iconv_t>(-1);
}

Cp932Decoder::Cp932Decoder() : handle_(iconv_open("UTF-16LE", "CP932")) {}

Cp932Decoder::~Cp932Decoder() {
    if (handle_ != kNoHandle) {
        iconv_close(static_cast<iconv_t>(handle_));
    }
}

std::u16string Cp932Decoder::Decode(std::span<const std::uint8_t> bytes) {
    auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    bytes = bytes.first(static_cast<std::size_t>(nul - bytes.begin()));
    std::u16string text;
    if (bytes.empty()) {
        return text;
    }
    // Plain ASCII is by far the most common name; no need to ask iconv.
    if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; })) {
        text.assign(bytes.begin(), bytes.end());
        return text;
    }
    if (handle_ == kNoHandle) {
        for (std::uint8_t b : bytes) {
            text.push_back(b < 0x80 ? char16_t(b) : u'\uFFFD');
        }
        return text;
    }
    iconv_t cd = static_cast<iconv_t>(handle_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Every CP932 byte yields at most one UTF-16 code unit.
    char16_t out[256];
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data() + pos));
        std::size_t inLeft = bytes.size() - pos;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        int err = errno;
        std::size_t produced = (sizeof out - outLeft) / sizeof(char16_t);
        text.append(out, produced);
        pos = bytes.size() - inLeft;
        if (rc != static_cast<std::size_t>(-1)) {
            break;
        }
        if (err == E2BIG) {
            continue;
        }
        if (err == EINVAL) {
            break;  // cut inside a double-byte character: keep what came before
        }
        text.push_back(u'\uFFFD');  // EILSEQ: skip the offending byte
        ++pos;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return text;
}

}  // namespace qv
