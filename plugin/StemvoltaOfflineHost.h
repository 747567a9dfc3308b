#pragma once
// The plug-in off-host: answers the host-facing calls of the plug-in base as
// an idle host would and drives the set-up a host performs, so that tools and
// tests can run the whole chain on files and buffers.
#include "plugin/Stemvolta.h"

class StemvoltaOfflineHost : public Stemvolta {
public:
    // graphics: owned by the plug-in; null runs without a resources folder.
    explicit StemvoltaOfflineHost(IGraphics* graphics = nullptr) : Stemvolta(graphics) {}

    void BeginInformHostOfParamChange(int) override {}
    void InformHostOfParamChange(int, double) override {}
    void EndInformHostOfParamChange(int) override {}
    void InformHostOfProgramChange() override {}
    int64_t GetSamplePos() override { return 0; }
    double GetTempo() override { return 120.0; }
    void GetTimeSig(int* numerator, int* denominator) override;
    // Reports transportRunning; a stopped-to-running edge resets the chain.
    void GetTime(ITimeInfo* info) override;
    void ResizeGraphics(int, int) override {}
    bool SendMidiMsg(IMidiMsg*) override { return false; }

    // [host thread] What a host does when it initialises the unit: rate (Hz),
    // block size (frames), connections of 1 or 2 channels, reset, and every
    // parameter's change handler.
    void Start(double rate, int blockSize, int channels);
    // [host thread] Sets parameter index to value (in its own units) and runs
    // the change handler, as a host's parameter change does.
    void SetParam(int index, double value);

    bool transportRunning = false;
};
