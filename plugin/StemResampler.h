#pragma once
// The rate converter setting shared by the separation's input and output
// sides: linear interpolation, one low-pass section (Q 0.707, at 0.693 of the
// lower rate's Nyquist frequency), feed mode, one channel per call.
#include "toolkit/StreamResampler.h"

// [audio thread or under the plug-in lock] Configures resampler for
// inputRate -> outputRate (Hz) and starts a new stream.
inline void ConfigureStemResampler(StreamResampler& resampler, double inputRate,
                                   double outputRate) {
    resampler.Reset(0.0);
    resampler.SetMode(true, 1, false, 0, 0);
    resampler.filterQ = 0.707f;
    resampler.filterPos = 0.693f;
    resampler.feedMode = true;
    resampler.SetRates(inputRate, outputRate);
}
