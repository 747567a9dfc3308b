// The engine's hooks: call order, side-chain routing and the per-channel setters.
#include "toolkit/FftProcessObj16.h"

#include "toolkit/ProcessObj.h"
#include "toolkit/ProcessObjChannel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Buffers = FftProcessObj16::Buffers;
using Log = std::vector<std::string>;

constexpr int kN = 256;

KIT_TypedBuf<double> Ramp(int n, double start, double step) {
    KIT_TypedBuf<double> b;
    b.Resize(n);
    for (int i = 0; i < n; ++i) b[i] = start + i * step;
    return b;
}

Buffers Pair(KIT_TypedBuf<double> a, KIT_TypedBuf<double> b) {
    Buffers out;
    out.push_back(std::move(a));
    out.push_back(std::move(b));
    return out;
}

class LoggingObj : public ProcessObj {
public:
    LoggingObj(Log* log, std::string name) : ProcessObj(kN), mLog(log), mName(std::move(name)) {}
    using ProcessObj::Reset;
    void Reset(int b, int o, int f, double s) override {
        Note("Reset4");
        ProcessObj::Reset(b, o, f, s);
    }
    void Reset() override { Note("Reset"); }
    void ProcessInputBlock(KIT_TypedBuf<double>* block, const KIT_TypedBuf<double>* sc) override {
        Note("InputBlock");
        if (keepInput >= 0 && block->GetSize() > keepInput) block->Resize(keepInput);
    }
    void ProcessFrame(KIT_TypedBuf<double>* f, const KIT_TypedBuf<double>* sc) override {
        Note("Frame");
        ++frames;
        if (sc) scFirst.push_back((*sc)[0]);
        ProcessObj::ProcessFrame(f, sc);
    }
    void ProcessWindowedFrame(KIT_TypedBuf<double>*, const KIT_TypedBuf<double>*) override {
        Note("WindowedFrame");
    }
    void ProcessSpectrum(KIT_TypedBuf<ComplexValue>*, const KIT_TypedBuf<ComplexValue>*) override {
        Note("Spectrum");
    }
    void ProcessIfftResult(KIT_TypedBuf<double>*, const KIT_TypedBuf<double>*) override {
        Note("IfftResult");
    }
    void ProcessResult(KIT_TypedBuf<double>* r, const KIT_TypedBuf<double>* sc) override {
        Note("Result");
        ProcessObj::ProcessResult(r, sc);
    }
    void ProcessWindowedResult(KIT_TypedBuf<double>*, const KIT_TypedBuf<double>*) override {
        Note("WindowedResult");
    }
    void ProcessOutputHop(KIT_TypedBuf<double>*) override { Note("OutputHop"); }

    int keepInput = -1; // shorten every input block to this (-1: keep)
    int frames = 0;
    std::vector<double> scFirst; // first sample of the side-chain frame, per frame

private:
    void Note(const char* what) {
        if (mLog) mLog->push_back(mName + ":" + what);
    }
    Log* mLog;
    std::string mName;
};

class LoggingProcess : public MultichannelProcess {
public:
    explicit LoggingProcess(Log* log) : mLog(log) {}
    void Reset(int, int, int, double) override { mLog->push_back("mc:Reset4"); }
    void ProcessInputBlock(const SampleBufs& mains, const SampleCopies* sc) override {
        mLog->push_back("mc:InputBlock");
        mainsSeen = static_cast<int>(mains.size());
        if (halve)
            for (KIT_TypedBuf<double>* b : mains) b->Resize(b->GetSize() / 2);
    }
    void ProcessFrame(const SampleBufs&, const SampleCopies* sc) override {
        mLog->push_back("mc:Frame");
        scCount = sc ? static_cast<int>(sc->size()) : 0;
    }
    void ProcessWindowedFrame(const SampleBufs&, const SampleCopies*) override {
        mLog->push_back("mc:WindowedFrame");
    }
    void ProcessSpectrum(const SpectrumBufs&, const SpectrumCopies*) override {
        mLog->push_back("mc:Spectrum");
    }
    void ProcessSpectrumPost(const SpectrumBufs&, const SpectrumCopies*) override {
        mLog->push_back("mc:SpectrumPost");
    }
    void ProcessIfftResult(const SampleBufs&, const SampleCopies*) override {
        mLog->push_back("mc:IfftResult");
    }
    void ProcessWindowedResult(const SampleBufs&, const SampleCopies*) override {
        mLog->push_back("mc:WindowedResult");
    }

    bool halve = false;
    int mainsSeen = 0;
    int scCount = -1;

private:
    Log* mLog;
};

TEST(FftProcessObj16Hooks, StagesRunInOrderWithTheMultichannelSpectrumFirst) {
    Log log;
    LoggingObj left(&log, "0"), right(&log, "1");
    LoggingProcess process(&log);
    FftProcessObj16 engine({&left, &right}, 2, 0, kN, 4, 44100, 1);
    engine.AddMultichannelProcess(&process);

    log.clear();
    engine.Reset(kN, 4, 1, 44100);
    EXPECT_EQ(log, (Log{"0:Reset4", "0:Reset", "1:Reset4", "1:Reset", "mc:Reset4"}));

    log.clear();
    const Buffers in = Pair(Ramp(kN, 0, 1), Ramp(kN, 1, 1));
    EXPECT_TRUE(engine.Process(in, {}, nullptr));
    const Log expect = {"mc:InputBlock",     "0:InputBlock",     "1:InputBlock", // before buffering
                        "1:Frame",           "0:Frame",          "mc:Frame", // last channel first
                        "1:WindowedFrame",   "0:WindowedFrame",  "mc:WindowedFrame", //
                        "mc:Spectrum",       "1:Spectrum",       "0:Spectrum", // masks ready first
                        "mc:SpectrumPost",   "1:IfftResult",     "0:IfftResult",     //
                        "mc:IfftResult",     "1:Result",         "0:Result",         //
                        "mc:WindowedResult", "1:WindowedResult", "0:WindowedResult", //
                        "1:OutputHop",       "0:OutputHop"};
    EXPECT_EQ(log, expect);
}

TEST(FftProcessObj16Hooks, ShortenedInputBlocksAreWhatTheChannelsBuffer) {
    LoggingObj left(nullptr, "0"), right(nullptr, "1");
    Log log;
    LoggingProcess process(&log);
    FftProcessObj16 engine({&left, &right}, 2, 0, kN, 4, 44100, 1);
    engine.AddMultichannelProcess(&process);
    const Buffers in = Pair(Ramp(64, 0, 1), Ramp(64, 0, 1));
    auto feed = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) engine.Process(in, {}, nullptr);
    };
    feed(kN / 64); // one frame's worth
    EXPECT_EQ(left.frames, 1);
    process.halve = true;
    feed(2 * kN / 64); // two frames' worth halved: one frame's worth, four hops
    EXPECT_EQ(left.frames, 5);
    right.keepInput = 0; // channel 1 buffers nothing more
    feed(2 * kN / 64);
    EXPECT_EQ(left.frames, 9);
    EXPECT_EQ(right.frames, 5); // its frames are skipped
}

TEST(FftProcessObj16Hooks, SideChainChannelsFeedTheirMainChannels) {
    struct Case {
        int mains, sides;
        std::vector<double> expectFirst; // side-chain sample 0 seen by each main
    };
    const Case cases[] = {{2, 1, {100, 100}}, {2, 2, {100, 200}}, {3, 2, {100, 200, 100}}};
    for (const Case& c : cases) {
        Log log;
        std::vector<std::unique_ptr<LoggingObj>> objs;
        std::vector<ProcessObj*> ptrs;
        for (int i = 0; i < c.mains; ++i) {
            objs.push_back(std::make_unique<LoggingObj>(nullptr, std::to_string(i)));
            ptrs.push_back(objs.back().get());
        }
        LoggingProcess process(&log);
        FftProcessObj16 engine(ptrs, c.mains, c.sides, kN, 4, 44100, 1);
        engine.AddMultichannelProcess(&process);
        Buffers mains, sides;
        for (int i = 0; i < c.mains; ++i) mains.push_back(Ramp(kN, 0, 1));
        for (int i = 0; i < c.sides; ++i) sides.push_back(Ramp(kN, 100.0 * (i + 1), 1));
        engine.Process(mains, sides, nullptr);
        for (int i = 0; i < c.mains; ++i) {
            ASSERT_EQ(objs[i]->scFirst.size(), 1u) << c.mains << "/" << c.sides;
            EXPECT_EQ(objs[i]->scFirst[0], c.expectFirst[i])
                << c.mains << "/" << c.sides << " " << i;
        }
        EXPECT_EQ(process.scCount, c.mains); // one copy per linked main channel
        EXPECT_EQ(process.mainsSeen, c.mains);
    }
}

TEST(FftProcessObj16Hooks, WithoutSideChainsTheMultichannelGetsNoCopies) {
    Log log;
    LoggingProcess process(&log);
    FftProcessObj16 engine({}, 2, 0, kN, 4, 44100, 1);
    engine.AddMultichannelProcess(&process);
    engine.Process(Pair(Ramp(kN, 1, 0), Ramp(kN, 1, 0)), {}, nullptr);
    EXPECT_EQ(process.scCount, 0);
}

TEST(FftProcessObj16Hooks, ChannelIndexOutOfRangeSetsEveryChannel) {
    struct Case {
        int channel;
        bool expectHann[2];
    };
    for (const Case& c : {Case{5, {true, true}}, Case{-1, {true, true}}, Case{1, {false, true}}}) {
        FftProcessObj16 engine({}, 2, 0, kN, 4, 44100, 1);
        engine.SetAnalysisWindow(c.channel, 1);
        engine.Reset();
        for (int i = 0; i < 2; ++i) {
            const double mid = engine.GetChannel(i)->GetAnalysisWindow()[0];
            EXPECT_EQ(mid == 0.0, c.expectHann[i]) << c.channel << " " << i; // Hann starts at 0
        }
    }
}

} // namespace
