#include <cstdio>
#include <string>

#include "app/player.h"

int main(int argc, char** argv) {
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
