// Stereo 48000 -> 44100 Hz streaming throughput in 512-frame blocks: our
// resampler with the plug-in's settings (linear interpolation, one low-pass
// section, feed mode) beside libsamplerate's linear converter. Prints the
// time ratio ours / libsamplerate at the end.
#include "bench/BenchTimes.h"
#include "toolkit/StreamResampler.h"

#include <benchmark/benchmark.h>
#include <samplerate.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kBlock = 512;
constexpr int kChannels = 2;
constexpr double kInRate = 48000.0;
constexpr double kOutRate = 44100.0;

std::vector<double> Signal() {
    std::vector<double> s(kBlock * kChannels);
    for (int i = 0; i < kBlock; ++i)
        for (int ch = 0; ch < kChannels; ++ch) s[i * kChannels + ch] = std::sin(0.01 * i + ch);
    return s;
}

void BM_StreamResampler(benchmark::State& state) {
    StreamResampler r;
    r.SetMode(true, 1, false, 0, 0);
    r.filterQ = 0.707f;
    r.filterPos = 0.693f;
    r.feedMode = true;
    r.SetRates(kInRate, kOutRate);
    r.Reset(0);
    const std::vector<double> in = Signal();
    std::vector<double> out(kBlock * kChannels);
    for (auto _ : state) {
        double* dst = nullptr;
        const int granted = r.ResamplePrepare(kBlock, kChannels, &dst);
        std::copy(in.begin(), in.begin() + granted * kChannels, dst);
        benchmark::DoNotOptimize(r.ResampleOut(out.data(), granted, kBlock, kChannels));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_StreamResampler);

void BM_LibsamplerateLinear(benchmark::State& state) {
    int error = 0;
    SRC_STATE* src = src_new(SRC_LINEAR, kChannels, &error);
    if (!src) {
        state.SkipWithError(src_strerror(error));
        return;
    }
    const std::vector<double> signal = Signal();
    std::vector<float> in(signal.begin(), signal.end());
    std::vector<float> out(kBlock * kChannels);
    SRC_DATA data{};
    data.src_ratio = kOutRate / kInRate;
    for (auto _ : state) {
        data.data_in = in.data();
        data.input_frames = kBlock;
        data.data_out = out.data();
        data.output_frames = kBlock;
        data.end_of_input = 0;
        benchmark::DoNotOptimize(src_process(src, &data));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    src_delete(src);
}
BENCHMARK(BM_LibsamplerateLinear);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.Ns("BM_StreamResampler");
    const double theirs = reporter.Ns("BM_LibsamplerateLinear");
    if (ours > 0 && theirs > 0) {
        const double seconds = ours * 1e-9; // per 512-frame block
        std::printf("time ratio ours / libsamplerate SRC_LINEAR: %.3f\n", ours / theirs);
        std::printf("ours: %.1f x real time on one core (stereo, %d-frame blocks at %.0f Hz)\n",
                    kBlock / kInRate / seconds, kBlock, kInRate);
    }
    benchmark::Shutdown();
    return 0;
}
