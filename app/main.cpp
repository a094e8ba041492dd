// The `qv` program: the player window by default, `qv render` for a video.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/player.h"
#include "app/render_command.h"

using namespace qv;

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "render") == 0) {
        return RunRenderCommand(argc - 1, argv + 1);
    }
    PlayerOptions options;
    std::string error;
    if (const HRESULT hr = ParseOptions(argc, argv, &options, &error); Failed(hr)) {
        std::fprintf(stderr, "qv: %s\n", error.c_str());
        return static_cast<int>(hr);
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return RunPlayer(options);
}
