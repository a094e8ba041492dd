// The `qv` program: the player window by default, `qv render` for a video.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/player.h"
#include "app/render_command.h"
#include "platform/version.h"

using namespace qv;

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "render") == 0) {
        return RunRenderCommand(argc - 1, argv + 1);
    }
    PlayerOptions options;
    if (const Result parsed = ParseOptions(argc, argv, &options); !parsed.ok()) {
        std::fprintf(stderr, "qv: %s\n", parsed.message.c_str());
        return static_cast<int>(parsed.code);
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("qv %s\n", kVersion);
        return 0;
    }
    return RunPlayer(options);
}
