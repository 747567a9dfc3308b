#pragma once
// A small plug-in standing in for the host adapter: it implements the pure
// virtuals, records the calls the base makes into a log and reports a
// transport that the test sets.
#include "framework/IEffectBase.h"

#include <string>
#include <vector>

class TestEffect : public IEffectBase {
public:
    explicit TestEffect(const char* channelIO, int nParams = 0, int nPresets = 0)
        : IEffectBase(nParams, channelIO, nPresets, "Effect", "Product", "Maker", 0x00050505,
                      0x70716539, 0x4372566E, 2048, false, false, false, kAPIAU) {}

    void Reset() override { mLog.push_back("Reset"); }
    void OnParamChange(int idx) override {
        mLog.push_back("OnParamChange " + std::to_string(idx) + " " +
                       std::to_string(GetParam(idx)->Value()));
    }
    void PrepareGUIResize() override {}
    void BeginInformHostOfParamChange(int idx) override {}
    void InformHostOfParamChange(int idx, double normalized) override {
        // With the value the parameter holds at the time.
        mLog.push_back("Inform " + std::to_string(idx) + " " + std::to_string(normalized) + " " +
                       std::to_string(GetParam(idx)->Value()));
    }
    void EndInformHostOfParamChange(int idx) override {}
    void InformHostOfProgramChange() override {}
    int64_t GetSamplePos() override { return 0; }
    double GetTempo() override { return 120.0; }
    void GetTimeSig(int* numerator, int* denominator) override {}
    void GetTime(ITimeInfo* timeInfo) override { timeInfo->mTransportIsRunning = mRunning; }
    void ResizeGraphics(int w, int h) override {}
    bool SendMidiMsg(IMidiMsg* msg) override { return false; }
    void PresetsChangedByHost() override { mLog.push_back("PresetsChanged"); }

    void SetHostId(int id) { mHost = id; }

    std::vector<std::string> mLog;
    bool mRunning = false;
};
