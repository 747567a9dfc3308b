#pragma once
// Base of the dense and convolution layers: weights, biases and the
// activation applied to the output in place, with their shared loader and
// the kernel choice of their sums of products.
#include "nn/nn_activation_layer.h"
#include "nn/nn_dispatcher.h"
#include "nn/nn_kernels.h"
#include "nn/nn_layer.h"
#include "nn/nn_tensor.h"

#include <cstdint>
#include <iosfwd>
#include <memory>

namespace nn {

class WeightedLayer : public Layer {
public:
    // What a loader reads: the weights and biases records and the activation.
    struct Parts {
        Tensor weights;
        Tensor biases;
        std::unique_ptr<ActivationLayer> activation;
    };

    // parts.activation is not null. Public so that the layers can inherit it;
    // the class itself is abstract.
    explicit WeightedLayer(Parts&& parts);

protected:
    // The loader of layer T: a weights record of weightsRank dimensions, a
    // biases record of biasesRank dimensions and an activation record. The
    // biases must hold at least the product of the first biasesRank weights
    // dimensions (one bias per unit, filter or output step and filter).
    // Null after "Weights tensor parse failed", "Biases tensor parse failed",
    // "Activation layer parse failed" (each after the inner report) or
    // "Invalid biases tensor dims". [loading thread] allocates
    template <typename T>
    static std::unique_ptr<Layer> createAs(std::istream& stream, uint32_t weightsRank,
                                           uint32_t biasesRank) {
        Parts parts;
        if (!load(stream, weightsRank, biasesRank, parts)) return nullptr;
        return std::make_unique<T>(std::move(parts));
    }

    // Input checks shared by the weighted layers (with Layer::checkInputRank);
    // each reports and gives false:
    // "<message> (input dims: [..]) (weights dims: [..])".
    bool reportInputMismatch(const char* message, const Tensor& in) const;

    // False after "Output tensor too large" when an output of count elements
    // would leave the arithmetic's range.
    bool checkOutputSize(uint64_t count, const Tensor& in) const;

    // Calls multiplyAdd with the multiply-add kernel tag (ScalarMultiplyAdd,
    // VectorMultiplyAdd or Vector2MultiplyAdd) that chooseKernel picks for
    // inner length L on data's pool, then applies the activation to data.out
    // in place. Returns true, for apply to hand on.
    // [prediction thread] no allocation
    template <typename MultiplyAdd>
    bool multiplyAddThenActivate(int L, LayerData& data, const MultiplyAdd& multiplyAdd) const {
        nn::withKernel<ScalarMultiplyAdd, VectorMultiplyAdd, Vector2MultiplyAdd>(
            L, data.dispatcher.threadsCount(), multiplyAdd);
        activation_->apply(data.out);
        return true;
    }

    const Tensor weights_;
    const Tensor biases_;

private:
    static bool load(std::istream& stream, uint32_t weightsRank, uint32_t biasesRank, Parts& parts);

    const std::unique_ptr<ActivationLayer> activation_;
};

} // namespace nn
