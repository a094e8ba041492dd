// The progress line of `qv render` and its closing summary, as text.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// "frame 45/60  75%  12.3 fps  0:01 left": frames done of all, the rate so
// far and the time the rest takes at that rate ("--:--" before any frame).
std::string ProgressLine(std::uint64_t done, std::uint64_t total, double elapsedSeconds);

// A length in seconds as "M:SS.ss" (hours as "H:MM:SS.ss").
std::string FormatLength(double seconds);

// A file size as "812 bytes", "45.3 KB" or "12.8 MB".
std::string FormatSize(std::uintmax_t bytes);

// Decides when the line is drawn: on a terminal after every frame, redrawn in
// place; elsewhere (a log, a pipe) as a plain line every few seconds and for
// the last frame.
class ProgressPacer {
public:
    static constexpr double kPlainLineSeconds = 5.0;

    explicit ProgressPacer(bool terminal) : terminal_(terminal) {}
    // The text to write now for this frame, or "" for nothing.
    std::string Update(std::uint64_t done, std::uint64_t total, double elapsedSeconds);

private:
    bool terminal_;
    double lastPlain_ = 0.0;
};

}  // namespace qv
