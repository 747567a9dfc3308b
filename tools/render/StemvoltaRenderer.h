#pragma once
// Runs a whole sound through the Stemvolta chain offline, block by block as a
// host would, and hands back the result with the chain's latency removed:
// output sample t comes from input sample t. As after every reset of the
// plug-in, the first block that reaches the chain is faded in over half a
// block, and the first 1536 samples are covered by fewer overlapping frames.
//
// [tool thread] offline only: every member may allocate and read files.
#include "plugin/MaskPredictor.h"
#include "toolkit/KIT_TypedBuf.h"

#include <array>
#include <string>
#include <vector>

class OracleMaskSource;
class StemvoltaOfflineHost;

struct RenderSettings {
    // Stem levels in dB (-120..12), stem order vocals, bass, drums, other.
    std::array<double, MaskPredictor::kNumStems> levelsDb{{0.0, 0.0, 0.0, 0.0}};
    // Stem sensitivities in % (0..100).
    std::array<double, MaskPredictor::kNumStems> sensitivities{{100.0, 100.0, 100.0, 100.0}};
    // Soft/hard blend in %: 0 soft masks only, 100 hard masks only.
    double softHard = 0.0;
    // Host block size in samples (> 0).
    int blockSize = 512;
    // Folder of "dnn-model-source0.model" .. "dnn-model-source3.model".
    std::string modelsDir = "plugin/resources";
};

class StemvoltaRenderer {
public:
    using ChannelList = std::vector<KIT_TypedBuf<double>>;

    explicit StemvoltaRenderer(const RenderSettings& settings);

    // input: one or two channels of equal length at sampleRate Hz. output gets
    // as many channels of the same length. oracle (not owned, may be null)
    // replaces the networks' predictions and needs 44100 Hz; without it all
    // four models must load. False with a message in error on bad settings or
    // input, or when a model cannot be loaded.
    bool Render(const ChannelList& input, double sampleRate, ChannelList& output,
                OracleMaskSource* oracle, std::string& error);

    // The latency the plug-in reported for the last Render, in samples.
    int GetLatency() const { return mLatency; }

private:
    // Sets the user parameters from the settings, as the host would.
    void ApplySettings(StemvoltaOfflineHost& plug) const;

    RenderSettings mSettings;
    int mLatency = 0;
};
