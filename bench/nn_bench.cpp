// One prediction of a network shaped like the mask models (batch
// normalisation on 1024 inputs, dense 1024->512 relu, 512->512 relu,
// 512->256 sigmoid) on a one-thread pool, as the plug-in runs it, beside the
// same three matrix-vector products done by OpenBLAS on one thread. Prints
// the time ratio ours / OpenBLAS at the end.
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

// The three dense layers with PyTorch's default initialisation range.
const std::vector<Dense>& denseLayers() {
    static const std::vector<Dense> layers = [] {
        std::mt19937 gen(7);
        std::vector<Dense> l;
        for (auto [units, inputs] : {std::pair{512, 1024}, {512, 512}, {256, 512}}) {
            std::uniform_real_distribution<float> u(-1.0f / std::sqrt(float(inputs)),
                                                    1.0f / std::sqrt(float(inputs)));
            Dense d{units, inputs, std::vector<float>(size_t(units) * inputs),
                    std::vector<float>(units)};
            for (float& v : d.w) v = u(gen);
            for (float& v : d.b) v = u(gen);
            l.push_back(std::move(d));
        }
        return l;
    }();
    return layers;
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

std::unique_ptr<nn::Model> maskModel() {
    Bytes m;
    m.u32(4);
    m.u32(12); // batch normalisation
    std::vector<float> scale(1024), offset(1024);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> u(0.5f, 1.5f);
    for (int i = 0; i < 1024; ++i) {
        scale[i] = u(gen);
        offset[i] = u(gen) - 1.0f;
    }
    m.u32(1024);
    m.floats(scale);
    m.u32(1024);
    m.floats(offset);
    const uint32_t activations[] = {2, 2, 6}; // relu, relu, sigmoid
    for (size_t n = 0; n < 3; ++n) {
        const Dense& d = denseLayers()[n];
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

void BM_NnMaskPrediction(benchmark::State& state) {
    const std::unique_ptr<nn::Model> model = maskModel();
    if (!model) {
        state.SkipWithError("model not built");
        return;
    }
    nn::Dispatcher pool(1);
    nn::PredictScratch scratch;
    nn::Tensor in(1024), out;
    const std::vector<float> x = randomInput(1024);
    std::memcpy(in.data(), x.data(), x.size() * sizeof(float));
    for (auto _ : state) {
        model->predict(in, out, pool, scratch);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_NnMaskPrediction)->Unit(benchmark::kMicrosecond);

void BM_OpenBlasThreeSgemv(benchmark::State& state) {
    openblas_set_num_threads(1);
    const std::vector<Dense>& layers = denseLayers();
    std::vector<float> a = randomInput(1024), b(512), c(512);
    std::vector<float>* io[3][2] = {{&a, &b}, {&b, &c}, {&c, &a}};
    for (auto _ : state) {
        for (int n = 0; n < 3; ++n) {
            const Dense& d = layers[n];
            std::vector<float>& y = *io[n][1];
            std::memcpy(y.data(), d.b.data(), d.b.size() * sizeof(float));
            cblas_sgemv(CblasRowMajor, CblasNoTrans, d.units, d.inputs, 1.0f, d.w.data(), d.inputs,
                        io[n][0]->data(), 1, 1.0f, y.data(), 1);
        }
        benchmark::DoNotOptimize(a.data());
    }
}
BENCHMARK(BM_OpenBlasThreeSgemv)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double ours = reporter.Ns("BM_NnMaskPrediction") / 1e3;
    const double blas = reporter.Ns("BM_OpenBlasThreeSgemv") / 1e3;
    if (ours > 0 && blas > 0)
        std::printf("mask prediction / OpenBLAS sgemv x3 (one thread): %.2f (%.1f us / %.1f us)\n",
                    ours / blas, ours, blas);
    return 0;
}
