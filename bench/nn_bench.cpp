// One prediction of a network shaped like the mask models (batch
// normalisation on 1024 inputs, dense 1024->512 relu, 512->512 relu,
// 512->256 sigmoid) on a one-thread pool, as the plug-in runs it, beside the
// same three matrix-vector products done by OpenBLAS on one thread. Each is
// run on one network over and over (its 3.7 MB of weights stay in the shared
// cache) and on four networks in turn, as the plug-in runs them every frame
// (14.7 MB, streamed from the shared cache or memory). Prints the time ratios
// ours / OpenBLAS at the end.
#include "bench/BenchTimes.h"
#include "nn/nn_dispatcher.h"
#include "nn/nn_model.h"
#include "nn/nn_predict_scratch.h"
#include "nn/nn_tensor.h"

#include <benchmark/benchmark.h>
#include <cblas.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct Dense {
    int units, inputs;
    std::vector<float> w, b;
};

// One network's parameters: the batch normalisation's scale and offset, then
// the three dense layers with PyTorch's default initialisation range.
struct Network {
    std::vector<float> scale, offset;
    std::vector<Dense> dense;
};

Network makeNetwork(unsigned seed) {
    std::mt19937 gen(7 + seed);
    Network net;
    std::uniform_real_distribution<float> u(0.5f, 1.5f);
    for (int i = 0; i < 1024; ++i) {
        net.scale.push_back(u(gen));
        net.offset.push_back(u(gen) - 1.0f);
    }
    for (auto [units, inputs] : {std::pair{512, 1024}, {512, 512}, {256, 512}}) {
        std::uniform_real_distribution<float> r(-1.0f / std::sqrt(float(inputs)),
                                                1.0f / std::sqrt(float(inputs)));
        Dense d{units, inputs, std::vector<float>(size_t(units) * inputs),
                std::vector<float>(units)};
        for (float& v : d.w) v = r(gen);
        for (float& v : d.b) v = r(gen);
        net.dense.push_back(std::move(d));
    }
    return net;
}

// The plug-in runs four such networks per frame: together 14.7 MB of
// weights, more than one core's caches hold, where one network (3.7 MB) stays
// in the shared cache when predicted over and over.
constexpr int kStems = 4;

const std::vector<Network>& networks() {
    static const std::vector<Network> nets = [] {
        std::vector<Network> n;
        for (unsigned s = 0; s < kStems; ++s) n.push_back(makeNetwork(s));
        return n;
    }();
    return nets;
}

std::vector<float> randomInput(size_t n) {
    std::mt19937 gen(11);
    std::normal_distribution<float> g;
    std::vector<float> v(n);
    for (float& x : v) x = g(gen);
    return v;
}

class Bytes {
public:
    void u32(uint32_t v) { bytes_.append(reinterpret_cast<const char*>(&v), 4); }
    void floats(const std::vector<float>& v) {
        bytes_.append(reinterpret_cast<const char*>(v.data()), v.size() * 4);
    }
    const std::string& str() const { return bytes_; }

private:
    std::string bytes_;
};

std::unique_ptr<nn::Model> maskModel(const Network& net) {
    Bytes m;
    m.u32(4);
    m.u32(12); // batch normalisation
    m.u32(1024);
    m.floats(net.scale);
    m.u32(1024);
    m.floats(net.offset);
    const uint32_t activations[] = {2, 2, 6}; // relu, relu, sigmoid
    for (size_t n = 0; n < 3; ++n) {
        const Dense& d = net.dense[n];
        m.u32(1);
        m.u32(uint32_t(d.units));
        m.u32(uint32_t(d.inputs));
        m.floats(d.w);
        m.u32(uint32_t(d.units));
        m.floats(d.b);
        m.u32(activations[n]);
    }
    return nn::Model::create(m.str().data(), m.str().size());
}

// `count` networks predicted in turn, one per iteration.
void BM_NnMaskPrediction(benchmark::State& state, int count) {
    std::vector<std::unique_ptr<nn::Model>> models;
    for (int k = 0; k < count; ++k) {
        models.push_back(maskModel(networks()[size_t(k)]));
        if (!models.back()) {
            state.SkipWithError("model not built");
            return;
        }
    }
    nn::Dispatcher pool(1);
    nn::PredictScratch scratch;
    nn::Tensor in(1024), out;
    const std::vector<float> x = randomInput(1024);
    std::memcpy(in.data(), x.data(), x.size() * sizeof(float));
    size_t next = 0;
    for (auto _ : state) {
        models[next]->predict(in, out, pool, scratch);
        next = (next + 1) % models.size();
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK_CAPTURE(BM_NnMaskPrediction, one, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_NnMaskPrediction, four, kStems)->Unit(benchmark::kMicrosecond);

// The same three products of `count` networks in turn; the batch
// normalisation and activations are left out (they cost little beside).
void BM_OpenBlasThreeSgemv(benchmark::State& state, int count) {
    openblas_set_num_threads(1);
    std::vector<float> a = randomInput(1024), b(512), c(512);
    std::vector<float>* io[3][2] = {{&a, &b}, {&b, &c}, {&c, &a}};
    size_t next = 0;
    for (auto _ : state) {
        const Network& net = networks()[next];
        next = (next + 1) % size_t(count);
        for (int n = 0; n < 3; ++n) {
            const Dense& d = net.dense[size_t(n)];
            std::vector<float>& y = *io[n][1];
            std::memcpy(y.data(), d.b.data(), d.b.size() * sizeof(float));
            cblas_sgemv(CblasRowMajor, CblasNoTrans, d.units, d.inputs, 1.0f, d.w.data(), d.inputs,
                        io[n][0]->data(), 1, 1.0f, y.data(), 1);
        }
        benchmark::DoNotOptimize(a.data());
    }
}
BENCHMARK_CAPTURE(BM_OpenBlasThreeSgemv, one, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OpenBlasThreeSgemv, four, kStems)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const char* count : {"one", "four"}) {
        const std::string suffix = std::string("/") + count;
        const double ours = reporter.Ns("BM_NnMaskPrediction" + suffix) / 1e3;
        const double blas = reporter.Ns("BM_OpenBlasThreeSgemv" + suffix) / 1e3;
        if (ours > 0 && blas > 0)
            std::printf("mask prediction / OpenBLAS sgemv x3 (one thread, %s network%s in turn): "
                        "%.2f (%.1f us / %.1f us)\n",
                        count, suffix == "/one" ? "" : "s", ours / blas, ours, blas);
    }
    return 0;
}
