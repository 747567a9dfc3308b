#include "toolkit/DspUtilsHost.h"
#include "tests/support/AllocCounter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using DspUtils::ChannelList;

// The few plug-in operations the host-block helpers read.
struct FakePlug {
    int inputs = 2;
    int outputs = 2;
    int sideChains = 0;
    std::vector<bool> inConnected = {true, true, true, true};
    std::vector<bool> outConnected = {true, true};

    int NInChannels() const { return inputs; }
    int NOutChannels() const { return outputs; }
    int NSideChainChannels() const { return sideChains; }
    bool IsInputChannelConnected(int i) const {
        return i >= 0 && i < inputs && inConnected[static_cast<size_t>(i)];
    }
    bool IsOutputChannelConnected(int i) const {
        return i >= 0 && i < outputs && outConnected[static_cast<size_t>(i)];
    }
};

// Host channel i holds the samples 100 i + frame (+ 0.5 for outputs), so every
// copy shows where it came from.
struct HostBlock {
    explicit HostBlock(int frames, int channels = 4) : frames(frames) {
        for (int c = 0; c < channels; ++c) {
            in.emplace_back(static_cast<size_t>(frames));
            out.emplace_back(static_cast<size_t>(frames));
            for (int f = 0; f < frames; ++f) {
                in.back()[static_cast<size_t>(f)] = 100.0 * c + f;
                out.back()[static_cast<size_t>(f)] = 100.0 * c + f + 0.5;
            }
        }
        for (auto& v : in) inPtrs.push_back(v.data());
        for (auto& v : out) outPtrs.push_back(v.data());
    }
    int frames;
    std::vector<std::vector<double>> in, out;
    std::vector<double*> inPtrs, outPtrs;
};

// First sample of each buffer identifies its host channel (see HostBlock).
std::vector<double> Origins(const ChannelList& list) {
    std::vector<double> v;
    for (const auto& b : list) v.push_back(b.GetSize() ? b[0] : -1.0);
    return v;
}

struct IoCase {
    const char* name;
    int inputs, outputs, sideChains;
    std::vector<bool> inConnected, outConnected;
    std::vector<int> nullInputs; // host input pointers that are null
    std::vector<double> mains, sideChainsFound, outs;
    bool input1Cleared, output1Cleared;
};

class GetPlugIOBuffersTest : public ::testing::TestWithParam<IoCase> {};

TEST_P(GetPlugIOBuffersTest, CopiesConnectedChannels) {
    const IoCase& c = GetParam();
    FakePlug plug;
    plug.inputs = c.inputs;
    plug.outputs = c.outputs;
    plug.sideChains = c.sideChains;
    plug.inConnected = c.inConnected;
    plug.outConnected = c.outConnected;
    HostBlock host(8);
    for (int i : c.nullInputs) host.inPtrs[static_cast<size_t>(i)] = nullptr;
    double* const in1 = host.inPtrs[1];
    double* const out1 = host.outPtrs[1];

    // Lists left over from an earlier, larger block must not leak through.
    ChannelList mains(3), scs(3), outs(3);
    for (auto* list : {&mains, &scs, &outs})
        for (auto& b : *list) b.Resize(20);

    DspUtils::GetPlugIOBuffers(plug, host.inPtrs.data(), host.outPtrs.data(), host.frames, mains,
                               scs, outs);
    EXPECT_EQ(Origins(mains), c.mains);
    EXPECT_EQ(Origins(scs), c.sideChainsFound);
    EXPECT_EQ(Origins(outs), c.outs);
    for (auto* list : {&mains, &scs, &outs})
        for (auto& b : *list) {
            ASSERT_EQ(b.GetSize(), 8);
            EXPECT_EQ(b[7] - b[0], 7.0);
        }
    EXPECT_EQ(host.inPtrs[1] == nullptr, c.input1Cleared || in1 == nullptr);
    EXPECT_EQ(host.outPtrs[1] == nullptr, c.output1Cleared || out1 == nullptr);
}

const bool T = true, F = false;

INSTANTIATE_TEST_SUITE_P(
    Layouts, GetPlugIOBuffersTest,
    ::testing::Values(
        IoCase{"Stereo", 2, 2, 0, {T, T}, {T, T}, {}, {0, 100}, {}, {0.5, 100.5}, F, F},
        IoCase{"OneConnectedInputTwoOutputs",
               2,
               2,
               0,
               {T, F},
               {T, T},
               {},
               {0},
               {},
               {0.5, 100.5},
               T,
               F},
        IoCase{"NullHostInput", 2, 2, 0, {T, T}, {T, T}, {1}, {0}, {}, {0.5, 100.5}, T, F},
        IoCase{"FirstInputMissing", 2, 2, 0, {F, T}, {T, T}, {}, {100}, {}, {0.5, 100.5}, T, F},
        IoCase{"OneOutput", 2, 2, 0, {T, T}, {F, T}, {}, {0, 100}, {}, {100.5}, F, T},
        IoCase{"StereoWithSideChain",
               4,
               2,
               2,
               {T, T, T, T},
               {T, T},
               {},
               {0, 100},
               {200, 300},
               {0.5, 100.5},
               F,
               F},
        IoCase{"MonoWithSideChain", 2, 1, 1, {T, T}, {T}, {}, {0}, {100}, {0.5}, T, F},
        IoCase{"SideChainDisconnected",
               3,
               2,
               1,
               {T, T, F},
               {T, T},
               {},
               {0, 100},
               {},
               {0.5, 100.5},
               F,
               F},
        IoCase{"NothingConnected", 2, 2, 0, {F, F}, {F, F}, {}, {}, {}, {}, F, F}),
    [](const auto& info) { return std::string(info.param.name); });

// A mono plug-in has one input and one output entry: entry 1 must not be
// written, even though one buffer of each was found.
TEST(GetPlugIOBuffers, MonoPlugInNeverTouchesEntryOne) {
    FakePlug plug;
    plug.inputs = 1;
    plug.outputs = 1;
    double in0[4] = {1, 2, 3, 4}, out0[4] = {};
    double sentinel = 0;
    double* inPtrs[2] = {in0, &sentinel};
    double* outPtrs[2] = {out0, &sentinel};
    ChannelList mains, scs, outs;
    DspUtils::GetPlugIOBuffers(plug, inPtrs, outPtrs, 4, mains, scs, outs);
    EXPECT_EQ(mains.size(), 1u);
    EXPECT_EQ(outs.size(), 1u);
    EXPECT_EQ(inPtrs[1], &sentinel);
    EXPECT_EQ(outPtrs[1], &sentinel);
}

TEST(GetPlugIOBuffers, NullArraysAndNegativeFramesGiveEmptyLists) {
    FakePlug plug;
    ChannelList mains(2), scs, outs(2);
    DspUtils::GetPlugIOBuffers(plug, nullptr, nullptr, 16, mains, scs, outs);
    EXPECT_TRUE(mains.empty());
    EXPECT_TRUE(outs.empty());

    HostBlock host(4);
    DspUtils::GetPlugIOBuffers(plug, host.inPtrs.data(), host.outPtrs.data(), -3, mains, scs, outs);
    ASSERT_EQ(mains.size(), 2u);
    EXPECT_EQ(mains[0].GetSize(), 0);
}

// The audio path: after the first block, later blocks of the same or a smaller
// size allocate nothing and start no thread.
TEST(GetPlugIOBuffers, SteadyBlocksDoNotAllocate) {
    FakePlug plug;
    plug.inputs = 4;
    plug.sideChains = 2;
    HostBlock host(512);
    ChannelList mains, scs, outs;
    DspUtils::GetPlugIOBuffers(plug, host.inPtrs.data(), host.outPtrs.data(), 512, mains, scs,
                               outs);
    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    for (int frames : {512, 256, 511, 1, 512}) {
        DspUtils::GetPlugIOBuffers(plug, host.inPtrs.data(), host.outPtrs.data(), frames, mains,
                                   scs, outs);
        ASSERT_EQ(mains[1].GetSize(), frames);
        EXPECT_FALSE(DspUtils::PlugIOAllZero(mains, outs));
        DspUtils::PlugCopyOutputs(outs, host.outPtrs.data(), frames);
        DspUtils::CopyStereoBuffers(host.inPtrs.data(), host.outPtrs.data(), frames);
    }
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_EQ(testsupport::ThreadCount(), threads);
}

ChannelList MakeList(const std::vector<std::vector<double>>& channels) {
    ChannelList list(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        if (channels[i].empty()) continue;
        list[i].Set(channels[i].data(), static_cast<int>(channels[i].size()));
    }
    return list;
}

struct AllZeroCase {
    std::vector<std::vector<double>> a, b;
    bool expect;
};

class PlugIOAllZeroTest : public ::testing::TestWithParam<AllZeroCase> {};

TEST_P(PlugIOAllZeroTest, TruthTable) {
    const AllZeroCase& c = GetParam();
    EXPECT_EQ(DspUtils::PlugIOAllZero(MakeList(c.a), MakeList(c.b)), c.expect);
}

const std::vector<double> Z = {0, 1e-16, 0}, N = {0, 0.5, 0}, E = {};

INSTANTIATE_TEST_SUITE_P(
    Lists, PlugIOAllZeroTest,
    ::testing::Values(AllZeroCase{{}, {Z, Z}, false}, AllZeroCase{{Z, Z}, {}, false},
                      AllZeroCase{{}, {}, false}, AllZeroCase{{Z}, {Z}, true},
                      AllZeroCase{{E}, {Z}, true}, AllZeroCase{{N}, {Z}, false},
                      AllZeroCase{{Z}, {N}, false},
                      // One buffer in either list: only the first buffers count.
                      AllZeroCase{{Z}, {Z, N}, true}, AllZeroCase{{Z, N}, {Z}, true},
                      AllZeroCase{{Z, Z}, {Z, Z}, true}, AllZeroCase{{Z, N}, {Z, Z}, false},
                      AllZeroCase{{Z, Z}, {Z, N}, false}, AllZeroCase{{N, Z}, {Z, Z}, false},
                      // A third buffer is never looked at.
                      AllZeroCase{{Z, Z, N}, {Z, Z, N}, true}));

TEST(PlugCopyOutputs, CopiesOnlyMatchingLengthsToNonNullPointers) {
    ChannelList list = MakeList({{1, 2, 3}, {4, 5}, {6, 7, 8}});
    double h0[3] = {}, h2[3] = {};
    double h1[3] = {9, 9, 9};
    double* host[3] = {h0, h1, nullptr};
    DspUtils::PlugCopyOutputs(list, host, 3);
    EXPECT_EQ(h0[2], 3.0);
    EXPECT_EQ(h1[0], 9.0); // length 2 != 3 frames
    host[2] = h2;
    DspUtils::PlugCopyOutputs(list, host, 3);
    EXPECT_EQ(h2[0], 6.0);
    DspUtils::PlugCopyOutputs(list, nullptr, 3); // no crash
}

TEST(CopyStereoBuffers, CopiesEachChannelWithBothPointers) {
    double s0[2] = {1, 2}, s1[2] = {3, 4}, d0[2] = {}, d1[2] = {};
    const double* src[2] = {s0, s1};
    double* dst[2] = {d0, nullptr};
    DspUtils::CopyStereoBuffers(src, dst, 2);
    EXPECT_EQ(d0[1], 2.0);
    EXPECT_EQ(d1[0], 0.0);

    src[0] = nullptr;
    d0[1] = 0;
    dst[1] = d1;
    DspUtils::CopyStereoBuffers(src, dst, 2);
    EXPECT_EQ(d0[1], 0.0);
    EXPECT_EQ(d1[1], 4.0);

    // In-place host buffers (input and output the same memory).
    double* same[2] = {s0, s1};
    DspUtils::CopyStereoBuffers(same, same, 2);
    EXPECT_EQ(s0[0], 1.0);
}

} // namespace
