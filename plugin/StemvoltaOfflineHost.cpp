#include "plugin/StemvoltaOfflineHost.h"

#include "framework/IParam.h"
#include "framework/ITimeInfo.h"

void StemvoltaOfflineHost::GetTimeSig(int* numerator, int* denominator) {
    *numerator = 4;
    *denominator = 4;
}

void StemvoltaOfflineHost::GetTime(ITimeInfo* info) {
    info->mTransportIsRunning = transportRunning;
}

void StemvoltaOfflineHost::Start(double rate, int blockSize, int channels) {
    SetSampleRate(rate);
    SetBlockSize(blockSize);
    SetInputChannelConnections(0, 2, false);
    SetOutputChannelConnections(0, 2, false);
    SetInputChannelConnections(0, channels, true);
    SetOutputChannelConnections(0, channels, true);
    Reset();
    OnParamReset();
}

void StemvoltaOfflineHost::SetParam(int index, double value) {
    GetParam(index)->Set(value);
    OnParamChange(index);
}
