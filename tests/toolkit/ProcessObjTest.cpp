#include "toolkit/ProcessObj.h"

#include <gtest/gtest.h>

namespace {

class CountingObj : public ProcessObj {
public:
    using ProcessObj::ProcessObj;
    using ProcessObj::Reset;
    void Reset() override { ++resets; }
    int resets = 0;
};

KIT_TypedBuf<double> Ramp(int n, double start) {
    KIT_TypedBuf<double> b;
    b.Resize(n);
    for (int i = 0; i < n; ++i) b[i] = start + i;
    return b;
}

TEST(ProcessObj, ResetStoresOnlyPositiveValuesThenResetsTheSubclass) {
    CountingObj obj(1024);
    obj.Reset(2048, 4, 1, 44100.9);
    EXPECT_EQ(obj.GetBufferSize(), 2048);
    EXPECT_EQ(obj.GetOverlapping(), 4);
    EXPECT_EQ(obj.GetFreqRes(), 1);
    EXPECT_EQ(obj.GetSampleRate(), 44100);
    obj.Reset(0, -1, 0, 0.0);
    EXPECT_EQ(obj.GetBufferSize(), 2048);
    EXPECT_EQ(obj.GetOverlapping(), 4);
    EXPECT_EQ(obj.GetSampleRate(), 44100);
    EXPECT_EQ(obj.resets, 2);
}

TEST(ProcessObj, TracksFramesAndResultsOnlyOnceGivenALength) {
    CountingObj obj(8);
    KIT_TypedBuf<double> frame = Ramp(8, 0), result = Ramp(8, 100), out;
    obj.ProcessFrame(&frame, nullptr);
    obj.GetTrackedInput(&out);
    EXPECT_EQ(out.GetSize(), 0); // no length yet: nothing kept

    obj.SetTrackIO(4, true, false, 1.0);
    obj.ProcessFrame(&frame, nullptr);
    obj.ProcessResult(&result, nullptr);
    obj.GetTrackedInput(&out);
    ASSERT_EQ(out.GetSize(), 4);
    EXPECT_EQ(out[0], 4.0);
    EXPECT_EQ(out[3], 7.0);
    obj.GetTrackedOutput(&out);
    EXPECT_EQ(out.GetSize(), 0);

    obj.ResetTracking();
    obj.GetTrackedInput(&out);
    ASSERT_EQ(out.GetSize(), 4);
    EXPECT_EQ(out[3], 0.0);
}

TEST(ProcessObj, BaseResetClearsTheTrackedHistories) {
    ProcessObj obj(8);
    obj.SetTrackIO(4, true, true, 1.0);
    KIT_TypedBuf<double> frame = Ramp(8, 1), result = Ramp(8, 50), out;
    obj.ProcessFrame(&frame, nullptr);
    obj.ProcessResult(&result, nullptr);
    obj.Reset(8, 4, 1, 44100);
    for (bool input : {true, false}) {
        if (input)
            obj.GetTrackedInput(&out);
        else
            obj.GetTrackedOutput(&out);
        ASSERT_EQ(out.GetSize(), 4) << input;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], 0.0) << input << " " << i;
    }
}

} // namespace
