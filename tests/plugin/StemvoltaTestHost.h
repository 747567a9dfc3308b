#pragma once
// Stands in for the host adapter: supplies IEffectBase's host-facing pure
// virtuals to a Stemvolta and drives it with double blocks as a host would.
#include "plugin/Stemvolta.h"

#include <vector>

namespace testmodels {

class TestStemvolta : public Stemvolta {
public:
    explicit TestStemvolta(IGraphics* graphics) : Stemvolta(graphics) {}

    void BeginInformHostOfParamChange(int) override {}
    void InformHostOfParamChange(int, double) override {}
    void EndInformHostOfParamChange(int) override {}
    void InformHostOfProgramChange() override {}
    int64_t GetSamplePos() override { return 0; }
    double GetTempo() override { return 120.0; }
    void GetTimeSig(int* numerator, int* denominator) override {
        *numerator = 4;
        *denominator = 4;
    }
    void GetTime(ITimeInfo* info) override { info->mTransportIsRunning = transportRunning; }
    void ResizeGraphics(int, int) override {}
    bool SendMidiMsg(IMidiMsg*) override { return false; }

    // What the adapter does when the host initialises the unit: rate, block
    // size, connections, reset and every parameter's change handler.
    void Start(double rate, int blockSize, int channels) {
        SetSampleRate(rate);
        SetBlockSize(blockSize);
        SetInputChannelConnections(0, 2, false);
        SetOutputChannelConnections(0, 2, false);
        SetInputChannelConnections(0, channels, true);
        SetOutputChannelConnections(0, channels, true);
        Reset();
        OnParamReset();
    }
    void SetParam(int index, double value) {
        GetParam(index)->Set(value);
        OnParamChange(index);
    }

    bool transportRunning = false;
};

// Host-side buffers of one block: the output buffers keep the previous
// block's output, as a host's do.
class HostBlock {
public:
    HostBlock(int channels, int frames)
        : in(channels, std::vector<double>(frames)), out(channels, std::vector<double>(frames)) {}
    void Process(Stemvolta& plug) {
        double* inputs[2] = {nullptr, nullptr};
        double* outputs[2] = {nullptr, nullptr};
        for (size_t c = 0; c < in.size(); ++c) {
            inputs[c] = in[c].data();
            outputs[c] = out[c].data();
        }
        plug.ProcessDoubleReplacing(inputs, outputs, static_cast<int>(in[0].size()));
    }
    std::vector<std::vector<double>> in, out;
};

} // namespace testmodels
