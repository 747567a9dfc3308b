// 2048-point complex forward + inverse transform: ours beside FFTW3 (planned
// with FFTW_MEASURE, in place) in the same run; prints the time ratio.
#include "bench/BenchTimes.h"
#include "toolkit/Fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 2048;

std::vector<ComplexValue> Input() {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<ComplexValue> x(kSize);
    for (ComplexValue& v : x) v = {u(rng), u(rng)};
    return x;
}

void BM_Ours(benchmark::State& state) {
    FftInit();
    std::vector<ComplexValue> x = Input();
    for (auto _ : state) {
        FftComplex(x.data(), kSize, 0);
        FftComplex(x.data(), kSize, 1);
        for (ComplexValue& v : x) v = {v.re * (1.0 / kSize), v.im * (1.0 / kSize)};
        benchmark::DoNotOptimize(x.data());
    }
}

void BM_Fftw(benchmark::State& state) {
    fftw_complex* x = fftw_alloc_complex(kSize);
    fftw_plan forward = fftw_plan_dft_1d(kSize, x, x, FFTW_FORWARD, FFTW_MEASURE);
    fftw_plan backward = fftw_plan_dft_1d(kSize, x, x, FFTW_BACKWARD, FFTW_MEASURE);
    const std::vector<ComplexValue> input = Input();
    for (int i = 0; i < kSize; ++i) {
        x[i][0] = input[i].re;
        x[i][1] = input[i].im;
    }
    for (auto _ : state) {
        fftw_execute(forward);
        fftw_execute(backward);
        for (int i = 0; i < kSize; ++i) {
            x[i][0] *= 1.0 / kSize;
            x[i][1] *= 1.0 / kSize;
        }
        benchmark::DoNotOptimize(x);
    }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    fftw_free(x);
}

BENCHMARK(BM_Ours)->MinTime(1.0);
BENCHMARK(BM_Fftw)->MinTime(1.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.Ns("BM_Ours"), fftw = reporter.Ns("BM_Fftw");
    if (ours > 0 && fftw > 0) {
        std::printf("2048-point complex forward+inverse: ours %.0f ns, FFTW %.0f ns, "
                    "ratio ours/FFTW %.2f (target <= 2.0)\n",
                    ours, fftw, ours / fftw);
    }
    benchmark::Shutdown();
    return 0;
}
