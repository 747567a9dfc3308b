// stemvolta-render: runs a sound file through the Stemvolta chain offline.
// See RenderUsage for the options.
#include "tools/render/RenderCommand.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    RenderCommandLine cmd;
    std::string error;
    if (!ParseRenderCommandLine(args, cmd, error)) {
        std::fprintf(stderr, "stemvolta-render: %s\n%s", error.c_str(), RenderUsage());
        return 2;
    }
    if (cmd.help) {
        std::fputs(RenderUsage(), stdout);
        return 0;
    }
    if (!RunRenderCommand(cmd, error)) {
        std::fprintf(stderr, "stemvolta-render: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
