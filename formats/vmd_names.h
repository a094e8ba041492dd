// Names in VMD files: keys that keep every distinct byte string distinct, and model names in file
// terms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace qv {

// Widths of the name fields of a VMD file.
inline constexpr std::size_t kVmdKeyNameBytes = 15;  // bone and morph keys
inline constexpr std::size_t kVmdIkNameBytes = 20;   // IK switches

// A VMD name field holds Shift-JIS bytes cut to a fixed width, often inside a
// double-byte character. Two fields that differ in their bytes are different
// names, even when they differ only in such a cut byte, so a name is keyed by
// a UTF-16 string that reads as the decoded name and maps back to exactly one
// byte string: bytes that do not decode to text that encodes back to them are
// carried as the lone surrogates U+DC80..U+DCFF (a cut last byte alone when
// the rest is clean text, otherwise every byte above 0x7F). Decoded text never
// holds a lone surrogate, so the keys of different byte strings never meet.
//
// A model's name matches a field when its Shift-JIS bytes, cut to the field's
// width, equal the field's bytes: ModelNameKey gives the key of those bytes.
//
// Holds iconv handles: one codec per thread.
class VmdNameCodec {
public:
    VmdNameCodec();
    ~VmdNameCodec();
    VmdNameCodec(const VmdNameCodec&) = delete;
    VmdNameCodec& operator=(const VmdNameCodec&) = delete;

    // The key of a field's bytes up to its first NUL.
    std::u16string KeyOf(std::span<const std::uint8_t> field);

    // The key under which a file stores name when the field is fieldBytes wide.
    std::u16string ModelNameKey(std::u16string_view name, std::size_t fieldBytes);

    // Shift-JIS bytes of text; characters the code page lacks become '?'.
    std::string Encode(std::u16string_view text);

private:
    Cp932Decoder decoder_;
    void* encoder_;  // iconv_t, or (iconv_t)-1 when the system lacks CP932
};

}  // namespace qv
