#pragma once
// Bank of second-order low-pass sections for StreamResampler: one set of
// coefficients shared by up to 64 channels times 4 cascaded sections, each
// (channel, section) pair with its own history.

class ResamplerBiquad {
public:
    static constexpr int kMaxChannels = 64;
    static constexpr int kMaxSections = 4;
    static constexpr int kHistorySets = kMaxChannels * kMaxSections;

    struct History {
        double x1, x2, y1, y2; // previous inputs and outputs, newest first
    };

    // [any thread] histories start at zero, no coefficients until Configure().
    ResamplerBiquad();
    virtual ~ResamplerBiquad() = default;
    ResamplerBiquad(const ResamplerBiquad&) = delete;
    ResamplerBiquad& operator=(const ResamplerBiquad&) = delete;

    // [audio thread] Low-pass at position * (sample rate / 2), position in
    // (0, 1), quality q > 0. Recomputes only when position or q moved by 1e-6
    // or more since the last call.
    void Configure(double position, double q);

    // [audio thread] no allocation. Filters n samples read from in and written
    // to out (both advancing by stride samples; in == out is allowed) with
    // history set `set` (0 .. kHistorySets-1; callers use channel * sections +
    // section). Zero and subnormal results are stored and written as +0.
    void Run(const double* in, double* out, int n, int stride, int set);

    // [audio thread] no allocation. Run over both channels of n interleaved
    // stereo frames in place, with history sets left and right: the same
    // results as two Run calls, with the two recursions interleaved so that
    // they overlap in the pipeline.
    void RunStereo(double* frames, int n, int left, int right);

    // [audio thread] Zeroes every history; coefficients stay.
    void ClearHistories();

    double GetLastPosition() const { return mLastPosition; }
    const History& GetHistory(int set) const { return mHistories[set]; }

private:
    double mLastPosition = -1.0;
    double mLastQ = -1.0;
    double mA1 = 0.0, mA2 = 0.0, mB0 = 0.0, mB1 = 0.0, mB2 = 0.0;
    History mHistories[kHistorySets];
};
