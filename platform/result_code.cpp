// Prints a result code the way it is usually quoted, in hexadecimal.
#include "platform/result_code.h"

#include <cstdio>

namespace qv {

std::string FormatResult(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace qv
