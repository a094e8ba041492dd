// UTF-16 text, as file names and content names hold it, brought to the UTF-8 the rest reads.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

}  // namespace qv
