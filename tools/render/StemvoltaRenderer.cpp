#include "tools/render/StemvoltaRenderer.h"

#include "framework/IGraphicsFolder.h"
#include "plugin/StemvoltaOfflineHost.h"
#include "tools/render/OracleMaskSource.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// The models folder needs no marker file: it is the resources folder itself.
class ModelFolderGraphics : public IGraphicsFolder {
public:
    explicit ModelFolderGraphics(const char* folder) : IGraphicsFolder(folder) {}
    void ResourcesFolderPath(KIT_String& out) override { out.Set(GetFolder()); }
};

std::string ModelPath(const std::string& folder, int stem) {
    char name[64];
    std::snprintf(name, sizeof(name), "dnn-model-source%d.model", stem);
    return folder + "/" + name;
}

} // namespace

StemvoltaRenderer::StemvoltaRenderer(const RenderSettings& settings) : mSettings(settings) {}

void StemvoltaRenderer::ApplySettings(StemvoltaOfflineHost& plug) const {
    for (int k = 0; k < MaskPredictor::kNumStems; ++k) {
        plug.SetParam(Stemvolta::kVocal + k, mSettings.levelsDb[k]);
        plug.SetParam(Stemvolta::kVocalSensitivity + k, mSettings.sensitivities[k]);
    }
    plug.SetParam(Stemvolta::kSoftHard, mSettings.softHard);
}

bool StemvoltaRenderer::Render(const ChannelList& input, double sampleRate, ChannelList& output,
                               OracleMaskSource* oracle, std::string& error) {
    const int channels = static_cast<int>(input.size());
    if (channels < 1 || channels > 2) {
        error = "the input must have one or two channels, not " + std::to_string(channels);
        return false;
    }
    const int length = input[0].GetSize();
    if (channels == 2 && input[1].GetSize() != length) {
        error = "the input channels differ in length";
        return false;
    }
    if (!(sampleRate >= 8000.0 && sampleRate <= 384000.0)) {
        error = "unsupported sample rate " + std::to_string(sampleRate);
        return false;
    }
    if (oracle && sampleRate != MaskPredictor::kStftRate) {
        error = "oracle masks need a 44100 Hz input";
        return false;
    }
    const int block = mSettings.blockSize;
    if (block <= 0 || block > 65536) {
        error = "the block size must be 1 to 65536 samples";
        return false;
    }

    // The plug-in owns the graphics context from construction on.
    StemvoltaOfflineHost plug(new ModelFolderGraphics(mSettings.modelsDir.c_str()));
    if (oracle) {
        // The plug-in hands out its predictor read-only; the object itself is
        // not const.
        const_cast<MaskPredictor*>(plug.GetPredictor())->SetMaskSource(oracle);
    }
    for (int k = 0; k < MaskPredictor::kNumStems && !oracle; ++k) {
        if (!plug.GetPredictor()->HasModel(k)) {
            error = "cannot load the model " + ModelPath(mSettings.modelsDir, k);
            return false;
        }
    }
    plug.Start(sampleRate, block, channels);
    ApplySettings(plug);
    mLatency = plug.GetLatency();

    // Latency zeros after the sound flush out its end; the first latency
    // output samples are dropped. Whole blocks only: the host block size is
    // what the plug-in was prepared for.
    const long total = static_cast<long>(length) + mLatency;
    const long blocks = (total + block - 1) / block;
    std::vector<std::vector<double>> in(channels, std::vector<double>(block));
    // A host's output buffers still hold the previous block when the next one
    // starts; the plug-in's silence test reads them.
    std::vector<std::vector<double>> out(channels, std::vector<double>(block, 0.0));
    output = ChannelList(channels);
    for (KIT_TypedBuf<double>& channel : output) {
        channel.Resize(length);
        if (channel.GetSize() != length) {
            error = "out of memory";
            return false;
        }
    }

    double* inPtrs[2] = {nullptr, nullptr};
    double* outPtrs[2] = {nullptr, nullptr};
    for (int c = 0; c < channels; ++c) {
        inPtrs[c] = in[c].data();
        outPtrs[c] = out[c].data();
    }
    for (long b = 0; b < blocks; ++b) {
        const long start = b * block;
        for (int c = 0; c < channels; ++c) {
            const double* src = input[c].Get();
            for (int i = 0; i < block; ++i) {
                const long t = start + i;
                in[c][i] = t < length ? src[t] : 0.0;
            }
        }
        if (oracle) oracle->SetBlockStart(start);
        plug.ProcessDoubleReplacing(inPtrs, outPtrs, block);
        for (int c = 0; c < channels; ++c) {
            double* dst = output[c].Get();
            for (int i = 0; i < block; ++i) {
                const long t = start + i - mLatency;
                if (t >= 0 && t < length) dst[t] = out[c][i];
            }
        }
    }
    return true;
}
