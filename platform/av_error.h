// FFmpeg error codes as sentences for the user.
#pragma once

#include <string>

namespace qv {

// The library's text for an AVERROR code, with "the disk is full" named
// plainly since it is the one a user can act on.
std::string AvErrorText(int code);

}  // namespace qv
