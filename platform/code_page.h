// Reads the Shift-JIS names that motion files carry, one conversion handle per reader.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qv {

// Converts Shift-JIS text (Windows code page 932, with its NEC and IBM
// extensions and 0x5C as backslash) to UTF-16. One decoder keeps one
// conversion handle, so a reader decoding thousands of names opens it once.
// Not thread-safe; use one decoder per thread.
class Cp932Decoder {
public:
    Cp932Decoder();
    ~Cp932Decoder();
    Cp932Decoder(const Cp932Decoder&) = delete;
    Cp932Decoder& operator=(const Cp932Decoder&) = delete;

    // Decodes the bytes up to the first NUL. A sequence that is not valid
    // CP932 becomes U+FFFD; a double-byte character cut by the end of the
    // field is dropped, so the text converts up to the cut.
    std::u16string Decode(std::span<const std::uint8_t> bytes);

private:
    void* handle_;  // iconv_t, or (iconv_t)-1 when the system lacks CP932
};

}  // namespace qv
