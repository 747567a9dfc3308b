#include "toolkit/ProcessObj.h"

ProcessObj::ProcessObj(int bufferSize)
    : mInputTracker(true), mOutputTracker(true), mBufferSize(bufferSize) {}

void ProcessObj::Reset(int bufferSize, int overlapping, int freqRes, double sampleRate) {
    if (bufferSize > 0) mBufferSize = bufferSize;
    if (overlapping > 0) mOverlapping = overlapping;
    if (freqRes > 0) mFreqRes = freqRes;
    // Truncation toward zero; rates that cannot be an int are not stored.
    if (sampleRate >= 1.0 && sampleRate < 2147483648.0) mSampleRate = static_cast<int>(sampleRate);
    Reset();
}

void ProcessObj::ResetTracking() {
    mInputTracker.Reset();
    mOutputTracker.Reset();
}

void ProcessObj::ProcessFrame(KIT_TypedBuf<double>* frame, const KIT_TypedBuf<double>* scFrame) {
    if (frame) mInputTracker.AddValues(*frame);
}

void ProcessObj::ProcessResult(KIT_TypedBuf<double>* result, const KIT_TypedBuf<double>* scResult) {
    if (result) mOutputTracker.AddValues(*result);
}

void ProcessObj::SetTrackIO(int maxPoints, bool trackInput, bool trackOutput, double decimFactor) {
    mTrackInput = trackInput;
    mTrackOutput = trackOutput;
    if (trackInput) mInputTracker.SetParams(maxPoints, decimFactor);
    if (trackOutput) mOutputTracker.SetParams(maxPoints, decimFactor);
}

void ProcessObj::GetTrackedInput(KIT_TypedBuf<double>* out) const {
    mInputTracker.GetValues(out);
}

void ProcessObj::GetTrackedOutput(KIT_TypedBuf<double>* out) const {
    mOutputTracker.GetValues(out);
}
