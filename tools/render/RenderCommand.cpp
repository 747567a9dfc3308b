#include "tools/render/RenderCommand.h"

#include "toolkit/AudioFile.h"
#include "tools/render/OracleMaskSource.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

constexpr int kStems = MaskPredictor::kNumStems;

// A whole finite number within [lo, hi].
bool ParseNumber(const std::string& text, double lo, double hi, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
    if (v < lo || v > hi) return false;
    value = v;
    return true;
}

// Exactly four comma-separated numbers within [lo, hi].
bool ParseFour(const std::string& text, double lo, double hi, std::array<double, kStems>& out) {
    std::array<double, kStems> values{};
    size_t begin = 0;
    for (int k = 0; k < kStems; ++k) {
        const size_t comma = text.find(',', begin);
        const bool last = k == kStems - 1;
        if (last != (comma == std::string::npos)) return false;
        const std::string item = text.substr(begin, last ? std::string::npos : comma - begin);
        if (!ParseNumber(item, lo, hi, values[k])) return false;
        begin = comma + 1;
    }
    out = values;
    return true;
}

} // namespace

const char* RenderUsage() {
    return "usage: stemvolta-render [options] INPUT OUTPUT.wav\n"
           "Runs INPUT through the Stemvolta chain and writes the result as a 32-bit\n"
           "float WAV of the same length (the chain's latency is removed).\n"
           "  --levels V,B,D,O         stem levels in dB, -120..12 (default 0,0,0,0)\n"
           "  --sensitivities V,B,D,O  stem sensitivities in %, 0..100 (default 100 each)\n"
           "  --soft-hard P            0 soft masks .. 100 hard masks (default 0)\n"
           "  --block N                host block size in samples (default 512)\n"
           "  --models DIR             folder of dnn-model-source0..3.model\n"
           "                           (default plugin/resources)\n"
           "  --oracle SOURCES_DIR     masks from the true stems SOURCES_DIR/vocals.wav,\n"
           "                           bass.wav, drums.wav, other.wav instead of the\n"
           "                           networks (44100 Hz input only)\n"
           "  --help                   this text\n";
}

bool ParseRenderCommandLine(const std::vector<std::string>& args, RenderCommandLine& out,
                            std::string& error) {
    RenderCommandLine cmd;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            cmd.help = true;
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            files.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "missing value after " + arg;
            return false;
        }
        const std::string& value = args[++i];
        bool ok = true;
        double number = 0.0;
        if (arg == "--levels") {
            ok = ParseFour(value, -120.0, 12.0, cmd.settings.levelsDb);
        } else if (arg == "--sensitivities") {
            ok = ParseFour(value, 0.0, 100.0, cmd.settings.sensitivities);
        } else if (arg == "--soft-hard") {
            ok = ParseNumber(value, 0.0, 100.0, cmd.settings.softHard);
        } else if (arg == "--block") {
            ok = ParseNumber(value, 1.0, 65536.0, number) && number == std::floor(number);
            if (ok) cmd.settings.blockSize = static_cast<int>(number);
        } else if (arg == "--models") {
            ok = !value.empty();
            cmd.settings.modelsDir = value;
        } else if (arg == "--oracle") {
            ok = !value.empty();
            cmd.oracleDir = value;
        } else {
            error = "unknown option " + arg;
            return false;
        }
        if (!ok) {
            error = "bad value for " + arg + ": \"" + value + "\"";
            return false;
        }
    }
    if (!cmd.help && files.size() != 2) {
        error = "expected an input and an output file";
        return false;
    }
    if (files.size() == 2) {
        cmd.input = files[0];
        cmd.output = files[1];
    }
    out = cmd;
    return true;
}

bool RunRenderCommand(const RenderCommandLine& cmd, std::string& error) {
    const std::unique_ptr<AudioFile> in = AudioFile::Load(cmd.input.c_str());
    if (!in) {
        error = "cannot read " + cmd.input;
        return false;
    }
    StemvoltaRenderer::ChannelList input(in->GetNumChannels());
    for (int c = 0; c < in->GetNumChannels(); ++c) {
        KIT_TypedBuf<double>* channel = nullptr;
        in->GetChannel(c, &channel);
        if (channel) input[c] = std::move(*channel);
    }

    std::unique_ptr<OracleMaskSource> oracle;
    if (!cmd.oracleDir.empty()) {
        oracle = OracleMaskSource::Load(cmd.oracleDir, error);
        if (!oracle) return false;
    }

    StemvoltaRenderer renderer(cmd.settings);
    StemvoltaRenderer::ChannelList output;
    if (!renderer.Render(input, in->GetSampleRate(), output, oracle.get(), error)) {
        error = cmd.input + ": " + error;
        return false;
    }

    // Always a float WAV, whatever the output name's extension.
    AudioFile out(static_cast<int>(output.size()), AudioFile::kFormatWavFloat, &output,
                  in->GetSampleRate());
    if (!out.Save(cmd.output.c_str())) {
        error = "cannot write " + cmd.output;
        return false;
    }
    return true;
}
