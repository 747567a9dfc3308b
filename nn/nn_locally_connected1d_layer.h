#pragma once
// nn::LocallyConnected1DLayer (layer ID 4): a 1-D convolution whose every
// output step has its own weights and biases, then the activation in place.
//   weights: (outSteps, filters, L = kernel * channels), biases: (outSteps, filters),
//   in: (outSteps + kernel - 1, channels) -> out: (outSteps, filters)
//   out[s][f] = biases[s][f] + S(the L floats from in[s][0], weights[s][f])
// kernel = L / channels of the input. S is the sum of products of the kernel
// that the engine's rule picks for L.
#include "nn/nn_weighted_layer.h"

#include <iosfwd>
#include <memory>

namespace nn {

class LocallyConnected1DLayer final : public WeightedLayer {
public:
    using WeightedLayer::WeightedLayer;

    // Payload: weights record (3 dims), biases record (2 dims), activation
    // record. Null after the loader's report; biases holding fewer than
    // outSteps * filters values are rejected. [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

    // Reports and returns false, out untouched, unless in is (steps,
    // channels) with channels dividing L and steps = outSteps + kernel - 1.
    // [prediction thread] no allocation once out has held the output's size
    bool apply(LayerData& data) const override;

private:
    template <typename Kernel>
    void multiplyAddImpl(const Tensor& weights, const Tensor& biases, LayerData& data) const;
};

} // namespace nn
