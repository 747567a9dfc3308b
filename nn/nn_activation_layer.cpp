#include "nn/nn_activation_layer.h"

#include "nn/nn_parser.h"

#include <cmath>
#include <istream>
#include <math.h>
#include <pmmintrin.h>

namespace nn {

bool ActivationLayer::apply(LayerData& data) const {
    data.passThrough();
    apply(data.out);
    return true;
}

std::unique_ptr<ActivationLayer> ActivationLayer::create(std::istream& stream) {
    uint32_t id = 0;
    if (!Parser::read(stream, id)) {
        NN_ERROR("Activation ID parse failed");
        return nullptr;
    }
    switch (id) {
    case 1:
        return std::make_unique<LinearActivationLayer>();
    case 2:
        return std::make_unique<ReluActivationLayer>();
    case 3:
        return std::make_unique<EluActivationLayer>();
    case 4:
        return std::make_unique<SoftPlusActivationLayer>();
    case 5:
        return std::make_unique<SoftSignActivationLayer>();
    case 6:
        return std::make_unique<SigmoidActivationLayer>();
    case 7:
        return std::make_unique<TanhActivationLayer>();
    case 8:
        return std::make_unique<HardSigmoidActivationLayer>();
    case 9:
        return std::make_unique<SoftMaxActivationLayer>();
    default:
        NN_ERROR("Unknown activation layer ID: " << id);
        return nullptr;
    }
}

namespace {
// The SSE paths below take 4 elements per step when the count allows and
// compute exactly what the scalar loops compute.
bool useVector(const Tensor& t) {
    return t.size() % 4 == 0;
}
} // namespace

void LinearActivationLayer::apply(Tensor&) const {}

void ReluActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    const size_t n = t.size();
    if (useVector(t)) {
        // MAXPS(x, 0) is x > 0 ? x : 0, as below (NaN and -0 give +0).
        const __m128 zero = _mm_setzero_ps();
        for (size_t i = 0; i < n; i += 4)
            _mm_storeu_ps(x + i, _mm_max_ps(_mm_loadu_ps(x + i), zero));
        return;
    }
    for (size_t i = 0; i < n; ++i) x[i] = x[i] > 0.0f ? x[i] : 0.0f;
}

void EluActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    for (size_t i = 0, n = t.size(); i < n; ++i) x[i] = x[i] >= 0.0f ? x[i] : expm1f(x[i]);
}

void SoftPlusActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    for (size_t i = 0, n = t.size(); i < n; ++i) {
        const float e = expf(x[i]);
        // Beyond expf's range log1pf(e) would be +inf; softplus(x) is x there.
        x[i] = std::isinf(e) ? x[i] : log1pf(e);
    }
}

void SoftSignActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    const size_t n = t.size();
    if (useVector(t)) {
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 sign = _mm_set1_ps(-0.0f);
        for (size_t i = 0; i < n; i += 4) {
            const __m128 v = _mm_loadu_ps(x + i);
            _mm_storeu_ps(x + i, _mm_div_ps(v, _mm_add_ps(_mm_andnot_ps(sign, v), one)));
        }
        return;
    }
    for (size_t i = 0; i < n; ++i) x[i] = x[i] / (std::fabs(x[i]) + 1.0f);
}

void SigmoidActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    for (size_t i = 0, n = t.size(); i < n; ++i) {
        // expf of a non-positive argument never overflows.
        const float e = expf(-std::fabs(x[i]));
        x[i] = x[i] < 0.0f ? e / (e + 1.0f) : 1.0f / (e + 1.0f);
    }
}

void TanhActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    for (size_t i = 0, n = t.size(); i < n; ++i) x[i] = tanhf(x[i]);
}

void HardSigmoidActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    for (size_t i = 0, n = t.size(); i < n; ++i) {
        if (x[i] <= -2.5f)
            x[i] = 0.0f;
        else if (x[i] >= 2.5f)
            x[i] = 1.0f;
        else
            x[i] = x[i] * 0.2f + 0.5f;
    }
}

void SoftMaxActivationLayer::apply(Tensor& t) const {
    float* x = t.data();
    const size_t n = t.size();
    float sum = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        x[i] = expf(x[i]);
        sum = sum + x[i];
    }
    const float r = 1.0f / sum;
    if (useVector(t)) {
        const __m128 scale = _mm_set1_ps(r);
        for (size_t i = 0; i < n; i += 4)
            _mm_storeu_ps(x + i, _mm_mul_ps(_mm_loadu_ps(x + i), scale));
        return;
    }
    for (size_t i = 0; i < n; ++i) x[i] = x[i] * r;
}

} // namespace nn
