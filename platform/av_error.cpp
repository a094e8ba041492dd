// FFmpeg error codes as sentences for the user.
#include "platform/av_error.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace qv {

std::string AvErrorText(int code) {
    if (code == AVERROR(ENOSPC)) {
        return "the disk is full";
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace qv
