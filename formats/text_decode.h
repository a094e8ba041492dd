// Text from content files and command lines, brought to the UTF-16 names use and UTF-8 display.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// ToUtf8, for display, lives below the readers so that platform code shares it.
#include "platform/utf16_text.h"

namespace qv {

// UTF-16LE code units from raw bytes; an odd last byte is dropped and the
// text ends at its first NUL.
std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes);

// UTF-8 to UTF-16. Every malformed sequence (bad lead or continuation byte,
// overlong form, surrogate, value above U+10FFFF, cut at the end) becomes one
// U+FFFD. The text ends at its first NUL.
std::u16string DecodeUtf8(std::span<const std::uint8_t> bytes);

// UTF-8 to UTF-16 for names typed or passed on a command line.
std::u16string ToUtf16(std::string_view text);

}  // namespace qv
