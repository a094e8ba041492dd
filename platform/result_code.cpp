#include "platform/result_code.h"

#include <cstdio>

std::string FormatResult(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}
