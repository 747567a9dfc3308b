// The stereo identity chain of the plug-in's STFT engine (2048-sample Hann
// frames, overlap 4) at 44100 Hz in 512-sample host blocks. Reports the
// real-time factor: seconds of audio processed per second of CPU on one core.
#include "toolkit/FftProcessObj16.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr int kBlock = 512;
constexpr double kRate = 44100.0;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

void BM_StereoIdentityChain(benchmark::State& state) {
    FftProcessObj16::Init();
    FftProcessObj16 engine({}, 2, 0, 2048, 4, kRate, 1);
    engine.SetAnalysisWindow(-1, 1);
    engine.SetSynthesisWindow(-1, 1);
    engine.SetKeepSynthesisEnergy(-1, false);

    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    FftProcessObj16::Buffers inputs(2), outputs(2);
    for (auto& in : inputs) {
        in.Resize(kBlock);
        for (int i = 0; i < kBlock; ++i) in[i] = u(rng);
    }
    for (int b = 0; b < 16; ++b) engine.Process(inputs, {}, &outputs); // past the latency

    int64_t blocks = 0;
    const double cpuStart = ThreadCpuSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.Process(inputs, {}, &outputs));
        ++blocks;
    }
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double audioSeconds = blocks * kBlock / kRate;
    state.counters["realtime_factor"] = cpu > 0 ? audioSeconds / cpu : 0.0;
    state.counters["audio_s"] = audioSeconds;
}

BENCHMARK(BM_StereoIdentityChain)->MinTime(2.0)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
