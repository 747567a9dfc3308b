#pragma once
// Activations: in-place functions over every element of a tensor, applied by
// the weighted layers to their outputs and standing alone as layer ID 8.
// Activation record: one uint32 ID (1 linear .. 9 softmax).
#include "nn/nn_layer.h"

#include <iosfwd>
#include <memory>

namespace nn {

class ActivationLayer : public Layer {
public:
    // Hands data.in through to data.out and applies the activation there.
    // Never fails. [prediction thread] no allocation
    bool apply(LayerData& data) const override;
    // Transforms t in place. [prediction thread] no allocation
    virtual void apply(Tensor& t) const = 0;

    // Reads an activation record; null after "Activation ID parse failed" or
    // "Unknown activation layer ID: <id>". [loading thread]
    static std::unique_ptr<ActivationLayer> create(std::istream& stream);
};

// x
class LinearActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// max(x, 0), as x > 0 ? x : 0 (NaN and -0 give +0)
class ReluActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// x >= 0 ? x : expm1f(x) (alpha 1)
class EluActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// log1pf(expf(x)); x itself where expf(x) overflows
class SoftPlusActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// x / (|x| + 1)
class SoftSignActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// e = expf(-|x|): x < 0 ? e / (e + 1) : 1 / (e + 1)
class SigmoidActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// tanhf(x)
class TanhActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// 0 for x <= -2.5, 1 for x >= 2.5, else x * 0.2f + 0.5f
class HardSigmoidActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};
// expf of every element, then each times 1 / (their sum in element order);
// over all elements whatever the dims, no maximum subtracted.
class SoftMaxActivationLayer final : public ActivationLayer {
public:
    using ActivationLayer::apply;
    void apply(Tensor& t) const override;
};

} // namespace nn
