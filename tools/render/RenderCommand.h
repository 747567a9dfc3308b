#pragma once
// The command line of stemvolta-render: parsing and the run itself (read the
// sound file, render it through the chain, write a 32-bit float WAV).
//
// [tool thread] offline only.
#include "tools/render/StemvoltaRenderer.h"

#include <string>
#include <vector>

struct RenderCommandLine {
    RenderSettings settings;
    std::string input;
    std::string output;
    // Folder of the true stems ("vocals.wav" .. "other.wav"); empty: the
    // networks predict the masks.
    std::string oracleDir;
    bool help = false;
};

// The usage text, ending in a newline.
const char* RenderUsage();

// args: the arguments after the program name. False with a message in error
// on an unknown option, a missing or malformed value, a value out of range or
// a wrong number of file names.
bool ParseRenderCommandLine(const std::vector<std::string>& args, RenderCommandLine& out,
                            std::string& error);

// Reads cmd.input, renders it and writes cmd.output. False with a message in
// error when a file cannot be read or written or the render fails.
bool RunRenderCommand(const RenderCommandLine& cmd, std::string& error);
