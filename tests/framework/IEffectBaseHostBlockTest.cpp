// The host-block helpers driven by the real plug-in base, the way the
// separation plug-in's processing calls them.
#include "TestEffect.h"

#include "tests/support/AllocCounter.h"
#include "toolkit/DspUtilsHost.h"

#include <gtest/gtest.h>

namespace {

constexpr int kFrames = 16;

// Copies the host's channels into lists, doubles them and writes them back.
class HostBlockEffect : public TestEffect {
public:
    explicit HostBlockEffect(const char* channelIO) : TestEffect(channelIO) {}
    void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override {
        DspUtils::GetPlugIOBuffers(*this, inputs, outputs, nFrames, mMain, mSideChain, mOut);
        for (size_t c = 0; c < mOut.size(); ++c) {
            const KIT_TypedBuf<double>& src = mMain[c < mMain.size() ? c : 0];
            for (int s = 0; s < nFrames; ++s) mOut[c][s] = 2.0 * src[s];
        }
        DspUtils::PlugCopyOutputs(mOut, outputs, nFrames);
        mInput1WasCleared = inputs[1] == nullptr;
    }
    DspUtils::ChannelList mMain, mSideChain, mOut;
    bool mInput1WasCleared = false;
};

struct HostBlockCase {
    const char* what;
    int connectedIn;
    size_t mains;
    bool input1Cleared;
};

class IEffectBaseHostBlock : public ::testing::TestWithParam<HostBlockCase> {};

TEST_P(IEffectBaseHostBlock, ListsFollowConnectionsThenBypassStaysClean) {
    const HostBlockCase& c = GetParam();
    HostBlockEffect plug("1-1-0 2-2-0");
    plug.SetBlockSize(kFrames);
    plug.SetInputChannelConnections(0, c.connectedIn, true);
    plug.SetOutputChannelConnections(0, 2, true);
    float in[2][kFrames], out[2][kFrames];
    for (int s = 0; s < kFrames; ++s) {
        in[0][s] = 0.25f * s;
        in[1][s] = -0.5f * s;
    }
    float* ins[2] = {in[0], in[1]};
    float* outs[2] = {out[0], out[1]};

    const auto block = [&](bool bypass) {
        plug.AttachInputBuffers(0, 2, ins, kFrames);
        plug.AttachOutputBuffers(0, 2, outs);
        if (bypass)
            plug.PassThroughBuffers(kFrames);
        else
            plug.ProcessBuffers(kFrames);
    };

    block(false);
    EXPECT_EQ(plug.mMain.size(), c.mains) << c.what;
    EXPECT_EQ(plug.mSideChain.size(), 0u);
    EXPECT_EQ(plug.mOut.size(), 2u);
    EXPECT_EQ(plug.mInput1WasCleared, c.input1Cleared) << c.what;
    const float* second = c.mains == 2 ? in[1] : in[0];
    for (int s = 0; s < kFrames; ++s) {
        EXPECT_EQ(out[0][s], 2.0f * in[0][s]);
        EXPECT_EQ(out[1][s], 2.0f * second[s]);
    }

    // A bypassed block after the entry was cleared reads and writes only
    // live buffers (the sanitizer build checks this).
    block(true);
    for (int s = 0; s < kFrames; ++s) EXPECT_EQ(out[1][s], second[s]);

    // Steady state: no allocation per block.
    block(false);
    testsupport::AllocCounter counter;
    for (int i = 0; i < 8; ++i) block(i % 3 == 0);
    EXPECT_EQ(counter.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Connections, IEffectBaseHostBlock,
                         ::testing::Values(HostBlockCase{"mono", 1, 1, true},
                                           HostBlockCase{"stereo", 2, 2, false}));

} // namespace
