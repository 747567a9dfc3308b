// The whole separation chain at 44100 Hz stereo in 512-sample blocks, with
// four networks of the shipped shape (random weights, written by this
// benchmark) or, with --models=DIR, the model files of a resources folder
// (one holding "dummy.txt", such as plugin/resources), on one core. Prints the
// real-time factor: seconds of audio processed per second of CPU time.
#include "framework/IGraphicsFolder.h"
#include "plugin/MaskPredictor.h"
#include "tests/plugin/ModelFileWriter.h"
#include "tests/plugin/StemvoltaTestHost.h"
#include "tests/plugin/TestResources.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;

// The resources folder given with --models=DIR, null for random networks.
const char* gModelsDir = nullptr;

// One second of the test signal per channel, computed once: every partial
// completes whole cycles in a second, so the second loops without a seam,
// and the timed blocks only copy their input instead of paying for three
// sines per sample.
class TestSignal {
public:
    TestSignal() {
        const int n = static_cast<int>(kRate);
        for (int c = 0; c < 2; ++c) {
            mChannels[c].resize(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                const double x = static_cast<double>(i) / kRate;
                mChannels[c][static_cast<size_t>(i)] =
                    0.3 * std::sin(2 * M_PI * 220.0 * x + c) +
                    0.2 * std::sin(2 * M_PI * 3100.0 * x) +
                    0.1 * std::sin(2 * M_PI * 9000.0 * x * (1.0 + 0.01 * c));
            }
        }
    }
    void FillBlock(testmodels::HostBlock& host, long t) const {
        const long n = static_cast<long>(mChannels[0].size());
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < kBlock; ++i)
                host.in[c][i] = mChannels[c][static_cast<size_t>((t + i) % n)];
    }

private:
    std::vector<double> mChannels[2];
};

struct Chain {
    Chain() {
        if (gModelsDir) {
            plug = std::make_unique<testmodels::TestStemvolta>(new IGraphicsFolder(gModelsDir));
        } else {
            for (int k = 0; k < 4; ++k) resources.SetModel(k, testmodels::ShippedShapeModel(k + 1));
            plug = std::make_unique<testmodels::TestStemvolta>(resources.NewGraphics());
        }
        plug->Start(kRate, kBlock, 2);
        for (int b = 0; b < 20; ++b) Block(); // fill the latency
    }
    void Block() {
        signal.FillBlock(host, t);
        t += kBlock;
        host.Process(*plug);
    }
    testmodels::TestResources resources;
    TestSignal signal;
    std::unique_ptr<testmodels::TestStemvolta> plug;
    testmodels::HostBlock host{2, kBlock};
    long t = 0;

    // A folder without "dummy.txt" or the model files loads no networks, and
    // the chain then runs without them: far faster than the real thing.
    bool AllModelsLoaded() const {
        const MaskPredictor* predictor = plug->GetPredictor();
        if (!predictor) return false;
        for (int k = 0; k < MaskPredictor::kNumStems; ++k)
            if (!predictor->HasModel(k)) return false;
        return true;
    }
};

void BM_Chain44100Stereo(benchmark::State& state) {
    Chain chain;
    for (auto _ : state) {
        chain.Block();
        benchmark::DoNotOptimize(chain.host.out[0].data());
    }
    // CPU time per block against the block's duration.
    state.counters["audio_s"] =
        benchmark::Counter(static_cast<double>(kBlock) / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Chain44100Stereo)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

// The figure the target is stated in, measured directly over `seconds` of
// audio (60 unless --seconds=N is given; short runs serve profilers).
void PrintRealTimeFactor(double seconds) {
    Chain chain;
    const int blocks = static_cast<int>(seconds * kRate / kBlock);
    const std::clock_t start = std::clock();
    for (int b = 0; b < blocks; ++b) chain.Block();
    const double cpu = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    const double audio = blocks * static_cast<double>(kBlock) / kRate;
    std::printf("chain 44100 Hz stereo, 4 mask networks (%s): %.1f s of audio in %.2f s CPU: "
                "real-time factor %.1f (target >= 20)\n",
                gModelsDir ? gModelsDir : "random, shipped shape", audio, cpu, audio / cpu);
}

// Takes --seconds=N (60 without it) and --models=DIR out of the arguments.
double TakeOwnArguments(int& argc, char** argv) {
    double seconds = 60.0;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            seconds = std::max(1.0, std::atof(argv[i] + 10));
        else if (std::strncmp(argv[i], "--models=", 9) == 0)
            gModelsDir = argv[i] + 9;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = TakeOwnArguments(argc, argv);
    if (!Chain().AllModelsLoaded()) {
        std::fprintf(stderr, "chain_bench: %s holds no loadable dnn-model-source0..3.model "
                             "beside \"dummy.txt\"\n", gModelsDir ? gModelsDir : "(random)");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    PrintRealTimeFactor(seconds);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
