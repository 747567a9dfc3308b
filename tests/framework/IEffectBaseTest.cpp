#include "TestEffect.h"

#include "framework/IGraphics.h"
#include "tests/support/AllocCounter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

namespace {

struct ChannelIOCase {
    const char* what;
    const char* channelIO;
    int configs, inputs, outputs, sideChain;
    std::vector<std::tuple<int, int, bool>> legal; // nIn, nOut, LegalIO
};

class IEffectBaseChannelIO : public ::testing::TestWithParam<ChannelIOCase> {};

TEST_P(IEffectBaseChannelIO, ParsesCountsAndLegalPairs) {
    const ChannelIOCase& c = GetParam();
    TestEffect plug(c.channelIO);
    EXPECT_EQ(plug.NChannelIO(), c.configs);
    EXPECT_EQ(plug.NInChannels(), c.inputs);
    EXPECT_EQ(plug.NOutChannels(), c.outputs);
    EXPECT_EQ(plug.NSideChainChannels(), c.sideChain);
    for (const auto& [nIn, nOut, expected] : c.legal)
        EXPECT_EQ(plug.LegalIO(nIn, nOut), expected) << nIn << "," << nOut;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, IEffectBaseChannelIO,
    ::testing::Values(
        ChannelIOCase{"null", nullptr, 0, 0, 0, 0, {{-1, -1, false}, {0, 0, false}}},
        ChannelIOCase{"empty", "", 1, 0, 0, 0, {{0, 0, true}, {-1, -1, true}, {1, 1, false}}},
        ChannelIOCase{"mono and stereo",
                      "1-1-0 2-2-0",
                      2,
                      2,
                      2,
                      0,
                      {{1, 1, true},
                       {2, 2, true},
                       {1, 2, false},
                       {-1, 2, true},
                       {2, -1, true},
                       {3, -1, false}}},
        ChannelIOCase{"side-chain", "2-2-2", 1, 4, 2, 2, {{4, 2, true}, {2, 2, false}}},
        ChannelIOCase{"largest of each", "1-4-0 3-1-1", 2, 4, 4, 1, {{4, 1, true}, {1, 4, true}}},
        ChannelIOCase{"short field", "1-2", 1, 1, 2, 0, {{1, 2, true}}}));

TEST(IEffectBase, IdentityAndVersion) {
    TestEffect plug("1-1-0", 3, 2);
    EXPECT_EQ(plug.GetEffectVersion(false), 0x00050505);
    EXPECT_EQ(plug.GetEffectVersion(true), 50505);
    char text[16];
    plug.GetEffectVersionStr(text, sizeof text);
    EXPECT_STREQ(text, "v5.5.5");
    EXPECT_STREQ(plug.GetEffectName(), "Effect");
    EXPECT_STREQ(plug.GetMfrName(), "Maker");
    EXPECT_EQ(plug.GetHost(), IEffectBase::kHostUnknown);
    EXPECT_EQ(plug.GetAPI(), IEffectBase::kAPIAU);
    EXPECT_EQ(plug.GetLatency(), 2048);
    plug.SetLatency(100);
    EXPECT_EQ(plug.GetLatency(), 100);
    EXPECT_EQ(plug.GetSampleRate(), 44100.0);
    EXPECT_EQ(plug.GetBlockSize(), 0);
    EXPECT_EQ(plug.NParams(), 3);
    EXPECT_EQ(plug.GetParam(3), nullptr);
    EXPECT_EQ(plug.GetParam(-1), nullptr);
    EXPECT_EQ(plug.NPresets(), 2);
    EXPECT_STREQ(plug.GetPresetName(1), "empty");
    EXPECT_STREQ(plug.GetPresetName(2), "");
}

// A stereo plug-in with a block of 8, attached to host float buffers.
class IEffectBaseBuffers : public ::testing::Test {
protected:
    static constexpr int kFrames = 8;

    void SetUp() override {
        plug.SetBlockSize(kFrames);
        for (int s = 0; s < kFrames; ++s) {
            in[0][s] = 0.5f + s;
            in[1][s] = -0.25f - s;
        }
        for (auto& o : out)
            for (float& v : o) v = 777.0f;
    }

    void Attach(int nIn, int nOut) {
        float* ins[2] = {in[0], in[1]};
        float* outs[2] = {out[0], out[1]};
        plug.AttachInputBuffers(0, nIn, ins, kFrames);
        plug.AttachOutputBuffers(0, nOut, outs);
    }

    TestEffect plug{"1-1-0 2-2-0"};
    float in[2][kFrames];
    float out[2][kFrames];
};

TEST_F(IEffectBaseBuffers, ProcessCopiesExactlyAndLeavesUnconnectedOutputs) {
    plug.SetInputChannelConnections(0, 2, true);
    plug.SetOutputChannelConnections(0, 1, true);
    Attach(2, 2);
    plug.ProcessBuffers(kFrames);
    for (int s = 0; s < kFrames; ++s) {
        EXPECT_EQ(out[0][s], in[0][s]);
        EXPECT_EQ(out[1][s], 777.0f) << "unconnected output written";
    }
}

TEST_F(IEffectBaseBuffers, MonoBlockThenBypassedBlock) {
    // The host feeds one input and reads two outputs.
    plug.SetInputChannelConnections(0, 1, true);
    plug.SetInputChannelConnections(1, 1, false);
    plug.SetOutputChannelConnections(0, 2, true);
    Attach(1, 2);
    plug.ProcessBuffers(kFrames);
    for (int s = 0; s < kFrames; ++s) {
        EXPECT_EQ(out[0][s], in[0][s]);
        EXPECT_EQ(out[1][s], 0.0f); // input 1 is silent scratch
    }

    // Bypass: the unconnected second input falls back to input 0.
    Attach(1, 2);
    plug.PassThroughBuffers(kFrames);
    for (int s = 0; s < kFrames; ++s) {
        EXPECT_EQ(out[0][s], in[0][s]);
        EXPECT_EQ(out[1][s], in[0][s]);
    }
}

TEST_F(IEffectBaseBuffers, PassThroughRouting) {
    struct {
        const char* what;
        bool in0, in1, out1;
        float expected0, expected1; // first samples
    } cases[] = {
        {"stereo", true, true, true, 0.5f, -0.25f},
        {"only second input", false, true, true, 0.0f, -0.25f},
        {"no input", false, false, true, 0.0f, 0.0f},
        {"second output unconnected", true, true, false, 0.5f, 777.0f},
    };
    for (const auto& c : cases) {
        out[0][0] = out[1][0] = 777.0f;
        plug.SetInputChannelConnections(0, 1, c.in0);
        plug.SetInputChannelConnections(1, 1, c.in1);
        plug.SetOutputChannelConnections(0, 1, true);
        plug.SetOutputChannelConnections(1, 1, c.out1);
        float* ins[2] = {c.in0 ? in[0] : in[1], in[1]};
        float* outs[2] = {out[0], out[1]};
        plug.AttachInputBuffers(0, 2, ins, kFrames);
        plug.AttachOutputBuffers(0, 2, outs);
        plug.PassThroughBuffers(kFrames);
        EXPECT_EQ(out[0][0], c.expected0) << c.what;
        EXPECT_EQ(out[1][0], c.expected1) << c.what;
    }
}

TEST_F(IEffectBaseBuffers, HostArrayConsumedOnlyByConnectedChannels) {
    plug.SetInputChannelConnections(0, 1, false);
    plug.SetInputChannelConnections(1, 1, true);
    plug.SetOutputChannelConnections(0, 1, false);
    plug.SetOutputChannelConnections(1, 1, true);
    float* ins[1] = {in[0]};
    float* outs[1] = {out[0]};
    plug.AttachInputBuffers(0, 2, ins, kFrames);
    plug.AttachOutputBuffers(0, 2, outs);
    plug.ProcessBuffers(kFrames);
    // Channel 1 took the first host pointers.
    for (int s = 0; s < kFrames; ++s) EXPECT_EQ(out[0][s], in[0][s]);
}

// A host buffer is written in the block it was attached for only: an output
// that a later block does not attach, or that was disconnected since its
// buffer was attached, must not write into the host's old buffer.
TEST_F(IEffectBaseBuffers, HostOutputsHoldForOneBlock) {
    plug.SetInputChannelConnections(0, 2, true);
    plug.SetOutputChannelConnections(0, 2, true);
    struct {
        const char* what;
        bool bypass, reconnect;
    } cases[] = {{"not attached after a processed block", false, false},
                 {"not attached after a bypassed block", true, false},
                 {"disconnected and connected again", false, true}};
    for (const auto& c : cases) {
        Attach(2, 2); // the host hands out[1] to output 1
        if (c.reconnect) {
            plug.SetOutputChannelConnections(1, 1, false);
            plug.SetOutputChannelConnections(1, 1, true);
        } else {
            c.bypass ? plug.PassThroughBuffers(kFrames) : plug.ProcessBuffers(kFrames);
            ASSERT_EQ(out[1][0], in[1][0]) << c.what;
        }
        for (float& v : out[1]) v = 777.0f;
        float* ins[2] = {in[0], in[1]};
        float* outs[1] = {out[0]};
        plug.AttachInputBuffers(0, 2, ins, kFrames);
        plug.AttachOutputBuffers(0, 1, outs); // output 1 is not attached
        c.bypass ? plug.PassThroughBuffers(kFrames) : plug.ProcessBuffers(kFrames);
        EXPECT_EQ(out[0][2], in[0][2]) << c.what;
        for (int s = 0; s < kFrames; ++s) ASSERT_EQ(out[1][s], 777.0f) << c.what;
    }
}

TEST_F(IEffectBaseBuffers, SetBlockSizeZeroesOnlyOnChange) {
    plug.SetInputChannelConnections(0, 2, true);
    plug.SetOutputChannelConnections(0, 2, true);
    Attach(2, 2);
    plug.SetBlockSize(kFrames); // unchanged: contents stay
    plug.ProcessBuffers(kFrames);
    EXPECT_EQ(out[0][3], in[0][3]);

    // A new size after connections: the slots follow the new scratch blocks.
    plug.SetBlockSize(2 * kFrames);
    EXPECT_EQ(plug.GetBlockSize(), 2 * kFrames);
    for (auto& o : out)
        for (float& v : o) v = 777.0f;
    // No input attached since: the processing reads the zeroed scratch.
    float* outs[2] = {out[0], out[1]};
    plug.AttachOutputBuffers(0, 2, outs);
    plug.ProcessBuffers(kFrames);
    EXPECT_EQ(out[0][3], 0.0f);
    EXPECT_EQ(out[1][3], 0.0f);
    Attach(2, 2);
    plug.ProcessBuffers(kFrames);
    EXPECT_EQ(out[1][3], in[1][3]);
}

TEST_F(IEffectBaseBuffers, FramesAboveBlockSizeAreCut) {
    plug.SetInputChannelConnections(0, 2, true);
    plug.SetOutputChannelConnections(0, 2, true);
    std::vector<float> bigIn(4 * kFrames, 1.0f), bigOut(4 * kFrames, 777.0f);
    float* ins[2] = {bigIn.data(), bigIn.data()};
    float* outs[2] = {bigOut.data(), out[1]};
    plug.AttachInputBuffers(0, 2, ins, 4 * kFrames);
    plug.AttachOutputBuffers(0, 2, outs);
    plug.ProcessBuffers(4 * kFrames);
    EXPECT_EQ(bigOut[kFrames - 1], 1.0f);
    EXPECT_EQ(bigOut[kFrames], 777.0f);
    bigOut[kFrames - 1] = 777.0f;
    plug.AttachInputBuffers(0, 2, ins, 4 * kFrames);
    plug.AttachOutputBuffers(0, 2, outs);
    plug.PassThroughBuffers(4 * kFrames);
    EXPECT_EQ(bigOut[kFrames - 1], 1.0f);
    EXPECT_EQ(bigOut[kFrames], 777.0f);
}

// A processing that changes pointer entries, as the host-block helpers do
// for a mono block: the next blocks must not use the cleared entries.
class ClearingEffect : public TestEffect {
public:
    ClearingEffect() : TestEffect("1-1-0 2-2-0") {}
    void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override {
        TestEffect::ProcessDoubleReplacing(inputs, outputs, nFrames);
        inputs[1] = nullptr;
        outputs[1] = nullptr;
    }
};

TEST(IEffectBase, ClearedEntriesAreRestoredByTheNextAttach) {
    constexpr int kFrames = 4;
    ClearingEffect plug;
    plug.SetBlockSize(kFrames);
    plug.SetInputChannelConnections(0, 1, true);
    plug.SetOutputChannelConnections(0, 2, true);
    float in[kFrames] = {1, 2, 3, 4};
    float out0[kFrames] = {}, out1[kFrames] = {};
    float* ins[1] = {in};
    float* outs[2] = {out0, out1};
    plug.AttachInputBuffers(0, 1, ins, kFrames);
    plug.AttachOutputBuffers(0, 2, outs);
    plug.ProcessBuffers(kFrames);
    EXPECT_EQ(out0[3], 4.0f);
    EXPECT_EQ(out1[3], 0.0f);

    for (int pass = 0; pass < 2; ++pass) {
        plug.AttachInputBuffers(0, 1, ins, kFrames);
        plug.AttachOutputBuffers(0, 2, outs);
        if (pass == 0)
            plug.PassThroughBuffers(kFrames);
        else
            plug.ProcessBuffers(kFrames);
    }
    EXPECT_EQ(out1[3], 0.0f);
    EXPECT_EQ(out0[3], 4.0f);
}

// Before the host sets a block size there is no scratch memory: the
// processing sees only null entries and zero frames, and no host buffer is
// written.
TEST(IEffectBase, BeforeTheBlockSizeNothingIsProcessed) {
    class Probe : public TestEffect {
    public:
        Probe() : TestEffect("1-1-0 2-2-0") {}
        void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override {
            ++mCalls;
            mFrames = nFrames;
            for (int i = 0; i < 2; ++i)
                mNonNull += (inputs[i] != nullptr) + (outputs[i] != nullptr);
        }
        int mCalls = 0, mFrames = -1, mNonNull = 0;
    } plug;
    plug.SetInputChannelConnections(0, 2, true);
    plug.SetOutputChannelConnections(0, 2, true);
    float in[4] = {1, 2, 3, 4}, out0[4] = {7, 7, 7, 7}, out1[4] = {7, 7, 7, 7};
    float* ins[2] = {in, in};
    float* outs[2] = {out0, out1};
    for (bool bypass : {false, true}) {
        plug.AttachInputBuffers(0, 2, ins, 4);
        plug.AttachOutputBuffers(0, 2, outs);
        bypass ? plug.PassThroughBuffers(4) : plug.ProcessBuffers(4);
    }
    EXPECT_EQ(plug.mCalls, 1);
    EXPECT_EQ(plug.mFrames, 0);
    EXPECT_EQ(plug.mNonNull, 0);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(out0[s] + out1[s], 14.0f);
}

TEST_F(IEffectBaseBuffers, AudioPathAllocatesNothing) {
    plug.SetInputChannelConnections(0, 2, true);
    plug.SetOutputChannelConnections(0, 2, true);
    Attach(2, 2);
    plug.ProcessBuffers(kFrames);
    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    for (int block = 0; block < 10; ++block) {
        Attach(2, 2);
        plug.UpdateTransportState();
        plug.DetectDuplicatedSideChain(kFrames);
        if (block % 2)
            plug.PassThroughBuffers(kFrames);
        else
            plug.ProcessBuffers(kFrames);
    }
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_EQ(testsupport::ThreadCount(), threads);
}

TEST(IEffectBase, ConnectionRangesStayInsideTheChannels) {
    TestEffect plug("2-2-0");
    plug.SetInputChannelConnections(1, 10, true);
    plug.SetInputChannelConnections(-3, 2, true); // ignored
    EXPECT_FALSE(plug.IsInputChannelConnected(0));
    EXPECT_TRUE(plug.IsInputChannelConnected(1));
    EXPECT_FALSE(plug.IsInputChannelConnected(2));
    EXPECT_FALSE(plug.IsInputChannelConnected(-1));
    plug.SetOutputChannelConnections(0, 5, true);
    EXPECT_TRUE(plug.IsOutputChannelConnected(1));
    EXPECT_FALSE(plug.IsOutputChannelConnected(2));
}

TEST(IEffectBase, TransportResetsOnlyOnStart) {
    TestEffect plug("2-2-0");
    const bool running[] = {false, true, true, false, false, true, true};
    int resets = 0;
    for (size_t i = 0; i < sizeof running; ++i) {
        plug.mRunning = running[i];
        plug.mLog.clear();
        plug.UpdateTransportState();
        const bool reset = !plug.mLog.empty();
        resets += reset;
        EXPECT_EQ(reset, running[i] && (i == 0 || !running[i - 1])) << "block " << i;
    }
    EXPECT_EQ(resets, 2);
}

TEST(IEffectBase, SetParameterFromGUISetsInformsThenNotifies) {
    TestEffect plug("2-2-0", 2);
    plug.GetParam(1)->InitDouble("Level", 0, 0, 100, 0.1);
    plug.SetParameterFromGUI(1, 0.25);
    EXPECT_EQ(plug.GetParam(1)->Value(), 25.0);
    // Both calls log the value they see: set before either of them.
    EXPECT_EQ(plug.mLog, std::vector<std::string>(
                             {"Inform 1 0.250000 25.000000", "OnParamChange 1 25.000000"}));
    plug.mLog.clear();
    plug.SetParameterFromGUI(5, 0.5);
    EXPECT_TRUE(plug.mLog.empty());

    plug.OnParamReset();
    EXPECT_EQ(plug.mLog.size(), 2u);
}

TEST(IEffectBase, BusLabels) {
    TestEffect plug("2-2-2");
    plug.SetChannelLabels();
    ASSERT_EQ(plug.NInputBusLabels(), 2);
    EXPECT_STREQ(plug.GetInputBusLabel(0)->Get(), "main input");
    EXPECT_STREQ(plug.GetInputBusLabel(1)->Get(), "sc input");
    EXPECT_STREQ(plug.GetOutputBusLabel(0)->Get(), "output");

    plug.SetInputBusLabel(1, "key");
    plug.SetInputBusLabel(2, "ignored");
    plug.SetOutputBusLabel(5, "aux"); // inserted at the end
    plug.SetOutputBusLabel(-1, "ignored");
    EXPECT_EQ(plug.NInputBusLabels(), 2);
    EXPECT_STREQ(plug.GetInputBusLabel(1)->Get(), "key");
    ASSERT_EQ(plug.NOutputBusLabels(), 2);
    EXPECT_STREQ(plug.GetOutputBusLabel(1)->Get(), "aux");

    TestEffect mono("1-1-0");
    mono.SetChannelLabels();
    EXPECT_EQ(mono.NInputBusLabels(), 1);
    EXPECT_EQ(mono.NOutputBusLabels(), 1);
}

TEST(IEffectBase, DuplicatedSideChainOnlyForLogic) {
    constexpr int kFrames = 4;
    TestEffect plug("2-2-2");
    plug.SetBlockSize(kFrames);
    plug.SetInputChannelConnections(0, 4, true);
    float main0[kFrames] = {1, 2, 3, 4}, main1[kFrames] = {5, 6, 7, 8};
    float sc1[kFrames] = {5, 6, 7, 9};
    float* ins[4] = {main0, main1, main0, sc1};
    plug.AttachInputBuffers(0, 4, ins, kFrames);

    plug.DetectDuplicatedSideChain(kFrames);
    EXPECT_TRUE(plug.IsInputChannelConnected(2)) << "only host 21 is checked";

    plug.SetHostId(IEffectBase::kHostLogic);
    plug.DetectDuplicatedSideChain(kFrames);
    EXPECT_FALSE(plug.IsInputChannelConnected(2));
    EXPECT_TRUE(plug.IsInputChannelConnected(3));
}

} // namespace

namespace {

class CountingGraphics : public IGraphics {
public:
    explicit CountingGraphics(int* deleted) : mDeleted(deleted) {}
    ~CountingGraphics() override { ++*mDeleted; }
    void ResourcePath(KIT_String& out, const char* fileName) override {}

private:
    int* mDeleted;
};

TEST(IEffectBase, OwnsTheAttachedGraphics) {
    int deleted = 0;
    {
        TestEffect plug("2-2-0");
        plug.AttachGraphics(nullptr);
        EXPECT_EQ(plug.GetGUI(), nullptr);
        auto* first = new CountingGraphics(&deleted);
        plug.AttachGraphics(first);
        plug.AttachGraphics(first); // the same context again: kept
        EXPECT_EQ(deleted, 0);
        auto* second = new CountingGraphics(&deleted);
        plug.AttachGraphics(second);
        EXPECT_EQ(deleted, 1);
        EXPECT_EQ(plug.GetGUI(), second);
    }
    EXPECT_EQ(deleted, 2);
}

} // namespace
