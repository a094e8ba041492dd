// The progress line of `qv render` and its closing summary, as text.
#include "app/render_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv {

std::string FormatLength(double seconds) {
    seconds = std::max(seconds, 0.0);
    const auto hundredths = static_cast<std::uint64_t>(std::llround(seconds * 100.0));
    const std::uint64_t totalSeconds = hundredths / 100;
    const std::uint64_t hours = totalSeconds / 3600;
    const std::uint64_t minutes = totalSeconds / 60 % 60;
    const std::uint64_t secs = totalSeconds % 60;
    const std::uint64_t frac = hundredths % 100;
    char text[48];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%02llu",
                      static_cast<unsigned long long>(hours),
                      static_cast<unsigned long long>(minutes),
                      static_cast<unsigned long long>(secs), static_cast<unsigned long long>(frac));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu.%02llu",
                      static_cast<unsigned long long>(minutes),
                      static_cast<unsigned long long>(secs), static_cast<unsigned long long>(frac));
    }
    return text;
}

std::string FormatSize(std::uintmax_t bytes) {
    char text[32];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%ju bytes", bytes);
    } else if (bytes < 1000 * 1000) {
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    }
    return text;
}

std::string ProgressLine(std::uint64_t done, std::uint64_t total, double elapsedSeconds) {
    const double percent = total > 0 ? 100.0 * static_cast<double>(done) / total : 100.0;
    char left[32] = "--:--";
    char rate[32] = "-- fps";
    if (done > 0 && elapsedSeconds > 0.0) {
        const double fps = static_cast<double>(done) / elapsedSeconds;
        std::snprintf(rate, sizeof rate, "%.1f fps", fps);
        const auto remaining =
            static_cast<std::uint64_t>(std::llround(static_cast<double>(total - done) / fps));
        std::snprintf(left, sizeof left, "%llu:%02llu",
                      static_cast<unsigned long long>(remaining / 60),
                      static_cast<unsigned long long>(remaining % 60));
    }
    char text[128];
    std::snprintf(text, sizeof text, "frame %llu/%llu  %d%%  %s  %s left",
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                  static_cast<int>(std::floor(percent)), rate, left);
    return text;
}

std::string ProgressPacer::Update(std::uint64_t done, std::uint64_t total, double elapsedSeconds) {
    const std::string line = ProgressLine(done, total, elapsedSeconds);
    if (terminal_) {
        // Back to the line's start and clear what a longer line left there.
        return "\r" + line + "\x1b[K";
    }
    if (done == total || elapsedSeconds - lastPlain_ >= kPlainLineSeconds) {
        lastPlain_ = elapsedSeconds;
        return line + "\n";
    }
    return "";
}

}  // namespace qv
