#pragma once
// The host's transport for one block, filled by the host adapter's GetTime.
// Positions of -1 mean "not reported by the host".
#include <cstdint>

struct ITimeInfo {
    double mTempo = 120.0;     // beats per minute
    double mSamplePos = -1.0;  // samples since the song start
    double mPPQPos = -1.0;     // quarter notes since the song start
    double mLastBar = -1.0;    // PPQ position of the last bar line
    double mCycleStart = -1.0; // PPQ
    double mCycleEnd = -1.0;   // PPQ
    int32_t mNumerator = 4;    // time signature
    int32_t mDenominator = 4;
    bool mTransportIsRunning = false;
    bool mTransportLoopEnabled = false;
};
